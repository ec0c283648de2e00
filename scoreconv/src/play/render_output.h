// The output side of a pass: one call per MIDI event, whatever the pass does
// with it. While a pass renders (kModeRender) each event is appended to the
// byte stream of its track, preceded by the track's pending delta ticks; in
// every other mode channel messages go straight to a MIDI output and meta
// events are dropped. At the end of a render pass the tracks are written as a
// standard MIDI file of format 1.
//
// Track numbers come from the track plan and from file data: a track outside
// the file's render tracks is ignored, never indexed. Data bytes are kept in
// 0..127 and channel statuses in 0x80..0xEF, so that no unset value (255)
// ever reaches a message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "play/play_score.h"
#include "platform/midi_out.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"

namespace scoreconv {

// Meta event types written here.
inline constexpr uint8_t kMetaCopyright = 0x02;
inline constexpr uint8_t kMetaTrackName = 0x03;
inline constexpr uint8_t kMetaEndOfTrack = 0x2F;

inline constexpr std::string_view kMetronomeTrackName = "Metronom";
// Text after the 0xA9 byte of track 0's copyright event.
inline constexpr std::string_view kRenderBanner = "qvp3 scoreconv";

// The stream and pending delta of one render track, for emitters that write
// their own events (the metronome). Both null outside a render pass and for
// an unknown track.
struct CRenderTrackSlot {
    scorecore::CMidiTrackStream* stream = nullptr;
    int* delta = nullptr;
};
CRenderTrackSlot renderTrackSlot(PlayScore& file, int32_t track);

// Channel message. Rendering: appended to the track with its pending delta
// (which becomes 0); returns the bytes appended. Otherwise sent to `device`,
// or to file.midiOut when device is null (nothing when both are null);
// returns 0. Also 0, with nothing done, for an unknown track while
// rendering, and for a status outside 0x80..0xEF. Data bytes above 127 are
// taken as 127. kErrOutOfMemory when the stream cannot grow (the stream and
// the delta unchanged).
int renderPutShort(PlayScore& file, int32_t track, uint8_t status, uint8_t data1, uint8_t data2,
                   platform::MidiOutDevice* device = nullptr);
// Meta event, rendering only (0 otherwise): delta, 0xFF, type, length, data.
int renderPutMeta(PlayScore& file, int32_t track, uint8_t type, std::span<const uint8_t> data);
// The same as set-up of the track: the bytes also count into the track's
// header size, so that a track holding nothing else is left out of the file.
int renderPutSetUpShort(PlayScore& file, int32_t track, uint8_t status, uint8_t data1, uint8_t data2,
                        platform::MidiOutDevice* device = nullptr);
int renderPutSetUpMeta(PlayScore& file, int32_t track, uint8_t type, std::span<const uint8_t> data);
int renderPutSetUpText(PlayScore& file, int32_t track, uint8_t type, std::string_view text);

// Writes the track's pending delta alone (a delta must be followed by an
// event: the put operations above write the delta themselves). The bytes
// written; 0 outside a render pass and for an unknown track.
int renderFlushDelta(PlayScore& file, int32_t track);
// Every track's pending delta grows by ticks (rendering only; a negative
// count changes nothing).
void renderAdvance(PlayScore& file, int64_t ticks);

// Score-wide meta events on track 0, rendering only. The time signature of a
// meter without a valid beat count (1..255) or unit is not written (0).
int renderPutTempo(PlayScore& file, int32_t tempo);
int renderPutTimeSignature(PlayScore& file, const scorecore::CMeter& meter);
// mode 1 is major, any other minor; fifths are kept within -7..7.
int renderPutKeySignature(PlayScore& file, int32_t fifths, int32_t mode);

// Program change of (staff, voice) at once: 0xC0 | the voice's channel, its
// user program (its source program when none is set). Rendering: on the
// voice's track. 0 for an unknown staff or voice.
int actualizePlaybackSound(PlayScore& file, int32_t staff, int32_t voice,
                           platform::MidiOutDevice* device = nullptr);

// Name of the MIDI file's track 0: the scanned file name between its last
// "\" or "/" and its last dot; the whole base name when it has no dot (or
// only a leading one).
std::string renderTrackName(std::string_view scannedName);

// Start of a render pass, after the tracks are allocated: track 0 gets its
// name and a copyright event of 0xA9 and kRenderBanner. 0 or
// kErrOutOfMemory; 0 with nothing written outside a render pass.
int renderTrackZeroHeader(PlayScore& file);
// Start of a render pass, after the tracks are allocated: room in each track
// for what its voices' notes are likely to take, so that the tracks are not
// copied as they grow. Only a hint: nothing fails when memory is short.
void renderReserveTracks(PlayScore& file, uint64_t playConditions);
// Start of a render pass that uses the metronome: on `track`, controller 7
// with the metronome's volume and controller 10 value 64 on its channel
// (remembered as that channel's last volume and pan), then the name
// "Metronom"; all of it set-up. 0 or kErrOutOfMemory; 0 outside a render
// pass and for an unknown track.
int renderMetronomeTrack(PlayScore& file, int32_t track);

// End of a render pass: ends every track, then writes track 0 and each other
// track that holds more than its set-up as a standard MIDI file of format 1
// at the file's resolution. The file is written beside the target and
// renamed over it only when complete, so a failure leaves any old file as it
// was and no partial one. 0; kErrCreate (-200) when the file cannot be
// created; kErrWrite (-101) when a write fails, or when the tracks or the
// resolution do not fit the header; kErrOutOfMemory.
int renderWriteMidiFile(PlayScore& file, const std::filesystem::path& target);
// Whether target is the score the file was loaded from (under any name): a
// render there would replace the user's score, so it is refused with kErrCreate.
bool renderTargetIsSource(const PlayScore& file, const std::filesystem::path& target);

}  // namespace scoreconv
