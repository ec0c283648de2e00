// The tune-up before a MIDI entry, live and in the export.
#include "qvp3_pipeline/intro_player.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <vector>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

using scorecore::CScoreEvent;

constexpr std::uint8_t kTuneUpVelocity = 100;
// The export writes the tune-up at 60 beats per minute: a quarter of 480 ticks lasts a second.
constexpr double kExportTempo = 60.0;
constexpr int kTicksPerSecond = 480;

class IntroPlayer {
public:
    IntroPlayer(ProjectEntry& entry, platform::MidiOutDevice* out, platform::Event* stop)
        : entry_(entry), p_(plyEntryPlayer(entry)), t_(entry.tuneUp), out_(out), stop_(stop) {}

    bool run();

private:
    struct Note {
        std::uint8_t channel, key;
        int track;
    };

    void setUp(int track, std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
    void setUpVoices();
    void setUpPercussionKeys(int staff, std::uint8_t pan);
    bool buildNotes();
    std::vector<Note> groupNotes(const CScoreEvent& e) const;
    void send(const std::vector<Note>& notes, bool on);
    // Waits ms live (false when the stop event ended the wait), or in the
    // export moves the tune-up on by ticks.
    bool wait(int ms, int ticks);
    void addTicks(int ticks);
    void stopped(const std::vector<std::vector<Note>>& groups);

    ProjectEntry& entry_;
    EntryPlayer& p_;
    const scorecore::CEinstimmung& t_;
    platform::MidiOutDevice* out_;
    platform::Event* stop_;
    bool export_ = false;
    int ownTrack_ = -1;
    std::vector<CScoreEvent> events_;
    int count_ = 0;
    std::int64_t introTicks_ = 0;
    platform::RealTimeClock::TimePoint deadline_{};
};

const platform::RealTimeClock& clockOf(const EntryPlayer& p) {
    return p.clock != nullptr ? *p.clock : platform::RealTimeClock::steady();
}

void IntroPlayer::setUp(int track, std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    if (export_) {
        const int bytes = plyEmitChannelEvent(p_, track, status, data1, data2, nullptr);
        if (bytes > 0 && track >= 0 && static_cast<std::size_t>(track) < p_.openingLength.size()) {
            p_.openingLength[static_cast<std::size_t>(track)] += static_cast<std::uint32_t>(bytes);
        }
    } else {
        scorecore::scMidiSendShort(status, data1, data2, out_);
    }
}

void IntroPlayer::setUpPercussionKeys(int staff, std::uint8_t pan) {
    for (const scorecore::CMidiInstr& record : entry_.instruments[static_cast<std::size_t>(staff)]) {
        const int track = plyPercussionKeyTrack(entry_, staff, record.PercNote);
        setUp(track, 0xB9, 7, t_.Volume & 0x7F);
        setUp(track, 0xB9, 10, pan);
    }
    p_.channels[scorecore::kPercussionChannel].panorama = pan;
}

void IntroPlayer::setUpVoices() {
    const std::uint8_t volume = t_.Volume & 0x7F;
    if (t_.Type == 2) {
        if (t_.Instrument >= 0) setUp(ownTrack_, 0xC0, static_cast<std::uint8_t>(t_.Instrument & 0x7F), 0);
        setUp(ownTrack_, 0xB0, 7, volume);
        setUp(ownTrack_, 0xB0, 10, 64);
        return;
    }
    for (std::size_t i = 0; i < t_.voices.size(); ++i) {
        const int staff = t_.voices[i] & 0xFFFF;
        const int voice = static_cast<int>(static_cast<std::uint32_t>(t_.voices[i]) >> 16);
        if (staff >= static_cast<int>(entry_.voiceCounts.size())) continue;
        const VoicePlayRecord* first = entry_.voiceRecord(staff, 0);
        const std::uint8_t stavePan = first != nullptr ? static_cast<std::uint8_t>(first->panorama & 0x7F) : 64;
        const bool percussion = plyIsPercussionStaff(entry_, staff);
        if (export_ && percussion) {
            if (voice == 0) setUpPercussionKeys(staff, stavePan);
            continue;
        }
        int track = ownTrack_;
        int channel = 0;
        if (ownTrack_ >= 0) {
            if (i > 0) break;  // the own track is set up once
        } else {
            track = plyVoiceTrack(entry_, staff, voice);
            channel = cnvEntryVoiceChannel(entry_, voice, staff);
            if (channel < 0 || channel > 15) continue;
        }
        int program = t_.Instrument;
        if (program < 0) {
            const scorecore::CMidiInstr* instrument = entry_.voiceInstrument(staff, voice);
            if (instrument != nullptr && !percussion) {
                program = instrument->UserProgram <= 127 ? instrument->UserProgram : instrument->SrcProgPercId;
            }
        }
        const auto ch = static_cast<std::uint8_t>(channel);
        if (program >= 0) setUp(track, static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(program & 0x7F), 0);
        setUp(track, static_cast<std::uint8_t>(0xB0 | ch), 7, volume);
        const std::uint8_t pan = ownTrack_ >= 0 ? 64 : stavePan;
        setUp(track, static_cast<std::uint8_t>(0xB0 | ch), 10, pan);
        if (ownTrack_ < 0) p_.channels[ch].panorama = stavePan;
    }
}

bool IntroPlayer::buildNotes() {
    if (t_.Type == 2) {
        const int transpose = entry_.voices.empty() ? 0 : entry_.voices.front().transposition;
        return t_.createChord(events_, count_, transpose);
    }
    for (const std::int32_t key : t_.voices) {
        const int staff = key & 0xFFFF;
        const int voice = static_cast<int>(static_cast<std::uint32_t>(key) >> 16);
        if (!entry_.states.isVoiceOn(staff, voice)) continue;
        int index = cnvEntryNextEventOfKind(entry_, staff + 1, voice, -1, scorecore::kKindNote);
        if (index < 0) index = cnvEntryNextEventOfKind(entry_, staff + 1, voice, -1, scorecore::kKindChord);
        if (index < 0) continue;
        const auto* list = cnvEntryModel(entry_).list(staff + 1, voice);
        const bool percussion = plyIsPercussionStaff(entry_, staff);
        const VoicePlayRecord* record = entry_.voiceRecord(staff, voice);
        const int transpose = percussion || record == nullptr ? 0 : record->transposition;
        const int channel = std::max(0, cnvEntryVoiceChannel(entry_, voice, staff));
        if (t_.getFirstNotesNote(events_, count_, -1, (*list)[static_cast<std::size_t>(index)], channel, transpose, 0,
                                 staff, voice) < 0) {
            break;
        }
    }
    return true;
}

// The note-ons of one group with their channels, keys and tracks.
std::vector<IntroPlayer::Note> IntroPlayer::groupNotes(const CScoreEvent& e) const {
    std::vector<Note> notes;
    const int staff = e.introStaff;
    const int voice = e.introVoice;
    const bool percussion = staff >= 0 && plyIsPercussionStaff(entry_, staff);
    for (int h = 0; h < std::clamp(e.headCount, 0, scorecore::kMaxHeads); ++h) {
        const std::uint32_t m = e.midi[h];
        auto channel = static_cast<std::uint8_t>(m & 0x0F);
        auto key = static_cast<std::uint8_t>(m >> 8 & 0x7F);
        int track = ownTrack_;
        if (ownTrack_ >= 0) {
            channel = 0;
        } else {
            if (channel == scorecore::kPercussionChannel && t_.Instrument != -1) channel = 0;
            track = percussion ? plyPercussionKeyTrack(entry_, staff, key) : plyVoiceTrack(entry_, staff, voice);
        }
        if (percussion) {
            const scorecore::CMidiInstr* instrument = entry_.voiceInstrument(staff, voice);
            if (instrument != nullptr && instrument->hasPercNote() && instrument->PercNote > 0) {
                key = instrument->PercNote & 0x7F;
            }
        }
        notes.push_back({channel, key, track});
    }
    return notes;
}

void IntroPlayer::send(const std::vector<Note>& notes, bool on) {
    for (const Note& n : notes) {
        const auto status = static_cast<std::uint8_t>(0x90 | n.channel);
        const std::uint8_t velocity = on ? kTuneUpVelocity : 0;
        if (export_) {
            plyEmitChannelEvent(p_, n.track, status, n.key, velocity, nullptr);
        } else {
            scorecore::scMidiSendShort(status, n.key, velocity, out_);
        }
    }
}

void IntroPlayer::addTicks(int ticks) {
    introTicks_ += ticks;
    if (ownTrack_ >= 0) {
        p_.pending[static_cast<std::size_t>(ownTrack_)] += ticks;
    } else {
        for (int& pending : p_.pending) pending += ticks;
    }
}

bool IntroPlayer::wait(int ms, int ticks) {
    if (export_) {
        addTicks(ticks);
        return true;
    }
    deadline_ += std::chrono::milliseconds(std::max(ms, 0));
    return !clockOf(p_).waitUntil(*stop_, deadline_);
}

void IntroPlayer::stopped(const std::vector<std::vector<Note>>& groups) {
    plyRequestStop(entry_, kEntryStoppedInTuneUp);
    for (const auto& g : groups) send(g, false);
    if (out_ != nullptr) out_->reset();
}

bool IntroPlayer::run() {
    const std::uint64_t features = entry_.project != nullptr ? entry_.project->playFeatures : 0;
    if (p_.mode == kPlayerMeasure || p_.mode == kPlayerSeek || t_.Type == 0 || (features & kPlayTuneUp) == 0) {
        return true;
    }
    export_ = p_.exporting();
    platform::Event own(platform::Event::Kind::ManualReset);
    if (!export_) {
        if (stop_ == nullptr) stop_ = &own;
        if (out_ == nullptr) out_ = p_.midiOut;
        if (out_ == nullptr) return false;
        deadline_ = clockOf(p_).now();
    }
    plyCountOutputTracks(entry_, nullptr, &ownTrack_, false);
    setUpVoices();
    if (export_ && ownTrack_ >= 0) {
        const int bytes = plyEmitText(p_, ownTrack_, 0x03, plyLanguageText(entry_, kStrTuneUpTrack, "Tune-up"), 255);
        if (bytes > 0) p_.openingLength[static_cast<std::size_t>(ownTrack_)] += static_cast<std::uint32_t>(bytes);
    }
    if (!buildNotes()) return true;
    std::vector<std::vector<Note>> groups;
    for (int i = 0; i < static_cast<int>(events_.size()); ++i) {
        std::vector<Note> notes = groupNotes(events_[static_cast<std::size_t>(i)]);
        if (!notes.empty()) groups.push_back(std::move(notes));
    }
    // The tune-up is timed in seconds; the export writes it at a tempo of its own.
    if (export_ && !groups.empty()) plyEmitTempo(p_, 0, kExportTempo);
    const int stepMs = t_.getZerlegtTime();
    const int stepTicks = stepMs * kTicksPerSecond / 1000;
    if (t_.Zerlegt == 0 && !groups.empty()) {
        for (const auto& g : groups) send(g, true);
        const int holdMs = std::max(t_.Duration, 0);
        if (!wait(holdMs, holdMs * kTicksPerSecond / 1000)) {
            stopped(groups);
            return true;
        }
        for (const auto& g : groups) send(g, false);
    } else {
        for (std::size_t i = 0; i < groups.size(); ++i) {
            send(groups[i], true);
            if (!wait(stepMs, stepTicks)) {
                stopped(std::vector(groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(i + 1)));
                return true;
            }
            if (t_.Sounding == 0 || i + 1 == groups.size()) send(groups[i], false);
        }
        if (t_.Sounding != 0) {
            for (std::size_t i = 0; i + 1 < groups.size(); ++i) send(groups[i], false);
        }
    }
    if (export_ && ownTrack_ >= 0) {
        // The piece starts after the tune-up on every track.
        for (std::size_t t = 0; t < p_.pending.size(); ++t) {
            if (static_cast<int>(t) != ownTrack_) p_.pending[t] = static_cast<int>(introTicks_);
        }
    }
    if (!export_) {
        deadline_ += std::chrono::milliseconds(kIntroAfterMs);
        clockOf(p_).sleepUntil(deadline_);
        if (stop_ != &own) stop_->set();
    }
    return true;
}

}  // namespace

bool plyIntroLoop(platform::MidiOutDevice* out, platform::Event* stop, ProjectEntry& entry) {
    try {
        return IntroPlayer(entry, out, stop).run();
    } catch (const std::bad_alloc&) {
        return true;  // nothing played; the piece itself may still play
    }
}

bool plyPlayIntro(platform::Event* stop, ProjectEntry& entry, platform::MidiOutDevice* out) {
    return plyIntroLoop(out, stop, entry);
}

}  // namespace qvp3
