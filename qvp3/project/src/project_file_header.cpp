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
#include "project_file_keys.h"

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

// What the header keys store: the project's fields, and two values that the
// reader hands on to the entry sections.
struct HeaderFields {
    Project& project;
    bool currentFormat = true;  // "qvp3" = 1; files without it are older
    std::int32_t fileNum = 0;
};

template <auto... Path>
FieldRef inProject(HeaderFields& header) {
    return toField(&(header.project .* ... .* Path));
}

template <auto Member>
FieldRef inHeader(HeaderFields& header) {
    return toField(&(header.*Member));
}

struct HeaderKey {
    std::string_view name;
    Form form;
    FieldRef (*field)(HeaderFields&) = nullptr;
    ReadRule rule = {};
    Truth truth = Truth::One;
    const char* inTemplate = nullptr;  // written instead in the template form
    int stringId = 0;                  // a language text: the StopNote, or what a missing Text takes
    std::string_view text = {};        // what a Constant holds
};

// A key that is missing or unusable where its rule says Fail makes the
// header, and so the file, invalid.
constexpr HeaderKey kHeaderKeys[] = {
    {.name = "======", .form = Form::Constant, .text = "=============================================="},
    {.name = "Stop!!", .form = Form::StopNote, .stringId = kStringStop},
    {"qvp3", Form::Flag, inHeader<&HeaderFields::currentFormat>, plain(0)},
    {.name = "qrx_zq1_Project", .form = Form::TemplateOnly, .inTemplate = "30253017"},  // nothing reads it
    {.name = kFolderKey,
     .form = Form::Folder,
     .field = inProject<&Project::data, &ProjectData::ProjectFolder>,
     .inTemplate = ""},
    {.name = "ProjectLastStep",
     .form = Form::Int,
     .field = inProject<&Project::currentStep>,
     .rule = within(0, -1, kLastStep, 0),
     .inTemplate = "1"},
    {"AddPath", Form::Flag, inProject<&Project::addPath>, {}, Truth::Text},
    {"FileNum", Form::Int, inHeader<&HeaderFields::fileNum>, within(0, 0, INT_MAX, 0)},
    {kTitleKey, Form::Text, inProject<&Project::data, &ProjectData::ProjectTitle>, required()},
    {.name = kDescriptionKey,
     .form = Form::Text,
     .field = inProject<&Project::data, &ProjectData::ProjectDescription>,
     .stringId = kStringNoDescription},
    {"CatInstrument", Form::SizedText, inProject<&Project::CatInstrument>},
    {"CatEnsemble", Form::Text, inProject<&Project::CatEnsemble>, emptyIfMissing()},
    {"ProjectDirty", Form::Int, inProject<&Project::dirty>, plain(0)},
    {"ProjectMidiOverwrite", Form::Flag, inProject<&Project::midiOverwrite>, required(), Truth::Text},
    {"ProjectMidiConvertAll", Form::Flag, inProject<&Project::midiConvertAll>, required(), Truth::Text},
    {kNormalizeKey, Form::Int, inProject<&Project::normalize>, required(-1)},
    {"ProjectWaveOverwrite", Form::Flag, inProject<&Project::waveOverwrite>, required(), Truth::Text},
    {"ProjectWaveConvertAll", Form::Flag, inProject<&Project::waveConvertAll>, required(), Truth::Text},
    {"ProjectBurnMethod", Form::Int, inProject<&Project::burnMethod>, plain(-1)},
    {"ProjectBurningSpeed", Form::Int, inProject<&Project::burningSpeed>, required(-1)},
    {"ProjectCDCopies", Form::Int, inProject<&Project::cdCopies>, required(-1)},
    {"ProjectOpenTray", Form::Flag, inProject<&Project::openTray>, required(-1)},
    {"ProjectBurnProof", Form::Flag, inProject<&Project::burnProof>, required(-1)},
    {"ProjectBurnSimulate", Form::Flag, inProject<&Project::burnSimulate>, required(-1)},
    {"ProjectBurnMP3", Form::WholeBlock, inProject<&Project::mp3Config>},
    {kMp3FolderKey, Form::LocalFolder, inProject<&Project::mp3Folder>},
    {"ProjectRemoveMidis", Form::Flag, inProject<&Project::removeMidis>, required(-1)},
    {"ProjectRemoveWaves", Form::Flag, inProject<&Project::removeWaves>, required(-1)},
    // A disc without room is no disc.
    {kCdSpaceKey, Form::Int, inProject<&Project::data, &ProjectData::CDSpace>, withinOrFail(0, 1, INT_MAX)},
};

void readSpecialHeaderKey(const HeaderKey& key, ProfileContext& context, const FieldRef& field, Project& project) {
    switch (key.form) {
    case Form::SizedText: {
        // The size only says whether there is a text; the text is taken whole
        // (never allocated or cut by the stored size).
        std::optional<std::string>& text = *std::get<std::optional<std::string>*>(field);
        text.reset();
        if (context.readInt(std::string(key.name) + "Size", 0) > 0) text = readTextKey(context, key.name).value_or("");
        break;
    }
    case Form::WholeBlock: {
        const std::span<std::uint8_t> record = std::get<std::span<std::uint8_t>>(field);
        if (const auto block = prfReadIniBlob(context, key.name); block && block->size() >= record.size()) {
            std::copy_n(block->begin(), record.size(), record.begin());
        }
        break;
    }
    case Form::LocalFolder: {
        const std::optional<std::string> stored = readTextKey(context, key.name);
        *std::get<fs::path*>(field) = stored && isLocalStoredPath(*stored) ? platform::fromStoredPath(*stored)
                                                                           : project.data.ProjectFolder;
        break;
    }
    default:  // written only
        break;
    }
}

// Reads the header keys into fields; with fields null, only checks the keys
// the header cannot do without, so that a file with a bad header leaves the
// open project as it was. False when one of those is unusable.
bool readHeaderKeys(ProfileContext& context, HeaderFields* fields) {
    context.iniSection = std::string(kHeaderSection);
    for (const HeaderKey& key : kHeaderKeys) {
        const FieldRef field = fields && key.field ? key.field(*fields) : FieldRef{};
        if (!isPlainForm(key.form)) {
            if (fields) readSpecialHeaderKey(key, context, field, fields->project);
            continue;
        }
        if (!fields && key.rule.missing != Missing::Fail) continue;
        if (readPlainKey(context, key.name, key.form, key.rule, key.truth, field)) continue;
        if (key.rule.missing == Missing::Fail) return false;
        if (fields && key.stringId != 0) {
            *std::get<std::string*>(field) = fields->project.shell().languageString(key.stringId);
        }
    }
    return true;
}

// What the close-project command leaves: no entries. Done here as well, so
// that entries are never loaded behind the ones of the previous project.
void emptyEntries(Project& project) {
    for (ProjectEntry& entry : project.entries) project.pipeline().cnvEntryFreeModel(entry);
    project.entries.clear();
    project.currentEntry = -1;
    project.totalMs = 0;
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

void readEntries(Project& project, ProfileContext& context, const HeaderFields& header, bool checkSourceDates,
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
    HeaderFields fields{project, true, project.fileNum()};
    for (const HeaderKey& key : kHeaderKeys) {
        if (templateForm && key.inTemplate != nullptr) {
            writeText(context, key.name, key.inTemplate);
            continue;
        }
        const FieldRef field = key.field ? key.field(fields) : FieldRef{};
        switch (key.form) {
        case Form::Constant:
            writeText(context, key.name, key.text);
            break;
        case Form::StopNote:
            writeText(context, key.name,
                      platform::firstCharacters(project.shell().languageString(key.stringId), kStopTextChars));
            break;
        case Form::TemplateOnly:
            break;
        case Form::Folder:
        case Form::LocalFolder:
            writeText(context, key.name, platform::toStoredPath(*std::get<fs::path*>(field)));
            break;
        case Form::SizedText: {
            const std::optional<std::string>& text = *std::get<std::optional<std::string>*>(field);
            const std::size_t units = text ? platform::utf8ToUtf16(*text).size() + 1 : 0;
            writeInt(context, std::string(key.name) + "Size", static_cast<std::int64_t>(units));
            writeText(context, key.name, text.value_or(std::string()));
            break;
        }
        case Form::WholeBlock:
            prfWriteIniBlob(context, std::get<std::span<std::uint8_t>>(field), key.name);
            break;
        default:
            writePlainKey(context, key.name, key.form, field);
            break;
        }
    }
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
    if (status != platform::IniStatus::Ok || !readHeaderKeys(context, nullptr)) {
        codes.push_back(kPrjHeaderInvalid);
        return false;
    }

    SuspendDirtyMarking suspend(project);
    project.shell().closeProject();
    emptyEntries(project);
    project.filePath = file;
    project.data.ProjectFolder = file.parent_path();
    project.previousStep = project.currentStep;
    HeaderFields header{project};
    readHeaderKeys(context, &header);
    if (header.fileNum == 0) return true;
    readEntries(project, context, header, checkSourceDates, codes, names);
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
