// One interface for every kind of CD recorder: the real drives (libburn and
// libcdio) and the file-backed simulated one. The library's exports speak only
// to this interface, so a write behaves the same on both.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace burn { struct burn_source; }

namespace discwriter {

using HResult = std::int32_t;

// Physical media types, numbered as the system's interface numbers them.
enum MediaType : int {
    kMediaUnknown = 0,
    kMediaCdRom = 1,
    kMediaCdR = 2,
    kMediaCdRw = 3,
    kMediaDvdRom = 4,
    kMediaDvdRam = 5,
    kMediaDvdPlusR = 6,
    kMediaDvdPlusRw = 7,
    kMediaDvdPlusRDualLayer = 8,
    kMediaDvdDashR = 9,
    kMediaDvdDashRw = 10,
};

enum class WriteMode { DiscAtOnce = 0, TrackAtOnce = 1, Data = 2 };

enum class WriteAction { Writing, Finishing, Verifying };

// What a recorder reports while it writes.
struct WriteProgress {
    WriteAction action = WriteAction::Writing;
    int elapsedSeconds = 0;
    int remainingSeconds = 0;
    int lastWrittenLba = 0;  // disc at once: negative while the lead-in is written
};

// The receiver of a write's progress (the library's sinks).
class WriteEvents {
public:
    virtual ~WriteEvents() = default;
    // Track at once: around each track.
    virtual void trackBegin(int track) = 0;
    virtual void trackDone(int track) = 0;
    // False asks the recorder to cancel the write.
    virtual bool progress(const WriteProgress& progress) = 0;
};

struct WriteOptions {
    bool simulate = false;
    bool burnProof = true;
    int speedSectors = 0;  // sectors per second, 0 = the drive's own
    bool closeDisc = true;
    int verification = -1;
    std::string client;
};

// The audio of one WAV file: its data chunk, padded with zeros to whole sectors when written.
struct AudioTrack {
    std::filesystem::path path;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0;
    std::uint64_t sectors() const;
};

// A disc-at-once image: the tracks in order with their start LBAs.
struct RawLayout {
    std::vector<AudioTrack> tracks;
    std::vector<int> startLba;
    int leadOutLba = 0;
    bool gapless = false;
    bool preemphasis = true;
    bool copyProhibited = true;
};

// Answer of a raw command: sense key and additional sense code (0 when the command succeeded).
struct Sense {
    int key = 0;
    int asc = 0;
    int ascq = 0;
};

enum class Direction { None, Read, Write };

// The identity of a drive as the table keeps it.
struct DriveIdentity {
    std::string uniqueId;
    std::string vendor;
    std::string product;
    std::string revision;
    std::string path;
    bool canWriteTao = false;
};

class Recorder {
public:
    virtual ~Recorder() = default;

    virtual DriveIdentity identity() const = 0;

    // The medium: S_OK with its type, or the no-media / becoming-ready codes.
    virtual HResult mediaType(int& type) = 0;
    virtual bool mediaBlank() = 0;
    // Sectors still free for the mode (disc at once: the last possible lead-out start).
    virtual HResult freeSectors(WriteMode mode, int& sectors) = 0;
    virtual HResult existingTracks(int& count) = 0;
    // Checks that the medium takes a write of the mode.
    virtual HResult prepare(WriteMode mode, const WriteOptions& options) = 0;
    virtual HResult release(WriteMode mode, WriteEvents* events) = 0;
    virtual std::vector<int> writeSpeeds(WriteMode mode) = 0;  // sectors per second

    virtual HResult writeTrackAtOnce(const std::vector<AudioTrack>& tracks, const WriteOptions& options,
                                     WriteEvents& events) = 0;
    virtual HResult writeDiscAtOnce(const RawLayout& layout, const WriteOptions& options,
                                    WriteEvents& events) = 0;
    // A data image of `blocks` blocks of 2048 bytes read from `image`.
    virtual HResult writeData(burn::burn_source* image, std::int64_t blocks, const WriteOptions& options,
                              WriteEvents& events) = 0;
    // Blocks until the erase has ended; `progress` gets elapsed and expected seconds; `stop`
    // asks a drive to end early.
    virtual HResult erase(bool full, const std::function<void(int, int)>& progress,
                          const std::atomic<bool>& stop) = 0;

    virtual HResult eject() = 0;
    virtual HResult closeTray() = 0;
    virtual HResult lock(const std::string& client) = 0;
    virtual HResult unlock() = 0;

    // One MMC command: cdb of 6 to 12 bytes, data in or out through buffer.
    virtual HResult command(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction,
                            std::uint8_t* buffer, std::size_t length, Sense& sense) = 0;
};

}  // namespace discwriter

namespace discwriter {

// Whether a medium of `type` (blank or not) takes a write of `mode`: S_OK, or
// the not-supported or not-blank codes.
HResult mediumFits(WriteMode mode, int type, bool blank);
bool isRewritableMedium(int type);

}  // namespace discwriter
