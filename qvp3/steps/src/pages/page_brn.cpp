// The export page's own handlers.
#include "page_brn.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolBar>

#include "page_conversion.h"
#include "qvp3_pipeline/disc_writer_lib.h"
#include "qvp3_project/mp3_config.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kToolbarHeight = 40;
constexpr int kBitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kSampleRates[] = {32000, 44100, 48000};
constexpr int kStrModeFirst = 1345;  // stereo, joint stereo, dual channel, mono
const QColor kGroupText{0xE5, 0xFB, 0xFF};
const QColor kGroupBackground{0x86, 0xB1, 0xD8};

QWidget* panel(StepPage& page, const char* name) {
    return page.window != nullptr ? page.window->findChild<QWidget*>(QString::fromLatin1(name)) : nullptr;
}

// The disc writer when the program has one running; null otherwise.
CDiscWriterLib* discWriter() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return nullptr;
    const std::optional<ExportStepSetup> setup = host->exportStepSetup();
    CDiscWriterLib* lib = setup ? setup->discWriter : nullptr;
    return lib != nullptr && lib->loaded() && lib->setUp ? lib : nullptr;
}

int recorderCount() {
    std::int32_t count = 0;
    CDiscWriterLib* lib = discWriter();
    if (lib == nullptr || lib->cdGetDriveNumber(&count) < 0) return 0;
    return std::max(count, 0);
}

void markChanged() {
    if (StepPageHost* host = stpPageHost()) {
        prjMarkStepDirty(host->project());
        host->refreshCommands();
    }
}

Project* project() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? &host->project() : nullptr;
}

// The export job's reports, posted to the page's window.
class ExportPageView : public ExportStepView {
public:
    ExportPageView(StepPage& page, QWidget& window) : page_(&page), poster_(window) {}
    void enableMainWindow(bool enabled) override {
        poster_.post([enabled] {
            if (StepPageHost* host = stpPageHost()) {
                host->enableFileLists(enabled);
                host->enableEntryCommands(enabled);
                host->enableProjectCommands(enabled);
            }
        });
    }
    void showProgress(const ConversionStepBar& total, const ConversionStepBar& file) override {
        poster_.post([p = page_, total, file] {
            for (auto [id, bar] : {std::pair{kBrnTimeBar, total}, {kBrnTrackBar, file}}) {
                if (auto* widget = stpControl<QProgressBar>(*p, id)) {
                    widget->setRange(0, std::max(bar.maximum, 0));
                    widget->setValue(std::clamp(bar.position, 0, std::max(bar.maximum, 0)));
                }
            }
        });
    }
    void showRunButton(int stringId, int, int, bool) override {
        poster_.post([p = page_, stringId] {
            if (QAction* run = p->window ? p->window->findChild<QAction*>(qvp3ui::controlName(kCmdRun)) : nullptr) {
                run->setText(stpText(stringId == kStrRunButton ? kStrBrnRunButton : stringId));
            }
        });
    }
    void clearStatusList() override {
        poster_.post([p = page_] {
            if (auto* list = stpControl<QListWidget>(*p, kBrnStatusList)) list->clear();
        });
    }
    void addStatusLine(std::string_view line, bool replaceLast) override {
        poster_.post([p = page_, line = QString::fromStdString(std::string(line)), replaceLast] {
            auto* list = stpControl<QListWidget>(*p, kBrnStatusList);
            if (list == nullptr) return;
            if (replaceLast && list->count() > 0) {
                list->item(list->count() - 1)->setText(line);
            } else {
                list->addItem(line);
            }
            list->scrollToBottom();
        });
    }
    void enableRunButton(bool enabled) override {
        poster_.post([p = page_, enabled] { stpEnableToolbarButton(*p, kCmdRun, enabled); });
    }
    // Asked as every step's worker asks: through the shell, which brings the
    // question to the user.
    int askOverwrite(const std::filesystem::path&, std::string_view question) override {
        Project* p = project();
        return p != nullptr ? p->shell().appTextBox(question, kBoxQuestion, kMbYesNoCancel) : kIdCancel;
    }
    void stepEnded() override {
        poster_.post([] {
            if (StepPageHost* host = stpPageHost()) host->refreshCommands();
        });
    }

private:
    StepPage* page_;
    PagePoster poster_;
};

void onTarget(StepPage& page, int index) {
    Project* p = project();
    if (p == nullptr || index < 0) return;
    p->burnMethod = index - 1;
    if (QWidget* mp3 = panel(page, kBrnMp3Panel)) mp3->setVisible(index == 0);
    if (QWidget* cd = panel(page, kBrnCdPanel)) cd->setVisible(index != 0);
    markChanged();
    stpBrnShowValues(page);
}

// Edits of the MP3 panel go into the project's encoder record.
template <class F>
void editMp3(F change) {
    Project* p = project();
    if (p == nullptr) return;
    BE_CONFIG config = beReadConfig(p->mp3Config);
    change(config.LHV1);
    p->mp3Config = beWriteConfig(config);
    markChanged();
}

QCheckBox* addBox(QWidget& parent, QFormLayout& form, int id, std::function<void(bool)> changed) {
    auto* box = new QCheckBox(stpText(id), &parent);
    qvp3ui::setControlId(*box, id);
    QObject::connect(box, &QCheckBox::clicked, box, std::move(changed));
    form.addRow(box);
    return box;
}

QWidget* makeCdPanel(QWidget& dialog) {
    auto* cd = new QWidget(&dialog);
    cd->setObjectName(QString::fromLatin1(kBrnCdPanel));
    auto* form = new QFormLayout(cd);
    auto* speed = new QSpinBox(cd);
    qvp3ui::setControlId(*speed, kBrnSpeed);
    form->addRow(stpText(1351), speed);
    QObject::connect(speed, &QSpinBox::valueChanged, speed, [speed](int value) {
        if (Project* p = project(); p != nullptr && speed->isEnabled() && p->burningSpeed != value) {
            p->burningSpeed = value;
            markChanged();
        }
    });
    auto* copies = new QSpinBox(cd);
    qvp3ui::setControlId(*copies, kBrnCopies);
    copies->setRange(1, 99);
    form->addRow(stpText(1354), copies);
    QObject::connect(copies, &QSpinBox::valueChanged, copies, [](int value) {
        if (Project* p = project(); p != nullptr && p->cdCopies != value) {
            p->cdCopies = value;
            markChanged();
        }
    });
    addBox(*cd, *form, kBrnOpenTray, [](bool on) {
        if (Project* p = project()) p->openTray = on ? 1 : 0;
        markChanged();
    });
    addBox(*cd, *form, kBrnBurnProof, [](bool on) {
        if (Project* p = project()) p->burnProof = on ? 1 : 0;
        markChanged();
    });
    return cd;
}

QComboBox* addCombo(QWidget& parent, QFormLayout& form, int id, const QStringList& items) {
    auto* combo = new QComboBox(&parent);
    qvp3ui::setControlId(*combo, id);
    combo->addItems(items);
    form.addRow(stpText(id), combo);
    return combo;
}

QSlider* addSlider(QWidget& parent, QFormLayout& form, int id, int numberId) {
    auto* row = new QWidget(&parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, row);
    qvp3ui::setControlId(*slider, id);
    slider->setRange(32, 320);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(32);
    auto* number = new QLabel(row);
    qvp3ui::setControlId(*number, numberId);
    number->setMinimumWidth(number->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    layout->addWidget(slider);
    layout->addWidget(number);
    QObject::connect(slider, &QSlider::valueChanged, number, [number](int v) { number->setNum(v); });
    form.addRow(stpText(id), row);
    return slider;
}

QWidget* makeMp3Panel(QWidget& dialog) {
    auto* mp3 = new QWidget(&dialog);
    mp3->setObjectName(QString::fromLatin1(kBrnMp3Panel));
    auto* form = new QFormLayout(mp3);
    QStringList rates, bitrates, modes;
    for (int rate : kSampleRates) rates << QString::number(rate);
    for (int rate : kBitrates) bitrates << QString::number(rate);
    for (int i = 0; i < 4; ++i) modes << stpText(kStrModeFirst + i);
    auto* rate = addCombo(*mp3, *form, kBrnSampleRate, rates);
    QObject::connect(rate, &QComboBox::activated, rate, [rate](int) {
        editMp3([&](BE_CONFIG_FORMAT_LHV1& c) { c.dwSampleRate = rate->currentText().toUInt(); });
    });
    auto* bitrate = addCombo(*mp3, *form, kBrnBitrate, bitrates);
    QObject::connect(bitrate, &QComboBox::activated, bitrate, [bitrate](int) {
        editMp3([&](BE_CONFIG_FORMAT_LHV1& c) { c.dwBitrate = bitrate->currentText().toUInt(); });
    });
    auto* mode = addCombo(*mp3, *form, kBrnMode, modes);
    QObject::connect(mode, &QComboBox::activated, mode, [](int index) {
        editMp3([&](BE_CONFIG_FORMAT_LHV1& c) { c.nMode = index; });
    });
    const std::pair<int, std::int32_t BE_CONFIG_FORMAT_LHV1::*> flags[] = {
        {kBrnCopyright, &BE_CONFIG_FORMAT_LHV1::bCopyright}, {kBrnCrc, &BE_CONFIG_FORMAT_LHV1::bCRC},
        {kBrnOriginal, &BE_CONFIG_FORMAT_LHV1::bOriginal},   {kBrnPrivate, &BE_CONFIG_FORMAT_LHV1::bPrivate},
        {kBrnNoReservoir, &BE_CONFIG_FORMAT_LHV1::bNoRes},   {kBrnVbr, &BE_CONFIG_FORMAT_LHV1::bEnableVBR},
    };
    for (auto [id, field] : flags) {
        addBox(*mp3, *form, id, [field, id, mp3](bool on) {
            editMp3([&](BE_CONFIG_FORMAT_LHV1& c) { c.*field = on ? 1 : 0; });
            if (id == kBrnVbr && mp3->parentWidget() != nullptr) {
                if (StepPageHost* host = stpPageHost()) {
                    if (StepPage* page = stpGetPage(host->project(), kStepBrn)) stpBrnShowValues(*page);
                }
            }
        });
    }
    for (auto [id, number, field] : {std::tuple{kBrnVbrBitrate, kBrnVbrBitrateNumber, &BE_CONFIG_FORMAT_LHV1::dwBitrate},
                                     {kBrnVbrMaximum, kBrnVbrMaximumNumber, &BE_CONFIG_FORMAT_LHV1::dwMaxBitrate}}) {
        QSlider* slider = addSlider(*mp3, *form, id, number);
        QObject::connect(slider, &QSlider::sliderReleased, slider, [slider, field] {
            editMp3([&](BE_CONFIG_FORMAT_LHV1& c) { c.*field = static_cast<std::uint32_t>(slider->value()); });
        });
    }
    return mp3;
}

void fillTargets(QComboBox& combo) {
    combo.clear();
    combo.addItem(stpText(kStrBrnMp3Target), -1);
    const int recorders = recorderCount();
    for (int k = 0; k < recorders; ++k) {
        const std::string name = "#" + std::to_string(k + 1);
        combo.addItem(QString::fromStdString(prfFormatString(qvp3ui::uiString(kStrBrnCdTarget), name)), k);
    }
}

StepPage::Result initDialog(StepPage& page, QWidget* dialog) {
    auto* brn = stpData<BrnData>(page);
    if (dialog == nullptr || brn == nullptr) return 0;
    auto* group = new QGroupBox(stpText(kStrBrnGroup), dialog);
    qvp3ui::setControlId(*group, kBrnGroupBox);
    auto* combo = new QComboBox(dialog);
    qvp3ui::setControlId(*combo, kBrnTargetCombo);
    fillTargets(*combo);
    StepPage* p = &page;
    QObject::connect(combo, &QComboBox::activated, combo, [p, combo] {
        if (p->onCommand) p->onCommand(*p, kBrnTargetCombo, combo, kComboSelectionChanged);
    });
    makeMp3Panel(*dialog);
    makeCdPanel(*dialog);
    for (int id : {kBrnTrackBar, kBrnTimeBar}) {
        auto* bar = new QProgressBar(dialog);
        qvp3ui::setControlId(*bar, id);
        bar->setTextVisible(false);
        bar->setRange(0, 1);
        bar->setValue(0);
    }
    brn->trackBar = stpControl<QProgressBar>(page, kBrnTrackBar);
    brn->timeBar = stpControl<QProgressBar>(page, kBrnTimeBar);
    auto* status = new QListWidget(dialog);
    qvp3ui::setControlId(*status, kBrnStatusList);
    status->setToolTip(stpText(kStrBrnStatusColumn));
    brn->statusList = status;
    auto* toolbar = new QToolBar(dialog);
    qvp3ui::setControlId(*toolbar, kBrnToolbar);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QAction* run = toolbar->addAction(stpText(kStrBrnRunButton));
    qvp3ui::setControlId(*run, kCmdRun);
    QObject::connect(run, &QAction::triggered, [p] {
        if (p->onCommand) p->onCommand(*p, kCmdRun, nullptr, 0);
    });
    auto view = std::make_unique<ExportPageView>(page, *dialog);
    brn->job.view = view.get();
    brn->job.exportView = view.get();
    brn->pageView = std::move(view);
    return 1;
}

void layout(StepPage& page) {
    if (page.window == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const int width = page.window->width() - content.left() - 10;
    const int toolbarTop = page.window->height() - kToolbarHeight - 4;
    const QRect group(content.left(), content.top() + 30, std::min(360, width / 2), toolbarTop - 40 - content.top() - 30);
    if (auto* box = stpControl<QGroupBox>(page, kBrnGroupBox)) box->setGeometry(group);
    const int inner = group.width() - 20;
    if (auto* combo = stpControl<QComboBox>(page, kBrnTargetCombo)) {
        combo->setGeometry(group.left() + 10, group.top() + 30, inner, combo->sizeHint().height());
    }
    for (const char* name : {kBrnMp3Panel, kBrnCdPanel}) {
        if (QWidget* child = panel(page, name)) {
            child->setGeometry(group.left() + 10, group.top() + 70, inner, group.bottom() - group.top() - 80);
        }
    }
    const int right = group.right() + 20;
    const int rightWidth = page.window->width() - right - 10;
    int y = group.top();
    for (int id : {kBrnTrackBar, kBrnTimeBar}) {
        if (auto* bar = stpControl<QProgressBar>(page, id)) bar->setGeometry(right, y, rightWidth, 14);
        y += 20;
    }
    if (auto* list = stpControl<QListWidget>(page, kBrnStatusList)) {
        list->setGeometry(right, y, rightWidth, group.bottom() - y);
    }
    if (auto* toolbar = stpControl<QToolBar>(page, kBrnToolbar)) {
        toolbar->setGeometry(content.left(), toolbarTop, width, kToolbarHeight);
        for (QAction* action : toolbar->actions()) {
            if (QWidget* button = toolbar->widgetForAction(action)) button->setMinimumSize(120, 26);
        }
    }
}

StepPage::Result onCommand(StepPage& page, int id, QWidget* widget, int code) {
    if (id == kCmdRun) {
        if (page.onRun) page.onRun(page);
        return 1;
    }
    auto* combo = qobject_cast<QComboBox*>(widget);
    if (id != kBrnTargetCombo || code != kComboSelectionChanged || combo == nullptr) return 0;
    onTarget(page, combo->currentIndex());
    return 1;
}

StepPage::Result onCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    if (widget == nullptr || qvp3ui::controlId(*widget) != kBrnGroupBox) return 0;
    palette.setColor(QPalette::WindowText, kGroupText);
    palette.setColor(QPalette::Window, kGroupBackground);
    return 1;
}

void getStatus(StepPage& page, Project& project, StepStatus& status) {
    const auto* brn = stpData<BrnData>(page);
    if (brn != nullptr && brn->job.busy()) {
        status.state = -1;
        status.stringId = kStrStepBusy;
        status.show = 3;
    } else if ((project.dirty & kDirtyWaveDone) == 0) {
        status.state = 0;
        return;
    } else {
        status.state = -2;
        status.stringId = kStrBrnWavesChanged;
        status.show = 1;
    }
    status.text = project.shell().languageString(status.stringId);
}

StepPage::Result onShow(StepPage& page, bool shown) {
    const StepPage::Result result = stpFrameworkOnShow(page, shown);
    StepPageHost* host = stpPageHost();
    if (!shown || host == nullptr) return result;
    if (auto* combo = stpControl<QComboBox>(page, kBrnTargetCombo)) fillTargets(*combo);
    const bool cd = host->project().burnMethod >= 0;
    if (QWidget* mp3 = panel(page, kBrnMp3Panel)) mp3->setVisible(!cd);
    if (QWidget* burn = panel(page, kBrnCdPanel)) burn->setVisible(cd);
    stpBrnShowValues(page);
    const ProjectEntry* entry = prjGetEntry(host->project(), -1);
    if (entry != nullptr && !entry->isBusy()) host->refreshFileList();
    return result;
}

bool readProfile(StepPage& page, const std::filesystem::path&, std::int32_t, std::int32_t type, ProjectEntry* entry) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return false;
    ProfileIo io{host->project(), host->profileContext()};
    const bool read = prfReadExport(io, page, type, entry);
    if (read) stpBrnShowValues(page);
    return read;
}

bool writeProfile(StepPage& page, const std::filesystem::path&, std::int32_t type, ProjectEntry* entry) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return false;
    ProfileIo io{host->project(), host->profileContext()};
    return prfWriteExport(io, page, type, entry);
}

// The CD panel against the chosen recorder: its speeds and burn-proof support.
void probeRecorder(StepPage& page, BrnData& brn, Project& project) {
    if (project.burnMethod < 0 || project.burnMethod == brn.probedDrive) return;
    brn.maxSpeed = 0;
    brn.burnProofSupported = false;
    CDiscWriterLib* lib = discWriter();
    const int recorders = recorderCount();
    if (lib != nullptr && recorders > 0 && project.burnMethod < recorders && lib->cdOpenDrive(project.burnMethod) >= 0) {
        char proof = 0;
        brn.burnProofSupported = lib->cdCanBurnProof(&proof) >= 0 && proof != 0;
        lib->cdCloseDrive();
    }
    auto* speed = stpControl<QSpinBox>(page, kBrnSpeed);
    // This build's recorders do not tell their speeds: the speed is the recorder's own.
    if (brn.maxSpeed <= 0 || recorders == 0) {
        project.burningSpeed = 0;
        if (speed != nullptr) speed->setEnabled(false);
    } else if (speed != nullptr) {
        speed->setEnabled(true);
        speed->setRange(2, brn.maxSpeed);
        if (project.burningSpeed <= 0 || project.burningSpeed > brn.maxSpeed) project.burningSpeed = brn.maxSpeed;
    }
    if (!brn.burnProofSupported) project.burnProof = 0;
    if (auto* proof = stpControl<QCheckBox>(page, kBrnBurnProof)) {
        proof->setEnabled(brn.burnProofSupported && recorders > 0);
    }
    brn.probedDrive = project.burnMethod;
}

void selectText(QComboBox* combo, const QString& value, const QString& fallback) {
    if (combo == nullptr) return;
    const int at = combo->findText(value);
    combo->setCurrentIndex(at >= 0 ? at : combo->findText(fallback));
}

void showMp3Values(StepPage& page, const Project& project) {
    const BE_CONFIG_FORMAT_LHV1 c = beReadConfig(project.mp3Config).LHV1;
    selectText(stpControl<QComboBox>(page, kBrnSampleRate), QString::number(c.dwSampleRate), QStringLiteral("44100"));
    selectText(stpControl<QComboBox>(page, kBrnBitrate), QString::number(c.dwBitrate), QStringLiteral("128"));
    if (auto* mode = stpControl<QComboBox>(page, kBrnMode)) mode->setCurrentIndex(std::clamp(c.nMode, 0, 3));
    for (auto [id, on] : {std::pair{kBrnCopyright, c.bCopyright}, {kBrnCrc, c.bCRC}, {kBrnOriginal, c.bOriginal},
                          {kBrnPrivate, c.bPrivate}, {kBrnNoReservoir, c.bNoRes}, {kBrnVbr, c.bEnableVBR}}) {
        if (auto* box = stpControl<QCheckBox>(page, id)) box->setChecked(on != 0);
    }
    const bool vbr = c.bEnableVBR != 0;
    if (auto* bitrate = stpControl<QComboBox>(page, kBrnBitrate)) bitrate->setEnabled(!vbr);
    for (auto [id, value] : {std::pair{kBrnVbrBitrate, c.dwBitrate}, {kBrnVbrMaximum, c.dwMaxBitrate}}) {
        if (auto* slider = stpControl<QSlider>(page, id)) {
            const QSignalBlocker quiet(slider);
            slider->setValue(static_cast<int>(value));
            slider->setEnabled(vbr);
        }
    }
    for (auto [id, value] : {std::pair{kBrnVbrBitrateNumber, c.dwBitrate}, {kBrnVbrMaximumNumber, c.dwMaxBitrate}}) {
        if (auto* number = stpControl<QLabel>(page, id)) {
            number->setNum(static_cast<int>(value));
            number->setEnabled(vbr);
        }
    }
}

}  // namespace

bool stpBrnShowValues(StepPage& page) {
    auto* brn = stpData<BrnData>(page);
    Project* p = project();
    if (brn == nullptr || p == nullptr || page.window == nullptr) return false;
    if (auto* combo = stpControl<QComboBox>(page, kBrnTargetCombo)) {
        // A recorder that is no longer there shows as MP3 export; the
        // project keeps its choice until the user picks another.
        const int index = p->burnMethod + 1;
        combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : 0);
    }
    probeRecorder(page, *brn, *p);
    if (auto* speed = stpControl<QSpinBox>(page, kBrnSpeed); speed != nullptr && p->burningSpeed > 0) {
        const QSignalBlocker quiet(speed);
        speed->setValue(p->burningSpeed);
    }
    if (auto* copies = stpControl<QSpinBox>(page, kBrnCopies)) {
        const QSignalBlocker quiet(copies);
        copies->setValue(p->cdCopies);
    }
    if (auto* tray = stpControl<QCheckBox>(page, kBrnOpenTray)) tray->setChecked(p->openTray != 0);
    if (auto* proof = stpControl<QCheckBox>(page, kBrnBurnProof)) proof->setChecked(p->burnProof != 0);
    showMp3Values(page, *p);
    return true;
}

void stpFillBrnSlots(StepPage& page) {
    page.getStatus = getStatus;
    page.onCommand = onCommand;
    page.onCtlColor = onCtlColor;
    page.enableControls = [](StepPage& p, bool enable) { stpEnableToolbarButton(p, kCmdRun, enable); };
    page.onInitDialog = [](StepPage& p, QWidget* dialog, StepPage*) { return initDialog(p, dialog); };
    page.readProfile = readProfile;
    page.writeProfile = writeProfile;
    page.onShow = onShow;
    page.onSize = layout;
}

}  // namespace qvp3
