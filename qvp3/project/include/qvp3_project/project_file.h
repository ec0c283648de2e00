// The project file (".c-1"): an INI file in the project folder with the header
// section "zq1 Project File" and, per entry, the section "Project File NN"
// (NN = entry index + 1, two digits at least) plus, for scores, the three play
// switch sections "Project File NN|ctDynamic", "|ctArtic" and "|ctTrills".
// Files written by the Windows system (Windows-1252 or UTF-16LE, backslash
// paths) are read as they are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "qvp3_project/project.h"

namespace qvp3 {

// Result codes of reading a project file. Header problems stop reading;
// entry problems are collected and reading goes on.
inline constexpr int kPrjHeaderInvalid = -1300;       // a required header key is missing or invalid
inline constexpr int kPrjNoFilename = -1301;          // an entry section has no Filename (entry skipped)
inline constexpr int kPrjSourceChanged = -1303;       // source changed since conversion, or percussion changed
inline constexpr int kPrjNoTranspose = -1304;         // an entry has no Transpose
inline constexpr int kPrjTempoMissing = -1305;        // an entry's tempo keys are missing
inline constexpr int kPrjNoPause = -1309;             // an entry has no Pause
inline constexpr int kPrjMetronomeMissing = -1310;    // an entry's metronome keys are missing
inline constexpr int kPrjFileNotFound = -1312;        // the project file does not exist
inline constexpr int kPrjCannotOpenSource = -103;     // an entry's source cannot be opened (name reported)
inline constexpr int kPrjUnknownSourceFormat = -104;  // the loader does not know the source (name reported)

// Writes the whole project file: the header and every entry's sections, into
// path, or into project.filePath when path is null. The file is built anew in
// memory and replaces the old one in a single save, so sections of removed
// entries do not survive and a failed write leaves the old file as it was
// (false). Held Ctrl and Shift (the shell's template keys) write the template
// form: no folder and step 1.
bool prjWriteFile(Project& project, const std::filesystem::path* path = nullptr);

// Reads a project file into project and loads its entries through the
// pipeline. False when the file does not exist (codes: -1312) or its header is
// incomplete (codes: -1300); the open project is then left as it was. True
// once the header is taken over, even when entries were skipped: every entry
// problem adds a code, and for -103 and -104 the source's file name (without
// folder) is added to names, in the order of those codes. With
// checkSourceDates, sources whose last-write time differs from the recorded
// one are reported (-1303) and converted again.
bool prjReadFile(Project& project, const std::filesystem::path& path, bool checkSourceDates,
                 std::vector<std::int32_t>& codes, std::vector<std::string>& names);

// The language string the shell shows for a read result code; 0 for a code
// without one.
int prjReadCodeStringId(int code);

}  // namespace qvp3
