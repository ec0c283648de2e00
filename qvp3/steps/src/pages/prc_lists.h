// The two lists of the percussion page: the current entry's percussion
// staves, and the instruments of one of them with the key each is played on.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "qvp3_project/project.h"

namespace qvp3 {

// Ids of the page's controls.
inline constexpr int kPrcKeyCaption = 7000;
inline constexpr int kPrcKeyCombo = 7001;
inline constexpr int kPrcStaveList = 7002;
inline constexpr int kPrcInstrumentList = 7003;
inline constexpr int kPrcOptionCheck = 7004;

// A key as the instrument list shows it: its percussion name (language
// string 32125 + key) for keys 35 to 81, else the number.
inline constexpr int kStrFirstPercussionName = 32125;
QString stpPrcKeyText(int key);

class PrcStaveModel : public QAbstractTableModel {
public:
    explicit PrcStaveModel(QObject* parent) : QAbstractTableModel(parent) {}
    // The percussion staves of the entry ("<number from 1>: <name>"); none without one.
    void fill(ProjectEntry* entry);
    int stave(int row) const;
    void setTitle(QString title) { title_ = std::move(title); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<std::pair<int, QString>> rows_;
    QString title_;
};

class PrcInstrumentModel : public QAbstractTableModel {
public:
    explicit PrcInstrumentModel(QObject* parent) : QAbstractTableModel(parent) {}
    // The instrument records of one stave of the entry; none for a stave it lacks.
    void fill(ProjectEntry* entry, int stave);
    ProjectEntry* entry() const { return entry_; }
    int stave() const { return stave_; }
    // The row's mapped key (-1 unset or a row out of range), and setting it.
    int key(int row) const;
    bool setKey(int row, int key);
    void setTitles(QString key, QString name);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<scorecore::CMidiInstr>* records() const;

    ProjectEntry* entry_ = nullptr;
    int stave_ = -1;
    QString titles_[2];
};

}  // namespace qvp3
