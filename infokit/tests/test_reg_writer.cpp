// The settings writer: the library's end of the conversation, the helper
// program infokitreg itself, and the version values of the uninstall entry.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/ini_file.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "reg_writer.h"
#include "uninstall_version.h"

namespace infokit {
namespace {

TEST(InfoKitRegRequest, BlockKeepsThreeFieldsAndTheNumber) {
    const reg::Request in{"Käse\\Schlüssel", std::string(300, 'x'), "", -7};
    const auto block = reg::encodeRequest(in);
    const reg::Request out = reg::decodeRequest(block.data());
    EXPECT_EQ(out.field1, in.field1);
    EXPECT_EQ(out.field2, std::string(255, 'x'));  // cut to the field, still terminated
    EXPECT_EQ(out.field3, "");
    EXPECT_EQ(out.number, -7);
    EXPECT_EQ(block[3 * 256 * 2 - 1], 0);
}

class InfoKitRegWriter : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("QVP3_CONFIG_HOME");
        if (old != nullptr) oldHome_ = old;
        ::setenv("QVP3_CONFIG_HOME", (temp_.path() / "config").c_str(), 1);
    }
    void TearDown() override {
        if (oldHome_) {
            ::setenv("QVP3_CONFIG_HOME", oldHome_->c_str(), 1);
        } else {
            ::unsetenv("QVP3_CONFIG_HOME");
        }
    }
    platform::SettingsKey machineKey(std::string_view path) {
        return store_.openKey(platform::Hive::Machine, path);
    }

    platform::testing::TempFolder temp_;
    std::optional<std::string> oldHome_;
    platform::SettingsStore store_{temp_.path() / "config"};
};

TEST_F(InfoKitRegWriter, HelperCarriesOutEveryRequest) {
    RegistryWriterProcess writer(INFOKIT_INFOKITREG, 0);
    EXPECT_EQ(writer.request(reg::kWriteValue, {"SOFTWARE\\Test", "Text", "Wert", 0}), reg::kReplyOk);
    EXPECT_EQ(writer.request(reg::kWriteValue, {"SOFTWARE\\Test", "Number", "", 42}), reg::kReplyOk);
    EXPECT_EQ(machineKey("SOFTWARE\\Test").readString("Text"), "Wert");
    EXPECT_EQ(machineKey("SOFTWARE\\Test").readDword("Number"), 42u);

    const auto program = temp_.path() / "program";
    platform::testing::writeBytes(program / "qvp3", "program");
    platform::testing::writeBytes(program / "libinfokit.so", "library");
    const auto backup = program / "-Backup-";
    EXPECT_EQ(writer.request(reg::kCreateFolder, {"hidden|archive", backup.string(), "", 0}), reg::kReplyOk);
    EXPECT_EQ(writer.request(reg::kCreateFolder, {"hidden|archive", backup.string(), "", 0}), reg::kReplyExists);
    EXPECT_EQ(writer.request(reg::kBackupFolder, {"", program.string(), "", 0}), reg::kReplyOk);
    EXPECT_EQ(platform::testing::readBytes(backup / "libinfokit.so"), "library");
    const auto ini = backup / "Tavrena-software-Backup.ini";
    EXPECT_EQ(writer.request(reg::kWriteBackupIni, {"", "3.0-57", ini.string(), 0}), reg::kReplyOk);
    EXPECT_EQ(platform::iniGetString(ini, "Backup", "Version", ""), "3.0-57");

    EXPECT_EQ(writer.request(4711, {}), reg::kReplyBadRequest);
    EXPECT_EQ(writer.request(reg::kCreateFolder, {"", "relative/folder", "", 0}), reg::kReplyBadRequest);
    EXPECT_EQ(writer.request(reg::kWriteBackupIni, {"", "", ini.string(), 0}), reg::kReplyBadRequest);
    EXPECT_TRUE(writer.running());
    writer.stop();
    EXPECT_FALSE(writer.running());
    // Started again on demand.
    EXPECT_EQ(writer.request(reg::kWriteValue, {"SOFTWARE\\Test", "Again", "", 1}), reg::kReplyOk);
}

TEST_F(InfoKitRegWriter, AHelperThatIsMissingOrWrongCannotBeStarted) {
    for (const char* program : {"/nonexistent/infokitreg", "/bin/true", "/bin/cat"}) {
        SCOPED_TRACE(program);
        RegistryWriterProcess writer(program, 0);
        EXPECT_EQ(writer.request(reg::kWriteValue, {"SOFTWARE\\Test", "x", "y", 0}), reg::kCannotStart);
        EXPECT_FALSE(writer.running());
    }
}

TEST_F(InfoKitRegWriter, UninstallVersionGoesToTheMatchingEntryOfThePreferredView) {
    const std::string native = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::string wow = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    auto entry = [&](const std::string& path, const char* name, std::uint32_t major, std::uint32_t minor) {
        platform::SettingsKey key = store_.createKey(platform::Hive::Machine, path);
        key.writeString("DisplayName", name);
        key.writeDword("VersionMajor", major);
        key.writeDword("VersionMinor", minor);
    };
    entry(native + "{other}", "Another Program", 3, 0);
    entry(native + "{old}", "Tavrena Orvendo 2", 2, 0);
    entry(native + "{ours}", "tavrena orvendo 3.0", 3, 0);
    entry(wow + "{ours32}", "Tavrena Orvendo", 3, 0);
    const ProductRow& row = productRow(kHostProductIndex);
    RegistryWriterProcess writer(INFOKIT_INFOKITREG, 0);

    ASSERT_TRUE(setProgramUninstallVersion(store_, writer, row, 58, 0));
    const platform::SettingsKey ours = machineKey(native + "{ours}");
    EXPECT_EQ(ours.readString("DisplayVersion"), "3.0.58");
    EXPECT_EQ(ours.readDword("Version"), (3u << 24) | 58u);
    EXPECT_FALSE(machineKey(wow + "{ours32}").readString("DisplayVersion"));
    EXPECT_FALSE(writer.running());  // stopped when done

    ASSERT_TRUE(setProgramUninstallVersion(store_, writer, row, 59, kWow64View32));
    EXPECT_EQ(machineKey(wow + "{ours32}").readString("DisplayVersion"), "3.0.59");

    // Only the major version matches: found in the second round.
    store_.deleteKey(platform::Hive::Machine, native + "{ours}");
    store_.deleteKey(platform::Hive::Machine, wow + "{ours32}");
    entry(native + "{minor}", "Tavrena Orvendo", 3, 1);
    ASSERT_TRUE(setProgramUninstallVersion(store_, writer, row, 60, 0));
    EXPECT_EQ(machineKey(native + "{minor}").readString("DisplayVersion"), "3.0.60");

    store_.deleteKey(platform::Hive::Machine, native + "{minor}");
    EXPECT_FALSE(setProgramUninstallVersion(store_, writer, row, 61, 0));
    EXPECT_FALSE(setProgramUninstallVersion(store_, writer, ProductRow{}, 61, 0));
}

}  // namespace
}  // namespace infokit
