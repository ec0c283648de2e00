#include "platform/atomic_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// The process umask, read without changing it (umask() itself would race
// with files other threads create meanwhile).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    return 022;
}

// Keeps SIGXFSZ blocked for the calling thread while it writes, so that
// passing the file size limit fails the write with EFBIG (and the temporary
// file is removed) instead of killing the process with the file left behind.
// A SIGXFSZ raised meanwhile is taken back before the thread's mask returns;
// one that was pending before is left alone.
class FileSizeSignalBlock {
public:
    FileSizeSignalBlock() {
        sigemptyset(&signal_);
        sigaddset(&signal_, SIGXFSZ);
        blocked_ = ::pthread_sigmask(SIG_BLOCK, &signal_, &saved_) == 0;
        wasPending_ = isPending();
    }
    ~FileSizeSignalBlock() {
        if (!blocked_) return;
        const int savedErrno = errno;  // the caller reports the write's own error
        if (!wasPending_ && isPending()) {
            const timespec now{};
            ::sigtimedwait(&signal_, nullptr, &now);
        }
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
        errno = savedErrno;
    }
    FileSizeSignalBlock(const FileSizeSignalBlock&) = delete;
    FileSizeSignalBlock& operator=(const FileSizeSignalBlock&) = delete;

private:
    static bool isPending() {
        sigset_t pending;
        return ::sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
    }

    sigset_t signal_{};
    sigset_t saved_{};
    bool blocked_ = false;
    bool wasPending_ = false;
};

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

bool AtomicFileWriter::fail(const char* what) {
    error_ = std::string(what) + " '" + (tempPath_.empty() ? target_ : tempPath_).string() +
             "': " + std::strerror(errno);
    failed_ = true;
    return false;
}

bool AtomicFileWriter::open() {
    discard();
    failed_ = false;
    error_.clear();
    const auto folder = target_.has_parent_path() ? target_.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + target_.filename().string() + ".tmpXXXXXX")).string();
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) return fail("cannot create a temporary file beside");
    tempPath_ = pattern;

    // mkstemp creates the file readable by its owner only; give it the mode an
    // ordinary new file would have, or the old file's mode when it is replaced.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(target_.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        mode = 0666 & ~currentUmask();
    }
    ::fchmod(fd_, mode);
    return true;
}

bool AtomicFileWriter::write(const void* data, std::size_t size) {
    if (fd_ < 0 || failed_) return false;
    const auto* bytes = static_cast<const char*>(data);
    const FileSizeSignalBlock noFileSizeSignal;
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail("cannot write");
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (fd_ < 0 || failed_) return false;
    if (::fsync(fd_) != 0) return fail("cannot flush");
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail("cannot close");
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) return fail("cannot rename over the target");
    tempPath_.clear();
    return true;
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, std::string* error) {
    AtomicFileWriter writer(target);
    const bool ok = writer.open() && writer.write(bytes) && writer.commit();
    if (!ok && error) *error = writer.error();
    return ok;
}

}  // namespace platform
