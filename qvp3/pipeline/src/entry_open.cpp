// Opening a project entry: which kind of source the file is, loading it,
// MusicXML turned into a ".tvrx" beside its source, the play records, and
// the outcome the user sees.
#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "platform/text.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/entry_sources.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/pipeline.h"

namespace qvp3 {
namespace {

constexpr int kOutOfMemory = -2;
constexpr int kNoScore = -6;
constexpr int kReadError = -100;
constexpr int kCannotOpen = -103;
constexpr int kUnknownFormat = -104;
constexpr std::size_t kNameChars = 120;
constexpr std::uint8_t kDrumChannel = 9;
constexpr std::uint8_t kDefaultSound = 127;

bool isFileAccessCode(int code) { return code == kOutOfMemory || code == kReadError; }

// The name of a stave: the first present of its record's three names.
std::string staveName(const tvStaveRecord* record) {
    if (record == nullptr) return {};
    for (const char* name : record->names) {
        if (name == nullptr) continue;
        // Our engine speaks UTF-8; a record without the flag holds Windows-1252 text.
        std::string text = (record->flags & TAVTUNE_STAVE_UTF8) != 0 ? std::string(name)
                                                                     : platform::cp1252ToUtf8(name);
        return platform::firstCharacters(text, 256);
    }
    return {};
}

scorecore::CScoreEvent noteEvent(const tvNote& note) {
    scorecore::CScoreEvent e;
    e.kind = scorecore::kKindNote;
    e.start = note.tick;
    e.duration = note.length;
    e.headCount = 1;
    e.midi[0] = 0x90u | (static_cast<std::uint32_t>(note.key) << 8) | (static_cast<std::uint32_t>(note.velocity) << 16);
    return e;
}

// One instrument record per key the percussion stave plays, in rising key order, on channel 10.
void percussionRecords(ProjectEntry& entry, int stave, const std::array<std::uint8_t, 128>& keys) {
    auto& list = entry.instruments[static_cast<std::size_t>(stave)];
    list.clear();
    std::uint8_t id = 128;
    for (int key = 0; key < 128; ++key) {
        if (keys[static_cast<std::size_t>(key)] == 0) continue;
        scorecore::CMidiInstr r;
        r.PercNote = static_cast<std::uint8_t>(key);
        r.SrcProgPercId = id < 255 ? id++ : id;
        r.Channel = kDrumChannel;
        r.InstrumentId = cnvPercussionKeyName(key);
        list.push_back(std::move(r));
    }
}

}  // namespace

Pipeline::Pipeline(CTavtuneLib& engine, platform::MessageTarget** mainWindow)
    : engine_(engine), mainWindow_(mainWindow) {}

int Pipeline::cnvOpenEntry(ProjectEntry& entry, int, Project& project) {
    return openEntry(entry, project, false, true);
}

int Pipeline::openEntry(ProjectEntry& entry, Project& project, bool showMessages, bool fromProjectFile) {
    entry.project = &project;
    int rc = kOutOfMemory;
    try {
        rc = load(entry);
        if (rc == 0 && isScoreKind(entry.kind)) rc = finishScore(entry, fromProjectFile);
    } catch (const std::bad_alloc&) {
        rc = kOutOfMemory;
    }
    if (rc == 0 || rc == kOpenSuccessVariant) {
        if (entry.durationMs <= 0) {
            if (showMessages) report(project, entry, kOpenNoPlayTime);
            cnvEntryFreeModel(entry);
            return kOpenNoPlayTime;
        }
        project.totalMs += entry.durationMs;
        if (!cnvInsertEntry(project, std::move(entry), -1)) {
            cnvEntryFreeModel(entry);
            return kOutOfMemory;
        }
        cnvRelinkEntryPlayers(project);
        return 0;
    }
    if (showMessages && rc != kUnknownFormat) report(project, entry, rc);
    cnvEntryFreeModel(entry);
    return rc;
}

// The score stays open in the engine from building to measuring: opening a
// ".tvrx" again would read and convert the whole file once more.
int Pipeline::finishScore(ProjectEntry& entry, bool fromProjectFile) {
    if (const int rc = buildPlayRecords(entry); rc != 0) return rc;
    if (entry.kind == EntryKind::TvrXml && entry.FilenameOrig.empty()) useScoreInstrument(entry);
    if (const int rc = measureScore(entry); rc != 0) return rc;
    cnvAssignChannels(entry);
    if (!fromProjectFile) {
        for (int kind : {4, 2, 5}) engine_.call(135, kind, 0);
        engine_.GetSections(entry.tuneSections, false);
    }
    return 0;
}

int Pipeline::load(ProjectEntry& entry) {
    if (SourceFile file; cnvCheckBinaryScore(entry.Filename, file) == kCnvOk) {
        entry.kind = EntryKind::BinaryScore;
        return loadScoreInEngine(entry);
    }
    // A converted MusicXML file is opened as the score it became; the loop
    // runs a second time only after a conversion.
    for (int round = 0; round < 2; ++round) {
        const int engineResult = loadScoreInEngine(entry);
        if (engineResult == 0) return 0;
        int sniffed = -1;
        if (cnvSniffMusicFileByName(entry.Filename, nullptr, &sniffed) == 0) {
            entry.sniffedKind = sniffed;
            entry.kind = EntryKind::Midi;
            const int rc = cnvReadMidiEntry(entry);
            // The project file keeps the date a MIDI file had when it was read;
            // without it every reopening would take the file for changed.
            std::string date;
            platform::FileTime fileTime = 0;
            if (rc == 0 && cnvFileDateText(entry.Filename, fileTime, date) == kCnvOk) entry.modDate = fileTime;
            return rc;
        }
        if (round > 0) return engineResult;
        ScoreLibraryHost host;
        host.window = mainWindow_;
        int staves = 0;
        if (const int rc = cnvOpenMusicXml(entry, host, staves); rc != 0) return rc;
        if (const int rc = cnvMusicXmlToTvrx(entry, host); rc != 0) return rc;
    }
    return kUnknownFormat;
}

int Pipeline::loadScoreInEngine(ProjectEntry& entry) {
    if (const int rc = engine_.OpenScore(entry.Filename, 0); rc != 0) return rc;
    if (entry.kind != EntryKind::BinaryScore) entry.kind = EntryKind::TvrXml;
    PipelineEntryModel& model = cnvEntryModel(entry);
    model.events.clear();
    model.staveNames.clear();
    std::string date;
    platform::FileTime fileTime = 0;
    if (cnvFileDateText(entry.Filename, fileTime, date) == kCnvOk) entry.modDate = fileTime;
    std::string info;
    engine_.GetScoreInfoText(infoLabels, info);
    model.infoText = dateLabel + date + "\n" + info;

    const int staves = engine_.CountStaves();
    if (staves < 0) return kNoScore;
    entry.staveCount = staves;
    entry.voiceCounts.assign(static_cast<std::size_t>(staves), 0);
    for (int s = 0; s < staves; ++s) {
        const int voices = std::clamp(engine_.CountStaffItems(s), 0, 255);
        entry.voiceCounts[static_cast<std::size_t>(s)] = static_cast<std::uint8_t>(voices);
        for (int v = 0; v < voices; ++v) {
            std::vector<tvNote> notes;
            engine_.CollectStaffKeys(s, v, nullptr, &notes);
            auto* list = model.list(s, v);
            for (const tvNote& n : notes) list->push_back(noteEvent(n));
        }
        model.staveNames.push_back(staveName(engine_.callForAddress<const tvStaveRecord>(145, s)));
    }
    return 0;
}

// A score written for an instrument of the catalogue names it as its first
// staff's instrument ("VST:" and the name): the file then plays through the
// sample player.
void Pipeline::useScoreInstrument(ProjectEntry& entry) {
    constexpr std::string_view kMark = "VST:";
    const std::string staff = cnvEntryStaveName(entry, 0);
    if (entry.project == nullptr || staff.rfind(kMark, 0) != 0) return;
    std::string shown;
    const std::string name(platform::trimBlanks(std::string_view(staff).substr(kMark.size())));
    if (entry.project->audio().useInstrument(name, shown) < 0) return;
    entry.MWConversionMethod = 1;
    cnvApplyEntrySampler(entry, &shown);
}

int Pipeline::buildPlayRecords(ProjectEntry& entry) {
    const int staves = entry.staveCount;
    PipelineEntryModel& model = cnvEntryModel(entry);
    entry.instruments.assign(static_cast<std::size_t>(staves), {});
    entry.voices.assign(static_cast<std::size_t>(cnvEntryVoiceCount(entry)), VoicePlayRecord{});
    model.keyTables.assign(static_cast<std::size_t>(staves), {});
    const std::string device = platform::firstCharacters(midiOutputName, kNameChars);
    for (int s = 0; s < staves; ++s) {
        const int voices = entry.voiceCounts[static_cast<std::size_t>(s)];
        const std::optional<EngineVoiceInfo> first = cnvEngineVoiceInfo(engine_, entry, s, 0);
        bool percussion = false;
        for (int v = 0; v < voices; ++v) {
            const std::optional<EngineVoiceInfo> info = cnvEngineVoiceInfo(engine_, entry, s, v);
            VoicePlayRecord& record = *entry.voiceRecord(s, v);
            record.sound = static_cast<std::uint8_t>(first ? first->sound : kDefaultSound);
            if (info) {
                record.volume = static_cast<std::int8_t>(std::clamp(info->volume, 0, 127));
                record.panorama = static_cast<std::int8_t>(std::clamp(info->panorama, 0, 127));
                record.soundName = platform::firstCharacters(info->soundName, 128);
            }
            record.outputDevice = device;
            percussion = percussion || record.sound > 127;
            scorecore::CMidiInstr instrument;
            instrument.SrcProgPercId = info ? static_cast<std::uint8_t>(std::clamp(info->sound, 0, 255)) : kDefaultSound;
            instrument.InstrumentId = info ? platform::firstCharacters(info->instrumentName, 31) : std::string();
            entry.instruments[static_cast<std::size_t>(s)].push_back(std::move(instrument));
        }
        if (percussion) {
            auto& keys = model.keyTables[static_cast<std::size_t>(s)];
            if (engine_.CollectStaffKeys(s, -1, &keys, nullptr) == 0) percussionRecords(entry, s, keys);
        }
    }
    entry.states.create(staves, entry.voiceCounts);
    entry.states.setAll(true);
    return 0;
}

int Pipeline::measureScore(ProjectEntry& entry) {
    if (const int rc = engine_.OpenScore(entry.Filename, 0); rc != 0) return rc;
    std::int32_t ms = 0;
    if (const int rc = engine_.GetPlayTime(ms); rc != 0) return rc;
    entry.durationMs = ms;
    if (entry.TempoAbsolute == -1) {
        // The tempo at the start, with the score open: no preparation needed.
        std::int32_t tempo = 0;
        if (engine_.SetPosition(0) == 0 && engine_.GetTempo(-1, tempo, false) == 0 && tempo > 0) {
            entry.TempoAbsolute = tempo;
        }
    }
    return 0;
}

void Pipeline::report(Project& project, const ProjectEntry& entry, int code) {
    int id = kStrOpenFormatError;
    const char* fallback = "The file \"%s\" cannot be read: its contents are damaged or of an unknown kind.";
    if (code == kOpenNoPlayTime) {
        id = kStrOpenNoPlayTime;
        fallback = "The file \"%s\" holds no music to play.";
    } else if (isFileAccessCode(code)) {
        id = kStrOpenFileError;
        fallback = "The file \"%s\" cannot be opened: it cannot be read, or memory ran out.";
    }
    std::string format = project.shell().languageString(id);
    if (format.empty()) format = fallback;
    // The language text names the file where it says %s.
    const std::string name = entry.Filename.filename().string();
    const std::size_t at = format.find("%s");
    if (at != std::string::npos) format.replace(at, 2, name);
    project.shell().appTextBox(format, kBoxWarning, kMbOk);
}

void Pipeline::engineGetSections(ProjectEntry& entry) { engine_.GetSections(entry.tuneSections, false); }

void Pipeline::engineLoadSwitches(ProjectEntry& entry, int group, const platform::IniDocument& document,
                                  std::string_view section) {
    BasicPipeline::engineLoadSwitches(entry, group, document, section);
    engine_.PutSections(entry.tuneSections);
}

void Pipeline::engineResetSwitchGroup(int group) { engine_.call(135, group, 0); }

void Pipeline::engineSetTranspose(int semitones) { engine_.call(87, semitones); }

std::uint32_t Pipeline::enginePlayOptions(ProjectEntry&) { return static_cast<std::uint32_t>(engine_.call(63)); }

void Pipeline::engineSetPlayOption(ProjectEntry&, std::uint32_t option, std::uint32_t value) {
    engine_.call(63);
    engine_.call(92, option, value);
}

int cnvEntryIconIndex(const ProjectEntry& entry) {
    switch (entry.kind) {
        case EntryKind::Midi: return 11;
        case EntryKind::BinaryScore: return 9;
        case EntryKind::MusicXml: return 13;
        case EntryKind::TvrXml: return entry.FilenameOrig.empty() ? 33 : 13;
        default: return 21;
    }
}

int Pipeline::cnvEntryImage(const ProjectEntry& entry) { return cnvEntryIconIndex(entry); }

std::string Pipeline::cnvConvertedDisplayName(const std::filesystem::path& file) {
    return cnvConvertedMidiDisplayName(file);
}

void cnvAssignChannels(ProjectEntry& entry) {
    std::array<int, 16> users{};
    for (const auto& list : entry.instruments) {
        for (const scorecore::CMidiInstr& r : list) {
            if (r.Channel < 16) ++users[r.Channel];
        }
    }
    const auto freeChannel = [&users] {
        for (int c = 0; c < 16; ++c) {
            if (c != kDrumChannel && users[static_cast<std::size_t>(c)] == 0) return c;
        }
        int best = 0;
        for (int c = 1; c < 16; ++c) {
            if (c != kDrumChannel && users[static_cast<std::size_t>(c)] < users[static_cast<std::size_t>(best)]) best = c;
        }
        return best;
    };
    for (std::size_t s = 0; s < entry.instruments.size(); ++s) {
        auto& list = entry.instruments[s];
        const bool percussion = !list.empty() && list.front().hasPercNote();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].Channel < 16) continue;
            const int channel = percussion ? kDrumChannel : freeChannel();
            list[i].Channel = static_cast<std::uint8_t>(channel);
            ++users[static_cast<std::size_t>(channel)];
        }
        // The voices' records follow their instrument records.
        const int voices = s < entry.voiceCounts.size() ? entry.voiceCounts[s] : 0;
        for (int v = 0; v < voices; ++v) {
            VoicePlayRecord* record = entry.voiceRecord(static_cast<int>(s), v);
            if (record == nullptr) continue;
            const std::size_t at = percussion ? 0 : static_cast<std::size_t>(v);
            if (at < list.size()) record->setChannel(list[at].Channel);
        }
    }
}

}  // namespace qvp3
