// The diagnostic log: a UTF-16LE text file (with byte-order mark) in the
// user's documents folder, named after the host program, that every thread
// and process of that program appends to. A marker file in the runtime folder
// keeps logging switched on until it is switched off or the machine restarts
// (the runtime folder is emptied at log-out and restart); an exclusive flock
// on the log file lets one writer at a time append a whole entry.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace infokit {

struct LogConfig {
    std::string programName;              // the host's file name without extension
    std::filesystem::path logFolder;      // where "<program>.log" lives
    std::filesystem::path markerFolder;   // where the switch lives
    // After "Version: " in the first entries of a fresh log: the host's file
    // name and its version.
    std::function<std::string()> versionText;
    // Time source for the one-second cache of the switch; steady_clock by default.
    std::function<std::chrono::steady_clock::time_point()> tick;
};

// The configuration for the running host: its program name, the documents
// folder and $XDG_RUNTIME_DIR (a private folder in the temporary folder
// without one).
LogConfig defaultLogConfig(const std::filesystem::path& hostPath);

class DiagLog {
public:
    explicit DiagLog(LogConfig config);

    // Appends one entry (more lines for a text with line breaks). source is a
    // source file name or empty; with `wait` set the entry never blocks: when
    // another writer holds the file it is kept and written, with its time,
    // before the next entry that gets the file. Nothing happens while logging
    // is off.
    void write(std::string_view tag, int level, std::string_view source, int line, std::string_view text,
               bool wait = false);
    // An entry of the library's own: tag "DVD", level 1, no source; at most
    // 16000 characters of it.
    void print(std::string_view text);

    // Whether logging is on; the switch is looked at no more than once a second.
    bool isOn();
    // Switches logging on or off. True when the switch changed, which is when
    // the host shows its notice (unless quiet). Switching on begins a fresh file.
    bool switchOn();
    bool switchOff(bool quiet);

    std::filesystem::path logFile() const;
    std::filesystem::path markerFile() const;

    // The fixed parts of an entry, for tests.
    static std::string sourceColumn(std::string_view source);
    static constexpr std::string_view kFiller =
        "    |          |    |                 |                 |       | ";

private:
    struct Pending {
        std::string tag;
        int level;
        long threadId;
        std::tm time;
        int millis;
        std::string source;
        int line;
        std::string text;
    };

    bool markerExists() const;
    std::string formatEntry(const Pending& entry, bool givenTime) const;
    std::u16string firstEntries() const;
    bool appendLocked(int fd, const Pending& entry);

    LogConfig config_;
    std::mutex mutex_;  // guards what follows, within this process
    std::vector<Pending> pending_;
    bool on_ = false;
    bool firstEntry_ = true;
    std::optional<std::chrono::steady_clock::time_point> lastLook_;
};

// The host program's log.
DiagLog& hostLog();

}  // namespace infokit
