#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "neighbour_doubles.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

using testing::FakeNeighbours;

// Appends an entry of that shape, as if the loader had opened it.
ProjectEntry& addEntry(Project& project, EntryKind kind, std::vector<std::uint8_t> voiceCounts = {1}) {
    ProjectEntry entry;
    project.pipeline().cnvEntryInit(entry, project);
    testing::FakePipeline::Shape shape;
    shape.kind = kind;
    shape.voiceCounts = std::move(voiceCounts);
    testing::FakePipeline::build(entry, shape);
    entry.Filename = "entry" + std::to_string(project.fileNum()) + ".tvrx";
    project.entries.push_back(std::move(entry));
    return project.entries.back();
}

TEST(Project, NewProjectStartsWithItsDefaultsAndEighteenPages) {
    FakeNeighbours n;
    Project project(n.all());
    EXPECT_EQ(project.currentStep, -1);
    EXPECT_EQ(project.currentEntry, -1);
    EXPECT_EQ(project.previousStep, -1);
    EXPECT_EQ(project.fileNum(), 0);
    EXPECT_EQ(project.normalize, 2);
    EXPECT_EQ(project.cdCopies, 1);
    EXPECT_EQ(project.openTray, 1);
    EXPECT_EQ(project.midiConvertAll, 1);
    EXPECT_EQ(project.waveConvertAll, 1);
    EXPECT_EQ(project.burnMethod, -1);
    EXPECT_EQ(project.dirty, 0u);
    EXPECT_EQ(project.saved, 1);
    EXPECT_EQ(project.playOption, 7);
    EXPECT_EQ(project.catInstrumentSize(), 0);
    // Version field 256, little-endian, ahead of the encoder settings.
    EXPECT_EQ(project.mp3Config[0], 0x00);
    EXPECT_EQ(project.mp3Config[1], 0x01);
    EXPECT_EQ(project.mp3Config[2], 0x00);

    EXPECT_EQ(n.pages.inits, kStepCount);
    for (int step = 0; step < kStepCount; ++step) {
        ASSERT_NE(project.stepPages[static_cast<std::size_t>(step)], nullptr);
        EXPECT_EQ(static_cast<int>(project.stepPages[static_cast<std::size_t>(step)]->category), step);
    }
    EXPECT_EQ(project.stepPages[static_cast<int>(StepCategory::Brn)]->profileDataNum, 336);
    EXPECT_EQ(project.stepPages[static_cast<int>(StepCategory::Slf)]->profileDataNum, 0);
}

TEST(Project, ProjectWithoutNeighboursUsesTheStandIns) {
    Project project;
    ProjectEntry entry;
    EXPECT_EQ(project.pipeline().cnvOpenEntry(entry, 1, project), -104);
    EXPECT_EQ(project.audio().countPresentInstruments(), 0);
    EXPECT_EQ(project.shell().appQuestionBox(59, kMbYesNo), kIdNo);
    EXPECT_NE(stpGetPage(project, 0), nullptr);
}

TEST(Project, ReleaseFreesEveryEntryAndPageOnce) {
    FakeNeighbours n;
    {
        Project project(n.all());
        addEntry(project, EntryKind::TvrXml);
        addEntry(project, EntryKind::Midi);
        prjRelease(project);
        EXPECT_EQ(project.fileNum(), 0);
        for (const auto& page : project.stepPages) EXPECT_EQ(page, nullptr);
        EXPECT_EQ(n.pages.frees, kStepCount);
    }
    // The destructor releases again, which finds nothing left.
    EXPECT_EQ(n.pages.frees, kStepCount);
    EXPECT_EQ(std::count_if(n.pipeline.calls.begin(), n.pipeline.calls.end(),
                            [](const std::string& call) { return call.starts_with("free "); }),
              2);
}

TEST(StepCategoryCodes, CodesMapBothWaysAndUnknownsGiveMinusOne) {
    const char* codes[] = {"SLF", "SLS", "TRP", "CHP", "VOL", "PAN", "PRC", "TMP", "TPP",
                           "DYN", "SHV", "MET", "EIN", "MDC", "PWC", "WVC", "BRN", "CLN"};
    for (int step = 0; step < kStepCount; ++step) {
        EXPECT_EQ(stpCategoryCode(step), codes[step]);
        EXPECT_EQ(stpCategoryFromCode(codes[step]), step);
    }
    for (const char* unknown : {"slf", "SL", "SLFX", "", "XYZ", " SLF"}) {
        EXPECT_EQ(stpCategoryFromCode(unknown), -1) << unknown;
    }
    EXPECT_EQ(stpCategoryCode(-1), "");
    EXPECT_EQ(stpCategoryCode(kStepCount), "");
}

TEST(ProjectDirtyMarking, SetsTheBitOfSteps0To16AndNothingElse) {
    for (int step = -2; step <= 18; ++step) {
        Project project;
        project.currentStep = step;
        prjMarkStepDirty(project);
        const ProjectDirty expected = step >= 0 && step <= 16 ? ProjectDirty{1} << step : 0;
        EXPECT_EQ(project.dirty, expected) << "step " << step;
        EXPECT_EQ(project.saved, 0) << "step " << step;
    }
}

TEST(ProjectDirtyMarking, SuspendedMarkingChangesNothing) {
    Project project;
    project.currentStep = 4;
    project.suspendDirty = 1;
    prjMarkStepDirty(project);
    EXPECT_EQ(project.dirty, 0u);
    EXPECT_EQ(project.saved, 1);
}

TEST(ProjectDirtyMarking, EarlierStepsIncludeTheConversionBitsInTheirPlace) {
    struct Case {
        ProjectDirty dirty;
        int step;
        bool expected;
    } cases[] = {
        {0x1, 0, false},           {0x1, 1, true},
        {0x2000, 13, false},       {0x2000, 14, true},
        {kDirtyMidiDone, 13, false}, {kDirtyMidiDone, 14, true},
        {0x4000, 14, false},       {0x4000, 15, true},
        {kDirtyWaveDone, 15, false}, {kDirtyWaveDone, 16, true},
        {0x8000, 16, true},        {0x10000, 16, false},
        {0x10000, 17, true},       {0x20000, 17, false},
        {0xFFFFFFFF, -1, false},   {0xFFFFFFFF, 18, false},
        {0xFFFFFFFF, -5, false},   {0, 17, false},
    };
    for (const Case& c : cases) {
        Project project;
        project.dirty = c.dirty;
        EXPECT_EQ(prjAnyEarlierStepDirty(project, c.step), c.expected) << std::hex << c.dirty << " step " << std::dec
                                                                       << c.step;
    }
}

TEST(ProjectFlags, SetAndClearChangeExactlyTheMaskBits) {
    struct Case {
        std::uint64_t flags;
        std::uint64_t mask;
        std::uint64_t afterSet;
        std::uint64_t afterClear;
    } cases[] = {
        {0x0, 0x2, 0x2, 0x0},
        {0x2, 0x2, 0x2, 0x0},
        {0x10, 0x4010, 0x4010, 0x0},      // partly set: set completes, clear removes only these
        {0x4000, 0x4010, 0x4010, 0x0},
        {0x1, 0x4010, 0x4011, 0x1},       // clear leaves a flag that was not in the mask
        {0x0, 0x80000000, 0x80000000, 0x0},  // no sign extension into the upper half
        {0xFFFFFFFF00000000, 0x80000000, 0xFFFFFFFF80000000, 0xFFFFFFFF00000000},
        {0x8000000000000000, 0x8000000000000000, 0x8000000000000000, 0x0},
        {0x5, 0x0, 0x5, 0x5},
    };
    for (const Case& c : cases) {
        std::uint64_t flags = c.flags;
        prjSetFlag(c.mask, flags);
        EXPECT_EQ(flags, c.afterSet) << std::hex << c.flags << " " << c.mask;
        flags = c.flags;
        prjClearFlag(c.mask, flags);
        EXPECT_EQ(flags, c.afterClear) << std::hex << c.flags << " " << c.mask;
    }
}

std::uint64_t featuresUpTo(int level) {
    std::uint64_t mask = 0;
    for (const PlayFeatureRow& row : kPlayFeatureRows) {
        if (row.step <= level) mask |= row.mask;
    }
    return mask;
}

TEST(ProjectStepLevel, FeaturesFollowTheLevelExactly) {
    Project project;
    project.playFeatures = 0x1000000;  // a bit of no step stays as it is
    prjApplyStepLevel(project, 12);
    EXPECT_EQ(project.playFeatures, 0x1000000 | 0x2 | 0x8 | 0x10 | 0x4000 | 0x400 | 0x200 | 0x20000 | 0x4 | 0x10000 |
                                        0x20 | 0x800 | 0x80 | 0x1000 | 0x8000);
    for (int level : {0, 7, 8, 3, 17, -1, 5}) {
        prjApplyStepLevel(project, level);
        EXPECT_EQ(project.playFeatures, 0x1000000 | featuresUpTo(level)) << "level " << level;
        prjApplyStepLevel(project, level);
        EXPECT_EQ(project.playFeatures, 0x1000000 | featuresUpTo(level)) << "again, level " << level;
    }
}

TEST(ProjectStepLevel, ScoreEntryGetsItsTranspositionFromStep2OnEveryCall) {
    FakeNeighbours n;
    Project project(n.all());
    ProjectEntry& entry = addEntry(project, EntryKind::TvrXml, {2});
    entry.voices[0].transposition = -3;
    project.currentEntry = 0;
    for (int level : {2, 2, 1, 12}) prjApplyStepLevel(project, level);
    EXPECT_EQ(n.pipeline.calls, (std::vector<std::string>{"transpose -3", "transpose -3", "transpose 0", "transpose -3"}));

    n.pipeline.calls.clear();
    project.entries[0].kind = EntryKind::Midi;  // the sequencer transposes MIDI entries itself
    prjApplyStepLevel(project, 5);
    EXPECT_TRUE(n.pipeline.calls.empty());
}

TEST(ProjectStepLevel, RecordingCurveCopiesAtStep8AndHandsOverBeyond) {
    struct Case {
        int level;
        bool recording;
        std::vector<std::string> calls;
    } cases[] = {
        {8, true, {"copy points 1 0 1"}},
        {9, true, {"use recorded TPP 0"}},
        {16, true, {"use recorded TPP 0"}},
        {7, true, {}},
        {8, false, {}},
        {12, false, {}},
    };
    for (const Case& c : cases) {
        FakeNeighbours n;
        Project project(n.all());
        addEntry(project, EntryKind::Midi).tempoCurve.record = c.recording;
        project.currentEntry = 0;
        prjApplyStepLevel(project, c.level);
        EXPECT_EQ(n.pages.calls, c.calls) << "level " << c.level;
    }
}

TEST(ProjectStepLevel, PlayingEntryGetsItsStoredTempoAgain) {
    FakeNeighbours n;
    Project project(n.all());
    addEntry(project, EntryKind::Midi).entryState = kEntryPlayingAlt;
    prjApplyStepLevel(project, 3);
    EXPECT_TRUE(n.pipeline.calls.empty()) << "not the current entry";
    project.currentEntry = 0;
    prjApplyStepLevel(project, 3);
    EXPECT_EQ(n.pipeline.calls, std::vector<std::string>{"tempo -1"});
}

TEST(ProjectEntries, GetEntryChecksTheIndexAndFollowsTheCurrentEntry) {
    Project project;
    EXPECT_EQ(prjGetEntry(project, -1), nullptr);
    EXPECT_EQ(prjGetEntryOrCurrent(project, nullptr), nullptr);
    addEntry(project, EntryKind::TvrXml);
    addEntry(project, EntryKind::Midi);
    EXPECT_EQ(prjGetEntry(project, -1), nullptr);
    EXPECT_EQ(prjGetEntry(project, 1), &project.entries[1]);
    for (int bad : {2, -2, 1000, std::numeric_limits<int>::min()}) EXPECT_EQ(prjGetEntry(project, bad), nullptr) << bad;
    project.currentEntry = 1;
    EXPECT_EQ(prjGetEntry(project, -1), &project.entries[1]);
    EXPECT_EQ(prjGetEntryOrCurrent(project, nullptr), &project.entries[1]);
    EXPECT_EQ(prjGetEntryOrCurrent(project, &project.entries[0]), &project.entries[0]);
    project.currentEntry = 7;  // a stale current entry never reaches past the array
    EXPECT_EQ(prjGetEntry(project, -1), nullptr);
}

TEST(ProjectEntries, BusyAndIdleLookAtEveryEntryState) {
    Project project;
    EXPECT_EQ(prjFindBusyEntry(project), -1);
    EXPECT_TRUE(prjAllEntriesIdle(project));
    for (int i = 0; i < 3; ++i) addEntry(project, EntryKind::Midi);
    project.entries[1].entryState = 5;
    EXPECT_EQ(prjFindBusyEntry(project), -1);
    EXPECT_FALSE(prjAllEntriesIdle(project));
    project.entries[2].entryState = kEntryPlaying;
    EXPECT_EQ(prjFindBusyEntry(project), 2);
    project.entries[0].entryState = kEntryPlayingAlt;
    EXPECT_EQ(prjFindBusyEntry(project), 0);
}

TEST(ProjectEntries, SamplerNameIsKeptWhole) {
    ProjectEntry entry;
    const std::string longName(300, 'x');
    prjSetEntrySampler(entry, longName, 4);
    EXPECT_EQ(entry.SamplePlayer, longName);
    EXPECT_EQ(entry.samplerIndex, 4);
}

TEST(ProjectEntries, CatInstrumentSizeCountsStoredCharactersAndTheTerminator) {
    Project project;
    project.CatInstrument = "3;17";
    EXPECT_EQ(project.catInstrumentSize(), 5);
    project.CatInstrument = "\xC3\xA9;\xF0\x9F\x8E\xB5";  // e-acute, then a character outside the BMP
    EXPECT_EQ(project.catInstrumentSize(), 5);
    project.CatInstrument = "";
    EXPECT_EQ(project.catInstrumentSize(), 1);
}

TEST(VoicePlayRecordFlags, MutedAndChannelChangeOnlyTheirBits) {
    struct Case {
        std::uint8_t flags;
        int channel;
        std::uint8_t expected;
        int read;
    } cases[] = {
        {0x00, 9, 0x98, 9},
        {0x01, 0, 0x09, 0},    // muted bit kept
        {0x97, 15, 0xFF, 15},  // bits 1, 2 kept; old channel replaced
        {0x99, -1, 0x01, -1},  // no channel: both channel parts cleared
        {0x99, 16, 0x01, -1},
        {0x06, 200, 0x06, -1},
    };
    for (const Case& c : cases) {
        VoicePlayRecord record;
        record.flags = c.flags;
        record.setChannel(c.channel);
        EXPECT_EQ(record.flags, c.expected) << int(c.flags) << " channel " << c.channel;
        EXPECT_EQ(record.channel(), c.read);
    }
    VoicePlayRecord record;
    record.flags = 0xFE;
    record.setMuted(true);
    EXPECT_EQ(record.flags, 0xFF);
    record.setMuted(false);
    EXPECT_EQ(record.flags, 0xFE);
}

TEST(ProjectEntryShape, VoiceIndexCountsTheStavesBeforeAndRefusesOutOfRange) {
    ProjectEntry entry;
    testing::FakePipeline::Shape shape;
    shape.voiceCounts = {2, 0, 3};
    testing::FakePipeline::build(entry, shape);
    struct Case {
        int staff, voice, index;
    } cases[] = {
        {0, 0, 0}, {0, 1, 1}, {2, 0, 2}, {2, 2, 4},
        {0, 2, -1}, {1, 0, -1}, {2, 3, -1}, {3, 0, -1}, {-1, 0, -1}, {0, -1, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(entry.voiceIndex(c.staff, c.voice), c.index) << c.staff << "/" << c.voice;
        EXPECT_EQ(entry.voiceRecord(c.staff, c.voice) != nullptr, c.index >= 0);
        EXPECT_EQ(entry.voiceInstrument(c.staff, c.voice) != nullptr, c.index >= 0);
    }
    entry.voices.resize(3);  // records missing for the last voices are not reached
    EXPECT_EQ(entry.voiceIndex(2, 1), -1);
}

TEST(TempoPoints, StoredFormIsFortyLittleEndianBytes) {
    TempoPoint point{0x01020304, 7, 120.5, -3.25, 0.0, 1, -2};
    const auto bytes = point.toBytes();
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[4], 7);
    EXPECT_EQ(bytes[15], 0x40);  // high byte of 120.5
    EXPECT_EQ(bytes[32], 1);
    EXPECT_EQ(bytes[36], 0xFE);
    EXPECT_EQ(bytes[39], 0xFF);
    EXPECT_EQ(TempoPoint::fromBytes(bytes), point);
}

TEST(TempoCurveRules, SpeedSetsItsDivisorAndRefusesWhatCannotEnd) {
    struct Case {
        int speed;
        bool ok;
        int divisor, steps;
    } cases[] = {
        {1000, true, 100, 1}, {300, true, 200, 1}, {1200, true, 100, 2},
        {600, true, 100, 1},  {1, true, 30001, 1}, {0, false, 100, 1}, {-600, false, 100, 1},
    };
    BasicStepPages pages;
    for (const Case& c : cases) {
        TempoCurve curve;
        EXPECT_EQ(pages.stpTempoCurveSetSpeed(curve, c.speed), c.ok) << c.speed;
        EXPECT_EQ(curve.speedDivisor, c.divisor) << c.speed;
        EXPECT_EQ(curve.speedSteps, c.steps) << c.speed;
        EXPECT_EQ(curve.speed, c.ok ? c.speed : 1000);
    }
}

TEST(TempoCurveRules, CopyKeepsPositionsSortedAndReplacesTheSamePoint) {
    BasicStepPages pages;
    TempoCurve curve;
    curve.points[0] = {{100, 0, 90.0, 0, 0, 1, 0}, {300, 0, 95.0, 0, 0, 1, 0}};
    curve.points[1] = {{200, 0, 60.0, 0, 0, 1, 0}, {300, 0, 61.0, 0, 0, 1, 0}};
    ASSERT_TRUE(pages.stpTempoCurveCopyPoints(curve, 1, 0, false));
    ASSERT_EQ(curve.points[1].size(), 3u);
    EXPECT_EQ(curve.points[1][0].position, 100u);
    EXPECT_EQ(curve.points[1][1].position, 200u);
    EXPECT_EQ(curve.points[1][2].tempo, 95.0);  // same position and identifiers: replaced
    ASSERT_TRUE(pages.stpTempoCurveCopyPoints(curve, 1, 2, true));
    EXPECT_TRUE(curve.points[1].empty());
    EXPECT_FALSE(pages.stpTempoCurveCopyPoints(curve, 3, 0, true));
    EXPECT_FALSE(pages.stpTempoCurveCopyPoints(curve, 0, -1, true));
    EXPECT_EQ(curve.points[0].size(), 2u);
}

}  // namespace
}  // namespace qvp3
