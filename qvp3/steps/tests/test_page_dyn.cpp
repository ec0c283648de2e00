#include <gtest/gtest.h>

#include <QCheckBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>

#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "../src/pages/dyn_settings_form.h"
#include "vol_page_fixture.h"

namespace qvp3 {
namespace {

using testing::PageStudio;

ProjectEntry& addScore(Project& project, const std::string& name) {
    ProjectEntry entry;
    entry.Filename = "/music/" + name + ".tvrx";
    entry.kind = EntryKind::TvrXml;
    entry.staveCount = 1;
    entry.voiceCounts = {1};
    entry.voices.resize(1);
    entry.states.create(1, entry.voiceCounts);
    entry.project = &project;
    project.entries.push_back(std::move(entry));
    project.currentEntry = project.fileNum() - 1;
    return project.entries.back();
}

// Our engine from the program folder beside the test program; empty when it is not built.
std::filesystem::path engineFolder() {
    const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
    return std::filesystem::exists(folder / "libtavtune.so") ? folder : std::filesystem::path();
}

// The page over a score, with our engine when it is built: the engine holds
// the switch tables while the page is shown.
struct DynStudio : PageStudio {
    DynStudio() {
        if (!engineFolder().empty()) files.engine.Init(0, engineFolder());
        ProjectEntry& score = addScore(project(), "sonata");
        score.tuneSections.UseDynamic = 1;
        score.tuneSections.dynamic = {{"FFF", "120"}, {"p", "40"}};
        score.tuneSections.artic = {{"Staccato", "50,-20"}};
        score.tuneSections.trills = {{"Speed", "12"}};
    }
    ~DynStudio() { files.engine.Release(); }
    QWidget& window() { return *windows.at(kStepDyn); }
    QScrollArea& area() { return *qvp3ui::findControl<QScrollArea>(window(), kDynContainer); }
    template <class T>
    T* get(int id) {
        return qvp3ui::findControl<T>(window(), id);
    }
};

TEST(InterpretationPage, AScoreShowsTheEntrysSettingsInTheForm) {
    DynStudio s;
    s.show(kStepDyn);
    ASSERT_TRUE(s.area().isVisible());
    EXPECT_TRUE(s.get<QCheckBox>(kDynUseDynamics)->isChecked());
    EXPECT_FALSE(s.get<QCheckBox>(kDynUseRhythms)->isChecked());
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstLevel)->value(), 120) << "keys are found without regard to case";
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstLevel + 5)->value(), 40);
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstLevel + 1)->value(), 110) << "a missing level keeps the engine's default";
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstMark)->value(), 50);
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstMark + 1)->value(), -20);
    EXPECT_EQ(s.get<QSpinBox>(kDynTrillSpeed)->value(), 12);
    EXPECT_EQ(s.host.profileBarModes.back(), kProfileBarEmpty);
}

TEST(InterpretationPage, EditsGoToTheEntryAndMarkTheProjectChanged) {
    DynStudio s;
    s.show(kStepDyn);
    s.project().saved = 1;
    s.get<QSpinBox>(kDynFirstLevel)->setValue(100);
    s.get<QSpinBox>(kDynFirstMark + 2 * 6)->setValue(-30);  // WeakBeat's length
    s.get<QCheckBox>(kDynUseRhythms)->click();
    s.get<QCheckBox>(kDynUseDynamics)->click();
    const TuneSectionSet& sets = s.current().tuneSections;
    EXPECT_EQ(*stpDynLineValue(sets.dynamic, "fff"), "100");
    EXPECT_EQ(sets.dynamic.size(), 8u) << "one line per level, the old key's spelling kept";
    EXPECT_EQ(*stpDynLineValue(sets.artic, "WeakBeat"), "-30,0");
    EXPECT_EQ(*stpDynLineValue(sets.artic, "Staccato"), "50,-20");
    EXPECT_EQ(sets.UseSwing, 1);
    EXPECT_EQ(sets.UseDynamic, 0);
    EXPECT_EQ(s.project().saved, 0);
    EXPECT_NE(s.project().dirty & (1u << kStepDyn), 0u);
}

TEST(InterpretationPage, AMidiFileHidesTheFormAndDisablesProfiles) {
    DynStudio s;
    ASSERT_EQ(s.files.open(testing::sampleMidiFile()), 0);
    s.show(kStepDyn);
    EXPECT_FALSE(s.area().isVisible());
    EXPECT_FALSE(stpDynShowControls(s.page(kStepDyn)));
    EXPECT_EQ(s.host.profileBarModes.back(), kProfileBarDisabled);

    // Back on the score the form shows that score's settings.
    s.project().currentEntry = 0;
    s.page(kStepDyn).onPartChanged(s.page(kStepDyn), 0);
    EXPECT_TRUE(s.area().isVisible());
    EXPECT_EQ(s.get<QSpinBox>(kDynTrillSpeed)->value(), 12);
}

TEST(InterpretationPage, TheFormNeverShrinksBelowItsSizeAndScrollsOnlyWhenItMust) {
    struct Case {
        QSize page;
        bool scrolls;
    } cases[] = {{{500, 400}, true}, {{1100, 900}, false}};
    for (const Case& c : cases) {
        DynStudio s;
        s.show(kStepDyn, c.page);
        qvp3ui::testing::processEventsFor(10);
        QWidget* form = s.area().widget();
        ASSERT_NE(form, nullptr);
        EXPECT_GE(form->width(), kDynFormWidth);
        EXPECT_GE(form->height(), kDynFormHeight);
        EXPECT_LE(s.area().geometry().right(), c.page.width() - 10);
        EXPECT_EQ(s.area().verticalScrollBar()->maximum() > 0, c.scrolls) << c.page.width();
    }
}

TEST(InterpretationPage, SettingsReachTheProjectFileAndAProfileGivesAnotherScoreTheSame) {
    if (engineFolder().empty()) GTEST_SKIP() << "a profile is read back through the score engine, which is not built";
    DynStudio s;
    addScore(s.project(), "etude");
    s.project().currentEntry = 0;
    s.show(kStepDyn);
    s.get<QSpinBox>(kDynTrillSpeed)->setValue(16);
    s.get<QCheckBox>(kDynUseTrills)->click();
    s.project().filePath = s.files.dir.path() / "Stage.c-1";
    s.project().currentStep = kStepShv;  // saved on the next step: the entry's tables are written
    ASSERT_TRUE(prjWriteFile(s.project()));
    std::ifstream in(s.project().filePath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Speed=16"), std::string::npos);
    EXPECT_NE(text.str().find("Staccato=50,-20"), std::string::npos);

    StepPage& page = s.page(kStepDyn);
    ASSERT_TRUE(prfWriteNewProfile(&s.project().entries[0], s.host.profiles, "baroque", page, s.files.shell));
    const auto profiles = platform::listFiles(s.host.profiles.profileFolder, kProfilePattern);
    ASSERT_EQ(profiles.size(), 1u);
    s.project().currentEntry = 1;
    ASSERT_TRUE(stpLoadProfile(s.host.profiles, page, profiles[0], page.profileDataNum, kStepDyn, nullptr));
    s.files.pages.stpRefreshAfterProfile(page, nullptr);
    EXPECT_EQ(s.get<QSpinBox>(kDynTrillSpeed)->value(), 16);
    EXPECT_TRUE(s.get<QCheckBox>(kDynUseTrills)->isChecked());
    EXPECT_TRUE(s.get<QCheckBox>(kDynUseDynamics)->isChecked());
    EXPECT_EQ(s.get<QSpinBox>(kDynFirstMark + 1)->value(), -20);
}

TEST(InterpretationPage, ASaveOnThisStepKeepsTheFormsSettingsThroughTheEngine) {
    const std::filesystem::path folder = engineFolder();
    if (folder.empty()) GTEST_SKIP() << "the score engine is not built beside the tests";
    DynStudio s;
    s.show(kStepDyn);
    s.get<QSpinBox>(kDynTrillSpeed)->setValue(16);
    s.get<QSpinBox>(kDynFirstLevel)->setValue(100);
    s.project().filePath = s.files.dir.path() / "Stage.c-1";
    s.project().currentStep = kStepDyn;  // the writer asks the engine for its tables
    ASSERT_TRUE(prjWriteFile(s.project()));
    std::ifstream in(s.project().filePath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Speed=16"), std::string::npos);
    EXPECT_NE(text.str().find("=100"), std::string::npos);
    EXPECT_EQ(*stpDynLineValue(s.current().tuneSections.trills, "Speed"), "16");
}

TEST(InterpretationPage, Screenshot) {
    DynStudio s;
    s.useEnglish();
    QWidget& window = s.show(kStepDyn, {900, 720});
    qvp3ui::testing::processEventsFor(20);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "page_DYN").empty());
    s.get<QTabWidget>(kDynTabs)->setCurrentIndex(1);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "page_DYN_articulation").empty());
}

}  // namespace
}  // namespace qvp3
