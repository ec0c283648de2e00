// MusicXML entries through the score library: reading a file with its play
// model, and converting it into a TvrXML file beside its source.
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "qvp3_pipeline/entry_sources.h"
#include "scoreconv/scoreconv.h"

namespace qvp3 {
namespace fs = std::filesystem;

namespace {

constexpr const char* kProgramName = "Tavrena Orvendo 3";
constexpr std::int32_t kTicksPerQuarter = 480;
constexpr std::string_view kConvertedScoreSuffix = ".tvrx";
constexpr std::string_view kConversionExtension = ".cnv";
constexpr std::string_view kConversionPrefix = "qvx";
// Each attempt draws a new temporary name; a clash needs another program
// taking the very same ".cnv" name in between.
constexpr int kConversionNameAttempts = 8;

struct MxmlFree {
    void operator()(scMxmlFile* file) const { mxmlFreeFile(&file); }
};
struct VxmlFree {
    void operator()(scVxmlFile* file) const { vxmlFreeFile(&file); }
};
using MxmlHandle = std::unique_ptr<scMxmlFile, MxmlFree>;
using VxmlHandle = std::unique_ptr<scVxmlFile, VxmlFree>;

MxmlHandle newMxmlFile(const ScoreLibraryHost& host, std::int32_t mode) {
    MxmlHandle file(mxmlNewFile(host.window, mode, host.stopWord, kTicksPerQuarter, kProgramName, host.log));
    // Progress is sent, so that the window shows it while this thread works.
    if (file) mxmlSetCallbackWindow(file.get(), host.window, 0);
    return file;
}

// Deletes a file when the scope ends, unless released.
class FileRemover {
public:
    explicit FileRemover(fs::path path) : path_(std::move(path)) {}
    ~FileRemover() {
        if (path_.empty()) return;
        std::error_code ec;
        fs::remove(path_, ec);
    }
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;
    void release() { path_.clear(); }

private:
    fs::path path_;
};

// The project's folder, else the system's temporary folder; empty when
// neither is there.
fs::path conversionFolder(const ProjectEntry& entry) {
    std::error_code ec;
    if (entry.project != nullptr) {
        const fs::path& folder = entry.project->data.ProjectFolder;
        if (!folder.empty() && fs::is_directory(folder, ec)) return folder;
    }
    fs::path temp = fs::temp_directory_path(ec);
    return ec ? fs::path() : temp;
}

// A new empty ".cnv" file of a name nobody else holds.
std::optional<fs::path> makeConversionFile(const fs::path& folder) {
    if (folder.empty()) return std::nullopt;
    for (int attempt = 0; attempt < kConversionNameAttempts; ++attempt) {
        const std::optional<fs::path> reserved = platform::makeTempFileName(folder, kConversionPrefix);
        if (!reserved) return std::nullopt;
        fs::path cnv = *reserved;
        cnv.replace_extension(kConversionExtension);
        if (platform::moveFile(*reserved, cnv, false)) return cnv;
        std::error_code ec;
        fs::remove(*reserved, ec);
    }
    return std::nullopt;
}

// The library's mode-5 run: source read as MusicXML, written as a zipped
// TvrXML file at target.
int convertToTvrxml(const fs::path& source, const fs::path& target, const ScoreLibraryHost& host) {
    // The TvrXML handle is freed after the MusicXML one that writes through it.
    const VxmlHandle vxml(vxmlNewFile(host.log));
    if (!vxml) return kCnvOutOfMemory;
    vxmlCopyConvProps(vxml.get(), SCORECONV_CONV_ALL);
    const MxmlHandle file = newMxmlFile(host, SCORECONV_MODE_TVRXML);
    if (!file) return kCnvOutOfMemory;
    const std::string from = source.string();
    const std::string to = target.string();
    int result = kCnvOk;
    CThreadProcParams params{};
    params.file = file.get();
    params.vxml = vxml.get();
    params.sourcePath = from.c_str();
    params.targetPath = to.c_str();
    params.result = &result;
    mxmlConvertProc(&params);
    return result;
}

int convertBesideSource(ProjectEntry& entry, const ScoreLibraryHost& host) {
    if (host.stopWord != nullptr && *host.stopWord != 0) return kCnvStopped;
    fs::path source = entry.Filename;
    fs::path target = cnvConvertedScorePath(source);
    // Moving the result over its own source (a link under the target's name)
    // would lose the source.
    if (platform::isSameFile(source, target)) return kCnvCannotCreateFile;
    const std::optional<fs::path> cnv = makeConversionFile(conversionFolder(entry));
    if (!cnv) return kCnvCannotCreateFile;
    FileRemover leftover(*cnv);
    if (const int rc = convertToTvrxml(source, *cnv, host); rc != kCnvOk) return rc;
    // A rename replaces an older converted score only by the complete new one;
    // across file systems the copy goes to a temporary file beside the target
    // first.
    if (!platform::moveFile(*cnv, target, true)) return kCnvCannotCreateFile;
    leftover.release();
    // Moves only from here on: nothing can fail with the new file in place.
    entry.FilenameOrig = std::move(source);
    entry.Filename = std::move(target);
    entry.kind = EntryKind::TvrXml;
    return kCnvOk;
}

int loadPlayModel(ProjectEntry& entry, const ScoreLibraryHost& host, int& staves) {
    const MxmlHandle file = newMxmlFile(host, SCORECONV_MODE_REAL_TIME);
    if (!file) return kCnvOutOfMemory;
    const std::string source = entry.Filename.string();
    std::int64_t playTime = 0;
    int result = kCnvOk;
    CThreadProcParams params{};
    params.file = file.get();
    params.sourcePath = source.c_str();
    params.playTime = &playTime;
    params.result = &result;
    mxmlConvertProc(&params);
    if (result != kCnvOk) return result;
    entry.kind = EntryKind::MusicXml;
    // The library counts one row more: the score-wide events.
    staves = mxmlGetStaveNum(file.get()) - 1;
    return kCnvOk;
}

}  // namespace

fs::path cnvConvertedScorePath(const fs::path& source) {
    fs::path target = source;
    target += kConvertedScoreSuffix;
    return target;
}

int cnvOpenMusicXml(ProjectEntry& entry, const ScoreLibraryHost& host, int& staves) {
    try {
        return loadPlayModel(entry, host, staves);
    } catch (const std::bad_alloc&) {
        return kCnvOutOfMemory;
    }
}

int cnvMusicXmlToTvrx(ProjectEntry& entry, const ScoreLibraryHost& host) {
    if (!entry.FilenameOrig.empty()) {
        entry.kind = EntryKind::TvrXml;
        return kCnvOk;
    }
    try {
        return convertBesideSource(entry, host);
    } catch (const std::bad_alloc&) {
        return kCnvOutOfMemory;
    }
}

}  // namespace qvp3
