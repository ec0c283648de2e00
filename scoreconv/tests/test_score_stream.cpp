// The children of a score's root read on worker threads must be what the one
// reader gives: the same elements in the same order, the same end, and the
// same failure at the same child - on markup that hides tags (comments, CDATA,
// quoted '>' in attributes, processing instructions), on entities of the
// document type, namespaces of the root, other encodings, and on every cut and
// damage of a small score. The Scan route gives the same children with their
// notes in outline.
#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/score_splitter.h"
#include "musicxml/score_stream.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/xml_dom.h"
#include "scoreconv_testing/score_generator.h"

namespace scoreconv {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

// What a stream hands out, each child as the text libxml2 writes for it.
struct Read {
    bool opened = false;
    std::string root;
    std::vector<std::string> children;
    bool failed = false;

    bool operator==(const Read&) const = default;
};

bool isBlank(const xmlNode* node) {
    if (node->type != XML_TEXT_NODE || node->content == nullptr) return false;
    return std::string_view(reinterpret_cast<const char*>(node->content)).find_first_not_of(" \t\r\n") ==
           std::string_view::npos;
}

// A child as the Scan route gives it, made from the whole one: below each
// note's children (but <unpitched>) nothing, and no blank text in them.
void putNotesInOutline(xmlNodePtr node) {
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (std::string_view(reinterpret_cast<const char*>(c->name)) != "note") {
            putNotesInOutline(c);
            continue;
        }
        for (xmlNodePtr own = c->children; own != nullptr; own = own->next) {
            if (own->type != XML_ELEMENT_NODE || std::string_view(reinterpret_cast<const char*>(own->name)) == "unpitched") {
                continue;
            }
            for (xmlNodePtr inside = own->children; inside != nullptr;) {
                xmlNodePtr next = inside->next;
                if (inside->type == XML_ELEMENT_NODE || isBlank(inside)) {
                    xmlUnlinkNode(inside);
                    xmlFreeNode(inside);
                }
                inside = next;
            }
        }
    }
}

// What a stream hands out, each child as the text libxml2 writes for it;
// outline: with the notes in outline (of a copy, for the one reader).
Read readAll(const fs::path& file, CScoreStream::Route route, bool outline = false) {
    CScoreStream stream;
    Read out;
    out.opened = stream.open(file, route);
    out.root = std::string(stream.rootName());
    if (!out.opened) return out;
    while (const xmlNode* child = stream.next()) {
        const scorecore::XmlDocPtr copy(xmlCopyDoc(child->doc, 1));
        xmlNodePtr own = xmlDocCopyNode(const_cast<xmlNodePtr>(child), copy.get(), 1);
        xmlAddChild(xmlDocGetRootElement(copy.get()), own);
        if (outline) putNotesInOutline(own);
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlNodeDump(buffer, copy.get(), own, 0, 0);
        out.children.emplace_back(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
        xmlBufferFree(buffer);
    }
    out.failed = stream.failed();
    return out;
}

// The one reader parses ahead of what it hands out: an error far enough
// ahead fails its open, or the child it stands on, already. A file it fails
// on must fail here too, after the children the reader gave at least.
void expectSameRead(const fs::path& file, CScoreStream::Route route) {
    const bool outline = route == CScoreStream::Route::Scan;
    const Read reader = readAll(file, CScoreStream::Route::Reader, outline);
    const Read parallel = readAll(file, route, outline);
    if (!reader.opened) {
        EXPECT_TRUE(!parallel.opened || parallel.failed);
        return;
    }
    ASSERT_TRUE(parallel.opened);
    EXPECT_EQ(parallel.root, reader.root);
    EXPECT_EQ(parallel.failed, reader.failed);
    if (!reader.failed) {
        EXPECT_EQ(parallel.children, reader.children);
        return;
    }
    ASSERT_GE(parallel.children.size(), reader.children.size());
    for (std::size_t i = 0; i < reader.children.size(); ++i) EXPECT_EQ(parallel.children[i], reader.children[i]) << i;
}

// Both routes over worker threads, the second with the notes in outline.
void expectSameRead(const fs::path& file) {
    for (const CScoreStream::Route route : {CScoreStream::Route::Parallel, CScoreStream::Route::Scan}) {
        SCOPED_TRACE(route == CScoreStream::Route::Scan ? "scan" : "parallel");
        expectSameRead(file, route);
    }
}

const std::string kPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
    "\"http://www.musicxml.org/dtds/partwise.dtd\">\n";

std::string part(const std::string& id, const std::string& inside = "") {
    return "<part id=\"" + id + "\"><measure number=\"1\"><note><pitch><step>C</step><octave>4</octave></pitch>"
           "<duration>4</duration></note>" + inside + "</measure></part>\n";
}

const std::string kSmall = kPrologue + "<score-partwise version=\"3.1\">\n<work><work-title>T</work-title></work>\n"
                           "<part-list><score-part id=\"P1\"><part-name>A</part-name></score-part>"
                           "<score-part id=\"P2\"><part-name>B</part-name></score-part></part-list>\n" +
                           part("P1") + part("P2") + "</score-partwise>\n";

TEST(ScoreStreamThreads, HandsOutWhatTheOneReaderHandsOut) {
    TempFolder temp;
    struct Case {
        const char* name;
        std::string text;
    };
    const std::string open = kPrologue + "<score-partwise version=\"3.1\">";
    const Case cases[] = {
        {"a small score", kSmall},
        {"comments with tags, at the root and in a part",
         open + "<!-- <part id=\"X\"> -->" + part("P1", "<!-- </part> <measure> -->") + "<!----></score-partwise>"},
        {"CDATA with an end tag", open + part("P1", "<direction><words><![CDATA[</part>]]></words></direction>") +
                                      "</score-partwise>"},
        {"quoted > and / in attributes",
         open + part("P1", "<direction><words font-family=\"a>b/\" x='q\"/>'>w</words></direction>") +
             "<credit page=\"1/>\"/></score-partwise>"},
        {"processing instructions", open + "<?pi <part> ?>" + part("P1", "<?x </measure>?>") + "</score-partwise><?end?>"},
        {"an entity of the internal subset",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [\n<!ENTITY who \"A &amp; B\">\n<!-- ] > -->\n"
         "<!ATTLIST part q CDATA \"]>\">\n]>\n<score-partwise>" +
             part("P1", "<direction><words>&who;</words></direction>") + "</score-partwise>"},
        {"markup of every kind inside notes, kept and dropped by the outline",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE score-partwise [\n<!ENTITY who \"A <b>B</b>\">\n]>\n<score-partwise>"
         "<part id=\"P1\"><measure number=\"1\"><note><pitch><step>C</step><!-- c --><octave>4</octave></pitch>"
         "<voice>1<!-- v --></voice><notations><?pi x?><other-notation>&who;<![CDATA[<x>]]></other-notation>"
         "</notations><unpitched><display-step>E</display-step><!-- u --></unpitched>"
         "<lyric number=\"2\"><text>&who;</text></lyric></note>"
         "<direction><direction-type><words>&who;</words></direction-type></direction></measure></part>"
         "</score-partwise>"},
        {"an undeclared entity beside an external DTD", open + part("P1", "<lyric><text>&nbsp;</text></lyric>") +
                                                             "</score-partwise>"},
        {"an undeclared entity without a DTD",
         "<score-partwise>" + part("P1", "<lyric><text>&nbsp;</text></lyric>") + "</score-partwise>"},
        {"namespaces of the root", "<s:score-partwise xmlns:s=\"urn:s\" xmlns=\"urn:d\"><s:work/>" + part("P1") +
                                       "</s:score-partwise>"},
        {"Latin-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><score-partwise><work><work-title>Caf\xE9"
                    "</work-title></work></score-partwise>"},
        {"UTF-16", std::string("\xFF\xFE<\0s\0/\0>\0", 10)},
        {"a BOM and blanks", "\xEF\xBB\xBF \n" + kSmall},
        {"an empty root", kPrologue + "<score-partwise version=\"3.1\"/>"},
        {"empty children and text at the root", open + "text &amp; more<defaults/>" + part("P1") + "<credit/></score-partwise>"},
        {"an end tag that does not match", open + part("P1") + "<part id=\"P2\"><measure></mesure></part>" + part("P3") +
                                              "</score-partwise>"},
        {"the root ends under another name", open + part("P1") + "</score-timewise>"},
        {"text after the root", kSmall + "<extra/>"},
        {"no root end", open + part("P1") + part("P2")},
        {"cut in a comment", open + part("P1") + "<!-- <part"},
        {"a broken declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"\n<score-partwise/>"},
        {"not XML", "score-partwise"},
        {"an empty file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = temp.path() / "score.xml";
        writeBytes(file, c.text);
        expectSameRead(file);
    }
}

TEST(ScoreStreamThreads, EveryCutAndDamageOfASmallScoreReadsAsWithTheOneReader) {
    TempFolder temp;
    const fs::path file = temp.path() / "score.xml";
    for (std::size_t length = 0; length <= kSmall.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        writeBytes(file, kSmall.substr(0, length));
        expectSameRead(file);
    }
    // Each markup character taken away or doubled.
    for (std::size_t at = 0; at < kSmall.size(); ++at) {
        const char c = kSmall[at];
        if (c != '<' && c != '>' && c != '"' && c != '/' && c != '!' && c != '-') continue;
        SCOPED_TRACE("damage at " + std::to_string(at));
        std::string damaged = kSmall;
        damaged[at] = ' ';
        writeBytes(file, damaged);
        expectSameRead(file);
        writeBytes(file, kSmall.substr(0, at) + c + kSmall.substr(at));
        expectSameRead(file);
    }
}

TEST(ScoreStreamThreads, AGeneratedOrchestralScoreReadsAsWithTheOneReader) {
    TempFolder temp;
    const fs::path file = temp.path() / "orchestra.xml";
    testing::writeOrchestralScore(file, {8, 2});
    expectSameRead(file);
    // Parts longer than the text the workers may hold ahead: one at a time.
    std::string notes;
    for (int i = 0; i < 24000; ++i) notes += "<note><pitch><step>D</step><octave>5</octave></pitch><duration>1</duration></note>";
    writeBytes(file, kPrologue + "<score-partwise version=\"3.1\"><part-list/>\n" + part("P1", notes) + part("P2") +
                         part("P3", notes) + "</score-partwise>\n");
    expectSameRead(file);
}

// The pieces, put back together behind the prolog and the root's start tag,
// are the file; a file that breaks off ends in a Broken piece.
TEST(ScoreSplitter, PiecesPutTogetherAreTheFile) {
    TempFolder temp;
    const fs::path file = temp.path() / "orchestra.xml";
    testing::writeOrchestralScore(file, {4, 1});
    const std::string text = readBytes(file);
    for (const bool cut : {false, true}) {
        SCOPED_TRACE(cut ? "cut" : "whole");
        const std::string bytes = cut ? text.substr(0, text.size() / 2) : text;
        writeBytes(file, bytes);
        CScoreSplitter splitter;
        ASSERT_TRUE(splitter.open(file, scorecore::kMaxXmlBytes));
        EXPECT_EQ(splitter.rootLocalName(), "score-partwise");
        std::string joined(splitter.prolog());
        joined += splitter.rootStartTag();
        CScoreSplitter::Piece piece;
        std::vector<CScoreSplitter::Piece::Kind> kinds;
        while (splitter.next(piece)) {
            joined += piece.text;
            kinds.push_back(piece.kind);
        }
        EXPECT_EQ(joined, bytes);
        ASSERT_GT(kinds.size(), cut ? 2u : 36u);
        EXPECT_EQ(kinds.back(), cut ? CScoreSplitter::Piece::Kind::Broken : CScoreSplitter::Piece::Kind::Tail);
        kinds.pop_back();
        for (const auto kind : kinds) EXPECT_EQ(kind, CScoreSplitter::Piece::Kind::Child);
    }
}

TEST(ScoreSplitter, RefusesWhatItCannotScanSafely) {
    TempFolder temp;
    const fs::path file = temp.path() / "score.xml";
    struct Case {
        const char* name;
        std::string text;
        std::size_t cap;
    };
    const Case cases[] = {
        {"UTF-16 with a BOM", std::string("\xFF\xFE<\0s\0/\0>\0", 10), 1000},
        {"UTF-16 without a BOM", std::string("<\0?\0x\0m\0l\0", 10), 1000},
        {"a multi-byte encoding", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><s/>", 1000},
        {"larger than the cap", "<s></s>", 6},
        {"text before the root", "x<s/>", 1000},
        {"no root", "<?xml version=\"1.0\"?><!-- -->", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(file, c.text);
        CScoreSplitter splitter;
        EXPECT_FALSE(splitter.open(file, c.cap));
    }
    EXPECT_FALSE(CScoreSplitter().open(temp.path() / "missing.xml", 1000));
}

}  // namespace
}  // namespace scoreconv
