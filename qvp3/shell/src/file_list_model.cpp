#include "qvp3_shell/file_list_model.h"

#include <QApplication>
#include <QMimeData>
#include <QStyle>
#include <QUrl>

#include <algorithm>

#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_shell/file_list_edit.h"

namespace qvp3 {

namespace fs = std::filesystem;

// What the project store fills: the model's rows, with the notifications
// the views need.
class FileListModel::Rows : public FileListView {
public:
    explicit Rows(FileListModel& model) : model_(model) {}

    int rowCount() const override { return static_cast<int>(model_.rows_.size()); }

    void clear() override {
        if (model_.rows_.empty()) return;
        model_.beginRemoveRows({}, 0, rowCount() - 1);
        model_.rows_.clear();
        model_.endRemoveRows();
    }

    bool showPauseColumn(bool show) override {
        if (model_.pauseColumn_ == show) return false;
        model_.beginResetModel();
        model_.pauseColumn_ = show;
        model_.rows_.clear();
        model_.endResetModel();
        return true;
    }

    void setCheckBoxes(std::string_view firstHeader) override {
        model_.checkBoxes_ = true;
        model_.checkHeader_ = std::string(firstHeader);
        emit model_.headerDataChanged(Qt::Horizontal, 0, 0);
    }

    void appendRow(const FileListRow& row) override {
        const int at = rowCount();
        model_.beginInsertRows({}, at, at);
        model_.rows_.push_back({row, false});
        model_.endInsertRows();
    }

    bool isChecked(int row) const override {
        return row >= 0 && row < rowCount() && model_.rows_[static_cast<std::size_t>(row)].checked;
    }

    void setChecked(int row, bool checked) override {
        if (row < 0 || row >= rowCount()) return;
        model_.rows_[static_cast<std::size_t>(row)].checked = checked;
        const QModelIndex cell = model_.index(row, ColumnName);
        emit model_.dataChanged(cell, cell, {Qt::CheckStateRole});
    }

    void selectRow(int row) override { emit model_.rowSelectionRequested(row); }

private:
    FileListModel& model_;
};

QIcon appFileListImage(int image) {
    QStyle* style = QApplication::style();
    switch (image) {
    case 11: return style->standardIcon(QStyle::SP_MediaVolume);         // MIDI file
    case 43: return style->standardIcon(QStyle::SP_MediaPlay);           // WAV file
    case 9:
    case 13:
    case 33: return style->standardIcon(QStyle::SP_FileDialogContentsView);  // scores
    default: return style->standardIcon(QStyle::SP_FileIcon);
    }
}

std::vector<fs::path> appLocalFiles(const QMimeData& data) {
    std::vector<fs::path> files;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile()) files.emplace_back(url.toLocalFile().toStdString());
    }
    return files;
}

FileListModel::FileListModel(Project& project, int mode, QObject* parent)
    : QAbstractTableModel(parent), project_(project), mode_(mode), view_(std::make_unique<Rows>(*this)),
      images_(appFileListImage), descriptions_([](const ProjectEntry& entry) -> std::string {
          if (entry.kind == EntryKind::Midi) return {};
          const PipelineEntryModel* model = cnvEntryModelIf(entry);
          return model != nullptr ? model->infoText : std::string();
      }) {}

FileListModel::~FileListModel() = default;

FileListView& FileListModel::rows() { return *view_; }

void FileListModel::fill(bool rebuild) {
    // The check boxes belong to the MIDI step only; the store sets them again there.
    if (checkBoxes_ && project_.currentStep != kStepMdc) {
        checkBoxes_ = false;
        rebuild = true;
        emit headerDataChanged(Qt::Horizontal, 0, 0);
    }
    filling_ = true;
    prjFillFileList(project_, *view_, rebuild, mode_);
    filling_ = false;
}

ProjectEntry* FileListModel::entryAt(int row) const {
    if (mode_ != kFileListSources || row < 0 || row >= project_.fileNum()) return nullptr;
    return &project_.entries[static_cast<std::size_t>(row)];
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return pauseColumn_ ? 3 : 2;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& r = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    if (role == Qt::DisplayRole) {
        if (column == ColumnName) return QString::fromStdString(r.row.name);
        if (column == ColumnTime) return QString::fromStdString(r.row.time);
        if (column == ColumnPause && r.row.pause) return QString::fromStdString(*r.row.pause);
        return {};
    }
    if (column != ColumnName) {
        return role == Qt::TextAlignmentRole ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    switch (role) {
    case Qt::DecorationRole: return images_ ? images_(r.row.image) : QIcon();
    case Qt::CheckStateRole:
        if (!checkBoxes_) return {};
        return r.checked ? Qt::Checked : Qt::Unchecked;
    case Qt::EditRole:
        if (const ProjectEntry* entry = entryAt(index.row())) {
            const fs::path& source = entry->FilenameOrig.empty() ? entry->Filename : entry->FilenameOrig;
            return QString::fromStdString(
                std::string(platform::removeStoredExtension(source.filename().string())));
        }
        return {};
    case Qt::ToolTipRole:
        if (const ProjectEntry* entry = entryAt(index.row()); entry != nullptr && descriptions_) {
            const std::string text = descriptions_(*entry);
            if (!text.empty()) return QString::fromStdString(text);
        }
        return {};
    default: return {};
    }
}

bool FileListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != ColumnName || index.row() >= rowCount()) return false;
    if (role == Qt::CheckStateRole && checkBoxes_) {
        return setChecked(index.row(), value.toInt() == Qt::Checked);
    }
    if (role == Qt::EditRole) return renameRow(index.row(), value.toString());
    return false;
}

bool FileListModel::setChecked(int row, bool checked) {
    ProjectEntry* entry = entryAt(row);
    if (entry == nullptr) return false;
    view_->setChecked(row, checked);
    const std::uint8_t flag = checked ? 1 : 0;
    if (entry->ConvertForQvo == flag) return true;
    entry->ConvertForQvo = flag;
    prjMarkStepDirty(project_);
    emit projectChanged();
    return true;
}

bool FileListModel::renameRow(int row, const QString& stem) {
    // Rows of converted files name no entry's source.
    if (entryAt(row) == nullptr) return false;
    const QString before = data(index(row, ColumnName), Qt::EditRole).toString();
    if (stem == before) return false;
    const std::string name = stem.toStdString();
    const int result = appRenameEntry(project_, row, name);
    if (result != kListEditOk) {
        emit editRefused(QString::fromStdString(appListEditMessage(project_.shell(), result, name)));
        return false;
    }
    // The row's text is the store's to make; the list is filled again once the edit has closed.
    emit refillRequested();
    emit projectChanged();
    return true;
}

bool FileListModel::stepPause(int row, int delta) {
    ProjectEntry* entry = entryAt(row);
    if (entry == nullptr || !pauseColumn_) return false;
    return setPause(row, ((entry->Pause + delta) % 11 + 11) % 11);
}

bool FileListModel::setPause(int row, int seconds) {
    ProjectEntry* entry = entryAt(row);
    if (entry == nullptr || !pauseColumn_ || seconds < 0 || seconds > 10) return false;
    entry->Pause = seconds;
    rows_[static_cast<std::size_t>(row)].row.pause = std::to_string(seconds);
    const QModelIndex cell = index(row, ColumnPause);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
    prjMarkStepDirty(project_);
    emit projectChanged();
    return true;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    ShellServices& shell = project_.shell();
    switch (section) {
    case ColumnName:
        return QString::fromStdString(checkBoxes_ ? checkHeader_ : shell.languageString(kStrFileListName));
    case ColumnTime: return QString::fromStdString(shell.languageString(kStrFileListTime));
    case ColumnPause: return QString::fromStdString(shell.languageString(kStrPauseColumn));
    default: return {};
    }
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return mode_ == kFileListSources ? Qt::ItemIsDropEnabled : Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const ProjectEntry* entry = entryAt(index.row());
    if (entry == nullptr) return f;
    f |= Qt::ItemIsDragEnabled;
    if (index.column() != ColumnName) return f;
    // Only scores are converted for the sample library; the store shows MIDI files unchecked.
    if (checkBoxes_ && isScoreKind(entry->kind)) f |= Qt::ItemIsUserCheckable;
    if (appCanRenameEntry(project_, index.row())) f |= Qt::ItemIsEditable;
    return f;
}

Qt::DropActions FileListModel::supportedDropActions() const { return Qt::MoveAction | Qt::CopyAction; }

QStringList FileListModel::mimeTypes() const { return {QString::fromLatin1(kRowMimeType), "text/uri-list"}; }

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty()) return nullptr;
    auto* data = new QMimeData;
    data->setData(kRowMimeType, QByteArray::number(indexes.first().row()));
    return data;
}

bool FileListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int, const QModelIndex&) const {
    return mode_ == kFileListSources && data != nullptr && (data->hasFormat(kRowMimeType) || data->hasUrls());
}

bool FileListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    if (data->hasFormat(kRowMimeType)) {
        bool ok = false;
        const int from = data->data(kRowMimeType).toInt(&ok);
        const int count = rowCount();
        if (!ok || from < 0 || from >= count) return false;
        // Dropped on a row: that row's place; between rows: before `row`.
        int to = parent.isValid() ? parent.row() : (row < 0 ? count - 1 : (row > from ? row - 1 : row));
        to = std::clamp(to, 0, count - 1);
        if (to != from) emit rowMoveRequested(from, to);
        // The move is done by the project; nothing of the source row is removed here.
        return false;
    }
    const std::vector<fs::path> files = appLocalFiles(*data);
    if (files.empty()) return false;
    emit filesDropped(files);
    return true;
}

}  // namespace qvp3
