#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/atomic_file.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().filename());
    return files;
}

// What the child of FileSizeLimitFailsTheWriteAndLeavesNoTemporaryFile reports.
enum ChildResult {
    kFailedCleanly = 0,
    kWriteSucceeded,
    kNoErrorText,
    kMaskChanged,
    kSignalLeftPending,
    kSetupFailed,
};

// Writes past the file size limit with SIGXFSZ at its default action, which
// kills the process; the child's exit status says what the write did.
int writePastTheLimitInChild(const fs::path& target, bool signalBlockedBefore) {
    const pid_t pid = ::fork();
    if (pid != 0) {
        int status = -1;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return status;
    }
    sigset_t xfsz;
    sigemptyset(&xfsz);
    sigaddset(&xfsz, SIGXFSZ);
    rlimit limit{};
    if (std::signal(SIGXFSZ, SIG_DFL) == SIG_ERR ||
        ::pthread_sigmask(signalBlockedBefore ? SIG_BLOCK : SIG_UNBLOCK, &xfsz, nullptr) != 0 ||
        ::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        ::_exit(kSetupFailed);
    }
    limit.rlim_cur = 4096;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(kSetupFailed);

    std::string error;
    const bool written = writeFileAtomically(target, std::string(64 * 1024, 'n'), &error);

    sigset_t mask;
    sigset_t pending;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    ::sigpending(&pending);
    if (written) ::_exit(kWriteSucceeded);
    if (error.find(std::strerror(EFBIG)) == std::string::npos) ::_exit(kNoErrorText);
    if ((sigismember(&mask, SIGXFSZ) == 1) != signalBlockedBefore) ::_exit(kMaskChanged);
    if (sigismember(&pending, SIGXFSZ) == 1) ::_exit(kSignalLeftPending);
    ::_exit(kFailedCleanly);
}

// The size limit must fail the write, not end the process with the temporary
// file left behind; the calling thread's signal mask is given back as it was.
TEST(AtomicFile, FileSizeLimitFailsTheWriteAndLeavesNoTemporaryFile) {
    for (const bool blockedBefore : {false, true}) {
        SCOPED_TRACE(blockedBefore ? "SIGXFSZ blocked by the caller" : "SIGXFSZ at its default action");
        TempFolder tmp;
        const fs::path target = tmp.path() / "settings.ini";
        writeBytes(target, "old contents");

        const int status = writePastTheLimitInChild(target, blockedBefore);
        ASSERT_TRUE(WIFEXITED(status)) << "the writer died of signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), kFailedCleanly);
        EXPECT_EQ(readBytes(target), "old contents");
        EXPECT_EQ(filesIn(tmp.path()), std::vector<fs::path>{"settings.ini"});
    }
}

}  // namespace
}  // namespace platform
