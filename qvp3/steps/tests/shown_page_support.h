// A step page as the step tab shows it: a window of the page's colour with
// the page's controls built by its onInitDialog, laid out and shown, and a
// recording target in place of the page dialog for the page's threads.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QPalette>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <string>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/message_target.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"
#include "page_window.h"
#include "step_test_support.h"

namespace qvp3::testing {

// The language module for a test's life.
struct EnglishTexts {
    EnglishTexts() { qvp3ui::setLanguage(&table); }
    ~EnglishTexts() { qvp3ui::setLanguage(nullptr); }
    qvp3ui::LanguageModule table = englishTable();
};

// Answers every question Yes unless told otherwise and deletes for real.
// Its texts are the loaded table's (empty for a missing one, so that a step
// shows its own English text), or "S<id>" without a table.
class TableShell : public BasicShell {
public:
    std::string languageString(int id) override {
        return qvp3ui::language() != nullptr ? qvp3ui::uiString(id) : "S" + std::to_string(id);
    }
    int appQuestionBox(int id, int) override {
        questions.push_back(id);
        return answers.empty() ? kIdYes : next();
    }
    int appTextBox(std::string_view text, int kind, int) override {
        boxes.emplace_back(kind, std::string(text));
        return kind == kBoxQuestion ? (answers.empty() ? kIdYes : next()) : kIdOk;
    }
    int next() {
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::vector<int> answers;  // in order; Yes when none is left
    std::vector<int> questions;
    std::vector<std::pair<int, std::string>> boxes;
};

// A 44.1 kHz 16-bit stereo WAV file of a square tone, frames long.
inline std::string toneWave(int frames) {
    auto le = [](std::uint32_t v, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    std::string data;
    for (int i = 0; i < frames; ++i) {
        const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(i % 100 < 50 ? 8000 : -8000));
        for (int channel = 0; channel < 2; ++channel) data += le(s, 2);
    }
    const std::string fmt = "fmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4) + le(176400, 4) + le(4, 2) + le(16, 2);
    const std::string body = "WAVE" + fmt + "data" + le(static_cast<std::uint32_t>(data.size()), 4) + data;
    return "RIFF" + le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

struct ShownPage {
    explicit ShownPage(StepPage& p, QSize size = {880, 640}) : page(p), window(p, size, target) {
        window.show();
        if (page.onSize) page.onSize(page);
    }
    ShownPage(const ShownPage&) = delete;
    ShownPage& operator=(const ShownPage&) = delete;

    template <class T = QWidget>
    T* find(int id) {
        return qvp3ui::findControl<T>(window, id);
    }
    QAction* button(int command) { return window.findChild<QAction*>(qvp3ui::controlName(command)); }
    void click(int id) { find<QAbstractButton>(id)->click(); }
    // Lets the page's posted reports run until the page's thread has posted
    // its done message count times, then answers it as the dialog does.
    bool waitForDone(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(300)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (doneMessages() < count && std::chrono::steady_clock::now() < end) qvp3ui::testing::processEventsFor(20);
        if (doneMessages() < count) return false;
        page.stopWorker(page);
        qvp3ui::testing::processEventsFor(50);
        return true;
    }
    std::size_t doneMessages() const {
        std::size_t n = 0;
        for (const auto& m : target.messages()) n += m.msg == platform::WM_STEP_WORKER_DONE ? 1 : 0;
        return n;
    }
    std::filesystem::path screenshot(const std::string& name) {
        qvp3ui::testing::processEventsFor(30);
        return qvp3ui::testing::saveScreenshot(window, name);
    }

    StepPage& page;
    platform::RecordingMessageTarget target;  // before the window, which posts to it until it goes
    PageWindow window;
};

}  // namespace qvp3::testing
