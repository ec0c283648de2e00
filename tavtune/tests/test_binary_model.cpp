// The model builder of binary scores: staves, voices, notes, marks, repeats
// and endings of small scores built here, played by the one player, and
// damaged scores that must never crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "../../scoreconv/tests/fake_clock.h"
#include "../../scorecore/tests/bin_bytes.h"
#include "engine/binary_model.h"
#include "platform/midi_out.h"
#include "platform_testing/temp_folder.h"
#include "play/play_proc.h"
#include "scorecore/result_codes.h"

using namespace tavtune;
using namespace bintest;
using scorecore::CScoreEvent;
using scoreconv::testing::FakeClock;

namespace {

// --- binary score bytes ----------------------------------------------------------------

Bytes score(int tempo, std::initializer_list<Bytes> staves) {
    Bytes b = fileHeader().add(documentHead()).add(tagS(tempo, 1, 0));
    for (const Bytes& s : staves) b.add(s);
    return b;
}

Bytes stave(int number, std::initializer_list<Bytes> voices, int beats = 4, int unitByte = 3) {
    Bytes b = tagV(beats, unitByte, number);
    for (const Bytes& v : voices) b.add(v);
    return b;
}

Bytes voice(std::initializer_list<Bytes> elements) {
    Bytes b = tagC(static_cast<std::uint32_t>(elements.size()));
    for (const Bytes& e : elements) b.add(e);
    return b;
}

// Duration codes: 1 half, 2 quarter, 3 eighth, 0 whole.
Bytes note(int step, int code = 2, int alteration = 0) { return chord(1, Bytes().u8(code), {head(step, alteration)}); }
Bytes restOf(int code = 2) { return rest(Bytes().u8(code)); }
Bytes barline(int type) { return simpleElement(5, type); }
Bytes clef(int byte) { return simpleElement(2, byte); }
Bytes key(int fifths) { return simpleElement(3, fifths + 7); }
Bytes meterMark(int beats, int unitByte) { return elementStart(4).u8(beats).u8(unitByte); }

constexpr int kTrebleLike = 0x59;  // clef type 1, octave 1: step 0 is key 60

// --- structure-level music, for what the file's elements do not carry --------------------

BinRecord chordRecord(int step, int ticks = 480, std::uint8_t ending = 0) {
    BinRecord r;
    r.kind = kBinChord;
    r.ticks = ticks;
    r.heads = {{step, 0, 0}};
    r.ending = ending;
    return r;
}

BinRecord barRecord(int type) {
    BinRecord r;
    r.kind = kBinBarline;
    r.barline = type;
    return r;
}

BinMusic oneVoice(std::vector<BinRecord> records) {
    BinMusic m;
    BinSection& s = m.sections.emplace_back();
    s.tempo = 120;
    BinStaveEntry& e = s.staves.emplace_back();
    e.meter = {4, 2};
    e.voices.push_back({std::move(records)});
    return m;
}

// --- reading the model back ------------------------------------------------------------

struct Note {
    std::int32_t start = 0;
    std::int32_t duration = 0;
    std::vector<int> keys;
    bool operator==(const Note&) const = default;
};

void PrintTo(const Note& n, std::ostream* os) {
    *os << "{" << n.start << ", " << n.duration << ", [";
    for (int k : n.keys) *os << k << " ";
    *os << "]}";
}

std::vector<Note> notesOf(const scoreconv::PlayScore& s, int row, int voice) {
    std::vector<Note> out;
    for (const CScoreEvent& e : s.events.events(row, voice)) {
        Note n{e.start, e.duration, {}};
        for (int h = 0; h < e.headCount; ++h)
            n.keys.push_back(static_cast<int>((e.midi[static_cast<std::size_t>(h)] >> 8) & 0x7F));
        out.push_back(n);
    }
    return out;
}

// Start ticks of the notes of the first voice.
std::vector<int> firstKeys(const scoreconv::PlayScore& s) {
    std::vector<int> keys;
    for (const Note& n : notesOf(s, 0, 0)) keys.push_back(n.keys.at(0));
    return keys;
}


// Note-ons played in real time: (ms, key).
std::vector<std::pair<std::int64_t, int>> playNoteOns(scoreconv::PlayScore& s) {
    FakeClock clock;
    platform::CaptureMidiOut device([&clock] { return clock.now(); });
    s.midiOut = &device;
    s.controls.setPlayMode(scoreconv::kModeRealTime);
    std::int64_t playTime = -1;
    int state = -1;
    int result = -1;
    scoreconv::CPlayParams params;
    params.playTime = &playTime;
    params.state = &state;
    params.result = &result;
    scoreconv::CPlayEnvironment env;
    env.clock = &clock;
    EXPECT_EQ(scoreconv::runPlayPass(s, params, env), scorecore::kOk);
    s.midiOut = nullptr;
    std::vector<std::pair<std::int64_t, int>> ons;
    for (const auto& m : device.messages()) {
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        if ((m.packed & 0xF0) != 0x90 || ((m.packed >> 16) & 0x7F) == 0) continue;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m.time.time_since_epoch()).count();
        ons.emplace_back(ms, static_cast<int>((m.packed >> 8) & 0x7F));
    }
    return ons;
}

struct ShapeCase {
    const char* name;
    Bytes image;
    std::vector<std::int32_t> voiceCounts;
    // (row, voice, notes)
    std::vector<std::tuple<int, int, std::vector<Note>>> notes;
};

}  // namespace

// Staves, voices, pitches and ticks of small scores.
TEST(BinaryModelTest, StavesVoicesAndNotes) {
    const ShapeCase cases[] = {
        {"default clef is the one an octave up",
         score(120, {stave(0, {voice({note(0), note(2)})})}),
         {1},
         {{0, 0, {{0, 480, {72}}, {480, 480, {76}}}}}},
        {"clef and key before the first note",
         score(120, {stave(0, {voice({clef(kTrebleLike), key(1), note(0)})})}),
         {1},
         {{0, 0, {{0, 480, {67}}}}}},
        {"chord heads and alterations",
         score(
             120,
             {stave(0, {voice({clef(kTrebleLike), chord(1, Bytes().u8(1), {head(0, 0), head(2, 1), head(4, -1)})})})}),
         {1},
         {{0, 0, {{0, 960, {60, 65, 66}}}}}},
        {"a voice that starts with a rest keeps its note's time",
         score(120, {stave(0, {voice({note(0)}), voice({restOf(), restOf(3), note(0, 3)})}),
                     stave(1, {voice({note(0, 1)})})}),
         {2, 1},
         {{0, 0, {{0, 480, {72}}}}, {0, 1, {{720, 240, {72}}}}, {1, 0, {{0, 960, {72}}}}}},
        {"a clef stays with its stave into the next section; the next section starts when all voices end",
         score(120, {stave(0, {voice({clef(kTrebleLike), note(0)})}), stave(1, {voice({note(0, 1)})}),
                     stave(0, {voice({note(0)}), voice({note(1)})})}),
         {2, 1},
         {{0, 0, {{0, 480, {60}}, {960, 480, {60}}}}, {0, 1, {{960, 480, {62}}}}, {1, 0, {{0, 960, {72}}}}}},
        {"stave numbers map to rows in order",
         score(120, {stave(3, {voice({note(0)})}), stave(7, {voice({note(1)})})}),
         {1, 1},
         {{0, 0, {{0, 480, {72}}}}, {1, 0, {{0, 480, {74}}}}}},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        scoreconv::PlayScore s(480);
        ASSERT_EQ(buildBinaryModel(c.image.span(), s), scorecore::kOk);
        EXPECT_EQ(s.voiceCounts, c.voiceCounts);
        EXPECT_EQ(s.events.rowCount(), static_cast<int>(c.voiceCounts.size()) + 1);
        for (const auto& [row, v, expected] : c.notes) {
            EXPECT_EQ(notesOf(s, row, v), expected) << "row " << row << " voice " << v;
        }
    }
}

// Tempo (0 plays at 80), meters and pickups, checked through the measured
// play time of the one player.
TEST(BinaryModelTest, TempoMeterAndPickup) {
    struct Case {
        const char* name;
        Bytes image;
        std::int32_t tempo;
        bool pickup;
        std::int32_t missingTicks;
        std::int32_t missingBeats;
        std::int64_t playTime100ns;
    };
    const Case cases[] = {
        {"tempo 0 plays at 80", score(0, {stave(0, {voice({note(0, 0)})})}), 80, false, 0, 0, 30'000'000},
        {"tempo from the file", score(100, {stave(0, {voice({note(0, 0)})})}), 100, false, 0, 0, 24'000'000},
        {"a quarter before the first barline is a pickup",
         score(120, {stave(0, {voice({note(0), barline(0), note(0, 0), barline(0)})})}), 120, true, 1440, 3,
         25'000'000},
        {"a full first bar is none", score(120, {stave(0, {voice({note(0, 0), barline(0), note(0)})})}), 120, false, 0,
         0, 25'000'000},
        {"3/8: an eighth is missing two beats",
         score(120, {stave(0, {voice({note(0, 3), barline(0), note(0, 3)})}, 3, 4)}), 120, true, 480, 2, 5'000'000},
        {"a meter with no ticks per beat is not taken",
         score(120, {stave(0, {voice({note(0), barline(0), note(0)})}, 4, 13)}), 120, true, 1440, 3, 10'000'000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scoreconv::PlayScore s(480);
        BinModelInfo info;
        ASSERT_EQ(buildBinaryModel(c.image.span(), s, &info), scorecore::kOk);
        EXPECT_EQ(info.tempo, c.tempo);
        EXPECT_EQ(info.pickup, c.pickup);
        EXPECT_EQ(info.missingTicks, c.missingTicks);
        EXPECT_EQ(info.missingBeats, c.missingBeats);
        std::int64_t playTime = 0;
        ASSERT_EQ(scoreconv::measurePlayTime(s, &playTime), scorecore::kOk);
        EXPECT_EQ(playTime, c.playTime100ns);
    }
}

// The score-wide row holds the tempo, the time signatures at the ticks they
// change and the key of the first voice.
TEST(BinaryModelTest, ScoreWideMarks) {
    const Bytes image = score(90, {stave(0, {voice({key(-2), note(0, 1), barline(0), meterMark(3, 3), note(0, 1)})})});
    scoreconv::PlayScore s(480);
    ASSERT_EQ(buildBinaryModel(image.span(), s), scorecore::kOk);
    const int g = s.events.globalRow();
    std::vector<std::tuple<std::uint32_t, int, int>> marks;  // kind, tick, value
    for (const CScoreEvent& e : s.events.events(g, 0)) {
        if (e.isKind(scorecore::kKindTempo))
            marks.emplace_back(scorecore::kKindTempo, e.start, scoreconv::eventTempo(e));
        if (e.isKind(scorecore::kKindTimeSig)) marks.emplace_back(scorecore::kKindTimeSig, e.start, e.meterBeats);
        if (e.isKind(scorecore::kKindKeySig))
            marks.emplace_back(scorecore::kKindKeySig, e.start, scoreconv::eventKeyFifths(e));
    }
    std::sort(marks.begin(), marks.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<1>(a), std::get<0>(a)) < std::tie(std::get<1>(b), std::get<0>(b));
    });
    const std::vector<std::tuple<std::uint32_t, int, int>> expected = {{scorecore::kKindTempo, 0, 90},
                                                                       {scorecore::kKindTimeSig, 0, 4},
                                                                       {scorecore::kKindKeySig, 0, -2},
                                                                       {scorecore::kKindTimeSig, 960, 3}};
    EXPECT_EQ(marks, expected);
}

// Repeats are walked twice and play through the one player as written out.
TEST(BinaryModelTest, RepeatsPlayTwice) {
    const Bytes image = score(120, {stave(0, {voice({clef(kTrebleLike), note(0), barline(kBinRepeatStart), note(1),
                                                     note(2), barline(kBinRepeatEnd), note(3)})})});
    scoreconv::PlayScore s(480);
    ASSERT_EQ(buildBinaryModel(image.span(), s), scorecore::kOk);
    EXPECT_EQ(firstKeys(s), (std::vector<int>{60, 62, 64, 62, 64, 65}));
    const std::vector<std::pair<std::int64_t, int>> expected = {{0, 60},    {500, 62},  {1000, 64},
                                                                {1500, 62}, {2000, 64}, {2500, 65}};
    EXPECT_EQ(playNoteOns(s), expected);
}

// First endings: played on the first pass, left out (taking no time) on the
// second; repeats that close without a start go back to the section start.
TEST(BinaryModelTest, FirstEndingsAndRepeatForms) {
    struct Case {
        const char* name;
        std::vector<BinRecord> records;
        std::vector<int> keys;
        std::vector<std::int32_t> starts;
    };
    const Case cases[] = {
        {"first ending left out on the second pass",
         {barRecord(kBinRepeatStart), chordRecord(0), chordRecord(1, 480, 1), barRecord(kBinRepeatEnd), chordRecord(2)},
         {72, 74, 72, 76},
         {0, 480, 960, 1440}},
        {"a two-note first ending",
         {barRecord(kBinRepeatStart), chordRecord(0), chordRecord(1, 240, 1), chordRecord(3, 240, 1),
          barRecord(kBinRepeatEnd), chordRecord(2)},
         {72, 74, 77, 72, 76},
         {0, 480, 720, 960, 1440}},
        {"a repeat end without a start repeats from the beginning",
         {chordRecord(0), barRecord(kBinRepeatEnd), chordRecord(1)},
         {72, 72, 74},
         {0, 480, 960}},
        {"a second repeat end repeats from the one before",
         {barRecord(kBinRepeatStart), chordRecord(0), barRecord(kBinRepeatEndStart), chordRecord(1),
          barRecord(kBinRepeatEnd)},
         {72, 72, 74, 74},
         {0, 480, 960, 1440}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scoreconv::PlayScore s(480);
        ASSERT_EQ(buildBinaryModel(oneVoice(c.records), s), scorecore::kOk);
        EXPECT_EQ(firstKeys(s), c.keys);
        std::vector<std::int32_t> starts;
        for (const Note& n : notesOf(s, 0, 0)) starts.push_back(n.start);
        EXPECT_EQ(starts, c.starts);
    }
}

// A first ending placed after its repeat end jumps back to itself for ever:
// the step budget ends the walk with an error and the loaded score stays.
TEST(BinaryModelTest, StepBudgetEndsABrokenRepeat) {
    scoreconv::PlayScore s(480);
    ASSERT_EQ(buildBinaryModel(oneVoice({chordRecord(0), chordRecord(1)}), s), scorecore::kOk);
    const BinMusic broken = oneVoice({barRecord(kBinRepeatStart), chordRecord(0, 480, 1), barRecord(kBinRepeatEnd),
                                      chordRecord(2, 480, 1), chordRecord(3)});
    BinModelInfo info;
    EXPECT_EQ(buildBinaryModel(broken, s, &info), kErrBadScore);
    EXPECT_GT(info.steps, 0);
    EXPECT_EQ(firstKeys(s), (std::vector<int>{72, 74}));

    // A budget that a good score needs more of than given is also an error.
    BinModelOptions tight;
    tight.stepBudget = 2;
    EXPECT_EQ(buildBinaryModel(oneVoice({chordRecord(0), chordRecord(1), chordRecord(2)}), s, nullptr, tight),
              kErrBadScore);
    EXPECT_EQ(firstKeys(s), (std::vector<int>{72, 74}));
}

// Bad scores give a code and leave the loaded score as it was.
TEST(BinaryModelTest, BadScoresAreRefused) {
    BinRecord badClef;
    badClef.kind = kBinClef;
    badClef.clef.type = 5;
    BinRecord badKind;
    badKind.kind = 8;
    BinMusic tooManyVoices = oneVoice({chordRecord(0)});
    tooManyVoices.sections[0].staves[0].voices.resize(kBinMaxVoices + 1);
    struct Case {
        const char* name;
        BinMusic music;
        int result;
    };
    const Case cases[] = {
        {"no staves", BinMusic{}, kErrBadScore},
        {"clef kind out of range", oneVoice({badClef, chordRecord(0)}), kErrBadScore},
        {"clef out of range mid-voice", oneVoice({chordRecord(0), badClef}), kErrBadScore},
        {"barline type out of range", oneVoice({chordRecord(0), barRecord(6)}), kErrBadScore},
        {"record kind out of range", oneVoice({chordRecord(0), badKind}), kErrBadScore},
        {"more voices than slots", tooManyVoices, kErrBadScore},
        {"longer than 32-bit ticks", oneVoice({chordRecord(0, 2'147'000'000), chordRecord(1, 4'800'000)}),
         kErrBadScore},
    };
    scoreconv::PlayScore s(480);
    ASSERT_EQ(buildBinaryModel(oneVoice({chordRecord(4)}), s), scorecore::kOk);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(buildBinaryModel(c.music, s), c.result);
        EXPECT_EQ(firstKeys(s), (std::vector<int>{79}));
    }
    const Bytes sevenVoices =
        score(120, {stave(0, {voice({note(0)}), voice({note(0)}), voice({note(0)}), voice({note(0)}), voice({note(0)}),
                              voice({note(0)}), voice({note(0)})})});
    EXPECT_EQ(buildBinaryModel(sevenVoices.span(), s), kErrBadScore);
    EXPECT_EQ(buildBinaryModel(minimalScore().span(), s), kErrBadScore);
    EXPECT_EQ(buildBinaryModel(Bytes().raw("tvr4").span(), s), scorecore::kErrUnknownFormat);
    EXPECT_EQ(firstKeys(s), (std::vector<int>{79}));
}

TEST(BinaryModelTest, FromFile) {
    platform::testing::TempFolder folder;
    const Bytes image = score(120, {stave(0, {voice({note(0), note(1)})})});
    const auto path = folder.path() / "piece.tvr";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data().data()), static_cast<std::streamsize>(image.size()));
    }
    scoreconv::PlayScore s(480);
    EXPECT_EQ(buildBinaryModelFile(folder.path() / "missing.tvr", s), scorecore::kErrCannotOpen);
    ASSERT_EQ(buildBinaryModelFile(path, s), scorecore::kOk);
    EXPECT_EQ(firstKeys(s), (std::vector<int>{72, 74}));
    EXPECT_EQ(s.fnScanned, path.string());
}

// Truncated and damaged copies of a score with repeats, several staves and
// sections: never a crash (the sanitizer build checks), always a code, and
// an accepted model measures.
TEST(BinaryModelTest, DamagedScoresNeverCrash) {
    const Bytes good = score(120, {stave(0, {voice({clef(kTrebleLike), key(2), note(0), barline(kBinRepeatStart),
                                                    note(1), barline(kBinRepeatEnd), meterMark(3, 3), note(2, 1)}),
                                             voice({restOf(), note(4), barline(4), note(5), barline(3)})}),
                                   stave(1, {voice({note(0, 0), barline(5), note(1, 0)})}),
                                   stave(0, {voice({note(3), barline(0), note(2)})})});
    std::vector<std::vector<std::uint8_t>> images;
    for (std::size_t n = 0; n <= good.size(); ++n)
        images.emplace_back(good.data().begin(), good.data().begin() + static_cast<std::ptrdiff_t>(n));
    std::mt19937 rng(0x62696eu);
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> m = good.data();
        for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k)
            m[rng() % m.size()] = static_cast<std::uint8_t>(rng());
        images.push_back(std::move(m));
    }
    int accepted = 0;
    for (const auto& image : images) {
        scoreconv::PlayScore s(480);
        const int rc = buildBinaryModel(image, s);
        ASSERT_TRUE(rc == scorecore::kOk || rc == scorecore::kErrUnknownFormat || rc == kErrBadScore) << rc;
        if (rc != scorecore::kOk) continue;
        ++accepted;
        std::int64_t playTime = 0;
        ASSERT_EQ(scoreconv::measurePlayTime(s, &playTime), scorecore::kOk);
    }
    EXPECT_GT(accepted, 1);
}

