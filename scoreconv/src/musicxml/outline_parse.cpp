#include "musicxml/outline_parse.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>
#include <memory>

namespace scoreconv {

namespace {

// Where the parser stands: how many elements are open, the depth of the note
// they are in (-1: none), of the note's <unpitched> child (-1: none), and how
// deep it is inside an element that is dropped (0: none).
struct Outline {
    // The parser of the text. An entity's content is parsed with a parser of
    // its own, which sees the same handlers: that content is built whole, as
    // the whole parse builds it, so that the entity reads the same wherever
    // it is referred to.
    const void* main = nullptr;
    int depth = 0;
    int note = -1;
    int unpitched = -1;
    int dropped = 0;
    ignorableWhitespaceSAXFunc blanks = nullptr;  // what the options do with blank text
};

Outline& outlineOf(void* context) { return *static_cast<Outline*>(static_cast<xmlParserCtxtPtr>(context)->_private); }

// Whether what the parser reports now is dropped (never inside an entity's content).
bool dropped(void* context) {
    const Outline& outline = outlineOf(context);
    return context == outline.main && outline.dropped > 0;
}

bool named(const xmlChar* name, const char* word) {
    return name != nullptr && std::strcmp(reinterpret_cast<const char*>(name), word) == 0;
}

void startElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                  int namespaces, const xmlChar** namespacesList, int attributes, int defaulted,
                  const xmlChar** attributeList) {
    Outline& outline = outlineOf(context);
    if (context != outline.main) {
        xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, namespacesList, attributes, defaulted,
                              attributeList);
        return;
    }
    if (outline.dropped > 0) {
        ++outline.dropped;
        return;
    }
    const int depth = outline.depth;
    // Below a child of a note: dropped, unless the child is <unpitched>.
    if (outline.note >= 0 && depth == outline.note + 2 && outline.unpitched < 0) {
        outline.dropped = 1;
        return;
    }
    xmlSAX2StartElementNs(context, localname, prefix, uri, namespaces, namespacesList, attributes, defaulted,
                          attributeList);
    ++outline.depth;
    if (outline.note < 0 && named(localname, "note")) outline.note = depth;
    if (outline.note >= 0 && depth == outline.note + 1 && named(localname, "unpitched")) outline.unpitched = depth;
}

void endElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    Outline& outline = outlineOf(context);
    if (context != outline.main) {
        xmlSAX2EndElementNs(context, localname, prefix, uri);
        return;
    }
    if (outline.dropped > 0) {
        --outline.dropped;
        return;
    }
    xmlSAX2EndElementNs(context, localname, prefix, uri);
    --outline.depth;
    if (outline.depth == outline.unpitched) outline.unpitched = -1;
    if (outline.depth == outline.note) outline.note = -1;
}

void characters(void* context, const xmlChar* text, int length) {
    if (!dropped(context)) xmlSAX2Characters(context, text, length);
}

void cdataBlock(void* context, const xmlChar* text, int length) {
    if (!dropped(context)) xmlSAX2CDataBlock(context, text, length);
}

void comment(void* context, const xmlChar* text) {
    if (!dropped(context)) xmlSAX2Comment(context, text);
}

void processingInstruction(void* context, const xmlChar* target, const xmlChar* data) {
    if (!dropped(context)) xmlSAX2ProcessingInstruction(context, target, data);
}

void reference(void* context, const xmlChar* name) {
    if (!dropped(context)) xmlSAX2Reference(context, name);
}

void blanks(void* context, const xmlChar* text, int length) {
    const Outline& outline = outlineOf(context);
    if (!dropped(context) && outline.blanks != nullptr) outline.blanks(context, text, length);
}

struct ContextFree {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};

}  // namespace

scorecore::XmlDocPtr parseWithNotesInOutline(std::string_view text, int options) {
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    xmlInitParser();
    const std::unique_ptr<xmlParserCtxt, ContextFree> context(
        xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size())));
    if (!context) return nullptr;
    xmlCtxtUseOptions(context.get(), options);
    Outline outline;
    outline.main = context.get();
    context->_private = &outline;
    xmlSAXHandler* sax = context->sax;
    sax->startElementNs = startElement;
    sax->endElementNs = endElement;
    sax->characters = characters;
    sax->cdataBlock = cdataBlock;
    sax->comment = comment;
    sax->processingInstruction = processingInstruction;
    sax->reference = reference;
    outline.blanks = sax->ignorableWhitespace;
    sax->ignorableWhitespace = blanks;
    xmlParseDocument(context.get());
    scorecore::XmlDocPtr doc(context->myDoc);
    context->myDoc = nullptr;
    if (context->wellFormed == 0) doc.reset();
    return doc;
}

}  // namespace scoreconv
