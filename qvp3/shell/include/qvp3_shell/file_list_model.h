// The rows of the main window's file list (and of the conversion pages'
// lists): one row per project entry, or per converted file, as the project
// store fills them. Column 0 holds the name with the file's image (and a
// check box on the MIDI step), column 1 the playing time, column 2 the pause
// on the WAV step. The name is edited in place (the file is renamed), rows
// are dragged to another place, and files dropped on the list are added.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qvp3_project/step_changes.h"

namespace qvp3 {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColumnName = 0, ColumnTime = 1, ColumnPause = 2 };
    // The MIME type of rows dragged inside the list: the row number as text.
    static constexpr const char* kRowMimeType = "application/x-qvp3-file-list-row";

    using ImageProvider = std::function<QIcon(int image)>;
    using DescriptionProvider = std::function<std::string(const ProjectEntry& entry)>;

    // mode: what the list shows (kFileListSources, kFileListMidi, kFileListWaves).
    explicit FileListModel(Project& project, int mode = kFileListSources, QObject* parent = nullptr);
    ~FileListModel() override;

    // Fills the rows from the project (prjFillFileList) and asks for the
    // current entry's row to be selected.
    void fill(bool rebuild = false);
    // The project store's view of the rows.
    FileListView& rows();
    // True while fill() runs: the rows' selection then follows the store.
    bool filling() const { return filling_; }
    Project& project() { return project_; }
    int mode() const { return mode_; }

    // The icons of the list's images; by default the style's file icons.
    void setImageProvider(ImageProvider provider) { images_ = std::move(provider); }
    // The tooltip of an entry that has a description; by default the
    // score's information text of its play model, and none for MIDI files.
    void setDescriptionProvider(DescriptionProvider provider) { descriptions_ = std::move(provider); }

    // The pause column of the WAV step: the entry's pause one second up
    // (delta 1, 10 wraps to 0) or down (-1, 0 wraps to 10), or set to seconds
    // (0..10). False without a pause column or for a row without an entry.
    bool stepPause(int row, int delta);
    bool setPause(int row, int seconds);
    bool hasPauseColumn() const { return pauseColumn_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // The store asked for this row to be selected, focused and shown.
    void rowSelectionRequested(int row);
    // An entry's check box, pause or file name changed the project.
    void projectChanged();
    // A row was dropped onto row `to` (its place after the move).
    void rowMoveRequested(int from, int to);
    // Files were dropped on the list.
    void filesDropped(const std::vector<std::filesystem::path>& files);
    // An edit was refused; the text says why.
    void editRefused(const QString& message);
    // The rows no longer show the project (a file was renamed).
    void refillRequested();

private:
    class Rows;
    struct Row {
        FileListRow row;
        bool checked = false;
    };
    friend class Rows;

    ProjectEntry* entryAt(int row) const;
    QString nameText(int row) const;
    bool renameRow(int row, const QString& stem);
    bool setChecked(int row, bool checked);

    Project& project_;
    int mode_;
    std::vector<Row> rows_;
    bool filling_ = false;
    bool pauseColumn_ = false;
    bool checkBoxes_ = false;
    std::string checkHeader_;
    std::unique_ptr<Rows> view_;
    ImageProvider images_;
    DescriptionProvider descriptions_;
};

// The local files named by dropped data.
std::vector<std::filesystem::path> appLocalFiles(const QMimeData& data);

// The style's icon standing for a list image (MIDI, score, MusicXML, WAV, unknown).
QIcon appFileListImage(int image);

}  // namespace qvp3
