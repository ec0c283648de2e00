// The sample player's setup file: the "SPSetup" stream in this system's own
// layout, or found in a compound file written on Windows.
#include <cstring>
#include <fstream>
#include <new>
#include <string_view>
#include <system_error>

#include "compound_file.h"
#include "platform/atomic_file.h"
#include "qvp3_audio/sampler_setup.h"

namespace qvp3 {
namespace {

constexpr char kMagic[4] = {'Q', 'V', 'P', 'P'};
constexpr std::uint16_t kLayoutVersion = 1;
constexpr std::size_t kFixedSize = 4 + 2 + 2 + 4;  // magic, version, name size, stream size
// Setups are small; a file beyond this is not one and is not read into memory.
constexpr std::uintmax_t kMaxSetupFile = 256u << 20;

std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

void putLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

int fail(std::string* error, const char* why, int code) {
    if (error != nullptr) *error = why;
    return code;
}

int ownLayoutStream(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& stream, std::string* error) {
    if (file.size() < kFixedSize) return fail(error, "shorter than a setup file header", kSetupUnknownFormat);
    if (le16(file, 4) != kLayoutVersion) return fail(error, "unknown setup file version", kSetupUnknownFormat);
    const std::size_t nameSize = le16(file, 6);
    const std::string_view expected = kSetupStreamName;
    if (nameSize != expected.size() || file.size() < kFixedSize + nameSize ||
        std::memcmp(file.data() + 8, expected.data(), nameSize) != 0)
        return fail(error, "the file holds no \"SPSetup\" stream", kSetupUnknownFormat);
    const std::uint32_t size = le32(file, 8 + nameSize);
    if (size != file.size() - kFixedSize - nameSize)
        return fail(error, "stream size does not match the file", kSetupUnknownFormat);
    stream.assign(file.begin() + static_cast<std::ptrdiff_t>(kFixedSize + nameSize), file.end());
    return kSetupOk;
}

}  // namespace

std::vector<std::uint8_t> spSetupFileBytes(std::span<const std::uint8_t> stream) {
    const std::string_view name = kSetupStreamName;
    std::vector<std::uint8_t> out;
    if (stream.size() > UINT32_MAX) return out;
    out.reserve(kFixedSize + name.size() + stream.size());
    out.insert(out.end(), std::begin(kMagic), std::end(kMagic));
    putLe(out, kLayoutVersion, 2);
    putLe(out, static_cast<std::uint32_t>(name.size()), 2);
    out.insert(out.end(), name.begin(), name.end());
    putLe(out, static_cast<std::uint32_t>(stream.size()), 4);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

int spSetupStreamFromBytes(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& stream,
                           std::string* error) {
    try {
        if (file.size() >= 4 && std::memcmp(file.data(), kMagic, 4) == 0) return ownLayoutStream(file, stream, error);
        if (cfb::isCompoundFile(file)) {
            std::string why;
            if (cfb::readRootStream(file, u"SPSetup", stream, &why)) return kSetupOk;
            return fail(error, ("damaged compound file: " + why).c_str(), kSetupUnknownFormat);
        }
    } catch (const std::bad_alloc&) {
        return fail(error, "out of memory", kSetupReadError);
    }
    return fail(error, "not a setup file", kSetupUnknownFormat);
}

int spWriteSetupFile(const std::filesystem::path& path, std::span<const std::uint8_t> stream, std::string* error) {
    if (stream.size() > UINT32_MAX) return fail(error, "stream too large", kSetupWriteError);
    const std::vector<std::uint8_t> bytes = spSetupFileBytes(stream);
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return platform::writeFileAtomically(path, view, error) ? kSetupOk : kSetupWriteError;
}

int spReadSetupFile(const std::filesystem::path& path, std::vector<std::uint8_t>& stream, std::string* error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || std::filesystem::is_directory(path, ec)) return fail(error, "cannot open the setup file", kSetupCannotOpen);
    if (size > kMaxSetupFile) return fail(error, "too large for a setup file", kSetupUnknownFormat);
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(error, "cannot open the setup file", kSetupCannotOpen);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return fail(error, "out of memory", kSetupReadError);
    }
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) return fail(error, "the file ends early", kSetupReadError);
    return spSetupStreamFromBytes(bytes, stream, error);
}

}  // namespace qvp3
