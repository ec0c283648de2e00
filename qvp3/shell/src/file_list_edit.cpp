#include "qvp3_shell/file_list_edit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <system_error>
#include <utility>

#include "platform/files.h"
#include "platform/text.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_shell/shell_utils.h"
#include "text_format.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

const fs::path& sourceOf(const ProjectEntry& entry) {
    return entry.FilenameOrig.empty() ? entry.Filename : entry.FilenameOrig;
}

bool validIndex(const Project& project, int index) { return index >= 0 && index < project.fileNum(); }

// Moves the record only; callers decide what the move means for the project.
void moveEntryRecord(Project& project, int from, int to) {
    auto& entries = project.entries;
    if (from == to) return;
    if (from < to) {
        std::rotate(entries.begin() + from, entries.begin() + from + 1, entries.begin() + to + 1);
    } else {
        std::rotate(entries.begin() + to, entries.begin() + from, entries.begin() + from + 1);
    }
    project.pipeline().cnvRelinkEntryPlayers(project);
}

// The file to open for path: path itself, or with the copy setting its copy
// in the project folder (copied set). Nothing when the copy fails.
std::optional<fs::path> sourceForAdding(const Project& project, const fs::path& path, bool copy, bool& copied) {
    copied = false;
    const fs::path& folder = project.data.ProjectFolder;
    if (!copy || folder.empty() || platform::isPathInside(path, folder)) return path;
    const std::optional<fs::path> target = prjUniqueNumberedName(folder / path.filename());
    if (!target || !platform::copyFile(path, *target, false)) return std::nullopt;
    copied = true;
    return target;
}

void removeCopy(const fs::path& copy) {
    std::error_code ec;
    fs::remove(copy, ec);
    // A MusicXML copy may have been converted before its opening failed.
    fs::remove(fs::path(copy.string() + ".tvrx"), ec);
}

// The two names of an entry's files.
struct EntryNames {
    fs::path file;
    fs::path original;
};

// One file of a rename: where it is and where it goes.
struct RenamePair {
    fs::path from;
    fs::path to;
};

bool validStem(std::string_view stem) {
    if (stem.empty() || stem == "." || stem == "..") return false;
    if (stem.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) return false;
    return stem.find_first_not_of(" \t") != std::string_view::npos;
}

// What a rename moves: the source, the converted score where the program
// made it, and the converted MIDI and WAV files; and the entry's names after.
struct RenamePlan {
    std::vector<RenamePair> pairs;
    EntryNames after;
    fs::path midi;
    fs::path wave;
};

RenamePlan planRename(Project& project, int index, const fs::path& renamed) {
    ProjectEntry& entry = project.entries[static_cast<std::size_t>(index)];
    RenamePlan plan;
    const EntryNames before{entry.Filename, entry.FilenameOrig};
    const bool converted = !entry.FilenameOrig.empty();
    const bool moveScore = converted && prjMayDeleteConvertedScore(project, entry);
    fs::path oldMidi;
    fs::path oldWave;
    prjConvertedMidiPath(project, index, &oldMidi);
    prjConvertedWavePath(project, index, &oldWave);
    plan.after = before;
    if (converted) {
        plan.after.original = renamed;
        if (moveScore) plan.after.file = fs::path(renamed.string() + ".tvrx");
    } else {
        plan.after.file = renamed;
    }
    // The made files' names follow from the entry's names.
    entry.Filename = plan.after.file;
    entry.FilenameOrig = plan.after.original;
    prjConvertedMidiPath(project, index, &plan.midi);
    prjConvertedWavePath(project, index, &plan.wave);
    entry.Filename = before.file;
    entry.FilenameOrig = before.original;

    plan.pairs.push_back({sourceOf(entry), renamed});
    std::error_code ec;
    if (moveScore && fs::exists(before.file, ec)) plan.pairs.push_back({before.file, plan.after.file});
    for (const auto& [from, to] : {std::pair{oldMidi, plan.midi}, std::pair{oldWave, plan.wave}}) {
        if (!from.empty() && fs::exists(from, ec)) plan.pairs.push_back({from, to});
    }
    return plan;
}

// Carries out the renames in order; on a failure the ones done are undone.
bool renameAll(const std::vector<RenamePair>& pairs) {
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (platform::moveFile(pairs[i].from, pairs[i].to, false)) continue;
        while (i-- > 0) platform::moveFile(pairs[i].to, pairs[i].from, false);
        return false;
    }
    return true;
}

}  // namespace

// A table is data: its conversions are checked, never handed to printf as they stand.
std::string appFormatNumbers(ShellServices& shell, int id, std::initializer_list<std::int64_t> numbers) {
    const std::string text = shell.languageString(id);
    std::optional<std::string> out;
    if (numbers.size() == 1) {
        out = infokit::formatChecked(text, {*numbers.begin()});
    } else if (numbers.size() == 2) {
        out = infokit::formatChecked(text, {*numbers.begin(), *(numbers.begin() + 1)});
    }
    return out.value_or(text);
}

int appFileListIcon(const fs::path& file) {
    const std::string name = file.filename().string();
    std::string_view extension = platform::storedExtension(name);
    if (!extension.empty()) extension.remove_prefix(1);
    const std::string lower = platform::toLowerAscii(extension);
    if (lower == "mid" || lower == "rmi" || lower == "zrv") return 11;
    if (lower == "exe") return 19;
    if (lower == "xml") return 13;
    if (lower == "tvrx") return 33;
    return kImageUnknownFile;
}

bool appAcceptsFile(const fs::path& file) {
    const std::string name = file.filename().string();
    return platform::equalsNoCase(platform::storedExtension(name), ".tvr") ||
           appFileListIcon(file) != kImageUnknownFile;
}

int appAddFilesToProject(Project& project, ListAreaHost& host, const std::vector<fs::path>& files,
                         const fs::path* folder) {
    ShellServices& shell = project.shell();
    const int count = static_cast<int>(files.size());
    shell.appSetStatusParts(3);
    shell.appCreateStatusProgress(count);
    const int current = project.currentEntry;
    int insertAt = current < 0 || current >= project.fileNum() - 1 ? -1 : current + 1;
    int added = 0;
    int lastAdded = -1;
    for (int i = 0; i < count; ++i) {
        shell.setStatusText(0, appFormatNumbers(shell, kStrAddingFile, {i + 1, count}));
        host.setStatusProgress(i + 1);
        const fs::path path = folder != nullptr ? *folder / files[static_cast<std::size_t>(i)]
                                                : files[static_cast<std::size_t>(i)];
        if (!appAcceptsFile(path)) continue;
        bool copied = false;
        const std::optional<fs::path> source = sourceForAdding(project, path, host.copySourceFiles(), copied);
        if (!source) continue;
        ProjectEntry entry;
        entry.Filename = *source;
        project.pipeline().cnvEntryInit(entry, project);
        if (host.openEntry(entry, project) != 0) {
            if (copied) removeCopy(*source);
            continue;
        }
        const int at = insertAt < 0 ? project.fileNum() - 1 : insertAt;
        moveEntryRecord(project, project.fileNum() - 1, at);
        lastAdded = at;
        if (insertAt >= 0) ++insertAt;
        ++added;
        shell.setStatusText(0, {});
        shell.setStatusText(1, {});
    }
    if (added > 0) {
        prjMarkStepDirty(project);
        project.saved = 0;
        project.currentEntry = lastAdded;
    }
    host.entriesChanged();
    shell.appDestroyStatusProgress();
    shell.appSetStatusParts(1);
    if (added < count) {
        shell.appTextBox(appFormatNumbers(shell, kStrFilesNotAdded, {count - added}), kBoxInformation, kMbOk);
    }
    return added;
}

int appOnDropFiles(Project& project, ListAreaHost& host, std::vector<fs::path> files) {
    ShellServices& shell = project.shell();
    if (files.size() == 1 &&
        platform::equalsNoCase(platform::storedExtension(files[0].filename().string()), kProjectFileExtension)) {
        if (project.fileNum() > 0 && shell.appQuestionBox(kStrAskReplaceProject, kMbYesNo) != kIdYes) return 0;
        host.openProject(files[0]);
        return 0;
    }
    if (!host.projectOpen()) {
        shell.appTextBox(shell.languageString(kStrNoProjectOpen), kBoxInformation, kMbOk);
        return 0;
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return appCompareFileNames(a, b) < 0; });
    return appAddFilesToProject(project, host, files);
}

int appMoveEntry(Project& project, int from, int to) {
    if (!validIndex(project, from) || !validIndex(project, to)) return kListEditBadIndex;
    if (!prjAllEntriesIdle(project)) return kListEditBusy;
    if (from == to) return kListEditOk;
    moveEntryRecord(project, from, to);
    // Converted files are numbered by their row: they are made again.
    prjRemoveEntryAndPurge(project, -1, true);
    project.currentEntry = to;
    prjMarkStepDirty(project);
    project.saved = 0;
    return kListEditOk;
}

int appRemoveEntry(Project& project, int index) {
    if (!validIndex(project, index)) return kListEditBadIndex;
    if (!prjAllEntriesIdle(project)) return kListEditBusy;
    prjRemoveEntryAndPurge(project, index, true);
    project.currentEntry = project.fileNum() == 0 ? -1 : std::min(index, project.fileNum() - 1);
    prjMarkStepDirty(project);
    project.saved = 0;
    return kListEditOk;
}

bool appCanRenameEntry(const Project& project, int index) {
    if (!validIndex(project, index) || project.data.ProjectFolder.empty()) return false;
    const ProjectEntry& entry = project.entries[static_cast<std::size_t>(index)];
    return platform::isPathInside(sourceOf(entry), project.data.ProjectFolder);
}

int appRenameEntry(Project& project, int index, std::string_view newStem) {
    if (!validIndex(project, index)) return kListEditBadIndex;
    if (!validStem(newStem)) return kListEditBadName;
    if (!appCanRenameEntry(project, index)) return kListEditOutside;
    if (!prjAllEntriesIdle(project)) return kListEditBusy;
    ProjectEntry& entry = project.entries[static_cast<std::size_t>(index)];
    const fs::path source = sourceOf(entry);
    const std::string extension(platform::storedExtension(source.filename().string()));
    const fs::path renamed = source.parent_path() / (std::string(newStem) + extension);
    if (renamed.filename() == source.filename()) return kListEditOk;

    const RenamePlan plan = planRename(project, index, renamed);
    std::error_code ec;
    for (const RenamePair& pair : plan.pairs) {
        if (fs::exists(fs::symlink_status(pair.to, ec))) return kListEditNameTaken;
    }
    if (!renameAll(plan.pairs)) return kListEditFailed;

    entry.Filename = plan.after.file;
    entry.FilenameOrig = plan.after.original;
    if (!entry.convertedMidiPath.empty()) entry.convertedMidiPath = plan.midi;
    if (!entry.convertedWavePath.empty()) entry.convertedWavePath = plan.wave;
    // A saved project is written at once: its file must not name a file that is gone.
    const bool wasSaved = project.saved != 0 && !project.filePath.empty() && fs::exists(project.filePath, ec);
    project.saved = wasSaved && prjWriteFile(project) ? 1 : 0;
    return kListEditOk;
}

std::string appListEditMessage(ShellServices& shell, int result, std::string_view name) {
    switch (result) {
    case kListEditBusy: return shell.languageString(kStrListBusy);
    case kListEditNameTaken: return prfFormatString(shell.languageString(kStrRenameExists), name);
    case kListEditBadName: return prfFormatString(shell.languageString(kStrRenameInvalid), name);
    case kListEditOutside: return shell.languageString(kStrRenameOutside);
    case kListEditFailed: return prfFormatString(shell.languageString(kStrRenameFailed), name);
    default: return {};
    }
}

std::string appWindowTitle(std::string_view programName, bool projectOpen, std::string_view projectTitle) {
    std::string title(programName);
    if (projectOpen) title += " - [" + std::string(projectTitle) + "]";
    return title;
}

DiscUsage appDiscUsage(const Project& project, ShellServices& shell) {
    DiscUsage usage;
    const std::int64_t seconds = std::max(0, project.totalMs) / 1000;
    usage.seconds = static_cast<int>(seconds);
    usage.capacity = std::max(0, project.data.CDSpace);
    usage.overfull = std::int64_t{project.totalMs} > std::int64_t{project.data.CDSpace} * 1000;
    usage.text = appFormatNumbers(shell, kStrDiscUsage, {seconds / 60, seconds % 60});
    return usage;
}

std::string appFileCountText(const Project& project, ShellServices& shell) {
    return appFormatNumbers(shell, kStrFileCount, {project.fileNum()});
}

std::string appProjectProblemsText(ShellServices& shell, const std::vector<std::int32_t>& codes,
                                   const std::vector<std::string>& names) {
    std::string text = shell.languageString(kStrProjectProblems);
    std::size_t name = 0;
    for (const std::int32_t code : codes) {
        const int id = prjReadCodeStringId(code);
        std::string message = id != 0 ? shell.languageString(id) : "(" + std::to_string(code) + ")";
        if (code == kPrjCannotOpenSource || code == kPrjUnknownSourceFormat) {
            // The reader adds a name for each of these codes, in their order.
            message = prfFormatString(message, name < names.size() ? names[name] : std::string());
            ++name;
        }
        text += "\n\t- " + message;
    }
    return text;
}

std::optional<int> appParseCdSize(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value < kCdSizeMin || value > kCdSizeMax) return std::nullopt;
    return value;
}

}  // namespace qvp3
