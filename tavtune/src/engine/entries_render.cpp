// Entry points of rendering the open score to a Standard MIDI File and of
// the play switches (dynamics, articulation, trills) kept in INI sections.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/intro.h"
#include "engine/switches.h"
#include "engine/time_map.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "play/play_proc.h"
#include "play/render_output.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;
namespace fs = std::filesystem;

// Turns the player's progress reports (the seconds of music rendered) into
// percent messages posted to the host: 0 at the start, then as the render
// moves through the play time (at most 99), 100 once the file is in place.
class ProgressRelay : public platform::MessageTarget {
public:
    ProgressRelay(platform::MessageTarget* host, platform::MessageId message, double playTimeMs)
        : host_(host), message_(message), playTimeMs_(playTimeMs) {}
    bool post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        if (msg == platform::WM_MXML_PROGRESS && wParam == scoreconv::kProgressSeconds && playTimeMs_ > 0.0) {
            const double done = static_cast<double>(lParam) * 1000.0 * 100.0 / playTimeMs_;
            percent(static_cast<int>(std::clamp(done, 0.0, 99.0)));
        }
        return true;
    }
    platform::LResult send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        return post(msg, wParam, lParam) ? 1 : 0;
    }
    void percent(int value) {
        value = std::clamp(value, 0, 100);
        if (host_ == nullptr || value <= last_) return;
        last_ = value;
        host_->post(message_, static_cast<platform::WParam>(value), 0);
    }

private:
    platform::MessageTarget* host_;
    platform::MessageId message_;
    double playTimeMs_;
    int last_ = -1;
};

// A new empty file beside target, for the render to fill; empty path when none can be made.
fs::path scratchBeside(const fs::path& target) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    return platform::makeTempFileName(folder, "tvt").value_or(fs::path());
}

int render(OpenScore& score, const fs::path& target, Engine& e) {
    scoreconv::PlayScore& m = score.model();
    if (m.worker.running()) return TAVTUNE_NOT_HANDLED;
    // Never over the score itself, under whatever name.
    std::error_code ec;
    if (scoreconv::renderTargetIsSource(m, target) || (fs::exists(target, ec) && fs::equivalent(target, score.path(), ec))) {
        return TAVTUNE_NOT_HANDLED;
    }
    const fs::path scratch = scratchBeside(target);
    if (scratch.empty()) return TAVTUNE_NOT_HANDLED;

    // The render's progress counts the music's seconds; the intro is written at once.
    ProgressRelay relay(e.progressWindow, e.progressMessage, scorePlayTimeMs(score) - TimeMap(score).introMs());
    platform::MessageTarget* relayTarget = &relay;
    platform::MessageTarget** savedWindow = m.progressWindow;
    const std::uint8_t savedPosted = m.progressPosted;
    m.setCallbackWindow(&relayTarget, false);
    relay.percent(0);
    applySwitches(e, m);
    applySwitchOptions(e, m);
    int result = 0;
    int state = 0;
    scoreconv::CPlayParams params;
    params.targetPath = scratch.string();
    params.result = &result;
    params.state = &state;
    // The intro and the bar of clicks go into the file along with the music.
    std::unique_ptr<IntroPlayer> intro;
    scoreconv::CPlayEnvironment env;
    if (score.intro.any()) {
        intro = std::make_unique<IntroPlayer>(introSettingOf(score));
        env.companion = intro.get();
    }
    int rc = 0;
    {
        const scoreconv::PlayScore::ModeScope mode(m, scoreconv::kModeRender);
        rc = scoreconv::runPlayPass(m, params, env);
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
    takeSwitches(e, static_cast<int>(kind), ini.readSection(name));
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
