// What the sequencer sends besides the music: the channels' programs,
// volumes and panoramas before it, the metronome's channel, silencing, and
// the entry's own MIDI output.
#include <algorithm>
#include <atomic>

#include "platform/midi_devices.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

constexpr std::uint8_t kUnsetByte = 0xFF;

std::atomic_ref<std::int32_t> stateRef(const ProjectEntry& entry) {
    return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(entry.entryState));
}

// A byte of a voice record that may stand for "not set" (0xFF).
bool isSet(std::int8_t value) { return static_cast<std::uint8_t>(value) != kUnsetByte; }

// One set-up message: sent live, or written with its pending delta and
// counted as the track's opening.
int setUp(EntryPlayer& p, int track, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    if (p.exporting()) {
        const int bytes = plyEmitChannelEvent(p, track, status, data1, data2, nullptr);
        if (bytes > 0 && static_cast<std::size_t>(track) < p.openingLength.size()) {
            p.openingLength[static_cast<std::size_t>(track)] += static_cast<std::uint32_t>(bytes);
        }
        return bytes;
    }
    return scorecore::scMidiPutShort(nullptr, status, data1, data2, p.midiOut);
}

}  // namespace

void plyRequestStop(ProjectEntry& entry, std::int32_t state) { stateRef(entry).store(state); }

std::int32_t plyEntryState(const ProjectEntry& entry) { return stateRef(entry).load(); }

bool plySendLiveMessage(const ProjectEntry& entry, std::uint32_t packed) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    if (model == nullptr) return false;
    platform::MidiOutDevice* out = plyLiveOutput(const_cast<EntryPlayer&>(model->player)).load();
    return out != nullptr && out->shortMessage(packed);
}

std::string plyLanguageText(const ProjectEntry& entry, int id, const char* fallback) {
    std::string text = entry.project != nullptr ? entry.project->shell().languageString(id) : std::string();
    return text.empty() ? std::string(fallback) : text;
}

int plySendChannelSetup(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (p.mode == kPlayerMeasure) return 0;
    const std::uint64_t features = entry.project != nullptr ? entry.project->playFeatures : 0;
    const int staves = static_cast<int>(entry.voiceCounts.size());
    for (int staff = 0; staff < staves; ++staff) {
        const bool percussion = plyIsPercussionStaff(entry, staff);
        if (percussion && p.exporting()) {
            // Every key of a drum staff has a track of its own.
            const VoicePlayRecord* first = entry.voiceRecord(staff, 0);
            if (first == nullptr) continue;
            const auto& records = entry.instruments[static_cast<std::size_t>(staff)];
            for (const scorecore::CMidiInstr& record : records) {
                const int track = plyPercussionKeyTrack(entry, staff, record.PercNote);
                if (isSet(first->volume)) setUp(p, track, 0xB9, 7, static_cast<std::uint8_t>(first->volume));
                if (isSet(first->panorama)) setUp(p, track, 0xB9, 10, static_cast<std::uint8_t>(first->panorama));
            }
            continue;
        }
        for (int voice = 0; voice < entry.voiceCounts[static_cast<std::size_t>(staff)]; ++voice) {
            const scorecore::CMidiInstr* instrument = entry.voiceInstrument(staff, voice);
            const VoicePlayRecord* record = entry.voiceRecord(staff, voice);
            if (instrument == nullptr || record == nullptr || instrument->Channel > 15) continue;
            const std::uint8_t channel = instrument->Channel;
            const int track = plyVoiceTrack(entry, staff, voice);
            if (!percussion) {
                const bool chosen = (features & kPlayChosenSounds) != 0 && instrument->UserProgram <= 127;
                const std::uint8_t program = chosen ? instrument->UserProgram : instrument->SrcProgPercId;
                setUp(p, track, static_cast<std::uint8_t>(0xC0 | channel), program & 0x7F, 0);
            }
            if (isSet(record->volume)) {
                const std::uint8_t volume =
                    (features & kPlayVolume) != 0 ? static_cast<std::uint8_t>(record->volume) : std::uint8_t{100};
                setUp(p, track, static_cast<std::uint8_t>(0xB0 | channel), 7, volume & 0x7F);
                p.channels[channel].volume = volume & 0x7F;
            }
            if (isSet(record->panorama)) {
                const std::uint8_t pan =
                    (features & kPlayPanorama) != 0 ? static_cast<std::uint8_t>(record->panorama) : std::uint8_t{64};
                setUp(p, track, static_cast<std::uint8_t>(0xB0 | channel), 10, pan & 0x7F);
                p.channels[channel].panorama = pan & 0x7F;
            }
        }
    }
    return 0;
}

int plyWriteMetronomeSetup(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (!p.exporting() || !plyMetronomeInUse(entry)) return 0;
    int track = -1;
    plyCountOutputTracks(entry, &track, nullptr, false);
    if (track < 0) return 0;
    const std::uint8_t volume = entry.metronome.Volume & 0x7F;
    int bytes = 0;
    bytes += std::max(0, plyEmitChannelEvent(p, track, 0xB9, 7, volume, nullptr));
    bytes += std::max(0, plyEmitChannelEvent(p, track, 0xB9, 10, 64, nullptr));
    p.channels[scorecore::kPercussionChannel] = {volume, 64};
    p.clickVolume = volume;
    p.clickPan = 64;
    bytes += std::max(0, plyEmitText(p, track, 0x03, plyLanguageText(entry, kStrMetronomeTrack, "Metronome"), 31));
    // The set-up alone is no content: a track that never clicks is left out.
    p.openingLength[static_cast<std::size_t>(track)] += static_cast<std::uint32_t>(bytes);
    return bytes;
}

void plyAllNotesOff(ProjectEntry& entry, platform::MidiOutDevice* out) {
    if (out == nullptr) return;
    std::array<bool, 16> used{};
    for (const auto& records : entry.instruments) {
        for (const scorecore::CMidiInstr& record : records) {
            if (record.Channel <= 15) used[record.Channel] = true;
        }
    }
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        if (!used[channel]) continue;
        for (std::uint8_t key = 0; key < 128; ++key) {
            out->shortMessage(platform::packShortMessage(static_cast<std::uint8_t>(0x90 | channel), key, 0));
        }
    }
}

bool plyCloseMidiOut(ProjectEntry& entry, bool reopen, const std::string& deviceName) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (p.midiOut != nullptr) p.midiOut->reset();
    plyLiveOutput(p).store(nullptr);
    p.ownedOut.reset();
    if (!reopen) return true;
    platform::MidiOutOpenResult opened = platform::openMidiOutNamed(deviceName);
    if (!opened) return false;
    p.ownedOut = std::move(opened.device);
    plyLiveOutput(p).store(p.ownedOut.get());
    return true;
}

}  // namespace qvp3
