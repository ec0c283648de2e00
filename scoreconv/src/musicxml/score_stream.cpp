#include "musicxml/score_stream.h"

#include <libxml/parser.h>

#include "scorecore/xml_dom.h"

namespace scoreconv {

namespace {

constexpr int kNodeElement = 1;
constexpr int kReadOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

void quietError(void*, xmlErrorPtr) {}

}  // namespace

CScoreStream::~CScoreStream() = default;

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

bool CScoreStream::open(const std::filesystem::path& source) {
    xmlInitParser();
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
            return node;
        }
        ret = xmlTextReaderNext(reader);
    }
    fail();
    return nullptr;
}

}  // namespace scoreconv
