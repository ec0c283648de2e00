// Ties belong to single notes: a tie stop continues only the held note of the
// same pitch in the same staff and voice, every other note of a chord strikes
// anew, and the held note sounds to the end of its tie chain. Real time, play
// time and a rendered MIDI file agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "mido_support.h"
#include "platform_testing/temp_folder.h"
#include "play_test_support.h"

namespace scoreconv {
namespace {

using testing::NoteMessage;
using testing::PlayHarness;

constexpr int64_t kSecond100ns = 10'000'000;

// A sounded note as "key:on-off", times in quarters (120 to the minute, so
// half a second each) rounded to sixteenths.
std::string sounded(int key, double onQuarters, double offQuarters) {
    const auto quarters = [](double q) {
        std::ostringstream text;
        text << std::round(q * 4) / 4;
        return text.str();
    };
    return std::to_string(key) + ":" + quarters(onQuarters) + "-" + quarters(offQuarters);
}

// Pairs each note-on with the next note-off of its channel and key; the list
// comes sorted, so that voices and chords may sound in any order.
struct Pairing {
    std::map<std::pair<int, int>, std::deque<double>> open;
    std::vector<std::string> notes;

    void on(int channel, int key, double at) { open[{channel, key}].push_back(at); }
    void off(int channel, int key, double at) {
        auto& starts = open[{channel, key}];
        if (starts.empty()) return;
        notes.push_back(sounded(key, starts.front(), at));
        starts.pop_front();
    }
    std::vector<std::string> sorted() {
        for (auto& [note, starts] : open) {
            for (double start : starts) notes.push_back(sounded(note.second, start, -1));  // never ended
        }
        open.clear();
        std::sort(notes.begin(), notes.end());
        return notes;
    }
};

std::vector<std::string> playedNotes(const std::vector<NoteMessage>& messages) {
    Pairing pairing;
    for (const NoteMessage& n : messages) {
        if (n.on()) pairing.on(n.channel(), n.key, static_cast<double>(n.ms) / 500.0);
        if (n.off()) pairing.off(n.channel(), n.key, static_cast<double>(n.ms) / 500.0);
    }
    return pairing.sorted();
}

std::vector<std::string> renderedNotes(const testing::MidoFile& file) {
    Pairing pairing;
    std::vector<testing::MidoEvent> events = file.events;
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
    const double division = file.division > 0 ? file.division : 480;
    for (const testing::MidoEvent& e : events) {
        const double at = static_cast<double>(e.tick) / division;
        if (e.noteOn()) pairing.on(e.number("channel"), e.number("note"), at);
        if (e.noteOff()) pairing.off(e.number("channel"), e.number("note"), at);
    }
    return pairing.sorted();
}

std::vector<std::string> sortedCopy(std::vector<std::string> notes) {
    std::sort(notes.begin(), notes.end());
    return notes;
}

double onQuarters(const std::string& note) { return std::stod(note.substr(note.find(':') + 1)); }
double offQuarters(const std::string& note) { return std::stod(note.substr(note.find('-') + 1)); }

// The notes that begin before the quarter `before`.
std::vector<std::string> beginningBefore(const std::vector<std::string>& notes, double before) {
    std::vector<std::string> out;
    std::copy_if(notes.begin(), notes.end(), std::back_inserter(out),
                 [before](const std::string& note) { return onQuarters(note) < before; });
    return out;
}

struct TieCase {
    const char* name;
    std::filesystem::path score;
    std::vector<std::string> notes;  // "key:on-off" in quarters
    double seconds;
};

std::vector<TieCase> tieCases() {
    const auto own = [](const char* name) { return std::filesystem::path(QVP3_TEST_DATA_DIR) / name; };
    return {
        {"chord pairs with tied and untied notes",
         own("tie_chord_pairs.xml"),
         {// every note tied: one chord
          "60:0-4", "64:0-4",
          // equal pitch sets, only C4 tied: E4 strikes again
          "60:4-8", "64:4-6", "64:6-8",
          // different pitch sets, only C4 tied
          "60:8-12", "64:8-10", "67:10-12",
          // a tie start that leads nowhere, a tie stop with nothing held
          "60:12-14", "64:12-14", "60:14-16", "67:14-16",
          // no ties
          "60:16-18", "64:16-18", "60:18-20", "64:18-20"},
         10.0},
        {"tie chains over three chords and across a barline",
         own("tie_chains.xml"),
         {// C4 held while E4, F4, G4 change
          "60:0-4", "64:0-1", "65:1-2", "67:2-4",
          // D5 tied over the barline
          "67:4-6", "69:6-8", "74:6-10", "77:8-10", "71:10-12",
          // a whole tied chord, then only C4 tied on
          "60:12-16", "64:12-14", "67:14-16",
          // one note over four tied quarters
          "64:16-20"},
         10.0},
        {"ties in two voices of a staff",
         own("tie_voices.xml"),
         {"67:0-4", "71:2-4", "60:0-4", "67:2-4",  // voice 2's G4 holds nothing: it strikes
          "69:4-8", "69:4-6", "69:6-8"},
         4.0},
        {"ties on single notes of chords of a real score",
         std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml-constructs" / "tie-chord-partial.musicxml",
         {"60:0-4", "64:0-2", "65:2-3", "67:3-4", "55:4-6", "62:4-8", "55:6-8"},
         4.0},
    };
}

TEST(Ties, EachTieHoldsOnlyItsOwnNoteToTheEndOfItsChain) {
    for (const TieCase& c : tieCases()) {
        SCOPED_TRACE(c.name);
        PlayHarness h;
        h.loadPath(c.score);
        ASSERT_EQ(h.play(kModePlayTime), scorecore::kOk);
        EXPECT_NEAR(static_cast<double>(h.playTime) / kSecond100ns, c.seconds, 0.02);
        ASSERT_EQ(h.play(kModeRealTime), scorecore::kOk);
        testing::expectEveryNoteEnded(h.notes());
        EXPECT_EQ(playedNotes(h.notes()), sortedCopy(c.notes));
    }
}

TEST(Ties, ARenderedFileSoundsTheNotesRealTimePlays) {
    if (!testing::midoAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import mido (python3-mido)";
    platform::testing::TempFolder folder;
    int n = 0;
    for (const TieCase& c : tieCases()) {
        SCOPED_TRACE(c.name);
        PlayHarness h(kModeRender);
        h.loadPath(c.score);
        h.midiPath = folder.path() / ("ties" + std::to_string(n++) + ".mid");
        ASSERT_EQ(h.play(kModeRender), scorecore::kOk);
        const testing::MidoFile file = testing::readWithMido(h.midiPath, folder.path());
        ASSERT_TRUE(file.read);
        EXPECT_EQ(renderedNotes(file), sortedCopy(c.notes));
    }
}

// Shortened notes: the held note ends where the last note of its chain ends,
// not where the chord that struck it would.
TEST(Ties, AHeldNoteEndsWithTheLastNoteOfItsChainWhenNotesAreShortened) {
    PlayHarness h;
    h.load("tie_chains.xml");
    h.file->controls.setPlayConditions(kCondShorten);
    ASSERT_EQ(h.play(kModeRealTime), scorecore::kOk);
    const std::vector<std::string> firstBar = beginningBefore(playedNotes(h.notes()), 4);
    ASSERT_EQ(firstBar.size(), 4u);
    // Sorted, C4 (60) comes first: struck once, it lasts into the G4 half note.
    ASSERT_TRUE(firstBar[0].starts_with("60:0-")) << firstBar[0];
    EXPECT_GT(offQuarters(firstBar[0]), 3.0);
    EXPECT_LE(offQuarters(firstBar[0]), 4.0);
}

// A pass that begins inside a tie chain (fast-forward to the second chord)
// strikes the held note there, once, and holds it to the chain's end.
TEST(Ties, APassThatBeginsInsideAChainStrikesTheHeldNoteThere) {
    PlayHarness h;
    h.load("tie_chains.xml");
    h.file->controls.setSeekTarget(kSecond100ns / 2);  // the F4 chord, one quarter in
    ASSERT_EQ(h.play(kModeFastForward), scorecore::kOk);
    EXPECT_EQ(beginningBefore(playedNotes(h.notes()), 3), sortedCopy({"60:0-3", "65:0-1", "67:1-3"}));
}

}  // namespace
}  // namespace scoreconv
