// The catalogue's track operations on the VST host: the sample library loaded
// into every track, released, reloaded and given its instrument again, and
// the host's output started, its failures told to the user.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/plugin_catalog.h"

namespace qvp3 {
namespace {

using platform::Hive;

struct RecordingShell : BasicShell {
    std::vector<std::string> boxes;
    std::string languageString(int id) override {
        if (id == kStrReloadingTrack) return "Loading track %i";
        if (id == kStrOutputNotOpened) return "Cannot open %s";
        return "S" + std::to_string(id);
    }
    int appTextBox(std::string_view text, int kind, int) override {
        boxes.push_back(std::string(text) + (kind == kBoxInformation ? " (i)" : ""));
        return kIdOk;
    }
};

struct WaitDialog : CatalogProgress {
    std::vector<std::string> seen;
    void begin(int range) override { seen.push_back("begin " + std::to_string(range)); }
    void loading(const std::string& name) override { seen.push_back(name); }
    void done(int count) override { seen.push_back(std::to_string(count)); }
    void end() override { seen.push_back("end"); }
    void text(const std::string& line) override { seen.push_back(line); }
};

struct TrackFixture : ::testing::Test {
    platform::testing::TempFolder folder;
    platform::SettingsStore store{folder.path() / "config"};
    platform::SettingsKey program = store.createKey(Hive::User, platform::kProgramSettingsKey);
    std::filesystem::path library = folder.path() / "qvo";
    std::unique_ptr<CPlugInCatalog> cat;
    int qvo = -1;
    RecordingShell shell;
    WaitDialog wait;

    void SetUp() override {
        // Our synth stands in for the sample library, installed where its key says.
        std::filesystem::create_directories(library);
        std::filesystem::copy_file(std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / "synth.so", library / kSampleLibraryFile);
        store.createKey(Hive::Machine, kSampleLibraryKey).writeString("Path", library.string() + "/");
        program.writeString("[VST]qvp3 tests: qvp3 synth", "1|" + (std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / "synth.so").string());
        cat = std::make_unique<CPlugInCatalog>(store, folder.path(), QVP3_VST_PROBE);
        cat->lv2World = std::make_shared<CLv2World>(std::vector<std::filesystem::path>{QVP3_TEST_LV2_BUNDLE}, false);
        ASSERT_EQ(cat->EnumSoftSynths(), 0u);
        qvo = cat->FindInstrument(kSampleLibraryName);
        ASSERT_GE(qvo, 0);
        const auto table = std::filesystem::path(QVP3_TEST_DATA_DIR) / ".." / ".." / ".." / ".." / "data" / kQvoTableFile;
        ASSERT_TRUE(cat->vstHost->instrumentTable.load(table));
        // Track 0 plays nothing; track 3 is locked to an instrument of the user's choice.
        cat->vstHost->trackInfo.assign(4, VstTrack{});
        cat->vstHost->trackInfo[1].program = 40;
        cat->vstHost->trackInfo[2].program = 41;
        cat->vstHost->trackInfo[3].locked = true;
        cat->vstHost->trackInfo[3].instrument = 2;
    }
    std::vector<int> slots() const {
        std::vector<int> s;
        for (const VstTrack& t : cat->vstHost->trackInfo) s.push_back(t.slot);
        return s;
    }
    int loadedPlugIns() const {
        int n = 0;
        for (int s = 0; s < cat->vstHost->effectCount(); ++s) n += cat->vstHost->GetEffect(s) != nullptr ? 1 : 0;
        return n;
    }
    int vstProgramOfTrack(std::size_t t) const {
        return cat->vstHost->GetEffect(cat->vstHost->trackInfo[t].slot)->EffGetProgram();
    }
};

TEST_F(TrackFixture, EveryTrackGetsItsOwnInstanceAndTheInstrumentOfItsProgram) {
    const int before = loadedPlugIns();
    ASSERT_EQ(cat->LoadInstrument(qvo, &wait), kLoadAllTracks);
    EXPECT_TRUE(cat->vstHost->instrumentsReady);
    EXPECT_EQ(wait.seen, (std::vector<std::string>{"begin 3", "1", "2", "3", "end"}));
    const std::vector<int> first = slots();
    EXPECT_EQ(first[0], -1) << "track 0 plays nothing";
    EXPECT_GE(first[1], 0);
    EXPECT_NE(first[1], first[2]);
    EXPECT_NE(first[2], first[3]);
    EXPECT_EQ(loadedPlugIns(), before + 3);
    for (std::size_t t : {1u, 2u}) {
        const VstTrack& track = cat->vstHost->trackInfo[t];
        EXPECT_EQ(track.instrument, cat->vstHost->TrackInstrument(t));
        const QvoInstrument* inst = cat->vstHost->instrumentTable.GetInstrument(track.instrument);
        ASSERT_NE(inst, nullptr);
        EXPECT_EQ(vstProgramOfTrack(t), inst->vstProgram & 1) << "the test synth has two programs";
    }
    EXPECT_EQ(cat->vstHost->trackInfo[3].instrument, 2) << "a locked track keeps its instrument";

    // Loading again replaces each track's instance.
    ASSERT_EQ(cat->LoadInstrument(qvo), kLoadAllTracks);
    EXPECT_EQ(loadedPlugIns(), before + 3);
}

TEST_F(TrackFixture, TracksWithoutAnInstrumentFailAndOnlyTheSampleLibraryIsLoadedPerTrack) {
    cat->vstHost->instrumentTable = CQvoInstrumentTable();
    EXPECT_EQ(cat->LoadInstrument(qvo), kLoadNotAllTracks) << "no table: tracks 1 and 2 have no instrument";
    EXPECT_FALSE(cat->vstHost->instrumentsReady);
    EXPECT_GE(cat->vstHost->trackInfo[1].slot, 0) << "they still got their plug-in";

    const int lv2 = cat->FindInstrument("qvp3 tone");
    ASSERT_GE(lv2, 0);
    for (const int index : {cat->FindInstrument("[VST]qvp3 tests: qvp3 synth"), lv2, -1, 99}) {
        EXPECT_EQ(cat->LoadInstrument(index), kLoadRefused) << index;
    }
    EXPECT_FALSE(cat->audReloadTrackInstruments(lv2, 2, shell));
}

TEST_F(TrackFixture, ASampleLibraryThatCrashesOrHangsInTheHelperNeverReachesATrack) {
    cat->probeTimeout = std::chrono::milliseconds(500);
    for (const char* variant : {"crashes", "hangs"}) {
        // A new file, not the loaded one written over.
        std::filesystem::remove(library / kSampleLibraryFile);
        std::filesystem::copy_file(std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (std::string(variant) + ".so"),
                                   library / kSampleLibraryFile);
        const int before = loadedPlugIns();
        EXPECT_EQ(cat->LoadInstrument(qvo), kLoadNotAllTracks) << variant;
        EXPECT_EQ(slots(), (std::vector<int>{-1, -1, -1, -1})) << variant;
        EXPECT_EQ(loadedPlugIns(), before) << variant;
        EXPECT_FALSE(cat->instruments[static_cast<std::size_t>(qvo)].problem.empty()) << variant;
    }
}

TEST_F(TrackFixture, ReleaseReloadAndAssignWorkOnTheTracksOfOneInstrument) {
    cat->vstHost->trackInfo[1].locked = true;
    cat->vstHost->trackInfo[1].instrument = 2;
    ASSERT_EQ(cat->LoadInstrument(qvo), kLoadAllTracks);
    const int loaded = loadedPlugIns();
    cat->audReleaseTrackInstrument(2);
    EXPECT_EQ(slots()[1], -1);
    EXPECT_EQ(slots()[3], -1);
    EXPECT_GE(slots()[2], 0) << "another instrument's track keeps its plug-in";
    EXPECT_EQ(loadedPlugIns(), loaded - 2);

    ASSERT_TRUE(cat->audReloadTrackInstruments(qvo, 2, shell, &wait));
    EXPECT_EQ(wait.seen, (std::vector<std::string>{"Loading track 2", "Loading track 4", "end"}));
    EXPECT_GE(slots()[1], 0);
    EXPECT_GE(slots()[3], 0);
    EXPECT_EQ(cat->vstHost->trackInfo[3].instrument, 2);

    // Assigning gives the tracks of the number that are not locked its VST program again.
    const int number = cat->vstHost->trackInfo[2].instrument;
    CEffect* track2 = cat->vstHost->GetEffect(slots()[2]);
    const int wanted = cat->vstHost->instrumentTable.GetInstrument(number)->vstProgram & 1;
    track2->EffSetProgram(1 - wanted);
    cat->vstHost->trackInfo[1].instrument = number;  // locked: left alone
    CEffect* track1 = cat->vstHost->GetEffect(slots()[1]);
    track1->EffSetProgram(1 - wanted);
    cat->audAssignTrackInstruments(number);
    EXPECT_EQ(track2->EffGetProgram(), wanted);
    EXPECT_EQ(track1->EffGetProgram(), 1 - wanted);

    // A sample library that is gone: the reload stops at the first track.
    std::filesystem::remove(library / kSampleLibraryFile);
    wait.seen.clear();
    EXPECT_FALSE(cat->audReloadTrackInstruments(qvo, 2, shell, &wait));
    EXPECT_EQ(wait.seen, (std::vector<std::string>{"Loading track 4", "end"}));
    EXPECT_EQ(slots()[3], -1);
}

TEST_F(TrackFixture, TheOutputStartsOrTheUserHearsWhyAndTheTracksGo) {
    const struct {
        const char* output;
        std::uint32_t blockSize;
        bool started;
        const char* box;
    } cases[] = {
        {"null", 1024, true, ""},
        {"qvp3-no-such-device", 1024, false, "Cannot open qvp3-no-such-device (i)"},
        {"null", 40000, false, "S119 (i)"},
        {"", 1024, false, "S120 (i)"},
    };
    for (const auto& c : cases) {
        shell.boxes.clear();
        cat->vstHost->trackInfo.assign(3, VstTrack{});
        cat->blockSize = c.blockSize;
        EXPECT_EQ(cat->audStartVstOutput(c.output, shell), c.started) << c.output;
        EXPECT_EQ(cat->vstHost->outputRunning, c.started) << c.output;
        EXPECT_EQ(shell.boxes, c.started ? std::vector<std::string>{} : std::vector<std::string>{c.box}) << c.output;
        EXPECT_EQ(cat->vstHost->trackInfo.size(), c.started ? 3u : 0u) << c.output;
        cat->vstHost->StopOutput();
    }
}

}  // namespace
}  // namespace qvp3
