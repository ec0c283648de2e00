// The update check's windows in Qt: its questions and messages, the
// searching notice, the offers of a newer or a full version and the
// download's progress window.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "update_ui.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace infokit {

class DiagLog;

// A Yes/No question with a "don't ask me again" box.
std::unique_ptr<QMessageBox> makeQuestionBox(const std::string& text, const std::string& caption, int language,
                                             bool withDontAsk, QWidget* owner);
// The notice shown while the server is asked (CHECKUPLIFT).
std::unique_ptr<QDialog> makeSearchingDialog(const std::string& text, QWidget* owner);
// A text with a link under a heading: the newer version's hint (NEWVERSION,
// OK only) or the full-version offer (NOUPLIFT, OK and Cancel).
std::unique_ptr<QDialog> makeOfferDialog(const std::string& caption, int heading, const std::string& text,
                                         const std::string& link, bool withCancel, int language, QWidget* owner);

// The download's progress window (dialog 25): text 48, bar 47, button 2.
// The job runs on a worker thread while the window shows; Cancel asks the
// job to stop and turns into OK, which closes the window once the job ended.
class DownloadProgressDialog : public QDialog, public DownloadSink {
public:
    DownloadProgressDialog(const std::string& title, const std::string& text, int language, QWidget* owner);
    ~DownloadProgressDialog() override;

    // Starts the job; the window closes by itself when it succeeds.
    void start(DownloadJob job);
    // Waits for the job and returns its result.
    bool finish();

    void setText(const std::string& text) override;
    void setProgress(int position, int range) override;
    const std::atomic<bool>& cancelRequested() const override { return cancel_; }

    void pressButton();

protected:
    void reject() override;

private:
    void refresh();

    int language_;
    QLabel* text_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
    QTimer timer_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    bool result_ = false;
    std::mutex mutex_;  // guards what follows
    std::string pendingText_;
    int position_ = 0;
    int range_ = 0;
    bool changed_ = false;
};

class QtUpdateUi : public UpdateUi {
public:
    QtUpdateUi(int language, DiagLog& log, QWidget* owner) : language_(language), log_(log), owner_(owner) {}

    Answer askWithDontAsk(const std::string& text, const std::string& caption) override;
    bool askYesNo(const std::string& text, const std::string& caption) override;
    void message(const std::string& text, const std::string& caption, MessageIcon icon) override;
    void setSearching(bool on, const std::string& text) override;
    void showNewVersion(const std::string& caption, const std::string& hint, const std::string& link) override;
    bool showOnlyFull(const std::string& caption, const std::string& text, const std::string& link) override;
    bool runDownload(const std::string& title, const std::string& text, DownloadJob job) override;

private:
    int language_;
    DiagLog& log_;
    QWidget* owner_;
    std::unique_ptr<QDialog> searching_;
};

}  // namespace infokit
