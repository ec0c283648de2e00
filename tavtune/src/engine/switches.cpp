// The engine's play switches.
#include "engine/switches.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

#include "play/play_model.h"

namespace tavtune {
namespace {

constexpr std::array<const char*, 8> kDynamicKeys{"fff", "ff", "f", "mf", "mp", "p", "pp", "ppp"};
constexpr const char* kTrillSpeedKey = "Speed";
constexpr std::array<const char*, 7> kArticulationKeys{"Staccato",     "Staccatissimo", "Tenuto",   "StrongAccent",
                                                       "NormalAccent", "StrongBeat",    "WeakBeat"};

// A whole decimal number, blanks around it allowed.
bool number(std::string_view text, int& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc{} && r.ptr == text.data() + text.size();
}

bool sameKey(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// "length,velocity" of an articulation row, each brought into its range.
bool articulationValue(int row, std::string_view value, int& cut, int& velocity) {
    const std::size_t comma = value.find(',');
    if (comma == std::string_view::npos || !number(value.substr(0, comma), cut) ||
        !number(value.substr(comma + 1), velocity)) {
        return false;
    }
    cut = std::clamp(cut, -100, 100);
    // Rows 0-2 raise the velocity by a percentage; the others hold it (0: the note's own).
    velocity = row < scoreconv::CArticulation::kFirstVelocityRow ? std::clamp(velocity, -100, 127)
                                                                   : std::clamp(velocity, 0, 127);
    return true;
}

constexpr int kTrillSpeedLow = 1;
constexpr int kTrillSpeedHigh = 64;

template <std::size_t N>
int keyIndex(const std::array<const char*, N>& keys, std::string_view key) {
    for (std::size_t i = 0; i < N; ++i) {
        if (sameKey(key, keys[i])) return static_cast<int>(i);
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
        lines.emplace_back(kTrillSpeedKey, "8");
    }
    return lines;
}

int takeSwitches(Engine& engine, int kind, const SwitchLines& lines) {
    if (!isSwitchKind(kind)) return 0;
    SwitchLines& held = engine.switches(kind);
    if (held.empty()) held = defaultSwitches(kind);
    const auto put = [&held](std::string_view key, std::string value) {
        for (auto& [k, v] : held) {
            if (sameKey(k, key)) {
                v = std::move(value);
                return;
            }
        }
    };
    int taken = 0;
    for (const auto& [key, value] : lines) {
        int a = 0;
        int b = 0;
        if (kind == kSwitchDynamics) {
            const int row = keyIndex(kDynamicKeys, key);
            if (row < 0 || !number(value, a)) continue;
            put(kDynamicKeys[static_cast<std::size_t>(row)], std::to_string(std::clamp(a, 1, 127)));
        } else if (kind == kSwitchArticulation) {
            const int row = keyIndex(kArticulationKeys, key);
            if (row < 0 || !articulationValue(row, value, a, b)) continue;
            put(kArticulationKeys[static_cast<std::size_t>(row)], std::to_string(a) + "," + std::to_string(b));
        } else {
            if (!sameKey(key, kTrillSpeedKey) || !number(value, a)) continue;
            put(kTrillSpeedKey, std::to_string(std::clamp(a, kTrillSpeedLow, kTrillSpeedHigh)));
        }
        ++taken;
    }
    return taken;
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
        int cut = 0;
        int velocity = 0;
        if (row < 0 || !articulationValue(row, value, cut, velocity)) continue;
        scoreconv::CArticulationRow& r = model.articulation.rows[static_cast<std::size_t>(row)];
        r.noteCut = static_cast<std::int8_t>(cut);
        r.velocity = static_cast<std::int8_t>(velocity);
    }
}

void applySwitchOptions(const Engine& engine, scoreconv::PlayScore& model) {
    std::uint64_t conditions = model.controls.playConditions();
    const auto set = [&conditions](bool on, std::uint64_t bit) { conditions = on ? conditions | bit : conditions & ~bit; };
    set((engine.options & TAVTUNE_OPTION_DYNAMICS) != 0, scoreconv::kCondDynamics);
    set((engine.options & TAVTUNE_OPTION_SWING) != 0, scoreconv::kCondArticulations | scoreconv::kCondSwing);
    model.controls.setPlayConditions(conditions);
}

}  // namespace tavtune
