// The open score: opening TvrXML and binary scores, their staves, voices,
// description and notes, voice settings and transposition, and files that
// must be refused without crashing.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine_fixtures.h"

using namespace tavtune;
using namespace tavtune::testing;

namespace {

std::vector<int> keysOf(const tvNoteList* list) {
    std::vector<int> keys;
    for (int i = 0; list != nullptr && i < list->count; ++i) keys.push_back(list->notes[i].key);
    return keys;
}

TEST(EngineScore, OpensATvrxmlScoreWithItsStavesAndVoices) {
    platform::testing::TempFolder dir;
    const fs::path tvrx = dir.path() / "piano.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("43a-PianoStaff.xml"), tvrx), 0);
    EngineScore score(tvrx);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    int staves = 0;
    while (call<145>(staves) != 0) ++staves;
    EXPECT_EQ(staves, 2);
    const auto* first = reinterpret_cast<const tvStaveRecord*>(call<145>(0));
    EXPECT_EQ(first->flags & TAVTUNE_STAVE_UTF8, TAVTUNE_STAVE_UTF8);
    EXPECT_NE(first->names[0], nullptr);
    EXPECT_EQ(first->voiceCount, 1);
    const auto* voice = reinterpret_cast<const tvVoiceRecord*>(call<131>(0, 0));
    ASSERT_NE(voice, nullptr);
    EXPECT_NE(voice->marker, 0);
    EXPECT_LT(voice->sound, 128);
    EXPECT_EQ(call<131>(0, 1), 0);
    EXPECT_FALSE(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(0, 0))).empty());
}

TEST(EngineScore, OpensABinaryScore) {
    platform::testing::TempFolder dir;
    const fs::path tvr = dir.path() / "two.tvr";
    writeFile(tvr, twoStaveBinaryScore());
    EngineScore score(tvr);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    EXPECT_NE(call<145>(1), 0);
    EXPECT_EQ(call<145>(2), 0);
    EXPECT_EQ(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(0, 0))), (std::vector<int>{72, 74, 76, 77}));
    EXPECT_EQ(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(1, -1))), (std::vector<int>{72}));
}

}  // namespace
