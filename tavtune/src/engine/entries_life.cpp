// Entry points of the engine's life, its options and the host's settings.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/engine.h"
#include "engine/entries.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// Start-up after loading (C112 with the host's instance value, then C105) and
// shut-down before unloading (C106): a new host starts from a clean engine.
template <>
tvWord entry<105>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

template <>
tvWord entry<106>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.close();
    e.modifiedWindow = nullptr;
    e.progressWindow = nullptr;
    return 0;
}

template <>
tvWord entry<112>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

// The host's resolution and play-mode settings at start: nothing depends on them.
template <>
tvWord entry<122>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

template <>
tvWord entry<186>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

// C170(1, buffer, size): the instrument-table name.
template <>
tvWord entry<170>(tvWord, tvWord buffer, tvWord size, tvWord, tvWord, tvWord) {
    char* out = pointerArg<char>(buffer);
    if (out == nullptr || size <= 0) return TAVTUNE_NOT_HANDLED;
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    const std::size_t n = std::min(e.tableName.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(out, e.tableName.data(), n);
    out[n] = '\0';
    return 0;
}

// C178(name): selects the instrument table.
template <>
tvWord entry<178>(tvWord name, tvWord, tvWord, tvWord, tvWord, tvWord) {
    const char* text = pointerArg<const char>(name);
    if (text == nullptr) return TAVTUNE_NOT_HANDLED;
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.tableName = text;
    return 0;
}

// C130(window, message): who hears that the engine's settings changed.
template <>
tvWord entry<130>(tvWord window, tvWord message, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.modifiedWindow = pointerArg<platform::MessageTarget>(window);
    e.modifiedMessage = static_cast<platform::MessageId>(message);
    return 0;
}

// C136(window, message, 0): who hears of render progress.
template <>
tvWord entry<136>(tvWord window, tvWord message, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.progressWindow = pointerArg<platform::MessageTarget>(window);
    e.progressMessage = static_cast<platform::MessageId>(message);
    return 0;
}

template <>
tvWord entry<63>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    return static_cast<tvWord>(e.options);
}

// C92(option, value): value == option switches it on, TAVTUNE_OPTION_OFF off
// (C92(TAVTUNE_OPTION_OFF, TAVTUNE_OPTION_OFF) switches that option on).
template <>
tvWord entry<92>(tvWord option, tvWord value, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    const auto bits = static_cast<std::uint32_t>(option);
    if (value == option) {
        e.options |= bits;
    } else if (value == TAVTUNE_OPTION_OFF) {
        e.options &= ~bits;
    } else {
        return TAVTUNE_NOT_HANDLED;
    }
    return 0;
}

}  // namespace tavtune
