// The player state of one entry: what the own sequencer keeps between its
// steps (position, meter, per-voice cursors, channel states) and, while a
// converted MIDI file is written, the per-track byte streams of the export.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/midi_out.h"
#include "platform/real_time_clock.h"
#include "platform/threads.h"
#include "qvp3_pipeline/worker_threads.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"

namespace qvp3 {

struct ProjectEntry;

// Player modes of the sequencer.
inline constexpr int kPlayerMeasure = 1;  // no waiting, no output: the playing time
inline constexpr int kPlayerPlay = 2;     // real time to a MIDI output
inline constexpr int kPlayerExport = 3;   // into the export streams, then a file
inline constexpr int kPlayerSeek = 4;     // no waiting, nothing sent, up to a target time

// Entry states the sequencer reads (ProjectEntry::entryState).
inline constexpr std::int32_t kEntryIdle = 0;
inline constexpr std::int32_t kEntryPaused = 5;  // the loop silences and waits
inline constexpr std::int32_t kEntryStopRequested = 7;     // also the cancel of a step worker
inline constexpr std::int32_t kEntryStoppedInTuneUp = 8;

// Option bits of the entry's option word read by the sequencer.
inline constexpr std::uint32_t kSeqPercussionOnly = 0x1;
inline constexpr std::uint32_t kSeqVoiceMuting = 0x2;
inline constexpr std::uint32_t kSeqTranspose = 0x8;
inline constexpr std::uint32_t kSeqStaveChannel = 0x10;
inline constexpr std::uint32_t kSeqVolume = 0x800;
inline constexpr std::uint32_t kSeqMetronome = 0x1000;
inline constexpr std::uint32_t kSeqMetronomeWithTuneUp = 0x2000;

// Play options of the project (Project::playFeatures) the players read.
inline constexpr std::uint64_t kPlayVoiceMasks = 0x2;
inline constexpr std::uint64_t kPlayTranspose = 0x8;
inline constexpr std::uint64_t kPlayChannels = 0x10;
inline constexpr std::uint64_t kPlayPanorama = 0x200;
inline constexpr std::uint64_t kPlayVolume = 0x400;
inline constexpr std::uint64_t kPlayCountIn = 0x1000;
inline constexpr std::uint64_t kPlayMetronome = 0x2000;
inline constexpr std::uint64_t kPlayChosenSounds = 0x4000;
inline constexpr std::uint64_t kPlayTuneUp = 0x8000;

// Where the position and tempo of a playing entry are shown (the transport's
// track bar and tempo display); every call may come from the player thread.
class PlayerView {
public:
    virtual ~PlayerView() = default;
    virtual void setPositionRange(std::int32_t maximumMs) = 0;
    virtual void showPosition(std::int32_t ms, std::int32_t bar, std::int32_t beat) = 0;
    virtual void showTempo(double beatsPerMinute) = 0;
};

struct VoiceCursor {
    std::size_t index = 0;        // next event of the voice's list
    std::int64_t nextTime = 0;    // its time in ticks
    bool finished = false;
};

struct ChannelState {
    std::uint8_t volume = 0;
    std::uint8_t panorama = 64;
};

// A note whose note-off is still to be sent or written.
struct SoundingNote {
    std::int64_t offTime = 0;
    int track = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    bool operator>(const SoundingNote& other) const { return offTime > other.offTime; }
};

struct EntryPlayer {
    platform::MidiOutDevice* midiOut = nullptr;  // mode 2
    std::unique_ptr<platform::MidiOutDevice> ownedOut;  // an output the player opened itself
    int mode = 0;
    std::uint32_t options = 0;  // the entry's option word (kSeq* bits)
    // With kSeqMetronome: whether the count-in bars come first, and whether
    // the metronome clicks through the piece (with its use flag).
    bool countIn = true;
    bool clicks = true;
    // The start position, copied into the counters when a loop starts at 0 ms.
    std::int32_t startBar = 1;
    std::int32_t startBeat = 1;
    std::int32_t startTick = 0;
    std::int32_t seekTargetMs = 0;  // mode 4

    // --- loop state
    std::int64_t positionTicks = 0;  // 480 per quarter
    std::int64_t positionMs = 0;
    // positionMs as other threads may read it (the transport's display).
    std::atomic<std::int64_t> publishedMs{0};
    std::int32_t bar = 1;
    std::int32_t beat = 1;
    std::int32_t tickInBeat = 0;
    scorecore::CMeter meter;
    int currentMeter = -1;  // indices into the conductor list
    int nextMeter = -1;
    double tempo = 0.0;     // the effective tempo last taken
    double msCarry = 0.0;
    std::int64_t leadTicks = 0;  // count-in ticks before the music
    std::int64_t musicStartTicks = 0;  // the start position in the music
    std::int64_t nextBeatAt = 0; // position of the next beat boundary
    std::vector<std::vector<VoiceCursor>> cursors;  // [staff][voice]
    std::vector<SoundingNote> sounding;             // a heap by off time
    std::array<ChannelState, 16> channels{};

    // --- export streams, one per output track
    std::vector<scorecore::CMidiTrackStream> streams;
    std::vector<int> pending;                   // delta ticks not yet written
    std::vector<std::uint32_t> openingLength;   // bytes that are not content
    // Metronome state of the channel it clicks on.
    std::uint8_t clickVolume = 0xFF;
    std::uint8_t clickPan = 0xFF;
    std::uint8_t clickProgram = 0xFF;

    // --- hooks
    const platform::RealTimeClock* clock = nullptr;  // the steady clock when null
    // Wakes a paused loop (set by whoever changes a paused entry's state).
    std::shared_ptr<platform::Event> wake = std::make_shared<platform::Event>(platform::Event::Kind::AutoReset);
    std::int32_t rememberedState = 0;  // the state when a seek began
    std::unique_ptr<WorkerThreadRec> wind;  // the wind thread while a wind button is held
    PlayerView* view = nullptr;
    // The tempo in beats per minute at a position; the file's tempo with the
    // entry's relative or absolute tempo when not set.
    std::function<double(ProjectEntry& entry, std::int64_t ticks)> tempoFunction;

    bool exporting() const { return mode == kPlayerExport && !streams.empty(); }
    scorecore::CMidiTrackStream* stream(int track);
};

// The player's output as other threads may see it: whoever sets or clears
// midiOut while the player may be heard from another thread goes through this.
inline std::atomic_ref<platform::MidiOutDevice*> plyLiveOutput(EntryPlayer& player) {
    return std::atomic_ref<platform::MidiOutDevice*>(player.midiOut);
}

}  // namespace qvp3
