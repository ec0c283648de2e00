// The about box: the host's name and version, authors, the company's address,
// web links, and on request the credits, the file versions and the LOGGING
// dialog. Controls carry object names for the tests.
#pragma once

#include <QDialog>

#include "infokit_state.h"

class QPushButton;
class QTextBrowser;
class QWidget;

namespace infokit {

class DiagLog;

class AboutBox : public QDialog {
public:
    AboutBox(const AboutRecord& record, int language, DiagLog& log, QWidget* owner);

    // Shows or hides the credits panel (the More button).
    void toggleMore();

private:
    QWidget* makeHeader();
    QWidget* makeAddress();
    QWidget* makeLinks();
    QWidget* makeButtons();
    void openLink(const QString& link);
    void showFileVersions();
    void showLogging();

    const AboutRecord& record_;
    int language_;
    DiagLog& log_;
    QTextBrowser* credits_ = nullptr;
    QPushButton* more_ = nullptr;
};

// The list of the program's files and their versions.
QDialog* makeFileVersionsDialog(const QString& text, int language, QWidget* owner);

}  // namespace infokit
