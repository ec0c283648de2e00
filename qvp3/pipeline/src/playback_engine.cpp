// A score made ready in the score engine for playing or for the MIDI step's
// render: the per-voice settings of the steps, options, masks,
// transposition, the tempo and the intro.
#include <algorithm>
#include <cmath>
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_project/tempo_curve.h"

namespace qvp3 {
namespace {

constexpr int kVoiceRead = 124;
constexpr int kVoiceWrite = 125;
constexpr int kOptions = 63;
constexpr int kSetOption = 92;
constexpr int kVoiceMasks = 61;
constexpr int kTranspose = 87;
constexpr int kTempo = 97;
constexpr int kTempoPoints = 100;
constexpr std::uint32_t kOptionFileTempos = 0x100;
constexpr std::uint32_t kOptionRecordTempo = 0x200;
constexpr std::uint32_t kOptionPlayerSettings = 0x100000;
constexpr std::uint8_t kPercussionSound = 129;

void setOption(CTavtuneLib& engine, std::uint32_t option, bool on) {
    engine.call(kOptions);
    engine.call(kSetOption, option, on ? option : TAVTUNE_OPTION_OFF);
}

void copyName(char (&to)[TAVTUNE_NAME_BYTES], const std::string& text) {
    const std::string cut = platform::firstCharacters(text, TAVTUNE_NAME_BYTES - 1);
    const std::size_t n = std::min(cut.size(), sizeof to - 1);
    std::memcpy(to, cut.data(), n);
    to[n] = '\0';
}

// The key a percussion record maps: the decimal number its id starts with.
int recordKey(const scorecore::CMidiInstr& record) {
    const std::string id = record.InstrumentId.substr(0, 15);
    int key = -1;
    const auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), key);
    return ec == std::errc() && end != id.data() ? key : -1;
}

}  // namespace

int PlaybackControl::plyPrepareEntry(ProjectEntry& entry, bool forExport) {
    if (!isScoreKind(entry.kind)) return 0;
    if (!forExport && engine_.IsScoreOpen(entry.Filename)) return 0;
    engine_.CloseScore();
    const std::uint64_t options = features();
    const int staves = static_cast<int>(entry.voiceCounts.size());
    std::vector<tvVoiceRecord> records;
    std::vector<std::array<std::uint8_t, 128>> keyMaps(static_cast<std::size_t>(staves));
    try {
        records.reserve(static_cast<std::size_t>(cnvEntryVoiceCount(entry)));
    } catch (const std::bad_alloc&) {
        return kTavtuneOutOfMemory;
    }
    int running = 0;
    for (int s = 0; s < staves; ++s) {
        const bool percussion = entry.isPercussionStave(s);
        const bool mapped = percussion && (options & kPlayKeyMaps) != 0;
        if (mapped) {
            auto& map = keyMaps[static_cast<std::size_t>(s)];
            for (int k = 0; k < 128; ++k) map[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(k);
            for (const scorecore::CMidiInstr& record : entry.instruments[static_cast<std::size_t>(s)]) {
                const int key = recordKey(record);
                if (key >= 0 && key < 128 && record.PercNote < 128) map[static_cast<std::size_t>(key)] = record.PercNote;
            }
        }
        for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            const VoicePlayRecord* play = entry.voiceRecord(s, v);
            const scorecore::CMidiInstr* instrument = entry.voiceInstrument(s, v);
            tvVoiceRecord r;
            tvVoiceRecordInit(&r, static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(v));
            if (percussion) {
                r.sound = kPercussionSound;
            } else if (instrument != nullptr) {
                const bool chosen = (options & kPlayChosenSounds) != 0 && play != nullptr;
                r.sound = chosen ? play->sound : instrument->SrcProgPercId;
            }
            r.keyMap = mapped ? keyMaps[static_cast<std::size_t>(s)].data() : nullptr;
            r.runningVoice = static_cast<std::uint8_t>(running++);
            if ((options & kPlayChannels) != 0 && instrument != nullptr && instrument->Channel <= 15) {
                r.channel = instrument->Channel;
            }
            if ((options & kPlayVolume) != 0 && play != nullptr) r.volume = static_cast<std::uint8_t>(play->volume & 0x7F);
            if ((options & kPlayPanorama) != 0 && play != nullptr) {
                r.panorama = static_cast<std::uint8_t>(static_cast<std::int8_t>(play->panorama - 64));
            }
            copyName(r.deviceName, "MIDI: " + midiOutputName);
            if (play != nullptr) copyName(r.soundName, play->soundName);
            records.push_back(r);
        }
    }
    for (std::size_t i = 0; i + 1 < records.size(); ++i) records[i].next = &records[i + 1];

    engine_.call(kOptions);
    engine_.call(kSetOption, project_.playOption, project_.playOption);
    const bool sections = (options & kPlaySections) != 0;
    setOption(engine_, TAVTUNE_OPTION_SWING, sections && entry.tuneSections.UseSwing != 0);
    setOption(engine_, TAVTUNE_OPTION_DYNAMICS, sections && entry.tuneSections.UseDynamic != 0);
    setOption(engine_, TAVTUNE_OPTION_TRILLS, sections && entry.tuneSections.UseTrills != 0);

    const tvWord chain = records.empty() ? 0 : reinterpret_cast<tvWord>(records.data());
    if (const int r = engine_.OpenScore(entry.Filename, chain); r != kTavtuneOk) return r;
    setOption(engine_, kOptionPlayerSettings, true);
    setOption(engine_, kOptionFileTempos, false);
    engine_.UpdateState();
    if (!plySendVoiceMasks(entry)) return kTavtuneOutOfMemory;
    if ((options & kPlayTranspose) != 0) plySendTransposition(entry);
    plySendTempoCurve(entry);
    engine_.UpdateState();
    const bool curveStep = project_.currentStep == kStepTempoCurve;
    setOption(engine_, kOptionRecordTempo, curveStep && entry.tempoCurve.record);
    setOption(engine_, kOptionFileTempos,
              ((options & kPlayRelativeTempo) != 0 && entry.TempoIsRelative != 0) ||
                  (curveStep && entry.tempoCurve.fileTempos));
    if (!plySendIntroToEngine(entry, engine_)) return kTavtuneNoScore;
    engine_.SetPosition(forExport ? 0 : plyEntryPosition(entry));
    plyEntryTempoAt(entry, 0);
    plySetEngineTempo(entry, -1.0);
    return 0;
}

int PlaybackControl::plyPrepareAndMeasure(ProjectEntry& entry) {
    if (const int r = plyPrepareEntry(entry, false); r != 0) return r;
    if (!isScoreKind(entry.kind)) return 0;
    std::int32_t ms = 0;
    if (engine_.GetPlayTime(ms) == kTavtuneOk) entry.durationMs = ms;
    if (entry.TempoAbsolute == -1) {
        entry.TempoAbsolute = static_cast<std::int32_t>(std::lround(plyEntryTempoAt(entry, 0)));
    }
    return 0;
}

bool PlaybackControl::plySendVoiceMasks(ProjectEntry& entry) {
    std::vector<std::uint8_t> masks;
    try {
        if ((features() & kPlayVoiceMasks) == 0) {
            masks.assign(entry.voiceCounts.size(), 1);
        } else {
            masks = entry.states.getVoiceMasks();
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!masks.empty()) engine_.call(kVoiceMasks, masks.data());
    return true;
}

void PlaybackControl::plySendTransposition(ProjectEntry& entry) {
    if (!isScoreKind(entry.kind) || entry.voices.empty()) return;
    engine_.call(kTranspose, static_cast<int>(entry.voices.front().transposition));
}

int PlaybackControl::plySendTempoCurve(ProjectEntry& entry) {
    if (!isScoreKind(entry.kind) || (features() & kPlayTempoCurve) == 0) return 0;
    return engine_.SetTempoCurve(entry.tempoCurve.points[TempoCurve::kRecordedList]);
}

int PlaybackControl::plySetEngineTempo(ProjectEntry& entry, double tempo) {
    if (!isScoreKind(entry.kind)) return 0;
    if (tempo <= -1.0) tempo = plyEntryPlayer(entry).tempo;
    if (!engine_.scoreOpen) return kTavtuneNoScore;
    if (tempo <= 0.0) return 0;
    const double factor = 1.0;
    engine_.call(kTempo, &tempo, &factor);
    return 0;
}

namespace {

// Reads the voice's record from the engine, lets change() set a field, and
// writes it back when it changed.
template <class Change>
void changeEngineVoice(CTavtuneLib& engine, int stave, int voice, Change change) {
    if (!engine.scoreOpen || stave < 0 || voice < 0 || stave > 255 || voice > 255) return;
    tvVoiceRecord record;
    tvVoiceRecordInit(&record, static_cast<std::uint8_t>(stave), static_cast<std::uint8_t>(voice));
    if (engine.call(kVoiceRead, &record, -1) != 0) return;
    tvVoiceRecord update;
    tvVoiceRecordInit(&update, static_cast<std::uint8_t>(stave), static_cast<std::uint8_t>(voice));
    if (!change(record, update)) return;
    engine.call(kVoiceWrite, &update, -1);
}

}  // namespace

void PlaybackControl::plySetEngineVoicePan(ProjectEntry&, int stave, int voice, int pan) {
    if ((features() & kPlayPanorama) == 0) return;
    const auto offset = static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(pan, 0, 127) - 64));
    changeEngineVoice(engine_, stave, voice, [&](const tvVoiceRecord& now, tvVoiceRecord& update) {
        update.panorama = offset;
        return now.panorama != offset;
    });
}

void PlaybackControl::plySetEngineVoiceVolume(ProjectEntry&, int stave, int voice, int volume) {
    if ((features() & kPlayVolume) == 0) return;
    const auto value = static_cast<std::uint8_t>(std::clamp(volume, 0, 127));
    changeEngineVoice(engine_, stave, voice, [&](const tvVoiceRecord& now, tvVoiceRecord& update) {
        update.volume = value;
        return now.volume != value;
    });
}

void PlaybackControl::plySetEngineVoiceChannel(ProjectEntry&, int stave, int voice, int channel) {
    if ((features() & kPlayChannels) == 0 || channel < 0 || channel > 15) return;
    const auto value = static_cast<std::uint8_t>(channel);
    changeEngineVoice(engine_, stave, voice, [&](const tvVoiceRecord& now, tvVoiceRecord& update) {
        update.channel = value;
        return now.channel != value;
    });
}

void PlaybackControl::plySetEngineVoiceSound(ProjectEntry&, int stave, int voice, int sound) {
    if ((features() & kPlayChosenSounds) == 0 || sound < 0 || sound > 255) return;
    const auto value = static_cast<std::uint8_t>(sound);
    changeEngineVoice(engine_, stave, voice, [&](const tvVoiceRecord& now, tvVoiceRecord& update) {
        update.sound = value;
        return now.sound != value;
    });
}

void PlaybackControl::plySetEngineOption200(ProjectEntry& entry, bool on, bool force) {
    if (force || (isScoreKind(entry.kind) && entry.isBusy())) setOption(engine_, kOptionRecordTempo, on);
}

void PlaybackControl::plySetEngineOption100(ProjectEntry& entry, bool on, bool force) {
    if (force || (isScoreKind(entry.kind) && entry.isBusy())) setOption(engine_, kOptionFileTempos, on);
}

int PlaybackControl::plyLoadEngineTempoCurve(ProjectEntry& entry) {
    if (!isScoreKind(entry.kind) || project_.currentStep != kStepTempoCurve) return 0;
    // Without the entry's score in the engine there is nothing to take over,
    // and the points the entry has are all it has.
    if (!engine_.IsScoreOpen(entry.Filename)) return 0;
    TempoCurve& curve = entry.tempoCurve;
    std::vector<TempoPoint>().swap(curve.points[TempoCurve::kRecordedList]);
    const std::int32_t count = engine_.UpdateState();
    const double factor = TempoFactor(entry);
    for (std::int32_t i = 0; i < count; ++i) {
        tvTempoPoint taken{};
        if (engine_.call(kTempoPoints, &taken, i) < 0) break;
        const double tempo = taken.tempo * (taken.factor > 0.0 ? taken.factor : 1.0);
        if (taken.position < 0 || !std::isfinite(tempo)) return kTavtuneNoScore;
        TempoPoint point;
        point.position = static_cast<std::uint32_t>(taken.position);
        point.tempo = tempo / factor;
        point.time = taken.time;
        point.extra = factor;
        point.kind = taken.kind;
        point.tag = taken.tag;
        try {
            // The score's own marks come again with a list handed back: the
            // same position, kind and tag replace, so the list never doubles.
            if (!stpTempoCurveSetPoint(curve, TempoCurve::kRecordedList, point)) return kTavtuneNoScore;
        } catch (const std::bad_alloc&) {
            return kTavtuneNoScore;
        }
    }
    return 0;
}

void plyFindStaveOfTrack(const ProjectEntry& entry, int track, int& stave) {
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            if (plyVoiceTrack(entry, s, v) == track + 1) stave = s;
        }
    }
}

void PlaybackControl::plyApplyVoiceSettings(ProjectEntry& entry) {
    if (!isScoreKind(entry.kind)) return;
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        const bool percussion = entry.isPercussionStave(s);
        for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            const VoicePlayRecord* play = entry.voiceRecord(s, v);
            const scorecore::CMidiInstr* instrument = entry.voiceInstrument(s, v);
            if (play == nullptr) continue;
            if (instrument != nullptr && instrument->Channel <= 15) plySetEngineVoiceChannel(entry, s, v, instrument->Channel);
            if (!percussion) plySetEngineVoiceSound(entry, s, v, play->sound);
            plySetEngineVoiceVolume(entry, s, v, play->volume);
            plySetEngineVoicePan(entry, s, v, play->panorama);
        }
    }
}

}  // namespace qvp3
