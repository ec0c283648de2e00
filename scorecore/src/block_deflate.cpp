#include "block_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace scorecore {

namespace {

// Blocks of at most this size; a smaller text is cut into blocks of at least
// the smaller size, enough for every thread to take a few.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;
constexpr std::size_t kSmallestBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kBlocksPerThread = 4;
constexpr std::size_t kWindowBytes = std::size_t{32} << 10;
constexpr unsigned kMostThreads = 8;
constexpr std::size_t kOutputStep = std::size_t{64} << 10;

// The text of the pieces by offset.
class PieceText {
public:
    explicit PieceText(std::span<const std::string_view> pieces) : pieces_(pieces) {
        starts_.reserve(pieces.size());
        for (const std::string_view piece : pieces) {
            starts_.push_back(size_);
            size_ += piece.size();
        }
    }
    std::uint64_t size() const { return size_; }

    // Calls visit with every stretch of [begin, end) in order.
    template <typename Visit>
    bool forEach(std::uint64_t begin, std::uint64_t end, Visit&& visit) const {
        auto at = std::upper_bound(starts_.begin(), starts_.end(), begin);
        std::size_t i = static_cast<std::size_t>(at - starts_.begin()) - (at == starts_.begin() ? 0 : 1);
        for (; i < pieces_.size() && starts_[i] < end; ++i) {
            const std::uint64_t from = std::max(begin, starts_[i]);
            const std::uint64_t to = std::min<std::uint64_t>(end, starts_[i] + pieces_[i].size());
            if (from >= to) continue;
            if (!visit(pieces_[i].substr(static_cast<std::size_t>(from - starts_[i]),
                                         static_cast<std::size_t>(to - from)))) {
                return false;
            }
        }
        return true;
    }

private:
    std::span<const std::string_view> pieces_;
    std::vector<std::uint64_t> starts_;
    std::uint64_t size_ = 0;
};

struct Block {
    std::string bytes;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    bool ok = false;
};

struct Deflater {
    z_stream stream{};
    bool ready = false;
    explicit Deflater(int level) {
        ready = deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~Deflater() {
        if (ready) deflateEnd(&stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Feeds input with flush into out, growing it as needed.
    bool run(std::string_view input, int flush, std::string& out) {
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        stream.avail_in = static_cast<uInt>(input.size());
        for (;;) {
            const std::size_t used = out.size() - stream.avail_out;
            if (stream.avail_out == 0) {
                out.resize(out.size() + std::max(kOutputStep, input.size() / 2));
                stream.avail_out = static_cast<uInt>(out.size() - used);
            }
            stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
            const int rc = deflate(&stream, flush);
            if (rc == Z_STREAM_ERROR) return false;
            if (flush == Z_FINISH && rc == Z_STREAM_END) return true;
            if (flush != Z_FINISH && stream.avail_in == 0 && stream.avail_out != 0) return true;
        }
    }
};

// The size of the blocks a text is cut into; it depends on the text's size
// alone, so that the same text always deflates to the same bytes.
std::uint64_t blockBytesFor(std::uint64_t size) {
    const std::uint64_t share = size / (std::uint64_t{kMostThreads} * kBlocksPerThread);
    return std::clamp<std::uint64_t>(share, kSmallestBlockBytes, kBlockBytes);
}

void deflateBlock(const PieceText& text, std::uint64_t begin, std::uint64_t blockBytes, int level, Block& block) {
    const std::uint64_t end = std::min<std::uint64_t>(text.size(), begin + blockBytes);
    const bool last = end == text.size();
    try {
        Deflater deflater(level);
        if (!deflater.ready) return;
        if (begin > 0) {
            std::string window;
            text.forEach(begin - std::min<std::uint64_t>(begin, kWindowBytes), begin, [&window](std::string_view s) {
                window.append(s);
                return true;
            });
            if (deflateSetDictionary(&deflater.stream, reinterpret_cast<const Bytef*>(window.data()),
                                     static_cast<uInt>(window.size())) != Z_OK) {
                return;
            }
        }
        std::uint32_t crc = crc32(0, nullptr, 0);
        deflater.stream.avail_out = 0;
        const bool fed = text.forEach(begin, end, [&](std::string_view s) {
            // A stretch is at most a block, far below what zlib counts.
            crc = static_cast<std::uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
            return deflater.run(s, Z_NO_FLUSH, block.bytes);
        });
        if (!fed || !deflater.run({}, last ? Z_FINISH : Z_SYNC_FLUSH, block.bytes)) return;
        block.bytes.resize(block.bytes.size() - deflater.stream.avail_out);
        block.crc = crc;
        block.size = end - begin;
        block.ok = true;
    } catch (const std::bad_alloc&) {
        block.ok = false;
    }
}

unsigned threadsFor(std::size_t blocks) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::size_t>({blocks, cores, kMostThreads}));
}

}  // namespace

bool deflateInBlocks(std::span<const std::string_view> pieces, int level, DeflatedText& out) {
    try {
        const PieceText text(pieces);
        const std::uint64_t blockBytes = blockBytesFor(text.size());
        const std::size_t count = std::max<std::size_t>(1, static_cast<std::size_t>((text.size() + blockBytes - 1) / blockBytes));
        std::vector<Block> blocks(count);
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next++; i < count; i = next++) deflateBlock(text, i * blockBytes, blockBytes, level, blocks[i]);
        };
        // Room for every helper first: once one runs, nothing may throw
        // before it is joined.
        std::vector<std::thread> helpers;
        helpers.reserve(threadsFor(count));
        try {
            for (unsigned i = 1; i < threadsFor(count); ++i) helpers.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer helpers: the blocks left are deflated here.
        }
        work();
        for (std::thread& helper : helpers) helper.join();

        std::size_t total = 0;
        for (const Block& block : blocks) {
            if (!block.ok) return false;
            total += block.bytes.size();
        }
        out.bytes.clear();
        out.bytes.reserve(total);
        out.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
        out.size = 0;
        for (const Block& block : blocks) {
            out.bytes += block.bytes;
            out.crc = static_cast<std::uint32_t>(crc32_combine(out.crc, block.crc, static_cast<z_off_t>(block.size)));
            out.size += block.size;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace scorecore
