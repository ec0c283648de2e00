#include "musicxml/parallel_pieces.h"

#include <libxml/parser.h>

#include "musicxml/outline_parse.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <utility>

namespace scoreconv {

namespace {

// Text ahead of the caller beyond which no further piece is claimed (one
// always is): a part's document takes several times its text, and parts of
// a long orchestral score run to a megabyte each.
constexpr std::size_t kMostBytesAhead = std::size_t{2} << 20;

// The parts are only read, never changed: short texts may stay inside their
// nodes, which spares an allocation for most texts of a score.
constexpr int kReadOptions =
    XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

const xmlNode* firstElement(const xmlNode* node) {
    for (const xmlNode* c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) return c;
    }
    return nullptr;
}

}  // namespace

CParallelPieces::CParallelPieces(std::unique_ptr<CScoreSplitter> splitter, int workers, int window, Digest digest,
                                 bool notesInOutline)
    : splitter_(std::move(splitter)), digest_(std::move(digest)), notesInOutline_(notesInOutline), window_(static_cast<std::uint64_t>(window > 0 ? window : 1)) {
    before_.append(splitter_->prolog()).append(splitter_->rootStartTag());
    after_.append("</").append(splitter_->rootName()).append(">");
    const auto count = static_cast<std::size_t>(workers > 0 ? workers : 0);
    threads_.reserve(count);
    outstanding_.assign(count, nullptr);
    returned_.resize(count);
    try {
        for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { work(i); });
    } catch (...) {
        stop();
        throw;
    }
}

CParallelPieces::~CParallelPieces() { stop(); }

void CParallelPieces::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wanted_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
    threads_.clear();
    spent_.clear();
    returned_.clear();
}

const xmlNode* CParallelPieces::child(const Parsed& parsed) {
    return parsed.doc ? firstElement(xmlDocGetRootElement(parsed.doc.get())) : nullptr;
}

CParallelPieces::Parsed CParallelPieces::parse(const CScoreSplitter::Piece& piece, std::string& text) const {
    Parsed out;
    out.state = Parsed::State::Failed;
    if (piece.kind == CScoreSplitter::Piece::Kind::Broken) return out;
    const bool child = piece.kind == CScoreSplitter::Piece::Kind::Child;
    text.clear();
    text.reserve(before_.size() + piece.text.size() + after_.size());
    text.append(before_).append(piece.text);
    if (child) text.append(after_);
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return out;
    if (notesInOutline_) {
        out.doc = parseWithNotesInOutline(text, kReadOptions);
    } else {
        out.doc.reset(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kReadOptions));
    }
    if (!out.doc) return out;
    if (!child) {
        out.doc.reset();
        out.state = Parsed::State::End;
    } else if (const xmlNode* parsed = CParallelPieces::child(out)) {
        if (digest_) out.digest = digest_(parsed);
        out.state = Parsed::State::Child;
    }
    return out;
}

void CParallelPieces::giveBack(scorecore::XmlDocPtr doc) {
    if (!doc) return;
    {
        const std::lock_guard lock(mutex_);
        const auto owner = std::find(outstanding_.begin(), outstanding_.end(), doc.get());
        if (owner != outstanding_.end()) {
            returned_[static_cast<std::size_t>(owner - outstanding_.begin())] = std::move(doc);
        } else {
            try {
                spent_.push_back(std::move(doc));
            } catch (const std::bad_alloc&) {
                // Freed here then, after the lock.
            }
        }
    }
    wanted_.notify_all();
}

// The scan is short beside a parse: it runs under the lock, in the order of
// the file. False when not even the piece's slot can be made (the caller
// sees the failure at the end).
bool CParallelPieces::claim(CScoreSplitter::Piece& piece, std::uint64_t& number) {
    try {
        parsed_.emplace_back();
        if (!splitter_->next(piece)) piece.kind = CScoreSplitter::Piece::Kind::Broken;
    } catch (const std::bad_alloc&) {
        piece.kind = CScoreSplitter::Piece::Kind::Broken;
        if (parsed_.size() + taken_ == claimed_) {
            split_ = true;
            wanted_.notify_all();
            ready_.notify_all();
            return false;
        }
    }
    number = claimed_++;
    parsed_.back().textBytes = piece.text.size();
    bytesAhead_ += piece.text.size();
    if (piece.kind != CScoreSplitter::Piece::Kind::Child) {
        split_ = true;
        wanted_.notify_all();
    }
    return true;
}

void CParallelPieces::work(std::size_t worker) {
    std::vector<scorecore::XmlDocPtr> spent;
    // The piece and the document text are kept from piece to piece: they
    // are as long as a part, and taking such blocks anew costs page faults.
    CScoreSplitter::Piece piece;
    std::string text;
    for (;;) {
        spent.clear();
        scorecore::XmlDocPtr own;  // freed after the lock, like spent
        std::uint64_t number = 0;
        {
            std::unique_lock lock(mutex_);
            wanted_.wait(lock, [this, worker] {
                return stopping_ || returned_[worker] || !spent_.empty() ||
                       (!split_ && claimed_ - taken_ < window_ && (bytesAhead_ < kMostBytesAhead || claimed_ == taken_) &&
                        outstanding_[worker] == nullptr);
            });
            if (returned_[worker]) {
                own = std::move(returned_[worker]);
                outstanding_[worker] = nullptr;
                continue;
            }
            if (!spent_.empty()) {
                spent.swap(spent_);
                continue;
            }
            if (stopping_ || !claim(piece, number)) return;
        }
        Parsed result;
        try {
            result = parse(piece, text);
        } catch (const std::bad_alloc&) {
            result = Parsed{Parsed::State::Failed, nullptr, {}};
        }
        {
            const std::lock_guard lock(mutex_);
            if (result.state == Parsed::State::Child) outstanding_[worker] = result.doc.get();
            Parsed& slot = parsed_[static_cast<std::size_t>(number - taken_)];
            result.textBytes = slot.textBytes;
            slot = std::move(result);
        }
        ready_.notify_all();
    }
}

CParallelPieces::Parsed CParallelPieces::take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] {
        return (!parsed_.empty() && parsed_.front().state != Parsed::State::Pending) ||
               (parsed_.empty() && split_ && claimed_ == taken_);
    });
    Parsed out;
    out.state = Parsed::State::Failed;
    if (!parsed_.empty()) {
        out = std::move(parsed_.front());
        parsed_.pop_front();
        ++taken_;
        bytesAhead_ -= std::min(out.textBytes, bytesAhead_);
    }
    lock.unlock();
    wanted_.notify_all();
    return out;
}

}  // namespace scoreconv
