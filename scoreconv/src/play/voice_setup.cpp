#include "play/voice_setup.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "play/play_model.h"
#include "play/render_output.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::CScoreEvent;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

// --- helpers ----------------------------------------------------------------------------

namespace {

constexpr uint8_t kControlVolume = 7;
constexpr uint8_t kControlPan = 10;

bool rendering(const PlayScore& file) { return file.playModeNow() == kModeRender; }
bool hasCondition(const PlayScore& file, uint64_t bit) { return (file.controls.playConditions() & bit) != 0; }

uint8_t toData(int32_t value) { return static_cast<uint8_t>(std::clamp(value, 0, 127)); }

int32_t staffCount(const PlayScore& file) { return static_cast<int32_t>(file.voiceCounts.size()); }

int32_t voicesOf(const PlayScore& file, int32_t staff) {
    return staff >= 0 && staff < staffCount(file) ? file.voiceCounts[static_cast<std::size_t>(staff)] : 0;
}

// A percussion staff whose instruments have a track each in this pass.
bool drumTracks(const PlayScore& file, int32_t staff) {
    return rendering(file) && hasCondition(file, kCondPercussionTracks) && file.instruments.isPercussionStaff(staff);
}

// The first track of a staff: track 0, then the tracks of the staves before it.
int32_t firstTrackOfStaff(const PlayScore& file, int32_t staff) {
    const std::span<const int32_t> before(file.voiceCounts.data(), static_cast<std::size_t>(staff));
    return planTracks(file.instruments, before, file.controls.playConditions(), false, false).count;
}

int32_t voiceTrack(const PlayScore& file, int32_t staff, int32_t voice) {
    if (!rendering(file)) return 0;
    return trackOfVoice(file.instruments, file.voiceCounts, file.controls.playConditions(), staff, voice);
}

// Sums the bytes of a run of puts and remembers the first failure.
struct PutTally {
    int bytes = 0;
    bool failed = false;
    void add(int n) {
        if (n < 0) {
            failed = true;
        } else {
            bytes += n;
        }
    }
    int result() const { return failed ? kErrOutOfMemory : bytes; }
};

// Controllers 7 and 10 (and before them a program change when program is
// set) as the track's set-up.
void putSound(PlayScore& file, int32_t track, uint8_t channel, std::optional<uint8_t> program, uint8_t volume,
              uint8_t pan, platform::MidiOutDevice* device, PutTally& tally) {
    if (program) tally.add(renderPutSetUpShort(file, track, static_cast<uint8_t>(0xC0 | channel), *program, 0, device));
    const auto control = static_cast<uint8_t>(0xB0 | channel);
    tally.add(renderPutSetUpShort(file, track, control, kControlVolume, volume, device));
    tally.add(renderPutSetUpShort(file, track, control, kControlPan, pan, device));
}

void setUpDrumTracks(PlayScore& file, int32_t staff, platform::MidiOutDevice* device, PutTally& tally) {
    const uint8_t volume = toData(hasCondition(file, kCondUserVolume) ? file.voiceMix.userVolume(staff, 0)
                                                                      : file.voiceMix.sourceVolume(staff));
    const uint8_t pan = toData(hasCondition(file, kCondUserPan) ? file.voiceMix.userPan(staff, 0) : kDefaultPan);
    const int32_t first = firstTrackOfStaff(file, staff);
    for (int32_t i = 0; i < file.instruments.count(staff); ++i) {
        putSound(file, first + i, kDrumChannel, std::nullopt, volume, pan, device, tally);
    }
    file.lastVolume[kDrumChannel] = volume;
    file.lastPan[kDrumChannel] = pan;
}

void setUpVoice(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device, PutTally& tally) {
    const CMidiInstr* record = file.instruments.at(staff, voice);
    if (record == nullptr || record->Channel >= kChannels) return;
    const int32_t track = voiceTrack(file, staff, voice);
    if (track < 0) return;
    const uint8_t channel = voiceMidiChannel(file, staff, voice);
    std::optional<uint8_t> program;
    if (!file.instruments.isPercussionStaff(staff) && !record->hasPercNote()) {
        program = file.instruments.midiProgram(staff, voice, hasCondition(file, kCondUserProgram));
    }
    const uint8_t volume = toData(hasCondition(file, kCondUserVolume) ? file.voiceMix.userVolume(staff, voice)
                                                                      : file.voiceMix.sourceVolume(staff));
    const uint8_t pan = toData(hasCondition(file, kCondUserPan) ? file.voiceMix.userPan(staff, voice) : kDefaultPan);
    putSound(file, track, channel, program, volume, pan, device, tally);
    file.lastVolume[channel] = volume;
    file.lastPan[channel] = pan;
}

}  // namespace

uint8_t voiceMidiChannel(const PlayScore& file, int32_t staff, int32_t voice) {
    if (!hasCondition(file, kCondVoiceChannel)) {
        const uint8_t own = file.events.voiceChannel(staff, voice);
        if (own < kChannels) return own;
    }
    return file.instruments.midiChannel(staff, voice);
}

int setUpVoices(PlayScore& file, platform::MidiOutDevice* device) {
    if (file.playModeNow() == kModePlayTime) return kOk;
    PutTally tally;
    for (int32_t staff = 0; staff < staffCount(file); ++staff) {
        if (drumTracks(file, staff)) {
            setUpDrumTracks(file, staff, device, tally);
            continue;
        }
        for (int32_t voice = 0; voice < voicesOf(file, staff); ++voice) setUpVoice(file, staff, voice, device, tally);
    }
    return tally.failed ? kErrOutOfMemory : kOk;
}

int sendVoiceVolume(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device) {
    const CVoiceLevel* slot = file.cursor.levels.at(staff, voice);
    if (slot == nullptr) return 0;
    const uint8_t level = toData(slot->level);
    PutTally tally;
    if (drumTracks(file, staff)) {
        if (voice != 0 || file.lastVolume[kDrumChannel] == level) return 0;
        const int32_t first = firstTrackOfStaff(file, staff);
        for (int32_t i = 0; i < file.instruments.count(staff); ++i) {
            tally.add(renderPutShort(file, first + i, 0xB0 | kDrumChannel, kControlVolume, level, device));
        }
        if (!tally.failed) file.lastVolume[kDrumChannel] = level;
        return tally.result();
    }
    const uint8_t channel = voiceMidiChannel(file, staff, voice);
    const int32_t track = voiceTrack(file, staff, voice);
    if (track < 0 || file.lastVolume[channel] == level) return 0;
    tally.add(renderPutShort(file, track, static_cast<uint8_t>(0xB0 | channel), kControlVolume, level, device));
    if (!tally.failed) file.lastVolume[channel] = level;
    return tally.result();
}

int sendVoicePan(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device) {
    if (!hasCondition(file, kCondUserPan) || voice < 0 || voice >= voicesOf(file, staff)) return 0;
    const uint8_t pan = toData(file.voiceMix.userPan(staff, voice));
    const uint8_t channel = voiceMidiChannel(file, staff, voice);
    const int32_t track = voiceTrack(file, staff, voice);
    if (track < 0 || file.lastPan[channel] == pan) return 0;
    PutTally tally;
    tally.add(renderPutShort(file, track, static_cast<uint8_t>(0xB0 | channel), kControlPan, pan, device));
    if (!tally.failed) file.lastPan[channel] = pan;
    return tally.result();
}

// --- tune-up ----------------------------------------------------------------------------

namespace {

constexpr int32_t kTypeChord = 2;
constexpr uint8_t kTuneUpChannel = 0;  // MIDI channel 1

// One note of the tune-up: its messages and the track of each.
struct TuneUpNote {
    std::vector<uint32_t> messages;  // 0x90 | channel, key, velocity
    std::vector<int32_t> tracks;
    bool started = false;
    bool ended = false;
};

// The first note of a voice that sounds: a note whose first message is a
// note-on with a velocity. Null when the voice has none.
const CScoreEvent* firstSoundingNote(const PlayScore& file, int32_t staff, int32_t voice) {
    for (const CScoreEvent& e : file.events.events(staff, voice)) {
        if (!e.isKind(scorecore::kKindNote) || e.headCount < 1) continue;
        const uint32_t first = e.midi[0];
        if ((first & 0xF0u) == 0x90u && ((first >> 16) & 0x7Fu) != 0) return &e;
    }
    return nullptr;
}

class TuneUp {
public:
    TuneUp(PlayScore& file, const CRealTimeClock& clock)
        : file_(file),
          e_(file.einstimmung),
          clock_(clock),
          device_(file.tuneUpParams.device != nullptr ? file.tuneUpParams.device : file.midiOut),
          event_(file.tuneUpParams.event != nullptr ? file.tuneUpParams.event : &ownEvent_),
          ownTrack_(e_.needsOwnTrack()),
          track_(rendering(file) && ownTrack_ ? file.render.count() - 1 : 0) {
        file_.tuneUpActive.store(true);
    }
    ~TuneUp() {
        if (file_.tuneUpParams.event != nullptr) file_.tuneUpParams.event->set();
        file_.tuneUpActive.store(false);
    }
    TuneUp(const TuneUp&) = delete;
    TuneUp& operator=(const TuneUp&) = delete;

    void run();

private:
    void sounds();
    void voiceSound(int32_t staff, int32_t voice, uint8_t volume);
    bool collectNotes();
    void addFirstNote(std::vector<CScoreEvent>& slots, int32_t& count, int32_t staff, int32_t voice);
    void noteOn(TuneUpNote& note);
    void noteOff(TuneUpNote& note);
    // Real time: waits to the deadline; false (output reset, stop word set)
    // when the event ended the wait. Rendering: time moves on by ticks.
    bool pass(CRealTimeClock::TimePoint deadline, int64_t ticks);
    int32_t headTrack(int32_t staff, int32_t voice, uint8_t key) const;

    PlayScore& file_;
    scorecore::CEinstimmung& e_;
    const CRealTimeClock& clock_;
    platform::MidiOutDevice* device_;
    platform::Event ownEvent_{platform::Event::Kind::ManualReset};
    platform::Event* event_;
    const bool ownTrack_;
    const int32_t track_;  // the tune-up's own track: the last one
    std::vector<TuneUpNote> notes_;
};

void TuneUp::voiceSound(int32_t staff, int32_t voice, uint8_t volume) {
    // A stream that cannot grow keeps what it holds; the pass goes on without
    // the message, and the tune-up has no failure to report.
    PutTally tally;
    if (drumTracks(file_, staff)) {
        const int32_t first = firstTrackOfStaff(file_, staff);
        for (int32_t i = 0; i < file_.instruments.count(staff); ++i) {
            putSound(file_, first + i, kDrumChannel, std::nullopt, volume, kDefaultPan, device_, tally);
        }
        return;
    }
    const uint8_t channel = ownTrack_ ? kTuneUpChannel : voiceMidiChannel(file_, staff, voice);
    const int32_t track = ownTrack_ ? track_ : voiceTrack(file_, staff, voice);
    std::optional<uint8_t> program;
    if (!file_.instruments.isPercussionStaff(staff)) {
        program = e_.Instrument >= 0 ? toData(e_.Instrument) : file_.instruments.midiProgram(staff, voice, true);
    }
    putSound(file_, track, channel, program, volume, kDefaultPan, device_, tally);
}

void TuneUp::sounds() {
    PutTally tally;
    const uint8_t volume = toData(e_.Volume);
    if (e_.Type == kTypeChord) {
        putSound(file_, track_, kTuneUpChannel, toData(e_.Instrument), volume, kDefaultPan, device_, tally);
    } else {
        for (std::size_t i = 0; i < e_.voices.size(); ++i) {
            int32_t staff = -1;
            int32_t voice = -1;
            e_.getFirstNotesStaffVoice(static_cast<int32_t>(i), &staff, &voice);
            if (voice >= 0 && voice < voicesOf(file_, staff)) voiceSound(staff, voice, volume);
        }
    }
    if (rendering(file_) && ownTrack_) renderPutSetUpText(file_, track_, kMetaTrackName, kTuneUpTrackName);
}

int32_t TuneUp::headTrack(int32_t staff, int32_t voice, uint8_t key) const {
    if (ownTrack_) return track_;
    if (drumTracks(file_, staff)) {
        const int32_t track =
            trackOfPercussionKey(file_.instruments, file_.voiceCounts, file_.controls.playConditions(), staff, key);
        if (track >= 0) return track;
    }
    return voiceTrack(file_, staff, voice);
}

void TuneUp::addFirstNote(std::vector<CScoreEvent>& slots, int32_t& count, int32_t staff, int32_t voice) {
    const CScoreEvent* note = firstSoundingNote(file_, staff, voice);
    if (note == nullptr) return;
    const bool percussion = file_.instruments.isPercussionStaff(staff);
    CScoreEvent source;
    source.setKind(scorecore::kKindNote);
    for (int32_t h = 0; h < std::min(note->headCount, scorecore::kMaxHeads); ++h) {
        const uint32_t message = note->midi[static_cast<std::size_t>(h)];
        int32_t key = static_cast<int32_t>((message >> 8) & 0xFFu);
        if (percussion) key = file_.instruments.percussionKey(staff, key);
        if (key > 127) continue;  // no instrument of the staff plays it
        source.midi[static_cast<std::size_t>(source.headCount++)] = (message & ~0xFF00u) | uint32_t(key) << 8;
    }
    if (source.headCount == 0) return;
    const uint8_t channel = ownTrack_ ? kTuneUpChannel : voiceMidiChannel(file_, staff, voice);
    e_.getFirstNotesNote(slots, count, -1, source, channel, percussion ? 0 : file_.TranspAdd, 0, staff, voice);
}

bool TuneUp::collectNotes() {
    std::vector<CScoreEvent> slots;
    int32_t count = 0;
    if (e_.Type == kTypeChord) {
        if (!e_.createChord(slots, count, 0)) return false;
    } else {
        for (std::size_t i = 0; i < e_.voices.size(); ++i) {
            int32_t staff = -1;
            int32_t voice = -1;
            e_.getFirstNotesStaffVoice(static_cast<int32_t>(i), &staff, &voice);
            if (voice >= 0 && voice < voicesOf(file_, staff)) addFirstNote(slots, count, staff, voice);
        }
    }
    for (const CScoreEvent& slot : slots) {
        TuneUpNote note;
        for (int32_t h = 0; h < std::min(slot.headCount, scorecore::kMaxHeads); ++h) {
            const uint32_t message = slot.midi[static_cast<std::size_t>(h)];
            const auto key = static_cast<uint8_t>((message >> 8) & 0xFFu);
            if (key > 127) continue;
            note.messages.push_back(message);
            note.tracks.push_back(e_.Type == kTypeChord ? track_ : headTrack(slot.introStaff, slot.introVoice, key));
        }
        if (!note.messages.empty()) notes_.push_back(std::move(note));
    }
    return true;
}

void TuneUp::noteOn(TuneUpNote& note) {
    note.started = true;
    for (std::size_t i = 0; i < note.messages.size(); ++i) {
        const uint32_t m = note.messages[i];
        renderPutShort(file_, note.tracks[i], static_cast<uint8_t>(0x90 | (m & 0x0Fu)),
                       static_cast<uint8_t>(m >> 8), scorecore::kTuneUpSlotVelocity, device_);
    }
}

void TuneUp::noteOff(TuneUpNote& note) {
    if (!note.started || note.ended) return;
    for (std::size_t i = 0; i < note.messages.size(); ++i) {
        const uint32_t m = note.messages[i];
        renderPutShort(file_, note.tracks[i], static_cast<uint8_t>(0x90 | (m & 0x0Fu)),
                       static_cast<uint8_t>(m >> 8), 0, device_);
    }
    note.ended = true;
}

bool TuneUp::pass(CRealTimeClock::TimePoint deadline, int64_t ticks) {
    if (rendering(file_)) {
        renderAdvance(file_, ticks);
        return true;
    }
    if (!clock_.waitUntil(*event_, deadline)) return true;
    if (file_.tuneUpParams.stopWord != nullptr) {
        std::atomic_ref<int>(*file_.tuneUpParams.stopWord).store(kTuneUpStopped);
    }
    if (device_ != nullptr) device_->reset();
    return false;
}

void TuneUp::run() {
    sounds();
    try {
        if (!collectNotes()) return;
    } catch (const std::bad_alloc&) {
        return;
    }
    // Durations are counted at one quarter per second.
    const int64_t tpq = file_.ticksPerQuarter;
    if (rendering(file_)) renderPutTempo(file_, 60);
    auto deadline = clock_.now();
    if (e_.Zerlegt == 0) {
        for (TuneUpNote& note : notes_) noteOn(note);
        const int64_t ms = std::max(e_.Duration, 0);
        pass(deadline + std::chrono::milliseconds(ms), ms * tpq / 1000);
    } else {
        const int64_t ms = int64_t{e_.getZerlegtTicks()} * 1000 / std::max(e_.ticksPerQuarter, 1);
        for (TuneUpNote& note : notes_) {
            noteOn(note);
            deadline += std::chrono::milliseconds(ms);
            if (!pass(deadline, ms * tpq / 1000)) break;
            if (e_.Sounding == 0) noteOff(note);
        }
    }
    for (TuneUpNote& note : notes_) noteOff(note);
    notes_.clear();
    if (!rendering(file_)) clock_.sleepUntil(clock_.now() + std::chrono::milliseconds(kTuneUpAfterMs));
}

}  // namespace

bool playEinstimmung(PlayScore& file, const CRealTimeClock& clock) {
    const scorecore::CEinstimmung& e = file.einstimmung;
    if (file.playModeNow() == kModePlayTime || e.Type == 0 || !hasCondition(file, kCondTuneUp)) return true;
    if (e.Type != kTypeChord && e.voices.empty()) return true;
    TuneUp tuneUp(file, clock);
    tuneUp.run();
    return true;
}

}  // namespace scoreconv
