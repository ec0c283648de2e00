#include "qvp3_project/neighbours.h"

#include <algorithm>
#include <system_error>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "qvp3_project/mp3_config.h"
#include "qvp3_project/project.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/tempo_curve.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kErrUnknownFormat = -104;
constexpr int kErrNoScore = -6;
constexpr std::size_t kInstrumentNameChars = 31;

void markChanged(ProjectEntry& entry) {
    if (entry.project != nullptr) prjMarkStepDirty(*entry.project);
}

}  // namespace

// --- BasicPipeline ------------------------------------------------------------------

void BasicPipeline::cnvEntryInit(ProjectEntry& entry, Project& project) {
    entry.TempoRelative = 1000;
    entry.TempoIsRelative = 1;
    entry.TempoAbsolute = -1;
    entry.tuneUp = scorecore::CEinstimmung(480);
    entry.metronome = scorecore::CMetronom{};
    entry.tempoCurve = TempoCurve{};
    entry.project = &project;
}

void BasicPipeline::cnvEntryFreeModel(ProjectEntry& entry) {
    entry.model.reset();
    entry.voices.clear();
    entry.voiceCounts.clear();
    entry.instruments.clear();
    entry.staffVelocity.clear();
    entry.staffVelocityRelative.clear();
    entry.trackNames.clear();
    entry.states.free();
    entry.samplerSetup.clear();
    for (auto& list : entry.tempoCurve.points) list.clear();
}

int BasicPipeline::cnvOpenEntry(ProjectEntry&, int, Project&) { return kErrUnknownFormat; }

void BasicPipeline::cnvRestoreOriginalSource(ProjectEntry& entry) {
    if (entry.FilenameOrig.empty()) return;
    // Only a converted score in the project folder is ours to delete; one
    // named elsewhere (or by an entry of no project) stays.
    std::error_code ec;
    if (entry.project != nullptr && prjMayDeleteConvertedScore(*entry.project, entry) &&
        fs::symlink_status(entry.Filename, ec).type() != fs::file_type::directory) {
        fs::remove(entry.Filename, ec);
    }
    entry.Filename = entry.FilenameOrig;
    entry.FilenameOrig.clear();
}

int BasicPipeline::cnvApplyEntrySampler(ProjectEntry& entry, const std::string* name) {
    if (entry.MWConversionMethod != 1) return -1;
    if (name != nullptr) entry.SamplePlayer = *name;
    entry.samplerIndex = -1;
    if (entry.project == nullptr) return -1;  // no catalogue to find it in
    AudioEngineServices& audio = entry.project->audio();
    if (audio.countPresentInstruments() <= 0) {
        entry.SamplePlayer.clear();
        entry.Reverb.clear();
        entry.ReverbType = -1;
        return -1;
    }
    std::string shown;
    entry.samplerIndex = audio.useInstrument(entry.SamplePlayer, shown);
    if (entry.samplerIndex >= 0) entry.SamplePlayer = shown;
    return entry.samplerIndex;
}

int BasicPipeline::cnvSelectEntryReverb(const std::string* name, ProjectEntry& entry) {
    if (name != nullptr) entry.Reverb = *name;
    return -1;
}

void BasicPipeline::cnvRelinkEntryPlayers(Project& project) {
    for (ProjectEntry& entry : project.entries) entry.project = &project;
}

// Only the record is needed: the defaults are the same with or without an encoder.
void BasicPipeline::cnvDefaultMp3Config(Mp3Config& config) {
    BE_CONFIG record = beReadConfig(config);
    qvp3::cnvDefaultMp3Config(record);
    config = beWriteConfig(record);
}

int BasicPipeline::cnvEntryStaveCount(const ProjectEntry& entry) {
    if (isScoreKind(entry.kind)) return std::max(entry.staveCount, 0);
    if (entry.kind == EntryKind::Midi) return std::max(entry.trackCount - 1, 0);
    return 0;
}

bool BasicPipeline::cnvEntryIsPercussionStave(const ProjectEntry& entry, int stave) {
    return entry.isPercussionStave(stave);
}

void BasicPipeline::cnvEntrySetVoiceVolume(ProjectEntry& entry, int value, int stave, int voice) {
    if (VoicePlayRecord* record = entry.voiceRecord(stave, voice)) {
        record->volume = static_cast<std::int8_t>(static_cast<std::uint8_t>(value));
        markChanged(entry);
    }
}

void BasicPipeline::cnvEntrySetVoicePanorama(ProjectEntry& entry, int value, int stave, int voice) {
    if (VoicePlayRecord* record = entry.voiceRecord(stave, voice)) {
        record->panorama = static_cast<std::int8_t>(static_cast<std::uint8_t>(value));
        markChanged(entry);
    }
}

void BasicPipeline::cnvEntrySetVoiceOnOff(ProjectEntry& entry, int stave, int voice, int state) {
    entry.states.setVoiceOnOff(stave, voice, state);
    if (VoicePlayRecord* record = entry.voiceRecord(stave, voice)) record->setMuted(state != scorecore::kStateOn);
    markChanged(entry);
}

void BasicPipeline::cnvEntrySetVoiceChannel(ProjectEntry& entry, int voice, int channel, int stave) {
    if (channel < 0 || channel > 15) return;
    if (scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice)) {
        instrument->Channel = static_cast<std::uint8_t>(channel);
    }
    if (VoicePlayRecord* record = entry.voiceRecord(stave, voice)) record->setChannel(channel);
    markChanged(entry);
}

void BasicPipeline::cnvEntrySetVoiceSound(ProjectEntry& entry, int sound, int stave, int voice) {
    if (sound < 0 || sound > 255) return;
    if (scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice)) {
        instrument->UserProgram = static_cast<std::uint8_t>(sound);
    }
    if (VoicePlayRecord* record = entry.voiceRecord(stave, voice)) record->sound = static_cast<std::uint8_t>(sound);
    markChanged(entry);
}

void BasicPipeline::cnvEntrySetTranspose(ProjectEntry& entry, int semitones) {
    for (VoicePlayRecord& record : entry.voices) record.transposition = static_cast<std::int8_t>(semitones);
    if (isScoreKind(entry.kind)) engineSetTranspose(semitones);
    markChanged(entry);
}

void BasicPipeline::cnvEntrySetInstrumentName(ProjectEntry& entry, int voice, std::string_view name, int stave) {
    if (scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice)) {
        instrument->InstrumentId = platform::firstCharacters(name, kInstrumentNameChars);
        markChanged(entry);
    }
}

void BasicPipeline::cnvEntrySetTrackName(ProjectEntry& entry, int track, std::string_view name) {
    const int tracks = std::max(entry.trackCount, static_cast<int>(entry.trackNames.size()));
    if (track < 0 || track >= tracks) return;
    if (entry.trackNames.size() < static_cast<std::size_t>(tracks)) entry.trackNames.resize(static_cast<std::size_t>(tracks));
    entry.trackNames[static_cast<std::size_t>(track)] = std::string(name);
    markChanged(entry);
}

void BasicPipeline::engineGetSections(ProjectEntry&) {}
void BasicPipeline::engineResetSwitchGroup(int) {}
void BasicPipeline::engineSetTranspose(int) {}
int BasicPipeline::plySetEngineTempo(ProjectEntry&, double) { return kErrNoScore; }
std::uint64_t BasicPipeline::mxmlGetModDate(const ProjectEntry&) { return 0; }

namespace {

constexpr std::uint32_t kOptionSwing = 0x08;
constexpr std::uint32_t kOptionTrills = 0x20;
constexpr std::uint32_t kOptionDynamics = 0x40;

IniSectionLines* switchTable(ProjectEntry& entry, int group) {
    switch (group) {
    case 4: return &entry.tuneSections.dynamic;
    case 2: return &entry.tuneSections.artic;
    case 5: return &entry.tuneSections.trills;
    default: return nullptr;
    }
}

}  // namespace

std::uint32_t BasicPipeline::enginePlayOptions(ProjectEntry& entry) {
    const TuneSectionSet& use = entry.tuneSections;
    return (use.UseSwing ? kOptionSwing : 0u) | (use.UseTrills ? kOptionTrills : 0u) |
           (use.UseDynamic ? kOptionDynamics : 0u);
}

void BasicPipeline::engineSetPlayOption(ProjectEntry& entry, std::uint32_t option, std::uint32_t value) {
    const std::uint8_t on = value == kPlayOptionOff ? 0 : ((value & option) != 0 ? 1 : 0);
    if (option & kOptionSwing) entry.tuneSections.UseSwing = on;
    if (option & kOptionTrills) entry.tuneSections.UseTrills = on;
    if (option & kOptionDynamics) entry.tuneSections.UseDynamic = on;
}

void BasicPipeline::engineSaveSwitches(ProjectEntry& entry, int group, platform::IniDocument& document,
                                       std::string_view section) {
    if (const IniSectionLines* table = switchTable(entry, group)) document.writeSection(section, *table);
}

void BasicPipeline::engineLoadSwitches(ProjectEntry& entry, int group, const platform::IniDocument& document,
                                       std::string_view section) {
    IniSectionLines* table = switchTable(entry, group);
    if (table == nullptr || !document.hasSection(section)) return;
    *table = document.readSection(section);
}

int BasicPipeline::cnvMeasureSourceTime(ProjectEntry&, std::int32_t& ms) {
    ms = 0;
    return kTimeNotMeasurable;
}

std::optional<std::int64_t> BasicPipeline::cnvFileDuration(const fs::path&) { return std::nullopt; }

int BasicPipeline::cnvEntryImage(const ProjectEntry&) { return 0; }

std::string BasicPipeline::cnvConvertedDisplayName(const fs::path& file) { return file.filename().string(); }

// --- BasicAudioEngine -----------------------------------------------------------------

int BasicAudioEngine::findEffect(std::string_view) { return -1; }
int BasicAudioEngine::countPresentInstruments() { return 0; }
bool BasicAudioEngine::isQvoPlugIn(int) { return false; }
std::optional<std::vector<std::uint8_t>> BasicAudioEngine::saveSamplerSetup(int) { return std::nullopt; }
void BasicAudioEngine::clearInstrumentUse(int) {}
void AudioEngineServices::captureSamplerSetup(ProjectEntry& entry) {
    if (auto setup = saveSamplerSetup(entry.samplerIndex)) entry.samplerSetup = std::move(*setup);
}

int BasicAudioEngine::useInstrument(std::string_view, std::string&) { return -1; }

// --- BasicShell ---------------------------------------------------------------------------

std::string BasicShell::languageString(int) { return {}; }
int BasicShell::appQuestionBox(int, int) { return kIdNo; }
void BasicShell::closeProject() {}
void BasicShell::appSetStatusParts(int) {}
void BasicShell::appCreateStatusProgress(int) {}
void BasicShell::appDestroyStatusProgress() {}
void BasicShell::setStatusText(int, std::string_view) {}
bool BasicShell::templateKeysDown() { return false; }
void BasicShell::repostActivation() {}

bool BasicShell::appDeleteConvertedFiles(std::string_view extension, const fs::path& folder) {
    if (folder.empty() || extension.empty()) return true;
    const std::string pattern = "*." + std::string(extension);
    const bool all = extension == "*";
    bool ok = true;
    for (const fs::path& file : platform::listFiles(folder, pattern)) {
        const std::string name = file.filename().string();
        const bool ours = all || prjIsConvertedFileName(name, extension, projectTitle);
        if (!ours) continue;
        std::error_code ec;
        if (!fs::remove(file, ec)) ok = false;
    }
    return ok;
}

fs::path BasicShell::projectsRoot() { return projectsRootFolder; }
void BasicShell::setProjectFolder(const fs::path& folder) { projectFolder = folder; }
void BasicShell::setLastProject(const fs::path& projectFile) { lastProject = projectFile; }
int BasicShell::appTextBox(std::string_view, int kind, int) { return kind == kBoxQuestion ? kIdNo : kIdOk; }
void BasicShell::appUpdateStepMenuItems(int) {}
void BasicShell::appLog(std::string_view) {}

// --- BasicStepPages -----------------------------------------------------------------------

void BasicStepPages::stpInitPage(StepPage& page, StepCategory category) {
    page = StepPage{};
    page.category = category;
    const auto index = static_cast<std::size_t>(category);
    if (index < kStepProfileDataNums.size()) page.profileDataNum = kStepProfileDataNums[index];
}

void BasicStepPages::stpFreePage(StepPage& page) {
    const StepCategory category = page.category;
    page = StepPage{};
    page.category = category;
}

bool BasicStepPages::stpTempoCurveSetSpeed(TempoCurve& curve, int speed) {
    return qvp3::stpTempoCurveSetSpeed(curve, speed);
}

bool BasicStepPages::stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) {
    return qvp3::stpTempoCurveCopyPoints(curve, target, source, clear);
}

void BasicStepPages::stpTppUseRecordedTempos(StepPage&, bool) {}
void BasicStepPages::stpRefreshSlfPage() {}
void BasicStepPages::stpEmptyFileList(StepPage&) {}
void BasicStepPages::stpRefreshAfterProfile(StepPage&, ProjectEntry*) {}

}  // namespace qvp3
