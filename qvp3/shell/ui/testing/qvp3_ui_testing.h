// Test support for the windows, pages and dialogs: the test program's main
// runs every test inside a QApplication on Qt's offscreen platform, with the
// settings store and the documents folder moved into a fresh temporary
// folder, so that no test touches the user's own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"

class QWidget;

namespace qvp3ui::testing {

// Renders the widget (shown first when hidden) into
// <build>/screenshots/<name>.png; the file's path, empty on failure.
std::filesystem::path saveScreenshot(QWidget& widget, std::string_view name);

// The temporary folder that this test run's settings and documents live in.
std::filesystem::path testHome();

// Lets queued events run for about ms milliseconds.
void processEventsFor(int ms);

// A fixture for windows, pages and dialogs: a language table (English by
// default; useLanguage(-1) gives the "S<N>" test table), message boxes
// answered with nextAnswer and kept in boxes, the program title set.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // A table of the program folder by language code, or the test table for -1.
    void useLanguage(int language);
    const LanguageModule& language() const { return *language_; }

    std::vector<BoxRequest> boxes;
    int nextAnswer = 6;  // Yes

private:
    std::unique_ptr<LanguageModule> language_;
};

}  // namespace qvp3ui::testing
