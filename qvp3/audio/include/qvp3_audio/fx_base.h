// The common part of VST program (.fxp) and bank (.fxb) files: the file's
// bytes, held exactly as read or built, and their checked header.
//
// Every 32-bit field and every parameter is stored big-endian; fields are
// decoded from the bytes where they are asked for, so the bytes stay those of
// the file and a file saved again is byte for byte the one loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace qvp3 {

// Why the last operation on a program or bank file failed.
enum class FxResult {
    Ok,
    CannotOpen,   // the file cannot be opened or read
    TooShort,     // shorter than its header
    BadMagic,     // "CcnK" or the kind of file ("FxBk", "FBCh", "FxCk", "FPCh") missing
    BadVersion,   // a format version of 2 or more
    BadCount,     // a negative count of programs or parameters, or more than the file can hold
    PastEnd,      // a program record or the chunk runs past the end of the file
    WrongPlugIn,  // made for another plug-in, or a chunk for a plug-in that keeps none
    NotLoaded,    // nothing held to save or to apply
    TooLarge,     // the plug-in's state does not fit the file's 32-bit sizes
    WriteError,   // the file could not be written; an old file stays as it was
};

// Offsets and sizes of the published layout.
inline constexpr std::size_t kFxProgramHeaderSize = 56;  // seven fields and the 28-byte name
inline constexpr std::size_t kFxProgramNameSize = 28;
inline constexpr std::size_t kFxProgramNameOffset = 28;
inline constexpr std::size_t kFxBankHeaderSize = 156;    // seven fields and 128 reserved bytes
// Both kinds: the magics, the format version, the plug-in's id and version,
// the count of parameters (program) or programs (bank).
inline constexpr std::size_t kFxMagicOffset = 8;
inline constexpr std::size_t kFxVersionOffset = 12;
inline constexpr std::size_t kFxIdOffset = 16;
inline constexpr std::size_t kFxFxVersionOffset = 20;
inline constexpr std::size_t kFxCountOffset = 24;
// The format version this host writes; 2 and above are refused.
inline constexpr std::int32_t kFxFormatVersion = 1;

class CFxBase {
public:
    virtual ~CFxBase() = default;

    // Reads the whole file and checks it. On success the bytes are held and
    // FileName is the file; on any failure nothing is held, Result says why
    // and false is answered.
    bool Load(const std::filesystem::path& fileName);
    // Writes the held bytes through a temporary file that replaces the target
    // only when complete, so a failed save keeps the old file.
    bool Save(const std::filesystem::path& fileName);

    bool IsLoaded() const { return loaded_; }
    const std::filesystem::path& FileName() const { return fileName_; }
    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    std::size_t Size() const { return bytes_.size(); }
    // An opaque chunk ("FBCh", "FPCh") rather than parameters.
    bool IsChunk() const { return isChunk_; }
    FxResult Result() const { return result_; }
    // The file's description of the plug-in it was made for (0 when empty).
    std::int32_t FxId() const;
    std::int32_t FxVersion() const;
    // The chunk's bytes; empty when the file holds parameters.
    std::span<const std::uint8_t> Chunk() const;

protected:
    CFxBase() = default;
    CFxBase(const CFxBase&) = default;
    CFxBase& operator=(const CFxBase&) = default;

    // Checks bytes of the derived kind; on Ok the chunk (if any) and the
    // kind's own offsets are noted for the accessors.
    virtual FxResult Check(std::span<const std::uint8_t> bytes) = 0;
    // Drops the kind's noted offsets.
    virtual void Forget() = 0;

    // Takes checked or freshly built bytes; false when they do not check.
    bool Take(std::vector<std::uint8_t> bytes, std::filesystem::path fileName);
    void Clear();
    bool Fail(FxResult why);
    bool Succeed();
    void NoteChunk(bool isChunk, std::size_t offset, std::size_t size);
    std::int32_t Field(std::size_t offset) const;

private:
    bool loaded_ = false;
    std::filesystem::path fileName_;
    std::vector<std::uint8_t> bytes_;
    bool isChunk_ = false;
    std::size_t chunkOffset_ = 0;
    std::size_t chunkSize_ = 0;
    FxResult result_ = FxResult::NotLoaded;
};

}  // namespace qvp3
