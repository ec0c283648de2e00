#include "project_file_internal.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <fstream>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"

namespace qvp3::prjfile {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kVoiceListChars = 1024;
constexpr std::size_t kOldTempoPointSize = 32;
constexpr int kNoValue = INT_MIN;  // default of keys where every other value is legal

// --- small readers -------------------------------------------------------------

// The integer at the start of a text, as the C runtime reads it: blanks, a
// sign, digits; 0 when there are none. Held in 32 bits.
int leadingInt(std::string_view text, bool* whole = nullptr) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digitsStart = i;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 32);
    }
    if (whole) *whole = i > digitsStart && i == text.size();
    value = negative ? -value : value;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::uint64_t readFileTime(std::string_view text) {
    const std::string_view trimmed = platform::trimBlanks(text);
    std::uint64_t value = 0;
    std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    return value;
}

bool usableFileName(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

// Where a stored file is looked for: in the project folder by its name first
// (a project folder moved or copied as a whole), then where the file says when
// that is a path of this machine. A path written on Windows is never used as
// it stands. Missing everywhere: the project-folder path, or (keepStored) the
// stored path of this machine.
fs::path locateStoredFile(const fs::path& folder, std::string_view stored, bool keepStored) {
    const std::string name(platform::storedFileName(stored));
    const fs::path inFolder = folder / name;
    std::error_code ec;
    if (usableFileName(name) && fs::exists(inFolder, ec)) return inFolder;
    const bool local = isLocalStoredPath(stored);
    const fs::path storedPath = platform::fromStoredPath(stored);
    if (local && fs::exists(storedPath, ec)) return storedPath;
    if (keepStored && local) return storedPath;
    return inFolder;
}

// --- one entry ----------------------------------------------------------------------

class EntrySectionReader {
public:
    EntrySectionReader(EntryReader& reader, int number)
        : r_(reader),
          c_(reader.context),
          project_(reader.project),
          pipeline_(reader.project.pipeline()),
          number_(number),
          section_(entrySectionName(number)) {}

    void read();

private:
    void addCode(int code) { r_.codes.push_back(code); }
    bool sourceDateAllowsLoading(ProjectEntry& fresh, const std::string& name);
    void undoConversion(ProjectEntry& fresh);
    void readTempo();
    void readConversion(ProjectEntry& fresh);
    void readSamplerAndReverb(ProjectEntry& entry);
    void readStaff(ProjectEntry& entry, int staff);
    void readPercussion(ProjectEntry& entry, int staff);
    void readVoice(ProjectEntry& entry, int staff, int voice, bool percussion, int& runningVolume);
    void readTrackVelocity(ProjectEntry& entry, int staff);
    void readTransposition(ProjectEntry& entry);
    void readSwitchSections(ProjectEntry& entry);
    void readTrackNames(ProjectEntry& entry);
    void readMetronome(ProjectEntry& entry);
    void readTuneUp(ProjectEntry& entry);
    void readAssignments(ProjectEntry& entry);
    void readTempoCurve(ProjectEntry& entry);
    void readRecordedTempos(TempoCurve& curve, int count, int pointSize);

    EntryReader& r_;
    ProfileContext& c_;
    Project& project_;
    PipelineServices& pipeline_;
    int number_;
    std::string section_;
    std::int32_t tempoAbsolute_ = -1;
    std::int32_t tempoRelative_ = 1000;
    std::uint8_t tempoIsRelative_ = 1;
};

void EntrySectionReader::read() {
    c_.iniSection = section_;
    ProjectEntry fresh;
    pipeline_.cnvEntryInit(fresh, project_);
    fresh.kind = EntryKind::Unset;
    const auto drop = [&] { pipeline_.cnvEntryFreeModel(fresh); };

    const std::optional<std::string> stored = readTextKey(c_, "Filename");
    if (!stored) {
        addCode(kPrjNoFilename);
        return drop();
    }
    const std::string name(platform::storedFileName(*stored));
    const fs::path& folder = project_.data.ProjectFolder;
    fresh.Filename = locateStoredFile(folder, *stored, false);
    if (const auto orig = readTextKey(c_, "FilenameOrig")) fresh.FilenameOrig = locateStoredFile(folder, *orig, true);
    if (r_.checkSourceDates && !sourceDateAllowsLoading(fresh, name)) return drop();
    readTempo();
    readConversion(fresh);

    const std::size_t before = project_.entries.size();
    const int result = pipeline_.cnvOpenEntry(fresh, number_, project_);
    if (result != 0 || project_.entries.size() != before + 1) {
        if (result != 0) addCode(result);
        // Every code that names a file has its name, so the two lists pair up.
        if (result == kPrjCannotOpenSource || result == kPrjUnknownSourceFormat) r_.names.push_back(name);
        return drop();
    }
    const int index = static_cast<int>(before);
    ProjectEntry& entry = project_.entries.back();
    entry.TempoAbsolute = tempoAbsolute_;
    entry.TempoRelative = tempoRelative_;
    entry.TempoIsRelative = tempoIsRelative_;
    readSamplerAndReverb(entry);
    const int staves = pipeline_.cnvEntryStaveCount(entry);
    for (int staff = 0; staff < staves; ++staff) readStaff(entry, staff);
    readTransposition(entry);
    if (isScoreEntry(entry)) readSwitchSections(entry);
    if (entry.kind == EntryKind::Midi) readTrackNames(entry);
    readMetronome(entry);
    readTuneUp(entry);
    readAssignments(entry);
    readTempoCurve(entry);
    prjRenameLegacyConvertedFiles(project_, index, number_);

    ShellServices& shell = project_.shell();
    shell.repostActivation();
    shell.setStatusText(0, {});
    shell.setStatusText(1, {});
}

bool EntrySectionReader::sourceDateAllowsLoading(ProjectEntry& fresh, const std::string& name) {
    const std::optional<std::string> recorded = readTextKey(c_, "ModDate");
    if (!recorded) return true;
    std::error_code ec;
    const std::ifstream probe(fresh.Filename, std::ios::binary);
    const std::optional<platform::FileTime> time = platform::fileTimeOf(fresh.Filename);
    if (!probe || !time || !fs::is_regular_file(fresh.Filename, ec)) {
        addCode(kPrjCannotOpenSource);
        r_.names.push_back(name);
        return false;
    }
    if (*time != readFileTime(*recorded)) {
        addCode(kPrjSourceChanged);
        if (!fresh.FilenameOrig.empty()) undoConversion(fresh);
    }
    return true;
}

// The converted score is deleted only where the program makes it, in the
// project folder; a file named from elsewhere is merely no longer used.
void EntrySectionReader::undoConversion(ProjectEntry& fresh) {
    const fs::path& folder = project_.data.ProjectFolder;
    if (!folder.empty() && platform::isPathInside(fresh.Filename, folder)) {
        pipeline_.cnvRestoreOriginalSource(fresh);
        return;
    }
    fresh.Filename = fresh.FilenameOrig;
    fresh.FilenameOrig.clear();
}

void EntrySectionReader::readTempo() {
    bool missing = false;
    if (const auto absolute = readIntKey(c_, "TempoAbsolute", -2)) {
        tempoAbsolute_ = *absolute;
    } else {
        missing = true;
    }
    long long relative = -1;
    if (const auto stored = readIntKey(c_, "TempoRelative", kNoValue)) {
        relative = r_.currentFormat ? *stored : 1000LL - *stored;  // older files kept 1000 minus the tempo
    }
    if (relative == -1 || relative < INT_MIN || relative > INT_MAX) {
        relative = 1000;
        missing = true;
    }
    tempoRelative_ = static_cast<std::int32_t>(relative);
    if (const auto isRelative = readIntKey(c_, "TempoIsRelative", -1)) {
        tempoIsRelative_ = *isRelative != 0 ? 1 : 0;
    } else {
        missing = true;
    }
    if (missing) addCode(kPrjTempoMissing);
}

void EntrySectionReader::readConversion(ProjectEntry& fresh) {
    fresh.ConvertForQvo = c_.readInt("ConvertForQvo", 1) == 1 ? 1 : 0;
    const int method = c_.readInt("MWConversionMethod", 0);
    // Older files knew 0 and 1 as the software synthesizer.
    if (r_.currentFormat) {
        fresh.MWConversionMethod = method != 0 ? 1 : 0;
    } else {
        fresh.MWConversionMethod = method == 0 || method == 1 ? 0 : 1;
    }
    if (project_.audio().countPresentInstruments() <= 0) fresh.MWConversionMethod = 0;
    if (const auto pause = readIntKey(c_, "Pause", -1)) {
        fresh.Pause = *pause;
    } else {
        fresh.Pause = 2;
        addCode(kPrjNoPause);
    }
}

void EntrySectionReader::readSamplerAndReverb(ProjectEntry& entry) {
    const platform::IniDocument& document = c_.document();
    const std::optional<std::string> sampler = document.getString(section_, "SamplePlayer");
    if (sampler && !sampler->empty()) entry.samplerIndex = -1;
    pipeline_.cnvApplyEntrySampler(entry, sampler ? &*sampler : nullptr);
    const std::optional<std::string> reverb = document.getString(section_, "Reverb");
    pipeline_.cnvSelectEntryReverb(reverb ? &*reverb : nullptr, entry);
    entry.ReverbType = c_.readInt("ReverbType", -1);
    if (c_.readInt("ReverbDataSize", -1) > 0) {
        if (auto data = prfReadIniBlob(c_, "ReverbData")) entry.reverbData = std::move(*data);
    }
    entry.OutDevSampler = c_.readString("OutDevSampler", "");
}

void EntrySectionReader::readStaff(ProjectEntry& entry, int staff) {
    const int number = staff + 1;
    // Older files kept one volume per staff; it starts the voices' running volume.
    int runningVolume = c_.readInt(staveKey(number, "_Volume"), -1);
    if (runningVolume < -1 || runningVolume > 127) runningVolume = -1;
    entry.states.setStaffOnOff(staff, scorecore::kStateOff, true);
    const bool percussion = pipeline_.cnvEntryIsPercussionStave(entry, staff);
    if (isScoreEntry(entry) && percussion) readPercussion(entry, staff);
    const int voices = voiceCountOf(entry, staff);
    for (int voice = 0; voice < voices; ++voice) readVoice(entry, staff, voice, percussion, runningVolume);
    if (entry.kind == EntryKind::Midi) readTrackVelocity(entry, staff);
}

void EntrySectionReader::readPercussion(ProjectEntry& entry, int staff) {
    const int number = staff + 1;
    const std::optional<int> stored = readIntKey(c_, staveKey(number, "_MidiInstrNum"), -1);
    if (!stored) return;
    const auto s = static_cast<std::size_t>(staff);
    const std::size_t present = s < entry.instruments.size() ? entry.instruments[s].size() : 0;
    if (*stored < 0 || static_cast<std::size_t>(*stored) != present) {
        addCode(kPrjSourceChanged);
        return;
    }
    for (std::size_t n = 0; n < present; ++n) {
        const auto value = readTextKey(c_, percussionKey(number, static_cast<int>(n) + 1));
        if (!value) continue;
        // "<name> <note>", split at the last blank; without one, a name only.
        const std::size_t blank = value->rfind(' ');
        std::string name = blank == std::string::npos ? *value : value->substr(0, blank);
        bool wholeNumber = false;
        const int nameNumber = leadingInt(name, &wholeNumber);
        if (wholeNumber && nameNumber != 0) name = std::to_string(nameNumber);
        pipeline_.cnvEntrySetInstrumentName(entry, static_cast<int>(n),
                                            platform::firstCharacters(name, kInstrumentNameChars), staff);
        if (blank == std::string::npos) continue;
        const std::string notePart = value->substr(blank + 1);
        int note = leadingInt(notePart);
        if (note == 0 && notePart != "0") note = -1;
        entry.instruments[s][n].PercNote =
            note >= 0 && note <= 127 ? static_cast<std::uint8_t>(note) : scorecore::CMidiInstr::kUnset;
    }
}

void EntrySectionReader::readVoice(ProjectEntry& entry, int staff, int voice, bool percussion, int& runningVolume) {
    const int s = staff + 1;
    const int v = voice + 1;
    // A voice without a volume takes the one before it.
    if (const auto volume = readIntKey(c_, voiceKey("Staff", s, v, "_Volume"), -1);
        volume && *volume <= 127 && *volume >= 0) {
        runningVolume = *volume;
    }
    pipeline_.cnvEntrySetVoiceVolume(entry, runningVolume, staff, voice);
    int pan = c_.readInt(voiceKey("Staff", s, v, "_Panorama"), -1);
    if (pan < 0 || pan > 127) pan = 64;
    pipeline_.cnvEntrySetVoicePanorama(entry, pan, staff, voice);
    int state = c_.readInt(voiceKey("Stave_", s, v, "_On/Off"), scorecore::kStateInvalid);
    // A voice without a valid state plays.
    if (state < scorecore::kStateHidden || state > scorecore::kStateOn) state = scorecore::kStateOn;
    pipeline_.cnvEntrySetVoiceOnOff(entry, staff, voice, state);
    if (entry.states.isVoiceOn(staff, voice)) entry.states.setStaffOnOff(staff, scorecore::kStateOn, false);
    const int channel = c_.readInt(voiceKey("Stave", s, v, "_Channel"), -1);
    if (channel >= 0 && channel <= 15) pipeline_.cnvEntrySetVoiceChannel(entry, voice, channel, staff);
    const int sound = c_.readInt(voiceKey("Stave", s, v, "_Sound"), -1);
    if (!percussion && sound >= 0 && sound < 255) pipeline_.cnvEntrySetVoiceSound(entry, sound, staff, voice);
}

void EntrySectionReader::readTrackVelocity(ProjectEntry& entry, int staff) {
    const auto s = static_cast<std::size_t>(staff);
    if (s >= entry.staffVelocity.size() || s >= entry.staffVelocityRelative.size()) return;
    const int track = staff + 1;
    const auto relativeText = readTextKey(c_, trackKey("Track", track, "_VelocityRelativ"));
    const bool relative = !relativeText || relativeText->front() == '1';
    const int fallback = relative ? 0 : 90;
    int velocity = c_.readInt(trackKey("Track", track, "_Velocity"), kNoValue);
    if (velocity == kNoValue || velocity < (relative ? -127 : 0) || velocity > 127) velocity = fallback;
    entry.staffVelocity[s] = static_cast<std::int8_t>(velocity);
    entry.staffVelocityRelative[s] = relative ? 1 : 0;
}

void EntrySectionReader::readTransposition(ProjectEntry& entry) {
    constexpr int kMissing = 100;
    int semitones = c_.readInt("Transpose", kMissing);
    if (semitones < -127 || semitones > 127) semitones = kMissing;
    if (semitones == kMissing) {
        semitones = 0;
        addCode(kPrjNoTranspose);
    }
    pipeline_.cnvEntrySetTranspose(entry, semitones);
    entry.TransposePercussion = c_.readInt("TransposePercussion", 0) == 1 ? 1 : 0;
}

void EntrySectionReader::readSwitchSections(ProjectEntry& entry) {
    const platform::IniDocument& document = c_.document();
    const IniSectionLines dynamic = document.readSection(section_ + "|ctDynamic");
    TuneSectionSet& sections = entry.tuneSections;
    if (dynamic.empty()) {
        // Nothing stored: the engine's own defaults.
        pipeline_.engineResetSwitchGroup(kGroupDynamic);
        pipeline_.engineResetSwitchGroup(kGroupArtic);
        pipeline_.engineResetSwitchGroup(kGroupTrills);
        pipeline_.engineGetSections(entry);
    } else {
        sections.SetDynamic(dynamic);
        if (const auto artic = document.readSection(section_ + "|ctArtic"); !artic.empty()) sections.SetArtic(artic);
        if (const auto trills = document.readSection(section_ + "|ctTrills"); !trills.empty())
            sections.SetTrills(trills);
    }
    // A missing switch reads as off.
    sections.UseDynamic = c_.readInt(section_ + "|UseDynamic", 0) == 1 ? 1 : 0;
    sections.UseSwing = c_.readInt(section_ + "|UseSwing", 0) == 1 ? 1 : 0;
    sections.UseTrills = c_.readInt(section_ + "|UseTrills", 0) == 1 ? 1 : 0;
}

void EntrySectionReader::readTrackNames(ProjectEntry& entry) {
    for (int track = 1; track < entry.trackCount; ++track) {
        const auto name = readTextKey(c_, trackKey("NameOfTrack", track, ""));
        // "0" is what the writer stores for a track without a name.
        if (name && *name != "0") pipeline_.cnvEntrySetTrackName(entry, track, *name);
    }
}

void EntrySectionReader::readMetronome(ProjectEntry& entry) {
    scorecore::CMetronom& metronome = entry.metronome;
    bool missing = false;
    if (const auto countIn = readIntKey(c_, "MetrCountIn", -1)) {
        metronome.CountIn = *countIn;
    } else {
        metronome.CountIn = 2;
        missing = true;
    }
    const auto flag = [&](std::string_view key, auto& field) {
        if (const auto value = readIntKey(c_, key, -1)) {
            field = *value == 1 ? 1 : 0;
        } else {
            missing = true;
        }
    };
    // 255 stands for "not set"; so does anything that is no MIDI data byte.
    const auto dataByte = [&](std::string_view key, std::uint8_t fallback, std::uint8_t& field) {
        const auto value = readIntKey(c_, key, -1);
        if (value && *value >= 0 && *value <= 127) {
            field = static_cast<std::uint8_t>(*value);
        } else {
            field = fallback;
            missing = true;
        }
    };
    flag("MetrUseIt", metronome.Use);
    dataByte("MetrNote", 42, metronome.Instrument);
    dataByte("MetrVelocity", 85, metronome.Velocity);
    flag("MetrFirstBeat", metronome.FirstBeat);
    dataByte("MetrVolume", 127, metronome.Volume);
    if (missing) addCode(kPrjMetronomeMissing);
    metronome.Frequency = c_.readInt("MetrFrequ", 0);
    metronome.LastBeat = c_.readInt("MetrFrequLastBeat", 0) == 1 ? 1 : 0;
    if (metronome.Frequency == 0) metronome.LastBeat = 1;  // every beat clicks, the last one too
}

// The stored voice list, cut to its stored limit between two keys, never
// inside one.
std::string voiceListText(std::string_view text) {
    if (text.size() <= kVoiceListChars) return std::string(text);
    std::string_view cut = text.substr(0, kVoiceListChars);
    const char next = text[kVoiceListChars];
    if (next != ' ' && next != '\t') {
        const std::size_t blank = cut.find_last_of(" \t");
        cut = blank == std::string_view::npos ? std::string_view{} : cut.substr(0, blank);
    }
    return std::string(cut);
}

void EntrySectionReader::readTuneUp(ProjectEntry& entry) {
    scorecore::CEinstimmung& tuneUp = entry.tuneUp;
    tuneUp.ChordGrundton = c_.readInt("EinstChordGrundton", 0);
    tuneUp.ChordDurMoll = c_.readInt("EinstChordDur", 1) != 0 ? 1 : 0;
    tuneUp.ChordOctave = c_.readInt("EinstChordOctave", 5);
    const int voiceCount = c_.readInt("EinstChordNVoices", -1);
    if (auto voices = c_.document().getString(section_, "EinstChordVoices")) {
        // An empty list is stored as "0", which would otherwise read as the
        // first voice of the first staff; the count tells the two apart.
        if (*voices == "0" && voiceCount == 0) {
            tuneUp.deleteVoiceList();
        } else {
            tuneUp.buildVoicesFromString(voiceListText(*voices), -1);
        }
    }
    tuneUp.FirstNotesFromTop = c_.readInt("EinstChordFromTop", 0) == 1 ? 1 : 0;
    tuneUp.Type = c_.readInt("EinstType", 1);
    tuneUp.Duration = c_.readInt("EinstDuration", 1000);
    tuneUp.Zerlegt = c_.readInt("EinstZerlegt", 1) != 0 ? 1 : 0;
    tuneUp.Tempo = c_.readInt("EinstTempo", 2);
    tuneUp.Sounding = c_.readInt("EinstSounding", 1) != 0 ? 1 : 0;
    const int volume = c_.readInt("EinstVolume", 100);
    tuneUp.Volume = static_cast<std::uint8_t>(volume >= 0 && volume <= 127 ? volume : 100);
    tuneUp.Instrument = c_.readInt("EinstSound", -1);
}

void EntrySectionReader::readAssignments(ProjectEntry& entry) {
    if (const auto block = prfReadIniBlob(c_, "qVoAssignment"); block && !block->empty()) {
        // A longer block is cut to the record, a shorter one fills its start.
        entry.qvoAssignment.fill(0);
        std::copy_n(block->begin(), std::min(block->size(), kQvoAssignmentSize), entry.qvoAssignment.begin());
    }
    entry.samplerSetupName = c_.readString("smpAssignmentName", "");
    entry.samplerSetupType = c_.readInt("smpAssignmentType", 1) == 1 ? 1 : 0;
    if (auto setup = prfReadIniBlob(c_, "smpAssignment")) entry.samplerSetup = std::move(*setup);
}

void EntrySectionReader::readTempoCurve(ProjectEntry& entry) {
    TempoCurve& curve = entry.tempoCurve;
    if (const auto value = readIntKey(c_, "TPPMinVal", kNoValue)) curve.minimum = *value;
    if (const auto value = readIntKey(c_, "TPPMaxVal", kNoValue)) curve.maximum = *value;
    if (const auto value = readIntKey(c_, "TPPFileTempos", kNoValue)) curve.fileTempos = *value != 0;
    if (const auto value = readIntKey(c_, "TPPShowTempos", kNoValue)) curve.showTempos = *value != 0;
    if (const auto value = readIntKey(c_, "TPPRecord", kNoValue)) curve.record = *value != 0;
    if (const auto value = readIntKey(c_, "TPPSpeed", kNoValue)) {
        project_.stepPageServices().stpTempoCurveSetSpeed(curve, *value);
    }
    curve.recordTempo = std::min(std::max(curve.recordTempo, curve.minimum), curve.maximum);
    const int pointSize = c_.readInt("TPPTempoValSize", static_cast<int>(kOldTempoPointSize));
    const int count = c_.readInt("TPPRecTempoNum", 0);
    if (count > 0 && pointSize > 0) readRecordedTempos(curve, count, pointSize);
}

// Points are taken only as far as the stored block holds them; a point larger
// than ours is cut to it, the older 32-byte point gets the identifiers 0 and 1.
void EntrySectionReader::readRecordedTempos(TempoCurve& curve, int count, int pointSize) {
    const auto size = static_cast<std::size_t>(pointSize);
    if (size != kOldTempoPointSize && size < TempoPoint::kStoredSize) return;
    const auto block = prfReadIniBlob(c_, "TPPRecTempos");
    if (!block) return;
    const std::size_t points = std::min(static_cast<std::size_t>(count), block->size() / size);
    std::vector<TempoPoint> list;
    list.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
        std::array<std::uint8_t, TempoPoint::kStoredSize> bytes{};
        const auto* from = block->data() + i * size;
        std::copy_n(from, std::min(size, TempoPoint::kStoredSize), bytes.begin());
        if (size == kOldTempoPointSize) bytes[36] = 1;  // kind 0, tag 1
        list.push_back(TempoPoint::fromBytes(bytes));
    }
    curve.points[TempoCurve::kRecordedList] = std::move(list);
}

}  // namespace

void readEntrySection(EntryReader& reader, int fileNumber) { EntrySectionReader(reader, fileNumber).read(); }

}  // namespace qvp3::prjfile
