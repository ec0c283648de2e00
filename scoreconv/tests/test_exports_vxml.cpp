// The TvrXML exports a host uses to look into a ".tvrx" score: its staff
// layouts, systems, staves and voices, through the C interface only.
#include "scoreconv/scoreconv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "mxml_load_support.h"
#include "platform/text.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/score_event.h"

namespace {

using platform::testing::TempFolder;

TEST(ExportsVxmlNullHandle, EveryQueryGivesItsNeutralValue) {
    int count = 7;
    char* text = reinterpret_cast<char*>(&count);
    scorecore::CScoreEvent event;
    CThreadProcParams noFile{};
    struct Row {
        const char* name;
        std::function<bool()> neutral;
    };
    const Row rows[] = {
        {"vxmlGetPlaymode", [] { return vxmlGetPlaymode(nullptr) == 0; }},
        {"vxmlSetPlaymode", [] { return vxmlSetPlaymode(nullptr, 5) == 0; }},
        {"vxmlGetCallbackWindow", [] { return vxmlGetCallbackWindow(nullptr) == nullptr; }},
        {"vxmlGetDescAuthorP", [] { return vxmlGetDescAuthorP(nullptr) == nullptr; }},
        {"vxmlGetDescEncengineP", [] { return vxmlGetDescEncengineP(nullptr) == nullptr; }},
        {"vxmlGetDescCommentLength", [] { return vxmlGetDescCommentLength(nullptr) == 0; }},
        {"vxmlGetModDate", [] { return vxmlGetModDate(nullptr) == 0; }},
        {"vxmlGetLayoutStaffNum", [&] { return vxmlGetLayoutStaffNum(nullptr, &count) == 0 && count == 7; }},
        {"vxmlSetupScore", [] { return vxmlSetupScore(nullptr) == 0; }},
        {"vxmlGetVoiceNumOfStaff", [&] { return vxmlGetVoiceNumOfStaff(nullptr, 0, &count) == 0 && count == 7; }},
        {"vxmlGetStaffNameA", [] { return vxmlGetStaffNameA(nullptr, 0) == nullptr; }},
        {"vxmlGetStaffNameW", [] { return vxmlGetStaffNameW(nullptr, 0) == nullptr; }},
        {"vxmlGetSrcVolume", [] { return vxmlGetSrcVolume(nullptr, 0) == 0; }},
        {"vxmlGetMidiDrummapTo", [] { return vxmlGetMidiDrummapTo(nullptr, 0, 38) == 0; }},
        {"vxmlGetLayoutPosOfStaff", [] { return vxmlGetLayoutPosOfStaff(nullptr, "x") == -1; }},
        {"vxmlGetSystemStaffNum", [] { return vxmlGetSystemStaffNum(nullptr, 0) == -1; }},
        {"vxmlGetSystemStaffVoiceNum", [] { return vxmlGetSystemStaffVoiceNum(nullptr, 0, 0) == -1; }},
        {"vxmlGetSystemStaffDescription",
         [&] { return vxmlGetSystemStaffDescription(nullptr, 0, 0, &text) == 0 && text == nullptr; }},
        {"vxmlGetSystemTempo", [] { return vxmlGetSystemTempo(nullptr, 0) == 0; }},
        {"vxmlGetFirstEinstChord", [&] { return vxmlGetFirstEinstChord(nullptr, 0, 0, &event) == 0; }},
        {"vxmlTvrxfnameIsEmpty", [] { return vxmlTvrxfnameIsEmpty(nullptr) && vxmlTvrxfnameIsEmpty(""); }},
        {"vxmlGetTvrxfname", [] { return vxmlGetTvrxfname(nullptr) == nullptr; }},
        {"vxmlGetThread", [] { return vxmlGetThread(nullptr) == nullptr && vxmlGetThreadP(nullptr) == nullptr; }},
        {"vxmlConvertProc", [&] { return vxmlConvertProc(nullptr) == 0 && vxmlConvertProc(&noFile) == 0; }},
        {"vxmlConvertFile", [] { return vxmlConvertFile(nullptr, "a.tvrx", "a.xml", nullptr) == -7; }},
    };
    for (const Row& row : rows) EXPECT_TRUE(row.neutral()) << row.name;
}

// A drum part and a bass part converted to ".tvrx", then read back as a host does.
class ExportsVxmlScore : public ::testing::Test {
protected:
    void SetUp() override {
        int signal = 0;
        scMxmlFile* mxml = mxmlNewFile(nullptr, SCORECONV_MODE_TVRXML, &signal, 480, "qvp3", nullptr);
        scVxmlFile* writer = vxmlNewFile(nullptr);
        vxmlCopyConvProps(writer, SCORECONV_CONV_ALL);
        const std::string source = scoreconv::testing::fixture("walk_percussion.xml").string();
        CThreadProcParams params{};
        int result = 1;
        params.file = mxml;
        params.vxml = writer;
        params.sourcePath = source.c_str();
        params.targetPath = target_.c_str();
        params.result = &result;
        mxmlConvertProc(&params);
        mxmlFreeFile(&mxml);
        vxmlFreeFile(&writer);
        ASSERT_EQ(result, 0);

        file_ = vxmlNewFile(nullptr);
        ASSERT_EQ(vxmlGetProps(file_, target_.c_str()), 0);
        ASSERT_EQ(vxmlGetLayoutStaffNum(file_, &layouts_), 0);
        ASSERT_EQ(vxmlSetupScore(file_), 0);
    }
    void TearDown() override { vxmlFreeFile(&file_); }

    TempFolder temp_;
    const std::string target_ = (temp_.path() / "drums.tvrx").string();
    scVxmlFile* file_ = nullptr;
    int layouts_ = 0;
};

TEST_F(ExportsVxmlScore, LayoutsSystemsAndStavesReadAsWritten) {
    ASSERT_EQ(layouts_, 2);
    EXPECT_STREQ(vxmlGetStaffNameA(file_, 0), "Drum Set");
    EXPECT_EQ(platform::utf16ToUtf8(vxmlGetStaffNameW(file_, 1)), "Bass");
    EXPECT_EQ(vxmlGetPercussionFlag(file_, 0), 1);
    EXPECT_EQ(vxmlGetPercussionFlag(file_, 1), 0);
    int voices = 0;
    EXPECT_EQ(vxmlGetVoiceNumOfStaff(file_, 1, &voices), 0);
    EXPECT_GE(voices, 1);

    ASSERT_GE(vxmlGetSystemStaffNum(file_, 0), 2);
    EXPECT_GE(vxmlGetSystemStaffVoiceNum(file_, 0, 1), 1);
    EXPECT_GT(vxmlGetSystemTempo(file_, 0), 0);
    char* description = nullptr;
    ASSERT_EQ(vxmlGetSystemStaffDescription(file_, 0, 1, &description), 0);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(vxmlGetLayoutPosOfStaff(file_, description), 1);
    std::free(description);
    EXPECT_EQ(vxmlGetLayoutPosOfStaff(file_, "no such staff"), -1);

    scorecore::CScoreEvent chord;
    EXPECT_EQ(vxmlGetFirstEinstChord(file_, 1, 0, &chord), 0);
    EXPECT_GT(chord.headCount, 0);
}

TEST_F(ExportsVxmlScore, DrumMapAndChannelAnswerForKnownLayoutsOnly) {
    const uint8_t from = vxmlGetMidiDrummapFrom(file_, 0, 0);
    EXPECT_GT(from, 0);
    EXPECT_EQ(vxmlGetMidiDrummapTo(file_, 1, 38), 38);  // no map: the key itself
    EXPECT_EQ(vxmlSetMidiInstrChannel(file_, 1, 4), 4);
    EXPECT_EQ(vxmlGetMidiInstrChannel(file_, 1), 4);
    struct Unknown {
        int layout;
    };
    for (const Unknown u : {Unknown{-1}, Unknown{2}, Unknown{1000}}) {
        SCOPED_TRACE(u.layout);
        EXPECT_EQ(vxmlGetStaffNameA(file_, u.layout), nullptr);
        EXPECT_EQ(vxmlGetSrcVolume(file_, u.layout), 0);
        EXPECT_EQ(vxmlSetMidiInstrChannel(file_, u.layout, 3), 0);
        EXPECT_EQ(vxmlGetMidiDrummapFrom(file_, u.layout, 0), 0);
    }
    EXPECT_EQ(vxmlGetMidiDrummapFrom(file_, 0, 1000), 0);
    char* description = reinterpret_cast<char*>(this);
    EXPECT_NE(vxmlGetSystemStaffDescription(file_, 99, 0, &description), 0);
    EXPECT_EQ(description, nullptr);
    EXPECT_EQ(vxmlGetSystemStaffNum(file_, 99), 0);
}

}  // namespace
