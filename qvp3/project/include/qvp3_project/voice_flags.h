// A small store shaped like a score: one byte flag per staff and one per
// (staff, voice), with the number of staves whose voice flags are all set.
// The score MIDI-file writer and the sequencer keep one per job: they copy it
// to save and restore a repeat's state, clear it, set flags while they work
// and ask whether every staff is complete.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qvp3 {

// Voices per staff when no counts are given.
inline constexpr std::uint8_t kDefaultVoicesPerStaff = 6;

class VoiceFlagMatrix {
public:
    std::int32_t staveCount() const { return static_cast<std::int32_t>(staveFlags_.size()); }
    // Voices of a staff; 0 for a staff out of range.
    std::int32_t voiceCount(std::int32_t staff) const;
    // Staves whose voice flags were all set at the last recount (a staff
    // without voices counts as full). Staff flags play no part.
    std::int32_t fullStaves() const { return fullStaves_; }

    // Flag values; 0 for an index out of range.
    std::uint8_t staveFlag(std::int32_t staff) const;
    std::uint8_t voiceFlag(std::int32_t staff, std::int32_t voice) const;
    // Set (non-zero value) or clear exactly one flag; false, with nothing
    // changed, for an index out of range. The full-staff count follows at the
    // next recount.
    bool setStaveFlag(std::int32_t staff, std::uint8_t value);
    bool setVoiceFlag(std::int32_t staff, std::int32_t voice, std::uint8_t value);

    friend bool prjVoiceFlagsAlloc(VoiceFlagMatrix& matrix, std::int32_t staves,
                                   std::span<const std::uint8_t> voiceCounts);
    friend void prjVoiceFlagsFree(VoiceFlagMatrix& matrix);
    friend void prjVoiceFlagsCountFull(VoiceFlagMatrix& matrix);
    friend bool prjVoiceFlagsCopy(VoiceFlagMatrix& dest, const VoiceFlagMatrix& src);
    friend void prjVoiceFlagsClear(VoiceFlagMatrix& matrix);

private:
    std::vector<std::vector<std::uint8_t>> voiceFlags_;  // per staff, one byte a voice
    std::vector<std::uint8_t> staveFlags_;
    std::int32_t fullStaves_ = 0;
};

// Shapes the matrix (its old contents dropped) with every flag 0: staves
// staves, each with the voice count from voiceCounts, or 6 voices each when
// voiceCounts is empty. False, leaving the matrix empty, for a negative staff
// count, counts shorter than staves, or when memory fails.
bool prjVoiceFlagsAlloc(VoiceFlagMatrix& matrix, std::int32_t staves, std::span<const std::uint8_t> voiceCounts = {});
// Drops everything; no staves, fullStaves 0.
void prjVoiceFlagsFree(VoiceFlagMatrix& matrix);
// Recounts fullStaves.
void prjVoiceFlagsCountFull(VoiceFlagMatrix& matrix);
// dest takes the shape and every flag of src, then recounts. False when
// memory fails (dest is then left as it was).
bool prjVoiceFlagsCopy(VoiceFlagMatrix& dest, const VoiceFlagMatrix& src);
// Clears every staff and voice flag, then recounts.
void prjVoiceFlagsClear(VoiceFlagMatrix& matrix);

}  // namespace qvp3
