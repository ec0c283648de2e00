// The play model of a loaded entry: what the step pages and the players ask
// or change about its staves and voices. The per-voice records live in the
// ProjectEntry (voice play records, instrument records, staff/voice states);
// the event lists live in the pipeline's own part of the entry
// (PipelineEntryModel). Queries about a score's voices go to the score
// engine; MIDI entries answer from the model.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project_entry.h"
#include "scorecore/score_event.h"

namespace qvp3 {

// The pipeline's own part of an entry: per stave and voice an event list
// (MIDI entries: per track; scores: what the engine's notes give).
class PipelineEntryModel : public EntryPlayModel {
public:
    std::vector<std::vector<std::vector<scorecore::CScoreEvent>>> events;  // [stave][voice]
    std::vector<std::string> staveNames;                                   // scores
    std::string infoText;                                                  // scores: the engine's score information
    std::vector<std::array<std::uint8_t, 128>> keyTables;                  // scores: per stave the keys it plays
    EntryPlayer player;
    // The list of (stave, voice), made on demand; null for a negative index.
    std::vector<scorecore::CScoreEvent>* list(int stave, int voice);
    const std::vector<scorecore::CScoreEvent>* list(int stave, int voice) const;
};

// The entry's pipeline model, made when it has none.
PipelineEntryModel& cnvEntryModel(ProjectEntry& entry);
const PipelineEntryModel* cnvEntryModelIf(const ProjectEntry& entry);

// --- lifetime
// Releases the staff/voice store and drops the model: it is built anew.
void cnvEntryInvalidate(ProjectEntry& entry);
bool cnvEntryIsBusy(const ProjectEntry& entry);

// --- queries
// Sum of the staves' voice counts.
int cnvEntryVoiceCount(const ProjectEntry& entry);
// Voices whose state is neither hidden (0) nor off (1).
int cnvEntryCountVoicesOn(const ProjectEntry& entry);
bool cnvEntryAnyStaveOn(const ProjectEntry& entry);
// Flat index over all staves; -1 when out of range.
int cnvEntryVoiceIndex(const ProjectEntry& entry, int stave, int voice);
// Channel of the voice's instrument record; -1 when the stave has none.
int cnvEntryVoiceChannel(const ProjectEntry& entry, int voice, int stave);
// The stave's name: scores the stored name, MIDI files the name of track stave + 1.
std::string cnvEntryStaveName(const ProjectEntry& entry, int stave);

// A voice as the engine sees it (scores), or the neutral answer of a MIDI entry.
struct EngineVoiceInfo {
    int sound = 0;
    int volume = 0;
    int panorama = 64;  // 64 when unset, else 64 + the engine's offset
    int transposition = 0;
    std::string instrumentName;
    std::string soundName;
};
// Scores: through C124; nothing when the engine does not know the voice.
std::optional<EngineVoiceInfo> cnvEngineVoiceInfo(const CTavtuneLib& engine, const ProjectEntry& entry, int stave,
                                                  int voice);

// General MIDI percussion name of keys 35..81, "[key]" for any other.
std::string cnvPercussionKeyName(int key);

// Index of the next event after `from` whose kind has one of the bits; -1 when none.
int cnvEntryNextEventOfKind(const ProjectEntry& entry, int stave, int voice, int from, std::uint32_t kindBits);
// MIDI entries: index of the last tempo event (kind 2) of the conductor list
// (stave 0, voice 0) at or before time; -1 when none.
int cnvEntryLastTempoBefore(const ProjectEntry& entry, std::int32_t time);

// --- setters (each marks the project changed)
void cnvEntrySetStave(ProjectEntry& entry, bool on, int stave);
void cnvEntrySetAllStaves(ProjectEntry& entry, bool on);
// Copies the device name (at most 120 characters) into every voice record.
void cnvEntrySetAllVoiceDevices(ProjectEntry& entry, const std::string& device);
// 0, or -2 when memory runs out (the list as it was).
int cnvEntryAppendEvent(ProjectEntry& entry, int stave, int voice, const scorecore::CScoreEvent& event);
// Before the first event whose time is not smaller; 0 or -2.
int cnvEntryInsertEvent(ProjectEntry& entry, int voice, int stave, const scorecore::CScoreEvent& event);

// --- instrument records of a stave
// Appends a copy of the template (or an empty record); false for an unknown stave.
bool cnvEntryAppendInstrument(ProjectEntry& entry, int stave, const scorecore::CMidiInstr* from = nullptr);
// Removes record n; the later ones move down. False when there is none.
bool cnvEntryRemoveInstrument(ProjectEntry& entry, int stave, int n);
void cnvEntryFreeInstruments(ProjectEntry& entry, int stave);
// MIDI entries: the sound itself; scores: for sounds below 128 the index of
// the record whose program matches, for 128 and above the key of the record
// whose percussion sound matches; -1 when none.
int cnvEntrySoundToKey(const ProjectEntry& entry, int stave, int sound);

}  // namespace qvp3
