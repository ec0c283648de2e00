// The project folder: the names of the files the steps produce from each
// source, unique names for copied sources, preparing, moving and copying the
// folder, removing an entry with its files, and cleaning up converted scores
// that no entry uses any more.
//
// Produced files of entry i of a project with folder F and title T:
//   converted score  <source name>.tvrx beside a MusicXML source ("Song.xml.tvrx")
//   converted MIDI   F/<source name without extension>_qvpcnv.mid
//   converted WAV    F/<source name without extension>_qvpcnv.wav
//   MP3              <MP3 folder>/<i + 1, two digits at least>-T-<source name, "." -> "_">.mp3
//   older MIDI, WAV  F/T<i + 1, two digits at least>.mid / .wav (renamed to the new names)
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_project/project.h"

namespace qvp3 {

// Result codes of the folder operations.
inline constexpr int kFolderOk = 0;
inline constexpr int kFolderIsProjectFolder = -7;  // the project's own folder, or a folder inside it
inline constexpr int kFolderNotEmpty = -108;       // exists and is not empty (copying: exists at all)
inline constexpr int kFolderCannotCreate = -109;   // cannot be created, or the copy failed
inline constexpr int kFolderBadName = -110;        // the name or title names no usable place

// Marks a file the program produced; such files are never deleted as sources.
inline constexpr std::string_view kConvertedMarker = "_qvpcnv";
// Extension of project files.
inline constexpr std::string_view kProjectFileExtension = ".c-1";

// Converted-file names of entry index, into out, or (out null) into the
// entry's convertedMidiPath / convertedWavePath. False, with nothing stored,
// for an index out of range, an entry without Filename or a project without folder.
bool prjConvertedMidiPath(Project& project, int index, std::filesystem::path* out);
bool prjConvertedWavePath(Project& project, int index, std::filesystem::path* out);
// The older names "<title><number>.mid" / ".wav" (number = index + 1), into
// out or the entry's path field. False for an index out of range, a project
// without folder, and a title holding a path separator (no file of the older
// naming can carry one).
bool ConvertedMidiName(Project& project, int index, std::filesystem::path* out);
bool ConvertedWaveName(Project& project, int index, std::filesystem::path* out);
// The older name of a file number: folder/"<title><number>" + extension;
// nothing for a title holding a path separator.
std::optional<std::filesystem::path> prjLegacyConvertedName(const std::filesystem::path& folder,
                                                            std::string_view title, int fileNumber,
                                                            std::string_view extension);
// Moves the older converted files of the entry read from section fileNumber
// to the entry's present converted names; a present file of the new name is
// never overwritten. False when a move failed.
bool prjRenameLegacyConvertedFiles(Project& project, int index, int fileNumber);

// Whether a file of a project folder is one the program made for that
// extension: for "mp3" a name holding the project's title (none for an empty
// title, which every name holds); else "<source>_qvpcnv.<extension>", the
// name ending in the mark, so that a source whose own name merely holds it
// is never taken for a converted file.
bool prjIsConvertedFileName(std::string_view fileName, std::string_view extension, std::string_view title);

// The MP3 file of entry index. Path separators in the title become "_", so the
// name stays in the MP3 folder. False for an index out of range, an entry
// without Filename or an empty MP3 folder.
bool prjMp3Path(const Project& project, int index, std::filesystem::path& out);

// path when nothing of that name exists, else the first of "<path without
// extension>001<extension>", "...002..." ... that does not exist. Nothing when
// no free name is found.
std::optional<std::filesystem::path> prjUniqueNumberedName(const std::filesystem::path& path);

// Index of the first entry whose Filename has the same file-name part as
// path (exact comparison); -1 when none.
int prjFindEntryByFileName(const Project& project, std::string_view path);

// The folder for a new project (null: the project's folder): -7 when it is the
// project's folder; an existing folder gives 0 when empty, -108 when not;
// otherwise it is created (0) or cannot be (-109).
int prjPrepareFolder(const Project& project, const std::filesystem::path* folder);

// The project title as a file name: "|", "*", "?", "\" and "/" removed.
// Nothing when what is left is empty, "." or "..".
std::optional<std::string> prjCleanTitle(std::string_view title);

// Carries out a folder and title change of the project-data dialog on record
// (the project's own data in mode 0, a copy in modes 1 and 2; its
// ProjectFolder is the old folder). A bare name, or a relative path, lies
// below the projects root; an absolute path is used as given. Mode 1 prepares
// a new empty folder; mode 0 moves the project there, mode 2 copies it. On
// success record takes the new folder and title. 0, -7, -108, -109, or -110
// (also for a mode outside 0..2).
int CopyProjectTo(std::string_view name, Project& project, ProjectData& record, std::string_view title,
                  int normalize);

// Whether the converted score of a converted entry (its ".tvrx" Filename,
// made from FilenameOrig) may be deleted: only when it lies in the project
// folder (canonical paths, links resolved) and is not the source itself. A
// Filename naming a place elsewhere may be the user's file.
bool prjMayDeleteConvertedScore(const Project& project, const ProjectEntry& entry);

// Removes entry index, with deleteFiles also its source copy and its
// converted score when they lie in the project folder, and closes the gap.
// True with no entries; false for an index out of range.
bool prjRemoveEntry(Project& project, int index, bool deleteFiles);
// Removes entry index with its files (unless -1); with purge deletes the
// converted MIDI, WAV and sampler-setup files of the project folder; then the
// converted counts are 0 and the MDC page's file list is emptied. Nothing
// happens with no entries (true); false for another index out of range.
bool prjRemoveEntryAndPurge(Project& project, int index, bool purge);
// Deletes the files directly in the project folder that the program made
// and no entry uses any more. Only a converted score is recognised as made by
// the program: "<name>.xml.tvrx", the source's file name with ".tvrx"
// appended, as the conversion writes it beside a MusicXML source. It is kept
// while an entry uses it or its source. Every other file stays: a copied
// source carries no mark that tells it from a file the user put there, and
// "_qvpcnv" files are the purge's to delete. False when a deletion failed.
bool prjDeleteUnreferencedFiles(Project& project);

}  // namespace qvp3
