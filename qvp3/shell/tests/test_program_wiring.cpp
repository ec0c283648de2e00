// The program as it starts: the real start-up with the program's own file
// list, step pages and dialogs in its main window, driven through the
// window's commands and dialogs as a user drives them.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QHeaderView>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "platform/ini_file.h"
#include "platform/midi_out.h"
#include "platform/settings_store.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/app_wiring.h"
#include "qvp3_shell/choosers.h"
#include "qvp3_shell/file_list_host.h"
#include "qvp3_shell/help.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/startup.h"
#include "qvp3_shell/step_tab.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using qvp3ui::testing::processEventsFor;

// Answers the next modal dialog once it is up, as a user would.
void whenModal(std::function<void(QDialog&)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        timer->deleteLater();
        answer(*dialog);
    });
    timer->start();
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        home = qvp3ui::testing::testHome() / ("program" + std::to_string(++n));
        fs::create_directories(home / "Documents");
        ::setenv("XDG_DOCUMENTS_DIR", (home / "Documents").c_str(), 1);
        ::setenv("QVP3_CONFIG_HOME", (home / "config").c_str(), 1);
        platform::SettingsStore store;
        store.createKey(platform::Hive::Machine, platform::kProgramSettingsKey).writeDword("Language", 6);
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& r) {
            boxes.push_back(r);
            return r.kind == qvp3ui::BoxKind::Question ? kIdYes : kIdOk;
        });
        setFileDialogResponder([this](const FileDialogRequest&) { return chooserAnswer; });
        setHelpOpener([this](const QUrl& url) {
            helpOpened.push_back(url.fileName().toStdString());
            return true;
        });
        appAddWindowExtension(appWireMainWindow);
    }
    void TearDown() override {
        if (window) appShutDown(std::move(window));
        qvp3ui::setBoxResponder({});
        setFileDialogResponder({});
        setHelpOpener({});
        ::setenv("XDG_DOCUMENTS_DIR", (qvp3ui::testing::testHome() / "Documents").c_str(), 1);
        ::setenv("QVP3_CONFIG_HOME", (qvp3ui::testing::testHome() / "config").c_str(), 1);
    }
    void start(std::optional<std::uint32_t> howToStart) {
        platform::SettingsStore store;
        platform::SettingsKey key = store.createKey(platform::Hive::User, platform::kProgramSettingsKey);
        if (howToStart) key.writeDword("HowToStart", *howToStart);
        int code = -1;
        window = appStartUp({}, QVP3_PROGRAM_DIR, code);
        ASSERT_TRUE(window) << code;
        // The size of a desktop's work area, which the offscreen screen is smaller than.
        window->showNormal();
        window->resize(1280, 860);
    }
    AppState& app() { return *g_appState; }
    Project& project() { return *app().project; }
    QAbstractItemModel& list() { return *window->fileList()->model(); }
    std::vector<std::string> shownFiles() {
        std::vector<std::string> rows;
        for (int row = 0; row < list().rowCount(); ++row) rows.push_back(list().index(row, 0).data().toString().toStdString());
        return rows;
    }
    std::vector<std::string> entryFiles() {
        std::vector<std::string> names;
        // A MIDI file is played as it is: it has no original beside its copy.
        for (const ProjectEntry& e : project().entries)
            names.push_back((e.FilenameOrig.empty() ? e.Filename : e.FilenameOrig).filename().string());
        return names;
    }
    void makeCurrent(int row) { window->fileList()->setCurrentIndex(list().index(row, 0)); }
    std::vector<fs::path> fixtureFiles() {
        const fs::path source = fs::path(QVP3_PROGRAM_DIR) / "data" / "projects" / "Sample";
        fs::create_directories(home / "sources");
        std::vector<fs::path> files;
        for (const char* name : {"piano.xml", "canon.xml", "two_hands.mid"}) {
            fs::copy_file(source / name, home / "sources" / name, fs::copy_options::overwrite_existing);
            files.push_back(home / "sources" / name);
        }
        return files;
    }

    fs::path home;
    std::unique_ptr<MainWindow> window;
    std::vector<qvp3ui::BoxRequest> boxes;
    std::vector<fs::path> chooserAnswer;
    std::vector<std::string> helpOpened;
};

TEST_F(ProgramTest, TheProgramsOwnPartsTakeThePlaceOfTheStandIns) {
    start(0);
    EXPECT_NE(dynamic_cast<FileListHost*>(&window->listHost()), nullptr);
    EXPECT_NE(dynamic_cast<StepTab*>(&window->stepHost()), nullptr);
    EXPECT_NE(dynamic_cast<AppShellDialogs*>(&window->dialogs()), nullptr);
    ASSERT_NE(app().stepPageServices, nullptr);
    EXPECT_EQ(&project().stepPageServices(), app().stepPageServices.get());
    // The pages name their own tabs.
    EXPECT_EQ(window->stepTab()->tabText(0).toStdString(), project().stepPages[0]->label);
    // The WAV step renders an entry whose sound is a catalogue instrument through the sample player.
    ASSERT_NE(app().samplePlayer, nullptr);
    const auto wave = stpPageHost()->waveStepSetup();
    ASSERT_TRUE(wave.has_value());
    EXPECT_NE(wave->plugIn, nullptr);
}

TEST_F(ProgramTest, AProjectGoesThroughTheWindowToItsFileAndBack) {
    start(0);
    window->show();
    // A new project in a folder of its own, through the project-data dialog.
    const fs::path folder = home / "work" / "Wired";
    whenModal([&folder](QDialog& dialog) {
        qvp3ui::findControl<QLineEdit>(dialog, 1155)->setText("Wired");
        qvp3ui::findControl<QLineEdit>(dialog, 1157)->setText(QString::fromStdString(folder.string()));
        dialog.accept();
    });
    window->runCommand(cmd::kNewProject);
    ASSERT_TRUE(app().projectOpen);
    EXPECT_EQ(project().data.ProjectFolder, folder);
    EXPECT_NE(window->windowTitle().indexOf("Wired"), -1);

    chooserAnswer = fixtureFiles();
    window->runCommand(cmd::kAddFiles);
    ASSERT_EQ(project().fileNum(), 3);
    EXPECT_EQ(entryFiles(), (std::vector<std::string>{"canon.xml", "piano.xml", "two_hands.mid"}));
    EXPECT_EQ(shownFiles().size(), 3u);

    makeCurrent(0);
    window->runCommand(cmd::kFileDown);
    EXPECT_EQ(entryFiles(), (std::vector<std::string>{"piano.xml", "canon.xml", "two_hands.mid"}));
    makeCurrent(0);
    // The remove command works on the list that has the focus.
    QApplication::setActiveWindow(window.get());
    window->fileList()->setFocus();
    window->runCommand(cmd::kRemoveFile);
    ASSERT_EQ(entryFiles(), (std::vector<std::string>{"canon.xml", "two_hands.mid"}));
    ASSERT_EQ(list().rowCount(), 2);

    // The MIDI file plays into the capture device and stops.
    platform::CaptureMidiOut capture;
    app().playback->outputForTests = &capture;
    makeCurrent(1);
    ASSERT_EQ(project().currentEntry, 1);
    window->runCommand(cmd::kPlay);
    ASSERT_TRUE(project().entries[1].isBusy());
    for (int i = 0; i < 100 && capture.count() == 0; ++i) processEventsFor(10);
    EXPECT_GT(capture.count(), 0u);
    window->runCommand(cmd::kStop);
    EXPECT_FALSE(project().entries[1].isBusy());
    app().playback->outputForTests = nullptr;

    // Every step in turn; the MIDI and WAV steps run their conversions from
    // the window, since the steps after them wait for their files.
    for (int step = 0; step < kStepCount; ++step) {
        window->runCommand(cmd::kFirstStepTab + step);
        processEventsFor(5);
        EXPECT_EQ(project().currentStep, step);
        EXPECT_EQ(window->stepTab()->currentIndex(), step);
        if (step == kStepMdc || step == kStepWvc) {
            window->runCommand(cmd::kRun);
            const int32_t& done = step == kStepMdc ? project().convertedMidiCount : project().convertedWaveCount;
            for (int i = 0; i < 3000 && done < 2; ++i) processEventsFor(10);
            EXPECT_EQ(done, 2) << "converted files of step " << step;
            auto busy = [&] {
                StepPage& page = *stpGetPage(project(), step);
                if (auto* m = stpData<MdcData>(page)) return m->job.busy();
                if (auto* w = stpData<WvcData>(page)) return w->job.busy();
                return false;
            };
            // The job ends on its own thread; the page hears it through a posted message.
            for (int i = 0; i < 300 && busy(); ++i) processEventsFor(10);
            EXPECT_FALSE(busy()) << "the job of step " << step << " ended";
        }
    }
    qvp3ui::testing::saveScreenshot(*window, "program_last_step");
    window->runCommand(cmd::kFirstStepTab);

    window->runCommand(cmd::kSave);
    const std::vector<std::string> shown = shownFiles();
    const std::vector<std::string> entries = entryFiles();
    const fs::path file = folder / "Wired.c-1";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(platform::iniGetString(file, "zq1 Project File", "ProjectTitle", ""), "Wired");
    ASSERT_EQ(platform::iniGetInt(file, "zq1 Project File", "FileNum", 0), 2);
    for (int i = 0; i < 2; ++i) {
        const std::string section = "Project File 0" + std::to_string(i + 1);
        fs::path original = platform::iniGetString(file, section, "FilenameOrig", "");
        if (original.empty()) original = platform::iniGetString(file, section, "Filename", "");
        EXPECT_EQ(original.filename().string(), entries[static_cast<std::size_t>(i)]);
        EXPECT_NE(shown[static_cast<std::size_t>(i)].find(original.stem().string()), std::string::npos)
            << shown[static_cast<std::size_t>(i)];
    }

    window->runCommand(cmd::kCloseProject);
    EXPECT_FALSE(app().projectOpen);
    EXPECT_EQ(project().fileNum(), 0);
    window->runCommand(cmd::kFirstRecent);
    ASSERT_TRUE(app().projectOpen);
    EXPECT_EQ(project().filePath, file);
    EXPECT_EQ(entryFiles(), entries);
    EXPECT_EQ(shownFiles(), shown);
    // The one question was the removal's; nothing went wrong on the way.
    for (const auto& b : boxes)
        if (b.kind != qvp3ui::BoxKind::Question) ADD_FAILURE() << "box " << b.stringId << ": " << b.text;
}

TEST_F(ProgramTest, TheSampleProjectShowsItsFilesAndTheStepTab) {
    start(0);
    // The sample copied at the first start, named on the command line.
    appOpenStartProject(*window, {app().projectsRoot / "Sample" / "Sample.c-1"});
    ASSERT_TRUE(app().projectOpen);
    EXPECT_EQ(project().fileNum(), 3);
    EXPECT_EQ(list().rowCount(), 3);
    processEventsFor(50);
    EXPECT_TRUE(window->stepTab()->isVisible());
    // The names have the room the wider list gives them.
    QTreeView& files = *window->fileList();
    ASSERT_EQ(files.header()->count(), 2);  // the pause column is shown only on request
    EXPECT_EQ(files.columnWidth(0), files.viewport()->width() * 3 / 4);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(*window, "program_sample_project").empty());
    for (const auto& b : boxes) ADD_FAILURE() << "box " << b.stringId << ": " << b.text;
}

TEST_F(ProgramTest, TheWelcomeGreetsAtStartUpAndTheSettingsDialogEditsTheProgramsFields) {
    start(std::nullopt);
    bool welcomed = false;
    whenModal([&welcomed](QDialog& dialog) {
        welcomed = true;
        dialog.reject();
    });
    appOpenStartProject(*window, {});
    EXPECT_TRUE(welcomed);

    const bool copy = app().copySourceFiles;
    struct Case {
        bool ok;
        bool copyAfter;
    };
    for (const Case& c : {Case{false, copy}, Case{true, !copy}}) {
        QWidget* active = nullptr;
        whenModal([&c, &active](QDialog& dialog) {
            // The dialog is made known when it is activated, which a busy machine may deliver a little later.
            EXPECT_TRUE(QTest::qWaitFor([] { return g_appState->modelessDialog != nullptr; }, 2000));
            active = g_appState->modelessDialog;
            // The dialog's help is the program's own.
            qvp3ui::findControl<QAbstractButton>(dialog, 9)->click();
            qvp3ui::findControl<QCheckBox>(dialog, 1006)->click();
            c.ok ? dialog.accept() : dialog.reject();
        });
        helpOpened.clear();
        window->runCommand(cmd::kSettings);
        EXPECT_EQ(app().copySourceFiles, c.copyAfter) << c.ok;
        EXPECT_NE(active, nullptr) << "the shell knows the active dialog, for F1";
        EXPECT_EQ(helpOpened.size(), 1u);
    }
    // OK stores the start behaviour at once; the rest goes with the program's settings at the end.
    platform::SettingsStore store;
    platform::SettingsKey key = store.openKey(platform::Hive::User, platform::kProgramSettingsKey);
    ASSERT_TRUE(key);
    EXPECT_EQ(key.readDword("HowToStart"), std::optional<std::uint32_t>(static_cast<std::uint32_t>(app().howToStart)));
}

}  // namespace
}  // namespace qvp3
