#include "musicxml/mxml_file.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

namespace {

int32_t validTicksPerQuarter(int32_t ticksPerQuarter) { return ticksPerQuarter > 0 ? ticksPerQuarter : 480; }

template <class T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

}  // namespace

// --- lifecycle --------------------------------------------------------------------------

CMxmlFile::CMxmlFile(const CMxmlInit& init) : PlayScore(validTicksPerQuarter(init.ticksPerQuarter)) {
    log = init.log;
    signal = init.signal;
    controls.setPlayMode(init.mode);
    modifiedLabel = std::string(init.modifiedLabel.value_or(kDefaultModifiedLabel));
    lineLabel = std::string(init.lineLabel.value_or(kDefaultLineLabel));
    programName = mx::cutUtf8(init.programName, kMaxProgramNameChars);
    progressWindow = init.progressWindow;
    lineEnd = mx::cutUtf8(init.lineEnd, kMaxLineEndChars);
    setDefaults();
}

// A worker still running may read the document: it ends before anything of
// this object goes.
CMxmlFile::~CMxmlFile() { worker.stop(platform::kInfiniteWait); }

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
    (*handle)->closeAndWait();
    delete *handle;
    *handle = nullptr;
}

void CMxmlFile::setDefaults() {
    setPlayDefaults();
    currentPart = 0;
    currentMeasure = 0;
    modTime = 0;
    rowCount = 0;
    convProps = -1;
    midiInstrumentListCount = 0;
}

void CMxmlFile::destroy() {
    clearScore();
    release(parts);
    release(staffLines);
    release(groupEnd);
    release(staffTransposition);
    release(lyricVerses);
    release(clefs);
    scorecore::scFreePartGroupList(partGroups);
    description.clear();
    description.shrink_to_fit();
    descriptionW.clear();
    descriptionW.shrink_to_fit();
    voiceTables.clear();
    writer.clear();
    document.reset();
    modTime = 0;
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

}  // namespace scoreconv
