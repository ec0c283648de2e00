// Small readers over the elements of a loaded MusicXML document: child
// elements by name, texts as numbers, words compared without regard to case.
//
// Files come from many notation programs, so nothing here trusts them: numbers
// are parsed without the locale, may be decimals ("96.5"), and a text that is
// no number gives "none" rather than a guess. Element names are compared as
// written (MusicXML has no namespaces).
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scoreconv::mx {

inline std::string_view nameOf(const xmlNode* node) {
    return node != nullptr && node->name != nullptr ? std::string_view(reinterpret_cast<const char*>(node->name))
                                                    : std::string_view();
}
// Whether the node's name is name, without measuring the name first: most
// names a reader compares differ in their first bytes.
inline bool nameIs(const xmlNode* node, std::string_view name) {
    const char* own = node != nullptr ? reinterpret_cast<const char*>(node->name) : nullptr;
    if (own == nullptr) return name.empty();
    // A shorter name ends in a NUL, which differs from every byte of name.
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (own[i] != name[i]) return false;
    }
    return own[name.size()] == '\0';
}
inline bool isElement(const xmlNode* node) { return node != nullptr && node->type == XML_ELEMENT_NODE; }
inline bool isNamed(const xmlNode* node, std::string_view name) { return isElement(node) && nameIs(node, name); }

// The first child element, the next sibling element; null at the end. Every
// reader steps through elements with them, so they are inline.
inline const xmlNode* nextElement(const xmlNode* node) {
    if (node == nullptr) return nullptr;
    node = node->next;
    while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}
inline const xmlNode* firstElement(const xmlNode* parent) {
    if (parent == nullptr) return nullptr;
    const xmlNode* node = parent->children;
    while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

// Child elements in document order: for (const xmlNode* c : elements(node)).
class ElementRange {
public:
    class Iterator {
    public:
        explicit Iterator(const xmlNode* node) : node_(node) {}
        const xmlNode* operator*() const { return node_; }
        Iterator& operator++() {
            node_ = nextElement(node_);
            return *this;
        }
        bool operator!=(const Iterator& other) const { return node_ != other.node_; }

    private:
        const xmlNode* node_;
    };
    explicit ElementRange(const xmlNode* parent) : first_(firstElement(parent)) {}
    Iterator begin() const { return Iterator(first_); }
    Iterator end() const { return Iterator(nullptr); }

private:
    const xmlNode* first_;
};
inline ElementRange elements(const xmlNode* parent) { return ElementRange(parent); }

// The first child element of that name; null when there is none.
const xmlNode* child(const xmlNode* parent, std::string_view name);
// Every child element of that name, in document order.
std::vector<const xmlNode*> childrenNamed(const xmlNode* parent, std::string_view name);
bool hasChild(const xmlNode* parent, std::string_view name);
// The text of a node (its text descendants); empty for null.
std::string text(const xmlNode* node);
// The text of the first child of that name; nothing when there is no such child.
std::optional<std::string> childText(const xmlNode* parent, std::string_view name);
// An attribute by name; nothing when absent.
std::optional<std::string> attribute(const xmlNode* element, std::string_view name);
// Whether the attribute is present and equals the word (case ignored).
bool attributeIs(const xmlNode* element, std::string_view name, std::string_view word);

// A decimal number with optional blanks around it and an optional sign
// ("3", "-2", "96.5", " 1e2 "); nothing for any other text and for values
// that are not finite.
std::optional<double> parseNumber(std::string_view text);
// The number rounded to the nearest integer (halves away from zero) and
// kept within low..high; nothing when the text is no number.
std::optional<int64_t> parseRounded(std::string_view text, int64_t low, int64_t high);
// The child's text as a number; nothing when the child or the number is missing.
std::optional<double> childNumber(const xmlNode* parent, std::string_view name);
std::optional<int64_t> childRounded(const xmlNode* parent, std::string_view name, int64_t low, int64_t high);

bool equalsNoCase(std::string_view a, std::string_view b);
std::string lowered(std::string_view text);
std::string_view trimmed(std::string_view text);
// The longest start of a UTF-8 text of at most maxBytes bytes that does not
// split a character, and that start itself.
std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes);
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace scoreconv::mx
