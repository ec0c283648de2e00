// The engine's play switches.
#include "engine/switches.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "play/play_model.h"

namespace tavtune {
namespace {

constexpr std::array<const char*, 8> kDynamicKeys{"fff", "ff", "f", "mf", "mp", "p", "pp", "ppp"};
constexpr std::array<const char*, 7> kArticulationKeys{"Staccato",     "Staccatissimo", "Tenuto",   "StrongAccent",
                                                       "NormalAccent", "StrongBeat",    "WeakBeat"};

bool number(std::string_view text, int& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc{};
}

template <std::size_t N>
int keyIndex(const std::array<const char*, N>& keys, std::string_view key) {
    for (std::size_t i = 0; i < N; ++i) {
        if (key == keys[i]) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

bool isSwitchKind(int kind) {
    return kind == kSwitchDynamics || kind == kSwitchArticulation || kind == kSwitchTrills;
}

SwitchLines defaultSwitches(int kind) {
    SwitchLines lines;
    if (kind == kSwitchDynamics) {
        const scorecore::CDynamik table;
        for (std::size_t i = 0; i < kDynamicKeys.size(); ++i) {
            lines.emplace_back(kDynamicKeys[i], std::to_string(table.rows[i].velocity));
        }
    } else if (kind == kSwitchArticulation) {
        const scoreconv::CArticulation table;
        for (std::size_t i = 0; i < kArticulationKeys.size(); ++i) {
            lines.emplace_back(kArticulationKeys[i],
                               std::to_string(table.rows[i].noteCut) + "," + std::to_string(table.rows[i].velocity));
        }
    } else if (kind == kSwitchTrills) {
        lines.emplace_back("Speed", "8");
    }
    return lines;
}

void applySwitches(Engine& engine, scoreconv::PlayScore& model) {
    for (const auto& [key, value] : engine.switches(kSwitchDynamics)) {
        int velocity = 0;
        const int row = keyIndex(kDynamicKeys, key);
        if (row >= 0 && number(value, velocity)) {
            model.dynamik.rows[static_cast<std::size_t>(row)].velocity = static_cast<std::uint8_t>(std::clamp(velocity, 1, 127));
        }
    }
    for (const auto& [key, value] : engine.switches(kSwitchArticulation)) {
        const int row = keyIndex(kArticulationKeys, key);
        const std::size_t comma = value.find(',');
        int cut = 0;
        int velocity = 0;
        if (row < 0 || comma == std::string::npos || !number(std::string_view(value).substr(0, comma), cut) ||
            !number(std::string_view(value).substr(comma + 1), velocity)) {
            continue;
        }
        scoreconv::CArticulationRow& r = model.articulation.rows[static_cast<std::size_t>(row)];
        r.noteCut = static_cast<std::int8_t>(std::clamp(cut, -100, 100));
        r.velocity = static_cast<std::int8_t>(std::clamp(velocity, 0, 127));
    }
}

void applySwitchOptions(const Engine& engine, scoreconv::PlayScore& model) {
    std::uint64_t conditions = model.controls.playConditions();
    const auto set = [&conditions](bool on, std::uint64_t bit) { conditions = on ? conditions | bit : conditions & ~bit; };
    set((engine.options & TAVTUNE_OPTION_DYNAMICS) != 0, scoreconv::kCondDynamics);
    set((engine.options & TAVTUNE_OPTION_ARTICULATION) != 0, scoreconv::kCondArticulations);
    model.controls.setPlayConditions(conditions);
}

}  // namespace tavtune
