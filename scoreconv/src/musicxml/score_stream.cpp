#include "musicxml/score_stream.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <string>
#include <system_error>
#include <thread>

#include "musicxml/parallel_pieces.h"
#include "musicxml/score_splitter.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

namespace {

constexpr int kNodeElement = 1;
// The parts are only read, never changed: short texts may stay inside their
// nodes, which spares an allocation for most texts of a score.
constexpr int kReadOptions =
    XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT;

void quietError(void*, xmlErrorPtr) {}

// The caller walks what the workers parse: it keeps a core of its own. Each
// worker has one piece in hand at most (the window), which keeps the
// documents in memory at a few parts. A caller that only scans the children
// keeps up with a few more workers, but not many: each keeps a part's worth
// of memory in its heap, which a later stream's workers do not use again.
constexpr unsigned kMostWorkers = 3;
constexpr unsigned kMostScanWorkers = 5;
constexpr unsigned kMostDigestWorkers = 5;

int parallelWorkers(CScoreStream::Route route) {
    const unsigned cores = std::thread::hardware_concurrency();
    unsigned most = kMostWorkers;
    if (route == CScoreStream::Route::Scan) most = kMostScanWorkers;
    if (route == CScoreStream::Route::Digested) most = kMostDigestWorkers;
    return cores < 2 ? 0 : static_cast<int>(std::min(cores - 1, most));
}

// The prolog and the root's start tag parse as a document of their own: a
// start the one reader would fail on is left to it, to fail there as always.
bool startParses(const CScoreSplitter& splitter) {
    std::string text;
    text.append(splitter.prolog()).append(splitter.rootStartTag());
    if (!splitter.rootEmpty()) text.append("</").append(splitter.rootName()).append(">");
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    const scorecore::XmlDocPtr doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kReadOptions));
    return doc != nullptr;
}

}  // namespace

CScoreStream::CScoreStream() = default;
CScoreStream::~CScoreStream() = default;

bool CScoreStream::openParallel(const std::filesystem::path& source, Route route) {
    const int workers = parallelWorkers(route);
    if (workers == 0) return false;
    auto splitter = std::make_unique<CScoreSplitter>();
    if (!splitter->open(source, scorecore::kMaxXmlBytes) || !startParses(*splitter)) return false;
    rootNameText_ = splitter->rootLocalName();
    // <score-partwise/> has no children to stand on.
    if (splitter->rootEmpty()) {
        ended_ = true;
    } else {
        try {
            pieces_ = std::make_unique<CParallelPieces>(std::move(splitter), workers, workers, digestOf_,
                                                        route == Route::Scan);
        } catch (const std::system_error&) {
            return false;
        }
    }
    rootName_ = rootNameText_;
    return true;
}

const xmlNode* CScoreStream::nextPiece() {
    pieces_->giveBack(std::move(held_));
    digest_.reset();
    if (ended_) return nullptr;
    CParallelPieces::Parsed parsed = pieces_->take();
    switch (parsed.state) {
        case CParallelPieces::Parsed::State::Child: {
            const xmlNode* child = CParallelPieces::child(parsed);
            held_ = std::move(parsed.doc);
            digest_ = std::move(parsed.digest);
            return child;
        }
        case CParallelPieces::Parsed::State::End:
            ended_ = true;
            return nullptr;
        default:
            fail();
            return nullptr;
    }
}

int CScoreStream::readChunk(void* context, char* buffer, int length) {
    auto* source = static_cast<Source*>(context);
    if (length <= 0) return 0;
    source->in.read(buffer, length);
    const auto got = static_cast<std::size_t>(source->in.gcount());
    if (source->in.bad() || got > source->left) {
        source->failed = true;
        return -1;
    }
    source->left -= got;
    return static_cast<int>(got);
}

bool CScoreStream::fail() {
    failed_ = true;
    ended_ = true;
    return false;
}

bool CScoreStream::open(const std::filesystem::path& source, Route route, Digest digest) {
    xmlInitParser();
    digestOf_ = std::move(digest);
    if (route != Route::Reader && openParallel(source, route)) return true;
    source_ = std::make_unique<Source>();
    source_->in.open(source, std::ios::binary);
    source_->left = scorecore::kMaxXmlBytes;
    if (!source_->in) return fail();
    reader_.reset(xmlReaderForIO(readChunk, nullptr, source_.get(), nullptr, nullptr, kReadOptions));
    if (!reader_) return fail();
    xmlTextReaderSetStructuredErrorHandler(reader_.get(), quietError, nullptr);
    int ret = 0;
    while ((ret = xmlTextReaderRead(reader_.get())) == 1) {
        if (xmlTextReaderNodeType(reader_.get()) != kNodeElement) continue;
        const xmlChar* name = xmlTextReaderConstLocalName(reader_.get());
        rootNameText_ = name != nullptr ? reinterpret_cast<const char*>(name) : "";
        rootName_ = rootNameText_;
        // <score-partwise/> has no children to stand on.
        if (xmlTextReaderIsEmptyElement(reader_.get()) == 1) ended_ = true;
        return !source_->failed || fail();
    }
    return fail();
}

const xmlNode* CScoreStream::next() {
    if (pieces_) return nextPiece();
    digest_.reset();
    if (ended_ || !reader_) return nullptr;
    xmlTextReaderPtr reader = reader_.get();
    // The first step goes into the root; every later one past the child held.
    int ret = started_ ? xmlTextReaderNext(reader) : xmlTextReaderRead(reader);
    started_ = true;
    while (ret == 1 && !source_->failed) {
        const int depth = xmlTextReaderDepth(reader);
        if (depth <= 0) {
            // The root has ended; what follows must still be well-formed, as
            // for a whole-document parse.
            while ((ret = xmlTextReaderRead(reader)) == 1) {
            }
            ended_ = true;
            if (ret < 0 || source_->failed) fail();
            return nullptr;
        }
        if (depth == 1 && xmlTextReaderNodeType(reader) == kNodeElement) {
            const xmlNode* node = xmlTextReaderExpand(reader);
            if (node == nullptr || source_->failed) {
                fail();
                return nullptr;
            }
            if (digestOf_) digest_ = digestOf_(node);
            return node;
        }
        ret = xmlTextReaderNext(reader);
    }
    fail();
    return nullptr;
}

}  // namespace scoreconv
