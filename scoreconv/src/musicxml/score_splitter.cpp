#include "musicxml/score_splitter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace scoreconv {

namespace {

// The buffer holds the piece being split and one chunk: small beside a
// score, and a part needs a few reads at most.
constexpr std::size_t kChunkBytes = std::size_t{1} << 18;
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kNpos = std::string::npos;
// The longest opening the prolog's markup is told apart by ("<!DOCTYPE").
constexpr std::size_t kLongestOpening = 9;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool startsNameChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalpha(u) != 0 || c == '_' || c == ':' || u >= 0x80;
}

// The end of what follows `from` up to and including `close`; npos when the
// text holds no `close` yet.
std::size_t pastText(const std::string& text, std::size_t from, std::string_view close) {
    const std::size_t at = text.find(close, from);
    return at == kNpos ? kNpos : at + close.size();
}

bool startsWith(const std::string& text, std::size_t at, std::string_view opening) {
    return text.compare(at, opening.size(), opening) == 0;
}

}  // namespace

bool CScoreSplitter::open(const std::filesystem::path& source, std::size_t maxBytes) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(source, error);
    if (error || size > maxBytes) return false;
    in_.open(source, std::ios::binary);
    if (!in_) return false;
    left_ = maxBytes;
    return readProlog() && knownEncoding();
}

std::string_view CScoreSplitter::rootLocalName() const {
    const std::size_t colon = rootName_.find(':');
    return colon == kNpos ? std::string_view(rootName_) : std::string_view(rootName_).substr(colon + 1);
}

bool CScoreSplitter::readMore() {
    if (eof_ || readFailed_) return false;
    // What earlier pieces took is dropped before the buffer grows.
    if (begin_ > 0) {
        buffer_.erase(0, begin_);
        scanned_ -= begin_;
        begin_ = 0;
    }
    const std::size_t had = buffer_.size();
    buffer_.resize(had + kChunkBytes);
    in_.read(buffer_.data() + had, static_cast<std::streamsize>(kChunkBytes));
    const auto got = static_cast<std::size_t>(in_.gcount());
    buffer_.resize(had + got);
    if (in_.bad() || got > left_) {
        readFailed_ = true;
        return false;
    }
    left_ -= got;
    if (got < kChunkBytes) eof_ = true;
    return got > 0;
}

std::size_t CScoreSplitter::markupEnd(std::size_t at, Markup& kind) const {
    kind = Markup::Other;
    if (at + 1 >= buffer_.size()) return kNpos;
    switch (buffer_[at + 1]) {
        case '/': {
            kind = Markup::EndTag;
            const std::size_t close = buffer_.find('>', at + 2);
            return close == kNpos ? kNpos : close + 1;
        }
        case '?': return pastText(buffer_, at + 2, "?>");
        case '!':
            if (startsWith(buffer_, at, "<!--")) return pastText(buffer_, at + 4, "-->");
            if (startsWith(buffer_, at, "<![CDATA[")) return pastText(buffer_, at + 9, "]]>");
            // Too short yet to tell a comment or a CDATA section from the rest.
            if (buffer_.size() - at < kLongestOpening && !eof_) return kNpos;
            return pastText(buffer_, at + 2, ">");
        default: break;
    }
    // A start tag: '>' ends it outside quoted attribute values. Tags are short:
    // a plain loop beats a search for any of three characters.
    const char* text = buffer_.data();
    for (std::size_t i = at + 1; i < buffer_.size(); ++i) {
        const char c = text[i];
        if (c == '>') {
            kind = text[i - 1] == '/' ? Markup::EmptyTag : Markup::StartTag;
            return i + 1;
        }
        if (c == '"' || c == '\'') {
            i = buffer_.find(c, i + 1);
            if (i == kNpos) return kNpos;
        }
    }
    return kNpos;
}

// "<!DOCTYPE ...>" with its internal subset, whose declarations may hold
// quoted '>' and comments.
std::size_t CScoreSplitter::doctypeEnd(std::size_t at) const {
    bool subset = false;
    for (std::size_t i = at + kLongestOpening; i < buffer_.size(); ++i) {
        const char c = buffer_[i];
        if (c == '"' || c == '\'') {
            i = buffer_.find(c, i + 1);
            if (i == kNpos) return kNpos;
        } else if (subset && startsWith(buffer_, i, "<!--")) {
            i = pastText(buffer_, i + 4, "-->");
            if (i == kNpos) return kNpos;
            --i;
        } else if (subset && startsWith(buffer_, i, "<?")) {
            i = pastText(buffer_, i + 2, "?>");
            if (i == kNpos) return kNpos;
            --i;
        } else if (c == '[') {
            subset = true;
        } else if (c == ']') {
            subset = false;
        } else if (c == '>' && !subset) {
            return i + 1;
        }
    }
    return kNpos;
}

bool CScoreSplitter::readProlog() {
    std::size_t pos = 0;
    bool bomChecked = false;
    for (;;) {
        if (buffer_.size() - pos < kLongestOpening && !eof_) {
            if (!readMore() && readFailed_) return false;
            continue;
        }
        if (!bomChecked) {
            if (startsWith(buffer_, 0, kBom)) pos = kBom.size();
            bomChecked = true;
        }
        while (pos < buffer_.size() && isSpace(buffer_[pos])) ++pos;
        if (pos == buffer_.size()) {
            if (!readMore()) return false;
            continue;
        }
        if (buffer_[pos] != '<') return false;
        std::size_t end = kNpos;
        Markup kind = Markup::Other;
        if (startsWith(buffer_, pos, "<?")) {
            end = pastText(buffer_, pos + 2, "?>");
        } else if (startsWith(buffer_, pos, "<!--")) {
            end = pastText(buffer_, pos + 4, "-->");
        } else if (startsWith(buffer_, pos, "<!DOCTYPE")) {
            end = doctypeEnd(pos);
        } else if (pos + 1 < buffer_.size() && startsNameChar(buffer_[pos + 1])) {
            end = markupEnd(pos, kind);
        } else {
            return false;
        }
        if (end == kNpos) {
            if (!readMore()) return false;
            continue;
        }
        if (kind == Markup::Other) {
            pos = end;
            continue;
        }
        const std::size_t nameEnd = buffer_.find_first_of(" \t\r\n/>", pos + 1);
        prolog_.assign(buffer_, 0, pos);
        rootStartTag_.assign(buffer_, pos, end - pos);
        rootName_.assign(buffer_, pos + 1, nameEnd - pos - 1);
        rootEmpty_ = kind == Markup::EmptyTag;
        done_ = rootEmpty_;
        begin_ = end;
        scanned_ = end;
        return true;
    }
}

// The declared encoding must keep every markup character a byte of its own.
bool CScoreSplitter::knownEncoding() const {
    const std::size_t start = startsWith(prolog_, 0, kBom) ? kBom.size() : 0;
    if (!startsWith(prolog_, start, "<?xml")) return true;
    const std::size_t close = prolog_.find("?>", start);
    const std::size_t name = prolog_.find("encoding", start);
    if (name == kNpos || name > close) return true;
    const std::size_t open = prolog_.find_first_of("\"'", name);
    if (open == kNpos || open > close) return false;
    const std::size_t end = prolog_.find(prolog_[open], open + 1);
    if (end == kNpos || end > close) return false;
    std::string value = prolog_.substr(open + 1, end - open - 1);
    std::transform(value.begin(), value.end(), value.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    constexpr std::array<std::string_view, 4> kWhole = {"utf-8", "utf8", "us-ascii", "ascii"};
    constexpr std::array<std::string_view, 2> kFamilies = {"iso-8859-", "windows-125"};
    if (std::find(kWhole.begin(), kWhole.end(), value) != kWhole.end()) return true;
    return std::any_of(kFamilies.begin(), kFamilies.end(),
                       [&value](std::string_view family) { return value.starts_with(family); });
}

void CScoreSplitter::takePiece(Piece& piece, Piece::Kind kind, std::size_t end) {
    piece.kind = kind;
    piece.text.assign(buffer_, begin_, end - begin_);
    begin_ = end;
    scanned_ = end;
}

bool CScoreSplitter::next(Piece& piece) {
    if (done_) return false;
    for (;;) {
        const std::size_t open = buffer_.find('<', scanned_);
        Markup kind = Markup::Other;
        const std::size_t end = open == kNpos ? kNpos : markupEnd(open, kind);
        if (end == kNpos) {
            const std::size_t resume = open == kNpos ? buffer_.size() : open;
            scanned_ = resume;
            if (readMore()) continue;
            done_ = true;
            takePiece(piece, Piece::Kind::Broken, buffer_.size());
            return true;
        }
        scanned_ = end;
        if (kind == Markup::StartTag) {
            ++depth_;
        } else if (kind == Markup::EmptyTag && depth_ == 0) {
            takePiece(piece, Piece::Kind::Child, end);
            return true;
        } else if (kind == Markup::EndTag && depth_ == 0) {
            // The root's end: the rest of the file goes with it.
            while (readMore()) {
            }
            done_ = true;
            takePiece(piece, readFailed_ ? Piece::Kind::Broken : Piece::Kind::Tail, buffer_.size());
            return true;
        } else if (kind == Markup::EndTag && --depth_ == 0) {
            takePiece(piece, Piece::Kind::Child, end);
            return true;
        }
    }
}

}  // namespace scoreconv
