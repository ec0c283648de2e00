// The play model of a loaded entry.
#include "qvp3_pipeline/entry_model.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>

#include "platform/text.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

constexpr int kOutOfMemory = -2;
constexpr std::size_t kDeviceNameChars = 120;
constexpr std::uint32_t kKindTempo = 2;

void markChanged(ProjectEntry& entry) {
    if (entry.project != nullptr) prjMarkStepDirty(*entry.project);
}

// General MIDI percussion, keys 35 to 81.
constexpr std::array<const char*, 47> kPercussionNames{
    "Acoustic Bass Drum", "Bass Drum 1",    "Side Stick",     "Acoustic Snare", "Hand Clap",      "Electric Snare",
    "Low Floor Tom",      "Closed Hi-Hat",  "High Floor Tom", "Pedal Hi-Hat",   "Low Tom",        "Open Hi-Hat",
    "Low-Mid Tom",        "Hi-Mid Tom",     "Crash Cymbal 1", "High Tom",       "Ride Cymbal 1",  "Chinese Cymbal",
    "Ride Bell",          "Tambourine",     "Splash Cymbal",  "Cowbell",        "Crash Cymbal 2", "Vibraslap",
    "Ride Cymbal 2",      "Hi Bongo",       "Low Bongo",      "Mute Hi Conga",  "Open Hi Conga",  "Low Conga",
    "High Timbale",       "Low Timbale",    "High Agogo",     "Low Agogo",      "Cabasa",         "Maracas",
    "Short Whistle",      "Long Whistle",   "Short Guiro",    "Long Guiro",     "Claves",         "Hi Wood Block",
    "Low Wood Block",     "Mute Cuica",     "Open Cuica",     "Mute Triangle",  "Open Triangle",
};

}  // namespace

std::vector<scorecore::CScoreEvent>* PipelineEntryModel::list(int stave, int voice) {
    if (stave < 0 || voice < 0) return nullptr;
    if (events.size() <= static_cast<std::size_t>(stave)) events.resize(static_cast<std::size_t>(stave) + 1);
    auto& voices = events[static_cast<std::size_t>(stave)];
    if (voices.size() <= static_cast<std::size_t>(voice)) voices.resize(static_cast<std::size_t>(voice) + 1);
    return &voices[static_cast<std::size_t>(voice)];
}

const std::vector<scorecore::CScoreEvent>* PipelineEntryModel::list(int stave, int voice) const {
    if (stave < 0 || voice < 0 || static_cast<std::size_t>(stave) >= events.size()) return nullptr;
    const auto& voices = events[static_cast<std::size_t>(stave)];
    return static_cast<std::size_t>(voice) < voices.size() ? &voices[static_cast<std::size_t>(voice)] : nullptr;
}

PipelineEntryModel& cnvEntryModel(ProjectEntry& entry) {
    if (auto* own = dynamic_cast<PipelineEntryModel*>(entry.model.get())) return *own;
    entry.model = std::make_unique<PipelineEntryModel>();
    return static_cast<PipelineEntryModel&>(*entry.model);
}

const PipelineEntryModel* cnvEntryModelIf(const ProjectEntry& entry) {
    return dynamic_cast<const PipelineEntryModel*>(entry.model.get());
}

void cnvEntryInvalidate(ProjectEntry& entry) {
    entry.states.free();
    entry.model.reset();
}

bool cnvEntryIsBusy(const ProjectEntry& entry) { return entry.isBusy(); }

int cnvEntryVoiceCount(const ProjectEntry& entry) {
    int count = 0;
    for (std::uint8_t voices : entry.voiceCounts) count += voices;
    return count;
}

int cnvEntryCountVoicesOn(const ProjectEntry& entry) {
    int count = 0;
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            const int state = entry.states.getVoiceOnOff(s, v);
            if (state != scorecore::kStateHidden && state != scorecore::kStateOff) ++count;
        }
    }
    return count;
}

bool cnvEntryAnyStaveOn(const ProjectEntry& entry) { return entry.states.anyStaffOn(); }

int cnvEntryVoiceIndex(const ProjectEntry& entry, int stave, int voice) { return entry.voiceIndex(stave, voice); }

int cnvEntryVoiceChannel(const ProjectEntry& entry, int voice, int stave) {
    const scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice);
    return instrument != nullptr ? instrument->Channel : -1;
}

std::string cnvEntryStaveName(const ProjectEntry& entry, int stave) {
    if (entry.kind == EntryKind::Midi) {
        const auto track = static_cast<std::size_t>(stave) + 1;
        return stave >= 0 && track < entry.trackNames.size() ? entry.trackNames[track] : std::string();
    }
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    if (model == nullptr || stave < 0 || static_cast<std::size_t>(stave) >= model->staveNames.size()) return {};
    return model->staveNames[static_cast<std::size_t>(stave)];
}

std::optional<EngineVoiceInfo> cnvEngineVoiceInfo(const CTavtuneLib& engine, const ProjectEntry& entry, int stave,
                                                  int voice) {
    if (!isScoreKind(entry.kind)) return EngineVoiceInfo{};
    if (stave < 0 || stave > 255 || voice < 0 || voice > 255) return std::nullopt;
    tvVoiceRecord record;
    tvVoiceRecordInit(&record, static_cast<std::uint8_t>(stave), static_cast<std::uint8_t>(voice));
    if (engine.call(124, &record, -1) != 0) return std::nullopt;
    record.instrumentName[TAVTUNE_NAME_BYTES - 1] = record.soundName[TAVTUNE_NAME_BYTES - 1] = '\0';
    EngineVoiceInfo info;
    info.sound = record.sound;
    info.volume = record.volume;
    info.panorama = record.panorama == TAVTUNE_UNSET_SIGNED ? 64 : 64 + static_cast<std::int8_t>(record.panorama);
    info.transposition = record.transposition == TAVTUNE_UNSET_SIGNED ? 0 : static_cast<std::int8_t>(record.transposition);
    info.instrumentName = record.instrumentName;
    info.soundName = record.soundName;
    return info;
}

std::string cnvPercussionKeyName(int key) {
    if (key >= 35 && key <= 81) return kPercussionNames[static_cast<std::size_t>(key - 35)];
    char text[16];
    std::snprintf(text, sizeof text, "[%i]", key);
    return text;
}

int cnvEntryNextEventOfKind(const ProjectEntry& entry, int stave, int voice, int from, std::uint32_t kindBits) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    const auto* list = model != nullptr ? model->list(stave, voice) : nullptr;
    if (list == nullptr) return -1;
    for (std::size_t i = static_cast<std::size_t>(std::max(from + 1, 0)); i < list->size(); ++i) {
        if (((*list)[i].kind & kindBits) != 0) return static_cast<int>(i);
    }
    return -1;
}

int cnvEntryLastTempoBefore(const ProjectEntry& entry, std::int32_t time) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    const auto* list = model != nullptr ? model->list(0, 0) : nullptr;
    if (list == nullptr) return -1;
    int found = -1;
    for (std::size_t i = 0; i < list->size(); ++i) {
        const scorecore::CScoreEvent& e = (*list)[i];
        if ((e.kind & kKindTempo) != 0 && e.start <= time) found = static_cast<int>(i);
    }
    return found;
}

void cnvEntrySetStave(ProjectEntry& entry, bool on, int stave) {
    if (stave < 0 || static_cast<std::size_t>(stave) >= entry.voiceCounts.size()) return;
    entry.states.setStaffAll(stave, on);
    for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(stave)]; ++v) {
        if (VoicePlayRecord* record = entry.voiceRecord(stave, v)) record->setMuted(!on);
    }
    markChanged(entry);
}

void cnvEntrySetAllStaves(ProjectEntry& entry, bool on) {
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) cnvEntrySetStave(entry, on, s);
}

void cnvEntrySetAllVoiceDevices(ProjectEntry& entry, const std::string& device) {
    const std::string name = platform::firstCharacters(device, kDeviceNameChars);
    for (VoicePlayRecord& record : entry.voices) record.outputDevice = name;
    markChanged(entry);
}

int cnvEntryAppendEvent(ProjectEntry& entry, int stave, int voice, const scorecore::CScoreEvent& event) {
    try {
        auto* list = cnvEntryModel(entry).list(stave, voice);
        if (list == nullptr) return kOutOfMemory;
        scorecore::CScoreEvent copy;
        if (!event.copyTo(copy)) return kOutOfMemory;
        list->push_back(std::move(copy));
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    markChanged(entry);
    return 0;
}

int cnvEntryInsertEvent(ProjectEntry& entry, int voice, int stave, const scorecore::CScoreEvent& event) {
    try {
        auto* list = cnvEntryModel(entry).list(stave, voice);
        if (list == nullptr) return kOutOfMemory;
        scorecore::CScoreEvent copy;
        if (!event.copyTo(copy)) return kOutOfMemory;
        const auto at = std::find_if(list->begin(), list->end(),
                                     [&](const scorecore::CScoreEvent& e) { return e.start >= event.start; });
        list->insert(at, std::move(copy));
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    markChanged(entry);
    return 0;
}

bool cnvEntryAppendInstrument(ProjectEntry& entry, int stave, const scorecore::CMidiInstr* from) {
    if (stave < 0 || static_cast<std::size_t>(stave) >= entry.instruments.size()) return false;
    try {
        entry.instruments[static_cast<std::size_t>(stave)].push_back(from != nullptr ? *from : scorecore::CMidiInstr{});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool cnvEntryRemoveInstrument(ProjectEntry& entry, int stave, int n) {
    if (stave < 0 || static_cast<std::size_t>(stave) >= entry.instruments.size()) return false;
    auto& list = entry.instruments[static_cast<std::size_t>(stave)];
    if (n < 0 || static_cast<std::size_t>(n) >= list.size()) return false;
    list.erase(list.begin() + n);
    return true;
}

void cnvEntryFreeInstruments(ProjectEntry& entry, int stave) {
    if (stave >= 0 && static_cast<std::size_t>(stave) < entry.instruments.size()) {
        entry.instruments[static_cast<std::size_t>(stave)].clear();
    }
}

int cnvEntrySoundToKey(const ProjectEntry& entry, int stave, int sound) {
    if (entry.kind == EntryKind::Midi) return sound;
    if (stave < 0 || static_cast<std::size_t>(stave) >= entry.instruments.size()) return -1;
    const auto& list = entry.instruments[static_cast<std::size_t>(stave)];
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (sound < 128 && !list[i].hasPercNote() && list[i].SrcProgPercId == sound) return static_cast<int>(i);
        if (sound >= 128 && list[i].hasPercNote() && list[i].SrcProgPercId == sound) return list[i].PercNote;
    }
    return -1;
}

}  // namespace qvp3
