// Reading the events of a Standard MIDI File into an entry's play model.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvp3_pipeline/midi_smf.h"
#include "platform/text.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"

namespace qvp3 {
namespace {

using scorecore::CMidiInstr;
using scorecore::CScoreEvent;
using smf::SmfEvent;

constexpr std::uint8_t kNoVoice = 255;
constexpr double kMicrosecondsPerMinute = 60'000'000.0;
constexpr int kMaxBeatUnitIndex = 12;  // 4096th notes

// Names are "ANSI" text; files of newer programs hold UTF-8, which a
// Windows-1252 text with accents practically never forms.
std::string decodeName(std::span<const std::uint8_t> bytes) {
    std::string raw(bytes.begin(), bytes.end());
    if (const auto nul = raw.find('\0'); nul != std::string::npos) raw.resize(nul);
    return platform::isValidUtf8(raw) ? raw : platform::cp1252ToUtf8(raw);
}

CScoreEvent conductorEvent(std::uint32_t kind, std::int32_t start) {
    CScoreEvent e;
    e.kind = kind;
    e.start = start;
    e.headCount = 1;
    return e;
}

// One track chunk into the model: its notes into the voices of its stave
// (one voice per channel, in order of first use), its tempo and time
// signatures into the conductor events, its name into the entry.
class TrackLoader {
public:
    TrackLoader(ProjectEntry& entry, const smf::SmfHeader& header, int track, std::vector<CScoreEvent>& conductor)
        : entry_(entry), header_(header), track_(track), conductor_(conductor) {
        voiceOfChannel_.fill(kNoVoice);
    }

    int load(std::span<const std::uint8_t> chunk);
    // The stave's instrument records, once the track is loaded.
    std::vector<CMidiInstr> instruments() const;
    int voiceCount() const { return static_cast<int>(voices_.size()); }

private:
    struct OpenNote {
        int channel;
        int key;
        int voice;
        std::size_t index;
    };

    int onChannelEvent(const SmfEvent& e);
    void onMetaEvent(const SmfEvent& e);
    int noteOn(const SmfEvent& e);
    void noteOff(const SmfEvent& e);
    int voiceOf(int channel);
    std::vector<CScoreEvent>& notes(int voice) { return *cnvEntryModel(entry_).list(track_, voice); }
    std::vector<CMidiInstr> percussionRecords() const;

    ProjectEntry& entry_;
    const smf::SmfHeader& header_;
    const int track_;
    std::vector<CScoreEvent>& conductor_;
    std::int32_t time_ = 0;
    bool named_ = false;
    std::array<std::uint8_t, 16> voiceOfChannel_{};
    std::vector<CMidiInstr> voices_;
    std::vector<bool> programSeen_;
    std::vector<OpenNote> open_;
    std::array<bool, 128> percussionKeys_{};
};

int TrackLoader::load(std::span<const std::uint8_t> chunk) {
    smf::SmfTrackCursor cursor(chunk);
    SmfEvent e;
    int result = 0;
    while ((result = cursor.next(e)) > 0) {
        const std::int64_t time = time_ + header_.modelTicks(e.delta);
        if (time > std::numeric_limits<std::int32_t>::max()) return kMidiNotMidiFile;
        time_ = static_cast<std::int32_t>(time);
        if (e.isChannel()) {
            if (const int r = onChannelEvent(e); r != 0) return r;
        } else if (e.status == 0xFF) {
            onMetaEvent(e);
        }
    }
    if (result < 0) return result;
    // A note that is never ended lasts to the end of its track.
    for (const OpenNote& note : open_) {
        CScoreEvent& event = notes(note.voice)[note.index];
        event.duration = time_ - event.start;
    }
    open_.clear();
    return 0;
}

int TrackLoader::onChannelEvent(const SmfEvent& e) {
    // A conductor track has no stave whose voices could take its notes.
    if (track_ == 0) return 0;
    if (e.isNoteOn()) return noteOn(e);
    if (e.isNoteOff()) {
        noteOff(e);
        return 0;
    }
    const int voice = voiceOf(e.channel());
    if (e.command() == 0xC0 && !programSeen_[static_cast<std::size_t>(voice)]) {
        // The voice's first program is its sound, sent before the music.
        programSeen_[static_cast<std::size_t>(voice)] = true;
        voices_[static_cast<std::size_t>(voice)].SrcProgPercId = e.data1;
        return 0;
    }
    // Controllers, later programs, pitch bend and pressure stay with the
    // voice, so that the converted file keeps its pedal and its bends.
    CScoreEvent message;
    message.start = time_;
    message.headCount = 1;
    message.midi[0] = std::uint32_t{e.status} | std::uint32_t{e.data1} << 8 | std::uint32_t{e.data2} << 16;
    if (cnvEntryAppendEvent(entry_, track_, voice, message) != 0) return kMidiOutOfMemory;
    return 0;
}

int TrackLoader::noteOn(const SmfEvent& e) {
    const int voice = voiceOf(e.channel());
    CScoreEvent note;
    note.kind = scorecore::kKindNote;
    note.start = time_;
    note.headCount = 1;
    note.midi[0] = static_cast<std::uint32_t>(0x90 | e.channel()) | std::uint32_t{e.data1} << 8 |
                   std::uint32_t{e.data2} << 16;
    if (cnvEntryAppendEvent(entry_, track_, voice, note) != 0) return kMidiOutOfMemory;
    open_.push_back({e.channel(), e.data1, voice, notes(voice).size() - 1});
    if (e.channel() == smf::kPercussionChannel) percussionKeys_[e.data1] = true;
    return 0;
}

// Ends the earliest sounding note of the key on the channel; an unmatched
// note-off is dropped.
void TrackLoader::noteOff(const SmfEvent& e) {
    voiceOf(e.channel());
    const auto it = std::find_if(open_.begin(), open_.end(), [&](const OpenNote& note) {
        return note.channel == e.channel() && note.key == e.data1;
    });
    if (it == open_.end()) return;
    CScoreEvent& event = notes(it->voice)[it->index];
    event.duration = time_ - event.start;
    open_.erase(it);
}

int TrackLoader::voiceOf(int channel) {
    std::uint8_t& voice = voiceOfChannel_[static_cast<std::size_t>(channel)];
    if (voice != kNoVoice) return voice;
    CMidiInstr record;
    record.Channel = record.SrcChannel = static_cast<std::uint8_t>(channel);
    record.PercNote = channel == smf::kPercussionChannel ? 0 : CMidiInstr::kUnset;
    voices_.push_back(record);
    programSeen_.push_back(false);
    voice = static_cast<std::uint8_t>(voices_.size() - 1);
    cnvEntryModel(entry_).list(track_, voice);  // every voice has its list, even without notes
    return voice;
}

void TrackLoader::onMetaEvent(const SmfEvent& e) {
    if (e.isMeta(smf::kMetaTrackName) && !named_) {
        named_ = true;
        entry_.trackNames[static_cast<std::size_t>(track_)] = decodeName(e.data);
    } else if (e.isMeta(smf::kMetaTempo) && e.data.size() >= 3) {
        const std::uint32_t perQuarter = std::uint32_t{e.data[0]} << 16 | std::uint32_t{e.data[1]} << 8 | e.data[2];
        if (perQuarter == 0) return;  // no tempo at all
        CScoreEvent tempo = conductorEvent(scorecore::kKindTempo, time_);
        tempo.midi[0] = static_cast<std::uint32_t>(std::lround(kMicrosecondsPerMinute / perQuarter));
        tempo.midi[1] = perQuarter;  // exact, for the sequencer and the export
        conductor_.push_back(std::move(tempo));
    } else if (e.isMeta(smf::kMetaTimeSignature) && e.data.size() >= 2) {
        if (e.data[0] == 0 || e.data[1] > kMaxBeatUnitIndex) return;
        CScoreEvent meter = conductorEvent(scorecore::kKindTimeSig, time_);
        meter.meterBeats = e.data[0];
        meter.meterUnit = e.data[1];
        conductor_.push_back(std::move(meter));
    }
}

std::vector<CMidiInstr> TrackLoader::instruments() const {
    if (voices_.empty()) return {CMidiInstr{}};  // a stave without voices keeps one default record
    if (voices_.size() == 1 && voices_[0].Channel == smf::kPercussionChannel) {
        std::vector<CMidiInstr> keys = percussionRecords();
        if (!keys.empty()) return keys;
    }
    return voices_;
}

// A drum stave: one record per key played, in rising key order.
std::vector<CMidiInstr> TrackLoader::percussionRecords() const {
    std::vector<CMidiInstr> records;
    for (int key = 0; key < 128; ++key) {
        if (!percussionKeys_[static_cast<std::size_t>(key)]) continue;
        CMidiInstr record = voices_[0];
        record.PercNote = static_cast<std::uint8_t>(key);
        record.InstrumentId = cnvPercussionKeyName(key);
        records.push_back(std::move(record));
    }
    return records;
}

void resetEntryShape(ProjectEntry& entry, const smf::SmfHeader& header) {
    entry.model.reset();
    PipelineEntryModel& model = cnvEntryModel(entry);
    entry.trackCount = header.entryTrackCount();
    entry.staveCount = entry.trackCount - 1;
    const auto staves = static_cast<std::size_t>(entry.staveCount);
    entry.voiceCounts.assign(staves, 0);
    entry.instruments.assign(staves, {CMidiInstr{}});
    entry.trackNames.assign(static_cast<std::size_t>(entry.trackCount), std::string());
    model.events.resize(static_cast<std::size_t>(entry.trackCount));
    model.list(0, 0);
}

// Sequencers often write the tempo (and the meter) into every track: of the
// tempos, or the time signatures, at one time the last one read holds, so
// that the conductor has one of each a time.
bool superseded(const std::vector<CScoreEvent>& sorted, std::size_t at) {
    const std::uint32_t kind = sorted[at].kind & (scorecore::kKindTempo | scorecore::kKindTimeSig);
    if (kind == 0) return false;
    for (std::size_t i = at + 1; i < sorted.size() && sorted[i].start == sorted[at].start; ++i) {
        if (sorted[i].isKind(kind)) return true;
    }
    return false;
}

// The file's name, then the name of every named track, one a line.
std::string infoText(const ProjectEntry& entry) {
    std::string text = entry.Filename.filename().string();
    for (const std::string& name : entry.trackNames) {
        if (!name.empty()) text += "\n" + name;
    }
    return text;
}

int loadTracks(ProjectEntry& entry) {
    smf::SmfFile file;
    if (const int r = file.open(entry.Filename); r != 0) return r;
    const smf::SmfHeader& header = file.header();
    resetEntryShape(entry, header);
    std::vector<CScoreEvent> conductor;
    std::vector<std::uint8_t> chunk;
    for (int t = 0; t < header.trackCount; ++t) {
        if (const int r = file.readTrack(chunk); r != 0) return r;
        const int track = header.entryTrack(t);
        TrackLoader loader(entry, header, track, conductor);
        if (const int r = loader.load(chunk); r != 0) return r;
        if (track == 0) continue;
        const auto stave = static_cast<std::size_t>(track - 1);
        entry.voiceCounts[stave] = static_cast<std::uint8_t>(loader.voiceCount());
        entry.instruments[stave] = loader.instruments();
    }
    // Conductor events of several tracks, in time order; those of one time
    // keep the order of their tracks.
    std::stable_sort(conductor.begin(), conductor.end(),
                     [](const CScoreEvent& a, const CScoreEvent& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < conductor.size(); ++i) {
        if (superseded(conductor, i)) continue;
        if (cnvEntryAppendEvent(entry, 0, 0, conductor[i]) != 0) return kMidiOutOfMemory;
    }
    cnvEntryModel(entry).infoText = infoText(entry);
    return 0;
}

}  // namespace

int LoadMidiIntoModel(ProjectEntry& entry) {
    try {
        return loadTracks(entry);
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    } catch (const std::length_error&) {
        return kMidiOutOfMemory;
    }
}

}  // namespace qvp3
