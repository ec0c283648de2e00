// Profile files: the saved settings of one step, applied later to any entry
// of any project. A profile is an INI file "Profile%05i.qvpprof" (number from
// 1) in the profile folder with one section "qvp Profile File": a header
// (type, description, version, data layout) and the keys of its step, which
// the step page's profile reader and writer handle (profile_contents.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"

namespace qvp3 {

inline constexpr std::string_view kProfileSection = "qvp Profile File";
inline constexpr std::string_view kProfilePattern = "*.qvpprof";
// Longest description, in characters.
inline constexpr std::size_t kProfileDescChars = 64;
// File numbers have five digits.
inline constexpr int kMaxProfileNumber = 99999;
// Language strings of the profile code.
inline constexpr int kStrProfileStopNote = 196;
inline constexpr int kStrProfileMismatch = 351;  // "%s": the entry's file name

// The program's data folder: "qvp3" under $QVP3_CONFIG_HOME when that is set
// (tests move every user folder with it), else under $XDG_DATA_HOME, else
// under ~/.local/share.
std::filesystem::path prfDataFolder();
// The "Profiles" folder of the data folder.
std::filesystem::path prfDefaultProfileFolder();
// Start-up: the profile folder is the stored setting, or the default one when
// there is none; profileCount is the number of profile files in it.
void prfInitProfileFolder(ProfileContext& context, const std::filesystem::path& setting);

// Path of profile number index + 1 in the context's profile folder.
std::filesystem::path prfProfilePath(const ProfileContext& context, int index);

// The step a profile file was made for, or -1 (no type, an unknown one, or a
// file that cannot be read). A file without "ProfileVersion" comes from the
// first version, which wrote only dynamics profiles: it is DYN, unless its
// type is a non-zero number.
int prfReadProfileType(const std::filesystem::path& path);

// The description of a profile file (at most 64 characters); nothing when it
// is missing or empty. With no path the profile is the list's item at index,
// or its selected item for -1.
std::optional<std::string> prfGetProfileDesc(const ProfileContext& context, const std::filesystem::path* path,
                                             int index);

// Lists the profiles of a step in the profile list, sorted by description
// without regard to case (equal descriptions in the order the folder gives
// them), and selects the first. True when one was listed.
bool prfFillProfileCombo(ProfileContext& context, int stepCategory);

// Whether a profile of the step with this description (compared without
// regard to case) exists in the profile folder.
bool prfProfileDescExists(const ProfileContext& context, int stepCategory, std::string_view description);

// Writes the settings of entry (null: the current one) as a new profile of
// the page's step. The file number is the first free one; it is claimed by
// creating the file, so that two writers at once never share a file and no
// profile is ever overwritten. False, with no file left behind, for an empty
// description, when the page has no writer or its writer refuses, and when
// the file cannot be written.
bool prfWriteNewProfile(ProjectEntry* entry, ProfileContext& context, std::string_view description,
                        StepPage& page, ShellServices& shell);

// Applies the profile selected in the profile list to entry through the
// page's reader; the reader's result. False when nothing is selected, the
// file's type cannot be read or "ProfileDataNum" is missing.
bool prfApplyProfile(ProfileContext& context, StepPage& page, ProjectEntry* entry);

// Whether no entry is chosen to take a profile, and how many are.
bool prfNoEntryChosen(const ProfileContext& context);
int prfCountEntriesChosen(const ProfileContext& context);

// The question asked before a profile made for another number of staves is
// applied: true on Yes.
bool prfAskApplyMismatch(ShellServices& shell, const ProjectEntry& entry);

// Point the context at the profile's section and call the page's reader or
// writer; false when the page has none. The writer's keys are written to the
// file before stpSaveProfile returns (false when that fails).
bool stpLoadProfile(ProfileContext& context, StepPage& page, const std::filesystem::path& path,
                    std::int32_t dataNum, std::int32_t type, ProjectEntry* entry);
bool stpSaveProfile(ProfileContext& context, StepPage& page, const std::filesystem::path& path, std::int32_t type,
                    ProjectEntry* entry);

// A language string with its one "%s", "%i" or "%d" replaced by argument.
std::string prfFormatString(std::string_view text, std::string_view argument);

}  // namespace qvp3
