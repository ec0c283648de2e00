#include "musicxml/measure_walk.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "musicxml/mxml_file.h"
#include "musicxml/part_list.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrDom;
using scorecore::kErrNoteSkipped;
using scorecore::kErrStopped;
using scorecore::kOk;

namespace {

constexpr std::string_view kLogFunction = "mxmlConvertProc";
constexpr int32_t kDefaultTempo = 120;

// Gives the event the marks of the directions read before it; the note's
// own dynamic stays when it has one.
void takeMarks(CScoreEvent& event, CScoreEvent& marks) {
    if (marks.dynamic.code != 0 && event.dynamic.code == 0) event.dynamic = marks.dynamic;
    const auto prepend = [](auto& to, auto& from) {
        if (from.empty()) return;
        to.insert(to.begin(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
    };
    prepend(event.wedges, marks.wedges);
    prepend(event.texts, marks.texts);
    prepend(event.ornaments, marks.ornaments);
    marks.clear();
}

bool hasMarks(const CScoreEvent& marks) {
    return marks.dynamic.code != 0 || !marks.wedges.empty() || !marks.texts.empty() || !marks.ornaments.empty();
}

// Takes back the heads a chord note added when the note is skipped after all.
void dropHeadsFrom(CScoreEvent& event, int32_t heads) {
    if (heads < 0 || heads >= event.headCount) return;
    const auto n = static_cast<std::size_t>(heads);
    for (std::size_t h = n; h < static_cast<std::size_t>(std::min(event.headCount, scorecore::kMaxHeads)); ++h) {
        event.midi[h] = 0;
        event.accidentals[h] = scorecore::CEventAccidental{};
    }
    event.headCount = heads;
    if (event.pitches.size() > 2 * n) event.pitches.resize(2 * n);
    if (event.alterations.size() > 2 * n) event.alterations.resize(2 * n);
    if (event.headFlags.size() > n) event.headFlags.resize(n);
}

}  // namespace

double playSeconds(std::vector<CTempoMark> marks, int32_t initial, int64_t from, int64_t to,
                   int32_t ticksPerQuarter) {
    if (to <= from || ticksPerQuarter <= 0) return 0;
    std::stable_sort(marks.begin(), marks.end(),
                     [](const CTempoMark& a, const CTempoMark& b) { return a.tick < b.tick; });
    const auto seconds = [ticksPerQuarter](int64_t ticks, int32_t tempo) {
        return static_cast<double>(ticks) * 60.0 / (static_cast<double>(ticksPerQuarter) * std::max(tempo, 1));
    };
    double total = 0;
    int64_t at = from;
    int32_t tempo = initial;
    for (std::size_t i = 0; i < marks.size();) {
        const CTempoMark& first = marks[i];
        if (first.tick >= to) break;
        // The marks of one tick, in the order they were read.
        int32_t value = -1;
        for (; i < marks.size() && marks[i].tick == first.tick; ++i) {
            if (marks[i].part == first.part && marks[i].tempo > 0) value = marks[i].tempo;
        }
        if (value <= 0) continue;
        if (first.tick > at) {
            total += seconds(first.tick - at, tempo);
            at = first.tick;
        }
        tempo = value;
    }
    return total + seconds(to - at, tempo);
}

CMeasureWalk::CMeasureWalk(CMxmlFile& file, CWalkReceiver& receiver, CSpanFinder* spans)
    : file_(file), receiver_(receiver), state_(file.ticksPerQuarter, 1) {
    context_.mode = file.playModeNow();
    context_.ticksPerQuarter = file.ticksPerQuarter;
    context_.spans = spans;
}

int CMeasureWalk::run() {
    std::vector<xmlNodePtr> parts;
    if (file_.document.root() == nullptr || GetPartlistFromNode(file_.document.root(), parts) != kOk) return kErrDom;
    const auto partCount = static_cast<int32_t>(parts.size());
    begin(partCount, parts.empty() ? nullptr : parts.front());
    const std::vector<int32_t> indexes = partIndexesOfElements(file_, parts);
    for (int32_t p = 0; p < partCount; ++p) {
        // Every element has its entry after loading (part_list.h); the check guards the tables.
        const int32_t index = indexes[static_cast<std::size_t>(p)];
        if (const int rc = walkPartElement(parts[static_cast<std::size_t>(p)], index, p); rc != kOk) return rc;
    }
    return finish();
}

void CMeasureWalk::begin(int32_t partCount, const xmlNode* firstPart) {
    const auto measuresOfFirst = static_cast<int32_t>(mx::childrenNamed(firstPart, "measure").size());
    if (measuresOfFirst > 0) {
        file_.reportProgress(kProgressTotal, static_cast<platform::LParam>(measuresOfFirst) * partCount);
    }
    tempoMarks_.clear();
    scoreStart_ = 0;
    scoreEnd_ = 0;
    initialTempo_ = file_.cursor.tempo > 0 ? file_.cursor.tempo : kDefaultTempo;
}

int CMeasureWalk::walkPartElement(const xmlNode* part, int32_t index, int32_t documentIndex,
                                  const CPartTimings* timings) {
    if (index < 0 || index >= file_.voiceTables.partCount()) return kOk;
    file_.currentPart = index;
    if (const int rc = walkPart(part, index, documentIndex, timings); rc != kOk) return rc;
    return file_.stopRequested() ? kErrStopped : kOk;
}

int CMeasureWalk::finish() { return checkPlayTime(); }

// A score that plays for days would keep a play or a render busy as long:
// refused as no score this library reads.
int CMeasureWalk::checkPlayTime() {
    const double seconds = playSeconds(tempoMarks_, initialTempo_, scoreStart_, scoreEnd_, file_.ticksPerQuarter);
    if (seconds <= static_cast<double>(kMaxPlaySeconds)) return kOk;
    file_.logStep(kLogFunction, "score plays longer than 24 hours: refused");
    return scorecore::kErrUnknownFormat;
}

void CMeasureWalk::logCuts(int32_t index) {
    if (!state_.clock.cut() && !offsetCut_) return;
    file_.logStep(kLogFunction, "measure " + std::to_string(index + 1) + " of part " + std::to_string(part_ + 1) +
                                    " cut: a length or offset reached out of it");
}

int CMeasureWalk::walkPart(const xmlNode* part, int32_t index, int32_t documentIndex, const CPartTimings* timings) {
    part_ = index;
    firstStaff_ = std::max(file_.voiceTables.firstStaffOfPart(index), 0);
    state_ = CPartState(file_.ticksPerQuarter, file_.voiceTables.staffCount(index));
    context_.divisions = state_.clock.divisions();
    barStart_ = 0;
    lastNoteStart_ = 0;
    pending_.active = false;
    carry_.clear();
    std::vector<const xmlNode*> measures = mx::childrenNamed(part, "measure");
    if (index < static_cast<int32_t>(file_.parts.size())) {
        auto& list = file_.parts[static_cast<std::size_t>(index)].measures;
        list.clear();
        for (const xmlNode* m : measures) list.push_back(const_cast<xmlNodePtr>(m));
    }
    if (const int rc = receiver_.beginPart(index, state_); rc != kOk) return rc;
    const auto count = static_cast<int32_t>(measures.size());
    if (timings != nullptr && timings->measureCount() != measures.size()) timings = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        file_.currentMeasure = i;
        CWalkMeasure m;
        std::optional<std::span<const CTimingStep>> timing;
        if (timings != nullptr) timing = timings->measure(static_cast<std::size_t>(i));
        if (const int rc = walkMeasure(measures[static_cast<std::size_t>(i)], i, timing, m); rc != kOk) return rc;
        logCuts(i);
        file_.reportProgress(kProgressDone, static_cast<platform::LParam>(documentIndex) * count + i + 1);
        if (file_.stopRequested()) return kErrStopped;
        if (barStart_ >= kMaxTicks) {
            file_.logStep(kLogFunction, "part longer than the play model holds: cut");
            break;
        }
    }
    scoreEnd_ = std::max(scoreEnd_, barStart_);
    return receiver_.endPart(index, firstStaff_, state_.staffCount, barStart_);
}

int CMeasureWalk::walkMeasure(const xmlNode* measure, int32_t index,
                              std::optional<std::span<const CTimingStep>> timing, CWalkMeasure& m) {
    state_.clock.restart();
    offsetCut_ = false;
    CMeasureHeader header;
    if (const int rc = readMeasureHeader(measure, index == 0, state_, context_, header, timing); rc != kOk) return rc;
    context_.divisions = state_.clock.divisions();
    const int64_t nominal = state_.noTimeSignature ? header.length : state_.meter.ticksPerBar;
    m.part = part_;
    m.index = index;
    m.firstStaff = firstStaff_;
    m.staffCount = state_.staffCount;
    m.node = measure;
    m.header = &header;
    m.state = &state_;
    m.upbeat = index == 0 && header.length > 0 && header.length < nominal;
    if (m.upbeat) {
        barStart_ = -header.length;
        scoreStart_ = std::min(scoreStart_, barStart_);
    }
    m.barStart = barStart_;
    m.length = header.length > 0 ? header.length : std::max<int64_t>(nominal, 0);
    CMeasureStyle& style = state_.style;
    if (style.isRunning() && style.kind == CMeasureStyle::kMeasureRepeat) {
        if (style.left <= 0) {
            m.repeatBars = style.count;
            style.left = style.count;
        }
        --style.left;
        m.repeatGroupEnd = style.left == 0;
    }
    if (const int rc = receiver_.beginMeasure(m); rc != kOk) return rc;
    for (const xmlNode* c : mx::elements(measure)) {
        if (c == header.attributes) continue;
        if (const int rc = walkChild(c, m); rc != kOk) return rc;
        // A measure may hold any number of elements.
        if (file_.stopRequested()) return kErrStopped;
    }
    if (const int rc = flush(); rc != kOk) return rc;
    const int64_t next = std::min(barStart_ + m.length, kMaxTicks);
    if (const int rc = receiver_.endMeasure(m, next); rc != kOk) return rc;
    barStart_ = next;
    m.header = nullptr;
    return kOk;
}

int CMeasureWalk::walkChild(const xmlNode* c, CWalkMeasure& m) {
    const std::string_view name = mx::nameOf(c);
    if (name == "note") return readNoteElement(c);
    if (name == "backup") {
        state_.clock.backUp(readBackup(c));
    } else if (name == "forward") {
        CNoteInfo info;
        const double length = readForward(c, info.staff, info.voice);
        const int64_t start = now();
        state_.clock.advance(length);
        CWalkTarget target;
        if (!resolveTarget(info, target)) target = CWalkTarget{};
        return receiver_.forward(target, start, now() - start);
    } else if (name == "attributes") {
        // The pending chord comes before the change, for receivers that write in order.
        if (const int rc = flush(); rc != kOk) return rc;
        CAttributesRead read;
        if (const int rc = readAttributes(c, state_, context_, read); rc != kOk) return rc;
        context_.divisions = state_.clock.divisions();
        return receiver_.attributes(m, read, now());
    } else if (name == "direction") {
        return readDirectionElement(c);
    } else if (name == "sound") {
        const int32_t tempo = soundTempo(c);
        if (tempo > 0) return readTempo(tempo);
    } else if (name == "barline") {
        if (const int rc = flush(); rc != kOk) return rc;
        scorecore::CEventBarline barline;
        CBarlineInfo info;
        if (const int rc = readBarline(c, context_, barline, info); rc != kOk) return rc;
        int64_t tick = now();
        if (info.location == CBarlineInfo::Location::Left) tick = m.barStart;
        if (info.location == CBarlineInfo::Location::Right) tick = m.barStart + m.length;
        return receiver_.barline(m, tick, barline, info);
    }
    return kOk;
}

bool CMeasureWalk::resolveTarget(const CNoteInfo& info, CWalkTarget& target) {
    if (info.staff < 0 || info.staff >= state_.staffCount) return false;
    const int32_t number = file_.voiceTables.voiceNumber(part_, info.voice);
    if (number < 1) return false;
    const int32_t home = file_.voiceTables.staffOfVoice(part_, number - 1);
    if (home < 0) return false;
    const int32_t rank = file_.voiceTables.voiceRank(part_, home, number - 1);
    if (rank < 0) return false;
    target = CWalkTarget{part_, firstStaff_ + home, home, rank};
    return true;
}

int CMeasureWalk::readNoteElement(const xmlNode* note) {
    const bool chord = noteIsChord(note);
    if (!chord) {
        if (const int rc = flush(); rc != kOk) return rc;
    }
    const bool joins = chord && pending_.active;
    CScoreEvent& event = joins ? pending_.event : scratch_;
    if (!joins) scratch_.clear();
    CNoteInfo info;
    const int rc = readNote(note, context_, event, info);
    if (rc != kOk && rc != kErrNoteSkipped) return rc;

    // Time passes for every note that takes time, stored or not.
    int64_t start = now();
    int64_t length = 0;
    if (joins) {
        start = event.start;
    } else if (info.chord) {
        start = lastNoteStart_;
        length = state_.clock.lengthTicks(info.duration);
    } else if (!info.grace) {
        state_.clock.advance(info.duration);
        length = now() - start;
        lastNoteStart_ = start;
    }
    if (rc == kErrNoteSkipped) {
        if (joins) dropHeadsFrom(event, info.headsBefore);
        return kOk;
    }
    CWalkTarget target = pending_.target;
    if (!joins) {
        if (!resolveTarget(info, target)) return kOk;
        event.start = static_cast<int32_t>(start);
        event.duration = static_cast<int32_t>(length);
        // A chord note without a note before it leads its own chord.
        if (info.chord) {
            event.clearKind(scorecore::kKindChord);
            event.setKind(scorecore::kKindNote);
        }
        if ((!info.rest || receiver_.restsTakeMarks()) && hasMarks(carry_)) takeMarks(event, carry_);
    }
    if (const int noted = receiver_.noteRead(target, event, info, state_); noted != kOk) return noted;
    if (!joins) {
        std::swap(pending_.event, scratch_);
        pending_.target = target;
        pending_.active = true;
    }
    return kOk;
}

int CMeasureWalk::readDirectionElement(const xmlNode* direction) {
    CDirectionInfo info;
    if (mx::hasChild(direction, "direction-type")) {
        context_.reach = state_.clock.reach();
        context_.offsetBack = state_.clock.tick();
        context_.offsetOn = state_.clock.reach() - state_.clock.tick();
        if (const int rc = readDirection(direction, context_, carry_, info); rc != kOk) return rc;
        offsetCut_ = offsetCut_ || info.offsetCut;
    } else {
        info.tempo = soundTempo(mx::child(direction, "sound"));
        info.firstWedge = carry_.wedgeCount();
    }
    if (info.tempo > 0) {
        if (const int rc = readTempo(info.tempo); rc != kOk) return rc;
    }
    if (carry_.wedgeCount() > info.firstWedge) {
        const bool known = info.staff >= 0 && info.staff < state_.staffCount;
        return receiver_.direction(known ? firstStaff_ + info.staff : -1, now(), carry_, info.firstWedge);
    }
    return kOk;
}

int CMeasureWalk::readTempo(int32_t tempo) {
    file_.cursor.tempo = tempo;
    tempoMarks_.push_back(CTempoMark{now(), tempo, part_});
    return receiver_.tempo(now(), tempo);
}

int CMeasureWalk::flush() {
    if (!pending_.active) return kOk;
    pending_.active = false;
    return receiver_.event(pending_.target, pending_.event);
}

}  // namespace scoreconv
