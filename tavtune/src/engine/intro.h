// The intro of a score: the timed items the host hands over (the tune-up's
// lanes and the count-in's, joined, and one bar of clicks that repeats
// through the music), read into lanes of notes, turned into MIDI messages
// with their channels, and played along with the score's passes: before the
// music live and into a render, and the bar of clicks at each step of it.
//
// The items are the host's, so they are read as untrusted: never past their
// count, every time clamped to 0 .. kMaxIntroTicks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "play/play_proc.h"
#include "play/play_score.h"

namespace tavtune {

class OpenScore;

// Ticks of the item lists.
inline constexpr int kIntroTicksPerQuarter = 384;
// Where a lane's time ends at the latest (about 22 minutes at 120).
inline constexpr std::int64_t kMaxIntroTicks = std::int64_t{1} << 20;

// Channels of click lanes: the drum channel, and the last channel for a lane
// that sets a program of its own (a pitched click).
inline constexpr std::uint8_t kClickChannel = 9;
inline constexpr std::uint8_t kPitchedClickChannel = 15;

// One note of a lane, in ticks from the start of its list. The key is a MIDI
// key, or a percussion marker (bit 7 set) as the list carried it.
struct LaneNote {
    std::int64_t on = 0;
    std::int64_t off = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
};

struct Lane {
    std::uint8_t type = 0;  // the marker's: scorecore::kMarkerTuneUp, kMarkerStart, ...
    std::uint8_t program = 0;
    bool hasProgram = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::vector<LaneNote> notes;  // each sounds for at least a tick
};

struct ItemLanes {
    std::vector<Lane> lanes;
    std::int64_t length = 0;  // where the last lane ends
};

// Reads 8-byte items (bytes.size() / 8 of them): a marker opens a lane (and
// ends an open one), an end item ends it, a lane without its end ends with
// the list. Items outside a lane are passed over, and so are items of a kind
// the lists do not have. A spelled note outside the keys 0..127 and a note of
// velocity 0 sound nothing; their time counts.
ItemLanes readItemLanes(std::span<const std::uint8_t> bytes);

// The tune-up voice's settings (C124/C125 with TAVTUNE_TUNE_UP_VOICE).
struct TuneUpVoice {
    std::uint8_t sound = 0;  // program; 128 and above percussion (no program change)
    std::uint8_t volume = 100;
    std::int8_t panorama = 0;  // offset from 64
    std::uint8_t channel = 0;
};

// What the host handed over for the open score.
struct IntroLists {
    ItemLanes list;            // C95
    ItemLanes bar;             // C123: one bar of clicks
    std::int64_t barFrom = 0;  // the bar clicks where the score's position lies in [barFrom, barTo)
    std::int64_t barTo = 0;
    TuneUpVoice tuneUpVoice;

    bool clicks() const { return barFrom < barTo && bar.length > 0 && !bar.lanes.empty(); }
    bool any() const { return list.length > 0 || clicks(); }
};

// A list as it sounds: notes with their channels and the program and
// controller messages before them (ticks from the start of the list).
struct SoundNote {
    std::int64_t on = 0;
    std::int64_t off = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
};
struct SetUpMessage {
    std::int64_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};
struct Sounds {
    std::vector<SoundNote> notes;
    std::vector<SetUpMessage> setUps;
    std::int64_t length = 0;
};

// Tune-up lanes (and lanes of any type but kMarkerStart) play on the tune-up
// voice's channel, after its program (below 128), volume and pan; click lanes
// on kClickChannel. A lane with kMarkerHasProgram sets its program first (a
// click lane then plays on kPitchedClickChannel). A percussion marker sounds
// as the key the first percussion staff of the score that knows it plays, or
// else as its low seven bits. Messages that would repeat what the channel got
// last are left out.
Sounds soundsOf(const ItemLanes& lanes, const TuneUpVoice& voice, const scoreconv::PlayScore& model);

// Plays the intro before the music and the bar of clicks through it, along
// with one pass.
class IntroPlayer : public scoreconv::CPassCompanion {
public:
    struct Setting {
        Sounds intro;
        std::int64_t introFrom = 0;  // where in the intro to begin (ticks); at its length or later it is passed
        Sounds bar;
        std::int64_t barFrom = 0;
        std::int64_t barTo = 0;
        double openingTempo = 120.0;  // the tempo the intro's ticks run at
        // Live: the intro's position (ms from its start) about every tenth of a second.
        std::function<void(double)> reportPosition;
    };
    explicit IntroPlayer(Setting setting);

    bool beforeMusic(scoreconv::PlayScore& score, std::int32_t track, const scoreconv::CRealTimeClock& clock,
                     platform::WorkerContext* worker) override;
    bool atStep(scoreconv::PlayScore& score, std::int32_t track, std::int32_t tick, std::int32_t ticks,
                bool sounding) override;
    bool atEnd(scoreconv::PlayScore& score, std::int32_t track) override;

    // Before the music has begun: the position in the intro (ms from its start).
    bool musicBegun() const { return musicBegun_.load(); }
    double introPositionMs() const { return introPositionMs_.load(); }

private:
    struct Timed {
        std::int64_t tick;
        int order;  // at one tick: set-up, then note-offs, then note-ons
        std::uint8_t status, data1, data2;
    };
    struct Sounding {
        std::int64_t off;
        std::uint8_t channel, key;
    };
    double msPerTick() const { return 60000.0 / (setting_.openingTempo * kIntroTicksPerQuarter); }
    bool send(scoreconv::PlayScore& score, std::int32_t track, std::uint8_t status, std::uint8_t data1,
              std::uint8_t data2);
    bool playLive(scoreconv::PlayScore& score, std::int32_t track, const scoreconv::CRealTimeClock& clock,
                  platform::WorkerContext* worker, const std::vector<Timed>& events);
    bool writeIntro(scoreconv::PlayScore& score, std::int32_t track, const std::vector<Timed>& events);
    // Ends every note of the intro still sounding.
    bool silenceIntro(scoreconv::PlayScore& score, std::int32_t track);

    Setting setting_;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> introSounding_;  // channel, key
    // The bar of clicks: its notes by start, the bar they are in, the next one.
    std::vector<SoundNote> barNotes_;
    std::int64_t barIndex_ = 0;
    std::size_t barNote_ = 0;
    std::vector<Sounding> clicking_;
    bool barSetUp_ = false;
    // The music's ticks played so far, from its first full bar (the model's ticks).
    bool stepped_ = false;
    std::int64_t played_ = 0;
    std::int64_t deferredConductorTicks_ = 0;  // a render's track 0 takes the intro after its first marks
    std::atomic<bool> musicBegun_{false};
    std::atomic<double> introPositionMs_{0.0};
};

// The intro and the bar of clicks of the open score as they sound, at the
// score's opening tempo as it plays now; introFrom is 0.
IntroPlayer::Setting introSettingOf(const OpenScore& score);

}  // namespace tavtune
