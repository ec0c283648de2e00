// What a pass sends besides the notes: each voice's program, volume and pan
// before the music starts, the volume and pan changes while it plays (only
// when the channel did not get that value last), and the tune-up - a chord,
// or the first notes of chosen voices - so that players can tune before the
// music begins.
//
// Everything goes through the render output (render_output.h): appended to
// the tracks while rendering, sent to a MIDI output otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "play/play_score.h"
#include "platform/midi_out.h"
#include "platform/real_time_clock.h"
#include "platform/threads.h"

namespace scoreconv {

// The time a real-time pass waits by (tests pass a clock of their own).
using CRealTimeClock = platform::RealTimeClock;

// Milliseconds the tune-up waits after its last note before it returns.
inline constexpr int32_t kTuneUpAfterMs = 500;
inline constexpr std::string_view kTuneUpTrackName = "Einstimmung";

// MIDI channel (0..15) of (staff, voice): with kCondVoiceChannel the planned
// channel of its instrument record, else the channel of its first channel
// message (the record's when it has none).
uint8_t voiceMidiChannel(const PlayScore& file, int32_t staff, int32_t voice);

// Start of a pass (nothing in the play-time mode), staff by staff: each voice
// with a planned channel gets its program (not on percussion staves; the user
// program with kCondUserProgram), controller 7 with its volume (the user
// volume with kCondUserVolume, else the staff's source volume) and controller
// 10 with its pan (the user pan with kCondUserPan, else 64), remembered as the
// channel's last volume and pan. A percussion staff rendered with
// kCondPercussionTracks instead gives each of its instrument tracks the
// volume and pan of its first voice on the drum channel. While rendering all
// of it counts as the tracks' set-up. 0 or kErrOutOfMemory.
int setUpVoices(PlayScore& file, platform::MidiOutDevice* device = nullptr);

// Controller 7 with the voice's level (file.cursor.levels) when the voice's
// channel did not get that volume last; then it is remembered. On a
// percussion staff rendered with kCondPercussionTracks only voice 0 acts, on
// every instrument track. Bytes appended (0 when sent or nothing to do), or
// kErrOutOfMemory.
int sendVoiceVolume(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device = nullptr);
// With kCondUserPan: controller 10 with the voice's user pan when its channel
// did not get that pan last; then it is remembered. As sendVoiceVolume.
int sendVoicePan(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device = nullptr);

// The tune-up; true when it ran or had nothing to do (the play-time mode,
// Type 0, kCondTuneUp clear, first notes with no voice selected).
//
// The chord (Type 2) plays on channel 1 of the tune-up's own track with its
// Instrument; first notes take each selected voice's first sounding note
// (transposed by TranspAdd except on percussion staves, percussion keys
// looked up) on the voice's channel and track, or on channel 1 of the own
// track when the tune-up has one. Volume goes out as controller 7, pan 64.
// Notes have velocity 100; together for Duration ms, or broken up one
// arpeggio step each (each ending before the next without Sounding); then
// all end.
//
// Real time: the waits run on `clock` against file.tuneUpParams.event (an
// event of its own when none is given); when the event ends a wait the
// output is reset, the stop word becomes kTuneUpStopped and the notes end at
// once. At the end it waits kTuneUpAfterMs and sets the given event.
// Rendering: nothing waits; a tempo of 60 goes to track 0 and every track's
// pending delta grows by the tune-up's length at that tempo, so that the
// music (whose own tempo the pass writes next) starts after it. The
// tune-up's own track is the last render track; its sounds and name count
// as its set-up.
bool playEinstimmung(PlayScore& file, const CRealTimeClock& clock = CRealTimeClock::steady());

}  // namespace scoreconv
