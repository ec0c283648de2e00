// The intro before the score: tune-up and count-in lanes handed over as item
// lists (C95) and a bar of clicks through the music (C123). They lengthen the
// play time and move the music's times, go into renders ahead of the music
// with their channels and programs, play live at their times before the
// score, stop without leaving a note on, and bad lists are refused or kept
// within bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "../../scoreconv/tests/fake_clock.h"
#include "../../scoreconv/tests/mido_support.h"
#include "engine/intro.h"
#include "engine/player.h"
#include "engine_fixtures.h"
#include "platform/message_target.h"
#include "scorecore/metronome.h"
#include "scorecore/player_items.h"
#include "scorecore/tune_up.h"

using namespace tavtune;
using namespace tavtune::testing;
using namespace scorecore;

namespace {

using scoreconv::testing::MidoFile;
using Items = std::vector<CPlayerItem>;

template <class T>
tvWord word(T* p) {
    return reinterpret_cast<tvWord>(p);
}

constexpr std::int64_t kEverywhere = 0x7FFFFFFF;

// Milliseconds of list ticks at a tempo.
double msOf(std::int64_t ticks, double tempo = 120.0) { return static_cast<double>(ticks) * 60000.0 / (384.0 * tempo); }

tvWord handIntro(const Items& items) {
    const std::vector<std::uint8_t> bytes = playerItemBytes(items);
    const tvItemList list{static_cast<std::int32_t>(items.size()), bytes.data()};
    return call<95>(word(&list));
}

tvWord handClicks(const Items& items, std::int64_t from, std::int64_t to) {
    const std::vector<std::uint8_t> bytes = playerItemBytes(items);
    const tvItemList list{static_cast<std::int32_t>(items.size()), bytes.data()};
    return call<123>(word(&list), from, to, 0);
}

// A chord of C major (60 64 67) as the tune-up record builds it at 120.
Items chordTuneUp(std::uint8_t broken, std::int32_t duration = 1000) {
    CEinstimmung t;
    t.Type = 2;
    t.Zerlegt = broken;
    t.Sounding = 0;
    t.Tempo = 1;  // broken: a step of 500 ms
    t.Duration = duration;
    EXPECT_TRUE(t.buildChordItems(120));
    return t.eventList;
}

CMeter meter44() {
    CMeter m;
    m.init(kIntroTicksPerQuarter, 4, 2);
    return m;
}

void setTuneUpVoice(std::uint8_t sound, std::uint8_t volume, std::int8_t panorama, std::uint8_t channel) {
    tvVoiceRecord r;
    tvVoiceRecordInit(&r, 0, TAVTUNE_TUNE_UP_VOICE);
    r.sound = sound;
    r.volume = volume;
    r.panorama = static_cast<std::uint8_t>(panorama);
    r.channel = channel;
    ASSERT_EQ(call<125>(word(&r), -1), 0);
}

double playTimeMs() {
    tvRequest r{};
    r.marker = -1;
    EXPECT_EQ(call<55>(word(&r), TAVTUNE_REQUEST_PLAY_TIME), 0);
    return r.playTimeMs;
}

void setPosition(double ms) {
    tvRequest r{};
    r.positionMs = ms;
    ASSERT_EQ(call<93>(word(&r), TAVTUNE_REQUEST_POSITION), 0);
}

double positionMs() {
    double a = 0, b = 0, c = 0;
    EXPECT_EQ(call<98>(word(&a), word(&b), word(&c)), 0);
    return b;
}

int renderTo(const fs::path& path) {
    const std::string t = path.string();
    return static_cast<int>(call<179>(reinterpret_cast<tvWord>(t.c_str())));
}

MidoFile readMidi(const fs::path& midi) {
    const MidoFile file = scoreconv::testing::readWithMido(midi, midi.parent_path());
    EXPECT_TRUE(file.read) << midi;
    return file;
}

// Every note of a file as (on tick, channel, key, velocity, off tick), in order.
using Note = std::tuple<std::int64_t, int, int, int, std::int64_t>;
std::vector<Note> notesOf(const MidoFile& file) {
    std::vector<Note> out;
    std::vector<scoreconv::testing::MidoEvent> open;
    for (const auto& e : file.events) {
        if (e.noteOn()) open.push_back(e);
        if (!e.noteOff()) continue;
        const auto on = std::find_if(open.begin(), open.end(), [&](const auto& o) {
            return o.track == e.track && o.number("note") == e.number("note") &&
                   o.number("channel") == e.number("channel");
        });
        if (on == open.end()) continue;
        out.emplace_back(on->tick, on->number("channel"), on->number("note"), on->number("velocity"), e.tick);
        open.erase(on);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<Note> shifted(std::vector<Note> notes, std::int64_t by) {
    for (Note& n : notes) {
        std::get<0>(n) += by;
        std::get<4>(n) += by;
    }
    return notes;
}

std::vector<Note> onChannel(const std::vector<Note>& notes, int channel) {
    std::vector<Note> out;
    std::copy_if(notes.begin(), notes.end(), std::back_inserter(out),
                 [&](const Note& n) { return std::get<1>(n) == channel; });
    return out;
}

// Channel messages before the first note of a channel, whatever their track:
// (tick, type, channel, number, value).
using Message = std::tuple<std::int64_t, std::string, int, int, int>;
std::vector<Message> setUpOf(const MidoFile& file, int channel) {
    std::vector<scoreconv::testing::MidoEvent> events;
    std::copy_if(file.events.begin(), file.events.end(), std::back_inserter(events),
                 [&](const auto& e) { return e.number("channel") == channel; });
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
    std::vector<Message> out;
    for (const auto& e : events) {
        if (e.noteOn()) break;
        if (e.type == "program_change") out.emplace_back(e.tick, e.type, channel, e.number("program"), 0);
        if (e.type == "control_change")
            out.emplace_back(e.tick, e.type, channel, e.number("control"), e.number("value"));
    }
    return out;
}


// The fake clock, noting how many messages the capture output held when each
// wait began: time moves only in waits, so a message sent after one wait and
// before the next carries the time that wait began at.
class StampingClock : public scoreconv::testing::FakeClock {
public:
    bool waitUntil(platform::Event& event, TimePoint deadline) const override {
        note();
        return FakeClock::waitUntil(event, deadline);
    }
    void sleepUntil(TimePoint deadline) const override {
        note();
        FakeClock::sleepUntil(deadline);
    }
    // The time of message i of the output, in ms from the clock's start.
    double msOfMessage(std::size_t i) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [count, ns] : marks_) {
            if (count > i) return static_cast<double>(ns) / 1e6;
        }
        return static_cast<double>(elapsedNs()) / 1e6;
    }

private:
    void note() const {
        OpenScore* s = Engine::instance().score();
        const auto* capture =
            s == nullptr ? nullptr : dynamic_cast<const platform::CaptureMidiOut*>(playerOf(*s).output());
        std::lock_guard<std::mutex> lock(mutex_);
        marks_.emplace_back(capture != nullptr ? capture->count() : 0, elapsedNs());
    }
    mutable std::mutex mutex_;
    mutable std::vector<std::pair<std::size_t, std::int64_t>> marks_;
};

const platform::CaptureMidiOut* capture() {
    return dynamic_cast<const platform::CaptureMidiOut*>(playerOf(*Engine::instance().score()).output());
}

struct Struck {
    double ms;
    int channel;
    int key;
    bool operator<(const Struck& o) const { return std::tie(ms, channel, key) < std::tie(o.ms, o.channel, o.key); }
};

std::vector<Struck> noteOnsLive(const StampingClock* clock) {
    std::vector<Struck> out;
    const auto messages = capture()->messages();
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const auto& m = messages[i];
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        const int status = static_cast<int>(m.packed & 0xFF);
        if ((status & 0xF0) != 0x90 || ((m.packed >> 16) & 0x7F) == 0) continue;
        out.push_back({clock != nullptr ? std::round(clock->msOfMessage(i)) : 0.0, status & 0x0F,
                       static_cast<int>((m.packed >> 8) & 0x7F)});
    }
    return out;
}

// Every note struck is ended again.
void expectNothingSounding() {
    std::map<std::pair<int, int>, int> sounding;
    for (const auto& m : capture()->messages()) {
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        const int status = static_cast<int>(m.packed & 0xF0);
        const std::pair<int, int> note{static_cast<int>(m.packed & 0x0F), static_cast<int>((m.packed >> 8) & 0x7F)};
        const int velocity = static_cast<int>((m.packed >> 16) & 0x7F);
        if (status == 0x90 && velocity > 0) ++sounding[note];
        if ((status == 0x80 || (status == 0x90 && velocity == 0)) && sounding[note] > 0) --sounding[note];
    }
    for (const auto& [note, count] : sounding)
        EXPECT_EQ(count, 0) << "channel " << note.first << " key " << note.second;
}

int playerState() { return static_cast<int>(call<51>(TAVTUNE_PLAYER_QUERY)); }


// The binary score of the engine's tests, open for each test: staff 0 plays
// 72 74 76 77 in quarters on channel 0, staff 1 a whole note 72 on channel 1,
// at 120 (2000 ms).
class EngineIntro : public ::testing::Test {
protected:
    void SetUp() override {
        call<178>(reinterpret_cast<tvWord>("MIDI: capture"));
        writeFile(file_, twoStaveBinaryScore());
        const std::string path = file_.string();
        ASSERT_EQ(call<176>(reinterpret_cast<tvWord>(path.c_str()), 0, word(&window_), 1124, 100, 0), TAVTUNE_OPEN_OK);
    }
    void TearDown() override {
        EnginePlayer::setClockForTests(nullptr);
        call<101>(0, 0, 0x40000000);
        call<178>(reinterpret_cast<tvWord>("MIDI: Default"));
    }
    fs::path out(const std::string& name) const { return dir_.path() / name; }

    platform::testing::TempFolder dir_;
    fs::path file_ = dir_.path() / "two.tvr";
    platform::RecordingMessageTarget window_;
};

// --- time -----------------------------------------------------------------------------

TEST_F(EngineIntro, TheIntroLengthensThePlayTimeAndTheMusicsTimesFollowIt) {
    ASSERT_DOUBLE_EQ(playTimeMs(), 2000.0);
    const Items chord = chordTuneUp(0);  // held for 1000 ms: 768 ticks at 120
    ASSERT_EQ(handIntro(chord), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 3000.0);

    // Positions count from the intro's start; a time inside it is the music's start.
    const struct {
        double ms;
        int bar, tick;
    } positions[] = {{0, 1, 0}, {500, 1, 0}, {1000, 1, 0}, {1500, 1, 480}, {2999, 1, 1919}};
    for (const auto& p : positions) {
        tvRequest r{};
        r.positionMs = p.ms;
        ASSERT_EQ(call<55>(word(&r), TAVTUNE_REQUEST_POSITION), 0);
        EXPECT_EQ(std::make_pair(r.result, r.result2), std::make_pair(p.bar, p.tick)) << p.ms;
    }
    setPosition(99999);
    EXPECT_DOUBLE_EQ(positionMs(), 3000.0) << "kept within the play time, intro included";

    // The intro runs at the tempo played: at 60 it takes twice as long, and a
    // position keeps its place, in the music or in the intro.
    setPosition(1500);
    const double tempo = 60.0, factor = 1.0;
    ASSERT_EQ(call<97>(word(&tempo), word(&factor)), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 6000.0);
    EXPECT_DOUBLE_EQ(positionMs(), 3000.0);
    setPosition(500);
    const double back = 120.0;
    ASSERT_EQ(call<97>(word(&back), word(&factor)), 0);
    EXPECT_DOUBLE_EQ(positionMs(), 250.0);

    // A count-in after the chord: the lanes play side by side, the longest ends the intro.
    CMetronom m;
    m.CountIn = 1;
    ASSERT_TRUE(m.buildCountIn(meter44(), 768));
    Items joined = chord;
    joined.insert(joined.end(), m.countInItems.begin(), m.countInItems.end());
    ASSERT_EQ(handIntro(joined), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0 + msOf(768 + 1536));
    EXPECT_DOUBLE_EQ(positionMs(), 250.0 / 1000.0 * msOf(768 + 1536)) << "its share of the intro";
    // Clicks through the music take no time of their own.
    ASSERT_TRUE(m.buildBarClicks(meter44()));
    ASSERT_EQ(handClicks(m.barClickItems, 0, kEverywhere), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0 + msOf(768 + 1536));

    ASSERT_EQ(call<95>(0), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0);
}

// --- rendering ------------------------------------------------------------------------

TEST_F(EngineIntro, ARenderWritesTheTuneUpFirstAndTheMusicAfterItOnEveryTrack) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    ASSERT_EQ(renderTo(out("plain.mid")), 0);
    const std::vector<Note> music = notesOf(readMidi(out("plain.mid")));

    // The tune-up voice: organ (19) at volume 90, 4 to the left, on channel 3.
    setTuneUpVoice(19, 90, -4, 3);
    for (const std::uint8_t stave : {0, 200}) {
        tvVoiceRecord r;
        tvVoiceRecordInit(&r, stave, TAVTUNE_TUNE_UP_VOICE);
        ASSERT_EQ(call<124>(word(&r), -1), 0) << "any stave names the tune-up voice";
        EXPECT_EQ(std::make_tuple(r.sound, r.volume, static_cast<std::int8_t>(r.panorama), r.channel),
                  std::make_tuple(std::uint8_t{19}, std::uint8_t{90}, std::int8_t{-4}, std::uint8_t{3}));
    }
    ASSERT_EQ(handIntro(chordTuneUp(0)), 0);  // 768 ticks: 960 of the file's 480 per quarter
    const struct { double tempo; } cases[] = {{120}, {60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tempo);
        const double factor = 1.0;
        ASSERT_EQ(call<97>(word(&c.tempo), word(&factor)), 0);
        ASSERT_EQ(renderTo(out("intro.mid")), 0);
        const MidoFile file = readMidi(out("intro.mid"));
        const std::vector<Note> notes = notesOf(file);
        const std::vector<Note> chord{{0, 3, 60, 100, 960}, {0, 3, 64, 100, 960}, {0, 3, 67, 100, 960}};
        EXPECT_EQ(onChannel(notes, 3), chord);
        std::vector<Note> rest;
        std::copy_if(notes.begin(), notes.end(), std::back_inserter(rest),
                     [](const Note& n) { return std::get<1>(n) != 3; });
        EXPECT_EQ(rest, shifted(music, 960)) << "the music starts after the intro";
        EXPECT_EQ(setUpOf(file, 3), (std::vector<Message>{{0, "program_change", 3, 19, 0},
                                                          {0, "control_change", 3, 7, 90},
                                                          {0, "control_change", 3, 10, 60}}));
        EXPECT_EQ(temposOf(file), (std::vector<std::pair<std::int64_t, int>>{{0, static_cast<int>(c.tempo)}}))
            << "the intro plays at the opening tempo";
        // Every track of the music has its first note after the intro.
        std::map<int, std::int64_t> firstNote;
        for (const auto& e : file.events) {
            if (e.noteOn() && e.number("channel") != 3 && !firstNote.count(e.track)) firstNote[e.track] = e.tick;
        }
        EXPECT_EQ(firstNote.size(), 2u);
        for (const auto& [track, tick] : firstNote) EXPECT_EQ(tick, 960) << "track " << track;
    }
}

TEST_F(EngineIntro, CountInAndBarClicksAreRenderedWhereTheyClick) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    ASSERT_EQ(renderTo(out("plain.mid")), 0);
    const std::vector<Note> music = notesOf(readMidi(out("plain.mid")));
    // One bar of count-in: accented first beat (Volume 127), then Velocity 50, key 42.
    CMetronom m;
    m.CountIn = 1;
    ASSERT_TRUE(m.buildCountIn(meter44(), 0));
    ASSERT_TRUE(m.buildBarClicks(meter44()));
    ASSERT_EQ(handIntro(m.countInItems), 0);  // 1536 ticks: 1920 of the file's
    const std::vector<Note> countIn{
        {0, 9, 42, 127, 480}, {480, 9, 42, 50, 960}, {960, 9, 42, 50, 1440}, {1440, 9, 42, 50, 1920}};
    // Where the music's bar of clicks clicks (beats of the music, at 480 per quarter after the intro).
    const auto clicks = [](std::initializer_list<int> beats) {
        std::vector<Note> out;
        for (int b : beats) out.emplace_back(1920 + 480 * b, 9, 42, b == 0 ? 127 : 50, 1920 + 480 * (b + 1));
        return out;
    };
    const struct {
        const char* what;
        std::int64_t from, to;
        std::vector<Note> clicks;
    } cases[] = {
        {"through the piece", 0, kEverywhere, clicks({0, 1, 2, 3})},
        {"from the second to the third beat", 384, 1152, clicks({1, 2})},
        {"an empty range", 1536, 0, {}},
        {"a range that begins before the music", -384, 384, clicks({0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(handClicks(m.barClickItems, c.from, c.to), 0);
        ASSERT_EQ(renderTo(out("clicks.mid")), 0);
        const std::vector<Note> notes = notesOf(readMidi(out("clicks.mid")));
        std::vector<Note> expected = countIn;
        expected.insert(expected.end(), c.clicks.begin(), c.clicks.end());
        EXPECT_EQ(onChannel(notes, 9), expected);
        std::vector<Note> rest;
        std::copy_if(notes.begin(), notes.end(), std::back_inserter(rest),
                     [](const Note& n) { return std::get<1>(n) != 9; });
        EXPECT_EQ(rest, shifted(music, 1920));
    }

    // A metronome off the drum channel: its lane sets its program and plays pitched on channel 15.
    m.Channel = 4;
    m.Program = 115;
    ASSERT_TRUE(m.buildCountIn(meter44(), 0));
    ASSERT_EQ(handIntro(m.countInItems), 0);
    ASSERT_EQ(call<123>(0, 0, 0, 0), 0);
    ASSERT_EQ(renderTo(out("pitched.mid")), 0);
    const MidoFile file = readMidi(out("pitched.mid"));
    EXPECT_EQ(setUpOf(file, 15), (std::vector<Message>{{0, "program_change", 15, 115, 0}}));
    EXPECT_EQ(onChannel(notesOf(file), 15).size(), 4u);
    EXPECT_TRUE(onChannel(notesOf(file), 9).empty()) << "the clicks were cleared";
}

// How the items of a lane sound: programs, releases, spelled notes, silent
// notes and percussion markers.
TEST_F(EngineIntro, LanesSoundAsTheirItemsSay) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    setTuneUpVoice(19, 100, 0, 2);
    const std::uint8_t timed = kNoteTimed | kNotePlain;
    const std::uint8_t spelled = kNoteTimed | kNoteSpelled;
    const Items items = {
        // A tune-up lane with a program of its own (40 instead of the voice's 19).
        makeMarkerItem(kMarkerTuneUp, 0, 40, kMarkerHasProgram),
        makeAnchorItem(),
        makeNoteOnItem(50, 90, 0),                                                 // held until its release
        makeNoteItem(spelled, 80, 80, 2, 4, static_cast<std::uint8_t>(-1), 384),   // E flat above middle C
        makeNoteItem(spelled, 80, 80, static_cast<std::uint8_t>(-60), 4, 0, 384),  // below key 0: silent, 384 ticks
        makeNoteOffItem(50, 0, 0),                                                 // releases 50 at 768
        makeNoteItem(timed, 0, 0, 55, 4, 0, 384),                                  // velocity 0: silent
        makeNoteItem(timed, 70, 70, 0x80 | 38, 4, 0, 384),  // a percussion marker no stave knows: 38
        makeEndItem(),
    };
    ASSERT_EQ(handIntro(items), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0 + msOf(4 * 384));
    ASSERT_EQ(renderTo(out("lanes.mid")), 0);
    const MidoFile file = readMidi(out("lanes.mid"));
    EXPECT_EQ(onChannel(notesOf(file), 2),
              (std::vector<Note>{{0, 2, 50, 90, 960}, {0, 2, 63, 80, 480}, {1440, 2, 38, 70, 1920}}));
    EXPECT_EQ(setUpOf(file, 2), (std::vector<Message>{{0, "program_change", 2, 40, 0},
                                                      {0, "control_change", 2, 7, 100},
                                                      {0, "control_change", 2, 10, 64}}));

    // A percussion stave that knows the marker decides the key it plays.
    call<101>(0, 0, 0x40000000);
    const fs::path tvrx = out("drums.tvrx");
    ASSERT_EQ(convertToTvrx(scoreconvData("walk_percussion.xml"), tvrx), 0);
    EngineScore drums(tvrx);
    ASSERT_EQ(drums.result(), TAVTUNE_OPEN_OK);
    scoreconv::PlayScore& model = Engine::instance().score()->model();
    ASSERT_TRUE(model.instruments.isPercussionStaff(0));
    scorecore::CMidiInstr* record = model.instruments.at(0, 0);
    ASSERT_NE(record, nullptr);
    record->SrcProgPercId = 0x80 | 38;
    const std::uint8_t played = record->PercNote;
    setTuneUpVoice(129, 100, 0, 9);
    ASSERT_EQ(handIntro({makeMarkerItem(kMarkerTuneUp, 0), makeAnchorItem(),
                         makeNoteItem(timed, 70, 70, 0x80 | 38, 4, 0, 384), makeEndItem()}),
              0);
    ASSERT_EQ(renderTo(out("drums.mid")), 0);
    const MidoFile drumFile = readMidi(out("drums.mid"));
    const std::vector<Note> drumNotes = notesOf(drumFile);
    ASSERT_FALSE(drumNotes.empty());
    EXPECT_EQ(drumNotes.front(), (Note{0, 9, played, 70, 480}));
    EXPECT_EQ(setUpOf(drumFile, 9),
              (std::vector<Message>{{0, "control_change", 9, 7, 100}, {0, "control_change", 9, 10, 64}}))
        << "a percussion sound sets no program";
}

// --- live -----------------------------------------------------------------------------

TEST_F(EngineIntro, LivePlayPlaysTheIntroAtItsTimesThenTheScoreWithItsClicks) {
    StampingClock clock;
    EnginePlayer::setClockForTests(&clock);
    setTuneUpVoice(0, 100, 0, 2);
    // Broken, one step of 500 ms each: 60, 64, 67, each ending as the next begins; 1500 ms in all.
    ASSERT_EQ(handIntro(chordTuneUp(1)), 0);
    CMetronom m;
    ASSERT_TRUE(m.buildBarClicks(meter44()));
    ASSERT_EQ(handClicks(m.barClickItems, 0, kEverywhere), 0);
    ASSERT_EQ(call<89>(100), 0);
    ASSERT_TRUE(waitFor([] { return playerState() == TAVTUNE_PLAYER_IDLE; }));

    std::vector<Struck> struck = noteOnsLive(&clock);
    std::sort(struck.begin(), struck.end());
    const std::vector<std::tuple<double, int, int>> expected{
        {0, 2, 60},    {500, 2, 64},  {1000, 2, 67},  // the intro
        {1500, 0, 72}, {1500, 1, 72}, {1500, 9, 42},  // the music and its clicks
        {2000, 0, 74}, {2000, 9, 42}, {2500, 0, 76}, {2500, 9, 42}, {3000, 0, 77}, {3000, 9, 42}};
    ASSERT_EQ(struck.size(), expected.size());
    for (std::size_t i = 0; i < struck.size(); ++i) {
        EXPECT_EQ(std::make_tuple(struck[i].ms, struck[i].channel, struck[i].key), expected[i]) << i;
    }
    expectNothingSounding();

    // The host hears the position through the intro and on into the music, then the end.
    const auto messages = window_.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().wParam, 107u);
    std::vector<platform::LParam> positions;
    for (const auto& msg : messages) {
        if (msg.wParam == 104) positions.push_back(msg.lParam);
    }
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.front(), 0);
    EXPECT_GE(std::count_if(positions.begin(), positions.end(), [](platform::LParam p) { return p < 1500; }), 10)
        << "about every tenth of a second in the intro";
    EXPECT_GE(positions.back(), 3000);
    EXPECT_LE(positions.back(), 3500);
}

TEST_F(EngineIntro, APauseOrStopDuringTheIntroLeavesNoNoteSounding) {
    // The machine's clock, and an intro long enough to be caught in it.
    ASSERT_EQ(handIntro(chordTuneUp(0, 60000)), 0);
    const auto struckCount = [] { return noteOnsLive(nullptr).size(); };
    ASSERT_EQ(call<89>(100), 0);
    ASSERT_TRUE(waitFor([&] { return struckCount() >= 3; }));
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_PAUSE), TAVTUNE_PLAYER_PAUSED);
    expectNothingSounding();
    const double paused = positionMs();
    EXPECT_GE(paused, 0.0);
    EXPECT_LT(paused, 10000.0) << "the pause keeps its place in the intro";

    // Resumed inside the intro, the chord sounds again from there.
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_RESUME), TAVTUNE_PLAYER_PLAYING);
    ASSERT_TRUE(waitFor([&] { return struckCount() >= 6; }));
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_STOP), TAVTUNE_PLAYER_IDLE);
    expectNothingSounding();
    EXPECT_DOUBLE_EQ(positionMs(), 0.0);
    for (const Struck& s : noteOnsLive(nullptr)) EXPECT_LT(s.key, 72) << "the music never began";
    for (const auto& msg : window_.messages()) EXPECT_NE(msg.wParam, 107u) << "a stop by the host is not reported";
}

// --- faults ---------------------------------------------------------------------------

TEST_F(EngineIntro, BadListsAreRefusedOrKeptWithinBounds) {
    const Items good = {makeMarkerItem(kMarkerTuneUp, 0), makeRestItem(384), makeEndItem()};
    ASSERT_EQ(handIntro(good), 0);
    ASSERT_DOUBLE_EQ(playTimeMs(), 2500.0);
    ASSERT_EQ(handClicks(good, 0, kEverywhere), 0);

    // Refused: nothing changes.
    std::vector<std::uint8_t> bytes = playerItemBytes(good);
    const struct {
        const char* what;
        tvItemList list;
    } refusals[] = {{"a negative count", {-1, bytes.data()}},
                    {"a count past the limit", {TAVTUNE_MAX_ITEMS + 1, bytes.data()}},
                    {"items missing", {1, nullptr}}};
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(call<95>(word(&r.list)), -2);
        EXPECT_EQ(call<123>(word(&r.list), 0, kEverywhere, 0), -2);
        EXPECT_DOUBLE_EQ(playTimeMs(), 2500.0);
        EXPECT_TRUE(Engine::instance().score()->intro.clicks());
    }

    // Taken, within bounds: each list in a block of exactly its size, so that
    // a read past it is caught.
    const double most = 2000.0 + msOf(kMaxIntroTicks);
    const struct {
        const char* what;
        Items items;
        std::size_t count;  // items read
        double playTime;
    } bounded[] = {
        {"a lane without its end", {makeMarkerItem(kMarkerTuneUp, 0), makeRestItem(768)}, 2, 3000.0},
        {"items past the count",
         {makeMarkerItem(kMarkerTuneUp, 0), makeRestItem(384), makeRestItem(384), makeEndItem()},
         2,
         2500.0},
        {"items outside a lane",
         {makeRestItem(768), makeMarkerItem(kMarkerTuneUp, 0), makeRestItem(384), makeEndItem()},
         4,
         2500.0},
        {"negative times",
         {makeMarkerItem(kMarkerTuneUp, -500), makeRestItem(-384), makeRestItem(384), makeEndItem()},
         4,
         2500.0},
        {"a huge time",
         {makeMarkerItem(kMarkerTuneUp, 0), makeNoteOnItem(60, 100, 0x7FFFFFFF), makeEndItem()},
         3,
         most},
        {"a huge start", {makeMarkerItem(kMarkerStart, 0x7FFFFFFF), makeRestItem(384), makeEndItem()}, 3, most},
        {"an empty list", {}, 0, 2000.0},
    };
    for (const auto& b : bounded) {
        SCOPED_TRACE(b.what);
        const std::vector<std::uint8_t> all = playerItemBytes(b.items);
        const auto block = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(b.count * 8, 1));
        std::copy_n(all.begin(), b.count * 8, block.get());
        const tvItemList list{static_cast<std::int32_t>(b.count), b.count > 0 ? block.get() : nullptr};
        ASSERT_EQ(call<95>(word(&list)), 0);
        EXPECT_DOUBLE_EQ(playTimeMs(), b.playTime);
    }
    // Rests that add up past the bound in one lane stop there.
    Items long_ = {makeMarkerItem(kMarkerTuneUp, 0)};
    long_.insert(long_.end(), 4000, makeRestItem(1 << 16));
    ASSERT_EQ(handIntro(long_), 0);
    EXPECT_DOUBLE_EQ(playTimeMs(), most);
    if (scoreconv::testing::midoAvailable()) {
        // The bounded intro still renders: the music after it.
        ASSERT_EQ(handIntro({makeMarkerItem(kMarkerTuneUp, 0), makeNoteOnItem(60, 100, 0x7FFFFFFF), makeEndItem()}), 0);
        ASSERT_EQ(renderTo(out("long.mid")), 0);
        const std::vector<Note> notes = notesOf(readMidi(out("long.mid")));
        ASSERT_FALSE(notes.empty());
        EXPECT_EQ(notes.front(), (Note{0, 0, 60, 100, kMaxIntroTicks * 480 / 384}));
    }

    // Without a score there is no intro to take.
    call<101>(0, 0, 0x40000000);
    EXPECT_EQ(handIntro(good), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(handClicks(good, 0, kEverywhere), TAVTUNE_NOT_HANDLED);
}

}  // namespace
