// A per-(staff, voice) table: one row per staff, each with its own number of
// voices. The play model keeps volumes, pans, levels, event indexes and the
// sounding notes in these. Staff and voice numbers reach the table from files
// and from the host, so every access is checked: an unknown (staff, voice)
// reads as absent (null, or the caller's fallback) and writes to it are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

namespace scoreconv {

template <class T>
class CVoiceTable {
public:
    // One row per entry of voiceCounts, each holding that many copies of fill
    // (a negative count gives an empty row). False, with the table as it was,
    // when memory cannot be had.
    bool resize(std::span<const int32_t> voiceCounts, const T& fill = T{}) {
        try {
            std::vector<std::vector<T>> rows(voiceCounts.size());
            for (std::size_t s = 0; s < voiceCounts.size(); ++s) {
                if (voiceCounts[s] > 0) rows[s].assign(static_cast<std::size_t>(voiceCounts[s]), fill);
            }
            rows_.swap(rows);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    void clear() noexcept { std::vector<std::vector<T>>().swap(rows_); }

    int32_t staffCount() const { return static_cast<int32_t>(rows_.size()); }
    // 0 for an unknown staff.
    int32_t voiceCount(int32_t staff) const {
        return isStaff(staff) ? static_cast<int32_t>(rows_[static_cast<std::size_t>(staff)].size()) : 0;
    }

    // Null for an unknown (staff, voice).
    T* at(int32_t staff, int32_t voice) {
        if (!isStaff(staff)) return nullptr;
        auto& row = rows_[static_cast<std::size_t>(staff)];
        if (voice < 0 || static_cast<std::size_t>(voice) >= row.size()) return nullptr;
        return &row[static_cast<std::size_t>(voice)];
    }
    const T* at(int32_t staff, int32_t voice) const {
        return const_cast<CVoiceTable*>(this)->at(staff, voice);
    }
    T get(int32_t staff, int32_t voice, const T& fallback) const {
        const T* slot = at(staff, voice);
        return slot != nullptr ? *slot : fallback;
    }
    // False (nothing stored) for an unknown (staff, voice).
    bool set(int32_t staff, int32_t voice, const T& value) {
        T* slot = at(staff, voice);
        if (slot == nullptr) return false;
        *slot = value;
        return true;
    }
    void fill(const T& value) {
        for (auto& row : rows_) {
            for (auto& slot : row) slot = value;
        }
    }
    // Every slot, staff by staff.
    template <class F>
    void forEach(F&& f) {
        for (auto& row : rows_) {
            for (auto& slot : row) f(slot);
        }
    }
    template <class F>
    void forEach(F&& f) const {
        for (const auto& row : rows_) {
            for (const auto& slot : row) f(slot);
        }
    }

    bool operator==(const CVoiceTable&) const = default;

private:
    bool isStaff(int32_t staff) const { return staff >= 0 && static_cast<std::size_t>(staff) < rows_.size(); }

    std::vector<std::vector<T>> rows_;
};

}  // namespace scoreconv
