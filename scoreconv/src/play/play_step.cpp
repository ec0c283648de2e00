// One step of a pass over the voices: the notes that end, the events that are
// due (dynamics, pan, notes), and the metronome's beat.
#include <algorithm>
#include <array>
#include <limits>
#include <span>

#include "play/play_model.h"
#include "play/play_passes.h"
#include "play/play_proc.h"
#include "play/render_output.h"
#include "scorecore/metronome.h"
#include "scorecore/sc_util.h"

namespace scoreconv {

namespace {

constexpr uint8_t kNoteOnStatus = 0x90;

int32_t toTick(int64_t tick) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(tick, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

uint32_t keyOf(uint32_t message) { return (message >> 8) & 0xFFu; }

// The last chord of the tie chain that holds head `head` of list[at]: each
// link is the voice's next chord (grace notes aside) with a head of the same
// key that continues the held note.
std::size_t tieChainEnd(std::span<const CScoreEvent> list, std::size_t at, int32_t head) {
    const uint32_t key = keyOf(list[at].midi[static_cast<std::size_t>(head)]);
    std::size_t last = at;
    bool tiedOn = true;
    for (std::size_t i = at + 1; tiedOn && i < list.size(); ++i) {
        const CScoreEvent& e = list[i];
        if (!e.isKind(scorecore::kKindNote) || e.isKind(scorecore::kKindGrace)) continue;
        tiedOn = false;
        for (int32_t h = 0; h < std::min(e.headCount, scorecore::kMaxHeads); ++h) {
            if (keyOf(e.midi[static_cast<std::size_t>(h)]) != key || !e.hasHeadFlag(h, kHeadTiedOver)) continue;
            last = i;
            tiedOn = e.hasHeadFlag(h, kHeadTiedOn);
            break;
        }
    }
    return last;
}

}  // namespace

namespace {

// A large score's events do not stay in the cache from one visit of their
// voice to the next: the event after the one due next has the front of its
// record fetched, which holds all a play reads of it (score_event.h), while
// the other voices are visited.
void prefetchAfter(std::span<const CScoreEvent> list, std::size_t at) {
    if (at + 1 >= list.size()) return;
    const auto* record = reinterpret_cast<const char*>(&list[at + 1]);
    constexpr std::size_t kLine = 64;
    constexpr std::size_t kReadBytes = 128;
    for (std::size_t offset = 0; offset < kReadBytes; offset += kLine) __builtin_prefetch(record + offset);
    __builtin_prefetch(record + kReadBytes - 1);
}

}  // namespace

void CPlayPass::stepVoices() {
    CPlayCursor& c = f_.cursor;
    // A render steps tick by tick: the voices are visited only when one of
    // them has a note to end or an event due.
    if (c.currentTick < wake_) return;
    for (int32_t s = 0; s < staves_; ++s) {
        const int32_t voices = std::min(c.done.voiceCount(s), f_.events.voiceCount(s));
        for (int32_t v = 0; v < voices; ++v) noteOffs(s, v);
        for (int32_t v = 0; v < voices; ++v) {
            if (!c.done.isDone(s, v)) voiceEvents(s, v);
        }
    }
    wake_ = nextWake();
}

int32_t CPlayPass::nextWake() const {
    const CPlayCursor& c = f_.cursor;
    int32_t wake = std::numeric_limits<int32_t>::max();
    for (int32_t s = 0; s < staves_; ++s) {
        const int32_t voices = std::min(c.done.voiceCount(s), f_.events.voiceCount(s));
        for (int32_t v = 0; v < voices; ++v) {
            if (!c.done.isDone(s, v)) {
                const int32_t* next = c.nextTick.at(s, v);
                wake = next != nullptr ? std::min(wake, *next) : std::numeric_limits<int32_t>::min();
            }
            if (const CHeldNotes* held = f_.sounding.held(s, v); held != nullptr && held->count() > 0) {
                wake = std::min(wake, held->earliestEnd());
            }
            const CScoreEvent* record = f_.sounding.at(s, v);
            if (record != nullptr && record->headCount > 0) wake = std::min(wake, record->start);
        }
    }
    return wake;
}

void CPlayPass::voiceEvents(int32_t staff, int32_t voice) {
    CPlayCursor& c = f_.cursor;
    const auto list = f_.events.events(staff, voice);
    int32_t* index = c.eventIndex.at(staff, voice);
    int32_t* next = c.nextTick.at(staff, voice);
    if (index == nullptr || next == nullptr) {
        c.done.setDone(staff, voice);
        return;
    }
    while (c.currentTick >= *next) {
        if (*index < 0 || *index >= static_cast<int32_t>(list.size())) {
            c.done.setDone(staff, voice);
            return;
        }
        handleEvent(staff, voice, list[static_cast<std::size_t>(*index)]);
        if (++*index >= static_cast<int32_t>(list.size())) {
            c.done.setDone(staff, voice);
            return;
        }
        const auto at = static_cast<std::size_t>(*index);
        *next = toTick(swingTick(staff, list[at].start));
        prefetchAfter(list, at);
    }
}

void CPlayPass::handleEvent(int32_t staff, int32_t voice, const CScoreEvent& event) {
    if (mode_ == kModePlayTime) {
        // A play-time pass notes which marks the score uses.
        if (!event.isKind(kKindRamp | kKindDynamicMark)) {
            markDynamicPresent(f_.dynamik, event.dynamic.code);
            markArticulationPresent(f_.articulation, event.articulation.code);
        }
    } else {
        applyDynamics(staff, voice, event);
        if (sendVoicePan(f_, staff, voice) < 0) failed_ = true;
    }
    if (sounds(staff, voice, event)) playNote(staff, voice, event);
}

// --- dynamics ---------------------------------------------------------------------------

namespace {

// The level of one step of a volume ramp: from the start level to the target
// in equal parts, the target itself on the last step.
int32_t rampLevel(const CDynamik& table, const CRampStep& ramp) {
    const int32_t fromTable = dynamikLevel(table, ramp.startLevel);
    const int32_t start = std::clamp(fromTable >= 0 ? fromTable : ramp.startLevel, 0, 127);
    int32_t target = start;
    if (ramp.target > 0) {
        const int32_t level = dynamikLevel(table, ramp.target);
        target = std::clamp(level >= 0 ? level : ramp.target, 0, 127);
    } else if (ramp.target == -5) {
        target = std::min(start * 2, 127);
    } else if (ramp.target == -6) {
        target = std::max(start / 2, 10);
    }
    if (ramp.steps <= 1 || ramp.step >= ramp.steps - 1) return target;
    return start + scorecore::scDivRound((target - start) * std::max(ramp.step, 0), ramp.steps);
}

}  // namespace

// A mark sets the level of its voice, of every voice of its staff or of every
// staff, as the dynamics table says; with dynamics in use the level goes out
// as the channel's volume.
void CPlayPass::applyDynamics(int32_t staff, int32_t voice, const CScoreEvent& event) {
    CRampStep ramp;
    const bool isRamp = rampStepOf(event, ramp);
    if (!isRamp && (event.isKind(kKindRamp) || event.dynamic.code == 0)) return;
    const CDynamik& table = f_.dynamik;
    const int32_t fixed = isRamp ? rampLevel(table, ramp) : -1;
    const auto apply = [&](int32_t s, int32_t v) {
        if (isRamp) {
            setLevel(s, v, fixed);
            return;
        }
        const bool user = (ctl_.playConditions & kCondUserVolume) != 0;
        const int32_t volume = user ? f_.voiceMix.userVolume(s, v) : f_.voiceMix.sourceVolume(s);
        const int32_t last = f_.lastVolume[voiceMidiChannel(f_, s, v)];
        const int32_t level = dynamicVoiceLevel(table, event.dynamic.code, volume, last);
        if (level >= 0) setLevel(s, v, level);
    };
    const auto voicesOf = [&](int32_t s) { return std::min(f_.cursor.done.voiceCount(s), f_.events.voiceCount(s)); };
    if (table.UseAllStavesForDyn != 0) {
        for (int32_t s = 0; s < staves_; ++s) {
            for (int32_t v = 0; v < voicesOf(s); ++v) apply(s, v);
        }
    } else if (table.UseAllVoicesForDyn != 0) {
        for (int32_t v = 0; v < voicesOf(staff); ++v) apply(staff, v);
    } else {
        apply(staff, voice);
    }
}

void CPlayPass::setLevel(int32_t staff, int32_t voice, int32_t level) {
    CVoiceLevel* slot = f_.cursor.levels.at(staff, voice);
    if (slot == nullptr) return;
    slot->level = static_cast<uint8_t>(std::clamp(level, 0, 127));
    if ((ctl_.playConditions & kCondDynamics) != 0 && f_.dynamik.DynamicUse != 0 &&
        sendVoiceVolume(f_, staff, voice) < 0) {
        failed_ = true;
    }
}

// --- notes ------------------------------------------------------------------------------

bool CPlayPass::sounds(int32_t staff, int32_t voice, const CScoreEvent& event) const {
    const uint64_t conds = ctl_.playConditions;
    const uint32_t first = event.midi[0];
    const bool noteOn = event.isKind(scorecore::kKindNote) && event.headCount > 0 &&
                        (first & 0xF0u) == kNoteOnStatus && ((first >> 16) & 0x7Fu) != 0;
    if (!noteOn && !event.isKind(kKindSelfTimed)) return false;
    if ((conds & kCondVoiceOnOff) != 0 && !f_.onOff.isVoiceOn(staff, voice)) return false;
    if ((conds & kCondPercussionOnly) != 0 && !f_.instruments.isPercussionStaff(staff)) return false;
    if ((conds & kCondMetronome) != 0 && (conds & kCondMetronomeOnly) != 0) return false;
    return !countIn_;
}

// The event's messages go out (a render pass writes every one; real time
// sends those of notes); its note-ons are kept as note-offs for its end. A
// pass that sends nothing (play time, fast-forward) keeps them as well, so
// that every pass ends at the same tick, but marks them silent. A note tied
// over the voice's next chords is held apart until the end of its tie chain;
// those chords neither strike it again nor end it.
void CPlayPass::playNote(int32_t staff, int32_t voice, const CScoreEvent& event) {
    struct Outgoing {
        uint8_t status = 0;
        uint8_t key = 0;
        uint8_t velocity = 0;
        int64_t heldUntil = -1;  // the end of its tie chain; -1 not held
    };
    const uint64_t conds = ctl_.playConditions;
    const bool percussion = f_.instruments.isPercussionStaff(staff);
    const bool transpose = (conds & kCondTranspose) != 0 && (!percussion || f_.TranspAddToPerc != 0);
    const auto list = f_.events.events(staff, voice);
    const int32_t* index = f_.cursor.eventIndex.at(staff, voice);
    // Ties hold from chords of the voice's list (grace notes aside).
    const bool tiesHold = index != nullptr && *index >= 0 && static_cast<std::size_t>(*index) < list.size() &&
                          &list[static_cast<std::size_t>(*index)] == &event && !event.isKind(scorecore::kKindGrace);
    CHeldNotes* held = f_.sounding.held(staff, voice);
    const bool send =
        mode_ != kModePlayTime && !fastForward_ && (rendering() || event.isKind(scorecore::kKindNote));
    std::array<Outgoing, scorecore::kMaxHeads> out{};
    std::size_t count = 0;
    std::size_t noteOns = 0;
    for (int32_t h = 0; h < std::min(event.headCount, scorecore::kMaxHeads); ++h) {
        const uint32_t message = event.midi[static_cast<std::size_t>(h)];
        auto status = static_cast<uint8_t>(message & 0xFFu);
        if (status < 0x80 || status > 0xEF) continue;
        int32_t key = static_cast<int32_t>((message >> 8) & 0xFFu);
        auto velocity = static_cast<uint8_t>(std::min<uint32_t>((message >> 16) & 0xFFu, 127));
        if (percussion) key = f_.instruments.percussionKey(staff, key);
        if (key > 127) continue;  // no instrument of the staff plays it
        if (transpose) key = static_cast<int32_t>(std::clamp<int64_t>(int64_t{key} + f_.TranspAdd, 0, 127));
        if ((conds & kCondVoiceChannel) != 0) {
            status = static_cast<uint8_t>((status & 0xF0u) | voiceMidiChannel(f_, staff, voice));
        }
        Outgoing m{status, static_cast<uint8_t>(key), velocity};
        if ((status & 0xF0u) == kNoteOnStatus && velocity != 0) {
            // A held note goes on sounding; one that is not heard (the pass
            // began inside its chain) is struck.
            if (event.hasHeadFlag(h, kHeadTiedOver) && held != nullptr &&
                held->holds(static_cast<uint8_t>(status & 0x0Fu), static_cast<uint8_t>(key), send)) {
                continue;
            }
            m.velocity = static_cast<uint8_t>(
                noteOnVelocity(f_.articulation, event.articulation.code, conds, f_.baseVelocity));
            if (tiesHold && event.hasHeadFlag(h, kHeadTiedOn)) {
                const std::size_t last = tieChainEnd(list, static_cast<std::size_t>(*index), h);
                if (last != static_cast<std::size_t>(*index)) m.heldUntil = noteEnd(staff, list[last]);
            }
            ++noteOns;
        }
        out[count++] = m;
    }
    CScoreEvent* record = f_.sounding.at(staff, voice);
    // A voice's earlier notes end before its next ones begin.
    if (noteOns > 0 && record != nullptr && record->headCount > 0) {
        record->start = std::numeric_limits<int32_t>::min();
        noteOffs(staff, voice);
    }
    const int64_t end = noteEnd(staff, event);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Outgoing& m = out[i];
        const bool noteOn = (m.status & 0xF0u) == kNoteOnStatus && m.velocity != 0;
        const auto channel = static_cast<uint8_t>(m.status & 0x0Fu);
        // A key struck again while a tie still holds it ends the held sound first.
        CHeldNote ended;
        if (noteOn && held != nullptr && held->take(channel, m.key, ended) && !ended.silent) {
            put(trackFor(staff, voice, m.key), static_cast<uint8_t>(ended.off & 0xFFu), m.key, 0);
        }
        if (send) {
            put(trackFor(staff, voice, m.key), m.status, m.key, m.velocity);
            if (noteOn) usedChannels_ |= static_cast<uint16_t>(1u << channel);
        }
        if (!noteOn || record == nullptr) continue;
        const uint32_t off = (kNoteOnStatus | channel) | uint32_t{m.key} << 8;
        if (m.heldUntil >= 0 && held != nullptr &&
            held->add(CHeldNote{off, toTick(std::max(m.heldUntil, end)), !send})) {
            continue;
        }
        record->midi[kept++] = off;
    }
    if (kept == 0 || record == nullptr) return;
    record->start = toTick(end);
    record->kind = send ? scorecore::kKindNote : scorecore::kKindSilent;
    record->headCount = static_cast<int32_t>(kept);
}

int64_t CPlayPass::noteEnd(int32_t staff, const CScoreEvent& event) const {
    const int64_t start = swingTick(staff, event.start);
    int64_t end = 0;
    if (event.isKind(kKindSelfTimed) && !event.isKind(scorecore::kKindNote)) {
        end = start + event.duration - f_.ticksPerQuarter;
    } else {
        const int32_t length =
            soundingLength(f_.articulation, event.articulation.code, std::max(event.duration, 0),
                           event.hasTie(scorecore::kTieStart), ctl_.playConditions, f_.NoteShortening, step_);
        end = swingTick(staff, int64_t{event.start} + length);
    }
    return std::max(end, start + 1);
}

void CPlayPass::noteOffs(int32_t staff, int32_t voice) {
    if (CHeldNotes* held = f_.sounding.held(staff, voice); held != nullptr && held->count() > 0) {
        held->takeEnded(f_.cursor.currentTick, [&](const CHeldNote& note) {
            if (note.silent) return;
            const auto key = static_cast<uint8_t>((note.off >> 8) & 0x7Fu);
            put(trackFor(staff, voice, key), static_cast<uint8_t>(note.off & 0xFFu), key, 0);
        });
    }
    CScoreEvent* record = f_.sounding.at(staff, voice);
    if (record == nullptr || record->headCount <= 0 || record->start > f_.cursor.currentTick) return;
    if (!record->isKind(scorecore::kKindSilent)) {
        for (int32_t h = 0; h < std::min(record->headCount, scorecore::kMaxHeads); ++h) {
            const uint32_t off = record->midi[static_cast<std::size_t>(h)];
            const auto key = static_cast<uint8_t>((off >> 8) & 0x7Fu);
            put(trackFor(staff, voice, key), static_cast<uint8_t>(off & 0xFFu), key, 0);
        }
    }
    record->headCount = 0;
}

void CPlayPass::endAllSounding() {
    // Whatever moves the cursor ends what sounds first: the voices are due.
    wake_ = std::numeric_limits<int32_t>::min();
    for (int32_t s = 0; s < staves_; ++s) {
        for (int32_t v = 0; v < f_.events.voiceCount(s); ++v) {
            CScoreEvent* record = f_.sounding.at(s, v);
            CHeldNotes* held = f_.sounding.held(s, v);
            if (held != nullptr) held->endAll();
            if (record == nullptr) continue;
            record->start = std::numeric_limits<int32_t>::min();
            noteOffs(s, v);
        }
    }
}

int32_t CPlayPass::trackFor(int32_t staff, int32_t voice, uint8_t key) const {
    if (!rendering()) return 0;
    const uint64_t conds = ctl_.playConditions;
    if ((conds & kCondPercussionTracks) != 0 && f_.instruments.isPercussionStaff(staff)) {
        const int32_t track = trackOfPercussionKey(f_.instruments, f_.voiceCounts, conds, staff, key);
        if (track >= 0) return track;
    }
    return trackOfVoice(f_.instruments, f_.voiceCounts, conds, staff, voice);
}

void CPlayPass::put(int32_t track, uint8_t status, uint8_t data1, uint8_t data2) {
    if (renderPutShort(f_, track, status, data1, data2) < 0) failed_ = true;
}

// --- metronome --------------------------------------------------------------------------

// On each beat the metronome clicks by its pattern; during the count-in every
// beat clicks.
void CPlayPass::metronomeBeat() {
    scorecore::CMetronom& m = f_.metronom;
    const auto channel = static_cast<uint8_t>(std::min<uint8_t>(m.Channel, kChannels - 1));
    const CRenderTrackSlot slot = renderTrackSlot(f_, layout_.metronomeTrack);
    if (rendering() && slot.stream == nullptr) return;
    int liveDelta = 0;
    int& delta = slot.delta != nullptr ? *slot.delta : liveDelta;
    const CPlayCursor& c = f_.cursor;
    const int rc = m.clickFreq(rendering() ? nullptr : f_.midiOut, countIn_, c.meter.beats, c.position.beat,
                               &f_.lastVolume[channel], &f_.lastPan[channel], slot.stream, delta, &lastProgram_);
    if (rc < 0) failed_ = true;
    if (m.sounding != scorecore::kMetronomeSilent) usedChannels_ |= static_cast<uint16_t>(1u << channel);
}

void CPlayPass::clickOff() {
    scorecore::CMetronom& m = f_.metronom;
    if (m.sounding == scorecore::kMetronomeSilent) return;
    const CRenderTrackSlot slot = renderTrackSlot(f_, layout_.metronomeTrack);
    int liveDelta = 0;
    int& delta = slot.delta != nullptr ? *slot.delta : liveDelta;
    if (m.clickOff(rendering() ? nullptr : f_.midiOut, slot.stream, delta) < 0) failed_ = true;
}

// --- swing ------------------------------------------------------------------------------

// With swing, each pair of grid steps of a staff is split long-short by its
// rate: a tick in the first step of a pair is stretched onto the long part,
// one in the second step squeezed onto the short part. Ticks are counted from
// bar 1, so an upbeat swings like the bars after it.
int64_t CPlayPass::swingTick(int32_t staff, int64_t tick) const {
    if ((ctl_.playConditions & kCondSwing) == 0) return tick;
    const int64_t a = f_.quantize.getRatePart(staff, 0);
    const int64_t b = f_.quantize.getRatePart(staff, 1);
    const int64_t grid = f_.quantize.getNoteTicks(staff);
    if (grid <= 0 || (a < 2 && b < 2) || a == b) return tick;
    const int64_t pair = 2 * grid;
    const int64_t longPart = pair * a / (a + b);
    const int64_t pairs = floorDiv(tick, pair);
    const int64_t rest = tick - pairs * pair;
    const int64_t inPair = rest < grid ? rest * longPart / grid : longPart + (rest - grid) * (pair - longPart) / grid;
    return pairs * pair + inPair;
}

}  // namespace scoreconv
