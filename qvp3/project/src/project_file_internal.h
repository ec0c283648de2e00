// Shared by the header and the entry parts of the project file reader and
// writer (the section and some key names also by the folder code that
// rewrites a copied project file): section names, key access, and the
// per-entry reader and writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"

namespace qvp3::prjfile {

inline constexpr std::string_view kHeaderSection = "zq1 Project File";
inline constexpr std::string_view kEntrySectionPrefix = "Project File ";

// Keys that copying a project also rewrites in the copied file; the key
// tables name them through these.
inline constexpr std::string_view kTitleKey = "ProjectTitle";
inline constexpr std::string_view kFolderKey = "ProjectFolder";
inline constexpr std::string_view kDescriptionKey = "ProjectDescription";
inline constexpr std::string_view kCdSpaceKey = "CDSpace";
inline constexpr std::string_view kNormalizeKey = "Normalize";
inline constexpr std::string_view kMp3FolderKey = "ProjectBurnMP3Folder";
inline constexpr std::string_view kSourceKey = "Filename";
inline constexpr std::string_view kOriginalKey = "FilenameOrig";

// "Project File NN" of an entry (number = index + 1), two digits at least.
std::string entrySectionName(int number);
// The entry section numbers 1..fileNum that the document holds, ascending.
// Only names exactly as the writer forms them count ("Project File 01", not
// "Project File 1"), since only those are ever looked up.
std::vector<int> entrySectionNumbers(const platform::IniDocument& document, int fileNum);

// A text key; nothing when it is missing or empty.
std::optional<std::string> readTextKey(ProfileContext& context, std::string_view key);
// First character not '0' (the text flags).
bool textFlag(std::string_view text);

void writeInt(ProfileContext& context, std::string_view key, std::int64_t value);
void writeText(ProfileContext& context, std::string_view key, std::string_view text);
void writeFlag(ProfileContext& context, std::string_view key, bool value);

// Whether a stored path names a place on this machine; one written on
// Windows ("C:\...", "\\server\...") names none here.
inline bool isLocalStoredPath(std::string_view text) { return !text.empty() && text.front() == '/'; }

// "07" for 7 with two digits: numbers in section names, keys and file names.
inline std::string padded(int value, std::size_t digits) {
    std::string text = std::to_string(value);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

// Every kind but MIDI files is played as a score.
inline bool isScoreEntry(const ProjectEntry& entry) { return entry.kind != EntryKind::Midi; }

inline int voiceCountOf(const ProjectEntry& entry, int staff) {
    return staff >= 0 && static_cast<std::size_t>(staff) < entry.voiceCounts.size()
               ? entry.voiceCounts[static_cast<std::size_t>(staff)]
               : 0;
}

// Score-engine switch groups of the three switch sections.
inline constexpr int kGroupDynamic = 4;
inline constexpr int kGroupArtic = 2;
inline constexpr int kGroupTrills = 5;
// Recorded tempo points of older files.
inline constexpr std::size_t kOldTempoPointSize = 32;
// Percussion instrument names as the file keeps them.
inline constexpr std::size_t kInstrumentNameChars = 30;

struct EntryReader {
    Project& project;
    ProfileContext& context;
    bool checkSourceDates = false;
    bool currentFormat = true;  // header "qvp3" = 1
    std::vector<std::int32_t>& codes;
    std::vector<std::string>& names;
};

// Reads section number fileNumber and, unless the entry is skipped, loads it
// as the project's last entry.
void readEntrySection(EntryReader& reader, int fileNumber);
// Writes the sections of entry index.
void writeEntrySections(Project& project, ProfileContext& context, int index);

}  // namespace qvp3::prjfile
