// The shared user-interface library: language tables, checked formats, the
// Qt message target across threads, controls by id.
#include <QApplication>
#include <QLabel>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui_testing.h"

namespace qvp3ui {
namespace {

namespace fs = std::filesystem;

void writeTable(const fs::path& file, std::string_view text) {
    std::ofstream(file, std::ios::binary) << text;
}

struct LanguageCase {
    const char* name;
    int language;
    std::vector<const char*> files;  // tables present in the folder
    const char* expectFile;          // "" when nothing loads
};

TEST(LanguageModule, ChoosesTheTableOfTheCodeAndFallsBackToGerman) {
    const LanguageCase cases[] = {
        {"English GB present", 6, {"str_gb.lang", "str_de.lang"}, "str_gb.lang"},
        {"English US", 5, {"str_us.lang", "str_de.lang"}, "str_us.lang"},
        {"Dutch", 7, {"str_nl.lang"}, "str_nl.lang"},
        {"international English", 10, {"str_un.lang"}, "str_un.lang"},
        {"GB missing: German", 6, {"str_de.lang"}, "str_de.lang"},
        {"unknown code: German", 42, {"str_gb.lang", "str_de.lang"}, "str_de.lang"},
        {"German missing: nothing", 1, {"str_gb.lang"}, ""},
        {"chosen and German missing: nothing", 6, {"str_us.lang"}, ""},
    };
    for (const LanguageCase& c : cases) {
        const fs::path folder = qvp3ui::testing::testHome() / "lang" / c.name;
        fs::create_directories(folder);
        for (const char* f : c.files) writeTable(folder / f, std::string("102\t") + f + "\n");
        std::optional<LanguageModule> module = LanguageModule::load(folder, c.language);
        if (*c.expectFile == '\0') {
            EXPECT_FALSE(module) << c.name;
            continue;
        }
        ASSERT_TRUE(module) << c.name;
        EXPECT_EQ(module->file().filename(), c.expectFile) << c.name;
        EXPECT_EQ(module->string(102), c.expectFile) << c.name;
    }
}

TEST(LanguageModule, ReadsLineBreaksSkipsBadLinesAndChecksFormats) {
    LanguageModule m = LanguageModule::fromText(
        "# comment\n128\tSave?\\nReally\nbad line\n79\tFailed (code %d).\n80\tName %s, code %d\n81\tBroken %n\n");
    EXPECT_EQ(m.string(128), "Save?\nReally");
    EXPECT_EQ(m.string(999), "");
    EXPECT_FALSE(m.has(999));
    EXPECT_EQ(m.format(79, {std::int64_t{-5}}), "Failed (code -5).");
    EXPECT_EQ(m.format(80, {std::string_view("x"), std::int64_t{3}}), "Name x, code 3");
    // A format that does not fit its arguments is shown as it stands, never handed on.
    EXPECT_EQ(m.format(79, {std::string_view("text")}), "Failed (code %d).");
    EXPECT_EQ(m.format(80, {std::int64_t{3}}), "Name %s, code %d");
    EXPECT_EQ(m.format(81, {}), "Broken %n");
}

TEST(LanguageModule, TestTableAnswersSWithTheNumber) {
    LanguageModule m = LanguageModule::testTable();
    EXPECT_EQ(m.string(128), "S128");
    EXPECT_EQ(m.string(kMenuTextBase + 40023), "S240023");
    EXPECT_EQ(m.accelerator(40023), "");
}

TEST(LanguageModule, ShippedTablesHoldTheSameNumbers) {
    auto ids = [](const fs::path& file) {
        std::ifstream in(file);
        std::set<int> numbers;
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            numbers.insert(std::stoi(line.substr(0, line.find('\t'))));
        }
        return numbers;
    };
    const std::set<int> english = ids(fs::path(QVP3_LANG_DIR) / "str_en.lang");
    const std::set<int> german = ids(fs::path(QVP3_LANG_DIR) / "str_de.lang");
    EXPECT_EQ(english, german);
    EXPECT_GT(english.size(), 100u);
}

// A receiver on the user-interface thread.
struct Receiver : QObject {
    QtMessageTarget* target = nullptr;
    bool event(QEvent* e) override { return (target && target->dispatch(e)) || QObject::event(e); }
};

TEST(QtMessageTarget, PostsAndSendsFromAWorkerArriveOnTheUserInterfaceThread) {
    Receiver receiver;
    std::vector<std::pair<platform::MessageId, platform::WParam>> seen;
    std::atomic<bool> wrongThread{false};
    QtMessageTarget target(&receiver, [&](platform::MessageId m, platform::WParam w, platform::LParam l) {
        if (QThread::currentThread() != receiver.thread()) wrongThread = true;
        seen.emplace_back(m, w);
        return static_cast<platform::LResult>(l + 1);
    });
    receiver.target = &target;
    platform::LResult sent = 0;
    std::thread worker([&] {
        target.post(platform::WM_PLAYBACK_ENDED, 1, 0);
        target.post(platform::WM_COMMAND, makeCommandWParam(40052, 0), 0);
        sent = target.send(platform::WM_ENGINE_PROGRESS, 3, 41);
    });
    // The worker waits in send() until this thread handles the messages.
    while (sent == 0) QApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    EXPECT_EQ(sent, 42);
    EXPECT_FALSE(wrongThread);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, platform::WM_PLAYBACK_ENDED);
    EXPECT_EQ(seen[1].first, platform::WM_COMMAND);
    EXPECT_EQ(seen[1].second & 0xFFFF, 40052u);
    EXPECT_EQ(seen[2].first, platform::WM_ENGINE_PROGRESS);
    // From its own thread a send is a direct call.
    EXPECT_EQ(target.send(platform::WM_USER + 7, 0, 9), 10);
}

TEST(QtMessageTarget, ClosedOrGoneReceiverDropsMessages) {
    auto receiver = std::make_unique<Receiver>();
    int handled = 0;
    QtMessageTarget target(receiver.get(), [&](platform::MessageId, platform::WParam, platform::LParam) {
        return ++handled;
    });
    receiver->target = &target;
    EXPECT_TRUE(target.post(platform::WM_USER + 1, 0, 0));
    receiver.reset();  // queued events die with the receiver
    EXPECT_FALSE(target.post(platform::WM_USER + 1, 0, 0));
    platform::LResult fromWorker = -1;
    std::thread worker([&] { fromWorker = target.send(platform::WM_USER + 1, 0, 0); });
    worker.join();
    EXPECT_EQ(fromWorker, 0);
    QApplication::processEvents();
    EXPECT_EQ(handled, 0);
}

TEST(QtMessageTarget, EventTypesCarryTheMessageNumber) {
    EXPECT_EQ(messageEventType(platform::WM_PLAY_POSITION), static_cast<QEvent::Type>(1124));
    EXPECT_EQ(messageEventType(platform::WM_MXML_PROGRESS), static_cast<QEvent::Type>(2524));
    EXPECT_EQ(messageEventType(platform::WM_COMMAND), static_cast<QEvent::Type>(kCommandEventType));
    EXPECT_EQ(messageEventType(0x0100), static_cast<QEvent::Type>(kSystemMessageEventType));
    MessageEvent e(platform::WM_COMMAND, makeCommandWParam(40023, 0xFFFF), 0);
    EXPECT_EQ(e.commandId(), 40023);
    EXPECT_EQ(e.commandCode(), 0xFFFF);
}

TEST(Controls, FoundByTheirId) {
    QWidget root;
    auto* label = new QLabel(&root);
    setControlId(*label, 1018);
    EXPECT_EQ(findControl<QLabel>(root, 1018), label);
    EXPECT_EQ(findControl(root, 1017), nullptr);
    EXPECT_EQ(controlId(*label), 1018);
    EXPECT_EQ(controlId(root), -1);
}

}  // namespace
}  // namespace qvp3ui

#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QStandardItemModel>

#include "qvp3_ui/message_box.h"
#include "qvp3_ui/ui_utils.h"

namespace qvp3ui {
namespace {

class MessageBoxTest : public testing::UiTest {};

TEST_F(MessageBoxTest, TextsComeFromTheTableOrAreGivenLiterally) {
    appWarningBox(221);
    appInfoBox(0, "literal text");
    nextAnswer = 2;  // Cancel
    EXPECT_EQ(appQuestionBox(128, {}, 3), 2);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(boxes[0].text, language().string(221));
    EXPECT_EQ(boxes[1].text, "literal text");
    EXPECT_EQ(boxes[2].kind, BoxKind::Question);
    EXPECT_EQ(boxes[2].buttons, 3);
    EXPECT_EQ(programTitle(), "qvp3");
}

TEST_F(MessageBoxTest, AQuestionSwitchedOffAnswersItsDefault) {
    // The responder stands for the user: it ticks "do not ask again".
    setBoxResponder({});
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->checkBox()->setChecked(true);
        testing::saveScreenshot(*box, "question_with_check_box");
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(appMessageBoxCheck("Apply the profile?", 4, 6, "{TEST-KEY}"), 7);
    // From now on the default answer comes without a box.
    setBoxResponder([](const BoxRequest&) -> int {
        ADD_FAILURE() << "a switched-off question was shown";
        return 0;
    });
    EXPECT_EQ(appMessageBoxCheck("Apply the profile?", 4, 6, "{TEST-KEY}"), 6);
}

TEST(UiUtils, OneWaitWindowAtATime) {
    EXPECT_FALSE(audShowWaitDialog(10));
    EXPECT_TRUE(audShowWaitDialog(20));
    audSetWaitDialogText("\"canon.xml\"");
    audSetWaitDialogPosition(5);
    QWidget* wait = waitDialog();
    ASSERT_NE(wait, nullptr);
    auto* progress = findControl<QProgressBar>(*wait, 286);
    EXPECT_EQ(progress->maximum(), 20);
    EXPECT_EQ(progress->value(), 5);
    EXPECT_EQ(findControl<QLabel>(*wait, 284)->text(), "\"canon.xml\"");
    testing::saveScreenshot(*wait, "wait_dialog");
    audCloseWaitDialog();
    QApplication::processEvents();
    EXPECT_EQ(waitDialog(), nullptr);
    audCloseWaitDialog();  // harmless without one
}

TEST(UiUtils, StatusLinesAndComboItems) {
    LanguageModule table = LanguageModule::fromText("500\tConverting %s\n501\tDone\n");
    setLanguage(&table);
    QStandardItemModel list;
    const std::string file = "a.mid";
    prjStatusListAddLine(list, 500, &file, false);
    prjStatusListAddLine(list, 501, nullptr, true);
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.item(0)->text(), "Done");
    prjStatusListAddLine(list, 500, &file, false);
    EXPECT_EQ(list.item(1)->text(), "Converting a.mid");
    setLanguage(nullptr);

    QComboBox combo;
    scComboExInsertItem(combo, -1, "Piano", {}, 1);
    scComboExInsertItem(combo, 0, "Strings", {}, 49);
    EXPECT_EQ(audFindComboItemData(combo, 1), 1);
    EXPECT_EQ(audFindComboItemData(combo, 49), 0);
    EXPECT_EQ(audFindComboItemData(combo, 7), -1);
}

}  // namespace
}  // namespace qvp3ui
