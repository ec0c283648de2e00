// Large orchestral MusicXML scores made to order, for the benchmarks and for
// tests of big files. The score has 36 parts (transposing instruments, a
// piano on two staves, a singer with lyrics, parts with two voices) and every
// element kind a real score of that size is full of: chords, ties (also on
// single notes of chords), triplets, slurs, dynamics, wedges, tempo changes,
// and 8-measure sections played twice with first and second endings.
//
// The output depends on the options only: the same options give the same
// bytes on every machine.
#pragma once

#include <cstdint>
#include <filesystem>

namespace scoreconv::testing {

// Parts in every generated score.
inline constexpr int kOrchestralParts = 36;

struct ScoreOptions {
    int measures = 16;  // measures of one pass of the music (a full section has 8)
    int repeat = 1;     // the same pass written this many times one after the other
};

// Writes the score to path and returns its size in bytes. The file appears
// whole or not at all: it is written next to path first, then renamed.
// Throws std::invalid_argument for measures or repeat below 1 and
// std::runtime_error when the file cannot be written.
std::uintmax_t writeOrchestralScore(const std::filesystem::path& path, const ScoreOptions& options);

}  // namespace scoreconv::testing
