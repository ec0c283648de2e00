// The info kit's dialogs in Qt's offscreen platform. Each test leaves a
// screenshot of its dialog in the build's screenshots folder for review.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTimer>
#include <condition_variable>
#include <cstdlib>

#include "about_box.h"
#include "diag_log.h"
#include "infokit/infokit.h"
#include "logging_dialog.h"
#include "platform_testing/temp_folder.h"
#include "string_table.h"
#include "update_dialogs.h"
#include "update_settings_dialog.h"

namespace infokit {
namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "infokit_dialog_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void screenshot(QWidget& widget, const char* name) {
    widget.show();
    widget.adjustSize();
    QApplication::processEvents();
    QDir().mkpath(INFOKIT_SCREENSHOT_DIR);
    const QString path = QString(INFOKIT_SCREENSHOT_DIR) + "/" + name + ".png";
    ASSERT_TRUE(widget.grab().save(path)) << path.toStdString();
}

template <typename T>
T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

LogConfig logConfig(const platform::testing::TempFolder& temp) {
    LogConfig c;
    c.programName = "qvp3";
    c.logFolder = temp.path() / "Documents";
    c.markerFolder = temp.path() / "run";
    c.versionText = [] { return std::string("qvp3  3.0.0.0"); };
    return c;
}

// Through the library's exports, as the program calls them.
TEST(InfoKitDialogs, AboutBoxShowsTheTextsTheHostSet) {
    setlanguage(5);
    ASSERT_TRUE(setprogindex(0));
    info_setcopyrighttextW(u"© 2026 Tavrena-software");
    info_setcompany("Tavrena-software GmbH");
    info_setstreet("Am Notenpult 3");
    info_setcity("12345 Klangstadt");
    info_setphone("+49 123 456789");
    info_seturlTavrena("www.tavrena-software.example");
    info_seturlsupport("support@tavrena-software.example");
    info_seturluplift("https://www.tavrena-software.example/update");
    info_setcopyrightex1(
        "VST is a trademark of its owner. The plug-in interface is used under its licence.\n"
        "Sound fonts and instrument tables are part of the sample library.");
    info_setfileversionstext("Programmdateien:\r\nqvp3\tVersion 3.0.0.57\r\nlibinfokit.so\tVersion 3.0.0.57\r\n");
    int checked = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "About Tavrena Orvendo 3.0-57");
        EXPECT_EQ(child<QLabel>(*box, "programName")->text(), "Tavrena Orvendo 3.0-57");
        EXPECT_EQ(child<QLabel>(*box, "authors")->text(), "Authors: Katrin Vogel, Jonas Ried");
        EXPECT_EQ(child<QLabel>(*box, "copyright")->text(), QString::fromUtf8("© 2026 Tavrena-software"));
        EXPECT_EQ(child<QLabel>(*box, "city")->text(), "12345 Klangstadt");
        EXPECT_TRUE(child<QLabel>(*box, "urlSupport")->text().contains("mailto:support@tavrena-software.example"));
        EXPECT_FALSE(child<QLabel>(*box, "urlInfo")->isVisibleTo(box));  // not set: not shown
        EXPECT_NE(box->findChild<QAction*>("fileVersionsAction"), nullptr);
        screenshot(*box, "about_box");
        child<QPushButton>(*box, "moreButton")->click();
        EXPECT_TRUE(child<QTextBrowser>(*box, "credits")->toPlainText().startsWith("VST is a trademark"));
        EXPECT_EQ(child<QPushButton>(*box, "moreButton")->text(), "&Less");
        screenshot(*box, "about_box_credits");
        ++checked;
        box->accept();
    });
    EXPECT_EQ(showinfoboxW(u"Tavrena Orvendo 3.0-57", u"Katrin Vogel, Jonas Ried", nullptr), 1);
    EXPECT_EQ(checked, 1);
}

TEST(InfoKitDialogs, FileVersionsListTheHostsText) {
    std::unique_ptr<QDialog> dialog(makeFileVersionsDialog(
        "Programmdateien:\nqvp3\tVersion 3.0.0.57\nlibscoreconv.so\tVersion 3.0.0.57\nlibinfokit.so\tVersion 3.0.0.57\n"
        "infokitreg\tVersion 3.0.0.57",
        1, nullptr));
    EXPECT_TRUE(child<QPlainTextEdit>(*dialog, "fileVersions")->toPlainText().contains("libinfokit.so\tVersion"));
    EXPECT_EQ(dialog->windowTitle(), "Dateiversionen");
    screenshot(*dialog, "file_versions");
}

TEST(InfoKitDialogs, LoggingDialogSwitchesTheLogOnlyWithOk) {
    platform::testing::TempFolder temp;
    DiagLog log(logConfig(temp));
    {
        LoggingDialog dialog(log, 5, nullptr);
        child<QCheckBox>(dialog, "loggingCheck")->setChecked(true);
        EXPECT_TRUE(child<QLabel>(dialog, "logPath")->text().endsWith("qvp3.log"));
        screenshot(dialog, "logging");
        dialog.reject();
    }
    EXPECT_FALSE(log.isOn());
    LoggingDialog dialog(log, 5, nullptr);
    child<QCheckBox>(dialog, "loggingCheck")->setChecked(true);
    dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_TRUE(log.isOn());
    EXPECT_TRUE(std::filesystem::exists(log.logFile()));
    LoggingDialog off(log, 5, nullptr);
    EXPECT_TRUE(child<QCheckBox>(off, "loggingCheck")->isChecked());
    child<QCheckBox>(off, "loggingCheck")->setChecked(false);
    off.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_FALSE(log.isOn());
}

TEST(InfoKitDialogs, UpdateQuestionsAndNotices) {
    auto question = makeQuestionBox(formatText(5, txt::kAskCheckNow, {"Tavrena Orvendo"}), "Tavrena Orvendo", 5, true,
                                    nullptr);
    ASSERT_NE(question->checkBox(), nullptr);
    EXPECT_EQ(question->checkBox()->text(), "Don't ask me again");
    screenshot(*question, "update_question");
    auto download = makeQuestionBox(formatText(1, txt::kAskDownload, {"3.0-58"}), "Tavrena Orvendo", 1, false, nullptr);
    EXPECT_EQ(download->button(QMessageBox::Yes)->text(), "Ja");
    screenshot(*download, "update_download_question");
    auto searching = makeSearchingDialog(text(5, txt::kSearching), nullptr);
    screenshot(*searching, "update_searching");
    auto hint = makeOfferDialog("Tavrena Orvendo", txt::kNewerVersionTitle,
                                "Tavrena Orvendo 4 brings a new score engine and a practice timer.",
                                "https://www.tavrena-software.example/orvendo4", false, 5, nullptr);
    EXPECT_TRUE(child<QLabel>(*hint, "hint")->text().contains("practice timer"));
    screenshot(*hint, "update_new_version");
    auto full = makeOfferDialog("Tavrena Orvendo", txt::kFullVersionTitle,
                                "This update needs the full version of Tavrena Orvendo.",
                                "https://www.tavrena-software.example/buy", true, 5, nullptr);
    screenshot(*full, "update_only_full");
}

TEST(InfoKitDialogs, DownloadProgressFollowsTheJobAndCancels) {
    DownloadProgressDialog dialog(text(5, txt::kDownloadTitle), text(5, txt::kDownloading), 5, nullptr);
    std::mutex mutex;
    std::condition_variable reported;
    bool reportedOnce = false;
    dialog.start([&](DownloadSink& sink) {
        sink.setProgress(420, 1000);
        sink.setText(formatText(5, txt::kDownloadedOf, {"4.20", "10.00", std::int64_t{42}}));
        {
            std::lock_guard lock(mutex);
            reportedOnce = true;
        }
        reported.notify_all();
        while (!sink.cancelRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return false;
    });
    {
        std::unique_lock lock(mutex);
        reported.wait(lock, [&] { return reportedOnce; });
    }
    dialog.show();
    for (int i = 0; i < 30 && child<QProgressBar>(dialog, "47")->value() != 420; ++i) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(child<QProgressBar>(dialog, "47")->value(), 420);
    EXPECT_EQ(child<QLabel>(dialog, "48")->text(), "Downloaded 4.20 MB of 10.00 MB (42%).");
    screenshot(dialog, "download_progress");
    child<QPushButton>(dialog, "2")->click();
    EXPECT_EQ(child<QPushButton>(dialog, "2")->text(), "OK");
    EXPECT_EQ(child<QLabel>(dialog, "48")->text(), QString::fromStdString(text(5, txt::kDownloadCancelled)));
    screenshot(dialog, "download_cancelled");
    child<QPushButton>(dialog, "2")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.finish());
}

TEST(InfoKitDialogs, FinishedDownloadClosesItsWindow) {
    platform::testing::TempFolder temp;
    DiagLog log(logConfig(temp));
    QtUpdateUi ui(5, log, nullptr);
    EXPECT_TRUE(ui.runDownload("t", "x", [](DownloadSink& sink) {
        sink.setProgress(1, 1);
        return true;
    }));
    EXPECT_FALSE(ui.runDownload("t", "x", [](DownloadSink&) { return false; }));
}

TEST(InfoKitDialogs, UpdateSettingsDialogPresetsAndRestoreLocksTheRest) {
    UpdateSettingsDialog locked(5, {3, false, true, false}, false, nullptr);
    EXPECT_TRUE(child<QRadioButton>(locked, "41")->isChecked());  // daily
    EXPECT_TRUE(child<QCheckBox>(locked, "341")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(locked, "100")->isEnabled());  // no backup to bring back

    UpdateSettingsDialog dialog(5, {4, true, false, false}, true, nullptr);
    EXPECT_TRUE(child<QRadioButton>(dialog, "40")->isChecked());
    screenshot(dialog, "update_settings");
    child<QRadioButton>(dialog, "43")->setChecked(true);
    EXPECT_EQ(dialog.choice().frequency, 1);
    EXPECT_TRUE(dialog.choice().checkNow);
    child<QCheckBox>(dialog, "100")->setChecked(true);
    EXPECT_FALSE(child<QRadioButton>(dialog, "44")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>(dialog, "46")->isEnabled());
    EXPECT_FALSE(dialog.choice().checkNow);
    EXPECT_TRUE(dialog.choice().restore);
    UpdateSettingsDialog german(1, {0, false, false, false}, true, nullptr);
    EXPECT_EQ(german.windowTitle(), "Kostenloses Online-Update");
    EXPECT_TRUE(child<QRadioButton>(german, "44")->isChecked());
}

}  // namespace
}  // namespace infokit
