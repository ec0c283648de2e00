// The TvrXML reader: staff layouts, the system tree with its staves and voices, the
// signs at the start of the staves, the host's queries about staves and voices, the
// voices' accidental tables and the running beam group. Chords and rests are read in
// vxml_reader_notes.cpp.
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "vxml_read_util.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

namespace scorecore {

namespace {

using vxmlread::childElement;
using vxmlread::ElementAttrs;
using vxmlread::forEachElement;
using vxmlread::isElement;

constexpr std::string_view kStepLetters = "cdefgab";
constexpr int kTableSharp = 3;
constexpr int kTableFlat = -4;

// Row and column of a pitch text in a voice's accidental table; false when the
// text is not a letter and an octave digit.
bool tableCell(std::string_view pitch, std::size_t& row, std::size_t& step) {
    if (pitch.size() < 2) return false;
    step = kStepLetters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(pitch[0]))));
    if (step == std::string_view::npos || pitch[1] < '0' || pitch[1] > '9') return false;
    row = static_cast<std::size_t>(pitch[1] - '0');
    return true;
}

int clampByte(int value) { return std::clamp(value, 0, 127); }

int readLayoutAttributes(const xmlNode* node, CVxmlStaffLayout& layout) {
    ElementAttrs own(node);
    if (own.status() != kOk) return own.status();
    if (auto v = own.get("description")) layout.description = *v;

    if (const xmlNode* notation = childElement(node, "notation")) {
        ElementAttrs attrs(notation);
        if (auto v = attrs.get("defaultClef")) layout.defaultClef = *v;
        if (auto v = attrs.get("notelines")) layout.notelines = *v;
        if (const xmlNode* barlines = childElement(notation, "barlines")) {
            ElementAttrs bar(barlines);
            if (auto v = bar.get("mode")) layout.barlineMode = *v;
            layout.barlineFrom = bar.asInt("from", layout.barlineFrom);
            layout.barlineTo = bar.asInt("to", layout.barlineTo);
        }
    }
    if (const xmlNode* instrument = childElement(node, "instrument")) {
        ElementAttrs attrs(instrument);
        if (auto v = attrs.get("name")) {
            layout.instrumentName = *v;
            layout.instrumentNameW = platform::utf8ToUtf16(*v);
        }
        if (auto v = attrs.get("abbrev")) layout.abbreviation = *v;
        if (auto v = attrs.get("pairName")) layout.pairName = *v;
        if (auto v = attrs.get("pairAbbrev")) layout.pairAbbreviation = *v;
    }
    if (const xmlNode* sound = childElement(node, "sound")) {
        ElementAttrs attrs(sound);
        if (attrs.isTrue("percussion")) layout.percussion = 1;
        layout.program = static_cast<std::uint8_t>(clampByte(attrs.asInt("instr", layout.program)));
        layout.volume = static_cast<std::uint8_t>(clampByte(attrs.asInt("volume", layout.volume)));
        layout.transpose = attrs.asInt("transpose", layout.transpose);
        layout.preferredChannel = attrs.asInt("preferredChannel", layout.preferredChannel);
        const xmlNode* assignment = childElement(sound, "outputAssignment");
        return forEachElement(assignment, [&layout](const xmlNode* map) {
            if (!isElement(map, "map")) return kOk;
            ElementAttrs pair(map);
            if (!pair.has("from") || !pair.has("to")) return kOk;
            return layout.addDrumMapEntry(pair.asInt("from", 0), pair.asInt("to", 0)) ? kOk : kErrOutOfMemory;
        });
    }
    return kOk;
}

int readVoices(const xmlNode* voicesNode, CDomNodeItem& staff) {
    return forEachElement(voicesNode, [&staff](const xmlNode* voiceNode) {
        if (!isElement(voiceNode, "voice")) return kOk;
        if (!staff.addVoice()) return kErrOutOfMemory;
        CVxmlVoice& voice = staff.voices.back();
        voice.voiceNode = const_cast<xmlNodePtr>(voiceNode);
        ElementAttrs attrs(voiceNode);
        voice.stemDir = attrs.is("stemDir", "up") ? 1 : attrs.is("stemDir", "down") ? 2 : 0;
        voice.noteObjectsNode = const_cast<xmlNodePtr>(childElement(voiceNode, "noteObjects"));
        return kOk;
    });
}

int readStaves(const xmlNode* stavesNode, CDomNodeGroup& system) {
    return forEachElement(stavesNode, [&system](const xmlNode* staffNode) {
        if (!isElement(staffNode, "staff")) return kOk;
        if (!system.addItem(kDefaultTicksPerQuarter)) return kErrOutOfMemory;
        CDomNodeItem& staff = system.items.back();
        staff.node = const_cast<xmlNodePtr>(staffNode);
        ElementAttrs attrs(staffNode);
        if (auto v = attrs.get("layout")) staff.layoutName = *v;
        // An unreadable defaultTime keeps the 4/4 every staff starts with.
        if (auto v = attrs.get("defaultTime")) readTimeText(*v, staff.timeSig);
        staff.voicesNode = const_cast<xmlNodePtr>(childElement(staffNode, "voices"));
        return readVoices(staff.voicesNode, staff);
    });
}

// Whether the notes of a first bar fill some but not all of it.
bool isPickup(int ticks, const CMeter& meter) {
    return !isUnmetered(meter) && meter.ticksPerBar > 0 && ticks > 0 && ticks < meter.ticksPerBar;
}

// The length of a beam group: the grouping's beats (a compound meter's beat is three
// of its units), never shorter than a quarter.
int beamGroupTicks(const CMeter& meter, int grouping) {
    int beat = meter.ticksPerBeat;
    if (meter.beats > 3 && meter.beats % 3 == 0 && meter.unitIndex >= 3) beat *= 3;
    const long long ticks = static_cast<long long>(std::max(meter.beatGroup(grouping), 1)) * beat;
    return static_cast<int>(std::clamp<long long>(ticks, kDefaultTicksPerQuarter, 1 << 30));
}

}  // namespace

// --- layouts and systems -----------------------------------------------------------------

int CVxmlFile::setupScore() {
    if (staffLayoutCount <= 0 || stavesNode == nullptr) return kErrOutOfMemory;
    try {
        staffLayouts.assign(static_cast<std::size_t>(staffLayoutCount), CVxmlStaffLayout());
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    for (int i = 0; i < staffLayoutCount; ++i) {
        xmlNodePtr node = nullptr;
        if (xmldomGetChildN(stavesNode, "staffLayout", i, &node) != kOk) return kErrDom;
        const int rc = readStaffLayout(node, i);
        if (rc != kOk) return rc;
    }
    return readSystems(nullptr);
}

int CVxmlFile::readStaffLayout(const xmlNode* node, int index) {
    if (node == nullptr) return kErrDom;
    if (index < 0 || index >= static_cast<int>(staffLayouts.size()) || !isElement(node, "staffLayout")) {
        return kErrIndex;
    }
    CVxmlStaffLayout& layout = staffLayouts[static_cast<std::size_t>(index)];
    layout.reset();
    try {
        return readLayoutAttributes(node, layout);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

int CVxmlFile::readSystems(int* count) {
    if (count != nullptr) *count = 0;
    for (CDomNodeGroup& system : systems) system.clear();
    systems.clear();
    systemsNode = const_cast<xmlNodePtr>(childElement(root, "systems"));
    if (systemsNode == nullptr) return kErrIndex;
    if (childElement(systemsNode, "system") == nullptr) return kErrIndex;
    try {
        const int rc = forEachElement(systemsNode, [this](const xmlNode* systemNode) {
            if (!isElement(systemNode, "system")) return kOk;
            if (!addSystem()) return kErrOutOfMemory;
            CDomNodeGroup& system = systems.back();
            system.node = const_cast<xmlNodePtr>(systemNode);
            ElementAttrs attrs(systemNode);
            // A tempo of 0 or less would stop the clock of everything after it.
            const int tempo = attrs.asInt("tempo", system.tempo);
            if (tempo >= 1) system.tempo = tempo;
            system.beamGrouping = attrs.asInt("beamGrouping", system.beamGrouping);
            if (const xmlNode* barCount = childElement(systemNode, "barCount")) {
                ElementAttrs bar(barCount);
                system.barNumbering.reset = bar.isTrue("reset") ? 1 : 0;
                system.barNumbering.nAdd = std::max(bar.asInt("nAdd", 0), 0);
            }
            system.stavesNode = const_cast<xmlNodePtr>(childElement(systemNode, "staves"));
            return readStaves(system.stavesNode, system);
        });
        if (rc != kOk) return rc;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (count != nullptr) *count = getSystemCount();
    return kOk;
}

int CVxmlFile::readStaffStart() {
    CDomNodeGroup* first = systemAt(0);
    if (first == nullptr) return kOk;
    // Counting the first bar reads tuplets; the conversion's reading must not find
    // the rounding switch moved by it.
    const TupletRounding rounding = tupletRounding;
    const int savedSystem = curSystem, savedStaff = curStaff, savedVoice = curVoice;
    int rc = kOk;
    for (int s = 0; s < first->itemCount() && rc == kOk; ++s) {
        CDomNodeItem& staff = first->items[static_cast<std::size_t>(s)];
        if (staff.voices.empty()) continue;
        setCursor(0, s, 0);
        bool clef = false, key = false, time = false, barline = false;
        int ticks = 0;
        CScoreEvent event;
        const xmlNode* objects = staff.voices.front().noteObjectsNode;
        for (const xmlNode* node = objects ? objects->children : nullptr; node != nullptr && rc == kOk;
             node = node->next) {
            if (node->type != XML_ELEMENT_NODE) continue;
            if (isElement(node, "clefSign")) {
                if (!clef) rc = readClefSign(node, staff.clef);
                clef = true;
            } else if (isElement(node, "keySign")) {
                if (!key) rc = readKeySign(node, &staff.key);
                key = true;
            } else if (isElement(node, "timeSign")) {
                if (!time) rc = readTimeSign(node, "time", staff.timeSig);
                time = true;
            } else if (isElement(node, "barline")) {
                barline = true;
            } else if (!barline && (isElement(node, "chord") || isElement(node, "rest"))) {
                rc = readNoteObject(node, event, staff.timeSig, ticks);
                if (rc == kOk) ticks = static_cast<int>(std::min<long long>(1LL << 30, 0LL + ticks + event.duration));
            }
        }
        // A score of one bar has no first bar to compare with a second.
        if (rc == kOk && barline && isPickup(ticks, staff.timeSig)) {
            first->barNumbering.nAdd = -1;
            first->barNumbering.continuation = 1;
        }
    }
    tupletRounding = rounding;
    setCursor(savedSystem, savedStaff, savedVoice);
    return rc;
}

// --- signs -------------------------------------------------------------------------------

int CVxmlFile::readClefSign(const xmlNode* node, CScoreClef& clef) {
    if (node == nullptr) return kErrDom;
    ElementAttrs attrs(node);
    const auto text = attrs.get("clef");
    CScoreClef read = clef;
    if (!text || !readClefText(*text, read)) return kErrIndex;
    clef = read;
    return kOk;
}

int CVxmlFile::readKeySign(const xmlNode* node, std::int8_t* fifths) {
    if (node == nullptr) return kErrDom;
    ElementAttrs attrs(node);
    if (!attrs.has("fifths")) return kErrIndex;
    const int value = std::clamp(attrs.asInt("fifths", 0), -7, 7);
    if (fifths != nullptr) *fifths = static_cast<std::int8_t>(value);
    return kOk;
}

int CVxmlFile::readTimeSign(const xmlNode* node, std::string_view attrName, CMeter& meter) {
    if (node == nullptr) return kErrDom;
    ElementAttrs attrs(node);
    const auto text = attrs.get(attrName);
    if (!text || readTimeText(*text, meter) == kTimeInvalid) return kErrIndex;
    return kOk;
}

int CVxmlFile::readBarline(const xmlNode* node, int* code) {
    if (node == nullptr) return kErrDom;
    ElementAttrs attrs(node);
    const auto type = attrs.get("type");
    const int value = type ? readBarlineText(*type) : -1;
    if (value < 0) return kErrIndex;
    if (code != nullptr) *code = value;
    return kOk;
}

int CVxmlFile::readNoteRange(const xmlNode* drawObj, int* out) {
    if (out != nullptr) *out = 0;
    if (drawObj == nullptr) return kErrDom;
    const xmlNode* basic = childElement(drawObj, "basic");
    if (basic == nullptr) return kOk;
    ElementAttrs attrs(basic);
    const auto text = attrs.get("noteRange");
    if (attrs.status() != kOk || !text) return kErrIndex;
    std::string_view digits = platform::trimBlanks(*text);
    if (!digits.empty() && digits[0] == '-') digits.remove_prefix(1);
    if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits[0]))) return kErrIndex;
    if (out != nullptr) *out = std::max(attrs.asInt("noteRange", 0), -1);
    return kOk;
}

int CVxmlFile::readNextBarline(const xmlNode* node, int* code) {
    if (node == nullptr) return kErrDom;
    const xmlNode* next = node->next;
    while (next != nullptr && next->type != XML_ELEMENT_NODE) next = next->next;
    if (!isElement(next, "barline")) return kErrNotPresent;
    return readBarline(next, code);
}

// --- queries -----------------------------------------------------------------------------

int CVxmlFile::findStaffByLayout(int system, std::string_view name) const {
    const CDomNodeGroup* group = systemAt(system);
    if (group == nullptr) return -1;
    for (int i = 0; i < group->itemCount(); ++i) {
        if (group->items[static_cast<std::size_t>(i)].layoutName == name) return i;
    }
    return -1;
}

int CVxmlFile::getStaffLayoutAttr(const xmlNode* node, std::string& out) {
    if (node == nullptr) return kErrDom;
    ElementAttrs attrs(node);
    const auto name = attrs.get("layout");
    if (!name) return kErrIndex;
    out = *name;
    return kOk;
}

int CVxmlFile::getVoiceNumOfStaff(int layoutIndex, int* count) const {
    if (count != nullptr) *count = 0;
    if (layoutIndex < 0 || layoutIndex >= static_cast<int>(staffLayouts.size())) return kErrIndex;
    const std::string& name = staffLayouts[static_cast<std::size_t>(layoutIndex)].description;
    int most = 0;
    for (const CDomNodeGroup& system : systems) {
        for (const CDomNodeItem& staff : system.items) {
            if (staff.layoutName == name) most = std::max(most, staff.voiceCount());
        }
    }
    if (count != nullptr) *count = most;
    return kOk;
}

int CVxmlFile::collectDrumKeys(std::string_view layoutName, int layoutIndex) {
    if (layoutIndex < 0 || layoutIndex >= static_cast<int>(staffLayouts.size())) return kErrIndex;
    CVxmlStaffLayout& layout = staffLayouts[static_cast<std::size_t>(layoutIndex)];
    for (const CDomNodeGroup& system : systems) {
        for (const CDomNodeItem& staff : system.items) {
            if (staff.layoutName != layoutName) continue;
            for (const CVxmlVoice& voice : staff.voices) {
                const int rc = forEachElement(voice.noteObjectsNode, [&layout](const xmlNode* node) {
                    if (!isElement(node, "chord")) return kOk;
                    CScoreEvent heads;
                    const int read = vxmlread::readHeadKeys(node, heads);
                    if (read != kOk) return read;
                    for (int head = 0; head < heads.headCount; ++head) {
                        const int key = static_cast<int>((heads.midi[static_cast<std::size_t>(head)] >> 8) & 0x7F);
                        const bool mapped = std::any_of(layout.drumMap.begin(), layout.drumMap.end(),
                                                        [key](const CDrumMapEntry& e) { return e.sourceKey == key; });
                        if (!mapped && !layout.addDrumMapEntry(key, key)) return kErrOutOfMemory;
                    }
                    return kOk;
                });
                if (rc != kOk) return rc;
            }
        }
    }
    return kOk;
}

int CVxmlFile::getFirstEinstChord(int layoutIndex, int voice, CScoreEvent& event) {
    if (layoutIndex < 0 || layoutIndex >= static_cast<int>(staffLayouts.size())) return kErrNotPresent;
    const std::string name = staffLayouts[static_cast<std::size_t>(layoutIndex)].description;
    for (int s = 0; s < getSystemCount(); ++s) {
        const int staffIndex = findStaffByLayout(s, name);
        const CVxmlVoice* record = voiceAt(s, staffIndex, voice);
        if (staffIndex < 0 || record == nullptr) continue;
        const xmlNode* chord = childElement(record->noteObjectsNode, "chord");
        if (chord == nullptr) continue;  // a voice that begins with rests
        const int savedSystem = curSystem, savedStaff = curStaff, savedVoice = curVoice;
        setCursor(s, staffIndex, voice);
        const int rc = readNoteObject(chord, event, *getStaffTimeSig(s, staffIndex), 0);
        setCursor(savedSystem, savedStaff, savedVoice);
        return rc;
    }
    return kErrNotPresent;
}

// --- accidentals and beams ---------------------------------------------------------------

int CVxmlFile::getAccidental(std::string_view pitchText, int* out, int system, int staff, int voice) const {
    const CVxmlVoice* record = voiceAt(system, staff, voice);
    std::size_t row = 0, step = 0;
    if (record == nullptr || !tableCell(pitchText, row, step)) return kErrNotPresent;
    const int value = record->accidentals[row][step];
    if (out != nullptr) *out = value == kTableSharp ? 1 : value == kTableFlat ? -1 : value;
    return kOk;
}

int CVxmlFile::storeAccidentals(const CScoreEvent& event, int system, int staff, int voice) {
    CVxmlVoice* record = voiceAt(system, staff, voice);
    if (record == nullptr) return kErrNotPresent;
    if (event.isKind(kKindRest)) return kOk;
    for (int head = 0; head < std::min(event.headCount, kMaxHeads); ++head) {
        const bool shown = event.accidentals[static_cast<std::size_t>(head)].shown != -3;
        if (!event.hasAlter(head) && !shown) continue;
        const std::string pitch = event.pitches.substr(std::min<std::size_t>(2 * head, event.pitches.size()), 2);
        std::size_t row = 0, step = 0;
        // Row 9 stands for every octave; a note never lands there.
        if (!tableCell(pitch, row, step) || row >= CVxmlVoice::kAccidentalRows - 1) continue;
        const std::string alter = event.getAlterText(head);
        record->accidentals[row][step] = event.hasAlter(head) ? std::atoi(alter.c_str()) : 0;
    }
    return kOk;
}

void CVxmlFile::computeBeam(CScoreEvent& event, const CMeter& meter) {
    // Grace notes take no time and leave the group as it is.
    if (event.isKind(kKindGrace)) return;
    const bool forced = event.hasBeam(8);
    const int grouping = getSystemBeamGrouping(-1);
    if (grouping < 1) {
        if (forced) {
            const int code = beamState == kBeamNone ? kBeamBegin : kBeamContinue;
            event.setBeam(code);
            beamState = code;
        } else if (event.hasBeam(0) && beamState != kBeamNone) {
            event.setBeam(kBeamNone);
            beamState = kBeamNone;
        }
        return;
    }
    const bool beamable = !event.isKind(kKindRest) && event.headCount > 0 && event.duration > 0 &&
                          (forced || event.getBeamCount() > 0);
    if (!beamable) {
        if (beamState != kBeamNone) event.setBeam(kBeamNone);
        resetBeam();
        return;
    }
    const int length = beamGroupTicks(meter, grouping);
    const long long groupStart = static_cast<long long>(event.start) - beamTicks;
    const bool inside = beamState != kBeamNone &&
                        (forced || groupStart / length == static_cast<long long>(event.start) / length);
    // A split ends the group on this note, and a note that ends a group starts none.
    if (event.hasBeam(16)) {
        if (inside) event.setBeam(kBeamNone);
        resetBeam();
        return;
    }
    if (!inside) beamTicks = 0;
    const int code = inside ? kBeamContinue : kBeamBegin;
    event.setBeam(code);
    beamState = code;
    beamTicks = static_cast<int>(std::min<long long>(1LL << 30, 0LL + beamTicks + event.duration));
}

}  // namespace scorecore
