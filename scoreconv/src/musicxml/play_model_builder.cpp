#include "musicxml/play_model_builder.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "musicxml/mxml_file.h"
#include "musicxml/mxml_load.h"
#include "musicxml/part_list.h"
#include "play/play_cursor.h"
#include "play/play_passes.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::CMidiInstr;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

namespace {

constexpr uint32_t kNoteOn = 0x90;
constexpr uint32_t kVelocity = 90;
constexpr int32_t kDefaultTempo = 120;
// Barline marks of the score-wide row.
constexpr uint32_t kBarlineBits = kKindRepeatMark;
constexpr uint32_t kForwardRepeatBits = kKindRepeatMark | 0xC0;
constexpr uint32_t kBackwardRepeatBits = kKindRepeatMark | 0x140;
constexpr uint32_t kSoundingKinds = scorecore::kKindNote | scorecore::kKindChord | scorecore::kKindGrace;

int32_t toTick(int64_t tick) {
    return static_cast<int32_t>(std::clamp<int64_t>(tick, -kMaxTicks, kMaxTicks));
}

int32_t keyOf(uint32_t message) { return static_cast<int32_t>((message >> 8) & 0xFFu); }

// The decimal number an instrument id begins with; -1 when none.
int32_t leadingNumber(std::string_view id) {
    int32_t value = -1;
    for (char c : id) {
        if (c < '0' || c > '9') break;
        value = (value < 0 ? 0 : value) * 10 + (c - '0');
        if (value > 255) return -1;
    }
    return value;
}

}  // namespace

int32_t scoreStaffCount(const CMxmlFile& file) {
    const int32_t parts = scorePartCount(file);
    int64_t staves = 0;
    for (int32_t p = 0; p < std::min(parts, file.voiceTables.partCount()); ++p) staves += file.voiceTables.staffCount(p);
    return static_cast<int32_t>(std::min<int64_t>(staves, std::numeric_limits<int32_t>::max() - 1));
}

int buildPlayModel(CMxmlFile& file, std::string_view* failedStep) {
    std::string_view unused;
    std::string_view& step = failedStep != nullptr ? *failedStep : unused;
    step = {};
    const int32_t staves = scoreStaffCount(file);
    file.scoreLength = 0;
    if (staves == 0) return kOk;
    CPlayModelBuilder builder(file);
    if (const int rc = builder.prepare(staves); rc != kOk) {
        step = "mxml->appendEventToStream";
        return rc;
    }
    if (file.stopRequested()) return kErrStopped;
    std::vector<xmlNodePtr> parts;
    if (const int rc = GetPartlistFromNode(file.document.root(), parts); rc != kOk) {
        step = "GetPartlistFromNode";
        return rc;
    }
    step = "...";
    // With no part to read the model stays empty, but complete.
    if (!parts.empty()) {
        CMeasureWalk walk(file, builder);
        if (const int rc = walk.run(); rc != kOk) return rc;
    }
    if (file.stopRequested()) return kErrStopped;
    return builder.finish();
}

CPlayModelBuilder::CPlayModelBuilder(CMxmlFile& file) : file_(file) {}

int CPlayModelBuilder::prepare(int32_t staves) {
    staves_ = 0;
    if (!file_.events.allocRows(1) || !file_.events.allocVoices(0, 1)) return kErrOutOfMemory;
    file_.rowCount = 1;
    usedInstruments_.clear();
    storedNotes_.clear();
    if (const int rc = growStaves(staves); rc != kOk) return rc;
    try {
        // The mark made before reading gives way to the first part's own tempo at its start.
        ownTempoTicks_ = {0};
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (file_.cursor.tempo <= 0) file_.cursor.tempo = kDefaultTempo;
    CScoreEvent tempoMark;
    makeTempoEvent(tempoMark, 0, file_.cursor.tempo);
    return storeGlobal(tempoMark);
}

int CPlayModelBuilder::growStaves(int32_t staves) {
    if (staves <= staves_) return kOk;
    if (file_.instruments.staffCount() < staves && !file_.growStaffTables(staves - file_.instruments.staffCount())) {
        return kErrOutOfMemory;
    }
    // The new staves' rows go before the score-wide row, which stays last.
    if (!file_.quantize.create(staves) || !file_.events.insertRows(staves_, staves - staves_)) return kErrOutOfMemory;
    for (int32_t p = 0; p < file_.voiceTables.partCount(); ++p) {
        const int32_t first = file_.voiceTables.firstStaffOfPart(p);
        for (int32_t s = std::max(first, staves_); s < first + file_.voiceTables.staffCount(p) && s < staves; ++s) {
            if (!file_.events.allocVoices(s, file_.voiceTables.voiceCount(p, s - first))) return kErrOutOfMemory;
        }
    }
    try {
        usedInstruments_.resize(static_cast<std::size_t>(staves));
        storedNotes_.resize(static_cast<std::size_t>(staves), 0);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    staves_ = staves;
    file_.rowCount = staves + 1;
    return kOk;
}

// --- storing ----------------------------------------------------------------------------

int CPlayModelBuilder::storeEvent(int32_t row, int32_t voice, const CScoreEvent& event) {
    const auto list = file_.events.events(row, voice);
    if (list.empty() || list.back().start <= event.start) return file_.events.append(row, voice, event);
    return file_.events.insertInOrder(row, voice, event);
}

CScoreEvent* CPlayModelBuilder::globalAt(int32_t tick, uint32_t kind, bool exact) {
    const auto list = file_.events.events(staves_, 0);
    auto it = std::lower_bound(list.begin(), list.end(), tick,
                               [](const CScoreEvent& e, int32_t t) { return e.start < t; });
    for (; it != list.end() && it->start == tick; ++it) {
        if (exact ? it->kind == kind : it->isKind(kind)) return &*it;
    }
    return nullptr;
}

int CPlayModelBuilder::storeGlobal(const CScoreEvent& event) {
    return file_.events.insertInOrder(staves_, 0, event);
}

int CPlayModelBuilder::timeAndKey(const CPartState& state, bool time, bool key, int64_t tick) {
    const int32_t at = toTick(tick);
    CScoreEvent mark;
    if (time && globalAt(at, scorecore::kKindTimeSig) == nullptr &&
        makeTimeSigEvent(mark, at, state.meter.beats, state.meter.unitIndex)) {
        if (const int rc = storeGlobal(mark); rc != kOk) return rc;
    }
    if (key && globalAt(at, scorecore::kKindKeySig) == nullptr) {
        makeKeySigEvent(mark, at, state.key.safeFifths(), state.key.major != 0);
        if (const int rc = storeGlobal(mark); rc != kOk) return rc;
    }
    return kOk;
}

// --- walk events ------------------------------------------------------------------------

int CPlayModelBuilder::beginMeasure(const CWalkMeasure& m) {
    // The first bar starts at 0 even after an upbeat: the meter holds from there.
    const int64_t tick = m.upbeat ? 0 : m.barStart;
    if (const int rc = timeAndKey(*m.state, m.header->timeChanged, m.header->keyChanged, tick); rc != kOk) return rc;
    if (m.repeatBars > 0) {
        repeat_ = RepeatGroup{m.repeatBars, m.barStart, m.state->style.staff, storedNotes_};
    }
    return kOk;
}

// A measure-repeat region whose measures are written as rests plays the bars
// before it again; one whose notes are written out plays those.
int CPlayModelBuilder::endMeasure(const CWalkMeasure& m, int64_t nextBarStart) {
    if (repeat_.bars <= 0 || !m.repeatGroupEnd) return kOk;
    const RepeatGroup group = std::exchange(repeat_, RepeatGroup{});
    // The copies must fill the group's measures: bars of the meter in force,
    // the last one set at or before the group's start.
    scorecore::CMeter meter;
    bool haveMeter = false;
    const auto global = file_.events.events(staves_, 0);
    auto it = std::upper_bound(global.begin(), global.end(), group.start,
                               [](int64_t tick, const CScoreEvent& e) { return tick < e.start; });
    while (!haveMeter && it != global.begin()) {
        --it;
        haveMeter = it->isKind(scorecore::kKindTimeSig) && eventMeter(*it, file_.ticksPerQuarter, meter);
    }
    if (!haveMeter || nextBarStart - group.start != static_cast<int64_t>(group.bars) * meter.ticksPerBar) return kOk;
    for (int32_t s = 0; s < m.staffCount; ++s) {
        const int32_t row = m.firstStaff + s;
        if ((group.staff >= 0 && group.staff != s) || row >= staves_ ||
            static_cast<std::size_t>(row) >= group.notesBefore.size()) {
            continue;
        }
        if (storedNotes_[static_cast<std::size_t>(row)] != group.notesBefore[static_cast<std::size_t>(row)]) continue;
        for (int32_t bars = group.bars; bars > 0; --bars) {
            int32_t tick = toTick(group.start);
            const int rc = file_.events.repeatPreviousBars(bars, row, file_.events.voiceCount(row),
                                                           file_.ticksPerQuarter, tick);
            if (rc == kErrNotPresent) continue;
            if (rc != kOk && rc != scorecore::kErrDom) return rc;
            break;
        }
        // Marks read inside the group may lie after some copies.
        for (int32_t v = 0; v < file_.events.voiceCount(row); ++v) {
            const auto list = file_.events.events(row, v);
            std::stable_sort(list.begin(), list.end(),
                             [](const CScoreEvent& a, const CScoreEvent& b) { return a.start < b.start; });
        }
    }
    return kOk;
}

int CPlayModelBuilder::noteRead(const CWalkTarget& target, CScoreEvent& event, const CNoteInfo& info,
                                const CPartState& state) {
    // Ties belong to single notes: the note's own tie marks its heads.
    if (info.headsBefore <= 0) tieStops_ = 0;
    for (int32_t h = std::max(info.headsBefore, 0); h < std::min(event.headCount, scorecore::kMaxHeads); ++h) {
        if ((info.tie & scorecore::kTieStart) != 0) event.setHeadFlags(h, kHeadTiedOn);
        if ((info.tie & scorecore::kTieEnd) != 0) tieStops_ |= 1u << h;
    }
    const int32_t s = target.staff;
    if (s < 0 || s >= staves_) return kOk;
    const bool percussion = file_.instruments.isPercussionStaff(s);
    const int32_t transposition = target.partStaff >= 0 && target.partStaff < static_cast<int32_t>(state.transposition.size())
                                      ? state.transposition[static_cast<std::size_t>(target.partStaff)]
                                      : 0;
    for (int32_t h = std::max(info.headsBefore, 0); h < std::min(event.headCount, scorecore::kMaxHeads); ++h) {
        uint32_t& message = event.midi[static_cast<std::size_t>(h)];
        int32_t key = keyOf(message);
        if (percussion) {
            if (const int rc = percussionKey(s, info, key, key); rc != kOk) return rc;
        } else {
            key = std::clamp(key + transposition, 0, 127);
        }
        message = static_cast<uint32_t>(key) << 8;
    }
    return kOk;
}

int CPlayModelBuilder::percussionKey(int32_t staff, const CNoteInfo& info, int32_t displayKey, int32_t& key) {
    auto& used = usedInstruments_[static_cast<std::size_t>(staff)];
    const auto list = file_.instruments.list(staff);
    const auto mark = [&](std::size_t index) {
        if (used.size() < list.size()) used.resize(list.size(), 0);
        if (index < used.size()) used[index] = 1;
    };
    if (!info.instrumentId.empty()) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].InstrumentId == info.instrumentId && list[i].hasPercNote() && list[i].SrcProgPercId >= 128) {
                mark(i);
                key = list[i].SrcProgPercId;
                return kOk;
            }
        }
    }
    key = displayKey;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (leadingNumber(list[i].InstrumentId) == displayKey) {
            mark(i);
            return kOk;
        }
    }
    // The staff has no instrument for this key yet: one plays the key itself.
    CMidiInstr added;
    added.InstrumentId = std::to_string(displayKey);
    added.PercNote = static_cast<uint8_t>(displayKey);
    added.SrcProgPercId = file_.instruments.nextPercussionId();
    added.SrcChannel = list.empty() ? CMidiInstr::kUnset : list.front().SrcChannel;
    if (!file_.instruments.append(staff, added)) return kErrOutOfMemory;
    try {
        used.resize(static_cast<std::size_t>(file_.instruments.count(staff)), 0);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    used.back() = 1;
    return kOk;
}

int CPlayModelBuilder::event(const CWalkTarget& target, CScoreEvent& event) {
    const uint32_t stops = std::exchange(tieStops_, 0);
    const int32_t s = target.staff;
    const int32_t v = target.voice;
    if (s < 0 || s >= staves_ || v < 0 || v >= file_.events.voiceCount(s)) return kOk;
    // Rests only keep time; an event without heads has nothing to sound.
    if (event.isKind(scorecore::kKindRest) || event.headCount <= 0) return kOk;
    const uint32_t channel = file_.instruments.midiChannel(s, std::min(v, std::max(file_.instruments.count(s) - 1, 0)));
    for (int32_t h = 0; h < std::min(event.headCount, scorecore::kMaxHeads); ++h) {
        uint32_t& message = event.midi[static_cast<std::size_t>(h)];
        message = (kNoteOn | channel) | static_cast<uint32_t>(keyOf(message)) << 8 | kVelocity << 16;
    }
    ++storedNotes_[static_cast<std::size_t>(s)];
    if (!event.isKind(scorecore::kKindGrace) && tieOver(s, v, event, stops)) return kOk;
    return storeEvent(s, v, event);
}

// A tie stop continues only the note of the same key, tied on, in the voice's
// previous chord (grace notes aside), and only when that chord lasts up to
// this one. A chord whose every note continues every note of that chord
// lengthens it (true: it is not stored); otherwise its continuing heads are
// marked, so that the player holds those notes and strikes only the others.
bool CPlayModelBuilder::tieOver(int32_t row, int32_t voice, CScoreEvent& event, uint32_t stops) {
    if (stops == 0) return false;
    const auto list = file_.events.events(row, voice);
    auto it = std::find_if(list.rbegin(), list.rend(), [](const CScoreEvent& e) {
        return e.isKind(scorecore::kKindNote) && !e.isKind(scorecore::kKindGrace);
    });
    if (it == list.rend()) return false;
    CScoreEvent& previous = *it;
    const int64_t end = static_cast<int64_t>(previous.start) + previous.duration;
    if (event.start > end || event.start < previous.start) return false;
    const int32_t heads = std::min(event.headCount, scorecore::kMaxHeads);
    const int32_t before = std::min(previous.headCount, scorecore::kMaxHeads);
    std::array<int32_t, scorecore::kMaxHeads> from{};  // per head: the held head it continues, -1 none
    uint32_t taken = 0;
    int32_t linked = 0;
    for (int32_t h = 0; h < heads; ++h) {
        from[static_cast<std::size_t>(h)] = -1;
        if ((stops & (1u << h)) == 0) continue;
        const int32_t key = keyOf(event.midi[static_cast<std::size_t>(h)]);
        for (int32_t g = 0; g < before; ++g) {
            if ((taken & (1u << g)) != 0 || !previous.hasHeadFlag(g, kHeadTiedOn) ||
                keyOf(previous.midi[static_cast<std::size_t>(g)]) != key) {
                continue;
            }
            taken |= 1u << g;
            from[static_cast<std::size_t>(h)] = g;
            ++linked;
            break;
        }
    }
    if (linked == 0) return false;
    if (linked < heads || linked < before) {
        for (int32_t h = 0; h < heads; ++h) {
            if (from[static_cast<std::size_t>(h)] >= 0) event.setHeadFlags(h, kHeadTiedOver);
        }
        return false;
    }
    const int64_t newEnd = std::max(end, static_cast<int64_t>(event.start) + event.duration);
    previous.duration = toTick(newEnd - previous.start);
    // The chain goes on only while the later notes are tied on.
    previous.tie = (previous.tie & scorecore::kTieEnd) | (event.tie & scorecore::kTieStart);
    for (int32_t h = 0; h < heads; ++h) {
        const auto g = static_cast<std::size_t>(from[static_cast<std::size_t>(h)]);
        if (g >= previous.headFlags.size()) continue;
        previous.headFlags[g] &= ~kHeadTiedOn;
        if (event.hasHeadFlag(h, kHeadTiedOn)) previous.headFlags[g] |= kHeadTiedOn;
    }
    return true;
}

int CPlayModelBuilder::attributes(const CWalkMeasure& m, const CAttributesRead& read, int64_t tick) {
    return timeAndKey(*m.state, read.time && m.state->meter.isValid(), read.key, tick);
}

int CPlayModelBuilder::tempo(int64_t tick, int32_t value) {
    const int32_t at = toTick(tick);
    // Within a part the later of two tempos for one moment holds, as for any
    // sound read in document order; a moment an earlier part gave a tempo keeps it.
    if (CScoreEvent* existing = globalAt(at, scorecore::kKindTempo)) {
        if (ownTempoTicks_.contains(at)) existing->midi[0] = static_cast<uint32_t>(value);
        return kOk;
    }
    try {
        ownTempoTicks_.insert(at);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    CScoreEvent mark;
    makeTempoEvent(mark, at, value);
    return storeGlobal(mark);
}

int CPlayModelBuilder::direction(int32_t staff, int64_t tick, const CScoreEvent& marks, int32_t firstWedge) {
    if (staff < 0 || staff >= staves_ || file_.events.voiceCount(staff) < 1) return kOk;
    if (firstWedge < 0 || firstWedge >= marks.wedgeCount()) return kOk;
    CScoreEvent mark;
    mark.kind = kKindRamp;
    mark.start = toTick(tick + marks.wedges[static_cast<std::size_t>(firstWedge)].startOffset);
    try {
        mark.wedges.assign(marks.wedges.begin() + firstWedge, marks.wedges.end());
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return file_.events.insertInOrder(staff, 0, mark);
}

int CPlayModelBuilder::barline(const CWalkMeasure& /*m*/, int64_t tick, const scorecore::CEventBarline& bar,
                               const CBarlineInfo& info) {
    uint32_t kind = 0;
    if (bar.type == kBarlineLightLight || bar.type == kBarlineLightHeavy) kind = kBarlineBits;
    if (bar.type == kBarlineBackwardRepeat) kind = kBackwardRepeatBits;
    if (bar.type == kBarlineForwardRepeat) kind = kForwardRepeatBits;
    if (info.endingStart) kind |= kKindFirstEnding;
    if (kind == 0) return kOk;
    const int32_t at = toTick(tick);
    if (globalAt(at, kind, true) != nullptr) return kOk;
    CScoreEvent mark;
    mark.kind = kind;
    mark.start = at;
    mark.barline = bar;
    // The player reads every number an ending names and how often a repeat plays.
    if (info.endingStart) mark.barline.endingLabel = info.endingNumbers;
    if (info.backwardRepeat) setRepeatTimes(mark, info.repeatTimes);
    return storeGlobal(mark);
}

int CPlayModelBuilder::endPart(int32_t /*part*/, int32_t firstStaff, int32_t staffCount, int64_t partEnd) {
    ownTempoTicks_.clear();
    // The score ends with the last measure of its longest part, rests and all.
    file_.scoreLength = std::max(file_.scoreLength, toTick(partEnd));
    if (const int rc = closeVoices(firstStaff, staffCount, partEnd); rc != kOk) return rc;
    const int32_t ticks = file_.ticksPerQuarter;
    for (int32_t s = firstStaff; s < std::min(firstStaff + staffCount, staves_); ++s) {
        if (file_.stopRequested()) return kErrStopped;
        const int32_t voices = file_.events.voiceCount(s);
        for (int32_t v = 0; v < voices; ++v) {
            if (const int rc = fixGraceTiming(file_.events, s, v, ticks); rc != kOk) return rc;
        }
        for (int32_t v = 0; v < voices; ++v) {
            const int rc = file_.events.slurContinuation(s, v);
            if (rc != kOk && rc != kErrNotPresent) return rc;
        }
        if (voices > 0) {
            const int rc = wedgesToRamps(file_.events, s, ticks);
            if (rc != kOk && rc != kErrNotPresent) return rc;
        }
        for (int32_t v = 0; v < voices; ++v) {
            const int rc = releaseAccents(file_.events, s, v, ticks);
            if (rc != kOk && rc != kErrNotPresent) return rc;
        }
    }
    return kOk;
}

// A voice that ends before its staff gets a silent event up to the staff's
// end, so that playing lasts to the last bar line.
int CPlayModelBuilder::closeVoices(int32_t firstStaff, int32_t staffCount, int64_t partEnd) {
    for (int32_t s = firstStaff; s < std::min(firstStaff + staffCount, staves_); ++s) {
        for (int32_t v = 0; v < file_.events.voiceCount(s); ++v) {
            const auto list = file_.events.events(s, v);
            if (list.empty()) continue;
            int64_t end = std::numeric_limits<int64_t>::min();
            for (const CScoreEvent& e : list) end = std::max(end, static_cast<int64_t>(e.start) + e.duration);
            if (end >= partEnd) continue;
            CScoreEvent filler;
            filler.kind = kKindSelfTimed;
            filler.start = toTick(end);
            filler.duration = toTick(partEnd - end);
            if (const int rc = file_.events.append(s, v, filler); rc != kOk) return rc;
        }
    }
    return kOk;
}

// --- finishing --------------------------------------------------------------------------

// Voices that received no event are dropped, so that every voice the model
// counts has something to play.
int CPlayModelBuilder::compactVoices() {
    try {
        file_.voiceCounts.assign(static_cast<std::size_t>(staves_), 0);
        for (int32_t s = 0; s < staves_; ++s) {
            const int32_t voices = file_.events.voiceCount(s);
            int32_t used = 0;
            for (int32_t v = 0; v < voices; ++v) used += file_.events.eventCount(s, v) > 0 ? 1 : 0;
            file_.voiceCounts[static_cast<std::size_t>(s)] = used;
            if (used == voices) continue;
            std::vector<std::vector<CScoreEvent>> kept;
            for (int32_t v = 0; v < voices; ++v) {
                const auto list = file_.events.events(s, v);
                if (!list.empty()) kept.emplace_back(std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
            }
            if (!file_.events.allocVoices(s, used)) return kErrOutOfMemory;
            for (std::size_t v = 0; v < kept.size(); ++v) {
                for (const CScoreEvent& e : kept[v]) {
                    if (const int rc = file_.events.append(s, static_cast<int32_t>(v), e); rc != kOk) return rc;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

// Percussion staves keep the instruments they play; other staves get one
// instrument per voice (copies of their first). Every instrument then takes
// its source channel, and the plan gives channels to the rest.
bool CPlayModelBuilder::setUpInstruments() {
    CStaffInstruments& instruments = file_.instruments;
    for (int32_t s = 0; s < staves_; ++s) {
        if (instruments.isPercussionStaff(s)) {
            const auto& used = usedInstruments_[static_cast<std::size_t>(s)];
            const bool any = std::any_of(used.begin(), used.end(), [](uint8_t u) { return u != 0; });
            for (int32_t i = instruments.count(s); i-- > 0;) {
                const bool isUsed = static_cast<std::size_t>(i) < used.size() && used[static_cast<std::size_t>(i)] != 0;
                // A staff that played nothing keeps its first instrument, so it stays a drum staff.
                if (!isUsed && (any || i > 0)) instruments.remove(s, i);
            }
            // The user program of a drum is the used mark while loading: none once loaded.
            for (int32_t i = 0; i < instruments.count(s); ++i) instruments.at(s, i)->UserProgram = CMidiInstr::kUnset;
            continue;
        }
        if (instruments.count(s) == 0 && !instruments.append(s, CMidiInstr{})) return false;
        const CMidiInstr first = *instruments.at(s, 0);
        while (instruments.count(s) < file_.voiceCounts[static_cast<std::size_t>(s)]) {
            if (!instruments.append(s, first)) return false;
        }
    }
    for (int32_t s = 0; s < staves_; ++s) {
        for (int32_t i = 0; i < instruments.count(s); ++i) {
            CMidiInstr* record = instruments.at(s, i);
            record->Channel = record->SrcChannel < kChannels ? record->SrcChannel : CMidiInstr::kUnset;
        }
    }
    instruments.planChannels(false);
    return true;
}

int CPlayModelBuilder::finish() {
    if (const int rc = compactVoices(); rc != kOk) return rc;
    std::vector<uint8_t> counts;
    try {
        for (int32_t count : file_.voiceCounts) counts.push_back(static_cast<uint8_t>(std::clamp(count, 0, 255)));
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    for (int32_t s = 0; s < staves_; ++s) {
        if (!file_.quantize.allocVoices(s, file_.voiceCounts[static_cast<std::size_t>(s)])) return kErrOutOfMemory;
    }
    if (!file_.onOff.create(staves_, counts)) return kErrOutOfMemory;
    if (file_.playModeNow() == kModeLoadAndPlay) return kOk;
    if (!file_.voiceMix.resize(file_.voiceCounts) || !setUpInstruments()) return kErrOutOfMemory;
    for (int32_t s = 0; s < staves_; ++s) {
        const int32_t last = std::max(file_.instruments.count(s) - 1, 0);
        for (int32_t v = 0; v < file_.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            const uint32_t status = kNoteOn | file_.instruments.midiChannel(s, std::min(v, last));
            for (CScoreEvent& e : file_.events.events(s, v)) {
                if (!e.isKind(kSoundingKinds)) continue;
                for (int32_t h = 0; h < std::min(e.headCount, scorecore::kMaxHeads); ++h) {
                    uint32_t& message = e.midi[static_cast<std::size_t>(h)];
                    message = (message & ~0xFFu) | status;
                }
            }
        }
    }
    return file_.allocatePlayState() ? kOk : kErrOutOfMemory;
}

}  // namespace scoreconv
