// Entry points of the open score: opening and closing it, its description,
// staves and voices, and the settings of its voices.
#include <mutex>

#include "engine/engine.h"
#include "engine/entries.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

}  // namespace

// C176(path, 0, window, message, codeBase, voices).
template <>
tvWord entry<176>(tvWord path, tvWord, tvWord window, tvWord message, tvWord codeBase, tvWord voices) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    return e.open(pointerArg<const char>(path), pointerArg<platform::MessageTarget>(window),
                  static_cast<platform::MessageId>(message), static_cast<int>(codeBase),
                  pointerArg<const tvVoiceRecord>(voices));
}

// C101(0, 0, flags): closes the open score.
template <>
tvWord entry<101>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.close();
    return 0;
}

// C41(): the end of a score's use, after C101; nothing is left to do.
template <>
tvWord entry<41>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

template <>
tvWord entry<143>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore([](OpenScore& s, Engine&) { return reinterpret_cast<tvWord>(s.description()); }, 0);
}

template <>
tvWord entry<145>(tvWord stave, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore(
        [stave](OpenScore& s, Engine&) { return reinterpret_cast<tvWord>(s.stave(static_cast<int>(stave))); }, 0);
}

template <>
tvWord entry<131>(tvWord stave, tvWord index, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore(
        [=](OpenScore& s, Engine&) {
            return reinterpret_cast<tvWord>(s.voice(static_cast<int>(stave), static_cast<int>(index)));
        },
        0);
}

template <>
tvWord entry<146>(tvWord stave, tvWord voice, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore(
        [=](OpenScore& s, Engine&) {
            return reinterpret_cast<tvWord>(s.notes(static_cast<int>(stave), static_cast<int>(voice)));
        },
        0);
}

// C124(record, -1): fills the record for the stave and voice it names.
template <>
tvWord entry<124>(tvWord record, tvWord, tvWord, tvWord, tvWord, tvWord) {
    auto* r = pointerArg<tvVoiceRecord>(record);
    if (r == nullptr || r->size != sizeof(tvVoiceRecord)) return TAVTUNE_NOT_HANDLED;
    return onOpenScore([r](OpenScore& s, Engine&) { return s.readVoice(*r) ? 0 : TAVTUNE_NOT_HANDLED; });
}

// C125(record, -1): takes the record's set fields.
template <>
tvWord entry<125>(tvWord record, tvWord, tvWord, tvWord, tvWord, tvWord) {
    const auto* r = pointerArg<const tvVoiceRecord>(record);
    if (r == nullptr || r->size != sizeof(tvVoiceRecord)) return TAVTUNE_NOT_HANDLED;
    return onOpenScore([r](OpenScore& s, Engine&) { return s.writeVoice(*r) ? 0 : TAVTUNE_NOT_HANDLED; });
}

// C87(semitones): transposes every pitched voice.
template <>
tvWord entry<87>(tvWord semitones, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore([semitones](OpenScore& s, Engine&) {
        s.transpose(static_cast<int>(semitones));
        return 0;
    });
}

}  // namespace tavtune
