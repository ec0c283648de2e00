// Low-level reading of Standard MIDI Files.
#include "qvp3_pipeline/midi_smf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>

namespace qvp3::smf {
namespace {

constexpr std::size_t kRiffSkip = 16;  // RIFF size, "RMID", "data", data size
constexpr std::uint32_t kHeaderLength = 6;
constexpr std::uint32_t kSmpteDivision = 0x8000;
constexpr int kMaxQuantityBytes = 4;

std::uint32_t bigEndian(const std::uint8_t* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

bool hasTag(const std::uint8_t* bytes, const char* tag) { return std::memcmp(bytes, tag, 4) == 0; }

}  // namespace

std::int64_t SmfHeader::modelTicks(std::uint32_t delta) const {
    const std::int64_t perQuarter = division > 0 ? division : kModelDivision;
    return (static_cast<std::int64_t>(delta) * kModelDivision * 2 + perQuarter) / (perQuarter * 2);
}

int SmfFile::open(const std::filesystem::path& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return kCannotOpen;
    in_.open(path, std::ios::binary);
    if (!in_) return kCannotOpen;
    in_.seekg(0, std::ios::end);
    const std::streamoff end = in_.tellg();
    in_.seekg(0, std::ios::beg);
    if (end < 0 || !in_) return kCannotOpen;
    size_ = static_cast<std::uint64_t>(end);

    std::array<std::uint8_t, 4> tag{};
    if (!readBytes(tag.data(), tag.size())) return kNotMidi;
    if (hasTag(tag.data(), "RIFF")) {
        std::array<std::uint8_t, kRiffSkip> skipped{};
        if (!readBytes(skipped.data(), skipped.size()) || !readBytes(tag.data(), tag.size())) return kNotMidi;
    }
    std::array<std::uint8_t, 10> fields{};
    if (!hasTag(tag.data(), "MThd") || !readBytes(fields.data(), fields.size())) return kNotMidi;
    if (bigEndian(&fields[0], 4) != kHeaderLength) return kNotMidi;
    header_.format = static_cast<int>(bigEndian(&fields[4], 2));
    header_.trackCount = static_cast<int>(bigEndian(&fields[6], 2));
    const std::uint32_t division = bigEndian(&fields[8], 2);
    // Format 2 holds independent sequences, which cannot be played as one piece.
    if (header_.format > 1 || (division & kSmpteDivision) != 0) return kNotMidi;
    header_.division = static_cast<int>(division);
    if (header_.format == 1 && header_.trackCount > 1) header_.firstTrackPlays = firstTrackHasNotes();
    return kOk;
}

bool SmfFile::firstTrackHasNotes() {
    const std::streamoff at = in_.tellg();
    std::vector<std::uint8_t> chunk;
    bool notes = false;
    // A damaged first track is left to the reading itself to report.
    if (at >= 0 && readTrack(chunk) == kOk) {
        SmfTrackCursor cursor(chunk);
        SmfEvent e;
        while (!notes && cursor.next(e) > 0) notes = e.isNoteOn();
    }
    in_.clear();
    in_.seekg(at);
    return notes;
}

bool SmfFile::readBytes(std::uint8_t* to, std::size_t count) {
    in_.read(reinterpret_cast<char*>(to), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(in_.gcount()) == count;
}

std::uint64_t SmfFile::remaining() {
    const std::streamoff at = in_.tellg();
    if (at < 0 || static_cast<std::uint64_t>(at) > size_) return 0;
    return size_ - static_cast<std::uint64_t>(at);
}

int SmfFile::readTrack(std::vector<std::uint8_t>& body) {
    std::array<std::uint8_t, 8> chunk{};
    std::uint32_t length = 0;
    for (;;) {
        if (!readBytes(chunk.data(), chunk.size())) return kShortRead;
        length = bigEndian(&chunk[4], 4);
        // Checked before allocating or skipping: a damaged length must not
        // ask for gigabytes nor move past the file.
        if (length > remaining()) return kShortRead;
        if (hasTag(chunk.data(), "MTrk")) break;
        // Some programs put chunks of their own before or between the tracks.
        in_.seekg(static_cast<std::streamoff>(length), std::ios::cur);
        if (!in_) return kShortRead;
    }
    try {
        body.resize(length);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    return readBytes(body.data(), body.size()) ? kOk : kShortRead;
}

bool SmfTrackCursor::readQuantity(std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < kMaxQuantityBytes; ++i) {
        if (at_ >= chunk_.size()) return false;
        const std::uint8_t byte = chunk_[at_++];
        value = value << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

bool SmfTrackCursor::readDataByte(std::uint8_t& value) {
    if (at_ >= chunk_.size() || chunk_[at_] >= 0x80) return false;
    value = chunk_[at_++];
    return true;
}

int SmfTrackCursor::next(SmfEvent& event) {
    if (ended_ || at_ >= chunk_.size()) return 0;
    event = SmfEvent{};
    if (!readQuantity(event.delta) || at_ >= chunk_.size()) return kNotMidi;
    std::uint8_t status = chunk_[at_];
    if (status >= 0x80) {
        ++at_;
    } else {
        status = runningStatus_;  // the byte is the first data byte
        if (status == 0) return kNotMidi;
    }
    event.status = status;
    if (status >= 0xF0) {
        if (status == 0xFF && (at_ >= chunk_.size() || chunk_[at_] >= 0x80)) return kNotMidi;
        if (status == 0xFF) event.metaType = chunk_[at_++];
        std::uint32_t length = 0;
        if (!readQuantity(length) || length > chunk_.size() - at_) return kNotMidi;
        event.data = chunk_.subspan(at_, length);
        at_ += length;
        ended_ = event.isMeta(kMetaEndOfTrack);
        return 1;
    }
    // Meta and system events leave the running status alone: files written by
    // many programs rely on that.
    runningStatus_ = status;
    if (!readDataByte(event.data1)) return kNotMidi;
    const int command = status & 0xF0;
    if (command != 0xC0 && command != 0xD0 && !readDataByte(event.data2)) return kNotMidi;
    return 1;
}

std::uint32_t tempoHundredths(std::span<const std::uint8_t> data) {
    if (data.size() < 3) return 0;
    const std::uint32_t micros = (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
    if (micros == 0) return 0;  // no tempo at all: passed over rather than divided by
    return static_cast<std::uint32_t>(std::clamp(std::round(6000000000.0 / micros), 800.0, 25000.0));
}

}  // namespace qvp3::smf
