#include "shell_fixture.h"

#include <QApplication>

#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/help.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

// The project-data dialog answered with the title the test gives.
class TestDialogs : public ShellDialogs {
public:
    explicit TestDialogs(std::string* title) : title_(title) {}
    bool projectData(ProjectData& data, int mode) override {
        if (title_->empty()) return false;
        data.ProjectTitle = *title_;
        if (mode == ProjectData::kModeNew) {
            data.ProjectFolder = g_appState->projectsRoot / *title_;
            fs::create_directories(data.ProjectFolder);
        }
        return true;
    }

private:
    std::string* title_;
};

std::string g_nextTitle;

}  // namespace

void ShellFixture::newProject(const std::string& title) {
    g_nextTitle = title;
    window().runCommand(cmd::kNewProject);
    g_nextTitle.clear();
}

void ShellFixture::addFiles(const std::vector<fs::path>& files) {
    chooserAnswer = files;
    window().runCommand(cmd::kAddFiles);
    chooserAnswer.clear();
}

std::vector<fs::path> ShellFixture::fixtureFiles() {
    const fs::path source = fs::path(QVP3_PROGRAM_DIR) / "data" / "projects" / "Sample";
    const fs::path folder = home / "sources";
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (const char* name : {"piano.xml", "canon.xml", "two_hands.mid"}) {
        fs::copy_file(source / name, folder / name, fs::copy_options::overwrite_existing);
        files.push_back(folder / name);
    }
    return files;
}

void ShellFixture::makeApp(int language) {
    if (window_) TearDown();
    static int counter = 0;
    home = qvp3ui::testing::testHome() / ("case" + std::to_string(++counter));
    fs::create_directories(home / "data");
    g_appState = new AppState(QVP3_PROGRAM_DIR, language < 0 ? 1 : language);
    AppState& a = *g_appState;
    if (language < 0) {
        a.stringModule = std::make_unique<qvp3ui::LanguageModule>(qvp3ui::LanguageModule::testTable());
    } else {
        a.stringModule = std::make_unique<qvp3ui::LanguageModule>(*qvp3ui::LanguageModule::load(QVP3_PROGRAM_DIR, language));
    }
    qvp3ui::setLanguage(a.stringModule.get());
    a.programTitle = a.stringModule->string(102);
    qvp3ui::setProgramTitle(a.programTitle);
    a.dataFolder = home / "data";
    a.projectsRoot = a.dataFolder / "Projects";
    fs::create_directories(a.projectsRoot);
    a.recentFiles = std::make_unique<RecentFileList>(a.dataFolder);
    a.outputDevices->midiOuts.clear();
    a.outputDevices->AddMidiOut("Capture", 0, 0);
    qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& r) {
        boxes.push_back(r);
        return r.kind == qvp3ui::BoxKind::Question ? nextAnswer : kIdOk;
    });
    setFileDialogResponder([this](const FileDialogRequest& r) {
        choosers.push_back(r);
        return chooserAnswer;
    });
    setHelpOpener([this](const QUrl& url) {
        helpOpened.push_back(url.fileName().toStdString() + "#" + url.fragment().toStdString());
        return true;
    });
    window_ = std::make_unique<MainWindow>(a);
    window_->setDialogs(std::make_unique<TestDialogs>(&g_nextTitle));
    a.mainWindow = window_.get();
    a.mainTarget = &window_->target();
    window_->resize(1280, 860);
}

void ShellFixture::TearDown() {
    if (g_appState) {
        g_appState->stopAllThreads();
        g_appState->mainTarget = nullptr;
    }
    window_.reset();
    delete g_appState;
    g_appState = nullptr;
    qvp3ui::setLanguage(nullptr);
    qvp3ui::setBoxResponder({});
    setFileDialogResponder({});
    setHelpOpener({});
    QApplication::processEvents();
}

}  // namespace qvp3
