// A MusicXML file read one child of the root at a time: the parser holds the
// element it has just expanded and frees it when the stream moves on, so a
// large score never sits in memory as a whole document.
//
// The file is read in chunks, with the same options as every other document
// of the library (no network, no DTD, no entity substitution, blank text
// dropped) and the same size cap.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace scoreconv {

class CScoreStream {
public:
    CScoreStream() = default;
    ~CScoreStream();
    CScoreStream(const CScoreStream&) = delete;
    CScoreStream& operator=(const CScoreStream&) = delete;

    // Opens the file and reads up to its root element. False when the file
    // cannot be opened or its text fails before the root.
    bool open(const std::filesystem::path& source);
    // The root element's name; empty before open.
    std::string_view rootName() const { return rootName_; }

    // The next child element of the root, expanded with everything inside
    // it; valid until the next call. Null at the end of the root, or when the
    // text is not well-formed, unreadable or larger than the cap (failed()).
    const xmlNode* next();
    bool failed() const { return failed_; }

private:
    struct Source {
        std::ifstream in;
        std::size_t left = 0;
        bool failed = false;
    };
    struct ReaderFree {
        void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
    };

    static int readChunk(void* context, char* buffer, int length);
    bool fail();

    std::unique_ptr<Source> source_;
    std::unique_ptr<xmlTextReader, ReaderFree> reader_;
    std::string_view rootName_;
    std::string rootNameText_;
    bool started_ = false;  // the reader stands on a child of the root
    bool ended_ = false;
    bool failed_ = false;
};

}  // namespace scoreconv
