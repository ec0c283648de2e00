#include "qvp3_audio/fx_base.h"

#include <fstream>
#include <new>
#include <string_view>
#include <system_error>

#include "fx_record.h"
#include "platform/atomic_file.h"

namespace qvp3 {

bool CFxBase::Load(const std::filesystem::path& fileName) {
    Clear();
    std::error_code ec;
    // Anything but a regular file (a folder, a pipe that would block) is no bank.
    if (!std::filesystem::is_regular_file(fileName, ec)) return Fail(FxResult::CannotOpen);
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return Fail(FxResult::CannotOpen);
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in) return Fail(FxResult::CannotOpen);
    if (static_cast<std::uint64_t>(end) > fx::kMaxFileSize) return Fail(FxResult::TooLarge);

    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
        return Fail(FxResult::CannotOpen);
    }
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size()) return Fail(FxResult::CannotOpen);
    return Take(std::move(bytes), fileName);
}

bool CFxBase::Save(const std::filesystem::path& fileName) {
    if (!loaded_) return Fail(FxResult::NotLoaded);
    const std::string_view text(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
    if (!platform::writeFileAtomically(fileName, text)) return Fail(FxResult::WriteError);
    fileName_ = fileName;
    return Succeed();
}

std::int32_t CFxBase::FxId() const { return Field(kFxIdOffset); }

std::int32_t CFxBase::FxVersion() const { return Field(kFxFxVersionOffset); }

std::span<const std::uint8_t> CFxBase::Chunk() const {
    if (!isChunk_) return {};
    return std::span<const std::uint8_t>(bytes_).subspan(chunkOffset_, chunkSize_);
}

bool CFxBase::Take(std::vector<std::uint8_t> bytes, std::filesystem::path fileName) {
    Clear();
    const FxResult checked = Check(bytes);
    if (checked != FxResult::Ok) {
        Clear();
        return Fail(checked);
    }
    bytes_ = std::move(bytes);
    fileName_ = std::move(fileName);
    loaded_ = true;
    return Succeed();
}

void CFxBase::Clear() {
    loaded_ = false;
    fileName_.clear();
    std::vector<std::uint8_t>().swap(bytes_);
    isChunk_ = false;
    chunkOffset_ = 0;
    chunkSize_ = 0;
    Forget();
}

bool CFxBase::Fail(FxResult why) {
    result_ = why;
    return false;
}

bool CFxBase::Succeed() {
    result_ = FxResult::Ok;
    return true;
}

void CFxBase::NoteChunk(bool isChunk, std::size_t offset, std::size_t size) {
    isChunk_ = isChunk;
    chunkOffset_ = offset;
    chunkSize_ = size;
}

std::int32_t CFxBase::Field(std::size_t offset) const {
    if (!fx::fits(bytes_, offset, 4)) return 0;
    return static_cast<std::int32_t>(fx::readU32(bytes_, offset));
}

}  // namespace qvp3
