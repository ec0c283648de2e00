#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <map>

#include "discwriter/discwriter.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/step_tab.h"
#include "qvp3_shell/step_tab_install.h"
#include "shell_fixture.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui_testing.h"
#include "../src/step_page_dialog.h"

namespace qvp3 {
namespace {

using qvp3ui::testing::processEventsFor;

// What the pages ask of the program, recorded.
class PageHostDouble : public StepPageHost {
public:
    explicit PageHostDouble(Project& project) : project_(project) {}
    Project& project() override { return project_; }
    ProfileContext& profileContext() override { return profiles; }
    void enableFileLists(bool) override {}
    void enableEntryCommands(bool) override {}
    void enableProjectCommands(bool) override {}
    void layoutProfileBar(StepPage&, int) override {}
    void resetPlayPosition() override {}
    void refreshFileList() override {}
    void setFileListSingleSelection(bool single) override { singleSelection = single; }
    void sendCommand(int) override {}
    void refreshCommands() override {}
    void flipToggleMenuCheck() override {}
    std::unique_ptr<platform::MidiOutDevice> openPreviewOutput() override { return nullptr; }
    void stopPlayback(ProjectEntry&) override {}
    PlayTimeProgressView* playTimeProgress() override { return nullptr; }
    bool stepWorkerDone(StepPage&) override { return true; }
    std::optional<MidiStepSetup> midiStepSetup() override { return std::nullopt; }
    std::optional<WaveStepSetup> waveStepSetup() override { return std::nullopt; }
    std::optional<ExportStepSetup> exportStepSetup() override { return std::nullopt; }
    int loadSampleLibraryInstrument(ProjectEntry&) override { return 0; }
    bool isSampleLibrarySampler(const ProjectEntry&) override { return false; }

    ProfileContext profiles;
    bool singleSelection = true;

private:
    Project& project_;
};

// A step tab over a project built by the step pages, with the language
// table of the test's choice.
struct StepTabFixture {
    explicit StepTabFixture(qvp3ui::LanguageModule table = qvp3ui::LanguageModule::testTable())
        : language(std::move(table)), project(Neighbours{nullptr, nullptr, nullptr, &pages}), host(project) {
        qvp3ui::setLanguage(&language);
        stpSetPageHost(&host);
        tabs.resize(900, 640);
        tab = new StepTab(tabs, project);
        tab->openLink = [this](const QUrl&) { ++linksOpened; };
        tab->linkGuardMs = 200;
        tab->createPages(language);
    }
    ~StepTabFixture() {
        tab->destroyPages();
        stpSetPageHost(nullptr);
        qvp3ui::setLanguage(nullptr);
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
    // A file with its staves on, so that the steps may be gone through.
    void addFile() {
        ProjectEntry entry;
        entry.Filename = "/music/piece.tvrx";
        entry.kind = EntryKind::TvrXml;
        entry.voiceCounts = {1};
        entry.voices.resize(1);
        entry.states.create(1, entry.voiceCounts);
        entry.project = &project;
        project.entries.push_back(std::move(entry));
    }
    StepPageDialog& dialog(int step) { return *tab->dialog(step); }
    // Records which page's slot a message reached, by step.
    std::vector<int> calls;
    void recordCommands() {
        for (int step = 0; step < kStepCount; ++step) {
            page(step).onCommand = [this, step](StepPage&, int, QWidget*, int) {
                calls.push_back(step);
                return StepPage::Result{step + 100};
            };
        }
    }

    qvp3ui::LanguageModule language;
    StepPages pages;
    Project project;
    PageHostDouble host;
    QTabWidget tabs;
    StepTab* tab = nullptr;
    int linksOpened = 0;
};

TEST(StepTab, MakesTheEighteenPagesInStepOrderWithTheirTexts) {
    StepTabFixture f;
    ASSERT_EQ(f.tabs.count(), kStepCount);
    for (int step = 0; step < kStepCount; ++step) {
        const StepInfo& info = *stpStepInfo(step);
        StepPage& page = f.page(step);
        SCOPED_TRACE(std::string(stpCategoryCode(step)));
        EXPECT_EQ(static_cast<int>(page.category), step);
        EXPECT_EQ(page.title, "S" + std::to_string(507 + step));
        EXPECT_EQ(page.label, "S" + std::to_string(info.labelId));
        EXPECT_EQ(page.description, "S" + std::to_string(info.descriptionId));
        EXPECT_EQ(page.headerImage, info.headerImage);
        EXPECT_EQ(page.window, f.tabs.widget(step));
        EXPECT_EQ(f.tabs.tabText(step).toStdString(), page.label);
    }
    EXPECT_EQ(f.page(0).label, "S284");
    EXPECT_EQ(f.page(kStepShv).description, "S610");
    EXPECT_EQ(f.page(kStepPrc).altDescription, "S122");
    EXPECT_EQ(f.page(kStepDyn).altDescription, "S122");
    EXPECT_EQ(f.page(kStepShv).altDescription, "S352");
    EXPECT_EQ(f.page(kStepTmp).altDescription, "");
}

TEST(StepTab, TheVelocityDescriptionNamesTheDynamicsStep) {
    StepTabFixture f(qvp3ui::LanguageModule::fromText("610\tUp to %i levels, as in \"%s\".\n516\tDynamics\n"));
    EXPECT_EQ(f.page(kStepShv).description, "Up to 10 levels, as in \"Dynamics\".");
}

TEST(StepTab, MessagesGoToTheCurrentPageAndEmptySlotsAnswerZero) {
    StepTabFixture f;
    f.recordCommands();
    const auto command = qvp3ui::makeCommandWParam(20001, 0);
    EXPECT_EQ(f.dialog(5).procedure(platform::WM_COMMAND, command, 0), 100) << "no step chosen: the start page";
    f.project.currentStep = 7;
    EXPECT_EQ(f.dialog(5).procedure(platform::WM_COMMAND, command, 0), 107);
    EXPECT_EQ(f.calls, (std::vector<int>{0, 7}));

    f.page(7).onCommand = nullptr;
    EXPECT_EQ(f.dialog(7).procedure(platform::WM_COMMAND, command, 0), 0);
    StepPage bare;
    EXPECT_EQ(f.dialog(7).procedure(WM_INITDIALOG, 0, reinterpret_cast<platform::LParam>(&bare)), 0);
    EXPECT_EQ(f.dialog(7).procedure(WM_NOTIFY, 0, 0), 0) << "no slot: the payload is never read";
}

TEST(StepTab, SlotsReceiveTheirArgumentsFromTheMessages) {
    StepTabFixture f;
    f.project.currentStep = kStepMet;
    StepPage& met = f.page(kStepMet);
    QWidget bar;
    int code = 0, position = 0;
    QWidget* from = nullptr;
    met.onVScroll = [&](StepPage&, QWidget* w, int c, int p) {
        from = w, code = c, position = p;
        return StepPage::Result{1};
    };
    const platform::WParam wParam = (static_cast<platform::WParam>(0xFFFE) << 16) | 5;  // position -2, code 5
    EXPECT_EQ(f.dialog(kStepMet).procedure(WM_VSCROLL, wParam, reinterpret_cast<platform::LParam>(&bar)), 1);
    EXPECT_EQ(from, &bar);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(position, -2);
    PageNotify notify{15016, 3, nullptr, 1};
    int seen = 0;
    met.onNotify = [&](StepPage&, PageNotify& n) {
        seen = n.controlId;
        return StepPage::Result{0};
    };
    f.dialog(kStepMet).procedure(WM_NOTIFY, 0, reinterpret_cast<platform::LParam>(&notify));
    EXPECT_EQ(seen, 15016);
}

TEST(StepTab, SwitchingStepsHidesTheOldPageThenShowsTheNewOne) {
    StepTabFixture f;
    std::vector<std::pair<int, bool>> shows;
    for (int step = 0; step < kStepCount; ++step) {
        f.page(step).onShow = [&shows, step](StepPage&, bool shown) {
            shows.emplace_back(step, shown);
            return StepPage::Result{1};
        };
    }
    f.tab->selectStep(3);
    EXPECT_TRUE(shows.empty()) << "a project without files stays on the start page";
    EXPECT_EQ(f.project.currentStep, -1);
    f.addFile();
    f.tab->selectStep(3);
    EXPECT_EQ(shows, (std::vector<std::pair<int, bool>>{{0, false}, {3, true}}));
    EXPECT_EQ(f.project.currentStep, 3);
    EXPECT_EQ(f.project.previousStep, -1);
    EXPECT_EQ(f.tabs.currentIndex(), 3);
    EXPECT_TRUE(f.host.singleSelection);

    shows.clear();
    f.tab->selectStep(kStepWvc);
    EXPECT_EQ(shows, (std::vector<std::pair<int, bool>>{{3, false}, {kStepWvc, true}}));
    EXPECT_FALSE(f.host.singleSelection) << "the WAV step works on several files";
    // The conversion steps let the user on once every file is converted.
    f.project.convertedMidiCount = f.project.convertedWaveCount = f.project.fileNum();
    f.tab->selectStep(kStepBrn);
    EXPECT_TRUE(f.host.singleSelection);
    EXPECT_EQ(f.project.previousStep, kStepWvc);

    shows.clear();
    f.tab->selectStep(kStepBrn);
    f.tab->selectStep(18);
    EXPECT_TRUE(shows.empty());

    // A project opened anew starts on its first step: the page shown so far is left first.
    f.project.currentStep = 0;
    f.tab->layoutPages();
    EXPECT_EQ(shows, (std::vector<std::pair<int, bool>>{{kStepBrn, false}, {0, true}}));
    EXPECT_EQ(f.tabs.currentIndex(), 0);
}

TEST(StepTab, AShownPageColoursItsLabels) {
    StepTabFixture f;
    f.addFile();
    auto* label = new QLabel("Tempo", &f.dialog(kStepTmp));
    auto* plain = new QLabel("Plain", &f.dialog(kStepTmp));
    plain->setObjectName("plain");
    f.page(kStepTmp).onCtlColor = [](StepPage&, QPalette& palette, QWidget* control) {
        if (control->objectName() == "plain") return StepPage::Result{0};
        palette.setColor(QPalette::WindowText, Qt::yellow);
        return StepPage::Result{1};
    };
    f.tab->selectStep(kStepTmp);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::yellow));
    EXPECT_NE(plain->palette().color(QPalette::WindowText), QColor(Qt::yellow));
}

TEST(StepTab, TheToolbarsStepCommandsReachTheCurrentPage) {
    StepTabFixture f;
    std::vector<std::string> calls;
    f.project.currentStep = kStepTmp;
    f.page(kStepTmp).onToggle = [&](StepPage&) { calls.push_back("toggle"); };
    f.page(kStepTmp).onRun = [&](StepPage&) { calls.push_back("run"); };
    f.tab->forwardCommand(kCmdToggle, 0);
    f.tab->forwardCommand(kCmdRun, 0);
    f.dialog(kStepTmp).procedure(platform::WM_GRAPH_NOTIFY, 0, 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"toggle", "run", "toggle"}));
    stpData<StepDataBlock>(f.page(kStepTmp))->toggleDisabled = true;
    EXPECT_TRUE(f.tab->isToggleDisabled());
    EXPECT_FALSE(f.tab->isRunDisabled());
}

TEST(StepTab, AWorkersDoneMessageArrivesPostedAtItsOwnPage) {
    StepTabFixture f;
    std::map<int, int> stops;
    for (int step = 0; step < kStepCount; ++step) {
        StepPage::VoidSlot framework = f.page(step).stopWorker;
        f.page(step).stopWorker = [&stops, step, framework](StepPage& page) {
            ++stops[step];
            if (framework) framework(page);
        };
    }
    f.addFile();
    f.tab->selectStep(kStepSls);  // its page starts a notifier
    ASSERT_NE(stpData<StepDataBlock>(f.page(kStepSls))->worker, nullptr);
    EXPECT_TRUE(stops.empty()) << "nothing is delivered before the event loop runs";
    for (int i = 0; i < 200 && stops[kStepSls] == 0; ++i) processEventsFor(10);
    EXPECT_EQ(stops[kStepSls], 1);
    EXPECT_EQ(stpData<StepDataBlock>(f.page(kStepSls))->worker, nullptr);

    // A job page's report reaches that page while another is current.
    f.project.currentStep = kStepSlf;
    ASSERT_TRUE(f.dialog(kStepMdc).target().post(platform::WM_STEP_WORKER_DONE, 0, 0));
    processEventsFor(50);
    EXPECT_EQ(stops[kStepMdc], 1);
    EXPECT_EQ(stops[kStepSlf], 0);
}

TEST(StepTab, TheDiscWritersProgressMovesTheExportPage) {
    StepTabFixture f;
    auto* brn = stpData<BrnData>(f.page(kStepBrn));
    QProgressBar trackBar, timeBar;
    QListWidget status;
    trackBar.setRange(0, 5);
    brn->trackBar = &trackBar;
    brn->timeBar = &timeBar;
    brn->statusList = &status;
    StepPageDialog& any = f.dialog(kStepSlf);  // whichever page gets them
    any.procedure(DISCWRITER_WM_CD_TRACK_DONE, 1, 0);
    EXPECT_EQ(timeBar.value(), 0) << "no total announced yet";
    any.procedure(DISCWRITER_WM_CD_TIME_TOTAL, 300, 0);
    any.procedure(DISCWRITER_WM_CD_TRACK_BEGIN, 3, 0);
    any.procedure(DISCWRITER_WM_CD_TIME_ELAPSED, 120, 0);
    EXPECT_EQ(timeBar.maximum(), 300);
    EXPECT_EQ(timeBar.value(), 120);
    any.procedure(DISCWRITER_WM_CD_TRACK_DONE, 3, 0);
    EXPECT_EQ(trackBar.value(), 3);
    EXPECT_EQ(timeBar.value(), 300);
    any.procedure(DISCWRITER_WM_CD_FINISHING, 0, 0);
    any.procedure(DISCWRITER_WM_CD_WRITE_DONE, 0, 0);
    ASSERT_EQ(status.count(), 3);
    EXPECT_EQ(status.item(0)->text(), "S433");
    EXPECT_EQ(status.item(1)->text(), "S433");
    EXPECT_EQ(status.item(2)->text(), "S435");
    brn->trackBar = brn->timeBar = nullptr;
    brn->statusList = nullptr;
}

TEST(StepTab, TheHeaderLinkOpensOnceUntilItsGuardRunsOut) {
    StepTabFixture f;
    StepPageDialog& slf = f.dialog(kStepSlf);
    f.tabs.show();
    f.tab->layoutPages();
    processEventsFor(20);
    slf.grab();  // paints the header, which places the link
    const QRect link = f.tab->linkRect;
    ASSERT_FALSE(link.isEmpty());
    QTest::mouseMove(&slf, QPoint(2, 2));
    EXPECT_FALSE(f.tab->linkHover);
    QTest::mouseMove(&slf, link.center());
    EXPECT_TRUE(f.tab->linkHover);
    EXPECT_EQ(slf.cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(&slf, Qt::LeftButton, {}, link.center());
    QTest::mouseClick(&slf, Qt::LeftButton, {}, link.center());
    EXPECT_EQ(f.linksOpened, 1);
    processEventsFor(f.tab->linkGuardMs + 100);
    QTest::mouseClick(&slf, Qt::LeftButton, {}, link.center());
    EXPECT_EQ(f.linksOpened, 2);

    // A page that takes the pointer itself keeps the link out of it.
    f.page(kStepSlf).onSetCursor = [](StepPage&, int) { return 1; };
    processEventsFor(f.tab->linkGuardMs + 100);
    QTest::mouseClick(&slf, Qt::LeftButton, {}, link.center());
    EXPECT_EQ(f.linksOpened, 2);
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

class StepTabInWindow : public ShellFixture {};

TEST_F(StepTabInWindow, ThePagesStandInTheMainWindowWithTheirHeaders) {
    Project& project = *app().project;
    StepPages services;
    for (int step = 0; step < kStepCount; ++step) services.stpInitPage(*project.stepPages[step], StepCategory(step));
    StepTab& tab = appInstallStepTab(window());
    tab.openLink = [](const QUrl&) {};
    EXPECT_EQ(&window().stepHost(), static_cast<StepHost*>(&tab));
    EXPECT_NE(stpPageHost(), nullptr);
    EXPECT_EQ(window().stepTab()->tabText(0).toStdString(), app().stringModule->string(284));
    EXPECT_EQ(project.stepPages[0]->title, "Start");

    window().show();
    tab.layoutPages();
    processEventsFor(50);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window(), "main_window_step_tab_start").empty());
    for (int step = 0; step < kStepCount; ++step) {
        project.currentStep = step;
        tab.layoutPages();
        processEventsFor(10);
        const std::string name = "step_page_" + std::to_string(step + 1) + "_" + std::string(stpCategoryCode(step));
        EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*window().stepTab(), name).empty());
    }
    project.currentStep = -1;
    app().stopAllThreads();
}

}  // namespace
}  // namespace qvp3
