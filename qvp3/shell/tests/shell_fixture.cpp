#include "shell_fixture.h"

#include <QApplication>

#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {

namespace fs = std::filesystem;

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
    window_ = std::make_unique<MainWindow>(a);
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
    QApplication::processEvents();
}

}  // namespace qvp3
