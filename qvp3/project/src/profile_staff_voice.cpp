// Profiles of the steps kept per staff and per voice: SLS, CHP, VOL, PAN,
// PRC and SHV. Key numbers are 1-based ("ProfileStaff001Voice002Vol" is
// staff 0, voice 1); keys are looked up by the staff's own index, so a
// profile applies by position.
#include <algorithm>
#include <climits>

#include "platform/text.h"
#include "profile_keys.h"

namespace qvp3 {

using prfkeys::keyName;
using prfkeys::readNumber;
using prfkeys::voiceCountOf;
using prfkeys::writeNumber;
using scorecore::kStateOn;

namespace {

constexpr const char* kStaffNumKey = "ProfileStaffNum";
constexpr const char* kPercStaffNumKey = "ProfilePercStaveNum";
constexpr const char* kOnlyForMidiKey = "ProfileOnlyForMidi";
constexpr const char* kStaffStatusKey = "ProfileStaff%03iStatus";
constexpr const char* kVoiceStatusKey = "ProfileStaff%03iVoice%03iStatus";
constexpr const char* kChannelKey = "ProfileStaff%03iVoice%03iChannel";
constexpr const char* kInstrKey = "ProfileStaff%03iVoice%03iInstr";
constexpr const char* kVolKey = "ProfileStaff%03iVoice%03iVol";
constexpr const char* kPanKey = "ProfileStaff%03iVoice%03iPan";
constexpr const char* kInstrNumKey = "ProfileStaff%03iMidiInstrNum";
constexpr const char* kInstrIdKey = "ProfileStaff%03iMidiInstr%03iId";
constexpr const char* kInstrNoteKey = "ProfileStaff%03iMidiInstr%03iNote";
constexpr const char* kVelocRelKey = "ProfileStaff%03iVelocRel";
constexpr const char* kVelocAddKey = "ProfileStaff%03iVelocAdd";

// Instrument ids as written and as taken, in characters.
constexpr std::size_t kWrittenIdChars = 14;
constexpr std::size_t kReadIdChars = 30;

int staveCount(ProfileIo& io, const ProjectEntry& entry) {
    return std::max(io.project.pipeline().cnvEntryStaveCount(entry), 0);
}

bool staffOn(const ProjectEntry& entry, int s) { return entry.states.getStaffOnOff(s) == kStateOn; }
bool voiceOn(const ProjectEntry& entry, int s, int v) { return entry.states.getVoiceOnOff(s, v) == kStateOn; }

// The stored count of a profile; nothing when it is missing, damaged or 0.
std::optional<int> profileCount(ProfileIo& io, const char* key) {
    return readNumber(io.context, key, 1, INT_MAX);
}

// false: the user declined a profile made for another number of staves.
bool countsAgree(ProfileIo& io, const ProjectEntry& entry, int stored, int own) {
    return stored == own || prfAskApplyMismatch(io.project.shell(), entry);
}

void refresh(ProfileIo& io, StepPage& page, ProjectEntry& entry) {
    io.project.stepPageServices().stpRefreshAfterProfile(page, &entry);
}

}  // namespace

// --- SLS ------------------------------------------------------------------------

bool prfWriteVoiceStatus(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const int staves = staveCount(io, *entry);
    writeNumber(io.context, kStaffNumKey, staves);
    for (int s = 0; s < staves; ++s) {
        writeNumber(io.context, keyName(kStaffStatusKey, s + 1), entry->states.getStaffOnOff(s));
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            writeNumber(io.context, keyName(kVoiceStatusKey, s + 1, v + 1), entry->states.getVoiceOnOff(s, v));
        }
    }
    return true;
}

bool prfReadVoiceStatus(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const auto count = profileCount(io, kStaffNumKey);
    if (!count) return false;
    const int staves = staveCount(io, *entry);
    if (!countsAgree(io, *entry, *count, staves)) return true;
    const int n = std::min(*count, staves);
    for (int s = 0; s < n; ++s) {
        const auto state = readNumber(io.context, keyName(kStaffStatusKey, s + 1), 0, 2);
        if (!state) continue;
        entry->states.setStaffOnOff(s, *state, true);
        // Voices that took the staff's state are muted as they now sound.
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            if (VoicePlayRecord* record = entry->voiceRecord(s, v)) {
                record->setMuted(entry->states.getVoiceOnOff(s, v) != kStateOn);
            }
        }
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            if (const auto voice = readNumber(io.context, keyName(kVoiceStatusKey, s + 1, v + 1), 0, 2)) {
                io.project.pipeline().cnvEntrySetVoiceOnOff(*entry, s, v, *voice);
            }
        }
    }
    refresh(io, page, *entry);
    return true;
}

// --- CHP ------------------------------------------------------------------------

bool prfWriteInstruments(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    writeNumber(io.context, kStaffNumKey, prfCountStavesOn(io.project, *entry));
    const int staves = staveCount(io, *entry);
    for (int s = 0; s < staves; ++s) {
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            if (!voiceOn(*entry, s, v)) continue;
            const scorecore::CMidiInstr* instrument = entry->voiceInstrument(s, v);
            const VoicePlayRecord* record = entry->voiceRecord(s, v);
            // A staff without instrument records has no channel; its program
            // is the voice's own sound.
            const int channel = instrument ? static_cast<std::int8_t>(instrument->Channel) : -1;
            const int program = instrument ? instrument->UserProgram : (record ? record->sound : 0);
            writeNumber(io.context, keyName(kChannelKey, s + 1, v + 1), channel);
            writeNumber(io.context, keyName(kInstrKey, s + 1, v + 1), program);
        }
    }
    return true;
}

bool prfReadInstruments(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const auto count = profileCount(io, kStaffNumKey);
    if (!count) return false;
    if (!countsAgree(io, *entry, *count, prfCountStavesOn(io.project, *entry))) return true;
    const int n = std::min(*count, staveCount(io, *entry));
    PipelineServices& pipeline = io.project.pipeline();
    for (int s = 0; s < n; ++s) {
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            if (!voiceOn(*entry, s, v)) continue;
            const auto channel = readNumber(io.context, keyName(kChannelKey, s + 1, v + 1), -1, 15);
            if (!channel) continue;
            pipeline.cnvEntrySetVoiceChannel(*entry, v, *channel, s);
            if (const auto program = readNumber(io.context, keyName(kInstrKey, s + 1, v + 1), 0, 255)) {
                pipeline.cnvEntrySetVoiceSound(*entry, *program, s, v);
            }
        }
    }
    refresh(io, page, *entry);
    return true;
}

// --- VOL and PAN ---------------------------------------------------------------

bool prfWriteVolumePan(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const bool volume = page.category == StepCategory::Vol;
    writeNumber(io.context, kStaffNumKey, prfCountStavesOn(io.project, *entry));
    const int staves = staveCount(io, *entry);
    for (int s = 0; s < staves; ++s) {
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            const VoicePlayRecord* record = entry->voiceRecord(s, v);
            if (record == nullptr || !voiceOn(*entry, s, v)) continue;
            writeNumber(io.context, keyName(volume ? kVolKey : kPanKey, s + 1, v + 1),
                        volume ? record->volume : record->panorama);
        }
    }
    return true;
}

bool prfReadVolumePan(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const bool volume = page.category == StepCategory::Vol;
    const auto count = profileCount(io, kStaffNumKey);
    if (!count) return false;
    if (!countsAgree(io, *entry, *count, prfCountStavesOn(io.project, *entry))) return true;
    const int staves = staveCount(io, *entry);
    PipelineServices& pipeline = io.project.pipeline();
    // A staff without voices does not use up one of the profile's staves.
    for (int s = 0, bound = std::min(*count, staves); s < bound; ++s) {
        if (voiceCountOf(*entry, s) == 0) {
            bound = std::min(bound + 1, staves);
            continue;
        }
        for (int v = 0; v < voiceCountOf(*entry, s); ++v) {
            if (!voiceOn(*entry, s, v)) continue;
            const auto value = readNumber(io.context, keyName(volume ? kVolKey : kPanKey, s + 1, v + 1), 0, 127);
            if (!value) continue;
            if (volume) {
                pipeline.cnvEntrySetVoiceVolume(*entry, *value, s, v);
            } else {
                pipeline.cnvEntrySetVoicePanorama(*entry, *value, s, v);
            }
        }
    }
    refresh(io, page, *entry);
    return true;
}

// --- PRC ------------------------------------------------------------------------------

bool prfWritePercussion(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    writeNumber(io.context, kPercStaffNumKey, prfCountPercStavesOn(io.project, *entry));
    const int staves = staveCount(io, *entry);
    for (int s = 0; s < staves; ++s) {
        if (!staffOn(*entry, s) || !io.project.pipeline().cnvEntryIsPercussionStave(*entry, s)) continue;
        const auto count = s < static_cast<int>(entry->instruments.size())
                               ? static_cast<int>(entry->instruments[static_cast<std::size_t>(s)].size())
                               : 0;
        writeNumber(io.context, keyName(kInstrNumKey, s + 1), count);
        for (int i = 0; i < count; ++i) {
            const scorecore::CMidiInstr& instrument = entry->instruments[static_cast<std::size_t>(s)][static_cast<std::size_t>(i)];
            prfkeys::writeTextValue(io.context, keyName(kInstrIdKey, s + 1, i + 1),
                                    platform::firstCharacters(instrument.InstrumentId, kWrittenIdChars));
            writeNumber(io.context, keyName(kInstrNoteKey, s + 1, i + 1), static_cast<std::int8_t>(instrument.PercNote));
        }
    }
    return true;
}

bool prfReadPercussion(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const auto count = profileCount(io, kPercStaffNumKey);
    if (!count) return false;
    if (!countsAgree(io, *entry, *count, prfCountPercStavesOn(io.project, *entry))) return true;
    // The profile's percussion staves go to the entry's sounding percussion
    // staves in turn, wherever these lie among the other staves.
    const int staves = std::min(staveCount(io, *entry), static_cast<int>(entry->instruments.size()));
    for (int s = 0, applied = 0; s < staves && applied < *count; ++s) {
        if (!staffOn(*entry, s) || !io.project.pipeline().cnvEntryIsPercussionStave(*entry, s)) continue;
        ++applied;
        auto& instruments = entry->instruments[static_cast<std::size_t>(s)];
        const auto stored = readNumber(io.context, keyName(kInstrNumKey, s + 1), 0, INT_MAX);
        if (!stored) continue;
        const int m = std::min(*stored, static_cast<int>(instruments.size()));
        for (int i = 0; i < m; ++i) {
            const std::string id = platform::firstCharacters(
                io.context.readString(keyName(kInstrIdKey, s + 1, i + 1), ""), kReadIdChars);
            if (id.empty()) continue;
            scorecore::CMidiInstr& instrument = instruments[static_cast<std::size_t>(i)];
            instrument.InstrumentId = id;
            // -1 is 255 as a signed byte: no key stored, the instrument keeps its own.
            const auto note = readNumber(io.context, keyName(kInstrNoteKey, s + 1, i + 1), -1, 127);
            if (note && *note >= 0) instrument.PercNote = static_cast<std::uint8_t>(*note);
        }
    }
    refresh(io, page, *entry);
    return true;
}

// --- SHV ----------------------------------------------------------------------------------

bool prfWriteVelocity(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    if (entry->kind != EntryKind::Midi) {
        writeNumber(io.context, kOnlyForMidiKey, 0);
        return true;
    }
    writeNumber(io.context, kStaffNumKey, prfCountStavesOn(io.project, *entry));
    writeNumber(io.context, kOnlyForMidiKey, 1);
    const int staves = std::min({staveCount(io, *entry), static_cast<int>(entry->staffVelocity.size()),
                                 static_cast<int>(entry->staffVelocityRelative.size())});
    for (int s = 0; s < staves; ++s) {
        if (!staffOn(*entry, s)) continue;
        const auto index = static_cast<std::size_t>(s);
        writeNumber(io.context, keyName(kVelocRelKey, s + 1), entry->staffVelocityRelative[index] != 0 ? 1 : 0);
        writeNumber(io.context, keyName(kVelocAddKey, s + 1), entry->staffVelocity[index]);
    }
    return true;
}

bool prfReadVelocity(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* given) {
    ProjectEntry* entry = prfkeys::entryFor(io, page, type, given);
    if (entry == nullptr) return false;
    const bool midi = entry->kind == EntryKind::Midi;
    const auto onlyForMidi = readNumber(io.context, kOnlyForMidiKey, INT_MIN, INT_MAX);
    if (!onlyForMidi || *onlyForMidi != (midi ? 1 : 0)) return false;
    if (!midi) return true;
    const auto count = profileCount(io, kStaffNumKey);
    if (!count) return false;
    if (!countsAgree(io, *entry, *count, prfCountStavesOn(io.project, *entry))) return true;
    const int n = std::min({*count, staveCount(io, *entry), static_cast<int>(entry->staffVelocity.size()),
                            static_cast<int>(entry->staffVelocityRelative.size())});
    bool complete = true;
    for (int s = 0; s < n; ++s) {
        if (!staffOn(*entry, s)) continue;
        const auto index = static_cast<std::size_t>(s);
        if (const auto relative = readNumber(io.context, keyName(kVelocRelKey, s + 1), INT_MIN, INT_MAX)) {
            entry->staffVelocityRelative[index] = *relative == 1 ? 1 : 0;
        } else {
            complete = false;
        }
        if (const auto velocity = readNumber(io.context, keyName(kVelocAddKey, s + 1), -128, 127)) {
            entry->staffVelocity[index] = static_cast<std::int8_t>(*velocity);
        } else {
            complete = false;
        }
    }
    refresh(io, page, *entry);
    return complete;
}

}  // namespace qvp3
