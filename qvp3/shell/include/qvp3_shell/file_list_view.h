// The main window's file list (control 1003) at work: a tree view over a
// FileListModel with one selected row, the current row as the project's
// current entry, its name renamed in place, rows dragged to another place,
// files dropped on it added, the pause cells clicked on the WAV step, and the
// tooltip of the row under the pointer. The main window makes the view and
// the host; this object ties them together and lives as long as the view.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTreeView>

#include "qvp3_shell/file_list_edit.h"
#include "qvp3_shell/file_list_model.h"

namespace qvp3 {

// The view's property naming the row whose tooltip shows (-1 none).
inline constexpr const char* kTipRowProperty = "TTSelectedFile";

class FileListController : public QObject {
    Q_OBJECT
public:
    // Sets model on view and the view's behaviour (single selection, full
    // rows, in-place editing, dragging and dropping).
    FileListController(QTreeView& view, FileListModel& model, ListAreaHost& host);

    QTreeView& view() { return *view_; }
    FileListModel& model() { return model_; }

    // Fills the list from the project and sets the column widths; the
    // selection's signals stay quiet meanwhile.
    void fill(bool rebuild = false);
    // Whether the list's current row makes the project's current entry
    // (true), or someone else does that and the list only reports it.
    void setFollowsSelection(bool follows) { followsSelection_ = follows; }
    // Hides the tooltip and forgets its row (the pointer left the list).
    void hideTip();
    // A window of the list area over which the pointer hides the list's tooltip.
    void watchPanel(QWidget& panel);
    // The row whose tooltip shows, -1 none.
    int tipRow() const { return tipRow_; }

signals:
    // The project's current entry changed with the list's current row.
    void currentEntryChanged(int previous, int current);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void selectRow(int row);
    void currentRowChanged(const QModelIndex& current);
    void moveRow(int from, int to);
    void showRefusal(const QString& message);
    bool pauseClick(const QPoint& position, Qt::MouseButton button);
    void trackTip(const QPoint& position);

    QPointer<QTreeView> view_;
    FileListModel& model_;
    ListAreaHost& host_;
    int tipRow_ = -1;
    int current_ = -1;
    bool followsSelection_ = true;
};

// Column widths of the file list: name 3/4 and time the rest; with the pause
// column 6/10, 2/10 and the rest.
void appSetFileListColumns(QTreeView& list);

}  // namespace qvp3
