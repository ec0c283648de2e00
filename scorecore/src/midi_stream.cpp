#include "scorecore/midi_stream.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>

namespace scorecore {

namespace {

constexpr std::uint8_t kMetaEvent = 0xFF;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kMetaKeySignature = 0x59;

}  // namespace

bool CMidiTrackStream::append(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail) {
    const std::size_t added = head.size() + tail.size();
    if (added > std::numeric_limits<std::uint32_t>::max() - bytes_.size()) return false;
    const std::size_t needed = bytes_.size() + added;
    try {
        // Grow once, geometrically, before copying: the inserts below then
        // cannot fail, and a failed reserve leaves the bytes as they were.
        if (needed > bytes_.capacity()) bytes_.reserve(std::max(needed, 2 * bytes_.capacity()));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    bytes_.insert(bytes_.end(), head.begin(), head.end());
    bytes_.insert(bytes_.end(), tail.begin(), tail.end());
    return true;
}

bool CMidiTrackStream::reserve(std::size_t bytes) noexcept {
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
        bytes_.reserve(bytes);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void CMidiTrackStream::clear() noexcept {
    std::vector<std::uint8_t>().swap(bytes_);
}

int scMidiPutVarLen(std::span<std::uint8_t, 4> buffer, std::int64_t value) {
    if (value < 0 || value > kMidiVarLenMax) return 0;
    int count = 1;
    while (count < 4 && (value >> (7 * count)) != 0) ++count;
    for (int i = 0; i < count; ++i) {
        const int shift = 7 * (count - 1 - i);
        const auto group = static_cast<std::uint8_t>((value >> shift) & 0x7F);
        buffer[static_cast<std::size_t>(i)] = i + 1 < count ? static_cast<std::uint8_t>(group | 0x80) : group;
    }
    return count;
}

int scMidiGetVarLen(std::span<const std::uint8_t> data, std::uint32_t* value) {
    std::uint32_t result = 0;
    const std::size_t limit = std::min<std::size_t>(data.size(), 4);
    for (std::size_t i = 0; i < limit; ++i) {
        result = (result << 7) | (data[i] & 0x7Fu);
        if ((data[i] & 0x80) == 0) {
            if (value) *value = result;
            return static_cast<int>(i + 1);
        }
    }
    return 0;  // truncated, or more than four bytes
}

bool scMidiSendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, platform::MidiOutDevice* device) {
    if (!device) return false;
    return device->shortMessage(platform::packShortMessage(status, data1, data2));
}

int scMidiPutShort(CMidiTrackStream* stream, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                   platform::MidiOutDevice* device) {
    if (!stream) {
        scMidiSendShort(status, data1, data2, device);
        return 0;
    }
    const std::uint8_t message[3] = {status, data1, data2};
    const bool oneDataByte = status >= 0xC0 && status <= 0xDF;
    const std::size_t size = oneDataByte ? 2 : 3;
    if (!stream->append(std::span(message, size))) return -1;
    return static_cast<int>(size);
}

int scMidiPutDelta(CMidiTrackStream* stream, int& delta) {
    if (!stream) return 0;
    std::uint8_t buffer[4];
    const int count = scMidiPutVarLen(buffer, delta);
    if (count == 0) return -1;
    if (!stream->append(std::span(buffer, static_cast<std::size_t>(count)))) return -1;
    delta = 0;
    return count;
}

int scMidiPutMeta(CMidiTrackStream* stream, std::uint8_t type, std::span<const std::uint8_t> data) {
    if (!stream) return 0;
    if (data.size() > static_cast<std::uint64_t>(kMidiVarLenMax)) return -1;
    std::uint8_t head[6] = {kMetaEvent, type};
    const int sizeBytes = scMidiPutVarLen(std::span<std::uint8_t, 4>(head + 2, 4), static_cast<std::int64_t>(data.size()));
    const std::size_t headSize = 2 + static_cast<std::size_t>(sizeBytes);
    if (!stream->append(std::span(head, headSize), data)) return -1;
    return static_cast<int>(headSize + data.size());
}

std::uint32_t scMidiTempoMicroseconds(int tempo) {
    constexpr double kSlowest = 0xFFFFFF;
    if (tempo <= 0) return 0xFFFFFF;
    const double microseconds = 1000000.0 / (tempo / 60.0);
    return static_cast<std::uint32_t>(std::clamp(microseconds, 1.0, kSlowest));
}

int scMidiPutTempo(CMidiTrackStream* stream, int tempo) {
    const std::uint32_t us = scMidiTempoMicroseconds(tempo);
    const std::uint8_t data[3] = {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
                                  static_cast<std::uint8_t>(us)};
    return scMidiPutMeta(stream, kMetaTempo, data);
}

int scMidiPutKeySignature(CMidiTrackStream* stream, int fifths, int mode) {
    // Readers reject a key signature beyond seven flats or sharps.
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(fifths, -7, 7))),
                                  static_cast<std::uint8_t>(mode == 1 ? 0 : 1)};
    return scMidiPutMeta(stream, kMetaKeySignature, data);
}

std::uint8_t scMidiClocksPerClick(int unitIndex) {
    if (unitIndex < 0 || unitIndex > 12) return 0;
    return static_cast<std::uint8_t>(96 >> unitIndex);
}

int scMidiPutTimeSignature(CMidiTrackStream* stream, int beats, int unitIndex) {
    const std::uint8_t data[4] = {static_cast<std::uint8_t>(beats), static_cast<std::uint8_t>(unitIndex),
                                  scMidiClocksPerClick(unitIndex), 8};
    return scMidiPutMeta(stream, kMetaTimeSignature, data);
}

std::array<std::uint8_t, 14> scMidiFillFileHeader(const CMidiFileHeader& values) {
    const auto length = static_cast<std::uint32_t>(values.length);
    return {'M',
            'T',
            'h',
            'd',
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            static_cast<std::uint8_t>(values.format >> 8),
            static_cast<std::uint8_t>(values.format),
            static_cast<std::uint8_t>(values.tracks >> 8),
            static_cast<std::uint8_t>(values.tracks),
            static_cast<std::uint8_t>(values.division >> 8),
            static_cast<std::uint8_t>(values.division)};
}

std::string scMidiControllerName(int controller) {
    struct Name {
        int number;
        const char* text;
    };
    static constexpr Name kNames[] = {
        {0, "MSB"},     {1, "Mpd"},     {2, "BrCt"},    {4, "FtCt"},   {5, "PtTm"},   {6, "DatEy"},
        {7, "Vol"},     {8, "Bal"},     {10, "Pan"},    {11, "Exp"},   {32, "LSB"},   {64, "DmpP"},
        {65, "Port"},   {66, "Sost"},   {67, "SfPed"},  {69, "Hld2"},  {91, "EEDep"}, {92, "TrDep"},
        {93, "ChDep"},  {94, "CeDep"},  {95, "PhDep"},  {122, "Loc"},  {123, "ANOff"}, {124, "OOff"},
        {125, "OOn"},   {126, "MOn"},   {127, "POn"},
    };
    for (const Name& name : kNames)
        if (name.number == controller) return name.text;
    return std::to_string(controller);
}

int CMidiInstr::reset() {
    *this = CMidiInstr{};
    return kUnset;
}

}  // namespace scorecore
