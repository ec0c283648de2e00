// The play model of a binary score: the score's sections are walked once
// through time, voice by voice, with repeats and first endings followed, and
// every note lands in the format-neutral play model at the tick it is played,
// so that the one player of scoreconv plays, measures and renders it. Repeats
// are unrolled here: the score-wide row holds tempo, time and key marks only.
//
// The body of a binary score has no section tag of its own: a section is a
// run of stave entries ('V') with rising stave numbers (the entry's byte
// value); an entry whose number is not above the one before starts the next
// section. Every section plays at the file's tempo (the 'S' value), 80 when
// the file gives none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "play/play_score.h"
#include "scorecore/bin_fields.h"
#include "scorecore/bin_score.h"

namespace tavtune {

// A record, section header or count out of range, or a walk over its budget.
inline constexpr int kErrBadScore = -1000;

// Voice slots per stave: a stave entry with more voices is refused.
inline constexpr std::int32_t kBinMaxVoices = 6;
// The tempo of a section that gives none.
inline constexpr std::int32_t kBinDefaultTempo = 80;

// Record kinds of a voice.
inline constexpr std::uint8_t kBinRest = 0;
inline constexpr std::uint8_t kBinChord = 1;
inline constexpr std::uint8_t kBinClef = 2;
inline constexpr std::uint8_t kBinKey = 3;
inline constexpr std::uint8_t kBinTime = 4;
inline constexpr std::uint8_t kBinBarline = 5;
inline constexpr std::uint8_t kBinOtherNote = 7;

// Barline types that start and end a repeat.
inline constexpr std::int32_t kBinRepeatStart = 4;
inline constexpr std::int32_t kBinRepeatEnd = 3;
inline constexpr std::int32_t kBinRepeatEndStart = 5;

struct BinRecord {
    std::uint8_t kind = kBinRest;
    std::int32_t ticks = 0;                      // rest, chord: 480 per quarter
    std::int32_t velocity = 0;                   // chord: 1..127, else the default
    std::vector<scorecore::BinScoreHead> heads;  // chord: step and alteration are used
    scorecore::BinClef clef;                     // clef
    std::int32_t fifths = 0;                     // key
    scorecore::BinMeter meter;                   // time signature
    std::int32_t barline = 0;                    // barline type
    std::uint8_t ending = 0;                     // 1: the record lies in a first ending
};

struct BinVoice {
    std::vector<BinRecord> records;
};

struct BinStaveEntry {
    std::int32_t stave = 0;  // the stave's number, 0..255
    scorecore::BinMeter meter;
    std::vector<BinVoice> voices;
};

struct BinSection {
    std::int32_t tempo = 0;  // 0 or less: kBinDefaultTempo
    std::vector<BinStaveEntry> staves;
};

struct BinMusic {
    std::vector<BinSection> sections;
};

// Splits a walked file into sections (see above).
BinMusic binMusicFromSummary(const scorecore::BinScoreSummary& summary);

// What the walk learnt besides the model.
struct BinModelInfo {
    std::int32_t tempo = 0;         // of the first section
    bool pickup = false;            // the first bar is incomplete
    std::int32_t missingTicks = 0;  // of the first bar
    std::int32_t missingBeats = 0;
    std::int32_t endTick = 0;  // where the last section ends
    std::int64_t steps = 0;    // rounds the walk took
};

struct BinModelOptions {
    // Rounds after which a walk is given up (kErrBadScore); 0: from the
    // number of records and repeat barlines, enough for any well-formed score.
    std::int64_t stepBudget = 0;
};

// Walks the music and, on success only, replaces the score of `score` with
// it (staves, one instrument per voice, voices, events, score-wide marks,
// play state). 0, kErrBadScore or kErrOutOfMemory; on an error `score` is
// left as it was.
int buildBinaryModel(const BinMusic& music, scoreconv::PlayScore& score, BinModelInfo* info = nullptr,
                     const BinModelOptions& options = {});

// The same from a file image: also kErrUnknownFormat when it is no binary score.
int buildBinaryModel(std::span<const std::uint8_t> image, scoreconv::PlayScore& score, BinModelInfo* info = nullptr,
                     const BinModelOptions& options = {});

// The same from a file: also kErrCannotOpen.
int buildBinaryModelFile(const std::filesystem::path& path, scoreconv::PlayScore& score, BinModelInfo* info = nullptr,
                         const BinModelOptions& options = {});

}  // namespace tavtune

