// The sample player's setup record.
#include "qvp3_audio/sampler_setup.h"

#include <algorithm>

#include "platform/text.h"

namespace qvp3 {
namespace {

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

// At most 255 characters, so that the terminator fits; a surrogate pair is never split.
std::u16string storedName(std::u16string_view name) {
    std::size_t length = std::min(name.size(), kSamplerNameChars - 1);
    if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 && name[length - 1] <= 0xDBFF) --length;
    const std::size_t end = std::min(name.find(u'\0'), length);
    return std::u16string(name.substr(0, end));
}

}  // namespace

std::vector<std::uint8_t> writeSamplerSetup(const SamplerSetup& setup) {
    std::vector<std::uint8_t> out;
    if (setup.data.size() > UINT32_MAX) return out;
    out.reserve(kSamplerSetupHeaderSize + setup.data.size());
    putLe32(out, static_cast<std::uint32_t>(setup.data.size()));
    const std::u16string name = storedName(setup.name);
    for (std::size_t i = 0; i < kSamplerNameChars; ++i) {
        const char16_t c = i < name.size() ? name[i] : u'\0';
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(setup.isVstChunk);
    out.insert(out.end(), setup.data.begin(), setup.data.end());
    return out;
}

std::optional<SamplerSetup> readSamplerSetup(std::span<const std::uint8_t> bytes, std::string* error) {
    const auto fail = [error](const char* why) {
        if (error != nullptr) *error = why;
        return std::nullopt;
    };
    if (bytes.size() < kSamplerSetupHeaderSize) return fail("shorter than a setup record");
    const std::uint32_t size = le32(bytes, 0);
    if (size != bytes.size() - kSamplerSetupHeaderSize) return fail("data size does not match the record");
    SamplerSetup setup;
    for (std::size_t i = 0; i < kSamplerNameChars; ++i) {
        const auto c = static_cast<char16_t>(bytes[4 + 2 * i] | bytes[5 + 2 * i] << 8);
        if (c == u'\0') break;
        setup.name.push_back(c);
    }
    setup.name = storedName(setup.name);
    setup.isVstChunk = bytes[kSamplerSetupHeaderSize - 1];
    setup.data.assign(bytes.begin() + kSamplerSetupHeaderSize, bytes.end());
    return setup;
}

SamplerSetup samplerSetupFromEntry(const ProjectEntry& entry) {
    SamplerSetup setup;
    setup.name = storedName(platform::utf8ToUtf16(entry.samplerSetupName));
    setup.isVstChunk = entry.samplerSetupType != 0 ? 1 : 0;
    setup.data = entry.samplerSetup;
    return setup;
}

void samplerSetupToEntry(const SamplerSetup& setup, ProjectEntry& entry) {
    entry.samplerSetupName = platform::utf16ToUtf8(storedName(setup.name));
    entry.samplerSetupType = setup.isVstChunk != 0 ? 1 : 0;
    entry.samplerSetup = setup.data;
}

}  // namespace qvp3
