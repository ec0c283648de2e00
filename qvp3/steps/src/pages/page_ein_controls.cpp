#include "page_ein_controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPalette>
#include <QRegularExpression>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "page_preview_link.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"

namespace qvp3::ein {

namespace {

constexpr int kGroupWidth = 400;
constexpr int kField = 140;       // where the fields start in a group
constexpr int kLinkRoom = 190;    // the play link right of the first group
constexpr int kMaxDurationTenths = 6000;
constexpr int kMinTabsWidth = 300;
constexpr int kMinTabsHeight = 160;

// The duration's up-down with its edit: seconds and tenths with a decimal
// comma ("1,5"); whole seconds of any length before the comma.
class DurationUpDown : public QSpinBox {
public:
    explicit DurationUpDown(QWidget* parent) : QSpinBox(parent) {}

protected:
    QString textFromValue(int tenths) const override {
        return QStringLiteral("%1,%2").arg(tenths / 10).arg(tenths % 10);
    }
    int valueFromText(const QString& text) const override {
        const QStringList parts = QString(text).replace(QLatin1Char('.'), QLatin1Char(',')).split(QLatin1Char(','));
        const int seconds = parts.value(0).trimmed().toInt();
        const int tenths = parts.size() > 1 ? parts.value(1).trimmed().left(1).toInt() : 0;
        return seconds * 10 + tenths;
    }
    QValidator::State validate(QString& text, int&) const override {
        static const QRegularExpression form(QStringLiteral("^\\s*\\d{0,3}([,.]\\d?)?\\s*$"));
        return form.match(text).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
    }
};

void notifyPage(StepPage* page, int id, int code, QWidget* widget, std::intptr_t value) {
    PageNotify notify{id, code, widget, value};
    if (page->onNotify) page->onNotify(*page, notify);
}

void connectCommand(StepPage* page, QAbstractButton* button, int id) {
    QObject::connect(button, &QAbstractButton::clicked, button, [page, button, id] {
        if (page->onCommand) page->onCommand(*page, id, button, kClicked);
    });
}

void connectList(StepPage* page, QComboBox* list, int id) {
    QObject::connect(list, &QComboBox::currentIndexChanged, list, [page, list, id] {
        if (page->onCommand) page->onCommand(*page, id, list, kSelChange);
    });
}

QWidget* buildFirstNotesDialog(StepPage* page, QTabWidget& tabs) {
    auto* dialog = new QWidget(&tabs);
    auto* layout = new QVBoxLayout(dialog);
    auto* label = stpNewControl<QLabel>(*dialog, kVoiceLabel);
    label->setText(stpText(kVoiceLabel));
    label->setWordWrap(true);
    auto* view = stpNewControl<QListView>(*dialog, kVoiceList);
    view->setModel(new QStandardItemModel(view));
    view->setSelectionMode(QAbstractItemView::MultiSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view,
                     [page, view] { notifyPage(page, kVoiceList, kItemChanged, view, 0); });
    layout->addWidget(label);
    layout->addWidget(view, 1);
    for (int id : {kFromTopRadio, kFromBottomRadio}) {
        auto* radio = stpNewControl<QRadioButton>(*dialog, id);
        radio->setText(stpText(id));
        connectCommand(page, radio, id);
        layout->addWidget(radio);
    }
    return dialog;
}

QWidget* buildChordDialog(StepPage* page, QTabWidget& tabs) {
    auto* dialog = new QWidget(&tabs);
    auto* grid = new QGridLayout(dialog);
    auto* root = stpNewControl<QComboBox>(*dialog, kRootList);
    for (int i = 0; i < 12; ++i) root->addItem(stpText(kStrFirstNoteName + i));
    auto* octave = stpNewControl<QComboBox>(*dialog, kOctaveList);
    for (int i = 1; i <= kOctaveItems; ++i) {
        const qvp3ui::LanguageModule* language = qvp3ui::language();
        const std::string text = language != nullptr ? language->format(kStrOctaveFormat, {std::int64_t{i}}) : "";
        octave->addItem(text.empty() ? QString::number(i) : QString::fromStdString(text));
    }
    int row = 0;
    for (auto [labelId, list] : {std::pair{kRootLabel, root}, std::pair{kOctaveLabel, octave}}) {
        auto* label = stpNewControl<QLabel>(*dialog, labelId);
        label->setText(stpText(labelId));
        grid->addWidget(label, row, 0);
        grid->addWidget(list, row++, 1);
        connectList(page, list, qvp3ui::controlId(*list));
    }
    for (int id : {kMajorRadio, kMinorRadio}) {
        auto* radio = stpNewControl<QRadioButton>(*dialog, id);
        radio->setText(stpText(id));
        connectCommand(page, radio, id);
        grid->addWidget(radio, row++, 0, 1, 2);
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    return dialog;
}

void buildTabs(StepPage* page, QWidget& dialog) {
    auto* tabs = stpNewControl<QTabWidget>(dialog, kTabs);
    tabs->setTabPosition(QTabWidget::West);
    tabs->addTab(buildFirstNotesDialog(page, *tabs), stpText(kStrFirstNotesTab));
    tabs->addTab(buildChordDialog(page, *tabs), stpText(kStrChordTab));
    for (int i = 0; i < tabs->count(); ++i) {
        // The child dialogs wear the page's colours, as their texts do.
        QWidget* child = tabs->widget(i);
        QPalette palette = child->palette();
        palette.setColor(QPalette::Window, kPageGroupBackground);
        child->setPalette(palette);
        child->setAutoFillBackground(true);
    }
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs,
                     [page, tabs](int index) { notifyPage(page, kTabs, kTabSelChange, tabs, index); });
}

void buildGroups(StepPage* page, QWidget& dialog) {
    for (int id : {kGroupTiming, kGroupSound}) stpNewControl<QGroupBox>(dialog, id)->setTitle(stpText(id));
    for (int id : {kDurationLabel, kDurationUnit, kArpeggioTempoLabel, kVolumeLabel, kInstrumentLabel}) {
        stpNewControl<QLabel>(dialog, id)->setText(stpText(id));
    }
    stpNewControl<QLabel>(dialog, kVolumeNumber)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (int id : {kOnOffBox, kArpeggioBox, kHeldBox}) {
        auto* box = stpNewControl<QCheckBox>(dialog, id);
        box->setText(stpText(id));
        connectCommand(page, box, id);
    }
    auto* duration = new DurationUpDown(&dialog);
    qvp3ui::setControlId(*duration, kEinDurationUpDown);
    duration->setRange(0, kMaxDurationTenths);
    if (auto* edit = duration->findChild<QLineEdit*>()) qvp3ui::setControlId(*edit, kDurationEdit);
    QObject::connect(duration, &QSpinBox::valueChanged, duration, [page, duration](int value) {
        if (page->onVScroll) page->onVScroll(*page, duration, kThumbTrack, value);
    });
    auto* tempo = stpNewControl<QComboBox>(dialog, kArpeggioTempoList);
    for (int i = 0; i < 3; ++i) tempo->addItem(stpText(kStrFirstArpeggioTempo + i));
    connectList(page, tempo, kArpeggioTempoList);
    auto* instruments = stpNewControl<QComboBox>(dialog, kInstrumentList);
    instruments->setMaxVisibleItems(16);
    connectList(page, instruments, kInstrumentList);
    auto* volume = stpNewControl<QSlider>(dialog, kVolumeBar);
    volume->setOrientation(Qt::Horizontal);
    volume->setRange(kMinVolume, 127);
    QObject::connect(volume, &QSlider::valueChanged, volume, [page, volume](int value) {
        if (page->onHScroll) page->onHScroll(*page, volume, kThumbTrack, value);
    });
    QObject::connect(volume, &QSlider::sliderReleased, volume, [page, volume] {
        if (page->onHScroll) page->onHScroll(*page, volume, kEndTrack, volume->value());
    });
    // The groups lie below their contents.
    for (int id : {kGroupTiming, kGroupSound}) qvp3ui::findControl(dialog, id)->lower();
}

}  // namespace

int listIndex(StepPage& page, int id) {
    const auto* list = control<QComboBox>(page, id);
    return list != nullptr ? list->currentIndex() : -1;
}

void setChecked(StepPage& page, int id, bool checked) {
    if (auto* button = control<QAbstractButton>(page, id)) button->setChecked(checked);
}

void showDuration(StepPage& page, int ms) {
    if (auto* upDown = control<QSpinBox>(page, kEinDurationUpDown)) upDown->setValue(std::max(ms, 0) / 100);
}

ControlBlocker::ControlBlocker(StepPage& page) {
    if (page.window == nullptr) return;
    // Only the page's own controls: the parts inside a control (the tab
    // control's bar) must still tell it, or it would not follow.
    for (QWidget* child : page.window->findChildren<QWidget*>()) {
        if (qvp3ui::controlId(*child) >= 0) blockers_.push_back(std::make_unique<QSignalBlocker>(child));
    }
}

void einBuildControls(StepPage& page, QWidget& dialog) {
    buildGroups(&page, dialog);
    buildTabs(&page, dialog);
}

void einLayout(StepPage& page) {
    if (page.window == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const int x = content.left();
    const int y = content.top() + 30;
    const auto place = [&](int id, int left, int top, int width, int height) {
        if (QWidget* c = qvp3ui::findControl(*page.window, id)) c->setGeometry(left, top, width, height);
    };
    const int inner = kGroupWidth - 24;
    place(kOnOffBox, x, y, kGroupWidth, 28);
    const int g1 = y + 40;
    place(kGroupTiming, x, g1, kGroupWidth, 154);
    place(kDurationLabel, x + 12, g1 + 26, kField - 16, 26);
    place(kEinDurationUpDown, x + kField, g1 + 27, 72, 24);
    place(kDurationUnit, x + kField + 80, g1 + 26, kGroupWidth - kField - 92, 26);
    place(kArpeggioBox, x + 12, g1 + 60, inner, 24);
    place(kArpeggioTempoLabel, x + 12, g1 + 90, kField - 16, 26);
    place(kArpeggioTempoList, x + kField, g1 + 90, kGroupWidth - kField - 12, 26);
    place(kHeldBox, x + 12, g1 + 122, inner, 24);
    const int g2 = g1 + 166;
    place(kGroupSound, x, g2, kGroupWidth, 100);
    place(kVolumeLabel, x + 12, g2 + 26, kField - 16, 26);
    place(kVolumeBar, x + kField, g2 + 26, kGroupWidth - kField - 68, 26);
    place(kVolumeNumber, x + kGroupWidth - 60, g2 + 26, 48, 26);
    place(kInstrumentLabel, x + 12, g2 + 60, kField - 16, 26);
    place(kInstrumentList, x + kField, g2 + 60, kGroupWidth - kField - 12, 26);
    // Beside the groups and the play link where the page is wide enough,
    // else below them.
    const int tabsLeft = x + kGroupWidth + kLinkRoom;
    if (content.right() - tabsLeft >= kMinTabsWidth) {
        place(kTabs, tabsLeft, y, content.right() - tabsLeft, g2 + 100 - y);
    } else {
        const int top = g2 + 112;
        place(kTabs, x, top, std::min(content.width(), kGroupWidth + kLinkRoom),
              std::max(kMinTabsHeight, page.window->height() - top - 10));
    }
}

StepPage::Result einOnCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    if (widget == nullptr) return 0;
    switch (qvp3ui::controlId(*widget)) {
    case kOnOffBox: case kDurationLabel: case kDurationUnit: case kArpeggioBox: case kArpeggioTempoLabel:
    case kHeldBox: case kVolumeLabel: case kVolumeNumber: case kInstrumentLabel:
    case kVoiceLabel: case kFromTopRadio: case kFromBottomRadio:
    case kRootLabel: case kOctaveLabel: case kMajorRadio: case kMinorRadio:
        stpColourControl(palette, PageColour::Label);
        return 1;
    case kGroupTiming: case kGroupSound: stpColourControl(palette, PageColour::Group); return 1;
    case kDurationEdit: stpColourControl(palette, PageColour::NumberEdit); return 1;
    default: return 0;
    }
}

}  // namespace qvp3::ein
