// Reading one stream of a structured-storage compound file (the container
// the Windows system keeps sample-player setups in), from the published
// layout: a 512-byte header, the sector allocation table (found through the
// header's and the chained list of its sectors), the directory of 128-byte
// entries in a red-black tree, and the mini stream of 64-byte sectors that
// holds the streams below the cutoff size.
//
// The file is a user's file: every sector number is checked against the
// table and the file, no chain may visit a sector twice, and every size is
// checked against what can hold it. A cycle or a value
// out of range is an error, never a hang or a read outside the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvp3::cfb {

inline constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
inline constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kHeaderDifatCount = 109;
inline constexpr std::size_t kDirectoryEntrySize = 128;

// Whether the bytes begin with the compound-file signature.
bool isCompoundFile(std::span<const std::uint8_t> file);

// The stream of that name (compared without case, as the format does) among
// the root storage's children. false, with a reason in *error, when the file
// is damaged or holds no such stream.
bool readRootStream(std::span<const std::uint8_t> file, std::u16string_view name, std::vector<std::uint8_t>& out,
                    std::string* error);

}  // namespace qvp3::cfb
