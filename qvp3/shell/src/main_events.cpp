// The main window's handlers of window events: closing, activation, the
// transport, the position slider and the engine's position reports.
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QSlider>
#include <QItemSelectionModel>
#include <QTabWidget>
#include <QTreeView>

#include "qvp3_audio/output_device_model.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "platform/files.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_shell/shell_utils.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

bool MainCommands::onClose() {
    Project& p = project();
    if (app().projectOpen && !p.saved) {
        const int answer = appAskSaveProject(app());
        if (answer == kIdCancel) return false;
        if (answer == kIdYes) {
            if (!saveProject()) return false;  // a failed save keeps the window and the work
        } else if (!fs::exists(p.filePath)) {
            discardUnsavedProject();
        }
    }
    if (app().projectOpen && fs::exists(p.filePath)) app().recentFiles->add(p.filePath);
    return true;
}

void MainCommands::discardUnsavedProject() {
    Project& p = project();
    const fs::path folder = p.data.ProjectFolder;
    app().stopAllThreads();
    // Only what the project made goes: its converted files and MP3 files.
    // The user's own files in the folder stay, and so does a folder that
    // still holds any.
    appDeleteProjectOutput(folder, p.data.ProjectTitle);
    std::error_code ec;
    if (!folder.empty() && fs::is_empty(folder, ec)) fs::remove(folder, ec);
    app().projectFolder = app().projectsRoot;
    app().howToStart = 1;
}

void MainCommands::onDestroy() {
    std::error_code ec;
    if (!app().editorProjectCopy.empty()) fs::remove(app().editorProjectCopy, ec);
    app().editorProjectCopy.clear();
    app().stopAllThreads();
    steps().destroyPages();
    SaveRegistrySettings(app());
}

void MainCommands::onActivateApp(bool active) {
    const int step = project().currentStep;
    if (step == 6 || step == 11) steps().notifyActivation(active);
    if (active && app().editorWatchActive) appCheckEditorChanges(window_);
}

bool MainCommands::runTransportCommand(int id) {
    switch (id) {
    case cmd::kPlay: play(); return true;
    case cmd::kStop: stop(); return true;
    case cmd::kToStart: toStart(); return true;
    case cmd::kBack:
    case cmd::kForward: {
        // From the menu or a key: as holding F5 or F7.
        ProjectEntry* entry = currentEntry();
        const bool seeking = entry && plyEntryPlayer(*entry).mode == kPlayerSeek;
        onSeekKey(id == cmd::kBack ? Qt::Key_F5 : Qt::Key_F7, !seeking);
        return true;
    }
    default: return false;
    }
}

void MainCommands::play() {
    ProjectEntry* entry = currentEntry();
    if (!entry) return;
    if (entry->isBusy()) {
        app().playback->plyPause(*entry);
    } else {
        EntryPlayer& player = plyEntryPlayer(*entry);
        if (player.mode != kPlayerSeek) player.mode = kPlayerPlay;
        const int result = app().playback->plyStart(*entry);
        switch (result) {
        case 0: break;
        case kPlayNoOutput: qvp3ui::appWarningBox(278); break;
        case kPlayNoLength: qvp3ui::appWarningBox(279); break;
        case -6: qvp3ui::appWarningBox(215); break;
        default: qvp3ui::appWarningBox(cmd::kPlay); break;
        }
    }
    window_.updateTransport();
    window_.updateCommands();
}

void MainCommands::stop() {
    if (ProjectEntry* entry = currentEntry()) app().playback->plyStop(*entry);
    window_.updateTransport();
    window_.updateCommands();
}

void MainCommands::toStart() {
    if (ProjectEntry* entry = currentEntry()) app().playback->plyRewind(*entry);
    window_.updateTransport();
}

void MainCommands::onSeekKey(int key, bool down) {
    if (key != Qt::Key_F5 && key != Qt::Key_F7) return;
    ProjectEntry* entry = currentEntry();
    if (!entry) return;
    EntryPlayer& player = plyEntryPlayer(*entry);
    if (player.mode == kPlayerSeek || player.wind) {
        if (!down) app().playback->plyStopPositionThread(*entry);
    } else if (down) {
        const std::int32_t state = plyEntryState(*entry);
        if (state == kEntryPlaying || state == kEntryPlayingAlt || state == kEntryPaused) {
            app().playback->plyBeginSeek(*entry);
            app().playback->plyStartPositionThread(*entry, key == Qt::Key_F7 ? 1000 : -1000);
        }
    }
    window_.updateTransport();
}

void MainCommands::onPositionScroll(int sliderAction) {
    ProjectEntry* entry = currentEntry();
    if (!entry) return;
    auto* slider = qvp3ui::findControl<QSlider>(window_, ctl::kPositionSlider);
    const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
    int factor = 1;
    if (sliderAction == QAbstractSlider::SliderSingleStepAdd || sliderAction == QAbstractSlider::SliderSingleStepSub)
        factor = (mods & Qt::ControlModifier) ? 100 : (mods & Qt::ShiftModifier) ? 1000 : 1;
    app().playback->plyBeginSeek(*entry);
    if (sliderAction == QAbstractSlider::SliderMove) return;  // dragging: the seek ends on release
    const std::int32_t model = app().playback->plyEntryPosition(*entry);
    const int wanted = slider->sliderPosition();
    if (wanted == model) return;
    const std::int64_t target = std::clamp<std::int64_t>(
        model + static_cast<std::int64_t>(wanted - model) * factor, 0, slider->maximum());
    app().playback->plySeek(*entry, static_cast<std::int32_t>(target), true);
    window_.updateTransport();
}

void MainCommands::onMidiOutChanged() {
    auto* combo = qvp3ui::findControl<QComboBox>(window_, ctl::kMidiOutList);
    const int index = combo->currentIndex();
    if (index < 0) return;
    app().outputDevices->selectedMidiOut = static_cast<std::uint32_t>(index);
    const std::string name = app().outputDevices->GetMidiOutName();
    app().pipeline->midiOutputName = name;
    app().playback->midiOutputName = name;
}

void MainCommands::onPlaybackEnded() {
    if (app().samplePlayer && app().samplePlayer->playing()) app().samplePlayer->Stop();
    if (ProjectEntry* entry = currentEntry()) entry->entryState = kEntryIdle;
    // The sound configuration page plays through the sample player: its button and state follow.
    if (StepPage* pwc = project().stepPages[kStepPwc].get(); pwc != nullptr && pwc->data) stpPwcPlaybackEnded(*pwc);
    window_.updateTransport();
    window_.updateCommands();
}

void MainCommands::onPlayPosition(platform::WParam code, platform::LParam ms) {
    ProjectEntry* entry = currentEntry();
    if (!entry) return;
    if (code == kTavtunePlaybackStopped) {
        app().playback->plyStop(*entry);
        window_.updateTransport();
        window_.updateCommands();
        return;
    }
    if (code != kTavtunePositionUpdate) return;
    if (!isScoreKind(entry->kind) || !app().tavtune->IsScoreOpen(entry->Filename)) return;
    window_.showPlayPosition(static_cast<int>(ms), -1, -1);
}

void MainCommands::selectStep(int step, bool fromClick) {
    if (step < 0 || step >= kStepCount) {
        if (fromClick) window_.stepTab()->setCurrentIndex(std::max(project().currentStep, 0));
        return;
    }
    if (!app().projectOpen) {
        window_.stepTab()->setCurrentIndex(std::max(project().currentStep, 0));
        return;
    }
    // An earlier step with unfinished work keeps the user there, with its message.
    StepStatus status;
    const int earlier = step > project().currentStep ? prjFindStepWithStatus(project(), step, &status) : -1;
    if (earlier >= 0 && earlier < step) {
        steps().selectStep(earlier);
        window_.stepTab()->setCurrentIndex(std::max(project().currentStep, 0));
        if (status.stringId != 0 || !status.text.empty()) qvp3ui::appInfoBox(status.stringId, status.text);
        return;
    }
    steps().selectStep(step);
    project().saved = 0;
    refreshProfileBar();
    window_.updateCommands();
}

void MainCommands::onFileSelected(int row) {
    Project& p = project();
    const int entry = row >= 0 && row < p.fileNum() ? row : -1;
    if (entry == p.currentEntry) return;
    // The entry that was playing goes quiet before another becomes current.
    if (ProjectEntry* old = currentEntry(); old && (old->isBusy() || plyEntryState(*old) == kEntryPaused))
        app().playback->plyStop(*old);
    const std::uint8_t suspended = p.suspendDirty;
    p.suspendDirty = 1;
    p.currentEntry = entry;
    p.suspendDirty = suspended;
    window_.updateTransport();
    window_.updateCommands();
}

void MainCommands::onPauseClicked(int row, bool raise, bool allTakeClicked) {
    Project& p = project();
    if (row < 0 || row >= p.fileNum()) return;
    QItemSelectionModel* selection = window_.fileList()->selectionModel();
    std::vector<int> rows;
    for (const QModelIndex& index : selection->selectedRows()) rows.push_back(index.row());
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
    const int clicked = appNextPause(p.entries[static_cast<std::size_t>(row)].Pause, raise);
    for (int r : rows) {
        if (r < 0 || r >= p.fileNum()) continue;
        std::int32_t& pause = p.entries[static_cast<std::size_t>(r)].Pause;
        pause = allTakeClicked ? clicked : appNextPause(pause, raise);
    }
    prjMarkStepDirty(p);
    list().refreshFileList();
    window_.updateCommands();
}

void MainCommands::initMenuPopup(Submenu which) {
    if (which == Submenu::File) {
        const bool enabled = true;
        app().recentFiles->fillMenu(*window_.submenu(Submenu::File), window_.action(cmd::kExit), enabled,
                                    [this](int command) { MainCommands(window_).run(command, 0); });
    }
    if (which == Submenu::Playback) {
        window_.action(cmd::kToggle)->setEnabled(app().projectOpen &&
                                                 (project().currentStep == 13 || prjAllEntriesIdle(project())) &&
                                                 !steps().isToggleDisabled());
    }
    if (which == Submenu::Project) {
        window_.action(cmd::kSaveAs)->setEnabled(app().projectOpen);
        window_.action(cmd::kRun)->setEnabled(!steps().isRunDisabled());
    }
}

}  // namespace qvp3

namespace qvp3 {

void MainCommands::externalEditor() {
    ProjectEntry* entry = currentEntry();
    if (!entry) {
        qvp3ui::appInfoBox(124);
        return;
    }
    fs::path program;
    if (entry->kind == EntryKind::Midi) {
        if (app().midiEditor.path.empty()) {
            qvp3ui::appInfoBox(125);
            return;
        }
        program = app().midiEditor.path;
    } else {
        int missing = 0;
        std::optional<fs::path> exe = appNotationProgram(app().settings(), missing);
        if (!exe) {
            qvp3ui::appInfoBox(missing);
            return;
        }
        program = *exe;
    }
    // A copy of the project as it is now: on return the program compares
    // the files' times with it.
    std::optional<fs::path> copy = platform::makeTempFileName(project().data.ProjectFolder, "qvp3");
    if (!copy || !prjWriteFile(project(), &*copy)) {
        std::error_code ec;
        if (copy) fs::remove(*copy, ec);
        qvp3ui::appWarningBox(221);
        return;
    }
    app().editorProjectCopy = *copy;
    app().editorFileTimes.clear();
    for (const ProjectEntry& e : project().entries)
        app().editorFileTimes.emplace_back(e.Filename, platform::fileTimeOf(e.Filename).value_or(0));
    if (!appStartProgram(program, {entry->Filename.string()}, program.filename().string())) {
        std::error_code ec;
        fs::remove(*copy, ec);
        app().editorProjectCopy.clear();
        return;
    }
    app().editorWatchActive = true;
}

}  // namespace qvp3
