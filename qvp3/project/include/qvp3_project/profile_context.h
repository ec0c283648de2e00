// The target of every INI read and write of the program (a section and a file
// path), and the state of the profile bar. One long-lived context belongs to
// the application; project and catalogue code builds short-lived ones.
//
// The context keeps the file it targets open as one INI document: values are
// read from it and changed in it, and flush() writes the file once. A project
// file with thousands of keys is therefore read once and written once.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"
#include "qvp3_project/profile_bar.h"

namespace qvp3 {

inline constexpr int kMaxProjectEntries = 99;

class ProfileContext {
public:
    ProfileContext() = default;
    ProfileContext(std::string_view section, std::filesystem::path path);
    // Writes pending changes (best effort: callers that must know call flush()),
    // then destroys the profile bar's windows.
    ~ProfileContext();
    ProfileContext(const ProfileContext&) = delete;
    ProfileContext& operator=(const ProfileContext&) = delete;

    // Empties the profile list and its edit field.
    void clearList();

    // Points the context at another section and file; pending changes of the
    // previous file are written first. False when that write failed.
    bool setTarget(std::string_view section, const std::filesystem::path& path);
    // Writes pending changes to the target file; true when nothing was
    // pending or the file was written. A failed write keeps the old file.
    bool flush(std::string* error = nullptr);
    // The document of the target file, read on first use. When iniPath has
    // changed since, the previous file's pending changes are written first.
    platform::IniDocument& document();
    // Writes pending changes and forgets the document, so that the next read
    // takes the file as it is now (another program may have written it).
    // False when the pending changes could not be written.
    bool reload();
    // Starts the target file anew: an empty document, not read from the file,
    // that the next flush() writes over the whole file (a file written whole).
    void startNewDocument();
    // How reading the target file went (Ok, NotFound, or why it failed).
    platform::IniStatus loadStatus();

    // Values of the current section, as the profile functions give them.
    int readInt(std::string_view key, int def);
    std::string readString(std::string_view key, std::string_view def);

    // Profile bar windows: handles owned by the shell's toolkit, destroyed here.
    BarWindow* barWindow = nullptr;
    BarWindow* barButton = nullptr;
    ProfileListWindow* profileList = nullptr;
    BarWindow* profileToolbar = nullptr;
    int selectedIndex = -1;
    std::filesystem::path profileFolder;
    std::array<std::uint8_t, kMaxProjectEntries> applyFlags{};
    int profileCount = 0;
    bool entriesChanged = false;
    std::string iniSection;
    std::filesystem::path iniPath;

private:
    std::optional<platform::IniDocument> document_;
    std::filesystem::path documentPath_;
    platform::IniStatus loadStatus_ = platform::IniStatus::NotFound;
};

// Largest part of a binary block stored as one INI value.
inline constexpr std::size_t kIniBlobChunkSize = 28672;

// Writes one value: the text when given, else intValue in decimal. An empty
// section or path stands for the context's own.
void prfWriteIniValue(ProfileContext& context, std::string_view section, const std::filesystem::path& path,
                      std::string_view key, int intValue, const char* text);

// Stores a binary block of any size under name in the context's target: one
// hex value up to 28672 bytes, numbered chunks "<name>0001"... beyond, plus
// "<name>-Size" (chunk count) and "<name>-ByteSize" (byte count).
void prfWriteIniBlob(ProfileContext& context, std::span<const std::uint8_t> data, std::string_view name);

// Reads a block written by prfWriteIniBlob. Nothing when a count is missing or
// 0, the counts disagree with each other, or any chunk is missing, has the
// wrong length or a bad checksum; the counts in the file are only believed
// once the stored chunks back them, so nothing is allocated from them alone.
std::optional<std::vector<std::uint8_t>> prfReadIniBlob(ProfileContext& context, std::string_view name);

}  // namespace qvp3
