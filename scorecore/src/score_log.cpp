#include "scorecore/score_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace scorecore {

namespace {

// The longest prefix of text of at most max bytes that does not end inside a
// UTF-8 sequence.
std::string_view cutAtCharBoundary(std::string_view text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

CScoreLog::CScoreLog(const std::filesystem::path& file)
    : fd_(::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}

CScoreLog::CScoreLog(Sink sink) : sink_(std::move(sink)) {}

CScoreLog::~CScoreLog() {
    if (fd_ >= 0) ::close(fd_);
}

void CScoreLog::writeLine(std::string_view text) {
    std::string line(cutAtCharBoundary(text, kMaxLineChars));
    line += "\r\n";
    std::lock_guard<std::mutex> lock(mutex_);
    if (sink_) {
        sink_(line);
        return;
    }
    if (fd_ < 0) return;
    // One write per line, so that other writers to the file cannot split it.
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void CScoreLog::writeLineF(const char* format, ...) {
    char buffer[kMaxLineChars + 1];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return;
    writeLine(buffer);
}

}  // namespace scorecore
