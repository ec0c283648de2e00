#include "reg_writer.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/text.h"

extern char** environ;

namespace infokit {
namespace reg {
namespace {

void putU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t getU32(const char* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

void putField(char* out, std::string_view utf8) {
    std::u16string wide = platform::utf8ToUtf16(utf8);
    if (wide.size() > kFieldChars - 1) wide.resize(kFieldChars - 1);
    const std::string bytes = platform::utf16ToLeBytes(wide);
    std::copy(bytes.begin(), bytes.end(), out);
}

std::string getField(const char* block) {
    std::u16string wide = platform::utf16leBytesToString(std::string_view(block, kFieldChars * 2));
    wide.resize(std::min(wide.find(u'\0'), wide.size()));
    return platform::utf16ToUtf8(wide);
}

}  // namespace

std::array<char, kRequestSize> encodeRequest(const Request& request) {
    std::array<char, kRequestSize> block{};
    putField(block.data(), request.field1);
    putField(block.data() + kFieldChars * 2, request.field2);
    putField(block.data() + kFieldChars * 4, request.field3);
    std::string number;
    putU32(number, static_cast<std::uint32_t>(request.number));
    std::copy(number.begin(), number.end(), block.data() + kFieldChars * 6);
    return block;
}

Request decodeRequest(const char* block) {
    return {getField(block), getField(block + kFieldChars * 2), getField(block + kFieldChars * 4),
            static_cast<std::int32_t>(getU32(block + kFieldChars * 6))};
}

std::string encodeFrame(std::uint32_t message, std::uint32_t wParam, std::string_view payload) {
    std::string out;
    putU32(out, message);
    putU32(out, wParam);
    putU32(out, static_cast<std::uint32_t>(payload.size()));
    out += payload;
    return out;
}

}  // namespace reg

namespace {

constexpr int kReplyTimeoutMs = 5000;

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Reads the 4-byte reply within the time limit: the reply, kNoAnswer on
// time-out, kWriterGone when the helper went away.
int readReply(int fd) {
    char reply[4];
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyTimeoutMs);
    while (got < sizeof reply) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return reg::kNoAnswer;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return reg::kNoAnswer;
        const ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return reg::kWriterGone;
        got += static_cast<std::size_t>(n);
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(reply[i]);
    return static_cast<std::int32_t>(value);
}

}  // namespace

RegistryWriterProcess::RegistryWriterProcess(std::filesystem::path program, int productIndex)
    : program_(std::move(program)), productIndex_(productIndex) {}

RegistryWriterProcess::~RegistryWriterProcess() { stop(); }

bool RegistryWriterProcess::start() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    const std::string program = program_.string();
    const std::string handshake = std::to_string(reg::kHandshakeNumber);
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(handshake.c_str()), nullptr};
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    socket_ = fds[0];
    if (spawned != 0) {
        pid_ = -1;
        stop();
        return false;
    }
    if (exchange(reg::kMsgHandshake, reg::kHandshakeNumber, {}) != reg::kReplyOk ||
        exchange(reg::kMsgProductIndex, static_cast<std::uint32_t>(productIndex_), {}) != reg::kReplyOk) {
        stop();
        return false;
    }
    return true;
}

int RegistryWriterProcess::exchange(std::uint32_t message, std::uint32_t wParam, std::string_view payload) {
    if (socket_ < 0 || !sendAll(socket_, reg::encodeFrame(message, wParam, payload))) return reg::kWriterGone;
    return readReply(socket_);
}

int RegistryWriterProcess::request(std::uint32_t code, const reg::Request& request) {
    if (socket_ < 0 && !start()) return reg::kCannotStart;
    const auto block = reg::encodeRequest(request);
    return exchange(reg::kMsgCopyData, code, std::string_view(block.data(), block.size()));
}

void RegistryWriterProcess::stop() {
    if (socket_ >= 0) {
        sendAll(socket_, reg::encodeFrame(reg::kMsgDestroy, 0, {}));
        ::close(socket_);
        socket_ = -1;
    }
    if (pid_ <= 0) return;
    // The helper ends when its input closes; one that does not is ended.
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace infokit
