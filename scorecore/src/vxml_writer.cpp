// The TvrXML writer: builds a new document while a converter walks a score bar by
// bar. The frame (info, layout, bar numbering) is attached to the root at once;
// systems, staves and voices are built detached and held in the system tree, so
// that every voice can take its objects in any order; the objects themselves are
// written as text (vxml_writer_objects.cpp), and appendSystems puts it all
// together at the end (vxml_writer_systems.cpp). Indentation is ours: a line feed
// and one tab per depth before each element, and before the closing tag of an
// element that has children.
#include "scorecore/vxml_writer.h"

#include "scorecore/result_codes.h"
#include "scorecore/sc_util.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "vxml_build.h"
#include "vxml_packed.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace scorecore {

namespace {

constexpr std::string_view kTextFace = "Times New Roman";

using vxmlbuild::attach;
using vxmlbuild::build;
using namespace vxmlbuild::depth;

// Appends an element to the parent named in args, after the indentation for its depth.
int put(XmlElementArgs args) {
    return xmldomAppendElement(args.indent()) == kOk ? kOk : kErrXmlElement;
}

// --- layout ---------------------------------------------------------------------------

// The staff-line distance for a staff count: 23 / count, at most 1.8.
double staffLineDistance(std::size_t staffCount) {
    return staffCount > 0 ? std::min(23.0 / static_cast<double>(staffCount), 1.8) : 1.8;
}

// First and last line of a "notelines" pattern.
std::pair<int, int> lineRange(std::string_view pattern) {
    int from = 0;
    while (from < 10 && static_cast<std::size_t>(from) < pattern.size() && pattern[from] == '_') ++from;
    int to = from;
    while (static_cast<std::size_t>(to + 1) < pattern.size() && pattern[to + 1] == '|') ++to;
    return {from, to};
}

const CScorePartGroup* groupOfStaff(const CScorePartGroupList* groups, int staff) {
    if (groups == nullptr) return nullptr;
    for (int i = 0; i < groups->count(); ++i) {
        const CScorePartGroup* group = groups->item(i);
        if (group != nullptr && group->firstStaff <= staff && staff <= group->lastStaff) return group;
    }
    return nullptr;
}

int appendNotation(XmlDocument& doc, xmlNodePtr staffLayout, const VxmlStaffSetup& staff) {
    const std::string_view pattern = staffLinePattern(staff.lineCount);
    XmlElementArgs notationArgs(doc, nullptr, "notation");
    notationArgs.attr("defaultClef", clefText(staff.clef));
    if (staff.lineCount != 5) notationArgs.attr("notelines", std::string(pattern));
    xmlNodePtr notation = build(notationArgs);
    if (notation == nullptr) return kErrVxmlLayout;
    XmlElementArgs barlines(doc, notation, "barlines");
    barlines.depth(kDepthStaffLayoutChild + 1);
    if (staff.barlineFlag == 0) {
        barlines.attr("from", "3").attr("to", "7");
    } else {
        const auto [from, to] = lineRange(pattern);
        barlines.attr("mode", "internal").attr("from", std::to_string(from)).attr("to", std::to_string(to));
    }
    const int rc = put(barlines);
    return rc != kOk ? rc : attach(doc, staffLayout, notation, kDepthStaffLayoutChild);
}

int appendSound(XmlDocument& doc, xmlNodePtr staffLayout, const VxmlStaffSetup& staff) {
    const CMidiInstr* first = staff.instruments.empty() ? nullptr : &staff.instruments.front();
    const bool percussion = std::any_of(staff.instruments.begin(), staff.instruments.end(),
                                        [](const CMidiInstr& instr) { return instr.hasPercNote(); });
    XmlElementArgs soundArgs(doc, nullptr, "sound");
    if (percussion) soundArgs.attr("percussion", "true");
    soundArgs.attr("instr", std::to_string(percussion || first == nullptr ? 0 : first->SrcProgPercId));
    soundArgs.attr("volume", "74");
    if (staff.transpose != 0) soundArgs.attr("transpose", std::to_string(staff.transpose));
    // The channel byte counts as signed: 255 is "none".
    if (first != nullptr && static_cast<std::int8_t>(first->SrcChannel) >= 0) {
        soundArgs.attr("preferredChannel", std::to_string(first->SrcChannel));
    }
    xmlNodePtr sound = build(soundArgs);
    if (sound == nullptr) return kErrVxmlLayout;
    if (percussion) {
        xmlNodePtr assignment = build(XmlElementArgs(doc, nullptr, "outputAssignment"));
        if (assignment == nullptr) return kErrVxmlLayout;
        for (const CMidiInstr& instr : staff.instruments) {
            // A source key that was never set has nothing to map from.
            if (!instr.hasPercNote() || instr.UserProgram == CMidiInstr::kUnset ||
                instr.UserProgram == instr.PercNote) {
                continue;
            }
            const int rc = xmldomAppendElement(XmlElementArgs(doc, assignment, "map")
                                                   .attr("from", std::to_string(instr.UserProgram))
                                                   .attr("to", std::to_string(instr.PercNote)));
            if (rc != kOk) return kErrXmlElement;
        }
        // The maps stand on the line of their parent, so its closing tag follows them.
        if (xmldomAppendChild(doc, sound, assignment, kDepthStaffLayoutChild + 1, false, true) != kOk) {
            return kErrXmlElement;
        }
    }
    return attach(doc, staffLayout, sound, kDepthStaffLayoutChild);
}

int appendStaffLayout(XmlDocument& doc, xmlNodePtr staves, const VxmlStaffSetup& staff,
                      const std::string& description, const CScorePartGroup* group) {
    xmlNodePtr staffLayout = build(XmlElementArgs(doc, nullptr, "staffLayout").attr("description", description));
    if (staffLayout == nullptr) return kErrVxmlLayout;
    int rc = appendNotation(doc, staffLayout, staff);
    if (rc != kOk) return rc;
    const std::string distance = std::to_string(scRound(staff.distance * 1.5) + 5);
    rc = put(XmlElementArgs(doc, staffLayout, "distances")
                 .depth(kDepthStaffLayoutChild)
                 .attr("top", staff.topFlag == 1 ? "5" : distance)
                 .attr("bottom", distance));
    if (rc != kOk) return rc;
    XmlElementArgs instrument(doc, staffLayout, "instrument");
    instrument.depth(kDepthStaffLayoutChild).attr("name", staff.name).attr("abbrev", staff.abbreviation);
    if (group != nullptr && !group->name.empty()) instrument.attr("pairName", group->name);
    if (group != nullptr && !group->abbreviation.empty()) {
        instrument.attr("pairAbbrev", group->abbreviation);
    }
    rc = put(instrument);
    if (rc != kOk) return rc;
    rc = appendSound(doc, staffLayout, staff);
    return rc != kOk ? rc : attach(doc, staves, staffLayout, kDepthStaffLayout);
}

// "pages", "distances" and "instrumentNames".
int appendLayoutHead(XmlDocument& doc, xmlNodePtr layout, const std::string& normal) {
    int rc = put(XmlElementArgs(doc, layout, "pages")
                     .depth(kDepthLayoutChild)
                     .attr("left", "20").attr("top", "20").attr("right", "20").attr("bottom", "20"));
    if (rc != kOk) return rc;
    xmlNodePtr distances = build(XmlElementArgs(doc, nullptr, "distances"));
    if (distances == nullptr) return kErrVxmlLayout;
    rc = put(XmlElementArgs(doc, distances, "staffLines")
                 .depth(kDepthLayoutChild + 1)
                 .attr("small", "1.2").attr("normal", normal).attr("pageObj", "1.8"));
    if (rc == kOk) {
        rc = put(XmlElementArgs(doc, distances, "systems")
                     .depth(kDepthLayoutChild + 1)
                     .attr("top", "4").attr("between", "4").attr("pageJustified", "exceptLast"));
    }
    if (rc == kOk) rc = attach(doc, layout, distances, kDepthLayoutChild);
    if (rc != kOk) return rc;
    xmlNodePtr names = build(XmlElementArgs(doc, nullptr, "instrumentNames"));
    if (names == nullptr) return kErrVxmlLayout;
    rc = put(XmlElementArgs(doc, names, "font")
                 .depth(kDepthLayoutChild + 1)
                 .attr("face", std::string(kTextFace)).attr("height", "12"));
    return rc != kOk ? rc : attach(doc, layout, names, kDepthLayoutChild);
}

// "brackets" (when there are groups), "spacing" and "beamFlattening".
int appendLayoutTail(XmlDocument& doc, xmlNodePtr layout, const CScorePartGroupList* groups) {
    if (groups != nullptr && groups->count() > 0) {
        xmlNodePtr brackets = build(XmlElementArgs(doc, nullptr, "brackets"));
        if (brackets == nullptr) return kErrVxmlLayout;
        for (int i = 0; i < groups->count(); ++i) {
            const CScorePartGroup* group = groups->item(i);
            XmlElementArgs bracket(doc, brackets, "bracket");
            bracket.depth(kDepthLayoutChild + 1)
                .attr("from", std::to_string(group->firstStaff))
                .attr("to", std::to_string(group->lastStaff));
            if (group->symbol == 2) bracket.attr("curly", "true");
            const int rc = put(bracket);
            if (rc != kOk) return rc;
        }
        const int rc = attach(doc, layout, brackets, kDepthLayoutChild);
        if (rc != kOk) return rc;
    }
    const int rc = put(XmlElementArgs(doc, layout, "spacing")
                           .depth(kDepthLayoutChild).attr("rel", "75").attr("abs", "16"));
    if (rc != kOk) return rc;
    return put(XmlElementArgs(doc, layout, "beamFlattening")
                   .depth(kDepthLayoutChild)
                   .attr("from", "49").attr("to", "29").attr("fromMax", "148").attr("toMax", "55"));
}

}  // namespace

// --- frame ----------------------------------------------------------------------------

int CVxmlFile::appendInfo(std::string_view engineText) {
    if (!document || root == nullptr) return kErrVxmlInfo;
    xmlNodePtr info = build(XmlElementArgs(document, nullptr, "info"));
    if (info == nullptr) return kErrVxmlInfo;
    const int rc = put(XmlElementArgs(document, info, "comment").depth(kDepthRootChild + 1).text(engineText));
    return rc != kOk ? rc : attach(document, root, info, kDepthRootChild);
}

int CVxmlFile::appendLayout(const VxmlLayoutArgs& layoutArgs) {
    if (!document || root == nullptr) return kErrVxmlLayout;
    const double distance = staffLineDistance(layoutArgs.staves.size());
    const std::string normal = scFormatDouble(distance, 2);
    const double written = std::strtod(normal.c_str(), nullptr);
    if (written < 1.8) layoutScale = std::max(1.8 / (written > 0.0 ? written : distance), 1.0);

    xmlNodePtr layout = build(XmlElementArgs(document, nullptr, "layout"));
    if (layout == nullptr) return kErrVxmlLayout;
    int rc = appendLayoutHead(document, layout, normal);
    if (rc != kOk) return rc;
    xmlNodePtr staves = build(XmlElementArgs(document, nullptr, "staves"));
    if (staves == nullptr) return kErrVxmlLayout;
    for (std::size_t i = 0; i < layoutArgs.staves.size(); ++i) {
        const int index = static_cast<int>(i);
        rc = appendStaffLayout(document, staves, layoutArgs.staves[i], staffLayoutName(index + 1),
                               groupOfStaff(layoutArgs.groups, index));
        if (rc != kOk) return rc;
    }
    rc = attach(document, layout, staves, kDepthLayoutChild);
    if (rc == kOk) rc = appendLayoutTail(document, layout, layoutArgs.groups);
    return rc != kOk ? rc : attach(document, root, layout, kDepthRootChild);
}

int CVxmlFile::appendBarCount() {
    if (!document || root == nullptr) return kErrXmlElement;
    xmlNodePtr barCount = build(
        XmlElementArgs(document, nullptr, "barCount").attr("frame", "0").attr("x", "1").attr("y", "3.5"));
    if (barCount == nullptr) return kErrXmlElement;
    const int rc = put(XmlElementArgs(document, barCount, "font")
                           .depth(kDepthRootChild + 1)
                           .attr("face", std::string(kTextFace)).attr("height", "8"));
    return rc != kOk ? rc : attach(document, root, barCount, kDepthRootChild);
}

int CVxmlFile::createMainSystemNode() {
    if (!document) return kErrVxmlSystemsNode;
    packed_.reset();
    systemsNode = build(XmlElementArgs(document, nullptr, "systems"));
    return systemsNode != nullptr ? kOk : kErrVxmlSystemsNode;
}

// --- systems, staves, voices ----------------------------------------------------------

int CVxmlFile::appendSystem(int tempo, int barNumber, int firstBar, int lastBar) {
    if (!document) return kErrXmlElement;
    if (curSystem != getSystemCount()) return kErrIndex;
    if (!addSystem()) return kErrOutOfMemory;
    objectsCharset_ = xmldomCharset(document);
    CDomNodeGroup& system = systems.back();
    system.firstBar = firstBar;
    system.lastBar = lastBar;
    system.tempo = tempo;
    system.barNumbering.nAdd = std::max(barNumber - 1, 0);
    system.barNumbering.reset = barNumber == 1 ? 1 : 0;
    system.node = build(XmlElementArgs(document, nullptr, "system")
                            .attr("beamGrouping", "1")
                            .attr("tempo", std::to_string(tempo))
                            .attr("justified", "true")
                            .attr("instrNotation", curSystem == 0 ? "long" : "short"));
    if (system.node == nullptr) return kErrXmlElement;
    const int rc = put(XmlElementArgs(document, system.node, "barCount")
                           .depth(kDepthSystemChild)
                           .attr("nAdd", std::to_string(system.barNumbering.nAdd))
                           .attr("reset", barNumber == 1 ? "true" : "false"));
    if (rc != kOk) return rc;
    system.stavesNode = build(XmlElementArgs(document, nullptr, "staves"));
    return system.stavesNode != nullptr ? kOk : kErrXmlElement;
}

int CVxmlFile::appendStaff(const CMeter& timeSig, int voiceCount) {
    CDomNodeGroup* system = systemAt(-1);
    if (system == nullptr || curStaff != system->itemCount()) return kErrIndex;
    if (!document) return kErrXmlElement;
    if (!system->addItem(kDefaultTicksPerQuarter)) return kErrOutOfMemory;
    CDomNodeItem& staff = system->items.back();
    staff.timeSig = timeSig;
    staff.layoutName = staffLayoutName(curStaff + 1);
    XmlElementArgs staffArgs(document, nullptr, "staff");
    staffArgs.attr("layout", staff.layoutName);
    const std::string time = timeText(timeSig);
    if (!time.empty()) staffArgs.attr("defaultTime", time);
    staff.node = build(staffArgs);
    staff.voicesNode = build(XmlElementArgs(document, nullptr, "voices"));
    if (staff.node == nullptr || staff.voicesNode == nullptr) return kErrXmlElement;
    for (int i = 0; i < voiceCount; ++i) {
        curVoice = staff.voiceCount();
        const int rc = appendVoice(voiceCount < 2 ? 0 : (i % 2 != 0 ? 2 : 1));
        if (rc != kOk) return rc;
    }
    return kOk;
}

int CVxmlFile::appendVoice(int stemDir) {
    CDomNodeItem* staff = staffAt(-1, -1);
    // A staff written out as text (packStaves) has all its voices.
    if (staff == nullptr || staff->sealed || (packed_ && staff->node == nullptr)) return kErrIndex;
    if (!document) return kErrXmlElement;
    if (!staff->addVoice()) return kErrOutOfMemory;
    curVoice = staff->voiceCount() - 1;
    CVxmlVoice& voice = staff->voices.back();
    voice.stemDir = stemDir == 1 || stemDir == 2 ? stemDir : 0;
    XmlElementArgs voiceArgs(document, nullptr, "voice");
    if (voice.stemDir != 0) voiceArgs.attr("stemDir", voice.stemDir == 1 ? "up" : "down");
    voice.voiceNode = build(voiceArgs);
    xmlNodePtr lyrics = build(XmlElementArgs(document, nullptr, "lyricsSettings")
                                  .attr("firstLine", voice.stemDir == 1 ? "-6" : "6")
                                  .attr("lineDist", "1.5"));
    if (voice.voiceNode == nullptr || lyrics == nullptr) return kErrXmlElement;
    int rc = put(XmlElementArgs(document, lyrics, "font")
                     .depth(kDepthVoiceChild + 1)
                     .attr("face", std::string(kTextFace)).attr("height", "10"));
    if (rc == kOk) rc = attach(document, voice.voiceNode, lyrics, kDepthVoiceChild);
    if (rc != kOk) return rc;
    voice.noteObjectsNode = build(XmlElementArgs(document, nullptr, "noteObjects"));
    return voice.noteObjectsNode != nullptr ? kOk : kErrXmlElement;
}

}  // namespace scorecore
