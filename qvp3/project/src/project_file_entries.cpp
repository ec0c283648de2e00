#include "project_file_internal.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <fstream>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"
#include "project_file_keys.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"

namespace qvp3::prjfile {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kVoiceListChars = 1024;

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
    // What reading one key came to.
    enum class Outcome : std::uint8_t { Taken, Unusable, Drop };

    void addCode(int code) { r_.codes.push_back(code); }
    std::string keyOf(const EntryKey& key, std::initializer_list<int> numbers = {}) const {
        return expandKey(key.name, section_, numbers);
    }
    // Reads the keys of a part into entry, reporting the code of each key
    // found unusable once. False when the entry is dropped.
    bool readPart(EntryPart part, ProjectEntry& entry);
    Outcome readKey(const EntryKey& key, ProjectEntry& entry);
    Outcome readSource(const EntryKey& key, ProjectEntry& fresh);
    bool sourceDateAllowsLoading(ProjectEntry& fresh, const std::string& key);
    void undoConversion(ProjectEntry& fresh);
    Outcome readRelativeTempo(const EntryKey& key, const FieldRef& field);
    void readStaff(ProjectEntry& entry, int staff);
    Outcome readInstrumentCount(const EntryKey& key, ProjectEntry& entry);
    void readInstruments(const EntryKey& key, ProjectEntry& entry);
    Outcome readVoiceKey(const EntryKey& key, ProjectEntry& entry);
    void readTrackVelocity(const EntryKey& key, ProjectEntry& entry);
    void readSwitchTable(const EntryKey& key, ProjectEntry& entry, const FieldRef& field);
    void readTuneUpVoices(const EntryKey& key, ProjectEntry& entry);
    void readRecordedTempos(const EntryKey& key, TempoCurve& curve);

    EntryReader& r_;
    ProfileContext& c_;
    Project& project_;
    PipelineServices& pipeline_;
    int number_;
    std::string section_;
    std::string sourceName_;
    // Where the per-staff keys are read.
    int staff_ = 0;
    int voice_ = 0;
    int track_ = 0;
    bool percussion_ = false;
    int runningVolume_ = -1;
    std::size_t instrumentCount_ = 0;
    bool engineSwitches_ = false;
};

void EntrySectionReader::read() {
    c_.iniSection = section_;
    ProjectEntry fresh;
    pipeline_.cnvEntryInit(fresh, project_);
    fresh.kind = EntryKind::Unset;
    const auto drop = [&] { pipeline_.cnvEntryFreeModel(fresh); };

    if (!readPart(EntryPart::Source, fresh)) return drop();
    // The tempo is reported before the entry opens and taken over after.
    ProjectEntry tempo;
    readPart(EntryPart::Tempo, tempo);
    readPart(EntryPart::Conversion, fresh);

    const std::size_t before = project_.entries.size();
    const int result = pipeline_.cnvOpenEntry(fresh, number_, project_);
    if (result != 0 || project_.entries.size() != before + 1) {
        if (result != 0) addCode(result);
        // Every code that names a file has its name, so the two lists pair up.
        if (result == kPrjCannotOpenSource || result == kPrjUnknownSourceFormat) r_.names.push_back(sourceName_);
        return drop();
    }
    const int index = static_cast<int>(before);
    ProjectEntry& entry = project_.entries.back();
    for (const EntryKey& key : entryPart(EntryPart::Tempo)) copyField(key.field(tempo), key.field(entry));
    readPart(EntryPart::Sampler, entry);
    const int staves = pipeline_.cnvEntryStaveCount(entry);
    for (int staff = 0; staff < staves; ++staff) readStaff(entry, staff);
    readPart(EntryPart::Transposition, entry);
    if (isScoreEntry(entry)) readPart(EntryPart::Switches, entry);
    if (entry.kind == EntryKind::Midi) {
        for (track_ = 1; track_ < entry.trackCount; ++track_) readPart(EntryPart::TrackNames, entry);
    }
    readPart(EntryPart::Metronome, entry);
    if (entry.metronome.Frequency == 0) entry.metronome.LastBeat = 1;  // every beat clicks, the last one too
    readPart(EntryPart::TuneUp, entry);
    readPart(EntryPart::Assignment, entry);
    readPart(EntryPart::SamplerSetup, entry);
    readPart(EntryPart::TempoCurve, entry);
    TempoCurve& curve = entry.tempoCurve;
    curve.recordTempo = std::min(std::max(curve.recordTempo, curve.minimum), curve.maximum);
    prjRenameLegacyConvertedFiles(project_, index, number_);

    ShellServices& shell = project_.shell();
    shell.repostActivation();
    shell.setStatusText(0, {});
    shell.setStatusText(1, {});
}

bool EntrySectionReader::readPart(EntryPart part, ProjectEntry& entry) {
    std::vector<std::int32_t> codes;
    bool kept = true;
    for (const EntryKey& key : entryPart(part)) {
        const Outcome outcome = readKey(key, entry);
        if (outcome == Outcome::Taken) continue;
        if (outcome == Outcome::Unusable && key.code != 0 &&
            std::find(codes.begin(), codes.end(), key.code) == codes.end()) {
            codes.push_back(key.code);
        }
        if (outcome == Outcome::Drop || key.rule.missing == Missing::Fail) {
            kept = false;
            break;
        }
    }
    r_.codes.insert(r_.codes.end(), codes.begin(), codes.end());
    return kept;
}

EntrySectionReader::Outcome EntrySectionReader::readKey(const EntryKey& key, ProjectEntry& entry) {
    const FieldRef field = key.field ? key.field(entry) : FieldRef{};
    if (isPlainForm(key.form)) {
        return readPlainKey(c_, keyOf(key), key.form, key.rule, key.truth, field) ? Outcome::Taken
                                                                                   : Outcome::Unusable;
    }
    const platform::IniDocument& document = c_.document();
    bool usable = true;
    switch (key.form) {
    case Form::SourceFile:
    case Form::OriginalFile:
    case Form::ModDate:
        return readSource(key, entry);
    case Form::ConversionMethod: {
        const int method = c_.readInt(keyOf(key), key.rule.def);
        // Older files knew 0 and 1 as the software synthesizer.
        int value = r_.currentFormat ? (method != 0 ? 1 : 0) : (method == 0 || method == 1 ? 0 : 1);
        if (project_.audio().countPresentInstruments() <= 0) value = 0;
        setFieldInt(field, value);
        break;
    }
    case Form::SamplerName: {
        const std::optional<std::string> sampler = document.getString(section_, keyOf(key));
        if (sampler && !sampler->empty()) entry.samplerIndex = -1;
        pipeline_.cnvApplyEntrySampler(entry, sampler ? &*sampler : nullptr);
        break;
    }
    case Form::ReverbName: {
        const std::optional<std::string> reverb = document.getString(section_, keyOf(key));
        pipeline_.cnvSelectEntryReverb(reverb ? &*reverb : nullptr, entry);
        break;
    }
    case Form::ReverbData: {
        const EntryKey& size = entryKey(Form::ReverbDataSize);
        if (c_.readInt(keyOf(size), size.rule.def) <= 0) break;
        if (auto data = prfReadIniBlob(c_, keyOf(key))) *std::get<std::vector<std::uint8_t>*>(field) = std::move(*data);
        break;
    }
    case Form::StaffVolume:
        runningVolume_ = readRuledInt(c_, keyOf(key, {staff_ + 1}), key.rule, usable).value_or(-1);
        break;
    case Form::InstrumentCount:
        return readInstrumentCount(key, entry);
    case Form::Instrument:
        readInstruments(key, entry);
        break;
    case Form::VoiceVolume:
    case Form::VoicePanorama:
    case Form::VoiceState:
    case Form::VoiceChannel:
    case Form::VoiceSound:
        return readVoiceKey(key, entry);
    case Form::TrackVelocity:
        readTrackVelocity(key, entry);
        break;
    case Form::Transpose:
        pipeline_.cnvEntrySetTranspose(entry, readRuledInt(c_, keyOf(key), key.rule, usable).value_or(0));
        break;
    case Form::RelativeTempo:
        return readRelativeTempo(key, field);
    case Form::SwitchTable:
        readSwitchTable(key, entry, field);
        break;
    case Form::TrackName: {
        const auto name = readTextKey(c_, keyOf(key, {track_}));
        // "0" is what the writer stores for a track without a name.
        if (name && *name != "0") pipeline_.cnvEntrySetTrackName(entry, track_, *name);
        break;
    }
    case Form::TuneUpVoices:
        readTuneUpVoices(key, entry);
        break;
    case Form::TempoSpeed:
        if (const auto speed = readRuledInt(c_, keyOf(key), key.rule, usable)) {
            project_.stepPageServices().stpTempoCurveSetSpeed(entry.tempoCurve, *speed);
        }
        break;
    case Form::TempoPoints:
        readRecordedTempos(key, entry.tempoCurve);
        break;
    case Form::PartBlock:
        // A longer block is cut to the record, a shorter one fills its start.
        if (const auto block = prfReadIniBlob(c_, keyOf(key)); block && !block->empty()) {
            const std::span<std::uint8_t> record = std::get<std::span<std::uint8_t>>(field);
            std::fill(record.begin(), record.end(), std::uint8_t{0});
            std::copy_n(block->begin(), std::min(block->size(), record.size()), record.begin());
        }
        break;
    default:  // read together with another key
        break;
    }
    return usable ? Outcome::Taken : Outcome::Unusable;
}

EntrySectionReader::Outcome EntrySectionReader::readSource(const EntryKey& key, ProjectEntry& fresh) {
    if (key.form == Form::ModDate) {
        return !r_.checkSourceDates || sourceDateAllowsLoading(fresh, keyOf(key)) ? Outcome::Taken : Outcome::Drop;
    }
    const std::optional<std::string> stored = readTextKey(c_, keyOf(key));
    if (!stored) return Outcome::Unusable;
    const bool source = key.form == Form::SourceFile;
    if (source) sourceName_ = platform::storedFileName(*stored);
    *std::get<fs::path*>(key.field(fresh)) = locateStoredFile(project_.data.ProjectFolder, *stored, !source);
    return Outcome::Taken;
}

bool EntrySectionReader::sourceDateAllowsLoading(ProjectEntry& fresh, const std::string& key) {
    const std::optional<std::string> recorded = readTextKey(c_, key);
    if (!recorded) return true;
    std::error_code ec;
    const std::ifstream probe(fresh.Filename, std::ios::binary);
    const std::optional<platform::FileTime> time = platform::fileTimeOf(fresh.Filename);
    if (!probe || !time || !fs::is_regular_file(fresh.Filename, ec)) {
        addCode(kPrjCannotOpenSource);
        r_.names.push_back(sourceName_);
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

EntrySectionReader::Outcome EntrySectionReader::readRelativeTempo(const EntryKey& key, const FieldRef& field) {
    const int stored = c_.readInt(keyOf(key), key.rule.def);
    long long relative = -1;
    if (stored != key.rule.def) {
        relative = r_.currentFormat ? stored : 1000LL - stored;  // older files kept 1000 minus the tempo
    }
    const bool usable = relative != -1 && relative >= INT_MIN && relative <= INT_MAX;
    setFieldInt(field, usable ? relative : key.rule.fallback);
    return usable ? Outcome::Taken : Outcome::Unusable;
}

void EntrySectionReader::readStaff(ProjectEntry& entry, int staff) {
    staff_ = staff;
    readPart(EntryPart::Staff, entry);
    entry.states.setStaffOnOff(staff, scorecore::kStateOff, true);
    percussion_ = pipeline_.cnvEntryIsPercussionStave(entry, staff);
    if (isScoreEntry(entry) && percussion_) readPart(EntryPart::Percussion, entry);
    const int voices = voiceCountOf(entry, staff);
    for (voice_ = 0; voice_ < voices; ++voice_) readPart(EntryPart::Voice, entry);
    if (entry.kind == EntryKind::Midi) readPart(EntryPart::Track, entry);
}

EntrySectionReader::Outcome EntrySectionReader::readInstrumentCount(const EntryKey& key, ProjectEntry& entry) {
    instrumentCount_ = 0;
    bool usable = true;
    const std::optional<int> stored = readRuledInt(c_, keyOf(key, {staff_ + 1}), key.rule, usable);
    if (!stored) return Outcome::Unusable;
    const auto s = static_cast<std::size_t>(staff_);
    const std::size_t present = s < entry.instruments.size() ? entry.instruments[s].size() : 0;
    if (*stored < 0 || static_cast<std::size_t>(*stored) != present) {
        addCode(kPrjSourceChanged);
        return Outcome::Taken;
    }
    instrumentCount_ = present;
    return Outcome::Taken;
}

void EntrySectionReader::readInstruments(const EntryKey& key, ProjectEntry& entry) {
    const auto s = static_cast<std::size_t>(staff_);
    for (std::size_t n = 0; n < instrumentCount_; ++n) {
        const auto value = readTextKey(c_, keyOf(key, {staff_ + 1, static_cast<int>(n) + 1}));
        if (!value) continue;
        // "<name> <note>", split at the last blank; without one, a name only.
        const std::size_t blank = value->rfind(' ');
        std::string name = blank == std::string::npos ? *value : value->substr(0, blank);
        bool wholeNumber = false;
        const int nameNumber = leadingInt(name, &wholeNumber);
        if (wholeNumber && nameNumber != 0) name = std::to_string(nameNumber);
        pipeline_.cnvEntrySetInstrumentName(entry, static_cast<int>(n),
                                            platform::firstCharacters(name, kInstrumentNameChars), staff_);
        if (blank == std::string::npos) continue;
        const std::string notePart = value->substr(blank + 1);
        int note = leadingInt(notePart);
        if (note == 0 && notePart != "0") note = -1;
        entry.instruments[s][n].PercNote =
            note >= 0 && note <= 127 ? static_cast<std::uint8_t>(note) : scorecore::CMidiInstr::kUnset;
    }
}

EntrySectionReader::Outcome EntrySectionReader::readVoiceKey(const EntryKey& key, ProjectEntry& entry) {
    bool usable = true;
    const std::optional<int> value = readRuledInt(c_, keyOf(key, {staff_ + 1, voice_ + 1}), key.rule, usable);
    switch (key.form) {
    case Form::VoiceVolume:
        if (value) runningVolume_ = *value;
        pipeline_.cnvEntrySetVoiceVolume(entry, runningVolume_, staff_, voice_);
        break;
    case Form::VoicePanorama:
        pipeline_.cnvEntrySetVoicePanorama(entry, *value, staff_, voice_);
        break;
    case Form::VoiceState:
        pipeline_.cnvEntrySetVoiceOnOff(entry, staff_, voice_, *value);
        if (entry.states.isVoiceOn(staff_, voice_)) entry.states.setStaffOnOff(staff_, scorecore::kStateOn, false);
        break;
    case Form::VoiceChannel:
        if (value) pipeline_.cnvEntrySetVoiceChannel(entry, voice_, *value, staff_);
        break;
    default:
        if (value && !percussion_) pipeline_.cnvEntrySetVoiceSound(entry, *value, staff_, voice_);
        break;
    }
    return usable ? Outcome::Taken : Outcome::Unusable;
}

void EntrySectionReader::readTrackVelocity(const EntryKey& key, ProjectEntry& entry) {
    const auto s = static_cast<std::size_t>(staff_);
    if (s >= entry.staffVelocity.size() || s >= entry.staffVelocityRelative.size()) return;
    const int track = staff_ + 1;
    const auto relativeText = readTextKey(c_, keyOf(entryKey(Form::TrackRelative), {track}));
    const bool relative = !relativeText || relativeText->front() == '1';
    const int fallback = relative ? 0 : 90;
    int velocity = c_.readInt(keyOf(key, {track}), key.rule.def);
    if (velocity == key.rule.def || velocity < (relative ? -127 : 0) || velocity > 127) velocity = fallback;
    entry.staffVelocity[s] = static_cast<std::int8_t>(velocity);
    entry.staffVelocityRelative[s] = relative ? 1 : 0;
}

void EntrySectionReader::readSwitchTable(const EntryKey& key, ProjectEntry& entry, const FieldRef& field) {
    IniSectionLines lines = c_.document().readSection(keyOf(key));
    const std::span<const EntryKey> switches = entryPart(EntryPart::Switches);
    if (&key == &switches.front()) {
        // Nothing in the first table: the engine's own defaults.
        engineSwitches_ = lines.empty();
        if (engineSwitches_) {
            for (const EntryKey& table : switches) {
                if (table.form == Form::SwitchTable) pipeline_.engineResetSwitchGroup(table.group);
            }
            pipeline_.engineGetSections(entry);
        }
    }
    if (!engineSwitches_ && !lines.empty()) *std::get<IniSectionLines*>(field) = std::move(lines);
}

void EntrySectionReader::readTuneUpVoices(const EntryKey& key, ProjectEntry& entry) {
    scorecore::CEinstimmung& tuneUp = entry.tuneUp;
    const EntryKey& count = entryKey(Form::TuneUpVoiceCount);
    const int voiceCount = c_.readInt(keyOf(count), count.rule.def);
    if (auto voices = c_.document().getString(section_, keyOf(key))) {
        // An empty list is stored as "0", which would otherwise read as the
        // first voice of the first staff; the count tells the two apart.
        if (*voices == "0" && voiceCount == 0) {
            tuneUp.deleteVoiceList();
        } else {
            tuneUp.buildVoicesFromString(voiceListText(*voices), -1);
        }
    }
}

// Points are taken only as far as the stored block holds them; a point larger
// than ours is cut to it, the older 32-byte point gets the identifiers 0 and 1.
void EntrySectionReader::readRecordedTempos(const EntryKey& key, TempoCurve& curve) {
    const EntryKey& sizeKey = entryKey(Form::TempoPointSize);
    const EntryKey& countKey = entryKey(Form::TempoPointCount);
    const int pointSize = c_.readInt(keyOf(sizeKey), sizeKey.rule.def);
    const int count = c_.readInt(keyOf(countKey), countKey.rule.def);
    if (count <= 0 || pointSize <= 0) return;
    const auto size = static_cast<std::size_t>(pointSize);
    if (size != kOldTempoPointSize && size < TempoPoint::kStoredSize) return;
    const auto block = prfReadIniBlob(c_, keyOf(key));
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
