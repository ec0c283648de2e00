// The main road as a user walks it: a score's settings changed through the
// pages' own controls, step by step as the step tab changes steps, then the
// MIDI, WAV and MP3 files made by the job pages and removed again by the
// clean-up page. The MIDI file is read back by an independent reader.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTreeView>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "../../../scoreconv/tests/mido_support.h"
#include "../../pipeline/tests/engine_test_support.h"
#include "../src/pages/page_brn.h"
#include "../src/pages/page_cln.h"
#include "../src/pages/page_sls.h"
#include "../src/pages/page_trp.h"
#include "main_road_support.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "shown_page_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::PageWindow;
using testing::ShownPage;

// The tempo page's controls.
constexpr int kTmpRelativeRadio = 8001;
constexpr int kTmpSlider = 8002;
constexpr int kTmpDisplay = 7000;

// The fixture's score: one staff, two voices of four quarters at 120 a minute.
const std::set<int> kUpperVoice{72, 74, 76, 77};  // c'' d'' e'' f''
const std::set<int> kLowerVoice{48, 52, 55, 60};  // c e g c'

std::set<int> raised(const std::set<int>& keys, int semitones) {
    std::set<int> out;
    for (const int key : keys) out.insert(key + semitones);
    return out;
}

class MainRoadThroughThePages : public testing::RoadFixture {
protected:
    void SetUp() override {
        testing::keepEngineRuntimeLoaded();
        engine.Init(0, QVP3_PROGRAM_DIR);
        project.data.ProjectFolder = dir.path();
        project.data.ProjectTitle = "Duet";
        project.data.CDSpace = 4800;
        project.mp3Folder = dir.path() / "mp3";
        fs::create_directories(project.mp3Folder);
        shell.projectTitle = "Duet";
        ASSERT_EQ(testing::convertToTvrx(fs::path(QVP3_TEST_DATA_DIR) / "two-voices.xml", score()), 0);
        ProjectEntry entry;
        entry.Filename = score();
        pipeline.cnvEntryInit(entry, project);
        ASSERT_EQ(pipeline.openEntry(entry, project, false, false), 0);
        project.currentEntry = 0;
        project.currentStep = 0;
        stpSetPageHost(&host);
    }
    void TearDown() override {
        stpSetPageHost(nullptr);
        prjRelease(project);
        engine.Release();
    }

    fs::path score() const { return dir.path() / "duet.tvrx"; }
    ProjectEntry& entry() { return project.entries[0]; }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
    fs::path converted(bool wave) {
        fs::path path;
        EXPECT_TRUE(wave ? prjConvertedWavePath(project, 0, &path) : prjConvertedMidiPath(project, 0, &path));
        return path;
    }
    // Moves to the step as the step tab does when its tab is clicked: the
    // step level decides which settings the players and converters apply.
    void goTo(int step) {
        ASSERT_TRUE(prjCanChangeStep(step, project)) << step;
        project.previousStep = project.currentStep;
        project.currentStep = step;
    }
    // The current step's page in a window that passes its controls' messages on.
    std::unique_ptr<PageWindow> open(int step) {
        testing::giveStepHeader(page(step));
        auto window = std::make_unique<PageWindow>(page(step), QSize(900, 620));
        window->show();
        stpNotifyPartChanged(page(step), 0);
        stpShowPage(page(step), true);
        window->colourControls();
        return window;
    }
    void leave(int step) { stpShowPage(page(step), false); }
    // Runs the current step's job through its run button and waits for it.
    void run(ShownPage& shown, const std::string& screenshot) {
        stpShowPage(shown.page, true);
        QAction* button = shown.button(kCmdRun);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled());
        button->trigger();
        ASSERT_TRUE(shown.waitForDone(1));
        EXPECT_FALSE(shown.screenshot(screenshot).empty());
    }

    testing::EnglishTexts texts;
};

TEST_F(MainRoadThroughThePages, OneScoreVoiceOffTransposedSlowerToMidiWavMp3ThenCleanedUp) {
    // Staves and voices: the lower voice of the only staff off.
    goTo(kStepSls);
    {
        auto window = open(kStepSls);
        auto* tree = qvp3ui::findControl<QTreeView>(*window, kSlsTree);
        ASSERT_NE(tree, nullptr);
        auto* model = qobject_cast<QStandardItemModel*>(tree->model());
        ASSERT_EQ(model->item(0)->rowCount(), 1);
        QStandardItem& staff = *model->item(0)->child(0);
        ASSERT_EQ(staff.rowCount(), 2) << "one staff of two voices";
        staff.child(1)->setCheckState(Qt::Unchecked);
        EXPECT_EQ(staff.checkState(), Qt::Checked) << "the staff keeps playing its first voice";
        leave(kStepSls);
    }

    // Transposition: two steps up with the arrows.
    goTo(kStepTrp);
    {
        auto window = open(kStepTrp);
        auto* value = qvp3ui::findControl<QSpinBox>(*window, kTrpUpDown);
        ASSERT_NE(value, nullptr);
        value->stepUp();
        value->stepUp();
        EXPECT_EQ(value->text(), "+2");
        leave(kStepTrp);
    }

    // Tempo: the relative slider dragged to 80 % of the score's tempo. The
    // scale is logarithmic, 10 ^ ((position - 1000) / 1000).
    const int position = 1000 + static_cast<int>(std::lround(1000.0 * std::log10(0.8)));
    ASSERT_EQ(position, 903);
    goTo(kStepTmp);
    {
        auto window = open(kStepTmp);
        auto* relative = qvp3ui::findControl<QRadioButton>(*window, kTmpRelativeRadio);
        ASSERT_NE(relative, nullptr);
        if (!relative->isChecked()) relative->click();
        auto* slider = qvp3ui::findControl<QSlider>(*window, kTmpSlider);
        slider->setSliderDown(true);
        slider->setSliderPosition(position);
        slider->setSliderDown(false);
        EXPECT_EQ(qvp3ui::findControl<QLabel>(*window, kTmpDisplay)->text(), "96");
        leave(kStepTmp);
    }
    const double factor = std::pow(10.0, (position - 1000) / 1000.0);

    // MIDI conversion: the voice left out, the rest two semitones up, slower.
    goTo(kStepMdc);
    {
        ShownPage mdc(page(kStepMdc));
        run(mdc, "road_mdc_converted");
        stpShowPage(mdc.page, false);
    }
    ASSERT_EQ(project.convertedMidiCount, 1);
    ASSERT_TRUE(scoreconv::testing::midoAvailable()) << "python3-mido reads the MIDI file back";
    const auto midi = scoreconv::testing::readWithMido(converted(false), scratch.path());
    ASSERT_TRUE(midi.read);
    // The count-in's clicks are on the drum channel; the music is on the others.
    std::set<int> keys;
    std::vector<std::int64_t> starts;
    for (const auto& on : midi.notesOn()) {
        if (on.number("channel") == 9) continue;
        keys.insert(on.number("note"));
        starts.push_back(on.tick);
    }
    EXPECT_EQ(keys, raised(kUpperVoice, 2)) << "the lower voice is left out, the upper one sounds 2 semitones up";
    ASSERT_EQ(starts.size(), kUpperVoice.size());
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_EQ(starts[i] - starts[i - 1], midi.division) << "quarters stay quarters: the tempo carries the change";
    }
    // The engine writes whole beats a minute, as the page shows them:
    // 120 x 0.7998 makes 96, 625000 microseconds a quarter.
    const auto tempos = midi.of("set_tempo");
    ASSERT_EQ(tempos.size(), 1u);
    EXPECT_EQ(tempos[0].number("tempo"), static_cast<int>(std::lround(60'000'000.0 / std::round(120.0 * factor))));
    EXPECT_EQ(tempos[0].number("tempo"), 625000);

    // WAV rendering: the file sounds.
    goTo(kStepWvc);
    {
        ShownPage wvc(page(kStepWvc));
        run(wvc, "road_wvc_rendered");
        stpShowPage(wvc.page, false);
    }
    ASSERT_EQ(project.convertedWaveCount, 1);
    EXPECT_GT(testing::peakOf(converted(true)), 1000);

    // Export as MP3: the file decodes to sound.
    goTo(kStepBrn);
    {
        ShownPage brn(page(kStepBrn));
        stpShowPage(brn.page, true);
        auto* target = brn.find<QComboBox>(kBrnTargetCombo);
        ASSERT_NE(target, nullptr);
        target->setCurrentIndex(0);
        brn.page.onCommand(brn.page, kBrnTargetCombo, target, kComboSelectionChanged);
        ASSERT_EQ(project.burnMethod, -1) << "MP3 files, no disc";
        run(brn, "road_brn_exported");
        stpShowPage(brn.page, false);
    }
    std::vector<fs::path> mp3s;
    for (const auto& file : fs::directory_iterator(project.mp3Folder)) mp3s.push_back(file.path());
    ASSERT_EQ(mp3s.size(), 1u);
    const fs::path decoded = scratch.path() / "decoded.wav";
    if (std::system("command -v mpg123 >/dev/null 2>&1") == 0) {
        ASSERT_EQ(std::system(("mpg123 -q -w '" + decoded.string() + "' '" + mp3s[0].string() + "'").c_str()), 0);
        EXPECT_GT(testing::peakOf(decoded), 1000);
    }

    // Clean-up: the converted files go, the score stays.
    goTo(kStepCln);
    ShownPage cln(page(kStepCln));
    stpShowPage(cln.page, true);
    cln.click(kClnMidiBox);
    cln.click(kClnMp3Box);
    shell.questions.clear();
    cln.button(kCmdRun)->trigger();
    EXPECT_EQ(shell.questions, std::vector<int>{kStrCleanQuestion});
    EXPECT_FALSE(fs::exists(converted(false)));
    EXPECT_FALSE(fs::exists(converted(true)));
    EXPECT_TRUE(fs::is_empty(project.mp3Folder));
    EXPECT_TRUE(fs::exists(score()));
    stpShowPage(cln.page, false);
}

}  // namespace
}  // namespace qvp3
