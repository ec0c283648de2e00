// Entry points of playing the open score in real time: start, pause, resume,
// stop, a jump to the play position, and the voices that sound. The one
// player of the score library plays on a worker thread of the score through
// the MIDI output the instrument table names, and reports its position to the
// host's window.
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/player.h"
#include "engine/switches.h"
#include "engine/time_map.h"
#include "platform/midi_devices.h"
#include "play/play_proc.h"
#include "scorecore/staff_voice_states.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

const scoreconv::CRealTimeClock* gClock = nullptr;
constexpr auto kStopWait = std::chrono::milliseconds(3000);

// The output an instrument table names: "MIDI: <device>"; the default
// output for "Default", the Windows name of the default output, or a device
// this machine does not have.
std::unique_ptr<platform::MidiOutDevice> openOutput(std::string_view table) {
    constexpr std::string_view kPrefix = "MIDI: ";
    std::string_view name = table.substr(0, kPrefix.size()) == kPrefix ? table.substr(kPrefix.size()) : table;
    if (!name.empty() && name != "Default" && name != "Microsoft MIDI Mapper") {
        if (auto named = platform::openMidiOutNamed(name)) return std::move(named.device);
    }
    auto fallback = platform::openMidiOut(platform::kDefaultMidiOut);
    return std::move(fallback.device);
}

}  // namespace

bool EnginePlayer::PositionRelay::post(platform::MessageId msg, platform::WParam wParam, platform::LParam) {
    // Position reports are the odd codes of the player's progress.
    if (msg != platform::WM_MXML_PROGRESS || (wParam & 1) == 0) return true;
    return owner.postPosition(owner.score_.codeBase + kCodePosition,
                              static_cast<platform::LParam>(owner.positionMsNow()));
}

platform::LResult EnginePlayer::PositionRelay::send(platform::MessageId msg, platform::WParam wParam,
                                                    platform::LParam lParam) {
    return post(msg, wParam, lParam) ? 1 : 0;
}

EnginePlayer::EnginePlayer(OpenScore& score) : score_(score), relay_{*this} {}

EnginePlayer::~EnginePlayer() { halt(); }

void EnginePlayer::setClockForTests(const scoreconv::CRealTimeClock* clock) { gClock = clock; }

bool EnginePlayer::postPosition(int code, platform::LParam ms) {
    platform::MessageTarget* window = score_.window;
    return window == nullptr || window->post(score_.message, static_cast<platform::WParam>(code), ms);
}

double EnginePlayer::positionMsNow() const {
    if (intro_ && !intro_->musicBegun()) return intro_->introPositionMs();
    return introMs_ + static_cast<double>(score_.model().playPositionNow()) / 10000.0;
}

int EnginePlayer::start(const std::string& table) {
    if (playing()) return 0;
    scoreconv::PlayScore& m = score_.model();
    m.worker.stop(std::chrono::milliseconds(0));  // an earlier pass that has ended
    if (m.worker.running()) return TAVTUNE_NOT_HANDLED;
    if (!device_ || table != deviceTable_) {
        device_ = openOutput(table);
        deviceTable_ = table;
    }
    if (!device_) return TAVTUNE_NOT_HANDLED;
    m.midiOut = device_.get();
    applySwitchOptions(Engine::instance(), m);
    relayTarget_ = &relay_;
    m.setCallbackWindow(&relayTarget_, true);
    // A position inside the intro plays the intro from there and the music
    // from its start; a later one goes to its place in the music.
    const TimeMap map(score_);
    introMs_ = map.introMs();
    const bool inIntro = score_.positionMs < introMs_;
    intro_.reset();
    if (score_.intro.any()) {
        IntroPlayer::Setting setting = introSettingOf(score_);
        setting.introFrom = inIntro ? static_cast<std::int64_t>(score_.positionMs / introMs_ *
                                                                static_cast<double>(score_.intro.list.length))
                                    : score_.intro.list.length;
        EnginePlayer* self = this;
        setting.reportPosition = [self](double ms) {
            self->postPosition(self->score_.codeBase + kCodePosition, static_cast<platform::LParam>(ms));
        };
        intro_ = std::make_unique<IntroPlayer>(std::move(setting));
    }
    const double musicMs = inIntro ? 0.0 : score_.positionMs - introMs_;
    m.controls.setSeekTarget(static_cast<std::int64_t>(musicMs * 10000.0));
    m.controls.setPlayMode(musicMs > 0.0 ? scoreconv::kModeFastForward : scoreconv::kModeRealTime);
    halted_.store(false);
    state_ = TAVTUNE_PLAYER_PLAYING;
    EnginePlayer* self = this;
    const bool started = m.worker.start(
        [self](platform::WorkerContext& context) {
            scoreconv::CPlayEnvironment env;
            env.clock = gClock;
            env.worker = &context;
            env.companion = self->intro_.get();
            scoreconv::CPlayParams params;
            params.state = &self->passState_;
            params.result = &self->passResult_;
            scoreconv::runPlayPass(self->score_.model(), params, env);
            // Only a pass that ran to its end tells the host; a pause or stop was the host's own.
            if (!self->halted_.load()) self->postPosition(self->score_.codeBase + kCodeStopped, 0);
        },
        platform::ThreadPriority::TimeCritical);
    if (!started) {
        state_ = TAVTUNE_PLAYER_IDLE;
        return TAVTUNE_NOT_HANDLED;
    }
    return 0;
}

bool EnginePlayer::playing() const {
    return state_ == TAVTUNE_PLAYER_PLAYING && score_.model().worker.running();
}

void EnginePlayer::halt() {
    scoreconv::PlayScore& m = score_.model();
    halted_.store(true);
    if (m.worker.running()) {
        const double reached = positionMsNow();
        m.worker.stop(kStopWait);
        score_.positionMs = reached;
    }
    m.worker.stop(std::chrono::milliseconds(0));
}

int EnginePlayer::command(int what, const std::string& table) {
    switch (what) {
        case TAVTUNE_PLAYER_PAUSE:
            if (playing()) {
                halt();
                state_ = TAVTUNE_PLAYER_PAUSED;
            }
            break;
        case TAVTUNE_PLAYER_RESUME:
            if (state_ == TAVTUNE_PLAYER_PAUSED && start(table) != 0) return TAVTUNE_NOT_HANDLED;
            break;
        case TAVTUNE_PLAYER_STOP:
            halt();
            score_.positionMs = 0.0;
            state_ = TAVTUNE_PLAYER_IDLE;
            break;
        case TAVTUNE_PLAYER_QUERY:
            break;
        default:
            return TAVTUNE_NOT_HANDLED;
    }
    return state();
}

int EnginePlayer::state() {
    // A pass that ran to its end leaves the player idle.
    if (state_ == TAVTUNE_PLAYER_PLAYING && !score_.model().worker.running()) state_ = TAVTUNE_PLAYER_IDLE;
    return state_;
}

void EnginePlayer::relocate(const std::string& table) {
    if (!playing()) return;
    const double target = score_.positionMs;  // set by the host; the halt must not overwrite it
    halt();
    score_.positionMs = target;
    start(table);
}

void EnginePlayer::pausedFor(const std::function<void()>& change, const std::string& table) {
    const bool wasPlaying = playing();
    if (wasPlaying) halt();
    change();
    if (wasPlaying) start(table);
}

void EnginePlayer::silence() {
    halt();
    if (state_ == TAVTUNE_PLAYER_PLAYING) state_ = TAVTUNE_PLAYER_PAUSED;
    if (device_) device_->reset();
}

EnginePlayer& playerOf(OpenScore& score) {
    auto& slot = score.player();
    if (!slot) slot = std::make_unique<EnginePlayer>(score);
    return static_cast<EnginePlayer&>(*slot);
}

// C89(resolution): plays from the play position.
template <>
tvWord entry<89>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore([](OpenScore& s, Engine& e) { return playerOf(s).start(e.tableName); });
}

// C51(command): pause, resume, stop or ask; the player's state afterwards.
template <>
tvWord entry<51>(tvWord what, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore(
        [what](OpenScore& s, Engine& e) { return playerOf(s).command(static_cast<int>(what), e.tableName); });
}

// C52(): a playing score goes on from the play position.
template <>
tvWord entry<52>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore([](OpenScore& s, Engine& e) {
        playerOf(s).relocate(e.tableName);
        return 0;
    });
}

// C61(masks): per stave a voice mask, as the staff/voice states give them.
template <>
tvWord entry<61>(tvWord masks, tvWord, tvWord, tvWord, tvWord, tvWord) {
    const auto* bytes = pointerArg<const std::uint8_t>(masks);
    Engine& e = Engine::instance();
    Lock lock(e.mutex);
    OpenScore* s = e.score();
    if (s == nullptr || bytes == nullptr) return TAVTUNE_NOT_HANDLED;
    scoreconv::PlayScore& m = s->model();
    const auto staves = static_cast<std::int32_t>(m.voiceCounts.size());
    std::vector<std::uint8_t> voices(m.voiceCounts.begin(), m.voiceCounts.end());
    scorecore::CStaffVoiceStates states;
    if (!states.create(staves, voices)) return TAVTUNE_NOT_HANDLED;
    for (std::int32_t st = 0; st < staves; ++st) {
        const std::uint8_t mask = bytes[st];
        for (std::int32_t v = 0; v < m.voiceCounts[static_cast<std::size_t>(st)]; ++v) {
            const bool on = mask == 1 || (mask != 0 && v < 7 && (mask & (1u << v)) != 0);
            states.setVoiceOnOff(st, v, on ? scorecore::kStateOn : scorecore::kStateOff);
        }
        if (mask == 0) states.setStaffOnOff(st, scorecore::kStateOff, false);
    }
    m.onOff.free();
    m.onOff.create(staves, voices);
    m.onOff.copyStates(states);
    m.controls.addPlayConditions(scoreconv::kCondVoiceOnOff);
    return 0;
}

// C126(): stops at once and silences the output; the position stays.
template <>
tvWord entry<126>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return onOpenScore([](OpenScore& s, Engine&) {
        playerOf(s).silence();
        return 0;
    });
}

}  // namespace tavtune
