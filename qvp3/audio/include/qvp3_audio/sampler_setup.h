// The setup of an entry's software instrument as the sample player saves and
// restores it, and the setup file (".qvpp") that holds the "SPSetup" stream
// of an instrument of the second standard.
//
// The setup record, little-endian, field by field:
//
//   offset  size  field
//        0     4  size of the data (uint32)
//        4   512  instrument name: 256 UTF-16 characters, zero-terminated and zero-padded
//      516     1  is VST chunk: 1 the data is a VST bank chunk, 0 the bytes of a setup file
//      517  size  the data
//
// A project keeps the same three things per entry: the name ("smpAssignmentName"),
// the flag ("smpAssignmentType") and the data ("smpAssignment").
//
// The setup file of this system ("QVPP" layout), little-endian:
//
//   offset  size  field
//        0     4  "QVPP"
//        4     2  layout version, 1
//        6     2  n: bytes of the stream name
//        8     n  the stream name, ASCII: "SPSetup"
//      8+n     4  s: bytes of the stream
//     12+n     s  the stream
//
// and nothing after it. A setup file written on Windows (a compound file
// with the stream "SPSetup") is read as well.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "qvp3_project/project_entry.h"

namespace qvp3 {

inline constexpr std::size_t kSamplerNameChars = 256;
inline constexpr std::size_t kSamplerSetupHeaderSize = 4 + 2 * kSamplerNameChars + 1;
static_assert(kSamplerSetupHeaderSize == 517);

struct SamplerSetup {
    std::u16string name;           // at most 255 characters are kept
    std::uint8_t isVstChunk = 0;   // 1: VST bank chunk; 0: setup-file bytes
    std::vector<std::uint8_t> data;

    bool empty() const { return data.empty(); }
    bool operator==(const SamplerSetup&) const = default;
};

// The record's bytes: header and data; none for data beyond a 32-bit size.
std::vector<std::uint8_t> writeSamplerSetup(const SamplerSetup& setup);
// A record of exactly header + its size bytes; nothing, with a reason, otherwise.
std::optional<SamplerSetup> readSamplerSetup(std::span<const std::uint8_t> bytes, std::string* error = nullptr);

// The setup as an entry keeps it, and back.
SamplerSetup samplerSetupFromEntry(const ProjectEntry& entry);
void samplerSetupToEntry(const SamplerSetup& setup, ProjectEntry& entry);

// Result codes of the setup file.
inline constexpr int kSetupOk = 0;
inline constexpr int kSetupReadError = -100;
inline constexpr int kSetupWriteError = -101;
inline constexpr int kSetupCannotOpen = -103;
inline constexpr int kSetupUnknownFormat = -104;

inline constexpr char kSetupStreamName[] = "SPSetup";
inline constexpr char kSetupFileExtension[] = ".qvpp";

// The bytes of a setup file holding the stream.
std::vector<std::uint8_t> spSetupFileBytes(std::span<const std::uint8_t> stream);
// The "SPSetup" stream of a setup file's bytes (this system's layout or a
// compound file): kSetupOk, or kSetupUnknownFormat with a reason.
int spSetupStreamFromBytes(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& stream,
                           std::string* error = nullptr);

// Writes the file through a temporary file: kSetupOk or kSetupWriteError
// (the old file untouched).
int spWriteSetupFile(const std::filesystem::path& path, std::span<const std::uint8_t> stream,
                     std::string* error = nullptr);
// kSetupOk, kSetupCannotOpen, kSetupReadError or kSetupUnknownFormat.
int spReadSetupFile(const std::filesystem::path& path, std::vector<std::uint8_t>& stream,
                    std::string* error = nullptr);

}  // namespace qvp3
