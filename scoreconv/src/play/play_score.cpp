#include "play/play_score.h"

#include <chrono>
#include <thread>

#include "scorecore/result_codes.h"

namespace scoreconv {

namespace {

scorecore::CMeter defaultMeter(int32_t ticksPerQuarter) {
    scorecore::CMeter meter;
    meter.init(ticksPerQuarter, 4, 2);
    return meter;
}

void toStart(scorecore::CMeasurePos& pos) {
    pos.bar = 1;
    pos.beat = 1;
    pos.tick = 0;
}

}  // namespace

platform::WParam positionWParam(int32_t bar) {
    return ((static_cast<platform::WParam>(static_cast<uint32_t>(bar - 1)) & 0xFFFFu) << 16) + 1;
}

platform::LParam positionLParam(int32_t tick, int32_t beat) {
    const uint32_t high = (static_cast<uint32_t>(tick) & 0xFFFFu) << 16;
    const uint32_t low = static_cast<uint32_t>(beat - 1) & 0xFFFFu;
    return static_cast<platform::LParam>(high | low);
}

PlayScore::PlayScore(int32_t ticks)
    : quantize(ticks > 0 ? ticks : 480), einstimmung(ticks > 0 ? ticks : 480), ticksPerQuarter(ticks > 0 ? ticks : 480) {
    playLength.flag = 1;
    startPos.flag = 1;
    cursor.meter = defaultMeter(ticksPerQuarter);
    savedCursor.meter = cursor.meter;
    setPlayDefaults();
}

PlayScore::~PlayScore() = default;

void PlayScore::setPlayDefaults() {
    TranspAdd = 0;
    TranspAddToPerc = 0;
    toStart(playLength);
    lastPan.fill(0);
    lastVolume.fill(0);
    IgnoreTempo = 0;
    toStart(startPos);
    initialTempo = 120;
    controls.reset();
    report.reset();
    NoteShortening = 95;
    PlayRepeats = 1;
    progressPosted = 1;
    PreviewDo = 0;
    PreviewSec = 5;
    quantize = scorecore::CQuantize(ticksPerQuarter);
    einstimmung = scorecore::CEinstimmung(ticksPerQuarter);
    baseVelocity = 90;
    midiOut = nullptr;
}

void PlayScore::clearScore() {
    instruments.clear();
    events.clear();
    scoreLength = 0;
    render.clear();
    cursor.free();
    savedCursor.free();
    voiceMix.clear();
    onOff.free();
    sounding.clear();
    std::vector<CStaffName>().swap(staffNames);
    std::vector<int32_t>().swap(voiceCounts);
    cursor.meter = defaultMeter(ticksPerQuarter);
    savedCursor.meter = cursor.meter;
    if (IgnoreTempo == 0) {
        cursor.tempo = -1;
        savedCursor.tempo = -1;
    }
    // The records the host reaches by address stay usable: fresh ones stand
    // in for the deleted ones.
    metronom = scorecore::CMetronom{};
    quantize = scorecore::CQuantize(ticksPerQuarter);
    einstimmung = scorecore::CEinstimmung(ticksPerQuarter);
    toStart(startPos);
    playLength.flag = 0;
    playLength.bar = 0;
    playLength.beat = 0;
    playLength.tick = 0;
    clearDynamikPresent(dynamik);
    articulation.clearPresent();
    fnOriginal.clear();
    fnScanned.clear();
}

void PlayScore::setCallbackWindow(platform::MessageTarget** window, bool post) {
    progressWindow = window;
    progressPosted = post ? 1 : 0;
}

bool PlayScore::reportProgress(platform::WParam wParam, platform::LParam lParam) const {
    if (progressWindow == nullptr) return false;
    platform::MessageTarget* target = std::atomic_ref<platform::MessageTarget*>(*progressWindow).load();
    if (target == nullptr) return false;
    if (progressPosted != 0) return target->post(platform::WM_MXML_PROGRESS, wParam, lParam);
    target->send(platform::WM_MXML_PROGRESS, wParam, lParam);
    return true;
}

int PlayScore::signalValue() const { return signal != nullptr ? std::atomic_ref<int>(*signal).load() : 0; }

void PlayScore::logStep(std::string_view function, std::string_view step) const {
    if (log == nullptr) return;
    std::string line = "\t";
    line += function;
    line += '|';
    line += step;
    log->writeLine(line);
}

void PlayScore::logFailedStep(std::string_view function, std::string_view step, int rc) const {
    if (log == nullptr) return;
    std::string text(step);
    text += rc == scorecore::kErrDom ? "|errorcode Unexpected" : "|errorcode other";
    logStep(function, text);
}

void PlayScore::closeAndWait() noexcept {
    closing_.store(true, std::memory_order_release);
    worker.requestStop();
    // The procedure's caller (a scan waits on its worker) leaves the score
    // before it goes.
    while (!tryEnterBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool PlayScore::allocatePlayState() {
    return cursor.allocate(voiceCounts) && savedCursor.allocate(voiceCounts) && sounding.allocate(voiceCounts);
}

}  // namespace scoreconv
