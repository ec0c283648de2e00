// infokitreg: writes for the info kit what needs the installation's rights:
// values of the machine hive, the hidden backup folder beside the program and
// its backup of the program folder. The library starts it with the handshake
// number as its one argument and sends it messages on standard input; each
// message but the last is answered with one 32-bit integer on standard output.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/settings_store.h"
#include "reg_writer.h"

namespace {

using namespace infokit;
namespace fs = std::filesystem;

bool readAll(int fd, char* out, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, out, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void reply(int value) {
    char bytes[4];
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    const char* p = bytes;
    for (std::size_t left = 4; left > 0;) {
        const ssize_t n = ::write(1, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) std::exit(1);
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

std::uint32_t u32(const char* b) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[3])) << 24;
}

int writeValue(const reg::Request& r) {
    platform::SettingsStore store;
    platform::SettingsKey key = store.createKey(platform::Hive::Machine, r.field1);
    if (!key) return reg::kReplyFailed;
    const platform::SettingsStatus status = r.field3.empty()
                                                ? key.writeDword(r.field2, static_cast<std::uint32_t>(r.number))
                                                : key.writeString(r.field2, r.field3);
    return status == platform::SettingsStatus::Ok ? reg::kReplyOk : reg::kReplyFailed;
}

int createFolder(const reg::Request& r) {
    const fs::path folder(r.field2);
    if (!folder.is_absolute()) return reg::kReplyBadRequest;
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return reg::kReplyExists;
    return fs::create_directories(folder, ec) ? reg::kReplyOk : reg::kReplyFailed;
}

// Copies the program folder's files (not its folders) into "-Backup-" beside them.
int backupFolder(const reg::Request& r) {
    const fs::path program(r.field2);
    if (!program.is_absolute() || !fs::is_directory(program)) return reg::kReplyBadRequest;
    const fs::path backup = program / "-Backup-";
    std::error_code ec;
    fs::create_directories(backup, ec);
    for (const fs::directory_entry& entry : fs::directory_iterator(program, ec)) {
        if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
        const fs::path copy = backup / entry.path().filename();
        if (!platform::copyFile(entry.path(), copy, true)) return reg::kReplyFailed;
        // The backup's updater must run from there.
        fs::permissions(copy, entry.status(ec).permissions(), ec);
    }
    return ec ? reg::kReplyFailed : reg::kReplyOk;
}

int writeBackupIni(const reg::Request& r) {
    const fs::path ini(r.field3);
    if (!ini.is_absolute() || r.field2.empty()) return reg::kReplyBadRequest;
    return platform::iniWriteString(ini, "Backup", "Version", r.field2) ? reg::kReplyOk : reg::kReplyFailed;
}

int handleRequest(std::uint32_t code, const reg::Request& r) {
    switch (code) {
        case reg::kCreateFolder: return createFolder(r);
        case reg::kWriteValue: return writeValue(r);
        case reg::kBackupFolder: return backupFolder(r);
        case reg::kWriteBackupIni: return writeBackupIni(r);
        default: return reg::kReplyBadRequest;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], std::to_string(reg::kHandshakeNumber).c_str()) != 0) {
        std::fprintf(stderr, "infokitreg is started by the program's information library.\n");
        return 2;
    }
    bool greeted = false;
    for (;;) {
        char head[12];
        if (!readAll(0, head, sizeof head)) return 0;
        const std::uint32_t message = u32(head);
        const std::uint32_t wParam = u32(head + 4);
        const std::uint32_t size = u32(head + 8);
        if (size > reg::kMaxPayload) return 1;
        std::string payload(size, '\0');
        if (!readAll(0, payload.data(), size)) return 1;
        if (message == reg::kMsgDestroy) return 0;
        if (message == reg::kMsgHandshake) {
            greeted = wParam == reg::kHandshakeNumber;
            reply(greeted ? reg::kReplyOk : reg::kReplyBadRequest);
            if (!greeted) return 1;
        } else if (!greeted) {
            return 1;
        } else if (message == reg::kMsgProductIndex) {
            reply(reg::kReplyOk);
        } else if (message == reg::kMsgCopyData && size == reg::kRequestSize) {
            reply(handleRequest(wParam, reg::decodeRequest(payload.data())));
        } else {
            reply(reg::kReplyBadRequest);
        }
    }
}
