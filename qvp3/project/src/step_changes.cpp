#include "qvp3_project/step_changes.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "project_file_internal.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_project/profile_file.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kStateNothing = 0;
constexpr int kStateQuestion = -2;
constexpr int kStateAlways = 3;
constexpr std::size_t kVolStep = static_cast<std::size_t>(StepCategory::Vol);
// The 100-ns units of a file duration per millisecond.
constexpr std::int64_t kUnitsPerMs = 10000;

StepStatus statusOf(Project& project, StepPage* page) {
    StepStatus status;
    if (page != nullptr && page->getStatus) page->getStatus(*page, project, status);
    return status;
}

int warningFor(int code) {
    switch (code) {
    case -103: return kStrCannotOpenFile;
    case -100: return kStrCannotReadFile;
    case -2: return kStrOutOfMemory;
    default: return 0;
    }
}

std::int32_t clampMs(std::int64_t ms) { return static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, 0, INT32_MAX)); }

// A converted file's time: the stored one, else measured (nothing: unknown).
std::optional<std::int64_t> convertedTime(Project& project, std::int32_t& stored, const fs::path& file, int extra) {
    if (stored <= 0) {
        const auto units = file.empty() ? std::nullopt : project.pipeline().cnvFileDuration(file);
        if (!units || *units <= 0) return std::nullopt;
        stored = clampMs(*units / kUnitsPerMs + extra);
    }
    return stored;
}

std::string entryListName(const Project& project, const ProjectEntry& entry) {
    if (project.addPath) return entry.Filename.string();
    const fs::path& source = entry.FilenameOrig.empty() ? entry.Filename : entry.FilenameOrig;
    return std::string(platform::storedFileName(source.string()));
}

}  // namespace

int prjFindStepWithStatus(Project& project, int n, StepStatus* out) {
    if (n == -1) n = project.currentStep;
    n = std::min(n, kStepCount);
    for (int step = 0; step < n; ++step) {
        const StepStatus status = statusOf(project, stpGetPage(project, step));
        if (status.state == kStateNothing || status.state == kStateQuestion) continue;
        if (out != nullptr) *out = status;
        return step;
    }
    return -1;
}

bool prjCanChangeStep(int newStep, Project& project) {
    const int current = project.currentStep;
    if (newStep == current) return true;
    ShellServices& shell = project.shell();
    StepPage* page = stpGetPage(project, current < 0 ? 0 : current);
    const StepStatus status = statusOf(project, page);

    const bool report = status.state == kStateAlways || newStep == current + 1;
    if (!report && newStep > current + 1) {
        int last = -1;
        if (prjLastPendingStep(project, &last) > 0 && last < newStep) {
            shell.appTextBox(shell.languageString(kStrSkipPendingStep), kBoxInformation, kMbOk);
            return false;
        }
    }
    if (report && status.state != kStateNothing) {
        const std::string text = status.text.empty() ? shell.languageString(status.stringId) : status.text;
        if (text.empty()) return false;
        if (status.state == kStateQuestion) {
            const bool yes = shell.appTextBox(text, kBoxQuestion, kMbYesNo) == kIdYes;
            if (page != nullptr) page->pending = !yes;
            if (yes && current == kStepMdc) prjFillMissingDurations(project);
            return yes;
        }
        shell.appTextBox(text, kBoxInformation, kMbOk);
        return false;
    }
    if (current == kStepPwc) {
        if (ProjectEntry* entry = prjGetEntry(project, -1)) prfCaptureSamplerSetup(project, *entry);
    }
    prjApplyStepLevel(project, newStep);
    shell.appUpdateStepMenuItems(newStep);
    return true;
}

int prjLastPendingStep(const Project& project, int* last) {
    int count = 0;
    int highest = -1;
    for (int step = 0; step < kStepCount; ++step) {
        const auto& page = project.stepPages[static_cast<std::size_t>(step)];
        int here = page && page->pending ? 1 : 0;
        for (const ProjectEntry& entry : project.entries) here += entry.pending[static_cast<std::size_t>(step)] ? 1 : 0;
        if (here > 0) highest = step;
        count += here;
    }
    if (last != nullptr) *last = highest;
    return count;
}

int prjCheckVoiceSettings(Project& project, int& entryIndex, int& count) {
    if (project.entries.empty()) return 0;
    entryIndex = -1;
    count = 0;
    for (std::size_t i = 0; i < project.entries.size(); ++i) {
        ProjectEntry& entry = project.entries[i];
        int playable = 0;
        int silent = 0;
        bool lastSilent = false;
        for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
            for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
                if (entry.states.getVoiceOnOff(s, v) != scorecore::kStateOn) continue;
                const VoicePlayRecord* record = entry.voiceRecord(s, v);
                ++playable;
                lastSilent = record != nullptr && record->volume == 0;
                silent += lastSilent ? 1 : 0;
            }
        }
        entry.pending[kVolStep] = lastSilent ? 1 : 0;
        if (silent == playable) {
            entryIndex = static_cast<int>(i);
            return 2;
        }
        if (silent > 0) ++count;
    }
    return count > 0 ? 1 : 0;
}

bool prjComputePlayTimes(Project& project, PlayTimeProgressView* window) {
    ShellServices& shell = project.shell();
    const int files = project.fileNum();
    if (window != nullptr) {
        window->open(files);
    } else {
        shell.appSetStatusParts(2);
        shell.appCreateStatusProgress(files);
    }
    const int step = project.currentStep;
    std::int64_t total = 0;
    for (int n = 1; n <= files; ++n) {
        ProjectEntry& entry = project.entries[static_cast<std::size_t>(n - 1)];
        const std::string text = prfFormatString(shell.languageString(kStrMeasuringFile), entryListName(project, entry));
        if (window != nullptr) {
            window->setText(text);
        } else {
            shell.setStatusText(0, text);
        }
        std::optional<std::int64_t> ms;
        int code = 0;
        if (step >= kStepBrn) {
            ms = convertedTime(project, entry.convertedWaveMs, entry.convertedWavePath, 1);
        } else if (step == kStepPwc || step == kStepWvc) {
            ms = convertedTime(project, entry.convertedMidiMs, entry.convertedMidiPath, 0);
            if (ms && step == kStepWvc) *ms += std::int64_t{entry.Pause} * 1000;
        } else {
            std::int32_t measured = 0;
            code = project.pipeline().cnvMeasureSourceTime(entry, measured);
            if (code == 0 && measured >= 0) {
                entry.durationMs = measured;
                ms = measured;
            }
        }
        if (ms) {
            total += *ms;
        } else if (const int id = warningFor(code); id != 0) {
            shell.appTextBox(shell.languageString(id), kBoxWarning, kMbOk);
        }
        if (window != nullptr) window->setPosition(n);
    }
    if (window != nullptr) {
        window->close();
    } else {
        shell.appDestroyStatusProgress();
        shell.appSetStatusParts(1);
    }
    project.totalMs = clampMs(total);
    return total <= std::int64_t{project.data.CDSpace} * 1000;
}

void prjFillMissingDurations(Project& project) {
    const int count = std::min(project.convertedMidiCount, project.fileNum());
    for (int i = 0; i < count; ++i) {
        ProjectEntry& entry = project.entries[static_cast<std::size_t>(i)];
        if (entry.convertedMidiMs > 0) continue;
        convertedTime(project, entry.convertedMidiMs, entry.convertedMidiPath, 0);
    }
}

std::string prjFormatPlayTime(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

void prjFillFileList(Project& project, FileListView& list, bool rebuild, int mode) {
    const int files = project.fileNum();
    int rows = 0;
    switch (mode) {
    case kFileListSources: rows = files; break;
    case kFileListMidi: rows = std::min(project.convertedMidiCount, files); break;
    case kFileListWaves: rows = std::min(project.convertedWaveCount, files); break;
    default: return;
    }
    if (rows <= 0) {
        list.clear();
        return;
    }
    const int step = project.currentStep;
    if (mode != kFileListSources) {
        list.clear();
        for (int i = 0; i < rows; ++i) {
            const ProjectEntry& entry = project.entries[static_cast<std::size_t>(i)];
            const bool midi = mode == kFileListMidi;
            list.appendRow({project.pipeline().cnvConvertedDisplayName(midi ? entry.convertedMidiPath
                                                                             : entry.convertedWavePath),
                            midi ? kImageMidiFile : kImageWaveFile, {}, std::nullopt});
        }
        list.selectRow(0);
        return;
    }

    if (list.showPauseColumn(step == kStepWvc)) rebuild = true;
    const bool checkBoxes = step == kStepMdc;
    if (checkBoxes) list.setCheckBoxes(project.shell().languageString(kStrConvertHeader));
    if (rebuild || list.rowCount() != rows) {
        list.clear();
        for (const ProjectEntry& entry : project.entries) {
            std::int64_t ms = entry.durationMs;
            if (step >= kStepBrn) ms += std::int64_t{entry.Pause} * 1000;
            FileListRow row{entryListName(project, entry), project.pipeline().cnvEntryImage(entry), prjFormatPlayTime(ms),
                            std::nullopt};
            if (step == kStepWvc) row.pause = std::to_string(entry.Pause);
            list.appendRow(row);
        }
    }
    if (checkBoxes) {
        for (int i = 0; i < rows; ++i) {
            const ProjectEntry& entry = project.entries[static_cast<std::size_t>(i)];
            const bool checked = isScoreKind(entry.kind) && entry.ConvertForQvo != 0;
            if (list.isChecked(i) != checked) list.setChecked(i, checked);
        }
    }
    if (project.currentEntry < 0 || project.currentEntry >= files) project.currentEntry = 0;
    list.selectRow(project.currentEntry);
}

bool prjReadTrackVelocity(const Project& project, std::string_view sourcePath, int track, int kind, int& out) {
    platform::IniDocument document;
    if (document.load(project.filePath) != platform::IniStatus::Ok) return false;
    for (int number = 1; number <= kMaxProjectEntries; ++number) {
        const std::string section = prjfile::entrySectionName(number);
        const auto source = document.getString(section, prjfile::kSourceKey);
        if (!source || source->empty()) return false;
        if (!platform::equalsNoCase(*source, sourcePath)) continue;
        if (track == -1) return false;
        const std::string key = "Track" + prjfile::padded(track + 1, 4) + (kind == 0 ? "_Velocity" : "_VelocityRelativ");
        const auto value = document.getString(section, key);
        if (!value) return false;
        out = kind == 0 ? document.getInt(section, key, 0) : (value->starts_with('1') ? 1 : 0);
        return true;
    }
    return false;
}

}  // namespace qvp3
