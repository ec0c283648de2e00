#include "scorecore/xml_dom.h"

#include "platform/files.h"
#include "platform/text.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_text.h"
#include "start_template.h"

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

namespace scorecore {

namespace {

const xmlChar* xc(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}
const char* cc(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

// libxml2 wants its globals set up once before threads use it.
void initLibxml() {
    static const bool done = [] {
        xmlInitParser();
        return true;
    }();
    (void)done;
}

// Reading never touches the network, never loads a DTD and never substitutes
// entities; blank text between elements is dropped as the reader expects.
constexpr int kReadOptions =
    XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// Templates that are built upon keep their white space.
constexpr int kTemplateOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// Links child as parent's last child without merging adjacent text nodes, as a DOM
// appendChild does: our indentation nodes must stay separate nodes so that they
// can be taken out again one by one.
void linkLast(xmlNodePtr parent, xmlNodePtr child) {
    child->parent = parent;
    child->prev = parent->last;
    child->next = nullptr;
    if (parent->last != nullptr) {
        parent->last->next = child;
    } else {
        parent->children = child;
    }
    parent->last = child;
}

bool nameEquals(const xmlNode* node, std::string_view name) {
    if (node->type == XML_ELEMENT_NODE && (node->ns == nullptr || node->ns->prefix == nullptr)) {
        return node->name != nullptr && std::string_view(cc(node->name)) == name;
    }
    return xmldomNodeName(node) == name;
}

std::string_view leadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    return text.substr(i);
}

int parseIntLikeAtoi(std::string_view text) {
    text = leadingNumber(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) break;
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

double parseFloatLikeAtof(std::string_view text) {
    text = leadingNumber(text);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc()) return 0.0;
    return std::isfinite(value) ? value : 0.0;
}

// The whole stream into bytes; false when it holds more than maxBytes or a read fails.
bool readCapped(std::istream& in, std::size_t maxBytes, std::string& bytes) {
    char chunk[65536];
    while (in) {
        in.read(chunk, sizeof chunk);
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > maxBytes) return false;
    }
    return !in.bad();
}

int parseStartTemplate(std::string_view bytes, XmlDocument& doc) {
    xmlDocPtr parsed = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                     kTemplateOptions);
    if (parsed == nullptr) return kErrXmlDocument;
    doc = XmlDocument(XmlDocPtr(parsed));
    return doc.root() != nullptr ? kOk : kErrXmlDocument;
}

// A template file found is used as it is (a damaged one is an error, not a
// reason to fall back); without one the built-in copy of data/start.xml
// serves, so that a host anywhere can write MusicXML.
int loadStartTemplate(XmlDocument& doc) {
    const std::filesystem::path candidates[] = {
        platform::programFolder() / "data" / "start.xml",
        std::filesystem::path("start.xml"),
    };
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) continue;
        std::ifstream in(candidate, std::ios::binary);
        if (!in) continue;
        std::string bytes;
        if (!readCapped(in, kMaxXmlBytes, bytes)) return kErrXmlDocument;
        return parseStartTemplate(bytes, doc);
    }
    return parseStartTemplate(kBuiltInStartTemplate, doc);
}

int buildTvrxmlSkeleton(XmlDocument& doc, bool withDeclaration) {
    xmlDocPtr raw = doc.get();
    if (withDeclaration) {
        xmlNodePtr pi = xmlNewDocPI(raw, xc("xml"), xc(std::string(kTvrxmlDeclaration).c_str()));
        if (pi == nullptr) return kErrXmlDocument;
        linkLast(reinterpret_cast<xmlNodePtr>(raw), pi);
    }
    xmlNodePtr root = xmlNewDocNode(raw, nullptr, xc("score"), nullptr);
    if (root == nullptr) return kErrXmlDocument;
    linkLast(reinterpret_cast<xmlNodePtr>(raw), root);
    xmlNsPtr ns = xmlNewNs(root, xc(std::string(kTvrxmlNamespace10).c_str()), nullptr);
    if (ns == nullptr) return kErrXmlDocument;
    xmlSetNs(root, ns);
    return kOk;
}

}  // namespace

bool isTvrxmlNamespace(std::string_view uri) {
    // Only the path is fixed; the host is whatever the writing system chose.
    for (std::string_view tail : {"/TvrXML/1.0", "/TvrXML/2.0"}) {
        if (uri.size() < tail.size()) continue;
        if (platform::toLowerAscii(uri.substr(uri.size() - tail.size())) ==
            platform::toLowerAscii(tail)) {
            return true;
        }
    }
    return false;
}

// --- XmlDocument ---------------------------------------------------------------------

XmlDocument::~XmlDocument() {
    freeAll();
}

XmlDocument::XmlDocument(XmlDocument&& other) noexcept
    : doc_(std::move(other.doc_)), holder_(std::exchange(other.holder_, nullptr)) {}

XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
    if (this != &other) {
        freeAll();
        doc_ = std::move(other.doc_);
        holder_ = std::exchange(other.holder_, nullptr);
    }
    return *this;
}

xmlNodePtr XmlDocument::root() const {
    return doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr;
}

void XmlDocument::reset() {
    freeAll();
}

void XmlDocument::freeAll() {
    // The holder's names may live in the document's dictionary: free it first.
    if (holder_ != nullptr) {
        xmlFreeNode(holder_);
        holder_ = nullptr;
    }
    doc_.reset();
}

bool XmlDocument::holdDetached(xmlNodePtr node) {
    if (!doc_ || node == nullptr || node->doc != doc_.get() || node->parent != nullptr) {
        return false;
    }
    if (holder_ == nullptr) {
        holder_ = xmlNewDocNode(doc_.get(), nullptr, xc("detached"), nullptr);
        if (holder_ == nullptr) return false;
    }
    linkLast(holder_, node);
    return true;
}

bool XmlDocument::isDetached(const xmlNode* node) const {
    return node != nullptr && holder_ != nullptr && node->parent == holder_;
}

// --- CAttrList -----------------------------------------------------------------------

bool CAttrList::append(std::string elementName, std::string attrName, std::string value,
                       std::string text) {
    try {
        rows_.push_back(
            Row{std::move(elementName), std::move(attrName), std::move(value), std::move(text)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

const CAttrList::Row* CAttrList::row(int i) const {
    if (i < 0 || i >= count()) return nullptr;
    return &rows_[static_cast<std::size_t>(i)];
}

std::string_view CAttrList::elementName(int i) const {
    const Row* r = row(i);
    return r ? std::string_view(r->elementName) : std::string_view();
}
std::string_view CAttrList::attrName(int i) const {
    const Row* r = row(i);
    return r ? std::string_view(r->attrName) : std::string_view();
}
std::string_view CAttrList::value(int i) const {
    const Row* r = row(i);
    return r ? std::string_view(r->value) : std::string_view();
}
std::string_view CAttrList::text(int i) const {
    const Row* r = row(i);
    return r ? std::string_view(r->text) : std::string_view();
}

bool CAttrList::attrNameIs(int i, std::string_view name) const {
    const Row* r = row(i);
    return r && platform::equalsNoCase(r->attrName, name);
}
bool CAttrList::valueIs(int i, std::string_view text) const {
    const Row* r = row(i);
    return r && platform::equalsNoCase(r->value, text);
}
bool CAttrList::elementNameIs(int i, std::string_view name) const {
    const Row* r = row(i);
    return r && platform::equalsNoCase(r->elementName, name);
}
bool CAttrList::textIs(int i, std::string_view text) const {
    const Row* r = row(i);
    return r && platform::equalsNoCase(r->text, text);
}

int CAttrList::valueAsInt(int i) const {
    return parseIntLikeAtoi(value(i));
}
double CAttrList::valueAsFloat(int i) const {
    return parseFloatLikeAtof(value(i));
}
int CAttrList::textAsInt(int i) const {
    return parseIntLikeAtoi(text(i));
}
int CAttrList::elementTextLength(int i) const {
    return static_cast<int>(text(i).size());
}

// --- names and texts -----------------------------------------------------------------

std::string xmldomNodeName(const xmlNode* node) {
    if (node == nullptr) return {};
    switch (node->type) {
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE:
            return "#document";
        case XML_DOCUMENT_FRAG_NODE:
            return "#document-fragment";
        default:
            break;
    }
    std::string name = node->name ? cc(node->name) : "";
    if ((node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE) &&
        node->ns != nullptr && node->ns->prefix != nullptr) {
        name = std::string(cc(node->ns->prefix)) + ":" + name;
    }
    return name;
}

std::string xmldomNodeText(const xmlNode* node) {
    if (node == nullptr) return {};
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
        node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE) {
        return node->content ? cc(node->content) : "";
    }
    // Most elements a reader asks hold one text and nothing else.
    const xmlNode* only = node->children;
    if (only != nullptr && only->next == nullptr && only->children == nullptr &&
        (only->type == XML_TEXT_NODE || only->type == XML_CDATA_SECTION_NODE)) {
        return only->content != nullptr ? cc(only->content) : "";
    }
    // Depth-first over the subtree without recursion; entity references are
    // skipped so that a hostile document cannot make one text expand without end.
    std::string text;
    const xmlNode* cur = node->children;
    while (cur != nullptr) {
        if ((cur->type == XML_TEXT_NODE || cur->type == XML_CDATA_SECTION_NODE) &&
            cur->content != nullptr) {
            text += cc(cur->content);
        }
        if (cur->type == XML_ELEMENT_NODE && cur->children != nullptr) {
            cur = cur->children;
            continue;
        }
        while (cur != nullptr && cur->next == nullptr) {
            cur = cur->parent;
            if (cur == node) return text;
        }
        if (cur != nullptr) cur = cur->next;
    }
    return text;
}

namespace {

// Whether an attribute's qualified name ("prefix:name") is name, without
// putting it together.
bool attributeNamed(const xmlAttr* attr, std::string_view name) {
    const std::string_view local = attr->name != nullptr ? cc(attr->name) : "";
    if (attr->ns == nullptr || attr->ns->prefix == nullptr) return local == name;
    const std::string_view prefix = cc(attr->ns->prefix);
    return name.size() == prefix.size() + 1 + local.size() && name.starts_with(prefix) && name[prefix.size()] == ':' &&
           name.ends_with(local);
}

}  // namespace

std::optional<std::string> xmldomAttribute(const xmlNode* element, std::string_view name) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE) return std::nullopt;
    for (const xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        if (attributeNamed(attr, name)) return xmldomNodeText(reinterpret_cast<const xmlNode*>(attr));
    }
    return std::nullopt;
}

// --- documents -----------------------------------------------------------------------

int xmldomCreateFile(const std::filesystem::path& /*path*/, XmlDocument& doc, xmlNodePtr& root,
                     int type) {
    initLibxml();
    doc.reset();
    root = nullptr;
    int rc = kOk;
    if (type == kXmlDocStartTemplate) {
        rc = loadStartTemplate(doc);
    } else {
        xmlDocPtr raw = xmlNewDoc(xc("1.0"));
        if (raw == nullptr) return kErrDom;
        doc = XmlDocument(XmlDocPtr(raw));
        rc = buildTvrxmlSkeleton(doc, type == kXmlDocNewTvrxml);
    }
    if (rc != kOk) {
        doc.reset();
        return kErrXmlDocument;
    }
    root = doc.root();
    return kOk;
}

int xmldomParseMemory(std::string_view bytes, XmlDocument& doc) {
    initLibxml();
    doc.reset();
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return kErrXmlDocument;
    }
    xmlDocPtr parsed =
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, kReadOptions);
    if (parsed == nullptr) return kErrXmlDocument;
    doc = XmlDocument(XmlDocPtr(parsed));
    return kOk;
}

int xmldomLoadFile(const std::filesystem::path& path, XmlDocument& doc, std::size_t maxBytes) {
    initLibxml();
    doc.reset();
    std::ifstream in(path, std::ios::binary);
    if (!in) return kErrXmlDocument;
    // The parser reads the file in chunks: the document is never held twice,
    // once as text and once as a tree. Past the cap the read fails.
    struct Source {
        std::ifstream* in;
        std::size_t left;
        bool failed = false;
    } source{&in, maxBytes};
    const auto read = [](void* context, char* buffer, int length) -> int {
        auto* src = static_cast<Source*>(context);
        if (length <= 0) return 0;
        src->in->read(buffer, length);
        const auto got = static_cast<std::size_t>(src->in->gcount());
        if (src->in->bad() || got > src->left) {
            src->failed = true;
            return -1;
        }
        src->left -= got;
        return static_cast<int>(got);
    };
    xmlDocPtr parsed = xmlReadIO(read, nullptr, &source, nullptr, nullptr, kReadOptions);
    if (parsed == nullptr || source.failed) {
        if (parsed != nullptr) xmlFreeDoc(parsed);
        return kErrXmlDocument;
    }
    doc = XmlDocument(XmlDocPtr(parsed));
    return kOk;
}

namespace {

// How a document is saved: the encoding its own declaration names, and
// whether that declaration is its first node (libxml2 then writes none).
struct SaveForm {
    const char* encoding = nullptr;
    int options = 0;
};

SaveForm saveFormOf(const XmlDocument& doc) {
    const xmlNode* first = doc.get()->children;
    const bool ownDeclaration = first != nullptr && first->type == XML_PI_NODE &&
                                first->name != nullptr &&
                                std::string_view(cc(first->name)) == "xml";
    SaveForm form;
    if (ownDeclaration && first->content != nullptr &&
        platform::toLowerAscii(cc(first->content)).find("iso-8859-1") != std::string::npos) {
        form.encoding = "ISO-8859-1";
    }
    form.options = ownDeclaration ? XML_SAVE_NO_DECL : 0;
    return form;
}

struct SaveSink {
    std::string* text = nullptr;
    bool failed = false;
};

int appendToSink(void* context, const char* bytes, int length) {
    auto* target = static_cast<SaveSink*>(context);
    if (target->text == nullptr) {
        target->failed = true;
        return -1;
    }
    try {
        target->text->append(bytes, static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        target->failed = true;
        return -1;
    }
    return length;
}

}  // namespace

XmlCharset xmldomCharset(const XmlDocument& doc) {
    return doc && saveFormOf(doc).encoding != nullptr ? XmlCharset::Latin1 : XmlCharset::Ascii;
}

int xmldomSaveToString(const XmlDocument& doc, std::string& out) {
    out.clear();
    if (!doc) return kErrXmlElement;
    const SaveForm form = saveFormOf(doc);
    // The saver writes straight into `out`, which grows geometrically; a
    // libxml2 buffer may grow by exact steps and would be copied once more.
    SaveSink sink{&out};
    xmlSaveCtxtPtr ctx = xmlSaveToIO(appendToSink, nullptr, &sink, form.encoding, form.options);
    if (ctx == nullptr) return kErrXmlElement;
    const long written = xmlSaveDoc(ctx, doc.get());
    const int closed = xmlSaveClose(ctx);
    if (written < 0 || closed < 0 || sink.failed) {
        out.clear();
        return kErrXmlElement;
    }
    return kOk;
}

XmlNodeSaver::XmlNodeSaver(const XmlDocument& doc) {
    if (!doc) return;
    const SaveForm form = saveFormOf(doc);
    encoding_ = form.encoding;
    // The sink's text is set per call; the context only ever writes into it.
    ctx_ = xmlSaveToIO(
        [](void* context, const char* bytes, int length) {
            auto* sink = static_cast<Sink*>(context);
            SaveSink target{sink->text, false};
            const int rc = appendToSink(&target, bytes, length);
            sink->failed = sink->failed || target.failed;
            return rc;
        },
        nullptr, &sink_, form.encoding, form.options);
}

XmlNodeSaver::~XmlNodeSaver() {
    if (ctx_ == nullptr) return;
    // Every call flushed its text already; whatever closing writes goes nowhere.
    std::string rest;
    sink_.text = &rest;
    xmlSaveClose(ctx_);
}

bool XmlNodeSaver::flushInto(std::string& out) {
    sink_.text = &out;
    const bool flushed = xmlSaveFlush(ctx_) >= 0;
    sink_.text = nullptr;
    const bool ok = flushed && !sink_.failed;
    sink_.failed = false;
    return ok;
}

bool XmlNodeSaver::save(const xmlNode* node, std::string& out) {
    if (ctx_ == nullptr || node == nullptr) return false;
    // Written through the context's own buffer; flushed into out at once, so
    // nothing of one call is left over for the next.
    // A whole-document save names its encoding in the document while it
    // writes, and attribute values escape by it (characters the encoding
    // lacks become decimal references then, hexadecimal ones otherwise).
    xmlDocPtr doc = node->doc;
    const xmlChar* encoding = doc != nullptr ? doc->encoding : nullptr;
    if (doc != nullptr && encoding_ != nullptr) doc->encoding = xc(encoding_);
    sink_.text = &out;
    const bool saved = xmlSaveTree(ctx_, const_cast<xmlNodePtr>(node)) >= 0;
    if (doc != nullptr) doc->encoding = encoding;
    return flushInto(out) && saved;
}

bool XmlNodeSaver::saveStartTag(xmlNode* element, std::string& out) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE) return false;
    // Without its children the element is written as an empty one, "<name .../>":
    // its start tag is that text with ">" for "/>".
    xmlNodePtr children = element->children;
    xmlNodePtr last = element->last;
    element->children = nullptr;
    element->last = nullptr;
    const std::size_t before = out.size();
    const bool saved = save(element, out);
    element->children = children;
    element->last = last;
    if (!saved || out.size() < before + 2 || out.compare(out.size() - 2, 2, "/>") != 0) return false;
    out.erase(out.size() - 2);
    out += '>';
    return true;
}

bool XmlNodeSaver::saveEndTag(const xmlNode* element, std::string& out) {
    if (element == nullptr || element->type != XML_ELEMENT_NODE || element->name == nullptr) return false;
    try {
        out += "</";
        if (element->ns != nullptr && element->ns->prefix != nullptr) {
            out += cc(element->ns->prefix);
            out += ':';
        }
        out += cc(element->name);
        out += '>';
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// --- lookups -------------------------------------------------------------------------

int xmldomGetChild(const xmlNode* node, std::string_view name, xmlNodePtr* child) {
    return xmldomGetChildN(node, name, 0, child);
}

int xmldomGetChildN(const xmlNode* node, std::string_view name, int index, xmlNodePtr* child) {
    if (child != nullptr) *child = nullptr;
    if (node == nullptr) return kErrDom;
    if (index < 0) return kXmlNotFound;
    for (xmlNodePtr cur = node->children; cur != nullptr; cur = cur->next) {
        if (nameEquals(cur, name) && index-- == 0) {
            if (child != nullptr) *child = cur;
            return kOk;
        }
    }
    return kXmlNotFound;
}

int xmldomGetNextSibling(const xmlNode* node, int n, xmlNodePtr* out) {
    if (out != nullptr) *out = nullptr;
    if (node == nullptr || n < 0) return kErrDom;
    const xmlNode* cur = node;
    for (int i = 0; i < n && cur != nullptr; ++i) cur = cur->next;
    if (cur == nullptr) return kXmlNotFound;
    if (out != nullptr) *out = const_cast<xmlNodePtr>(cur);
    return kOk;
}

int xmldomCountChildren(const xmlNode* node, std::string_view name, int* count) {
    if (count != nullptr) *count = 0;
    if (node == nullptr) return kErrDom;
    int n = 0;
    for (const xmlNode* cur = node->children; cur != nullptr; cur = cur->next) {
        if (nameEquals(cur, name)) ++n;
    }
    if (count != nullptr) *count = n;
    return kOk;
}

// --- attributes ----------------------------------------------------------------------

int xmldomReadAttributes(const xmlNode* node, CAttrList& list) {
    if (node == nullptr || node->type != XML_ELEMENT_NODE) return kErrDom;
    try {
        const std::string element = xmldomNodeName(node);
        const std::string text = xmldomNodeText(node);
        const auto textOr = [&text](const std::string& value) {
            return text.empty() ? value : text;
        };
        bool any = false;
        for (const xmlNs* ns = node->nsDef; ns != nullptr; ns = ns->next) {
            std::string name = ns->prefix ? "xmlns:" + std::string(cc(ns->prefix)) : "xmlns";
            std::string uri = ns->href ? cc(ns->href) : "";
            if (!list.append(element, std::move(name), uri, textOr(uri))) return kErrOutOfMemory;
            any = true;
        }
        for (const xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            const auto* attrNode = reinterpret_cast<const xmlNode*>(attr);
            std::string value = xmldomNodeText(attrNode);
            if (!list.append(element, xmldomNodeName(attrNode), value, textOr(value))) {
                return kErrOutOfMemory;
            }
            any = true;
        }
        if (!any && !list.append(element, std::string(CAttrList::kNoAttribute), element, text)) {
            return kErrOutOfMemory;
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

int xmldomGetAttributes(const xmlNode* node, CAttrList& list) {
    return xmldomReadAttributes(node, list);
}

int xmldomGetChildAttributes(const xmlNode* node, CAttrList& list) {
    if (node == nullptr) return kErrDom;
    for (const xmlNode* cur = node->children; cur != nullptr; cur = cur->next) {
        if (cur->type != XML_ELEMENT_NODE) continue;
        const int rc = xmldomReadAttributes(cur, list);
        if (rc != kOk) return rc;
    }
    return kOk;
}

// --- building ------------------------------------------------------------------------

int xmldomRemoveTextBefore(xmlNodePtr node, xmlNodePtr parent) {
    if (node == nullptr || parent == nullptr || node->parent != parent) return kErrDom;
    xmlNodePtr prev = node->prev;
    if (prev == nullptr || prev->type != XML_TEXT_NODE) return kXmlNotFound;
    return xmldomRemoveChild(prev);
}

int xmldomRemoveLastText(xmlNodePtr node) {
    if (node == nullptr) return kErrDom;
    xmlNodePtr last = node->last;
    if (last == nullptr || last->type != XML_TEXT_NODE) return kXmlNotFound;
    return xmldomRemoveChild(last);
}

int xmldomRemoveChild(xmlNodePtr child) {
    if (child == nullptr || child->parent == nullptr) return kErrDom;
    xmlUnlinkNode(child);
    XmlNodePtr gone(child);
    return kOk;
}

int xmldomAppendIndent(XmlDocument& doc, xmlNodePtr node, int depth) {
    if (!doc || node == nullptr || node->doc != doc.get()) return kErrXmlElement;
    const std::size_t tabs =
        std::min<std::size_t>(depth > 0 ? static_cast<std::size_t>(depth) : 0, kMaxIndentChars - 1);
    const std::string indent = "\n" + std::string(tabs, '\t');
    xmlNodePtr text = xmlNewDocText(doc.get(), xc(indent.c_str()));
    if (text == nullptr) return kErrXmlElement;
    linkLast(node, text);
    return kOk;
}

int xmldomAppendChild(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth,
                      bool indentInside, bool indentBefore) {
    if (!doc || parent == nullptr || child == nullptr || child->doc != doc.get() ||
        child == parent) {
        return kErrXmlElement;
    }
    // A node cannot go below itself.
    for (const xmlNode* up = parent; up != nullptr; up = up->parent) {
        if (up == child) return kErrXmlElement;
    }
    const bool toDocument = parent == reinterpret_cast<xmlNodePtr>(doc.get());
    if (toDocument && child->type == XML_ELEMENT_NODE && doc.root() != nullptr) {
        return kErrXmlElement;
    }
    if (indentBefore && !toDocument && xmldomAppendIndent(doc, parent, depth) != kOk) {
        return kErrXmlElement;
    }
    if (child->parent != nullptr) xmlUnlinkNode(child);
    linkLast(parent, child);
    if (indentInside && xmldomAppendIndent(doc, child, depth) != kOk) return kErrXmlElement;
    return kOk;
}

XmlElementArgs& XmlElementArgs::attr(std::string_view name, std::string value) {
    attrs_.push_back(XmlAttr{std::string(name), std::move(value)});
    return *this;
}

int xmldomAppendElement(const XmlElementArgs& args) {
    if (args.doc_ == nullptr || !*args.doc_ || args.name_.empty()) return kErrXmlElement;
    XmlDocument& doc = *args.doc_;
    if (args.out_ == nullptr) {
        if (args.parent_ == nullptr) return kErrXmlElement;
        if (args.indent_ && xmldomAppendIndent(doc, args.parent_, args.depth_) != kOk) {
            return kErrXmlElement;
        }
    }
    XmlNodePtr element(xmlNewDocNode(doc.get(), nullptr, xc(args.name_.c_str()), nullptr));
    if (!element) return kErrXmlElement;
    for (const XmlAttr& attr : args.attrs_) {
        if (attr.name.empty() || xmlSetProp(element.get(), xc(attr.name.c_str()),
                                            xc(xmlSafeText(attr.value).c_str())) == nullptr) {
            return kErrXmlElement;
        }
    }
    if (args.text_ && !args.text_->empty()) {
        xmlNodePtr text = xmlNewDocText(doc.get(), xc(xmlSafeText(*args.text_).c_str()));
        if (text == nullptr) return kErrXmlElement;
        linkLast(element.get(), text);
    }
    if (args.out_ != nullptr) {
        if (!doc.holdDetached(element.get())) return kErrXmlElement;
        *args.out_ = element.release();
        return kOk;
    }
    if (xmldomAppendChild(doc, args.parent_, element.get(), args.depth_, false, false) != kOk) {
        return kErrXmlElement;
    }
    element.release();
    return kOk;
}

ScPair* scInitPair(ScPair* pair, int a, int b) {
    if (pair != nullptr) {
        pair->a = a;
        pair->b = b;
    }
    return pair;
}

}  // namespace scorecore
