// The transposition page: the current entry moves by -12 to +12 semitones,
// and a MIDI entry may take its percussion along.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

#include "page_trp.h"
#include "page_preview_link.h"
#include "voice_pages_common.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kHeading = 3;
constexpr int kCaptionFormat = 4;  // "%s": one of the three below
constexpr int kAsWritten = 5;
constexpr int kLower = 6;
constexpr int kHigher = 7;
constexpr int kPercussionCaption = 330;
constexpr int kNote = 425;
constexpr int kEditWidth = 70;
constexpr int kRowHeight = 28;

// Shows "+3" for a step up: a musician reads the direction at a glance.
class SemitoneBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override {
        return value > 0 ? QStringLiteral("+%1").arg(value) : QString::number(value);
    }
    int valueFromText(const QString& text) const override { return text.toInt(); }
};

std::string captionText(int semitones) {
    const int argument = semitones < 0 ? kLower : semitones == 0 ? kAsWritten : kHigher;
    const qvp3ui::LanguageModule* language = qvp3ui::language();
    if (language == nullptr) return {};
    const std::string word = language->string(argument);
    return QString::fromStdString(language->format(kCaptionFormat, {std::string_view(word)})).left(64).toStdString();
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    auto* caption = new QLabel(dialog);
    qvp3ui::setControlId(*caption, kTrpCaption);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    caption->setFont(stpDescriptionFont());

    auto* value = new SemitoneBox(dialog);
    qvp3ui::setControlId(*value, kTrpUpDown);
    value->setRange(kTrpLowest, kTrpHighest);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont itemFont = stpDescriptionFont();
    itemFont.setBold(true);
    value->setFont(itemFont);
    if (auto* edit = value->findChild<QLineEdit*>()) {
        qvp3ui::setControlId(*edit, kTrpEdit);
        edit->setReadOnly(true);  // the arrows and keys change the value, typing does not
        QPalette colours = edit->palette();
        colours.setColor(QPalette::Text, kPageValueText);
        colours.setColor(QPalette::Base, Qt::white);
        edit->setPalette(colours);
    }
    StepPage* self = &page;
    QObject::connect(value, &QSpinBox::valueChanged, value, [self, value](int position) {
        if (self->onVScroll) self->onVScroll(*self, value, 0, position);
    });

    auto* percussion = new QCheckBox(QString::fromStdString(qvp3ui::uiString(kPercussionCaption)), dialog);
    qvp3ui::setControlId(*percussion, kTrpPercussionBox);
    percussion->setFont(stpDescriptionFont());
    QObject::connect(percussion, &QCheckBox::clicked, percussion, [self, percussion] {
        if (self->onCommand) self->onCommand(*self, kTrpPercussionBox, percussion, 0);
    });
    return 1;
}

void onSize(StepPage& page) {
    auto* value = stpControl<QSpinBox>(page, kTrpUpDown);
    auto* caption = stpControl<QLabel>(page, kTrpCaption);
    auto* percussion = stpControl<QCheckBox>(page, kTrpPercussionBox);
    if (value == nullptr || caption == nullptr || percussion == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const int clientRight = page.window->rect().right();
    value->setGeometry(content.left() + 10, content.top() + 30, kEditWidth, kRowHeight);
    // The caption takes the rest of the row: a translation may need more than 180.
    const int captionLeft = value->geometry().right() + 21;
    caption->setGeometry(captionLeft, value->y(), std::max(180, clientRight - captionLeft - 10), kRowHeight);
    const int boxWidth = std::min(320, clientRight - value->x() - 10);
    percussion->setGeometry(content.left() + 10, value->geometry().bottom() + 21, std::max(boxWidth, 0), kRowHeight);
}

StepPage::Result onCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    if (widget == nullptr) return 0;
    const int id = qvp3ui::controlId(*widget);
    if (id != kTrpCaption && id != kTrpPercussionBox) return 0;
    palette.setColor(QPalette::WindowText, kPageLabelText);
    palette.setColor(QPalette::Window, Qt::transparent);
    return 1;
}

void onPaint(StepPage& page, QPainter& painter, const QRect& body) {
    const auto* percussion = stpControl<QCheckBox>(page, kTrpPercussionBox);
    if (page.window == nullptr || percussion == nullptr) return;
    QFont heading = stpDescriptionFont();
    heading.setBold(true);
    painter.setFont(heading);
    painter.setPen(kPageLabelText);
    const QRect headingRect(body.left(), body.top(), body.width(), painter.fontMetrics().height() + 4);
    painter.drawText(headingRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(QString::fromStdString(qvp3ui::uiString(kHeading)),
                                                      Qt::ElideRight, headingRect.width()));
    const QRect box = percussion->geometry();
    const QPixmap icon = voicepages::noteIcon();
    painter.drawPixmap(box.left() + 15, box.bottom() + 6, icon);
    painter.setFont(voicepages::noteFont());
    painter.setPen(kPageNoteText);
    const QRect note(QPoint(box.left() + icon.width() + 17, box.bottom() + 8),
                     QPoint(page.window->rect().right() - 10, box.bottom() + 240));
    painter.drawText(note, Qt::TextWordWrap, QString::fromStdString(qvp3ui::uiString(kNote)));
}

StepPage::Result onVScroll(StepPage& page, QWidget* upDown, int, int position) {
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || upDown == nullptr || qvp3ui::controlId(*upDown) != kTrpUpDown) return 0;
    Project& project = stpPageHost()->project();
    project.pipeline().cnvEntrySetTranspose(*entry, std::clamp(position, kTrpLowest, kTrpHighest));
    stpTrpShowValues(page);
    stpPageEdited();
    return 0;
}

StepPage::Result onCommand(StepPage& page, int id, QWidget*, int code) {
    ProjectEntry* entry = stpCurrentEntry();
    if (id != kTrpPercussionBox || code != 0 || entry == nullptr) return 0;
    entry->TransposePercussion = entry->TransposePercussion != 0 ? 0 : 1;
    if (auto* box = stpControl<QCheckBox>(page, kTrpPercussionBox)) box->setChecked(entry->TransposePercussion != 0);
    stpPageEdited();
    return 0;
}

}  // namespace

int stpTrpTransposition(const ProjectEntry& entry) {
    return entry.voices.empty() ? 0 : std::clamp<int>(entry.voices.front().transposition, kTrpLowest, kTrpHighest);
}

void stpTrpShowValues(StepPage& page) {
    auto* value = stpControl<QSpinBox>(page, kTrpUpDown);
    auto* caption = stpControl<QLabel>(page, kTrpCaption);
    auto* percussion = stpControl<QCheckBox>(page, kTrpPercussionBox);
    if (static_cast<int>(page.category) != kStepTrp || value == nullptr || caption == nullptr || percussion == nullptr) {
        return;
    }
    const ProjectEntry* entry = stpCurrentEntry();
    const int semitones = entry != nullptr ? stpTrpTransposition(*entry) : 0;
    {
        const QSignalBlocker quiet(value);  // showing is no edit
        value->setValue(semitones);
    }
    caption->setText(QString::fromStdString(captionText(semitones)));
    percussion->setChecked(entry != nullptr && entry->TransposePercussion != 0);
    value->setEnabled(entry != nullptr);
    caption->setEnabled(entry != nullptr);
    percussion->setEnabled(entry != nullptr && entry->kind == EntryKind::Midi);
    caption->update();
    percussion->update();
}

void stpFillTrpSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onCtlColor = onCtlColor;
    page.onPaint = onPaint;
    page.onVScroll = onVScroll;
    page.onCommand = onCommand;
    page.onPartChanged = [](StepPage& p, std::intptr_t) -> StepPage::Result {
        stpTrpShowValues(p);
        return 0;
    };
    page.onShow = [](StepPage& p, bool shown) {
        if (shown) stpTrpShowValues(p);
        return stpFrameworkOnShow(p, shown);
    };
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
