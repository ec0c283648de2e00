// The done matrix of the player: per staff and voice, has it played its
// last event.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace scoreconv {

// The done matrix: per staff one flag per voice, per staff a flag that all
// its voices are done, and the count of such staves. A staff without voices
// is done from the start.
class CVoiceFlags {
public:
    static constexpr int32_t kDefaultVoices = 6;
    static constexpr int32_t kMaxVoicesPerStaff = 255;

    // staves rows with voiceCounts[s] voices each (kDefaultVoices each when
    // voiceCounts is empty; missing entries and negative counts give none,
    // counts above kMaxVoicesPerStaff are cut), every voice not done. False,
    // with the matrix as it was, for staves < 0 or without memory.
    bool create(int32_t staves, std::span<const int32_t> voiceCounts = {});
    void free();

    int32_t staffCount() const { return static_cast<int32_t>(voices_.size()); }
    int32_t voiceCount(int32_t staff) const;

    // An unknown (staff, voice) reads as done: it has nothing to play.
    bool isDone(int32_t staff, int32_t voice) const;
    void setDone(int32_t staff, int32_t voice, bool done = true);
    bool isStaffDone(int32_t staff) const;
    int32_t doneStaves() const { return doneStaves_; }
    bool allDone() const { return doneStaves_ == staffCount(); }

    // Recomputes the staff flags and the count; returns the count.
    int32_t recount();
    void setAll();
    void clearAll();

    bool operator==(const CVoiceFlags&) const = default;

private:
    bool updateStaff(std::size_t staff);

    std::vector<std::vector<uint8_t>> voices_;
    std::vector<uint8_t> staffDone_;
    int32_t doneStaves_ = 0;
};

}  // namespace scoreconv
