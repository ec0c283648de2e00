// The library's state, the drive table, the open drive and the track list.
#include <cstdlib>
#include <cstring>

#include "disc_writing.h"
#include "erase_worker.h"
#include "exports/export_support.h"
#include "mmc.h"
#include "platform/text.h"

using namespace discwriter;

namespace {

// Table index of the n-th drive that can write audio track at once, or -1.
int writerIndex(int writer) {
    int seen = 0;
    for (const DriveRecord& d : state().drives) {
        if (d.id.canWriteTao && seen++ == writer) return d.index;
    }
    return -1;
}

const DriveRecord* drive(int index) {
    const auto& drives = state().drives;
    return index >= 0 && static_cast<std::size_t>(index) < drives.size() ? &drives[static_cast<std::size_t>(index)]
                                                                         : nullptr;
}

std::int32_t closeDrive() {
    LibraryState& s = state();
    s.current.reset();
    s.currentIndex = -1;
    s.formats = {};
    s.client.clear();
    s.tracks.clear();
    return DISCWRITER_S_OK;
}

template <class F>
std::int32_t withRecorder(F&& f) {
    return guarded([&]() -> std::int32_t {
        Recorder* rec = openRecorder();
        return rec == nullptr ? DISCWRITER_E_NO_DRIVE : f(*rec);
    });
}

std::int32_t capability(std::size_t offset, std::int32_t* out, bool bit) {
    return withRecorder([&](Recorder& rec) {
        std::vector<std::uint8_t> page;
        const HResult hr = modePage(rec, 0x2A, page);
        std::int32_t value = 0;
        if (hr == DISCWRITER_S_OK && page.size() >= offset + 2) {
            const unsigned raw = bit ? page[offset] >> 7 : be16(&page[offset]);
            value = bit ? static_cast<std::int32_t>(raw) : static_cast<std::int32_t>(raw / 172.265625);
        }
        if (out != nullptr) *out = value;
        return hr;
    });
}

std::int32_t insertTrack(std::optional<std::string> path) {
    LibraryState& s = state();
    if (!path || path->empty() || path->size() >= DISCWRITER_PATH_BYTES)
        return failWith(DISCWRITER_E_INVALIDARG, "a track path is missing or longer than 259 bytes");
    if (s.tracks.size() >= DISCWRITER_MAX_TRACKS) return failWith(DISCWRITER_E_FAIL, "a CD holds at most 99 tracks");
    s.tracks.push_back(std::move(*path));
    return DISCWRITER_S_OK;
}

std::int32_t* newBlock(const std::vector<std::int32_t>& values) {
    auto* block = static_cast<std::int32_t*>(std::calloc(values.empty() ? 1 : values.size(), sizeof(std::int32_t)));
    if (block != nullptr && !values.empty()) std::memcpy(block, values.data(), values.size() * sizeof(std::int32_t));
    return block;
}

}  // namespace

extern "C" {

std::int32_t cdSetup(dwScoreLog* log) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (s.setUp) return DISCWRITER_E_BUSY;
        s.log = log;
        s.lastError.clear();
        s.drives = findDrives();
        s.setUp = true;
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdClose(void) {
    return guarded([]() -> std::int32_t {
        LibraryState& s = state();
        if (s.erase) s.erase->finish(std::chrono::milliseconds(1000));
        s.erase.reset();
        closeDrive();
        s.drives.clear();
        s.daoStarts.clear();
        s.target.store(nullptr);
        s.log = nullptr;
        s.setUp = false;
        finishDataImages();
        finishBackends();
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdSetOwnThread(std::int32_t flag) { return flag; }

std::int32_t cdGetDriveNumber(std::int32_t* count) {
    int n = 0;
    for (const DriveRecord& d : state().drives) n += d.id.canWriteTao ? 1 : 0;
    if (count != nullptr) *count = n;
    return DISCWRITER_S_OK;
}

std::int32_t cdGetAllDriveNumber(std::int32_t* count) {
    if (count != nullptr) *count = static_cast<std::int32_t>(state().drives.size());
    return DISCWRITER_S_OK;
}

std::int32_t cdGetAllDriveNameW(std::int32_t index, dwWChar* name) {
    return guarded([&]() -> std::int32_t {
        const DriveRecord* d = drive(index);
        if (d == nullptr) {
            copyWide("", name, DISCWRITER_NAME_CHARS);
            return DISCWRITER_E_FAIL;
        }
        copyWide(d->id.vendor + d->id.product, name, DISCWRITER_NAME_CHARS);
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdGetDriveNameW(std::int32_t writer, dwWChar* name) {
    return cdGetAllDriveNameW(writerIndex(writer), name);
}

std::int32_t cdGetDriveName(std::int32_t writer, char* name) {
    return guarded([&]() -> std::int32_t {
        const DriveRecord* d = drive(writerIndex(writer));
        copyNarrow(d != nullptr ? d->id.vendor + d->id.product : std::string(), name, DISCWRITER_NAME_CHARS);
        return d != nullptr ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
    });
}

std::int32_t cdGetVendorIdW(std::int32_t index, dwWChar* text) {
    const DriveRecord* d = drive(index);
    return guarded([&]() -> std::int32_t {
        const std::int32_t hr = copyWide(d != nullptr ? d->id.vendor : std::string(), text, DISCWRITER_NAME_CHARS);
        return d != nullptr ? hr : DISCWRITER_E_FAIL;
    });
}

std::int32_t cdGetVendorIdA(std::int32_t index, char* text) {
    const DriveRecord* d = drive(index);
    return guarded([&] { return d != nullptr ? copyNarrow(d->id.vendor, text, DISCWRITER_NAME_CHARS) : 0; });
}

std::int32_t cdGetProductIdW(std::int32_t index, dwWChar* text) {
    const DriveRecord* d = drive(index);
    return guarded([&]() -> std::int32_t {
        const std::int32_t hr = copyWide(d != nullptr ? d->id.product : std::string(), text, DISCWRITER_NAME_CHARS);
        return d != nullptr ? hr : DISCWRITER_E_FAIL;
    });
}

std::int32_t cdGetProductIdA(std::int32_t index, char* text) {
    const DriveRecord* d = drive(index);
    return guarded([&] { return d != nullptr ? copyNarrow(d->id.product, text, DISCWRITER_NAME_CHARS) : 0; });
}

dwWChar cdGetDriveLetterW(std::int32_t index) {
    const DriveRecord* d = drive(index);
    return d != nullptr && !d->id.path.empty() ? static_cast<dwWChar>(static_cast<unsigned char>(d->id.path[0])) : 0;
}

char cdGetDriveLetterA(std::int32_t index) {
    const DriveRecord* d = drive(index);
    return d != nullptr && !d->id.path.empty() ? d->id.path[0] : '\0';
}

void cdGetLegacyDeviceNumber(std::int32_t index, std::int32_t* number) {
    const DriveRecord* d = drive(index);
    if (d != nullptr && number != nullptr) *number = d->index;
}

std::int32_t cdIsBurner(std::int32_t index) {
    const DriveRecord* d = drive(index);
    return d != nullptr && d->id.canWriteTao ? 1 : 0;
}

std::int32_t cdOpenDrive(std::int32_t writer) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        int index = writerIndex(writer);
        if (index < 0) index = writer;
        const DriveRecord* d = writer == -1 ? nullptr : drive(index);
        s.current.reset();
        s.formats = {};
        s.currentIndex = -1;
        if (d == nullptr) return failWith(DISCWRITER_E_FAIL, "there is no drive " + std::to_string(writer));
        s.current = d->recorder;
        s.currentIndex = d->index;
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdCloseDrive(void) { return guarded(closeDrive); }

std::int32_t cdEject(void) {
    return withRecorder([](Recorder& rec) { return rec.eject(); });
}

std::int32_t cdCloseTray(void) {
    return withRecorder([](Recorder& rec) { return rec.closeTray(); });
}

std::int32_t cdLock(void) {
    return withRecorder([](Recorder& rec) { return rec.lock(state().client); });
}

std::int32_t cdUnlock(void) {
    return withRecorder([](Recorder& rec) { return rec.unlock(); });
}

std::int32_t cdSetClientA(const char* name) {
    return guarded([&]() -> std::int32_t {
        state().client = clientName(name);
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdSetBurnProof(std::int32_t on) { return state().settings.burnProof = on != 0, 0; }
std::int32_t cdSetWriteSpeed(std::int32_t xFactor) {
    state().settings.writeSpeed = xFactor > 0 && xFactor < 1000 ? xFactor * 75 : 0;
    return DISCWRITER_S_OK;
}
std::int32_t cdSetCloseSession(std::int32_t on) { return state().settings.closeSession = on != 0, 0; }
std::int32_t cdSetCloseDisc(std::int32_t on) { return state().settings.closeDisc = on != 0, 0; }
std::int32_t cdSetSimulate(std::int32_t on) { return state().settings.simulate = on != 0, 0; }
std::int32_t cdSetGaplessAudio(std::int32_t on) { return state().settings.gapless = on != 0, 0; }
std::int32_t cdSetCopyright(std::int32_t on) { return state().settings.copyProhibited = on != 0, 0; }
std::int32_t cdSetPreemphasis(std::int32_t on) { return state().settings.preemphasis = on != 0, 0; }
std::int32_t cdSetVerificationLevel(std::int32_t level) { return state().settings.verification = level, 0; }
std::int32_t cdSetCancel(std::int32_t on) { return state().cancel.store(on != 0), 0; }
std::int32_t cdGetSimulate(void) { return state().settings.simulate ? 1 : 0; }

std::int32_t cdSetDataMode(std::int32_t mode) {
    if (mode >= 0 && mode <= 2) state().settings.mode = static_cast<WriteMode>(mode);
    return mode;
}

std::int32_t cdSetEventWindow(dwMessageTarget* target) {
    state().target.store(target);
    return DISCWRITER_S_OK;
}

std::int32_t cdInsertTrack(const char* path) {
    return guarded([&] { return insertTrack(narrowText(path, DISCWRITER_PATH_BYTES)); });
}

std::int32_t cdInsertTrackW(const dwWChar* path) {
    return guarded([&] { return insertTrack(wideText(path, DISCWRITER_PATH_BYTES)); });
}

std::int32_t cdInsertFileW(const dwWChar* path) { return cdInsertTrackW(path); }

std::int32_t cdRemoveTracks(void) {
    state().tracks.clear();
    return DISCWRITER_S_OK;
}

std::int32_t cdGetMaxWriteSpeed(std::int32_t* xFactor) { return capability(18, xFactor, false); }
std::int32_t cdGetMaxReadSpeed(std::int32_t* xFactor) { return capability(8, xFactor, false); }

std::int32_t cdCanBurnProof(char* flag) {
    std::int32_t value = 0;
    const std::int32_t hr = capability(4, &value, true);
    if (flag != nullptr) *flag = static_cast<char>(value);
    return hr;
}

std::int32_t cdGetSuppWriteSpeeds(std::int32_t** list, std::int32_t* count) {
    return withRecorder([&](Recorder& rec) -> std::int32_t {
        if (list == nullptr || count == nullptr) return DISCWRITER_E_POINTER;
        std::vector<std::int32_t> speeds;
        for (int sectors : rec.writeSpeeds(state().settings.mode)) speeds.push_back(std::max(2, sectors / 75));
        *list = newBlock(speeds);
        *count = *list != nullptr ? static_cast<std::int32_t>(speeds.size()) : 0;
        return *list != nullptr ? DISCWRITER_S_OK : DISCWRITER_E_OUTOFMEMORY;
    });
}

std::int32_t cdGetSuppReadSpeeds(std::int32_t** list, std::int32_t* count, std::int32_t maximum) {
    if (list == nullptr || count == nullptr) return DISCWRITER_E_POINTER;
    static constexpr std::int32_t kSpeeds[] = {4, 8, 16, 24, 32, 48, 64, 96, 128};
    std::vector<std::int32_t> speeds;
    for (std::int32_t speed : kSpeeds) {
        speeds.push_back(speed);
        if (speed >= maximum) break;
    }
    *list = newBlock(speeds);
    *count = *list != nullptr ? static_cast<std::int32_t>(speeds.size()) : 0;
    return *list != nullptr ? DISCWRITER_S_OK : DISCWRITER_E_OUTOFMEMORY;
}

const char* cdGetLastErrorText(void) { return state().lastError.c_str(); }

}  // extern "C"
