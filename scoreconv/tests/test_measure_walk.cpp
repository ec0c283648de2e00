// The measure walk and the play model it builds: one small score per
// feature, the files of the public MusicXML test suite, progress and stop,
// and mutated scores that must never break the loader.
#include "musicxml/measure_walk.h"

#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "play/play_passes.h"
#include "walk_test_support.h"

namespace scoreconv::testing {
namespace {

using scorecore::CScoreEvent;
using scorecore::kOk;

// The fixture loaded through getProps and the walk; fails the test when it
// does not load.
struct Loaded {
    explicit Loaded(std::string_view name, int32_t mode = kModeRealTime, bool suite = false) : f(mode) {
        rc = loadScore(f, suite ? suiteFile(name) : fixture(name));
        EXPECT_EQ(rc, kOk) << name;
    }
    CMxmlFile& file() { return *f.file; }
    LoggedFile f;
    int rc = 0;
};

const CScoreEvent* firstNote(const CMxmlFile& file, int32_t staff, int32_t voice, int32_t start) {
    for (const CScoreEvent& e : file.events.events(staff, voice)) {
        if (e.isKind(scorecore::kKindNote) && e.start == start) return &e;
    }
    return nullptr;
}

// "tick:kind" of the barline and ending marks of the score-wide row.
std::vector<std::string> barlines(const CMxmlFile& file) {
    std::vector<std::string> out;
    for (const CScoreEvent* e : globals(file, kKindRepeatMark | kKindFirstEnding)) {
        char kind[16];
        std::snprintf(kind, sizeof kind, "%x", e->kind);
        out.push_back(std::to_string(e->start) + ":" + kind);
    }
    return out;
}

TEST(MeasureWalk, NotesAndRestsKeepTime) {
    Loaded score("walk_notes_rests.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(file.rowCount, 2);
    EXPECT_EQ(file.voiceCounts, std::vector<int32_t>{1});
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+480:60", "960+960:64", "3840+720:68", "4560+240:70"}));
    // The trailing rest is held by a silent event up to the last bar line.
    const CScoreEvent& last = file.events.events(0, 0).back();
    EXPECT_TRUE(last.isKind(kKindSelfTimed));
    EXPECT_EQ(last.start, 4800);
    EXPECT_EQ(last.duration, 960);
    EXPECT_EQ(noteChannel(file, 0, 0), 0);
    EXPECT_EQ(tempos(file), std::vector<std::string>{"0:120"});
    EXPECT_EQ(barlines(file), std::vector<std::string>{"5760:200000"});
    ASSERT_EQ(globals(file, scorecore::kKindTimeSig).size(), 1u);
    EXPECT_EQ(globals(file, scorecore::kKindTimeSig)[0]->meterBeats, 4);
    EXPECT_EQ(globals(file, scorecore::kKindTimeSig)[0]->meterUnit, 2);
    EXPECT_EQ(file.fnScanned, fixture("walk_notes_rests.xml").string());
    EXPECT_TRUE(score.f.logged("errorcode success"));
}

TEST(MeasureWalk, ChordNotesJoinTheirEventEvenAcrossADirection) {
    Loaded score("walk_chords.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+960:60,64,67", "960+480:62", "1440+480:65,69"}));
    // The direction's mark waits for the next note that starts an event.
    EXPECT_EQ(firstNote(file, 0, 0, 0)->dynamic.code, 0);
    EXPECT_EQ(firstNote(file, 0, 0, 960)->dynamic.code, 44);
    EXPECT_TRUE(firstNote(file, 0, 0, 0)->isKind(scorecore::kKindChord));
}

TEST(MeasureWalk, VoicesFollowTheirIdsAndEmptyVoicesAreDropped) {
    Loaded score("walk_voices.xml");
    const CMxmlFile& file = score.file();
    // Part 1: voice 3 holds only rests; part 2: no id is voice 1, "X" and "Y"
    // take free numbers, and "40" is no voice of the part.
    EXPECT_EQ(file.voiceCounts, (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+960:72", "960+960:74", "1920+1920:76"}));
    EXPECT_EQ(notes(file, 0, 1), (std::vector<std::string>{"2400+1440:69"}));
    EXPECT_EQ(notes(file, 1, 0), (std::vector<std::string>{"0+1920:52"}));
    EXPECT_EQ(notes(file, 1, 1), (std::vector<std::string>{"0+1920:67", "1920+1920:69"}));
    EXPECT_EQ(notes(file, 1, 2), (std::vector<std::string>{"0+1920:60", "1920+1920:65"}));
    EXPECT_EQ(file.onOff.voiceCount(1), 3);
    EXPECT_EQ(file.voiceMix.userVolume(1, 2), kDefaultVolume);
    EXPECT_EQ(file.voiceMix.userPan(1, 2), kDefaultPan);
}

TEST(MeasureWalk, PianoVoicesStayOnTheirStaff) {
    Loaded score("walk_piano.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(file.voiceCounts, (std::vector<int32_t>{1, 1}));
    // Voice 1 crosses to the lower staff for a note and stays one stream;
    // the note on staff 7 is not stored but keeps time.
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+480:76", "480+480:74", "960+480:55", "1440+1440:72"}));
    EXPECT_EQ(notes(file, 1, 0), (std::vector<std::string>{"0+1440:48", "1440+1440:48"}));
    EXPECT_EQ(noteChannel(file, 0, 0), 0);
    EXPECT_EQ(noteChannel(file, 1, 0), 0);
}

TEST(MeasureWalk, PartsGetTheirStavesAndChannels) {
    Loaded score("walk_parts.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(file.rowCount, 5);
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+960:77", "960+960:81"}));
    EXPECT_EQ(notes(file, 1, 0), (std::vector<std::string>{"0+960:72", "960+960:74"}));
    EXPECT_EQ(notes(file, 2, 0), (std::vector<std::string>{"0+960:41", "960+960:48"}));
    // The part the part list does not declare comes after the declared ones.
    EXPECT_EQ(notes(file, 3, 0), (std::vector<std::string>{"0+960:60"}));
    EXPECT_EQ(noteChannel(file, 0, 0), 0);
    EXPECT_EQ(noteChannel(file, 1, 0), 1);
    EXPECT_EQ(noteChannel(file, 2, 0), 2);  // no channel in the file: planned
    EXPECT_EQ(noteChannel(file, 3, 0), 3);
    EXPECT_EQ(file.instruments.midiProgram(2, 0, false), 42);
    EXPECT_TRUE(score.f.logged("\"Ghost\""));
    // The first part to give a tempo for a moment sets it.
    EXPECT_EQ(tempos(file), std::vector<std::string>{"0:72"});
    const auto keys = globals(file, scorecore::kKindKeySig);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(eventKeyFifths(*keys[0]), -1);
}

TEST(MeasureWalk, TranspositionIsTheOneInForceAtEachNote) {
    Loaded score("walk_transpose.xml");
    const CMxmlFile& file = score.file();
    // Written D5 on a B flat clarinet, then on an A clarinet.
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+1920:72", "1920+1920:71"}));
    // The horn repeats its transposition: it is not added up.
    EXPECT_EQ(notes(file, 1, 0), (std::vector<std::string>{"0+1920:60", "1920+1920:60"}));
}

TEST(MeasureWalk, PercussionNotesPlayTheirInstruments) {
    Loaded score("walk_percussion.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+480:128", "480+480:129,128", "960+960:64"}));
    EXPECT_EQ(noteChannel(file, 0, 0), kDrumChannel);
    EXPECT_EQ(file.instruments.percussionKey(0, 128), 35);
    EXPECT_EQ(file.instruments.percussionKey(0, 129), 38);
    // A note without instrument plays an instrument named by its key.
    EXPECT_EQ(file.instruments.percussionKey(0, 64), 64);
    // The high tom is never played and goes; the played ones stay.
    ASSERT_EQ(file.instruments.count(0), 3);
    for (const CMidiInstr& instrument : file.instruments.list(0)) {
        EXPECT_NE(instrument.InstrumentId, "P1-I50");
        EXPECT_EQ(instrument.UserProgram, CMidiInstr::kUnset);
    }
    EXPECT_EQ(notes(file, 1, 0), std::vector<std::string>{"0+1920:40"});
    EXPECT_EQ(noteChannel(file, 1, 0), 1);
}

TEST(MeasureWalk, TiedNotesBecomeOneEvent) {
    Loaded score("walk_ties.xml");
    // Three tied G4 make one; the G4 after the chain starts again; a tied chord ties as one.
    EXPECT_EQ(notes(score.file(), 0, 0), (std::vector<std::string>{"0+2400:67", "2400+480:67", "2880+960:72,76"}));
}

TEST(MeasureWalk, TupletsAndDivisionsThatDoNotDivideTheQuarter) {
    Loaded score("walk_tuplets.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0),
              (std::vector<std::string>{"0+160:72", "160+160:74", "320+160:76", "480+480:77", "960+69:72",
                                        "1029+68:74", "1097+69:76", "1166+68:77", "1234+69:79", "1303+68:81",
                                        "1371+69:83", "1440+480:84"}));
    const CScoreEvent* first = firstNote(file, 0, 0, 0);
    EXPECT_EQ(first->tupletCount, 3);
    EXPECT_EQ(first->tupletNormal, 2);
    EXPECT_EQ(first->bracketNumber, 3);
    EXPECT_EQ(first->bracketOrientation, 1);
}

TEST(MeasureWalk, GraceNotesTakeTimeFromTheNoteAfterThem) {
    Loaded score("walk_grace.xml");
    const CMxmlFile& file = score.file();
    // A slashed grace takes a 32nd; two 16th graces half their value each;
    // a grace with no note after it stays a grace.
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+30:71g", "30+450:72", "480+60:76", "540+60:77",
                                                            "600+840:74", "1440+480:72", "1920+0:79g"}));
}

TEST(MeasureWalk, RepeatsAndEndingsMarkTheScoreWideRow) {
    Loaded score("walk_repeats.xml");
    EXPECT_EQ(barlines(score.file()), (std::vector<std::string>{"1920:2000c0", "3840:400", "5760:200140", "5760:400",
                                                                "9600:200000"}));
    const auto marks = globals(score.file(), kKindFirstEnding);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0]->barline.endingLabel, "1");
    EXPECT_EQ(marks[1]->barline.endingLabel, "2");
}

TEST(MeasureWalk, TemposDynamicsAndWedges) {
    Loaded score("walk_directions.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(tempos(file), (std::vector<std::string>{"0:97", "2880:80", "3840:60"}));
    EXPECT_EQ(file.cursor.tempo, 60);
    EXPECT_EQ(firstNote(file, 0, 0, 0)->dynamic.code, 44);
    EXPECT_EQ(firstNote(file, 0, 0, 1440)->dynamic.code, 90);
    EXPECT_EQ(firstNote(file, 0, 0, 1920)->dynamic.code, -3);
    // The crescendo from p to f: a volume step every sixteenth from its start to its stop.
    std::vector<int32_t> ticks;
    for (const CScoreEvent& e : file.events.events(0, 0)) {
        CRampStep step;
        if (!rampStepOf(e, step)) continue;
        ticks.push_back(e.start);
        EXPECT_EQ(step.startLevel, 44);
        EXPECT_EQ(step.target, 90);
        EXPECT_EQ(step.steps, 8);
        EXPECT_FALSE(e.hasWedge(scorecore::kWedgeStop));
    }
    EXPECT_EQ(ticks, (std::vector<int32_t>{480, 600, 720, 840, 960, 1080, 1200, 1440}));
    // After the sfz accent the level falls back 24 time steps later.
    std::vector<const CScoreEvent*> releases;
    for (const CScoreEvent& e : file.events.events(0, 0)) {
        if (e.isKind(kKindDynamicMark)) releases.push_back(&e);
    }
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0]->start, 2280);
    EXPECT_EQ(releases[0]->dynamic.code, -7);
    // Every voice stays in time order.
    const auto list = file.events.events(0, 0);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                               [](const CScoreEvent& a, const CScoreEvent& b) { return a.start < b.start; }));
}

TEST(MeasureWalk, LyricsStayOnTheirNotes) {
    Loaded score("walk_lyrics.xml");
    const CMxmlFile& file = score.file();
    const CScoreEvent* first = firstNote(file, 0, 0, 0);
    ASSERT_EQ(first->lyricCount(), 2);
    EXPECT_EQ(first->lyrics[0].number, 2);
    EXPECT_EQ(first->lyrics[0].text, "Hal");
    EXPECT_EQ(first->lyrics[1].number, 1);
    EXPECT_EQ(first->lyrics[1].text, "Sun");
    EXPECT_EQ(firstNote(file, 0, 0, 480)->lyrics[0].extender, 1);
    EXPECT_EQ(firstNote(file, 0, 0, 960)->lyricCount(), 0);
    EXPECT_EQ(firstNote(file, 0, 0, 1440)->lyrics[0].number, 1);
}

TEST(MeasureWalk, KeyTimeAndClefChanges) {
    Loaded score("walk_changes.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+960:45", "960+960:57", "1920+1920:50", "3840+1440:52",
                                                            "5280+1440:53"}));
    std::vector<std::string> marks;
    for (const CScoreEvent* e : globals(file, scorecore::kKindTimeSig | scorecore::kKindKeySig)) {
        if (e->isKind(scorecore::kKindTimeSig)) {
            marks.push_back(std::to_string(e->start) + " time " + std::to_string(e->meterBeats) + "/" +
                            std::to_string(1 << e->meterUnit));
        } else {
            marks.push_back(std::to_string(e->start) + " key " + std::to_string(eventKeyFifths(*e)) +
                            (eventKeyMajor(*e) ? " major" : " minor"));
        }
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"0 time 4/4", "0 key 0 minor", "1920 key 2 major", "3840 time 3/4",
                                               "5280 time 6/8"}));
}

TEST(MeasureWalk, AnUpbeatLiesBeforeTheFirstBar) {
    Loaded score("walk_upbeat.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"-480+480:67", "0+960:72", "960+480:76", "1440+960:74"}));
    ASSERT_EQ(globals(file, scorecore::kKindTimeSig).size(), 1u);
    EXPECT_EQ(globals(file, scorecore::kKindTimeSig)[0]->start, 0);
    // The last measure completes the upbeat: the score ends after its two beats.
    EXPECT_EQ(barlines(file), std::vector<std::string>{"2400:200000"});
}

TEST(MeasureWalk, TimewiseScoresAreReadAfterTheirTransform) {
    Loaded score("walk_timewise.xml");
    const CMxmlFile& file = score.file();
    EXPECT_EQ(notes(file, 0, 0), (std::vector<std::string>{"0+960:81", "960+960:79"}));
    EXPECT_EQ(notes(file, 1, 0), (std::vector<std::string>{"0+480:45", "480+480:52", "960+960:50"}));
}

TEST(MeasureWalk, MeasureRepeatsWrittenAsRestsPlayTheBarBefore) {
    Loaded score("walk_measure_repeat.xml");
    // Without divisions a duration counts quarters. Measures 2 and 3 repeat
    // measure 1; measure 5 has its notes written out and plays only those.
    EXPECT_EQ(notes(score.file(), 0, 0),
              (std::vector<std::string>{"0+480:64", "480+480:67", "960+480:64", "1440+480:67", "1920+480:64",
                                        "2400+480:67", "2880+960:69", "3840+960:69", "4800+960:71"}));
}

TEST(MeasureWalk, ProgressCountsMeasuresOfAllParts) {
    platform::RecordingMessageTarget target;
    platform::MessageTarget* window = &target;
    LoggedFile f;
    f.file->setCallbackWindow(&window, false);
    ASSERT_EQ(loadScore(f, fixture("walk_voices.xml")), kOk);
    std::vector<std::pair<platform::WParam, platform::LParam>> seen;
    for (const auto& m : target.messages()) seen.emplace_back(m.wParam, m.lParam);
    EXPECT_EQ(seen, (std::vector<std::pair<platform::WParam, platform::LParam>>{
                        {kProgressTotal, 4}, {kProgressDone, 1}, {kProgressDone, 2}, {kProgressDone, 3},
                        {kProgressDone, 4}}));
}

TEST(MeasureWalk, AStopRequestEndsTheLoadAndEmptiesTheFile) {
    LoggedFile f;
    f.signal = 1;
    f.file->controls.setPlayMode(kModeRender);
    EXPECT_EQ(loadScore(f, fixture("walk_voices.xml")), scorecore::kErrStopped);
    EXPECT_FALSE(f.file->isLoaded());
    EXPECT_EQ(f.file->rowCount, 0);
    EXPECT_EQ(f.file->playModeNow(), kModeRender);
    EXPECT_TRUE(f.logged("errorcode fail"));
}

TEST(MeasureWalk, LoadAndPlayModeLeavesThePerVoiceDefaults) {
    Loaded score("walk_parts.xml", kModeLoadAndPlay);
    const CMxmlFile& file = score.file();
    EXPECT_EQ(file.playModeNow(), kModeLoadAndPlay);
    EXPECT_EQ(file.voiceCounts, (std::vector<int32_t>{1, 1, 1, 1}));
    EXPECT_EQ(file.onOff.staffCount(), 4);
    EXPECT_EQ(file.cursor.voiceCounts.size(), 0u);
    EXPECT_EQ(file.instruments.at(2, 0)->Channel, CMidiInstr::kUnset);
}

TEST(MeasureWalk, TextFragmentsLoadThroughThePartListReader) {
    LoggedFile f;
    ASSERT_EQ(loadText(f, "<score-partwise><part-list><score-part id='P1'/></part-list><part id='P1'><measure>"
                          "<note><pitch><step>A</step><octave>4</octave></pitch><duration>1</duration></note>"
                          "</measure></part></score-partwise>"),
              kOk);
    EXPECT_EQ(notes(*f.file, 0, 0), std::vector<std::string>{"0+480:69"});
    // No staves: nothing to build, and no failure.
    LoggedFile empty;
    EXPECT_EQ(loadText(empty, "<score-partwise><part-list/></score-partwise>"), kOk);
    EXPECT_EQ(empty.file->events.rowCount(), 0);
}

// --- the public test suite -----------------------------------------------------------------

std::vector<int64_t> noteEnds(const CMxmlFile& file, int32_t staff, int32_t voice) {
    std::vector<int64_t> ends;
    for (const CScoreEvent& e : file.events.events(staff, voice)) {
        if (e.isKind(scorecore::kKindNote)) ends.push_back(static_cast<int64_t>(e.start) + e.duration);
    }
    return ends;
}

TEST(MeasureWalkSuite, RhythmDurationsFillEveryBarExactly) {
    Loaded score("03a-Rhythm-Durations.xml", kModeRealTime, true);
    const CMxmlFile& file = score.file();
    // Two bars each of 16/2, 24/2 and 28/2, every one filled from maxima to 1024th.
    const std::vector<int64_t> bars = {0, 15360, 30720, 53760, 76800, 103680, 130560};
    std::vector<int64_t> starts;
    for (const CScoreEvent& e : file.events.events(0, 0)) {
        if (e.isKind(scorecore::kKindNote)) starts.push_back(e.start);
    }
    const std::vector<int64_t> ends = noteEnds(file, 0, 0);
    for (std::size_t b = 0; b + 1 < bars.size(); ++b) {
        EXPECT_NE(std::find(starts.begin(), starts.end(), bars[b]), starts.end()) << "bar " << b + 1;
        EXPECT_NE(std::find(ends.begin(), ends.end(), bars[b + 1]), ends.end()) << "bar " << b + 1;
    }
    for (std::size_t i = 0; i + 1 < starts.size(); ++i) EXPECT_EQ(ends[i], starts[i + 1]) << i;
    EXPECT_EQ(ends.back(), 130560);
    EXPECT_EQ(barlines(file), std::vector<std::string>{"130560:200000"});
}

TEST(MeasureWalkSuite, BackupToTheSecondBeat) {
    Loaded score("03b-Rhythm-Backup.xml", kModeRealTime, true);
    const CMxmlFile& file = score.file();
    // Three beats in a 4/4 bar make an upbeat; voice 2 starts a beat after voice 1.
    const auto one = file.events.events(0, 0);
    const auto two = file.events.events(0, 1);
    ASSERT_GE(one.size(), 2u);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(one[1].start - one[0].start, 480);
    EXPECT_EQ(two[0].start - one[0].start, 480);
    EXPECT_EQ(two[1].start - one[0].start, 960);
}

TEST(MeasureWalkSuite, DivisionChangesInsideMeasures) {
    Loaded score("03c-Rhythm-DivisionChange.xml", kModeRealTime, true);
    EXPECT_EQ(notes(score.file(), 0, 0), (std::vector<std::string>{"0+480:72", "480+480:72", "960+480:72", "1440+480:72",
                                                                   "1920+960:72", "2880+960:72"}));
}

TEST(MeasureWalkSuite, ChordsAndTuplets) {
    Loaded chord("21a-Chord-Basic.xml", kModeRealTime, true);
    const auto chordNotes = notes(chord.file(), 0, 0);
    ASSERT_EQ(chordNotes.size(), 1u);
    EXPECT_NE(chordNotes[0].find(":69,65"), std::string::npos);

    Loaded tuplets("23a-Tuplets.xml", kModeRealTime, true);
    const CMxmlFile& file = tuplets.file();
    // The 7:3 tuplet: seven notes that together last three eighths.
    int count = 0;
    int64_t sum = 0;
    for (const CScoreEvent& e : file.events.events(0, 0)) {
        if (e.isKind(scorecore::kKindNote) && e.start >= 4320 && e.start < 5760) {
            ++count;
            sum += e.duration;
        }
    }
    EXPECT_EQ(count, 7);
    EXPECT_EQ(sum, 1440);
    EXPECT_EQ(noteEnds(file, 0, 0).back(), 6720);
}

TEST(MeasureWalkSuite, GraceNotesSoundBeforeTheirNote) {
    Loaded score("24a-GraceNotes.xml", kModeRealTime, true);
    const auto list = score.file().events.events(0, 0);
    // Fourteen grace notes: all but the last, which stands before a rest, take time.
    int silent = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].isKind(scorecore::kKindNote) && list[i].duration == 0) ++silent;
        if (i + 1 < list.size()) {
            EXPECT_LE(static_cast<int64_t>(list[i].start) + list[i].duration, list[i + 1].start) << i;
        }
    }
    EXPECT_EQ(silent, 1);
    // A quarter grace takes half of the quarter after it; two take half of it together.
    const auto all = notes(score.file(), 0, 0);
    ASSERT_GE(all.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(all.end() - 6, all.end()),
              (std::vector<std::string>{"4320+240:75", "4560+240:72", "4800+120:73", "4920+120:68", "5040+240:72",
                                        "5280+0:74g"}));
}

TEST(MeasureWalkSuite, TwoVoicesOnAStaffAndAPianoStaff) {
    Loaded voices("42a-MultiVoice-TwoVoicesOnStaff-Lyrics.xml", kModeRealTime, true);
    EXPECT_EQ(voices.file().voiceCounts, std::vector<int32_t>{2});
    EXPECT_EQ(noteEnds(voices.file(), 0, 0), noteEnds(voices.file(), 0, 1));
    EXPECT_GT(firstNote(voices.file(), 0, 0, 0)->lyricCount(), 0);

    Loaded piano("43a-PianoStaff.xml", kModeRealTime, true);
    EXPECT_EQ(notes(piano.file(), 0, 0), std::vector<std::string>{"0+1920:65"});
    EXPECT_EQ(notes(piano.file(), 1, 0), std::vector<std::string>{"0+1920:47"});
}

TEST(MeasureWalkSuite, RepeatsAndAlternativeEndings) {
    Loaded simple("45a-SimpleRepeat.xml", kModeRealTime, true);
    EXPECT_EQ(barlines(simple.file()), (std::vector<std::string>{"1920:200140", "3840:200000"}));
    EXPECT_EQ(simple.file().voiceCounts, std::vector<int32_t>{0});  // only rests

    Loaded endings("45b-RepeatWithAlternatives.xml", kModeRealTime, true);
    EXPECT_EQ(barlines(endings.file()),
              (std::vector<std::string>{"1920:400", "3840:200140", "3840:400", "7680:200000"}));
}

TEST(MeasureWalkSuite, TransposingInstrumentsSoundTheSame) {
    Loaded score("72a-TransposingInstruments.xml", kModeRealTime, true);
    const CMxmlFile& file = score.file();
    ASSERT_EQ(file.voiceCounts.size(), 3u);
    const auto concert = notes(file, 0, 0);
    EXPECT_EQ(concert.size(), 8u);
    EXPECT_EQ(notes(file, 1, 0), concert);
    EXPECT_EQ(notes(file, 2, 0), concert);
}

TEST(MeasureWalkSuite, EveryFileLoadsInTimeOrder) {
    for (const auto& entry : std::filesystem::directory_iterator(suiteFile(""))) {
        if (entry.path().extension() != ".xml") continue;
        LoggedFile f;
        ASSERT_EQ(loadScore(f, entry.path()), kOk) << entry.path();
        const CMxmlFile& file = *f.file;
        for (int32_t s = 0; s < file.events.rowCount(); ++s) {
            for (int32_t v = 0; v < file.events.voiceCount(s); ++v) {
                const auto list = file.events.events(s, v);
                EXPECT_TRUE(std::is_sorted(list.begin(), list.end(), [](const CScoreEvent& a, const CScoreEvent& b) {
                    return a.start < b.start;
                })) << entry.path() << " staff " << s << " voice " << v;
            }
        }
    }
}

// --- mutated scores --------------------------------------------------------------------

// Changes a well-formed score at random places: texts and attributes become
// numbers and words no score should hold, elements go, are doubled or moved.
class Mutator {
public:
    explicit Mutator(uint32_t seed) : random_(seed) {}

    std::string mutate(std::string_view xml, int changes) {
        scorecore::XmlDocument doc;
        if (scorecore::xmldomParseMemory(xml, doc) != kOk) return std::string(xml);
        for (int i = 0; i < changes; ++i) {
            std::vector<xmlNodePtr> nodes;
            collect(doc.root(), nodes);
            if (nodes.size() < 2) break;
            change(nodes[pick(nodes.size() - 1) + 1], nodes[pick(nodes.size())]);
        }
        std::string out;
        EXPECT_EQ(scorecore::xmldomSaveToString(doc, out), kOk);
        return out;
    }

private:
    static void collect(xmlNodePtr node, std::vector<xmlNodePtr>& out) {
        for (xmlNodePtr c = node; c != nullptr; c = c->next) {
            if (c->type != XML_ELEMENT_NODE) continue;
            out.push_back(c);
            collect(c->children, out);
        }
    }

    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

    const char* value() {
        static const char* const values[] = {"0", "-1", "1", "2", "33", "-2147483648", "4294967297", "1e308", "-1e308",
                                             "0.5", "nan", "inf", "", " ", "x", "X", "9999999", "3+", "+", "1.5e-300",
                                             "start", "stop", "backward", "forward", "yes", "no", "below", "inverted"};
        return values[pick(std::size(values))];
    }

    void change(xmlNodePtr node, xmlNodePtr other) {
        const auto text = reinterpret_cast<const xmlChar*>(value());
        switch (pick(6)) {
            case 0:
                if (node->children == nullptr || node->children->type == XML_TEXT_NODE) xmlNodeSetContent(node, text);
                break;
            case 1: {
                static const char* const names[] = {"number", "type", "id", "location", "direction", "print-object",
                                                     "tempo", "slash", "placement", "size", "measure", "implicit"};
                xmlSetProp(node, reinterpret_cast<const xmlChar*>(names[pick(std::size(names))]), text);
                break;
            }
            case 2:
                xmlUnlinkNode(node);
                xmlFreeNode(node);
                break;
            case 3:
                if (xmlNodePtr copy = xmlCopyNode(node, 1)) {
                    if (xmlAddNextSibling(node, copy) == nullptr) xmlFreeNode(copy);
                }
                break;
            case 4:
                // Moves an element into another one that is not inside it.
                for (xmlNodePtr up = other; up != nullptr; up = up->parent) {
                    if (up == node) return;
                }
                xmlUnlinkNode(node);
                xmlAddChild(other, node);
                break;
            default: {
                static const char* const extras[] = {"<chord/>", "<grace/>", "<backup><duration>9</duration></backup>",
                                                     "<rest/>", "<tie type='start'/>", "<staff>2</staff>"};
                scorecore::XmlDocument fragment;
                if (scorecore::xmldomParseMemory(extras[pick(std::size(extras))], fragment) != kOk) return;
                if (xmlNodePtr copy = xmlDocCopyNode(fragment.root(), node->doc, 1)) xmlAddChild(node, copy);
                break;
            }
        }
    }

    std::mt19937 random_;
};

// What a loaded model must hold whatever the file said.
void expectSound(const CMxmlFile& file, const std::string& what) {
    ASSERT_EQ(static_cast<int32_t>(file.voiceCounts.size()), std::max(file.events.rowCount() - 1, 0)) << what;
    for (int32_t s = 0; s + 1 < file.events.rowCount(); ++s) {
        ASSERT_EQ(file.events.voiceCount(s), file.voiceCounts[static_cast<std::size_t>(s)]) << what;
        const bool drums = file.instruments.isPercussionStaff(s);
        for (int32_t v = 0; v < file.events.voiceCount(s); ++v) {
            const auto list = file.events.events(s, v);
            ASSERT_TRUE(std::is_sorted(list.begin(), list.end(), [](const CScoreEvent& a, const CScoreEvent& b) {
                return a.start < b.start;
            })) << what;
            for (const CScoreEvent& e : list) {
                ASSERT_GE(e.duration, 0) << what;
                if (!e.isKind(scorecore::kKindNote)) continue;
                for (int32_t h = 0; h < e.headCount; ++h) {
                    const uint32_t message = e.midi[static_cast<std::size_t>(h)];
                    ASSERT_EQ(message & 0xF0, 0x90u) << what;
                    if (!drums) {
                        ASSERT_LE(keyOf(message), 127) << what;
                    }
                    ASSERT_LE((message >> 16) & 0xFF, 127u) << what;
                }
            }
        }
    }
}

TEST(MeasureWalkMutation, MutatedScoresLoadOrFailCleanly) {
    std::vector<std::string> scores;
    for (const char* name : {"walk_notes_rests.xml", "walk_chords.xml", "walk_voices.xml", "walk_piano.xml",
                             "walk_parts.xml", "walk_transpose.xml", "walk_percussion.xml", "walk_ties.xml",
                             "walk_tuplets.xml", "walk_grace.xml", "walk_repeats.xml", "walk_directions.xml",
                             "walk_lyrics.xml", "walk_changes.xml", "walk_upbeat.xml", "walk_measure_repeat.xml"}) {
        scores.push_back(readBytes(fixture(name)));
    }
    for (const char* name : {"24a-GraceNotes.xml", "31a-Directions.xml", "33c-Spanners-Slurs.xml",
                             "42a-MultiVoice-TwoVoicesOnStaff-Lyrics.xml", "45b-RepeatWithAlternatives.xml"}) {
        scores.push_back(readBytes(suiteFile(name)));
    }
    Mutator mutator(20240611);
    const int32_t modes[] = {kModeRealTime, kModeLoadAndPlay, kModeTvrxml};
    int loaded = 0;
    for (int round = 0; round < 100; ++round) {
        for (std::size_t i = 0; i < scores.size(); ++i) {
            const std::string mutated = mutator.mutate(scores[i], 1 + round % 6);
            LoggedFile f(modes[(round + i) % std::size(modes)]);
            const int rc = loadText(f, mutated);
            const std::string what = "round " + std::to_string(round) + " score " + std::to_string(i);
            if (rc != kOk) continue;
            ++loaded;
            expectSound(*f.file, what);
            if (::testing::Test::HasFatalFailure()) {
                ADD_FAILURE() << mutated;
                return;
            }
        }
    }
    // Most mutations leave a score that still loads.
    EXPECT_GT(loaded, 1700);
}

}  // namespace
}  // namespace scoreconv::testing
