#include "project_file_internal.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "project_file_keys.h"

namespace qvp3::prjfile {

namespace {

constexpr int kDynamicsStep = static_cast<int>(StepCategory::Dyn);
constexpr int kSoundConfigStep = static_cast<int>(StepCategory::Pwc);

class EntrySectionWriter {
public:
    EntrySectionWriter(Project& project, ProfileContext& context, int index)
        : project_(project),
          c_(context),
          pipeline_(project.pipeline()),
          audio_(project.audio()),
          index_(index),
          entry_(project.entries[static_cast<std::size_t>(index)]),
          section_(entrySectionName(index + 1)) {}

    void write();

private:
    std::string keyOf(const EntryKey& key, std::initializer_list<int> numbers = {}) const {
        return expandKey(key.name, section_, numbers);
    }
    void writePart(EntryPart part);
    void writeKeys(EntryPart part);
    void writeKey(const EntryKey& key);
    void writeStaff(int staff);
    void writeStaffKey(const EntryKey& key);
    void writeSamplerSetup();

    Project& project_;
    ProfileContext& c_;
    PipelineServices& pipeline_;
    AudioEngineServices& audio_;
    int index_;
    ProjectEntry& entry_;
    std::string section_;
    // Where the per-staff keys are written.
    int staff_ = 0;
    int voice_ = 0;
    int track_ = 0;
    bool reverbData_ = false;
};

void EntrySectionWriter::write() {
    c_.iniSection = section_;
    const std::span<const EntryKey> keys = entryKeys();
    for (std::size_t i = 0; i < keys.size(); i += entryPart(keys[i].part).size()) writePart(keys[i].part);
}

void EntrySectionWriter::writePart(EntryPart part) {
    switch (part) {
    case EntryPart::Sampler:
        // The effect's data is kept only for a known effect the sample player uses.
        reverbData_ = audio_.findEffect(entry_.Reverb) >= 0 && entry_.ReverbType != -1 &&
                      entry_.MWConversionMethod == 1 && !entry_.reverbData.empty();
        writeKeys(part);
        break;
    case EntryPart::Staff: {
        const int staves = pipeline_.cnvEntryStaveCount(entry_);
        for (int staff = 0; staff < staves; ++staff) writeStaff(staff);
        break;
    }
    case EntryPart::Percussion:
    case EntryPart::Voice:
    case EntryPart::Track:  // written staff by staff, with the Staff part
        break;
    case EntryPart::Switches:
        if (!isScoreEntry(entry_)) break;
        if (project_.currentStep == kDynamicsStep && project_.currentEntry == index_) {
            pipeline_.engineGetSections(entry_);
        }
        writeKeys(part);
        break;
    case EntryPart::TrackNames:
        if (entry_.kind != EntryKind::Midi) break;
        for (track_ = 1; track_ < entry_.trackCount; ++track_) writeKeys(part);
        break;
    case EntryPart::SamplerSetup:
        writeSamplerSetup();
        break;
    default:
        writeKeys(part);
        break;
    }
}

void EntrySectionWriter::writeKeys(EntryPart part) {
    for (const EntryKey& key : entryPart(part)) writeKey(key);
}

void EntrySectionWriter::writeKey(const EntryKey& key) {
    const FieldRef field = key.field ? key.field(entry_) : FieldRef{};
    if (isPlainForm(key.form)) {
        writePlainKey(c_, keyOf(key), key.form, field);
        return;
    }
    switch (key.form) {
    case Form::SourceFile:
    case Form::OriginalFile:
        writeText(c_, key.name, platform::toStoredPath(*std::get<std::filesystem::path*>(field)));
        break;
    case Form::ModDate: {
        const std::uint64_t date =
            entry_.kind == EntryKind::MusicXml ? pipeline_.mxmlGetModDate(entry_) : *std::get<std::uint64_t*>(field);
        writeText(c_, key.name, std::to_string(date));
        break;
    }
    case Form::ConversionMethod:
        writeFlag(c_, key.name, fieldInt(field) != 0);
        break;
    case Form::SamplerName:
    case Form::ReverbName:
        writeText(c_, key.name, *std::get<std::string*>(field));
        break;
    case Form::ReverbData:
        if (reverbData_) prfWriteIniBlob(c_, *std::get<std::vector<std::uint8_t>*>(field), key.name);
        break;
    case Form::ReverbDataSize:
        if (reverbData_) writeInt(c_, key.name, static_cast<std::int64_t>(entry_.reverbData.size()));
        break;
    case Form::Transpose:
        writeInt(c_, key.name, entry_.voices.empty() ? 0 : entry_.voices.front().transposition);
        break;
    case Form::RelativeTempo:
    case Form::TempoSpeed:
        writeInt(c_, key.name, fieldInt(field));
        break;
    case Form::SwitchTable:
        c_.document().writeSection(keyOf(key), *std::get<IniSectionLines*>(field));
        break;
    case Form::TrackName: {
        const auto t = static_cast<std::size_t>(track_);
        const std::string name = t < entry_.trackNames.size() ? entry_.trackNames[t] : std::string();
        writeText(c_, keyOf(key, {track_}), name.empty() ? "0" : name);
        break;
    }
    case Form::TuneUpVoiceCount:
        writeInt(c_, key.name, static_cast<std::int64_t>(entry_.tuneUp.voices.size()));
        break;
    case Form::TuneUpVoices: {
        const char* voices = entry_.tuneUp.createVoicesString();
        writeText(c_, key.name, voices != nullptr ? voices : "0");
        break;
    }
    case Form::TempoPointSize:
        writeInt(c_, key.name, static_cast<std::int64_t>(TempoPoint::kStoredSize));
        break;
    case Form::TempoPointCount:
        writeInt(c_, key.name,
                 static_cast<std::int64_t>(entry_.tempoCurve.points[TempoCurve::kRecordedList].size()));
        break;
    case Form::TempoPoints: {
        const std::vector<TempoPoint>& recorded = entry_.tempoCurve.points[TempoCurve::kRecordedList];
        if (recorded.empty()) break;
        std::vector<std::uint8_t> bytes;
        bytes.reserve(recorded.size() * TempoPoint::kStoredSize);
        for (const TempoPoint& point : recorded) {
            const auto stored = point.toBytes();
            bytes.insert(bytes.end(), stored.begin(), stored.end());
        }
        prfWriteIniBlob(c_, bytes, key.name);
        break;
    }
    case Form::PartBlock:
        prfWriteIniBlob(c_, std::get<std::span<std::uint8_t>>(field), key.name);
        break;
    default:  // per staff, or read only
        break;
    }
}

void EntrySectionWriter::writeStaff(int staff) {
    staff_ = staff;
    if (isScoreEntry(entry_) && pipeline_.cnvEntryIsPercussionStave(entry_, staff)) {
        for (const EntryKey& key : entryPart(EntryPart::Percussion)) writeStaffKey(key);
    }
    for (voice_ = 0; voice_ < voiceCountOf(entry_, staff); ++voice_) {
        for (const EntryKey& key : entryPart(EntryPart::Voice)) writeStaffKey(key);
    }
    const auto index = static_cast<std::size_t>(staff);
    if (entry_.kind == EntryKind::Midi && index < entry_.staffVelocity.size() &&
        index < entry_.staffVelocityRelative.size()) {
        for (const EntryKey& key : entryPart(EntryPart::Track)) writeStaffKey(key);
    }
}

void EntrySectionWriter::writeStaffKey(const EntryKey& key) {
    const int s = staff_ + 1;
    const auto index = static_cast<std::size_t>(staff_);
    const bool hasInstruments = index < entry_.instruments.size() && !entry_.instruments[index].empty();
    const std::size_t instruments = hasInstruments ? entry_.instruments[index].size() : 0;
    const VoicePlayRecord* record = entry_.voiceRecord(staff_, voice_);
    // A staff without instrument records has neither channel nor program.
    const scorecore::CMidiInstr* instrument = hasInstruments ? entry_.voiceInstrument(staff_, voice_) : nullptr;
    const std::string name = keyOf(key, {s, voice_ + 1});
    switch (key.form) {
    case Form::InstrumentCount:
        writeInt(c_, name, static_cast<std::int64_t>(instruments));
        break;
    case Form::Instrument:
        for (std::size_t n = 0; n < instruments; ++n) {
            const scorecore::CMidiInstr& percussion = entry_.instruments[index][n];
            const std::string value = platform::firstCharacters(percussion.InstrumentId, kInstrumentNameChars) + " " +
                                      std::to_string(static_cast<std::int8_t>(percussion.PercNote));
            writeText(c_, keyOf(key, {s, static_cast<int>(n) + 1}), value);
        }
        break;
    case Form::VoicePanorama:
        if (record) writeInt(c_, name, record->panorama);
        break;
    case Form::VoiceVolume:
        if (record) writeInt(c_, name, record->volume);
        break;
    case Form::VoiceState:
        writeInt(c_, name, entry_.states.getVoiceOnOff(staff_, voice_));
        break;
    case Form::VoiceChannel:
        writeInt(c_, name, instrument ? instrument->Channel : -1);
        break;
    case Form::VoiceSound:
        writeInt(c_, name, instrument ? instrument->UserProgram : -1);
        break;
    case Form::TrackVelocity:
        writeInt(c_, name, entry_.staffVelocity[index]);
        break;
    case Form::TrackRelative:
        writeFlag(c_, name, entry_.staffVelocityRelative[index] != 0);
        break;
    default:
        break;
    }
}

void EntrySectionWriter::writeSamplerSetup() {
    const bool samplePlayer = entry_.MWConversionMethod == 1;
    if (project_.currentStep == kSoundConfigStep && samplePlayer && project_.currentEntry == index_ &&
        entry_.samplerIndex >= 0) {
        audio_.captureSamplerSetup(entry_);
    }
    if (samplePlayer && !audio_.isQvoPlugIn(entry_.samplerIndex)) {
        writeKeys(EntryPart::SamplerSetup);
        return;
    }
    entry_.samplerSetup.clear();
    entry_.samplerSetupName.clear();
}

}  // namespace

void writeEntrySections(Project& project, ProfileContext& context, int index) {
    EntrySectionWriter(project, context, index).write();
}

}  // namespace qvp3::prjfile
