#include "scorecore/xml_dom.h"

#include "platform/files.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace scorecore;
using scorecore::testing::entityBomb;

namespace {

std::string serialise(const XmlDocument& doc) {
    std::string out;
    EXPECT_EQ(xmldomSaveToString(doc, out), kOk);
    return out;
}

XmlDocument parse(std::string_view xml) {
    XmlDocument doc;
    EXPECT_EQ(xmldomParseMemory(xml, doc), kOk) << xml;
    return doc;
}

XmlDocument newTvrxml(xmlNodePtr& root) {
    XmlDocument doc;
    EXPECT_EQ(xmldomCreateFile({}, doc, root, kXmlDocNewTvrxml), kOk);
    return doc;
}

std::string nsOf(const xmlNode* node) {
    return node && node->ns && node->ns->href ? reinterpret_cast<const char*>(node->ns->href) : "";
}

const std::string kDeclaration = "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>";

}  // namespace

TEST(XmlDomCreateTest, NewTvrxmlDocumentHasTheDeclarationAndTheScoreRoot) {
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root, doc.root());
    EXPECT_EQ(xmldomNodeName(root), "score");
    EXPECT_EQ(nsOf(root), kTvrxmlNamespace10);

    const std::string text = serialise(doc);
    EXPECT_EQ(text, kDeclaration + "\n<score xmlns=\"http://www.tavrena.com/TvrXML/1.0\"/>\n");

    // What we write reads back as a TvrXML root in the 1.0 namespace.
    XmlDocument again = parse(text);
    ASSERT_NE(again.root(), nullptr);
    EXPECT_EQ(xmldomNodeName(again.root()), "score");
    EXPECT_EQ(nsOf(again.root()), kTvrxmlNamespace10);
}

TEST(XmlDomCreateTest, OtherTypesCreateTheRootWithoutTheDeclarationPi) {
    XmlDocument doc;
    xmlNodePtr root = nullptr;
    ASSERT_EQ(xmldomCreateFile({}, doc, root, 0), kOk);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(nsOf(root), kTvrxmlNamespace10);
    const std::string text = serialise(doc);
    EXPECT_EQ(text.find(kDeclaration), std::string::npos);
    EXPECT_NE(text.find("<score xmlns=\"http://www.tavrena.com/TvrXML/1.0\"/>"), std::string::npos);
}

TEST(XmlDomCreateTest, StartTemplateLoadsFromTheCurrentFolderAndKeepsWhiteSpace) {
    if (std::filesystem::exists(platform::programFolder() / "data" / "start.xml")) {
        GTEST_SKIP() << "the program folder has its own start.xml";
    }
    platform::testing::TempFolder folder;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());

    XmlDocument doc;
    xmlNodePtr root = nullptr;
    // Without a file the built-in template serves, an empty score.
    ASSERT_EQ(xmldomCreateFile({}, doc, root, kXmlDocStartTemplate), kOk);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(xmldomNodeName(root), "score-partwise");
    EXPECT_EQ(root->children, nullptr);

    std::ofstream("start.xml")
        << "<?xml version=\"1.0\"?>\n<score-partwise>\n  <part-list/>\n</score-partwise>\n";
    const int rc = xmldomCreateFile({}, doc, root, kXmlDocStartTemplate);
    std::filesystem::current_path(previous);
    ASSERT_EQ(rc, kOk);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(xmldomNodeName(root), "score-partwise");
    // Templates are built upon, so their white space stays.
    ASSERT_NE(root->children, nullptr);
    EXPECT_EQ(root->children->type, XML_TEXT_NODE);
}

TEST(XmlDomSaveTest, TextIsWrittenAsLatin1WithReferencesForOtherCharacters) {
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, root, "author")
                                      .attr("sign", "\xE2\x82\xAC<&>\"")
                                      .text("M\xC3\xBCller \xE2\x82\xAC <&>")),
              kOk);
    const std::string text = serialise(doc);
    EXPECT_NE(
        text.find(
            "<author sign=\"&#8364;&lt;&amp;&gt;&quot;\">M\xFCller &#8364; &lt;&amp;&gt;</author>"),
        std::string::npos)
        << text;

    XmlDocument again = parse(text);
    xmlNodePtr author = nullptr;
    ASSERT_EQ(xmldomGetChild(again.root(), "author", &author), kOk);
    EXPECT_EQ(xmldomNodeText(author), "M\xC3\xBCller \xE2\x82\xAC <&>");
    EXPECT_EQ(xmldomAttribute(author, "sign"), "\xE2\x82\xAC<&>\"");
}

TEST(XmlDomSaveTest, TextsThatXmlCannotHoldStillGiveAWellFormedDocument) {
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    // A control character, a broken UTF-8 byte and an embedded NUL.
    const std::string bad(
        "a\x01"
        "b\xFF"
        "c\0d",
        7);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, root, "comment").attr("v", bad).text(bad)),
              kOk);
    XmlDocument again = parse(serialise(doc));
    xmlNodePtr comment = nullptr;
    ASSERT_EQ(xmldomGetChild(again.root(), "comment", &comment), kOk);
    EXPECT_EQ(xmldomNodeText(comment),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD"
              "c\xEF\xBF\xBD"
              "d");
}

TEST(XmlDomParseTest, ReadingDropsBlankTextAndNeverExpandsEntities) {
    XmlDocument doc = parse("<a>\n  <b/>\n  <c>x</c>\n</a>");
    int count = 0;
    for (xmlNodePtr n = doc.root()->children; n; n = n->next) ++count;
    EXPECT_EQ(count, 2);

    XmlDocument bomb;
    EXPECT_EQ(xmldomParseMemory(entityBomb(), bomb), kErrXmlDocument);
    EXPECT_FALSE(bomb);

    // An external entity is neither loaded nor substituted.
    platform::testing::TempFolder folder;
    const auto secret = folder.path() / "secret.txt";
    std::ofstream(secret) << "SECRET";
    XmlDocument ext;
    const std::string xml =
        "<!DOCTYPE a [<!ENTITY x SYSTEM \"file://" + secret.string() + "\">]><a>&x;</a>";
    if (xmldomParseMemory(xml, ext) == kOk) {
        EXPECT_EQ(xmldomNodeText(ext.root()).find("SECRET"), std::string::npos);
    }

    XmlDocument broken;
    EXPECT_EQ(xmldomParseMemory("<a><b></a>", broken), kErrXmlDocument);
    EXPECT_EQ(xmldomParseMemory("", broken), kErrXmlDocument);
}

TEST(XmlDomParseTest, LoadFileRefusesMissingAndOversizedFiles) {
    platform::testing::TempFolder folder;
    const auto file = folder.path() / "a.xml";
    std::ofstream(file) << "<a><b/></a>";
    XmlDocument doc;
    EXPECT_EQ(xmldomLoadFile(file, doc), kOk);
    EXPECT_EQ(xmldomLoadFile(file, doc, 5), kErrXmlDocument);
    EXPECT_EQ(xmldomLoadFile(folder.path() / "none.xml", doc), kErrXmlDocument);
    EXPECT_FALSE(doc);
}

TEST(XmlDomNamespaceTest, TvrxmlNamespaceIsRecognisedByItsPathOnly) {
    const struct {
        const char* uri;
        bool expected;
    } cases[] = {
        {"http://www.tavrena.com/TvrXML/1.0", true},
        {"http://www.tavrena.com/TvrXML/2.0", true},
        {"http://another.example/some/where/TvrXML/2.0", true},
        {"HTTP://WWW.EXAMPLE.ORG/TVRXML/1.0", true},
        {"http://www.tavrena.com/TvrXML/3.0", false},
        {"http://www.tavrena.com/TvrXML/1.0/", false},
        {"http://www.tavrena.com/NotTvrXML/1.0", false},
        {"TvrXML/1.0", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isTvrxmlNamespace(c.uri), c.expected) << c.uri;
}

TEST(XmlDomAttributesTest, RowsOfOneElement) {
    struct Row {
        std::string element, attr, value, text;
    };
    const struct {
        const char* xml;
        std::vector<Row> rows;
    } cases[] = {
        {"<dots/>", {{"dots", "nicht belegt", "dots", ""}}},
        {"<author>Anna</author>", {{"author", "nicht belegt", "author", "Anna"}}},
        {"<barlines from=\"3\" to=\"7\"/>",
         {{"barlines", "from", "3", "3"}, {"barlines", "to", "7", "7"}}},
        {"<font face=\"Times\">x<b>y</b></font>", {{"font", "face", "Times", "xy"}}},
        {"<score xmlns=\"urn:t\" a=\"1\"/>",
         {{"score", "xmlns", "urn:t", "urn:t"}, {"score", "a", "1", "1"}}},
        {"<p:e xmlns:p=\"urn:p\" p:k=\"v\"/>",
         {{"p:e", "xmlns:p", "urn:p", "urn:p"}, {"p:e", "p:k", "v", "v"}}},
    };
    for (const auto& c : cases) {
        XmlDocument doc = parse(c.xml);
        CAttrList list;
        ASSERT_EQ(xmldomReadAttributes(doc.root(), list), kOk) << c.xml;
        ASSERT_EQ(list.count(), static_cast<int>(c.rows.size())) << c.xml;
        for (int i = 0; i < list.count(); ++i) {
            const Row& r = c.rows[static_cast<std::size_t>(i)];
            EXPECT_EQ(list.elementName(i), r.element) << c.xml;
            EXPECT_EQ(list.attrName(i), r.attr) << c.xml;
            EXPECT_EQ(list.value(i), r.value) << c.xml;
            EXPECT_EQ(list.text(i), r.text) << c.xml;
        }
    }
    CAttrList list;
    EXPECT_EQ(xmldomReadAttributes(nullptr, list), kErrDom);
    XmlDocument doc = parse("<a>text</a>");
    EXPECT_EQ(xmldomReadAttributes(doc.root()->children, list), kErrDom);
    EXPECT_EQ(xmldomGetAttributes(doc.root(), list), kOk);
    EXPECT_EQ(list.count(), 1);
}

TEST(XmlDomAttributesTest, ChildRowsFollowTheChildrenAndSkipComments) {
    XmlDocument doc = parse(
        "<info><author>A</author><!-- note --><keywords k=\"1\">K</keywords><comment/></info>");
    CAttrList list;
    ASSERT_EQ(xmldomGetChildAttributes(doc.root(), list), kOk);
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list.elementName(0), "author");
    EXPECT_EQ(list.text(0), "A");
    EXPECT_EQ(list.elementName(1), "keywords");
    EXPECT_EQ(list.attrName(1), "k");
    EXPECT_EQ(list.text(1), "K");
    EXPECT_EQ(list.elementName(2), "comment");
    EXPECT_EQ(list.attrName(2), "nicht belegt");
    EXPECT_EQ(xmldomGetChildAttributes(nullptr, list), kErrDom);
}

TEST(XmlDomAttributesTest, ListAccessorsCompareWithoutCaseAndReadNumbersLikeAtoi) {
    CAttrList list;
    ASSERT_TRUE(list.append("Sound", "Instr", "12abc", " -7 apples"));
    ASSERT_TRUE(list.append("sound", "volume", "99999999999", "x"));
    ASSERT_TRUE(list.append("d", "y", "-4.5e0", "1.5"));
    EXPECT_TRUE(list.elementNameIs(0, "sOUND"));
    EXPECT_TRUE(list.attrNameIs(0, "instr"));
    EXPECT_TRUE(list.valueIs(0, "12ABC"));
    EXPECT_TRUE(list.textIs(1, "X"));
    EXPECT_FALSE(list.attrNameIs(0, "instrument"));
    EXPECT_EQ(list.valueAsInt(0), 12);
    EXPECT_EQ(list.textAsInt(0), -7);
    EXPECT_EQ(list.valueAsInt(1), INT_MAX);
    EXPECT_EQ(list.textAsInt(1), 0);
    EXPECT_DOUBLE_EQ(list.valueAsFloat(2), -4.5);
    EXPECT_EQ(list.elementTextLength(0), 10);
    // Missing rows answer neutrally.
    for (int i : {-1, 3, 100}) {
        EXPECT_FALSE(list.attrNameIs(i, ""));
        EXPECT_FALSE(list.valueIs(i, ""));
        EXPECT_FALSE(list.elementNameIs(i, ""));
        EXPECT_FALSE(list.textIs(i, ""));
        EXPECT_EQ(list.valueAsInt(i), 0);
        EXPECT_EQ(list.valueAsFloat(i), 0.0);
        EXPECT_EQ(list.textAsInt(i), 0);
        EXPECT_EQ(list.elementTextLength(i), 0);
        EXPECT_EQ(list.value(i), "");
    }
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

TEST(XmlDomLookupTest, ChildrenAreFoundCountedAndStepped) {
    XmlDocument doc = parse("<r><a i=\"0\"/><b/><a i=\"1\"/><A/><x:a xmlns:x=\"urn:x\"/></r>");
    xmlNodePtr root = doc.root();
    xmlNodePtr found = nullptr;

    EXPECT_EQ(xmldomGetChild(root, "a", &found), kOk);
    EXPECT_EQ(xmldomAttribute(found, "i"), "0");
    EXPECT_EQ(xmldomGetChildN(root, "a", 1, &found), kOk);
    EXPECT_EQ(xmldomAttribute(found, "i"), "1");
    EXPECT_EQ(xmldomGetChildN(root, "a", 2, &found), kXmlNotFound);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(xmldomGetChild(root, "x:a", &found), kOk);
    EXPECT_EQ(xmldomGetChild(root, "c", &found), kXmlNotFound);
    EXPECT_EQ(xmldomGetChild(nullptr, "a", &found), kErrDom);

    // One matching child: index 1 is not there.
    xmlNodePtr b = nullptr;
    ASSERT_EQ(xmldomGetChild(root, "b", &b), kOk);
    EXPECT_EQ(xmldomGetChildN(root, "b", 0, &found), kOk);
    EXPECT_EQ(xmldomGetChildN(root, "b", 1, &found), kXmlNotFound);

    int count = -1;
    EXPECT_EQ(xmldomCountChildren(root, "a", &count), kOk);
    EXPECT_EQ(count, 2);  // names are compared with case, "x:a" is another name
    EXPECT_EQ(xmldomCountChildren(root, "none", &count), kOk);
    EXPECT_EQ(count, 0);

    EXPECT_EQ(xmldomGetNextSibling(b, 0, &found), kOk);
    EXPECT_EQ(found, b);
    EXPECT_EQ(xmldomGetNextSibling(b, 2, &found), kOk);
    EXPECT_EQ(xmldomNodeName(found), "A");
    EXPECT_EQ(xmldomGetNextSibling(b, 4, &found), kXmlNotFound);
    EXPECT_EQ(xmldomGetNextSibling(b, -1, &found), kErrDom);
}

TEST(XmlDomBuildTest, IndentationGoesBeforeTheElementAsItsOwnTextNode) {
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    xmlNodePtr element = nullptr;
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, root, "first").depth(3).indent()), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, root, "second").depth(3).indent()), kOk);
    element = root->last;
    ASSERT_EQ(xmldomNodeName(element), "second");
    ASSERT_NE(element->prev, nullptr);
    EXPECT_EQ(element->prev->type, XML_TEXT_NODE);
    EXPECT_EQ(xmldomNodeText(element->prev), "\n\t\t\t");

    // Two indents in a row stay two nodes, so that one can be taken out again.
    ASSERT_EQ(xmldomAppendIndent(doc, root, 1), kOk);
    ASSERT_EQ(xmldomAppendIndent(doc, root, 2), kOk);
    EXPECT_EQ(xmldomNodeText(root->last), "\n\t\t");
    EXPECT_EQ(xmldomRemoveLastText(root), kOk);
    EXPECT_EQ(xmldomNodeText(root->last), "\n\t");
    EXPECT_EQ(xmldomRemoveLastText(root), kOk);
    EXPECT_EQ(xmldomRemoveLastText(root), kXmlNotFound);  // now an element
    EXPECT_EQ(xmldomRemoveTextBefore(element, root), kOk);
    EXPECT_EQ(element->prev->type, XML_ELEMENT_NODE);
    EXPECT_EQ(xmldomRemoveTextBefore(element, root), kXmlNotFound);
    EXPECT_EQ(xmldomRemoveTextBefore(element, nullptr), kErrDom);

    // An indentation never grows past 255 characters.
    ASSERT_EQ(xmldomAppendIndent(doc, root, 1000), kOk);
    EXPECT_EQ(xmldomNodeText(root->last).size(), kMaxIndentChars);
}

TEST(XmlDomBuildTest, DetachedElementsAreAttachedLaterWithTheirIndentation) {
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    xmlNodePtr info = nullptr;
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "info").out(&info)), kOk);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(doc.isDetached(info));
    EXPECT_EQ(root->children, nullptr);  // not attached yet
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, info, "comment")
                                      .attr("a", "1")
                                      .attr("b", "2")
                                      .depth(2)
                                      .text("engine")
                                      .indent()),
              kOk);
    ASSERT_EQ(xmldomAppendChild(doc, root, info, 1, true, true), kOk);
    EXPECT_FALSE(doc.isDetached(info));
    ASSERT_EQ(xmldomAppendIndent(doc, root, 0), kOk);
    EXPECT_EQ(serialise(doc),
              kDeclaration +
                  "\n<score xmlns=\"http://www.tavrena.com/TvrXML/1.0\">\n"
                  "\t<info>\n\t\t<comment a=\"1\" b=\"2\">engine</comment>\n\t</info>\n"
                  "</score>\n");

    // Nothing goes below itself, and nothing of another document is taken.
    EXPECT_EQ(xmldomAppendChild(doc, info, root, 0, false, false), kErrXmlElement);
    xmlNodePtr otherRoot = nullptr;
    XmlDocument other = newTvrxml(otherRoot);
    EXPECT_EQ(xmldomAppendChild(doc, root, otherRoot, 0, false, false), kErrXmlElement);
    EXPECT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "orphan")), kErrXmlElement);
}

TEST(XmlDomBuildTest, ElementsLeftDetachedAreFreedWithTheDocument) {
    // Run under the leak checker: every element below is freed exactly once.
    xmlNodePtr root = nullptr;
    XmlDocument doc = newTvrxml(root);
    xmlNodePtr system = nullptr;
    xmlNodePtr staves = nullptr;
    xmlNodePtr lonely = nullptr;
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "system").out(&system)), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "staves").out(&staves)), kOk);
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(doc, nullptr, "lonely").text("x").out(&lonely)),
              kOk);
    // staves goes into system, which itself stays detached.
    ASSERT_EQ(xmldomAppendChild(doc, system, staves, 3, true, true), kOk);
    EXPECT_FALSE(doc.isDetached(staves));
    EXPECT_TRUE(doc.isDetached(system));

    XmlDocument moved = std::move(doc);
    EXPECT_FALSE(doc);
    EXPECT_TRUE(moved.isDetached(lonely));
    moved.reset();
    EXPECT_FALSE(moved);
}
