// The metronome record: count-in bars, which beats click, the click's key, sound
// and levels, with the emitters that click live (to a MIDI output) or into a MIDI
// track stream, and the player item lists of one bar of clicks and of the count-in
// (player_items.h).
//
// The settings are public fields that project and profile files fill directly:
// every data byte is kept in 0..127 and the channel in 0..15 where it is used.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/midi_out.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"
#include "scorecore/player_items.h"

namespace scorecore {

// Bars longer than this click nothing; count-ins longer than this are cut to it.
inline constexpr int32_t kMetronomeMaxBeats = 64;
inline constexpr int32_t kMetronomeMaxCountIn = 64;
inline constexpr uint8_t kMetronomeSilent = 255;  // `sounding` with no click on
inline constexpr uint8_t kPercussionChannel = 9;

class CMetronom {
public:
    // --- click pattern, for a bar of `beats` beats and beat c counted from 1.
    // Frequency 0 clicks every beat, 1 the middle one (c = beats / 2 + 1), 2 the odd
    // ones, 3 every third from the first, 4 every fourth from the first; any other
    // value none. Beat 1 always clicks.
    // Live rule (clickFreq, countClicks): the last beat clicks only with LastBeat.
    bool clicksLive(int32_t beats, int32_t c) const;
    // Clicking beats of a bar by the live rule; 0 for a bar outside 1..64 beats.
    int32_t countClicks(int32_t beats) const;
    // List rule (buildBarClicks, buildCountIn): beat 1 and, with LastBeat, the last
    // beat always click; every other beat (the last one too without LastBeat) by the
    // pattern. False for n outside 1..beats.
    bool isClickBeat(int32_t beats, int32_t n) const;

    // --- emitters. Each message is preceded by the caller's pending delta
    // (scMidiPutDelta, which zeroes it) and appended to `stream`; without a stream it
    // goes to `device` (when there is one). They answer the bytes added to the
    // stream (0 when live) or -1 when the stream cannot grow.
    // Ends a sounding click (note-on with velocity 0, sounding = none). Then, unless
    // stopOnly, and when force or Use: a program change to Program off channel 9
    // when it differs from *lastProgram; controller 7 with Volume when it differs
    // from *lastVolume; controller 10 with Pan when it differs from *lastPan (each
    // remembered there; a null pointer means nothing is known and the message goes
    // out); then a note-on of Instrument with velocity 127 for an accented beat
    // (accent and FirstBeat) or else Velocity, and sounding = Instrument.
    int emitClick(platform::MidiOutDevice* device, bool force, bool accent, bool stopOnly, uint8_t* lastVolume,
                  uint8_t* lastPan, CMidiTrackStream* stream, int& delta, uint8_t* lastProgram);
    // Ends the sounding click only.
    int clickOff(platform::MidiOutDevice* device, CMidiTrackStream* stream, int& delta);
    // One beat of live clicking: a beat that clicks by the live rule (every beat
    // with force) goes to emitClick with accent = (beat = 1); on a silent beat the
    // sounding click ends.
    int clickFreq(platform::MidiOutDevice* device, bool force, int32_t beats, int32_t beat, uint8_t* lastVolume,
                  uint8_t* lastPan, CMidiTrackStream* stream, int& delta, uint8_t* lastProgram);

    // --- player items, at the meter's resolution.
    // One bar into barClickItems, beats + 3 items in one click lane: marker (type 5,
    // start 0), anchor, per beat a click or a rest of the beat's ticks, end. A click
    // is a timed plain note item (kind 18) of Instrument with the velocity twice
    // (Volume on beat 1 with FirstBeat, else Velocity), length code 4 and the beat's
    // ticks; a silent beat is the rest (0x80, 100, 100, ticks). A meter without
    // tick lengths, or of fewer than 1 or more than 64 beats, gives a bar that
    // clicks nothing (marker, anchor, end). False when memory fails.
    bool buildBarClicks(const CMeter& meter);
    // CountIn bars (cut to 0..64) into countInItems, one click lane starting at
    // `start` ticks: marker (type 5, start; off channel 9 it carries Program with
    // kMarkerHasProgram), anchor, per beat of each bar a click - note-on of
    // Instrument with the velocities of buildBarClicks and the beat's ticks, then
    // its release (0x80, key, 0, time 0) - or a rest of the beat's ticks, end.
    // False when memory fails.
    bool buildCountIn(const CMeter& meter, int32_t start);

    // Frees both item lists.
    void clear();

    // --- fields, in stored order.
    int32_t CountIn = 2;      // count-in bars
    uint8_t Use = 1;          // click while the music plays
    uint8_t Instrument = 42;  // click key
    uint8_t Program = 0;      // program sent before clicks (not on channel 9)
    uint8_t Velocity = 50;    // velocity of ordinary clicks
    uint8_t FirstBeat = 1;    // accent the first beat
    int32_t Frequency = 0;    // click pattern 0..4
    uint8_t Channel = kPercussionChannel;
    uint8_t Volume = 127;     // controller 7; also the accented velocity of the lists
    uint8_t Pan = 64;         // controller 10
    uint8_t sounding = kMetronomeSilent;  // key of the click now on
    int32_t LastBeat = 1;     // the last beat of a bar clicks
    std::vector<CPlayerItem> countInItems;
    std::vector<CPlayerItem> barClickItems;
    uint8_t inUse = 0;        // set by the metronome preview while it clicks

private:
    bool patternClicks(int32_t beats, int32_t c) const;
    uint8_t channel() const;
    uint8_t listVelocity(int32_t beat) const;
};

}  // namespace scorecore
