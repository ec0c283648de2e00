#include "qvp3_project/project.h"

#include <algorithm>

#include "platform/text.h"

namespace qvp3 {

namespace {

constexpr std::array<std::string_view, kStepCount> kCategoryCodes{
    "SLF", "SLS", "TRP", "CHP", "VOL", "PAN", "PRC", "TMP", "TPP",
    "DYN", "SHV", "MET", "EIN", "MDC", "PWC", "WVC", "BRN", "CLN",
};

// Masks in step order, with the MIDI-done bit after step 13 and the WAV-done
// bit after step 15: the work that must be finished before a later step.
constexpr std::array<ProjectDirty, 19> kEarlierStepMasks{
    0x1,    0x2,    0x4,    0x8,    0x10,   0x20,        0x40,   0x80,   0x100,       0x200,
    0x400,  0x800,  0x1000, 0x2000, kDirtyMidiDone, 0x4000, 0x8000, kDirtyWaveDone, 0x10000,
};

constexpr int kTransposeStep = 2;
constexpr int kTempoCurveStep = 8;

bool isValidStep(int step) { return step >= 0 && step < kStepCount; }

// Step 2: the score engine plays the current score transposed from that step on.
void applyTranspositionLevel(Project& project, int level) {
    ProjectEntry* entry = prjGetEntry(project, -1);
    if (entry == nullptr || !isScoreKind(entry->kind)) return;
    int semitones = 0;
    if (level >= kTransposeStep && !entry->voices.empty()) semitones = entry->voices.front().transposition;
    project.pipeline().engineSetTranspose(semitones);
}

// Step 8: a curve in recording mode copies its points at the step itself and
// hands the recorded tempos to the TPP page beyond it.
void applyTempoCurveLevel(Project& project, int level) {
    ProjectEntry* entry = prjGetEntry(project, -1);
    if (entry == nullptr || !entry->tempoCurve.record) return;
    if (level == kTempoCurveStep) {
        project.stepPageServices().stpTempoCurveCopyPoints(entry->tempoCurve, TempoCurve::kRecordedList,
                                                           TempoCurve::kFileList, true);
    } else if (level > kTempoCurveStep) {
        if (StepPage* page = stpGetPage(project, kTempoCurveStep)) {
            project.stepPageServices().stpTppUseRecordedTempos(*page, false);
        }
    }
}

}  // namespace

std::string_view stpCategoryCode(int category) {
    return isValidStep(category) ? kCategoryCodes[static_cast<std::size_t>(category)] : std::string_view{};
}

int stpCategoryFromCode(std::string_view code) {
    const auto it = std::find(kCategoryCodes.begin(), kCategoryCodes.end(), code);
    return it == kCategoryCodes.end() ? -1 : static_cast<int>(it - kCategoryCodes.begin());
}

Project::Project(const Neighbours& neighbours) : neighbours_(neighbours) {
    if (neighbours_.pipeline == nullptr) {
        ownPipeline_ = std::make_unique<BasicPipeline>();
        neighbours_.pipeline = ownPipeline_.get();
    }
    if (neighbours_.audio == nullptr) {
        ownAudio_ = std::make_unique<BasicAudioEngine>();
        neighbours_.audio = ownAudio_.get();
    }
    if (neighbours_.shell == nullptr) {
        ownShell_ = std::make_unique<BasicShell>();
        neighbours_.shell = ownShell_.get();
    }
    if (neighbours_.stepPages == nullptr) {
        ownStepPages_ = std::make_unique<BasicStepPages>();
        neighbours_.stepPages = ownStepPages_.get();
    }
    mp3Config[1] = 0x01;  // version field 256, little-endian
    pipeline().cnvDefaultMp3Config(mp3Config);
    for (int step = 0; step < kStepCount; ++step) {
        auto page = std::make_unique<StepPage>();
        stepPageServices().stpInitPage(*page, static_cast<StepCategory>(step));
        stepPages[static_cast<std::size_t>(step)] = std::move(page);
    }
}

Project::~Project() { prjRelease(*this); }

std::int32_t Project::catInstrumentSize() const {
    if (!CatInstrument) return 0;
    return static_cast<std::int32_t>(platform::utf8ToUtf16(*CatInstrument).size() + 1);
}

void prjRelease(Project& project) {
    for (ProjectEntry& entry : project.entries) project.pipeline().cnvEntryFreeModel(entry);
    project.entries.clear();
    project.entries.shrink_to_fit();
    for (auto& page : project.stepPages) {
        if (!page) continue;
        project.stepPageServices().stpFreePage(*page);
        page.reset();
    }
}

int prjFindBusyEntry(const Project& project) {
    for (std::size_t i = 0; i < project.entries.size(); ++i) {
        if (project.entries[i].isBusy()) return static_cast<int>(i);
    }
    return -1;
}

bool prjAllEntriesIdle(const Project& project) {
    return std::all_of(project.entries.begin(), project.entries.end(),
                       [](const ProjectEntry& entry) { return entry.entryState == 0; });
}

ProjectEntry* prjGetEntry(Project& project, int index) {
    if (index == -1) index = project.currentEntry;
    if (index < 0 || index >= project.fileNum()) return nullptr;
    return &project.entries[static_cast<std::size_t>(index)];
}

ProjectEntry* prjGetEntryOrCurrent(Project& project, ProjectEntry* entry) {
    return entry != nullptr ? entry : prjGetEntry(project, -1);
}

void prjSetEntrySampler(ProjectEntry& entry, std::string_view name, int index) {
    entry.SamplePlayer = std::string(name);
    entry.samplerIndex = index;
}

void prjMarkStepDirty(Project& project) {
    if (project.suspendDirty) return;
    project.saved = 0;
    if (project.currentStep >= 0 && project.currentStep <= 16) project.dirty |= ProjectDirty{1} << project.currentStep;
}

bool prjAnyEarlierStepDirty(const Project& project, int step) {
    if (!isValidStep(step)) return false;
    int count = step;
    if (step == 14 || step == 15) count = step + 1;
    if (step >= 16) count = step + 2;
    for (int i = 0; i < count; ++i) {
        const ProjectDirty mask = kEarlierStepMasks[static_cast<std::size_t>(i)];
        if ((project.dirty & mask) == mask) return true;
    }
    return false;
}

void prjApplyStepLevel(Project& project, int level) {
    // The tempo-curve row goes last, after every other feature is in place.
    auto applyRow = [&](const PlayFeatureRow& row) {
        if (level >= row.step) {
            prjSetFlag(row.mask, project.playFeatures);
        } else {
            prjClearFlag(row.mask, project.playFeatures);
        }
        if (row.step == kTransposeStep) applyTranspositionLevel(project, level);
        if (row.step == kTempoCurveStep) applyTempoCurveLevel(project, level);
    };
    for (const PlayFeatureRow& row : kPlayFeatureRows) {
        if (row.step != kTempoCurveStep) applyRow(row);
    }
    for (const PlayFeatureRow& row : kPlayFeatureRows) {
        if (row.step == kTempoCurveStep) applyRow(row);
    }
    if (ProjectEntry* entry = prjGetEntry(project, -1); entry != nullptr && entry->isBusy()) {
        project.pipeline().plySetEngineTempo(*entry, -1.0);
    }
}

void prjSetFlag(std::uint64_t mask, std::uint64_t& flags) { flags |= mask; }

void prjClearFlag(std::uint64_t mask, std::uint64_t& flags) { flags &= ~mask; }

StepPage* stpGetPage(Project& project, int step) {
    if (step == -1) step = project.currentStep;
    if (!isValidStep(step)) return nullptr;
    return project.stepPages[static_cast<std::size_t>(step)].get();
}

}  // namespace qvp3
