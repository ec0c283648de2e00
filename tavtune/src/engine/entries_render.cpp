// Entry points of rendering the open score to a Standard MIDI File and of
// the play switches (dynamics, articulation, trills) kept in INI sections.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/switches.h"
#include "platform/ini_file.h"
#include "play/play_proc.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
namespace fs = std::filesystem;

// Turns the player's progress reports into percent messages to the host.
class ProgressRelay : public platform::MessageTarget {
public:
    ProgressRelay(platform::MessageTarget* host, platform::MessageId message) : host_(host), message_(message) {}
    bool post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        if (msg != platform::WM_MXML_PROGRESS) return true;
        if (wParam == scoreconv::kProgressTotal) total_ = lParam;
        if (wParam == scoreconv::kProgressDone && total_ > 0) percent(static_cast<int>(lParam * 100 / total_));
        return true;
    }
    platform::LResult send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        return post(msg, wParam, lParam) ? 1 : 0;
    }
    void percent(int value) {
        value = std::clamp(value, 0, 100);
        if (host_ == nullptr || value <= last_) return;
        last_ = value;
        host_->send(message_, static_cast<platform::WParam>(value), 0);
    }

private:
    platform::MessageTarget* host_;
    platform::MessageId message_;
    platform::LParam total_ = 0;
    int last_ = -1;
};

// A new empty file beside target, for the render to fill; empty path when none can be made.
fs::path scratchBeside(const fs::path& target) {
    std::string pattern = target.string() + ".tvt-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) return {};
    ::close(fd);
    return pattern;
}

int render(OpenScore& score, const fs::path& target, Engine& e) {
    scoreconv::PlayScore& m = score.model();
    if (m.worker.running()) return TAVTUNE_NOT_HANDLED;
    // Never over the score itself.
    std::error_code ec;
    if (fs::exists(target, ec) && fs::equivalent(target, score.path(), ec)) return TAVTUNE_NOT_HANDLED;
    const fs::path scratch = scratchBeside(target);
    if (scratch.empty()) return TAVTUNE_NOT_HANDLED;

    ProgressRelay relay(e.progressWindow, e.progressMessage);
    platform::MessageTarget* relayTarget = &relay;
    platform::MessageTarget** savedWindow = m.progressWindow;
    const std::uint8_t savedPosted = m.progressPosted;
    m.setCallbackWindow(&relayTarget, false);
    relay.percent(0);
    applySwitchOptions(e, m);
    int result = 0;
    int state = 0;
    scoreconv::CPlayParams params;
    params.targetPath = scratch.string();
    params.result = &result;
    params.state = &state;
    int rc = 0;
    {
        const scoreconv::PlayScore::ModeScope mode(m, scoreconv::kModeRender);
        rc = scoreconv::runPlayPass(m, params);
    }
    m.setCallbackWindow(savedWindow, savedPosted != 0);
    if (rc == 0 && fs::file_size(scratch, ec) > 0 && !ec) {
        fs::rename(scratch, target, ec);
        if (!ec) {
            relay.percent(100);
            return 0;
        }
    }
    fs::remove(scratch, ec);
    return rc != 0 ? rc : TAVTUNE_NOT_HANDLED;
}

}  // namespace

// C179(path): the score with its settings as a Standard MIDI File.
template <>
tvWord entry<179>(tvWord path, tvWord, tvWord, tvWord, tvWord, tvWord) {
    const char* text = pointerArg<const char>(path);
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    OpenScore* s = e.score();
    if (s == nullptr || text == nullptr || text[0] == '\0') return TAVTUNE_NOT_HANDLED;
    return render(*s, fs::path(text), e);
}

// C169(kind, iniPath, section): the switches of kind into that section.
template <>
tvWord entry<169>(tvWord kind, tvWord path, tvWord section, tvWord, tvWord, tvWord) {
    const char* file = pointerArg<const char>(path);
    const char* name = pointerArg<const char>(section);
    if (file == nullptr || name == nullptr || !isSwitchKind(static_cast<int>(kind))) return TAVTUNE_NOT_HANDLED;
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    platform::IniDocument ini;
    const platform::IniStatus loaded = ini.load(file);
    if (loaded != platform::IniStatus::Ok && loaded != platform::IniStatus::NotFound) return TAVTUNE_NOT_HANDLED;
    ini.writeSection(name, e.switches(static_cast<int>(kind)));
    return ini.save(file) == platform::IniStatus::Ok ? 0 : TAVTUNE_NOT_HANDLED;
}

// C168(kind, iniPath, section): the switches of kind from that section;
// kind 7 (no section) names the instrument tables.
template <>
tvWord entry<168>(tvWord kind, tvWord path, tvWord section, tvWord, tvWord, tvWord) {
    const char* file = pointerArg<const char>(path);
    if (file == nullptr) return TAVTUNE_NOT_HANDLED;
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    platform::IniDocument ini;
    if (ini.load(file) != platform::IniStatus::Ok) return TAVTUNE_NOT_HANDLED;
    if (kind == kInstrumentTables) {
        e.instrumentTables = file;
        return 0;
    }
    const char* name = pointerArg<const char>(section);
    if (name == nullptr || !isSwitchKind(static_cast<int>(kind)) || !ini.hasSection(name)) return TAVTUNE_NOT_HANDLED;
    e.switches(static_cast<int>(kind)) = ini.readSection(name);
    if (OpenScore* s = e.score()) applySwitches(e, s->model());
    return 0;
}

// C135(kind, 0): the switches of kind back to their defaults.
template <>
tvWord entry<135>(tvWord kind, tvWord, tvWord, tvWord, tvWord, tvWord) {
    if (!isSwitchKind(static_cast<int>(kind))) return TAVTUNE_NOT_HANDLED;
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    e.switches(static_cast<int>(kind)) = defaultSwitches(static_cast<int>(kind));
    if (OpenScore* s = e.score()) applySwitches(e, s->model());
    return 0;
}

}  // namespace tavtune
