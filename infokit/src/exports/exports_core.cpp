// The core exports: language, product row, owner window, strings, application
// variables and the uninstall entry's version.
#include <dlfcn.h>

#include "export_text.h"
#include "exports_shared.h"
#include "string_table.h"
#include "uninstall_version.h"

using namespace infokit;
using namespace infokit::exports;

namespace infokit::exports {

std::filesystem::path libraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&libraryFolder), &info) == 0 || info.dli_fname == nullptr) return {};
    std::error_code ec;
    return std::filesystem::canonical(info.dli_fname, ec).parent_path();
}

platform::SettingsStore& settingsStore() {
    static platform::SettingsStore store;
    return store;
}

std::unique_ptr<RegistryWriterProcess> makeRegistryWriter() {
    return std::make_unique<RegistryWriterProcess>(libraryFolder() / "infokitreg", state().productIndex);
}

}  // namespace infokit::exports

namespace {

std::optional<std::string> publicString(int32_t number) {
    if (number < 500 || number > 553 || number == 530 || number == 549) return std::nullopt;
    return loadText(state().language, txt::kPublicBase + number);
}

}  // namespace

extern "C" {

int32_t setlanguage(int32_t language) {
    state().language = language;
    return language;
}

bool setprogindex(int32_t index) {
    if (index < 0 || index >= kProductRows) return false;
    state().productIndex = index;
    return true;
}

ikWindow setmainwindow(ikWindow window) {
    state().mainWindow = window;
    return window;
}

bool setprogramkeyW(const ikWChar* key) {
    const auto text = in(key);
    return text && setprogramkey(text->c_str());
}

bool setprogramkey(const char* key) {
    const auto text = in(key);
    if (!text || text->empty()) return false;
    state().programKey = *text;
    return true;
}

bool getdllstringW(int32_t number, ikWChar* buffer) {
    const auto text = publicString(number);
    return text && out(*text, buffer, INFOKIT_STRING_CHARS);
}

bool getdllstring(int32_t number, char* buffer) {
    const auto text = publicString(number);
    return text && out(*text, buffer, INFOKIT_STRING_CHARS);
}

bool getprogramnameW(ikWChar* buffer) { return out(state().product().displayName, buffer, INFOKIT_STRING_CHARS); }

bool getprogramname(char* buffer) { return out(state().product().displayName, buffer, INFOKIT_STRING_CHARS); }

bool appvar_addW(const ikWChar* name, const ikWChar* value) {
    const auto n = in(name);
    const auto v = in(value);
    return n && v && appvarAdd(state(), *n, *v);
}

bool appvar_add(const char* name, const char* value) {
    const auto n = in(name);
    const auto v = in(value);
    return n && v && appvarAdd(state(), *n, *v);
}

bool appvar_getW(const ikWChar* name, ikWChar* buffer) {
    const auto n = in(name);
    const auto value = n && buffer != nullptr ? appvarGet(state(), *n) : std::nullopt;
    return value && out(*value, buffer, INFOKIT_APPVAR_VALUE_CHARS);
}

bool appvar_get(const char* name, char* buffer) {
    const auto n = in(name);
    const auto value = n && buffer != nullptr ? appvarGet(state(), *n) : std::nullopt;
    return value && out(*value, buffer, INFOKIT_APPVAR_VALUE_CHARS);
}

bool set_program_uninstallversion(int32_t build, int32_t preferredView) {
    const auto writer = makeRegistryWriter();
    return setProgramUninstallVersion(settingsStore(), *writer, state().product(), build, preferredView);
}

}  // extern "C"
