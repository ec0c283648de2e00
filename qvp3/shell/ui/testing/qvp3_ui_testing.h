// Test support for the windows, pages and dialogs: the test program's main
// runs every test inside a QApplication on Qt's offscreen platform, with the
// settings store and the documents folder moved into a fresh temporary
// folder, so that no test touches the user's own.
#pragma once

#include <filesystem>
#include <string_view>

class QWidget;

namespace qvp3ui::testing {

// Renders the widget (shown first when hidden) into
// <build>/screenshots/<name>.png; the file's path, empty on failure.
std::filesystem::path saveScreenshot(QWidget& widget, std::string_view name);

// The temporary folder that this test run's settings and documents live in.
std::filesystem::path testHome();

// Lets queued events run for about ms milliseconds.
void processEventsFor(int ms);

}  // namespace qvp3ui::testing
