// Constructs that real orchestral and chamber scores contain, each in a small
// score with what a player must make of it: which notes strike, in which
// order, and how long the score plays.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "play_test_support.h"

namespace scoreconv {
namespace {

using testing::PlayHarness;

std::filesystem::path constructs(const char* name) {
    return std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml-constructs" / name;
}
std::filesystem::path ownFixture(const char* name) { return std::filesystem::path(QVP3_TEST_DATA_DIR) / name; }

struct Expected {
    const char* name;
    std::filesystem::path score;
    std::map<int, int> onsPerKey;
    std::vector<int> order;  // empty: not checked
    double seconds;
};

TEST(RealScores, NotesAndPlayTimeAreWhatTheScoreSays) {
    const Expected rows[] = {
        {"ties belong to single notes of chords", constructs("tie-chord-partial.musicxml"),
         {{55, 2}, {60, 1}, {62, 1}, {64, 1}, {65, 1}, {67, 1}}, {}, 4.0},
        {"the later of two tempo sounds at one moment holds", constructs("tempo-two-sounds-same-moment.musicxml"),
         {{60, 1}, {62, 1}, {64, 1}, {65, 1}}, {60, 62, 64, 65}, 16.0},
        {"play time runs to the end of the last bar", constructs("playtime-trailing-rests.musicxml"),
         {{69, 1}, {71, 1}}, {69, 71}, 4.0},
        {"a repeat of times=3 plays three times", constructs("repeat-times.musicxml"), {{60, 3}, {67, 1}},
         {60, 60, 60, 67}, 8.0},
        {"endings play on the passes they name", constructs("repeat-endings-multiple-numbers.musicxml"),
         {{60, 3}, {62, 2}, {64, 1}}, {60, 62, 60, 62, 60, 64}, 12.0},
        {"a quarter and three rests fill their bar", ownFixture("quarter_and_rests.xml"), {{72, 1}}, {72}, 2.0},
    };
    for (const Expected& row : rows) {
        SCOPED_TRACE(row.name);
        PlayHarness h;
        h.loadPath(row.score);
        ASSERT_EQ(h.play(kModePlayTime), 0);
        EXPECT_NEAR(static_cast<double>(h.playTime) / 1e7, row.seconds, 0.02);

        ASSERT_EQ(h.play(kModeRealTime), 0);
        std::map<int, int> ons;
        std::vector<int> order;
        for (const testing::NoteMessage& n : h.notes()) {
            if (!n.on()) continue;
            ++ons[n.key];
            order.push_back(n.key);
        }
        EXPECT_EQ(ons, row.onsPerKey);
        if (!row.order.empty()) {
            EXPECT_EQ(order, row.order);
        }
    }
}

}  // namespace
}  // namespace scoreconv
