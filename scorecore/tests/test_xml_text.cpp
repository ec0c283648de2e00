// XML text written directly must be what the DOM layer builds and saves, byte
// for byte, in both encodings a document can declare: escapes, characters
// outside ASCII and Latin-1, text that is not UTF-8, and indentation.
#include "scorecore/xml_text.h"

#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

#include <gtest/gtest.h>

#include <string>

using namespace scorecore;

namespace {

struct Form {
    const char* name;
    int type;  // of xmldomCreateFile
    XmlCharset charset;
};
const Form kForms[] = {
    {"declared ISO-8859-1", kXmlDocNewTvrxml, XmlCharset::Latin1},
    {"no declaration", 0, XmlCharset::Ascii},
};

std::string encoded(const std::string& utf8, XmlCharset charset) {
    std::string out;
    encodeXmlText(utf8, charset, out);
    return out;
}

TEST(XmlTextTest, ValuesAndTextsAreWrittenAsTheSaverWritesThem) {
    const std::string values[] = {
        "",
        "plain words 1/4",
        "markup <a href=\"x\">&amp;</a> 'quoted'",
        "tab\there, line\nfeed, carriage\rreturn",
        "Latin-1: \u00e9\u00fc\u00ff\u00a0",
        "beyond: \u2191 \u266d \u20ac",
        "astral: \U0001D11E",
        "not UTF-8: \xC3 \xFF\xFE end",
        "control \x01\x1F and noncharacter \xEF\xBF\xBE",
        "&#65; stays text",
    };
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        XmlDocument doc;
        xmlNodePtr root = nullptr;
        ASSERT_EQ(xmldomCreateFile({}, doc, root, form.type), kOk);
        EXPECT_EQ(xmldomCharset(doc), form.charset);
        XmlNodeSaver saver(doc);
        ASSERT_TRUE(saver.valid());
        for (const std::string& value : values) {
            SCOPED_TRACE(value);
            xmlNodePtr element = nullptr;
            ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "e").attr("v", value).text(value).out(&element)),
                      kOk);
            std::string saved;
            ASSERT_TRUE(saver.save(element, saved));
            std::string utf8;
            XmlTextOut(utf8, form.charset).open("e", 0, false).attr("v", value).text(value).close();
            EXPECT_EQ(hasNonAscii(utf8), encoded(utf8, form.charset) != utf8);
            EXPECT_EQ(encoded(utf8, form.charset), saved);
        }
    }
}

// Elements inside elements: the end tag on a line of its own after elements,
// right after a text, and an empty element closed at once.
TEST(XmlTextTest, NestedElementsAreIndentedAsAttachedElements) {
    XmlDocument doc;
    xmlNodePtr root = nullptr;
    ASSERT_EQ(xmldomCreateFile({}, doc, root, kXmlDocNewTvrxml), kOk);
    xmlNodePtr outer = nullptr;
    xmlNodePtr inner = nullptr;
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "outer").attr("n", "1").out(&outer)), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "inner").out(&inner)), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, inner, "empty").depth(4).indent()), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, inner, "words").depth(4).indent().text("a < b")), kOk);
    ASSERT_EQ(xmldomAppendChild(doc, outer, inner, 3, true, true), kOk);
    ASSERT_EQ(xmldomAppendChild(doc, root, outer, 2, true, true), kOk);
    XmlNodeSaver saver(doc);
    std::string saved;
    ASSERT_TRUE(saver.save(outer, saved));

    std::string text;
    XmlTextOut out(text);
    out.open("outer", 2, false).attr("n", 1);
    out.open("inner", 3);
    out.open("empty", 4).close();
    out.open("words", 4).text("a < b");
    out.closeAll();
    EXPECT_EQ(text, saved);
}

}  // namespace
