// The sound configuration page: its status check, the method tabs and their
// rules, the instrument, output and effect choices kept in the entry and
// the project file, a file's own copy of an instrument another file uses,
// the sound tree with the sample library's assignments, playing through the
// sample player, and adding and removing effect plug-ins.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QTreeWidget>

#include <chrono>
#include <thread>

#include "pwc_fixture.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/project_entry.h"
#include "qvp3_ui/ui_utils.h"
#include "qvp3_steps/step_table.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using testing::PwcFixture;
using testing::StepFixture;

constexpr int kInstrumentBox = 17006;
constexpr int kOutputBox = 17008;
constexpr int kSoundTree = 17012;
constexpr int kValue = 17013;
constexpr int kLibInstrumentBox = 17015;
constexpr int kLibProgramBox = 17017;
constexpr int kEffectBox = 17021;
constexpr int kEffectPrograms = 17022;
constexpr int kEffectPanel = 17024;

TEST(SoundConfigPage, StatusReportsTheFirstSamplePlayerEntryWithoutAnInstrument) {
    struct Case {
        int method;
        const char* sampler;
        int state;
        int stringId;
        int pending;
    };
    for (const Case c : {Case{0, "", 0, 0, 0}, Case{1, "Piano", 0, 0, 0}, Case{1, "", -1, 96, 1}}) {
        StepFixture f;
        StepPage& page = f.page(kStepPwc);
        f.project.entries.resize(2);
        f.project.entries[0].MWConversionMethod = 1;
        f.project.entries[0].SamplePlayer = "Strings";
        f.project.entries[0].OutDevSampler = "Speakers";
        ProjectEntry& second = f.project.entries[1];
        second.MWConversionMethod = c.method;
        second.SamplePlayer = c.sampler;
        second.OutDevSampler = "Speakers";
        StepStatus status;
        page.getStatus(page, f.project, status);
        EXPECT_EQ(status.state, c.state) << c.method << c.sampler;
        EXPECT_EQ(status.stringId, c.stringId) << c.method << c.sampler;
        EXPECT_EQ(f.project.entries[1].pending[kStepPwc], c.pending) << c.method << c.sampler;
        EXPECT_EQ(f.project.entries[0].pending[kStepPwc], 0);
    }
}

// Without an output box shown there is no output to take, so an entry
// without an output is reported rather than given a made-up name.
TEST(SoundConfigPage, StatusWithoutAnOutputShownReportsTheEntry) {
    StepFixture f;
    StepPage& page = f.page(kStepPwc);
    f.project.entries.resize(1);
    f.project.entries[0].MWConversionMethod = 1;
    f.project.entries[0].SamplePlayer = "Strings";
    StepStatus status;
    page.getStatus(page, f.project, status);
    EXPECT_EQ(status.stringId, 96);
    EXPECT_TRUE(f.project.entries[0].OutDevSampler.empty());
    EXPECT_EQ(f.project.entries[0].pending[kStepPwc], 1);
}

TEST(SoundConfigPage, StatusTakesTheShownOutputForAnEntryWithoutOne) {
    PwcFixture f;
    ProjectEntry& entry = f.addSamplerEntry(testing::kToneName);
    f.open();
    entry.OutDevSampler.clear();
    f.choose(kOutputBox, "null");
    entry.OutDevSampler.clear();
    StepStatus status;
    f.page().getStatus(f.page(), f.project, status);
    EXPECT_EQ(status.stringId, 0) << "nothing to report";
    EXPECT_EQ(entry.OutDevSampler, "null");
}

TEST(SoundConfigPage, ControlsEditTheEntryMarkTheProjectAndSurviveASaveAndReopen) {
    PwcFixture f;
    f.addEntry();
    f.open();
    ProjectEntry& entry = f.project.entries[0];
    EXPECT_EQ(f.tabs()->currentIndex(), 0) << "a new file plays through the software synthesizer";
    EXPECT_TRUE(f.window->findChild<QWidget*>("TIMIDITY")->isVisible());
    f.project.saved = 1;
    f.project.dirty = 0;

    f.tabs()->setCurrentIndex(1);
    EXPECT_EQ(entry.MWConversionMethod, 1);
    EXPECT_EQ(f.project.saved, 0) << "choosing the other method is an edit";
    EXPECT_NE(f.project.dirty & (1u << kStepPwc), 0u);
    EXPECT_FALSE(f.window->findChild<QWidget*>("TIMIDITY")->isVisible());
    EXPECT_TRUE(f.box(kInstrumentBox)->isVisible());

    f.choose(kInstrumentBox, testing::kToneName);
    EXPECT_EQ(entry.SamplePlayer, testing::kToneName);
    EXPECT_EQ(entry.samplerIndex, f.instrument(testing::kToneName));
    EXPECT_EQ(f.devices->catalog->instruments[static_cast<std::size_t>(entry.samplerIndex)].loadMark, 1u);
    EXPECT_EQ(f.box(kOutputBox)->count(), 2) << "the outputs but the system's default";
    f.choose(kOutputBox, "hw:CARD=Test,DEV=0");
    EXPECT_EQ(entry.OutDevSampler, "hw:CARD=Test,DEV=0");

    f.tabs()->setCurrentIndex(2);
    EXPECT_TRUE(f.box(kEffectBox)->isVisible());
    f.choose(kEffectBox, testing::kGainName);
    EXPECT_EQ(entry.Reverb, testing::kGainName);
    EXPECT_EQ(entry.ReverbType, 0);
    EXPECT_EQ(entry.reverbData.size(), 3 * sizeof(float)) << "the effect's three parameters are kept";
    auto* programs = f.find<QTreeWidget>(kEffectPrograms);
    ASSERT_EQ(programs->topLevelItemCount(), 2);
    EXPECT_EQ(programs->topLevelItem(1)->text(0), "Second");
    programs->setCurrentItem(programs->topLevelItem(1));
    EXPECT_EQ(entry.ReverbType, 1);
    auto* panel = f.find<QScrollArea>(kEffectPanel);
    ASSERT_TRUE(panel->isVisible()) << "the effect's parameters are shown";
    auto* gain = panel->widget()->findChild<QSlider*>("param0");
    ASSERT_NE(gain, nullptr);
    gain->setValue(800);
    EXPECT_FLOAT_EQ(f.devices->catalog->CaptureEffectParams(1).values.at(0), 0.8f);

    Project reopened(Neighbours{&f.pipeline, f.services.get(), &f.shell, &f.pages});
    ASSERT_NO_FATAL_FAILURE(f.saveAndReopen(reopened));
    const ProjectEntry& r = reopened.entries[0];
    EXPECT_EQ(r.MWConversionMethod, 1);
    EXPECT_EQ(r.SamplePlayer, testing::kToneName);
    EXPECT_EQ(r.OutDevSampler, "hw:CARD=Test,DEV=0");
    EXPECT_EQ(r.Reverb, testing::kGainName);
    EXPECT_EQ(r.ReverbType, 1);
    EXPECT_EQ(r.reverbData, entry.reverbData);
}

TEST(SoundConfigPage, AnInstrumentsSettingsShowInItsWindowAndComeBackWithTheProject) {
    PwcFixture f;
    f.addSamplerEntry(testing::kToneName);
    f.open();
    auto* window = f.window->findChild<QScrollArea*>("SamplePlayerWindow");
    ASSERT_NE(window, nullptr) << "the tone instrument has pages";
    EXPECT_TRUE(window->isVisible());
    auto* gain = window->widget()->findChild<QSlider*>("setting0");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->value(), 500) << "its default 1 of 0 to 2";
    f.project.saved = 1;
    gain->setValue(250);
    ASSERT_NE(f.player->instrument(), nullptr);
    EXPECT_FLOAT_EQ(f.player->instrument()->Control("gain").value_or(-1.0f), 0.5f);
    EXPECT_EQ(f.project.saved, 0);

    Project reopened(Neighbours{&f.pipeline, f.services.get(), &f.shell, &f.pages});
    ASSERT_NO_FATAL_FAILURE(f.saveAndReopen(reopened));
    const ProjectEntry& r = reopened.entries[0];
    EXPECT_EQ(r.samplerSetupName, testing::kToneName) << "kept for that instrument only";
    EXPECT_EQ(r.samplerSetupType, 0);
    ASSERT_FALSE(r.samplerSetup.empty());
    f.player->instrument()->SetControl("gain", 1.0f);
    EXPECT_EQ(f.player->LoadSamplerSetup(samplerSetupFromEntry(r), f.instrument(testing::kToneName)), 0);
    EXPECT_FLOAT_EQ(f.player->instrument()->Control("gain").value_or(-1.0f), 0.5f);

    f.tabs()->setCurrentIndex(0);
    EXPECT_FALSE(window->isVisible()) << "the synthesizer has no window";
}

TEST(SoundConfigPage, LeavingTheEffectTabReturnsToTheFilesMethod) {
    struct Case {
        int method;
        int clicked;
        int lands;
    };
    for (const Case c : {Case{1, 0, 1}, Case{0, 1, 0}, Case{1, 1, 1}}) {
        PwcFixture f;
        ProjectEntry& entry = f.addSamplerEntry(testing::kToneName);
        entry.MWConversionMethod = c.method;
        f.open();
        f.tabs()->setCurrentIndex(2);
        f.tabs()->setCurrentIndex(c.clicked);
        EXPECT_EQ(f.tabs()->currentIndex(), c.lands) << c.method << " " << c.clicked;
        EXPECT_EQ(entry.MWConversionMethod, c.method) << "leaving the effect tab changes no method";
    }
}

TEST(SoundConfigPage, AnInstrumentAnotherFileUsesGivesThisFileItsOwnCopy) {
    PwcFixture f;
    f.addEntry();
    f.addEntry();
    f.open();
    const std::size_t listed = f.devices->catalog->instruments.size();
    f.tabs()->setCurrentIndex(1);
    f.choose(kInstrumentBox, testing::kSynthName);
    const int first = f.project.entries[0].samplerIndex;
    EXPECT_EQ(first, f.instrument(testing::kSynthName));

    f.project.currentEntry = 1;
    stpNotifyPartChanged(f.page(), 1);
    f.tabs()->setCurrentIndex(1);
    f.choose(kInstrumentBox, testing::kSynthName);
    const ProjectEntry& second = f.project.entries[1];
    ASSERT_EQ(f.devices->catalog->instruments.size(), listed + 1) << "a copy of the instrument";
    EXPECT_EQ(second.samplerIndex, static_cast<int>(listed));
    EXPECT_EQ(second.SamplePlayer, testing::kSynthName);
    const PlugInEntry& copy = f.devices->catalog->instruments.back();
    EXPECT_EQ(copy.userAdded, 1u);
    EXPECT_GE(copy.hostSlot, 0) << "the copy is an instance of its own";
    EXPECT_EQ(f.project.entries[0].samplerIndex, first) << "the first file keeps its instance";
    EXPECT_EQ(f.box(kInstrumentBox)->currentText().toStdString(), testing::kSynthName);

    // Choosing it again finds the file's own copy free: no third instance.
    f.choose(kInstrumentBox, testing::kToneName);
    f.choose(kInstrumentBox, testing::kSynthName);
    EXPECT_EQ(f.devices->catalog->instruments.size(), listed + 1);
}

TEST(SoundConfigPage, TheSoundTreeListsEachSoundOnceAndKeepsTheLibrarysAssignment) {
    PwcFixture f;
    ProjectEntry& entry = f.addSamplerEntry(kSampleLibraryName);
    f.writeConvertedMidi(entry);
    f.open();
    auto* tree = f.find<QTreeWidget>(kSoundTree);
    ASSERT_TRUE(tree->isVisible()) << "the sample library shows its sounds";
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 3) << "program 0 on three tracks is one sound";
    EXPECT_EQ(root->child(0)->text(0), "Acoustic Grand Piano");
    EXPECT_EQ(root->child(1)->text(0), "Violin");
    EXPECT_EQ(root->child(2)->text(0).toStdString(), cnvPercussionKeyName(38));
    EXPECT_EQ(tree->currentItem(), root->child(0)) << "the first sound is chosen";

    tree->setCurrentItem(root->child(1));
    EXPECT_EQ(f.find<QLabel>(kValue)->text(), "Violine, normal") << "the table's instrument of program 40";
    auto* instruments = f.box(kLibInstrumentBox);
    EXPECT_TRUE(instruments->isEnabled());
    const int viola = f.devices->catalog->vstHost->instrumentTable.FindInstrument("Viola");
    ASSERT_GE(viola, 0);
    instruments->setCurrentIndex(qvp3ui::audFindComboItemData(*instruments, viola));
    EXPECT_EQ(audQvoAssignment(entry, 40).instrument, viola);
    EXPECT_EQ(audQvoAssignment(entry, 40).program, 0);
    EXPECT_EQ(root->child(1)->text(0), "Viola, normal");
    EXPECT_EQ(f.devices->catalog->vstHost->instrumentTable.programMap()[40].instrument, viola)
        << "the library plays the file as assigned";
    EXPECT_EQ(audQvoAssignment(entry, 0).instrument, -1) << "the other sounds keep the table's choice";

    tree->setCurrentItem(root);
    EXPECT_FALSE(instruments->isEnabled()) << "the root is no sound";
    EXPECT_FALSE(f.box(kLibProgramBox)->isEnabled());

    Project reopened(Neighbours{&f.pipeline, f.services.get(), &f.shell, &f.pages});
    ASSERT_NO_FATAL_FAILURE(f.saveAndReopen(reopened));
    EXPECT_EQ(audQvoAssignment(reopened.entries[0], 40).instrument, viola);
    EXPECT_EQ(reopened.entries[0].SamplePlayer, kSampleLibraryName);
}

TEST(SoundConfigPage, AProfileGivesAnotherEntryTheSameSoundConfiguration) {
    PwcFixture f;
    f.addEntry();
    f.addEntry();
    f.open();
    f.tabs()->setCurrentIndex(1);
    f.choose(kInstrumentBox, testing::kToneName);
    f.choose(kOutputBox, "null");
    f.copyByProfile(1);
    const ProjectEntry& b = f.project.entries[1];
    EXPECT_EQ(b.MWConversionMethod, 1);
    EXPECT_EQ(b.SamplePlayer, testing::kToneName);
    EXPECT_EQ(b.OutDevSampler, "null");
    EXPECT_EQ(f.tabs()->currentIndex(), 1);
    EXPECT_EQ(f.box(kInstrumentBox)->currentText().toStdString(), testing::kToneName);
    EXPECT_EQ(f.box(kOutputBox)->currentText(), "null");
}

// The tone instrument plays into ALSA's null device, paced as a card would be;
// the page's choices wait, the instrument's own settings do not.
TEST(SoundConfigPage, PlayingThroughTheSamplePlayerLocksThePageUntilItEnds) {
    PwcFixture f;
    ProjectEntry& entry = f.addSamplerEntry(testing::kToneName);
    entry.OutDevSampler = "null";
    f.writeConvertedMidi(entry);
    f.open();
    StepPage& page = f.page();
    page.onCommand(page, kCmdToggle, nullptr, 0);
    if (!f.player->playing()) GTEST_SKIP() << "ALSA's null device: " << f.player->Message();
    EXPECT_EQ(entry.entryState, kEntryPlaying);
    auto* toggle = f.window->findChild<QAction*>("40073");
    EXPECT_EQ(toggle->text(), "Stop");
    EXPECT_FALSE(f.host.fileListsEnabled);
    EXPECT_FALSE(f.box(kInstrumentBox)->isEnabled());
    f.tabs()->setCurrentIndex(0);
    EXPECT_EQ(f.tabs()->currentIndex(), 1) << "no software synthesizer while the sample player plays";
    EXPECT_EQ(entry.MWConversionMethod, 1);
    // The instrument's own settings stay at hand while it plays.
    auto* gain = f.window->findChild<QScrollArea*>("SamplePlayerWindow")->widget()->findChild<QSlider*>("setting0");
    ASSERT_NE(gain, nullptr);
    EXPECT_TRUE(gain->isEnabled());
    gain->setValue(250);
    EXPECT_FLOAT_EQ(f.player->instrument()->Control("gain").value_or(-1.0f), 0.5f);
    qvp3ui::testing::saveScreenshot(*f.window, "page_PWC_playing");

    page.onCommand(page, kCmdToggle, nullptr, 0);
    EXPECT_FALSE(f.player->playing());
    EXPECT_EQ(entry.entryState, kEntryIdle);
    EXPECT_EQ(toggle->text(), "Play");
    EXPECT_TRUE(f.host.fileListsEnabled);
    EXPECT_TRUE(f.box(kInstrumentBox)->isEnabled());
}

TEST(SoundConfigPage, AVstInstrumentWhoseOutputDoesNotOpenSaysSoAndLeavesThePageFree) {
    PwcFixture f;
    ProjectEntry& entry = f.addSamplerEntry(testing::kSynthName);
    entry.OutDevSampler = "hw:CARD=Test,DEV=0";
    f.writeConvertedMidi(entry);
    f.open();
    StepPage& page = f.page();
    page.onCommand(page, kCmdToggle, nullptr, 0);
    EXPECT_FALSE(f.player->playing());
    ASSERT_EQ(f.shell.boxes.size(), 1u) << "the user is told why";
    EXPECT_EQ(f.shell.boxes[0].second, "S118");
    EXPECT_EQ(entry.entryState, kEntryIdle);
    EXPECT_TRUE(f.host.fileListsEnabled);
    EXPECT_TRUE(f.box(kInstrumentBox)->isEnabled());
}

TEST(SoundConfigPage, EffectPlugInsAreAddedAndRemoved) {
    PwcFixture f;
    ProjectEntry& entry = f.addSamplerEntry(testing::kToneName);
    f.open();
    f.tabs()->setCurrentIndex(2);
    StepPage& page = f.page();
    const std::size_t before = f.devices->catalog->effects.size();

    const auto added = f.folder.path() / "hall.so";
    std::filesystem::copy_file(std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / "gain.so", added);
    f.host.effectFile = added;
    page.onCommand(page, 40078, nullptr, 0);
    ASSERT_EQ(f.devices->catalog->effects.size(), before + 1);
    EXPECT_EQ(entry.Reverb, "hall") << "the new effect is the file's";
    EXPECT_EQ(f.box(kEffectBox)->currentText(), "hall");
    EXPECT_EQ(f.store.openKey(platform::Hive::User, platform::kProgramSettingsKey).readString("[EFF]hall"),
              added.string())
        << "kept for the next start";

    const auto broken = f.folder.path() / "broken.so";
    platform::writeFileAtomically(broken, "not a plug-in");
    f.host.effectFile = broken;
    page.onCommand(page, 40078, nullptr, 0);
    EXPECT_EQ(f.devices->catalog->effects.size(), before + 1) << "a file that does not load is not kept";
    EXPECT_EQ(f.warnings.back(), 60240);

    qvp3ui::setBoxResponder([&f](const qvp3ui::BoxRequest& request) {
        f.warnings.push_back(request.stringId);
        return request.checkKey.empty() ? kIdOk : kIdYes;
    });
    f.box(kEffectBox)->setCurrentIndex(0);  // none
    page.onCommand(page, 40079, nullptr, 0);
    EXPECT_EQ(f.warnings.back(), 313) << "nothing chosen to remove";
    f.choose(kEffectBox, "hall");
    page.onCommand(page, 40079, nullptr, 0);
    EXPECT_EQ(f.devices->catalog->FindEffect("hall"), -1);
    EXPECT_EQ(f.devices->catalog->effects.size(), before);
}

TEST(SoundConfigPage, Screenshots) {
    PwcFixture f;
    ProjectEntry& entry = f.addEntry();
    testing::giveStepHeader(f.page());
    f.open();
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*f.window, "page_PWC_synthesizer").empty());
    f.tabs()->setCurrentIndex(1);
    f.choose(kInstrumentBox, testing::kToneName);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*f.window, "page_PWC_sampler").empty());
    f.tabs()->setCurrentIndex(2);
    f.choose(kEffectBox, testing::kGainName);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*f.window, "page_PWC_effect").empty());
    f.tabs()->setCurrentIndex(1);
    f.writeConvertedMidi(entry);
    f.choose(kInstrumentBox, kSampleLibraryName);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*f.window, "page_PWC_sample_library").empty());
}

}  // namespace
}  // namespace qvp3
