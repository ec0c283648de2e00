#include "play/event_arrays.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrDom;
using scorecore::kErrIndex;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

bool matches(const CScoreEvent& event, uint32_t kindMask) { return kindMask == 0 || (event.kind & kindMask) != 0; }

int32_t usedHeads(const CScoreEvent& event) { return std::clamp(event.headCount, 0, scorecore::kMaxHeads); }

// Notes keep their programs in the event but never send the second data
// byte of a program change or channel pressure.
void normaliseMessages(CScoreEvent& event) {
    if ((event.kind & (scorecore::kKindNote | scorecore::kKindGrace | scorecore::kKindChord)) == 0) return;
    for (int32_t h = 0; h < usedHeads(event); ++h) {
        uint32_t& message = event.midi[static_cast<std::size_t>(h)];
        const uint32_t status = message & 0xFFu;
        if (status >= 0xC0 && status <= 0xDF) message &= 0xFFFFu;
    }
}

bool hasWedge(const CScoreEvent& event, int32_t code, int32_t number) {
    return std::any_of(event.wedges.begin(), event.wedges.end(),
                       [&](const scorecore::CScoreWedge& w) { return w.code == code && w.number == number; });
}

int32_t toIndex(std::size_t i) { return static_cast<int32_t>(i); }

}  // namespace

// --- score-wide event values ------------------------------------------------------------

void makeTempoEvent(CScoreEvent& event, int32_t tick, int32_t tempo) {
    event.clear();
    event.start = tick;
    event.kind = scorecore::kKindTempo;
    event.headCount = 1;
    event.midi[0] = static_cast<uint32_t>(tempo);
}

int32_t eventTempo(const CScoreEvent& event) { return static_cast<int32_t>(event.midi[0]); }

bool makeTimeSigEvent(CScoreEvent& event, int32_t tick, int32_t beats, int32_t unitIndex) {
    if (beats < 1 || beats > 255 || unitIndex < 0 || unitIndex >= scorecore::kBeatUnitCount) return false;
    event.clear();
    event.start = tick;
    event.kind = scorecore::kKindTimeSig;
    event.headCount = 1;
    event.meterBeats = static_cast<uint8_t>(beats);
    event.meterUnit = static_cast<uint8_t>(unitIndex);
    return true;
}

bool eventMeter(const CScoreEvent& event, int32_t ticksPerQuarter, scorecore::CMeter& meter) {
    if (!event.isKind(scorecore::kKindTimeSig) || ticksPerQuarter < 1) return false;
    scorecore::CMeter read;
    read.init(ticksPerQuarter, event.meterBeats, event.meterUnit);
    if (!read.isValid() || read.ticksPerBar <= 0) return false;
    meter = read;
    return true;
}

void makeKeySigEvent(CScoreEvent& event, int32_t tick, int32_t fifths, bool major) {
    event.clear();
    event.start = tick;
    event.kind = scorecore::kKindKeySig;
    event.headCount = 1;
    const auto low = static_cast<uint8_t>(static_cast<int8_t>(std::clamp(fifths, -7, 7)));
    event.midi[0] = low | (major ? 0x100u : 0u);
}

int32_t eventKeyFifths(const CScoreEvent& event) {
    return std::clamp<int32_t>(static_cast<int8_t>(event.midi[0] & 0xFFu), -7, 7);
}

bool eventKeyMajor(const CScoreEvent& event) { return (event.midi[0] & 0x100u) != 0; }

void setRepeatTimes(CScoreEvent& event, int32_t times) { event.midi[0] = static_cast<uint32_t>(std::max(times, 0)); }

int32_t eventRepeatTimes(const CScoreEvent& event) {
    return static_cast<int32_t>(std::min<uint32_t>(event.midi[0], std::numeric_limits<int32_t>::max()));
}

uint32_t endingPasses(std::string_view numbers) {
    constexpr int32_t kLastPass = 32;
    uint32_t passes = 0;
    int32_t previous = 0;  // the number read last, 0 none
    bool range = false;    // a dash follows it
    std::size_t i = 0;
    while (i < numbers.size()) {
        const char c = numbers[i];
        if (c < '0' || c > '9') {
            if (c == '-') range = previous > 0;
            if (c == ',') range = false;
            ++i;
            continue;
        }
        int32_t value = 0;
        for (; i < numbers.size() && numbers[i] >= '0' && numbers[i] <= '9'; ++i) {
            value = std::min(value * 10 + (numbers[i] - '0'), kLastPass + 1);
        }
        const int32_t from = range && previous < value ? previous + 1 : value;
        for (int32_t pass = std::max(from, 1); pass <= std::min(value, kLastPass); ++pass) passes |= 1u << (pass - 1);
        previous = value;
        range = false;
    }
    return passes;
}

// --- storage ----------------------------------------------------------------------------

bool CEventArrays::allocRows(int32_t rows) {
    if (rows < 0) return false;
    try {
        std::vector<std::vector<Stream>> fresh(static_cast<std::size_t>(rows));
        rows_.swap(fresh);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool CEventArrays::allocVoices(int32_t row, int32_t voices) {
    if (row < 0 || row >= rowCount() || voices < 0) return false;
    try {
        std::vector<Stream> fresh(static_cast<std::size_t>(voices));
        rows_[static_cast<std::size_t>(row)].swap(fresh);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool CEventArrays::insertRows(int32_t before, int32_t count) {
    if (before < 0 || before > rowCount() || count < 0) return false;
    try {
        rows_.insert(rows_.begin() + before, static_cast<std::size_t>(count), std::vector<Stream>());
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void CEventArrays::clear() { std::vector<std::vector<Stream>>().swap(rows_); }

int32_t CEventArrays::voiceCount(int32_t row) const {
    if (row < 0 || row >= rowCount()) return 0;
    return toIndex(rows_[static_cast<std::size_t>(row)].size());
}

CEventArrays::Stream* CEventArrays::stream(int32_t row, int32_t voice) {
    if (voice < 0 || voice >= voiceCount(row)) return nullptr;
    return &rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(voice)];
}

const CEventArrays::Stream* CEventArrays::stream(int32_t row, int32_t voice) const {
    return const_cast<CEventArrays*>(this)->stream(row, voice);
}

int32_t CEventArrays::eventCount(int32_t row, int32_t voice) const {
    const Stream* s = stream(row, voice);
    return s != nullptr ? toIndex(s->size()) : 0;
}

CScoreEvent* CEventArrays::event(int32_t row, int32_t voice, int32_t index) {
    Stream* s = stream(row, voice);
    if (s == nullptr || index < 0 || index >= toIndex(s->size())) return nullptr;
    return &(*s)[static_cast<std::size_t>(index)];
}

const CScoreEvent* CEventArrays::event(int32_t row, int32_t voice, int32_t index) const {
    return const_cast<CEventArrays*>(this)->event(row, voice, index);
}

std::span<const CScoreEvent> CEventArrays::events(int32_t row, int32_t voice) const {
    const Stream* s = stream(row, voice);
    return s != nullptr ? std::span<const CScoreEvent>(*s) : std::span<const CScoreEvent>();
}

std::span<CScoreEvent> CEventArrays::events(int32_t row, int32_t voice) {
    Stream* s = stream(row, voice);
    return s != nullptr ? std::span<CScoreEvent>(*s) : std::span<CScoreEvent>();
}

int CEventArrays::store(Stream& events, std::size_t at, const CScoreEvent& event) {
    // The copy is made first: the event may live in this very array, which
    // growing would move.
    CScoreEvent copy;
    if (!event.copyTo(copy)) return kErrOutOfMemory;
    normaliseMessages(copy);
    try {
        events.insert(events.begin() + static_cast<std::ptrdiff_t>(at), std::move(copy));
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    } catch (const std::length_error&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

int CEventArrays::append(int32_t row, int32_t voice, const CScoreEvent& event) {
    Stream* s = stream(row, voice);
    if (s == nullptr) return kErrIndex;
    return store(*s, s->size(), event);
}

int CEventArrays::insertInOrder(int32_t row, int32_t voice, const CScoreEvent& event) {
    Stream* s = stream(row, voice);
    if (s == nullptr) return kErrIndex;
    // Binary search for the first later start; the common case, an event at
    // the end, costs O(log n).
    std::size_t low = 0;
    std::size_t high = s->size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        if ((*s)[mid].start <= event.start) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    return store(*s, low, event);
}

int CEventArrays::merge(int32_t row, int32_t voice, const std::vector<bool>& dropped,
                        std::vector<CScoreEvent>& added) {
    Stream* s = stream(row, voice);
    if (s == nullptr) return kErrIndex;
    Stream& list = *s;
    const auto byStart = [](const CScoreEvent& a, const CScoreEvent& b) { return a.start < b.start; };
    const auto isDropped = [&dropped](std::size_t i) { return i < dropped.size() && dropped[i]; };
    std::size_t kept = 0;
    std::vector<std::size_t> before;  // per added event: the kept events that go before it
    try {
        // Made mark after mark, the added events are mostly in order already.
        if (!std::is_sorted(added.begin(), added.end(), byStart)) std::stable_sort(added.begin(), added.end(), byStart);
        before.resize(added.size());
        std::size_t a = 0;
        for (std::size_t i = 0; i < list.size(); ++i) {
            while (a < added.size() && added[a].start < list[i].start) before[a++] = kept;
            if (!isDropped(i)) ++kept;
        }
        while (a < added.size()) before[a++] = kept;
        list.reserve(kept + added.size());
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    // Nothing below allocates: the kept events close up, then from the back
    // each goes to its place, the added ones between them.
    std::size_t at = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (isDropped(i)) continue;
        if (at != i) list[at] = std::move(list[i]);
        ++at;
    }
    list.resize(kept);
    list.resize(kept + added.size());
    std::size_t to = list.size();
    std::size_t from = kept;
    for (std::size_t b = added.size(); b-- > 0;) {
        while (from > before[b]) list[--to] = std::move(list[--from]);
        list[--to] = std::move(added[b]);
    }
    for (CScoreEvent& e : list) normaliseMessages(e);
    added.clear();
    return kOk;
}

int CEventArrays::remove(int32_t row, int32_t voice, int32_t index) {
    Stream* s = stream(row, voice);
    if (s == nullptr) return kErrIndex;
    if (s->empty()) return kErrNotPresent;
    if (index < 0 || index >= toIndex(s->size())) return kErrIndex;
    s->erase(s->begin() + index);
    if (s->empty()) Stream().swap(*s);
    return kOk;
}

// --- searches ---------------------------------------------------------------------------

int32_t CEventArrays::findAtTick(uint32_t kindMask, int32_t tick, int32_t row, int32_t voice,
                                 int32_t from) const {
    const auto list = events(row, voice);
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < list.size(); ++i) {
        if (list[i].start == tick && matches(list[i], kindMask)) return toIndex(i);
    }
    return -1;
}

int32_t CEventArrays::findInWindow(uint32_t kindMask, int32_t low, int32_t high, int32_t row, int32_t voice,
                                   int32_t from) const {
    if (low > high) return -1;
    const auto list = events(row, voice);
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < list.size(); ++i) {
        if (list[i].start >= low && list[i].start <= high && matches(list[i], kindMask)) return toIndex(i);
    }
    return -1;
}

int32_t CEventArrays::nextOfKind(uint32_t kindMask, int32_t row, int32_t voice, int32_t index) const {
    const auto list = events(row, voice);
    const int64_t first = std::max<int64_t>(static_cast<int64_t>(index) + 1, 0);
    for (auto i = static_cast<std::size_t>(first); i < list.size(); ++i) {
        if (matches(list[i], kindMask)) return toIndex(i);
    }
    return -1;
}

int32_t CEventArrays::previousOfKind(uint32_t kindMask, int32_t row, int32_t voice, int32_t before) const {
    const auto list = events(row, voice);
    const auto end = static_cast<std::size_t>(std::clamp<int64_t>(before, 0, static_cast<int64_t>(list.size())));
    for (std::size_t i = end; i-- > 0;) {
        if (matches(list[i], kindMask)) return toIndex(i);
    }
    return -1;
}

int32_t CEventArrays::nextGlobalOfKind(int32_t& position, uint32_t kindMask) const {
    position = nextOfKind(kindMask, globalRow(), 0, position);
    return position;
}

int32_t CEventArrays::nearestNote(int32_t row, int32_t tick, Nearest form, int32_t& voiceOut) const {
    voiceOut = -1;
    int32_t found = -1;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    const bool withDynamic = form != Nearest::Either;
    const auto fits = [withDynamic](const CScoreEvent& e) {
        return e.isKind(scorecore::kKindNote) && (!withDynamic || e.dynamic.code != 0);
    };
    // Each voice is in time order: the search starts at the tick and stops
    // at the first fitting note on each side. Of two at the same distance the
    // earlier one wins, and of two voices the first.
    for (int32_t v = 0; v < voiceCount(row); ++v) {
        const auto list = events(row, v);
        int32_t index = -1;
        int64_t distance = std::numeric_limits<int64_t>::max();
        if (form != Nearest::AfterWithDynamic) {
            index = latestFittingAtOrBefore(list, tick, fits);
            if (index >= 0) distance = int64_t{tick} - list[static_cast<std::size_t>(index)].start;
        }
        if (form != Nearest::BeforeWithDynamic) {
            // At the tick itself only when nothing before it is looked at.
            const int64_t from = form == Nearest::AfterWithDynamic ? int64_t{tick} : int64_t{tick} + 1;
            const auto first = std::partition_point(list.begin(), list.end(),
                                                    [from](const CScoreEvent& e) { return e.start < from; });
            const auto after = std::find_if(first, list.end(), fits);
            if (after != list.end() && int64_t{after->start} - tick < distance) {
                distance = int64_t{after->start} - tick;
                index = toIndex(static_cast<std::size_t>(after - list.begin()));
            }
        }
        if (index >= 0 && distance < bestDistance) {
            bestDistance = distance;
            found = index;
            voiceOut = v;
        }
    }
    return found;
}

int32_t CEventArrays::wedgeStopOf(int32_t row, int32_t after, int32_t number) const {
    const auto list = events(row, 0);
    const int64_t first = std::max<int64_t>(static_cast<int64_t>(after) + 1, 0);
    for (auto i = static_cast<std::size_t>(first); i < list.size(); ++i) {
        if (list[i].isKind(kKindRamp) && hasWedge(list[i], scorecore::kWedgeStop, number)) return toIndex(i);
    }
    return -1;
}

int32_t CEventArrays::wedgeStartBefore(int32_t row, int32_t index, int32_t number) const {
    const auto list = events(row, 0);
    if (index < 0 || list.empty()) return -1;
    for (auto i = std::min(static_cast<std::size_t>(index), list.size() - 1) + 1; i-- > 0;) {
        const CScoreEvent& e = list[i];
        if (e.isKind(kKindRamp) && (hasWedge(e, scorecore::kWedgeCrescendo, number) ||
                                    hasWedge(e, scorecore::kWedgeDiminuendo, number))) {
            return toIndex(i);
        }
    }
    return -1;
}

uint8_t CEventArrays::voiceChannel(int32_t staff, int32_t voice) const {
    for (const CScoreEvent& e : events(staff, voice)) {
        if (usedHeads(e) == 0) continue;
        const uint32_t status = e.midi[0] & 0xFFu;
        if (status >= 0x80 && status <= 0xEF) return static_cast<uint8_t>(status & 0x0Fu);
    }
    return 255;
}

// --- passes -----------------------------------------------------------------------------

int CEventArrays::slurContinuation(int32_t row, int32_t voice) {
    Stream* s = stream(row, voice);
    if (s == nullptr) return kErrIndex;
    struct Span {
        std::size_t start;
        std::size_t stop;
        int32_t number;
    };
    try {
        // From the end, so that each start meets the first stop after it.
        std::unordered_map<int32_t, std::size_t> nextStop;
        std::vector<Span> spans;
        for (std::size_t i = s->size(); i-- > 0;) {
            const CScoreEvent& e = (*s)[i];
            for (const auto& item : e.items) {
                const auto stop = nextStop.find(item.number);
                if ((item.flags & scorecore::kItemSlurStart) != 0 && stop != nextStop.end()) {
                    spans.push_back({i, stop->second, item.number});
                }
            }
            for (const auto& item : e.items) {
                if ((item.flags & scorecore::kItemSlurStop) != 0) nextStop[item.number] = i;
            }
        }
        for (const Span& span : spans) {
            scorecore::CScoreEventItem slurred;
            slurred.number = span.number;
            slurred.flags = scorecore::kItemSlurred;
            for (std::size_t i = span.start + 1; i < span.stop; ++i) {
                CScoreEvent& e = (*s)[i];
                if (e.isKind(scorecore::kKindNote) && !e.appendItem(slurred)) return kErrOutOfMemory;
            }
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

int CEventArrays::repeatPreviousBars(int32_t bars, int32_t row, int32_t voiceLimit, int32_t ticksPerQuarter,
                                     int32_t& tick) {
    if (row < 0 || row >= rowCount()) return kErrIndex;
    scorecore::CMeter meter;
    bool haveMeter = false;
    for (const CScoreEvent& e : events(globalRow(), 0)) {
        if (e.start <= tick && e.isKind(scorecore::kKindTimeSig)) haveMeter = eventMeter(e, ticksPerQuarter, meter) || haveMeter;
    }
    if (!haveMeter) return kErrDom;
    const int64_t length = static_cast<int64_t>(std::max(bars, 0)) * meter.ticksPerBar;
    if (length > std::numeric_limits<int32_t>::max()) return kErrNotPresent;
    const int64_t windowStart = static_cast<int64_t>(tick) - length;
    const int32_t voices = std::clamp(voiceLimit, 0, voiceCount(row));
    for (int32_t v = 0; v < voices; ++v) {
        const auto list = events(row, v);
        if (!list.empty() && list.front().start > windowStart) return kErrNotPresent;
    }
    for (int32_t v = 0; v < voices; ++v) {
        std::vector<CScoreEvent> copies;
        try {
            for (const CScoreEvent& e : events(row, v)) {
                const int64_t shifted = static_cast<int64_t>(e.start) + length;
                if (e.start < windowStart || e.start >= tick || shifted > std::numeric_limits<int32_t>::max()) continue;
                copies.push_back(e);
                copies.back().start = static_cast<int32_t>(shifted);
            }
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
        for (const CScoreEvent& copy : copies) {
            if (const int rc = append(row, v, copy); rc != kOk) return rc;
        }
    }
    tick = static_cast<int32_t>(length);
    return kOk;
}

}  // namespace scoreconv
