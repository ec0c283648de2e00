#include "qvp3_shell/file_list_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QToolTip>

namespace qvp3 {

FileListController::FileListController(QTreeView& view, FileListModel& model, ListAreaHost& host)
    : QObject(&view), view_(&view), model_(model), host_(host), current_(model.project().currentEntry) {
    view.setModel(&model);
    view.setRootIsDecorated(false);
    view.setItemsExpandable(false);
    view.setUniformRowHeights(true);
    view.setAllColumnsShowFocus(true);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSortingEnabled(false);
    view.header()->setSectionsClickable(false);
    // The columns share the list's width exactly (appSetFileListColumns).
    view.header()->setStretchLastSection(false);
    view.header()->setMinimumSectionSize(16);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    view.setDragEnabled(true);
    view.setAcceptDrops(true);
    view.viewport()->setAcceptDrops(true);
    view.setDropIndicatorShown(true);
    view.setDragDropMode(QAbstractItemView::DragDrop);
    view.setDefaultDropAction(Qt::MoveAction);
    view.setMouseTracking(true);
    view.setProperty(kTipRowProperty, -1);
    view.installEventFilter(this);
    view.viewport()->installEventFilter(this);

    connect(&model, &FileListModel::rowSelectionRequested, this, &FileListController::selectRow);
    connect(view.selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &FileListController::currentRowChanged);
    connect(&model, &FileListModel::refillRequested, this, [this] { fill(true); }, Qt::QueuedConnection);
    connect(&model, &FileListModel::rowMoveRequested, this, &FileListController::moveRow);
    connect(&model, &FileListModel::filesDropped, this,
            [this](const std::vector<std::filesystem::path>& files) {
                appOnDropFiles(model_.project(), host_, files);
            });
    connect(&model, &FileListModel::projectChanged, this, [this] { host_.refreshCommands(); });
    // A box must not open while the editor is still closing.
    connect(&model, &FileListModel::editRefused, this, &FileListController::showRefusal, Qt::QueuedConnection);
    connect(&model, &QAbstractItemModel::modelReset, this, [this] { appSetFileListColumns(*view_); });
    connect(&model, &QAbstractItemModel::headerDataChanged, this, [this] { appSetFileListColumns(*view_); });
}

void FileListController::fill(bool rebuild) {
    if (!view_) return;
    {
        // Refilling is no choice of the user: the current entry stays what the store selects.
        const QSignalBlocker quiet(view_->selectionModel());
        model_.fill(rebuild);
    }
    current_ = model_.project().currentEntry;
    view_->viewport()->update();
    appSetFileListColumns(*view_);
}

void FileListController::selectRow(int row) {
    if (!view_ || row < 0 || row >= model_.rowCount()) return;
    const QModelIndex index = model_.index(row, FileListModel::ColumnName);
    view_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view_->scrollTo(index);
}

void FileListController::currentRowChanged(const QModelIndex& current) {
    if (model_.filling() || !view_) return;
    Project& project = model_.project();
    const int previous = current_;
    if (followsSelection_) project.currentEntry = current.isValid() ? current.row() : -1;
    current_ = project.currentEntry;
    if (current_ != previous) emit currentEntryChanged(previous, current_);
}

void FileListController::moveRow(int from, int to) {
    Project& project = model_.project();
    const int result = appMoveEntry(project, from, to);
    if (result != kListEditOk) {
        showRefusal(QString::fromStdString(appListEditMessage(project.shell(), result, {})));
        return;
    }
    host_.entriesChanged();
}

void FileListController::showRefusal(const QString& message) {
    if (message.isEmpty()) return;
    model_.project().shell().appTextBox(message.toStdString(), kBoxWarning, kMbOk);
}

void FileListController::hideTip() {
    QToolTip::hideText();
    tipRow_ = -1;
    if (view_) view_->setProperty(kTipRowProperty, -1);
}

void FileListController::watchPanel(QWidget& panel) {
    panel.setMouseTracking(true);
    panel.installEventFilter(this);
}

void FileListController::trackTip(const QPoint& position) {
    const int row = view_->indexAt(position).row();
    if (row == tipRow_) return;
    QToolTip::hideText();
    tipRow_ = row;
    view_->setProperty(kTipRowProperty, row);
}

bool FileListController::pauseClick(const QPoint& position, Qt::MouseButton button) {
    const QModelIndex index = view_->indexAt(position);
    if (!index.isValid() || index.column() != FileListModel::ColumnPause || !model_.hasPauseColumn()) return false;
    if (button != Qt::LeftButton && button != Qt::RightButton) return false;
    return model_.stepPause(index.row(), button == Qt::LeftButton ? 1 : -1);
}

bool FileListController::eventFilter(QObject* watched, QEvent* event) {
    if (!view_) return false;
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::MouseMove) {
            trackTip(static_cast<QMouseEvent*>(event)->position().toPoint());
        } else if (event->type() == QEvent::MouseButtonPress) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            pauseClick(mouse->position().toPoint(), mouse->button());
        } else if (event->type() == QEvent::Leave) {
            hideTip();
        }
        return false;
    }
    if (watched == view_.data()) {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) host_.refreshCommands();
        if (event->type() == QEvent::Resize) appSetFileListColumns(*view_);
        return false;
    }
    // A panel of the list area: the pointer has left the list.
    if (event->type() == QEvent::MouseMove && model_.project().fileNum() > 0) hideTip();
    return false;
}

void appSetFileListColumns(QTreeView& list) {
    QHeaderView* header = list.header();
    const int width = list.viewport()->width();
    if (header->count() >= 3) {
        header->resizeSection(0, width * 6 / 10);
        header->resizeSection(1, width * 2 / 10);
        header->resizeSection(2, width - width * 6 / 10 - width * 2 / 10);
    } else if (header->count() == 2) {
        header->resizeSection(0, width * 3 / 4);
        header->resizeSection(1, width - width * 3 / 4);
    }
}

}  // namespace qvp3
