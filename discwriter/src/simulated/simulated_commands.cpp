// The MMC commands the simulated recorder answers, from its medium's cue sheet
// and image. Commands it does not know end with ILLEGAL REQUEST (sense key 5,
// 20h) as on a drive that lacks them.
#include <algorithm>
#include <cstring>
#include <fstream>

#include "discwriter/discwriter.h"
#include "simulated/simulated_recorder.h"

namespace discwriter {
namespace {

constexpr int kNotReady = 2;
constexpr int kIllegalRequest = 5;

HResult senseFail(Sense& sense, int key, int asc, int ascq = 0) {
    sense = Sense{key, asc, ascq};
    return DISCWRITER_E_FAIL;
}

void put16(std::uint8_t* p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// Copies an answer into the caller's buffer, as much as it holds.
HResult answer(const std::uint8_t* data, std::size_t size, std::uint8_t* buffer, std::size_t length) {
    if (buffer != nullptr) std::memcpy(buffer, data, std::min(size, length));
    return DISCWRITER_S_OK;
}

// The track an LBA lies in, and whether it lies in that track's pregap.
const SimulatedTrack* trackAt(const SimulatedDisc& disc, int lba, bool& inPregap) {
    for (auto it = disc.tracks.rbegin(); it != disc.tracks.rend(); ++it) {
        if (lba >= it->pregapStart) {
            inPregap = lba < it->start;
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace

bool SimulatedRecorder::mediumReady(Sense& sense) {
    int type = 0;
    const HResult hr = medium_.query(type);
    if (hr == DISCWRITER_E_MEDIA_NO_MEDIA) return senseFail(sense, kNotReady, 0x3A), false;
    if (hr != DISCWRITER_S_OK) return senseFail(sense, kNotReady, 0x04, 0x01), false;
    return true;
}

HResult SimulatedRecorder::command(const std::uint8_t* cdb, std::size_t cdbLength, Direction,
                                   std::uint8_t* buffer, std::size_t length, Sense& sense) {
    sense = Sense{};
    if (cdb == nullptr || cdbLength < 6) return senseFail(sense, kIllegalRequest, 0x20);
    switch (cdb[0]) {
        case 0x00:  // TEST UNIT READY
            return mediumReady(sense) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
        case 0x51: return readDiscInformation(buffer, length, sense);
        case 0x52: return readTrackInformation(cdb, buffer, length, sense);
        case 0x42: return readSubChannel(cdb, buffer, length, sense);
        case 0xBE: return readCd(cdb, buffer, length, sense);
        case 0x25: return readCapacity(buffer, length, sense);
        case 0x1A:
        case 0x5A: return modeSense(cdb, buffer, length, sense);
        case 0xBD: return mechanismStatus(buffer, length, sense);
        case 0x45:  // PLAY AUDIO(10): played at once, so only the position moves
            if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
            playPosition_ = static_cast<int>(be32(cdb + 2));
            return DISCWRITER_S_OK;
        case 0xBB:  // SET CD SPEED: any speed is taken
            return DISCWRITER_S_OK;
        default: return senseFail(sense, kIllegalRequest, 0x20);
    }
}

HResult SimulatedRecorder::readDiscInformation(std::uint8_t* buffer, std::size_t length, Sense& sense) {
    if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    if (error != DISCWRITER_S_OK) return error;
    const MediumState state = medium_.load();
    std::uint8_t info[34] = {};
    put16(info, 32);
    const int status = !disc ? 0 : state.finalized ? 2 : 1;
    info[2] = static_cast<std::uint8_t>(status | (state.type == kMediaCdRw ? 0x10 : 0) | (disc ? 0x0C : 0));
    info[3] = 1;  // first track on the disc
    info[4] = 1;  // sessions
    info[5] = 1;  // first track of the last session
    info[6] = static_cast<std::uint8_t>(disc ? disc->tracks.size() : 1);
    return answer(info, sizeof info, buffer, length);
}

HResult SimulatedRecorder::readTrackInformation(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length,
                                                Sense& sense) {
    if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    if (error != DISCWRITER_S_OK) return error;
    const std::uint32_t number = be32(cdb + 2);
    if ((cdb[1] & 3) != 1 || !disc || number < 1 || number > disc->tracks.size())
        return senseFail(sense, kIllegalRequest, 0x24);
    const SimulatedTrack& t = disc->tracks[number - 1];
    std::uint8_t info[36] = {};
    put16(info, 34);
    info[2] = static_cast<std::uint8_t>(t.number);
    info[3] = 1;
    info[5] = static_cast<std::uint8_t>(t.audio ? (t.copyPermitted ? 0x02 : 0) | (t.preemphasis ? 0x01 : 0) : 0x04);
    info[6] = t.audio ? 0x0F : 0x01;
    put32(info + 8, static_cast<std::uint32_t>(t.start));
    put32(info + 24, static_cast<std::uint32_t>(t.length));
    return answer(info, sizeof info, buffer, length);
}

HResult SimulatedRecorder::readSubChannel(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length,
                                          Sense& sense) {
    if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
    std::uint8_t data[24] = {};
    put16(data + 2, 20);
    data[4] = cdb[3];
    if (cdb[3] == 0x03) return answer(data, sizeof data, buffer, length);  // no ISRC recorded
    if (cdb[3] != 0x01) return senseFail(sense, kIllegalRequest, 0x24);
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    bool inPregap = false;
    const SimulatedTrack* t = disc ? trackAt(*disc, playPosition_, inPregap) : nullptr;
    if (t == nullptr) return senseFail(sense, kIllegalRequest, 0x21);
    data[6] = static_cast<std::uint8_t>(t->number);
    data[7] = inPregap ? 0 : 1;
    put32(data + 8, static_cast<std::uint32_t>(playPosition_));
    return answer(data, sizeof data, buffer, length);
}

HResult SimulatedRecorder::readCd(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length, Sense& sense) {
    if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    const std::int64_t lba = static_cast<std::int32_t>(be32(cdb + 2));
    const std::int64_t count = cdb[6] << 16 | cdb[7] << 8 | cdb[8];
    if (!disc || lba < 0 || lba + count > disc->leadOut) return senseFail(sense, 5, 0x21);
    const std::size_t bytes = static_cast<std::size_t>(count) * static_cast<std::size_t>(disc->sectorBytes);
    if (buffer == nullptr || length < bytes) return senseFail(sense, kIllegalRequest, 0x24);
    std::ifstream in(disc->image, std::ios::binary);
    if (!in.seekg(lba * disc->sectorBytes) || !in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(bytes)))
        return senseFail(sense, 3, 0x11);  // unrecovered read error
    return DISCWRITER_S_OK;
}

HResult SimulatedRecorder::readCapacity(std::uint8_t* buffer, std::size_t length, Sense& sense) {
    if (!mediumReady(sense)) return DISCWRITER_E_FAIL;
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    std::uint8_t data[8] = {};
    put32(data, static_cast<std::uint32_t>(disc && disc->leadOut > 0 ? disc->leadOut - 1 : 0));
    put32(data + 4, 2048);
    return answer(data, sizeof data, buffer, length);
}

// Only the capabilities page 2Ah: 40x reading and writing, buffer-underrun protection.
HResult SimulatedRecorder::modeSense(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length,
                                     Sense& sense) {
    if ((cdb[2] & 0x3F) != 0x2A) return senseFail(sense, kIllegalRequest, 0x24);
    std::uint8_t page[28] = {};
    page[0] = 0x2A;
    page[1] = sizeof page - 2;
    page[4] = 0x80;
    put16(page + 8, 7056);
    put16(page + 18, 7056);
    const bool six = cdb[0] == 0x1A;
    std::uint8_t data[8 + sizeof page] = {};
    const std::size_t header = six ? 4 : 8;
    std::memcpy(data + header, page, sizeof page);
    if (six) {
        data[0] = static_cast<std::uint8_t>(header + sizeof page - 1);
    } else {
        put16(data, static_cast<unsigned>(header + sizeof page - 2));
    }
    return answer(data, header + sizeof page, buffer, length);
}

HResult SimulatedRecorder::mechanismStatus(std::uint8_t* buffer, std::size_t length, Sense&) {
    std::uint8_t data[8] = {};  // idle: nothing plays
    return answer(data, sizeof data, buffer, length);
}

}  // namespace discwriter
