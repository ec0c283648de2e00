#include "play/play_passes.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "play/play_model.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrIndex;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr uint32_t kControlChange = 0xB0;
constexpr uint32_t kVolumeController = 7;
constexpr uint32_t kSlashedGrace = 4;
constexpr int32_t kAccentReleaseSteps = 24;
constexpr int32_t kReleaseAfterFp = 44;
constexpr int32_t kReleaseDivide = -7;
constexpr int32_t kTargetDouble = -5;
constexpr int32_t kTargetHalf = -6;
constexpr int32_t kLevelPiano = 44;
constexpr int32_t kLevelMezzoForte = 74;
constexpr int32_t kLevelForte = 90;
constexpr int32_t kLevelPianissimo = 22;
// Ramps longer than this many steps are spread over this many.
constexpr int32_t kMaxRampSteps = 4096;
// Steps all ramps of a voice may add; once they are used up, each further
// ramp jumps in one step, so that a file's wedges cannot multiply the events.
constexpr int64_t kMaxRampStepsPerVoice = 16 * int64_t{kMaxRampSteps};

bool isGrace(const CScoreEvent& e) { return e.isKind(scorecore::kKindGrace); }
bool isOrdinaryNote(const CScoreEvent& e) { return e.isKind(scorecore::kKindNote) && !isGrace(e); }
int64_t endOf(const CScoreEvent& e) { return static_cast<int64_t>(e.start) + e.duration; }

int64_t floorTo(int64_t tick, int64_t grid) {
    const int64_t q = tick / grid;
    return (tick % grid != 0 && tick < 0 ? q - 1 : q) * grid;
}

// Length of each grace of a group led by `first` before a note of `duration`.
int32_t graceLength(const CScoreEvent& first, int32_t count, int32_t duration, int32_t ticksPerQuarter) {
    int32_t length = 0;
    if (first.hasStem(kSlashedGrace)) {
        length = ticksPerQuarter / 16;
    } else if (!first.baseText.empty()) {
        length = noteTypeTicks(first.baseText, first.dots, first.tupletCount, first.tupletNormal, ticksPerQuarter);
        if (length == 0) length = ticksPerQuarter / 2;  // an unknown word: an eighth
        if (length >= ticksPerQuarter / 8) length /= 2;
    }
    while (length > 0 && static_cast<int64_t>(count) * length > duration / 2) length /= 2;
    return length;
}

// --- wedges ------------------------------------------------------------------------------

bool isStartCode(int32_t code) {
    return code == scorecore::kWedgeCrescendo || code == scorecore::kWedgeDiminuendo ||
           code == kWedgeWordCrescendo || code == kWedgeWordDiminuendo;
}

bool hasWedgeStart(const CScoreEvent& e) {
    return e.hasWedge(scorecore::kWedgeCrescendo) || e.hasWedge(scorecore::kWedgeDiminuendo);
}

// The nearest note at or before the tick that carries a level (any voice).
const CScoreEvent* nearestLevelBefore(const CEventArrays& arrays, int32_t row, int32_t tick) {
    const CScoreEvent* best = nullptr;
    const auto fits = [](const CScoreEvent& e) { return e.isKind(scorecore::kKindNote) && e.dynamic.isLevel(); };
    for (int32_t v = 0; v < arrays.voiceCount(row); ++v) {
        const auto list = arrays.events(row, v);
        const int32_t index = latestFittingAtOrBefore(list, tick, fits);
        if (index < 0) continue;
        const CScoreEvent& e = list[static_cast<std::size_t>(index)];
        if (best == nullptr || e.start > best->start) best = &e;
    }
    return best;
}

const CScoreEvent* nearest(const CEventArrays& arrays, int32_t row, int32_t tick, CEventArrays::Nearest form) {
    int32_t voice = -1;
    const int32_t index = arrays.nearestNote(row, tick, form, voice);
    return index >= 0 ? arrays.event(row, voice, index) : nullptr;
}

struct Ramp {
    bool made = false;
    int64_t start = 0;
    int64_t end = 0;
    int32_t level = 0;
    int32_t target = 0;
};

// The ramp of one wedge start; made false when the mark makes none.
Ramp planRamp(const CEventArrays& arrays, int32_t row, const scorecore::CScoreWedge& wedge, int32_t tick,
              const CScoreEvent* stop, int32_t ticksPerQuarter) {
    Ramp ramp;
    const bool words = wedge.code == kWedgeWordCrescendo || wedge.code == kWedgeWordDiminuendo;
    const bool crescendo = wedge.code == scorecore::kWedgeCrescendo || wedge.code == kWedgeWordCrescendo;
    ramp.start = floorTo(tick, std::max(ticksPerQuarter / 4, 1));
    ramp.level = crescendo ? kLevelPiano : kLevelMezzoForte;
    int64_t noteLength = 0;
    if (words) {
        const CScoreEvent* before = nearest(arrays, row, tick, CEventArrays::Nearest::BeforeWithDynamic);
        const CScoreEvent* after = nearest(arrays, row, tick, CEventArrays::Nearest::AfterWithDynamic);
        if (before == nullptr || after == nullptr || hasWedgeStart(*after)) return ramp;
        if (before->dynamic.isAccent()) ramp.level = crescendo ? kLevelMezzoForte : kLevelPiano;
        if (before->dynamic.isLevel()) ramp.level = before->dynamic.code;
        ramp.target = after->dynamic.isAccent() ? (crescendo ? kLevelForte : kLevelPianissimo) : after->dynamic.code;
        ramp.end = after->start;
        noteLength = after->duration;
    } else {
        if (stop == nullptr) return ramp;
        if (const CScoreEvent* level = nearestLevelBefore(arrays, row, tick)) {
            ramp.level = level->dynamic.code;
        } else if (const CScoreEvent* any = nearest(arrays, row, tick, CEventArrays::Nearest::Either);
                   any != nullptr && any->dynamic.isLevel()) {
            ramp.level = any->dynamic.code;
        }
        ramp.end = stop->start;
        ramp.target = crescendo ? kTargetDouble : kTargetHalf;
        if (const CScoreEvent* close = nearest(arrays, row, stop->start, CEventArrays::Nearest::Either)) {
            if (close->dynamic.isLevel()) ramp.target = close->dynamic.code;
            if (close->dynamic.code == 0 && close->start >= ramp.start && close->start < ramp.end) ramp.end = endOf(*close);
            noteLength = close->duration;
        }
    }
    if (ramp.end == ramp.start) ramp.end += noteLength;
    ramp.made = ramp.end > ramp.start;
    return ramp;
}

void addRampSteps(const Ramp& ramp, int32_t ticksPerQuarter, std::vector<CScoreEvent>& added) {
    const int64_t length = ramp.end - ramp.start;
    const int64_t left = std::max<int64_t>(kMaxRampStepsPerVoice - static_cast<int64_t>(added.size()), 1);
    const int64_t most = std::min<int64_t>(kMaxRampSteps, left);
    const int64_t n = std::clamp<int64_t>(length / std::max(ticksPerQuarter / 4, 1), 1, most);
    for (int64_t k = 0; k < n; ++k) {
        const int64_t tick = k == n - 1 && n > 1 ? ramp.end : ramp.start + k * (length / n);
        CScoreEvent step;
        makeRampStep(step, static_cast<int32_t>(tick),
                     CRampStep{ramp.level, static_cast<int32_t>(n), ramp.target, static_cast<int32_t>(k)});
        added.push_back(std::move(step));
    }
}

// The index of the stop (-10) of the wedge number after `from`; -1 when none.
int32_t stopAfter(std::span<const CScoreEvent> list, std::size_t from, int32_t number,
                  const std::vector<std::vector<bool>>& used) {
    for (std::size_t i = from + 1; i < list.size(); ++i) {
        if (!list[i].isKind(kKindRamp)) continue;
        for (std::size_t w = 0; w < list[i].wedges.size(); ++w) {
            const auto& wedge = list[i].wedges[w];
            if (wedge.code == scorecore::kWedgeStop && wedge.number == number && !used[i][w]) {
                return static_cast<int32_t>(i);
            }
        }
    }
    return -1;
}

void markStopUsed(const CScoreEvent& e, int32_t number, std::vector<bool>& used) {
    for (std::size_t w = 0; w < e.wedges.size(); ++w) {
        if (e.wedges[w].code == scorecore::kWedgeStop && e.wedges[w].number == number && !used[w]) {
            used[w] = true;
            return;
        }
    }
}

}  // namespace

int fixGraceTiming(CEventArrays& arrays, int32_t row, int32_t voice, int32_t ticksPerQuarter) {
    if (voice < 0 || voice >= arrays.voiceCount(row)) return kErrIndex;
    std::span<CScoreEvent> list = arrays.events(row, voice);
    std::size_t i = 0;
    while (i < list.size()) {
        if (!isGrace(list[i])) {
            ++i;
            continue;
        }
        std::vector<std::size_t> graces;
        std::size_t j = i;
        for (; j < list.size() && !isOrdinaryNote(list[j]); ++j) {
            if (isGrace(list[j])) graces.push_back(j);
        }
        if (j == list.size()) break;
        CScoreEvent& principal = list[j];
        const auto count = static_cast<int32_t>(graces.size());
        const int32_t length = graceLength(list[graces.front()], count, principal.duration, ticksPerQuarter);
        if (length > 0) {
            const bool slashed = list[graces.front()].hasStem(kSlashedGrace);
            for (int32_t k = 0; k < count; ++k) {
                CScoreEvent& grace = list[graces[static_cast<std::size_t>(k)]];
                grace.start = principal.start + k * length;
                grace.duration = length;
                if (!slashed) grace.clearKind(grace.kind & (scorecore::kKindGrace | scorecore::kKindSmall));
            }
            principal.start += count * length;
            principal.duration -= count * length;
        }
        i = j + 1;
    }
    // A note moved later may now start after events that followed it.
    const auto byStart = [](const CScoreEvent& a, const CScoreEvent& b) { return a.start < b.start; };
    if (!std::is_sorted(list.begin(), list.end(), byStart)) std::stable_sort(list.begin(), list.end(), byStart);
    return kOk;
}

void makeRampStep(CScoreEvent& event, int32_t tick, const CRampStep& step) {
    event.clear();
    event.kind = kKindRamp;
    event.start = tick;
    event.headCount = 1;
    event.midi[0] = kControlChange | kVolumeController << 8 |
                    static_cast<uint32_t>(std::clamp(step.startLevel, 0, 127)) << 16;
    // The slots past the head count keep the step count and number.
    event.midi[1] = static_cast<uint32_t>(std::max(step.steps, 1));
    event.midi[2] = static_cast<uint32_t>(std::max(step.step, 0));
    event.dynamic.code = step.target;
}

bool rampStepOf(const CScoreEvent& event, CRampStep& step) {
    if (!event.isKind(kKindRamp) || event.headCount != 1 || (event.midi[0] & 0xFFFFu) != (kControlChange | kVolumeController << 8)) {
        return false;
    }
    step.startLevel = static_cast<int32_t>((event.midi[0] >> 16) & 0x7Fu);
    step.steps = static_cast<int32_t>(std::min<uint32_t>(event.midi[1], kMaxRampSteps));
    step.step = static_cast<int32_t>(std::min<uint32_t>(event.midi[2], kMaxRampSteps));
    step.target = event.dynamic.code;
    return true;
}

int wedgesToRamps(CEventArrays& arrays, int32_t row, int32_t ticksPerQuarter) {
    if (arrays.voiceCount(row) < 1) return kErrIndex;
    const std::span<const CScoreEvent> list = arrays.events(row, 0);
    std::vector<std::vector<bool>> used(list.size());
    std::vector<CScoreEvent> added;
    try {
        for (std::size_t i = 0; i < list.size(); ++i) used[i].assign(list[i].wedges.size(), false);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const CScoreEvent& mark = list[i];
            if (!mark.isKind(kKindRamp)) continue;
            for (std::size_t w = 0; w < mark.wedges.size(); ++w) {
                const auto& wedge = mark.wedges[w];
                if (!isStartCode(wedge.code)) continue;
                used[i][w] = true;
                const bool words = wedge.code == kWedgeWordCrescendo || wedge.code == kWedgeWordDiminuendo;
                const int32_t stop = words ? -1 : stopAfter(list, i, wedge.number, used);
                const CScoreEvent* stopEvent = stop >= 0 ? &list[static_cast<std::size_t>(stop)] : nullptr;
                if (stopEvent != nullptr) markStopUsed(*stopEvent, wedge.number, used[static_cast<std::size_t>(stop)]);
                const Ramp ramp = planRamp(arrays, row, wedge, mark.start, stopEvent, ticksPerQuarter);
                if (ramp.made) addRampSteps(ramp, ticksPerQuarter, added);
            }
        }
        // A mark whose wedges were all taken (start or stop) leaves the voice.
        std::vector<bool> dropped(list.size(), false);
        bool any = !added.empty();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!list[i].isKind(kKindRamp) || list[i].wedges.empty()) continue;
            dropped[i] = std::all_of(used[i].begin(), used[i].end(), [](bool u) { return u; });
            any = any || dropped[i];
        }
        if (!any) return kOk;
        return arrays.merge(row, 0, dropped, added);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

int releaseAccents(CEventArrays& arrays, int32_t row, int32_t voice, int32_t ticksPerQuarter) {
    if (voice < 0 || voice >= arrays.voiceCount(row)) return kErrIndex;
    const std::span<const CScoreEvent> list = arrays.events(row, voice);
    const int64_t window = static_cast<int64_t>(kAccentReleaseSteps) * std::max(ticksPerQuarter / 32, 1);
    std::vector<CScoreEvent> added;
    try {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const CScoreEvent& accented = list[i];
            if (!accented.isKind(scorecore::kKindNote) || !accented.dynamic.isAccent()) continue;
            int64_t tick = accented.start + window;
            for (std::size_t j = i + 1; j < list.size(); ++j) {
                if (!list[j].isKind(scorecore::kKindNote)) continue;
                if (list[j].start > accented.start && list[j].start - accented.start <= window) tick = list[j].start;
                break;
            }
            CScoreEvent release;
            release.kind = kKindDynamicMark;
            release.start = static_cast<int32_t>(std::min<int64_t>(tick, std::numeric_limits<int32_t>::max()));
            release.headCount = 1;
            release.midi[0] = kControlChange | kVolumeController << 8;
            release.dynamic.code = accented.dynamic.code == -1 ? kReleaseAfterFp : kReleaseDivide;
            added.push_back(std::move(release));
        }
        if (added.empty()) return kOk;
        return arrays.merge(row, voice, {}, added);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

}  // namespace scoreconv
