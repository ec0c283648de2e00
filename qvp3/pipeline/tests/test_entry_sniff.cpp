// The kind of file behind an entry's path: MIDI headers plain and wrapped,
// the binary-score header, the file's date, and where an entry is inserted.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_sources.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

std::string be16(unsigned v) { return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)}; }
std::string be32(unsigned long v) { return be16(static_cast<unsigned>(v >> 16)) + be16(static_cast<unsigned>(v & 0xFFFF)); }
std::string le32(unsigned long v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
}

// A Standard MIDI File header followed by an end-of-track chunk per track.
std::string smf(unsigned format, unsigned tracks, unsigned division, std::string tag = "MThd") {
    std::string s = tag + be32(6) + be16(format) + be16(tracks) + be16(division);
    for (unsigned t = 0; t < tracks; ++t) s += "MTrk" + be32(4) + std::string("\x00\xFF\x2F\x00", 4);
    return s;
}

// The RIFF wrapper of an ".rmi" file as Windows writes it.
std::string rmid(const std::string& midi) {
    return "RIFF" + le32(12 + midi.size()) + "RMID" + "data" + le32(midi.size()) + midi;
}

struct SniffCase {
    const char* name;
    std::string bytes;
    int kind;
    unsigned format = 0, tracks = 0, division = 0;
    std::size_t headerEnd = 14;  // where the memory offset stops on success
};

std::vector<SniffCase> sniffCases() {
    const std::string wave = "RIFF" + le32(36) + "WAVE" + "fmt " + le32(16) + std::string(16, '\0');
    return {
        {"format 0", smf(0, 1, 480), kSniffSingleTrackMidi, 0, 1, 480},
        {"format 1", smf(1, 4, 96), kSniffMultiTrackMidi, 1, 4, 96},
        {"format 1, one track", smf(1, 1, 192), kSniffSingleTrackMidi, 13, 1, 192},
        {"format 2", smf(2, 2, 480), kSniffMultiTrackMidi, 2, 2, 480},
        {"RMID, format 1", rmid(smf(1, 3, 480)), kSniffRiffMidi, 1, 3, 480, 34},
        {"RMID, one track", rmid(smf(1, 1, 480)), kSniffSingleTrackMidi, 13, 1, 480, 34},
        {"sequencer project ZRV3", smf(1, 2, 384, "ZRV3"), kSniffSequencerProject, 1, 2, 384},
        {"sequencer project TVRR", smf(0, 1, 384, "TVRR"), kSniffSequencerProject, 0, 1, 384},
        {"SMPTE division", smf(1, 2, 0xE728), kSniffUnknown},
        {"length not 6", "MThd" + be32(5) + be16(0) + be16(1) + be16(480), kSniffUnknown},
        {"header cut in the track count", smf(1, 2, 480).substr(0, 11), kSniffUnknown},
        {"header without division", smf(0, 1, 480).substr(0, 12), kSniffUnknown},
        {"RIFF cut inside the wrapper", rmid(smf(0, 1, 480)).substr(0, 18), kSniffUnknown},
        {"WAV file", wave, kSniffUnknown},
        {"text file", "MThd is how a MIDI file starts.\n", kSniffUnknown},
        {"empty", "", kSniffUnknown},
    };
}

void expectHeader(const SniffCase& c, const MidiFileHeader& header) {
    EXPECT_EQ(std::string(header.magic.data(), 4), c.bytes.substr(c.headerEnd - 14, 4));
    EXPECT_EQ(header.length, 6u);
    EXPECT_EQ(header.format, c.format);
    EXPECT_EQ(header.trackCount, c.tracks);
    EXPECT_EQ(header.division, c.division);
}

TEST(EntrySniff, KindsOfMemoryImagesAndFiles) {
    TempFolder folder;
    for (const SniffCase& c : sniffCases()) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> image(c.bytes.begin(), c.bytes.end());
        MidiFileHeader header;
        header.trackCount = 777;  // stays when nothing is recognised
        std::size_t offset = 0;
        EXPECT_EQ(cnvSniffMusicFile(image, header, offset), c.kind);
        EXPECT_LE(offset, image.size());
        if (c.kind == kSniffUnknown) {
            EXPECT_EQ(header.trackCount, 777);
        } else {
            EXPECT_EQ(offset, c.headerEnd);
            expectHeader(c, header);
        }

        const fs::path path = folder.path() / "file";
        writeBytes(path, c.bytes);
        MidiFileHeader fromFile;
        int kind = 0;
        EXPECT_EQ(cnvSniffMusicFileByName(path, &fromFile, &kind), c.kind == kSniffUnknown ? kCnvUnknownFormat : kCnvOk);
        EXPECT_EQ(kind, c.kind);
        if (c.kind != kSniffUnknown) expectHeader(c, fromFile);
        EXPECT_EQ(cnvSniffMusicFileByName(path, nullptr, nullptr), c.kind == kSniffUnknown ? kCnvUnknownFormat : kCnvOk);
    }
}

TEST(EntrySniff, ImageReadFromARunningOffset) {
    const std::string bytes = "xyz" + smf(0, 1, 480);
    const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
    MidiFileHeader header;
    std::size_t offset = 3;
    EXPECT_EQ(cnvSniffMusicFile(image, header, offset), kSniffSingleTrackMidi);
    EXPECT_EQ(offset, 17u);
    offset = image.size() + 5;  // past the end: nothing to read
    EXPECT_EQ(cnvSniffMusicFile(image, header, offset), kSniffUnknown);
    EXPECT_EQ(offset, image.size());
}

TEST(EntrySniff, FilesThatCannotBeOpened) {
    TempFolder folder;
    for (const fs::path& path : {folder.path() / "missing.mid", folder.path()}) {
        SCOPED_TRACE(path.string());
        int kind = 99;
        EXPECT_EQ(cnvSniffMusicFileByName(path, nullptr, &kind), kCnvSnifferCannotOpen);
        EXPECT_EQ(kind, 99);
    }
}

TEST(EntrySniff, BinaryScoreHeader) {
    TempFolder folder;
    const struct {
        const char* bytes;
        int result;
    } cases[] = {
        {"tvr3-v\x07rest", kCnvOk},
        {"tvr3-w\x07rest", kCnvUnknownFormat},
        {"tvr4-v", kCnvUnknownFormat},
        {"tvr3-", kCnvUnknownFormat},
        {"", kCnvUnknownFormat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const fs::path path = folder.path() / "score.tvr";
        writeBytes(path, c.bytes);
        SourceFile file;
        ASSERT_EQ(cnvCheckBinaryScore(path, file), c.result);
        EXPECT_EQ(file.isOpen(), c.result == kCnvOk);
        if (c.result == kCnvOk) {  // the reader goes on right after the header
            std::array<std::uint8_t, 1> next{};
            ASSERT_TRUE(file.readExactly(next));
            EXPECT_EQ(next[0], 7);
        }
    }
    SourceFile file;
    EXPECT_EQ(cnvCheckBinaryScore(folder.path() / "missing.tvr", file), kCnvCannotOpen);
    EXPECT_FALSE(file.isOpen());
}

TEST(EntrySniff, FileDateText) {
    TempFolder folder;
    const fs::path path = folder.path() / "song.mid";
    writeBytes(path, smf(0, 1, 480));
    // Noon UTC: the same day in every time zone within twelve hours of it.
    const std::time_t noon = 1551960000;  // 2019-03-07 12:00:00 UTC
    const struct timespec times[2] = {{noon, 0}, {noon, 500}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    platform::FileTime time = 0;
    std::string text;
    ASSERT_EQ(cnvFileDateText(path, time, text), kCnvOk);
    EXPECT_EQ(time, platform::fileTimeFromUnix(noon, 500));
    EXPECT_EQ(text, "07-03-2019");

    // Through a handle the caller holds: the name need not exist any more.
    SourceFile open;
    ASSERT_TRUE(open.open(path));
    fs::remove(path);
    time = 0;
    text.clear();
    EXPECT_EQ(cnvFileDateText(path, time, text, &open), kCnvOk);
    EXPECT_EQ(text, "07-03-2019");
    EXPECT_EQ(cnvFileDateText(path, time, text), kCnvCannotOpen);
}

TEST(EntryInsert, AtFrontMiddleAndEnd) {
    const struct {
        int index;
        const char* order;
    } cases[] = {
        {0, "xabc"}, {1, "axbc"}, {2, "abxc"}, {-1, "abcx"}, {3, "abcx"}, {9, "abcx"}, {-5, "abcx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        Project project;
        for (const char* name : {"a", "b", "c"}) {
            ProjectEntry e;
            e.Filename = name;
            project.entries.push_back(std::move(e));
        }
        ProjectEntry entry;
        entry.Filename = "x";
        entry.durationMs = 1234;
        ASSERT_TRUE(cnvInsertEntry(project, std::move(entry), c.index));
        std::string order;
        for (const ProjectEntry& e : project.entries) order += e.Filename.string();
        EXPECT_EQ(order, c.order);
        const ProjectEntry& inserted = project.entries[std::string(c.order).find('x')];
        EXPECT_EQ(inserted.durationMs, 1234);
        EXPECT_EQ(inserted.project, &project);
    }
    Project empty;
    ASSERT_TRUE(cnvInsertEntry(empty, ProjectEntry{}, 0));
    EXPECT_EQ(empty.fileNum(), 1);
}

}  // namespace
}  // namespace qvp3
