// Note values, pitches and clefs of binary score files.
#include <algorithm>
#include <array>
#include <limits>

#include "scorecore/bin_fields.h"

namespace scorecore {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

// Semitones of the scale degrees above the tonic.
constexpr std::array<std::int64_t, 7> kDegreeSemitones = {0, 2, 4, 5, 7, 9, 11};

// Floor division and non-negative remainder by a positive divisor: low staff
// positions give negative degree numbers, which must still pick a degree
// 0..6 and the octave below.
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

std::int64_t tonicOf(std::int32_t fifths) {
    const std::int64_t f = std::clamp(fifths, -7, 7);
    return (f * 7 + 60) % 12;  // f * 7 + 60 >= 11, never negative
}

// The undotted value of a base code, 0 when the code has none.
std::int64_t baseTicks(const BinDuration& d, std::int64_t q, std::int32_t ratio, std::int32_t tableValue,
                       std::int32_t factor) {
    switch (d.code) {
    case 0:
        if (ratio < 0) {
            if (tableValue <= 0 || factor <= 0) {
                return 0;
            }
            // |ratio| * 4q < 2^64: unsigned keeps it exact before the division.
            const std::uint64_t bar =
                static_cast<std::uint64_t>(-static_cast<std::int64_t>(ratio)) * 4u * static_cast<std::uint64_t>(q) /
                static_cast<std::uint64_t>(tableValue);
            if (bar > static_cast<std::uint64_t>(kInt32Max)) {
                return 0;
            }
            return static_cast<std::int64_t>(bar) * factor;
        }
        return 4 * q;
    case 1:
        return 2 * q;
    case 9:
        return 8 * q;
    default:
        return d.code <= 8 ? q / (std::int64_t{1} << (d.code - 2)) : 0;
    }
}

}  // namespace

bool scBinTupletRatio(std::int32_t count, bool tupletFlag, bool doubleFlag, std::int32_t* normal,
                      std::int32_t* actual) {
    if (count < 1 || count > 15) {
        return false;
    }
    std::int32_t n = 1;
    std::int32_t a = count;
    if (count > 1 && tupletFlag) {
        n = count <= 5 ? 3 : count <= 11 ? 6 : 12;
        if (count == 2) {
            a = 4;
        }
    } else if (count > 1) {
        n = count == 2 ? 1 : count == 3 ? 2 : count <= 7 ? 4 : 8;
    }
    if (doubleFlag) {
        n *= 2;
    }
    if (normal) {
        *normal = n;
    }
    if (actual) {
        *actual = a;
    }
    return true;
}

std::int32_t scBinDurationTicks(const BinDuration& duration, std::int32_t ticksPerQuarter, std::int32_t ratio,
                                std::int32_t tableValue, std::int32_t factor) {
    if (ticksPerQuarter <= 0 || duration.dots < 0 || duration.dots > kBinMaxDots) {
        return 0;
    }
    const std::int64_t base = baseTicks(duration, ticksPerQuarter, ratio, tableValue, factor);
    if (base <= 0 || base > kInt32Max) {
        return 0;
    }
    std::int64_t value = base;
    for (std::int32_t k = 1; k <= duration.dots; ++k) {
        value += base >> k;
    }
    if (duration.tupletCount != 0) {
        std::int32_t normal = 0;
        std::int32_t actual = 0;
        if (!scBinTupletRatio(duration.tupletCount, duration.tupletFlag, duration.tupletDouble, &normal, &actual)) {
            return 0;
        }
        value = value * normal / actual;
    }
    return value > kInt32Max ? 0 : static_cast<std::int32_t>(value);
}

std::int32_t scBinMidiPitch(std::int32_t clefType, std::int32_t octaveFlag, std::int32_t fifths, std::int32_t step) {
    std::int64_t e = static_cast<std::int64_t>(step) + (clefType == 1 ? 35 : clefType == 2 ? 28 : 42);
    if (octaveFlag == 0) {
        e += 7;
    } else if (octaveFlag == 2) {
        e -= 7;
    }
    const std::int64_t octave = floorDiv(e, 7);
    const std::int64_t degree = e - 7 * octave;
    const std::int64_t key = tonicOf(fifths) + kDegreeSemitones[static_cast<std::size_t>(degree)] + 12 * octave;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(key, 0, 127));
}

void scBinPitchToStep(std::int32_t midiKey, std::int32_t clefType, std::int32_t fifths, std::int32_t* step,
                      std::int32_t* alteration) {
    // Per semitone above the tonic: the scale degree and its alteration (a
    // semitone below a degree is that degree lowered).
    static constexpr std::array<std::int32_t, 12> kDegree = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
    static constexpr std::array<std::int32_t, 12> kAlter = {0, -1, 0, -1, 0, 0, -1, 0, -1, 0, -1, 0};
    const std::int64_t key = std::clamp(midiKey, 0, 127);
    const std::int64_t d = key - tonicOf(fifths);
    const std::int64_t octave = floorDiv(d, 12);
    const auto semis = static_cast<std::size_t>(d - 12 * octave);
    const std::int64_t e = 7 * octave + kDegree[semis];
    const std::int64_t refOctave = clefType == 1 ? 5 : clefType == 2 ? 4 : clefType > 3 ? key / 12 : 6;
    if (step) {
        *step = static_cast<std::int32_t>(e - 7 * refOctave);
    }
    if (alteration) {
        *alteration = kAlter[semis];
    }
}

BinClef scBinClefFromByte(std::uint8_t byte) {
    BinClef clef;
    clef.type = byte & 0x07;
    clef.octave = byte >> 6;
    const std::int32_t code = (byte >> 3) & 0x07;
    clef.line = code <= 3 ? 5 - code : 1;
    return clef;
}

std::uint8_t scBinClefToByte(const BinClef& clef) {
    const std::int32_t type = std::clamp(clef.type, 0, 4);
    const std::int32_t octave = std::clamp(clef.octave, 0, 2);
    const std::int32_t code = (clef.line >= 2 && clef.line <= 5) ? 5 - clef.line : 4;
    return static_cast<std::uint8_t>(type | (code << 3) | (octave << 6));
}

}  // namespace scorecore
