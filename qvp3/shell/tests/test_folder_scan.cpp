// The folder scan worker: finds by extension without regard to case, depth
// first through sub-folders but never through links out of the folder, each
// find handled by the page before the walk goes on, and the page's stop.
#include <QApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <fstream>

#include "qvp3_shell/folder_scan.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

struct Page : QObject {
    qvp3ui::QtMessageTarget* target = nullptr;
    bool event(QEvent* e) override { return (target && target->dispatch(e)) || QObject::event(e); }
};

class FolderScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        root = qvp3ui::testing::testHome() / ("scan" + std::to_string(++n));
        fs::create_directories(root / "plugins" / "sub" / "deeper");
        fs::create_directories(root / "outside");
        for (const fs::path& f : {root / "plugins" / "a.so", root / "plugins" / "sub" / "B.SO",
                                 root / "plugins" / "sub" / "deeper" / "c.so", root / "plugins" / "readme.txt",
                                 root / "outside" / "stranger.so"})
            std::ofstream(f) << "x";
        fs::create_directory_symlink(root / "outside", root / "plugins" / "link-out");
        fs::create_symlink(root / "outside" / "stranger.so", root / "plugins" / "stranger-link.so");
        target = std::make_unique<qvp3ui::QtMessageTarget>(
            &page, [this](platform::MessageId m, platform::WParam w, platform::LParam l) {
                messages.emplace_back(m, w);
                if (m == platform::WM_PLUGIN_SCAN_ITEM) {
                    handledBeforeNext.push_back(record.found.size() == static_cast<std::size_t>(l) + 1);
                    if (stopAfter > 0 && static_cast<int>(w) == stopAfter) record.result = kScanStoppedByPage;
                }
                return 0;
            });
        page.target = target.get();
        record.page = target.get();
        record.pattern = "*.so";
    }
    void scan() {
        {
            FolderScan running(record);
            while (!running.finished()) qvp3ui::testing::processEventsFor(5);
        }
        QApplication::processEvents();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const fs::path& p : record.found) out.push_back(p.filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    fs::path root;
    Page page;
    std::unique_ptr<qvp3ui::QtMessageTarget> target;
    FolderScanRecord record;
    std::vector<std::pair<platform::MessageId, platform::WParam>> messages;
    std::vector<bool> handledBeforeNext;
    int stopAfter = 0;
};

TEST_F(FolderScanTest, FindsByExtensionAndStaysInsideTheFolder) {
    record.folderList = (root / "plugins").string();
    scan();
    EXPECT_EQ(names(), (std::vector<std::string>{"B.SO", "a.so", "c.so"}));
    EXPECT_EQ(record.result, 0);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], std::make_pair(platform::WM_PLUGIN_SCAN_ITEM, platform::WParam{1}));
    EXPECT_EQ(messages[2], std::make_pair(platform::WM_PLUGIN_SCAN_ITEM, platform::WParam{3}));
    EXPECT_EQ(messages[3], std::make_pair(platform::WM_PLUGIN_SCAN_DONE, platform::WParam{0}));
    for (bool handled : handledBeforeNext) EXPECT_TRUE(handled);
    EXPECT_EQ(record.history, (root / "plugins").string());
}

TEST_F(FolderScanTest, AMissingSingleFolderEndsWithItsCodeAndNoMessage) {
    record.folderList = (root / "nowhere").string();
    scan();
    EXPECT_EQ(record.result, kScanFolderMissing);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(record.history.empty());
}

TEST_F(FolderScanTest, SeveralFoldersAndTheStopOfThePage) {
    record.folderList = (root / "outside").string() + ";" + (root / "nowhere").string() + ";" +
                        (root / "plugins" / "sub").string();
    scan();
    EXPECT_EQ(names(), (std::vector<std::string>{"B.SO", "c.so", "stranger.so"}));
    EXPECT_EQ(record.history, (root / "outside").string() + "|" + (root / "plugins" / "sub").string());

    record.found.clear();
    messages.clear();
    stopAfter = 1;
    record.folderList = (root / "plugins").string();
    scan();
    EXPECT_EQ(record.found.size(), 1u);
    EXPECT_EQ(record.result, kScanStoppedByPage);
    EXPECT_EQ(messages.back().first, platform::WM_PLUGIN_SCAN_DONE);
}

TEST(FolderHistory, KeepsEachFolderOnceAndDropsTheOldest) {
    std::string history;
    for (const char* f : {"/a", "/b", "/a", "/c", "/d"}) appAddFolderHistory(history, f, 3);
    EXPECT_EQ(history, "/b|/c|/d");
    std::string list = "/x;/y";
    EXPECT_EQ(appPopFolder(list), "/x");
    EXPECT_EQ(appPopFolder(list), "/y");
    EXPECT_EQ(list, "");
}

}  // namespace
}  // namespace qvp3
