#include "qvp3_project/project_folder.h"

#include <algorithm>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"
#include "project_file_internal.h"
#include "qvp3_project/profile_context.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

using prjfile::kCdSpaceKey;
using prjfile::kDescriptionKey;
using prjfile::kEntrySectionPrefix;
using prjfile::kFolderKey;
using prjfile::kHeaderSection;
using prjfile::kMp3FolderKey;
using prjfile::kNormalizeKey;
using prjfile::kOriginalKey;
using prjfile::kSourceKey;
using prjfile::kTitleKey;
using prjfile::padded;

constexpr std::size_t kMp3SourceNameChars = 129;
constexpr int kMaxNumberedName = 99999;
// The conversion writes its score beside a MusicXML source, under the
// source's file name with this appended.
constexpr std::string_view kConvertedScoreExtension = ".tvrx";
constexpr std::string_view kMusicXmlExtension = ".xml";

bool hasPathSeparator(std::string_view text) { return text.find_first_of("/\\") != std::string_view::npos; }

// Anything (a dangling link too) under that name.
bool nameTaken(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

// A folder compared as a whole: canonical, without a trailing separator.
fs::path folderForm(const fs::path& path) {
    std::error_code ec;
    fs::path result = fs::weakly_canonical(path, ec);
    if (ec) result = fs::absolute(path, ec).lexically_normal();
    if (!result.has_filename() && result.has_parent_path() && result != result.root_path()) {
        result = result.parent_path();
    }
    return result;
}

bool samePath(const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) return false;
    return folderForm(a) == folderForm(b);
}

// Whether path lies in folder (never for an empty folder or path).
bool inside(const fs::path& path, const fs::path& folder) {
    return !path.empty() && !folder.empty() && platform::isPathInside(path, folder);
}

// path re-rooted from one folder into another (path must lie in from).
fs::path reRoot(const fs::path& path, const fs::path& from, const fs::path& to) {
    return to / folderForm(path).lexically_relative(folderForm(from));
}

// Deletes a file or link; never a folder.
bool removeFile(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec || status.type() == fs::file_type::not_found) return true;
    if (status.type() == fs::file_type::directory) return false;
    return fs::remove(path, ec) && !ec;
}

std::string sourceName(const ProjectEntry& entry) {
    return std::string(platform::storedFileName(entry.Filename.string()));
}

const ProjectEntry* entryAt(const Project& project, int index) {
    if (index < 0 || index >= project.fileNum()) return nullptr;
    return &project.entries[static_cast<std::size_t>(index)];
}

bool convertedPath(Project& project, int index, std::string_view extension, fs::path* out, bool midi) {
    const ProjectEntry* entry = entryAt(project, index);
    if (entry == nullptr || project.data.ProjectFolder.empty()) return false;
    const std::string name = sourceName(*entry);
    if (name.empty()) return false;
    const fs::path path = project.data.ProjectFolder /
                          (std::string(platform::removeStoredExtension(name)) + std::string(kConvertedMarker) +
                           std::string(extension));
    ProjectEntry& target = project.entries[static_cast<std::size_t>(index)];
    (out != nullptr ? *out : (midi ? target.convertedMidiPath : target.convertedWavePath)) = path;
    return true;
}

bool legacyPath(Project& project, int index, std::string_view extension, fs::path* out, bool midi) {
    if (entryAt(project, index) == nullptr || project.data.ProjectFolder.empty()) return false;
    const auto path = prjLegacyConvertedName(project.data.ProjectFolder, project.data.ProjectTitle, index + 1, extension);
    if (!path) return false;
    ProjectEntry& target = project.entries[static_cast<std::size_t>(index)];
    (out != nullptr ? *out : (midi ? target.convertedMidiPath : target.convertedWavePath)) = *path;
    return true;
}

// The target folder of a project-data change: relative names below the
// projects root (never the root itself, never above it), absolute paths as given.
std::optional<fs::path> resolveTargetFolder(std::string_view name, const fs::path& root) {
    if (name.empty()) return std::nullopt;
    const fs::path given(name);
    if (given.is_absolute()) return folderForm(given);
    if (root.empty()) return std::nullopt;
    const fs::path joined = (root / given).lexically_normal();
    if (!inside(joined, root) || samePath(joined, root)) return std::nullopt;
    return folderForm(joined);
}

// Copies a folder with everything in it, keeping the files' last-write
// times (the project file compares them with the times it recorded).
bool copyFolderTree(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (!fs::create_directories(to, ec) || ec) return false;
    fs::recursive_directory_iterator it(from, ec), end;
    if (ec) return false;
    for (; it != end; it.increment(ec)) {
        if (ec) return false;
        const fs::path target = to / it->path().lexically_relative(from);
        const fs::file_status status = it->symlink_status(ec);
        if (ec) return false;
        if (fs::is_symlink(status)) {
            fs::copy_symlink(it->path(), target, ec);
        } else if (fs::is_directory(status)) {
            fs::create_directory(target, ec);
        } else if (fs::is_regular_file(status)) {
            if (!platform::copyFile(it->path(), target, false)) return false;
        }
        if (ec) return false;
    }
    return !ec;
}

// Mode 1: a new, empty folder. A folder in use is emptied only on the user's Yes.
int prepareNewProjectFolder(Project& project, const fs::path& target) {
    const int result = prjPrepareFolder(project, &target);
    if (result != kFolderNotEmpty) return result;
    constexpr int kQuestionEmptyFolder = 59;
    if (project.shell().appQuestionBox(kQuestionEmptyFolder, kMbYesNo) != kIdYes) return kFolderNotEmpty;
    return project.shell().appDeleteConvertedFiles("*", target) ? kFolderOk : kFolderCannotCreate;
}

// Modes 0 and 2, another folder: copy the whole project folder there.
int copyProjectFolder(Project& project, const ProjectData& record, const fs::path& target) {
    const fs::path& oldFolder = record.ProjectFolder;
    std::error_code ec;
    if (oldFolder.empty() || !fs::is_directory(oldFolder, ec)) return kFolderCannotCreate;
    if (inside(target, oldFolder)) return kFolderIsProjectFolder;
    // Moving deletes the old folder: never one that holds the project catalogue.
    const fs::path root = project.shell().projectsRoot();
    if (record.ProjectDataMode == ProjectData::kModeEdit && inside(root, oldFolder)) return kFolderBadName;
    if (nameTaken(target)) return kFolderNotEmpty;
    if (!copyFolderTree(oldFolder, target)) {
        fs::remove_all(target, ec);
        return kFolderCannotCreate;
    }
    return kFolderOk;
}

// The project file under its new name: renamed (mode 0) or copied (mode 2) in
// the same folder; in another folder the copy that came along is renamed.
// Never replaces another file.
bool placeProjectFile(const Project& project, const ProjectData& record, const fs::path& target, bool same,
                      const fs::path& newFile) {
    const fs::path& oldFile = project.filePath;
    if (oldFile.empty()) return true;
    const fs::path source = same ? oldFile : target / oldFile.filename();
    std::error_code ec;
    if (!fs::exists(source, ec) || samePath(source, newFile)) return true;
    if (same && record.ProjectDataMode == ProjectData::kModeSaveAs) return platform::copyFile(source, newFile, false);
    return platform::moveFile(source, newFile, false);
}

void writeCopyHeader(ProfileContext& file, const ProjectData& record, const fs::path& target, std::string_view title,
                     int normalize) {
    const std::string titleText(title);
    const std::string folderText = platform::toStoredPath(target);
    prfWriteIniValue(file, {}, {}, kTitleKey, 0, titleText.c_str());
    prfWriteIniValue(file, {}, {}, kFolderKey, 0, folderText.c_str());
    prfWriteIniValue(file, {}, {}, kDescriptionKey, 0, record.ProjectDescription.c_str());
    prfWriteIniValue(file, {}, {}, kCdSpaceKey, record.CDSpace, nullptr);
    prfWriteIniValue(file, {}, {}, kNormalizeKey, normalize, nullptr);
}

// The entry paths stored in a copied project file that lie in the old folder.
void reRootStoredEntries(ProfileContext& file, const fs::path& oldFolder, const fs::path& target) {
    platform::IniDocument& document = file.document();
    for (const std::string& section : document.sectionNames()) {
        if (!section.starts_with(kEntrySectionPrefix) || section.find('|') != std::string::npos) continue;
        for (const std::string_view key : {kSourceKey, kOriginalKey}) {
            const auto value = document.getString(section, key);
            if (!value || value->empty()) continue;
            const fs::path stored = platform::fromStoredPath(*value);
            if (inside(stored, oldFolder)) {
                document.setString(section, key, platform::toStoredPath(reRoot(stored, oldFolder, target)));
            }
        }
    }
}

void reRootEntries(Project& project, const fs::path& oldFolder, const fs::path& target) {
    for (ProjectEntry& entry : project.entries) {
        for (fs::path* path : {&entry.Filename, &entry.FilenameOrig, &entry.convertedMidiPath, &entry.convertedWavePath}) {
            if (inside(*path, oldFolder)) *path = reRoot(*path, oldFolder, target);
        }
    }
}

// Everything after the folder is in place: project file, MP3 folder, entries.
int finishProjectCopy(Project& project, const ProjectData& record, const fs::path& target, bool same,
                      std::string_view title, const fs::path& newFile, int normalize) {
    const fs::path oldFolder = record.ProjectFolder;
    const bool move = record.ProjectDataMode == ProjectData::kModeEdit;
    if (!placeProjectFile(project, record, target, same, newFile)) return kFolderCannotCreate;
    std::error_code ec;
    const bool fileThere = fs::exists(newFile, ec);
    const bool mp3Moves = !same && inside(project.mp3Folder, oldFolder);
    const fs::path mp3Folder = mp3Moves ? reRoot(project.mp3Folder, oldFolder, target) : project.mp3Folder;
    if (fileThere && (mp3Moves || !move)) {
        ProfileContext file(kHeaderSection, newFile);
        if (mp3Moves) {
            prfWriteIniValue(file, {}, {}, kMp3FolderKey, 0, platform::toStoredPath(mp3Folder).c_str());
        }
        if (!move) {
            writeCopyHeader(file, record, target, title, normalize);
            if (!same) reRootStoredEntries(file, oldFolder, target);
        }
        if (!file.flush()) return kFolderCannotCreate;
    }
    if (move) {
        if (!same) project.shell().setProjectFolder(target);
        project.mp3Folder = mp3Folder;
        if (!same) reRootEntries(project, oldFolder, target);
        project.filePath = newFile;
        project.shell().setLastProject(newFile);
        if (!same) fs::remove_all(oldFolder, ec);
    }
    return kFolderOk;
}

// The source name of a file named as the conversion names its score
// ("Song.xml" of "Song.xml.tvrx"); nothing for any other name.
std::optional<std::string> convertedScoreSource(std::string_view name) {
    if (!platform::equalsNoCase(platform::storedExtension(name), kConvertedScoreExtension)) return std::nullopt;
    const std::string_view source = platform::removeStoredExtension(name);
    if (!platform::equalsNoCase(platform::storedExtension(source), kMusicXmlExtension) ||
        platform::removeStoredExtension(source).empty()) {
        return std::nullopt;
    }
    return std::string(source);
}

bool referencedBy(const Project& project, const fs::path& file) {
    const fs::path canonical = folderForm(file);
    const std::string name = file.filename().string();
    for (const ProjectEntry& entry : project.entries) {
        for (const fs::path* path : {&entry.Filename, &entry.FilenameOrig}) {
            if (path->empty()) continue;
            // The project reader finds an entry's file in the project folder by
            // its name first, so a file of that name is in use whatever folder
            // the stored path names.
            if (platform::fileNamesEqual(platform::storedFileName(path->string()), name)) return true;
            if (folderForm(*path) == canonical) return true;
        }
    }
    return false;
}

}  // namespace

bool prjConvertedMidiPath(Project& project, int index, fs::path* out) {
    return convertedPath(project, index, ".mid", out, true);
}

bool prjConvertedWavePath(Project& project, int index, fs::path* out) {
    return convertedPath(project, index, ".wav", out, false);
}

bool ConvertedMidiName(Project& project, int index, fs::path* out) { return legacyPath(project, index, ".mid", out, true); }

bool ConvertedWaveName(Project& project, int index, fs::path* out) {
    return legacyPath(project, index, ".wav", out, false);
}

std::optional<fs::path> prjLegacyConvertedName(const fs::path& folder, std::string_view title, int fileNumber,
                                               std::string_view extension) {
    if (hasPathSeparator(title) || title.find('\0') != std::string_view::npos) return std::nullopt;
    return folder / (std::string(title) + padded(fileNumber, 2) + std::string(extension));
}

bool prjRenameLegacyConvertedFiles(Project& project, int index, int fileNumber) {
    bool ok = true;
    for (const bool midi : {true, false}) {
        const std::string_view extension = midi ? ".mid" : ".wav";
        fs::path present;
        if (!convertedPath(project, index, extension, &present, midi)) return ok;
        const auto older =
            prjLegacyConvertedName(project.data.ProjectFolder, project.data.ProjectTitle, fileNumber, extension);
        std::error_code ec;
        if (!older || !fs::is_regular_file(*older, ec) || nameTaken(present)) continue;
        if (!platform::moveFile(*older, present, false)) ok = false;
    }
    return ok;
}

bool prjMp3Path(const Project& project, int index, fs::path& out) {
    const ProjectEntry* entry = entryAt(project, index);
    if (entry == nullptr || project.mp3Folder.empty()) return false;
    std::string source = platform::firstCharacters(sourceName(*entry), kMp3SourceNameChars);
    if (source.empty()) return false;
    std::replace(source.begin(), source.end(), '.', '_');
    std::string title = project.data.ProjectTitle;
    std::replace_if(title.begin(), title.end(), [](char c) { return c == '/' || c == '\\'; }, '_');
    out = project.mp3Folder / (padded(index + 1, 2) + "-" + title + "-" + source + ".mp3");
    return true;
}

std::optional<fs::path> prjUniqueNumberedName(const fs::path& path) {
    if (!nameTaken(path)) return path;
    const std::string name = path.filename().string();
    const std::string stem(platform::removeStoredExtension(name));
    const std::string extension(platform::storedExtension(name));
    for (int number = 1; number <= kMaxNumberedName; ++number) {
        fs::path candidate = path.parent_path() / (stem + padded(number, 3) + extension);
        if (!nameTaken(candidate)) return candidate;
    }
    return std::nullopt;
}

int prjFindEntryByFileName(const Project& project, std::string_view path) {
    const std::string_view name = platform::storedFileName(path);
    if (name.empty()) return -1;
    for (std::size_t i = 0; i < project.entries.size(); ++i) {
        if (sourceName(project.entries[i]) == name) return static_cast<int>(i);
    }
    return -1;
}

int prjPrepareFolder(const Project& project, const fs::path* folder) {
    const fs::path& target = folder != nullptr ? *folder : project.data.ProjectFolder;
    if (target.empty()) return kFolderCannotCreate;
    if (samePath(target, project.data.ProjectFolder)) return kFolderIsProjectFolder;
    std::error_code ec;
    if (nameTaken(target)) {
        if (!fs::is_directory(target, ec)) return kFolderCannotCreate;
        return fs::is_empty(target, ec) && !ec ? kFolderOk : kFolderNotEmpty;
    }
    fs::create_directories(target, ec);
    return ec ? kFolderCannotCreate : kFolderOk;
}

std::optional<std::string> prjCleanTitle(std::string_view title) {
    std::string clean;
    for (const char c : title) {
        if (c == '|' || c == '*' || c == '?' || c == '\\' || c == '/' || c == '\0') continue;
        clean += c;
    }
    if (clean.empty() || clean == "." || clean == "..") return std::nullopt;
    return clean;
}

int CopyProjectTo(std::string_view name, Project& project, ProjectData& record, std::string_view title,
                  int normalize) {
    const std::optional<std::string> fileTitle = prjCleanTitle(title);
    const std::optional<fs::path> target = resolveTargetFolder(name, project.shell().projectsRoot());
    if (!fileTitle || !target) return kFolderBadName;
    if (record.ProjectDataMode < ProjectData::kModeEdit || record.ProjectDataMode > ProjectData::kModeSaveAs) {
        return kFolderBadName;
    }
    const bool same = samePath(*target, record.ProjectFolder);
    int result = kFolderOk;
    if (record.ProjectDataMode == ProjectData::kModeNew) {
        result = prepareNewProjectFolder(project, *target);
    } else {
        if (!same) result = copyProjectFolder(project, record, *target);
        if (result == kFolderOk) {
            const fs::path newFile = *target / (*fileTitle + std::string(kProjectFileExtension));
            result = finishProjectCopy(project, record, *target, same, title, newFile, normalize);
            // A copy that cannot be finished is taken away again, so that the
            // old folder stays the one project and a retry finds no target.
            std::error_code ec;
            if (result != kFolderOk && !same) fs::remove_all(*target, ec);
        }
    }
    if (result != kFolderOk) return result;
    record.ProjectFolder = *target;
    record.ProjectTitle = std::string(title);
    return kFolderOk;
}

bool prjMayDeleteConvertedScore(const Project& project, const ProjectEntry& entry) {
    const fs::path& folder = project.data.ProjectFolder;
    return !entry.FilenameOrig.empty() &&
           platform::equalsNoCase(platform::storedExtension(entry.Filename.string()), kConvertedScoreExtension) &&
           inside(entry.Filename, folder) && !samePath(entry.Filename, folder) &&
           !platform::isSameFile(entry.Filename, entry.FilenameOrig);
}

bool prjRemoveEntry(Project& project, int index, bool deleteFiles) {
    if (project.entries.empty()) return true;
    if (index < 0 || index >= project.fileNum()) return false;
    ProjectEntry& entry = project.entries[static_cast<std::size_t>(index)];
    const fs::path& folder = project.data.ProjectFolder;
    if (deleteFiles && !entry.FilenameOrig.empty()) {
        // A converted entry: its source only when it is our copy, its
        // converted score only in the project folder. Decided before either
        // goes, while both can still be compared as files.
        const bool convertedOurs = prjMayDeleteConvertedScore(project, entry);
        if (inside(entry.FilenameOrig, folder)) removeFile(entry.FilenameOrig);
        if (convertedOurs) removeFile(entry.Filename);
    } else if (deleteFiles && inside(entry.Filename, folder)) {
        removeFile(entry.Filename);
    }
    project.pipeline().cnvEntryFreeModel(entry);
    project.totalMs -= entry.durationMs;
    project.entries.erase(project.entries.begin() + index);
    // The current entry stays the same record where it can.
    if (project.currentEntry > index) --project.currentEntry;
    if (project.currentEntry >= project.fileNum()) project.currentEntry = project.fileNum() - 1;
    project.pipeline().cnvRelinkEntryPlayers(project);
    return true;
}

bool prjRemoveEntryAndPurge(Project& project, int index, bool purge) {
    if (project.entries.empty()) return true;
    if (index != -1 && !prjRemoveEntry(project, index, true)) return false;
    bool ok = true;
    if (purge && !project.data.ProjectFolder.empty()) {
        for (const char* extension : {"mid", "wav", "qvpp"}) {
            if (!project.shell().appDeleteConvertedFiles(extension, project.data.ProjectFolder)) ok = false;
        }
    }
    project.convertedMidiCount = 0;
    project.convertedWaveCount = 0;
    if (StepPage* page = stpGetPage(project, static_cast<int>(StepCategory::Mdc))) {
        project.stepPageServices().stpEmptyFileList(*page);
    }
    return ok;
}

bool prjDeleteUnreferencedFiles(Project& project) {
    const fs::path& folder = project.data.ProjectFolder;
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return true;
    bool ok = true;
    for (const fs::path& file : platform::listFiles(folder, "*" + std::string(kConvertedScoreExtension))) {
        const std::optional<std::string> source = convertedScoreSource(file.filename().string());
        if (!source) continue;
        // A link may lead to a file of the user's; the conversion writes plain files.
        if (fs::symlink_status(file, ec).type() != fs::file_type::regular || ec) continue;
        // While its source is used, the converted score may be opened again.
        if (referencedBy(project, file) || referencedBy(project, folder / *source)) continue;
        if (!removeFile(file)) ok = false;
    }
    return ok;
}

bool prjIsConvertedFileName(std::string_view fileName, std::string_view extension, std::string_view title) {
    if (platform::equalsNoCase(extension, "mp3")) return !title.empty() && platform::fileNameContains(fileName, title);
    constexpr std::string_view kMark = "_qvpcnv";
    const std::string stem = fs::path(std::string(fileName)).stem().string();
    return stem.size() >= kMark.size() && platform::equalsNoCase(std::string_view(stem).substr(stem.size() - kMark.size()), kMark);
}

}  // namespace qvp3
