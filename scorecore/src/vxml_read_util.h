// How the TvrXML reader looks at elements: children by their (case-sensitive) DOM
// name, attributes by name and value without regard to case, numbers as the file
// gives them and never trusted as an index.
#pragma once

#include "platform/text.h"
#include "scorecore/result_codes.h"
#include "scorecore/score_event.h"
#include "scorecore/xml_dom.h"

#include <optional>
#include <string>
#include <string_view>

namespace scorecore::vxmlread {

inline bool isElement(const xmlNode* node, std::string_view name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmldomNodeName(node) == name;
}

// The first child element with that name, or null.
inline const xmlNode* childElement(const xmlNode* node, std::string_view name) {
    if (node == nullptr) return nullptr;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (isElement(child, name)) return child;
    }
    return nullptr;
}

// Calls f(child) for each child element of node in order; stops at and returns the
// first nonzero result of f.
template <class F>
int forEachElement(const xmlNode* node, F&& f) {
    if (node == nullptr) return kOk;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        const int rc = f(child);
        if (rc != kOk) return rc;
    }
    return kOk;
}

// The attributes of one element.
class ElementAttrs {
public:
    explicit ElementAttrs(const xmlNode* node)
        : rc_(node != nullptr && node->type == XML_ELEMENT_NODE ? xmldomReadAttributes(node, list_) : kErrDom) {}

    // 0, or the code of the attribute reader (-6 not an element, -2 no memory).
    int status() const { return rc_; }

    std::optional<std::string_view> get(std::string_view name) const {
        const int i = find(name);
        if (i < 0) return std::nullopt;
        return list_.value(i);
    }
    bool has(std::string_view name) const { return find(name) >= 0; }
    bool is(std::string_view name, std::string_view value) const {
        const int i = find(name);
        return i >= 0 && list_.valueIs(i, value);
    }
    bool isTrue(std::string_view name) const { return is(name, "true"); }
    // The leading decimal number of the value (saturated), fallback when absent.
    int asInt(std::string_view name, int fallback) const {
        const int i = find(name);
        return i < 0 ? fallback : list_.valueAsInt(i);
    }
    double asDouble(std::string_view name, double fallback) const {
        const int i = find(name);
        return i < 0 ? fallback : list_.valueAsFloat(i);
    }

private:
    int find(std::string_view name) const {
        for (int i = 0; i < list_.count(); ++i) {
            if (list_.attrNameIs(i, name)) return i;
        }
        return -1;
    }

    CAttrList list_;
    int rc_;
};

// Reads the heads of a "chord" (pitch and alteration only) into heads, with their
// MIDI keys. 0, or -2 when memory runs out.
int readHeadKeys(const xmlNode* chord, CScoreEvent& heads);

}  // namespace scorecore::vxmlread
