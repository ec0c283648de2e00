// Element helpers shared by the parts of the MusicXML writer.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "musicxml/mxml_writer.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
class CMxmlFile;
}

namespace scoreconv::mxw {

struct Attr {
    std::string_view name;
    std::string value;
};

// Appends <name attrs>text</name> to parent, indented for depth. An empty text
// makes an empty element.
int leaf(scorecore::XmlDocument& doc, xmlNodePtr parent, std::string_view name, int depth,
         std::string_view text = {}, std::initializer_list<Attr> attrs = {});
// Makes a detached element to be filled and attached later.
int detached(scorecore::XmlDocument& doc, std::string_view name, xmlNodePtr* out,
             std::initializer_list<Attr> attrs = {});
// Attaches a filled element at depth, indented before and inside.
int attach(scorecore::XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth);
// Takes an attached child out of parent with the indentation around it, so
// that attach can put it back elsewhere. kOk or kErrDom.
int takeOut(scorecore::XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child);

// The last element child of node, or null.
xmlNodePtr lastElement(xmlNodePtr node);
// The first element child of node named name, or null.
xmlNodePtr firstNamed(xmlNodePtr node, std::string_view name);
bool isNamed(const xmlNode* node, std::string_view name);

// The part record at index (-1 the current one), or null.
CMxmlWriterPart* partAt(CMxmlFile& file, int32_t index);
// The part and its "measure" at the writer's current measure; kErrIndex when
// either is missing.
int currentMeasure(CMxmlFile& file, int32_t partIndex, CMxmlWriterPart** part, xmlNodePtr* measure);

}  // namespace scoreconv::mxw
