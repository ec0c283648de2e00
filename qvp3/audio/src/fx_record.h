// Big-endian fields and the program record that both program and bank files
// hold. Readers take the offset of a field that the caller has already
// checked to lie within the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_audio/fx_base.h"

namespace qvp3::fx {

// The largest file whose byteSize field (the bytes after it, as a signed
// 32-bit number) can still describe it.
inline constexpr std::uint64_t kMaxFileSize = 8 + 0x7FFFFFFFull;
inline constexpr std::size_t kByteSizeOffset = 4;
// The seven 32-bit fields that open every file and record.
inline constexpr std::size_t kHeadFieldsSize = 28;

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset);
float readFloat(std::span<const std::uint8_t> bytes, std::size_t offset);
// The 28-byte name field, to its first zero byte.
std::string readName(std::span<const std::uint8_t> bytes, std::size_t offset);
// Whether the bytes from offset to the end hold at least count more.
inline bool fits(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint64_t count) {
    return offset <= bytes.size() && count <= bytes.size() - offset;
}

// Checks the seven fields and the name of a program record at offset: both
// magics (kindMagic "FxCk" or "FPCh"), and that the head lies in the bytes.
FxResult checkProgramHead(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t kindMagic);
// The parameter count of a checked "FxCk" record, or BadCount when it is
// negative or its parameters do not fit the rest of the bytes.
FxResult checkParameters(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t* numParams);
// The parameters of a checked record.
std::vector<float> readParameters(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t numParams);
// Where the chunk of "FBCh" or "FPCh" starts and how long it is, given the
// offset of its size field: TooShort without the size field, PastEnd when the
// chunk runs past the end.
FxResult checkChunk(std::span<const std::uint8_t> bytes, std::size_t sizeOffset, std::size_t* chunkSize);

// Appends big-endian fields to a file being built.
class FxWriter {
public:
    explicit FxWriter(std::size_t reserve = 0) { bytes_.reserve(reserve); }
    void u32(std::uint32_t value);
    void i32(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
    void f32(float value);
    // At most 27 bytes of the name and zeros to 28, so a reader that wants a
    // terminated text finds one.
    void name(std::string_view text);
    void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
    void raw(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    // The head of a file or record: "CcnK", byteSize (filled by finish), the
    // kind's magic, the format version, the plug-in's id and version, and
    // the count.
    void head(std::int32_t kindMagic, std::int32_t fxId, std::int32_t fxVersion, std::int32_t count);
    // Fills byteSize of the head that starts at offset with the bytes after
    // the byteSize field up to the current end.
    void finish(std::size_t headOffset);
    std::size_t size() const { return bytes_.size(); }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace qvp3::fx
