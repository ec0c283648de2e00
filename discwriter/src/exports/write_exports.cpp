// Preparing the medium, writing the track list, data images and erasing.
#include <libburn/libburn.h>

#include "disc_writing.h"
#include "erase_worker.h"
#include "exports/export_support.h"
#include "platform/text.h"

using namespace discwriter;

namespace {

constexpr auto kMediumWait = std::chrono::seconds(30);
constexpr auto kMediumPoll = std::chrono::milliseconds(500);

std::int32_t createFormat(WriteMode mode) {
    LibraryState& s = state();
    s.formats[static_cast<std::size_t>(mode)] = false;
    if (!s.current) return DISCWRITER_E_NO_DRIVE;
    s.formats[static_cast<std::size_t>(mode)] = true;
    return DISCWRITER_S_OK;
}

std::int32_t prepareMedia(WriteMode mode, const char* client) {
    return guarded([&]() -> std::int32_t {
        const std::int32_t hr = createFormat(mode);
        if (hr != DISCWRITER_S_OK) return hr;
        LibraryState& s = state();
        s.client = clientName(client);
        return s.current->prepare(mode, s.writeOptions());
    });
}

std::int32_t loadedState(int type, WriteMode mode) {
    if (type == kMediaCdRom || type == kMediaCdR || type == kMediaCdRw) return 0;
    const bool dvd = type == kMediaDvdRom || type == kMediaDvdRam || type == kMediaDvdPlusR ||
                     type == kMediaDvdPlusRw || type == kMediaDvdDashR || type == kMediaDvdDashRw;
    return mode == WriteMode::Data && dvd ? 1 : -1;
}

}  // namespace

extern "C" {

std::int32_t cdCreateTrackAtOnce(void) { return createFormat(WriteMode::TrackAtOnce); }
std::int32_t cdCreateDiscAtOnce(void) { return createFormat(WriteMode::DiscAtOnce); }
std::int32_t cdCreateFormatData(void) { return createFormat(WriteMode::Data); }

std::int32_t cdPrepareMediaTAO(const char* client) { return prepareMedia(WriteMode::TrackAtOnce, client); }
std::int32_t cdPrepareMediaDAO(const char* client) { return prepareMedia(WriteMode::DiscAtOnce, client); }
std::int32_t cdPrepareMediaForData(const char* client) { return prepareMedia(WriteMode::Data, client); }

std::int32_t cdIsMediaLoaded(std::int32_t* loaded) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (!s.current) return DISCWRITER_S_OK;
        createFormat(s.settings.mode);
        int type = 0;
        const HResult hr = waitForMedium(*s.current, type, kMediumWait, kMediumPoll, s.cancel);
        const std::int32_t result = hr == DISCWRITER_E_MEDIA_NO_MEDIA ? DISCWRITER_S_OK : hr;
        if (loaded != nullptr) *loaded = hr == DISCWRITER_S_OK ? loadedState(type, s.settings.mode) : -1;
        return result;
    });
}

std::int32_t cdIsDiscEmpty(void) {
    return guarded([]() -> std::int32_t {
        LibraryState& s = state();
        return s.current && s.hasFormat(s.settings.mode) && s.current->mediaBlank() ? 1 : 0;
    });
}

std::int32_t cdGetFreeSpace(std::int32_t* sectors) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (!s.current) return DISCWRITER_E_NO_DRIVE;
        int free = 0;
        const HResult hr = s.current->freeSectors(s.settings.mode, free);
        if (hr == DISCWRITER_S_OK && sectors != nullptr) *sectors = free;
        return hr;
    });
}

std::int32_t cdGetExistingTrackNumber(std::int32_t* count) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (!s.current) return DISCWRITER_E_NO_DRIVE;
        int n = 0;
        const HResult hr = s.current->existingTracks(n);
        if (hr == DISCWRITER_S_OK && count != nullptr) *count = n;
        return hr;
    });
}

std::int32_t cdUnprepare(void) {
    return guarded([]() -> std::int32_t {
        LibraryState& s = state();
        const WriteMode mode = s.settings.mode;
        if (!s.current || mode == WriteMode::Data || !s.hasFormat(mode)) return DISCWRITER_S_OK;
        const HResult hr = s.current->release(mode, nullptr);
        return mode == WriteMode::DiscAtOnce ? hr : DISCWRITER_S_OK;
    });
}

std::int32_t cdWriteDisc(char* fits) {
    return guarded([&] { return writeDisc(state(), fits); });
}

bool cdCreateMediaFileSystem(dwImageStream** image, char* fits) {
    const std::int32_t hr = guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (image == nullptr) return DISCWRITER_E_POINTER;
        *image = nullptr;
        if (!s.current) return DISCWRITER_E_NO_DRIVE;
        burn::burn_source* built = nullptr;
        std::int64_t blocks = 0;
        int free = 0;
        HResult result = buildDataImage(s.tracks, s.client, &built, blocks);
        if (result == DISCWRITER_S_OK) result = s.current->freeSectors(WriteMode::Data, free);
        const bool fitting = result == DISCWRITER_S_OK && blocks <= free;
        if (fits != nullptr) *fits = fitting ? 1 : 0;
        if (!fitting) {
            releaseDataImage(built);
            return result == DISCWRITER_S_OK ? DISCWRITER_E_DISK_FULL : result;
        }
        *image = reinterpret_cast<dwImageStream*>(built);
        return DISCWRITER_S_OK;
    });
    return hr == DISCWRITER_S_OK;
}

void cdReleaseStream(dwImageStream* image) { releaseDataImage(reinterpret_cast<burn::burn_source*>(image)); }

std::int32_t cddaoGetTrackStartLba(std::int32_t track) {
    const auto& starts = state().daoStarts;
    return track >= 1 && static_cast<std::size_t>(track) <= starts.size() ? starts[static_cast<std::size_t>(track) - 1]
                                                                         : -1;
}

std::int32_t cdEraseDisk(std::int32_t full) {
    return guarded([&]() -> std::int32_t {
        LibraryState& s = state();
        if (!s.current) return DISCWRITER_E_NO_DRIVE;
        if (s.erase && s.erase->running()) return DISCWRITER_E_BUSY;
        s.erase.reset();
        s.erase = std::make_unique<EraseWorker>(s.current, full != 0);
        if (!s.erase->start()) {
            s.erase.reset();
            return DISCWRITER_E_FAIL;
        }
        return DISCWRITER_S_OK;
    });
}

std::int32_t cdFinishEraseDisk(void) {
    return guarded([]() -> std::int32_t {
        LibraryState& s = state();
        if (s.erase) s.erase->finish(std::chrono::milliseconds(1000));
        s.erase.reset();
        return DISCWRITER_S_OK;
    });
}

}  // extern "C"
