// The project data dialog: title, folder, description, disc capacity and
// normalisation of a project, in three modes (ProjectData::kModeEdit on the
// open project's own record, kModeNew and kModeSaveAs on a copy). OK carries
// the change out through CopyProjectTo before the dialog closes; every
// refusal keeps the dialog open with the focus on the field at fault.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

#include "qvp3_project/project.h"
#include "qvp3_project/step_changes.h"

class QLayout;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace qvp3 {

// Capacities of the two fixed discs in seconds, and the range of a typed one in MB.
inline constexpr int kCdSpace80Minutes = 4797;
inline constexpr int kCdSpace90Minutes = 5153;
inline constexpr int kCdMinMegabytes = 600;
inline constexpr int kCdMaxMegabytes = 1000;
inline constexpr int kCdNewProjectMegabytes = 900;

// floor(MB x 1048576 / 176400).
int appBytesToSeconds(int megabytes);
// round(seconds x 176400 / 1048576), for display.
int prjSecondsToMegabytes(int seconds);
// The folder name a title proposes: at most 255 characters, cleaned as the
// project store cleans a title into a file name (empty when nothing usable is left).
std::string prjFolderFromTitle(std::string_view title);

struct ProjectDataContext {
    Project& project;
    ProjectData& record;  // ProjectDataMode set by the caller
    // The MDC step's file list, rebuilt after OK while that step is current.
    FileListView* mdcFileList = nullptr;
    // Rebuilds the main window's title after OK.
    std::function<void()> setWindowTitle{};
    // Receives the normalisation choice after OK in every mode (the open
    // project takes it itself in kModeEdit; a new project's caller may).
    int* chosenNormalize = nullptr;
};

class ProjectDataDialog : public QDialog {
    Q_OBJECT
public:
    ProjectDataDialog(ProjectDataContext context, QWidget* parent = nullptr);

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildForm();
    QLayout* buildChoices();
    void loadRecord();
    void onTitleChanged(const QString& title);
    void onChooseFolder();
    bool readCapacity();
    int normalisationChoice() const;
    bool carryOut(const std::string& title, const std::string& folder);

    ProjectDataContext context_;
    bool folderFollowsTitle_ = false;
    QLineEdit* title_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QLineEdit* description_ = nullptr;
    QRadioButton* cd80_ = nullptr;
    QRadioButton* cd90_ = nullptr;
    QRadioButton* cdOther_ = nullptr;
    QSpinBox* megabytes_ = nullptr;
    QRadioButton* norm1_ = nullptr;
    QRadioButton* norm2_ = nullptr;
    QRadioButton* norm0_ = nullptr;
};

// Runs the dialog modally: 1 after OK, 0 after Cancel.
int prjProjectDataDialog(QWidget* parent, ProjectDataContext context);

}  // namespace qvp3
