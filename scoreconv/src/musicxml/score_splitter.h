// The children of an XML document's root found in its text without parsing
// it, so that each can be parsed on its own (on several threads at once).
//
// Only the markup is scanned: comments, CDATA sections, processing
// instructions and quoted attribute values are stepped over whole, start and
// end tags counted. Whether the text is well-formed is left to the parser of
// each piece, which gets the document's prolog and the root's start tag in
// front of it, so that it reads the piece with the same declaration, the same
// document type (entities) and the same namespaces as a parse of the whole
// file would.
//
// The scan needs a text whose markup characters are single bytes: a file in
// UTF-16, in an encoding the splitter does not know, or whose prolog it
// cannot follow is refused on open, and the caller parses it in one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace scoreconv {

class CScoreSplitter {
public:
    struct Piece {
        enum class Kind {
            Child,   // what precedes a child of the root inside it, and the child
            Tail,    // the rest of the root, its end tag and whatever follows it
            Broken,  // the text breaks off before the root ends, or cannot be read
        };
        Kind kind = Kind::Broken;
        std::string text;
    };

    // Reads the file up to the end of the root's start tag. False when the
    // file cannot be opened, is larger than maxBytes, or its start is not
    // one the splitter reads safely.
    bool open(const std::filesystem::path& source, std::size_t maxBytes);

    // Everything before the root element, as it stands in the file.
    std::string_view prolog() const { return prolog_; }
    std::string_view rootStartTag() const { return rootStartTag_; }
    // The root's qualified name, and its local name.
    std::string_view rootName() const { return rootName_; }
    std::string_view rootLocalName() const;
    // The root is an empty-element tag: there is nothing in it.
    bool rootEmpty() const { return rootEmpty_; }

    // The next piece. After a Tail or a Broken piece every call answers
    // false.
    bool next(Piece& piece);

private:
    enum class Markup { StartTag, EmptyTag, EndTag, Other };

    bool readMore();
    // The end of the markup that starts with '<' at `at`, and its kind; npos
    // when the buffer ends inside it.
    std::size_t markupEnd(std::size_t at, Markup& kind) const;
    std::size_t doctypeEnd(std::size_t at) const;
    bool readProlog();
    bool knownEncoding() const;
    void takePiece(Piece& piece, Piece::Kind kind, std::size_t end);

    std::ifstream in_;
    std::size_t left_ = 0;  // bytes still allowed
    bool eof_ = false;
    bool readFailed_ = false;
    std::string buffer_;
    std::size_t begin_ = 0;    // where the piece being scanned starts in the buffer
    std::size_t scanned_ = 0;  // how far it is scanned
    int depth_ = 0;         // open elements inside the root
    bool done_ = false;
    std::string prolog_;
    std::string rootStartTag_;
    std::string rootName_;
    bool rootEmpty_ = false;
};

}  // namespace scoreconv
