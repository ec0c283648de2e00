#include "qvp3_audio/fx_bank.h"

#include <algorithm>

#include "fx_record.h"
#include "qvp3_audio/vst_abi.h"

namespace qvp3 {
namespace {

// The chunk size field of an "FBCh" bank, right after the header.
constexpr std::size_t kBankChunkSizeOffset = kFxBankHeaderSize;

}  // namespace

std::int32_t CFxBank::NumPrograms() const { return Field(kFxCountOffset); }

std::string CFxBank::ProgramName(std::size_t record) const {
    if (record >= records_.size()) return {};
    return fx::readName(Bytes(), records_[record].offset + kFxProgramNameOffset);
}

std::vector<float> CFxBank::ProgramParameters(std::size_t record) const {
    if (record >= records_.size()) return {};
    return fx::readParameters(Bytes(), records_[record].offset, records_[record].numParams);
}

FxResult CFxBank::Check(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFxBankHeaderSize) return FxResult::TooShort;
    if (fx::readU32(bytes, 0) != static_cast<std::uint32_t>(vst::cMagic)) return FxResult::BadMagic;
    const std::uint32_t kind = fx::readU32(bytes, kFxMagicOffset);
    if (kind != static_cast<std::uint32_t>(vst::bankMagic) && kind != static_cast<std::uint32_t>(vst::chunkBankMagic)) {
        return FxResult::BadMagic;
    }
    // Read unsigned, so that a "negative" version is refused as well.
    if (fx::readU32(bytes, kFxVersionOffset) >= 2) return FxResult::BadVersion;

    if (kind == static_cast<std::uint32_t>(vst::chunkBankMagic)) {
        std::size_t chunkSize = 0;
        const FxResult chunk = fx::checkChunk(bytes, kBankChunkSizeOffset, &chunkSize);
        if (chunk == FxResult::Ok) NoteChunk(true, kBankChunkSizeOffset + 4, chunkSize);
        return chunk;
    }
    const auto count = static_cast<std::int32_t>(fx::readU32(bytes, kFxCountOffset));
    // Every record takes at least its head, so a count the rest cannot hold is
    // refused before any record is looked at.
    if (count < 0 || !fx::fits(bytes, kFxBankHeaderSize, static_cast<std::uint64_t>(count) * kFxProgramHeaderSize)) {
        return FxResult::BadCount;
    }
    return CheckRecords(bytes, static_cast<std::uint32_t>(count));
}

FxResult CFxBank::CheckRecords(std::span<const std::uint8_t> bytes, std::uint32_t count) {
    records_.reserve(count);
    std::size_t offset = kFxBankHeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        FxResult record = fx::checkProgramHead(bytes, offset, vst::fMagic);
        std::int32_t numParams = 0;
        if (record == FxResult::Ok) record = fx::checkParameters(bytes, offset, &numParams);
        if (record != FxResult::Ok) {
            records_.clear();
            return record;
        }
        records_.push_back(Record{offset, numParams});
        offset += kFxProgramHeaderSize + static_cast<std::size_t>(numParams) * 4;
    }
    return FxResult::Ok;
}

bool CFxBank::SetFromPlugIn(FxPlugIn& plugIn) {
    Clear();
    const std::int32_t fxId = plugIn.UniqueId();
    const std::int32_t fxVersion = plugIn.Version();
    const std::int32_t programs = std::max(plugIn.NumPrograms(), 0);

    if (plugIn.ProgramChunks()) {
        const std::vector<std::uint8_t> chunk = plugIn.GetChunk(false);
        if (chunk.size() > fx::kMaxFileSize - kBankChunkSizeOffset - 4) return Fail(FxResult::TooLarge);
        fx::FxWriter out(kBankChunkSizeOffset + 4 + chunk.size());
        out.head(vst::chunkBankMagic, fxId, fxVersion, programs);
        out.zeros(kFxBankHeaderSize - fx::kHeadFieldsSize);  // reserved
        out.u32(static_cast<std::uint32_t>(chunk.size()));
        out.raw(chunk);
        out.finish(0);
        return Take(out.take(), {});
    }

    const std::int32_t params = std::max(plugIn.NumParams(), 0);
    const std::uint64_t recordSize = kFxProgramHeaderSize + static_cast<std::uint64_t>(params) * 4;
    const std::uint64_t total = kFxBankHeaderSize + recordSize * static_cast<std::uint64_t>(programs);
    if (total > fx::kMaxFileSize) return Fail(FxResult::TooLarge);
    fx::FxWriter out(static_cast<std::size_t>(total));
    out.head(vst::bankMagic, fxId, fxVersion, programs);
    out.zeros(kFxBankHeaderSize - fx::kHeadFieldsSize);  // reserved
    // Parameters are only reachable for the current program: visit each one
    // and return to where the user was.
    const std::int32_t current = plugIn.GetProgram();
    for (std::int32_t p = 0; p < programs; ++p) {
        plugIn.SetProgram(p);
        const std::size_t head = out.size();
        out.head(vst::fMagic, fxId, fxVersion, params);
        out.name(plugIn.GetProgramNameIndexed(p));
        for (std::int32_t i = 0; i < params; ++i) out.f32(plugIn.GetParameter(i));
        out.finish(head);
    }
    plugIn.SetProgram(current);
    out.finish(0);
    return Take(out.take(), {});
}

bool CFxBank::ApplyTo(FxPlugIn& plugIn) {
    if (!IsLoaded()) return Fail(FxResult::NotLoaded);
    if (FxId() != plugIn.UniqueId()) return Fail(FxResult::WrongPlugIn);
    if (IsChunk()) {
        // A plug-in without chunks would drop the bytes and the load would
        // seem to have worked.
        if (!plugIn.ProgramChunks()) return Fail(FxResult::WrongPlugIn);
        plugIn.SetChunk(Chunk(), false);
        return Succeed();
    }
    const auto programs = std::min(records_.size(), static_cast<std::size_t>(std::max(plugIn.NumPrograms(), 0)));
    const std::int32_t params = std::max(plugIn.NumParams(), 0);
    const std::int32_t current = plugIn.GetProgram();
    for (std::size_t p = 0; p < programs; ++p) {
        plugIn.SetProgram(static_cast<std::int32_t>(p));
        plugIn.SetProgramName(ProgramName(p));
        const std::vector<float> values = ProgramParameters(p);
        const auto count = std::min(values.size(), static_cast<std::size_t>(params));
        for (std::size_t i = 0; i < count; ++i) plugIn.SetParameter(static_cast<std::int32_t>(i), values[i]);
    }
    plugIn.SetProgram(current);
    return Succeed();
}

}  // namespace qvp3
