// How the TvrXML writer builds its elements: detached first, held by the
// document, then attached after the indentation of their depth.
#pragma once

#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scorecore::vxmlbuild {

inline bool hasElementChild(const xmlNode* node) {
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) return true;
    }
    return false;
}

// An element built detached (held by the document until attached); null on failure.
inline xmlNodePtr build(XmlElementArgs args) {
    xmlNodePtr node = nullptr;
    return xmldomAppendElement(args.out(&node)) == kOk ? node : nullptr;
}

// Attaches a built element after the indentation for depth; an element with children
// gets its closing tag on a line of its own.
inline int attach(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth) {
    if (parent == nullptr || child == nullptr) return kErrXmlElement;
    return xmldomAppendChild(doc, parent, child, depth, hasElementChild(child), true) == kOk ? kOk
                                                                                           : kErrXmlElement;
}

}  // namespace scorecore::vxmlbuild
