// A MusicXML file read one child of the root at a time: the parser holds the
// element it has just expanded and frees it when the stream moves on, so a
// large score never sits in memory as a whole document.
//
// The file is read in chunks, with the same options as every other document
// of the library (no network, no DTD, no entity substitution, blank text
// dropped) and the same size cap.
//
// Where the machine has cores to spare, the children are split from the text
// and parsed a few ahead on worker threads (score_splitter.h,
// parallel_pieces.h), which hands them out as the one reader would: the same
// elements, and the same failure at the same child. A file the splitter does
// not read safely goes to the one reader.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <any>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "scorecore/xml_dom.h"

namespace scoreconv {

class CParallelPieces;

class CScoreStream {
public:
    enum class Route {
        Parallel,  // worker threads where there are cores to spare
        Digested,  // the same with a few more workers, for a digest that
                   // takes a good part of the reading of each child
        Scan,      // the same for a caller that only glances at each child:
                   // a few more workers, and the notes in outline
                   // (outline_parse.h; the one reader, where it serves, gives
                   // them whole)
        Reader,    // one reader on the calling thread
    };

    CScoreStream();
    ~CScoreStream();
    CScoreStream(const CScoreStream&) = delete;
    CScoreStream& operator=(const CScoreStream&) = delete;

    // What a caller reads of each child besides walking it, done where the
    // child is parsed (on a worker thread, or on the calling thread for the
    // one reader); it may throw std::bad_alloc only.
    using Digest = std::function<std::any(const xmlNode* child)>;

    // Opens the file and reads up to its root element. False when the file
    // cannot be opened or its text fails before the root.
    bool open(const std::filesystem::path& source, Route route = Route::Parallel, Digest digest = {});
    // The root element's name; empty before open.
    std::string_view rootName() const { return rootName_; }

    // The next child element of the root, expanded with everything inside
    // it; valid until the next call. Null at the end of the root, or when the
    // text is not well-formed, unreadable or larger than the cap (failed()).
    const xmlNode* next();
    bool failed() const { return failed_; }
    // What the digest made of the child next() handed out last; empty
    // without a digest.
    const std::any& digest() const { return digest_; }

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
    bool openParallel(const std::filesystem::path& source, Route route);
    const xmlNode* nextPiece();

    std::unique_ptr<Source> source_;
    std::unique_ptr<xmlTextReader, ReaderFree> reader_;
    std::unique_ptr<CParallelPieces> pieces_;
    Digest digestOf_;
    std::any digest_;
    scorecore::XmlDocPtr held_;  // the document of the child handed out last
    std::string_view rootName_;
    std::string rootNameText_;
    bool started_ = false;  // the reader stands on a child of the root
    bool ended_ = false;
    bool failed_ = false;
};

}  // namespace scoreconv
