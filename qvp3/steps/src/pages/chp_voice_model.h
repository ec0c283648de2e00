// The rows of the channels and instruments page: one per listed voice of an
// entry, its channel and instrument read from the entry's records whenever
// the view asks, so the list always shows what the entry holds.
#pragma once

#include <QAbstractTableModel>
#include <QStandardItemModel>

#include <utility>
#include <vector>

#include "qvp3_project/project.h"

namespace qvp3 {

class ChpVoiceModel : public QAbstractTableModel {
public:
    explicit ChpVoiceModel(QObject* parent = nullptr);

    // The voices of entry (null: none) that the shared voice-list routine
    // lists; the stave count is the pipeline's for the entry.
    void fill(const ProjectEntry* entry, int staves);
    // The entry's records changed: every row is shown again.
    void refresh();
    // (stave, voice) of a row.
    std::pair<int, int> voiceOf(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const ProjectEntry* entry_ = nullptr;
    // Column 0 as the shared routines make it: text, image and item data.
    QStandardItemModel rows_;
};

}  // namespace qvp3
