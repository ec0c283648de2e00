// How the TvrXML writer builds its elements: detached first, held by the
// document, then attached after the indentation of their depth; and the depths
// of its elements, which the elements written as text keep too.
#pragma once

#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scorecore::vxmlbuild {

// Depths below the root (the root's children are at 1).
namespace depth {
inline constexpr int kDepthRootChild = 1;
inline constexpr int kDepthLayoutChild = 2;
inline constexpr int kDepthStaffLayout = 3;
inline constexpr int kDepthStaffLayoutChild = 4;
inline constexpr int kDepthSystem = 2;
inline constexpr int kDepthSystemChild = 3;  // "barCount", "staves"
inline constexpr int kDepthStaff = 4;
inline constexpr int kDepthVoices = 5;
inline constexpr int kDepthVoice = 6;
inline constexpr int kDepthVoiceChild = 7;  // "lyricsSettings", "noteObjects"
inline constexpr int kDepthNoteObject = 8;
inline constexpr int kDepthObjectChild = 9;
inline constexpr int kDepthDrawObjects = 9;
inline constexpr int kDepthDrawObj = 10;
inline constexpr int kDepthSymbol = 11;
inline constexpr int kDepthSymbolChild = 12;
}  // namespace depth

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
