// The pieces of a split score parsed on worker threads and handed out in the
// order of the file. Only a few pieces are ahead of the one the caller holds
// (the window), and no more of them than a few megabytes of text, so that
// the documents in memory stay a few parts' worth, however long the parts.
//
// Each piece is parsed as a document of its own: the prolog and the root's
// start tag of the file, the piece, and the root's end tag (a Tail piece
// brings its own), with the options of every other document of the library.
#pragma once

#include <libxml/tree.h>

#include <any>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "musicxml/score_splitter.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

class CParallelPieces {
public:
    struct Parsed {
        enum class State {
            Pending,
            Child,        // doc's root holds the child
            End,          // the root ended and the rest of the file is well-formed
            Failed,       // the text is not well-formed, breaks off or cannot be read
        };
        State state = State::Pending;
        scorecore::XmlDocPtr doc;
        std::any digest;  // what the digest made of the child
        std::size_t textBytes = 0;  // the piece's length in the file
    };
    // What a worker reads of a child it parsed, on its own thread, before the
    // child is handed out; it may throw std::bad_alloc only.
    using Digest = std::function<std::any(const xmlNode* child)>;

    // Starts the workers. Throws std::system_error when a thread cannot be
    // started (nothing is left running then).
    // notesInOutline: the pieces are parsed with their notes in outline
    // (outline_parse.h), for a caller that reads a note's own children only.
    CParallelPieces(std::unique_ptr<CScoreSplitter> splitter, int workers, int window, Digest digest = {},
                    bool notesInOutline = false);
    ~CParallelPieces();
    CParallelPieces(const CParallelPieces&) = delete;
    CParallelPieces& operator=(const CParallelPieces&) = delete;

    // The next piece of the file, once parsed. After End or Failed there is
    // nothing more.
    Parsed take();
    // A document take() handed out, freed by the worker that parsed it:
    // freeing is as much work as a good part of the walk, and the worker's
    // own heap gets back what it gave. A worker parses its next piece only
    // once its last document is freed, so that each worker's heap holds one
    // document at a time.
    void giveBack(scorecore::XmlDocPtr doc);
    // The child a Child piece holds; null for any other.
    static const xmlNode* child(const Parsed& parsed);

private:
    void work(std::size_t worker);
    // Takes the next piece of the file for a worker; called with the lock held.
    bool claim(CScoreSplitter::Piece& piece, std::uint64_t& number);
    void stop();
    // text: the worker's buffer for the document's text, kept from piece to
    // piece so that its memory is not taken and given back for each.
    Parsed parse(const CScoreSplitter::Piece& piece, std::string& text) const;

    std::unique_ptr<CScoreSplitter> splitter_;
    Digest digest_;
    bool notesInOutline_ = false;
    std::string before_;  // the prolog and the root's start tag
    std::string after_;   // the root's end tag
    const std::uint64_t window_;
    std::mutex mutex_;
    std::condition_variable wanted_;  // workers: a piece may be claimed, or stop
    std::condition_variable ready_;   // the caller: a piece is parsed
    std::deque<Parsed> parsed_;       // from the next piece to hand out on
    std::vector<scorecore::XmlDocPtr> spent_;  // given back, of no worker's, to be freed
    std::vector<const xmlDoc*> outstanding_;   // per worker: its last document, not freed yet
    std::vector<scorecore::XmlDocPtr> returned_;  // per worker: its last document, given back
    std::uint64_t claimed_ = 0;
    std::uint64_t taken_ = 0;
    std::size_t bytesAhead_ = 0;  // text of the pieces claimed and not taken
    bool split_ = false;     // the splitter gave its last piece, or failed
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace scoreconv
