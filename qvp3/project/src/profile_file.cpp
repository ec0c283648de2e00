#include "qvp3_project/profile_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kTypeKey = "ProfileType";
constexpr std::string_view kDescKey = "ProfileDesc";
constexpr std::string_view kVersionKey = "ProfileVersion";
constexpr std::string_view kDataNumKey = "ProfileDataNum";
constexpr std::string_view kRuleKey = "======";
constexpr std::string_view kRule = "==============================================";
constexpr std::string_view kStopKey = "Stop!!";
constexpr std::string_view kProfileVersion = "2";
// The type was read into a buffer of four characters.
constexpr std::size_t kTypeChars = 3;

std::optional<platform::IniDocument> loadProfile(const fs::path& path) {
    platform::IniDocument document;
    if (document.load(path) != platform::IniStatus::Ok) return std::nullopt;
    return document;
}

std::optional<std::string> descOf(const platform::IniDocument& document) {
    std::string desc = platform::firstCharacters(document.getString(kProfileSection, kDescKey, ""), kProfileDescChars);
    if (desc.empty()) return std::nullopt;
    return desc;
}

int typeOf(const platform::IniDocument& document) {
    const std::string type = platform::firstCharacters(document.getString(kProfileSection, kTypeKey, ""), kTypeChars);
    if (type.empty()) return -1;
    if (document.getInt(kProfileSection, kVersionKey, -1) == -1) {
        // The first version knew dynamics profiles only; its type was a number.
        return document.getInt(kProfileSection, kTypeKey, 0) != 0 ? -1 : static_cast<int>(StepCategory::Dyn);
    }
    return stpCategoryFromCode(type);
}

// Creates path, failing when it exists: whoever creates the file owns its number.
bool claimFile(const fs::path& path, bool& folderUsable) {
    std::FILE* file = std::fopen(path.c_str(), "wx");
    if (file != nullptr) {
        std::fclose(file);
        return true;
    }
    folderUsable = errno == EEXIST;
    return false;
}

struct ListedProfile {
    std::string desc;
    fs::path path;
};

std::vector<ListedProfile> profilesOf(const fs::path& folder, int stepCategory) {
    std::vector<ListedProfile> listed;
    if (folder.empty()) return listed;
    for (const fs::path& path : platform::listFiles(folder, kProfilePattern)) {
        const auto document = loadProfile(path);
        if (!document || typeOf(*document) != stepCategory) continue;
        if (auto desc = descOf(*document)) listed.push_back({std::move(*desc), path});
    }
    return listed;
}

}  // namespace

fs::path prfDataFolder() {
    if (const char* own = std::getenv("QVP3_CONFIG_HOME"); own && *own) return fs::path(own) / "qvp3";
    // The base-directory rules ignore a relative XDG_DATA_HOME.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') return fs::path(xdg) / "qvp3";
    const char* home = std::getenv("HOME");
    std::error_code ec;
    const fs::path base = home && *home ? fs::path(home) : fs::current_path(ec);
    return base / ".local" / "share" / "qvp3";
}

fs::path prfDefaultProfileFolder() { return prfDataFolder() / "Profiles"; }

void prfInitProfileFolder(ProfileContext& context, const fs::path& setting) {
    context.profileFolder = setting.empty() ? prfDefaultProfileFolder() : setting;
    std::error_code ec;
    fs::create_directories(context.profileFolder, ec);
    context.profileCount = static_cast<int>(platform::listFiles(context.profileFolder, kProfilePattern).size());
}

fs::path prfProfilePath(const ProfileContext& context, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "Profile%05d.qvpprof", index + 1);
    return context.profileFolder / name;
}

int prfReadProfileType(const fs::path& path) {
    const auto document = loadProfile(path);
    return document ? typeOf(*document) : -1;
}

std::optional<std::string> prfGetProfileDesc(const ProfileContext& context, const fs::path* path, int index) {
    if (path != nullptr) {
        const auto document = loadProfile(*path);
        return document ? descOf(*document) : std::nullopt;
    }
    if (context.profileList == nullptr) return std::nullopt;
    if (index == -1) index = context.selectedIndex;
    if (index < 0 || index >= context.profileList->count()) return std::nullopt;
    const fs::path itemPath = context.profileList->itemPath(index);
    return prfGetProfileDesc(context, &itemPath, 0);
}

bool prfFillProfileCombo(ProfileContext& context, int stepCategory) {
    context.clearList();
    std::vector<ListedProfile> listed = profilesOf(context.profileFolder, stepCategory);
    std::stable_sort(listed.begin(), listed.end(), [](const ListedProfile& a, const ListedProfile& b) {
        return platform::foldCase(a.desc) < platform::foldCase(b.desc);
    });
    // An index into the emptied list would name a profile no longer shown.
    context.selectedIndex = -1;
    if (context.profileList == nullptr || listed.empty()) return false;
    for (ListedProfile& profile : listed) context.profileList->addItem(std::move(profile.desc), std::move(profile.path));
    context.selectedIndex = 0;
    context.profileList->select(0);
    return true;
}

bool prfProfileDescExists(const ProfileContext& context, int stepCategory, std::string_view description) {
    const std::string wanted = platform::firstCharacters(description, kProfileDescChars);
    const auto listed = profilesOf(context.profileFolder, stepCategory);
    return std::any_of(listed.begin(), listed.end(),
                       [&](const ListedProfile& p) { return platform::equalsNoCase(p.desc, wanted); });
}

bool prfWriteNewProfile(ProjectEntry* entry, ProfileContext& context, std::string_view description, StepPage& page,
                        ShellServices& shell) {
    const std::string desc = platform::firstCharacters(description, kProfileDescChars);
    if (desc.empty() || !page.writeProfile || context.profileFolder.empty()) return false;

    fs::path path;
    bool folderUsable = true;
    for (int index = 0; index < kMaxProfileNumber && folderUsable; ++index) {
        const fs::path candidate = prfProfilePath(context, index);
        if (claimFile(candidate, folderUsable)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) return false;

    if (!context.setTarget(kProfileSection, path)) {
        std::error_code ec;
        fs::remove(path, ec);
        return false;
    }
    context.startNewDocument();
    std::string stop = shell.languageString(kStrProfileStopNote);
    if (stop.empty()) stop = "0";
    const std::string dataNum = std::to_string(page.profileDataNum);
    const std::string code(stpCategoryCode(static_cast<int>(page.category)));
    prfWriteIniValue(context, kProfileSection, path, kRuleKey, 0, std::string(kRule).c_str());
    prfWriteIniValue(context, kProfileSection, path, kStopKey, 0, stop.c_str());
    prfWriteIniValue(context, kProfileSection, path, kRuleKey, 0, std::string(kRule).c_str());
    prfWriteIniValue(context, kProfileSection, path, kTypeKey, 0, code.c_str());
    prfWriteIniValue(context, kProfileSection, path, kDescKey, 0, desc.c_str());
    prfWriteIniValue(context, kProfileSection, path, kVersionKey, 0, std::string(kProfileVersion).c_str());
    prfWriteIniValue(context, kProfileSection, path, kDataNumKey, 0, dataNum.c_str());

    if (!stpSaveProfile(context, page, path, static_cast<std::int32_t>(page.category), entry)) {
        context.startNewDocument();  // drop what was not written
        std::error_code ec;
        fs::remove(path, ec);
        return false;
    }
    ++context.profileCount;
    return true;
}

bool prfApplyProfile(ProfileContext& context, StepPage& page, ProjectEntry* entry) {
    if (context.selectedIndex < 0 || context.profileList == nullptr ||
        context.selectedIndex >= context.profileList->count()) {
        return false;
    }
    const fs::path path = context.profileList->itemPath(context.selectedIndex);
    const auto document = loadProfile(path);
    if (!document) return false;
    const int type = typeOf(*document);
    if (type == -1) return false;
    const int dataNum = document->getInt(kProfileSection, kDataNumKey, -1);
    if (dataNum == -1) return false;
    return stpLoadProfile(context, page, path, dataNum, type, entry);
}

bool prfNoEntryChosen(const ProfileContext& context) { return prfCountEntriesChosen(context) == 0; }

int prfCountEntriesChosen(const ProfileContext& context) {
    return static_cast<int>(std::count_if(context.applyFlags.begin(), context.applyFlags.end(),
                                          [](std::uint8_t flag) { return flag != 0; }));
}

bool prfAskApplyMismatch(ShellServices& shell, const ProjectEntry& entry) {
    const std::string name(platform::storedFileName(entry.Filename.string()));
    const std::string text = prfFormatString(shell.languageString(kStrProfileMismatch), name);
    return shell.appTextBox(text, kBoxQuestion, kMbYesNo) == kIdYes;
}

bool stpLoadProfile(ProfileContext& context, StepPage& page, const fs::path& path, std::int32_t dataNum,
                    std::int32_t type, ProjectEntry* entry) {
    if (!page.readProfile) return false;
    context.setTarget(kProfileSection, path);
    context.reload();  // the file as it is now, not as this context last saw it
    return page.readProfile(page, path, dataNum, type, entry);
}

bool stpSaveProfile(ProfileContext& context, StepPage& page, const fs::path& path, std::int32_t type,
                    ProjectEntry* entry) {
    if (!page.writeProfile) return false;
    if (!context.setTarget(kProfileSection, path)) return false;
    if (!page.writeProfile(page, path, type, entry)) return false;
    return context.flush();
}

std::string prfFormatString(std::string_view text, std::string_view argument) {
    for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 2)) {
        if (at + 1 >= text.size()) break;
        const char spec = text[at + 1];
        if (spec == 's' || spec == 'i' || spec == 'd') {
            return std::string(text.substr(0, at)) + std::string(argument) + std::string(text.substr(at + 2));
        }
    }
    return std::string(text);
}

}  // namespace qvp3
