// One raw deflate stream made of blocks compressed at the same time on
// several threads. Each block is primed with the 32 KB of text before it, so
// that it finds its matches as one deflater running through the whole text
// would, and ends on a byte boundary (a sync flush), so that the blocks joined
// are one valid stream; the last one ends the stream. Any inflater reads it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace scorecore {

struct DeflatedText {
    std::string bytes;        // the raw deflate stream
    std::uint32_t crc = 0;    // CRC-32 of the text
    std::uint64_t size = 0;   // bytes of the text
};

// Deflates the text held in pieces (read one after the other) at level.
// False when zlib fails or memory runs out.
bool deflateInBlocks(std::span<const std::string_view> pieces, int level, DeflatedText& out);

}  // namespace scorecore
