#include "page_conversion.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPalette>
#include <QPointer>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>

#include "qvp3_project/step_changes.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kBoxHeight = 24;
constexpr int kBarHeight = 14;
constexpr int kBarMaxWidth = 400;
constexpr int kToolbarHeight = 40;
constexpr int kButtonHeight = 26;
const QColor kBarColour{0x38, 0x62, 0x87};
const QColor kBarBackground{0xE5, 0xFB, 0xFF};

QAction* toolbarAction(StepPage& page, int command) {
    return page.window != nullptr ? page.window->findChild<QAction*>(qvp3ui::controlName(command)) : nullptr;
}

ConversionPageKind kindOf(const StepPage& page) {
    return static_cast<int>(page.category) == kStepWvc ? ConversionPageKind::Wave : ConversionPageKind::Midi;
}

int overwriteBoxId(ConversionPageKind kind) { return kind == ConversionPageKind::Midi ? kMdcOverwriteBox : kWvcOverwriteBox; }
int convertAllBoxId(ConversionPageKind kind) {
    return kind == ConversionPageKind::Midi ? kMdcConvertAllBox : kWvcConvertAllBox;
}

ConversionStepPage* jobOf(StepPage& page) {
    if (auto* mdc = stpData<MdcData>(page)) return &mdc->job;
    if (auto* wvc = stpData<WvcData>(page)) return &wvc->job;
    return nullptr;
}

int* previewTargetOf(StepPage& page) {
    if (auto* mdc = stpData<MdcData>(page)) return &mdc->previewTarget;
    if (auto* wvc = stpData<WvcData>(page)) return &wvc->previewTarget;
    return nullptr;
}

ConversionPreview* previewOf(StepPage& page) {
    if (auto* mdc = stpData<MdcData>(page)) return &mdc->preview;
    if (auto* wvc = stpData<WvcData>(page)) return &wvc->preview;
    return nullptr;
}

bool previewPlays(StepPage& page) {
    const ConversionPreview* preview = previewOf(page);
    return preview != nullptr && preview->previewState != nullptr && *preview->previewState == kEntryPreviewing;
}

QStandardItemModel* modelOf(StepPage& page, int listId) {
    auto* list = stpControl<QTreeView>(page, listId);
    return list != nullptr ? qobject_cast<QStandardItemModel*>(list->model()) : nullptr;
}

int selectedRows(StepPage& page, int listId) {
    auto* list = stpControl<QTreeView>(page, listId);
    return list != nullptr && list->selectionModel() != nullptr
               ? static_cast<int>(list->selectionModel()->selectedRows().size())
               : 0;
}

// A page list as the project store fills it.
class ModelFileList : public FileListView {
public:
    explicit ModelFileList(QTreeView& view) : view_(view), model_(*qobject_cast<QStandardItemModel*>(view.model())) {}
    int rowCount() const override { return model_.rowCount(); }
    void clear() override { model_.removeRows(0, model_.rowCount()); }
    bool showPauseColumn(bool) override { return false; }
    void setCheckBoxes(std::string_view) override {}
    void appendRow(const FileListRow& row) override { model_.appendRow(new QStandardItem(QString::fromStdString(row.name))); }
    bool isChecked(int) const override { return false; }
    void setChecked(int, bool) override {}
    void selectRow(int row) override {
        const QModelIndex index = model_.index(row, 0);
        view_.selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }

private:
    QTreeView& view_;
    QStandardItemModel& model_;
};

void fillList(StepPage& page, int listId, int mode) {
    StepPageHost* host = stpPageHost();
    auto* list = stpControl<QTreeView>(page, listId);
    if (host == nullptr || list == nullptr) return;
    ModelFileList rows(*list);
    prjFillFileList(host->project(), rows, true, mode);
}

// The job reports from its worker thread: each report is posted to the
// page's window and shown there.
class PageConversionView : public ConversionStepView {
public:
    PageConversionView(StepPage& page, QWidget& window) : page_(&page), poster_(window) {}

    void enableMainWindow(bool enabled) override {
        post([enabled] {
            if (StepPageHost* host = stpPageHost()) {
                host->enableFileLists(enabled);
                host->enableEntryCommands(enabled);
                host->enableProjectCommands(enabled);
            }
        });
    }
    void showCheckBoxes(const ConversionStepCheckBox& all, const ConversionStepCheckBox& overwrite) override {
        post([p = page_, all, overwrite] {
            const ConversionPageKind kind = kindOf(*p);
            showBox(stpControl<QCheckBox>(*p, convertAllBoxId(kind)), all);
            showBox(stpControl<QCheckBox>(*p, overwriteBoxId(kind)), overwrite);
        });
    }
    void enablePageList(bool enabled) override {
        post([p = page_, enabled] {
            for (int id : {kConvFileList, kConvWaveList}) {
                if (auto* list = stpControl<QTreeView>(*p, id)) list->setEnabled(enabled);
            }
        });
    }
    void showRunButton(int stringId, int, int, bool toggleEnabled) override {
        post([p = page_, stringId, toggleEnabled] {
            if (QAction* run = toolbarAction(*p, kCmdRun)) run->setText(stpText(stringId));
            if (QAction* toggle = toolbarAction(*p, kCmdToggle)) toggle->setEnabled(toggleEnabled);
        });
    }
    void showProgress(const ConversionStepBar& total, const ConversionStepBar& file) override {
        post([p = page_, total, file] {
            showBar(stpControl<QProgressBar>(*p, kConvTotalBar), total);
            showBar(stpControl<QProgressBar>(*p, kConvFileBar), file);
        });
    }
    void showRows(const std::vector<ConversionStepRow>& rows) override {
        post([p = page_, rows] {
            const int listId = kindOf(*p) == ConversionPageKind::Wave ? kConvWaveList : kConvFileList;
            auto* list = stpControl<QTreeView>(*p, listId);
            QStandardItemModel* model = modelOf(*p, listId);
            if (list == nullptr || model == nullptr) return;
            model->removeRows(0, model->rowCount());
            for (const ConversionStepRow& row : rows) {
                model->appendRow(new QStandardItem(QString::fromStdString(row.text)));
                if (row.selected) list->scrollTo(model->index(model->rowCount() - 1, 0));
            }
        });
    }
    // The run button is enabled only when something can be converted; a
    // refresh shows the page as it is.
    void reportNothingToConvert() override {
        post([p = page_] { stpRefreshConversionPage(*p); });
    }
    // The lists show the project's converted files again.
    void stepEnded() override {
        post([p = page_] {
            fillList(*p, kConvFileList, kFileListMidi);
            if (kindOf(*p) == ConversionPageKind::Wave) fillList(*p, kConvWaveList, kFileListWaves);
            stpRefreshConversionPage(*p);
            if (StepPageHost* host = stpPageHost()) host->refreshCommands();
        });
    }

private:
    static void showBox(QCheckBox* box, const ConversionStepCheckBox& state) {
        if (box == nullptr) return;
        box->setChecked(state.checked);
        box->setEnabled(state.enabled);
    }
    static void showBar(QProgressBar* bar, const ConversionStepBar& state) {
        if (bar == nullptr) return;
        bar->setRange(0, std::max(state.maximum, 0));
        bar->setValue(std::clamp(state.position, 0, std::max(state.maximum, 0)));
    }
    template <class F>
    void post(F f) {
        poster_.post(std::move(f));
    }

    StepPage* page_;
    PagePoster poster_;
};

QTreeView* makeList(QWidget& dialog, int id, int columnString) {
    auto* list = new QTreeView(&dialog);
    qvp3ui::setControlId(*list, id);
    auto* model = new QStandardItemModel(0, 1, list);
    model->setHorizontalHeaderItem(0, new QStandardItem(stpText(columnString)));
    list->setModel(model);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setStretchLastSection(true);
    return list;
}

QProgressBar* makeBar(QWidget& dialog, int id) {
    auto* bar = new QProgressBar(&dialog);
    qvp3ui::setControlId(*bar, id);
    bar->setTextVisible(false);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, kBarColour);
    palette.setColor(QPalette::Base, kBarBackground);
    bar->setPalette(palette);
    bar->setRange(0, 0);
    bar->setValue(0);
    bar->setRange(0, 1);
    return bar;
}

QAction* makeButton(QToolBar& bar, int command, int stringId, StepPage& page) {
    QAction* action = bar.addAction(stpText(stringId));
    qvp3ui::setControlId(*action, command);
    StepPage* p = &page;
    QObject::connect(action, &QAction::triggered, [p, command] {
        if (p->onCommand) p->onCommand(*p, command, nullptr, 0);
    });
    return action;
}

void connectList(StepPage& page, QTreeView& list, int id) {
    StepPage* p = &page;
    QObject::connect(list.selectionModel(), &QItemSelectionModel::selectionChanged, &list, [p, id, &list] {
        PageNotify notify{id, kListItemChanged, &list, list.selectionModel()->hasSelection() ? 1 : 0};
        if (p->onNotify) p->onNotify(*p, notify);
    });
}

StepPage::Result initDialog(StepPage& page, QWidget* dialog) {
    if (dialog == nullptr) return 0;
    const ConversionPageKind kind = kindOf(page);
    StepPage* p = &page;
    for (auto [id, stringId] : {std::pair{overwriteBoxId(kind), kStrOverwriteBox}, {convertAllBoxId(kind), kStrConvertAllBox}}) {
        auto* box = new QCheckBox(stpText(stringId), dialog);
        qvp3ui::setControlId(*box, id);
        QObject::connect(box, &QCheckBox::clicked, box, [p, id, box] {
            if (p->onCommand) p->onCommand(*p, id, box, 0);
        });
    }
    makeBar(*dialog, kConvFileBar);
    makeBar(*dialog, kConvTotalBar);
    connectList(page, *makeList(*dialog, kConvFileList, kStrMidiListColumn), kConvFileList);
    if (kind == ConversionPageKind::Wave) {
        connectList(page, *makeList(*dialog, kConvWaveList, kStrWaveListColumn), kConvWaveList);
    }
    auto* toolbar = new QToolBar(dialog);
    qvp3ui::setControlId(*toolbar, kPageToolbar);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    makeButton(*toolbar, kCmdRun, kStrRunButton, page);
    makeButton(*toolbar, kCmdToggle, kind == ConversionPageKind::Midi ? kStrMdcPreviewButton : kStrWvcPreviewButton,
               page);
    auto view = std::make_unique<PageConversionView>(page, *dialog);
    if (auto* mdc = stpData<MdcData>(page)) {
        mdc->job.view = view.get();
        mdc->pageView = std::move(view);
    } else if (auto* wvc = stpData<WvcData>(page)) {
        wvc->job.view = view.get();
        wvc->pageView = std::move(view);
    }
    return 1;
}

void layout(StepPage& page) {
    if (page.window == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const int left = content.left();
    const int width = page.window->width() - left - 10;
    int y = content.top() + 20;
    const ConversionPageKind kind = kindOf(page);
    for (int id : {overwriteBoxId(kind), convertAllBoxId(kind)}) {
        if (auto* box = stpControl<QCheckBox>(page, id)) box->setGeometry(left, y, width, kBoxHeight);
        y += kBoxHeight;
    }
    const int barWidth = std::min(kBarMaxWidth, width);
    for (int id : {kConvFileBar, kConvTotalBar}) {
        y += 4;
        if (auto* bar = stpControl<QProgressBar>(page, id)) bar->setGeometry(left, y, barWidth, kBarHeight);
        y += kBarHeight;
    }
    y += 10;
    const int toolbarTop = page.window->height() - kToolbarHeight - 4;
    const int listBottom = toolbarTop - 14;
    auto* second = stpControl<QTreeView>(page, kConvWaveList);
    const int listWidth = second != nullptr ? (width - 10) / 2 : width;
    if (auto* list = stpControl<QTreeView>(page, kConvFileList)) list->setGeometry(left, y, listWidth, listBottom - y);
    if (second != nullptr) second->setGeometry(left + listWidth + 10, y, listWidth, listBottom - y);
    if (auto* toolbar = stpControl<QToolBar>(page, kPageToolbar)) {
        toolbar->setGeometry(left, toolbarTop, width, kToolbarHeight);
        for (QAction* action : toolbar->actions()) {
            if (QWidget* button = toolbar->widgetForAction(action)) button->setMinimumSize(width / 2 - 8, kButtonHeight);
        }
    }
}

// Check boxes: their state into the project's flag; the run and preview
// buttons and the main window's commands follow.
StepPage::Result onCommand(StepPage& page, int id, QWidget* widget, int code) {
    StepPageHost* host = stpPageHost();
    if (id == kCmdToggle) {
        // A playing preview is stopped: the toggle sees the stop request.
        if (previewPlays(page)) *previewOf(page)->previewState = kEntryStopRequested;
        if (page.onToggle) page.onToggle(page);
        return 1;
    }
    if (id == kCmdRun) {
        if (page.onRun) page.onRun(page);
        return 1;
    }
    const ConversionPageKind kind = kindOf(page);
    auto* box = qobject_cast<QCheckBox*>(widget);
    if (host == nullptr || code != 0 || box == nullptr) return 0;
    Project& project = host->project();
    const bool midi = kind == ConversionPageKind::Midi;
    if (id == overwriteBoxId(kind)) {
        (midi ? project.midiOverwrite : project.waveOverwrite) = box->isChecked() ? 1 : 0;
    } else if (id == convertAllBoxId(kind)) {
        (midi ? project.midiConvertAll : project.waveConvertAll) = box->isChecked() ? 1 : 0;
        if (!midi && box->isChecked()) stpEnableToolbarButton(page, kCmdRun, true);
    } else {
        return 0;
    }
    prjMarkStepDirty(project);
    host->refreshCommands();
    return 1;
}

StepPage::Result onCtlColor(StepPage& page, QPalette& palette, QWidget* widget) {
    const ConversionPageKind kind = kindOf(page);
    const int id = widget != nullptr ? qvp3ui::controlId(*widget) : -1;
    if (id != overwriteBoxId(kind) && id != convertAllBoxId(kind)) return 0;
    palette.setColor(QPalette::WindowText, kPageLabelText);
    palette.setColor(QPalette::ButtonText, kPageLabelText);
    return 1;
}

void enableControls(StepPage& page, bool enable) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr || prjGetEntry(host->project(), -1) == nullptr) return;
    stpEnableToolbarButton(page, kCmdToggle, enable);
    stpEnableToolbarButton(page, kCmdRun, enable);
}

void getStatus(StepPage& page, Project& project, StepStatus& status) {
    const bool midi = kindOf(page) == ConversionPageKind::Midi;
    const ConversionStepPage* job = jobOf(page);
    const int converted = midi ? project.convertedMidiCount : project.convertedWaveCount;
    if ((job != nullptr && job->busy()) || previewPlays(page)) {
        status.state = -1;
        status.stringId = kStrStepBusy;
        status.show = 3;
    } else if (converted < project.fileNum()) {
        status.state = -1;
        status.stringId = midi ? kStrMdcNotConverted : kStrWvcNotConverted;
        status.show = 1;
    } else if (!prjAnyEarlierStepDirty(project, static_cast<int>(page.category))) {
        status.state = 0;
        status.show = 0;
    } else {
        status.state = -2;
        status.stringId = kStrEarlierStepChanged;
        status.show = 1;
    }
    if (status.stringId != 0) status.text = project.shell().languageString(status.stringId);
}

StepPage::Result onNotify(StepPage& page, PageNotify& notify) {
    int* target = previewTargetOf(page);
    if (target == nullptr || notify.code != kListItemChanged) return 0;
    if (kindOf(page) == ConversionPageKind::Midi) {
        if (notify.controlId == kConvFileList) *target = notify.value != 0 ? kPreviewMidiList : -1;
        return 0;
    }
    StepPageHost* host = stpPageHost();
    const bool first = selectedRows(page, kConvFileList) > 0;
    const bool second = selectedRows(page, kConvWaveList) > 0;
    if (host != nullptr && (host->project().waveConvertAll != 0 || first)) stpEnableToolbarButton(page, kCmdRun, true);
    *target = first ? kPreviewMidiList : second ? kPreviewWaveList : -1;
    stpEnableToolbarButton(page, kCmdToggle, first || second);
    return 0;
}

void enableMainControls(StepPageHost& host, bool enable) {
    host.enableFileLists(enable);
    host.enableEntryCommands(enable);
    host.enableProjectCommands(enable);
}

void endPreview(StepPage& page, ConversionPreview& preview) {
    // The output stays open for the next preview, as the other pages' previews keep theirs.
    preview.previewGraph.reset();
    preview.previewState = nullptr;
    if (StepPageHost* host = stpPageHost()) {
        enableMainControls(*host, true);
        stpRefreshConversionPage(page);
        host->refreshCommands();
    }
    if (QAction* toggle = toolbarAction(page, kCmdToggle)) {
        toggle->setText(stpText(kindOf(page) == ConversionPageKind::Midi ? kStrMdcPreviewButton : kStrWvcPreviewButton));
    }
}

// The next selected row after the one played last; without a selection
// every row in turn.
int nextPreviewRow(StepPage& page, const ConversionPreview& preview) {
    auto* list = stpControl<QTreeView>(page, preview.previewList);
    QStandardItemModel* model = modelOf(page, preview.previewList);
    if (list == nullptr || model == nullptr) return -1;
    std::vector<int> rows;
    if (list->selectionModel() != nullptr) {
        for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
    }
    if (rows.empty()) {
        const int next = preview.previewIndex + 1;
        return next < model->rowCount() ? next : -1;
    }
    std::sort(rows.begin(), rows.end());
    const auto next = std::upper_bound(rows.begin(), rows.end(), preview.previewIndex);
    return next != rows.end() ? *next : -1;
}

// Starts the file of a row; its end comes back as the page's next toggle.
bool startPreviewRow(StepPage& page, ConversionPreview& preview, int row) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr || page.window == nullptr || row < 0) return false;
    Project& project = host->project();
    if (row >= static_cast<int>(project.entries.size())) return false;
    ProjectEntry& entry = project.entries[static_cast<std::size_t>(row)];
    auto graph = std::make_unique<CMediaPreview>();
    const PagePoster poster(*page.window);
    StepPage* target = &page;
    auto onEnd = [poster, target](int) {
        poster.post([target] {
            if (previewPlays(*target) && target->onToggle) target->onToggle(*target);
        });
    };
    bool started = false;
    if (preview.previewList == kConvWaveList) {
        std::string deviceName;
        std::unique_ptr<PcmBackend> device = host->openPreviewAudio(deviceName);
        started = graph->PlayWave(entry.convertedWavePath, std::move(device), deviceName, std::move(onEnd));
    } else {
        if (preview.previewOut == nullptr) preview.previewOut = host->openPreviewOutput();
        if (preview.previewOut == nullptr) return false;
        started = graph->PlayMidi(entry.convertedMidiPath, *preview.previewOut, std::move(onEnd));
    }
    if (!started) return false;
    preview.previewGraph = std::move(graph);
    preview.previewIndex = row;
    preview.previewState = &entry.entryState;
    entry.entryState = kEntryPreviewing;
    return true;
}

// The preview button: starts playing the list's converted files one after
// another, goes on to the next file when one has ended, and stops when the
// user stopped it (state 7) or every file has played.
void onToggle(StepPage& page) {
    ConversionPreview* preview = previewOf(page);
    const int* target = previewTargetOf(page);
    if (preview == nullptr || target == nullptr) return;
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    const bool running = preview->previewState != nullptr &&
                         (*preview->previewState == kEntryPreviewing || *preview->previewState == kEntryStopRequested);
    if (running) {
        const bool stopped = *preview->previewState == kEntryStopRequested;
        const int event = preview->previewGraph != nullptr ? preview->previewGraph->PendingEvent() : kPreviewError;
        if (!stopped && event == kPreviewNoEvent) return;
        preview->previewGraph.reset();
        *preview->previewState = 0;
        preview->previewState = nullptr;
        ++preview->previewDone;
        if (stopped || preview->previewDone >= preview->previewCount) {
            endPreview(page, *preview);
            return;
        }
    } else {
        preview->previewList = *target == kPreviewWaveList && kindOf(page) == ConversionPageKind::Wave ? kConvWaveList
                                                                                                      : kConvFileList;
        QStandardItemModel* model = modelOf(page, preview->previewList);
        if (model == nullptr || model->rowCount() == 0) return;
        preview->previewIndex = -1;
        preview->previewDone = 0;
        preview->previewCount = selectedRows(page, preview->previewList);
        if (preview->previewCount == 0) preview->previewCount = model->rowCount();
    }
    const bool first = preview->previewDone == 0;
    if (!startPreviewRow(page, *preview, nextPreviewRow(page, *preview))) {
        const bool wasRunning = !first;
        preview->previewState = nullptr;
        if (wasRunning) endPreview(page, *preview);
        ShellServices& shell = host->project().shell();
        shell.appTextBox(shell.languageString(kStrConvertedPlayFailed), kBoxWarning, kMbOk);
        return;
    }
    if (first) {
        enableMainControls(*host, false);
        stpRefreshConversionPage(page);
        host->refreshCommands();
        if (QAction* toggle = toolbarAction(page, kCmdToggle)) toggle->setText(stpText(kStrPreviewStop));
    }
}

// The WAV step renders the selection of the page's own list when not all.
void runWaveStep(StepPage& page) {
    StepPageHost* host = stpPageHost();
    auto* wvc = stpData<WvcData>(page);
    if (host == nullptr || wvc == nullptr) return;
    std::optional<WaveStepSetup> setup = host->waveStepSetup();
    if (setup) {
        auto* list = stpControl<QTreeView>(page, kConvFileList);
        if (list != nullptr && list->selectionModel() != nullptr) {
            for (const QModelIndex& index : list->selectionModel()->selectedRows()) setup->selected.push_back(index.row());
        }
    }
    cnvWaveStepRun(wvc->job, setup ? std::move(*setup) : WaveStepSetup{});
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    const bool shown = stpRefreshConversionPage(page);
    if (StepPageHost* host = stpPageHost()) {
        int mode = kProfileBarDisabled;
        if (shown) mode = stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty;
        host->layoutProfileBar(page, mode);
    }
    return 1;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    StepPageHost* host = stpPageHost();
    if (shown && host != nullptr) {
        fillList(page, kConvFileList, kFileListMidi);
        if (kindOf(page) == ConversionPageKind::Wave) fillList(page, kConvWaveList, kFileListWaves);
        stpRefreshConversionPage(page);
        host->refreshFileList();
    }
    // The profile bar (these steps have no profiles); a running job stays.
    return stpFrameworkOnShow(page, shown);
}

}  // namespace

ConversionPageLook stpConversionLook(Project& project, ConversionPageKind kind, int items, bool previewPlaying) {
    ConversionPageLook look;
    const int files = project.fileNum();
    const ProjectEntry* entry = prjGetEntry(project, -1);
    const bool entryPlaying = entry != nullptr && entry->isBusy();
    look.hasEntry = entry != nullptr;
    if (kind == ConversionPageKind::Midi) {
        if (project.convertedMidiCount < files) project.midiConvertAll = 1;
        look.convertAllChecked = project.midiConvertAll != 0;
        look.convertAllEnabled = items > 0 && files > 0 && project.convertedMidiCount == files;
        look.overwriteChecked = project.midiOverwrite != 0;
        look.overwriteEnabled = items > 0;
        look.barsEnabled = items > 0;
        look.runEnabled = items > 0 && !entryPlaying && !previewPlaying;
        look.previewEnabled = project.convertedMidiCount > 0 && !entryPlaying;
    } else {
        if (project.convertedWaveCount < project.convertedMidiCount) project.waveConvertAll = 1;
        look.convertAllChecked = project.waveConvertAll != 0;
        look.convertAllEnabled = project.convertedWaveCount == files;
        look.overwriteChecked = project.waveOverwrite != 0;
        look.overwriteEnabled = files > 0;
        look.barsEnabled = items > 0;
        look.runEnabled = (items > 0 || project.waveConvertAll != 0) && !entryPlaying && !previewPlaying;
        look.previewEnabled = (project.convertedWaveCount > 0 || project.convertedMidiCount > 0) && !entryPlaying;
    }
    look.listEnabled = !previewPlaying;
    return look;
}

bool stpRefreshConversionPage(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr || page.window == nullptr) return false;
    Project& project = host->project();
    const ConversionPageKind kind = kindOf(page);
    // The main list takes one file on MDC: its selection is the current entry.
    int items = prjGetEntry(project, -1) != nullptr ? 1 : 0;
    if (kind == ConversionPageKind::Wave) {
        items = selectedRows(page, kConvFileList);
        QStandardItemModel* model = modelOf(page, kConvFileList);
        if (items == 0 && project.convertedMidiCount > 0 && model != nullptr && model->rowCount() > 0) {
            ModelFileList(*stpControl<QTreeView>(page, kConvFileList)).selectRow(0);
            items = 1;
        }
    }
    const ConversionPageLook look = stpConversionLook(project, kind, items, previewPlays(page));
    if (auto* all = stpControl<QCheckBox>(page, convertAllBoxId(kind))) {
        all->setChecked(look.convertAllChecked);
        all->setEnabled(look.convertAllEnabled);
    }
    if (auto* overwrite = stpControl<QCheckBox>(page, overwriteBoxId(kind))) {
        overwrite->setChecked(look.overwriteChecked);
        overwrite->setEnabled(look.overwriteEnabled);
    }
    ConversionStepPage* job = jobOf(page);
    // While the job runs its worker owns the controls (run is its cancel).
    if (look.hasEntry && (job == nullptr || !job->busy())) {
        for (int id : {kConvFileBar, kConvTotalBar}) {
            if (auto* bar = stpControl<QProgressBar>(page, id)) bar->setEnabled(look.barsEnabled);
        }
        stpEnableToolbarButton(page, kCmdRun, look.runEnabled);
        stpEnableToolbarButton(page, kCmdToggle, look.previewEnabled);
        for (int id : {kConvFileList, kConvWaveList}) {
            if (auto* list = stpControl<QTreeView>(page, id)) list->setEnabled(look.listEnabled);
        }
        if (QAction* run = toolbarAction(page, kCmdRun)) run->setText(stpText(kStrRunButton));
    }
    return kind == ConversionPageKind::Midi && !look.hasEntry;
}

void stpFillConversionSlots(StepPage& page, ConversionPageKind kind) {
    page.getStatus = getStatus;
    page.onCommand = onCommand;
    page.onCtlColor = onCtlColor;
    page.enableControls = enableControls;
    page.onPartChanged = onPartChanged;
    page.onToggle = onToggle;
    page.onInitDialog = [](StepPage& p, QWidget* dialog, StepPage*) { return initDialog(p, dialog); };
    page.onNotify = onNotify;
    page.onShow = onShow;
    page.onSize = layout;
    if (kind == ConversionPageKind::Wave) page.onRun = runWaveStep;
}

}  // namespace qvp3
