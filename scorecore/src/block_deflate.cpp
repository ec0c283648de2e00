#include "block_deflate.h"

#include <algorithm>
#include <climits>
#include <new>

namespace scorecore {

namespace {

constexpr std::size_t kOutputStep = std::size_t{64} << 10;

}  // namespace

BlockCompressor::BlockCompressor(int level) {
    ready_ = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    // Room for a block deflated, in the heap of the thread that makes the
    // compressor (text deflates to far less).
    scratch_.resize(kOutputStep);
}

BlockCompressor::~BlockCompressor() {
    if (ready_) deflateEnd(&stream_);
}

// Feeds input with flush into the scratch buffer, growing it as needed.
bool BlockCompressor::feed(std::string_view input, int flush) {
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream_.avail_in = static_cast<uInt>(input.size());
    for (;;) {
        if (produced_ == scratch_.size()) scratch_.resize(scratch_.size() + std::max(kOutputStep, input.size() / 2));
        stream_.next_out = reinterpret_cast<Bytef*>(scratch_.data() + produced_);
        stream_.avail_out = static_cast<uInt>(scratch_.size() - produced_);
        const int rc = deflate(&stream_, flush);
        produced_ = scratch_.size() - stream_.avail_out;
        if (rc == Z_STREAM_ERROR) return false;
        if (flush == Z_FINISH && rc == Z_STREAM_END) return true;
        if (flush != Z_FINISH && stream_.avail_in == 0 && stream_.avail_out != 0) return true;
    }
}

bool BlockCompressor::run(std::string_view dictionary, std::string_view text, bool last, std::string& out,
                          std::uint32_t& crc) {
    // A block is at most a few hundred KB, far below what zlib counts.
    if (!ready_ || text.size() > UINT_MAX / 2 || dictionary.size() > UINT_MAX) return false;
    try {
        if (used_ && deflateReset(&stream_) != Z_OK) return false;
        used_ = true;
        if (!dictionary.empty() &&
            deflateSetDictionary(&stream_, reinterpret_cast<const Bytef*>(dictionary.data()),
                                 static_cast<uInt>(dictionary.size())) != Z_OK) {
            return false;
        }
        produced_ = 0;
        if (!feed(text, Z_NO_FLUSH) || !feed({}, last ? Z_FINISH : Z_SYNC_FLUSH)) return false;
        out.assign(scratch_.data(), produced_);
        crc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace scorecore
