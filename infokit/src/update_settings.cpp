#include "update_settings.h"

#include <charconv>
#include <cstdio>

namespace infokit {
namespace {

constexpr std::string_view kFrequency = "UpliftFreq";
constexpr std::string_view kBackup = "UpliftBackup";
constexpr std::string_view kDate = "UpliftDate";
constexpr std::string_view kServer = "UpliftServer";
// Where the message box with a do-not-show-again choice keeps its answers.
constexpr std::string_view kAnswersKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DontShowMeThisDialogAgain";

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

UpdateDate dateOf(std::chrono::system_clock::time_point time) {
    const std::chrono::year_month_day ymd{std::chrono::floor<std::chrono::days>(time)};
    return {static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(ymd.year())};
}

std::string formatUpdateDate(const UpdateDate& date) {
    return std::to_string(date.day) + "|" + std::to_string(date.month) + "|" + std::to_string(date.year);
}

std::optional<UpdateDate> parseUpdateDate(std::string_view text) {
    const std::size_t first = text.find('|');
    const std::size_t second = first == std::string_view::npos ? first : text.find('|', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto day = parseInt(text.substr(0, first));
    const auto month = parseInt(text.substr(first + 1, second - first - 1));
    const auto year = parseInt(text.substr(second + 1));
    if (!day || !month || !year) return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                          std::chrono::day(static_cast<unsigned>(*day))};
    if (*day < 1 || *month < 1 || !ymd.ok()) return std::nullopt;
    return UpdateDate{*day, *month, *year};
}

double daysSince(const UpdateDate& date, std::chrono::system_clock::time_point now) {
    const std::chrono::sys_days then{std::chrono::year(date.year) / std::chrono::month(static_cast<unsigned>(date.month)) /
                                     std::chrono::day(static_cast<unsigned>(date.day))};
    return std::chrono::duration<double, std::ratio<86400>>(now - then).count();
}

UpdateSettings::UpdateSettings(platform::SettingsStore& store, std::string programKey)
    : store_(store), key_(std::move(programKey) + "\\Uplift") {}

std::optional<std::string> UpdateSettings::read(std::string_view name) const {
    const platform::SettingsKey key = store_.openKey(platform::Hive::User, key_);
    return key ? key.readString(name) : std::nullopt;
}

bool UpdateSettings::write(std::string_view name, std::string_view value) {
    platform::SettingsKey key = store_.createKey(platform::Hive::User, key_);
    return key && key.writeString(name, value) == platform::SettingsStatus::Ok;
}

UpdateFrequency UpdateSettings::frequency() const {
    const auto value = parseInt(read(kFrequency).value_or("0"));
    if (!value || *value < 0 || *value > 4) return UpdateFrequency::Never;
    return static_cast<UpdateFrequency>(*value);
}

bool UpdateSettings::setFrequency(int frequency) {
    if (frequency < 0 || frequency > 4) return false;
    if (read(kFrequency) == std::to_string(frequency)) return true;
    return write(kFrequency, std::to_string(frequency));
}

bool UpdateSettings::backup() const { return read(kBackup) == "1"; }

bool UpdateSettings::setBackup(bool on) { return write(kBackup, on ? "1" : "0"); }

std::optional<UpdateDate> UpdateSettings::lastCheck() const {
    const auto text = read(kDate);
    return text ? parseUpdateDate(*text) : std::nullopt;
}

bool UpdateSettings::setLastCheck(const UpdateDate& date) { return write(kDate, formatUpdateDate(date)); }

std::optional<std::string> UpdateSettings::serverAddress() const {
    auto text = read(kServer);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

std::optional<bool> UpdateSettings::storedAnswer(std::string_view question) const {
    const platform::SettingsKey key = store_.openKey(platform::Hive::User, kAnswersKey);
    const auto answer = key ? key.readString(question) : std::nullopt;
    if (!answer) return std::nullopt;
    return *answer == "YES";
}

bool UpdateSettings::storeAnswer(std::string_view question, bool yes) {
    platform::SettingsKey key = store_.createKey(platform::Hive::User, kAnswersKey);
    return key && key.writeString(question, yes ? "YES" : "NO") == platform::SettingsStatus::Ok;
}

}  // namespace infokit
