// The diagnostic log: its file format, its switch and its writers in several
// threads and processes.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "diag_log.h"
#include "platform/text.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"

namespace infokit {
namespace {

using platform::testing::TempFolder;

class InfoKitLog : public ::testing::Test {
protected:
    LogConfig config() {
        LogConfig c;
        c.programName = "qvp3";
        c.logFolder = folder_.path() / "Documents";
        c.markerFolder = folder_.path() / "run";
        c.versionText = [] { return std::string("qvp3  3.0.0.0"); };
        c.tick = [this] { return now_; };
        return c;
    }
    // The log's lines, without the byte-order mark; false in bom when it is missing.
    std::vector<std::string> lines(const DiagLog& log, bool* bom = nullptr) {
        const std::string bytes = platform::testing::readBytes(log.logFile());
        if (bom != nullptr) *bom = bytes.starts_with("\xFF\xFE");
        const std::string text = platform::utf16ToUtf8(platform::utf16leBytesToString(bytes.substr(2)));
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            out.push_back(text.substr(start, end - start));
        }
        EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
        return out;
    }
    void advance() { now_ += std::chrono::seconds(2); }

    TempFolder folder_;
    std::chrono::steady_clock::time_point now_{};
};

// An entry line: tag, thread, level, time mark, day and time, source, line, text.
const std::regex kEntry(R"((.{3}) \| [0-9A-F]{8} \| \d\d \|[ M][ \d]\d \d\d:\d\d:\d\d\.\d{3} \| (.{15}) \| (.{5}) \| (.*))");

TEST_F(InfoKitLog, FreshFileHasMarkHeaderVersionLinesAndEntries) {
    DiagLog log(config());
    EXPECT_FALSE(log.isOn());
    log.print("not written");
    EXPECT_FALSE(std::filesystem::exists(log.logFile()));

    EXPECT_TRUE(log.switchOn());
    EXPECT_TRUE(log.isOn());
    log.write("DVD", 2, "/src/x/uplift_checker.cpp", 42, "first\r\nsecond\nthird");
    log.write("AB", 1, "C:\\dev\\a_very_long_source_name.h", 7, "x");
    bool bom = false;
    const std::vector<std::string> got = lines(log, &bom);
    EXPECT_TRUE(bom);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(### qvp3 start Log \d\d\.\d\d\.\d{4} \(LogModule version 1\.1\.2\)###)")))
        << got[0];
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[1], m, kEntry)) << got[1];
    EXPECT_EQ(m[4], "Version: qvp3  3.0.0.0");
    EXPECT_EQ(m[2], std::string(15, ' ').substr(0, 15));
    ASSERT_TRUE(std::regex_match(got[2], m, kEntry));
    EXPECT_TRUE(m[4].str().starts_with("Operating System: "));
    ASSERT_TRUE(std::regex_match(got[3], m, kEntry)) << got[3];
    EXPECT_EQ(m[1], "DVD");
    EXPECT_EQ(m[2], " uplift_checker");  // folder and ".cpp" gone, right-aligned
    EXPECT_EQ(m[3], "   42");
    EXPECT_EQ(m[4], "first");
    EXPECT_EQ(got[4], std::string(DiagLog::kFiller) + "second");
    EXPECT_EQ(got[5], std::string(DiagLog::kFiller) + "third");
    ASSERT_TRUE(std::regex_match(got[6], m, kEntry)) << got[6];
    EXPECT_EQ(m[1], " AB");
    EXPECT_EQ(m[2], "g_source_name.h");  // ".h" kept, the last 15 characters
}

TEST_F(InfoKitLog, SourceColumnWithoutSourceIsBlank) {
    EXPECT_EQ(DiagLog::sourceColumn({}).size() + 40, DiagLog::kFiller.size());
    EXPECT_EQ(DiagLog::sourceColumn("a.C"), "              a | ");
    EXPECT_EQ(DiagLog::sourceColumn("dir/a.hpp"), "          a.hpp | ");
}

TEST_F(InfoKitLog, SwitchingOnTwiceKeepsTheFileAndOffRemovesTheSwitch) {
    DiagLog log(config());
    ASSERT_TRUE(log.switchOn());
    log.print("kept");
    DiagLog other(config());  // another process of the same program
    EXPECT_FALSE(other.switchOn());
    EXPECT_TRUE(other.isOn());
    EXPECT_EQ(lines(log).size(), 4u);  // header, two version lines, "kept"
    platform::testing::writeBytes(folder_.path() / "Documents" / "qvp3.on", "x");

    EXPECT_TRUE(log.switchOff(false));
    EXPECT_FALSE(std::filesystem::exists(log.markerFile()));
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "Documents" / "qvp3.on"));
    const std::vector<std::string> got = lines(log);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_TRUE(got[4].starts_with("LOG |"));
    EXPECT_TRUE(got[4].ends_with("| Logging deactivated"));
    EXPECT_FALSE(log.switchOff(false));
    EXPECT_EQ(lines(log).size(), 5u);

    // The other process sees the switch gone once its second is over.
    EXPECT_TRUE(other.isOn());
    advance();
    EXPECT_FALSE(other.isOn());
}

TEST_F(InfoKitLog, SwitchSeenFromAnotherProcessBringsTheVersionLines) {
    DiagLog reader(config());
    EXPECT_FALSE(reader.isOn());
    DiagLog(config()).switchOn();
    reader.print("too early");  // the switch was looked at less than a second ago
    advance();
    reader.print("now");
    const std::vector<std::string> got = lines(reader);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_NE(got[1].find("Version: "), std::string::npos);
    EXPECT_TRUE(got[3].ends_with("| now"));
}

// Writes `count` entries "P<id> L<i>" as a process of its own would.
void writeLines(const LogConfig& config, int id, int count, bool wait) {
    DiagLog log(config);
    for (int i = 0; i < count; ++i) {
        log.write("DVD", 1, "writer.cpp", i, "P" + std::to_string(id) + " L" + std::to_string(i), wait);
    }
}

// Checks that every line is whole and that each writer's entries are there once.
void expectAllEntries(const std::vector<std::string>& got, int writers, int count) {
    std::set<std::string> seen;
    for (const std::string& line : got) {
        std::smatch m;
        if (line.starts_with("###")) continue;
        ASSERT_TRUE(std::regex_match(line, m, kEntry)) << "broken line: " << line;
        if (m[4].str().starts_with("P")) {
            EXPECT_TRUE(seen.insert(m[4]).second) << "twice: " << m[4];
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * count));
}

TEST_F(InfoKitLog, FourProcessesWriteWholeLines) {
    DiagLog log(config());
    ASSERT_TRUE(log.switchOn());
    std::vector<pid_t> children;
    for (int id = 0; id < 4; ++id) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            writeLines(config(), id, 1000, false);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> got = lines(log);
    expectAllEntries(got, 4, 1000);
    EXPECT_EQ(got.size(), 1u + 4 * 2 + 4000);  // header, each process's version lines, the entries
}

// The same log object in several threads; run under ThreadSanitizer as well.
using InfoKitLogThreads = InfoKitLog;

TEST_F(InfoKitLogThreads, ThreadsThatMustNotWaitLoseNothing) {
    DiagLog log(config());
    ASSERT_TRUE(log.switchOn());
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; ++id) {
        threads.emplace_back([&, id] {
            for (int i = 0; i < 500; ++i) {
                log.write("DVD", 1, {}, 0, "P" + std::to_string(id) + " L" + std::to_string(i), id % 2 == 0);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    log.write("DVD", 1, {}, 0, "last");  // writes what is still held
    const std::vector<std::string> got = lines(log);
    expectAllEntries(got, 4, 500);
    EXPECT_TRUE(got.back().ends_with("| last"));
}

}  // namespace
}  // namespace infokit
