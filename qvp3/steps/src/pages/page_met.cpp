// The metronome page: count-in, whether and how the metronome clicks with
// the music, and a preview that clicks through the preview output. The
// values are the current entry's metronome record, edited in place.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>

#include <array>

#include "page_preview_link.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

// Control ids; each label's text is the language string of the same number.
enum : int {
    kCountInLabel = 14000,
    kCountInUnit = 14001,
    kCountInEdit = 14002,
    kGroupMetronome = 14004,
    kUsedBox = 14005,
    kInstrumentLabel = 14006,
    kInstrumentList = 14007,
    kFirstBeatBox = 14008,
    kVelocityLabel = 14009,
    kVelocityEdit = 14010,
    kGroupBeats = 14012,
    kLastBeatBox = 14013,
    kFrequencyList = 14014,
    kFrequencyLabel = 14015,
    kVolumeBar = 14016,
    kVolumeNumber = 14017,
    kOptionBox = 14018,
};
// The frequency list's items: strings 14020 (index 0) to 14024.
constexpr int kStrFirstFrequency = 14020;
constexpr int kFrequencyItems = 5;
constexpr int kHoverMet = 6;
// The project's play option that plays the metronome.
constexpr std::uint64_t kOptionMetronome = 0x2000;

constexpr int kFirstPercussionKey = 27;
constexpr int kLastPercussionKey = 87;
// The percussion keys outside the pipeline's table of 35..81.
constexpr std::array<const char*, 8> kLowKeyNames = {"High Q",      "Slap",         "Scratch Push",    "Scratch Pull",
                                                     "Sticks",      "Square Click", "Metronome Click", "Metronome Bell"};
constexpr std::array<const char*, 6> kHighKeyNames = {"Shaker",    "Jingle Bell", "Bell Tree",
                                                      "Castanets", "Mute Surdo",  "Open Surdo"};

// Windows notification codes the page's controls send.
constexpr int kClicked = 0;     // BN_CLICKED
constexpr int kSelChange = 1;   // CBN_SELCHANGE
constexpr int kThumbTrack = 5;  // TB_THUMBTRACK, SB_THUMBPOSITION for the up-downs
constexpr int kEndTrack = 8;    // TB_ENDTRACK

QString percussionName(int key) {
    if (key < 35) return QString::fromLatin1(kLowKeyNames[static_cast<std::size_t>(key - kFirstPercussionKey)]);
    if (key > 81) return QString::fromLatin1(kHighKeyNames[static_cast<std::size_t>(key - 82)]);
    return QString::fromStdString(cnvPercussionKeyName(key));
}

template <class Control>
Control* control(StepPage& page, int id) {
    return page.window != nullptr ? qvp3ui::findControl<Control>(*page.window, id) : nullptr;
}

bool previewRuns(StepPage& page) {
    const auto* data = stpData<PreviewData>(page);
    return data != nullptr && data->preview != nullptr;
}

// The controls that follow whether the metronome is used.
void enableByUsed(StepPage& page, const scorecore::CMetronom& metronome, bool on) {
    const bool used = on && metronome.Use != 0;
    stpEnableIds(page, {kGroupBeats, kFrequencyList, kFrequencyLabel}, used);
    stpEnableIds(page, {kLastBeatBox}, used && metronome.Frequency != 0);
}

// enableControls: every control follows whether there is an entry and the
// page is on; while the preview clicks, the count-in, the used box and the
// option stay as they are shown.
void metEnableControls(StepPage& page, bool on) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = stpCurrentEntry();
    const bool playing = host != nullptr && prjFindBusyEntry(host->project()) != -1;
    auto* data = stpData<PreviewData>(page);
    const bool wasDisabled = data != nullptr && data->toggleDisabled;
    if (data != nullptr) data->toggleDisabled = !on || entry == nullptr || playing;
    const bool enable = on && entry != nullptr;
    const bool free = enable && !previewRuns(page) && !playing;
    stpEnableIds(page, {kCountInLabel, kCountInUnit, kCountInEdit, kMetCountInUpDown, kUsedBox, kOptionBox}, free);
    stpEnableIds(page, {kGroupMetronome, kInstrumentLabel, kInstrumentList, kFirstBeatBox, kVelocityLabel,
                        kVelocityEdit, kMetVelocityUpDown, kVolumeBar, kVolumeNumber},
                 enable);
    if (entry != nullptr) {
        enableByUsed(page, entry->metronome, enable);
    } else {
        stpEnableIds(page, {kGroupBeats, kFrequencyList, kFrequencyLabel, kLastBeatBox}, false);
    }
    if (page.window != nullptr && data != nullptr && wasDisabled != data->toggleDisabled) page.window->update();
}

// Shows the current entry's metronome; false without one.
bool metShowValues(StepPage& page) {
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || page.window == nullptr) return false;
    const scorecore::CMetronom& m = entry->metronome;
    auto* countIn = control<QSpinBox>(page, kMetCountInUpDown);
    auto* used = control<QCheckBox>(page, kUsedBox);
    auto* instrument = control<QComboBox>(page, kInstrumentList);
    auto* velocity = control<QSpinBox>(page, kMetVelocityUpDown);
    auto* frequency = control<QComboBox>(page, kFrequencyList);
    auto* firstBeat = control<QCheckBox>(page, kFirstBeatBox);
    auto* lastBeat = control<QCheckBox>(page, kLastBeatBox);
    auto* volume = control<QSlider>(page, kVolumeBar);
    auto* number = control<QLabel>(page, kVolumeNumber);
    auto* option = control<QCheckBox>(page, kOptionBox);
    if (!countIn || !used || !instrument || !velocity || !frequency || !firstBeat || !lastBeat || !volume ||
        !number || !option) {
        return false;
    }
    const QSignalBlocker b1(countIn), b2(used), b3(instrument), b4(velocity), b5(frequency), b6(firstBeat),
        b7(lastBeat), b8(volume), b9(option);
    countIn->setValue(m.CountIn);
    used->setChecked(m.Use != 0);
    // A key outside the list (from an older file) selects nothing.
    instrument->setCurrentIndex(m.Instrument >= kFirstPercussionKey && m.Instrument <= kLastPercussionKey
                                    ? m.Instrument - kFirstPercussionKey
                                    : -1);
    velocity->setValue(m.Velocity);
    frequency->setCurrentIndex(m.Frequency >= 0 && m.Frequency < kFrequencyItems ? m.Frequency : -1);
    firstBeat->setChecked(m.FirstBeat != 0);
    lastBeat->setChecked(m.LastBeat != 0);
    volume->setValue(m.Volume);
    number->setText(QString::number(m.Volume));
    if (StepPageHost* host = stpPageHost()) option->setChecked((host->project().playFeatures & kOptionMetronome) != 0);
    metEnableControls(page, true);
    page.window->update();
    return true;
}

StepPage::Result metOnCommand(StepPage& page, int id, QWidget*, int code) {
    if (id == kCmdToggle) {
        if (page.onToggle) page.onToggle(page);
        return 0;
    }
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr) return 0;
    scorecore::CMetronom& m = entry->metronome;
    switch (id) {
    case kUsedBox:
        m.Use = stpPageBoxChecked(page, kUsedBox) ? 1 : 0;
        enableByUsed(page, m, true);
        break;
    case kInstrumentList: {
        if (code != kSelChange) return 0;
        const auto* list = control<QComboBox>(page, kInstrumentList);
        if (list == nullptr || list->currentIndex() < 0) return 0;
        m.Instrument = static_cast<std::uint8_t>(list->currentIndex() + kFirstPercussionKey);
        break;
    }
    case kFrequencyList: {
        const auto* list = control<QComboBox>(page, kFrequencyList);
        if (code != kSelChange || list == nullptr || list->currentIndex() < 0) return 0;
        m.Frequency = list->currentIndex();
        if (m.Frequency == 0) {
            // Every beat clicks: the last one too.
            m.LastBeat = 1;
            if (auto* box = control<QCheckBox>(page, kLastBeatBox)) {
                const QSignalBlocker block(box);
                box->setChecked(true);
            }
        }
        enableByUsed(page, m, true);
        break;
    }
    case kFirstBeatBox: m.FirstBeat = stpPageBoxChecked(page, kFirstBeatBox) ? 1 : 0; break;
    case kLastBeatBox: m.LastBeat = stpPageBoxChecked(page, kLastBeatBox) ? 1 : 0; break;
    case kOptionBox:
        if (StepPageHost* host = stpPageHost()) {
            if (stpPageBoxChecked(page, kOptionBox)) {
                prjSetFlag(kOptionMetronome, host->project().playFeatures);
            } else {
                prjClearFlag(kOptionMetronome, host->project().playFeatures);
            }
        }
        break;
    default: return 0;
    }
    stpPageEdited();
    return 0;
}

StepPage::Result metOnHScroll(StepPage& page, QWidget* bar, int code, int position) {
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || bar == nullptr || code == kEndTrack || qvp3ui::controlId(*bar) != kVolumeBar) return 0;
    entry->metronome.Volume = static_cast<std::uint8_t>(std::clamp(position, 0, 127));
    if (auto* number = control<QLabel>(page, kVolumeNumber)) number->setText(QString::number(entry->metronome.Volume));
    stpPageEdited();
    return 0;
}

// After the preview started or stopped: the main window's lists and commands
// and the profile bar are usable only while nothing clicks.
void afterToggle(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    const bool free = stpCurrentEntry() != nullptr && !previewRuns(page) && prjFindBusyEntry(host->project()) == -1;
    host->enableFileLists(free);
    host->enableEntryCommands(free);
    host->enableProjectCommands(free);
    stpLayoutProfileBarAfterShow(page, free);
    metEnableControls(page, true);
}

void metOnToggle(StepPage& page) {
    if (!stpStartPreviewThread(page)) qvp3ui::appWarningBox(kStrPreviewFailed);
    afterToggle(page);
}

StepPage::Result metOnCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    if (widget == nullptr) return 0;
    switch (qvp3ui::controlId(*widget)) {
    case kCountInLabel: case kCountInUnit: case kUsedBox: case kInstrumentLabel: case kFirstBeatBox:
    case kVelocityLabel: case kLastBeatBox: case kFrequencyLabel: case kVolumeNumber: case kOptionBox:
        stpColourControl(palette, PageColour::Label);
        return 1;
    case kGroupMetronome: case kGroupBeats: stpColourControl(palette, PageColour::Group); return 1;
    case kCountInEdit: case kVelocityEdit: stpColourControl(palette, PageColour::NumberEdit); return 1;
    default: return 0;
    }
}

StepPage::Result metOnShow(StepPage& page, bool shown) {
    if (!shown) {
        stpStopPreview(page);
        return stpFrameworkOnShow(page, false);
    }
    const bool values = metShowValues(page);
    const StepPage::Result result = stpFrameworkOnShow(page, true);
    if (!values) stpLayoutProfileBarAfterShow(page, false);
    return result;
}

StepPage::Result metOnPartChanged(StepPage& page, std::intptr_t) {
    stpLayoutProfileBarAfterShow(page, metShowValues(page));
    return 0;
}

// Rows of the page below its header; the play link goes right of the
// metronome group, so the groups leave it room.
void metOnSize(StepPage& page) {
    if (page.window == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const int x = content.left();
    const int y = content.top() + 30;
    const auto place = [&](int id, int left, int top, int width, int height) {
        if (QWidget* c = qvp3ui::findControl(*page.window, id)) c->setGeometry(left, top, width, height);
    };
    constexpr int kGroupWidth = 460;
    constexpr int kField = 150;  // where the fields start in a group
    place(kCountInLabel, x, y, 110, 28);
    place(kMetCountInUpDown, x + 115, y + 2, 64, 24);
    place(kCountInUnit, x + 190, y, 300, 28);
    const int g1 = y + 44;
    place(kGroupMetronome, x, g1, kGroupWidth, 168);
    place(kUsedBox, x + 12, g1 + 26, kGroupWidth - 24, 24);
    place(kInstrumentLabel, x + 12, g1 + 60, kField - 16, 26);
    place(kInstrumentList, x + kField, g1 + 60, kGroupWidth - kField - 12, 26);
    place(kVelocityLabel, x + 12, g1 + 96, kField - 16, 26);
    place(kMetVelocityUpDown, x + kField, g1 + 97, 64, 24);
    place(kFirstBeatBox, x + 12, g1 + 130, kGroupWidth - 24, 24);
    const int g2 = g1 + 180;
    place(kGroupBeats, x, g2, kGroupWidth, 132);
    place(kFrequencyLabel, x + 12, g2 + 28, kField - 16, 26);
    place(kFrequencyList, x + kField, g2 + 28, kGroupWidth - kField - 12, 26);
    place(kLastBeatBox, x + 12, g2 + 62, kGroupWidth - 24, 24);
    place(kVolumeBar, x + 12, g2 + 96, kGroupWidth - 80, 26);
    place(kVolumeNumber, x + kGroupWidth - 56, g2 + 96, 44, 26);
    place(kOptionBox, x, g2 + 146, kGroupWidth, 24);
}

void connectControls(StepPage& page, QWidget& dialog) {
    StepPage* p = &page;
    const auto command = [p](int id, QWidget* w, int code) {
        if (p->onCommand) p->onCommand(*p, id, w, code);
    };
    for (int id : {kUsedBox, kFirstBeatBox, kLastBeatBox, kOptionBox}) {
        auto* box = qvp3ui::findControl<QCheckBox>(dialog, id);
        QObject::connect(box, &QCheckBox::clicked, box, [command, id, box] { command(id, box, kClicked); });
    }
    for (int id : {kInstrumentList, kFrequencyList}) {
        auto* list = qvp3ui::findControl<QComboBox>(dialog, id);
        QObject::connect(list, &QComboBox::currentIndexChanged, list,
                         [command, id, list] { command(id, list, kSelChange); });
    }
    for (int id : {kMetCountInUpDown, kMetVelocityUpDown}) {
        auto* upDown = qvp3ui::findControl<QSpinBox>(dialog, id);
        QObject::connect(upDown, &QSpinBox::valueChanged, upDown, [p, upDown](int value) {
            if (p->onVScroll) p->onVScroll(*p, upDown, kThumbTrack, value);
        });
    }
    auto* bar = qvp3ui::findControl<QSlider>(dialog, kVolumeBar);
    QObject::connect(bar, &QSlider::valueChanged, bar, [p, bar](int value) {
        if (p->onHScroll) p->onHScroll(*p, bar, kThumbTrack, value);
    });
}

// A number edit with its up-down: the spin box is the up-down, its edit
// carries the edit's id.
QSpinBox* newUpDown(QWidget& dialog, int upDownId, int editId, int maximum) {
    auto* upDown = stpNewControl<QSpinBox>(dialog, upDownId);
    upDown->setRange(0, maximum);
    if (QLineEdit* edit = upDown->findChild<QLineEdit*>()) qvp3ui::setControlId(*edit, editId);
    return upDown;
}

StepPage::Result metOnInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    for (int id : {kCountInLabel, kCountInUnit, kInstrumentLabel, kVelocityLabel, kFrequencyLabel}) {
        stpNewControl<QLabel>(*dialog, id)->setText(stpText(id));
    }
    stpNewControl<QLabel>(*dialog, kVolumeNumber)->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (int id : {kGroupMetronome, kGroupBeats}) stpNewControl<QGroupBox>(*dialog, id)->setTitle(stpText(id));
    for (int id : {kUsedBox, kFirstBeatBox, kLastBeatBox, kOptionBox}) {
        stpNewControl<QCheckBox>(*dialog, id)->setText(stpText(id));
    }
    newUpDown(*dialog, kMetCountInUpDown, kCountInEdit, 64);
    newUpDown(*dialog, kMetVelocityUpDown, kVelocityEdit, 127);
    auto* instruments = stpNewControl<QComboBox>(*dialog, kInstrumentList);
    for (int key = kFirstPercussionKey; key <= kLastPercussionKey; ++key) {
        instruments->addItem(QStringLiteral("%1: %2").arg(key).arg(percussionName(key)));
    }
    instruments->setMaxVisibleItems(16);
    auto* frequency = stpNewControl<QComboBox>(*dialog, kFrequencyList);
    for (int i = 0; i < kFrequencyItems; ++i) frequency->addItem(stpText(kStrFirstFrequency + i));
    auto* volume = stpNewControl<QSlider>(*dialog, kVolumeBar);
    volume->setOrientation(Qt::Horizontal);
    volume->setRange(0, 127);
    // The groups are drawn first so that their contents lie on top.
    for (int id : {kGroupMetronome, kGroupBeats}) qvp3ui::findControl(*dialog, id)->lower();
    connectControls(page, *dialog);
    metOnSize(page);
    metShowValues(page);
    return 1;
}

}  // namespace

void stpFillMetSlots(StepPage& page) {
    page.onCommand = metOnCommand;
    page.onCtlColor = metOnCtlColor;
    page.enableControls = metEnableControls;
    page.onPartChanged = metOnPartChanged;
    page.onToggle = metOnToggle;
    page.onHScroll = metOnHScroll;
    page.onInitDialog = metOnInitDialog;
    page.onPaint = [](StepPage& p, QPainter& painter, const QRect&) {
        stpPaintPlayLink(p, painter, kGroupMetronome, previewRuns(p));
    };
    page.onSetCursor = [](StepPage& p, int message) {
        return stpPlayLinkSetCursor(p, message, kHoverMet, [&p] { metOnToggle(p); });
    };
    page.onShow = metOnShow;
    page.onSize = metOnSize;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
