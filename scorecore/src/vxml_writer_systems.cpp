// The end of the TvrXML writer: the systems put together, either as elements of
// the document (appendSystems alone) or as text (once packStaves wrote staves
// out), which goes staff by staff into the document's deflate stream
// (vxml_packed.h) and which writeFile puts where the document holds an empty
// "systems".
//
// The text of a packed document is what the elements and a whole-document save
// give: each element after the indentation of its depth, the closing tag of an
// element with children on a line of its own, and the objects of each voice as
// the writer wrote them, in the save's encoding. Each system's text begins
// with the line of its start tag (kTvrxSystemLine), where the container cuts
// the document it deflates whole as well.
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_dom.h"
#include "scorecore/xml_text.h"
#include "vxml_build.h"
#include "vxml_objects.h"
#include "vxml_packed.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <memory>
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

// The start of an element with children, after its indentation: its start
// tag and the children it holds already.
bool openElement(XmlNodeSaver& saver, xmlNodePtr element, int depth, std::string& out) {
    if (element == nullptr) return false;
    appendIndentText(out, depth);
    return saver.saveStartTag(element, out) && saveChildren(saver, element, out);
}

// An element written whole is freed when it waits detached.
int freeWritten(XmlDocument& doc, xmlNodePtr element) {
    return doc.isDetached(element) && xmldomRemoveChild(element) != kOk ? kErrDom : kOk;
}

// The end of an element that openElement started; freed afterwards.
int closeElement(XmlDocument& doc, xmlNodePtr element, int depth, std::string& out) {
    appendIndentText(out, depth);
    if (!XmlNodeSaver::saveEndTag(element, out)) return kErrXmlElement;
    return freeWritten(doc, element);
}

// The element after its indentation, with `inside` written as its content
// (nothing: an empty element); freed afterwards when it waits detached.
template <typename Inside>
int writeElement(XmlDocument& doc, XmlNodeSaver& saver, xmlNodePtr element, int depth, Pieces& out, bool hasInside,
                 Inside&& inside) {
    if (element == nullptr) return kErrXmlElement;
    if (!hasInside && !hasElementChild(element)) {
        appendIndentText(out.last(), depth);
        return saver.save(element, out.last()) ? freeWritten(doc, element) : kErrXmlElement;
    }
    if (!openElement(saver, element, depth, out.last())) return kErrXmlElement;
    if (const int rc = inside(); rc != kOk) return rc;
    return closeElement(doc, element, depth, out.last());
}

// A voice as attaching it to its staff's "voices" and saving would write it,
// the indentation before it included, into out; its elements are freed, its
// objects become a piece of the text as they stand.
int packVoice(XmlDocument& doc, XmlNodeSaver& saver, XmlCharset charset, CVxmlVoice& voice, Pieces& out) {
    if (voice.voiceNode == nullptr) return kOk;  // packed already
    std::string& objects = voice.objectsText;
    const auto inObjects = [&]() {
        if (hasNonAscii(objects)) {
            std::string encoded;
            encodeXmlText(objects, charset, encoded);
            objects = std::move(encoded);
        }
        out.take(std::move(objects));
        return kOk;
    };
    const auto inVoice = [&]() {
        return writeElement(doc, saver, voice.noteObjectsNode, kDepthVoiceChild, out, !objects.empty(), inObjects);
    };
    if (const int rc = writeElement(doc, saver, voice.voiceNode, kDepthVoice, out, true, inVoice); rc != kOk) {
        return rc;
    }
    voice.voiceNode = nullptr;
    voice.noteObjectsNode = nullptr;
    std::string().swap(voice.objectsText);
    voice.repEndAt = std::string::npos;
    return kOk;
}

// The start of a system that has staves, up to its first staff.
bool openSystem(XmlNodeSaver& saver, const CDomNodeGroup& system, std::string& out) {
    return openElement(saver, system.node, kDepthSystem, out) &&
           openElement(saver, system.stavesNode, kDepthSystemChild, out);
}

// Staff s of system k as text, with its voices, into the system's segment of
// the packed systems; its elements are freed (a null node marks it packed).
int packStaff(XmlDocument& doc, XmlNodeSaver& saver, XmlCharset charset, PackedSystems& packed,
              CDomNodeGroup& system, std::size_t k, int s) {
    CDomNodeItem& staff = system.items[static_cast<std::size_t>(s)];
    if (staff.node == nullptr) return kOk;  // packed already
    Pieces text;
    const auto voices = [&]() {
        for (CVxmlVoice& voice : staff.voices) {
            if (const int rc = packVoice(doc, saver, charset, voice, text); rc != kOk) return rc;
        }
        return kOk;
    };
    const auto inStaff = [&]() {
        return writeElement(doc, saver, staff.voicesNode, kDepthVoices, text, !staff.voices.empty(), voices);
    };
    if (const int rc = writeElement(doc, saver, staff.node, kDepthStaff, text, true, inStaff); rc != kOk) return rc;
    staff.node = nullptr;
    staff.voicesNode = nullptr;
    const auto head = [&saver, &system](std::string& out) { return openSystem(saver, system, out); };
    return packed.putStaff(k, s, text.release(), head) ? kOk : kErrXmlElement;
}

// The rest of system k, once its staves are in: its end, or the whole system
// when it has no staves. Its elements are freed.
int endSystem(XmlDocument& doc, XmlNodeSaver& saver, PackedSystems& packed, CDomNodeGroup& system, std::size_t k,
              bool last) {
    Pieces text;
    if (!packed.hasStaves(k)) {
        const auto inSystem = [&]() {
            return writeElement(doc, saver, system.stavesNode, kDepthSystemChild, text, false, [] { return kOk; });
        };
        if (const int rc = writeElement(doc, saver, system.node, kDepthSystem, text, true, inSystem); rc != kOk) {
            return rc;
        }
    } else {
        int rc = closeElement(doc, system.stavesNode, kDepthSystemChild, text.last());
        if (rc == kOk) rc = closeElement(doc, system.node, kDepthSystem, text.last());
        if (rc != kOk) return rc;
    }
    system.node = nullptr;
    system.stavesNode = nullptr;
    std::string all;
    for (const std::string& piece : text.release()) all += piece;
    return packed.endSystem(k, all, last) ? kOk : kErrXmlElement;
}

}  // namespace

int CVxmlFile::appendSystems() {
    if (!document || root == nullptr || systemsNode == nullptr) return kErrXmlElement;
    if (const int rc = finishDeferredObjects(); rc != kOk) return rc;
    if (packed_) return appendPackedSystems();
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

int CVxmlFile::writeOutStaff(std::size_t system, int staff) {
    XmlNodeSaver saver(document);
    if (!saver.valid()) return kErrXmlElement;
    try {
        if (!packed_) packed_ = std::make_unique<PackedSystems>();
        return packStaff(document, saver, xmldomCharset(document), *packed_, systems[system], system, staff);
    } catch (const std::bad_alloc&) {
        return kErrXmlElement;
    }
}

int CVxmlFile::packStaves(int firstStaff, int count) {
    if (!document) return kErrXmlElement;
    // Objects written on the helper: the staves of the call before are
    // written out once their text is there, these are handed to it.
    const int before = defersObjects() ? packHandedStaves() : kOk;
    const int from = std::max(firstStaff, 0);
    for (std::size_t k = 0; k < systems.size(); ++k) {
        const int to =
            static_cast<int>(std::min<long long>(static_cast<long long>(firstStaff) + count, systems[k].itemCount()));
        for (int s = from; s < to; ++s) {
            const int rc = defersObjects() ? handOverStaff(k, s) : writeOutStaff(k, s);
            if (rc != kOk) return rc;
        }
    }
    return before == kOk ? kOk : kErrXmlElement;
}

int CVxmlFile::handOverStaff(std::size_t system, int staff) {
    CDomNodeItem& record = systems[system].items[static_cast<std::size_t>(staff)];
    if (record.sealed || record.node == nullptr) return kOk;  // handed over or written out already
    try {
        handedStaves_.emplace_back(system, staff);
    } catch (const std::bad_alloc&) {
        return kErrXmlElement;
    }
    record.sealed = true;
    for (CVxmlVoice& voice : record.voices) objectWriter_->hand(voice);
    return kOk;
}

void CVxmlFile::deferObjectText() {
    if (defersObjects()) return;
    try {
        objectWriter_ = std::make_unique<VxmlObjectWriter>();
    } catch (const std::bad_alloc&) {
        // Written at once then.
    }
}

int CVxmlFile::packHandedStaves() {
    if (!objectWriter_) return kOk;
    int rc = objectWriter_->wait();
    for (const auto& [system, staff] : handedStaves_) {
        if (rc != kOk) break;
        rc = writeOutStaff(system, staff);
    }
    handedStaves_.clear();
    return rc;
}

int CVxmlFile::finishDeferredObjects() {
    if (!defersObjects()) return kOk;
    for (CDomNodeGroup& system : systems) {
        for (CDomNodeItem& staff : system.items) {
            for (CVxmlVoice& voice : staff.voices) {
                if (!voice.pending.empty()) objectWriter_->hand(voice);
            }
        }
    }
    const int rc = packHandedStaves();
    objectWriter_.reset();
    return rc;
}

int CVxmlFile::appendPackedSystems() {
    XmlNodeSaver saver(document);
    if (!saver.valid()) return kErrXmlElement;
    const XmlCharset charset = xmldomCharset(document);
    std::string start;
    if (!systems.empty() && !saver.saveStartTag(systemsNode, start)) return kErrXmlElement;
    for (std::size_t k = 0; k < systems.size(); ++k) {
        CDomNodeGroup& system = systems[k];
        // The staves no packStaves call wrote out.
        for (int s = 0; s < system.itemCount(); ++s) {
            if (const int rc = packStaff(document, saver, charset, *packed_, system, k, s); rc != kOk) return rc;
        }
        if (const int rc = endSystem(document, saver, *packed_, system, k, k + 1 == systems.size()); rc != kOk) {
            return rc;
        }
        system.clear();
    }
    // The document keeps the "systems" empty; writeFile puts the text in its place.
    std::string placeholder;
    if (!saver.save(systemsNode, placeholder)) return kErrXmlElement;
    std::string end;
    appendIndentText(end, kDepthRootChild);
    if (!XmlNodeSaver::saveEndTag(systemsNode, end)) return kErrXmlElement;
    const int rc = attach(document, root, systemsNode, kDepthRootChild);
    if (rc != kOk) return rc;
    systemsNode = nullptr;
    if (xmldomAppendIndent(document, root, 0) != kOk) return kErrXmlElement;
    if (systems.empty()) {
        // Nothing was packed: the document is the plain one.
        packed_.reset();
    } else {
        packed_->endSystems(systems.size(), std::move(placeholder), std::move(start), std::move(end));
    }
    return kOk;
}

}  // namespace scorecore
