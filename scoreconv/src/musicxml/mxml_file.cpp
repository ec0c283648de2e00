#include "musicxml/mxml_file.h"

#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>

#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

namespace {

int32_t validTicksPerQuarter(int32_t ticksPerQuarter) { return ticksPerQuarter > 0 ? ticksPerQuarter : 480; }

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

template <class T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
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

// --- lifecycle --------------------------------------------------------------------------

CMxmlFile::CMxmlFile(const CMxmlInit& init)
    : quantize(validTicksPerQuarter(init.ticksPerQuarter)), einstimmung(validTicksPerQuarter(init.ticksPerQuarter)) {
    playLength.flag = 1;
    startPos.flag = 1;
    log = init.log;
    ticksPerQuarter = validTicksPerQuarter(init.ticksPerQuarter);
    signal = init.signal;
    playMode = init.mode;
    modifiedLabel = std::string(init.modifiedLabel.value_or(kDefaultModifiedLabel));
    lineLabel = std::string(init.lineLabel.value_or(kDefaultLineLabel));
    programName = mx::cutUtf8(init.programName, kMaxProgramNameChars);
    progressWindow = init.progressWindow;
    lineEnd = mx::cutUtf8(init.lineEnd, kMaxLineEndChars);
    cursor.meter = defaultMeter(ticksPerQuarter);
    savedCursor.meter = cursor.meter;
    setDefaults();
}

CMxmlFile::~CMxmlFile() = default;

std::unique_ptr<CMxmlFile> CMxmlFile::newFile(platform::MessageTarget** window, int32_t mode, int* signalWord,
                                              int32_t ticks, std::string_view program,
                                              scorecore::CScoreLog* hostLog) {
    CMxmlInit init;
    init.programName = program;
    init.progressWindow = window;
    init.mode = mode;
    init.signal = signalWord;
    init.ticksPerQuarter = ticks;
    init.log = hostLog;
    try {
        auto file = std::make_unique<CMxmlFile>(init);
        file->articulation.flag = 0;
        file->dynamik.flag = 0;
        file->playLength.flag = 0;
        return file;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CMxmlFile::freeFile(CMxmlFile** handle) noexcept {
    if (handle == nullptr || *handle == nullptr) return;
    CMxmlFile* file = *handle;
    file->closing_.store(true, std::memory_order_release);
    file->worker.requestStop();
    // The procedure's caller (a scan waits on its worker) leaves the file
    // before it goes.
    while (!file->tryEnterBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    delete file;
    *handle = nullptr;
}

void CMxmlFile::setDefaults() {
    TranspAdd = 0;
    TranspAddToPerc = 0;
    toStart(playLength);
    lastPan.fill(0);
    lastVolume.fill(0);
    IgnoreTempo = 0;
    toStart(startPos);
    initialTempo = 120;
    currentPart = 0;
    currentMeasure = 0;
    tempoRule = CTempoSettings{};
    modTime = 0;
    NoteShortening = 95;
    PlayRepeats = 1;
    progressPosted = 1;
    PreviewDo = 0;
    PreviewSec = 5;
    playPosition = 0;
    quantize = scorecore::CQuantize(ticksPerQuarter);
    einstimmung = scorecore::CEinstimmung(ticksPerQuarter);
    rowCount = 0;
    baseVelocity = 90;
    convProps = -1;
    midiInstrumentListCount = 0;
    midiOut = nullptr;
}

void CMxmlFile::destroy() {
    release(parts);
    instruments.clear();
    release(staffLines);
    release(groupEnd);
    release(staffTransposition);
    release(lyricVerses);
    release(clefs);
    scorecore::scFreePartGroupList(partGroups);
    events.clear();
    render.clear();
    cursor.free();
    savedCursor.free();
    voiceMix.clear();
    onOff.free();
    sounding.clear();
    description.clear();
    description.shrink_to_fit();
    descriptionW.clear();
    descriptionW.shrink_to_fit();
    release(staffNames);
    voiceTables.clear();
    cursor.meter = defaultMeter(ticksPerQuarter);
    savedCursor.meter = cursor.meter;
    if (IgnoreTempo == 0) {
        cursor.tempo = -1;
        savedCursor.tempo = -1;
    }
    document.reset();
    release(voiceCounts);
    // The records the host reaches by address stay usable: fresh ones stand
    // in for the deleted ones.
    metronom = scorecore::CMetronom{};
    quantize = scorecore::CQuantize(ticksPerQuarter);
    einstimmung = scorecore::CEinstimmung(ticksPerQuarter);
    modTime = 0;
    toStart(startPos);
    playLength.flag = 0;
    playLength.bar = 0;
    playLength.beat = 0;
    playLength.tick = 0;
    clearDynamikPresent(dynamik);
    articulation.clearPresent();
    fnOriginal.clear();
    fnScanned.clear();
    // No count outlives its table.
    rowCount = 0;
    midiInstrumentListCount = 0;
}

void CMxmlFile::reset() {
    destroy();
    setDefaults();
}

// --- small operations -------------------------------------------------------------------

bool CMxmlFile::isThisFileRendered(std::string_view name) const {
    return name == (fnOriginal.empty() ? fnScanned : fnOriginal);
}

void CMxmlFile::setCallbackWindow(platform::MessageTarget** window, bool post) {
    progressWindow = window;
    progressPosted = post ? 1 : 0;
}

bool CMxmlFile::reportProgress(platform::WParam wParam, platform::LParam lParam) const {
    if (progressWindow == nullptr) return false;
    platform::MessageTarget* target = std::atomic_ref<platform::MessageTarget*>(*progressWindow).load();
    if (target == nullptr) return false;
    if (progressPosted != 0) return target->post(platform::WM_MXML_PROGRESS, wParam, lParam);
    target->send(platform::WM_MXML_PROGRESS, wParam, lParam);
    return true;
}

int CMxmlFile::signalValue() const {
    return signal != nullptr ? std::atomic_ref<int>(*signal).load() : 0;
}

void CMxmlFile::setWriterCursor(int32_t part, int32_t measure, int32_t voice) {
    writerPart = part;
    writerMeasure = measure;
    writerVoice = voice;
}

bool CMxmlFile::appendPart() {
    try {
        parts.emplace_back();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CMxmlFile::growStaffTables(int32_t n) {
    if (n < 0) return false;
    const std::size_t size = staffNames.size() + static_cast<std::size_t>(n);
    try {
        // Room first, so that a failure leaves every table as it was.
        staffNames.reserve(size);
        staffTransposition.reserve(size);
        staffLines.reserve(size);
        lyricVerses.reserve(size);
        clefs.reserve(size);
        groupEnd.reserve(size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    if (!instruments.addStaves(n)) return false;
    staffNames.resize(size);
    staffTransposition.resize(size, 0);
    staffLines.resize(size, 5);
    lyricVerses.resize(size, 0);
    clefs.resize(size);
    groupEnd.resize(size, 1);
    return true;
}

bool CMxmlFile::allocatePlayState() {
    if (!cursor.allocate(voiceCounts) || !savedCursor.allocate(voiceCounts) || !sounding.allocate(voiceCounts)) {
        return false;
    }
    return true;
}

void CMxmlFile::logStep(std::string_view function, std::string_view step) const {
    if (log == nullptr) return;
    std::string line = "\t";
    line += function;
    line += '|';
    line += step;
    log->writeLine(line);
}

void CMxmlFile::logFailedStep(std::string_view function, std::string_view step, int rc) const {
    if (log == nullptr) return;
    std::string text(step);
    text += rc == scorecore::kErrDom ? "|errorcode Unexpected" : "|errorcode other";
    logStep(function, text);
}

}  // namespace scoreconv
