// XML text written directly, byte for byte as the DOM layer's saver writes the
// same elements (xml_dom.h): a writer that makes many small elements writes
// their text at once instead of building element trees and saving them.
//
// The text is made in two steps. XmlTextOut writes elements in UTF-8 with the
// saver's escapes of markup characters and its indentation; encodeXmlText then
// turns every character outside ASCII into what a save of the document writes
// for it. Both depend on the document's declared encoding (XmlCharset).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace scorecore {

// Text that libxml2 can serialise: valid UTF-8 of characters XML 1.0 allows.
// Bytes that are not UTF-8, and characters XML cannot hold, become U+FFFD.
std::string xmlSafeText(std::string_view text);

// How a saved document carries characters outside ASCII.
enum class XmlCharset {
    Latin1,  // ISO-8859-1 bytes; beyond Latin-1 decimal references ("&#8593;")
    Ascii,   // hexadecimal references ("&#xE9;") for all of them
};

// Whether text holds a byte outside ASCII.
bool hasNonAscii(std::string_view text);

// Appends UTF-8 text (as XmlTextOut writes it) to out with every character
// outside ASCII written as the charset says.
void encodeXmlText(std::string_view utf8, XmlCharset charset, std::string& out);

// Writes elements one after the other into a text, as the DOM layer's
// building functions and its saver would: each element after the indentation
// of its depth (a line feed and one tab per depth), "<name/>" when it stays
// empty, and the end tag of an element with elements inside on a line of its
// own at the element's depth. Attribute values and texts are made safe
// (xmlSafeText) and escaped as the saver escapes them.
//   XmlTextOut w(text);
//   w.open("chord", 8);
//   w.open("duration", 9).attr("base", "1/4");
//   w.close();
//   w.close();
class XmlTextOut {
public:
    // charset: the one of the document the text goes into.
    explicit XmlTextOut(std::string& out, XmlCharset charset = XmlCharset::Latin1) : out_(out), charset_(charset) {}

    // Starts an element inside the innermost open one (or at the top), after
    // the indentation for depth unless indent is off. The name must stay valid
    // until the element is closed. More than kMostOpen elements open at once
    // throw std::length_error.
    static constexpr std::size_t kMostOpen = 16;
    XmlTextOut& open(std::string_view name, int depth, bool indent = true);
    XmlTextOut& attr(std::string_view name, std::string_view value);
    XmlTextOut& attr(std::string_view name, long long value);
    // The text of the innermost open element; an empty text adds nothing.
    XmlTextOut& text(std::string_view value);
    // Ends the innermost open element.
    void close();
    // Ends every open element.
    void closeAll();

    std::string& out() { return out_; }

private:
    enum class Content { None, Elements, Text };
    struct Open {
        std::string_view name;
        int depth = 0;
        Content content = Content::None;
    };
    void endStartTag(Content content);
    void appendIndent(int depth);

    std::string& out_;
    XmlCharset charset_;
    std::array<Open, kMostOpen> open_{};
    std::size_t count_ = 0;
};

}  // namespace scorecore
