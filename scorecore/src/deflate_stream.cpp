#include "scorecore/deflate_stream.h"

#include "block_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace scorecore {

namespace {

constexpr std::size_t kWindowBytes = std::size_t{32} << 10;
// While the document is written its writer keeps a core of its own; two
// helpers deflate faster than a writer makes text.
constexpr unsigned kWritingHelpers = 2;
constexpr unsigned kMostThreads = 8;
// Beyond this many blocks waiting the writer deflates one itself, so that a
// busy machine never piles up the text the stream is there to spare.
constexpr std::size_t kMostQueued = 16;
constexpr auto kLinger = std::chrono::milliseconds(50);

std::string_view lastBytes(std::string_view text, std::size_t count) {
    return text.substr(text.size() - std::min(count, text.size()));
}

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

class DeflateStream::State {
public:
    explicit State(int level) : level_(level), most_(std::min(kWritingHelpers, cores() - 1)) {}
    ~State() { stop(); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    bool append(std::size_t segment, std::string_view text);
    bool close(std::size_t segment);
    bool finish(DeflatedText& out);

private:
    struct Job {
        std::size_t segment = 0;
        std::size_t index = 0;
        std::string text;
        std::string dictionary;
        bool last = false;  // ends the stream
    };
    struct Block {
        std::string bytes;
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        bool done = false;
    };
    struct Held {
        std::string text;
        bool last = false;
    };
    // The writer's side of a segment; only the calling thread touches it.
    struct Segment {
        std::string current;        // the block being filled
        std::string before;         // the 32 KB of the segment before current
        std::size_t cut = 0;        // blocks cut so far
        std::optional<Held> held;   // the first block, waiting for the text before the segment
        bool closed = false;
        std::uint64_t size = 0;
        std::string tail;           // the segment's own last 32 KB, once closed
        bool endKnown = false;
        std::string end;            // the document's last 32 KB up to the segment's end
    };

    Segment& segment(std::size_t s);
    bool cut(std::size_t s, bool last);
    bool end(std::size_t s, bool last);
    bool release();
    bool queue(Job job);
    void startHelpers(std::vector<std::thread>& ended);
    // helper: the compressor of a helper thread, which goes back to the idle
    // ones when the helper ends; null for the calling thread.
    void work(BlockCompressor& compressor, std::unique_ptr<BlockCompressor>* helper, bool once);
    bool assemble(DeflatedText& out);
    bool fail();
    void stop();

    const int level_;
    std::vector<Segment> segments_;
    std::optional<BlockCompressor> own_;  // the calling thread's, made when it first helps

    std::mutex mutex_;
    std::condition_variable idle_;    // a helper ended, or a block was deflated
    std::condition_variable queued_;  // a block waits, or the stream ends
    std::deque<Job> jobs_;
    std::size_t queuedBytes_ = 0;
    std::size_t busy_ = 0;       // blocks being deflated
    unsigned running_ = 0;       // helpers that have not ended
    unsigned most_;              // helpers at most
    std::vector<std::vector<Block>> blocks_;  // by segment, by index
    std::vector<std::thread> threads_;
    std::vector<std::thread::id> ended_;  // helpers that ended, to be joined
    // Compressors of helpers that ended, for the next ones: made by the
    // calling thread, so that their tables stay in its heap instead of one
    // heap for each helper thread that ever ran.
    std::vector<std::unique_ptr<BlockCompressor>> idleCompressors_;
    bool stopping_ = false;
    bool finishing_ = false;  // helpers end as soon as nothing waits
    std::atomic<bool> failed_{false};
};

DeflateStream::State::Segment& DeflateStream::State::segment(std::size_t s) {
    if (s >= segments_.size()) segments_.resize(s + 1);
    return segments_[s];
}

bool DeflateStream::State::fail() {
    failed_ = true;
    return false;
}

bool DeflateStream::State::append(std::size_t s, std::string_view text) {
    if (failed_) return false;
    try {
        Segment& seg = segment(s);
        if (seg.closed) return fail();
        seg.size += text.size();
        while (!text.empty()) {
            // A full block goes once more text follows it: the last block of
            // all is known only when the document ends.
            if (seg.current.size() == kDeflateBlockBytes && !cut(s, false)) return false;
            if (seg.cut > 0 && seg.current.capacity() < kDeflateBlockBytes) seg.current.reserve(kDeflateBlockBytes);
            const std::size_t take = std::min(kDeflateBlockBytes - seg.current.size(), text.size());
            seg.current.append(text.data(), take);
            text.remove_prefix(take);
        }
        return !failed_;
    } catch (const std::bad_alloc&) {
        return fail();
    }
}

// The block being filled in segment s is complete; last: it ends the stream.
bool DeflateStream::State::cut(std::size_t s, bool last) {
    Segment& seg = segments_[s];
    std::string text = std::move(seg.current);
    seg.current = std::string();
    std::string dictionary = std::move(seg.before);
    seg.before = std::string(lastBytes(text, kWindowBytes));
    const std::size_t index = seg.cut++;
    if (index > 0) return queue(Job{s, index, std::move(text), std::move(dictionary), last});
    seg.held = Held{std::move(text), last};
    return release();
}

// Segment s is complete: its last block goes, even an empty one when it ends
// the stream (a segment's text is never cut before more of it follows, so
// only an empty segment leaves nothing to cut).
bool DeflateStream::State::end(std::size_t s, bool last) {
    Segment& seg = segments_[s];
    seg.closed = true;
    const std::string_view current = seg.current;
    seg.tail = std::string(lastBytes(seg.before, kWindowBytes - std::min(kWindowBytes, current.size())));
    seg.tail += lastBytes(current, kWindowBytes);
    if ((!seg.current.empty() || last) && !cut(s, last)) return false;
    seg.before = std::string();
    return release();
}

// Sends the first block of every segment whose dictionary is known, the 32 KB
// of the document before it, and learns the segments' ends as far as they
// are known. An end no segment needs any more is freed.
bool DeflateStream::State::release() {
    static const std::string kNothing;
    const std::string* previous = &kNothing;  // the document's start
    bool known = true;
    for (std::size_t s = 0; s < segments_.size(); ++s) {
        Segment& seg = segments_[s];
        if (seg.held && known) {
            Held held = std::move(*seg.held);
            seg.held.reset();
            if (!queue(Job{s, 0, std::move(held.text), *previous, held.last})) return false;
        }
        if (!seg.endKnown && seg.closed && (known || seg.size >= kWindowBytes)) {
            seg.end = seg.size >= kWindowBytes ? std::string() : std::string(lastBytes(*previous, kWindowBytes - seg.tail.size()));
            seg.end += seg.tail;
            seg.endKnown = true;
            seg.tail = std::string();
        }
        if (s > 0 && seg.endKnown && seg.cut > 0 && !seg.held) segments_[s - 1].end = std::string();
        known = seg.endKnown;
        previous = &seg.end;
    }
    return true;
}

bool DeflateStream::State::queue(Job job) {
    std::vector<std::thread> ended;
    bool help = false;
    {
        const std::lock_guard lock(mutex_);
        if (failed_) return false;
        if (blocks_.size() <= job.segment) blocks_.resize(job.segment + 1);
        std::vector<Block>& blocks = blocks_[job.segment];
        if (blocks.size() <= job.index) blocks.resize(job.index + 1);
        queuedBytes_ += job.text.size();
        jobs_.push_back(std::move(job));
        queued_.notify_one();
        startHelpers(ended);
        help = jobs_.size() > kMostQueued || running_ == 0;
    }
    for (std::thread& thread : ended) thread.join();
    if (help) {
        if (!own_) own_.emplace(level_);
        work(*own_, nullptr, true);
    }
    return !failed_;
}

// Starts helpers for the blocks waiting, each with a block's worth of text
// at least, up to the most allowed; hands out the threads of helpers that
// ended, for joining without the lock. Called with the lock held.
void DeflateStream::State::startHelpers(std::vector<std::thread>& ended) {
    for (const std::thread::id id : ended_) {
        const auto at = std::find_if(threads_.begin(), threads_.end(), [id](const std::thread& t) { return t.get_id() == id; });
        if (at == threads_.end()) continue;
        ended.push_back(std::move(*at));
        threads_.erase(at);
    }
    ended_.clear();
    const std::size_t wanted = std::max<std::size_t>(1, queuedBytes_ / kDeflateBlockBytes);
    while (running_ < most_ && running_ < wanted && running_ < jobs_.size()) {
        std::unique_ptr<BlockCompressor> compressor;
        if (idleCompressors_.empty()) {
            compressor = std::make_unique<BlockCompressor>(level_);
        } else {
            compressor = std::move(idleCompressors_.back());
            idleCompressors_.pop_back();
        }
        BlockCompressor* own = compressor.get();
        try {
            threads_.emplace_back([this, own] {
                std::unique_ptr<BlockCompressor> held(own);
                work(*held, &held, false);
            });
        } catch (const std::system_error&) {
            idleCompressors_.push_back(std::move(compressor));
            return;  // fewer helpers: the calling thread deflates the rest
        }
        compressor.release();  // the helper holds it now
        ++running_;
    }
}

// Deflates waiting blocks until none is left (once: one at most). A helper
// counts itself out in the same step in which it finds nothing to do, so a
// block is never left waiting without one.
void DeflateStream::State::work(BlockCompressor& compressor, std::unique_ptr<BlockCompressor>* helper, bool once) {
    std::unique_lock lock(mutex_);
    for (int done = 0;; ++done) {
        // A helper waits a while for the next block: a thread started for
        // each block would cost the writer more than the block.
        if (helper != nullptr && jobs_.empty() && !stopping_ && !finishing_) {
            queued_.wait_for(lock, kLinger, [this] { return !jobs_.empty() || stopping_ || finishing_; });
        }
        if (jobs_.empty() || stopping_ || (once && done > 0)) {
            if (helper != nullptr) {
                --running_;
                ended_.push_back(std::this_thread::get_id());
                try {
                    idleCompressors_.push_back(std::move(*helper));
                } catch (const std::bad_alloc&) {
                    // Freed with the helper then.
                }
            }
            idle_.notify_all();
            return;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        queuedBytes_ -= job.text.size();
        ++busy_;
        lock.unlock();
        Block block;
        block.size = job.text.size();
        block.done = compressor.run(job.dictionary, job.text, job.last, block.bytes, block.crc);
        job.text = std::string();
        job.dictionary = std::string();
        lock.lock();
        --busy_;
        if (!block.done) failed_ = true;
        blocks_[job.segment][job.index] = std::move(block);
    }
}

bool DeflateStream::State::close(std::size_t s) {
    if (failed_) return false;
    try {
        Segment& seg = segment(s);
        return seg.closed || end(s, false);
    } catch (const std::bad_alloc&) {
        return fail();
    }
}

bool DeflateStream::State::finish(DeflatedText& out) {
    if (failed_) return false;
    try {
        if (segments_.empty()) segment(0);
        // A last segment closed already leaves the stream's end to an empty one.
        if (segments_.back().closed) segment(segments_.size());
        const std::size_t last = segments_.size() - 1;
        for (std::size_t s = 0; s < last; ++s) {
            if (!segments_[s].closed && !end(s, false)) return false;
        }
        if (!end(last, true)) return false;
        std::vector<std::thread> threads;
        {
            const std::lock_guard lock(mutex_);
            most_ = std::min(cores(), kMostThreads) - 1;
            finishing_ = true;
            queued_.notify_all();
            startHelpers(threads);
        }
        if (!own_) own_.emplace(level_);
        work(*own_, nullptr, false);
        {
            std::unique_lock lock(mutex_);
            idle_.wait(lock, [this] { return running_ == 0 && busy_ == 0; });
            for (std::thread& thread : threads_) threads.push_back(std::move(thread));
            threads_.clear();
            ended_.clear();
        }
        for (std::thread& thread : threads) thread.join();
        segments_ = std::vector<Segment>();
        failed_ = failed_ || !assemble(out);
        const bool ok = !failed_;
        failed_ = true;  // no more text after the end
        return ok;
    } catch (const std::bad_alloc&) {
        return fail();
    }
}

// The blocks one after the other: one deflate stream of the whole text.
bool DeflateStream::State::assemble(DeflatedText& out) {
    std::size_t total = 0;
    for (const std::vector<Block>& blocks : blocks_) {
        for (const Block& block : blocks) {
            if (!block.done) return false;
            total += block.bytes.size();
        }
    }
    out = DeflatedText{};
    out.bytes.reserve(total);
    out.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    for (std::vector<Block>& blocks : blocks_) {
        for (Block& block : blocks) {
            out.bytes += block.bytes;
            out.crc = static_cast<std::uint32_t>(crc32_combine(out.crc, block.crc, static_cast<z_off_t>(block.size)));
            out.size += block.size;
            block.bytes = std::string();
        }
    }
    return true;
}

// Drops what waits and waits for the helpers, which end after the block in
// hand.
void DeflateStream::State::stop() {
    std::vector<std::thread> threads;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
        threads.swap(threads_);
    }
    queued_.notify_all();
    for (std::thread& thread : threads) thread.join();
}

DeflateStream::DeflateStream(int level) : state_(std::make_unique<State>(level)) {}
DeflateStream::~DeflateStream() = default;

bool DeflateStream::append(std::size_t segment, std::string_view text) { return state_->append(segment, text); }
bool DeflateStream::close(std::size_t segment) { return state_->close(segment); }
bool DeflateStream::finish(DeflatedText& out) { return state_->finish(out); }

}  // namespace scorecore
