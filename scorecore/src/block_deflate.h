// One block of a raw deflate stream made of blocks compressed apart (on
// several threads, deflate_stream.h). The block is primed with the text
// before it (at most 32 KB), so that it finds its matches as one deflater
// running through the whole text would, and ends on a byte boundary (a sync
// flush), so that blocks joined are one valid stream; the last one ends the
// stream. Any inflater reads it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace scorecore {

// One deflater, kept from block to block: its tables are as large as a
// block, and taking them anew for each costs page faults.
class BlockCompressor {
public:
    explicit BlockCompressor(int level);
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // Deflates text after dictionary into out (replaced), ending with a sync
    // flush, or with the end of the stream when last; crc gets the text's
    // CRC-32. False when zlib fails or memory runs out.
    bool run(std::string_view dictionary, std::string_view text, bool last, std::string& out, std::uint32_t& crc);

private:
    bool feed(std::string_view input, int flush);

    z_stream stream_{};
    bool ready_ = false;
    bool used_ = false;
    std::string scratch_;  // the block's output, copied out at its size
    std::size_t produced_ = 0;
};

}  // namespace scorecore
