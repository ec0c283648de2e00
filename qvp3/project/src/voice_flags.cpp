#include "qvp3_project/voice_flags.h"

#include <algorithm>
#include <new>

namespace qvp3 {

namespace {

bool inRange(std::int32_t index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

}  // namespace

std::int32_t VoiceFlagMatrix::voiceCount(std::int32_t staff) const {
    if (!inRange(staff, voiceFlags_.size())) return 0;
    return static_cast<std::int32_t>(voiceFlags_[static_cast<std::size_t>(staff)].size());
}

std::uint8_t VoiceFlagMatrix::staveFlag(std::int32_t staff) const {
    return inRange(staff, staveFlags_.size()) ? staveFlags_[static_cast<std::size_t>(staff)] : 0;
}

std::uint8_t VoiceFlagMatrix::voiceFlag(std::int32_t staff, std::int32_t voice) const {
    if (!inRange(staff, voiceFlags_.size())) return 0;
    const auto& flags = voiceFlags_[static_cast<std::size_t>(staff)];
    return inRange(voice, flags.size()) ? flags[static_cast<std::size_t>(voice)] : 0;
}

bool VoiceFlagMatrix::setStaveFlag(std::int32_t staff, std::uint8_t value) {
    if (!inRange(staff, staveFlags_.size())) return false;
    staveFlags_[static_cast<std::size_t>(staff)] = value;
    return true;
}

bool VoiceFlagMatrix::setVoiceFlag(std::int32_t staff, std::int32_t voice, std::uint8_t value) {
    if (!inRange(staff, voiceFlags_.size())) return false;
    auto& flags = voiceFlags_[static_cast<std::size_t>(staff)];
    if (!inRange(voice, flags.size())) return false;
    flags[static_cast<std::size_t>(voice)] = value;
    return true;
}

bool prjVoiceFlagsAlloc(VoiceFlagMatrix& matrix, std::int32_t staves, std::span<const std::uint8_t> voiceCounts) {
    prjVoiceFlagsFree(matrix);
    if (staves < 0) return false;
    const auto count = static_cast<std::size_t>(staves);
    if (!voiceCounts.empty() && voiceCounts.size() < count) return false;
    try {
        VoiceFlagMatrix shaped;
        shaped.staveFlags_.assign(count, 0);
        shaped.voiceFlags_.resize(count);
        for (std::size_t s = 0; s < count; ++s) {
            shaped.voiceFlags_[s].assign(voiceCounts.empty() ? kDefaultVoicesPerStaff : voiceCounts[s], 0);
        }
        matrix = std::move(shaped);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void prjVoiceFlagsFree(VoiceFlagMatrix& matrix) { matrix = VoiceFlagMatrix{}; }

void prjVoiceFlagsCountFull(VoiceFlagMatrix& matrix) {
    matrix.fullStaves_ = static_cast<std::int32_t>(std::count_if(
        matrix.voiceFlags_.begin(), matrix.voiceFlags_.end(), [](const std::vector<std::uint8_t>& flags) {
            return std::all_of(flags.begin(), flags.end(), [](std::uint8_t flag) { return flag != 0; });
        }));
}

bool prjVoiceFlagsCopy(VoiceFlagMatrix& dest, const VoiceFlagMatrix& src) {
    if (&dest == &src) {
        prjVoiceFlagsCountFull(dest);
        return true;
    }
    try {
        VoiceFlagMatrix copy = src;
        prjVoiceFlagsCountFull(copy);
        dest = std::move(copy);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void prjVoiceFlagsClear(VoiceFlagMatrix& matrix) {
    std::fill(matrix.staveFlags_.begin(), matrix.staveFlags_.end(), std::uint8_t{0});
    for (auto& flags : matrix.voiceFlags_) std::fill(flags.begin(), flags.end(), std::uint8_t{0});
    prjVoiceFlagsCountFull(matrix);
}

}  // namespace qvp3
