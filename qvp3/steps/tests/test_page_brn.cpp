// The export page: the target combo without and with a recorder (the disc
// writer's simulated one), its status, its settings into the project, the
// project file and a profile, and a CD written through its run command.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>

#include <cstdlib>
#include <filesystem>

#include "../src/pages/page_brn.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/disc_writer_lib.h"
#include "qvp3_project/mp3_config.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "shown_page_support.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ShownPage;
using testing::StepFixture;

// The recording host with a disc writer to offer the export.
class ExportHost : public testing::RecordingPageHost {
public:
    using RecordingPageHost::RecordingPageHost;
    std::optional<ExportStepSetup> exportStepSetup() override {
        ExportStepSetup setup;
        setup.project = &project();
        setup.discWriter = lib;
        setup.insertWait = std::chrono::milliseconds(0);
        setup.trayWait = std::chrono::milliseconds(0);
        return setup;
    }
    CDiscWriterLib* lib = nullptr;
};

struct BrnFixture {
    BrnFixture() {
        stpSetPageHost(&host);
        project.data.ProjectFolder = dir.path();
        project.data.ProjectTitle = "Export";
        project.data.CDSpace = 4800;
        project.currentStep = kStepBrn;
        ProjectEntry entry;
        entry.Filename = dir.path() / "piece0.mid";
        entry.project = &project;
        project.entries.push_back(std::move(entry));
        project.currentEntry = 0;
    }
    ~BrnFixture() {
        stpSetPageHost(nullptr);
        lib.Release();
        unsetenv("QVP3_SIMULATED_RECORDER");
    }
    // The disc writer with the simulated recorder holding a blank disc.
    void loadRecorder() {
        platform::testing::writeBytes(drive.path() / "medium.ini",
                                      "[Medium]\r\nType=cd-r\r\nCapacity=359847\r\nTray=closed\r\n");
        setenv("QVP3_SIMULATED_RECORDER", drive.path().c_str(), 1);
        ASSERT_EQ(cnvCdInit(lib, QVP3_PROGRAM_DIR), DISCWRITER_S_OK);
        host.lib = &lib;
    }
    void choose(ShownPage& page, int index) {
        auto* combo = page.find<QComboBox>(kBrnTargetCombo);
        combo->setCurrentIndex(index);
        page.page.onCommand(page.page, kBrnTargetCombo, combo, kComboSelectionChanged);
    }

    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }

    platform::testing::TempFolder dir;
    platform::testing::TempFolder drive;
    CDiscWriterLib lib;
    testing::TableShell shell;
    StepPages pages;
    Project project{Neighbours{nullptr, nullptr, &shell, &pages}};
    ExportHost host{project};
};

TEST(ExportPage, StatusAsksForAnExportOnceTheWavFilesChanged) {
    StepFixture f;
    StepPage& page = f.page(kStepBrn);
    for (auto [dirty, state, stringId] : {std::tuple{ProjectDirty{0}, 0, 0}, {ProjectDirty{0x7}, 0, 0},
                                          {kDirtyWaveDone, -2, kStrBrnWavesChanged}}) {
        f.project.dirty = dirty;
        StepStatus status;
        page.getStatus(page, f.project, status);
        EXPECT_EQ(status.state, state) << dirty;
        EXPECT_EQ(status.stringId, stringId) << dirty;
    }
}

TEST(ExportPage, WithoutARecorderOnlyTheMp3ExportIsOffered) {
    testing::EnglishTexts texts;
    BrnFixture f;
    f.project.burnMethod = 0;  // a recorder of an earlier session, gone now
    ShownPage brn(f.page(kStepBrn));
    stpShowPage(brn.page, true);
    auto* combo = brn.find<QComboBox>(kBrnTargetCombo);
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), "MP3 files");
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(f.project.burnMethod, 0) << "shown as MP3, kept until the user chooses";
    f.project.saved = 1;
    f.choose(brn, 0);
    EXPECT_EQ(f.project.burnMethod, -1);
    EXPECT_EQ(f.project.saved, 0);
    EXPECT_TRUE(brn.window.findChild<QWidget*>(kBrnMp3Panel)->isVisible());
    EXPECT_FALSE(brn.window.findChild<QWidget*>(kBrnCdPanel)->isVisible());
}

// The settings on a fixture entry's project: the record, the project file
// after a save and reopen, and a profile written and read back.
TEST(ExportPage, SettingsReachTheProjectItsFileAndAProfile) {
    testing::EnglishTexts texts;
    BrnFixture f;
    f.loadRecorder();
    ShownPage brn(f.page(kStepBrn));
    stpShowPage(brn.page, true);
    auto* combo = brn.find<QComboBox>(kBrnTargetCombo);
    ASSERT_EQ(combo->count(), 2) << "MP3 and the simulated recorder";
    f.choose(brn, 1);
    EXPECT_EQ(f.project.burnMethod, 0);
    EXPECT_TRUE(brn.window.findChild<QWidget*>(kBrnCdPanel)->isVisible());
    EXPECT_FALSE(brn.find<QSpinBox>(kBrnSpeed)->isEnabled()) << "the recorder tells no speed";
    EXPECT_EQ(f.project.burningSpeed, 0);
    f.project.saved = 1;
    brn.find<QSpinBox>(kBrnCopies)->setValue(3);
    brn.click(kBrnOpenTray);
    EXPECT_EQ(f.project.cdCopies, 3);
    EXPECT_EQ(f.project.openTray, 0) << "the tray box was ticked by default";
    EXPECT_EQ(f.project.saved, 0);
    EXPECT_EQ(f.project.dirty & (1u << kStepBrn), 1u << kStepBrn);

    f.choose(brn, 0);
    brn.click(kBrnVbr);
    const BE_CONFIG config = beReadConfig(f.project.mp3Config);
    EXPECT_EQ(config.LHV1.bEnableVBR != 0, brn.find<QCheckBox>(kBrnVbr)->isChecked());
    EXPECT_EQ(brn.find<QSlider>(kBrnVbrMaximum)->isEnabled(), config.LHV1.bEnableVBR != 0);
    EXPECT_FALSE(brn.screenshot("page_brn_mp3").empty());
    f.choose(brn, 1);
    EXPECT_FALSE(brn.screenshot("page_brn_cd").empty());

    const fs::path file = f.dir.path() / "export.c-1";
    ASSERT_TRUE(prjWriteFile(f.project, &file));
    Project reopened;
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    ASSERT_TRUE(prjReadFile(reopened, file, false, codes, names));
    EXPECT_EQ(reopened.burnMethod, 0);
    EXPECT_EQ(reopened.cdCopies, 3);
    EXPECT_EQ(reopened.openTray, 0);
    EXPECT_EQ(reopened.mp3Config, f.project.mp3Config);

    const fs::path profile = f.dir.path() / "Profile00001.qvpprof";
    ASSERT_TRUE(f.host.profiles.setTarget("qvp Profile File", profile));
    f.host.profiles.startNewDocument();
    ASSERT_TRUE(brn.page.writeProfile(brn.page, profile, kStepBrn, nullptr));
    ASSERT_TRUE(f.host.profiles.flush());
    f.project.cdCopies = 1;
    f.project.burnMethod = -1;
    ASSERT_TRUE(f.host.profiles.reload());
    ASSERT_TRUE(brn.page.readProfile(brn.page, profile, 336, kStepBrn, nullptr));
    EXPECT_EQ(f.project.cdCopies, 3);
    EXPECT_EQ(f.project.burnMethod, 0);
    EXPECT_EQ(brn.find<QSpinBox>(kBrnCopies)->value(), 3) << "the page shows what the profile brought";
}

TEST(ExportPage, TheRunCommandWritesACdOnTheSimulatedRecorder) {
    testing::EnglishTexts texts;
    BrnFixture f;
    f.loadRecorder();
    // One second of a tone as the entry's converted WAV file.
    ProjectEntry& entry = f.project.entries[0];
    entry.convertedWavePath = f.dir.path() / "piece0_qvpcnv.wav";
    platform::testing::writeBytes(entry.convertedWavePath, testing::toneWave(44100));
    f.project.convertedWaveCount = 1;
    f.project.burnMethod = 0;
    f.project.dirty = kDirtyWaveDone;

    ShownPage brn(f.page(kStepBrn));
    stpShowPage(brn.page, true);
    brn.button(kCmdRun)->trigger();
    ASSERT_TRUE(brn.waitForDone(1));
    auto* status = brn.find<QListWidget>(kBrnStatusList);
    EXPECT_GT(status->count(), 0) << "the job's status lines reach the page";
    EXPECT_TRUE(brn.button(kCmdRun)->isEnabled());
    StepStatus state;
    brn.page.getStatus(brn.page, f.project, state);
    EXPECT_EQ(state.state, 0) << "exported: nothing left to do";
    bool written = false;
    for (const auto& file : fs::directory_iterator(f.drive.path())) written |= file.path().filename() != "medium.ini";
    EXPECT_TRUE(written) << "the recorder holds the disc's track";
    EXPECT_FALSE(brn.screenshot("page_brn_cd_written").empty());
}

}  // namespace
}  // namespace qvp3
