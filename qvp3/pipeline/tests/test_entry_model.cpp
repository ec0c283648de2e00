// The play model of a loaded entry: voice indexes, stave switches and the
// voices' muted bits, time-ordered event lists, instrument records, and a
// score's voices as the engine answers them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

// Staves of 2, 0 and 3 voices, every voice on.
ProjectEntry threeStaves(EntryKind kind = EntryKind::TvrXml) {
    ProjectEntry e;
    e.kind = kind;
    e.voiceCounts = {2, 0, 3};
    e.staveCount = 3;
    e.voices.resize(5);
    e.instruments.resize(3);
    e.states.create(3, e.voiceCounts);
    e.states.setAll(true);
    return e;
}

scorecore::CScoreEvent eventAt(std::int32_t start, std::uint32_t kind = scorecore::kKindNote, int tag = 0) {
    scorecore::CScoreEvent e;
    e.start = start;
    e.kind = kind;
    e.duration = tag;  // tells events of one time apart
    return e;
}

TEST(EntryModel, VoiceIndexesRunOverAllStaves) {
    const ProjectEntry e = threeStaves();
    const struct {
        int stave, voice, index;
    } cases[] = {{0, 0, 0}, {0, 1, 1}, {2, 0, 2}, {2, 2, 4}, {0, 2, -1}, {1, 0, -1}, {2, 3, -1}, {3, 0, -1}, {-1, 0, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(cnvEntryVoiceIndex(e, c.stave, c.voice), c.index) << c.stave << "/" << c.voice;
    }
    EXPECT_EQ(cnvEntryVoiceCount(e), 5);
    EXPECT_EQ(cnvEntryCountVoicesOn(e), 5);
}

TEST(EntryModel, SwitchingAStaveSetsItsVoicesMutedBits) {
    Project project;
    ProjectEntry e = threeStaves();
    e.project = &project;
    project.currentStep = 1;
    cnvEntrySetStave(e, false, 2);
    for (int v = 0; v < 3; ++v) EXPECT_TRUE(e.voiceRecord(2, v)->muted()) << v;
    EXPECT_FALSE(e.voiceRecord(0, 0)->muted());
    EXPECT_EQ(cnvEntryCountVoicesOn(e), 2);
    EXPECT_NE(project.dirty & (1u << 1), 0u) << "the step is marked changed";
    cnvEntrySetAllStaves(e, true);
    for (int v = 0; v < 3; ++v) EXPECT_FALSE(e.voiceRecord(2, v)->muted()) << v;
    EXPECT_TRUE(cnvEntryAnyStaveOn(e));
    cnvEntrySetAllStaves(e, false);
    EXPECT_FALSE(cnvEntryAnyStaveOn(e));
    EXPECT_EQ(cnvEntryCountVoicesOn(e), 0);
}

TEST(EntryModel, EventsKeepTimeOrderAndAnEqualTimeGoesFirst) {
    ProjectEntry e = threeStaves(EntryKind::Midi);
    ASSERT_EQ(cnvEntryAppendEvent(e, 0, 0, eventAt(0, 2, 1)), 0);
    ASSERT_EQ(cnvEntryAppendEvent(e, 0, 0, eventAt(480, scorecore::kKindNote, 1)), 0);
    ASSERT_EQ(cnvEntryAppendEvent(e, 0, 0, eventAt(960, 2, 1)), 0);
    ASSERT_EQ(cnvEntryInsertEvent(e, 0, 0, eventAt(480, 2, 2)), 0);
    ASSERT_EQ(cnvEntryInsertEvent(e, 0, 0, eventAt(2000, scorecore::kKindNote, 3)), 0);
    const auto* list = cnvEntryModelIf(e)->list(0, 0);
    ASSERT_EQ(list->size(), 5u);
    std::vector<std::pair<int, int>> order;
    for (const auto& ev : *list) order.emplace_back(ev.start, ev.duration);
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{0, 1}, {480, 2}, {480, 1}, {960, 1}, {2000, 3}}));
    EXPECT_EQ(cnvEntryNextEventOfKind(e, 0, 0, 0, 2), 1);
    EXPECT_EQ(cnvEntryNextEventOfKind(e, 0, 0, 1, 2), 3);
    EXPECT_EQ(cnvEntryNextEventOfKind(e, 0, 0, 3, 2), -1);
    EXPECT_EQ(cnvEntryNextEventOfKind(e, 5, 0, 0, 2), -1);
    EXPECT_EQ(cnvEntryLastTempoBefore(e, 479), 0);
    EXPECT_EQ(cnvEntryLastTempoBefore(e, 480), 1);
    EXPECT_EQ(cnvEntryLastTempoBefore(e, 100000), 3);
    EXPECT_EQ(cnvEntryLastTempoBefore(e, -1), -1);
    EXPECT_EQ(cnvEntryAppendEvent(e, -1, 0, eventAt(0)), -2);
}

TEST(EntryModel, InstrumentRecordsAndSoundsToKeys) {
    ProjectEntry e = threeStaves();
    scorecore::CMidiInstr violin;
    violin.SrcProgPercId = 40;
    scorecore::CMidiInstr snare;
    snare.PercNote = 38;
    snare.SrcProgPercId = 129;
    ASSERT_TRUE(cnvEntryAppendInstrument(e, 2, &violin));
    ASSERT_TRUE(cnvEntryAppendInstrument(e, 2));
    ASSERT_TRUE(cnvEntryAppendInstrument(e, 2, &snare));
    EXPECT_FALSE(cnvEntryAppendInstrument(e, 3));
    EXPECT_EQ(cnvEntrySoundToKey(e, 2, 40), 0);
    EXPECT_EQ(cnvEntrySoundToKey(e, 2, 129), 38);
    EXPECT_EQ(cnvEntrySoundToKey(e, 2, 41), -1);
    ASSERT_TRUE(cnvEntryRemoveInstrument(e, 2, 0));
    EXPECT_FALSE(cnvEntryRemoveInstrument(e, 2, 2));
    EXPECT_EQ(e.instruments[2].size(), 2u);
    EXPECT_EQ(e.instruments[2][1].PercNote, 38);
    EXPECT_EQ(cnvEntryVoiceChannel(e, 0, 2), scorecore::CMidiInstr::kUnset);
    EXPECT_EQ(cnvEntryVoiceChannel(e, 0, 1), -1);
    cnvEntryFreeInstruments(e, 2);
    EXPECT_TRUE(e.instruments[2].empty());
    e.kind = EntryKind::Midi;
    EXPECT_EQ(cnvEntrySoundToKey(e, 2, 41), 41);
}

TEST(EntryModel, PercussionKeyNames) {
    EXPECT_EQ(cnvPercussionKeyName(34), "[34]");
    EXPECT_EQ(cnvPercussionKeyName(35), "Acoustic Bass Drum");
    EXPECT_EQ(cnvPercussionKeyName(38), "Acoustic Snare");
    EXPECT_EQ(cnvPercussionKeyName(81), "Open Triangle");
    EXPECT_EQ(cnvPercussionKeyName(82), "[82]");
}

TEST(EntryModel, DeviceNamesAreCutAt120Characters) {
    ProjectEntry e = threeStaves();
    cnvEntrySetAllVoiceDevices(e, std::string(130, 'd'));
    for (const VoicePlayRecord& r : e.voices) EXPECT_EQ(r.outputDevice, std::string(120, 'd'));
}

}  // namespace
}  // namespace qvp3
