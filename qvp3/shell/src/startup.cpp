#include "qvp3_shell/startup.h"

#include <QApplication>
#include <QScreen>
#include <QSplashScreen>

#include <cstdio>

#include "infokit/infokit.h"
#include "platform/files.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/keyboard_filter.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_shell/shell_neighbour.h"
#include "qvp3_shell/shell_utils.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kEngineSetModifiedTarget = 130;

std::vector<WindowExtension>& extensions() {
    static std::vector<WindowExtension> list;
    return list;
}

void splashStatus(QSplashScreen* splash, int id) {
    if (!splash) return;
    splash->showMessage(QString::fromStdString(qvp3ui::uiString(id)), Qt::AlignCenter);
    QApplication::processEvents();
}

// The data folder, its profile folder and the projects folder; a new
// projects folder gets the sample projects that ship with the program.
void makeDataFolders(AppState& app) {
    std::error_code ec;
    app.dataFolder = platform::documentsFolder() / app.stringModule->string(100);
    fs::create_directories(app.dataFolder / app.stringModule->string(72), ec);
    app.projectsRoot = app.dataFolder / app.stringModule->string(105);
    if (fs::exists(app.projectsRoot, ec)) return;
    if (!fs::create_directories(app.projectsRoot, ec)) {
        qvp3ui::appWarningBox(71);
        return;
    }
    const fs::path samples = app.programFolder / "data" / "projects";
    fs::copy(samples, app.projectsRoot, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
    appClearReadOnlyTree(app.projectsRoot);
}

std::unique_ptr<MainWindow> createMainWindow(AppState& app, QSplashScreen* splash) {
    cnvCdInit(*app.discwriter, app.programFolder);
    if (!app.outputDevices->EnumMidiRenderers()) return nullptr;
    app.outputDevices->EnumAudioOuts();
    app.outputDevices->LoadOutputFlags();
    splashStatus(splash, 458);
    auto window = std::make_unique<MainWindow>(app);
    app.mainWindow = window.get();
    app.mainTarget = &window->target();
    if (app.outputDevices->catalog) {
        app.samplePlayer =
            std::make_unique<CSamplePlayer>(*app.outputDevices->catalog, app.mainTarget, app.shellServices.get());
        app.audioServices->setSamplePlayer(app.samplePlayer.get());
    }
    // The engine tells the window when its settings change.
    app.tavtune->call(kEngineSetModifiedTarget, app.mainTarget, platform::WM_ENGINE_MODIFIED);
    qvp3ui::setBoxOwner(window.get());
    // The work area first: without a window manager "maximised" means nothing.
    if (QScreen* screen = window->screen()) window->setGeometry(screen->availableGeometry());
    window->showMaximized();
    return window;
}

}  // namespace

void appAddWindowExtension(WindowExtension extension) { extensions().push_back(std::move(extension)); }

CommandLine appParseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc >= 2 && argv[1] && argv[1][0] != '\0') line.startProject = fs::absolute(argv[1]);
    return line;
}

std::unique_ptr<MainWindow> appStartUp(const CommandLine& line, const fs::path& programFolder, int& exitCode) {
    exitCode = 0;
    std::error_code ec;
    fs::current_path(programFolder, ec);
    platform::SettingsStore languageStore;
    const int language = audRegGetLanguage(languageStore);
    g_appState = new AppState(programFolder, language);
    AppState& app = *g_appState;
    std::optional<qvp3ui::LanguageModule> module = qvp3ui::LanguageModule::load(programFolder, language);
    if (!module) {
        std::fprintf(stderr, "qvp3: no language table (%s) in %s\n", qvp3ui::languageFileName(language).data(),
                     programFolder.c_str());
        exitCode = kExitNoLanguage;
        return nullptr;
    }
    app.stringModule = std::make_unique<qvp3ui::LanguageModule>(std::move(*module));
    qvp3ui::setLanguage(app.stringModule.get());
    makeDataFolders(app);
    app.recentFiles = std::make_unique<RecentFileList>(app.dataFolder);
    app.programTitle = app.stringModule->string(102);
    qvp3ui::setProgramTitle(app.programTitle);
    LoadRegistrySettings(app);
    app.outputDevices->catalog->EnumSoftSynths();
    auto splash = std::make_unique<QSplashScreen>(QPixmap(480, 200));
    splash->show();
    splashStatus(splash.get(), 456);
    app.timidity.dataFolder = app.dataFolder;
    cnvWriteTimidityConfig(app.timidity, programFolder, false);
    std::unique_ptr<MainWindow> window = createMainWindow(app, splash.get());
    if (!window) {
        exitCode = kExitNoWindow;
        return nullptr;
    }
    installKeyboardFilter(*window);
    for (const WindowExtension& extend : extensions()) extend(*window);
    if (!line.startProject.empty()) {
        app.project->filePath = line.startProject;
        app.openFileAtStart = true;
    }
    splashStatus(splash.get(), 459);
    // The built-in synthesizer is always there; without any MIDI output the
    // program cannot play at all. A machine without a sound card still plays
    // through the synthesizer, so audio outputs are not required.
    if (app.outputDevices->midiOutCount() == 0) {
        splash.reset();
        qvp3ui::appWarningBox(126);
        exitCode = kExitNoMidiOutput;
        return nullptr;
    }
    splashStatus(splash.get(), 460);
    app.outputDevices->catalog->LoadReverbEffect();
    app.versionId = std::string(kVersionId);
    splash->finish(window.get());
    return window;
}

void appOpenStartProject(MainWindow& window, const CommandLine& line) {
    AppState& app = window.app();
    platform::SettingsKey key = app.settings().openKey(platform::Hive::User, platform::kProgramSettingsKey);
    const std::optional<std::uint32_t> how = key ? key.readDword("HowToStart") : std::nullopt;
    const bool welcome = !how || *how == 1;
    if (!line.startProject.empty()) {
        if (!window.listHost().openProject(line.startProject, true, -2, true))
            qvp3ui::appWarningBox(0, line.startProject.string());
    } else if (welcome) {
        window.dialogs().welcome();
    } else if (app.howToStart == 2 && !app.lastProject.empty()) {
        window.listHost().openProject(app.lastProject, true, -2, true);
    }
    window.refreshAll();
    setmainwindow(&window);
    uplift_checkupdate_ex(57, 0);
}

void appShutDown(std::unique_ptr<MainWindow> window) {
    if (g_appState) {
        g_appState->stopAllThreads();
        g_appState->audioServices->setSamplePlayer(nullptr);
        g_appState->samplePlayer.reset();  // it reports to the window that goes now
        g_appState->tavtune->call(kEngineSetModifiedTarget, nullptr, 0);
        g_appState->mainTarget = nullptr;
    }
    setmainwindow(nullptr);
    qvp3ui::setBoxOwner(nullptr);
    extensions().clear();
    window.reset();
    if (g_appState) {
        g_appState->discwriter->Release();
        qvp3ui::setLanguage(nullptr);
        delete g_appState;
        g_appState = nullptr;
    }
}

int qvp3Main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setApplicationName("qvp3");
    const CommandLine line = appParseCommandLine(argc, argv);
    int exitCode = 0;
    std::unique_ptr<MainWindow> window = appStartUp(line, platform::programFolder(), exitCode);
    if (!window) {
        appShutDown(nullptr);
        return exitCode;
    }
    appOpenStartProject(*window, line);
    const int result = QApplication::exec();
    appShutDown(std::move(window));
    return result;
}

}  // namespace qvp3
