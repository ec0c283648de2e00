// The tempo-curve page: records the current entry's tempo curve while the
// music plays, with the speed of the curve, its lowest and highest tempo,
// and whether the file's own tempos are used.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolBar>
#include <QToolTip>

#include "qvp3_pipeline/playback.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_project/tempo_curve.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_steps/tempo_curve_view.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"
#include "tempo_pages.h"
#include "tpp_widgets.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

constexpr int kCaption = 9000;
constexpr int kSpeedSlider = 9001;
constexpr int kSpeedText = 9002;
constexpr int kDownButton = 9003;
constexpr int kMinimumDisplay = 9004;
constexpr int kMinimumUpDown = 9005;
constexpr int kTempoSlider = 9006;
constexpr int kMaximumUpDown = 9007;
constexpr int kMaximumDisplay = 9008;
constexpr int kUpButton = 9009;
constexpr int kTempoDisplay = 9010;
constexpr int kShowTemposCheck = 9011;
constexpr int kFileTemposCheck = 9012;
constexpr int kPageToolbar = 9013;
constexpr int kCmdRecord = 40075;
constexpr int kCmdDeleteNew = 40076;
constexpr int kStrCaption = 27;
constexpr int kStrFileTempos = 30;
constexpr int kStrRecord = 31;
constexpr int kStrShowTempos = 34;
constexpr int kStrDeleteNew = 35;
constexpr int kStrDeleteQuestion = 36;
constexpr int kStrKeepRecorded = 37;
constexpr int kStrRestoreFailed = 38;
constexpr int kStrChanged = 39;
constexpr int kSpeedLow = 30;
constexpr int kSpeedHigh = 14400;
constexpr int kHoverItem = 8;
constexpr const char* kDeleteCheckKey = "{5674BFA0-D3E1-4743-8A3E-AE134AE36CDD}";
constexpr const char* kKeepCheckKey = "{C9868768-C008-4533-8EED-375C397AD3C7}";
const QColor kChangedText{0x00, 0x66, 0x00};

int gLastHover = 0;

struct Controls {
    QLabel* caption = nullptr;
    QSlider* speed = nullptr;
    QLabel* speedText = nullptr;
    QPushButton* down = nullptr;
    QPushButton* up = nullptr;
    QSlider* tempo = nullptr;
    QSpinBox* minimum = nullptr;
    QSpinBox* maximum = nullptr;
    QLabel* tempoDisplay = nullptr;
    QCheckBox* showTempos = nullptr;
    QCheckBox* fileTempos = nullptr;
    QToolBar* toolbar = nullptr;
    QAction* record = nullptr;
    QAction* deleteNew = nullptr;
    QWidget* curve = nullptr;
    bool complete() const { return caption && speed && tempo && minimum && maximum && toolbar && record && curve; }
};

Controls controls(StepPage& page) {
    Controls c;
    if (page.window == nullptr) return c;
    QWidget& w = *page.window;
    c.caption = qvp3ui::findControl<QLabel>(w, kCaption);
    c.speed = qvp3ui::findControl<QSlider>(w, kSpeedSlider);
    c.speedText = qvp3ui::findControl<QLabel>(w, kSpeedText);
    c.down = qvp3ui::findControl<QPushButton>(w, kDownButton);
    c.up = qvp3ui::findControl<QPushButton>(w, kUpButton);
    c.tempo = qvp3ui::findControl<QSlider>(w, kTempoSlider);
    c.minimum = qvp3ui::findControl<QSpinBox>(w, kMinimumUpDown);
    c.maximum = qvp3ui::findControl<QSpinBox>(w, kMaximumUpDown);
    c.tempoDisplay = qvp3ui::findControl<QLabel>(w, kTempoDisplay);
    c.showTempos = qvp3ui::findControl<QCheckBox>(w, kShowTemposCheck);
    c.fileTempos = qvp3ui::findControl<QCheckBox>(w, kFileTemposCheck);
    c.toolbar = qvp3ui::findControl<QToolBar>(w, kPageToolbar);
    c.record = w.findChild<QAction*>(qvp3ui::controlName(kCmdRecord));
    c.deleteNew = w.findChild<QAction*>(qvp3ui::controlName(kCmdDeleteNew));
    c.curve = w.findChild<QWidget*>(QStringLiteral("tempoCurve"));
    return c;
}

bool isTpp(StepPage& page) { return static_cast<int>(page.category) == kStepTpp && stpData<TppData>(page) != nullptr; }

CTavtuneLib* engine() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? host->engine() : nullptr;
}

PlaybackControl* playback() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? host->playback() : nullptr;
}

bool hasNewPoints() {
    Project* project = tmpProject();
    return project != nullptr && stpTempoCurveHasNewPoints(*project, engine());
}

// A spin box stands for the display and its up-down: the box is the up-down,
// its edit field the display.
QSpinBox* makeUpDown(QWidget* dialog, int upDownId, int displayId, int low, int high) {
    auto* box = new QSpinBox(dialog);
    qvp3ui::setControlId(*box, upDownId);
    box->setRange(low, high);
    box->setAlignment(Qt::AlignCenter);
    box->setFont(tmpFont(16, true));
    box->setKeyboardTracking(false);
    if (QLineEdit* edit = box->findChild<QLineEdit*>()) qvp3ui::setControlId(*edit, displayId);
    return box;
}

void wireUpDown(StepPage& page, QSpinBox& box) {
    StepPage* p = &page;
    QObject::connect(&box, &QSpinBox::valueChanged, &box, [p, &box](int value) {
        const auto* block = stpData<StepDataBlock>(*p);
        if (block == nullptr || block->target == nullptr) return;
        block->target->send(WM_VSCROLL,
                            static_cast<platform::WParam>(kSbThumbPosition) |
                                (static_cast<platform::WParam>(static_cast<std::uint16_t>(value)) << 16),
                            reinterpret_cast<platform::LParam>(static_cast<QWidget*>(&box)));
    });
}

QToolBar* makeToolbar(StepPage& page, QWidget* dialog) {
    auto* toolbar = new QToolBar(dialog);
    qvp3ui::setControlId(*toolbar, kPageToolbar);
    toolbar->setOrientation(Qt::Vertical);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolbar->setFont(tmpFont(14, true));
    auto* record = toolbar->addAction(stpText(kStrRecord));
    qvp3ui::setControlId(*record, kCmdRecord);
    record->setCheckable(true);
    auto* deleteNew = toolbar->addAction(stpText(kStrDeleteNew));
    qvp3ui::setControlId(*deleteNew, kCmdDeleteNew);
    toolbar->setStyleSheet(QStringLiteral("QToolButton { color: #86B1D8; background: #2C4E73; border-radius: 4px;"
                                          " padding: 3px 8px; margin: 1px; }"
                                          "QToolButton:checked { background: #C80000; color: #FFFBE5; }"
                                          "QToolButton:disabled { color: #5E7E9E; }"));
    StepPage* p = &page;
    for (QAction* action : {record, deleteNew}) {
        const int id = qvp3ui::controlId(*action);
        QObject::connect(action, &QAction::triggered, action, [p, id] {
            const auto* block = stpData<StepDataBlock>(*p);
            if (block != nullptr && block->target != nullptr) {
                block->target->send(platform::WM_COMMAND, qvp3ui::makeCommandWParam(id, 0), 0);
            }
        });
    }
    return toolbar;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    auto* caption = new QLabel(stpText(kStrCaption), dialog);
    qvp3ui::setControlId(*caption, kCaption);
    caption->setFont(tmpFont(16, false));
    auto* speed = new QSlider(Qt::Horizontal, dialog);
    qvp3ui::setControlId(*speed, kSpeedSlider);
    speed->setRange(kSpeedLow, kSpeedHigh);
    auto* speedText = new QLabel(QStringLiteral("dummy"), dialog);
    qvp3ui::setControlId(*speedText, kSpeedText);
    speedText->setFont(tmpFont(16, true));
    speedText->setWordWrap(true);
    auto* down = new QPushButton(QStringLiteral("\u25C0"), dialog);
    qvp3ui::setControlId(*down, kDownButton);
    auto* tempo = new TppTempoSlider(page, dialog);
    qvp3ui::setControlId(*tempo, kTempoSlider);
    auto* up = new QPushButton(QStringLiteral("\u25B6"), dialog);
    qvp3ui::setControlId(*up, kUpButton);
    for (QPushButton* button : {down, up}) {
        button->setFont(tmpFont(16, false));
        button->setAutoRepeat(true);  // held down, it keeps stepping
        button->setAutoRepeatDelay(400);
        button->setAutoRepeatInterval(60);
    }
    auto* minimum = makeUpDown(dialog, kMinimumUpDown, kMinimumDisplay, 10, 120);
    auto* maximum = makeUpDown(dialog, kMaximumUpDown, kMaximumDisplay, 120, 720);
    auto* display = new QLabel(dialog);
    qvp3ui::setControlId(*display, kTempoDisplay);
    display->setAlignment(Qt::AlignCenter);
    display->setFont(tmpFont(16, true));
    auto* showTempos = new QCheckBox(stpText(kStrShowTempos), dialog);
    qvp3ui::setControlId(*showTempos, kShowTemposCheck);
    auto* fileTempos = new QCheckBox(stpText(kStrFileTempos), dialog);
    qvp3ui::setControlId(*fileTempos, kFileTemposCheck);
    for (QCheckBox* box : {showTempos, fileTempos}) box->setFont(tmpFont(16, false));
    makeToolbar(page, dialog);
    new TppCurveWidget(dialog);
    tmpWireSlider(page, *speed);
    tmpWireSlider(page, *tempo);
    tmpWireButton(page, *down, kDownButton);
    tmpWireButton(page, *up, kUpButton);
    tmpWireButton(page, *showTempos, kShowTemposCheck);
    tmpWireButton(page, *fileTempos, kFileTemposCheck);
    wireUpDown(page, *minimum);
    wireUpDown(page, *maximum);
    return 1;
}

void placeBelow(StepPage& page, const Controls& c) {
    auto* data = stpData<TppData>(page);
    const int clientRight = page.window->rect().right();
    const QRect down = c.down->geometry();
    const QRect minimum = c.minimum->geometry();
    const int boxWidth = std::max(c.showTempos->sizeHint().width(), c.fileTempos->sizeHint().width()) + 20;
    c.showTempos->setGeometry(down.left(), minimum.bottom() + 1 + 15, boxWidth, 24);
    c.fileTempos->setGeometry(down.left(), c.showTempos->geometry().bottom() + 1, boxWidth, 24);
    const QSize bar = c.toolbar->sizeHint();
    const int boxesCentre = (c.showTempos->geometry().top() + c.fileTempos->geometry().bottom() + 1) / 2;
    c.toolbar->setGeometry(c.showTempos->geometry().right() + 1, boxesCentre - bar.height() / 2, bar.width(),
                           bar.height());
    const int itemTop = std::max(c.toolbar->geometry().bottom(), c.fileTempos->geometry().bottom()) + 1 + 25;
    data->itemRect = QRect(down.left(), itemTop, tmpItemWidth(), kItemIconSize);
    const int statusLeft = data->itemRect.left() + kItemIconSize + 10;
    const QRect status(statusLeft, itemTop + 24, std::max(0, clientRight - statusLeft), kItemIconSize);
    data->statusX = status.left();
    data->statusY = status.top();
    data->statusWidth = status.width();
    data->statusHeight = status.height();
    // The graph fills the room right of the check boxes and the toolbar,
    // down to the item; the status line below it keeps the whole width.
    const int graphLeft = c.toolbar->geometry().right() + 1 + 20;
    c.curve->setGeometry(graphLeft, c.showTempos->geometry().top(), std::max(0, clientRight - 10 - graphLeft),
                         std::max(60, status.top() - 4 - c.showTempos->geometry().top()));
}

void onSize(StepPage& page) {
    auto* data = stpData<TppData>(page);
    const Controls c = controls(page);
    if (data == nullptr || page.window == nullptr || !c.complete()) return;
    stpLayoutDescription(page, &data->contentRect, nullptr);
    const int l = data->contentRect.left();
    const int t = data->contentRect.top();
    const int clientRight = page.window->rect().right();
    c.caption->setGeometry(l + 10, t + 30, 180, 20);
    c.speed->setGeometry(l + 5, t + 54, 180, 24);
    c.speedText->setGeometry(l + 190, t + 46, std::max(250, clientRight - 10 - (l + 190)), 40);
    const int row = c.speed->geometry().bottom() + 1 + 15;
    c.down->setGeometry(l + 5, row, 24, 40);
    const int sliderWidth = std::max(200, clientRight - l - 100);
    c.tempo->setGeometry(l + 5 + 24, row, sliderWidth, 40);
    const QRect slider = c.tempo->geometry();
    c.up->setGeometry(slider.right() + 1, row, 24, 40);
    c.minimum->setGeometry(slider.left(), slider.bottom() + 1, 70, 26);
    c.maximum->setGeometry(slider.right() + 1 - 70, slider.bottom() + 1, 70, 26);
    c.tempoDisplay->setGeometry(slider.center().x() - 25, slider.bottom() + 1, 50, 24);
    placeBelow(page, c);
}

void paintStatus(StepPage& page, QPainter& painter, const TppData& data) {
    const QRect status(data.statusX, data.statusY, data.statusWidth, data.statusHeight);
    Project* project = tmpProject();
    if (data.changed) {
        tmpPaintLine(painter, status, kStrChanged, kChangedText, tmpFont(16, false));
    } else if (project != nullptr && tmpProjectTooLong(*project)) {
        tmpPaintLine(painter, status, kStrProjectTooLong, kPageWarningText, tmpFont(16, true));
    }
    (void)page;
}

void onPaint(StepPage& page, QPainter& painter, const QRect& body) {
    const auto* data = stpData<TppData>(page);
    if (data == nullptr) return;
    tmpPaintNote(page, painter, body);
    if (data->itemRect.isEmpty()) return;
    tmpPaintItem(painter, data->itemRect, data->toggleDisabled, data->hover == kHoverItem);
    paintStatus(page, painter, *data);
}

StepPage::Result onCtlColor(StepPage&, QPalette& palette, QWidget* control) {
    const int id = control != nullptr ? qvp3ui::controlId(*control) : -1;
    switch (id) {
    case kCaption:
    case kSpeedText:
    case kTempoDisplay:
    case kShowTemposCheck:
    case kFileTemposCheck:
        palette.setColor(QPalette::WindowText, kPageLabelText);
        palette.setColor(QPalette::ButtonText, kPageLabelText);
        return 1;
    default: return 0;
    }
}

void repaintItem(StepPage& page) {
    const auto* data = stpData<TppData>(page);
    if (page.window != nullptr && data != nullptr) page.window->update(data->itemRect);
}

int scrollFactor(const QWidget& bar, int code) {
    if (code != kSbLineLeft && code != kSbLineRight) return 1;
    const Qt::KeyboardModifiers keys = tmpSliderModifiers(bar);
    if ((keys & Qt::ControlModifier) != 0) return 10;
    if ((keys & Qt::ShiftModifier) != 0) return 100;
    return 1;
}

bool decreasing(int code) { return code == kSbLineLeft || code == kSbPageLeft; }
bool increasing(int code) { return code == kSbLineRight || code == kSbPageRight; }

void speedScrolled(StepPage& page, const Controls& c, TempoCurve& curve, int code, int position) {
    if ((decreasing(code) && curve.speed <= kSpeedLow) || (increasing(code) && curve.speed >= kSpeedHigh)) return;
    const int factor = scrollFactor(*c.speed, code);
    const int speed = std::clamp((position - curve.speed) * factor + curve.speed, kSpeedLow, kSpeedHigh);
    stpTempoCurveSetSpeed(curve, speed);
    if (factor > 1) c.speed->setValue(speed);
    if (const qvp3ui::LanguageModule* language = qvp3ui::language()) {
        c.speedText->setText(QString::fromStdString(stpTempoCurveSpeedText(curve, *language)));
    }
    (void)page;
}

void tempoStep(StepPage& page, ProjectEntry& entry, int tempo, int step, bool moveSlider) {
    stpTppShowTempo(page, tempo, step, moveSlider);
    if (!entry.tempoCurve.record) return;
    if (entry.isBusy()) tppRecordTempoPoint(entry);
    tmpSetPlayerTempo(entry, entry.tempoCurve.recordTempo);
    stpTppSetChangeMarker(page, true);
}

StepPage::Result onHScroll(StepPage& page, QWidget* bar, int code, int position) {
    ProjectEntry* entry = tmpCurrentEntry();
    const Controls c = controls(page);
    if (entry == nullptr || !c.complete() || code == kSbThumbPosition || code > 7) return 0;
    TempoCurve& curve = entry->tempoCurve;
    if (bar == c.speed) {
        speedScrolled(page, c, curve, code, position);
    } else {
        if ((decreasing(code) && curve.recordTempo <= curve.minimum) ||
            (increasing(code) && curve.recordTempo >= curve.maximum)) {
            return 0;
        }
        const int factor = scrollFactor(*c.tempo, code);
        tempoStep(page, *entry, (position - curve.recordTempo) * factor + curve.recordTempo, 0, factor > 1);
    }
    tmpEndEdit();
    return 0;
}

void commonEnding(StepPage& page) {
    if (isTpp(page)) stpTppSetChangeMarker(page, true);
    tmpEndEdit();
}

void recordSwitched(StepPage& page, const Controls& c, ProjectEntry& entry) {
    TempoCurve& curve = entry.tempoCurve;
    curve.record = c.record->isChecked();
    c.showTempos->setEnabled(curve.record);
    if (CTavtuneLib* lib = engine()) ++lib->tempoRequests;
    if (curve.record) {
        stpTempoCurveCopyPoints(curve, TempoCurve::kFileList, TempoCurve::kRecordedList, false);
    } else {
        stpTppUseRecordedTempos(page, false);
    }
    if (PlaybackControl* control = playback()) control->plySetEngineOption200(entry, curve.record, false);
    if (!entry.isBusy() && entry.entryState != 5 && !curve.record) tmpWorkOutTempo(entry, tmpPlayerTicks(entry));
    stpTppShowValues(page);
}

void deleteNewPoints(StepPage& page, ProjectEntry& entry) {
    if (!hasNewPoints()) return;
    const std::string question = qvp3ui::uiString(kStrDeleteQuestion);
    if (qvp3ui::appMessageBoxCheck(question, kMbYesNo, kIdYes, kDeleteCheckKey) != kIdYes) return;
    stpTempoCurveFree(entry.tempoCurve);
    entry.tempoCurve.recordedCount = 0;
    if (CTavtuneLib* lib = engine()) lib->enginePointCount = lib->baselinePointCount;
    stpTppSetChangeMarker(page, true);
    tmpWorkOutTempo(entry, tmpPlayerTicks(entry));
    stpTppShowValues(page);
    tmpEndEdit();
}

StepPage::Result onCommand(StepPage& page, int id, QWidget*, int code) {
    ProjectEntry* entry = tmpCurrentEntry();
    const Controls c = controls(page);
    if (entry == nullptr || !c.complete() || code != 0) return 0;
    TempoCurve& curve = entry->tempoCurve;
    switch (id) {
    case kFileTemposCheck:
        curve.fileTempos = c.fileTempos->isChecked();
        if (PlaybackControl* control = playback()) control->plySetEngineOption100(*entry, curve.fileTempos, false);
        if (!curve.record && entry->kind == EntryKind::Midi) tmpWorkOutTempo(*entry, tmpPlayerTicks(*entry));
        break;
    case kShowTemposCheck: curve.showTempos = c.showTempos->isChecked(); break;
    case kDownButton:
    case kUpButton:
        if (!curve.record) return 0;
        tempoStep(page, *entry, -1, id == kUpButton ? 1 : -1, true);
        break;
    case kCmdDeleteNew: deleteNewPoints(page, *entry); return 0;
    case kCmdRecord: recordSwitched(page, c, *entry); break;
    default: return 0;
    }
    if (c.curve != nullptr) c.curve->update();
    commonEnding(page);
    return 0;
}

StepPage::Result onVScroll(StepPage& page, QWidget* upDown, int, int position) {
    ProjectEntry* entry = tmpCurrentEntry();
    const Controls c = controls(page);
    if (entry == nullptr || !c.complete()) return 0;
    if (upDown == c.minimum) entry->tempoCurve.minimum = std::clamp(position, 10, 120);
    if (upDown == c.maximum) entry->tempoCurve.maximum = std::clamp(position, 120, 720);
    stpTppShowValues(page);
    tmpEndEdit();
    return 0;
}

int onSetCursor(StepPage& page, int message) {
    auto* data = stpData<TppData>(page);
    if (data == nullptr || page.window == nullptr) return 0;
    if (message == static_cast<int>(WM_MOUSEMOVE)) {
        const QPoint point = tmpCursorPos(page);
        int result = 1;
        if (!data->toggleDisabled && data->itemRect.contains(point)) {
            page.window->setCursor(Qt::PointingHandCursor);
            data->hover = kHoverItem;
        } else {
            data->hover = 0;
            result = 0;
            tppPointerLeftSlider(page);  // the slider reports its own moves
        }
        if (data->hover != gLastHover && !data->toggleDisabled &&
            (data->hover == kHoverItem || (data->hover == 0 && gLastHover == kHoverItem))) {
            repaintItem(page);
        }
        gLastHover = data->hover;
        return result;
    }
    if (message == static_cast<int>(WM_LBUTTONDOWN) && data->hover == kHoverItem && !data->toggleDisabled) {
        tmpWorkOutPlayTimes(page);
        stpTppSetChangeMarker(page, false);
        return 1;
    }
    return 0;
}

void onToggle(StepPage& page) {
    auto* data = stpData<TppData>(page);
    if (data == nullptr || data->toggleDisabled) return;
    data->hover = kHoverItem;
    tmpWorkOutPlayTimes(page);
    stpTppSetChangeMarker(page, false);
    data->hover = 0;
    repaintItem(page);
}

void enableControls(StepPage& page, bool enable) {
    auto* data = stpData<TppData>(page);
    const Controls c = controls(page);
    if (data == nullptr || !c.complete()) return;
    c.minimum->setEnabled(enable);
    c.maximum->setEnabled(enable);
    if (tmpCurrentEntry() != nullptr) c.deleteNew->setEnabled(enable && hasNewPoints());
    data->toggleDisabled = !enable;
    repaintItem(page);
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    ProjectEntry* entry = tmpCurrentEntry();
    if (PlaybackControl* control = playback(); control != nullptr && entry != nullptr) control->plyPrepareEntry(*entry, false);
    stpTppShowValues(page);
    return 0;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (!shown) {
        tppPointerLeftSlider(page);
        stpStopNotifier(page);
        return 1;
    }
    const bool listed = stpPageFillProfileList(page);
    stpTppShowValues(page);
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return 1;
    host->layoutProfileBar(page, listed ? kProfileBarEnabled : kProfileBarEmpty);
    ProjectEntry* entry = tmpCurrentEntry();
    if (entry != nullptr && entry->isBusy()) return 1;
    if (host->project().previousStep >= kStepTpp && (entry == nullptr || !entry->tempoCurve.record)) {
        host->refreshFileList();
        return 1;
    }
    return stpStartNotifier(page);
}

}  // namespace

bool stpTppShowValues(StepPage& page) {
    const Controls c = controls(page);
    if (!isTpp(page) || !c.complete()) return true;
    if (ProjectEntry* entry = tmpCurrentEntry()) {
        TempoCurve& curve = entry->tempoCurve;
        for (QWidget* w : std::initializer_list<QWidget*>{c.speed, c.tempo, c.minimum, c.maximum}) w->blockSignals(true);
        c.speed->setValue(curve.speed);
        if (const qvp3ui::LanguageModule* language = qvp3ui::language()) {
            c.speedText->setText(QString::fromStdString(stpTempoCurveSpeedText(curve, *language)));
        }
        c.tempo->setRange(curve.minimum, curve.maximum);
        c.minimum->setValue(curve.minimum);
        c.maximum->setValue(curve.maximum);
        for (QWidget* w : std::initializer_list<QWidget*>{c.speed, c.tempo, c.minimum, c.maximum}) w->blockSignals(false);
        const double current = tmpPlayerTempo(*entry);
        if (current < 10.0 || current > 720.0) tmpWorkOutTempo(*entry, 0);
        stpTppShowTempo(page, static_cast<int>(std::lround(tmpPlayerTempo(*entry))), 0, true);
        if (entry->TempoIsRelative == 0) curve.fileTempos = true;
        c.fileTempos->setChecked(curve.fileTempos);
        c.showTempos->setChecked(curve.showTempos);
        c.record->setChecked(curve.record);
    }
    stpTppUpdateEnabling(page);
    if (c.curve != nullptr) c.curve->update();
    return true;
}

int stpTppShowTempo(StepPage& page, int tempo, int step, bool moveSlider) {
    const Controls c = controls(page);
    ProjectEntry* entry = tmpCurrentEntry();
    if (!isTpp(page) || entry == nullptr) return 0;
    TempoCurve& curve = entry->tempoCurve;
    int value = curve.recordTempo;
    if (tempo != -1 || step != 0) {
        value = step != 0 ? curve.recordTempo + step : tempo;
        value = std::clamp(value, curve.minimum, std::max(curve.minimum, curve.maximum));
        curve.recordTempo = value;
    }
    tmpSetPlayerTempo(*entry, value);
    if (!c.complete()) return value;
    if (moveSlider) {
        c.tempo->blockSignals(true);
        c.tempo->setValue(value);
        c.tempo->blockSignals(false);
    }
    // The hold buttons follow the tempo however it moved, so neither can
    // push it past its end.
    stpTppEnableTempoGroup(page, -1);
    c.tempoDisplay->setText(QString::number(value));
    c.curve->update();
    return value;
}

void stpTppEnableTempoGroup(StepPage& page, int mode) {
    const Controls c = controls(page);
    if (!isTpp(page) || !c.complete()) return;
    ProjectEntry* entry = tmpCurrentEntry();
    const bool enable = mode == 1 || (mode == -1 && entry != nullptr);
    const bool record = entry != nullptr && entry->tempoCurve.record;
    const TempoCurve* curve = entry != nullptr ? &entry->tempoCurve : nullptr;
    c.tempo->setEnabled(enable && record);
    c.down->setEnabled(enable && record && curve->recordTempo > curve->minimum);
    c.up->setEnabled(enable && record && curve->recordTempo < curve->maximum);
    c.tempoDisplay->setEnabled(enable);
    c.minimum->setEnabled(enable);
    c.maximum->setEnabled(enable);
}

void stpTppUpdateEnabling(StepPage& page) {
    auto* data = stpData<TppData>(page);
    const Controls c = controls(page);
    if (!isTpp(page) || !c.complete()) return;
    ProjectEntry* entry = tmpCurrentEntry();
    const bool has = entry != nullptr;
    stpTppEnableTempoGroup(page, has ? 1 : 0);
    c.caption->setEnabled(has);
    c.speed->setEnabled(has);
    c.speedText->setEnabled(has);
    c.fileTempos->setEnabled(has && entry->TempoIsRelative != 0);
    c.showTempos->setEnabled(has && entry->tempoCurve.record);
    c.record->setEnabled(has);
    data->hasEntry = has;
    c.deleteNew->setEnabled(has && hasNewPoints() && !entry->isBusy());
    Project* project = tmpProject();
    data->toggleDisabled = !has || (project != nullptr && prjFindBusyEntry(*project) != -1);
    repaintItem(page);
}

int stpTppTempoAtPoint(StepPage& page, const QPoint& screenPoint) {
    const Controls c = controls(page);
    ProjectEntry* entry = tmpCurrentEntry();
    if (!isTpp(page) || !c.complete() || entry == nullptr) return 0;
    int left = 0;
    int right = 0;
    tmpSliderSpan(*c.tempo, left, right);
    const int x = c.tempo->mapFromGlobal(screenPoint).x();
    if (x < left || x > right || right <= left) return -1;
    const TempoCurve& curve = entry->tempoCurve;
    const double t = static_cast<double>(curve.maximum - curve.minimum) / (right - left) * (x - left);
    return std::clamp(static_cast<int>(std::lround(t)) + curve.minimum, curve.minimum, curve.maximum);
}

void stpTppSetChangeMarker(StepPage& page, bool marker) {
    Project* project = tmpProject();
    StepPage* tpp = project != nullptr ? stpGetPage(*project, kStepTpp) : nullptr;
    if (tpp == nullptr) return;
    if (auto* data = stpData<TppData>(*tpp)) data->changed = marker;
    if (&page == tpp) stpRepaintTppStatus(page);
}

void stpTppUseRecordedTempos(StepPage& page, bool force) {
    ProjectEntry* entry = tmpCurrentEntry();
    if (entry == nullptr || entry->tempoCurve.recordedCount <= 0 || (!force && entry->isBusy())) return;
    if (PlaybackControl* control = playback()) {
        control->plySetEngineOption200(*entry, false, true);
        control->plyLoadEngineTempoCurve(*entry);
    }
    const std::string question = qvp3ui::uiString(kStrKeepRecorded);
    if (qvp3ui::appMessageBoxCheck(question, kMbYesNo, kIdYes, kKeepCheckKey) != kIdYes) {
        if (!stpTempoCurveCopyPoints(entry->tempoCurve, TempoCurve::kRecordedList, TempoCurve::kFileList, true)) {
            qvp3ui::appWarningBox(kStrRestoreFailed);
        }
        stpTppUpdateEnabling(page);
    }
    entry->tempoCurve.recordedCount = 0;
}

void stpFillTppSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onPaint = onPaint;
    page.onCtlColor = onCtlColor;
    page.onSetCursor = onSetCursor;
    page.onToggle = onToggle;
    page.onCommand = onCommand;
    page.onHScroll = onHScroll;
    page.onVScroll = onVScroll;
    page.onPartChanged = onPartChanged;
    page.enableControls = enableControls;
    page.onShow = onShow;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
