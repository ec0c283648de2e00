#include "musicxml/part_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "musicxml/xml_values.h"
#include "platform/text.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

namespace {

using scorecore::CScoreClef;

using mx::childText;
using mx::isNamed;
using mx::parseNumber;

// --- reading elements -------------------------------------------------------------------

// The number rounded, when it lies in lo..hi (a number outside is none, not cut).
std::optional<int32_t> parseInt(std::string_view text, int32_t lo, int32_t hi) {
    const std::optional<double> value = parseNumber(text);
    if (!value) return std::nullopt;
    const double rounded = std::round(*value);
    if (rounded < lo || rounded > hi) return std::nullopt;
    return static_cast<int32_t>(rounded);
}

std::optional<int32_t> parseOptionalInt(const std::optional<std::string>& text, int32_t lo, int32_t hi) {
    return text ? parseInt(*text, lo, hi) : std::nullopt;
}

// Visits the elements below root in document order; f returns whether to go
// into the element's children. Only elements are entered: an entity
// reference's children belong to its declaration, outside this tree.
template <class F>
void forEachElement(const xmlNode* root, F&& f) {
    const xmlNode* cur = root->children;
    while (cur != nullptr) {
        const bool descend = cur->type == XML_ELEMENT_NODE && f(cur);
        if (descend && cur->children != nullptr) {
            cur = cur->children;
            continue;
        }
        while (cur != root && cur->next == nullptr) cur = cur->parent;
        if (cur == root) break;
        cur = cur->next;
    }
}

// --- the part header ----------------------------------------------------------------------

// A <staves> value: 1 unless it is a positive number, at most kMaxStavesPerPart.
int32_t stavesValue(std::string_view text) {
    const std::optional<double> value = parseNumber(text);
    if (!value || std::round(*value) < 1) return 1;
    return *value >= kMaxStavesPerPart ? kMaxStavesPerPart : static_cast<int32_t>(std::round(*value));
}

// The staff (0-based) an element's "number" attribute names, default the
// first; -1 beyond kMaxStavesPerPart or not a number.
int32_t numberedStaff(const xmlNode* element) {
    const std::optional<std::string> number = scorecore::xmldomAttribute(element, "number");
    if (!number) return 0;
    const std::optional<int32_t> value = parseInt(*number, 1, kMaxStavesPerPart);
    return value ? *value - 1 : -1;
}

// Key of an unpitched note's display pitch; -1 when it has none.
int32_t displayKeyOf(const xmlNode* unpitched) {
    const std::optional<std::string> step = childText(unpitched, "display-step");
    const std::optional<int32_t> octave = parseOptionalInt(childText(unpitched, "display-octave"), 0, 9);
    if (!step || !octave) return -1;
    static constexpr std::string_view kSteps = "C D EF G A B";
    const std::string_view letter = platform::trimBlanks(*step);
    if (letter.size() != 1 || letter[0] == ' ') return -1;
    const std::size_t semitone = kSteps.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0]))));
    if (semitone == std::string_view::npos) return -1;
    const int32_t key = *octave * 12 + static_cast<int32_t>(semitone) + 12;
    return key <= 127 ? key : -1;
}

// Makes room for `more` staves in every staff table, doubling the room when
// it runs out: the tables would otherwise be copied once per part, which a
// part list of thousands of parts turns into minutes. Throws bad_alloc.
void reserveStaffTables(CMxmlFile& file, int32_t more) {
    const std::size_t wanted = file.staffNames.size() + static_cast<std::size_t>(std::max(more, 0));
    const auto grow = [wanted](auto& table) {
        if (table.capacity() < wanted) table.reserve(std::max(wanted, 2 * table.capacity()));
    };
    grow(file.staffNames);
    grow(file.staffTransposition);
    grow(file.staffLines);
    grow(file.lyricVerses);
    grow(file.clefs);
    grow(file.groupEnd);
}

// Collects while the part is walked; staff numbers are checked against the
// part's staff count once the walk is over.
struct HeaderScan {
    bool hiddenNotesCount = true;
    bool countLyrics = false;
    bool noteSeen = false;
    int32_t maxStaves = 1;
    int32_t tempo = -1;
    std::array<std::optional<CScoreClef>, kMaxStavesPerPart> clefs{};
    std::array<int32_t, kMaxStavesPerPart> transposition{};
    std::array<std::optional<int32_t>, kMaxStavesPerPart> staffLines{};
    std::set<std::string> lyricNumbers;
    int32_t highestLyric = 0;
    std::set<std::pair<std::string, int32_t>> voicesSeen;
    std::vector<std::pair<std::string, int32_t>> noteVoices;  // staff numbers still 1-based
    std::vector<std::pair<std::string, int32_t>> displayKeys;

    void sound(const xmlNode* node) {
        // Before the first note the latest tempo holds (a tempo word's sound,
        // then a metronome mark's at the same moment); later ones are the music's.
        if (tempo >= 0 && noteSeen) return;
        const std::optional<std::string> value = scorecore::xmldomAttribute(node, "tempo");
        if (!value) return;
        if (const std::optional<int32_t> t = parseInt(*value, 1, 100000)) tempo = *t;
    }

    void transpose(const xmlNode* node) {
        // Only what is in force when the part starts: later changes belong to
        // the notes they precede.
        if (noteSeen) return;
        const int32_t chromatic = parseOptionalInt(childText(node, "chromatic"), -127, 127).value_or(0);
        const int32_t octaves = parseOptionalInt(childText(node, "octave-change"), -10, 10).value_or(0);
        const int32_t value = std::clamp(chromatic + 12 * octaves, -127, 127);
        if (!scorecore::xmldomAttribute(node, "number")) {
            transposition.fill(value);
            return;
        }
        const int32_t staff = numberedStaff(node);
        if (staff >= 0) transposition[static_cast<std::size_t>(staff)] = value;
    }

    void lyric(const xmlNode* node) {
        const std::string number(
            platform::trimBlanks(scorecore::xmldomAttribute(node, "number").value_or("1")));
        lyricNumbers.insert(number);
        if (const std::optional<int32_t> n = parseInt(number, 1, 64)) highestLyric = std::max(highestLyric, *n);
    }

    void note(const xmlNode* node) {
        noteSeen = true;
        std::string voice;
        int32_t staff = 1;
        bool rest = false;
        bool cue = false;
        const xmlNode* unpitched = nullptr;
        for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
            if (isNamed(c, "voice")) {
                voice = std::string(platform::trimBlanks(scorecore::xmldomNodeText(c)));
            } else if (isNamed(c, "staff")) {
                staff = parseInt(scorecore::xmldomNodeText(c), 1, kMaxStavesPerPart).value_or(-1);
            } else if (isNamed(c, "rest")) {
                rest = true;
            } else if (isNamed(c, "cue")) {
                cue = true;
            } else if (isNamed(c, "unpitched")) {
                unpitched = c;
            } else if (isNamed(c, "lyric") && countLyrics) {
                lyric(c);
            }
        }
        const bool hidden = scorecore::xmldomAttribute(node, "print-object").value_or("") == "no";
        if (hiddenNotesCount || !hidden || rest || cue) {
            if (voicesSeen.emplace(voice, staff).second) noteVoices.emplace_back(voice, staff);
        }
        if (unpitched != nullptr) instruments(node, displayKeyOf(unpitched));
    }

    // The first note naming an instrument with a display pitch gives its key.
    void instruments(const xmlNode* note, int32_t key) {
        for (const xmlNode* c = note->children; c != nullptr; c = c->next) {
            if (!isNamed(c, "instrument")) continue;
            const std::string id = scorecore::xmldomAttribute(c, "id").value_or("");
            auto known = std::find_if(displayKeys.begin(), displayKeys.end(),
                                      [&](const auto& entry) { return entry.first == id; });
            if (known == displayKeys.end()) {
                displayKeys.emplace_back(id, key);
            } else if (known->second < 0) {
                known->second = key;
            }
        }
    }

    // Whether to go into the element's children.
    bool visit(const xmlNode* node) {
        if (isNamed(node, "note")) {
            note(node);
            return false;
        }
        if (isNamed(node, "sound")) {
            sound(node);
        } else if (isNamed(node, "staves")) {
            maxStaves = std::max(maxStaves, stavesValue(scorecore::xmldomNodeText(node)));
        } else if (isNamed(node, "clef")) {
            const int32_t staff = numberedStaff(node);
            if (staff >= 0 && !clefs[static_cast<std::size_t>(staff)]) clefs[static_cast<std::size_t>(staff)] = readClef(node);
            return false;
        } else if (isNamed(node, "transpose")) {
            transpose(node);
            return false;
        } else if (isNamed(node, "staff-details")) {
            const int32_t staff = numberedStaff(node);
            const std::optional<int32_t> lines = parseOptionalInt(childText(node, "staff-lines"), 0, 64);
            if (staff >= 0 && lines && !staffLines[static_cast<std::size_t>(staff)]) {
                staffLines[static_cast<std::size_t>(staff)] = *lines;
            }
            return false;
        }
        return true;
    }

    void finish(CPartHeader& out) {
        out.tempo = tempo;
        out.staves = std::min(maxStaves, kMaxStavesPerPart);
        const auto n = static_cast<std::size_t>(out.staves);
        out.clefs.assign(n, CScoreClef{});
        out.hasClef.assign(n, 0);
        out.transposition.assign(transposition.begin(), transposition.begin() + out.staves);
        out.staffLines.assign(n, 5);
        for (std::size_t s = 0; s < n; ++s) {
            if (clefs[s]) {
                out.clefs[s] = *clefs[s];
                out.hasClef[s] = 1;
            }
            if (staffLines[s]) out.staffLines[s] = *staffLines[s];
        }
        out.lyricVerses = std::max(static_cast<int32_t>(lyricNumbers.size()), highestLyric);
        out.noteVoices = std::move(noteVoices);
        for (auto& [voice, staff] : out.noteVoices) staff = staff >= 1 && staff <= out.staves ? staff - 1 : -1;
        out.displayKeys = std::move(displayKeys);
    }
};

}  // namespace

bool readPartHeader(const xmlNode* part, bool hiddenNotesCount, bool countLyrics, CPartHeader& out) {
    try {
        HeaderScan scan;
        scan.hiddenNotesCount = hiddenNotesCount;
        scan.countLyrics = countLyrics;
        if (part != nullptr) forEachElement(part, [&](const xmlNode* node) { return scan.visit(node); });
        out = CPartHeader{};
        scan.finish(out);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool readPartHeaderInMode(const xmlNode* part, int32_t mode, CPartHeader& out) {
    return readPartHeader(part, mode != kModeTvrxml, mode == kModeTvrxml, out);
}

int percussionDisplayKey(const CPartHeader& header, std::string_view instrumentId, int32_t& key) {
    for (const auto& [id, value] : header.displayKeys) {
        if (id == instrumentId) {
            if (value < 0) return scorecore::kErrNotPresent;
            key = value;
            return scorecore::kOk;
        }
    }
    return scorecore::kErrNotPresent;
}

// --- the part list ------------------------------------------------------------------------

namespace {

int32_t groupSymbolCode(const xmlNode* group) {
    const std::optional<std::string> symbol = childText(group, "group-symbol");
    if (!symbol) return kGroupSymbolNone;
    const std::string_view word = platform::trimBlanks(*symbol);
    if (word == "brace") return kGroupSymbolBrace;
    if (word == "line") return kGroupSymbolLine;
    return kGroupSymbolOther;
}

// A part-group number; groups without one (or with a word) share 0.
int32_t groupNumber(const xmlNode* group) {
    const std::optional<std::string> number = scorecore::xmldomAttribute(group, "number");
    return number ? parseInt(*number, INT32_MIN / 2, INT32_MAX / 2).value_or(0) : 0;
}

// A staff label of the host ("[Zeile %i]") with the staff number: the first
// %i or %d takes the number, %% is a percent sign, any other % stays as it is.
std::string formatLineLabel(std::string_view label, int32_t number) {
    std::string out;
    bool used = false;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char next = i + 1 < label.size() ? label[i + 1] : '\0';
        if (label[i] == '%' && next == '%') {
            out += '%';
            ++i;
        } else if (label[i] == '%' && (next == 'i' || next == 'd') && !used) {
            out += std::to_string(number);
            used = true;
            ++i;
        } else {
            out += label[i];
        }
    }
    return out;
}

class PartListReader {
public:
    explicit PartListReader(CMxmlFile& file) : file_(file) {}

    // Reads the part list. kOk, kErrOutOfMemory or kErrStopped.
    int run(const xmlNode* partList) {
        if (GetPartlistFromNode(partList, elements_) != scorecore::kOk) elements_.clear();
        claimed_.assign(elements_.size(), 0);
        indexElements();
        openFileGroups();
        const int rc = readChildren(partList);
        settleOpenGroups();
        if (rc == scorecore::kOk) markGroupEnds();
        return rc;
    }

    // --- the list read while the parts arrive (CPartListStream)

    void beginStream(const xmlNode* partList) {
        openFileGroups();
        cursor_ = partList->children;
    }

    // The groups up to the next score-part, which must declare the element's
    // id as written, then the element's entry.
    int streamPart(xmlNodePtr element, const CPartHeader* header) {
        const std::string id(platform::trimBlanks(scorecore::xmldomAttribute(element, "id").value_or("")));
        for (; cursor_ != nullptr; cursor_ = cursor_->next) {
            if (isNamed(cursor_, "part-group")) {
                if (const int rc = partGroup(cursor_); rc != scorecore::kOk) return rc;
            } else if (isNamed(cursor_, "score-part")) {
                std::string declared(platform::trimBlanks(scorecore::xmldomAttribute(cursor_, "id").value_or("")));
                if (declared != id) return scorecore::kErrNotPresent;
                const xmlNode* scorePart = cursor_;
                cursor_ = cursor_->next;
                const int32_t first = file_.staffCount();
                if (const int rc = addPart(std::move(declared), element, scorePart, header); rc != scorecore::kOk) {
                    return rc;
                }
                if (!giveDefaultInstruments(file_, first)) return scorecore::kErrOutOfMemory;
                return file_.stopRequested() ? scorecore::kErrStopped : scorecore::kOk;
            }
            if (file_.stopRequested()) return scorecore::kErrStopped;
        }
        return scorecore::kErrNotPresent;
    }

    // The groups after the last part; a score-part left over has no element.
    int endStream() {
        for (; cursor_ != nullptr; cursor_ = cursor_->next) {
            if (isNamed(cursor_, "score-part")) return scorecore::kErrNotPresent;
            if (isNamed(cursor_, "part-group")) {
                if (const int rc = partGroup(cursor_); rc != scorecore::kOk) return rc;
            }
            if (file_.stopRequested()) return scorecore::kErrStopped;
        }
        settleOpenGroups();
        markGroupEnds();
        return scorecore::kOk;
    }

    // Adds the parts of the document no score-part claimed, in document
    // order after the declared ones, each logged. kOk or kErrOutOfMemory.
    int undeclaredParts() {
        std::vector<xmlNodePtr> elements;
        if (GetPartlistFromNode(file_.document.root(), elements) != scorecore::kOk) return scorecore::kOk;
        const std::vector<int32_t> indexes = partIndexesOfElements(file_, elements);
        bool added = false;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            if (indexes[i] >= 0) continue;
            const std::string id(platform::trimBlanks(scorecore::xmldomAttribute(elements[i], "id").value_or("")));
            file_.logStep("getProps", "part \"" + id + "\" is not in the part list: read as a part of its own");
            if (const int rc = addPart(id, elements[i], nullptr); rc != scorecore::kOk) return rc;
            added = true;
        }
        if (added) markGroupEnds();
        return scorecore::kOk;
    }

private:
    // Groups the file holds open already reach on into this list.
    void openFileGroups() {
        for (int32_t i = 0; i < file_.partGroups.count(); ++i) {
            const scorecore::CScorePartGroup* group = file_.partGroups.item(i);
            if (group->isOpen()) open_[group->number].push_back(OpenGroup{i, reaches_});
        }
    }

    int readChildren(const xmlNode* partList) {
        for (const xmlNode* c = partList->children; c != nullptr; c = c->next) {
            int rc = scorecore::kOk;
            if (isNamed(c, "part-group")) {
                rc = partGroup(c);
            } else if (isNamed(c, "score-part")) {
                rc = scorePart(c);
            }
            if (rc != scorecore::kOk) return rc;
            if (file_.stopRequested()) return scorecore::kErrStopped;
        }
        return scorecore::kOk;
    }

    int partGroup(const xmlNode* group) {
        const std::string type(platform::trimBlanks(scorecore::xmldomAttribute(group, "type").value_or("")));
        const int32_t number = groupNumber(group);
        if (type == "stop") {
            closeGroups(number);
        } else if (type == "start") {
            if (!file_.partGroups.add(childText(group, "group-name").value_or(""),
                                      childText(group, "group-abbreviation").value_or(""), groupSymbolCode(group),
                                      file_.staffCount(), number)) {
                return scorecore::kErrOutOfMemory;
            }
            open_[number].push_back(OpenGroup{file_.partGroups.count() - 1, reaches_});
        }
        return scorecore::kOk;
    }

    // The <part> elements by id as written and by id without case (blanks
    // around ids do not count), each list in document order.
    void indexElements() {
        exact_.clear();
        folded_.clear();
        for (std::size_t i = 0; i < elements_.size(); ++i) {
            const std::string id = scorecore::xmldomAttribute(elements_[i], "id").value_or("");
            const std::string_view trimmed = platform::trimBlanks(id);
            exact_[std::string(trimmed)].indexes.push_back(i);
            folded_[platform::foldCase(trimmed)].indexes.push_back(i);
        }
    }

    // The first unclaimed element of the list; the list forgets the claimed
    // ones before it, so every element is passed over at most once.
    struct Candidates {
        std::vector<std::size_t> indexes;
        std::size_t next = 0;
    };
    xmlNodePtr claimFirst(std::unordered_map<std::string, Candidates>& index, const std::string& key) {
        const auto found = index.find(key);
        if (found == index.end()) return nullptr;
        Candidates& c = found->second;
        while (c.next < c.indexes.size() && claimed_[c.indexes[c.next]] != 0) ++c.next;
        if (c.next == c.indexes.size()) return nullptr;
        const std::size_t i = c.indexes[c.next++];
        claimed_[i] = 1;
        return elements_[i];
    }

    // The <part> element of an id: the first unclaimed one with exactly that
    // id, else the first unclaimed one whose id differs only in case (blanks
    // around ids do not count).
    xmlNodePtr claimElement(std::string_view id) {
        if (xmlNodePtr exact = claimFirst(exact_, std::string(id))) return exact;
        return claimFirst(folded_, platform::foldCase(id));
    }

    int scorePart(const xmlNode* scorePart) {
        std::string id(platform::trimBlanks(scorecore::xmldomAttribute(scorePart, "id").value_or("")));
        xmlNodePtr element = claimElement(id);
        return addPart(std::move(id), element, scorePart);
    }

    // The part's entry, voices and staves from its element (null: none), or
    // from what was read of it already (known); names and instruments from
    // its score-part (null for a part the part list does not declare, which
    // gets the default instruments).
    int addPart(std::string id, xmlNodePtr element, const xmlNode* scorePart, const CPartHeader* known = nullptr) {
        const int32_t part = static_cast<int32_t>(file_.parts.size());
        if (!file_.appendPart() || !file_.voiceTables.appendPart()) return scorecore::kErrOutOfMemory;
        CMxmlPart& entry = file_.parts.back();
        entry.id = std::move(id);
        entry.node = element;
        const int32_t first = file_.staffCount();
        reachTo(first);

        CPartHeader read;
        if (known == nullptr && !readPartHeaderInMode(entry.node, file_.playModeNow(), read)) {
            return scorecore::kErrOutOfMemory;
        }
        const CPartHeader& header = known != nullptr ? *known : read;
        if (header.tempo > 0) entry.tempo = header.tempo;
        if (file_.cursor.tempo < 0) file_.cursor.tempo = entry.tempo;
        reserveStaffTables(file_, header.staves);
        if (!placeVoices(part, header) || !file_.growStaffTables(header.staves)) return scorecore::kErrOutOfMemory;
        for (int32_t k = 0; k < header.staves; ++k) {
            const auto s = static_cast<std::size_t>(first + k);
            const auto h = static_cast<std::size_t>(k);
            file_.staffTransposition[s] = header.transposition[h];
            file_.staffLines[s] = header.staffLines[h];
            file_.lyricVerses[s] = file_.playModeNow() == kModeTvrxml ? header.lyricVerses : 0;
            if (header.hasClef[h] != 0) file_.clefs[s] = header.clefs[h];
        }
        if (const int rc = partChildren(scorePart, header, first); rc != scorecore::kOk) return rc;
        return braceGroup(first, header.staves);
    }

    // Notes every voice id first, so that ids that are not numbers get
    // numbers no numeric id of the part uses; a voice stays on the first
    // staff it is met on.
    bool placeVoices(int32_t part, const CPartHeader& header) {
        if (!file_.voiceTables.growStaves(part, header.staves)) return false;
        for (const auto& [voice, staff] : header.noteVoices) file_.voiceTables.noteVoiceText(part, voice);
        for (const auto& [voice, staff] : header.noteVoices) {
            const int32_t number = file_.voiceTables.voiceNumber(part, voice);
            if (staff >= 0 && number > 0) file_.voiceTables.assignVoice(part, staff, number);
        }
        file_.voiceTables.fillEmptyStaves(part);
        return true;
    }

    int partChildren(const xmlNode* scorePart, const CPartHeader& header, int32_t first) {
        bool hadInstrument = false;
        for (const xmlNode* c = scorePart != nullptr ? scorePart->children : nullptr; c != nullptr; c = c->next) {
            const bool isName = isNamed(c, "part-name");
            if (isName || isNamed(c, "part-abbreviation")) {
                nameStaves(c, isName, first, header.staves);
            } else if (isNamed(c, "midi-instrument")) {
                hadInstrument = true;
                if (!midiInstrument(c, header, first)) return scorecore::kErrOutOfMemory;
            }
        }
        const bool drums = header.hasClef[0] != 0 && header.clefs[0].kind == kClefPercussion;
        if (drums && !hadInstrument && !percussionSet(first, header.staves)) return scorecore::kErrOutOfMemory;
        return scorecore::kOk;
    }

    void nameStaves(const xmlNode* element, bool isName, int32_t first, int32_t staves) {
        const std::string text(platform::trimBlanks(scorecore::xmldomNodeText(element)));
        for (int32_t k = 0; k < staves; ++k) {
            CStaffName& name = file_.staffNames[static_cast<std::size_t>(first + k)];
            std::string value = text.empty() ? formatLineLabel(file_.lineLabel, first + k + 1) : text;
            (isName ? name.name : name.abbreviation) = std::move(value);
        }
    }

    // A missing or unusable midi-program is program 0; a missing channel is
    // left to the channel plan.
    bool midiInstrument(const xmlNode* element, const CPartHeader& header, int32_t first) {
        CMidiInstr record;
        record.InstrumentId = scorecore::xmldomAttribute(element, "id").value_or("");
        const std::optional<int32_t> unpitched = parseOptionalInt(childText(element, "midi-unpitched"), 1, 128);
        const std::optional<int32_t> channel = parseOptionalInt(childText(element, "midi-channel"), 1, 16);
        const std::optional<int32_t> program = parseOptionalInt(childText(element, "midi-program"), 1, 128);
        if (channel) record.SrcChannel = static_cast<uint8_t>(*channel - 1);
        if (unpitched) {
            record.PercNote = static_cast<uint8_t>(*unpitched - 1);
            record.SrcProgPercId = file_.instruments.nextPercussionId();
            int32_t key = 0;
            if (percussionDisplayKey(header, record.InstrumentId, key) == scorecore::kOk) {
                record.UserProgram = static_cast<uint8_t>(key);
            }
        } else {
            const bool drums = header.hasClef[0] != 0 && header.clefs[0].kind == kClefPercussion;
            record.PercNote = drums ? 0 : CMidiInstr::kUnset;
            record.SrcProgPercId = program ? static_cast<uint8_t>(*program - 1) : 0;
        }
        ++file_.midiInstrumentListCount;
        for (int32_t k = 0; k < header.staves; ++k) {
            CMidiInstr copy = record;
            file_.instruments.channelForNew(first + k, copy);
            if (!file_.instruments.append(first + k, copy)) return false;
        }
        return true;
    }

    // One instrument per key, named by the key, on every staff of the part.
    bool percussionSet(int32_t first, int32_t staves) {
        for (int32_t k = 0; k < staves; ++k) {
            for (int32_t key = 0; key < kPercussionKeys; ++key) {
                CMidiInstr record;
                record.InstrumentId = std::to_string(key);
                record.PercNote = static_cast<uint8_t>(key);
                record.UserProgram = static_cast<uint8_t>(key);
                if (!file_.instruments.append(first + k, record)) return false;
            }
        }
        return true;
    }

    // A part of several staves is braced: the brace takes the first staff's
    // names and spans the part; groups still open reach to its last staff.
    int braceGroup(int32_t first, int32_t staves) {
        if (staves <= 1) return scorecore::kOk;
        const CStaffName& name = file_.staffNames[static_cast<std::size_t>(first)];
        if (!file_.partGroups.add(name.name, name.abbreviation, kGroupSymbolBrace, first,
                                  file_.partGroups.count() + 1)) {
            return scorecore::kErrOutOfMemory;
        }
        const int32_t last = first + staves - 1;
        reachTo(last);
        // Closed by its index: a group of the file may carry the same number.
        scorecore::CScorePartGroup* brace = file_.partGroups.item(file_.partGroups.count() - 1);
        brace->lastStaff = last;
        brace->resetNumber();
        return scorecore::kOk;
    }

    // Every open group now reaches to the staff. All of them reach to the
    // same staff, so a group learns its last staff only when it closes (or
    // the part list ends): a part list of thousands of parts and groups then
    // never visits every group for every part.
    void reachTo(int32_t staff) {
        ++reaches_;
        reachedStaff_ = staff;
    }

    // An open group with the number of its start and the reaches before it.
    struct OpenGroup {
        int32_t index = 0;
        int64_t reachesBefore = 0;
    };

    // The staff of the last reach since the group opened, when there was one.
    void settle(const OpenGroup& open) {
        if (reaches_ > open.reachesBefore) file_.partGroups.item(open.index)->lastStaff = reachedStaff_;
    }

    // Closes every open group with that number, as CScorePartGroupList::stopGroup does.
    void closeGroups(int32_t number) {
        const auto found = open_.find(number);
        if (found == open_.end()) return;
        for (const OpenGroup& open : found->second) {
            settle(open);
            file_.partGroups.item(open.index)->resetNumber();
        }
        open_.erase(found);
    }

    // The groups left open reach to where the last part ended.
    void settleOpenGroups() {
        for (const auto& [number, groups] : open_) {
            for (const OpenGroup& open : groups) settle(open);
        }
        open_.clear();
    }

    // The group-end flag of every staff (as CScorePartGroupList::isGroupEnd
    // gives it) in one pass over the groups: a staff no group holds, or the
    // last staff of any group.
    void markGroupEnds() {
        const int32_t staves = std::min(file_.staffCount(), static_cast<int32_t>(file_.groupEnd.size()));
        const auto n = static_cast<std::size_t>(std::max(staves, 0));
        std::vector<int32_t> opened(n + 1, 0);  // groups starting at a staff, less those ended before it
        std::vector<uint8_t> isLast(n, 0);
        for (int32_t i = 0; i < file_.partGroups.count(); ++i) {
            const scorecore::CScorePartGroup& group = *file_.partGroups.item(i);
            if (group.lastStaff >= 0 && group.lastStaff < staves) isLast[static_cast<std::size_t>(group.lastStaff)] = 1;
            const int32_t from = std::max(group.firstStaff, 0);
            const int32_t to = std::min(group.lastStaff, staves - 1);
            if (from > to) continue;
            ++opened[static_cast<std::size_t>(from)];
            --opened[static_cast<std::size_t>(to) + 1];
        }
        int32_t holding = 0;
        for (std::size_t s = 0; s < n; ++s) {
            holding += opened[s];
            file_.groupEnd[s] = holding == 0 || isLast[s] != 0 ? 1 : 0;
        }
    }

    CMxmlFile& file_;
    std::unordered_map<int32_t, std::vector<OpenGroup>> open_;  // by number
    int64_t reaches_ = 0;       // calls of reachTo so far
    int32_t reachedStaff_ = 0;  // the staff of the last one
    std::vector<xmlNodePtr> elements_;
    std::vector<uint8_t> claimed_;
    std::unordered_map<std::string, Candidates> exact_;
    std::unordered_map<std::string, Candidates> folded_;
    const xmlNode* cursor_ = nullptr;  // the next child of a streamed list
};

}  // namespace

struct CPartListStream::Reader {
    explicit Reader(CMxmlFile& file) : reader(file) {}
    PartListReader reader;
};

CPartListStream::CPartListStream(CMxmlFile& file, const xmlNode* partList)
    : reader_(std::make_unique<Reader>(file)) {
    reader_->reader.beginStream(partList);
}

CPartListStream::~CPartListStream() = default;

int CPartListStream::part(xmlNodePtr element, const CPartHeader* header) {
    try {
        return reader_->reader.streamPart(element, header);
    } catch (const std::bad_alloc&) {
        return scorecore::kErrOutOfMemory;
    }
}

int CPartListStream::finish() {
    try {
        return reader_->reader.endStream();
    } catch (const std::bad_alloc&) {
        return scorecore::kErrOutOfMemory;
    }
}

bool giveDefaultInstruments(CMxmlFile& file, int32_t fromStaff) {
    for (int32_t s = std::max(fromStaff, 0); s < file.staffCount(); ++s) {
        if (file.instruments.count(s) == 0 && !file.instruments.append(s, CMidiInstr{})) return false;
    }
    return true;
}

int readPartList(CMxmlFile& file, const xmlNode* partList) {
    if (partList == nullptr) return scorecore::kErrDom;
    try {
        return PartListReader(file).run(partList);
    } catch (const std::bad_alloc&) {
        return scorecore::kErrOutOfMemory;
    }
}

bool finishPartTable(CMxmlFile& file) {
    try {
        // Dropping a part the part list forgot would lose its music.
        if (PartListReader(file).undeclaredParts() != scorecore::kOk) return false;
        if (!file.appendPart() || !file.voiceTables.appendPart()) return false;
        file.parts.back().conductor = true;
        const int32_t conductor = file.voiceTables.partCount() - 1;
        if (!file.voiceTables.growStaves(conductor, 1)) return false;
        file.voiceTables.setStaffMask(conductor, 0, 1u);
        if (!giveDefaultInstruments(file, 0)) return false;
        file.rowCount = file.staffCount() + 1;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int GetPartlistFromNode(const xmlNode* node, std::vector<xmlNodePtr>& parts) {
    parts.clear();
    if (node == nullptr || node->doc == nullptr) return scorecore::kErrDom;
    const xmlNode* root = xmlDocGetRootElement(node->doc);
    if (root == nullptr) return scorecore::kErrDom;
    try {
        for (xmlNodePtr c = root->children; c != nullptr; c = c->next) {
            if (isNamed(c, "part")) parts.push_back(c);
        }
    } catch (const std::bad_alloc&) {
        parts.clear();
        return scorecore::kErrOutOfMemory;
    }
    return scorecore::kOk;
}

int32_t partIndexOfElement(const CMxmlFile& file, const xmlNode* part) {
    if (part == nullptr) return -1;
    const int32_t count = scorePartCount(file);
    for (int32_t i = 0; i < count; ++i) {
        if (file.parts[static_cast<std::size_t>(i)].node == part) return i;
    }
    return -1;
}

std::vector<int32_t> partIndexesOfElements(const CMxmlFile& file, std::span<const xmlNodePtr> parts) {
    std::unordered_map<const xmlNode*, int32_t> byNode;
    const int32_t count = scorePartCount(file);
    // The first entry of a node wins, as in partIndexOfElement.
    for (int32_t i = count; i-- > 0;) byNode[file.parts[static_cast<std::size_t>(i)].node] = i;
    std::vector<int32_t> indexes(parts.size(), -1);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const auto found = parts[k] != nullptr ? byNode.find(parts[k]) : byNode.end();
        if (found != byNode.end()) indexes[k] = found->second;
    }
    return indexes;
}

int32_t scorePartCount(const CMxmlFile& file) {
    const auto count = static_cast<int32_t>(file.parts.size());
    return count > 0 && file.parts.back().conductor ? count - 1 : count;
}

}  // namespace scoreconv
