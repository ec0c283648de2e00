// The online update's exports: the check, its settings dialog and its values.
#include <QApplication>

#include "diag_log.h"
#include "export_text.h"
#include "exports_shared.h"
#include "qt_text.h"
#include "string_table.h"
#include "update_checker.h"
#include "update_dialogs.h"
#include "update_settings_dialog.h"

using namespace infokit;
using namespace infokit::exports;

namespace {

UpdateHost updateHost() {
    const InfoKitState& st = state();
    UpdateHost host;
    host.displayName = std::string(st.product().displayName);
    host.versionText = std::string(st.product().versionText);
    host.productCode = std::string(st.product().code);
    host.productIndex = st.productIndex;
    host.language = st.language;
    host.hostPath = st.hostPath;
    host.hostProcessId = st.hostProcessId;
    host.programKey = st.programKey;
    host.window = reinterpret_cast<std::uintptr_t>(st.mainWindow);
    return host;
}

UpdateEnvironment updateEnvironment(RegistryWriter* writer) {
    UpdateEnvironment env;
    env.store = &settingsStore();
    env.registryWriter = writer;
    env.serverUrl = state().serverUrl;
    env.log = [](const std::string& line) { hostLog().print(line); };
    return env;
}

// An interface for the exports that may need to tell the user something; a
// host without a QApplication gets no windows and no answers (every question
// is answered No).
class NoWindowsUi : public UpdateUi {
public:
    Answer askWithDontAsk(const std::string&, const std::string&) override { return {}; }
    bool askYesNo(const std::string&, const std::string&) override { return false; }
    void message(const std::string& text, const std::string&, MessageIcon) override { hostLog().print(text); }
    void setSearching(bool, const std::string&) override {}
    void showNewVersion(const std::string&, const std::string&, const std::string&) override {}
    bool showOnlyFull(const std::string&, const std::string&, const std::string&) override { return false; }
    bool runDownload(const std::string&, const std::string&, DownloadJob) override { return false; }
};

std::unique_ptr<UpdateUi> makeUi(QWidget* owner) {
    if (QApplication::instance() == nullptr) return std::make_unique<NoWindowsUi>();
    return std::make_unique<QtUpdateUi>(state().language, hostLog(), owner);
}

QWidget* mainWindow() { return static_cast<QWidget*>(state().mainWindow); }

bool backupAvailable(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) && !std::filesystem::is_empty(folder, ec);
}

// OK of the settings dialog: store the choices, then look now or restore.
void applySettings(const UpdateSettingsChoice& choice, int build, UpdateUi& ui) {
    const auto writer = makeRegistryWriter();
    UpdateChecker checker(updateHost(), updateEnvironment(writer.get()), ui);
    if (!UpdateSettings(settingsStore(), state().programKey).setFrequency(choice.frequency)) {
        ui.message(text(state().language, txt::kNeedAdminRights), text(state().language, txt::kUpdateTitle),
                   MessageIcon::Warning);
        return;
    }
    if (!checker.setBackup(choice.backup)) return;
    if (choice.checkNow) {
        checker.checkForced(build);
        return;
    }
    writer->stop();
    if (choice.restore) checker.restorePrevious(build);
}

}  // namespace

extern "C" {

bool uplift_checkupdate_ex(int32_t build, int32_t variant) {
    (void)variant;  // only the ordinary check is known
    if (state().isUpdater) return false;
    const auto writer = makeRegistryWriter();
    const auto ui = makeUi(mainWindow());
    return UpdateChecker(updateHost(), updateEnvironment(writer.get()), *ui).checkFromExport(build);
}

bool uplift_checkupdate(int32_t build) { return uplift_checkupdate_ex(build, 0); }

int32_t uplift_showdlg(int32_t build, ikWindow owner) {
    if (QApplication::instance() == nullptr) return 0;
    UpdateSettings settings(settingsStore(), state().programKey);
    const UpdateSettingsChoice initial{static_cast<int>(settings.frequency()), false, settings.backup(), false};
    const auto folder = state().hostFolder / kBackupFolderName;
    UpdateSettingsDialog dialog(state().language, initial, backupAvailable(folder), static_cast<QWidget*>(owner));
    if (dialog.exec() != QDialog::Accepted) return 0;
    QtUpdateUi ui(state().language, hostLog(), static_cast<QWidget*>(owner));
    applySettings(dialog.choice(), build, ui);
    return 1;
}

bool uplift_setFreq(int32_t frequency) {
    return UpdateSettings(settingsStore(), state().programKey).setFrequency(frequency);
}

bool uplift_setBackup(bool on) {
    const auto writer = makeRegistryWriter();
    const auto ui = makeUi(mainWindow());
    return UpdateChecker(updateHost(), updateEnvironment(writer.get()), *ui).setBackup(on);
}

bool uplift_getbackupW(const ikWChar* programKey) {
    const auto key = in(programKey);
    return key && UpdateSettings(settingsStore(), *key).backup();
}

bool uplift_getbackup(const char* programKey) {
    const auto key = in(programKey);
    return key && UpdateSettings(settingsStore(), *key).backup();
}

bool uplift_getbackupdirnameW(ikWChar* buffer) { return out(kBackupFolderName, buffer, INFOKIT_PATH_CHARS); }

bool uplift_getbackupdirname(char* buffer) { return out(kBackupFolderName, buffer, INFOKIT_PATH_CHARS); }

bool uplift_getbackinipathW(ikWChar* buffer) {
    return out((state().hostFolder / kBackupFolderName / kBackupIniName).string(), buffer, INFOKIT_PATH_CHARS);
}

bool uplift_getbackinipath(char* buffer) {
    return out((state().hostFolder / kBackupFolderName / kBackupIniName).string(), buffer, INFOKIT_PATH_CHARS);
}

bool setupliftdateW(const ikWChar* programKey) {
    const auto key = in(programKey);
    return key && UpdateSettings(settingsStore(), *key).setLastCheck(dateOf(std::chrono::system_clock::now()));
}

bool setupliftdate(const char* programKey) {
    const auto key = in(programKey);
    return key && UpdateSettings(settingsStore(), *key).setLastCheck(dateOf(std::chrono::system_clock::now()));
}

bool uplift_setserverurlW(const ikWChar* url) {
    const auto text = in(url);
    return text && uplift_setserverurl(text->c_str());
}

bool uplift_setserverurl(const char* url) {
    const auto text = in(url);
    if (!text || text->size() > 2048) return false;
    state().serverUrl = *text;
    return true;
}

}  // extern "C"
