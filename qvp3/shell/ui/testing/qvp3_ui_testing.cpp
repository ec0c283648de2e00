#include "qvp3_ui_testing.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qvp3ui::testing {

namespace {
std::filesystem::path g_home;
}

std::filesystem::path testHome() { return g_home; }

std::filesystem::path saveScreenshot(QWidget& widget, std::string_view name) {
    if (!widget.isVisible()) widget.show();
    QApplication::processEvents();
    std::filesystem::path folder = QVP3_SCREENSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::filesystem::path file = folder / (std::string(name) + ".png");
    QImage image = widget.grab().toImage();
    if (image.isNull() || !image.save(QString::fromStdString(file.string()))) return {};
    return file;
}

void UiTest::SetUp() {
    useLanguage(6);
    setBoxResponder([this](const BoxRequest& request) {
        boxes.push_back(request);
        return request.kind == BoxKind::Question ? nextAnswer : 1;
    });
}

void UiTest::TearDown() {
    setBoxResponder({});
    setLanguage(nullptr);
    QApplication::processEvents();
}

void UiTest::useLanguage(int code) {
    std::optional<LanguageModule> table =
        code < 0 ? LanguageModule::testTable() : LanguageModule::load(QVP3_UI_PROGRAM_DIR, code);
    language_ = std::make_unique<LanguageModule>(table ? std::move(*table) : LanguageModule());
    setLanguage(language_.get());
    setProgramTitle(language_->string(102));
}

void processEventsFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

}  // namespace qvp3ui::testing

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string pattern = (std::filesystem::temp_directory_path() / "qvp3-uitest-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 2;
    qvp3ui::testing::g_home = pattern;
    std::filesystem::create_directories(qvp3ui::testing::g_home / "Documents");
    ::setenv("QVP3_CONFIG_HOME", (qvp3ui::testing::g_home / "config").c_str(), 1);
    ::setenv("XDG_DOCUMENTS_DIR", (qvp3ui::testing::g_home / "Documents").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", qvp3ui::testing::g_home.c_str(), 1);
    // The desktop's trash and data folders of the test's own.
    ::setenv("XDG_DATA_HOME", (qvp3ui::testing::g_home / "share").c_str(), 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(qvp3ui::testing::g_home, ec);
    return result;
}
