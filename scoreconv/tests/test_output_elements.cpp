// The output side's small operations: backup and time-modification elements,
// the staff-line count, saving the document, the original name, and the
// track names of a render pass.
#include "musicxml/output_elements.h"
#include "play/track_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "musicxml/mxml_file.h"
#include "platform_testing/temp_folder.h"
#include "play/render_output.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

using scorecore::kOk;

// A document with a root and one detached "measure" per measure of a part.
struct WriterDocument {
    explicit WriterDocument(int measures) {
        EXPECT_EQ(scorecore::xmldomCreateFile({}, doc, root, 0), kOk);
        for (int i = 0; i < measures; ++i) {
            part.items.emplace_back();
            EXPECT_EQ(scorecore::xmldomAppendElement(
                          scorecore::XmlElementArgs(doc, nullptr, "measure").out(&part.items.back().node)),
                      kOk);
        }
    }
    std::string text(xmlNodePtr node) const {
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlNodeDump(buffer, doc.get(), node, 0, 0);
        std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
        xmlBufferFree(buffer);
        return out;
    }
    scorecore::XmlDocument doc;
    xmlNodePtr root = nullptr;
    scorecore::CDomNodeGroup part;
};

TEST(OutputElements, BackupGoesIntoTheCurrentMeasureOfThePart) {
    WriterDocument w(2);
    ASSERT_EQ(appendBackup(w.doc, w.part, 1, 960), kOk);
    EXPECT_EQ(w.text(w.part.items[1].node),
              "<measure>\n\t\t\t<backup>\n\t\t\t\t<duration>960</duration>\n\t\t\t</backup></measure>");
    EXPECT_EQ(w.text(w.part.items[0].node), "<measure/>");
    EXPECT_EQ(appendBackup(w.doc, w.part, 2, 960), scorecore::kErrIndex);
    EXPECT_EQ(appendBackup(w.doc, w.part, -1, 960), scorecore::kErrIndex);
}

TEST(OutputElements, TimeModificationOnlyForTuplets) {
    WriterDocument w(0);
    xmlNodePtr note = nullptr;
    ASSERT_EQ(scorecore::xmldomAppendElement(scorecore::XmlElementArgs(w.doc, nullptr, "note").out(&note)), kOk);
    CScoreEvent plain;
    ASSERT_EQ(appendTimeModification(w.doc, note, plain), kOk);
    EXPECT_EQ(w.text(note), "<note/>");
    CScoreEvent triplet;
    triplet.tupletCount = 3;
    triplet.tupletNormal = 2;
    ASSERT_EQ(appendTimeModification(w.doc, note, triplet), kOk);
    EXPECT_EQ(w.text(note),
              "<note>\n\t\t\t\t<time-modification>\n\t\t\t\t\t<actual-notes>3</actual-notes>"
              "\n\t\t\t\t\t<normal-notes>2</normal-notes>\n\t\t\t\t</time-modification></note>");
}

TEST(OutputElements, StaffLinesOfAPattern) {
    struct Case {
        const char* pattern;
        int32_t lines;
    };
    for (const Case& c : {Case{"1", 1}, Case{"5", 5}, Case{"", 5}, Case{"|||", 3}, Case{"|||||", 5},
                          Case{"___|||||___", 5}, Case{"_____|_____", 1}, Case{"x", 0}}) {
        EXPECT_EQ(staffLineCount(c.pattern), c.lines) << c.pattern;
    }
}

TEST(OutputElements, SaveFileWritesTheWholeDocumentOrNothing) {
    platform::testing::TempFolder temp;
    auto file = CMxmlFile::newFile(nullptr, kModeTvrxml, nullptr, 480, "qvp3", nullptr);
    const auto target = temp.path() / "out.xml";
    EXPECT_EQ(saveFile(*file, target), scorecore::kErrWrite);  // no document yet
    EXPECT_FALSE(std::filesystem::exists(target));
    xmlNodePtr root = nullptr;
    ASSERT_EQ(scorecore::xmldomCreateFile({}, file->document, root, 0), kOk);
    ASSERT_EQ(saveFile(*file, target), kOk);
    std::ifstream in(target);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<score"), std::string::npos);
    EXPECT_EQ(saveFile(*file, temp.path() / "missing" / "out.xml"), scorecore::kErrWrite);
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "missing"));
}

TEST(OutputElements, OriginalFilenameIsWhatARenderedFileIsMatchedAgainst) {
    auto file = CMxmlFile::newFile(nullptr, kModeRealTime, nullptr, 480, "qvp3", nullptr);
    file->fnScanned = "/tmp/converted.xml";
    setOriginalFilename(*file, "/music/Original Song.mxl");
    EXPECT_EQ(file->fnOriginal, "/music/Original Song.mxl");
    EXPECT_TRUE(file->isThisFileRendered("/music/Original Song.mxl"));
    EXPECT_FALSE(file->isThisFileRendered("/tmp/converted.xml"));
}

TEST(TrackNames, PercussionKeysHaveTheirGeneralMidiNames) {
    EXPECT_EQ(percussionTrackName(35), "Acoustic Bass Drum");
    EXPECT_EQ(percussionTrackName(38), "Acoustic Snare");
    EXPECT_EQ(percussionTrackName(81), "Open Triangle");
    EXPECT_EQ(percussionTrackName(34), "[34]");
    EXPECT_EQ(percussionTrackName(82), "[82]");
}

// The text of every track-name event of a track.
std::vector<std::string> namesOf(const CMxmlFile& file, int32_t track) {
    std::vector<std::string> names;
    const auto bytes = file.render.streams[static_cast<std::size_t>(track)].bytes();
    for (std::size_t i = 0; i + 3 < bytes.size();) {
        EXPECT_EQ(bytes[i], 0x00);  // delta 0
        EXPECT_EQ(bytes[i + 1], 0xFF);
        EXPECT_EQ(bytes[i + 2], kMetaTrackName);
        const std::size_t length = bytes[i + 3];
        names.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(i + 4),
                           bytes.begin() + static_cast<std::ptrdiff_t>(i + 4 + length));
        i += 4 + length;
    }
    return names;
}

// Staves of the given used voices, named; the percussion staff (when given)
// plays the listed keys.
std::unique_ptr<CMxmlFile> renderFile(std::vector<int32_t> voices, std::vector<std::string> names,
                                      int32_t percussionStaff = -1, std::vector<uint8_t> keys = {}) {
    auto file = CMxmlFile::newFile(nullptr, kModeRender, nullptr, 480, "qvp3", nullptr);
    const auto staves = static_cast<int32_t>(voices.size());
    EXPECT_TRUE(file->growStaffTables(staves));
    file->voiceCounts = voices;
    for (int32_t s = 0; s < staves; ++s) {
        file->staffNames[static_cast<std::size_t>(s)].name = names[static_cast<std::size_t>(s)];
        if (s == percussionStaff) {
            for (const uint8_t key : keys) {
                CMidiInstr drum;
                drum.PercNote = key;
                EXPECT_TRUE(file->instruments.append(s, drum));
            }
        } else {
            EXPECT_TRUE(file->instruments.append(s, CMidiInstr{}));
        }
    }
    EXPECT_TRUE(file->render.allocate(planTracks(file->instruments, file->voiceCounts, file->controls.playConditions(), false, false).count));
    return file;
}

TEST(TrackNames, VoicesAreNamedAfterTheirStaff) {
    auto file = renderFile({2, 1, 0}, {"Violin", "Cello", "Tacet"});
    ASSERT_EQ(writeTrackNames(*file), kOk);
    ASSERT_EQ(file->render.count(), 5);
    EXPECT_TRUE(namesOf(*file, 0).empty());
    EXPECT_EQ(namesOf(*file, 1), std::vector<std::string>{"Violin-1"});
    EXPECT_EQ(namesOf(*file, 2), std::vector<std::string>{"Violin-2"});
    EXPECT_EQ(namesOf(*file, 3), std::vector<std::string>{"Cello"});
    EXPECT_TRUE(namesOf(*file, 4).empty());
    // Set-up: a track that holds nothing else is left out of the file.
    EXPECT_EQ(file->render.headerSizes[3], static_cast<int32_t>(file->render.streams[3].bytes().size()));
}

TEST(TrackNames, DrumsWithTracksOfTheirOwnAreNamedByKey) {
    auto file = renderFile({1, 1}, {"Drums", "Bass"}, 0, {35, 81, 34});
    file->controls.addPlayConditions(kCondPercussionTracks);
    ASSERT_TRUE(file->render.allocate(planTracks(file->instruments, file->voiceCounts, file->controls.playConditions(), false, false).count));
    ASSERT_EQ(writeTrackNames(*file), kOk);
    ASSERT_EQ(file->render.count(), 5);
    EXPECT_EQ(namesOf(*file, 1), std::vector<std::string>{"Acoustic Bass Drum"});
    EXPECT_EQ(namesOf(*file, 2), std::vector<std::string>{"Open Triangle"});
    EXPECT_EQ(namesOf(*file, 3), std::vector<std::string>{"[34]"});
    EXPECT_EQ(namesOf(*file, 4), std::vector<std::string>{"Bass"});

    // Without tracks of their own the drums share the staff's voice track.
    auto shared = renderFile({1, 1}, {"Drums", "Bass"}, 0, {35, 81});
    ASSERT_EQ(writeTrackNames(*shared), kOk);
    EXPECT_EQ(namesOf(*shared, 1), std::vector<std::string>{"Drums"});
    EXPECT_EQ(namesOf(*shared, 2), std::vector<std::string>{"Bass"});

    // Outside a render pass nothing is written.
    auto live = renderFile({1}, {"Flute"});
    live->controls.setPlayMode(kModeRealTime);
    ASSERT_EQ(writeTrackNames(*live), kOk);
    EXPECT_TRUE(namesOf(*live, 1).empty());
}

}  // namespace
}  // namespace scoreconv
