#include "fx_record.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "qvp3_audio/vst_abi.h"

namespace qvp3::fx {

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    const std::uint8_t* p = bytes.data() + offset;
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

float readFloat(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::bit_cast<float>(readU32(bytes, offset));
}

std::string readName(std::span<const std::uint8_t> bytes, std::size_t offset) {
    const auto field = bytes.subspan(offset, kFxProgramNameSize);
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

FxResult checkProgramHead(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t kindMagic) {
    if (!fits(bytes, offset, kFxProgramHeaderSize)) return FxResult::PastEnd;
    if (readU32(bytes, offset) != static_cast<std::uint32_t>(vst::cMagic) ||
        readU32(bytes, offset + kFxMagicOffset) != static_cast<std::uint32_t>(kindMagic)) {
        return FxResult::BadMagic;
    }
    return FxResult::Ok;
}

FxResult checkParameters(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t* numParams) {
    const auto count = static_cast<std::int32_t>(readU32(bytes, offset + kFxCountOffset));
    if (count < 0 || !fits(bytes, offset + kFxProgramHeaderSize, static_cast<std::uint64_t>(count) * 4)) {
        return FxResult::BadCount;
    }
    *numParams = count;
    return FxResult::Ok;
}

std::vector<float> readParameters(std::span<const std::uint8_t> bytes, std::size_t offset, std::int32_t numParams) {
    std::vector<float> values(static_cast<std::size_t>(numParams));
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = readFloat(bytes, offset + kFxProgramHeaderSize + i * 4);
    return values;
}

FxResult checkChunk(std::span<const std::uint8_t> bytes, std::size_t sizeOffset, std::size_t* chunkSize) {
    if (!fits(bytes, sizeOffset, 4)) return FxResult::TooShort;
    // Read unsigned: a "negative" size is a size past any file.
    const std::uint32_t size = readU32(bytes, sizeOffset);
    if (!fits(bytes, sizeOffset + 4, size)) return FxResult::PastEnd;
    *chunkSize = size;
    return FxResult::Ok;
}

void FxWriter::u32(std::uint32_t value) {
    const std::uint8_t field[4] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                                   static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    bytes_.insert(bytes_.end(), field, field + 4);
}

void FxWriter::f32(float value) { u32(std::bit_cast<std::uint32_t>(value)); }

void FxWriter::name(std::string_view text) {
    const std::size_t length = std::min(text.size(), kFxProgramNameSize - 1);
    bytes_.insert(bytes_.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    zeros(kFxProgramNameSize - length);
}

void FxWriter::head(std::int32_t kindMagic, std::int32_t fxId, std::int32_t fxVersion, std::int32_t count) {
    i32(vst::cMagic);
    u32(0);
    i32(kindMagic);
    i32(kFxFormatVersion);
    i32(fxId);
    i32(fxVersion);
    i32(count);
}

void FxWriter::finish(std::size_t headOffset) {
    const auto byteSize = static_cast<std::uint32_t>(bytes_.size() - headOffset - 8);
    const std::size_t at = headOffset + kByteSizeOffset;
    const std::uint8_t field[4] = {static_cast<std::uint8_t>(byteSize >> 24), static_cast<std::uint8_t>(byteSize >> 16),
                                   static_cast<std::uint8_t>(byteSize >> 8), static_cast<std::uint8_t>(byteSize)};
    std::memcpy(bytes_.data() + at, field, 4);
}

}  // namespace qvp3::fx
