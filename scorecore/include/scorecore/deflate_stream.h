// A document deflated while it is still being written: one raw deflate stream
// whose blocks are compressed on helper threads as soon as their text and the
// 32 KB before it exist, so that the document never has to be held whole.
//
// The text comes in segments, numbered in document order. Each segment is
// filled from its start to its end, but segments may be filled in any order
// (a writer that makes its document's parts out of order keeps them in
// segments of their own). The stream is cut into blocks at each segment's
// start and every kDeflateBlockBytes after it, so its bytes depend on the text
// and where its segments begin, never on the order they were filled in or on
// the threads' timing. A block waits, uncompressed, only while the 32 KB
// before it is not written yet: the first block of a segment until the
// segments before it are closed.
//
// One thread calls the stream. Its helpers end once no block has come for
// them for a moment (and at once when the stream finishes); the destructor
// waits for any that still run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace scorecore {

// A document deflated whole: the raw deflate stream, the text's CRC-32 and size.
struct DeflatedText {
    std::string bytes;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};

inline constexpr std::size_t kDeflateBlockBytes = std::size_t{64} << 10;

class DeflateStream {
public:
    explicit DeflateStream(int level);
    ~DeflateStream();
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    // Appends text to segment. False once anything has failed (memory, zlib,
    // text for a closed segment); the stream then stays failed.
    bool append(std::size_t segment, std::string_view text);
    // Segment is complete and is not the document's last.
    bool close(std::size_t segment);
    // The document is complete: every segment up to the highest one used is
    // closed, the highest ends the stream. Waits for every block. False on
    // any failure; the stream takes no more text afterwards.
    bool finish(DeflatedText& out);

private:
    class State;
    std::unique_ptr<State> state_;
};

}  // namespace scorecore
