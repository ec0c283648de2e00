#include "play/play_cursor.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace scoreconv {

CPlayCursor::CPlayCursor() { position.flag = 1; }

bool CPlayCursor::allocate(std::span<const int32_t> staffVoiceCounts) {
    CVoiceTable<CVoiceLevel> newLevels;
    CVoiceTable<int32_t> newTicks;
    CVoiceTable<int32_t> newIndexes;
    CVoiceFlags newDone;
    std::vector<int32_t> counts;
    try {
        counts.assign(staffVoiceCounts.begin(), staffVoiceCounts.end());
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!newLevels.resize(staffVoiceCounts) || !newTicks.resize(staffVoiceCounts, 0) ||
        !newIndexes.resize(staffVoiceCounts, 0) ||
        !newDone.create(static_cast<int32_t>(staffVoiceCounts.size()), staffVoiceCounts)) {
        return false;
    }
    levels = std::move(newLevels);
    nextTick = std::move(newTicks);
    eventIndex = std::move(newIndexes);
    done = std::move(newDone);
    voiceCounts = std::move(counts);
    return true;
}

void CPlayCursor::free() {
    levels.clear();
    nextTick.clear();
    eventIndex.clear();
    done.free();
    std::vector<int32_t>().swap(voiceCounts);
    rewind();
}

void CPlayCursor::rewind() {
    currentTick = 0;
    position.bar = 1;
    position.beat = 1;
    position.tick = 0;
    globalIndex = 0;
    lastRepeatIndex = -1;
    lastFirstEndingIndex = -1;
    keyIndex = nextKeyIndex = -1;
    tempoIndex = nextTempoIndex = -1;
    timeIndex = nextTimeIndex = -1;
    nextTick.fill(0);
    eventIndex.fill(0);
}

void CPlayCursor::copyFrom(const CPlayCursor& other, bool withTempo) {
    if (this == &other) return;
    const int32_t keptTempo = tempo;
    *this = other;
    if (!withTempo) tempo = keptTempo;
}

void CPlayCursor::swapWith(CPlayCursor& other, bool withTempo) {
    if (this == &other) return;
    const int32_t mine = tempo;
    const int32_t theirs = other.tempo;
    std::swap(*this, other);
    if (!withTempo) {
        tempo = mine;
        other.tempo = theirs;
    }
}

// --- sounding notes ---------------------------------------------------------------------

bool CHeldNotes::add(const CHeldNote& note) {
    if (count_ >= static_cast<int32_t>(notes_.size())) return false;
    notes_[static_cast<std::size_t>(count_++)] = note;
    return true;
}

bool CHeldNotes::holds(uint8_t channel, uint8_t key, bool audible) const {
    const uint32_t wanted = uint32_t{channel} | uint32_t{key} << 8;
    for (int32_t i = 0; i < count_; ++i) {
        const CHeldNote& note = notes_[static_cast<std::size_t>(i)];
        if ((note.off & 0xFF0Fu) == wanted && !(audible && note.silent)) return true;
    }
    return false;
}

bool CHeldNotes::take(uint8_t channel, uint8_t key, CHeldNote& out) {
    const uint32_t wanted = uint32_t{channel} | uint32_t{key} << 8;
    for (int32_t i = 0; i < count_; ++i) {
        if ((notes_[static_cast<std::size_t>(i)].off & 0xFF0Fu) != wanted) continue;
        out = removeAt(i);
        return true;
    }
    return false;
}

CHeldNote CHeldNotes::removeAt(int32_t i) {
    const CHeldNote note = notes_[static_cast<std::size_t>(i)];
    notes_[static_cast<std::size_t>(i)] = notes_[static_cast<std::size_t>(--count_)];
    return note;
}

bool CSoundingNotes::allocate(std::span<const int32_t> staffVoiceCounts) {
    CVoiceTable<scorecore::CScoreEvent> records;
    CVoiceTable<CHeldNotes> held;
    if (!records.resize(staffVoiceCounts) || !held.resize(staffVoiceCounts)) return false;
    records_ = std::move(records);
    held_ = std::move(held);
    return true;
}

void CSoundingNotes::clear() {
    records_.clear();
    held_.clear();
}

bool CSoundingNotes::any() const {
    bool sounding = false;
    records_.forEach([&](const scorecore::CScoreEvent& e) { sounding = sounding || e.headCount > 0; });
    held_.forEach([&](const CHeldNotes& h) { sounding = sounding || h.count() > 0; });
    return sounding;
}

void CSoundingNotes::silence() {
    records_.forEach([](scorecore::CScoreEvent& e) { e.headCount = 0; });
    held_.forEach([](CHeldNotes& h) { h.clear(); });
}

// --- render tracks ----------------------------------------------------------------------

bool CRenderTracks::allocate(int32_t n) {
    if (n < 0) return false;
    try {
        std::vector<scorecore::CMidiTrackStream> newStreams(static_cast<std::size_t>(n));
        std::vector<int32_t> sizes(static_cast<std::size_t>(n), 0);
        std::vector<int> deltas(static_cast<std::size_t>(n), 0);
        std::vector<int64_t> synced(static_cast<std::size_t>(n), 0);
        streams.swap(newStreams);
        headerSizes.swap(sizes);
        pendingDelta_.swap(deltas);
        syncedAt_.swap(synced);
        now_ = 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CRenderTracks::clear() {
    std::vector<scorecore::CMidiTrackStream>().swap(streams);
    std::vector<int32_t>().swap(headerSizes);
    std::vector<int>().swap(pendingDelta_);
    std::vector<int64_t>().swap(syncedAt_);
    now_ = 0;
}

bool CRenderTracks::has(int32_t track) const {
    const auto t = static_cast<std::size_t>(track);
    return track >= 0 && t < streams.size() && t < headerSizes.size() && t < pendingDelta_.size() &&
           t < syncedAt_.size();
}

void CRenderTracks::advance(int64_t ticks) {
    if (ticks > 0) now_ = ticks > std::numeric_limits<int64_t>::max() - now_ ? std::numeric_limits<int64_t>::max()
                                                                              : now_ + ticks;
}

int& CRenderTracks::delta(int32_t track) {
    const auto t = static_cast<std::size_t>(track);
    const int64_t passed = now_ - syncedAt_[t];
    if (passed > 0) {
        const int64_t grown = std::max<int64_t>(pendingDelta_[t], 0) + passed;
        pendingDelta_[t] = static_cast<int>(std::min<int64_t>(grown, std::numeric_limits<int>::max()));
    }
    syncedAt_[t] = now_;
    return pendingDelta_[t];
}

std::vector<int> CRenderTracks::deltas() {
    std::vector<int> out;
    out.reserve(pendingDelta_.size());
    for (int32_t t = 0; t < static_cast<int32_t>(pendingDelta_.size()); ++t) out.push_back(delta(t));
    return out;
}

}  // namespace scoreconv
