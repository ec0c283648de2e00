// The play model's tables: who plays what and how loud. Per staff a list of
// instrument records with the MIDI channel plan, the numbering of the render
// tracks, the dynamics table that turns marks into levels, the articulation
// table that turns marks into velocities and lengths, the per-(staff, voice)
// volumes and pans, the percussion key lookup and the tempo rule.
//
// The reader fills these while it loads a score, the host adjusts them
// through the library's setters and the play procedure reads them every step.
// Indexes come from files and from the host: unknown ones read as "none" and
// are never used to index a table. No MIDI data byte made here is ever 255 or
// above 127.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "play/play_controls.h"
#include "play/voice_table.h"
#include "scorecore/midi_stream.h"
#include "scorecore/tvrxml_vocab.h"

namespace scoreconv {

using scorecore::CDynamik;
using scorecore::CMidiInstr;

// --- play conditions (the file's 64-bit bit set) ---------------------------------------
inline constexpr uint64_t kCondPercussionOnly = 0x1;      // only percussion staves sound
inline constexpr uint64_t kCondVoiceOnOff = 0x2;          // switched-off voices are silent
inline constexpr uint64_t kCondTempoRule = 0x4;           // the host's tempo rule applies
inline constexpr uint64_t kCondTranspose = 0x8;           // TranspAdd applies
inline constexpr uint64_t kCondVoiceChannel = 0x10;       // messages take the voice's channel
inline constexpr uint64_t kCondDynamics = 0x20;           // dynamics set the voice volume
inline constexpr uint64_t kCondArticulations = 0x40;      // articulations change velocity and length
inline constexpr uint64_t kCondShorten = 0x80;            // notes are shortened
inline constexpr uint64_t kCondSwing = 0x100;             // swing quantization
inline constexpr uint64_t kCondUserPan = 0x200;           // the user pan goes out
inline constexpr uint64_t kCondUserVolume = 0x400;        // dynamics scale by the user volume
inline constexpr uint64_t kCondBaseVelocity = 0x800;      // plain notes take the base velocity
inline constexpr uint64_t kCondMetronome = 0x1000;        // count-in and clicks
inline constexpr uint64_t kCondMetronomeOnly = 0x2000;    // with kCondMetronome: no notes
inline constexpr uint64_t kCondUserProgram = 0x4000;      // set-up sends the user program
inline constexpr uint64_t kCondTuneUp = 0x8000;           // the tune-up plays first
inline constexpr uint64_t kCondPercussionTracks = 0x20000;  // render: a track per drum instrument

inline constexpr uint8_t kDrumChannel = 9;  // MIDI channel 10
inline constexpr int32_t kChannels = 16;
inline constexpr uint8_t kNoKey = 255;      // percussion key lookup: nothing to play

// Default volume (mf) and pan of a voice.
inline constexpr int32_t kDefaultVolume = 74;
inline constexpr int32_t kDefaultPan = 64;

// --- articulation table -----------------------------------------------------------------

struct CArticulationRow {
    int8_t noteCut = 0;        // percent added to the sounding length
    int8_t velocity = 0;       // rows 0-2: raise in percent of the base; rows 3-6: the velocity
    int8_t presentInFile = 0;
};

// Rows: 0 staccato, 1 staccatissimo, 2 tenuto, 3 strong accent, 4 normal accent,
// 5 strong beat, 6 weak beat (CEventArticulation::tableIndex gives the row of a code).
struct CArticulation {
    static constexpr int32_t kRows = 7;
    static constexpr int32_t kFirstVelocityRow = 3;  // rows from here hold a velocity

    uint8_t flag = 1;
    uint8_t ArticulationUse = 1;
    std::array<CArticulationRow, kRows> rows{{{-50, 0, 0},
                                              {-70, 10, 0},
                                              {10, 0, 0},
                                              {-40, 118, 0},
                                              {-20, 110, 0},
                                              {-50, 127, 0},
                                              {-10, 102, 0}}};

    // Null for an unknown row.
    CArticulationRow* row(int32_t index);
    const CArticulationRow* row(int32_t index) const;
    // Takes the note cuts and velocities of another table (not its flags).
    void copyValues(const CArticulation& from);
    void clearPresent();
};

// Takes the 8 velocities of another table (not its flags).
void copyDynamikValues(CDynamik& to, const CDynamik& from);
void clearDynamikPresent(CDynamik& table);

// What a play-time pass notes of the marks it meets: a level code sets its
// row's present flag, "fp" those of "f" and "p"; an articulation code with a
// row sets that row's flag. Other codes change nothing.
void markDynamicPresent(CDynamik& table, int32_t code);
void markArticulationPresent(CArticulation& table, int32_t code);

// --- note values ------------------------------------------------------------------------

// Ticks of a note type at ticksPerQuarter: "breve" 8 quarters ... "256th" a 64th of a
// quarter (7 at 480); a word of decimal digits is that many whole notes. Each dot adds
// half of the previous value; a time modification (actual a, normal n, a > 0) gives
// value - (a - n) x value / a. 0 for an unknown word, a resolution below 1 and a value
// beyond 32 bits.
int32_t noteTypeTicks(std::string_view word, int32_t dots = 0, int32_t actual = 0, int32_t normal = 0,
                      int32_t ticksPerQuarter = 480);

// --- instruments and the channel plan ---------------------------------------------------

// Per staff the instrument records in order; a staff whose first record is
// percussion is a percussion staff.
class CStaffInstruments {
public:
    enum class NewChannel { Own, Shared };

    // Appends n empty lists; false (nothing added) for n < 0 or without memory.
    bool addStaves(int32_t n);
    void clear();

    int32_t staffCount() const { return static_cast<int32_t>(staves_.size()); }
    int32_t count(int32_t staff) const;  // 0 for an unknown staff
    CMidiInstr* at(int32_t staff, int32_t index);  // null when unknown
    const CMidiInstr* at(int32_t staff, int32_t index) const;
    std::span<const CMidiInstr> list(int32_t staff) const;

    // Appends a copy; false when the staff is unknown or memory runs out.
    bool append(int32_t staff, const CMidiInstr& instrument);
    // Removes one record and moves the rest down; an unknown index changes
    // nothing. Always true.
    bool remove(int32_t staff, int32_t index);

    bool isPercussionStaff(int32_t staff) const;
    bool isPercussion(int32_t staff, int32_t index) const;

    // The running id of the next percussion instrument of the file: 128 for the
    // first, one more for each, and 255 from then on (ids never wrap).
    uint8_t nextPercussionId();

    // Decides the channels of an instrument about to be appended to the staff
    // (adjusting its SrcChannel and Channel). A source channel outside 0..15 is
    // unset and is left to the channel plan. Percussion keeps its channel; a
    // channel no other record of the staff uses is kept; a used one is shared
    // with a record of the same program, or else moves to the channel least
    // used by the staff (lowest first, never the drum channel).
    NewChannel channelForNew(int32_t staff, CMidiInstr& instrument) const;
    // Gives every record without a planned channel (every record when renew)
    // one: the drum channel on percussion staves, else the first channel no
    // record uses, or when all are used the least used one other than the
    // drum channel. A planned channel outside 0..15 counts as unplanned.
    void planChannels(bool renew);

    // MIDI channel (0..15) of a record: its planned channel, or when it has
    // none the drum channel on a percussion staff and 0 elsewhere.
    uint8_t midiChannel(int32_t staff, int32_t index) const;
    // Program (0..127) of a record: the user program when asked for and set,
    // else the source program, else 0.
    uint8_t midiProgram(int32_t staff, int32_t index, bool user) const;

    // The key a percussion staff plays for a key of the score: a key with bit 7
    // set is matched against SrcProgPercId, any other against the number at the
    // start of the instrument id; the matching record's PercNote. kNoKey when
    // nothing matches, for keys outside 0..255 and for unknown staves.
    uint8_t percussionKey(int32_t staff, int32_t key) const;

private:
    const std::vector<CMidiInstr>* staff(int32_t index) const;
    std::vector<std::vector<CMidiInstr>> staves_;
    int32_t percussionIds_ = 0;
};

// --- render tracks ----------------------------------------------------------------------
// Track 0 carries the score-wide data, then each staff has its tracks: one per
// instrument record on a percussion staff with kCondPercussionTracks, else one
// per voice; a staff without voices or records still takes one. Then the
// metronome track and the tune-up track, when used.

struct CTrackLayout {
    int32_t voiceTracks = 0;     // tracks of the staves (after track 0)
    int32_t metronomeTrack = -1;
    int32_t tuneUpTrack = -1;
    int32_t count = 1;           // all tracks, track 0 included
};

CTrackLayout planTracks(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                        uint64_t playConditions, bool metronomeTrack, bool tuneUpTrack);
// Track of (staff, voice); -1 for an unknown staff or voice.
int32_t trackOfVoice(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                     uint64_t playConditions, int32_t staff, int32_t voice);
// With kCondPercussionTracks: the track of the percussion staff's record whose
// PercNote is key; -1 when there is none or the staff is not percussion.
int32_t trackOfPercussionKey(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                             uint64_t playConditions, int32_t staff, int32_t key);

// --- volumes and pans -------------------------------------------------------------------

// Per staff the source volume, per (staff, voice) the user volume and pan.
// A staff without voices (or an unknown one) reads 74 and 64 and ignores writes.
class CVoiceMix {
public:
    // Every volume 74 and every pan 64; false (unchanged) without memory.
    bool resize(std::span<const int32_t> voiceCounts);
    void clear();

    int32_t sourceVolume(int32_t staff) const;
    void setSourceVolume(int32_t staff, int32_t volume);
    int32_t userVolume(int32_t staff, int32_t voice) const;
    void setUserVolume(int32_t staff, int32_t voice, int32_t volume);
    int32_t userPan(int32_t staff, int32_t voice) const;
    void setUserPan(int32_t staff, int32_t voice, int32_t pan);

private:
    std::vector<int32_t> sourceVolumes_;
    CVoiceTable<int32_t> userVolumes_;
    CVoiceTable<int32_t> userPans_;
};

// --- tempo, velocity, length and level rules --------------------------------------------

// The tempo in force for a tempo mark's value (-1 = 120). Unchanged without
// kCondTempoRule, and while ignoreTempo is set outside a play-time pass.
int32_t applyTempoRule(int32_t value, const CTempoSettings& settings, uint64_t playConditions,
                       bool ignoreTempo, bool playTimePass);

// Velocity (1..127) of a note-on for an articulation code (0 none).
int32_t noteOnVelocity(const CArticulation& table, int32_t articulationCode, uint64_t playConditions,
                       int32_t baseVelocity);
// Sounding length of a note of `duration` ticks; timeStep is the play
// procedure's step (the result is at least that and at most the duration).
int32_t soundingLength(const CArticulation& table, int32_t articulationCode, int32_t duration, bool tiedOn,
                       uint64_t playConditions, int32_t noteShortening, int32_t timeStep);

// The table velocity of a level code (ppp 10 .. fff 127 as the table holds it
// now); -1 for codes that are no level.
int32_t dynamikLevel(const CDynamik& table, int32_t code);
// Voice level (0..127) that a dynamic code sets: a level through the table,
// scaled by volume / 74; "fp" as "f"; accents and relative codes from the
// channel's last volume. -1 for no dynamic (0) and unknown codes.
int32_t dynamicVoiceLevel(const CDynamik& table, int32_t code, int32_t volume, int32_t lastVolume);

}  // namespace scoreconv
