// The clean-up page: what its run deletes and how it deletes whole projects.
#pragma once

#include <string>

#include "qvp3_project/neighbours.h"

namespace qvp3 {

// Controls beside the three boxes of the run (page_workers.h).
inline constexpr int kClnGroupBox = 20000;
inline constexpr int kClnNote = 20001;
inline constexpr int kClnProjectList = 20006;

inline constexpr int kStrClnMidiFiles = 439;
inline constexpr int kStrClnWaveFiles = 440;
inline constexpr int kStrClnMp3Files = 441;
inline constexpr int kStrClnRunButton = 442;
inline constexpr int kStrClnDeleteButton = 443;
inline constexpr int kStrClnProjectColumn = 444;
inline constexpr int kStrClnDescriptionColumn = 445;
inline constexpr int kStrClnDeleteProjects = 446;
inline constexpr int kStrClnDeleteOpenProject = 447;  // "%s": the folder's name
inline constexpr int kStrClnNothingSelected = 448;
inline constexpr int kStrClnGroup = 525;
inline constexpr int kStrClnNote = 526;
inline constexpr int kStrClnFoldersRemoved = 60258;  // "%i": how many

// Whether a row's folder name names a folder directly below the projects
// root (not empty, not "." or "..", no separator).
bool stpClnIsProjectFolderName(const std::string& name);

// The delete command (40073): the selected projects' folders, after a
// question, the open project's last after a second one.
void stpClnDeleteProjects(StepPage& page);

}  // namespace qvp3
