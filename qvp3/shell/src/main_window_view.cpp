// The main window's displays and its message procedure.
#include <QComboBox>

#include <algorithm>
#include <climits>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTreeView>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_shell/profile_bar_qt.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

void MainWindow::setProjectListHost(std::unique_ptr<ProjectListHost> host) { listHost_ = std::move(host); }
void MainWindow::setStepHost(std::unique_ptr<StepHost> host) { stepHost_ = std::move(host); }
void MainWindow::setDialogs(std::unique_ptr<ShellDialogs> dialogs) { dialogs_ = std::move(dialogs); }

void MainWindow::runCommand(int id, int code) { MainCommands(*this).run(id, code); }

void MainWindow::refreshAll() {
    listHost_->refreshFileList();
    listHost_->refreshListArea();
    const int step = app_.project->currentStep;
    if (step >= 0 && step < stepTab_->count()) stepTab_->setCurrentIndex(step);
    stepHost_->updateStepMenuItems(app_.projectOpen ? step : -1);
    MainCommands(*this).refreshProfileBar();
    layoutProfileBar(app_.profileBarMode == 5 ? 1 : app_.profileBarMode);
    updateTitle();
    updateTransport();
    updateCommands();
}

void MainWindow::layoutProfileBar(int mode) {
    if (prjFindBusyEntry(*app_.project) >= 0) mode = 5;
    app_.profileBarMode = mode;
    profileBar_->setVisible(app_.projectOpen);
    const StepPage* page = stpGetPage(*app_.project, app_.project->currentStep < 0 ? 0 : -1);
    const bool usable = mode == 1 || mode == 3 || (mode != 5 && page && page->profileDataNum != 0);
    profileList_->setEnabled(app_.projectOpen && usable);
    updateCommands();
}

bool MainWindow::appShowListColumn(bool show) {
    if (fileList_->isColumnHidden(kPauseColumn) == !show) return false;
    fileList_->setColumnHidden(kPauseColumn, !show);
    return true;
}

void MainWindow::showConversionProgress(platform::WParam code, platform::LParam value) {
    // The conversion's units: their count first, then how many are done.
    constexpr platform::WParam kUnitsDone = 3;
    constexpr platform::WParam kUnitsInAll = 4;
    const int units = static_cast<int>(std::clamp<platform::LParam>(value, 0, INT32_MAX));
    if (code == kUnitsInAll) {
        statusProgress_->setRange(0, std::max(units, 1));
        statusProgress_->setValue(0);
        statusProgress_->setVisible(true);
    } else if (code == kUnitsDone && statusProgress_->isVisible()) {
        statusProgress_->setValue(units);
        if (units >= statusProgress_->maximum()) statusProgress_->setVisible(false);
    }
}

void MainWindow::updateTitle() { listHost_->updateWindowTitle(); }

void MainWindow::updateTransport() {
    ProjectEntry* entry = prjGetEntry(*app_.project, -1);
    const int length = entry ? std::max(entry->durationMs, 0) : 0;
    positionSlider_->setRange(0, length);
    positionSlider_->setEnabled(entry != nullptr);
    midiOutList_->setEnabled(!entry || !entry->isBusy());
    if (!entry) {
        showPlayPosition(0, 1, 1);
        return;
    }
    auto* play = qvp3ui::findControl<QPushButton>(*this, cmd::kPlay);
    play->setIcon(style()->standardIcon(entry->isBusy() ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    showPlayPosition(app_.playback->plyEntryPosition(*entry), -1, -1);
}

void MainWindow::showPlayPosition(int ms, int bar, int beat) {
    if (!positionSlider_->isSliderDown()) {
        const QSignalBlocker quiet(positionSlider_);
        positionSlider_->setValue(ms);
    }
    timeDisplay_->setText(QString::fromStdString(appFormatPlayTime(ms)));
    if (bar < 0) {
        ProjectEntry* entry = prjGetEntry(*app_.project, -1);
        if (entry && entry->kind == EntryKind::Midi) {
            const EntryPlayer& player = plyEntryPlayer(*entry);
            bar = player.bar;
            beat = player.beat;
        }
    }
    if (bar >= 0) barDisplay_->setText(QString::fromStdString(appFormatBarBeat(bar, beat)));
}

platform::LResult MainWindow::onMessage(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) {
    MainCommands commands(*this);
    switch (msg) {
    case platform::WM_COMMAND: commands.run(static_cast<int>(wParam & 0xFFFF), static_cast<int>((wParam >> 16) & 0xFFFF)); return 0;
    case WM_KEYDOWN:
    case WM_KEYUP: commands.onSeekKey(static_cast<int>(wParam), msg == WM_KEYDOWN); return 0;
    case platform::WM_PLAYBACK_ENDED: commands.onPlaybackEnded(); return 0;
    case platform::WM_ENGINE_MODIFIED:
        prjMarkStepDirty(*app_.project);
        updateCommands();
        return 0;
    case platform::WM_PLAY_POSITION: commands.onPlayPosition(wParam, lParam); return 0;
    case platform::WM_ENGINE_PROGRESS: stepHost_->setPageProgress(static_cast<int>(lParam)); return 1;
    case platform::WM_MXML_PROGRESS: showConversionProgress(wParam, lParam); return 0;
    case kWmShowPosition: showPlayPosition(static_cast<int>(wParam), -1, -1); return 0;
    default: return 0;
    }
}

}  // namespace qvp3
