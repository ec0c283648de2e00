// Profiles of the steps kept as single settings: TRP, TMP, TPP, DYN, MET,
// EIN, PWC (of an entry) and BRN (of the project). Each step's keys sit in
// one table, in the order the writer writes them; reader and writer both
// walk it. A row stores its field directly, or goes through a setter where
// the setting has one (transposition, tempo-curve speed, score-engine
// switches), or is handled by the step's own code (rows with read/write).
#include <algorithm>
#include <climits>
#include <span>
#include <type_traits>
#include <variant>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "profile_keys.h"

namespace qvp3 {

using prfkeys::readNumber;
using prfkeys::writeNumber;
using prfkeys::writeTextValue;

namespace {

struct Target {
    ProfileIo& io;
    StepPage& page;
    ProjectEntry* entry;  // null for the project's export settings
    // Sound configuration: what the rows read changed.
    bool samplerChanged = false;
    bool outputChanged = false;
};

using Field = std::variant<std::int32_t*, std::uint8_t*, bool*, std::string*>;

enum class Form : std::uint8_t {
    Int,
    Flag,  // written 0 or 1, true exactly when the stored value is 1
    Text,  // a missing text reads as empty
};

struct SettingKey {
    std::string_view name;
    Form form = Form::Int;
    Field (*field)(Target&) = nullptr;
    int low = INT_MIN;
    int high = INT_MAX;
    // The value a missing key stands for; without one a missing key leaves
    // the setting as it was and the reader gives false.
    std::optional<int> ifMissing = std::nullopt;
    std::size_t maxChars = 0;  // texts
    // A setting with a getter and setter of its own instead of a field; the
    // setter gives false for a value it cannot take.
    int (*get)(Target&) = nullptr;
    bool (*apply)(Target&, int value) = nullptr;
    // A key the step's code reads or writes itself.
    bool (*read)(Target&, std::string_view key) = nullptr;
    void (*write)(Target&, std::string_view key) = nullptr;
};

template <auto Member>
Field entryField(Target& t) {
    return &(t.entry->*Member);
}
template <auto Outer, auto Inner>
Field entryField(Target& t) {
    return &((t.entry->*Outer).*Inner);
}
template <auto Member>
Field projectField(Target& t) {
    return &(t.io.project.*Member);
}

int fieldValue(const Field& field) {
    return std::visit(
        [](auto* value) -> int {
            if constexpr (std::is_same_v<decltype(value), std::string*>) {
                return 0;
            } else {
                return static_cast<int>(*value);
            }
        },
        field);
}

void setFieldValue(const Field& field, int value) {
    std::visit(
        [value](auto* target) {
            using T = std::remove_pointer_t<decltype(target)>;
            if constexpr (!std::is_same_v<T, std::string>) *target = static_cast<T>(value);
        },
        field);
}

bool readKey(Target& t, const SettingKey& key) {
    ProfileContext& context = t.io.context;
    if (key.read) return key.read(t, key.name);
    if (key.form == Form::Text) {
        std::string text = context.readString(key.name, "");
        if (key.maxChars != 0) text = platform::firstCharacters(text, key.maxChars);
        *std::get<std::string*>(key.field(t)) = std::move(text);
        return true;
    }
    const bool missing = platform::trimBlanks(context.readString(key.name, "")).empty();
    std::optional<int> value = key.form == Form::Flag ? readNumber(context, key.name, INT_MIN, INT_MAX)
                                                      : readNumber(context, key.name, key.low, key.high);
    if (!value) {
        if (!missing || !key.ifMissing) return false;  // the setting stays as it was
        value = key.ifMissing;
    }
    const int stored = key.form == Form::Flag ? (*value == 1 ? 1 : 0) : *value;
    if (key.apply) return key.apply(t, stored);
    setFieldValue(key.field(t), stored);
    return true;
}

void writeKey(Target& t, const SettingKey& key) {
    ProfileContext& context = t.io.context;
    if (key.write) {
        key.write(t, key.name);
    } else if (key.form == Form::Text) {
        writeTextValue(context, key.name, *std::get<std::string*>(key.field(t)));
    } else {
        const int value = key.get ? key.get(t) : fieldValue(key.field(t));
        writeNumber(context, key.name, key.form == Form::Flag ? (value != 0 ? 1 : 0) : value);
    }
}

// Every key is looked at: one that is missing or damaged does not keep the
// sound ones after it from being applied.
bool readTable(Target& t, std::span<const SettingKey> keys) {
    bool complete = true;
    for (const SettingKey& key : keys) complete = readKey(t, key) && complete;
    return complete;
}

void writeTable(Target& t, std::span<const SettingKey> keys) {
    for (const SettingKey& key : keys) writeKey(t, key);
}

void refresh(Target& t) { t.io.project.stepPageServices().stpRefreshAfterProfile(t.page, t.entry); }

// --- TRP ---------------------------------------------------------------------------

int transposition(Target& t) { return t.entry->voices.empty() ? 0 : t.entry->voices.front().transposition; }
bool setTransposition(Target& t, int semitones) {
    t.io.project.pipeline().cnvEntrySetTranspose(*t.entry, semitones);
    return true;
}

constexpr SettingKey kTransposeKeys[] = {
    {.name = "ProfileTransposeValue", .low = -128, .high = 127, .get = transposition, .apply = setTransposition},
    {.name = "ProfileTransposePercussion", .form = Form::Flag, .field = entryField<&ProjectEntry::TransposePercussion>},
};

// --- TMP ---------------------------------------------------------------------------

constexpr SettingKey kTempoKeys[] = {
    {.name = "ProfileTempoRelative", .form = Form::Flag, .field = entryField<&ProjectEntry::TempoIsRelative>},
    {.name = "ProfileRelativeVal", .field = entryField<&ProjectEntry::TempoRelative>, .low = 1, .high = 1000000},
    {.name = "ProfileAbsoluteVal", .field = entryField<&ProjectEntry::TempoAbsolute>, .low = -1, .high = 10000},
};

// --- TPP ---------------------------------------------------------------------------

int curveSpeed(Target& t) { return t.entry->tempoCurve.speed; }
bool setCurveSpeed(Target& t, int speed) {
    return t.io.project.stepPageServices().stpTempoCurveSetSpeed(t.entry->tempoCurve, speed);
}

constexpr SettingKey kTempoCurveKeys[] = {
    {.name = "ProfileTPPMinVal", .field = entryField<&ProjectEntry::tempoCurve, &TempoCurve::minimum>, .low = 1,
     .high = 10000},
    {.name = "ProfileTPPMaxVal", .field = entryField<&ProjectEntry::tempoCurve, &TempoCurve::maximum>, .low = 1,
     .high = 10000},
    {.name = "ProfileTPPSpeed", .low = 1, .get = curveSpeed, .apply = setCurveSpeed},
    {.name = "ProfileTPPShowTempos", .form = Form::Flag,
     .field = entryField<&ProjectEntry::tempoCurve, &TempoCurve::showTempos>},
    {.name = "ProfileTPPFileTempos", .form = Form::Flag,
     .field = entryField<&ProjectEntry::tempoCurve, &TempoCurve::fileTempos>},
    {.name = "ProfileTPPRecord", .form = Form::Flag, .field = entryField<&ProjectEntry::tempoCurve, &TempoCurve::record>},
};

// --- DYN ---------------------------------------------------------------------------

constexpr std::uint32_t kOptionSwing = 0x08;
constexpr std::uint32_t kOptionTrills = 0x20;
constexpr std::uint32_t kOptionDynamics = 0x40;

template <std::uint32_t Option>
int playOption(Target& t) {
    return (t.io.project.pipeline().enginePlayOptions(*t.entry) & Option) != 0 ? 1 : 0;
}

template <std::uint32_t Option, std::uint8_t TuneSectionSet::*Use>
bool setPlayOption(Target& t, int on) {
    PipelineServices& pipeline = t.io.project.pipeline();
    pipeline.enginePlayOptions(*t.entry);
    t.entry->tuneSections.*Use = on != 0 ? 1 : 0;
    pipeline.engineSetPlayOption(*t.entry, Option, on != 0 ? Option : kPlayOptionOff);
    return true;
}

constexpr SettingKey kInterpretationKeys[] = {
    {.name = "ProfileDYNDynamic", .form = Form::Flag, .ifMissing = 0, .get = playOption<kOptionDynamics>,
     .apply = setPlayOption<kOptionDynamics, &TuneSectionSet::UseDynamic>},
    {.name = "ProfileDYNRhythms", .form = Form::Flag, .ifMissing = 0, .get = playOption<kOptionSwing>,
     .apply = setPlayOption<kOptionSwing, &TuneSectionSet::UseSwing>},
    {.name = "ProfileDYNTrills", .form = Form::Flag, .ifMissing = 0, .get = playOption<kOptionTrills>,
     .apply = setPlayOption<kOptionTrills, &TuneSectionSet::UseTrills>},
};

// The score engine's switch tables, each a section of the profile file.
struct SwitchSection {
    int group;
    std::string_view name;
};
constexpr SwitchSection kSwitchSections[] = {{4, "ctDynamic"}, {2, "ctArtic"}, {5, "ctTrills"}};

// --- MET ---------------------------------------------------------------------------

using Metronome = scorecore::CMetronom;

constexpr SettingKey kMetronomeKeys[] = {
    {.name = "ProfileMetrCountIn", .field = entryField<&ProjectEntry::metronome, &Metronome::CountIn>, .low = 0,
     .high = 999},
    {.name = "ProfileMetrFirstBeat", .form = Form::Flag,
     .field = entryField<&ProjectEntry::metronome, &Metronome::FirstBeat>},
    {.name = "ProfileMetrFreq", .field = entryField<&ProjectEntry::metronome, &Metronome::Frequency>},
    {.name = "ProfileMetrInstr", .field = entryField<&ProjectEntry::metronome, &Metronome::Instrument>, .low = 0,
     .high = 127},
    {.name = "ProfileMetrLastBeat", .form = Form::Flag,
     .field = entryField<&ProjectEntry::metronome, &Metronome::LastBeat>},
    {.name = "ProfileMetrUseIt", .form = Form::Flag, .field = entryField<&ProjectEntry::metronome, &Metronome::Use>},
    {.name = "ProfileMetrVelocity", .field = entryField<&ProjectEntry::metronome, &Metronome::Velocity>, .low = 0,
     .high = 127},
    {.name = "ProfileMetrVolume", .field = entryField<&ProjectEntry::metronome, &Metronome::Volume>, .low = 0,
     .high = 127},
};

// --- EIN ---------------------------------------------------------------------------

using TuneUp = scorecore::CEinstimmung;

constexpr std::size_t kVoicesTextChars = 4095;
constexpr std::string_view kVoiceNumKey = "ProfileEinFirstNotesVoiceNum";

int totalVoices(const ProjectEntry& entry) {
    int total = 0;
    for (const std::uint8_t count : entry.voiceCounts) total += count;
    return total;
}

// A voice key names staff (low 16 bits) and voice (high 16 bits) of the entry.
bool isEntryVoice(const ProjectEntry& entry, std::int32_t key) {
    const auto bits = static_cast<std::uint32_t>(key);
    const int staff = static_cast<int>(bits & 0xFFFF);
    const int voice = static_cast<int>(bits >> 16);
    return voice < prfkeys::voiceCountOf(entry, staff);
}

void writeVoices(Target& t, std::string_view key) {
    const char* text = t.entry->tuneUp.createVoicesString();
    writeTextValue(t.io.context, key, text != nullptr ? text : "0");
}

bool readVoices(Target& t, std::string_view key) {
    const std::string text = platform::firstCharacters(t.io.context.readString(key, ""), kVoicesTextChars);
    if (platform::trimBlanks(text).empty()) return false;
    TuneUp& tuneUp = t.entry->tuneUp;
    // An empty selection is written as "0", which would read as the first
    // voice of the first staff; the stored count tells the two apart.
    if (readNumber(t.io.context, kVoiceNumKey, 0, 0)) {
        tuneUp.deleteVoiceList();
        tuneUp.FirstNotesVoiceNum = 0;
        return true;
    }
    const std::vector<std::int32_t> before = tuneUp.voices;
    if (tuneUp.buildVoicesFromString(text, totalVoices(*t.entry)) != 0) {
        tuneUp.voices = before;
        tuneUp.FirstNotesVoiceNum = static_cast<std::int32_t>(before.size());
        return false;
    }
    std::erase_if(tuneUp.voices, [&](std::int32_t voiceKey) { return !isEntryVoice(*t.entry, voiceKey); });
    tuneUp.FirstNotesVoiceNum = static_cast<std::int32_t>(tuneUp.voices.size());
    return true;
}

int selectedVoices(Target& t) { return static_cast<int>(t.entry->tuneUp.voices.size()); }
// Read before the other keys, with the question it may ask.
bool voiceNumReadEarlier(Target&, std::string_view) { return true; }

constexpr SettingKey kTuneUpTypeKey = {.name = "ProfileEinType", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Type>,
                                       .low = 0, .high = 2};

constexpr SettingKey kTuneUpKeys[] = {
    kTuneUpTypeKey,
    {.name = "ProfileEinDuration", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Duration>, .low = 0,
     .high = 600000},
    {.name = "ProfileEinZerlegt", .form = Form::Flag, .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Zerlegt>},
    {.name = "ProfileEinZerlegtTempo", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Tempo>, .low = 0, .high = 3},
    {.name = "ProfileEinZerlegtLiegen", .form = Form::Flag, .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Sounding>},
    {.name = "ProfileEinVolume", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Volume>, .low = 0, .high = 127},
    {.name = "ProfileEinInstrument", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::Instrument>, .low = -1,
     .high = 127},
    {.name = "ProfileEinFirstNotesOben", .form = Form::Flag,
     .field = entryField<&ProjectEntry::tuneUp, &TuneUp::FirstNotesFromTop>},
    {.name = kVoiceNumKey, .get = selectedVoices, .read = voiceNumReadEarlier},
    {.name = "ProfileEinFirstNotesVoices", .read = readVoices, .write = writeVoices},
    {.name = "ProfileEinAkkordDurMoll", .form = Form::Flag,
     .field = entryField<&ProjectEntry::tuneUp, &TuneUp::ChordDurMoll>},
    {.name = "ProfileEinAkkordGrundton", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::ChordGrundton>, .low = 0,
     .high = 11},
    {.name = "ProfileEinAkkordOktav", .field = entryField<&ProjectEntry::tuneUp, &TuneUp::ChordOctave>, .low = 0,
     .high = 10},
};

// --- PWC ---------------------------------------------------------------------------

constexpr std::size_t kReverbNameChars = 255;
constexpr std::string_view kSetupNameKey = "smpAssignmentName";
constexpr std::string_view kSetupTypeKey = "smpAssignmentType";
constexpr std::string_view kSetupKey = "smpAssignment";

bool readReverbType(Target& t, std::string_view key) {
    if (const auto type = readNumber(t.io.context, key, -1, INT_MAX)) {
        t.entry->ReverbType = *type;
        return true;
    }
    // Without a type a named effect cannot be set up; no effect needs none.
    if (!t.entry->Reverb.empty()) return false;
    t.entry->ReverbType = -1;
    return true;
}

bool readSampler(Target& t, std::string_view key) {
    const std::string name = t.io.context.readString(key, "");
    if (!platform::equalsNoCase(name, t.entry->SamplePlayer)) {
        t.samplerChanged = true;
        if (t.entry->samplerIndex >= 0) t.io.project.audio().clearInstrumentUse(t.entry->samplerIndex);
        t.entry->samplerIndex = -1;
    }
    t.entry->SamplePlayer = name;
    return true;
}

bool readSamplerOutput(Target& t, std::string_view key) {
    const std::string name = t.io.context.readString(key, "");
    if (name != t.entry->OutDevSampler) t.outputChanged = true;
    t.entry->OutDevSampler = name;
    return true;
}

constexpr SettingKey kSoundConfigKeys[] = {
    {.name = "ProfileConfHall", .form = Form::Text, .field = entryField<&ProjectEntry::Reverb>,
     .maxChars = kReverbNameChars},
    {.name = "ProfileConfHallTyp", .field = entryField<&ProjectEntry::ReverbType>, .read = readReverbType},
    {.name = "ProfileConfType", .field = entryField<&ProjectEntry::MWConversionMethod>, .low = 0, .high = 1},
    {.name = "ProfileConfSampler", .form = Form::Text, .field = entryField<&ProjectEntry::SamplePlayer>,
     .read = readSampler},
    {.name = "ProfileConfSamplerOut", .form = Form::Text, .field = entryField<&ProjectEntry::OutDevSampler>,
     .read = readSamplerOutput},
};

// --- BRN ---------------------------------------------------------------------------

constexpr std::string_view kMp3Key = "ProfileBurnMP3";

constexpr SettingKey kExportKeys[] = {
    {.name = "ProfileBurnType", .field = projectField<&Project::burnMethod>, .low = -1, .ifMissing = -1},
    {.name = "ProfileBurnSpeed", .field = projectField<&Project::burningSpeed>, .low = -1, .ifMissing = -1},
    {.name = "ProfileBurnCopies", .field = projectField<&Project::cdCopies>, .low = -1, .ifMissing = -1},
    {.name = "ProfileBurnEject", .form = Form::Flag, .field = projectField<&Project::openTray>, .ifMissing = 0},
    {.name = "ProfileBurnProof", .form = Form::Flag, .field = projectField<&Project::burnProof>, .ifMissing = 0},
};

// The target of an entry's settings; nothing for another step or no entry.
std::optional<Target> entryTarget(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return std::nullopt;
    return Target{io, page, entry};
}

bool readSimple(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given,
                std::span<const SettingKey> keys) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    const bool complete = readTable(*t, keys);
    refresh(*t);
    return complete;
}

bool writeSimple(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given,
                 std::span<const SettingKey> keys) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    writeTable(*t, keys);
    return true;
}

}  // namespace

bool prfReadTranspose(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return readSimple(io, page, type, entry, kTransposeKeys);
}
bool prfWriteTranspose(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return writeSimple(io, page, type, entry, kTransposeKeys);
}
bool prfReadTempo(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return readSimple(io, page, type, entry, kTempoKeys);
}
bool prfWriteTempo(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return writeSimple(io, page, type, entry, kTempoKeys);
}
bool prfReadTempoCurve(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return readSimple(io, page, type, entry, kTempoCurveKeys);
}
bool prfWriteTempoCurve(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return writeSimple(io, page, type, entry, kTempoCurveKeys);
}
bool prfReadMetronome(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return readSimple(io, page, type, entry, kMetronomeKeys);
}
bool prfWriteMetronome(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return writeSimple(io, page, type, entry, kMetronomeKeys);
}

bool prfWriteInterpretation(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    platform::IniDocument& document = io.context.document();
    for (const SwitchSection& section : kSwitchSections) {
        io.project.pipeline().engineSaveSwitches(*t->entry, section.group, document, section.name);
    }
    writeTable(*t, kInterpretationKeys);
    return true;
}

bool prfReadInterpretation(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    PipelineServices& pipeline = io.project.pipeline();
    const platform::IniDocument& document = io.context.document();
    for (const SwitchSection& section : kSwitchSections) {
        pipeline.engineLoadSwitches(*t->entry, section.group, document, section.name);
    }
    readTable(*t, kInterpretationKeys);
    pipeline.engineGetSections(*t->entry);
    refresh(*t);
    return true;
}

bool prfWriteTuneUp(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry) {
    return writeSimple(io, page, type, entry, kTuneUpKeys);
}

bool prfReadTuneUp(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    bool complete = readKey(*t, kTuneUpTypeKey);
    if (t->entry->tuneUp.Type != 0) {
        const auto wanted = readNumber(io.context, kVoiceNumKey, 0, INT_MAX);
        if (wanted && *wanted > prfCountVoicesOn(*t->entry) && !prfAskApplyMismatch(io.project.shell(), *t->entry)) {
            return true;
        }
    }
    complete = readTable(*t, std::span(kTuneUpKeys).subspan(1)) && complete;
    refresh(*t);
    return complete;
}

bool prfWriteSoundConfig(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    ProjectEntry& entry = *t->entry;
    if (entry.MWConversionMethod == 1) prfCaptureSamplerSetup(io.project, entry);
    writeTable(*t, kSoundConfigKeys);
    // The sample library keeps its own setup.
    if (!io.project.audio().isQvoPlugIn(entry.samplerIndex)) {
        writeTextValue(io.context, kSetupNameKey, entry.samplerSetupName);
        writeNumber(io.context, kSetupTypeKey, entry.samplerSetupType != 0 ? 1 : 0);
        if (!entry.samplerSetup.empty()) prfWriteIniBlob(io.context, entry.samplerSetup, kSetupKey);
    }
    return true;
}

bool prfReadSoundConfig(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    auto t = entryTarget(io, page, type, given);
    if (!t) return false;
    ProjectEntry& entry = *t->entry;
    const bool complete = readTable(*t, kSoundConfigKeys);
    std::string name = io.context.readString(kSetupNameKey, "");
    const std::uint8_t setupType = io.context.readInt(kSetupTypeKey, 1) == 1 ? 1 : 0;
    std::vector<std::uint8_t> block = prfReadIniBlob(io.context, kSetupKey).value_or(std::vector<std::uint8_t>{});
    const bool same = !t->samplerChanged && !t->outputChanged && name == entry.samplerSetupName &&
                      block.size() == entry.samplerSetup.size() && setupType == entry.samplerSetupType;
    if (!same) {
        entry.samplerSetup = std::move(block);
        entry.samplerSetupName = std::move(name);
        entry.samplerSetupType = setupType;
    }
    refresh(*t);
    return complete;
}

bool prfWriteExport(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry*) {
    if (type != static_cast<std::int32_t>(page.category)) return false;
    Target t{io, page, nullptr};
    writeTable(t, kExportKeys);
    prfWriteIniBlob(io.context, io.project.mp3Config, kMp3Key);
    return true;
}

bool prfReadExport(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry*) {
    if (type != static_cast<std::int32_t>(page.category)) return false;
    Target t{io, page, nullptr};
    readTable(t, kExportKeys);
    // Encoder settings of another size are not ours to take.
    if (const auto block = prfReadIniBlob(io.context, kMp3Key); block && block->size() == kMp3ConfigSize) {
        std::copy(block->begin(), block->end(), io.project.mp3Config.begin());
    }
    refresh(t);
    return true;
}

}  // namespace qvp3
