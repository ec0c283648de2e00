#include "project_file_internal.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

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
    void writeFilesAndConversion();
    void writeStaff(int staff);
    void writeSwitchSections();
    void writeMetronome();
    void writeTuneUp();
    void writeTempoCurve();
    void writeSamplerSetup();

    Project& project_;
    ProfileContext& c_;
    PipelineServices& pipeline_;
    AudioEngineServices& audio_;
    int index_;
    ProjectEntry& entry_;
    std::string section_;
};

void EntrySectionWriter::write() {
    c_.iniSection = section_;
    writeFilesAndConversion();
    const int staves = pipeline_.cnvEntryStaveCount(entry_);
    for (int staff = 0; staff < staves; ++staff) writeStaff(staff);
    writeInt(c_, "Transpose", entry_.voices.empty() ? 0 : entry_.voices.front().transposition);
    writeFlag(c_, "TransposePercussion", entry_.TransposePercussion != 0);
    writeInt(c_, "TempoAbsolute", entry_.TempoAbsolute);
    writeInt(c_, "TempoRelative", entry_.TempoRelative);
    writeFlag(c_, "TempoIsRelative", entry_.TempoIsRelative != 0);
    if (isScoreEntry(entry_)) writeSwitchSections();
    if (entry_.kind == EntryKind::Midi && entry_.trackCount > 1) {
        for (int track = 1; track < entry_.trackCount; ++track) {
            const auto t = static_cast<std::size_t>(track);
            const std::string name = t < entry_.trackNames.size() ? entry_.trackNames[t] : std::string();
            writeText(c_, trackKey("NameOfTrack", track, ""), name.empty() ? "0" : name);
        }
    }
    writeMetronome();
    writeTuneUp();
    prfWriteIniBlob(c_, entry_.qvoAssignment, "qVoAssignment");
    writeTempoCurve();
    writeSamplerSetup();
}

void EntrySectionWriter::writeFilesAndConversion() {
    writeText(c_, "Filename", platform::toStoredPath(entry_.Filename));
    writeText(c_, "FilenameOrig", platform::toStoredPath(entry_.FilenameOrig));
    const std::uint64_t modDate =
        entry_.kind == EntryKind::MusicXml ? pipeline_.mxmlGetModDate(entry_) : entry_.modDate;
    writeText(c_, "ModDate", std::to_string(modDate));
    writeInt(c_, "Pause", entry_.Pause);
    writeFlag(c_, "ConvertForQvo", entry_.ConvertForQvo != 0);
    writeFlag(c_, "MWConversionMethod", entry_.MWConversionMethod != 0);
    writeText(c_, "SamplePlayer", entry_.SamplePlayer);
    writeText(c_, "OutDevSampler", entry_.OutDevSampler);
    writeText(c_, "Reverb", entry_.Reverb);
    writeInt(c_, "ReverbType", entry_.ReverbType);
    if (audio_.findEffect(entry_.Reverb) >= 0 && entry_.ReverbType != -1 && entry_.MWConversionMethod == 1 &&
        !entry_.reverbData.empty()) {
        prfWriteIniBlob(c_, entry_.reverbData, "ReverbData");
        writeInt(c_, "ReverbDataSize", static_cast<std::int64_t>(entry_.reverbData.size()));
    }
}

void EntrySectionWriter::writeStaff(int staff) {
    const int s = staff + 1;
    const auto index = static_cast<std::size_t>(staff);
    const bool hasInstruments = index < entry_.instruments.size() && !entry_.instruments[index].empty();
    if (isScoreEntry(entry_) && pipeline_.cnvEntryIsPercussionStave(entry_, staff)) {
        const std::size_t count = hasInstruments ? entry_.instruments[index].size() : 0;
        writeInt(c_, staveKey(s, "_MidiInstrNum"), static_cast<std::int64_t>(count));
        for (std::size_t n = 0; n < count; ++n) {
            const scorecore::CMidiInstr& instrument = entry_.instruments[index][n];
            const std::string value = platform::firstCharacters(instrument.InstrumentId, kInstrumentNameChars) + " " +
                                      std::to_string(static_cast<std::int8_t>(instrument.PercNote));
            writeText(c_, percussionKey(s, static_cast<int>(n) + 1), value);
        }
    }
    for (int voice = 0; voice < voiceCountOf(entry_, staff); ++voice) {
        const int v = voice + 1;
        if (const VoicePlayRecord* record = entry_.voiceRecord(staff, voice)) {
            writeInt(c_, voiceKey("Staff", s, v, "_Panorama"), record->panorama);
            writeInt(c_, voiceKey("Staff", s, v, "_Volume"), record->volume);
        }
        writeInt(c_, voiceKey("Stave_", s, v, "_On/Off"), entry_.states.getVoiceOnOff(staff, voice));
        // A staff without instrument records has neither channel nor program.
        const scorecore::CMidiInstr* instrument = hasInstruments ? entry_.voiceInstrument(staff, voice) : nullptr;
        writeInt(c_, voiceKey("Stave", s, v, "_Channel"), instrument ? instrument->Channel : -1);
        writeInt(c_, voiceKey("Stave", s, v, "_Sound"), instrument ? instrument->UserProgram : -1);
    }
    if (entry_.kind == EntryKind::Midi && index < entry_.staffVelocity.size() &&
        index < entry_.staffVelocityRelative.size()) {
        writeInt(c_, trackKey("Track", s, "_Velocity"), entry_.staffVelocity[index]);
        writeFlag(c_, trackKey("Track", s, "_VelocityRelativ"), entry_.staffVelocityRelative[index] != 0);
    }
}

void EntrySectionWriter::writeSwitchSections() {
    if (project_.currentStep == kDynamicsStep && project_.currentEntry == index_) pipeline_.engineGetSections(entry_);
    platform::IniDocument& document = c_.document();
    const TuneSectionSet& sections = entry_.tuneSections;
    document.writeSection(section_ + "|ctDynamic", sections.dynamic);
    document.writeSection(section_ + "|ctArtic", sections.artic);
    document.writeSection(section_ + "|ctTrills", sections.trills);
    writeFlag(c_, section_ + "|UseDynamic", sections.UseDynamic != 0);
    writeFlag(c_, section_ + "|UseSwing", sections.UseSwing != 0);
    writeFlag(c_, section_ + "|UseTrills", sections.UseTrills != 0);
}

void EntrySectionWriter::writeMetronome() {
    const scorecore::CMetronom& metronome = entry_.metronome;
    writeInt(c_, "MetrCountIn", metronome.CountIn);
    writeFlag(c_, "MetrUseIt", metronome.Use != 0);
    writeInt(c_, "MetrNote", metronome.Instrument);
    writeInt(c_, "MetrVelocity", metronome.Velocity);
    writeFlag(c_, "MetrFirstBeat", metronome.FirstBeat != 0);
    writeInt(c_, "MetrVolume", metronome.Volume);
    writeInt(c_, "MetrFrequ", metronome.Frequency);
    writeFlag(c_, "MetrFrequLastBeat", metronome.LastBeat != 0);
}

void EntrySectionWriter::writeTuneUp() {
    scorecore::CEinstimmung& tuneUp = entry_.tuneUp;
    writeInt(c_, "EinstChordGrundton", tuneUp.ChordGrundton);
    writeFlag(c_, "EinstChordDur", tuneUp.ChordDurMoll != 0);
    writeInt(c_, "EinstChordOctave", tuneUp.ChordOctave);
    writeInt(c_, "EinstChordNVoices", static_cast<std::int64_t>(tuneUp.voices.size()));
    const char* voices = tuneUp.createVoicesString();
    writeText(c_, "EinstChordVoices", voices != nullptr ? voices : "0");
    writeFlag(c_, "EinstChordFromTop", tuneUp.FirstNotesFromTop != 0);
    writeInt(c_, "EinstType", tuneUp.Type);
    writeInt(c_, "EinstDuration", tuneUp.Duration);
    writeFlag(c_, "EinstZerlegt", tuneUp.Zerlegt != 0);
    writeInt(c_, "EinstTempo", tuneUp.Tempo);
    writeFlag(c_, "EinstSounding", tuneUp.Sounding != 0);
    writeInt(c_, "EinstVolume", tuneUp.Volume);
    writeInt(c_, "EinstSound", tuneUp.Instrument);
}

void EntrySectionWriter::writeTempoCurve() {
    const TempoCurve& curve = entry_.tempoCurve;
    const std::vector<TempoPoint>& recorded = curve.points[TempoCurve::kRecordedList];
    writeInt(c_, "TPPMinVal", curve.minimum);
    writeInt(c_, "TPPMaxVal", curve.maximum);
    writeInt(c_, "TPPSpeed", curve.speed);
    writeFlag(c_, "TPPFileTempos", curve.fileTempos);
    writeFlag(c_, "TPPShowTempos", curve.showTempos);
    writeFlag(c_, "TPPRecord", curve.record);
    writeInt(c_, "TPPTempoValSize", static_cast<std::int64_t>(TempoPoint::kStoredSize));
    writeInt(c_, "TPPRecTempoNum", static_cast<std::int64_t>(recorded.size()));
    if (recorded.empty()) return;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(recorded.size() * TempoPoint::kStoredSize);
    for (const TempoPoint& point : recorded) {
        const auto stored = point.toBytes();
        bytes.insert(bytes.end(), stored.begin(), stored.end());
    }
    prfWriteIniBlob(c_, bytes, "TPPRecTempos");
}

void EntrySectionWriter::writeSamplerSetup() {
    const bool samplePlayer = entry_.MWConversionMethod == 1;
    if (project_.currentStep == kSoundConfigStep && samplePlayer && project_.currentEntry == index_ &&
        entry_.samplerIndex >= 0) {
        if (auto setup = audio_.saveSamplerSetup(entry_.samplerIndex)) entry_.samplerSetup = std::move(*setup);
    }
    if (samplePlayer && !audio_.isQvoPlugIn(entry_.samplerIndex)) {
        writeText(c_, "smpAssignmentName", entry_.samplerSetupName);
        writeFlag(c_, "smpAssignmentType", entry_.samplerSetupType != 0);
        if (!entry_.samplerSetup.empty()) prfWriteIniBlob(c_, entry_.samplerSetup, "smpAssignment");
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
