// The voices of the current entry on the volume and panorama pages: one row
// per visible voice with its name, its value as the page shows it and a
// slider column whose sliders are the view's persistent editors, so they
// scroll with their rows and leave with them.
#pragma once

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QStyledItemDelegate>

#include <functional>
#include <vector>

#include "qvp3_project/project.h"

class QSlider;

namespace qvp3 {

class VolPanModel : public QAbstractTableModel {
public:
    static constexpr int kNameColumn = 0;
    static constexpr int kValueColumn = 1;
    static constexpr int kSliderColumn = 2;

    VolPanModel(bool panorama, QObject* parent);

    // Rows for the entry's visible, valid voices; none without an entry.
    void fill(ProjectEntry* entry);
    ProjectEntry* entry() const { return entry_; }
    bool panorama() const { return panorama_; }
    int minimum() const { return panorama_ ? -64 : 0; }
    int maximum() const { return panorama_ ? 63 : 127; }

    // The row's value as shown: the volume, or the stored panorama byte - 64.
    int value(int row) const;
    // Stores a shown value into the row's voice through the pipeline; false
    // for a row or value out of range.
    bool setValue(int row, int shown);
    // The slider's control id: the voice in the high 16 bits, the stave in the low.
    int controlId(int row) const;
    // A row's stave and voice (-1 for a row out of range).
    int stave(int row) const;
    int voice(int row) const;
    void setValueTitle(QString title) { valueTitle_ = std::move(title); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        int stave;
        int voice;
        QString name;
    };
    const VoicePlayRecord* record(int row) const;

    bool panorama_;
    ProjectEntry* entry_ = nullptr;
    std::vector<Row> rows_;
    QString nameTitle_;
    QString valueTitle_;
};

// Makes the sliders of the slider column; each reports its moves to
// onMoved(slider, code, position) with the page's scroll codes.
class VolPanSliderDelegate : public QStyledItemDelegate {
public:
    using MovedFn = std::function<void(QSlider*, int, int)>;
    VolPanSliderDelegate(MovedFn onMoved, QObject* parent);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}

private:
    MovedFn onMoved_;
};

// The panorama page's header: "L", "|" and "R" above the slider column.
class PanHeader : public QHeaderView {
public:
    explicit PanHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
};

}  // namespace qvp3

namespace qvp3 {

// The handlers that the volume and panorama pages share; the category of
// the page decides which value they show.
void stpFillVolPanSlots(StepPage& page);
// The page's voice list and its model; null before the page has its controls.
VolPanModel* stpVolPanModel(StepPage& page);

// Ids and strings of the two pages.
inline constexpr int kVolFrame = 5000;
inline constexpr int kVolList = 5001;
inline constexpr int kPanList = 6001;
inline constexpr int kStrVolumeColumn = 339;
inline constexpr int kStrPanoramaColumn = 340;

// The handlers' own steps, for the tests.
void stpVolPanFillList(StepPage& page);
void stpVolPanBuildSliders(StepPage& page);

}  // namespace qvp3
