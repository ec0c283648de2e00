// The staves of a MIDI entry on the velocity page: a check box for a
// relative velocity, the stave's name and its velocity. The model shows what
// the page gives it; the page decides what reaches the entry.
#pragma once

#include <QAbstractTableModel>

#include <functional>
#include <vector>

#include "qvp3_project/project.h"

namespace qvp3 {

class ShvStaffModel : public QAbstractTableModel {
public:
    static constexpr int kCheckColumn = 0;
    static constexpr int kNameColumn = 1;
    static constexpr int kValueColumn = 2;

    // Called when the user ticks or clears a row's box (not while filling).
    using ToggledFn = std::function<void(int row, bool relative)>;

    explicit ShvStaffModel(QObject* parent) : QAbstractTableModel(parent) {}

    // One row per visible, valid stave that has a velocity record.
    void fill(const ProjectEntry* entry);
    void clear();
    void setTitles(QString check, QString name, QString value);
    void setToggled(ToggledFn toggled) { toggled_ = std::move(toggled); }

    int stave(int row) const;
    bool relative(int row) const;
    int value(int row) const;
    void setRow(int row, bool relative, int value);
    // True exactly while the model fills its rows.
    bool filling() const { return filling_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        int stave;
        bool relative;
        int value;
        QString name;
    };
    bool valid(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }

    std::vector<Row> rows_;
    QString titles_[3];
    ToggledFn toggled_;
    bool filling_ = false;
};

// A velocity after a click (+) or right click (-) on it: steps of 1, or 10
// with Shift; a step that reaches or passes the end gives the end, a step
// from the end wraps to the other end. Relative: -100..100, absolute: 0..127.
int stpShvStepVelocity(int value, bool relative, bool raise, bool shift);

}  // namespace qvp3
