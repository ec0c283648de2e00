// The MusicXML writer's frame: the output document, "identification", the
// part list, the parts and their measures, and the element helpers the
// measure contents share.
#include "musicxml/mxml_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <new>
#include <string>

#include "musicxml/mxml_file.h"
#include "musicxml/mxml_writer_elements.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrDom;
using scorecore::kErrIndex;
using scorecore::kErrOutOfMemory;
using scorecore::kErrXmlElement;
using scorecore::kOk;
using scorecore::XmlDocument;
using scorecore::XmlElementArgs;

// --- element helpers ------------------------------------------------------------------

namespace mxw {

int leaf(XmlDocument& doc, xmlNodePtr parent, std::string_view name, int depth, std::string_view text,
         std::initializer_list<Attr> attrs) {
    if (parent == nullptr) return kErrXmlElement;
    XmlElementArgs args(doc, parent, name);
    for (const Attr& a : attrs) args.attr(a.name, a.value);
    return scorecore::xmldomAppendElement(args.depth(depth).indent().text(text));
}

int detached(XmlDocument& doc, std::string_view name, xmlNodePtr* out, std::initializer_list<Attr> attrs) {
    XmlElementArgs args(doc, nullptr, name);
    for (const Attr& a : attrs) args.attr(a.name, a.value);
    return scorecore::xmldomAppendElement(args.out(out));
}

int attach(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth) {
    // Only an element holding elements gets a line for its closing tag; a text
    // or an empty element stays on one line.
    return scorecore::xmldomAppendChild(doc, parent, child, depth, lastElement(child) != nullptr, true);
}

int takeOut(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child) {
    if (child == nullptr || child->parent != parent) return kErrDom;
    if (scorecore::xmldomRemoveTextBefore(child, parent) < 0) return kErrDom;
    if (lastElement(child) != nullptr && scorecore::xmldomRemoveLastText(child) < 0) return kErrDom;
    xmlUnlinkNode(child);
    // Held by the document until attached again, so that a failure frees it.
    return doc.holdDetached(child) ? kOk : kErrXmlElement;
}

bool isNamed(const xmlNode* node, std::string_view name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE &&
           std::string_view(reinterpret_cast<const char*>(node->name)) == name;
}

xmlNodePtr lastElement(xmlNodePtr node) {
    if (node == nullptr) return nullptr;
    for (xmlNodePtr c = node->last; c != nullptr; c = c->prev) {
        if (c->type == XML_ELEMENT_NODE) return c;
    }
    return nullptr;
}

xmlNodePtr firstNamed(xmlNodePtr node, std::string_view name) {
    if (node == nullptr) return nullptr;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next) {
        if (isNamed(c, name)) return c;
    }
    return nullptr;
}

CMxmlWriterPart* partAt(CMxmlFile& file, int32_t index) {
    if (index == -1) index = file.writerPart;
    if (index < 0 || static_cast<std::size_t>(index) >= file.writer.parts.size()) return nullptr;
    return &file.writer.parts[static_cast<std::size_t>(index)];
}

int currentMeasure(CMxmlFile& file, int32_t partIndex, CMxmlWriterPart** part, xmlNodePtr* measure) {
    CMxmlWriterPart* p = partAt(file, partIndex);
    const int32_t m = file.writerMeasure;
    if (p == nullptr || m < 0 || m >= p->group.itemCount()) return kErrIndex;
    xmlNodePtr node = p->group.items[static_cast<std::size_t>(m)].node;
    if (node == nullptr) return kErrIndex;
    *part = p;
    *measure = node;
    return kOk;
}

}  // namespace mxw

namespace {

using mxw::Attr;

constexpr std::array<std::string_view, 128> kProgramNames = {
    "Concert grand", "Piano", "Electric piano", "Honky-tonk piano", "Fender Rhodes piano",
    "Piano (Chorus effect)", "Harpsichord", "Hohner Clavinet D6", "Celesta", "Glockenspiel", "Music Box",
    "Vibraphone", "Marimba", "Xylophone", "Tubular bells", "Dulcimer", "Hammond organ", "Percussive organ",
    "Rock organ", "Church organ", "Reed organ", "Accordion", "Harmonica", "Tango accordion",
    "Acoustic guitar (Nylon)", "Acoustic guitar (Steel)", "Jazz guitar (electric)", "Electric guitar (clean)",
    "Electric guitar (muted)", "Electric guitar (overdriven)", "Electric guitar (distorted)",
    "Guitar harmonics", "Double bass fingered", "Electric bass fingered", "Electric bass plectrum",
    "Fretless bass", "Slap bass 1", "Slap bass 2", "Synthesizer bass 1", "Synthesizer bass 2", "Violin",
    "Viola", "Cello", "Double bass bowed", "Violin tremolo", "Violin pizzicato", "Orchestral harp", "Drum",
    "String ensemble 1", "String ensemble 2", "Synth strings 1", "Synth strings 2", "Choir (sings 'A')",
    "Voices (sing 'O')", "Synthesiser voice", "Full orchestra", "Trumpet", "Trombone", "Tuba",
    "Muted trumpet", "Horn", "Brass section", "Synth brass 1", "Synth brass 2", "Soprano saxophone",
    "Alto saxophone", "Tenor saxophone", "Baritone saxophone", "Oboe", "English horn", "Bassoon",
    "Clarinet", "Piccolo", "Flute", "Recorder", "Pan pipes", "Bottle blow", "Shakuhachi", "Whistle",
    "Ocarina", "Lead 1 (Square)", "Lead 2 (Sawtooth)", "Lead 3 (Caliope)", "Lead 4 (Chiff)",
    "Lead 5 (Charang)", "Lead 6 (Voice)", "Lead 7 (Fifths)", "Lead 8 (Brass lead)", "Pad 1 (New Age)",
    "Pad 2 (Warm)", "Pad 3 (Polysynth)", "Pad 4 (Choir)", "Pad 5 (Bowed)", "Pad 6 (metallic)",
    "Pad 7 (Halo)", "Pad 8 (Sweep)", "FX1 (Rain)", "FX2 (Soundtrack)", "FX3 (Crystal)", "FX4 (Atmosphere)",
    "FX5 (Brightness)", "FX6 (Goblins)", "FX7 (Echoes)", "FX8 (Sci-fi)", "Sitar", "Banjo", "Shamisen",
    "Koto", "Kalimba", "Bagpipes", "Fiddle (Western violin)", "Shanai", "Tinkle bell", "Agogo",
    "Steel drums", "Wood block", "Taiko drum", "Melodic tom", "Synthesizer drum", "Cymbal Hi-Hat",
    "Guitar fret noise", "Breath", "Sea shore", "Birdsong", "Telephone ring", "Helicopter", "Applause",
    "Gunshot",
};

constexpr std::string_view kRightsNotice = "Conversion engine (c) 2005 the library's makers. All rights reserved.";
constexpr std::string_view kEncoderLine = "qvp3 score conversion engine";

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04i-%02i-%02i", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return text;
}

uint8_t midiByte(int32_t value, int32_t high) { return static_cast<uint8_t>(std::clamp(value, 0, high)); }

}  // namespace

std::string_view midiProgramName(int32_t program) {
    if (program < 0 || program >= static_cast<int32_t>(kProgramNames.size())) return {};
    return kProgramNames[static_cast<std::size_t>(program)];
}

int createOutputDocument(CMxmlFile& file) {
    file.writer.clear();
    file.setWriterCursor(-1, -1, -1);
    xmlNodePtr root = nullptr;
    if (const int rc = scorecore::xmldomCreateFile({}, file.document, root, scorecore::kXmlDocStartTemplate);
        rc != kOk) {
        return rc;
    }
    file.writer.root = root;
    return kOk;
}

// --- identification and part list ---------------------------------------------------------

int appendIdentification(CMxmlFile& file, const CMxmlDescription& description) {
    XmlDocument& doc = file.document;
    if (file.writer.root == nullptr) return kErrXmlElement;
    xmlNodePtr identification = nullptr;
    xmlNodePtr encoding = nullptr;
    xmlNodePtr misc = nullptr;
    int rc = kOk;
    const auto step = [&rc](int result) {
        if (rc == kOk) rc = result;
        return rc == kOk;
    };
    step(mxw::detached(doc, "identification", &identification)) &&
        step(mxw::leaf(doc, identification, "creator", 2, description.author, {{"type", "author"}})) &&
        step(mxw::leaf(doc, identification, "creator", 2, kRightsNotice, {{"type", "convrights"}})) &&
        step(mxw::detached(doc, "encoding", &encoding)) &&
        step(mxw::leaf(doc, encoding, "software", 3, file.programName)) &&
        step(mxw::leaf(doc, encoding, "encoder", 3, kEncoderLine)) &&
        step(mxw::leaf(doc, encoding, "encoding-date", 3, today())) &&
        step(mxw::attach(doc, identification, encoding, 2)) && step(mxw::detached(doc, "miscellaneous", &misc)) &&
        step(mxw::leaf(doc, misc, "miscellaneous-field", 3, description.keywords, {{"name", "keywords"}})) &&
        step(mxw::leaf(doc, misc, "miscellaneous-field", 3, description.comment, {{"name", "comment"}})) &&
        step(mxw::attach(doc, identification, misc, 2)) &&
        step(mxw::attach(doc, file.writer.root, identification, 1));
    return rc;
}

int appendPartGroup(CMxmlFile& file, xmlNodePtr partList, bool start, const CMxmlBracket& bracket,
                    const scorecore::CVxmlStaffLayout* layout) {
    XmlDocument& doc = file.document;
    const std::string number = std::to_string(bracket.groupNumber + 1);
    if (!start) return mxw::leaf(doc, partList, "part-group", 2, {}, {{"type", "stop"}, {"number", number}});
    if (partList == nullptr) return kErrXmlElement;
    xmlNodePtr group = nullptr;
    if (const int rc = mxw::detached(doc, "part-group", &group, {{"type", "start"}, {"number", number}}); rc != kOk) {
        return rc;
    }
    if (layout != nullptr) {
        if (!layout->pairName.empty()) {
            if (const int rc = mxw::leaf(doc, group, "group-name", 3, layout->pairName); rc != kOk) return rc;
        }
        if (!layout->pairAbbreviation.empty()) {
            if (const int rc = mxw::leaf(doc, group, "group-abbreviation", 3, layout->pairAbbreviation); rc != kOk) {
                return rc;
            }
        }
    }
    if (bracket.kind != 0) {
        const char* symbol = bracket.kind == 1 ? "bracket" : bracket.kind == 2 ? "brace" : "line";
        if (const int rc = mxw::leaf(doc, group, "group-symbol", 3, symbol); rc != kOk) return rc;
    }
    return mxw::attach(doc, partList, group, 2);
}

int appendScorePart(CMxmlFile& file, xmlNodePtr partList, const scorecore::CVxmlStaffLayout& layout) {
    XmlDocument& doc = file.document;
    if (partList == nullptr) return kErrXmlElement;
    CMxmlWriterState& w = file.writer;
    const int32_t partNumber = static_cast<int32_t>(w.instrumentsPerPart.size()) + 1;
    int32_t earlierInstruments = 0;
    for (const int32_t n : w.instrumentsPerPart) earlierInstruments += n;
    // Room first, so that a failure leaves the tables as they were.
    try {
        w.instrumentsPerPart.reserve(w.instrumentsPerPart.size() + 1);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (!file.growStaffTables(1)) return kErrOutOfMemory;
    const int32_t staff = file.staffCount() - 1;

    xmlNodePtr scorePart = nullptr;
    const std::string partId = "P" + std::to_string(partNumber);
    if (const int rc = mxw::detached(doc, "score-part", &scorePart, {{"id", partId}}); rc != kOk) return rc;
    if (const int rc = mxw::leaf(doc, scorePart, "part-name", 3, layout.instrumentName); rc != kOk) return rc;
    if (const int rc = mxw::leaf(doc, scorePart, "part-abbreviation", 3, layout.abbreviation); rc != kOk) return rc;

    const bool percussion = layout.percussion != 0;
    const int32_t instruments = std::max(layout.drumMapCount(), 1);
    for (int32_t k = 0; k < instruments; ++k) {
        scorecore::CMidiInstr instr;
        if (!percussion) {
            instr.PercNote = scorecore::CMidiInstr::kUnset;
            instr.SrcProgPercId = midiByte(layout.program, 127);
            instr.UserProgram = instr.SrcProgPercId;
            instr.SrcChannel = midiByte(layout.preferredChannel, 15);
            instr.Channel = instr.SrcChannel;
        } else {
            const bool mapped = k < layout.drumMapCount();
            instr.SrcChannel = 9;
            instr.Channel = 9;
            instr.SrcProgPercId = midiByte(layout.program, 127);
            // The map takes the key a drum's notes are written with (its id, which
            // the notes name) to the key it sounds (its midi-unpitched).
            instr.UserProgram = mapped ? midiByte(layout.drumMap[static_cast<std::size_t>(k)].sourceKey, 127)
                                       : instr.SrcProgPercId;
            instr.PercNote = mapped ? midiByte(layout.drumMap[static_cast<std::size_t>(k)].targetKey, 127)
                                    : instr.SrcProgPercId;
        }
        const int32_t instrNumber = percussion ? instr.UserProgram + 1 : k + earlierInstruments + 1;
        instr.InstrumentId = partId + (percussion ? "-M" : "-I") + std::to_string(instrNumber);
        bool known = false;
        for (const scorecore::CMidiInstr& have : file.instruments.list(staff)) {
            known |= have.InstrumentId == instr.InstrumentId;
        }
        if (!known && !file.instruments.append(staff, instr)) return kErrOutOfMemory;

        xmlNodePtr scoreInstrument = nullptr;
        const std::string name = percussion ? "MIDI " + std::to_string(instr.UserProgram + 1)
                                            : std::string(midiProgramName(instr.SrcProgPercId));
        if (const int rc = mxw::detached(doc, "score-instrument", &scoreInstrument, {{"id", instr.InstrumentId}});
            rc != kOk) {
            return rc;
        }
        if (const int rc = mxw::leaf(doc, scoreInstrument, "instrument-name", 4, name); rc != kOk) return rc;
        if (const int rc = mxw::attach(doc, scorePart, scoreInstrument, 3); rc != kOk) return rc;

        xmlNodePtr midi = nullptr;
        if (const int rc = mxw::detached(doc, "midi-instrument", &midi, {{"id", instr.InstrumentId}}); rc != kOk) {
            return rc;
        }
        const int32_t channel = percussion ? 10 : instr.Channel + 1;
        const int32_t program = percussion ? 1 : instr.SrcProgPercId + 1;
        if (const int rc = mxw::leaf(doc, midi, "midi-channel", 4, std::to_string(channel)); rc != kOk) return rc;
        if (const int rc = mxw::leaf(doc, midi, "midi-program", 4, std::to_string(program)); rc != kOk) return rc;
        if (percussion) {
            if (const int rc = mxw::leaf(doc, midi, "midi-unpitched", 4, std::to_string(instr.PercNote + 1));
                rc != kOk) {
                return rc;
            }
        }
        if (const int rc = mxw::attach(doc, scorePart, midi, 3); rc != kOk) return rc;
    }
    if (const int rc = mxw::attach(doc, partList, scorePart, 2); rc != kOk) return rc;
    w.instrumentsPerPart.push_back(instruments);
    return kOk;
}

// --- parts and measures ---------------------------------------------------------------------

int appendPart(CMxmlFile& file, int32_t partIndex, const scorecore::CVxmlStaffLayout& layout,
               CMeasureNumbering* numbering) {
    CMxmlWriterState& w = file.writer;
    // Ids follow the index: only the next record may be added.
    const auto next = static_cast<int32_t>(w.parts.size());
    if (partIndex == -1) partIndex = next;
    if (partIndex != next) return kErrIndex;
    try {
        w.parts.emplace_back();
    } catch (const std::bad_alloc&) {
        return scorecore::kErrOutOfMemory;
    }
    CMxmlWriterPart& part = w.parts.back();
    part.percussion = layout.percussion != 0;
    if (const int rc = mxw::detached(file.document, "part", &part.group.node,
                                     {{"id", "P" + std::to_string(partIndex + 1)}});
        rc != kOk) {
        return rc;
    }
    file.setWriterCursor(partIndex, 0, file.writerVoice);
    return appendMeasure(file, numbering, partIndex);
}

int appendMeasure(CMxmlFile& file, CMeasureNumbering* numbering, int32_t partIndex) {
    const int32_t index = partIndex == -1 ? file.writerPart : partIndex;
    CMxmlWriterPart* part = mxw::partAt(file, index);
    if (part == nullptr) return kErrIndex;
    auto& measures = part->group.items;
    const int32_t previous = measures.empty() ? 0 : measures.back().valid;
    if (!part->group.addItem()) return kErrOutOfMemory;
    scorecore::CDomNodeItem& measure = measures.back();
    measure.valid = measures.size() > 1 ? previous + 1 : 1;
    measure.slots.fill(kSlotFree);
    measure.barline = scorecore::CEventBarline();
    if (numbering != nullptr && !numbering->applied) {
        if (numbering->restart) measure.valid = 1;
        measure.valid += numbering->offset;
        numbering->applied = true;
    }
    if (const int rc =
            mxw::detached(file.document, "measure", &measure.node, {{"number", std::to_string(measure.valid)}});
        rc != kOk) {
        return rc;
    }
    if (index == file.writerPart) file.writerMeasure = part->group.itemCount() - 1;
    return kOk;
}

int appendPartsToScore(CMxmlFile& file) {
    XmlDocument& doc = file.document;
    xmlNodePtr root = file.writer.root;
    if (root == nullptr) return kErrXmlElement;
    for (CMxmlWriterPart& part : file.writer.parts) {
        if (part.group.node == nullptr) continue;  // attached by an earlier call
        for (scorecore::CDomNodeItem& measure : part.group.items) {
            if (const int rc = mxw::attach(doc, part.group.node, measure.node, 2); rc != kOk) return rc;
        }
        const int rc = mxw::attach(doc, root, part.group.node, 1);
        part.group.clear();
        part.percussion = false;
        part.slurStart.fill(0);
        if (rc != kOk) return rc;
    }
    return scorecore::xmldomAppendIndent(doc, root, 0);
}

}  // namespace scoreconv
