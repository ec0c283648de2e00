// An update user interface that answers from a script and writes down what
// it was shown, for the tests of the update check.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update_ui.h"

namespace infokit::testing {

class ScriptedUpdateUi : public UpdateUi {
public:
    Answer firstAnswer{true, false};
    std::deque<bool> yesNo;  // answers to the Yes/No questions; Yes when empty
    bool onlyFullOk = true;
    bool cancelDownload = false;

    std::vector<std::string> questions;  // every question asked, in order
    std::vector<std::string> messages;
    std::vector<std::string> shown;      // other windows: "searching", "new version", "only full", "download"
    std::vector<std::string> progressTexts;
    int lastPosition = -1;
    int lastRange = -1;
    bool searchingNow = false;

    Answer askWithDontAsk(const std::string& text, const std::string&) override {
        questions.push_back(text);
        return firstAnswer;
    }
    bool askYesNo(const std::string& text, const std::string&) override {
        questions.push_back(text);
        if (yesNo.empty()) return true;
        const bool answer = yesNo.front();
        yesNo.pop_front();
        return answer;
    }
    void message(const std::string& text, const std::string&, MessageIcon) override { messages.push_back(text); }
    void setSearching(bool on, const std::string&) override {
        if (on) shown.push_back("searching");
        searchingNow = on;
    }
    void showNewVersion(const std::string&, const std::string& hint, const std::string&) override {
        shown.push_back("new version: " + hint);
    }
    bool showOnlyFull(const std::string&, const std::string&, const std::string&) override {
        shown.push_back("only full");
        return onlyFullOk;
    }
    bool runDownload(const std::string&, const std::string&, DownloadJob job) override {
        shown.push_back("download");
        struct Sink : DownloadSink {
            ScriptedUpdateUi* ui;
            std::atomic<bool> cancel{false};
            std::mutex mutex;
            void setText(const std::string& text) override {
                std::lock_guard lock(mutex);
                ui->progressTexts.push_back(text);
            }
            void setProgress(int position, int range) override {
                std::lock_guard lock(mutex);
                ui->lastPosition = position;
                ui->lastRange = range;
            }
            const std::atomic<bool>& cancelRequested() const override { return cancel; }
        } sink;
        sink.ui = this;
        sink.cancel = cancelDownload;
        bool result = false;
        std::thread worker([&] { result = job(sink); });
        worker.join();
        return result;
    }
};

}  // namespace infokit::testing
