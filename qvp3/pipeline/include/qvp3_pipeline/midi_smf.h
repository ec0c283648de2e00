// Low-level reading of Standard MIDI Files: the header (plain or inside a
// RIFF "RMID" wrapper), the track chunks and the events of one chunk. Every
// length is checked against what holds it before anything is read or
// allocated, because the lengths come from user files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <vector>

#include "qvp3_pipeline/midi_read.h"

namespace qvp3::smf {

inline constexpr int kOk = kMidiOk;
inline constexpr int kOutOfMemory = kMidiOutOfMemory;
inline constexpr int kShortRead = kMidiShortRead;
inline constexpr int kCannotOpen = kMidiCannotOpen;
inline constexpr int kNotMidi = kMidiNotMidiFile;

// Ticks per quarter of the play model.
inline constexpr int kModelDivision = 480;

struct SmfHeader {
    int format = 0;      // 0 or 1
    int trackCount = 0;  // as the header announces it
    int division = 0;    // ticks per quarter; 0 is read as kModelDivision

    // Track 0 of the file plays notes (some programs put the first
    // instrument into the conductor track).
    bool firstTrackPlays = false;

    // A format-1 file with more than one track has its own conductor track 0,
    // unless that track plays notes; every other file's tracks follow an
    // empty conductor track.
    bool hasConductorTrack() const { return format == 1 && trackCount > 1 && !firstTrackPlays; }
    bool isOneTrack() const { return trackCount == 1; }
    int entryTrackCount() const { return hasConductorTrack() ? trackCount : trackCount + 1; }
    int entryTrack(int fileTrack) const { return hasConductorTrack() ? fileTrack : fileTrack + 1; }
    // A file delta in model ticks, rounded half away from zero.
    std::int64_t modelTicks(std::uint32_t delta) const;
};

// An open file positioned after its header.
class SmfFile {
public:
    // kOk, kCannotOpen, or kNotMidi for anything but a format 0 or 1 file
    // with ticks-per-quarter timing.
    int open(const std::filesystem::path& path);
    const SmfHeader& header() const { return header_; }
    // Reads the next "MTrk" chunk's data into body, skipping chunks of any
    // other type: kOk, kShortRead when the file ends before the chunk or
    // inside it (or inside a skipped one), kOutOfMemory.
    int readTrack(std::vector<std::uint8_t>& body);

private:
    bool readBytes(std::uint8_t* to, std::size_t count);
    // Whether the first track chunk holds a note-on; the file stays where it was.
    bool firstTrackHasNotes();
    std::uint64_t remaining();

    std::ifstream in_;
    std::uint64_t size_ = 0;
    SmfHeader header_;
};

// One event of a track chunk.
struct SmfEvent {
    std::uint32_t delta = 0;
    std::uint8_t status = 0;  // 0x80-0xEF channel events, 0xF0-0xFE system, 0xFF meta
    std::uint8_t metaType = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::span<const std::uint8_t> data;  // system and meta events

    bool isChannel() const { return status < 0xF0; }
    int command() const { return status & 0xF0; }
    int channel() const { return status & 0x0F; }
    bool isMeta(int type) const { return status == 0xFF && metaType == type; }
    bool isNoteOn() const { return command() == 0x90 && data2 > 0; }
    bool isNoteOff() const { return command() == 0x80 || (command() == 0x90 && data2 == 0); }
};

inline constexpr int kMetaTrackName = 0x03;
inline constexpr int kMetaEndOfTrack = 0x2F;
inline constexpr int kMetaTempo = 0x51;
inline constexpr int kMetaTimeSignature = 0x58;
inline constexpr int kPercussionChannel = 9;  // channel 10

// A tempo meta event's data as hundredths of a quarter per minute:
// 6000000000 / microseconds per quarter, rounded, within 800..25000; 0 when
// the event holds fewer than three bytes or a tempo of 0.
std::uint32_t tempoHundredths(std::span<const std::uint8_t> data);

// Walks the events of one track chunk in order.
class SmfTrackCursor {
public:
    explicit SmfTrackCursor(std::span<const std::uint8_t> chunk) : chunk_(chunk) {}
    // 1 with the next event (End of Track included), 0 after End of Track or
    // at the chunk's end, kNotMidi when an event runs past the chunk, a data
    // byte has no running status or is not below 0x80, or a variable-length
    // quantity is longer than four bytes.
    int next(SmfEvent& event);

private:
    bool readQuantity(std::uint32_t& value);
    bool readDataByte(std::uint8_t& value);

    std::span<const std::uint8_t> chunk_;
    std::size_t at_ = 0;
    std::uint8_t runningStatus_ = 0;
    bool ended_ = false;
};

}  // namespace qvp3::smf
