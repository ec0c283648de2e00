// Private-profile INI files, with the semantics that project files, profiles
// and catalogues written by the Windows system rely on:
//  - section and key names compare case-insensitively, the first duplicate wins;
//  - values are trimmed and one pair of surrounding quotes ('' or "") is stripped;
//  - comments and lines we do not understand are kept when the file is rewritten;
//  - LF and CRLF are read, CRLF is written;
//  - files are read in Windows-1252, UTF-8 (with or without BOM) or UTF-16 with
//    BOM, and written back in their own encoding; a new file is Windows-1252
//    when every character fits, otherwise UTF-16LE with BOM;
//  - integers are read the Windows way ("12abc" is 12, a missing or empty value
//    gives the default);
//  - structures are stored as upper-case hex bytes plus a checksum byte.
//
// An IniDocument is read once, changed in memory and saved once, so that a
// project file with thousands of keys is not rewritten once per key. Saving
// goes through a temporary file, so a failed save leaves the old file intact.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

enum class IniEncoding {
    Cp1252,   // "ANSI": no byte-order mark, not valid UTF-8 beyond ASCII
    Utf8,     // no byte-order mark
    Utf8Bom,
    Utf16Le,  // with byte-order mark FF FE
    Utf16Be,  // with byte-order mark FE FF (read and written back, never chosen)
};

enum class IniStatus {
    Ok,
    NotFound,   // no such file: an empty document, as Windows treats it
    ReadError,  // the file exists but cannot be read (a folder, no permission, I/O error)
    TooLarge,   // larger than kMaxIniFileSize
    WriteError,
};

// Largest INI file we read; larger files are refused rather than loaded.
inline constexpr std::uintmax_t kMaxIniFileSize = 64u * 1024u * 1024u;

class IniDocument {
public:
    IniDocument();
    ~IniDocument();
    IniDocument(IniDocument&&) noexcept;
    IniDocument& operator=(IniDocument&&) noexcept;
    IniDocument(const IniDocument&);
    IniDocument& operator=(const IniDocument&);

    // Replaces the content with the file's. NotFound leaves an empty document
    // that saves as a new file; the other failures leave it empty and mark it
    // unsafe to save over the file (save() then refuses with WriteError).
    IniStatus load(const std::filesystem::path& path);
    // Parses bytes as they would be stored in a file.
    void parse(std::string_view fileBytes);
    // The bytes the document would be stored as.
    std::string serialize() const;
    // Writes the document to path through a temporary file beside it.
    IniStatus save(const std::filesystem::path& path, std::string* error = nullptr);

    // --- reading ---------------------------------------------------------
    bool hasSection(std::string_view section) const;
    bool hasKey(std::string_view section, std::string_view key) const;
    // The value (trimmed, quotes stripped), or nothing when the key is missing.
    std::optional<std::string> getString(std::string_view section, std::string_view key) const;
    std::string getString(std::string_view section, std::string_view key, std::string_view def) const;
    // Windows rules: missing or empty gives def; otherwise leading blanks,
    // an optional sign, a 0x/0o/0b prefix and then digits up to the first
    // other character ("12abc" is 12, "abc" is 0); 32-bit wrap-around.
    int getInt(std::string_view section, std::string_view key, int def) const;
    // Reads a structure value into out; true only when the stored value holds
    // exactly out.size() bytes plus a matching checksum byte.
    bool getStruct(std::string_view section, std::string_view key, std::span<std::uint8_t> out) const;
    // Byte count of a stored structure value (without the checksum), or nothing
    // when the value is missing or is not a well-formed hex structure.
    std::optional<std::size_t> structSize(std::string_view section, std::string_view key) const;
    // Section names (first spelling of each, in file order).
    std::vector<std::string> sectionNames() const;
    // Key names of a section (first spelling of each, in file order).
    std::vector<std::string> keyNames(std::string_view section) const;
    // Key and value pairs of a section, values trimmed but not unquoted.
    std::vector<std::pair<std::string, std::string>> readSection(std::string_view section) const;

    // --- changing --------------------------------------------------------
    // Sets a value, creating the section and key when needed; an existing
    // key keeps its place and spelling. A line break in the key or value
    // (which would split the entry and make its rest a key or section of its
    // own) is stored as a blank.
    void setString(std::string_view section, std::string_view key, std::string_view value);
    void setInt(std::string_view section, std::string_view key, int value);
    void setStruct(std::string_view section, std::string_view key, std::span<const std::uint8_t> data);
    bool deleteKey(std::string_view section, std::string_view key);
    bool deleteSection(std::string_view section);
    // Replaces everything in the section by these pairs (creates it when
    // missing); line breaks are stored as blanks, as in setString.
    void writeSection(std::string_view section, const std::vector<std::pair<std::string, std::string>>& pairs);

    bool dirty() const;
    void clearDirty();
    // Encoding the file was read in (Cp1252 for a new document).
    IniEncoding sourceEncoding() const;
    // Encoding the next save writes: the source encoding, except that text
    // which Windows-1252 cannot hold moves a Windows-1252 file to UTF-16LE.
    IniEncoding saveEncoding() const;
    // Fixes the encoding for saving (for files the program alone writes).
    void setEncoding(IniEncoding encoding);

private:
    struct Impl;
    Impl* impl_;
};

// Structure values as WritePrivateProfileStruct stores them.
std::string encodeIniStruct(std::span<const std::uint8_t> data);
// Decodes a structure value; nothing when it is malformed or the checksum is wrong.
std::optional<std::vector<std::uint8_t>> decodeIniStruct(std::string_view text);

// One-shot calls in the manner of the private-profile functions: each loads
// the file, and the writers save it at once. For many values, use IniDocument.
std::string iniGetString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                         std::string_view def);
int iniGetInt(const std::filesystem::path& path, std::string_view section, std::string_view key, int def);
bool iniGetStruct(const std::filesystem::path& path, std::string_view section, std::string_view key,
                  std::span<std::uint8_t> out);
// Writes a value; a missing value deletes the key. False when the file could
// not be read or written (the old file is then untouched).
bool iniWriteString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                    std::optional<std::string_view> value);
bool iniWriteStruct(const std::filesystem::path& path, std::string_view section, std::string_view key,
                    std::span<const std::uint8_t> data);
bool iniDeleteSection(const std::filesystem::path& path, std::string_view section);

}  // namespace platform
