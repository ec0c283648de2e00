// Writing a file so that a failure never destroys the old one: the bytes go to
// a temporary file beside the target, which replaces the target by rename
// only once every byte is written and flushed. A write past the file size
// limit fails like any other (SIGXFSZ is held off for the writing thread), so
// the temporary file is removed rather than left behind by a killed process.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target);
    ~AtomicFileWriter();  // removes the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file in the target's folder.
    bool open();
    bool write(const void* data, std::size_t size);
    bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    // Flushes, closes and renames the temporary file over the target.
    bool commit();
    // Drops what was written; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporaryPath() const { return tempPath_; }
    // Why the last call failed, for log lines and messages.
    const std::string& error() const { return error_; }

private:
    bool fail(const char* what);

    std::filesystem::path target_;
    std::filesystem::path tempPath_;
    std::string error_;
    int fd_ = -1;
    bool failed_ = false;
};

// The whole file in one call; false (old file untouched) on any failure.
bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error = nullptr);

}  // namespace platform
