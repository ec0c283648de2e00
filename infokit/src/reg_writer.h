// The registry writer: the helper program `infokitreg`, which writes what
// needs the installation's rights (machine-wide settings, the backup of the
// program folder). The library starts it on demand and talks to it over a
// socket pair on the helper's standard input and output, with the message
// numbers and the 1540-byte request block the helper has always understood.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace infokit {

namespace reg {
inline constexpr std::uint32_t kHandshakeNumber = 604817;
inline constexpr std::uint32_t kMsgHandshake = 0x0400 + 101;     // wParam: kHandshakeNumber
inline constexpr std::uint32_t kMsgProductIndex = 0x0400 + 102;  // wParam: the product row
inline constexpr std::uint32_t kMsgCopyData = 0x004A;            // wParam: the request code
inline constexpr std::uint32_t kMsgDestroy = 0x0002;

inline constexpr std::uint32_t kCreateFolder = 1009;  // attributes, path
inline constexpr std::uint32_t kWriteValue = 1010;    // key path, value name, text or number
inline constexpr std::uint32_t kBackupFolder = 1011;  // -, program folder
inline constexpr std::uint32_t kWriteBackupIni = 1012;  // -, version text, INI path

inline constexpr int kReplyOk = 0;
inline constexpr int kReplyExists = 18;
inline constexpr int kReplyFailed = 2;
inline constexpr int kReplyBadRequest = 87;
inline constexpr int kNoAnswer = -1;      // no reply in time
inline constexpr int kWriterGone = 1;     // the writer is not there
inline constexpr int kCannotStart = 14;   // the writer could not be started

inline constexpr std::size_t kFieldChars = 256;
inline constexpr std::size_t kRequestSize = 3 * kFieldChars * 2 + 4;
static_assert(kRequestSize == 1540);
inline constexpr std::uint32_t kMaxPayload = 4096;

struct Request {
    std::string field1;  // key path, or the folder's attributes
    std::string field2;  // value name or path
    std::string field3;  // text data; empty when the number is meant
    std::int32_t number = 0;
};

// The request block: three fields of 256 UTF-16LE characters (cut to 255 and
// terminated), then the number, little-endian.
std::array<char, kRequestSize> encodeRequest(const Request& request);
Request decodeRequest(const char* block);

// One message: message number, wParam and payload length (each 32-bit
// little-endian), then the payload. Replies are one 32-bit integer.
std::string encodeFrame(std::uint32_t message, std::uint32_t wParam, std::string_view payload);
}  // namespace reg

// The library's end of the conversation.
class RegistryWriter {
public:
    virtual ~RegistryWriter() = default;
    // The helper's reply, or kNoAnswer, kWriterGone or kCannotStart.
    virtual int request(std::uint32_t code, const reg::Request& request) = 0;
    virtual void stop() = 0;
};

class RegistryWriterProcess : public RegistryWriter {
public:
    // program: the helper's path; productIndex goes with the handshake.
    RegistryWriterProcess(std::filesystem::path program, int productIndex);
    ~RegistryWriterProcess() override;
    RegistryWriterProcess(const RegistryWriterProcess&) = delete;
    RegistryWriterProcess& operator=(const RegistryWriterProcess&) = delete;

    int request(std::uint32_t code, const reg::Request& request) override;
    void stop() override;
    bool running() const { return socket_ >= 0; }

private:
    bool start();
    int exchange(std::uint32_t message, std::uint32_t wParam, std::string_view payload);

    std::filesystem::path program_;
    int productIndex_;
    int socket_ = -1;
    pid_t pid_ = -1;
};

}  // namespace infokit
