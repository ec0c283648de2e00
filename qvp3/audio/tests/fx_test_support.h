// Program and bank files written byte by byte, and a plug-in instance that
// keeps its programs, parameters and chunks in plain fields.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "qvp3_audio/fx_plugin.h"

namespace qvp3::testing {

// Big-endian fields appended one by one, independent of the library's writer.
class FxBytes {
public:
    FxBytes& tag(std::string_view four) {
        bytes_.append(four.substr(0, 4));
        return *this;
    }
    FxBytes& be32(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<char>(v >> shift & 0xFF));
        return *this;
    }
    FxBytes& f32(float v) { return be32(std::bit_cast<std::uint32_t>(v)); }
    // The 28-byte name field, padded with zeros (a name of 28 bytes has none).
    FxBytes& name(std::string_view text) {
        bytes_.append(text.substr(0, 28));
        bytes_.append(28 - std::min<std::size_t>(text.size(), 28), '\0');
        return *this;
    }
    FxBytes& zeros(std::size_t n) {
        bytes_.append(n, '\0');
        return *this;
    }
    FxBytes& raw(std::string_view text) {
        bytes_.append(text);
        return *this;
    }
    FxBytes& add(const std::string& more) { return raw(more); }
    // Sets the 32-bit field at offset (byteSize of a file is at 4).
    FxBytes& patch(std::size_t offset, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<char>(v >> (24 - 8 * i) & 0xFF);
        return *this;
    }
    // byteSize of the whole file: the bytes after the field.
    FxBytes& sized() { return patch(4, static_cast<std::uint32_t>(bytes_.size() - 8)); }
    std::string str() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

private:
    std::string bytes_;
};

inline constexpr std::uint32_t kFakeId = 0x51765478;  // 'QvTx'
inline constexpr std::uint32_t kFakeVersion = 3;

// A bank's header: "CcnK", byteSize (fix with sized()), the kind, the
// version, id, plug-in version, count and 128 reserved bytes.
inline FxBytes bankHead(std::string_view kind, std::uint32_t count, std::uint32_t version = 1,
                        std::uint32_t id = kFakeId) {
    FxBytes b;
    b.tag("CcnK").be32(0).tag(kind).be32(version).be32(id).be32(kFakeVersion).be32(count).zeros(128);
    return b;
}

// A program record ("FxCk") with its own byteSize, as a bank holds it and as a
// program file is.
inline std::string programRecord(std::string_view name, const std::vector<float>& params,
                                 std::uint32_t id = kFakeId) {
    FxBytes b;
    b.tag("CcnK").be32(static_cast<std::uint32_t>(48 + 4 * params.size())).tag("FxCk").be32(1).be32(id);
    b.be32(kFakeVersion).be32(static_cast<std::uint32_t>(params.size())).name(name);
    for (float v : params) b.f32(v);
    return b.str();
}

inline std::vector<std::uint8_t> toBytes(std::string_view text) { return {text.begin(), text.end()}; }

struct FakeProgram {
    std::string name;
    std::vector<float> params;
    bool operator==(const FakeProgram&) const = default;
};

// Everything the fake holds, to compare before and after.
struct FakeState {
    std::vector<FakeProgram> programs;
    std::int32_t current = 0;
    std::vector<std::uint8_t> bankChunk;
    std::vector<std::uint8_t> programChunk;
    bool operator==(const FakeState&) const = default;
};

class FakePlugIn : public FxPlugIn {
public:
    FakePlugIn(std::size_t programs, std::size_t params, bool chunks = false) : chunks_(chunks), params_(params) {
        for (std::size_t p = 0; p < programs; ++p) state.programs.push_back({"Init", std::vector<float>(params, 0.5f)});
    }

    std::int32_t UniqueId() override { return static_cast<std::int32_t>(id); }
    std::int32_t Version() override { return static_cast<std::int32_t>(kFakeVersion); }
    std::int32_t NumPrograms() override { return countPrograms ? *countPrograms : static_cast<std::int32_t>(state.programs.size()); }
    std::int32_t NumParams() override { return countParams ? *countParams : static_cast<std::int32_t>(params_); }
    bool ProgramChunks() override { return chunks_; }
    std::int32_t GetProgram() override { return state.current; }
    // A real plug-in may read or write past its arrays for an index it does
    // not have: every such call fails the test.
    void SetProgram(std::int32_t program) override {
        if (inRange(program, state.programs.size(), "program")) state.current = program;
    }
    std::string GetProgramNameIndexed(std::int32_t program) override {
        if (!inRange(program, state.programs.size(), "program")) return {};
        return state.programs[static_cast<std::size_t>(program)].name;
    }
    void SetProgramName(const std::string& name) override { currentProgram().name = name; }
    float GetParameter(std::int32_t index) override {
        const auto& params = currentProgram().params;
        return inRange(index, params.size(), "parameter") ? params[static_cast<std::size_t>(index)] : 0.0f;
    }
    void SetParameter(std::int32_t index, float value) override {
        auto& params = currentProgram().params;
        if (inRange(index, params.size(), "parameter")) params[static_cast<std::size_t>(index)] = value;
    }
    std::vector<std::uint8_t> GetChunk(bool isPreset) override {
        return isPreset ? state.programChunk : state.bankChunk;
    }
    void SetChunk(std::span<const std::uint8_t> data, bool isPreset) override {
        (isPreset ? state.programChunk : state.bankChunk).assign(data.begin(), data.end());
    }

    FakeState state;
    std::uint32_t id = kFakeId;
    // Counts a plug-in may answer that have nothing to do with what it holds.
    std::optional<std::int32_t> countPrograms;
    std::optional<std::int32_t> countParams;

private:
    static bool inRange(std::int32_t index, std::size_t count, const char* what) {
        if (index >= 0 && static_cast<std::size_t>(index) < count) return true;
        ADD_FAILURE() << what << " " << index << " asked of a plug-in with " << count;
        return false;
    }
    FakeProgram& currentProgram() { return state.programs.at(static_cast<std::size_t>(state.current)); }

    bool chunks_;
    std::size_t params_;
};

}  // namespace qvp3::testing
