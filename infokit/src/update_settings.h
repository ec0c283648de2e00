// The update check's settings: REG_SZ values in the "Uplift" subkey of the
// host's program key in the user hive, and the answer the user gave once for
// good to the question whether to look for an update now.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace infokit {

// How often to look: "UpliftFreq".
enum class UpdateFrequency { Never = 0, Monthly = 1, Weekly = 2, Daily = 3, EveryStart = 4 };

// A day of the calendar (UTC), as "UpliftDate" stores it: "%i|%i|%i" of day, month, year.
struct UpdateDate {
    int day = 0;
    int month = 0;
    int year = 0;
    bool operator==(const UpdateDate&) const = default;
};

UpdateDate dateOf(std::chrono::system_clock::time_point time);
std::string formatUpdateDate(const UpdateDate& date);
std::optional<UpdateDate> parseUpdateDate(std::string_view text);
// Days (with their fraction) from the start of `date` to `now`.
double daysSince(const UpdateDate& date, std::chrono::system_clock::time_point now);

class UpdateSettings {
public:
    UpdateSettings(platform::SettingsStore& store, std::string programKey);

    UpdateFrequency frequency() const;
    // Writes "UpliftFreq", creating the key; true at once when unchanged.
    bool setFrequency(int frequency);
    bool backup() const;
    bool setBackup(bool on);
    std::optional<UpdateDate> lastCheck() const;
    bool setLastCheck(const UpdateDate& date);
    // The update server's base address ("UpliftServer"), when one is set.
    std::optional<std::string> serverAddress() const;
    // The stored answer to a question with a do-not-ask-again choice.
    std::optional<bool> storedAnswer(std::string_view question) const;
    bool storeAnswer(std::string_view question, bool yes);

private:
    std::optional<std::string> read(std::string_view name) const;
    bool write(std::string_view name, std::string_view value);

    platform::SettingsStore& store_;
    std::string key_;
};

}  // namespace infokit
