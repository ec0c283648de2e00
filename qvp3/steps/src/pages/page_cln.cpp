// The clean-up page's own handlers: the choice of what the run deletes, and
// the deletion of whole projects from the project list.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPalette>
#include <QStandardItemModel>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "page_conversion.h"
#include "page_cln.h"
#include "platform/files.h"
#include "qvp3_project/catalogue.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kFolderRole = Qt::UserRole;
constexpr int kToolbarHeight = 40;
const QColor kGroupText{0xE5, 0xFB, 0xFF};
const QColor kGroupBackground{0x86, 0xB1, 0xD8};
const QColor kNoteText{0x00, 0x80, 0x52};

QStandardItemModel* projectModel(StepPage& page) {
    auto* list = stpControl<QTreeView>(page, kClnProjectList);
    return list != nullptr ? qobject_cast<QStandardItemModel*>(list->model()) : nullptr;
}

// The rows of the project list, each carrying its folder's name.
class ProjectRows : public ProjectListView {
public:
    ProjectRows(QStandardItemModel& model, const ProjectList& list) : model_(model), list_(list) {}
    void appendRow(std::string_view title, int, int nameIndex, const std::optional<std::string>& description) override {
        auto* first = new QStandardItem(QString::fromStdString(std::string(title)));
        if (nameIndex >= 0 && nameIndex < static_cast<int>(list_.names.size())) {
            first->setData(QString::fromStdString(list_.names[static_cast<std::size_t>(nameIndex)]), kFolderRole);
        }
        model_.appendRow({first, new QStandardItem(QString::fromStdString(description.value_or(std::string{})))});
    }

private:
    QStandardItemModel& model_;
    const ProjectList& list_;
};

void fillProjectList(StepPage& page) {
    QStandardItemModel* model = projectModel(page);
    StepPageHost* host = stpPageHost();
    if (model == nullptr || host == nullptr) return;
    model->removeRows(0, model->rowCount());
    ProjectList list;
    ProjectRows rows(*model, list);
    prjProjectListFill(host->project().shell(), list, rows, true);
    prjProjectListFree(list);
}

std::string withNumber(std::string text, int number) {
    for (const char* mark : {"%i", "%d"}) {
        if (const auto at = text.find(mark); at != std::string::npos) return text.replace(at, 2, std::to_string(number));
    }
    return text;
}

// Deletes the files of a project folder, then the folder; true when it is gone.
// A folder that still holds a subfolder stays (and is not counted).
bool removeProjectFolder(ShellServices& shell, const fs::path& folder) {
    shell.appDeleteConvertedFiles("*", folder);
    std::error_code ec;
    return fs::remove(folder, ec) && !ec;
}

std::vector<std::string> selectedFolders(StepPage& page) {
    std::vector<std::string> names;
    auto* list = stpControl<QTreeView>(page, kClnProjectList);
    if (list == nullptr || list->selectionModel() == nullptr) return names;
    QModelIndexList rows = list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : rows) names.push_back(row.data(kFolderRole).toString().toStdString());
    return names;
}

// The open project's folder is asked for once more and goes last: the
// project is closed before its folder is removed.
int removeOpenProject(StepPageHost& host, const fs::path& folder, const std::string& name) {
    ShellServices& shell = host.project().shell();
    const std::string question = prfFormatString(shell.languageString(kStrClnDeleteOpenProject), name);
    if (shell.appTextBox(question, kBoxQuestion, kMbYesNo) != kIdYes) return 0;
    shell.appDeleteConvertedFiles("*", folder);
    host.sendCommand(kCmdCloseFiles);
    shell.setProjectFolder(shell.projectsRoot());
    std::error_code ec;
    fs::current_path(platform::programFolder(), ec);
    return fs::remove(folder, ec) && !ec ? 1 : 0;
}

}  // namespace

bool stpClnIsProjectFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\\') == std::string::npos;
}

void stpClnDeleteProjects(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    ShellServices& shell = host->project().shell();
    const std::vector<std::string> names = selectedFolders(page);
    if (names.empty()) {
        shell.appTextBox(shell.languageString(kStrClnNothingSelected), kBoxInformation, kMbOk);
        return;
    }
    if (shell.appQuestionBox(kStrClnDeleteProjects, kMbYesNo) != kIdYes) return;
    const fs::path root = shell.projectsRoot();
    const fs::path openFolder = host->project().data.ProjectFolder;
    int removed = 0;
    std::string openName;
    for (const std::string& name : names) {
        // Only a folder directly below the projects root: never the root
        // itself or anything outside it.
        if (root.empty() || !stpClnIsProjectFolderName(name)) continue;
        const fs::path folder = root / name;
        if (!openFolder.empty() && platform::isSameFile(folder, openFolder)) {
            openName = name;
            continue;
        }
        if (removeProjectFolder(shell, folder)) ++removed;
    }
    if (!openName.empty()) removed += removeOpenProject(*host, root / openName, openName);
    fillProjectList(page);
    shell.appTextBox(withNumber(shell.languageString(kStrClnFoldersRemoved), removed), kBoxInformation, kMbOk);
}

namespace {

StepPage::Result onCommand(StepPage& page, int id, QWidget*, int code) {
    if (id == kCmdToggle) {
        stpClnDeleteProjects(page);
        return 1;
    }
    if (id == kCmdRun) {
        if (page.onRun) page.onRun(page);
        return 1;
    }
    if (code != 0 || (id != kClnMidiBox && id != kClnWaveBox && id != kClnMp3Box)) return 0;
    const bool any = stpPageBoxChecked(page, kClnMidiBox) || stpPageBoxChecked(page, kClnWaveBox) ||
                     stpPageBoxChecked(page, kClnMp3Box);
    stpEnableToolbarButton(page, kCmdRun, any);
    return 1;
}

StepPage::Result onCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    const int id = widget != nullptr ? qvp3ui::controlId(*widget) : -1;
    if (id == kClnGroupBox) {
        palette.setColor(QPalette::WindowText, kGroupText);
        palette.setColor(QPalette::Window, kGroupBackground);
    } else if (id == kClnMidiBox || id == kClnWaveBox || id == kClnMp3Box) {
        palette.setColor(QPalette::WindowText, kPageLabelText);
        palette.setColor(QPalette::ButtonText, kPageLabelText);
    } else if (id == kClnNote) {
        palette.setColor(QPalette::WindowText, kNoteText);
    } else {
        return 0;
    }
    return 1;
}

QAction* addButton(QToolBar& bar, StepPage& page, int command, int stringId) {
    QAction* action = bar.addAction(stpText(stringId));
    qvp3ui::setControlId(*action, command);
    StepPage* p = &page;
    QObject::connect(action, &QAction::triggered, [p, command] {
        if (p->onCommand) p->onCommand(*p, command, nullptr, 0);
    });
    return action;
}

StepPage::Result initDialog(StepPage& page, QWidget* dialog) {
    if (dialog == nullptr) return 0;
    auto* group = new QGroupBox(stpText(kStrClnGroup), dialog);
    qvp3ui::setControlId(*group, kClnGroupBox);
    auto* note = new QLabel(stpText(kStrClnNote), dialog);
    qvp3ui::setControlId(*note, kClnNote);
    note->setWordWrap(true);
    StepPage* p = &page;
    for (auto [id, stringId] : {std::pair{kClnMidiBox, kStrClnMidiFiles}, {kClnWaveBox, kStrClnWaveFiles},
                                {kClnMp3Box, kStrClnMp3Files}}) {
        auto* box = new QCheckBox(stpText(stringId), dialog);
        qvp3ui::setControlId(*box, id);
        box->setChecked(id == kClnWaveBox);
        QObject::connect(box, &QCheckBox::clicked, box, [p, id, box] {
            if (p->onCommand) p->onCommand(*p, id, box, 0);
        });
    }
    auto* list = new QTreeView(dialog);
    qvp3ui::setControlId(*list, kClnProjectList);
    auto* model = new QStandardItemModel(0, 2, list);
    model->setHorizontalHeaderLabels({stpText(kStrClnProjectColumn), stpText(kStrClnDescriptionColumn)});
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* toolbar = new QToolBar(dialog);
    qvp3ui::setControlId(*toolbar, kPageToolbar);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    addButton(*toolbar, page, kCmdRun, kStrClnRunButton);
    addButton(*toolbar, page, kCmdToggle, kStrClnDeleteButton);
    return 1;
}

void layout(StepPage& page) {
    if (page.window == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect group(content.left(), content.top() + 30, 250, 300);
    if (auto* box = stpControl<QGroupBox>(page, kClnGroupBox)) box->setGeometry(group);
    int y = group.top() + 60;
    for (int id : {kClnMidiBox, kClnWaveBox, kClnMp3Box}) {
        if (auto* box = stpControl<QCheckBox>(page, id)) box->setGeometry(group.left() + 40, y, group.width() - 50, 20);
        y += 60;
    }
    if (auto* note = stpControl<QLabel>(page, kClnNote)) {
        note->setGeometry(group.left() + 10, group.bottom() - 50, group.width() - 20, 40);
    }
    const int listLeft = group.left() + 260;
    if (auto* list = stpControl<QTreeView>(page, kClnProjectList)) {
        list->setGeometry(listLeft, group.top(), std::max(100, page.window->width() - listLeft - 10), 300);
        list->header()->resizeSection(0, list->width() / 2);
    }
    if (auto* toolbar = stpControl<QToolBar>(page, kPageToolbar)) {
        const int width = page.window->width() - content.left() - 10;
        toolbar->setGeometry(content.left(), page.window->height() - kToolbarHeight - 4, width, kToolbarHeight);
        for (QAction* action : toolbar->actions()) {
            if (QWidget* button = toolbar->widgetForAction(action)) button->setMinimumSize(width / 2 - 8, 26);
        }
    }
}

StepPage::Result onShow(StepPage& page, bool shown) {
    StepPageHost* host = stpPageHost();
    if (shown) {
        fillProjectList(page);
        const ProjectEntry* entry = host != nullptr ? prjGetEntry(host->project(), -1) : nullptr;
        if (host != nullptr && (entry == nullptr || !entry->isBusy())) host->refreshFileList();
    } else {
        if (QStandardItemModel* model = projectModel(page)) model->removeRows(0, model->rowCount());
        if (host != nullptr) host->refreshFileList();
    }
    return stpFrameworkOnShow(page, shown);
}

}  // namespace

void stpFillClnSlots(StepPage& page) {
    page.onCommand = onCommand;
    page.onCtlColor = onCtlColor;
    page.onToggle = stpClnDeleteProjects;
    page.onInitDialog = [](StepPage& p, QWidget* dialog, StepPage*) { return initDialog(p, dialog); };
    page.onShow = onShow;
    page.onSize = layout;
}

}  // namespace qvp3
