#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "platform_testing/file_bytes.h"

using namespace std::string_literals;

namespace platform {
namespace {

using platform::testing::readBytes;
using platform::testing::writeBytes;

constexpr std::string_view kKey = kProgramSettingsKey;

// Points the store at a fresh folder through the environment, as the program finds it.
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("QVP3_CONFIG_HOME")) saved_ = old;
        ::setenv("QVP3_CONFIG_HOME", root().c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("QVP3_CONFIG_HOME", saved_->c_str(), 1);
        } else {
            ::unsetenv("QVP3_CONFIG_HOME");
        }
    }
    const std::filesystem::path& root() const { return temp_.path(); }

private:
    testing::TempFolder temp_;
    std::optional<std::string> saved_;
};

TEST_F(SettingsStoreTest, HiveFilesLiveUnderTheConfiguredRoot) {
    SettingsStore store;
    EXPECT_EQ(store.hiveFile(Hive::User).parent_path(), root() / "qvp3");
    EXPECT_EQ(store.hiveFile(Hive::Machine).parent_path(), root() / "qvp3-machine");

    // Reading creates nothing; the first write creates the folder.
    EXPECT_FALSE(store.openKey(Hive::User, kKey));
    EXPECT_FALSE(store.createKey(Hive::Machine, "a").readDword("x"));
    EXPECT_FALSE(std::filesystem::exists(root() / "qvp3"));
    EXPECT_TRUE(std::filesystem::exists(store.hiveFile(Hive::Machine)));

    // The hives are separate.
    EXPECT_FALSE(store.openKey(Hive::User, "a"));
}

TEST_F(SettingsStoreTest, StringsSurviveEveryCharacter) {
    const std::string cases[] = {
        "",
        "plain text",
        "two\r\nlines\nand\rreturns",
        "back\\slash\\",
        "\\x41 \\n \\0 written out",
        "nul\0inside\0"s,
        "Мелодия и гармония",
        "  edges and tabs\t ",
        "\"quoted\"",
        "=;#[section]@",
        "not UTF-8: \xFF\xC3(\x80",
    };
    {
        SettingsStore store;
        SettingsKey key = store.createKey(Hive::User, kKey);
        ASSERT_TRUE(key);
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            ASSERT_EQ(key.writeString("s" + std::to_string(i), cases[i]), SettingsStatus::Ok);
        }
    }
    SettingsStore fresh;
    const SettingsKey key = fresh.openKey(Hive::User, kKey);
    ASSERT_TRUE(key);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(key.readString("s" + std::to_string(i)), cases[i]) << i;
    }
    // Stored as UTF-8 text, readable in the file.
    EXPECT_NE(readBytes(fresh.hiveFile(Hive::User)).find("Мелодия"), std::string::npos);
}

TEST_F(SettingsStoreTest, DwordsAndBinariesRoundTrip) {
    std::vector<std::uint8_t> allBytes(256);
    for (std::size_t i = 0; i < allBytes.size(); ++i) allBytes[i] = static_cast<std::uint8_t>(i);
    const std::uint32_t dwords[] = {0, 10, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    const std::vector<std::uint8_t> binaries[] = {{}, {0}, allBytes};
    {
        SettingsStore store;
        SettingsKey key = store.createKey(Hive::Machine, kKey);
        for (std::size_t i = 0; i < std::size(dwords); ++i) {
            ASSERT_EQ(key.writeDword("d" + std::to_string(i), dwords[i]), SettingsStatus::Ok);
        }
        for (std::size_t i = 0; i < std::size(binaries); ++i) {
            ASSERT_EQ(key.writeBinary("b" + std::to_string(i), binaries[i]), SettingsStatus::Ok);
        }
    }
    SettingsStore fresh;
    const SettingsKey key = fresh.openKey(Hive::Machine, kKey);
    for (std::size_t i = 0; i < std::size(dwords); ++i) EXPECT_EQ(key.readDword("d" + std::to_string(i)), dwords[i]);
    for (std::size_t i = 0; i < std::size(binaries); ++i) {
        EXPECT_EQ(key.readBinary("b" + std::to_string(i)), binaries[i]) << i;
    }
    EXPECT_NE(readBytes(fresh.hiveFile(Hive::Machine)).find("=dword:0000000a"), std::string::npos);
}

TEST_F(SettingsStoreTest, ValueNamesSurviveEveryCharacter) {
    const std::string names[] = {
        "",  // the key's default value
        "@", "HowToStart", "WaveConvPrior(-1,0,1,2,15)", "[VST]Synth", "[EFF]Echo]", "a=b", ";not a comment",
        "#hash", " leading", "trailing ", "back\\slash", "line\nbreak", "Имя", "nul\0"s,
    };
    {
        SettingsStore store;
        SettingsKey key = store.createKey(Hive::User, kKey);
        for (std::size_t i = 0; i < std::size(names); ++i) {
            ASSERT_EQ(key.writeDword(names[i], static_cast<std::uint32_t>(i)), SettingsStatus::Ok);
        }
    }
    SettingsStore fresh;
    const SettingsKey key = fresh.openKey(Hive::User, kKey);
    std::vector<SettingsValueInfo> expected;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_EQ(key.readDword(names[i]), i) << names[i];
        expected.push_back({names[i], SettingsType::Dword});
    }
    EXPECT_EQ(key.values(), expected);
    EXPECT_EQ(key.subkeyNames(), std::vector<std::string>{});  // no line was taken for a section header
}

TEST_F(SettingsStoreTest, ValueOfAnotherTypeReadsAsMissing) {
    SettingsStore store;
    SettingsKey key = store.createKey(Hive::User, kKey);
    ASSERT_EQ(key.writeDword("dword", 1), SettingsStatus::Ok);
    ASSERT_EQ(key.writeString("string", "1"), SettingsStatus::Ok);
    ASSERT_EQ(key.writeBinary("binary", std::vector<std::uint8_t>{1, 0, 0, 0}), SettingsStatus::Ok);

    struct Case {
        const char* name;
        bool asDword, asString, asBinary;
    } cases[] = {
        {"dword", true, false, false},
        {"string", false, true, false},
        {"binary", false, false, true},
        {"missing", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(key.readDword(c.name).has_value(), c.asDword) << c.name;
        EXPECT_EQ(key.readString(c.name).has_value(), c.asString) << c.name;
        EXPECT_EQ(key.readBinary(c.name).has_value(), c.asBinary) << c.name;
    }
    // Rewriting with another type replaces the value.
    ASSERT_EQ(key.writeString("dword", "now text"), SettingsStatus::Ok);
    EXPECT_FALSE(key.readDword("dword"));
    EXPECT_EQ(key.readString("dword"), "now text");
}

TEST_F(SettingsStoreTest, KeysAndNamesIgnoreCase) {
    SettingsStore store;
    SettingsKey key = store.createKey(Hive::User, "Software\\Ключ\\Sub");
    ASSERT_EQ(key.writeDword("HowToStart", 2), SettingsStatus::Ok);
    ASSERT_EQ(key.writeString("Имя", "x"), SettingsStatus::Ok);

    SettingsKey other = store.openKey(Hive::User, "SOFTWARE\\КЛЮЧ\\sub");
    ASSERT_TRUE(other);
    EXPECT_EQ(other.readDword("howtostart"), 2u);
    EXPECT_EQ(other.readString("ИМЯ"), "x");

    // Writing under another spelling changes the one value.
    ASSERT_EQ(other.writeDword("HOWTOSTART", 0), SettingsStatus::Ok);
    EXPECT_EQ(key.readDword("HowToStart"), 0u);
    EXPECT_EQ(key.values().size(), 2u);
    EXPECT_EQ(store.openKey(Hive::User, "software").subkeyNames(), std::vector<std::string>{"Ключ"});
}

TEST_F(SettingsStoreTest, EnumeratesValuesWithTypesAndDirectSubkeys) {
    SettingsStore store;
    SettingsKey key = store.createKey(Hive::User, kKey);
    ASSERT_EQ(key.writeString("[VST]One", "1|/opt/one.so"), SettingsStatus::Ok);
    ASSERT_EQ(key.writeDword("SampleBlockSize", 4096), SettingsStatus::Ok);
    ASSERT_EQ(key.writeBinary("Blob", std::vector<std::uint8_t>{1, 2}), SettingsStatus::Ok);
    ASSERT_TRUE(store.createKey(Hive::User, std::string(kKey) + "\\Uplift"));
    ASSERT_TRUE(store.createKey(Hive::User, std::string(kKey) + "\\Devices\\Deeper"));
    ASSERT_TRUE(store.createKey(Hive::User, std::string(kKey) + "\\UPLIFT\\Child"));
    ASSERT_TRUE(store.createKey(Hive::User, std::string(kKey) + "X"));  // a sibling, not a subkey

    const std::vector<SettingsValueInfo> values = {
        {"[VST]One", SettingsType::String},
        {"SampleBlockSize", SettingsType::Dword},
        {"Blob", SettingsType::Binary},
    };
    EXPECT_EQ(key.values(), values);
    EXPECT_EQ(key.subkeyNames(), (std::vector<std::string>{"Uplift", "Devices"}));
    EXPECT_EQ(store.openKey(Hive::User, "software\\Tavrena-software").subkeyNames(),
              (std::vector<std::string>{"Tavrena Orvendo"}));
    EXPECT_TRUE(store.openKey(Hive::User, std::string(kKey) + "\\Uplift").values().empty());
}

TEST_F(SettingsStoreTest, OpenFindsOnlyExistingKeysAndCreateMakesParents) {
    {
        SettingsStore store;
        EXPECT_EQ(store.openKey(Hive::User, kKey).status(), SettingsStatus::NotFound);
        const SettingsKey created = store.createKey(Hive::User, kKey);
        EXPECT_EQ(created.status(), SettingsStatus::Ok);
        EXPECT_EQ(store.createKey(Hive::User, kKey).status(), SettingsStatus::Ok);  // opens the existing one
    }
    SettingsStore fresh;  // empty keys persist, each level with them
    EXPECT_TRUE(fresh.openKey(Hive::User, kKey));
    EXPECT_TRUE(fresh.openKey(Hive::User, "software"));
    EXPECT_FALSE(fresh.openKey(Hive::User, "software\\Tavrena"));
}

TEST_F(SettingsStoreTest, BadKeyPathsAreRefused) {
    const std::string paths[] = {
        "", "\\", "\\software", "software\\", "software\\\\x", " software", "software\\x ", "a\nb", "a\tb", "bad\xFF",
    };
    SettingsStore store;
    for (const std::string& path : paths) {
        EXPECT_EQ(store.createKey(Hive::User, path).status(), SettingsStatus::InvalidPath) << path;
        EXPECT_EQ(store.openKey(Hive::User, path).status(), SettingsStatus::InvalidPath) << path;
        EXPECT_EQ(store.deleteKey(Hive::User, path), SettingsStatus::InvalidPath) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(root() / "qvp3"));
    // A slash is an ordinary character.
    ASSERT_TRUE(store.createKey(Hive::User, "a/b"));
    EXPECT_FALSE(store.openKey(Hive::User, "a"));
}

TEST_F(SettingsStoreTest, DeletesValuesAndKeysWithTheirSubkeys) {
    SettingsStore store;
    SettingsKey key = store.createKey(Hive::User, "k\\sub");
    ASSERT_EQ(key.writeDword("v", 1), SettingsStatus::Ok);
    ASSERT_EQ(store.createKey(Hive::User, "k\\sub\\deep").writeDword("w", 2), SettingsStatus::Ok);
    ASSERT_EQ(store.createKey(Hive::User, "k\\subway").writeDword("keep", 3), SettingsStatus::Ok);

    EXPECT_EQ(key.deleteValue("V"), SettingsStatus::Ok);
    EXPECT_FALSE(key.readDword("v"));
    EXPECT_EQ(key.deleteValue("v"), SettingsStatus::NotFound);

    EXPECT_EQ(store.deleteKey(Hive::User, "K\\SUB"), SettingsStatus::Ok);
    EXPECT_FALSE(store.openKey(Hive::User, "k\\sub"));
    EXPECT_FALSE(store.openKey(Hive::User, "k\\sub\\deep"));
    EXPECT_EQ(store.deleteKey(Hive::User, "k\\sub"), SettingsStatus::NotFound);
    EXPECT_EQ(store.deleteKey(Hive::User, "nothing"), SettingsStatus::NotFound);

    // The sibling with a longer name is untouched, also on disk.
    SettingsStore fresh;
    EXPECT_EQ(fresh.openKey(Hive::User, "k\\subway").readDword("keep"), 3u);
    EXPECT_EQ(fresh.openKey(Hive::User, "k").subkeyNames(), std::vector<std::string>{"subway"});

    // A handle to a deleted key finds nothing and cannot write.
    EXPECT_EQ(key.writeDword("v", 1), SettingsStatus::NotFound);
    EXPECT_FALSE(store.openKey(Hive::User, "k\\sub"));
    EXPECT_EQ(SettingsKey().writeDword("v", 1), SettingsStatus::NotFound);
}

TEST_F(SettingsStoreTest, InstancesSeeEachOthersWrites) {
    SettingsStore first;
    SettingsStore second;
    SettingsKey a = first.createKey(Hive::User, kKey);
    ASSERT_EQ(a.writeDword("n", 1), SettingsStatus::Ok);

    SettingsKey b = second.openKey(Hive::User, kKey);
    ASSERT_TRUE(b);
    EXPECT_EQ(b.readDword("n"), 1u);
    // Same size, new content: the reload check must still notice.
    ASSERT_EQ(b.writeDword("n", 2), SettingsStatus::Ok);
    EXPECT_EQ(a.readDword("n"), 2u);
    // A write through the first instance keeps what the second one wrote.
    ASSERT_EQ(b.writeString("other", "from b"), SettingsStatus::Ok);
    ASSERT_EQ(a.writeDword("n", 3), SettingsStatus::Ok);
    EXPECT_EQ(b.readString("other"), "from b");
    EXPECT_EQ(b.readDword("n"), 3u);
    EXPECT_EQ(second.deleteKey(Hive::User, kKey), SettingsStatus::Ok);
    EXPECT_FALSE(first.openKey(Hive::User, kKey));
}

TEST_F(SettingsStoreTest, ConcurrentWritersLoseNothing) {
    SettingsStore store;
    ASSERT_TRUE(store.createKey(Hive::User, kKey));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            SettingsKey key = store.openKey(Hive::User, kKey);
            for (std::uint32_t i = 0; i < 20; ++i) key.writeDword("t" + std::to_string(t) + "-" + std::to_string(i), i);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(SettingsStore().openKey(Hive::User, kKey).values().size(), 80u);
}

// Each process reloads, changes and saves the whole hive file; without taking
// turns one saves over a change the other has just made, and both report Ok.
TEST_F(SettingsStoreTest, WritersInSeveralProcessesLoseNothing) {
    constexpr int kPerProcess = 200;
    ASSERT_TRUE(SettingsStore().createKey(Hive::User, kKey));
    const auto writeAll = [](char tag) {
        SettingsKey key = SettingsStore().openKey(Hive::User, kKey);
        int failures = key ? 0 : kPerProcess;
        for (std::uint32_t i = 0; key && i < kPerProcess; ++i) {
            if (key.writeDword(tag + std::to_string(i), i) != SettingsStatus::Ok) ++failures;
        }
        return failures;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(std::min(writeAll('c'), 100));
    const int parentFailures = writeAll('p');
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writes that failed in the child";
    EXPECT_EQ(parentFailures, 0);

    SettingsKey key = SettingsStore().openKey(Hive::User, kKey);
    EXPECT_EQ(key.values().size(), 2u * kPerProcess);
    EXPECT_EQ(key.readDword("c" + std::to_string(kPerProcess - 1)), kPerProcess - 1u);
    EXPECT_EQ(key.readDword("p" + std::to_string(kPerProcess - 1)), kPerProcess - 1u);
}

TEST_F(SettingsStoreTest, HandWrittenFileIsReadAndItsOtherLinesKept) {
    SettingsStore store;
    const auto file = store.hiveFile(Hive::User);
    writeBytes(file, "\xEF\xBB\xBF; edited by hand\n[A\\B]\nx=DWORD:1F\ny=unknown\n@=sz:default\n");
    SettingsKey key = store.openKey(Hive::User, "a\\b");
    ASSERT_TRUE(key);
    EXPECT_EQ(key.readDword("x"), 0x1Fu);
    EXPECT_EQ(key.readString(""), "default");
    EXPECT_EQ(key.values(), (std::vector<SettingsValueInfo>{{"x", SettingsType::Dword}, {"", SettingsType::String}}));
    EXPECT_EQ(store.openKey(Hive::User, "a").subkeyNames(), std::vector<std::string>{"B"});  // implied parent

    ASSERT_EQ(key.writeDword("x", 0x20), SettingsStatus::Ok);
    const std::string text = readBytes(file);
    EXPECT_NE(text.find("; edited by hand"), std::string::npos);
    EXPECT_NE(text.find("y=unknown"), std::string::npos);
}

TEST_F(SettingsStoreTest, DamagedHiveReadsAsEmptyAndIsNeverOverwritten) {
    const std::string good = "[k]\r\nv=dword:00000001\r\n";
    const struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"binary garbage", "\x7F" "ELF\x02\x01\x01\0\0\0[k]\r\nv=dword:00000001\r\n"s},
        {"truncated UTF-16", "\xFF\xFE[\0k\0]\0\r\0\n\0v\0=\0"s},
        {"broken UTF-8", "[k]\r\nv=sz:\xC3\x28\r\n"},
        {"NUL bytes", "[k]\r\nv=dword:00000001\0\0\0\r\n"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SettingsStore store;
        const auto file = store.hiveFile(Hive::User);
        writeBytes(file, good);
        SettingsKey opened = store.openKey(Hive::User, "k");
        ASSERT_EQ(opened.readDword("v"), 1u);

        writeBytes(file, c.bytes);
        EXPECT_FALSE(opened.readDword("v"));
        EXPECT_TRUE(opened.values().empty());
        EXPECT_FALSE(store.openKey(Hive::User, "k"));
        EXPECT_EQ(opened.writeDword("v", 2), SettingsStatus::Unreadable);
        EXPECT_EQ(opened.deleteValue("v"), SettingsStatus::Unreadable);
        EXPECT_EQ(store.createKey(Hive::User, "new").status(), SettingsStatus::Unreadable);
        EXPECT_EQ(SettingsStore().createKey(Hive::User, "new").status(), SettingsStatus::Unreadable);
        EXPECT_EQ(readBytes(file), c.bytes);

        // Once the file is mended, the store works with it again.
        writeBytes(file, good + "\r\n");
        EXPECT_EQ(opened.readDword("v"), 1u);
        EXPECT_EQ(opened.writeDword("v", 2), SettingsStatus::Ok);
        std::filesystem::remove(file);
    }
}

TEST_F(SettingsStoreTest, FailedWriteLeavesNothingBehind) {
    SettingsStore store;
    writeBytes(root() / "qvp3-machine", "a file where the hive folder belongs");
    EXPECT_EQ(store.createKey(Hive::Machine, kKey).status(), SettingsStatus::WriteFailed);
    EXPECT_FALSE(store.openKey(Hive::Machine, kKey));

    SettingsKey key = store.createKey(Hive::User, kKey);
    ASSERT_EQ(key.writeDword("kept", 1), SettingsStatus::Ok);
    std::filesystem::remove_all(root() / "qvp3");
    writeBytes(root() / "qvp3", "");
    EXPECT_EQ(store.createKey(Hive::User, kKey).status(), SettingsStatus::WriteFailed);
    EXPECT_EQ(key.writeDword("lost", 2), SettingsStatus::NotFound);
    EXPECT_FALSE(key.readDword("kept"));
}

TEST_F(SettingsStoreTest, FolderInPlaceOfTheHiveFileIsRefused) {
    SettingsStore store;
    std::filesystem::create_directories(store.hiveFile(Hive::Machine) / "inside");
    EXPECT_FALSE(store.openKey(Hive::Machine, kKey));
    EXPECT_EQ(store.createKey(Hive::Machine, kKey).status(), SettingsStatus::Unreadable);
    EXPECT_TRUE(std::filesystem::is_directory(store.hiveFile(Hive::Machine) / "inside"));
}

}  // namespace
}  // namespace platform
