// The end of the TvrXML writer: the systems put together, either as elements of
// the document (appendSystems alone) or as text that writeFile puts where the
// document holds an empty "systems" (once packStaves wrote voices out).
//
// The text of a packed document is what the elements and a whole-document save
// give: each element after the indentation of its depth, the closing tag of an
// element with children on a line of its own, and the objects of each voice as
// the writer wrote them, in the save's encoding.
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_dom.h"
#include "scorecore/xml_text.h"
#include "vxml_build.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace scorecore {

namespace {

using vxmlbuild::attach;
using vxmlbuild::hasElementChild;
using namespace vxmlbuild::depth;

void appendIndentText(std::string& out, int depth) {
    out += '\n';
    out.append(static_cast<std::size_t>(depth), '\t');
}

// The objects of a voice as elements of its "noteObjects", for a document
// that is saved whole.
int parseObjects(XmlDocument& doc, CVxmlVoice& voice) {
    if (voice.objectsText.empty()) return kOk;
    std::string text;
    text.reserve(voice.objectsText.size() + 32);
    text.append("<noteObjects>").append(voice.objectsText).append("</noteObjects>");
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return kErrXmlElement;
    const XmlDocPtr parsed(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xmlNode* objects = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
    if (objects == nullptr) return kErrXmlElement;
    for (const xmlNode* child = objects->children; child != nullptr; child = child->next) {
        xmlNodePtr copy = xmlDocCopyNode(const_cast<xmlNodePtr>(child), doc.get(), 1);
        if (copy == nullptr) return kErrXmlElement;
        if (xmlAddChild(voice.noteObjectsNode, copy) == nullptr) {
            xmlFreeNode(copy);
            return kErrXmlElement;
        }
    }
    std::string().swap(voice.objectsText);
    return kOk;
}

// An element's children as they stand, each saved whole.
bool saveChildren(XmlNodeSaver& saver, const xmlNode* element, std::string& out) {
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (!saver.save(child, out)) return false;
    }
    return true;
}

// Text made of pieces, so that long texts written elsewhere (the objects of
// voices) go in as they stand: what is written goes to the last piece.
class Pieces {
public:
    std::string& last() { return pieces_.back(); }
    void take(std::string piece) {
        if (piece.empty()) return;
        if (last().empty()) {
            last() = std::move(piece);
        } else {
            pieces_.push_back(std::move(piece));
        }
        pieces_.emplace_back();
    }
    // The pieces, empty ones left out.
    std::vector<std::string> release() {
        if (last().empty()) pieces_.pop_back();
        return std::move(pieces_);
    }

private:
    std::vector<std::string> pieces_ = std::vector<std::string>(1);
};

// The element after its indentation, with `inside` written as its content
// (nothing: an empty element); freed afterwards when it waits detached.
template <typename Inside>
int writeElement(XmlDocument& doc, XmlNodeSaver& saver, xmlNodePtr element, int depth, Pieces& out, bool hasInside,
                 Inside&& inside) {
    if (element == nullptr) return kErrXmlElement;
    appendIndentText(out.last(), depth);
    const bool withChildren = hasInside || hasElementChild(element);
    if (!withChildren) {
        if (!saver.save(element, out.last())) return kErrXmlElement;
    } else {
        if (!saver.saveStartTag(element, out.last()) || !saveChildren(saver, element, out.last())) {
            return kErrXmlElement;
        }
        if (const int rc = inside(); rc != kOk) return rc;
        appendIndentText(out.last(), depth);
        if (!XmlNodeSaver::saveEndTag(element, out.last())) return kErrXmlElement;
    }
    if (doc.isDetached(element) && xmldomRemoveChild(element) != kOk) return kErrDom;
    return kOk;
}

// A voice as attaching it to its staff's "voices" and saving would write it,
// the indentation before it included; its elements are freed, its objects
// become a piece of its text as they stand.
int packVoice(XmlDocument& doc, XmlNodeSaver& saver, XmlCharset charset, CVxmlVoice& voice) {
    if (voice.voiceNode == nullptr) return kOk;  // packed already
    Pieces pieces;
    std::string& objects = voice.objectsText;
    const auto inObjects = [&]() {
        if (hasNonAscii(objects)) {
            std::string encoded;
            encodeXmlText(objects, charset, encoded);
            objects = std::move(encoded);
        }
        pieces.take(std::move(objects));
        return kOk;
    };
    const auto inVoice = [&]() {
        return writeElement(doc, saver, voice.noteObjectsNode, kDepthVoiceChild, pieces, !objects.empty(), inObjects);
    };
    if (const int rc = writeElement(doc, saver, voice.voiceNode, kDepthVoice, pieces, true, inVoice); rc != kOk) {
        return rc;
    }
    voice.voiceNode = nullptr;
    voice.noteObjectsNode = nullptr;
    std::string().swap(voice.objectsText);
    voice.repEndAt = std::string::npos;
    voice.packedText = pieces.release();
    return kOk;
}

}  // namespace

int CVxmlFile::appendSystems() {
    if (!document || root == nullptr || systemsNode == nullptr) return kErrXmlElement;
    if (packing_ != Packing::None) return appendPackedSystems();
    for (CDomNodeGroup& system : systems) {
        for (CDomNodeItem& staff : system.items) {
            for (CVxmlVoice& voice : staff.voices) {
                int rc = parseObjects(document, voice);
                if (rc == kOk) rc = attach(document, voice.voiceNode, voice.noteObjectsNode, kDepthVoiceChild);
                if (rc == kOk) rc = attach(document, staff.voicesNode, voice.voiceNode, kDepthVoice);
                if (rc != kOk) return rc;
                voice.clear();
            }
            int rc = attach(document, staff.node, staff.voicesNode, kDepthVoices);
            if (rc == kOk) rc = attach(document, system.stavesNode, staff.node, kDepthStaff);
            if (rc != kOk) return rc;
            staff.clear();
        }
        int rc = attach(document, system.node, system.stavesNode, kDepthSystemChild);
        if (rc == kOk) rc = attach(document, systemsNode, system.node, kDepthSystem);
        if (rc != kOk) return rc;
        system.clear();
    }
    const int rc = attach(document, root, systemsNode, kDepthRootChild);
    if (rc != kOk) return rc;
    systemsNode = nullptr;
    return xmldomAppendIndent(document, root, 0) == kOk ? kOk : kErrXmlElement;
}

int CVxmlFile::packStaves(int firstStaff, int count) {
    if (!document) return kErrXmlElement;
    XmlNodeSaver saver(document);
    if (!saver.valid()) return kErrXmlElement;
    const XmlCharset charset = xmldomCharset(document);
    const int from = std::max(firstStaff, 0);
    try {
        for (CDomNodeGroup& system : systems) {
            const int to =
                static_cast<int>(std::min<long long>(static_cast<long long>(firstStaff) + count, system.itemCount()));
            for (int s = from; s < to; ++s) {
                for (CVxmlVoice& voice : system.items[static_cast<std::size_t>(s)].voices) {
                    if (const int rc = packVoice(document, saver, charset, voice); rc != kOk) return rc;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return kErrXmlElement;
    }
    if (packing_ == Packing::None) packing_ = Packing::Voices;
    return kOk;
}

int CVxmlFile::appendPackedSystems() {
    XmlNodeSaver saver(document);
    if (!saver.valid()) return kErrXmlElement;
    const XmlCharset charset = xmldomCharset(document);
    Pieces text;
    if (!systems.empty() && !saver.saveStartTag(systemsNode, text.last())) return kErrXmlElement;
    for (CDomNodeGroup& system : systems) {
        const auto staves = [&]() {
            for (CDomNodeItem& staff : system.items) {
                const auto voices = [&]() {
                    for (CVxmlVoice& voice : staff.voices) {
                        if (const int rc = packVoice(document, saver, charset, voice); rc != kOk) return rc;
                        for (std::string& piece : voice.packedText) text.take(std::move(piece));
                        voice.clear();
                    }
                    return kOk;
                };
                const auto inStaff = [&]() {
                    return writeElement(document, saver, staff.voicesNode, kDepthVoices, text, !staff.voices.empty(),
                                        voices);
                };
                if (const int rc = writeElement(document, saver, staff.node, kDepthStaff, text, true, inStaff);
                    rc != kOk) {
                    return rc;
                }
                staff.clear();
            }
            return kOk;
        };
        const auto inSystem = [&]() {
            return writeElement(document, saver, system.stavesNode, kDepthSystemChild, text, !system.items.empty(),
                                staves);
        };
        if (const int rc = writeElement(document, saver, system.node, kDepthSystem, text, true, inSystem); rc != kOk) {
            return rc;
        }
        system.clear();
    }
    // The document keeps the "systems" empty; writeFile puts the text in its place.
    std::string placeholder;
    if (!saver.save(systemsNode, placeholder)) return kErrXmlElement;
    if (systems.empty()) {
        text.last() = placeholder;
    } else {
        appendIndentText(text.last(), kDepthRootChild);
        if (!XmlNodeSaver::saveEndTag(systemsNode, text.last())) return kErrXmlElement;
    }
    const int rc = attach(document, root, systemsNode, kDepthRootChild);
    if (rc != kOk) return rc;
    systemsNode = nullptr;
    if (xmldomAppendIndent(document, root, 0) != kOk) return kErrXmlElement;
    systemsText_ = text.release();
    systemsPlaceholder_ = std::move(placeholder);
    packing_ = Packing::Systems;
    return kOk;
}

}  // namespace scorecore
