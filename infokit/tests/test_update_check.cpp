// The update check against a web server of the test's own on 127.0.0.1.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "local_http_server.h"
#include "platform/ini_file.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scripted_update_ui.h"
#include "string_table.h"
#include "update_checker.h"
#include "zip_fixture.h"

namespace infokit {
namespace {

using namespace std::chrono_literals;
using platform::testing::readBytes;
using platform::testing::writeBytes;
using testing::ZipEntry;

constexpr int kInstalledBuild = 57;

// A process id that no longer runs: the host has ended.
unsigned endedProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return static_cast<unsigned>(pid);
}

std::string ini(const std::string& version, const std::string& extra = {}) {
    return "[Uplift]\r\nAppName=Tavrena Orvendo\r\nVersion=" + version +
           "\r\nFileNum=2\r\nFile01=data.txt\r\nFile02=sub\\notes.txt\r\n" + extra;
}

std::vector<ZipEntry> archiveEntries() {
    return {{"uplift", "updater", S_IFREG | 0755}, {"libinfokit.so", "new library"}, {"infokitreg", "writer", S_IFREG | 0755},
            {"data.txt", "new data"}, {"sub/notes.txt", "new notes"}};
}

class InfoKitUpdateCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running());
        store_.createKey(platform::Hive::User, std::string(platform::kProgramSettingsKey) + "\\Uplift")
            .writeString("UpliftServer", server_.url());
        host_.displayName = "Tavrena Orvendo";
        host_.versionText = "3.0";
        host_.productCode = "TOR300";
        host_.productIndex = 0;
        host_.language = 5;
        host_.hostPath = temp_.path() / "program" / "qvp3";
        host_.hostProcessId = 4242;
        host_.programKey = std::string(platform::kProgramSettingsKey);
        host_.window = 77;
        setFrequency(UpdateFrequency::EveryStart);
    }
    UpdateEnvironment env() {
        UpdateEnvironment e;
        e.store = &store_;
        e.updateFolder = temp_.path() / "update";
        e.now = [this] { return now_; };
        e.start = [this](const std::filesystem::path& program, const std::vector<std::string>& args) {
            started_.push_back(program.string());
            for (const std::string& arg : args) started_.push_back(arg);
            return true;
        };
        e.iniTimeout = 2s;
        e.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        return e;
    }
    std::filesystem::path published() { return www_ / "Tavrena_Orvendo" / "30" / "US"; }
    void publish(const std::string& description, const std::vector<ZipEntry>& entries = archiveEntries()) {
        writeBytes(published() / "uplift.ini", description);
        ASSERT_TRUE(testing::writeZip(published() / "uplift.zip", entries));
    }
    void setFrequency(UpdateFrequency f) { UpdateSettings(store_, host_.programKey).setFrequency(static_cast<int>(f)); }
    std::optional<UpdateDate> lastCheck() { return UpdateSettings(store_, host_.programKey).lastCheck(); }
    bool checkAtStart() { return UpdateChecker(host_, env(), ui_).checkFromExport(kInstalledBuild); }
    bool checkAsked() { return UpdateChecker(host_, env(), ui_).checkForced(kInstalledBuild); }

    platform::testing::TempFolder temp_;
    std::filesystem::path www_ = temp_.path() / "www";
    testing::LocalHttpServer server_{www_};
    platform::SettingsStore store_{temp_.path() / "config"};
    UpdateHost host_;
    testing::ScriptedUpdateUi ui_;
    std::vector<std::string> started_;
    std::chrono::system_clock::time_point now_ = std::chrono::sys_days{std::chrono::March / 15 / 2026} + 10h;
};

TEST_F(InfoKitUpdateCheck, NewerBuildIsAskedForDownloadedUnpackedAndHandedToTheUpdater) {
    publish(ini("3.0-58"));
    ASSERT_TRUE(checkAtStart());
    ASSERT_EQ(ui_.questions.size(), 3u);
    EXPECT_EQ(ui_.questions[0], formatText(5, txt::kAskCheckNow, {"Tavrena Orvendo"}));
    EXPECT_EQ(ui_.questions[1], formatText(5, txt::kAskDownload, {"3.0-58"}));
    EXPECT_EQ(ui_.questions[2], text(5, txt::kReadyToInstall));
    EXPECT_EQ(ui_.shown, (std::vector<std::string>{"searching", "download"}));
    EXPECT_FALSE(ui_.searchingNow);
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_NE(std::find(ui_.progressTexts.begin(), ui_.progressTexts.end(), text(5, txt::kUnpacking)),
              ui_.progressTexts.end());
    EXPECT_TRUE(ui_.progressTexts.front().starts_with("Downloaded 0.00 MB of 0.00 MB ("));
    EXPECT_EQ(ui_.lastPosition, ui_.lastRange);

    const auto folder = temp_.path() / "update";
    EXPECT_EQ(readBytes(folder / "sub" / "notes.txt"), "new notes");
    EXPECT_EQ(readBytes(folder / "libinfokit.so"), "new library");
    EXPECT_FALSE(std::filesystem::exists(folder / "uplift.zip"));
    EXPECT_EQ(started_, (std::vector<std::string>{(folder / "uplift").string(), "77", host_.hostPath.string(), "0",
                                                  "4242", host_.programKey, "5"}));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/Tavrena_Orvendo/30/US/uplift.ini",
                                                           "/Tavrena_Orvendo/30/US/uplift.zip"}));
}

TEST_F(InfoKitUpdateCheck, OnlyNewerBuildsOfTheSameMajorAreOffered) {
    struct Row {
        const char* version;
        bool offered;
        bool toldNothingFound;
    };
    const Row rows[] = {
        {"3.0-57", false, true},  // the installed build
        {"3.0-12", false, true},
        {"3.1-1", true, false},   // a newer minor version
        {"4.0-99", false, false},  // another major version: ignored silently
        {"2.9-99", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        publish(ini(row.version));
        ui_ = {};
        ui_.yesNo = {false};  // no download
        started_.clear();
        store_.createKey(platform::Hive::User, host_.programKey + "\\Uplift").deleteValue("UpliftDate");
        EXPECT_FALSE(checkAtStart());
        EXPECT_EQ(ui_.questions.size(), row.offered ? 2u : 1u);
        EXPECT_EQ(ui_.messages.size(), row.toldNothingFound ? 1u : 0u);
        EXPECT_EQ(lastCheck().has_value(), !row.offered);
        EXPECT_TRUE(started_.empty());
    }
}

TEST_F(InfoKitUpdateCheck, HintOfANewerVersionAndTheFullVersionOffer) {
    publish(ini("3.0-50", "NewVersionHint=Version 4 is out\r\nNewVersionLink=https://x.example/4\r\n"));
    EXPECT_FALSE(checkAtStart());
    EXPECT_EQ(ui_.shown.back(), "new version: Version 4 is out");
    EXPECT_TRUE(ui_.messages.empty());

    publish(ini("3.0-60", "OnlyFull=1\r\nOnlyFullText=Buy it\r\nOnlyFullURL=https://x.example/buy\r\n"));
    EXPECT_TRUE(checkAtStart());  // confirmed, but nothing to install
    EXPECT_EQ(ui_.shown.back(), "only full");
    ui_.onlyFullOk = false;
    EXPECT_FALSE(checkAtStart());
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(std::count(ui_.shown.begin(), ui_.shown.end(), "download"), 0);
}

TEST_F(InfoKitUpdateCheck, CheckIntervalIsHonoured) {
    publish(ini("3.0-57"));
    struct Row {
        UpdateFrequency frequency;
        std::chrono::hours sinceLastCheck;  // from the start of the day of the last check
        bool looks;
    };
    const Row rows[] = {
        {UpdateFrequency::Daily, 10h, false},  // same day
        {UpdateFrequency::Daily, 34h, true},
        {UpdateFrequency::Weekly, 3 * 24h, false},
        {UpdateFrequency::Weekly, 8 * 24h, true},
        {UpdateFrequency::Monthly, 29 * 24h, false},
        {UpdateFrequency::Monthly, 31 * 24h, true},
        {UpdateFrequency::Never, 100 * 24h, false},
        {UpdateFrequency::EveryStart, 10h, true},  // even twice a day
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.frequency) * 1000 + row.sinceLastCheck.count());
        setFrequency(row.frequency);
        const auto lastDay = std::chrono::floor<std::chrono::days>(now_ - row.sinceLastCheck + 10h);
        UpdateSettings(store_, host_.programKey).setLastCheck(dateOf(lastDay));
        const auto before = server_.requests().size();
        ui_ = {};
        EXPECT_FALSE(checkAtStart());
        EXPECT_EQ(server_.requests().size() - before, row.looks ? 1u : 0u);
        EXPECT_EQ(ui_.questions.size(), row.looks ? 1u : 0u);
    }
}

TEST_F(InfoKitUpdateCheck, DailyLooksOnceADay) {
    publish(ini("3.0-57"));
    setFrequency(UpdateFrequency::Daily);
    EXPECT_FALSE(checkAtStart());
    EXPECT_EQ(lastCheck(), (UpdateDate{15, 3, 2026}));
    EXPECT_FALSE(checkAtStart());
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(ui_.questions.size(), 1u);
    now_ += 24h;
    EXPECT_FALSE(checkAtStart());
    EXPECT_EQ(server_.requests().size(), 2u);
}

TEST_F(InfoKitUpdateCheck, FailuresAreQuietAtStartAndToldWhenAsked) {
    writeBytes(www_ / "broken" / "Tavrena_Orvendo" / "30" / "US" / "uplift.ini", "<html>not found</html>");
    writeBytes(www_ / "slow" / "Tavrena_Orvendo" / "30" / "US" / "uplift.ini", ini("3.0-58"));
    struct Row {
        const char* what;
        std::string server;
        const char* reason;
    };
    const Row rows[] = {
        {"404", server_.url() + "/missing", "404"},
        {"unreachable", "http://127.0.0.1:1", "127.0.0.1"},
        {"malformed", server_.url() + "/broken", "[Uplift]"},
        {"time-out", server_.url() + "/slow", "timed out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        store_.createKey(platform::Hive::User, host_.programKey + "\\Uplift").writeString("UpliftServer", row.server);
        ui_ = {};
        EXPECT_FALSE(checkAtStart());
        EXPECT_TRUE(ui_.messages.empty());
        EXPECT_FALSE(checkAsked());
        ASSERT_EQ(ui_.messages.size(), 1u);
        EXPECT_TRUE(ui_.messages[0].starts_with(text(5, txt::kNothingFound)));
        EXPECT_NE(ui_.messages[0].find(row.reason), std::string::npos) << ui_.messages[0];
        EXPECT_FALSE(ui_.searchingNow);
        EXPECT_TRUE(started_.empty());
    }
}

TEST_F(InfoKitUpdateCheck, HostileOrCancelledDownloadsInstallNothing) {
    auto hostile = archiveEntries();
    hostile.push_back({"../../escaped", "x"});
    publish(ini("3.0-58"), hostile);
    EXPECT_FALSE(checkAtStart());
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_TRUE(ui_.messages[0].starts_with(text(5, txt::kDownloadFailed)));
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "update" / "uplift"));
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "escaped"));

    publish(ini("3.0-58"));
    ui_ = {};
    ui_.cancelDownload = true;
    EXPECT_FALSE(checkAtStart());
    EXPECT_TRUE(ui_.messages.empty());  // the progress window said so
    EXPECT_FALSE(std::filesystem::exists(temp_.path() / "update" / "uplift"));
    EXPECT_TRUE(started_.empty());
}

TEST_F(InfoKitUpdateCheck, StoredAnswersAndTheWrongProgram) {
    publish(ini("3.0-58"));
    UpdateSettings(store_, host_.programKey).storeAnswer("TOR300", false);
    EXPECT_FALSE(checkAtStart());
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_TRUE(server_.requests().empty());

    UpdateSettings(store_, host_.programKey).storeAnswer("TOR300", true);
    publish("[Uplift]\nAppName=Another Program\nVersion=3.0-58\n");
    EXPECT_FALSE(checkAtStart());
    EXPECT_TRUE(ui_.questions.empty());
    EXPECT_TRUE(ui_.messages.empty());  // the stored answer silences what follows
    ui_.firstAnswer = {true, true};
    UpdateSettings(store_, host_.programKey).storeAnswer("TOR300", true);
    EXPECT_FALSE(checkAsked());
    EXPECT_EQ(ui_.messages, (std::vector<std::string>{text(5, txt::kWrongAppName)}));
}

TEST_F(InfoKitUpdateCheck, AddressOfTheUpdate) {
    host_.displayName = "Tavrena & Co Player";
    host_.language = 1;
    UpdateChecker checker(host_, env(), ui_);
    EXPECT_EQ(checker.baseUrl(), server_.url() + "/Tavrena___Co_Player/30/DE");
    store_.createKey(platform::Hive::User, host_.programKey + "\\Uplift").deleteValue("UpliftServer");
    host_.language = 10;
    EXPECT_EQ(UpdateChecker(host_, env(), ui_).baseUrl(), std::string(kDefaultUpdateServer) + "/Tavrena___Co_Player/30/UN");
    UpdateEnvironment e = env();
    e.serverUrl = "http://127.0.0.1:9/whole";
    EXPECT_EQ(UpdateChecker(host_, e, ui_).baseUrl(), "http://127.0.0.1:9/whole");
}

// The whole way: the updater of the archive (our own, built beside the test)
// waits for the host to end, installs the files into a copy of the program
// folder and starts the program again.
TEST_F(InfoKitUpdateCheck, UpliftInstallsIntoACopyOfTheProgramFolder) {
    const auto program = temp_.path() / "program";
    writeBytes(program / "qvp3", "#!/bin/sh\necho again > \"$(dirname \"$0\")/restarted\"\n");
    std::filesystem::permissions(program / "qvp3", std::filesystem::perms::owner_all);
    writeBytes(program / "libinfokit.so", "old library");
    writeBytes(program / "data.txt", "old data");
    writeBytes(program / "kept.txt", "kept");
    auto entries = archiveEntries();
    entries[0].bytes = readBytes(INFOKIT_UPLIFT);
    publish(ini("3.0-58"), entries);
    host_.hostProcessId = endedProcess();
    UpdateEnvironment e = env();
    e.start = startProgram;
    ASSERT_TRUE(UpdateChecker(host_, e, ui_).checkFromExport(kInstalledBuild));

    for (int i = 0; i < 300 && !std::filesystem::exists(program / "restarted"); ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(std::filesystem::exists(program / "restarted")) << "the program was not started again";
    EXPECT_EQ(readBytes(program / "libinfokit.so"), "new library");
    EXPECT_EQ(readBytes(program / "data.txt"), "new data");
    EXPECT_EQ(readBytes(program / "sub" / "notes.txt"), "new notes");
    EXPECT_EQ(readBytes(program / "kept.txt"), "kept");
    EXPECT_EQ(readBytes(program / "uplift"), entries[0].bytes);
    for (const auto& file : std::filesystem::directory_iterator(program)) {
        EXPECT_EQ(file.path().string().find(".uplift-"), std::string::npos) << "left behind: " << file.path();
    }
}

}  // namespace
}  // namespace infokit

namespace infokit {
namespace {

// With the backup switched on the program folder is saved before the update;
// the backup's updater brings it back, unless the backup is the newer build.
TEST_F(InfoKitUpdateCheck, BackupBeforeTheUpdateAndItsRestore) {
    const std::optional<std::string> oldHome =
        std::getenv("QVP3_CONFIG_HOME") ? std::optional<std::string>(std::getenv("QVP3_CONFIG_HOME")) : std::nullopt;
    ::setenv("QVP3_CONFIG_HOME", (temp_.path() / "config").c_str(), 1);
    const auto program = temp_.path() / "program";
    writeBytes(program / "qvp3", "#!/bin/sh\necho again > \"$(dirname \"$0\")/restarted\"\n");
    std::filesystem::permissions(program / "qvp3", std::filesystem::perms::owner_all);
    writeBytes(program / "data.txt", "old data");
    writeBytes(program / "uplift", readBytes(INFOKIT_UPLIFT));
    std::filesystem::permissions(program / "uplift", std::filesystem::perms::owner_all);
    RegistryWriterProcess writer(INFOKIT_INFOKITREG, 0);
    UpdateEnvironment e = env();
    e.registryWriter = &writer;
    publish(ini("3.0-58"));

    UpdateChecker checker(host_, e, ui_);
    ASSERT_TRUE(checker.setBackup(true));
    EXPECT_TRUE(std::filesystem::is_directory(program / "-Backup-"));
    ASSERT_TRUE(checker.checkFromExport(kInstalledBuild));
    EXPECT_EQ(readBytes(program / "-Backup-" / "data.txt"), "old data");
    EXPECT_EQ(platform::iniGetString(program / "-Backup-" / "Tavrena-software-Backup.ini", "Backup", "Version", ""),
              "3.0-57");
    EXPECT_FALSE(writer.running());  // stopped before the updater starts

    // The update went in (by hand here); the restore brings the old files back.
    writeBytes(program / "data.txt", "new data");
    host_.hostProcessId = endedProcess();
    e.start = startProgram;
    // The backup is of a newer build than the installed one: its updater restores nothing.
    EXPECT_TRUE(UpdateChecker(host_, e, ui_).restorePrevious(56));
    for (int i = 0; i < 300 && !std::filesystem::exists(program / "restarted"); ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(std::filesystem::exists(program / "restarted"));
    EXPECT_EQ(readBytes(program / "data.txt"), "new data");
    std::filesystem::remove(program / "restarted");
    host_.hostProcessId = endedProcess();

    ASSERT_TRUE(UpdateChecker(host_, e, ui_).restorePrevious(58));
    EXPECT_EQ(ui_.questions.back(), text(5, txt::kAskRestore));
    for (int i = 0; i < 300 && !std::filesystem::exists(program / "restarted"); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(std::filesystem::exists(program / "restarted"));
    EXPECT_EQ(readBytes(program / "data.txt"), "old data");

    // Without a writer the backup folder cannot be made, and the user is told.
    std::filesystem::remove_all(program / "-Backup-");
    UpdateEnvironment none = env();
    EXPECT_FALSE(UpdateChecker(host_, none, ui_).setBackup(true));
    EXPECT_EQ(ui_.messages.back(), text(5, txt::kBackupFolderFailed));
    if (oldHome) {
        ::setenv("QVP3_CONFIG_HOME", oldHome->c_str(), 1);
    } else {
        ::unsetenv("QVP3_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace infokit
