// Reading rules that real scores need: of two tempos a part gives for one
// moment the later holds (a moment an earlier part gave keeps its tempo),
// and a part the part list does not declare is read as a part of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "musicxml/measure_walk.h"
#include "play_test_support.h"
#include "walk_test_support.h"

namespace scoreconv::testing {
namespace {

using scorecore::kOk;

TEST(ReadingRules, TheLaterTempoOfAPartHoldsWhereNoEarlierPartGaveOne) {
    struct Row {
        const char* fixture;
        std::vector<std::string> tempos;  // "tick:tempo" of the score-wide row
        double seconds;
    };
    const Row rows[] = {
        // 4 quarters at 60, 4 at 80, 8 at 90.
        {"tempo_one_part.xml", {"0:60", "1920:80", "3840:90"}, 4.0 + 3.0 + 8 * 60.0 / 90},
        // 4 quarters at 72, 2 at 96, 2 at 110.
        {"tempo_two_parts.xml", {"0:72", "1920:96", "2880:110"}, 4 * 60.0 / 72 + 2 * 60.0 / 96 + 2 * 60.0 / 110},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fixture);
        PlayHarness h;
        h.load(row.fixture);
        EXPECT_EQ(tempos(*h.file), row.tempos);
        ASSERT_EQ(h.play(kModePlayTime), kOk);
        EXPECT_NEAR(static_cast<double>(h.playTime) / 1e7, row.seconds, 0.02);
    }
}

// The walk's own count of the play time (which bounds what it accepts)
// follows the same rule as the model.
TEST(ReadingRules, PlaySecondsFollowTheSameTempoRule) {
    constexpr int32_t kQuarter = 480;
    struct Row {
        const char* name;
        std::vector<CTempoMark> marks;  // tick, tempo, part, in the order read
        double seconds;                 // for 4 quarters from 0
    };
    const Row rows[] = {
        {"the later mark of a part holds", {{0, 72, 0}, {0, 60, 0}}, 4.0},
        {"a later part gives way", {{0, 60, 0}, {0, 120, 1}}, 4.0},
        {"marks read out of tick order", {{2 * kQuarter, 120, 0}, {0, 60, 0}}, 2.0 + 1.0},
        {"a later part alone at a moment", {{0, 60, 0}, {2 * kQuarter, 120, 1}, {2 * kQuarter, 30, 1}}, 2.0 + 4.0},
    };
    for (const Row& row : rows) {
        EXPECT_NEAR(playSeconds(row.marks, 240, 0, 4 * kQuarter, kQuarter), row.seconds, 1e-9) << row.name;
    }
}

TEST(ReadingRules, APartTheListDoesNotDeclareIsReadAsAPartOfItsOwn) {
    struct Row {
        const char* fixture;
        std::vector<std::string> ids;  // of the part table, without the conductor
        std::vector<int32_t> staves;   // per part
        std::vector<int> keys;         // every note-on, sorted
        std::vector<std::string> undeclared;
    };
    const Row rows[] = {
        {"undeclared_parts.xml", {"P1", "Extra", "P1"}, {1, 2, 1}, {48, 64, 67, 72}, {"Extra", "P1"}},
        {"undeclared_no_part_list.xml", {"P1", "P2"}, {1, 1}, {50, 69}, {"P1", "P2"}},
        {"undeclared_timewise.xml", {"P1", "Horn"}, {1, 1}, {53, 71}, {"Horn"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fixture);
        PlayHarness h;
        h.load(row.fixture);
        const CMxmlFile& f = *h.file;
        ASSERT_EQ(scorePartCount(f), static_cast<int32_t>(row.ids.size()));
        for (std::size_t p = 0; p < row.ids.size(); ++p) {
            EXPECT_EQ(f.parts[p].id, row.ids[p]);
            EXPECT_EQ(f.voiceTables.staffCount(static_cast<int32_t>(p)), row.staves[p]);
        }
        // Every staff has an instrument to play on.
        for (int32_t s = 0; s < f.staffCount(); ++s) EXPECT_EQ(f.instruments.count(s), 1) << s;
        for (const std::string& id : row.undeclared) {
            EXPECT_TRUE(h.logged("part \"" + id + "\" is not in the part list: read as a part of its own")) << id;
        }

        ASSERT_EQ(h.play(kModeRealTime), kOk);
        std::vector<int> keys;
        for (const NoteMessage& n : h.notes()) {
            if (n.on()) keys.push_back(n.key);
        }
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, row.keys);
    }
}

}  // namespace
}  // namespace scoreconv::testing
