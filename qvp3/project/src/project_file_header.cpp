#include "qvp3_project/project_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <initializer_list>
#include <optional>
#include <system_error>

#include "platform/files.h"
#include "platform/text.h"
#include "project_file_internal.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace prjfile {

std::string entrySectionName(int number) { return std::string(kEntrySectionPrefix) + padded(number, 2); }

std::vector<int> entrySectionNumbers(const platform::IniDocument& document, int fileNum) {
    const std::size_t prefixSize = kEntrySectionPrefix.size();
    std::vector<int> numbers;
    for (const std::string& section : document.sectionNames()) {
        const std::string_view prefix = std::string_view(section).substr(0, prefixSize);
        if (section.size() <= prefixSize || !platform::equalsNoCase(prefix, kEntrySectionPrefix)) continue;
        const std::string_view digits = std::string_view(section).substr(prefixSize);
        int number = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error != std::errc{} || end != digits.data() + digits.size() || number < 1 || number > fileNum) continue;
        if (padded(number, 2) == digits) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

std::optional<int> readIntKey(ProfileContext& context, std::string_view key, int missing) {
    const int value = context.readInt(key, missing);
    if (value == missing) return std::nullopt;
    return value;
}

std::optional<std::string> readTextKey(ProfileContext& context, std::string_view key) {
    std::optional<std::string> value = context.document().getString(context.iniSection, key);
    if (!value) return std::nullopt;
    // The profile functions end a text at its first NUL, and so does every
    // path this text may become.
    if (const std::size_t nul = value->find('\0'); nul != std::string::npos) value->resize(nul);
    if (value->empty()) return std::nullopt;
    return value;
}

bool textFlag(std::string_view text) { return !text.empty() && text.front() != '0'; }

void writeInt(ProfileContext& context, std::string_view key, std::int64_t value) {
    writeText(context, key, std::to_string(value));
}

void writeText(ProfileContext& context, std::string_view key, std::string_view text) {
    const std::string value(text);
    prfWriteIniValue(context, {}, {}, key, 0, value.c_str());
}

void writeFlag(ProfileContext& context, std::string_view key, bool value) {
    writeText(context, key, value ? "1" : "0");
}

}  // namespace prjfile

namespace {

using namespace prjfile;

constexpr int kStringStop = 196;
constexpr int kStringNoDescription = 157;
constexpr int kStringReadingFile = 201;
constexpr std::size_t kStopTextChars = 256;
constexpr std::size_t kStatusTextChars = 128;
constexpr int kLastStep = kStepCount - 1;
// Written in the template form only; nothing reads it.
constexpr std::string_view kTemplateMarker = "30253017";

// The header values of a file, read completely before any of them is taken
// over, so that a file with a bad header leaves the open project as it was.
struct HeaderValues {
    bool currentFormat = false;
    std::string title;
    std::string description;
    std::optional<std::string> catInstrument;
    std::string catEnsemble;
    ProjectDirty dirty = 0;
    std::uint8_t midiOverwrite = 0;
    std::uint8_t midiConvertAll = 0;
    std::int32_t normalize = 0;
    std::uint8_t waveOverwrite = 0;
    std::uint8_t waveConvertAll = 0;
    std::int32_t burnMethod = -1;
    std::int32_t burningSpeed = 0;
    std::int32_t cdCopies = 0;
    std::uint8_t openTray = 0;
    std::uint8_t burnProof = 0;
    std::uint8_t burnSimulate = 0;
    std::optional<Mp3Config> mp3Config;
    fs::path mp3Folder;
    std::uint8_t removeMidis = 0;
    std::uint8_t removeWaves = 0;
    std::int32_t lastStep = 0;
    std::int32_t cdSpace = 0;
    std::optional<std::uint8_t> addPath;
    std::int32_t fileNum = 0;
};

// Required integer keys: a missing key (or one holding -1) fails the header.
bool requireInt(ProfileContext& context, std::string_view key, std::int32_t& out) {
    const std::optional<int> value = readIntKey(context, key, -1);
    if (value) out = *value;
    return value.has_value();
}

bool requireIntFlag(ProfileContext& context, std::string_view key, std::uint8_t& out) {
    std::int32_t value = 0;
    if (!requireInt(context, key, value)) return false;
    out = value == 1 ? 1 : 0;
    return true;
}

bool requireTextFlag(ProfileContext& context, std::string_view key, std::uint8_t& out) {
    const std::optional<std::string> value = readTextKey(context, key);
    if (value) out = textFlag(*value) ? 1 : 0;
    return value.has_value();
}

// The catalogue and description keys, which never fail.
void readDescriptiveKeys(ProfileContext& context, ShellServices& shell, HeaderValues& header) {
    const std::optional<std::string> description = readTextKey(context, "ProjectDescription");
    header.description = description ? *description : shell.languageString(kStringNoDescription);
    // The size only says whether there is a list; the list is taken whole
    // (never allocated or cut by the stored size).
    if (context.readInt("CatInstrumentSize", 0) > 0) {
        header.catInstrument = readTextKey(context, "CatInstrument").value_or(std::string());
    }
    header.catEnsemble = readTextKey(context, "CatEnsemble").value_or(std::string());
    header.dirty = static_cast<ProjectDirty>(context.readInt("ProjectDirty", 0));
}

bool readExportKeys(ProfileContext& context, const fs::path& folder, HeaderValues& header) {
    if (!requireTextFlag(context, "ProjectMidiOverwrite", header.midiOverwrite) ||
        !requireTextFlag(context, "ProjectMidiConvertAll", header.midiConvertAll) ||
        !requireInt(context, "Normalize", header.normalize) ||
        !requireTextFlag(context, "ProjectWaveOverwrite", header.waveOverwrite) ||
        !requireTextFlag(context, "ProjectWaveConvertAll", header.waveConvertAll)) {
        return false;
    }
    header.burnMethod = context.readInt("ProjectBurnMethod", -1);
    if (!requireInt(context, "ProjectBurningSpeed", header.burningSpeed) ||
        !requireInt(context, "ProjectCDCopies", header.cdCopies) ||
        !requireIntFlag(context, "ProjectOpenTray", header.openTray) ||
        !requireIntFlag(context, "ProjectBurnProof", header.burnProof) ||
        !requireIntFlag(context, "ProjectBurnSimulate", header.burnSimulate)) {
        return false;
    }
    // Encoder settings shorter than the record are not taken.
    if (const auto blob = prfReadIniBlob(context, "ProjectBurnMP3"); blob && blob->size() >= kMp3ConfigSize) {
        header.mp3Config.emplace();
        std::copy_n(blob->begin(), kMp3ConfigSize, header.mp3Config->begin());
    }
    const std::optional<std::string> mp3Folder = readTextKey(context, "ProjectBurnMP3Folder");
    header.mp3Folder = mp3Folder && isLocalStoredPath(*mp3Folder) ? platform::fromStoredPath(*mp3Folder) : folder;
    return requireIntFlag(context, "ProjectRemoveMidis", header.removeMidis) &&
           requireIntFlag(context, "ProjectRemoveWaves", header.removeWaves);
}

std::optional<HeaderValues> readHeader(ProfileContext& context, const fs::path& folder, ShellServices& shell) {
    context.iniSection = std::string(kHeaderSection);
    HeaderValues header;
    header.currentFormat = context.readInt("qvp3", 0) == 1;
    const std::optional<std::string> title = readTextKey(context, "ProjectTitle");
    if (!title) return std::nullopt;
    header.title = *title;
    readDescriptiveKeys(context, shell, header);
    if (!readExportKeys(context, folder, header)) return std::nullopt;
    header.lastStep = context.readInt("ProjectLastStep", 0);
    if (header.lastStep < -1 || header.lastStep > kLastStep) header.lastStep = 0;
    // A disc without room is no disc.
    header.cdSpace = context.readInt("CDSpace", 0);
    if (header.cdSpace <= 0) return std::nullopt;
    if (const std::optional<std::string> addPath = readTextKey(context, "AddPath")) {
        header.addPath = textFlag(*addPath) ? 1 : 0;
    }
    header.fileNum = std::max(context.readInt("FileNum", 0), 0);
    return header;
}

// What the close-project command leaves: no entries. Done here as well, so
// that entries are never loaded behind the ones of the previous project.
void emptyEntries(Project& project) {
    for (ProjectEntry& entry : project.entries) project.pipeline().cnvEntryFreeModel(entry);
    project.entries.clear();
    project.currentEntry = -1;
    project.totalMs = 0;
}

void takeOverHeader(Project& project, const HeaderValues& header, const fs::path& file) {
    project.filePath = file;
    project.data.ProjectFolder = file.parent_path();
    project.data.ProjectTitle = header.title;
    project.data.ProjectDescription = header.description;
    project.data.CDSpace = header.cdSpace;
    project.CatInstrument = header.catInstrument;
    project.CatEnsemble = header.catEnsemble;
    project.dirty = header.dirty;
    project.midiOverwrite = header.midiOverwrite;
    project.midiConvertAll = header.midiConvertAll;
    project.normalize = header.normalize;
    project.waveOverwrite = header.waveOverwrite;
    project.waveConvertAll = header.waveConvertAll;
    project.burnMethod = header.burnMethod;
    project.burningSpeed = header.burningSpeed;
    project.cdCopies = header.cdCopies;
    project.openTray = header.openTray;
    project.burnProof = header.burnProof;
    project.burnSimulate = header.burnSimulate;
    if (header.mp3Config) project.mp3Config = *header.mp3Config;
    project.mp3Folder = header.mp3Folder;
    project.removeMidis = header.removeMidis;
    project.removeWaves = header.removeWaves;
    project.previousStep = project.currentStep;
    project.currentStep = header.lastStep;
    if (header.addPath) project.addPath = *header.addPath;
}

// A language text with "%i" places filled by the numbers in turn; any other
// "%" sequence stays as it is (the text comes from outside the program).
std::string formatNumbers(std::string_view pattern, std::initializer_list<int> numbers) {
    std::string out;
    auto next = numbers.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        const char conversion = pattern[i + 1];
        if (conversion == '%') {
            out += '%';
            ++i;
        } else if ((conversion == 'i' || conversion == 'd') && next != numbers.end()) {
            out += std::to_string(*next++);
            ++i;
        } else {
            out += '%';
        }
    }
    return out;
}

void readEntries(Project& project, ProfileContext& context, const HeaderValues& header, bool checkSourceDates,
                 std::vector<std::int32_t>& codes, std::vector<std::string>& names) {
    ShellServices& shell = project.shell();
    shell.appSetStatusParts(3);
    shell.appCreateStatusProgress(header.fileNum);
    const std::string progress = shell.languageString(kStringReadingFile);
    EntryReader reader{project, context, checkSourceDates, header.currentFormat, codes, names};
    // Only the sections the file holds are visited, so an absurd FileNum costs
    // nothing; each run of missing sections is one missing-Filename code.
    int expected = 1;
    for (const int number : entrySectionNumbers(context.document(), header.fileNum)) {
        if (number > expected) codes.push_back(kPrjNoFilename);
        const std::string status = formatNumbers(progress, {number, header.fileNum});
        shell.setStatusText(0, platform::firstCharacters(status, kStatusTextChars));
        readEntrySection(reader, number);
        expected = number + 1;
    }
    if (expected <= header.fileNum) codes.push_back(kPrjNoFilename);
    shell.appDestroyStatusProgress();
    shell.appSetStatusParts(1);
}

// Loading sets entry values through the pipeline's setters, which would mark
// the steps changed.
class SuspendDirtyMarking {
public:
    explicit SuspendDirtyMarking(Project& project) : project_(project), saved_(project.suspendDirty) {
        project_.suspendDirty = 1;
    }
    ~SuspendDirtyMarking() { project_.suspendDirty = saved_; }
    SuspendDirtyMarking(const SuspendDirtyMarking&) = delete;
    SuspendDirtyMarking& operator=(const SuspendDirtyMarking&) = delete;

private:
    Project& project_;
    std::uint8_t saved_;
};

void writeHeader(Project& project, ProfileContext& context) {
    const bool templateForm = project.shell().templateKeysDown();
    context.iniSection = std::string(kHeaderSection);
    writeText(context, "======", std::string(46, '='));
    const std::string stop = project.shell().languageString(kStringStop);
    writeText(context, "Stop!!", platform::firstCharacters(stop, kStopTextChars));
    writeInt(context, "qvp3", 1);
    if (templateForm) writeText(context, "qrx_zq1_Project", kTemplateMarker);
    const std::string folder = templateForm ? std::string() : platform::toStoredPath(project.data.ProjectFolder);
    writeText(context, "ProjectFolder", folder);
    writeInt(context, "ProjectLastStep", templateForm ? 1 : project.currentStep);
    writeFlag(context, "AddPath", project.addPath != 0);
    writeInt(context, "FileNum", project.fileNum());
    writeText(context, "ProjectTitle", project.data.ProjectTitle);
    writeText(context, "ProjectDescription", project.data.ProjectDescription);
    writeInt(context, "CatInstrumentSize", project.catInstrumentSize());
    writeText(context, "CatInstrument", project.CatInstrument.value_or(std::string()));
    writeText(context, "CatEnsemble", project.CatEnsemble);
    writeInt(context, "ProjectDirty", static_cast<std::int32_t>(project.dirty));
    writeFlag(context, "ProjectMidiOverwrite", project.midiOverwrite != 0);
    writeFlag(context, "ProjectMidiConvertAll", project.midiConvertAll != 0);
    writeInt(context, "Normalize", project.normalize);
    writeFlag(context, "ProjectWaveOverwrite", project.waveOverwrite != 0);
    writeFlag(context, "ProjectWaveConvertAll", project.waveConvertAll != 0);
    writeInt(context, "ProjectBurnMethod", project.burnMethod);
    writeInt(context, "ProjectBurningSpeed", project.burningSpeed);
    writeInt(context, "ProjectCDCopies", project.cdCopies);
    writeFlag(context, "ProjectOpenTray", project.openTray != 0);
    writeFlag(context, "ProjectBurnProof", project.burnProof != 0);
    writeFlag(context, "ProjectBurnSimulate", project.burnSimulate != 0);
    prfWriteIniBlob(context, project.mp3Config, "ProjectBurnMP3");
    writeText(context, "ProjectBurnMP3Folder", platform::toStoredPath(project.mp3Folder));
    writeFlag(context, "ProjectRemoveMidis", project.removeMidis != 0);
    writeFlag(context, "ProjectRemoveWaves", project.removeWaves != 0);
    writeInt(context, "CDSpace", project.data.CDSpace);
}

}  // namespace

bool prjWriteFile(Project& project, const fs::path* path) {
    const fs::path target = path != nullptr ? *path : project.filePath;
    if (target.empty()) return false;
    // Built whole in a fresh document and saved in one go over the old file:
    // sections of removed entries vanish, and a failed save keeps the old file.
    ProfileContext context(kHeaderSection, target);
    context.startNewDocument();
    writeHeader(project, context);
    for (int index = 0; index < project.fileNum(); ++index) writeEntrySections(project, context, index);
    return context.flush();
}

bool prjReadFile(Project& project, const fs::path& path, bool checkSourceDates, std::vector<std::int32_t>& codes,
                 std::vector<std::string>& names) {
    codes.clear();
    names.clear();
    std::error_code ec;
    fs::path file = fs::absolute(path, ec);
    file = ec ? path : file.lexically_normal();
    ProfileContext context(kHeaderSection, file);
    const platform::IniStatus status = context.loadStatus();
    if (status == platform::IniStatus::NotFound) {
        codes.push_back(kPrjFileNotFound);
        return false;
    }
    const std::optional<HeaderValues> header =
        status == platform::IniStatus::Ok ? readHeader(context, file.parent_path(), project.shell()) : std::nullopt;
    if (!header) {
        codes.push_back(kPrjHeaderInvalid);
        return false;
    }

    SuspendDirtyMarking suspend(project);
    project.shell().closeProject();
    emptyEntries(project);
    takeOverHeader(project, *header, file);
    if (header->fileNum == 0) return true;
    readEntries(project, context, *header, checkSourceDates, codes, names);
    project.stepPageServices().stpRefreshSlfPage();
    return true;
}

int prjReadCodeStringId(int code) {
    static constexpr std::array<std::pair<int, int>, 16> kStrings{{
        {-1300, 179},
        {-1301, 181},
        {-1302, 182},
        {-1303, 184},
        {-1304, 185},
        {-1305, 189},
        {-1307, 191},
        {-1308, 192},
        {-1309, 193},
        {-1310, 194},
        {-1311, 180},
        {-1312, 195},
        {-103, 183},
        {-104, 186},
        {-100, 187},
        {-2, 188},
    }};
    for (const auto& [known, id] : kStrings) {
        if (known == code) return id;
    }
    return 0;
}

}  // namespace qvp3
