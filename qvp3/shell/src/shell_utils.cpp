#include "qvp3_shell/shell_utils.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#include "infokit/infokit.h"
#include "platform/files.h"
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

bool scDeleteToRecycleBin(const fs::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.moveToTrash();
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

void appCheckEditorChanges(MainWindow& window) {
    AppState& app = window.app();
    app.editorWatchActive = false;
    app.editorThreadId = 0;
    std::error_code ec;
    if (!app.editorProjectCopy.empty()) fs::remove(app.editorProjectCopy, ec);
    app.editorProjectCopy.clear();
}

}  // namespace qvp3
