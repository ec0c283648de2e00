// The program's settings in the settings store (the registry of the Windows
// system): read once at start, written once when the main window goes away.
#include <charconv>

#include "platform/files.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/recent_files.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKey = platform::kProgramSettingsKey;

// The editor record "kind|path".
void readMidiEditor(AppState& app, const platform::SettingsKey& key) {
    std::optional<std::string> value = key.readString("Midi Editor");
    if (!value) {
        app.midiEditor.kind = 2;
        if (appFindRondaloInstall(app)) return;
        app.midiEditor.kind = 1;
        if (appFindRondaloInstall(app)) return;
        app.midiEditor = {};
        return;
    }
    int kind = 0;
    std::from_chars(value->data(), value->data() + value->size(), kind);
    app.midiEditor.kind = kind;
    if (kind == 3) {
        const std::size_t bar = value->find('|');
        app.midiEditor.path = bar == std::string::npos ? std::string() : value->substr(bar + 1);
        return;
    }
    appFindRondaloInstall(app);
}

std::filesystem::path readPath(const platform::SettingsKey& key, std::string_view name, const fs::path& fallback) {
    std::optional<std::string> value = key.readString(name);
    return value ? fs::path(*value) : fallback;
}

bool readFlag(const platform::SettingsKey& key, std::string_view name, bool fallback) {
    std::optional<std::uint32_t> value = key.readDword(name);
    return value ? *value == 1 : fallback;
}

}  // namespace

int audRegGetLanguage(platform::SettingsStore& store) {
    platform::SettingsKey key = store.openKey(platform::Hive::Machine, kKey);
    if (key) {
        if (std::optional<std::uint32_t> value = key.readDword("Language")) return static_cast<int>(*value);
        key.writeDword("Language", 1);
    }
    return 1;
}

bool appFindRondaloInstall(AppState& app) {
    const int kind = app.midiEditor.kind;
    if (kind != 1 && kind != 2) return true;
    const std::string_view path = kind == 1 ? "software\\qrx\\Rondalo\\3.0" : "software\\Tavrena-software\\Rondalo\\4.0";
    platform::SettingsKey key = app.settings().openKey(platform::Hive::Machine, path);
    std::optional<std::string> wndClass = key.readString("WndClass");
    std::optional<std::string> installDir = key.readString("InstallDir");
    if (!wndClass || !installDir) {
        app.midiEditor = {};
        return false;
    }
    app.midiEditor.wndClass = *wndClass;
    app.midiEditor.path = (fs::path(*installDir) / (kind == 1 ? "rondal30" : "rondal4")).string();
    return true;
}

int appCountProfileFiles(const fs::path& folder) {
    return static_cast<int>(platform::listFiles(folder, "*.qvpprof").size());
}

bool LoadRegistrySettings(AppState& app) {
    platform::SettingsKey key = app.settings().createKey(platform::Hive::User, kKey);
    app.waveConvPriority = static_cast<int>(key.readDword("WaveConvPrior(-1,0,1,2,15)").value_or(0));
    app.tavrenaFolder = readPath(key, "Tavrena folder", {});
    app.scoreFolder = readPath(key, "score folder", {});
    app.projectFolder = readPath(key, "project folder", {});
    app.profiles->profileFolder = readPath(key, "profile folder", app.dataFolder / (app.stringModule ? app.stringModule->string(72) : std::string("Profiles")));
    readMidiEditor(app, key);
    if (app.recentFiles) app.recentFiles->load(key);
    app.copySourceFiles = readFlag(key, "Copy File", true);
    app.overwriteSourceFiles = readFlag(key, "Overwrite File", true);
    app.howToStart = static_cast<int>(key.readDword("HowToStart").value_or(1));
    app.loadQvoInstruments = readFlag(key, "LoadQvoInstruments", false);
    app.profiles->profileCount = appCountProfileFiles(app.profiles->profileFolder);
    app.outputDevices->selectedMidiOut = key.readDword("SelectedMidiOut").value_or(0);
    if (std::optional<std::string> last = key.readString("LastLoadedProject")) app.lastProject = *last;
    return true;
}

void SaveRegistrySettings(AppState& app) {
    platform::SettingsKey key = app.settings().openKey(platform::Hive::User, kKey);
    if (!key) return;
    key.writeDword("WaveConvPrior(-1,0,1,2,15)", static_cast<std::uint32_t>(app.waveConvPriority));
    key.writeString("Tavrena folder", app.tavrenaFolder.string());
    key.writeString("score folder", app.scoreFolder.string());
    key.writeString("project folder", app.projectFolder.string());
    key.writeString("profile folder", app.profiles->profileFolder.string());
    const std::string editorPath = app.midiEditor.kind == 3 ? app.midiEditor.path : std::string();
    key.writeString("Midi Editor", std::to_string(app.midiEditor.kind) + "|" + editorPath);
    key.writeDword("Copy File", app.copySourceFiles ? 1 : 0);
    key.writeDword("Overwrite File", app.overwriteSourceFiles ? 1 : 0);
    key.writeDword("HowToStart", static_cast<std::uint32_t>(app.howToStart));
    key.writeDword("LoadQvoInstruments", app.loadQvoInstruments ? 1 : 0);
    key.writeDword("SelectedMidiOut", app.outputDevices->selectedMidiOut);
    key.writeString("LastLoadedProject", app.lastProject.string());
    if (app.recentFiles) app.recentFiles->save(key);
}

}  // namespace qvp3
