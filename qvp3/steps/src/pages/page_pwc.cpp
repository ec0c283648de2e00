// The sound configuration page: per file, whether its MIDI file becomes
// sound through the software synthesizer or through the sample player with
// an instrument of the catalogue, an audio output and an effect; for the
// sample library, which of its instruments plays each sound of the file.
#include <QAction>
#include <QComboBox>
#include <QPainter>
#include <QTabBar>
#include <QToolBar>
#include <QTreeWidget>

#include "page_preview_link.h"
#include "pwc_controls.h"
#include "pwc_instrument_window.h"
#include "pwc_page.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/wave_render_adapter.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/ui_utils.h"

namespace qvp3 {

namespace pwc {

namespace {

constexpr int kStrPwcNoSampler = 96;
constexpr int kImageStop = 5;
constexpr int kImagePlay = 3;

PwcTabBar* tabBar(StepPage& page) { return page.window ? page.window->findChild<PwcTabBar*>() : nullptr; }

PwcTabArea* tabArea(StepPage& page) {
    return page.window ? page.window->findChild<PwcTabArea*>(kTabAreaName) : nullptr;
}

void repaintTabs(StepPage& page) {
    if (PwcTabBar* bar = tabBar(page)) bar->update();
    if (PwcTabArea* area = tabArea(page)) area->update();
}

// Every edit on the page: the step is changed, and the commands follow.
void edited() { stpPageEdited(); }

int methodTab(const ProjectEntry& entry) { return entry.MWConversionMethod != 0 ? kTabSampler : kTabSynth; }

// appTabSelect: the tab is selected and the change reported as a click would.
void appTabSelect(StepPage& page, int tab) {
    PwcTabBar* bar = tabBar(page);
    if (bar == nullptr) return;
    if (bar->currentIndex() == tab) {
        PageNotify notify{kTabs, kTabSelChange, bar, tab};
        if (page.onNotify) page.onNotify(page, notify);
    } else {
        bar->setCurrentIndex(tab);
    }
}

}  // namespace

bool pwcInstrumentHasWindow(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    return a.player != nullptr && !pwcIsSampleLibrary(entry) && a.player->HasEditor(entry.samplerIndex);
}

PwcAudio pwcAudio() {
    PwcAudio a;
    if (StepPageHost* host = stpPageHost()) {
        a.devices = host->outputDevices();
        a.catalog = a.devices != nullptr ? a.devices->catalog.get() : nullptr;
        a.player = a.catalog != nullptr ? host->samplePlayer() : nullptr;
    }
    return a;
}

bool isPwcPage(const StepPage& page) { return static_cast<int>(page.category) == kStepPwc; }

ProjectEntry* pwcEntry() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr || host->project().entries.empty()) return nullptr;
    return prjGetEntry(host->project(), -1);
}

bool pwcPlaying() {
    const PwcAudio a = pwcAudio();
    return a.player != nullptr && a.player->playing();
}

bool pwcIsSampleLibrary(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    if (a.catalog != nullptr && entry.samplerIndex >= 0) {
        return audIsQvoPlugInName(a.catalog->GetInstrumentName(entry.samplerIndex));
    }
    return audIsQvoPlugInName(entry.SamplePlayer);
}

int pwcInstrumentKind(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    if (a.catalog == nullptr || entry.samplerIndex < 0 ||
        static_cast<std::size_t>(entry.samplerIndex) >= a.catalog->instruments.size()) {
        return 0;
    }
    return a.catalog->instruments[static_cast<std::size_t>(entry.samplerIndex)].kind;
}

SampleInstrumentRequest pwcRequest(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    SampleInstrumentRequest request = SamplePlayerWaveRenderer::RequestFor(entry, *a.catalog);
    // The entry's own instance (a copy of the catalogue's when another file uses it).
    if (entry.samplerIndex >= 0 && static_cast<std::size_t>(entry.samplerIndex) < a.catalog->instruments.size()) {
        const PlugInEntry& own = a.catalog->instruments[static_cast<std::size_t>(entry.samplerIndex)];
        if (own.enabled && own.name == entry.SamplePlayer) request.entry = entry.samplerIndex;
    }
    return request;
}

void pwcFillBox(QComboBox& box, const CatalogList& list) {
    const QSignalBlocker block(&box);
    box.clear();
    for (const CatalogListItem& item : list.items) {
        qvp3ui::scComboExInsertItem(box, box.count(), QString::fromStdString(item.text),
                                    item.image >= 0 ? pwcImage(item.image) : QIcon(), item.data);
    }
    box.setCurrentIndex(list.selected);
    box.setEnabled(list.enabled);
}

int pwcShownTab(StepPage& page) {
    const auto* data = stpData<PwcData>(page);
    return data != nullptr ? data->shownTab : -1;
}

void pwcFillOutputBox(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* box = stpControl<QComboBox>(page, kOutputBox);
    if (a.devices == nullptr || box == nullptr) return;
    std::string name = entry.OutDevSampler;
    const bool includeAsio = pwcInstrumentKind(entry) == kPlugInKindVst;
    pwcFillBox(*box, a.devices->FillAudioOutCombo(includeAsio, &name, pwcPlaying()));
    const int own = a.devices->FindAudioOut(entry.OutDevSampler);
    int row = own > 0 && a.devices->IsAudioOutEnabled(own) ? qvp3ui::audFindComboItemData(*box, own) : -1;
    if (row < 0) {
        // The output the entry names is not offered: the first one stands in.
        row = box->count() > 0 ? 0 : -1;
        entry.OutDevSampler = row >= 0 ? a.devices->GetAudioOutName(box->itemData(row).toInt()) : std::string();
    }
    const QSignalBlocker block(box);
    box->setCurrentIndex(row);
}

void pwcOpenSetup(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* data = stpData<PwcData>(page);
    if (a.player == nullptr || data == nullptr) return;
    data->reopenSetup = false;
    if (entry.MWConversionMethod != 1) return;
    StepPageHost* host = stpPageHost();
    a.player->SetOutputName(entry.OutDevSampler);
    const std::filesystem::path setupFile =
        host->project().data.ProjectFolder / (entry.Filename.stem().string() + "_setup");
    // The instrument's window goes only where the sample player's tab shows it.
    const bool samplerTab = data->shownTab == kTabSampler;
    data->windowPlayer = a.player;
    a.player->OpenSetup(nullptr, samplerTab ? data->instrumentWindow.get() : nullptr, setupFile, pwcRequest(entry));
    if (QWidget* area = pwcPlayerWindowArea(page)) area->setVisible(samplerTab && pwcInstrumentHasWindow(entry));
    repaintTabs(page);
}

StepPage::Result stpPwcShowPartConfig(ProjectEntry* given, StepPage& page, bool openSetup, bool) {
    auto* data = stpData<PwcData>(page);
    if (!isPwcPage(page) || data == nullptr) return 0;
    if (data->displayGuard) return 1;
    ProjectEntry* current = pwcEntry();
    ProjectEntry* entry = given != nullptr ? given : current;
    if (entry == nullptr) return 0;
    const PwcAudio a = pwcAudio();
    data->displayGuard = true;
    const bool shownEntry = entry == current && openSetup;
    if (shownEntry) appTabSelect(page, methodTab(*entry));
    if (entry->MWConversionMethod == 1) {
        const int before = entry->samplerIndex;
        StepPageHost* host = stpPageHost();
        const int index = host->project().pipeline().cnvApplyEntrySampler(*entry, nullptr);
        if (shownEntry) {
            pwcShowPlayToolbar(page, entry->samplerIndex != -1);
            stpPwcEnableToolbars(page);
            if (index >= 0) host->project().audio().clearInstrumentUse(index);
            if (index != before) appTabSelect(page, methodTab(*entry));
        }
        pwcFillOutputBox(page, *entry);
        if (auto* box = stpControl<QComboBox>(page, kInstrumentBox)) {
            const QSignalBlocker block(box);
            // A file's own copy of an instrument is listed under the instrument's name.
            int row = qvp3ui::audFindComboItemData(*box, entry->samplerIndex);
            if (row < 0 && !entry->SamplePlayer.empty()) row = box->findText(QString::fromStdString(entry->SamplePlayer));
            box->setCurrentIndex(row);
        }
    }
    if (data->reopenSetup) pwcOpenSetup(page, *entry);
    if (a.catalog != nullptr && pwcIsSampleLibrary(*entry)) stpPwcFillTrackTree(page);
    if (data->shownTab == kTabEffect) {
        cnvShowEntryEffectPanel(page, *entry, true);
        pwcRestoreEffect(page, *entry);
    }
    data->displayGuard = false;
    return 1;
}

void stpPwcEnableToolbars(StepPage& page) {
    const ProjectEntry* entry = pwcEntry();
    const PwcAudio a = pwcAudio();
    const int method = entry != nullptr ? entry->MWConversionMethod : 0;
    const bool playing = pwcPlaying();
    const bool library = entry != nullptr && pwcIsSampleLibrary(*entry);
    const bool effects = method != 0 && !playing && entry != nullptr && entry->samplerIndex >= 0;
    stpEnableToolbarButton(page, kCmdRun, method == 1 && library && !playing);
    stpEnableToolbarButton(page, kCmdToggle, method == 1 && a.catalog != nullptr && a.catalog->CountPresentInstruments() > 0);
    stpEnableToolbarButton(page, kCmdAddEffect, effects);
    stpEnableToolbarButton(page, kCmdRemoveEffect,
                           effects && a.catalog != nullptr && a.catalog->FindEffect(entry->Reverb) >= 0);
}

void stpPwcUpdateState(StepPage& page, bool busy) {
    const ProjectEntry* entry = pwcEntry();
    const PwcAudio a = pwcAudio();
    stpEnableIds(page, {kSoundTree, kInstrumentBox, kOutputBox, kLibInstrumentBox, kLibProgramBox, kValue}, !busy);
    const int method = entry != nullptr ? entry->MWConversionMethod : 0;
    const bool library = entry != nullptr && pwcIsSampleLibrary(*entry);
    stpEnableToolbarButton(page, kCmdRun, library && !busy);
    stpEnableToolbarButton(page, kCmdAddEffect, method != 0 && !busy);
    stpEnableToolbarButton(page, kCmdRemoveEffect, method != 0 && !busy && entry != nullptr && a.catalog != nullptr &&
                                                       a.catalog->FindEffect(entry->Reverb) >= 0);
    if (auto* bar = tabBar(page)) bar->setTabEnabled(kTabSynth, !busy);
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    host->enableFileLists(!busy);
    host->enableEntryCommands(!busy);
    host->enableProjectCommands(!busy);
    host->layoutProfileBar(page, !busy && stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarDisabled);
}

}  // namespace pwc

namespace {

using namespace pwc;

// An entry on the sample player needs an output and an instrument. An empty
// output is taken from the output box as shown, so that a fresh entry plays
// through what the user sees; only a missing instrument, or no output shown,
// is reported.
void getStatus(StepPage& page, Project& project, StepStatus& status) {
    for (ProjectEntry& entry : project.entries) {
        if (entry.MWConversionMethod != 1) continue;
        if (entry.OutDevSampler.empty()) {
            auto* box = stpControl<QComboBox>(page, kOutputBox);
            const int row = box != nullptr ? box->currentIndex() : -1;
            if (row >= 0) {
                const QVariant data = box->itemData(row);
                if (data.isValid() && data.toInt() == -1) return;
                const PwcAudio a = pwcAudio();
                entry.OutDevSampler = a.devices != nullptr && data.isValid()
                                          ? a.devices->GetAudioOutName(data.toInt())
                                          : box->itemText(row).toStdString();
                if (entry.OutDevSampler.empty()) entry.OutDevSampler = box->itemText(row).toStdString();
                return;
            }
        } else if (!entry.SamplePlayer.empty()) {
            continue;
        }
        entry.pending[kStepPwc] = 1;
        status.state = -1;
        status.stringId = kStrPwcNoSampler;
        status.show = 1;
        status.text = project.shell().languageString(kStrPwcNoSampler);
        return;
    }
}

// The common end of a choice of instrument or output: the sample player
// opens the entry's set-up again, and the host's instruments are loaded
// anew before the next playing.
void afterSamplerChoice(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    if (a.catalog != nullptr) a.catalog->vstHost->instrumentsReady = false;
    pwcOpenSetup(page, entry);
    edited();
}

void chooseInstrument(StepPage& page, ProjectEntry& entry, QComboBox& box) {
    const PwcAudio a = pwcAudio();
    if (a.catalog == nullptr || box.currentIndex() < 0) return;
    CPlugInCatalog& catalog = *a.catalog;
    const int chosen = box.itemData(box.currentIndex()).toInt();
    const auto valid = [&catalog](int i) { return i >= 0 && static_cast<std::size_t>(i) < catalog.instruments.size(); };
    if (!valid(chosen)) return;
    const int old = entry.samplerIndex;
    if (valid(old)) catalog.instruments[static_cast<std::size_t>(old)].loadMark = 0;
    int code = 0;
    const std::string name = catalog.GetInstrumentName(chosen);
    int own = catalog.FindInstrumentEx(name, code);
    if (own < 0 && code == 2) {
        // Every instance is another file's: this file gets one of its own.
        int copy = -1;
        if (catalog.DuplicateInstrument(static_cast<std::size_t>(chosen), copy) == 0) {
            if (catalog.CreateSoftSynth(static_cast<std::size_t>(copy))) {
                own = copy;
            } else {
                catalog.RemoveInstrument(static_cast<std::size_t>(copy));
            }
        }
    }
    if (own < 0) {
        // No instance to be had: the file keeps what it had.
        if (valid(old)) catalog.instruments[static_cast<std::size_t>(old)].loadMark = 1;
        const QSignalBlocker block(&box);
        box.setCurrentIndex(qvp3ui::audFindComboItemData(box, old));
        return;
    }
    prjSetEntrySampler(entry, catalog.GetInstrumentName(own), own);
    catalog.instruments[static_cast<std::size_t>(own)].loadMark = 1;
    pwcFillOutputBox(page, entry);
    afterSamplerChoice(page, entry);
    const bool library = pwcIsSampleLibrary(entry);
    stpPwcShowSamplerGroup(page, true, true, !library && pwcInstrumentHasWindow(entry));
    stpPwcShowSampleLibGroup(page, library);
    if (library) stpPwcFillTrackTree(page);
    stpPwcEnableToolbars(page);
    repaintTabs(page);
}

void chooseOutput(StepPage& page, ProjectEntry& entry, QComboBox& box) {
    const PwcAudio a = pwcAudio();
    if (a.devices == nullptr || box.currentIndex() < 0) return;
    const int chosen = box.itemData(box.currentIndex()).toInt();
    if (chosen != a.devices->FindAudioOut(entry.OutDevSampler)) entry.OutDevSampler = a.devices->GetAudioOutName(chosen);
    afterSamplerChoice(page, entry);
}

StepPage::Result onCommand(StepPage& page, int id, QWidget* control, int code) {
    if (id == kCmdToggle) {
        if (page.onToggle) page.onToggle(page);
        return 0;
    }
    if (id == kCmdRun) {
        if (page.onRun) page.onRun(page);
        return 0;
    }
    ProjectEntry* entry = pwcEntry();
    auto* data = stpData<PwcData>(page);
    if (!isPwcPage(page) || entry == nullptr || data == nullptr || data->displayGuard) return 0;
    if (id == kCmdAddEffect) {
        pwcAddEffect(page, *entry);
        return 0;
    }
    if (id == kCmdRemoveEffect) {
        pwcRemoveEffect(page, *entry);
        return 0;
    }
    auto* box = qobject_cast<QComboBox*>(control);
    if (box == nullptr || code != kSelChange) return 0;
    switch (id) {
    case kInstrumentBox: chooseInstrument(page, *entry, *box); break;
    case kOutputBox: chooseOutput(page, *entry, *box); break;
    case kEffectBox: pwcOnEffectChoice(page, *entry); break;
    case kLibInstrumentBox:
    case kLibProgramBox: pwcOnLibraryChoice(page, *entry, id); break;
    default: break;
    }
    return 0;
}

void showSynthTab(StepPage& page, ProjectEntry& entry) {
    entry.MWConversionMethod = 0;
    pwcShowCredits(page, true);
    stpPwcShowSamplerGroup(page, false, false, false);
    stpPwcShowSampleLibGroup(page, false);
    stpPwcShowEffectGroup(page, false);
}

// False when the tab was shown already and only asks for the set-up again.
bool showSamplerTab(StepPage& page, ProjectEntry& entry, PwcData& data) {
    if (data.shownTab == kTabSampler && entry.SamplePlayer == data.shownSampler && !data.reopenSetup) {
        data.reopenSetup = true;
        return false;
    }
    entry.MWConversionMethod = 1;
    data.shownSampler = entry.SamplePlayer;
    const bool library = pwcIsSampleLibrary(entry);
    stpPwcShowSamplerGroup(page, true, entry.samplerIndex != -1, !library && pwcInstrumentHasWindow(entry));
    stpPwcShowSampleLibGroup(page, library);
    stpPwcShowEffectGroup(page, false);
    pwcShowCredits(page, false);
    return true;
}

void showEffectTab(StepPage& page, ProjectEntry& entry) {
    stpPwcShowEffectGroup(page, true);
    pwcShowCredits(page, false);
    stpPwcShowSamplerGroup(page, false, entry.MWConversionMethod == 1, false);
    stpPwcShowSampleLibGroup(page, false);
}

StepPage::Result onTabChange(StepPage& page, ProjectEntry& entry, PwcData& data) {
    PwcTabBar* bar = tabBar(page);
    if (bar == nullptr) return 0;
    data.changeFrom = bar->previous();
    int tab = bar->currentIndex();
    // Showing the entry's configuration selects the tab it is on: nothing to do.
    if (data.displayGuard && tab == data.shownTab) return 0;
    const int methodBefore = entry.MWConversionMethod;
    // Leaving the effect tab always returns to the file's method.
    if (data.changeFrom == kTabEffect && tab != kTabEffect) {
        tab = methodTab(entry);
        bar->selectQuietly(tab);
    }
    repaintTabs(page);
    if (tab == kTabSynth && pwcPlaying()) {
        bar->selectQuietly(data.changeFrom >= 0 ? data.changeFrom : kTabSampler);
        return 0;
    }
    const int shown = data.shownTab;
    if (tab == kTabSynth && shown != kTabSynth) showSynthTab(page, entry);
    if (tab == kTabSampler && !showSamplerTab(page, entry, data)) return 0;
    if (tab == kTabEffect && shown != kTabEffect) showEffectTab(page, entry);
    data.shownTab = tab;
    stpPwcEnableToolbars(page);
    StepPageHost* host = stpPageHost();
    stpPwcShowPartConfig(&entry, page, tab == kTabSampler, host->project().suspendDirty != 0);
    if (page.window != nullptr) page.window->update();
    // Choosing the other method is an edit; showing the one the file has is not.
    if (shown != -1 && tab != kTabEffect && entry.MWConversionMethod != methodBefore) edited();
    return 0;
}

StepPage::Result onNotify(StepPage& page, PageNotify& notify) {
    ProjectEntry* entry = pwcEntry();
    auto* data = stpData<PwcData>(page);
    if (!isPwcPage(page) || entry == nullptr || data == nullptr) return 0;
    switch (notify.controlId) {
    case kTabs: return notify.code == kTabSelChange ? onTabChange(page, *entry, *data) : 0;
    case kSoundTree:
        if (notify.code != kTreeSelChanged || data->displayGuard || pwcPlaying()) return 0;
        return pwcOnTreeSelection(page, *entry);
    case kEffectPrograms:
        if (notify.code != kListItemChanged || data->displayGuard) return 0;
        return pwcOnEffectProgram(page, *entry, static_cast<int>(notify.value));
    default: return 0;
    }
}

// The tabs: the tab's own picture and text on the application's tab colours.
StepPage::Result onDrawItem(StepPage& page, PageDrawItem& item) {
    if (item.controlId != kTabs || item.painter == nullptr || item.control == nullptr) return 0;
    auto* bar = qobject_cast<QTabBar*>(item.control);
    if (bar == nullptr) return 0;
    QPainter& painter = *item.painter;
    QRect r = item.rect.adjusted(0, 1, 0, 0);
    if (item.selected) r.adjust(-1, 0, 0, 2);
    painter.fillRect(r, item.selected ? QColor(Qt::white) : kPageDisabledItem);
    painter.setPen(kPageSeparator);
    painter.drawRect(r.adjusted(0, 0, -1, item.selected ? 0 : -1));
    const int imageX = r.left() + (item.selected ? 5 : 2);
    const QPixmap image = bar->tabIcon(item.itemId).pixmap(16, 16, item.enabled && bar->isTabEnabled(item.itemId)
                                                                        ? QIcon::Normal
                                                                        : QIcon::Disabled);
    painter.drawPixmap(imageX, r.top() + (r.height() - 16) / 2, image);
    QFont font = bar->font();
    font.setBold(item.selected);
    painter.setFont(font);
    painter.setPen(kPageValueText);
    const QRect text(imageX + 16 + 2, r.top() + (item.selected ? 4 : 2), r.right() - imageX - 18, r.height() - 4);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, bar->tabText(item.itemId).left(256));
    (void)page;
    return 1;
}

void enableControls(StepPage& page, bool on) {
    if (pwcEntry() != nullptr) stpEnableToolbarButton(page, kCmdToggle, on);
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t value) {
    if (value == -1) return 0;
    stpPwcShowPartConfig(nullptr, page, pwcShownTab(page) != kTabEffect, false);
    const PwcAudio a = pwcAudio();
    if (a.catalog != nullptr) a.catalog->vstHost->instrumentsReady = false;
    return 0;
}

void onToggle(StepPage& page) {
    ProjectEntry* entry = pwcEntry();
    const PwcAudio a = pwcAudio();
    if (entry == nullptr || a.player == nullptr || a.catalog->CountPresentInstruments() <= 0) return;
    if (a.player->playing()) {
        stpPwcPlaybackEnded(page);
        return;
    }
    stpPwcUpdateState(page, true);
    // A VST instrument sounds through the render host's output, which tells the user when it does not open.
    if (pwcInstrumentKind(*entry) == kPlugInKindVst &&
        !a.catalog->audStartVstOutput(entry->OutDevSampler, stpPageHost()->project().shell())) {
        stpPwcUpdateState(page, false);
        return;
    }
    a.player->SetOutputName(entry->OutDevSampler);
    a.player->SetMidiFile(entry->convertedMidiPath);
    if (a.player->Start(pwcRequest(*entry)) != S_OK) {
        stpPwcUpdateState(page, false);
        const std::string why = a.player->Message();
        if (!why.empty()) qvp3ui::appWarningBox(0, why);
        return;
    }
    entry->entryState = kEntryPlaying;
    appSetToolbarButtonText(page, kStrStopButton, kCmdToggle, kImageStop);
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (!shown) {
        stpStopNotifier(page);
        return 1;
    }
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = pwcEntry();
    host->layoutProfileBar(page, stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty);
    const PwcAudio a = pwcAudio();
    auto* instruments = stpControl<QComboBox>(page, kInstrumentBox);
    if (instruments != nullptr && instruments->count() == 0 && a.catalog != nullptr) {
        std::string name = entry != nullptr ? entry->SamplePlayer : std::string();
        pwcFillBox(*instruments, a.catalog->FillInstrumentCombo(name));
    }
    if (entry == nullptr) {
        stpPwcEnableToolbars(page);
        return 1;
    }
    pwcFillOutputBox(page, *entry);
    appTabSelect(page, methodTab(*entry));
    if (!entry->isBusy()) stpStartNotifier(page);
    const bool fixedPrograms = entry->kind == EntryKind::TvrXml && entry->ConvertForQvo != 0;
    if (auto* programs = stpControl<QComboBox>(page, kLibProgramBox)) {
        if (fixedPrograms) programs->setCurrentIndex(-1);
        programs->setEnabled(!fixedPrograms);
    }
    return 1;
}

}  // namespace

void stpPwcPlaybackEnded(StepPage& page) {
    const PwcAudio a = pwcAudio();
    if (a.player != nullptr && a.player->playing()) a.player->Stop();
    if (ProjectEntry* entry = pwcEntry()) entry->entryState = kEntryIdle;
    appSetToolbarButtonText(page, kStrPlayButton, kCmdToggle, kImagePlay);
    stpPwcUpdateState(page, false);
    stpPwcEnableToolbars(page);
    if (StepPageHost* host = stpPageHost()) host->refreshCommands();
}

void stpFillPwcSlots(StepPage& page) {
    page.getStatus = getStatus;
    page.onCommand = onCommand;
    page.onDrawItem = onDrawItem;
    page.enableControls = enableControls;
    page.onPartChanged = onPartChanged;
    page.onToggle = onToggle;
    page.onInitDialog = [](StepPage& p, QWidget* dialog, StepPage*) -> StepPage::Result {
        auto* data = stpData<PwcData>(p);
        if (dialog == nullptr || data == nullptr) return 0;
        data->displayGuard = false;
        pwcBuildControls(p, *dialog);
        if (QWidget* area = pwcPlayerWindowArea(p)) {
            data->instrumentWindow = std::make_unique<PwcInstrumentWindow>(*area, [] { stpPageEdited(); });
        }
        data->reopenSetup = true;
        stpPwcShowSamplerGroup(p, false, false, false);
        stpPwcShowSampleLibGroup(p, false);
        stpPwcShowEffectGroup(p, false);
        pwcLayout(p);
        return 1;
    };
    page.onNotify = onNotify;
    page.onShow = onShow;
    page.onSize = pwcLayout;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
