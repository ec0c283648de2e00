// The TvrXML writer: builds a new document element by element while a converter walks
// a score bar by bar. The frame (info, layout, bar numbering) is attached to the root
// at once; systems, staves and voices are built detached and held in the system tree,
// so that every voice can take its objects in any order, and appendSystems attaches
// them all at the end. Indentation is ours: a line feed and one tab per depth before
// each element, and before the closing tag of an element that has children.
#include "scorecore/vxml_writer.h"

#include "scorecore/result_codes.h"
#include "scorecore/sc_util.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "voice_packer.h"
#include "vxml_build.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace scorecore {

namespace {

// Depths below the root (the root's children are at 1).
constexpr int kDepthRootChild = 1;
constexpr int kDepthLayoutChild = 2;
constexpr int kDepthStaffLayout = 3;
constexpr int kDepthStaffLayoutChild = 4;
constexpr int kDepthSystem = 2;
constexpr int kDepthSystemChild = 3;  // "barCount", "staves"
constexpr int kDepthStaff = 4;
constexpr int kDepthVoices = 5;
constexpr int kDepthVoice = 6;
constexpr int kDepthVoiceChild = 7;  // "lyricsSettings", "noteObjects"
constexpr int kDepthNoteObject = 8;
constexpr int kDepthObjectChild = 9;

constexpr std::string_view kTextFace = "Times New Roman";

// A rest longer than this many of the longest note values is cut there; no score
// holds such a rest, but a file may claim one.
constexpr int kMaxRestPieces = 1024;

// Note values from the longest; their bases and ticks come from the vocabulary, so
// that what is written reads back through the same table.
constexpr std::array<std::string_view, 11> kTypeNames = {
    "long", "breve", "whole", "half", "quarter", "eighth", "16th", "32nd", "64th", "128th", "256th",
};
constexpr std::string_view kShortestBase = "1/256";

using vxmlbuild::attach;
using vxmlbuild::build;
using vxmlbuild::hasElementChild;

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

// --- durations ------------------------------------------------------------------------

struct DurationChoice {
    std::string base;
    int dots = 0;
    int ticks = 0;  // what the written duration stands for; 0 when it cannot be counted
};

bool isTripartite(const CScoreEvent& event) {
    return event.tupletNormal > 0 && event.tupletNormal % 3 == 0;
}
bool isProlong(const CScoreEvent& event) { return event.tupletCount < event.tupletNormal; }

// Whether a base with dots in a tuplet of actual over normal notes reads back as
// target ticks, with either of the reader's roundings.
bool readsBack(std::string_view base, int dots, int actual, int normal, int target) {
    for (const bool truncate : {false, true}) {
        TupletRounding rounding{truncate};
        const NoteDurationText text{base, dots, actual, normal, false};
        if (noteDurationTicks(text, CMeter{}, rounding) == target) return true;
    }
    return false;
}

// The note value (with the given dots, else none) that reads back as the ticks.
std::optional<DurationChoice> exactValue(int ticks, int dots, int actual, int normal) {
    for (const int d : {dots, 0}) {
        for (const std::string_view type : kTypeNames) {
            const std::string base = noteBaseText(type);
            if (readsBack(base, d, actual, normal, ticks)) return DurationChoice{base, d, ticks};
        }
    }
    return std::nullopt;
}

// A duration derived from the ticks alone: an exact value, else the longest that
// fits (the rest of a rest follows in further pieces), else the shortest, which then
// counts nothing.
DurationChoice valueForTicks(int ticks, int dots, int actual, int normal) {
    if (auto exact = exactValue(ticks, dots, actual, normal)) return *exact;
    for (const std::string_view type : kTypeNames) {
        const std::string base = noteBaseText(type);
        TupletRounding rounding;
        const int fits = noteDurationTicks({base, 0, actual, normal, false}, CMeter{}, rounding);
        if (fits >= 1 && fits <= ticks) return DurationChoice{base, 0, fits};
    }
    return DurationChoice{std::string(kShortestBase), 0, 0};
}

bool isWrittenBase(std::string_view text) {
    return std::any_of(kTypeNames.begin(), kTypeNames.end(),
                       [text](std::string_view type) { return noteBaseText(type) == text; });
}

DurationChoice chooseDuration(const CScoreEvent& event) {
    const std::string& type = event.baseText;
    const int actual = event.tupletCount;
    const int normal = actual > 0 ? tupletNormalCount(actual, isTripartite(event), isProlong(event)) : 0;
    if (type == "getit") return valueForTicks(event.duration, event.dots, actual, normal);
    std::string base = noteBaseText(type);
    if (base.empty() && isWrittenBase(type)) base = type;
    // Any other text is written as it stands, but nothing can count it.
    if (base.empty()) return DurationChoice{type, event.dots, 0};
    const bool named = base != type;
    if (actual > 0 && named && !readsBack(base, event.dots, actual, normal, event.duration)) {
        // The stored type and the tuplet disagree with the ticks: the ticks win, so
        // that the duration reads back as it was.
        if (auto exact = exactValue(event.duration, event.dots, actual, normal)) return *exact;
    }
    return DurationChoice{base, event.dots, event.duration};
}

// --- chords ---------------------------------------------------------------------------

int appendChordDisplay(XmlDocument& doc, xmlNodePtr chord, const CScoreEvent& event) {
    XmlElementArgs display(doc, chord, "display");
    display.depth(kDepthObjectChild);
    bool any = false;
    if (event.isKind(kKindGrace) || event.isKind(kKindSmall)) {
        display.attr("small", "true");
        any = true;
    }
    if (event.isKind(kKindInvisible)) {
        display.attr("invisible", "true");
        any = true;
    }
    if (event.notationStaff != 0) {
        display.attr("notationStaff", event.notationStaff == 1 ? "up" : "down");
        any = true;
    }
    return any ? put(display) : kOk;
}

int appendStemAndBeam(XmlDocument& doc, xmlNodePtr chord, const CScoreEvent& event) {
    const bool grace = event.isKind(kKindGrace);
    XmlElementArgs stem(doc, chord, "stem");
    stem.depth(kDepthObjectChild);
    bool any = false;
    if (event.hasStem(1) || event.hasStem(2)) {
        stem.attr("dir", event.hasStem(1) ? "up" : "down");
        any = true;
    }
    // On a grace note bit 4 is the slash, not a tremolo.
    const std::uint32_t tremolo = event.stem & (grace ? 8u | 16u | 32u | 64u : 4u | 8u | 16u | 32u | 64u);
    if (tremolo != 0) {
        const char* bars = (tremolo & 4u) ? "1" : (tremolo & 8u) ? "2" : (tremolo & 16u) ? "3"
                         : (tremolo & 32u) ? "4" : "5";
        stem.attr("tremoloBars", bars);
        any = true;
    }
    if (any) {
        const int rc = put(stem);
        if (rc != kOk) return rc;
    }
    if (!grace && event.beam == 0) return kOk;
    const bool split = (grace && event.beam == 0) || (event.beam & 4) != 0;
    return put(XmlElementArgs(doc, chord, "beam").depth(kDepthObjectChild).attr("group", split ? "split" : "force"));
}

int appendLyric(XmlDocument& doc, xmlNodePtr chord, const CScoreEvent& event) {
    xmlNodePtr lyric = build(XmlElementArgs(doc, nullptr, "lyric"));
    if (lyric == nullptr) return kErrXmlElement;
    for (int i = 0; i < event.lyricCount(); ++i) {
        const CScoreLyric& item = event.lyrics[static_cast<std::size_t>(i)];
        XmlElementArgs verse(doc, lyric, "verse");
        verse.depth(kDepthObjectChild + 1).attr("i", std::to_string(i));
        if (item.extender != 0) verse.attr("extender", "true");
        if (item.number == 2 || item.number == 3) verse.attr("hyphen", "true");
        verse.attr("text", item.text);
        const int rc = put(verse);
        if (rc != kOk) return rc;
    }
    return attach(doc, chord, lyric, kDepthObjectChild);
}

int appendHead(XmlDocument& doc, xmlNodePtr heads, const CScoreEvent& event, int head, int fifths) {
    std::string pitch;
    if (!event.getPitchTextRaised(head, pitch)) return kOk;  // nothing to place
    XmlElementArgs headArgs(doc, nullptr, "head");
    headArgs.attr("pitch", pitch);
    std::int32_t shape = 0;
    if (event.getHeadFlags(head, shape) && shape != 0) headArgs.attr("shape", std::string(noteheadText(shape)));
    xmlNodePtr node = build(headArgs);
    if (node == nullptr) return kErrXmlElement;
    const bool altered = event.hasAlter(head);
    const AlterDisplay display =
        alterDisplay(event.accidentals[static_cast<std::size_t>(head)], altered, fifths, event.getStep(head));
    if (display != AlterDisplay::Omit && (altered || display != AlterDisplay::None)) {
        XmlElementArgs alter(doc, node, "alter");
        alter.depth(kDepthObjectChild + 2);
        if (altered) alter.attr("step", event.getAlterText(head));
        if (display == AlterDisplay::Force) alter.attr("display", "force");
        if (display == AlterDisplay::Parenth) alter.attr("display", "parenth");
        const int rc = put(alter);
        if (rc != kOk) return rc;
    }
    if (event.hasTie(kTieStart) || event.hasTie(kTieEnd)) {
        XmlElementArgs tie(doc, node, "tie");
        tie.depth(kDepthObjectChild + 2);
        if (event.hasTie(kTieStart)) tie.attr("begin", "true");
        if (event.hasTie(kTieEnd)) tie.attr("end", "true");
        const int rc = put(tie);
        if (rc != kOk) return rc;
    }
    return attach(doc, heads, node, kDepthObjectChild + 1);
}

int appendHeads(XmlDocument& doc, xmlNodePtr chord, const CScoreEvent& event, int fifths) {
    xmlNodePtr heads = build(XmlElementArgs(doc, nullptr, "heads"));
    if (heads == nullptr) return kErrXmlElement;
    const int count = std::min(event.headCount, kMaxHeads);
    for (int head = 0; head < count; ++head) {
        const int rc = appendHead(doc, heads, event, head, fifths);
        if (rc != kOk) return rc;
    }
    return attach(doc, chord, heads, kDepthObjectChild);
}

// --- rests ----------------------------------------------------------------------------

int appendRestDisplay(XmlDocument& doc, xmlNodePtr rest, const CScoreEvent& event, int bars) {
    XmlElementArgs display(doc, rest, "display");
    display.depth(kDepthObjectChild);
    bool any = false;
    if (bars >= 1) {
        display.attr("churchStyle", bars == 1 ? "true" : "false");
        if (bars >= 2) display.attr("number", "up");
        any = true;
    }
    if (event.isKind(kKindInvisible)) {
        display.attr("invisible", "true");
        any = true;
    }
    if (any) {
        const int rc = put(display);
        if (rc != kOk) return rc;
    }
    if (bars <= 1) return kOk;
    return put(XmlElementArgs(doc, rest, "verticalPos").depth(kDepthObjectChild).attr("centered", "true"));
}

}  // namespace

std::int32_t tupletNormalCount(std::int32_t count, bool tripartite, bool prolong) {
    if (count < 1) return 0;
    std::int64_t below = 0;
    std::int64_t value = tripartite ? 3 : 1;
    while (value < count) {
        below = value;
        value *= 2;
    }
    const std::int64_t above = value > count ? value : value * 2;
    const std::int64_t normal = prolong || below == 0 ? above : below;
    return static_cast<std::int32_t>(std::min<std::int64_t>(normal, std::numeric_limits<std::int32_t>::max()));
}

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
    packing_ = Packing::None;
    std::vector<std::string>().swap(systemsText_);
    systemsPlaceholder_.clear();
    systemsNode = build(XmlElementArgs(document, nullptr, "systems"));
    return systemsNode != nullptr ? kOk : kErrVxmlSystemsNode;
}

// --- systems, staves, voices ----------------------------------------------------------

int CVxmlFile::appendSystem(int tempo, int barNumber, int firstBar, int lastBar) {
    if (!document) return kErrXmlElement;
    if (curSystem != getSystemCount()) return kErrIndex;
    if (!addSystem()) return kErrOutOfMemory;
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
    if (staff == nullptr) return kErrIndex;
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

// --- signs ----------------------------------------------------------------------------

int CVxmlFile::appendClefSign(const CScoreClef& clef, bool force) {
    CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    const auto given = [](const CScoreClef& c) { return c.kind == 3 || c.line != 0; };
    CScoreClef sign = clef;
    if (!given(sign)) {
        if (!force) return kOk;
        const CDomNodeItem* previous = curSystem > 0 ? staffAt(curSystem - 1, curStaff) : nullptr;
        if (previous == nullptr || !given(previous->clef)) return kOk;  // no clef known yet
        sign = previous->clef;
    }
    if (!force && sign.sameAs(staff->clef)) return kOk;
    const std::string text = clefText(sign);
    if (text.empty()) return kOk;
    const int rc = put(XmlElementArgs(document, voice->noteObjectsNode, "clefSign")
                           .depth(kDepthNoteObject).attr("clef", text));
    if (rc == kOk) staff->clef = sign;
    return rc;
}

int CVxmlFile::appendKeySign(int key, bool force) {
    CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    std::int8_t fifths = CKeySig::clampFifths(key);
    const CDomNodeItem* previous = curSystem > 0 ? staffAt(curSystem - 1, curStaff) : nullptr;
    if (force) {
        if (fifths == CKeySig::kUnset) fifths = previous != nullptr ? previous->key : 0;
        // C major needs no sign at a system's start, unless it cancels the key before.
        if (fifths == 0 && (previous == nullptr || previous->key == 0)) return kOk;
    } else if (fifths == CKeySig::kUnset || fifths == staff->key) {
        return kOk;
    }
    const int rc = put(XmlElementArgs(document, voice->noteObjectsNode, "keySign")
                           .depth(kDepthNoteObject).attr("fifths", std::to_string(fifths)));
    // Every voice gets the sign; the staff's key changes once the last one has it.
    if (rc == kOk && curVoice == staff->voiceCount() - 1) staff->key = fifths;
    return rc;
}

int CVxmlFile::appendTimeSign(const CMeter* timeSig) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    const std::string text = timeSig != nullptr ? timeText(*timeSig) : std::string();
    if (text.empty()) return kOk;
    return put(XmlElementArgs(document, voice->noteObjectsNode, "timeSign")
                   .depth(kDepthNoteObject).attr("time", text));
}

int CVxmlFile::appendBarline(int code) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    std::string_view type = barlineText(code);
    if (type.empty()) return kOk;
    bool indent = true;
    if (type == "repBegin") {
        // A repeat that ends and begins again at the same barline is one barline.
        xmlNodePtr last = voice->noteObjectsNode->last;
        if (last != nullptr && last->type == XML_ELEMENT_NODE && xmldomNodeName(last) == "barline" &&
            xmldomAttribute(last, "type") == "repEnd") {
            if (xmldomRemoveChild(last) != kOk) return kErrDom;
            type = "repEndBegin";
            indent = false;  // the removed barline's indentation stays
        }
    }
    return xmldomAppendElement(XmlElementArgs(document, voice->noteObjectsNode, "barline")
                                   .depth(kDepthNoteObject)
                                   .attr("type", std::string(type))
                                   .indent(indent)) == kOk
               ? kOk
               : kErrXmlElement;
}

// --- chords and rests -----------------------------------------------------------------

int CVxmlFile::appendDuration(xmlNodePtr parent, const CScoreEvent& event, int* ticks) {
    if (ticks != nullptr) *ticks = 0;
    if (!document || parent == nullptr) return kErrXmlElement;
    if (event.headCount <= 0 && !event.isKind(kKindRest)) return kOk;
    if (event.baseText.empty()) return kErrNotPresent;
    const DurationChoice choice = chooseDuration(event);
    XmlElementArgs args(document, nullptr, "duration");
    args.attr("base", choice.base);
    if (choice.dots != 0) args.attr("dots", std::to_string(choice.dots));
    if (event.isKind(kKindGrace)) args.attr("noDuration", "true");
    xmlNodePtr duration = build(args);
    if (duration == nullptr) return kErrXmlElement;
    if (event.tupletCount > 0) {
        XmlElementArgs tuplet(document, duration, "tuplet");
        tuplet.depth(kDepthObjectChild + 1).attr("count", std::to_string(event.tupletCount));
        if (isTripartite(event)) tuplet.attr("tripartite", "true");
        if (isProlong(event)) tuplet.attr("prolong", "true");
        const int rc = put(tuplet);
        if (rc != kOk) return rc;
    }
    const int rc = attach(document, parent, duration, kDepthObjectChild);
    if (rc == kOk && ticks != nullptr) *ticks = choice.ticks;
    return rc;
}

int CVxmlFile::appendChord(const CScoreEvent& event) {
    const CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    if (event.headCount <= 0 || event.baseText.empty()) return kOk;
    xmlNodePtr chord = build(XmlElementArgs(document, nullptr, "chord"));
    if (chord == nullptr) return kErrXmlElement;
    int rc = appendDuration(chord, event, nullptr);
    if (rc == kOk) rc = appendChordDisplay(document, chord, event);
    if (rc == kOk) rc = appendStemAndBeam(document, chord, event);
    if (rc == kOk && testConvProps(kConvArticulations) && event.articulation.code != 0) {
        const std::string_view type = articulationText(event.articulation.code);
        if (!type.empty()) {
            rc = put(XmlElementArgs(document, chord, "articulation")
                         .depth(kDepthObjectChild).attr("type", std::string(type)));
        }
    }
    if (rc == kOk && testConvProps(kConvLyrics) && event.lyricCount() > 0) {
        rc = appendLyric(document, chord, event);
    }
    if (rc == kOk) rc = appendDrawObjects(chord, event);
    if (rc == kOk) rc = appendHeads(document, chord, event, staff->key);
    return rc != kOk ? rc : attach(document, voice->noteObjectsNode, chord, kDepthNoteObject);
}

int CVxmlFile::appendRest(const CScoreEvent& event) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr) return kErrIndex;
    CScoreEvent piece;
    if (!event.copyTo(piece)) return kErrOutOfMemory;
    const int bars = noteTypeBars(event.baseText);
    // Each piece covers at least one tick or ends the loop, and the pieces are
    // counted, so no duration can keep it going.
    for (int pieces = 0; piece.duration >= 1; ++pieces) {
        if (pieces == kMaxRestPieces) return kErrNotPresent;
        xmlNodePtr rest = build(XmlElementArgs(document, nullptr, "rest"));
        if (rest == nullptr) return kErrXmlElement;
        int ticks = 0;
        int rc = appendDuration(rest, piece, &ticks);
        if (rc == kOk && !hasElementChild(rest)) rc = kErrNotPresent;
        if (rc != kOk) {
            xmldomRemoveChild(rest);  // a rest without a duration cannot be read
            return rc;
        }
        rc = appendRestDisplay(document, rest, piece, bars);
        // The marks belong to the rest once, not to every piece of it.
        if (rc == kOk && pieces == 0) rc = appendDrawObjects(rest, piece);
        if (rc == kOk) rc = attach(document, voice->noteObjectsNode, rest, kDepthNoteObject);
        if (rc != kOk) return rc;
        if (ticks < 1) return kErrNotPresent;
        piece.duration -= ticks;
    }
    return kOk;
}

// --- the end --------------------------------------------------------------------------

int CVxmlFile::appendSystems() {
    if (!document || root == nullptr || systemsNode == nullptr) return kErrXmlElement;
    if (packing_ != Packing::None) return appendPackedSystems();
    for (CDomNodeGroup& system : systems) {
        for (CDomNodeItem& staff : system.items) {
            for (CVxmlVoice& voice : staff.voices) {
                int rc = attach(document, voice.voiceNode, voice.noteObjectsNode, kDepthVoiceChild);
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

// --- packed systems -------------------------------------------------------------------
//
// The text of a packed document is what appendSystems and a whole-document save
// give: each element after the indentation of its depth, and the closing tag of
// an element with children on a line of its own.

namespace {

void appendIndentText(std::string& out, int depth) {
    out += '\n';
    out.append(static_cast<std::size_t>(depth), '\t');
}

// A voice element whole, with the indentation before its end tag; false when
// an element cannot be made.
int finishVoiceElement(XmlDocument& doc, CVxmlVoice& voice) {
    int rc = attach(doc, voice.voiceNode, voice.noteObjectsNode, kDepthVoiceChild);
    if (rc == kOk && hasElementChild(voice.voiceNode) && xmldomAppendIndent(doc, voice.voiceNode, kDepthVoice) != kOk) {
        rc = kErrXmlElement;
    }
    return rc;
}

// A voice as attaching it to its staff's "voices" and saving would write it,
// the indentation before it included; its elements are freed.
int packVoice(XmlDocument& doc, XmlNodeSaver& saver, CVxmlVoice& voice) {
    if (voice.voiceNode == nullptr) return kOk;  // packed already
    if (const int rc = finishVoiceElement(doc, voice); rc != kOk) return rc;
    std::string text;
    appendIndentText(text, kDepthVoice);
    if (!saver.save(voice.voiceNode, text)) return kErrXmlElement;
    if (xmldomRemoveChild(voice.voiceNode) != kOk) return kErrDom;
    voice.voiceNode = nullptr;
    voice.noteObjectsNode = nullptr;
    text.shrink_to_fit();
    voice.packedText = std::move(text);
    return kOk;
}

// The same, written and freed by the packer: the voice leaves the document
// here, its text comes back through collectPackedVoices.
int handOverVoice(XmlDocument& doc, VoicePacker& packer, CVxmlVoice& voice, VoicePacker::Slot slot) {
    if (voice.voiceNode == nullptr) return kOk;
    if (const int rc = finishVoiceElement(doc, voice); rc != kOk) return rc;
    if (voice.voiceNode->parent == nullptr) return kErrDom;
    xmlNodePtr element = voice.voiceNode;
    xmlUnlinkNode(element);
    voice.voiceNode = nullptr;
    voice.noteObjectsNode = nullptr;
    try {
        packer.pack(element, kDepthVoice, slot);
    } catch (const std::bad_alloc&) {
        xmlFreeNode(element);
        return kErrXmlElement;
    }
    return kOk;
}

// An element's children as they stand, each saved whole.
bool saveChildren(XmlNodeSaver& saver, const xmlNode* element, std::string& out) {
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (!saver.save(child, out)) return false;
    }
    return true;
}

// The element after its indentation, with `inside` written as its content
// (nothing: an empty element); freed afterwards when it waits detached.
template <typename Inside>
int writeElement(XmlDocument& doc, XmlNodeSaver& saver, xmlNodePtr element, int depth, std::string& out,
                 bool hasInside, Inside&& inside) {
    if (element == nullptr) return kErrXmlElement;
    appendIndentText(out, depth);
    const bool withChildren = hasInside || hasElementChild(element);
    if (!withChildren) {
        if (!saver.save(element, out)) return kErrXmlElement;
    } else {
        if (!saver.saveStartTag(element, out) || !saveChildren(saver, element, out)) return kErrXmlElement;
        if (const int rc = inside(); rc != kOk) return rc;
        appendIndentText(out, depth);
        if (!XmlNodeSaver::saveEndTag(element, out)) return kErrXmlElement;
    }
    if (doc.isDetached(element) && xmldomRemoveChild(element) != kOk) return kErrDom;
    return kOk;
}

}  // namespace

int CVxmlFile::packStaves(int firstStaff, int count) {
    if (!document) return kErrXmlElement;
    // Writing the voices out takes as long as a good part of building them:
    // a thread of its own does it where one can be started.
    if (!packer_) {
        try {
            packer_ = std::make_unique<VoicePacker>(document);
            if (!packer_->valid()) packer_.reset();
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }
    std::optional<XmlNodeSaver> saver;
    if (!packer_) {
        saver.emplace(document);
        if (!saver->valid()) return kErrXmlElement;
    }
    const int from = std::max(firstStaff, 0);
    for (std::size_t g = 0; g < systems.size(); ++g) {
        CDomNodeGroup& system = systems[g];
        const int to = static_cast<int>(std::min<long long>(static_cast<long long>(firstStaff) + count, system.itemCount()));
        for (int s = from; s < to; ++s) {
            auto& voices = system.items[static_cast<std::size_t>(s)].voices;
            for (std::size_t v = 0; v < voices.size(); ++v) {
                const VoicePacker::Slot slot{static_cast<int>(g), s, static_cast<int>(v)};
                const int rc = packer_ ? handOverVoice(document, *packer_, voices[v], slot)
                                       : packVoice(document, *saver, voices[v]);
                if (rc != kOk) return rc;
            }
        }
    }
    if (packing_ == Packing::None) packing_ = Packing::Voices;
    return kOk;
}

int CVxmlFile::collectPackedVoices() {
    if (!packer_) return kOk;
    const bool ok = packer_->finish([this](VoicePacker::Slot slot, std::string text) {
        if (CVxmlVoice* voice = voiceAt(slot.system, slot.staff, slot.voice)) voice->packedText = std::move(text);
    });
    packer_.reset();
    return ok ? kOk : kErrXmlElement;
}

int CVxmlFile::appendPackedSystems() {
    if (const int rc = collectPackedVoices(); rc != kOk) return rc;
    XmlNodeSaver saver(document);
    if (!saver.valid()) return kErrXmlElement;
    std::vector<std::string> texts;
    if (!systems.empty()) {
        texts.emplace_back();
        if (!saver.saveStartTag(systemsNode, texts.back())) return kErrXmlElement;
    }
    for (CDomNodeGroup& system : systems) {
        std::string text;
        const auto staves = [&]() {
            for (CDomNodeItem& staff : system.items) {
                const auto voices = [&]() {
                    for (CVxmlVoice& voice : staff.voices) {
                        if (const int rc = packVoice(document, saver, voice); rc != kOk) return rc;
                        text += voice.packedText;
                        voice.clear();
                    }
                    return kOk;
                };
                const auto inStaff = [&]() {
                    return writeElement(document, saver, staff.voicesNode, kDepthVoices, text, !staff.voices.empty(),
                                        voices);
                };
                if (const int rc = writeElement(document, saver, staff.node, kDepthStaff, text, true, inStaff);
                    rc != kOk) {
                    return rc;
                }
                staff.clear();
            }
            return kOk;
        };
        const auto inSystem = [&]() {
            return writeElement(document, saver, system.stavesNode, kDepthSystemChild, text, !system.items.empty(),
                                staves);
        };
        if (const int rc = writeElement(document, saver, system.node, kDepthSystem, text, true, inSystem); rc != kOk) {
            return rc;
        }
        system.clear();
        texts.push_back(std::move(text));
    }
    // The document keeps the "systems" empty; writeFile puts the text in its place.
    std::string placeholder;
    if (!saver.save(systemsNode, placeholder)) return kErrXmlElement;
    if (systems.empty()) {
        texts.push_back(placeholder);
    } else {
        texts.emplace_back();
        appendIndentText(texts.back(), kDepthRootChild);
        if (!XmlNodeSaver::saveEndTag(systemsNode, texts.back())) return kErrXmlElement;
    }
    const int rc = attach(document, root, systemsNode, kDepthRootChild);
    if (rc != kOk) return rc;
    systemsNode = nullptr;
    if (xmldomAppendIndent(document, root, 0) != kOk) return kErrXmlElement;
    systemsText_ = std::move(texts);
    systemsPlaceholder_ = std::move(placeholder);
    packing_ = Packing::Systems;
    return kOk;
}

}  // namespace scorecore
