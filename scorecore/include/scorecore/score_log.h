// The host's log for the score library: one line per reached or failing step,
// each ended by carriage return and line feed. The host owns the log and hands
// it to the documents it opens; several documents (on several threads) may
// share one log, and their lines never run into each other.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace scorecore {

class CScoreLog {
public:
    // A line's text is cut to this many bytes (at a character boundary) before
    // its line end is added.
    static constexpr std::size_t kMaxLineChars = 255;

    using Sink = std::function<void(std::string_view line)>;

    // Appends lines to a file, which is created when missing. A file that
    // cannot be opened makes a log that drops its lines (see isOpen).
    explicit CScoreLog(const std::filesystem::path& file);
    // Hands every line (with its line end) to sink.
    explicit CScoreLog(Sink sink);
    ~CScoreLog();
    CScoreLog(const CScoreLog&) = delete;
    CScoreLog& operator=(const CScoreLog&) = delete;

    bool isOpen() const { return fd_ >= 0 || static_cast<bool>(sink_); }

    // Writes text and "\r\n"; a text longer than kMaxLineChars is cut first.
    void writeLine(std::string_view text);
    // Formats like printf into at most 255 characters, then writes the line.
    void writeLineF(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex mutex_;
    int fd_ = -1;
    Sink sink_;
};

}  // namespace scorecore
