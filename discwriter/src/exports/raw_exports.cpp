// Raw drive commands (MMC) on the open drive, and ripping a track.
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "exports/export_support.h"
#include "mmc.h"
#include "ripping.h"

using namespace discwriter;

namespace {

// The channel selections of the four audio ports, kept from a mute to the next unmute.
std::array<std::uint8_t, 4> g_savedChannels{};
bool g_channelsSaved = false;

template <class F>
std::int32_t onDrive(F&& f) {
    return guarded([&]() -> std::int32_t {
        Recorder* rec = openRecorder();
        return rec == nullptr ? DISCWRITER_E_NO_DRIVE : f(*rec);
    });
}

std::int32_t copyOut(const std::vector<std::uint8_t>& data, std::uint8_t* buffer, std::int32_t size) {
    if (buffer == nullptr || size <= 0) return DISCWRITER_E_INVALIDARG;
    std::memcpy(buffer, data.data(), std::min(data.size(), static_cast<std::size_t>(size)));
    return DISCWRITER_S_OK;
}

struct Position {
    int track = 0;
    int index = 0;
    int lba = 0;
};

HResult readPosition(Recorder& rec, Position& pos) {
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x42;
    cdb[2] = 0x40;
    cdb[3] = 0x01;  // current position
    putBe16(&cdb[7], 16);
    std::vector<std::uint8_t> answer;
    const HResult hr = readCommand(rec, cdb, answer, 16);
    if (hr != DISCWRITER_S_OK) return hr;
    pos = Position{answer[6], answer[7], static_cast<int>(be32(&answer[8]))};
    return DISCWRITER_S_OK;
}

// Plays one block at lba and waits (at most 20 polls) until the drive no longer plays.
HResult playBlock(Recorder& rec, int lba) {
    std::uint8_t play[10] = {0x45};
    putBe32(play + 2, static_cast<std::uint32_t>(lba));
    play[8] = 1;
    Sense sense;
    const HResult hr = rec.command(play, sizeof play, Direction::None, nullptr, 0, sense);
    if (hr != DISCWRITER_S_OK) return hr;
    const std::vector<std::uint8_t> status = {0xBD, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0};
    for (int poll = 0; poll < 20; ++poll) {
        std::vector<std::uint8_t> answer;
        if (readCommand(rec, status, answer, 8) != DISCWRITER_S_OK) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            break;
        }
        if ((answer[1] & 0xE0) != 0x20) break;
    }
    return DISCWRITER_S_OK;
}

HResult pregapOf(Recorder& rec, int track, std::int32_t& sectors) {
    std::vector<std::uint8_t> info;
    HResult hr = trackInformation(rec, track, info);
    if (hr != DISCWRITER_S_OK) return hr;
    const int start = static_cast<int>(be32(&info[8]));
    hr = trackInformation(rec, track - 1, info);
    if (hr != DISCWRITER_S_OK) return hr;
    int lo = static_cast<int>(be32(&info[8]));
    int hi = start - 1;
    int candidate = 0;
    Position last;
    while (lo < hi - 1) {
        const int mid = lo + (hi - lo) / 2;
        hr = playBlock(rec, mid);
        if (hr == DISCWRITER_S_OK) hr = readPosition(rec, last);
        if (hr != DISCWRITER_S_OK) return hr;
        if (last.track < track || last.index > 0) {
            lo = mid;
        } else {
            hi = mid;
            candidate = mid;
        }
    }
    const int gapStart = last.track == track && last.index == 0 ? last.lba : candidate;
    sectors = gapStart > 0 && gapStart < start ? start - gapStart : 0;
    return DISCWRITER_S_OK;
}

// Port channel selections (low 4 bits of bytes 8, 10, 12, 14) and volumes (9, 11, 13, 15).
// An unmute without a mute before it leaves the selections as they are.
HResult mute(Recorder& rec, bool on) {
    std::vector<std::uint8_t> page;
    HResult hr = modePage(rec, 0x0E, page);
    if (hr != DISCWRITER_S_OK) return hr;
    if (page.size() < 16) return DISCWRITER_E_FAIL;
    for (std::size_t port = 0; port < 4; ++port) {
        std::uint8_t& channels = page[8 + 2 * port];
        if (on) {
            g_savedChannels[port] = channels & 0x0F;
            channels &= 0xF0;
        } else if (g_channelsSaved) {
            channels = static_cast<std::uint8_t>((channels & 0xF0) | g_savedChannels[port]);
        }
        page[9 + 2 * port] = on ? 0 : 255;
    }
    hr = setModePage(rec, page);
    if (hr == DISCWRITER_S_OK) g_channelsSaved = on;
    return hr;
}

}  // namespace

extern "C" {

std::int32_t cdGetDiskInfo(std::uint8_t* buffer, std::int32_t size) {
    return onDrive([&](Recorder& rec) -> std::int32_t {
        std::vector<std::uint8_t> info;
        const HResult hr = discInformation(rec, info);
        return hr == DISCWRITER_S_OK ? copyOut(info, buffer, size) : hr;
    });
}

std::int32_t cdGetTrackNumber(void) {
    const std::int32_t last = onDrive([](Recorder& rec) -> std::int32_t {
        std::vector<std::uint8_t> info;
        return discInformation(rec, info) == DISCWRITER_S_OK ? info[6] : 0;
    });
    return last < 0 ? 0 : last;
}

std::int32_t cdGetTrackInfo(std::int32_t track, std::uint8_t* buffer, std::int32_t size) {
    return onDrive([&](Recorder& rec) -> std::int32_t {
        std::vector<std::uint8_t> info;
        HResult hr = discInformation(rec, info);
        if (hr != DISCWRITER_S_OK) return hr;
        if (track < info[5] || track > info[6]) return DISCWRITER_E_UNEXPECTED;
        hr = trackInformation(rec, track, info);
        return hr == DISCWRITER_S_OK ? copyOut(info, buffer, size) : hr;
    });
}

std::int32_t cdReadIsrcA(std::int32_t track, char* isrc) {
    return onDrive([&](Recorder& rec) -> std::int32_t {
        if (isrc == nullptr || track < 1 || track > 99) return DISCWRITER_E_INVALIDARG;
        std::vector<std::uint8_t> cdb(10, 0);
        cdb[0] = 0x42;
        cdb[2] = 0x40;
        cdb[3] = 0x03;
        cdb[6] = static_cast<std::uint8_t>(track);
        putBe16(&cdb[7], 24);
        std::vector<std::uint8_t> answer;
        const HResult hr = readCommand(rec, cdb, answer, 24);
        if (hr == DISCWRITER_S_OK && (answer[8] & 0x80) != 0) {
            std::memcpy(isrc, &answer[9], 12);
            std::memset(isrc + 12, 0, 4);
        }
        return hr;
    });
}

std::int32_t cdGetPregap(std::int32_t track, std::int32_t* sectors) {
    if (sectors == nullptr) return DISCWRITER_E_POINTER;
    if (track == 1) {
        *sectors = 0;
        return DISCWRITER_S_OK;
    }
    return onDrive([&](Recorder& rec) { return pregapOf(rec, track, *sectors); });
}

std::int32_t cdMuteDrive(std::int32_t on) {
    return onDrive([&](Recorder& rec) { return mute(rec, on != 0); });
}

double cdGetUsedSpace(std::int32_t* lastLba, std::int32_t* blockLength) {
    Recorder* rec = openRecorder();
    if (rec == nullptr) return -1.0;
    std::int32_t lba = 0;
    std::int32_t block = 2048;
    double megabytes = -1.0;
    const std::int32_t hr = guarded([&]() -> std::int32_t {
        const std::vector<std::uint8_t> cdb = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        std::vector<std::uint8_t> answer;
        const HResult result = readCommand(*rec, cdb, answer, 8);
        if (result != DISCWRITER_S_OK) return result;
        lba = static_cast<std::int32_t>(be32(&answer[0]));
        block = static_cast<std::int32_t>(be32(&answer[4]));
        if (lba < 0) lba = 0;
        megabytes = static_cast<double>(lba) * block / 1024.0 / 1024.0;
        return DISCWRITER_S_OK;
    });
    if (hr != DISCWRITER_S_OK) lba = 0, block = 2048;
    if (lastLba != nullptr) *lastLba = lba;
    if (blockLength != nullptr) *blockLength = block;
    return megabytes;
}

std::int32_t cdGetCDMaxWriteSpeed(void) {
    const std::int32_t speed = onDrive([](Recorder& rec) -> std::int32_t {
        const std::vector<std::uint8_t> cdb = {0x1A, 0x08, 0x2A, 0, 100, 0};
        std::vector<std::uint8_t> answer;
        if (readCommand(rec, cdb, answer, 2048) != DISCWRITER_S_OK) return 4;
        const unsigned kbs = be16(&answer[22]);
        return kbs == 0 ? 4 : static_cast<std::int32_t>(std::lround(kbs / 172.265625));
    });
    return speed > 0 ? speed : 4;
}

std::int32_t cdSelectSpeed(std::int32_t readX, std::int32_t writeX) {
    const auto kbs = [](std::int32_t x) -> unsigned {
        return x <= 0 || x * 177 > 0xFFFF ? 0xFFFFu : static_cast<unsigned>(x * 177);
    };
    const std::int32_t hr = onDrive([&](Recorder& rec) -> std::int32_t {
        std::uint8_t cdb[12] = {0xBB};
        putBe16(cdb + 2, kbs(readX));
        putBe16(cdb + 4, kbs(writeX));
        Sense sense;
        return rec.command(cdb, sizeof cdb, Direction::None, nullptr, 0, sense);
    });
    return hr == DISCWRITER_E_NO_DRIVE ? DISCWRITER_E_FAIL : hr;
}

std::int32_t cdReadTrackSector(std::uint8_t* buffer, std::int32_t bytes, std::int32_t lba, std::int32_t count) {
    const std::int32_t hr = onDrive([&](Recorder& rec) {
        return readSectors(rec, buffer, bytes < 0 ? 0 : static_cast<std::size_t>(bytes), lba, count);
    });
    return hr == DISCWRITER_S_OK || hr == DISCWRITER_E_INSUFFICIENT_BUFFER ? hr : DISCWRITER_E_FAIL;
}

std::int32_t cdTestUnitReady(void) {
    Recorder* rec = openRecorder();
    if (rec == nullptr) return 2;
    return guarded([&]() -> std::int32_t {
        const std::uint8_t cdb[6] = {};
        Sense sense;
        const HResult hr = rec->command(cdb, sizeof cdb, Direction::None, nullptr, 0, sense);
        if (hr == DISCWRITER_S_OK && sense.key == 0) return 0;
        if (sense.key == 2 && sense.asc == 0x3A) return 4;
        return sense.key == 2 || sense.key == 6 ? 2 : 1;
    });
}

std::int32_t cdReadTrack(std::int32_t track, const dwWChar* wavPath) {
    return onDrive([&](Recorder& rec) -> std::int32_t {
        const auto path = wideText(wavPath, 4096);
        if (!path || path->empty()) return DISCWRITER_E_INVALIDARG;
        return ripTrack(rec, track, *path, state().cancel);
    });
}

}  // extern "C"
