// What the update check asks of a user interface: questions, messages, the
// searching notice and the download's progress window. The Qt dialogs
// implement it; the tests answer from a script.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace infokit {

enum class MessageIcon { Information, Warning, Error, Question };

// The download worker's view of its progress window.
class DownloadSink {
public:
    virtual ~DownloadSink() = default;
    virtual void setText(const std::string& text) = 0;
    // Position in 0..range.
    virtual void setProgress(int position, int range) = 0;
    // Set when the user cancelled; the worker stops as soon as it sees it.
    virtual const std::atomic<bool>& cancelRequested() const = 0;
};

using DownloadJob = std::function<bool(DownloadSink&)>;

class UpdateUi {
public:
    struct Answer {
        bool yes = false;
        bool dontAskAgain = false;
    };
    virtual ~UpdateUi() = default;

    // A Yes/No question with a "don't ask me again" choice.
    virtual Answer askWithDontAsk(const std::string& text, const std::string& caption) = 0;
    virtual bool askYesNo(const std::string& text, const std::string& caption) = 0;
    virtual void message(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    // The wait cursor and the searching notice, on while the check talks to the server.
    virtual void setSearching(bool on, const std::string& text) = 0;
    // No update applies, but a newer major version exists.
    virtual void showNewVersion(const std::string& caption, const std::string& hint, const std::string& link) = 0;
    // Only a full version can be had: true for OK.
    virtual bool showOnlyFull(const std::string& caption, const std::string& text, const std::string& link) = 0;
    // Runs the job on a worker thread while a progress window with a Cancel
    // button shows; returns the job's result once the window is closed.
    virtual bool runDownload(const std::string& title, const std::string& text, DownloadJob job) = 0;
};

}  // namespace infokit
