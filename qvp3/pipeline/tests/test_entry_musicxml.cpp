// MusicXML entries through the score library: read with their play model,
// and converted into a ".tvrx" beside the source that only a complete file
// ever replaces.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <string>
#include <thread>

#include "platform/message_target.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_sources.h"
#include "scoreconv/scoreconv.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

const fs::path kPianoStaff = fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / "43a-PianoStaff.xml";
const fs::path kPitches = fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / "01a-Pitches-Pitches.xml";
const fs::path kTruncated = fs::path(QVP3_TEST_DATA_DIR) / "entry_truncated.xml";

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename().string());
    return names;
}

// A TvrXML file the library reads back.
bool isTvrxml(const fs::path& path) {
    scVxmlFile* file = vxmlNewFile(nullptr);
    const int rc = vxmlGetProps(file, path.string().c_str());
    vxmlFreeFile(&file);
    return rc == 0;
}

class EntryMusicXml : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(projectFolder());
        project_.data.ProjectFolder = projectFolder();
        entry_.project = &project_;
        window_ = &target_;
        host_.window = &window_;
        host_.stopWord = &stop_;
    }
    fs::path projectFolder() const { return temp_.path() / "project"; }
    fs::path sourcesFolder() const { return temp_.path() / "music"; }
    // The source placed as sourcesFolder()/name and set as the entry's file.
    fs::path useSource(const fs::path& from, const std::string& name = "song.xml") {
        const fs::path path = sourcesFolder() / name;
        writeBytes(path, readBytes(from));
        entry_.Filename = path;
        entry_.kind = EntryKind::MusicXml;
        return path;
    }

    TempFolder temp_;
    Project project_;
    ProjectEntry entry_;
    platform::RecordingMessageTarget target_;
    platform::MessageTarget* window_ = nullptr;
    int stop_ = 0;
    ScoreLibraryHost host_;
};

TEST_F(EntryMusicXml, OpensWithItsStaveCount) {
    const struct {
        fs::path file;
        int staves;
    } cases[] = {{kPianoStaff, 2}, {kPitches, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.filename().string());
        useSource(c.file);
        entry_.kind = EntryKind::Unset;
        int staves = -1;
        ASSERT_EQ(cnvOpenMusicXml(entry_, host_, staves), kCnvOk);
        EXPECT_EQ(staves, c.staves);
        EXPECT_EQ(entry_.kind, EntryKind::MusicXml);
    }
    // The library reported its progress to the host's window, on this thread.
    ASSERT_GT(target_.count(), 0u);
    EXPECT_EQ(target_.messages().front().msg, platform::WM_MXML_PROGRESS);
    EXPECT_EQ(target_.messages().front().thread, std::this_thread::get_id());
}

TEST_F(EntryMusicXml, BrokenOrMissingFileIsNotOpened) {
    for (const fs::path& path : {useSource(kTruncated), sourcesFolder() / "missing.xml"}) {
        SCOPED_TRACE(path.string());
        entry_.Filename = path;
        entry_.kind = EntryKind::Unset;
        int staves = -1;
        EXPECT_EQ(cnvOpenMusicXml(entry_, host_, staves), kCnvCannotOpen);
        EXPECT_EQ(staves, -1);
        EXPECT_EQ(entry_.kind, EntryKind::Unset);
    }
}

TEST_F(EntryMusicXml, ConvertsBesideTheSourceAndKeepsTheUsersOwnTvrx) {
    const fs::path source = useSource(kPianoStaff);
    writeBytes(sourcesFolder() / "song.tvrx", "the user's own score");
    writeBytes(sourcesFolder() / "song.xml.tvrx", "an older conversion");

    ASSERT_EQ(cnvMusicXmlToTvrx(entry_, host_), kCnvOk);
    const fs::path converted = sourcesFolder() / "song.xml.tvrx";
    EXPECT_EQ(entry_.Filename, converted);
    EXPECT_EQ(entry_.FilenameOrig, source);
    EXPECT_EQ(entry_.kind, EntryKind::TvrXml);
    EXPECT_EQ(cnvConvertedScorePath(source), converted);
    EXPECT_TRUE(isTvrxml(converted));
    EXPECT_EQ(readBytes(sourcesFolder() / "song.tvrx"), "the user's own score");
    EXPECT_EQ(namesIn(sourcesFolder()), (std::set<std::string>{"song.xml", "song.tvrx", "song.xml.tvrx"}));
    EXPECT_TRUE(namesIn(projectFolder()).empty());

    // Converted already: nothing is read or written, even with the source gone.
    const std::string first = readBytes(converted);
    fs::remove(source);
    entry_.kind = EntryKind::MusicXml;
    ASSERT_EQ(cnvMusicXmlToTvrx(entry_, host_), kCnvOk);
    EXPECT_EQ(entry_.kind, EntryKind::TvrXml);
    EXPECT_EQ(entry_.Filename, converted);
    EXPECT_EQ(readBytes(converted), first);
}

// Every way a conversion can fail leaves the folders and the entry as they were.
TEST_F(EntryMusicXml, FailureLeavesNothingBehindAndKeepsTheOlderTvrx) {
    enum class Fault { Malformed, StopBefore, StopWhileReading };
    for (const Fault fault : {Fault::Malformed, Fault::StopBefore, Fault::StopWhileReading}) {
        SCOPED_TRACE(static_cast<int>(fault));
        const fs::path source = useSource(fault == Fault::Malformed ? kTruncated : kPianoStaff);
        writeBytes(sourcesFolder() / "song.xml.tvrx", "an older conversion");
        stop_ = fault == Fault::StopBefore ? 1 : 0;
        target_.setSendHandler([this, fault](platform::MessageId, platform::WParam, platform::LParam) {
            if (fault == Fault::StopWhileReading) stop_ = 1;
            return platform::LResult{0};
        });

        EXPECT_EQ(cnvMusicXmlToTvrx(entry_, host_), fault == Fault::Malformed ? kCnvCannotOpen : kCnvStopped);
        EXPECT_EQ(entry_.Filename, source);
        EXPECT_TRUE(entry_.FilenameOrig.empty());
        EXPECT_EQ(entry_.kind, EntryKind::MusicXml);
        EXPECT_EQ(readBytes(sourcesFolder() / "song.xml.tvrx"), "an older conversion");
        EXPECT_EQ(namesIn(sourcesFolder()), (std::set<std::string>{"song.xml", "song.xml.tvrx"}));
        EXPECT_TRUE(namesIn(projectFolder()).empty());
    }
}

// A folder on a file system other than the test's temporary one, removed
// afterwards; empty when the machine has none to write to.
class FolderElsewhere {
public:
    explicit FolderElsewhere(const fs::path& near) {
        const fs::path root = "/dev/shm";
        struct stat here {}, there {};
        if (::stat(root.c_str(), &there) != 0 || ::stat(near.c_str(), &here) != 0 || here.st_dev == there.st_dev ||
            ::access(root.c_str(), W_OK) != 0) {
            return;
        }
        path_ = root / near.filename();
        fs::create_directories(path_);
    }
    ~FolderElsewhere() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Long paths, no project folder (the system's temporary folder), and a
// project folder on another file system than the source.
TEST_F(EntryMusicXml, ConvertsWhereverTheFilesLie) {
    const FolderElsewhere elsewhere(temp_.path());
    const fs::path deep = fs::path(std::string(120, 'd')) / std::string(100, 'e');
    const struct {
        const char* name;
        fs::path sourceName;
        std::optional<fs::path> projectFolder;
    } cases[] = {
        {"long path", deep / (std::string(150, 's') + ".xml"), projectFolder()},
        {"no project folder", "plain.xml", std::nullopt},
        {"project folder elsewhere", "elsewhere.xml", elsewhere.path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.projectFolder && c.projectFolder->empty()) continue;  // no other file system here
        if (c.projectFolder) project_.data.ProjectFolder = *c.projectFolder;
        entry_.project = c.projectFolder ? &project_ : nullptr;
        entry_.FilenameOrig.clear();
        const fs::path source = useSource(kPitches, c.sourceName.string());
        ASSERT_EQ(cnvMusicXmlToTvrx(entry_, host_), kCnvOk);
        EXPECT_EQ(entry_.Filename, cnvConvertedScorePath(source));
        EXPECT_TRUE(isTvrxml(entry_.Filename));
        if (c.projectFolder) {
            EXPECT_TRUE(namesIn(*c.projectFolder).empty());
        }
    }
}

TEST_F(EntryMusicXml, RefusesATargetThatIsTheSourceItself) {
    const fs::path source = useSource(kPitches);
    fs::create_symlink(source, sourcesFolder() / "song.xml.tvrx");
    EXPECT_EQ(cnvMusicXmlToTvrx(entry_, host_), kCnvCannotCreateFile);
    EXPECT_EQ(readBytes(source), readBytes(kPitches));
    EXPECT_TRUE(fs::is_symlink(sourcesFolder() / "song.xml.tvrx"));
    EXPECT_TRUE(entry_.FilenameOrig.empty());
    EXPECT_TRUE(namesIn(projectFolder()).empty());
}

}  // namespace
}  // namespace qvp3
