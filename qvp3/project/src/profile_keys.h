// Shared by the profile readers and writers: reading a key as a number (a
// damaged value counts as missing), writing one, key names with staff and
// voice numbers, and the checks every reader and writer starts with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_project/profile_contents.h"
#include "qvp3_project/profile_file.h"

namespace qvp3::prfkeys {

// The key's value as a decimal number within low..high; nothing when the key
// is missing, empty, not a plain decimal number or out of range.
std::optional<int> readNumber(ProfileContext& context, std::string_view key, int low, int high);
void writeNumber(ProfileContext& context, std::string_view key, int value);
void writeTextValue(ProfileContext& context, std::string_view key, std::string_view text);

// A key name with its "%03i" placeholders replaced, in turn, by the numbers
// in three digits at least.
std::string keyName(std::string_view pattern, int first, int second = 0);

// The entry a reader or writer works on: the one given when type is the
// page's own step, else null (wrong step, or no entry to work on).
ProjectEntry* entryFor(ProfileIo& io, const StepPage& page, std::int32_t type, ProjectEntry* entry);

inline int voiceCountOf(const ProjectEntry& entry, int staff) {
    return staff >= 0 && static_cast<std::size_t>(staff) < entry.voiceCounts.size()
               ? entry.voiceCounts[static_cast<std::size_t>(staff)]
               : 0;
}

}  // namespace qvp3::prfkeys
