#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <thread>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform_testing/file_bytes.h"
#include "profile_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ListDouble;
using testing::ProfileStudio;
using C = StepCategory;

const testing::FakePipeline::Shape kScore{EntryKind::TvrXml, {2, 1}, {}, 1000};

// A profile file with the given header values (null: key left out).
void writeProfile(const fs::path& path, const char* type, const char* desc, const char* version,
                  const char* dataNum = "8") {
    std::string text = "[qvp Profile File]\r\n";
    if (type) text += std::string("ProfileType=") + type + "\r\n";
    if (desc) text += std::string("ProfileDesc=") + desc + "\r\n";
    if (version) text += std::string("ProfileVersion=") + version + "\r\n";
    if (dataNum) text += std::string("ProfileDataNum=") + dataNum + "\r\n";
    platform::testing::writeBytes(path, text);
}

TEST(ProfileFile, ANewProfileTakesTheFirstFreeNumberAndNeverOverwrites) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    for (const char* name : {"Profile00001.qvpprof", "Profile00002.qvpprof", "Profile00004.qvpprof"}) {
        writeProfile(dir.path() / name, "TMP", name, "2");
    }
    studio.context.profileCount = 3;
    EXPECT_EQ(studio.save(C::Met, &entry).filename(), "Profile00003.qvpprof");
    EXPECT_EQ(studio.save(C::Met, &entry).filename(), "Profile00005.qvpprof");
    EXPECT_EQ(studio.context.profileCount, 5);
    // A count that fell behind the folder still finds a free number.
    studio.context.profileCount = 0;
    EXPECT_EQ(studio.save(C::Met, &entry).filename(), "Profile00006.qvpprof");
    EXPECT_EQ(platform::iniGetString(dir.path() / "Profile00004.qvpprof", kProfileSection, "ProfileDesc", ""),
              "Profile00004.qvpprof");
}

TEST(ProfileFile, WritersAtTheSameTimeGetFilesOfTheirOwn) {
    platform::testing::TempFolder dir;
    constexpr int kWriters = 4;
    constexpr int kEach = 6;
    std::vector<std::unique_ptr<ProfileStudio>> studios;
    for (int w = 0; w < kWriters; ++w) {
        studios.push_back(std::make_unique<ProfileStudio>(dir.path()));
        studios.back()->addEntry(kScore);
    }
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            ProfileStudio& s = *studios[static_cast<std::size_t>(w)];
            for (int i = 0; i < kEach; ++i) {
                const std::string desc = "writer " + std::to_string(w) + " profile " + std::to_string(i);
                prfWriteNewProfile(nullptr, s.context, desc, s.page(C::Met), s.shell);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    std::set<std::string> descs;
    const auto files = platform::listFiles(dir.path(), kProfilePattern);
    for (const fs::path& file : files) {
        descs.insert(platform::iniGetString(file, kProfileSection, "ProfileDesc", ""));
        EXPECT_EQ(prfReadProfileType(file), static_cast<int>(C::Met)) << file;
    }
    EXPECT_EQ(files.size(), static_cast<std::size_t>(kWriters * kEach));
    EXPECT_EQ(descs.size(), static_cast<std::size_t>(kWriters * kEach));
}

TEST(ProfileFile, TheHeaderComesFirstInItsOrder) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    const std::string longDesc(80, 'x');
    const fs::path path = studio.save(C::Tmp, &entry, longDesc);
    platform::IniDocument doc;
    ASSERT_EQ(doc.load(path), platform::IniStatus::Ok);
    // "======" and its value make one line of equals signs, written twice.
    const std::string bytes = platform::testing::readBytes(path);
    const std::string start = "[qvp Profile File]\r\n" + std::string(53, '=') + "\r\nStop!!=S196\r\n";
    EXPECT_EQ(bytes.substr(0, start.size()), start);
    std::vector<std::string> keys = doc.keyNames(kProfileSection);
    std::erase_if(keys, [](const std::string& key) { return key.empty() || key.front() == '='; });
    const std::vector<std::string> header = {"Stop!!", "ProfileType", "ProfileDesc", "ProfileVersion",
                                             "ProfileDataNum", "ProfileTempoRelative"};
    ASSERT_GE(keys.size(), header.size());
    EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 6), header);
    EXPECT_EQ(doc.getString(kProfileSection, "Stop!!", ""), "S196");
    EXPECT_EQ(doc.getString(kProfileSection, "ProfileType", ""), "TMP");
    EXPECT_EQ(doc.getString(kProfileSection, "ProfileDesc", ""), std::string(64, 'x'));
    EXPECT_EQ(doc.getString(kProfileSection, "ProfileVersion", ""), "2");
    EXPECT_EQ(doc.getString(kProfileSection, "ProfileDataNum", ""), "3");
    EXPECT_EQ(doc.sourceEncoding(), platform::IniEncoding::Cp1252);
    EXPECT_NE(platform::testing::readBytes(path).find("\r\n"), std::string::npos);
}

TEST(ProfileFile, NothingIsLeftBehindWhenNothingCanBeWritten) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    EXPECT_FALSE(prfWriteNewProfile(&entry, studio.context, "", studio.page(C::Met), studio.shell));
    EXPECT_FALSE(prfWriteNewProfile(&entry, studio.context, "x", studio.page(C::Slf), studio.shell));  // no profiles
    studio.project.currentEntry = -1;
    EXPECT_FALSE(prfWriteNewProfile(nullptr, studio.context, "x", studio.page(C::Met), studio.shell));  // no entry
    EXPECT_TRUE(platform::listFiles(dir.path(), "*").empty());
    EXPECT_EQ(studio.context.profileCount, 0);

    studio.context.profileFolder = dir.path() / "missing" / "folder";
    EXPECT_FALSE(prfWriteNewProfile(&entry, studio.context, "x", studio.page(C::Met), studio.shell));
}

TEST(ProfileFile, TypesFollowTheVersionRule) {
    platform::testing::TempFolder dir;
    struct Case {
        const char* type;
        const char* version;
        int expected;
    } cases[] = {
        {"SLS", "2", static_cast<int>(C::Sls)},
        {"BRN", "2", static_cast<int>(C::Brn)},
        {"sls", "2", -1},                         // codes compare exactly
        {"XYZ", "2", -1},
        {"SLS", nullptr, static_cast<int>(C::Dyn)},  // first version: dynamics only
        {"7", nullptr, -1},                        // ... whose numeric types mean nothing now
        {"0", nullptr, static_cast<int>(C::Dyn)},
        {nullptr, "2", -1},
        {"TMPX", "2", static_cast<int>(C::Tmp)},   // read into three characters
    };
    for (const Case& c : cases) {
        const fs::path path = dir.path() / "p.qvpprof";
        writeProfile(path, c.type, "d", c.version);
        EXPECT_EQ(prfReadProfileType(path), c.expected) << (c.type ? c.type : "none") << " " << (c.version ? c.version : "-");
    }
    EXPECT_EQ(prfReadProfileType(dir.path() / "absent.qvpprof"), -1);
    fs::create_directory(dir.path() / "folder.qvpprof");
    EXPECT_EQ(prfReadProfileType(dir.path() / "folder.qvpprof"), -1);
}

TEST(ProfileFile, TheListShowsTheStepsProfilesSortedByDescription) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    writeProfile(dir.path() / "Profile00001.qvpprof", "DYN", "beta", "2");
    writeProfile(dir.path() / "Profile00002.qvpprof", "DYN", "Alpha", "2");
    writeProfile(dir.path() / "Profile00003.qvpprof", "DYN", "alpha", "2");
    writeProfile(dir.path() / "Profile00004.qvpprof", "SLS", "old dynamics", nullptr);
    writeProfile(dir.path() / "Profile00005.qvpprof", "DYN", "", "2");         // no description
    writeProfile(dir.path() / "Profile00006.qvpprof", "TMP", "tempo", "2");    // another step
    writeProfile(dir.path() / "Profile00007.qvpprof", nullptr, "untyped", "2");
    platform::testing::writeBytes(dir.path() / "Profile00008.qvpprof", std::string("\xff\xfe[\0", 4));  // damaged
    ListDouble list;
    studio.context.profileList = &list;
    EXPECT_TRUE(prfFillProfileCombo(studio.context, static_cast<int>(C::Dyn)));
    EXPECT_EQ(list.texts(), (std::vector<std::string>{"Alpha", "alpha", "beta", "old dynamics"}));
    EXPECT_EQ(studio.context.selectedIndex, 0);
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(prfGetProfileDesc(studio.context, nullptr, -1), "Alpha");
    EXPECT_EQ(prfGetProfileDesc(studio.context, nullptr, 2), "beta");
    EXPECT_FALSE(prfGetProfileDesc(studio.context, nullptr, 9));

    EXPECT_TRUE(prfProfileDescExists(studio.context, static_cast<int>(C::Dyn), "BETA"));
    EXPECT_FALSE(prfProfileDescExists(studio.context, static_cast<int>(C::Dyn), "tempo"));

    EXPECT_FALSE(prfFillProfileCombo(studio.context, static_cast<int>(C::Tpp)));
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(studio.context.selectedIndex, -1);
    studio.context.profileList = nullptr;
}

TEST(ProfileFile, ApplyingNeedsASelectionATypeAndADataLayout) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    entry.TempoRelative = 500;
    writeProfile(dir.path() / "tmp.qvpprof", "TMP", "t", "2", "3");
    platform::iniWriteString(dir.path() / "tmp.qvpprof", kProfileSection, "ProfileRelativeVal", "800");
    writeProfile(dir.path() / "nodata.qvpprof", "TMP", "t", "2", nullptr);
    writeProfile(dir.path() / "notype.qvpprof", nullptr, "t", "2", "3");
    ListDouble list;
    studio.context.profileList = &list;
    for (const char* name : {"tmp.qvpprof", "nodata.qvpprof", "notype.qvpprof"}) list.addItem(name, dir.path() / name);

    struct Case {
        int selected;
        StepCategory page;
        bool result;
    } cases[] = {
        {-1, C::Tmp, false}, {1, C::Tmp, false}, {2, C::Tmp, false}, {7, C::Tmp, false},
        {0, C::Tpp, false},  // a tempo profile is not for the tempo-curve page
        {0, C::Tmp, false},  // applied, but the other tempo keys are missing
    };
    for (const Case& c : cases) {
        studio.context.selectedIndex = c.selected;
        EXPECT_EQ(prfApplyProfile(studio.context, studio.page(c.page), &entry), c.result) << c.selected;
    }
    EXPECT_EQ(entry.TempoRelative, 800);
    studio.context.profileList = nullptr;
}

TEST(ProfileFile, TheProfileFolderLiesInTheDataFolder) {
    platform::testing::TempFolder dir;
    const char* old = std::getenv("QVP3_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("QVP3_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(prfDefaultProfileFolder(), dir.path() / "qvp3" / "Profiles");
    ProfileContext context;
    prfInitProfileFolder(context, {});
    EXPECT_TRUE(fs::is_directory(dir.path() / "qvp3" / "Profiles"));
    EXPECT_EQ(context.profileCount, 0);
    writeProfile(dir.path() / "own" / "Profile00001.qvpprof", "TMP", "t", "2");
    writeProfile(dir.path() / "own" / "Profile00002.qvpprof", "TMP", "t", "2");
    writeProfile(dir.path() / "own" / "notes.txt", "TMP", "t", "2");
    prfInitProfileFolder(context, dir.path() / "own");
    EXPECT_EQ(context.profileFolder, dir.path() / "own");
    EXPECT_EQ(context.profileCount, 2);
    if (old) {
        ::setenv("QVP3_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("QVP3_CONFIG_HOME");
    }
}

TEST(ProfileFile, ChosenEntriesAreCounted) {
    ProfileContext context;
    EXPECT_TRUE(prfNoEntryChosen(context));
    context.applyFlags[0] = 1;
    context.applyFlags[98] = 1;
    EXPECT_FALSE(prfNoEntryChosen(context));
    EXPECT_EQ(prfCountEntriesChosen(context), 2);
}

TEST(ProfileFile, LanguageStringsTakeTheirOneArgument) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"Apply to %s?", "Apply to Duo.tvrx?"},
        {"%i entries failed", "Duo.tvrx entries failed"},
        {"100%% sure: %s", "100%% sure: Duo.tvrx"},
        {"no argument", "no argument"},
        {"ends in %", "ends in %"},
    };
    for (const Case& c : cases) EXPECT_EQ(prfFormatString(c.text, "Duo.tvrx"), c.expected) << c.text;
}

}  // namespace
}  // namespace qvp3
