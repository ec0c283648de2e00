#include "qvp3_audio/fx_program.h"

#include <algorithm>

#include "fx_record.h"
#include "qvp3_audio/vst_abi.h"

namespace qvp3 {
namespace {

// The chunk size field of an "FPCh" program, right after the header.
constexpr std::size_t kProgramChunkSizeOffset = kFxProgramHeaderSize;

}  // namespace

std::string CFxProgram::Name() const {
    if (!IsLoaded()) return {};
    return fx::readName(Bytes(), kFxProgramNameOffset);
}

std::int32_t CFxProgram::NumParams() const { return Field(kFxCountOffset); }

std::vector<float> CFxProgram::Parameters() const {
    if (!IsLoaded() || IsChunk()) return {};
    return fx::readParameters(Bytes(), 0, NumParams());
}

FxResult CFxProgram::Check(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFxProgramHeaderSize) return FxResult::TooShort;
    const bool chunk = fx::readU32(bytes, kFxMagicOffset) == static_cast<std::uint32_t>(vst::chunkPresetMagic);
    const FxResult head = fx::checkProgramHead(bytes, 0, chunk ? vst::chunkPresetMagic : vst::fMagic);
    if (head != FxResult::Ok) return head;
    // Read unsigned, so that a "negative" version is refused as well.
    if (fx::readU32(bytes, kFxVersionOffset) >= 2) return FxResult::BadVersion;
    if (!chunk) {
        std::int32_t numParams = 0;
        return fx::checkParameters(bytes, 0, &numParams);
    }
    std::size_t chunkSize = 0;
    const FxResult result = fx::checkChunk(bytes, kProgramChunkSizeOffset, &chunkSize);
    if (result == FxResult::Ok) NoteChunk(true, kProgramChunkSizeOffset + 4, chunkSize);
    return result;
}

bool CFxProgram::SetFromPlugIn(FxPlugIn& plugIn) {
    Clear();
    const std::int32_t fxId = plugIn.UniqueId();
    const std::int32_t fxVersion = plugIn.Version();
    const std::int32_t params = std::max(plugIn.NumParams(), 0);
    const std::string name = plugIn.GetProgramNameIndexed(plugIn.GetProgram());

    if (plugIn.ProgramChunks()) {
        const std::vector<std::uint8_t> chunk = plugIn.GetChunk(true);
        if (chunk.size() > fx::kMaxFileSize - kProgramChunkSizeOffset - 4) return Fail(FxResult::TooLarge);
        fx::FxWriter out(kProgramChunkSizeOffset + 4 + chunk.size());
        out.head(vst::chunkPresetMagic, fxId, fxVersion, params);
        out.name(name);
        out.u32(static_cast<std::uint32_t>(chunk.size()));
        out.raw(chunk);
        out.finish(0);
        return Take(out.take(), {});
    }

    const std::uint64_t total = kFxProgramHeaderSize + static_cast<std::uint64_t>(params) * 4;
    if (total > fx::kMaxFileSize) return Fail(FxResult::TooLarge);
    fx::FxWriter out(static_cast<std::size_t>(total));
    out.head(vst::fMagic, fxId, fxVersion, params);
    out.name(name);
    for (std::int32_t i = 0; i < params; ++i) out.f32(plugIn.GetParameter(i));
    out.finish(0);
    return Take(out.take(), {});
}

bool CFxProgram::ApplyTo(FxPlugIn& plugIn) {
    if (!IsLoaded()) return Fail(FxResult::NotLoaded);
    if (FxId() != plugIn.UniqueId()) return Fail(FxResult::WrongPlugIn);
    if (IsChunk()) {
        // A plug-in without chunks would drop the bytes and the load would
        // seem to have worked.
        if (!plugIn.ProgramChunks()) return Fail(FxResult::WrongPlugIn);
        plugIn.SetChunk(Chunk(), true);
        return Succeed();
    }
    plugIn.SetProgramName(Name());
    const std::vector<float> values = Parameters();
    const auto count = std::min(values.size(), static_cast<std::size_t>(std::max(plugIn.NumParams(), 0)));
    for (std::size_t i = 0; i < count; ++i) plugIn.SetParameter(static_cast<std::int32_t>(i), values[i]);
    return Succeed();
}

}  // namespace qvp3
