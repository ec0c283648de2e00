// The XML layer of the score library: every XML read and write goes through these
// functions over libxml2. One factory creates documents (a new TvrXML skeleton, or the
// "start.xml" template), lookups find and count children by name, attribute lists
// (CAttrList) harvest an element's attributes and texts, and the append functions
// build elements with our own indentation text nodes.
//
// Documents being built keep white space exactly as appended: the layer writes (and
// takes back out) its own indentation, a line feed followed by one tab per depth.
// Documents loaded for reading drop whitespace-only text nodes. Nothing is ever
// loaded from the network, no DTD is read and no entity is substituted.
//
// Result codes: 0 success; 1 not found (lookups); -2 the attribute list could not
// grow; -6 a DOM call failed while reading; -1400 the document could not be created
// or loaded; -1402 a DOM call failed while writing.
#pragma once

#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scorecore/xml_text.h"

namespace scorecore {

inline constexpr int kXmlNotFound = 1;

// The TvrXML namespaces this system writes. Readers accept any host (see
// isTvrxmlNamespace), so files written with another host open too.
inline constexpr std::string_view kTvrxmlNamespace10 = "http://www.tavrena.com/TvrXML/1.0";
inline constexpr std::string_view kTvrxmlNamespace20 = "http://www.tavrena.com/TvrXML/2.0";

// Whether uri names the TvrXML namespace of format 1.0 or 2.0: its path ends in
// "/TvrXML/1.0" or "/TvrXML/2.0", compared without regard to case, whatever the host.
bool isTvrxmlNamespace(std::string_view uri);

// The declaration that xmldomCreateFile type 19 puts in front of a new document.
inline constexpr std::string_view kTvrxmlDeclaration =
    "version='1.0' encoding='ISO-8859-1' standalone='yes'";

// Document kinds of xmldomCreateFile.
inline constexpr int kXmlDocStartTemplate = 18;  // "start.xml" from the data folder
inline constexpr int kXmlDocNewTvrxml = 19;      // declaration + root "score"

// Indentation text nodes hold at most this many characters (line feed + tabs).
inline constexpr std::size_t kMaxIndentChars = 255;

// --- RAII handles for libxml2 objects ------------------------------------------------

struct XmlDocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// A node that is in no tree (taken out of one, or never put in).
struct XmlNodeFree {
    void operator()(xmlNodePtr node) const { xmlFreeNode(node); }
};
using XmlNodePtr = std::unique_ptr<xmlNode, XmlNodeFree>;

// A document together with the elements built for it but not attached yet.
//
// Writers create elements detached, keep plain pointers to them in their records
// and attach them later in any order (a voice to its staff, the staff to its system
// ...). Detached elements wait under a holder node that the document owns, so that
// every element is freed exactly once whatever was attached when the document goes:
// attaching moves an element out of the holder into its parent.
class XmlDocument {
public:
    XmlDocument() = default;
    explicit XmlDocument(XmlDocPtr doc) : doc_(std::move(doc)) {}
    ~XmlDocument();
    XmlDocument(XmlDocument&& other) noexcept;
    XmlDocument& operator=(XmlDocument&& other) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    xmlDocPtr get() const { return doc_.get(); }
    explicit operator bool() const { return doc_ != nullptr; }
    // The document element, or null.
    xmlNodePtr root() const;
    // Frees the document and every detached element.
    void reset();

    // Links a node that belongs to this document but to no tree under the holder,
    // so that it is freed with the document unless attached before. False when the
    // holder cannot be created.
    bool holdDetached(xmlNodePtr node);
    // Whether node waits under the holder (built but not attached).
    bool isDetached(const xmlNode* node) const;

private:
    void freeAll();

    XmlDocPtr doc_;
    xmlNodePtr holder_ = nullptr;  // owned; not linked into doc_'s tree
};

// --- attribute lists -----------------------------------------------------------------

// One row per attribute of an element: the element's name, the attribute's name and
// value, and the element's text (the attribute's value when the element has no
// text). An element without attributes gives one row with the attribute name
// kNoAttribute and the element's name as its value.
class CAttrList {
public:
    static constexpr std::string_view kNoAttribute = "nicht belegt";

    struct Row {
        std::string elementName;
        std::string attrName;
        std::string value;
        std::string text;
    };

    int count() const { return static_cast<int>(rows_.size()); }
    // Adds a row; false when memory runs out (the list is unchanged).
    bool append(std::string elementName, std::string attrName, std::string value,
                std::string text);
    // Frees every row.
    void clear() { rows_.clear(); }

    // The columns of row i; empty for a missing row.
    std::string_view elementName(int i) const;
    std::string_view attrName(int i) const;
    std::string_view value(int i) const;
    std::string_view text(int i) const;

    // Comparisons without regard to case; false for a missing row.
    bool attrNameIs(int i, std::string_view name) const;
    bool valueIs(int i, std::string_view text) const;
    bool elementNameIs(int i, std::string_view name) const;
    bool textIs(int i, std::string_view text) const;

    // Leading decimal number of the value or text, as atoi and atof read it;
    // 0 for a missing row or a text without a number. Integers saturate.
    int valueAsInt(int i) const;
    double valueAsFloat(int i) const;
    int textAsInt(int i) const;
    int elementTextLength(int i) const;

private:
    const Row* row(int i) const;

    std::vector<Row> rows_;
};

// --- names and texts -----------------------------------------------------------------

// The DOM name of a node: the qualified name of an element or attribute
// ("prefix:name"), "#text", "#cdata-section", "#comment", "#document" ...
std::string xmldomNodeName(const xmlNode* node);
// The text of a node: the concatenated text of every text and CDATA node below it
// (its value for an attribute or a text node). Entity references are not followed.
std::string xmldomNodeText(const xmlNode* node);
// The value of an element's attribute named name (qualified name, case-sensitive);
// nothing when absent.
std::optional<std::string> xmldomAttribute(const xmlNode* element, std::string_view name);

// --- documents -----------------------------------------------------------------------

// Creates a document into doc (replacing what it held) and hands out its root.
// path is not used. type 19: the declaration processing instruction
// (kTvrxmlDeclaration) and the root "score" in the TvrXML 1.0 namespace; type 18:
// "start.xml" from the data folder of the program (programFolder()/data), else from
// the current folder, with its document element as root; any other type: the root
// "score" without the declaration. 0, or -1400 with doc empty and root null.
int xmldomCreateFile(const std::filesystem::path& path, XmlDocument& doc, xmlNodePtr& root,
                     int type);

// Parses a document for reading (whitespace-only text nodes dropped). 0, -1400 when
// the text is not well-formed XML. The load from a file reads at most maxBytes and
// gives -1400 for a larger or unreadable file too.
inline constexpr std::size_t kMaxXmlBytes = 64u << 20;
int xmldomParseMemory(std::string_view bytes, XmlDocument& doc);
int xmldomLoadFile(const std::filesystem::path& path, XmlDocument& doc,
                   std::size_t maxBytes = kMaxXmlBytes);

// Serialises the document as it stands (no added formatting). A document whose
// first node is the processing instruction "xml" is written with exactly that
// declaration, else libxml2 writes one. Text is encoded as ISO-8859-1 when the
// declaration says so (characters outside Latin-1 as character references),
// otherwise UTF-8. 0, or -1402.
int xmldomSaveToString(const XmlDocument& doc, std::string& out);

// How xmldomSaveToString writes the document's characters outside ASCII (its
// declaration decides).
XmlCharset xmldomCharset(const XmlDocument& doc);

// Serialises single nodes of a document exactly as xmldomSaveToString writes
// them inside the whole document (same encoding, same escapes), so that a
// writer can put a large document together from pieces whose elements it has
// freed already.
class XmlNodeSaver {
public:
    explicit XmlNodeSaver(const XmlDocument& doc);
    ~XmlNodeSaver();
    XmlNodeSaver(const XmlNodeSaver&) = delete;
    XmlNodeSaver& operator=(const XmlNodeSaver&) = delete;

    // False when the saver could not be set up; every call then fails.
    bool valid() const { return ctx_ != nullptr; }
    // Appends the node with its subtree to out. False on failure (out may then
    // hold part of it).
    bool save(const xmlNode* node, std::string& out);
    // Appends an element's start tag with its attributes (not its children).
    bool saveStartTag(xmlNode* element, std::string& out);
    // Appends an element's end tag.
    static bool saveEndTag(const xmlNode* element, std::string& out);

private:
    struct Sink {
        std::string* text = nullptr;
        bool failed = false;
    };
    bool flushInto(std::string& out);

    xmlSaveCtxtPtr ctx_ = nullptr;
    const char* encoding_ = nullptr;
    Sink sink_;
};

// --- lookups -------------------------------------------------------------------------

// First child of node whose DOM name equals name (case-sensitive): 0 and the
// child, or 1 and null. -6 for a null node.
int xmldomGetChild(const xmlNode* node, std::string_view name, xmlNodePtr* child);
// The index-th (from 0) child with that name: 0 found, 1 not found, -6 null node.
int xmldomGetChildN(const xmlNode* node, std::string_view name, int index, xmlNodePtr* child);
// The n-th following sibling (n = 0: the node itself): 0, 1 when there are fewer
// siblings, -6 for a null node or a negative n.
int xmldomGetNextSibling(const xmlNode* node, int n, xmlNodePtr* out);
// Number of child nodes named name. 0, or -6 for a null node.
int xmldomCountChildren(const xmlNode* node, std::string_view name, int* count);

// --- attributes ----------------------------------------------------------------------

// Appends the rows of one element to list: the namespace declarations of the
// element first ("xmlns", "xmlns:p"), in the order written, then its attributes.
// 0; -6 for a node that is not an element; -2 when the list cannot grow.
int xmldomReadAttributes(const xmlNode* node, CAttrList& list);
// The same rows (the Windows signature carried a spare argument without use).
int xmldomGetAttributes(const xmlNode* node, CAttrList& list);
// xmldomReadAttributes over every child element of node in order (other child
// nodes, such as comments, are skipped); the first error ends it.
int xmldomGetChildAttributes(const xmlNode* node, CAttrList& list);

// --- building ------------------------------------------------------------------------

// Removes node's previous sibling from parent when it is a text node (the
// indentation in front of it): 0 removed, 1 nothing to remove, -6 bad arguments.
int xmldomRemoveTextBefore(xmlNodePtr node, xmlNodePtr parent);
// Removes node's last child when it is a text node: 0, 1, -6 as above.
int xmldomRemoveLastText(xmlNodePtr node);
// Removes child from its parent and frees it (with its subtree): 0, -6 when child is
// null or has no parent.
int xmldomRemoveChild(xmlNodePtr child);

// Appends to node the indentation for depth: a text node of a line feed and depth
// tabs (cut to kMaxIndentChars characters). 0 or -1402.
int xmldomAppendIndent(XmlDocument& doc, xmlNodePtr node, int depth);
// Attaches child (built for doc) as parent's last child, moving it out of the
// detached elements or out of another parent: with indentBefore the indentation
// for depth goes to parent first; with indentInside the indentation for depth is
// appended inside child afterwards, so that its closing tag starts a new line.
// Appending an element to the document node makes it the document element.
// 0 or -1402.
int xmldomAppendChild(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth,
                      bool indentInside, bool indentBefore);

struct XmlAttr {
    std::string name;
    std::string value;
};

// What xmldomAppendElement builds: an element name, its attributes in order, an
// optional text, and where it goes (appended to parent, or handed out detached).
//   xmldomAppendElement(XmlElementArgs(doc, staves, "staffLayout")
//                           .attr("description", "Stv1").depth(3).indent());
class XmlElementArgs {
public:
    XmlElementArgs(XmlDocument& doc, xmlNodePtr parent, std::string_view name)
        : doc_(&doc), parent_(parent), name_(name) {}

    XmlElementArgs& attr(std::string_view name, std::string value);
    XmlElementArgs& depth(int value) {
        depth_ = value;
        return *this;
    }
    XmlElementArgs& text(std::string_view value) {
        text_ = std::string(value);
        return *this;
    }
    // Hands the element out detached instead of appending it (parent is not used).
    XmlElementArgs& out(xmlNodePtr* element) {
        out_ = element;
        return *this;
    }
    // Puts the indentation for depth in front of the element (when appended).
    XmlElementArgs& indent(bool on = true) {
        indent_ = on;
        return *this;
    }

private:
    friend int xmldomAppendElement(const XmlElementArgs& args);

    XmlDocument* doc_;
    xmlNodePtr parent_;
    std::string name_;
    std::vector<XmlAttr> attrs_;
    int depth_ = 0;
    std::optional<std::string> text_;
    xmlNodePtr* out_ = nullptr;
    bool indent_ = false;
};

// Creates an element with its attributes and text. When out is given the element is
// handed out detached (held by the document until attached); otherwise it is
// appended to parent, after the indentation for depth when indent is set. Texts are
// UTF-8; bytes that are not, and characters XML cannot hold, become U+FFFD. An
// empty text adds no text node. 0 or -1402.
int xmldomAppendElement(const XmlElementArgs& args);

// Two ints as one record, for argument pairs.
struct ScPair {
    int a = 0;
    int b = 0;
};
ScPair* scInitPair(ScPair* pair, int a, int b);

}  // namespace scorecore
