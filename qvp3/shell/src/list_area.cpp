#include "qvp3_shell/list_area.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSplitter>
#include <QTreeView>

#include <algorithm>

#include "qvp3_shell/file_list_edit.h"
#include "qvp3_shell/file_list_view.h"
#include "qvp3_ui/controls.h"

namespace qvp3 {
namespace {

void setText(QWidget& window, int id, const std::string& text) {
    if (auto* label = qvp3ui::findControl<QLabel>(window, id)) label->setText(QString::fromStdString(text));
}

QProgressBar* bar(QWidget& window, int id) { return qvp3ui::findControl<QProgressBar>(window, id); }

}  // namespace

void appLayoutLeftPanel(QWidget& window, bool projectOpen) {
    for (int id : {kIdListCaption, kIdFileList, kIdAddPathCheck, kIdFileCountText, kIdFileCountBar, kIdDiscText,
                   kIdDiscBar}) {
        if (QWidget* control = qvp3ui::findControl(window, id)) control->setVisible(projectOpen);
    }
    if (auto* list = qvp3ui::findControl<QTreeView>(window, kIdFileList); list != nullptr && projectOpen) {
        appSetFileListColumns(*list);
    }
}

void appShowFileCount(QWidget& window, const Project& project, ShellServices& shell) {
    setText(window, kIdFileCountText, appFileCountText(project, shell));
    if (QProgressBar* count = bar(window, kIdFileCountBar)) {
        count->setValue(std::min(project.fileNum(), count->maximum()));
    }
}

void appShowDiscUsage(QWidget& window, const Project& project, ShellServices& shell) {
    const DiscUsage usage = appDiscUsage(project, shell);
    setText(window, kIdDiscText, usage.text);
    QProgressBar* disc = bar(window, kIdDiscBar);
    if (disc == nullptr) return;
    disc->setRange(0, usage.capacity);
    disc->setValue(std::min(usage.seconds, usage.capacity));
    // The list area's bar colours; the bar turns red once the files no longer fit.
    disc->setStyleSheet(QString("QProgressBar { background: rgb(134,177,216); border: 1px solid rgb(56,98,135); }"
                                "QProgressBar::chunk { background: %1; }")
                            .arg(usage.overfull ? "rgb(255,0,0)" : "rgb(56,98,135)"));
}

void appSetWindowTitle(QWidget& window, std::string_view programName, bool projectOpen, std::string_view title) {
    window.setWindowTitle(QString::fromStdString(appWindowTitle(programName, projectOpen, title)));
}

bool appSplitterAccepts(int x, int windowWidth) { return x >= kSplitterMinimum && x <= windowWidth / 2; }

void appLimitSplitter(QSplitter& splitter) {
    constexpr const char* kAccepted = "qvp3AcceptedSplit";
    splitter.setProperty(kAccepted, splitter.sizes().value(0));
    QObject::connect(&splitter, &QSplitter::splitterMoved, &splitter, [&splitter](int position, int index) {
        if (index != 1) return;
        QWidget* window = splitter.window();
        const int x = position + splitter.mapTo(window, QPoint(0, 0)).x();
        if (appSplitterAccepts(x, window->width())) {
            splitter.setProperty(kAccepted, position);
            return;
        }
        QList<int> sizes = splitter.sizes();
        const int total = sizes.value(0) + sizes.value(1);
        const int kept = std::clamp(splitter.property(kAccepted).toInt(), 0, total);
        sizes[0] = kept;
        sizes[1] = total - kept;
        splitter.setSizes(sizes);
    });
}

bool appCheckCdSizeInput(QLineEdit& edit, ShellServices& shell, int& value) {
    if (const std::optional<int> size = appParseCdSize(edit.text().toStdString())) {
        value = *size;
        return true;
    }
    shell.appTextBox(appFormatNumbers(shell, kStrCdSizeRange, {kCdSizeMin, kCdSizeMax}), kBoxWarning, kMbOk);
    edit.setText(QString::number(kCdSizeMax));
    edit.setFocus();
    edit.selectAll();
    return false;
}

}  // namespace qvp3
