#include "play/voice_flags.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace scoreconv {

bool CVoiceFlags::create(int32_t staves, std::span<const int32_t> voiceCounts) {
    if (staves < 0) return false;
    try {
        std::vector<std::vector<uint8_t>> rows(static_cast<std::size_t>(staves));
        for (std::size_t s = 0; s < rows.size(); ++s) {
            int32_t count = kDefaultVoices;
            if (!voiceCounts.empty()) count = s < voiceCounts.size() ? voiceCounts[s] : 0;
            rows[s].assign(static_cast<std::size_t>(std::clamp(count, 0, kMaxVoicesPerStaff)), 0);
        }
        std::vector<uint8_t> staffDone(rows.size(), 0);
        voices_.swap(rows);
        staffDone_.swap(staffDone);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    recount();
    return true;
}

void CVoiceFlags::free() {
    std::vector<std::vector<uint8_t>>().swap(voices_);
    std::vector<uint8_t>().swap(staffDone_);
    doneStaves_ = 0;
}

int32_t CVoiceFlags::voiceCount(int32_t staff) const {
    if (staff < 0 || staff >= staffCount()) return 0;
    return static_cast<int32_t>(voices_[static_cast<std::size_t>(staff)].size());
}

bool CVoiceFlags::isDone(int32_t staff, int32_t voice) const {
    if (voice < 0 || voice >= voiceCount(staff)) return true;
    return voices_[static_cast<std::size_t>(staff)][static_cast<std::size_t>(voice)] != 0;
}

void CVoiceFlags::setDone(int32_t staff, int32_t voice, bool done) {
    if (voice < 0 || voice >= voiceCount(staff)) return;
    const auto s = static_cast<std::size_t>(staff);
    voices_[s][static_cast<std::size_t>(voice)] = done ? 1 : 0;
    const bool was = staffDone_[s] != 0;
    const bool now = updateStaff(s);
    doneStaves_ += static_cast<int32_t>(now) - static_cast<int32_t>(was);
}

bool CVoiceFlags::isStaffDone(int32_t staff) const {
    if (staff < 0 || staff >= staffCount()) return true;
    return staffDone_[static_cast<std::size_t>(staff)] != 0;
}

bool CVoiceFlags::updateStaff(std::size_t staff) {
    const auto& row = voices_[staff];
    const bool done = std::all_of(row.begin(), row.end(), [](uint8_t v) { return v != 0; });
    staffDone_[staff] = done ? 1 : 0;
    return done;
}

int32_t CVoiceFlags::recount() {
    doneStaves_ = 0;
    for (std::size_t s = 0; s < voices_.size(); ++s) doneStaves_ += updateStaff(s) ? 1 : 0;
    return doneStaves_;
}

void CVoiceFlags::setAll() {
    for (auto& row : voices_) std::fill(row.begin(), row.end(), uint8_t{1});
    recount();
}

void CVoiceFlags::clearAll() {
    for (auto& row : voices_) std::fill(row.begin(), row.end(), uint8_t{0});
    recount();
}

}  // namespace scoreconv
