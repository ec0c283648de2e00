#include "vol_pan_grid.h"

#include <QPainter>
#include <QSlider>
#include <QStandardItemModel>

#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

// The scroll codes a slider reports: thumb tracking, and the end of it.
constexpr int kScrollTrack = 5;
constexpr int kScrollEnd = 8;

}  // namespace

VolPanModel::VolPanModel(bool panorama, QObject* parent)
    : QAbstractTableModel(parent),
      panorama_(panorama),
      nameTitle_(QString::fromStdString(qvp3ui::uiString(kStrStaveColumn))) {}

void VolPanModel::fill(ProjectEntry* entry) {
    beginResetModel();
    rows_.clear();
    entry_ = entry;
    if (entry != nullptr) {
        // The voice list's own rules decide which voices are listed and how
        // they are named; its rows carry the stave and voice.
        QStandardItemModel list;
        cnvSetListColumnTitle(*entry, list);
        nameTitle_ = list.horizontalHeaderItem(0)->text();
        const int staves = static_cast<int>(entry->voiceCounts.size());
        for (int s = 0; s < staves; ++s) {
            for (int v = 0; v < entry->voiceCounts[static_cast<std::size_t>(s)]; ++v) {
                if (!cnvFillVoiceList(*entry, s, v, list, list.rowCount())) continue;
                rows_.push_back(Row{s, v, list.item(list.rowCount() - 1)->text()});
            }
        }
    }
    endResetModel();
}

const VoicePlayRecord* VolPanModel::record(int row) const {
    if (entry_ == nullptr || row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    const Row& r = rows_[static_cast<std::size_t>(row)];
    return entry_->voiceRecord(r.stave, r.voice);
}

int VolPanModel::value(int row) const {
    const VoicePlayRecord* voice = record(row);
    if (voice == nullptr) return 0;
    return panorama_ ? static_cast<std::uint8_t>(voice->panorama) - 64 : static_cast<std::uint8_t>(voice->volume);
}

bool VolPanModel::setValue(int row, int shown) {
    if (record(row) == nullptr || shown < minimum() || shown > maximum()) return false;
    const Row& r = rows_[static_cast<std::size_t>(row)];
    PipelineServices& pipeline = entry_->project->pipeline();
    if (panorama_) {
        pipeline.cnvEntrySetVoicePanorama(*entry_, shown + 64, r.stave, r.voice);
    } else {
        pipeline.cnvEntrySetVoiceVolume(*entry_, shown, r.stave, r.voice);
    }
    emit dataChanged(index(row, kValueColumn), index(row, kSliderColumn));
    return true;
}

int VolPanModel::controlId(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return 0;
    const Row& r = rows_[static_cast<std::size_t>(row)];
    return static_cast<int>((static_cast<unsigned>(r.voice) << 16) | (static_cast<unsigned>(r.stave) & 0xFFFF));
}

int VolPanModel::stave(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].stave : -1;
}

int VolPanModel::voice(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].voice : -1;
}

int VolPanModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int VolPanModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant VolPanModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const int row = index.row();
    if (index.column() == kNameColumn && role == Qt::DisplayRole) return rows_[static_cast<std::size_t>(row)].name;
    if (index.column() == kValueColumn && role == Qt::DisplayRole) return QString::number(value(row));
    if (index.column() == kValueColumn && role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (index.column() == kSliderColumn && role == Qt::EditRole) return value(row);
    return {};
}

QVariant VolPanModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        if (section == kNameColumn) return nameTitle_;
        if (section == kValueColumn) return valueTitle_;
        return {};
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(section == kValueColumn ? Qt::AlignRight | Qt::AlignVCenter
                                                           : Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

VolPanSliderDelegate::VolPanSliderDelegate(MovedFn onMoved, QObject* parent)
    : QStyledItemDelegate(parent), onMoved_(std::move(onMoved)) {}

QWidget* VolPanSliderDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                            const QModelIndex& index) const {
    const auto* model = static_cast<const VolPanModel*>(index.model());
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QString::number(model->controlId(index.row())));
    slider->setProperty("LFNummer", index.row());
    slider->setRange(model->minimum(), model->maximum());
    slider->setFocusPolicy(Qt::StrongFocus);
    slider->setTickPosition(QSlider::NoTicks);
    slider->setAutoFillBackground(true);
    QPalette palette = slider->palette();
    palette.setColor(QPalette::Window, kPageBackground);
    slider->setPalette(palette);
    QSlider* self = slider;
    connect(slider, &QSlider::valueChanged, slider, [this, self](int position) {
        if (onMoved_) onMoved_(self, kScrollTrack, position);
    });
    connect(slider, &QSlider::sliderReleased, slider, [this, self] {
        if (onMoved_) onMoved_(self, kScrollEnd, self->value());
    });
    return slider;
}

void VolPanSliderDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* slider = qobject_cast<QSlider*>(editor);
    if (slider == nullptr) return;
    const QSignalBlocker quiet(slider);
    slider->setValue(index.data(Qt::EditRole).toInt());
}

void PanHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    if (logicalIndex != VolPanModel::kSliderColumn) return;
    const QRect inner = rect.adjusted(5, 0, -5, 0);
    const int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    painter->save();
    painter->setClipRect(rect);
    painter->setPen(QPen(palette().color(QPalette::ButtonText)));
    painter->setFont(font());
    painter->drawText(inner, flags | Qt::AlignLeft, QStringLiteral("L"));
    painter->drawText(inner, flags | Qt::AlignHCenter, QStringLiteral("|"));
    painter->drawText(inner, flags | Qt::AlignRight, QStringLiteral("R"));
    painter->restore();
}

}  // namespace qvp3
