#include "qvp3_shell/shell_utils.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#include <cstdlib>

#include "infokit/infokit.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "qvp3_project/step_changes.h"
#include "platform/text.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/string_ids.h"

namespace qvp3 {

namespace fs = std::filesystem;

int appCompareFileNames(const fs::path& a, const fs::path& b) {
    const QString x = QString::fromStdString(a.filename().string());
    const QString y = QString::fromStdString(b.filename().string());
    return x.compare(y, Qt::CaseInsensitive);
}

void appSplitFileName(const fs::path& path, std::string& name, std::string& extension) {
    const fs::path file = path.filename();
    name = file.stem().string();
    extension = file.has_extension() ? file.extension().string().substr(1) : std::string();
}

bool appIsTransportControl(const QWidget& widget) {
    switch (qvp3ui::controlId(widget)) {
    case cmd::kPlay: case cmd::kStop: case cmd::kBack: case cmd::kForward:
    case ctl::kPositionSlider: case ctl::kMidiOutList:
        return true;
    default:
        return false;
    }
}

bool appIsProfileBarControl(const QWidget& widget) {
    for (const QWidget* w = &widget; w; w = w->parentWidget()) {
        const int id = qvp3ui::controlId(*w);
        if (id == ctl::kProfileList || id == ctl::kProfileToolbar) return true;
    }
    return false;
}

bool appPathInside(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    if (ec) return false;
    const fs::path root = fs::weakly_canonical(folder, ec);
    if (ec || root.empty()) return false;
    auto [rootEnd, at] = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
    return rootEnd == root.end() && at != real.end();
}

bool appDeleteConvertedFiles(std::string_view extension, const fs::path& folder, std::string_view title) {
    if (folder.empty() || extension.empty()) return true;
    const bool mp3 = platform::equalsNoCase(extension, "mp3");
    // An empty title is held by every name: it must select nothing.
    if (mp3 && title.empty()) return true;
    bool ok = true;
    for (const fs::path& file : platform::listFiles(folder, "*." + std::string(extension))) {
        const std::string name = file.filename().string();
        const bool ours = mp3 ? platform::fileNameContains(name, title) : platform::fileNameContains(name, "_qvpcnv");
        if (!ours || !appPathInside(file, folder)) continue;
        std::error_code ec;
        if (!fs::remove(file, ec)) ok = false;
    }
    return ok;
}

bool appDeleteProjectOutput(const fs::path& folder, std::string_view title) {
    bool ok = appDeleteConvertedFiles("mid", folder, title);
    ok = appDeleteConvertedFiles("wav", folder, title) && ok;
    ok = appDeleteConvertedFiles("mp3", folder, title) && ok;
    // Scores converted from MusicXML sit beside their source as "<source>.xml.tvrx".
    for (const fs::path& file : platform::listFiles(folder, "*.xml.tvrx")) {
        std::error_code ec;
        if (appPathInside(file, folder) && fs::exists(fs::path(file).replace_extension(), ec) && !fs::remove(file, ec))
            ok = false;
    }
    return ok;
}

bool appClearReadOnlyTree(const fs::path& folder) {
    std::error_code ec;
    bool ok = true;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_symlink(ec)) continue;
        fs::permissions(it->path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
        if (ec) ok = false;
        ec.clear();
    }
    return ok && !ec;
}

namespace {

// The user's trash as the desktop keeps it: $XDG_DATA_HOME/Trash (by
// default ~/.local/share/Trash) with its "files" and "info" folders.
fs::path homeTrash() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/') return fs::path(data) / "Trash";
    const char* home = std::getenv("HOME");
    return home && *home ? fs::path(home) / ".local" / "share" / "Trash" : fs::path();
}

// Claims a free name in the trash by creating its ".trashinfo" file; the
// name, or nothing.
std::optional<std::string> claimTrashName(const fs::path& trash, const fs::path& original) {
    const std::string base = original.filename().string();
    const QByteArray encoded = QUrl::toPercentEncoding(QString::fromStdString(original.string()), "/");
    const QByteArray date = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    for (int n = 1; n < 10000; ++n) {
        const std::string name = n == 1 ? base : base + "." + std::to_string(n);
        std::error_code ec;
        if (fs::exists(trash / "files" / name, ec)) continue;
        QFile info(QString::fromStdString((trash / "info" / (name + ".trashinfo")).string()));
        if (!info.open(QIODevice::WriteOnly | QIODevice::NewOnly)) continue;
        info.write("[Trash Info]\nPath=" + encoded + "\nDeletionDate=" + date + "\n");
        info.close();
        return name;
    }
    return std::nullopt;
}

}  // namespace

bool scDeleteToRecycleBin(const fs::path& path) {
    std::error_code ec;
    const fs::path original = fs::absolute(path, ec);
    const fs::path trash = homeTrash();
    if (ec || trash.empty() || !fs::exists(fs::symlink_status(original, ec))) return false;
    fs::create_directories(trash / "files", ec);
    fs::create_directories(trash / "info", ec);
    fs::permissions(trash, fs::perms::owner_all, fs::perm_options::replace, ec);
    const std::optional<std::string> name = claimTrashName(trash, original);
    if (!name) return false;
    // Only a move within the file system: a file is never copied and deleted.
    fs::rename(original, trash / "files" / *name, ec);
    if (ec) {
        fs::remove(trash / "info" / (*name + ".trashinfo"), ec);
        return false;
    }
    return true;
}

bool appOpenFolder(const fs::path& folder) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

bool appStartProgram(const fs::path& program, const std::vector<std::string>& arguments, std::string_view displayName) {
    const QFileInfo info(QString::fromStdString(program.string()));
    if (program.empty() || !info.isFile() || !info.isExecutable()) {
        qvp3ui::appWarningBox(0, qvp3ui::language()
                                     ? qvp3ui::language()->format(qvp3ui::kStrNotInstalled, {displayName})
                                     : std::string(displayName));
        return false;
    }
    QStringList args;
    for (const std::string& a : arguments) args << QString::fromStdString(a);
    return QProcess::startDetached(info.absoluteFilePath(), args);
}

std::optional<fs::path> appNotationProgram(platform::SettingsStore& store, int& missingString) {
    constexpr std::string_view kNotationKey = "software\\Tavrena-software\\Tavrena";
    platform::SettingsKey user = store.openKey(platform::Hive::User, kNotationKey);
    platform::SettingsKey machine = store.openKey(platform::Hive::Machine, kNotationKey);
    if (!user && !machine) {
        missingString = 190;
        return std::nullopt;
    }
    std::optional<std::string> version = user ? user.readString("CurrentVersion") : std::nullopt;
    if (!version && machine) version = machine.readString("CurrentVersion");
    missingString = 225;
    if (!version) return std::nullopt;
    const std::string sub = std::string(kNotationKey) + "\\" + *version;
    for (platform::Hive hive : {platform::Hive::User, platform::Hive::Machine}) {
        platform::SettingsKey key = store.openKey(hive, sub);
        if (std::optional<std::string> exe = key ? key.readString("ExePath") : std::nullopt) return fs::path(*exe);
    }
    return std::nullopt;
}

bool appOpenInNotationProgram(platform::SettingsStore& store, const fs::path& file) {
    int missing = 0;
    const std::optional<fs::path> program = appNotationProgram(store, missing);
    const QFileInfo info(QString::fromStdString(program.value_or(fs::path()).string()));
    if (!program || !info.isExecutable() ||
        !QProcess::startDetached(info.absoluteFilePath(), {QString::fromStdString(file.string())})) {
        qvp3ui::appWarningBox(231);
        return false;
    }
    return true;
}

void appShowAboutBox(MainWindow& window) {
    const AppState& app = window.app();
    info_setcopyrighttext("(c) Tavrena-software");
    info_seturlupdate("https://www.tavrena-software.example/update");
    std::string versions = "Programmdateien:\r\n";
    for (const char* file : {"qvp3", "libscoreconv.so", "libdiscwriter.so", "libtavtune.so", "libinfokit.so", "infokitreg"}) {
        versions += std::string(file) + "\tVersion " + std::string(kVersionId) + "\r\n";
    }
    info_setfileversionstext(versions.c_str());
    const std::string name = "Tavrena Orvendo " + app.versionId;
    showinfobox(name.c_str(), "Tavrena-software", &window);
}

void appShowUpdateSettings(MainWindow& window) { uplift_showdlg(57, &window); }

bool appStepWorkerDone(MainWindow& window) {
    QAction* toggle = window.action(cmd::kToggle);
    toggle->setEnabled(false);
    const bool ok = prjComputePlayTimes(*window.app().project);
    if (!ok) qvp3ui::appWarningBox(15);
    window.listHost().refreshFileList();
    window.listHost().refreshListArea();
    window.updateCommands();
    return ok;
}

namespace {

// Ends the watch: the project copy goes.
void endEditorWatch(AppState& app) {
    app.editorWatchActive = false;
    app.editorThreadId = 0;
    app.editorFileTimes.clear();
    std::error_code ec;
    if (!app.editorProjectCopy.empty()) fs::remove(app.editorProjectCopy, ec);
    app.editorProjectCopy.clear();
}

// The first file the editor changed, or -1.
int firstChangedFile(const AppState& app) {
    for (std::size_t i = 0; i < app.editorFileTimes.size(); ++i) {
        const auto& [file, time] = app.editorFileTimes[i];
        if (platform::fileTimeOf(file).value_or(0) != time) return static_cast<int>(i);
    }
    return -1;
}

// Takes the project back from its copy, which holds it as it was when the
// editor started; the project keeps its own file path.
bool reloadFromEditorCopy(MainWindow& window) {
    AppState& app = window.app();
    const fs::path ownFile = app.project->filePath;
    if (!window.listHost().openProject(app.editorProjectCopy, false, app.project->currentStep, true)) return false;
    app.project->filePath = ownFile;
    app.project->data.ProjectFolder = ownFile.parent_path();
    return true;
}

}  // namespace

void appCheckEditorChanges(MainWindow& window) {
    AppState& app = window.app();
    if (!app.editorWatchActive || app.project->fileNum() == 0) {
        endEditorWatch(app);
        return;
    }
    if (!fs::exists(app.editorProjectCopy)) {
        qvp3ui::appInfoBox(129);
        return;  // the watch stays
    }
    if (firstChangedFile(app) >= 0) {
        qvp3ui::appQuestionBox(130, {}, kMbYesNo);
        app.project->convertedMidiCount = 0;
        app.project->convertedWaveCount = 0;
        if (!reloadFromEditorCopy(window)) {
            qvp3ui::appWarningBox(129);
        } else if (qvp3ui::appQuestionBox(132, {}, kMbYesNo) == kIdYes) {
            if (app.project->filePath.empty())
                app.project->filePath = app.projectFolder / (app.project->data.ProjectTitle + ".c-1");
            app.project->saved = 0;  // it changed outside the program
            window.runCommand(cmd::kSave);
        } else {
            app.project->saved = 0;
        }
        window.refreshAll();
    }
    endEditorWatch(app);
}

}  // namespace qvp3
