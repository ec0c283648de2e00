#include <gtest/gtest.h>

#include <algorithm>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/profile_context.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

struct TempDir : platform::testing::TempFolder {
    fs::path operator/(const char* name) const { return path() / name; }
};

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

TEST(IniBlob, ChunksAndCountKeysFollowTheStoredLayout) {
    struct Case {
        std::size_t size;
        std::vector<std::string> chunkKeys;
        int sizeKey;
    } cases[] = {
        {331, {"BE"}, 1},
        {28672, {"BE"}, 1},
        {28673, {"BE0001", "BE0002"}, 2},
        {3 * 28672, {"BE0001", "BE0002", "BE0003"}, 3},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const fs::path file = dir / "blob.c-1";
        fs::remove(file);
        const auto data = pattern(c.size);
        {
            ProfileContext context("Project File 01", file);
            prfWriteIniBlob(context, data, "BE");
            ASSERT_TRUE(context.flush());
        }
        platform::IniDocument doc;
        ASSERT_EQ(doc.load(file), platform::IniStatus::Ok);
        std::vector<std::string> expectedKeys = c.chunkKeys;
        expectedKeys.push_back("BE-Size");
        expectedKeys.push_back("BE-ByteSize");
        EXPECT_EQ(doc.keyNames("Project File 01"), expectedKeys) << c.size;
        EXPECT_EQ(doc.getInt("Project File 01", "BE-Size", -1), c.sizeKey);
        EXPECT_EQ(doc.getInt("Project File 01", "BE-ByteSize", -1), static_cast<int>(c.size));
        if (c.chunkKeys.size() > 1) {
            EXPECT_EQ(doc.structSize("Project File 01", c.chunkKeys[0]), kIniBlobChunkSize);
        }

        ProfileContext reader("project file 01", file);
        const auto back = prfReadIniBlob(reader, "be");
        ASSERT_TRUE(back) << c.size;
        EXPECT_EQ(*back, data) << c.size;
    }
}

TEST(IniBlob, AnEmptyBlockWritesNoChunkAndDoesNotReadBack) {
    TempDir dir;
    ProfileContext context("S", dir / "p.ini");
    prfWriteIniBlob(context, {}, "Reverb");
    EXPECT_EQ(context.document().keyNames("S"), (std::vector<std::string>{"Reverb-Size", "Reverb-ByteSize"}));
    EXPECT_EQ(context.readInt("Reverb-Size", -1), 0);
    EXPECT_FALSE(prfReadIniBlob(context, "Reverb"));
}

TEST(IniBlob, DamagedOrInconsistentStoresReadAsMissing) {
    // A valid two-chunk store, then one damage per case.
    const auto data = pattern(28673);
    struct Case {
        const char* why;
        void (*damage)(platform::IniDocument&);
    } cases[] = {
        {"no -Size key", [](platform::IniDocument& d) { d.deleteKey("S", "B-Size"); }},
        {"no -ByteSize key", [](platform::IniDocument& d) { d.deleteKey("S", "B-ByteSize"); }},
        {"-Size 0", [](platform::IniDocument& d) { d.setInt("S", "B-Size", 0); }},
        {"more chunks than the bytes need", [](platform::IniDocument& d) { d.setInt("S", "B-Size", 3); }},
        {"fewer chunks than the bytes need", [](platform::IniDocument& d) { d.setInt("S", "B-Size", 1); }},
        {"byte size beyond the stored chunks",
         [](platform::IniDocument& d) { d.setInt("S", "B-ByteSize", 28673 + 5); }},
        {"absurd byte size", [](platform::IniDocument& d) { d.setInt("S", "B-ByteSize", 0x7FFFFFFF); }},
        {"negative byte size", [](platform::IniDocument& d) { d.setInt("S", "B-ByteSize", -28673); }},
        {"second chunk missing", [](platform::IniDocument& d) { d.deleteKey("S", "B0002"); }},
        {"one hex digit flipped",
         [](platform::IniDocument& d) {
             std::string v = *d.getString("S", "B0001");
             v[10] = v[10] == 'A' ? 'B' : 'A';
             d.setString("S", "B0001", v);
         }},
    };
    TempDir dir;
    for (const auto& c : cases) {
        ProfileContext context("S", dir / "d.ini");
        prfWriteIniBlob(context, data, "B");
        ASSERT_TRUE(prfReadIniBlob(context, "B")) << c.why;
        c.damage(context.document());
        EXPECT_FALSE(prfReadIniBlob(context, "B")) << c.why;
        context.document().clearDirty();
    }
}

TEST(IniBlob, ABlockWrittenByHandInWindowsStyleReads) {
    // As the Windows system stores a 3-byte block: upper-case hex, checksum, CRLF.
    TempDir dir;
    platform::testing::writeBytes(
        dir / "win.c-1", "[Project File 01]\r\nReverbData=0A0B0C21\r\nReverbData-Size=1\r\nReverbData-ByteSize=3\r\n");
    ProfileContext context("Project File 01", dir / "win.c-1");
    EXPECT_EQ(prfReadIniBlob(context, "ReverbData"), (std::vector<std::uint8_t>{0x0A, 0x0B, 0x0C}));
}

TEST(ProfileContextIni, ValuesGoToTheTargetAndTheFileIsWrittenOnce) {
    TempDir dir;
    const fs::path project = dir / "p.c-1";
    const fs::path other = dir / "catalog.ini";
    {
        ProfileContext context("zq1 Project File", project);
        prfWriteIniValue(context, {}, {}, "FileNum", 3, nullptr);
        prfWriteIniValue(context, "Project File 01", {}, "Filename", 0, "C:\\x.mid");
        prfWriteIniValue(context, {}, other, "Title", 0, "elsewhere");
        EXPECT_FALSE(fs::exists(project)) << "written before flush";
        EXPECT_EQ(context.readInt("FileNum", -1), 3);
        ASSERT_TRUE(context.flush());
        const auto written = fs::last_write_time(project);
        EXPECT_TRUE(context.flush());  // nothing pending: no second write
        EXPECT_EQ(fs::last_write_time(project), written);
    }
    EXPECT_EQ(platform::iniGetInt(project, "ZQ1 PROJECT FILE", "filenum", -1), 3);
    EXPECT_EQ(platform::iniGetString(project, "Project File 01", "Filename", ""), "C:\\x.mid");
    EXPECT_EQ(platform::iniGetString(other, "zq1 Project File", "Title", ""), "elsewhere");
}

TEST(ProfileContextIni, ChangingTheTargetWritesThePreviousFile) {
    TempDir dir;
    ProfileContext context;
    ASSERT_TRUE(context.setTarget("qvp Profile File", dir / "Profile00001.qvpprof"));
    prfWriteIniValue(context, {}, {}, "ProfileType", 4, nullptr);
    ASSERT_TRUE(context.setTarget("qvp Profile File", dir / "Profile00002.qvpprof"));
    EXPECT_EQ(platform::iniGetInt(dir / "Profile00001.qvpprof", "qvp Profile File", "ProfileType", -1), 4);
    EXPECT_EQ(context.readInt("ProfileType", -1), -1);

    // The target field set directly: the change pending for the previous file is not lost.
    prfWriteIniValue(context, {}, {}, "ProfileType", 5, nullptr);
    context.iniPath = dir / "Profile00003.qvpprof";
    EXPECT_EQ(context.readInt("ProfileType", -1), -1);
    EXPECT_EQ(platform::iniGetInt(dir / "Profile00002.qvpprof", "qvp Profile File", "ProfileType", -1), 5);
}

TEST(ProfileContextIni, AnUnreadableTargetIsNotOverwritten) {
    TempDir dir;
    fs::create_directory(dir / "folder.c-1");
    ProfileContext context("S", dir / "folder.c-1");
    prfWriteIniValue(context, {}, {}, "K", 1, nullptr);
    EXPECT_EQ(context.loadStatus(), platform::IniStatus::ReadError);
    std::string error;
    EXPECT_FALSE(context.flush(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(dir / "folder.c-1"));
}

// Fake windows that log what happens to them.
struct FakeWindow : BarWindow {
    FakeWindow(std::string n, std::vector<std::string>& l) : name(std::move(n)), log(l) {}
    bool isWindow() const override { return alive; }
    void destroy() override {
        log.push_back("destroy " + name);
        alive = false;
    }
    std::string name;
    std::vector<std::string>& log;
    bool alive = true;
};

struct FakeList : ProfileListWindow {
    explicit FakeList(std::vector<std::string>& l) : log(l) {}
    bool isWindow() const override { return alive; }
    void destroy() override {
        log.push_back("destroy list");
        alive = false;
    }
    int count() const override { return static_cast<int>(items.size()); }
    void addItem(std::string text, fs::path path) override { items.emplace_back(std::move(text), std::move(path)); }
    fs::path itemPath(int index) const override { return items.at(static_cast<std::size_t>(index)).second; }
    void clear() override {
        log.push_back("clear list");
        items.clear();
    }
    void setEditText(std::string_view text) override { log.push_back("edit '" + std::string(text) + "'"); }
    void select(int index) override { log.push_back("select " + std::to_string(index)); }
    std::vector<std::pair<std::string, fs::path>> items;
    std::vector<std::string>& log;
    bool alive = true;
};

TEST(ProfileContextBar, DestroyingTheContextDestroysTheBar) {
    struct Case {
        bool listAlive;
        bool listHasItems;
        std::vector<std::string> expected;
    } cases[] = {
        {true, true,
         {"destroy bar", "clear list", "edit ''", "destroy list", "destroy button", "destroy toolbar"}},
        {true, false, {"destroy bar", "destroy list", "destroy button", "destroy toolbar"}},
        {false, true, {"destroy bar"}},  // the list went with the bar; so did its siblings
    };
    for (const auto& c : cases) {
        std::vector<std::string> log;
        FakeWindow bar("bar", log), button("button", log), toolbar("toolbar", log);
        FakeList list(log);
        if (c.listHasItems) list.addItem("Strings legato", "/profiles/Profile00001.qvpprof");
        list.alive = c.listAlive;
        {
            ProfileContext context;
            context.barWindow = &bar;
            context.barButton = &button;
            context.profileList = &list;
            context.profileToolbar = &toolbar;
        }
        EXPECT_EQ(log, c.expected);
    }
}

TEST(ProfileContextBar, ANewContextStartsEmpty) {
    const ProfileContext context("Section", "/tmp/file.ini");
    EXPECT_EQ(context.selectedIndex, -1);
    EXPECT_EQ(context.profileCount, 0);
    EXPECT_FALSE(context.entriesChanged);
    EXPECT_TRUE(std::all_of(context.applyFlags.begin(), context.applyFlags.end(), [](auto f) { return f == 0; }));
    EXPECT_EQ(context.iniSection, "Section");
    EXPECT_EQ(context.iniPath, "/tmp/file.ini");
}

}  // namespace
}  // namespace qvp3
