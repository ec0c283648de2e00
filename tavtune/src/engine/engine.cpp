// The open score's records and the engine's lasting settings.
#include "engine/engine.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/switches.h"
#include "play/play_model.h"

namespace tavtune {
namespace {

void copyName(char (&to)[TAVTUNE_NAME_BYTES], const std::string& from) {
    const std::size_t n = std::min(from.size(), static_cast<std::size_t>(TAVTUNE_NAME_BYTES - 1));
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

bool isSet(std::uint8_t value) { return value != TAVTUNE_UNSET; }
bool isSetSigned(std::uint8_t value) { return value != TAVTUNE_UNSET_SIGNED && value != TAVTUNE_UNSET; }

constexpr std::uint8_t kPercussionSound = 128;

}  // namespace

OpenScore::OpenScore(ScoreKind kind, std::filesystem::path path, std::unique_ptr<scoreconv::PlayScore> model)
    : kind_(kind), path_(std::move(path)), model_(std::move(model)) {}

int OpenScore::describe(const std::array<std::string, 3>& description) {
    scoreconv::PlayScore& m = *model_;
    const int staves = static_cast<int>(m.voiceCounts.size());
    if (staves > TAVTUNE_MAX_STAVES) return TAVTUNE_OPEN_REJECTED;
    staves_.assign(static_cast<std::size_t>(staves), StaveData{});
    int running = 0;
    for (int s = 0; s < staves; ++s) {
        const int voices = m.voiceCounts[static_cast<std::size_t>(s)];
        if (voices < 0 || voices > TAVTUNE_MAX_VOICES) return TAVTUNE_OPEN_REJECTED;
        StaveData& d = staves_[static_cast<std::size_t>(s)];
        if (static_cast<std::size_t>(s) < m.staffNames.size()) {
            d.names[0] = m.staffNames[static_cast<std::size_t>(s)].name;
            d.names[1] = m.staffNames[static_cast<std::size_t>(s)].abbreviation;
        }
        if (const scorecore::CMidiInstr* first = m.instruments.at(s, 0)) d.names[2] = first->InstrumentId;
        d.record.stave = s;
        d.record.flags = TAVTUNE_STAVE_UTF8;
        d.record.voiceCount = static_cast<std::uint8_t>(voices);
        d.record.percussion = m.instruments.isPercussionStaff(s) ? 1 : 0;
        d.voices.resize(static_cast<std::size_t>(voices));
        for (int v = 0; v < voices; ++v) {
            tvVoiceRecord& r = d.voices[static_cast<std::size_t>(v)];
            r = tvVoiceRecord{};
            r.size = sizeof(tvVoiceRecord);
            r.stave = static_cast<std::uint8_t>(s);
            r.voice = static_cast<std::uint8_t>(v);
            r.runningVoice = static_cast<std::uint8_t>(std::min(running, 255));
            r.marker = 1 + running;
            ++running;
            readVoice(r);
        }
    }
    // Names point into the records' own strings, which stay where they are now.
    for (StaveData& d : staves_) {
        for (std::size_t i = 0; i < 3; ++i) d.record.names[i] = d.names[i].empty() ? nullptr : d.names[i].c_str();
    }
    descriptionTexts_ = description;
    for (std::size_t i = 0; i < 3; ++i) description_.texts[i] = descriptionTexts_[i].c_str();
    return TAVTUNE_OPEN_OK;
}

const tvStaveRecord* OpenScore::stave(int stave) const {
    if (stave < 0 || stave >= staveCount()) return nullptr;
    return &staves_[static_cast<std::size_t>(stave)].record;
}

const tvVoiceRecord* OpenScore::voice(int stave, int index) const {
    if (stave < 0 || stave >= staveCount()) return nullptr;
    const auto& voices = staves_[static_cast<std::size_t>(stave)].voices;
    if (index < 0 || static_cast<std::size_t>(index) >= voices.size()) return nullptr;
    return &voices[static_cast<std::size_t>(index)];
}

const tvNoteList* OpenScore::notes(int stave, int voice) {
    notes_.clear();
    noteList_ = tvNoteList{};
    const scoreconv::PlayScore& m = *model_;
    if (stave < 0 || stave >= staveCount()) return &noteList_;
    const int voices = m.events.voiceCount(stave);
    const bool percussion = m.instruments.isPercussionStaff(stave);
    for (int v = 0; v < voices; ++v) {
        if (voice >= 0 && v != voice) continue;
        for (const scorecore::CScoreEvent& e : m.events.events(stave, v)) {
            if (!e.isKind(scorecore::kKindNote | scorecore::kKindChord)) continue;
            const int heads = std::clamp(e.headCount, 0, static_cast<int>(e.midi.size()));
            for (int h = 0; h < heads; ++h) {
                const std::uint32_t packed = e.midi[static_cast<std::size_t>(h)];
                if ((packed & 0xF0) != 0x90) continue;
                tvNote n{};
                n.tick = e.start;
                n.length = e.duration;
                // A percussion stave's notes name its instruments; the key is the one they play.
                const auto written = static_cast<std::int32_t>((packed >> 8) & 0xFF);
                const std::uint8_t key = percussion ? m.instruments.percussionKey(stave, written)
                                                    : static_cast<std::uint8_t>(written & 0x7F);
                if (key > 127) continue;
                n.key = key;
                n.velocity = static_cast<std::uint8_t>((packed >> 16) & 0x7F);
                notes_.push_back(n);
            }
        }
    }
    std::stable_sort(notes_.begin(), notes_.end(), [](const tvNote& a, const tvNote& b) { return a.tick < b.tick; });
    noteList_.count = static_cast<std::int32_t>(notes_.size());
    noteList_.notes = notes_.empty() ? nullptr : notes_.data();
    return &noteList_;
}

bool OpenScore::readVoice(tvVoiceRecord& r) const {
    const scoreconv::PlayScore& m = *model_;
    const int s = r.stave;
    if (r.voice == TAVTUNE_TUNE_UP_VOICE) {
        const TuneUpVoice& t = intro.tuneUpVoice;
        r.sound = t.sound;
        r.volume = t.volume;
        r.panorama = static_cast<std::uint8_t>(t.panorama);
        r.channel = t.channel;
        r.transposition = 0;
        return true;
    }
    if (s >= static_cast<int>(m.voiceCounts.size())) return false;
    const int v = r.voice;
    if (v >= m.voiceCounts[static_cast<std::size_t>(s)]) return false;
    const bool percussion = m.instruments.isPercussionStaff(s);
    const scorecore::CMidiInstr* instrument = m.instruments.at(s, v);
    r.sound = percussion ? kPercussionSound : m.instruments.midiProgram(s, v, true);
    r.channel = m.instruments.midiChannel(s, v);
    const std::uint64_t conditions = m.controls.playConditions();
    const int volume = (conditions & scoreconv::kCondUserVolume) != 0 ? m.voiceMix.userVolume(s, v)
                                                                       : m.voiceMix.sourceVolume(s);
    r.volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 127));
    const int pan = m.voiceMix.userPan(s, v);
    r.panorama = static_cast<std::uint8_t>(static_cast<std::int8_t>(std::clamp(pan, 0, 127) - 64));
    r.transposition = static_cast<std::uint8_t>(static_cast<std::int8_t>(percussion ? 0 : transposition_));
    copyName(r.instrumentName, instrument != nullptr ? instrument->InstrumentId : std::string());
    const auto& names = staves_.empty() ? std::array<std::string, 3>{} : staves_[static_cast<std::size_t>(s)].names;
    copyName(r.soundName, !names[0].empty() ? names[0] : names[2]);
    return true;
}

bool OpenScore::writeVoice(const tvVoiceRecord& r) {
    scoreconv::PlayScore& m = *model_;
    const int s = r.stave;
    if (r.voice == TAVTUNE_TUNE_UP_VOICE) {
        TuneUpVoice& t = intro.tuneUpVoice;
        if (isSet(r.sound)) t.sound = r.sound;  // 128 and above: percussion
        if (isSet(r.volume) && r.volume < 128) t.volume = r.volume;
        if (isSetSigned(r.panorama)) t.panorama = static_cast<std::int8_t>(r.panorama);
        if (isSet(r.channel) && r.channel < 16) t.channel = r.channel;
        // The library's own tune-up record follows.
        if (t.sound < 128) m.einstimmung.Instrument = t.sound;
        m.einstimmung.Volume = t.volume;
        return true;
    }
    const int v = r.voice;
    if (s >= static_cast<int>(m.voiceCounts.size()) || v >= m.voiceCounts[static_cast<std::size_t>(s)]) return false;
    const bool percussion = m.instruments.isPercussionStaff(s);
    scorecore::CMidiInstr* instrument = m.instruments.at(s, v);
    if (isSet(r.sound) && r.sound < 128 && !percussion && instrument != nullptr) {
        instrument->UserProgram = r.sound;
        m.controls.addPlayConditions(scoreconv::kCondUserProgram);
    }
    if (isSet(r.channel) && r.channel < 16 && instrument != nullptr) {
        instrument->Channel = r.channel;
        m.controls.addPlayConditions(scoreconv::kCondVoiceChannel);
    }
    if (isSet(r.volume) && r.volume < 128) {
        m.voiceMix.setUserVolume(s, v, r.volume);
        m.controls.addPlayConditions(scoreconv::kCondUserVolume);
    }
    if (isSetSigned(r.panorama)) {
        m.voiceMix.setUserPan(s, v, std::clamp(64 + static_cast<std::int8_t>(r.panorama), 0, 127));
        m.controls.addPlayConditions(scoreconv::kCondUserPan);
    }
    // The voice's own record keeps what C131 answers in step with the model.
    if (s < staveCount() && static_cast<std::size_t>(v) < staves_[static_cast<std::size_t>(s)].voices.size()) {
        readVoice(staves_[static_cast<std::size_t>(s)].voices[static_cast<std::size_t>(v)]);
    }
    return true;
}

void OpenScore::transpose(int semitones) {
    transposition_ = std::clamp(semitones, -127, 127);
    scoreconv::PlayScore& m = *model_;
    m.TranspAdd = transposition_;
    m.TranspAddToPerc = 0;
    if (transposition_ != 0) {
        m.controls.addPlayConditions(scoreconv::kCondTranspose);
    }
    for (StaveData& d : staves_) {
        for (tvVoiceRecord& r : d.voices) readVoice(r);
    }
}

Engine::Engine()
    : dynamics_(defaultSwitches(kSwitchDynamics)),
      articulation_(defaultSwitches(kSwitchArticulation)),
      trills_(defaultSwitches(kSwitchTrills)) {}

Engine& Engine::instance() {
    static Engine engine;
    return engine;
}

SwitchLines& Engine::switches(int kind) {
    switch (kind) {
        case kSwitchDynamics: return dynamics_;
        case kSwitchArticulation: return articulation_;
        case kSwitchTrills: return trills_;
        default: none_.clear(); return none_;
    }
}

int Engine::open(const char* path, platform::MessageTarget* window, platform::MessageId message, int codeBase,
                 const tvVoiceRecord* voices) {
    if (path == nullptr || path[0] == '\0') return TAVTUNE_OPEN_NO_SCORE;
    const std::filesystem::path file(path);
    ScoreKind kind = ScoreKind::TvrXml;
    bool readable = false;
    if (!sniffScoreKind(file, kind, readable)) return readable ? TAVTUNE_OPEN_UNKNOWN : TAVTUNE_OPEN_READ_ERROR;

    std::unique_ptr<scoreconv::PlayScore> model;
    std::array<std::string, 3> description;
    if (const int rc = loadScoreModel(file, kind, model, description); rc != TAVTUNE_OPEN_OK) return rc;
    try {
        auto score = std::make_unique<OpenScore>(kind, file, std::move(model));
        if (const int rc = score->describe(description); rc != TAVTUNE_OPEN_OK) return rc;
        // Settings handed over with the score; a record that names no voice of it is passed over.
        int guard = 0;
        for (const tvVoiceRecord* r = voices; r != nullptr && guard < 65536; r = r->next, ++guard) {
            if (r->size == sizeof(tvVoiceRecord)) score->writeVoice(*r);
        }
        applySwitches(*this, score->model());
        applySwitchOptions(*this, score->model());
        score->window = window;
        score->message = message;
        score->codeBase = codeBase;
        score_ = std::move(score);
    } catch (const std::bad_alloc&) {
        return TAVTUNE_OPEN_NO_MEMORY;
    }
    return TAVTUNE_OPEN_OK;
}

void Engine::close() {
    score_.reset();
}

}  // namespace tavtune
