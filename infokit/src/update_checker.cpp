#include "update_checker.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

#include "infokit_state.h"
#include "string_table.h"
#include "update_archive.h"

extern char** environ;

namespace infokit {
namespace {

constexpr std::string_view kMakerAliasName = "Tavrena-software";
constexpr std::string_view kMakerWord = "Tavrena";

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(bytes) / (1u << 20));
    return text;
}

// Ends the searching notice on every way out of the check.
class SearchingNotice {
public:
    SearchingNotice(UpdateUi& ui, const std::string& text) : ui_(ui) { ui_.setSearching(true, text); }
    ~SearchingNotice() { ui_.setSearching(false, {}); }
    SearchingNotice(const SearchingNotice&) = delete;
    SearchingNotice& operator=(const SearchingNotice&) = delete;

private:
    UpdateUi& ui_;
};

}  // namespace

bool startProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    return ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

UpdateChecker::UpdateChecker(UpdateHost host, UpdateEnvironment env, UpdateUi& ui)
    : host_(std::move(host)), env_(std::move(env)), ui_(ui), settings_(*env_.store, host_.programKey) {}

std::string UpdateChecker::t(int number) const { return text(host_.language, number); }

void UpdateChecker::note(const std::string& line) const {
    if (env_.log) env_.log(line);
}

void UpdateChecker::rememberCheck() { settings_.setLastCheck(dateOf(env_.now())); }

std::string UpdateChecker::baseUrl() const {
    if (!env_.serverUrl.empty()) return env_.serverUrl;
    std::string version = host_.versionText;
    std::erase(version, '.');
    const std::string server = settings_.serverAddress().value_or(std::string(kDefaultUpdateServer));
    const std::string name = host_.displayName == kMakerAliasName ? std::string(kMakerWord) : host_.displayName;
    std::string url = server + "/" + name + "/" + version + "/" + std::string(languageInfo(host_.language).urlCode);
    for (char& c : url) {
        if (c == ' ' || c == '&') c = '_';
    }
    return url;
}

bool UpdateChecker::checkFromExport(int build) {
    std::error_code ec;
    std::filesystem::remove_all(env_.updateFolder, ec);
    if (settings_.frequency() != UpdateFrequency::EveryStart && settings_.lastCheck() == dateOf(env_.now())) {
        return false;
    }
    return run(build, false);
}

bool UpdateChecker::dueForCheck() const {
    const UpdateFrequency frequency = settings_.frequency();
    if (frequency == UpdateFrequency::Never) return false;
    const auto last = settings_.lastCheck();
    if (!last || frequency == UpdateFrequency::EveryStart) return true;
    const double days = daysSince(*last, env_.now());
    switch (frequency) {
        case UpdateFrequency::Monthly: return days > 30;
        case UpdateFrequency::Weekly: return days > 7;
        case UpdateFrequency::Daily: return days > 1;
        default: return true;
    }
}

bool UpdateChecker::askFirst() {
    if (const auto stored = settings_.storedAnswer(host_.productCode)) {
        silenced_ = true;
        return *stored;
    }
    const UpdateUi::Answer answer =
        ui_.askWithDontAsk(formatText(host_.language, txt::kAskCheckNow, {host_.displayName}), host_.displayName);
    if (answer.dontAskAgain) settings_.storeAnswer(host_.productCode, answer.yes);
    return answer.yes;
}

void UpdateChecker::fail(bool forced, int number, const std::string& reason) {
    note("Update check: " + reason);
    // At start-up a server that cannot be reached is no news; asked for, it is.
    if (!forced || silenced_) return;
    ui_.message(t(number) + "\n\n" + formatText(host_.language, txt::kReason, {reason}), host_.displayName,
                MessageIcon::Information);
}

bool UpdateChecker::run(int build, bool forced) {
    silenced_ = false;
    if (!forced && (!dueForCheck() || !askFirst())) return false;
    std::optional<UpdateDescription> description;
    {
        const SearchingNotice searching(ui_, t(txt::kSearching));
        description = fetchDescription(forced);
    }
    if (!description) return false;
    if (!offer(*description, build)) return false;
    if (description->onlyFull) {
        if (description->onlyFullText.empty() || description->onlyFullUrl.empty()) return false;
        if (ui_.showOnlyFull(host_.displayName, description->onlyFullText, description->onlyFullUrl)) return true;
        rememberCheck();
        return false;
    }
    if (!downloadAndUnpack(*description)) return false;
    if (!ui_.askYesNo(t(txt::kReadyToInstall), host_.displayName)) return false;
    if (settings_.backup() && !backUp(build)) return false;
    if (env_.registryWriter != nullptr) env_.registryWriter->stop();
    return startUpdater(env_.updateFolder, {});
}

std::optional<UpdateDescription> UpdateChecker::fetchDescription(bool forced) {
    std::string error;
    if (!ensurePrivateFolder(env_.updateFolder, &error)) {
        fail(forced, txt::kNothingFound, error);
        return std::nullopt;
    }
    const std::filesystem::path iniPath = env_.updateFolder / kUpdateIniName;
    DownloadOptions options;
    options.maxBytes = kMaxUpdateIniSize;
    options.timeout = env_.iniTimeout;
    const DownloadResult got = downloadFile(baseUrl() + "/" + std::string(kUpdateIniName), iniPath, options);
    if (!got.ok) {
        fail(forced, txt::kNothingFound, got.error);
        return std::nullopt;
    }
    auto description = readUpdateDescription(iniPath, &error);
    if (!description) {
        fail(forced, txt::kNothingFound, error);
        return std::nullopt;
    }
    if (description->appName != host_.displayName) {
        note("Update check: \"uplift.ini\" names " + description->appName);
        if (!silenced_) ui_.message(t(txt::kWrongAppName), t(txt::kError), MessageIcon::Error);
        return std::nullopt;
    }
    return description;
}

// True when the description offers a build newer than ours and the user wants it.
bool UpdateChecker::offer(const UpdateDescription& description, int build) {
    const auto offered = parseUpdateVersion(description.versionText);
    const auto installed = parseVersionText(host_.versionText);
    if (!offered || !installed) {
        note("Update check: unreadable version \"" + description.versionText + "\"");
        return false;
    }
    if (offered->major != installed->first) {
        rememberCheck();
        return false;
    }
    const bool newer = installed->second < offered->minor || (installed->second == offered->minor && build < offered->build);
    if (!newer) {
        if (!silenced_ && !description.newVersionHint.empty()) {
            ui_.showNewVersion(host_.displayName, description.newVersionHint, description.newVersionLink);
        } else if (!silenced_) {
            ui_.message(t(txt::kNothingFound), host_.displayName, MessageIcon::Information);
        }
        rememberCheck();
        return false;
    }
    return ui_.askYesNo(formatText(host_.language, txt::kAskDownload, {description.versionText}), host_.displayName);
}

bool UpdateChecker::downloadJob(const UpdateDescription& description, DownloadSink& sink, std::string& error) {
    const std::filesystem::path archive = env_.updateFolder / kUpdateArchiveName;
    DownloadOptions options;
    options.timeout = env_.archiveTimeout;
    options.cancel = &sink.cancelRequested();
    options.progress = [&](std::uint64_t done, std::uint64_t total) {
        if (total == 0) return;
        const auto percent = static_cast<std::int64_t>(done * 100 / total);
        sink.setProgress(static_cast<int>(done * 1000 / total), 1000);
        sink.setText(formatText(host_.language, txt::kDownloadedOf, {megabytes(done), megabytes(total), percent}));
    };
    const DownloadResult got = downloadFile(baseUrl() + "/" + std::string(kUpdateArchiveName), archive, options);
    if (!got.ok) {
        error = got.error;
        return false;
    }
    if (description.files.empty()) {
        error = description.filesError;
        return false;
    }
    sink.setText(t(txt::kUnpacking));
    const int range = static_cast<int>(description.files.size());
    const UnpackResult unpacked = unpackUpdateArchive(archive, description.files, env_.updateFolder,
                                                      [&](std::size_t i) { sink.setProgress(static_cast<int>(i) + 1, range); });
    std::error_code ec;
    std::filesystem::remove(archive, ec);
    error = unpacked.error;
    return unpacked.ok;
}

bool UpdateChecker::downloadAndUnpack(const UpdateDescription& description) {
    std::string error;
    bool cancelled = false;
    const bool ok = ui_.runDownload(t(txt::kDownloadTitle), t(txt::kDownloading), [&](DownloadSink& sink) {
        const bool done = downloadJob(description, sink, error);
        cancelled = sink.cancelRequested().load();
        return done;
    });
    if (ok) return true;
    note("Update download: " + error);
    if (!cancelled) {
        ui_.message(t(txt::kDownloadFailed) + "\n\n" + formatText(host_.language, txt::kReason, {error}),
                    host_.displayName, MessageIcon::Information);
    }
    return false;
}

bool UpdateChecker::backUp(int build) {
    if (env_.registryWriter == nullptr) return false;
    reg::Request folder;
    folder.field2 = host_.hostPath.parent_path().string();
    reg::Request ini;
    ini.field2 = host_.versionText + "-" + std::to_string(build);
    ini.field3 = (backupFolder() / kBackupIniName).string();
    return env_.registryWriter->request(reg::kBackupFolder, folder) == reg::kReplyOk &&
           env_.registryWriter->request(reg::kWriteBackupIni, ini) == reg::kReplyOk;
}

bool UpdateChecker::startUpdater(const std::filesystem::path& folder, std::vector<std::string> extra) {
    std::vector<std::string> args{std::to_string(host_.window), host_.hostPath.string(),
                                  std::to_string(host_.productIndex), std::to_string(host_.hostProcessId),
                                  host_.programKey, std::to_string(host_.language)};
    args.insert(args.end(), extra.begin(), extra.end());
    return env_.start(folder / "uplift", args);
}

bool UpdateChecker::restorePrevious(int build) {
    const std::string question = host_.productCode + "-restore";
    if (const auto stored = settings_.storedAnswer(question); stored && !*stored) return false;
    if (!settings_.storedAnswer(question)) {
        const UpdateUi::Answer answer = ui_.askWithDontAsk(t(txt::kAskRestore), host_.displayName);
        if (answer.dontAskAgain) settings_.storeAnswer(question, answer.yes);
        if (!answer.yes) return false;
    }
    return startUpdater(backupFolder(), {std::to_string(build)});
}

bool UpdateChecker::setBackup(bool on) {
    if (!settings_.setBackup(on)) return false;
    std::error_code ec;
    if (!on || std::filesystem::is_directory(backupFolder(), ec)) return true;
    reg::Request request;
    request.field1 = "hidden|archive";
    request.field2 = backupFolder().string();
    const int reply = env_.registryWriter != nullptr ? env_.registryWriter->request(reg::kCreateFolder, request)
                                                     : reg::kCannotStart;
    if (reply == reg::kReplyOk || reply == reg::kReplyExists) return true;
    ui_.message(t(txt::kBackupFolderFailed), t(txt::kUpliftCaption), MessageIcon::Error);
    return false;
}

}  // namespace infokit
