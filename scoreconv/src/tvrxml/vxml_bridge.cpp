#include "tvrxml/vxml_bridge.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "musicxml/measure_reader.h"
#include "musicxml/mxml_file.h"
#include "musicxml/note_reader.h"
#include "musicxml/part_list.h"
#include "musicxml/voice_tables.h"
#include "musicxml/xml_values.h"
#include "play/play_model.h"
#include "scorecore/result_codes.h"
#include "scorecore/sc_util.h"
#include "scorecore/tvrxml_vocab.h"

namespace scoreconv {

using scorecore::CScoreClef;
using scorecore::kErrDom;
using scorecore::kErrIndex;
using scorecore::kErrNoteSkipped;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr int32_t kBarlineSingle = 0;
constexpr std::string_view kLogFunction = "mxmlConvertProc";
constexpr std::string_view kTypeFromTicks = "getit";
constexpr std::string_view kOneBar = "1";
constexpr int32_t kDefaultTempo = 120;
// Rounding of durations that do not divide the quarter may carry a voice a few
// ticks past its measure; more than this is content that overfills it.
constexpr int32_t kOverfillTolerancePerQuarter = 16;
// Hidden rests one gap may take. A gap as long as a measure can reach takes a
// few dozen (hundreds in the longest meters); past this the rest of the gap
// stays empty, so that no length a file gives can grow the document for long.
constexpr int32_t kMaxFillRests = 1024;

// --- small readers ----------------------------------------------------------------------

const xmlNode* nextMeasure(const xmlNode* measure) {
    for (const xmlNode* n = mx::nextElement(measure); n != nullptr; n = mx::nextElement(n)) {
        if (mx::nameOf(n) == "measure") return n;
    }
    return nullptr;
}

// The child of a measure that holds node (node itself when it is one).
const xmlNode* measureChildOf(const xmlNode* node) {
    while (node != nullptr && node->parent != nullptr && !mx::isNamed(node->parent, "measure")) node = node->parent;
    return node != nullptr && node->parent != nullptr ? node : nullptr;
}

// A voice as notes name it: the trimmed <voice> text, "1" when there is none.
std::string voiceKey(std::string_view text) {
    const std::string_view trimmed = mx::trimmed(text);
    return trimmed.empty() ? std::string("1") : std::string(trimmed);
}

// A voice text as a voice number 1..32, 1 for anything else.
std::size_t voiceSlot(const xmlNode* note) {
    const std::optional<int64_t> number = mx::parseRounded(mx::childText(note, "voice").value_or("1"), 0, 1000);
    return number && *number >= 1 && *number <= CVoiceBitTables::kMaxVoices ? static_cast<std::size_t>(*number - 1) : 0;
}

// The first number of an ending's number text ("1, 2" is 1); 0 without one.
int32_t firstEndingNumber(const xmlNode* ending) {
    const std::string text = mx::attribute(ending, "number").value_or("");
    int64_t value = 0;
    std::size_t i = 0;
    while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = std::min<int64_t>(value * 10 + (text[i] - '0'), 1000);
    return static_cast<int32_t>(value);
}

// A staff without a clef of its own is drawn with the treble clef.
CScoreClef drawnClef(const CScoreClef& clef) {
    return clef.kind == kClefOther ? CScoreClef{kClefG, 2, 1} : clef;
}

// --- span search ------------------------------------------------------------------------

// One search, element by element.
class SpanSearch {
public:
    SpanSearch(CMxmlSpanFinder& finder, SpanKind kind, int32_t staffOrVoice, int32_t number, std::string voice)
        : finder_(finder), kind_(kind), staffOrVoice_(staffOrVoice), number_(number), voice_(std::move(voice)) {}

    // 1 when the element ends the search (result filled), 0 to go on, or a failure.
    int visit(const xmlNode* c, bool isStart, int32_t crossed, const CReadContext& context, CSpanResult& result);
    int32_t count() const { return count_; }

private:
    int note(const xmlNode* note, bool isStart, const CReadContext& context, CSpanResult& result);
    bool endingStops(const xmlNode* barline, CSpanResult& result) const;
    int wedgeStops(const xmlNode* direction, const CReadContext& context, CSpanResult& result);
    bool styleStops(const xmlNode* attributes) const;
    bool sameVoice(const CMxmlSpanFinder::Glance& note) const { return voice_.empty() || note.voice == voice_; }

    CMxmlSpanFinder& finder_;
    SpanKind kind_;
    int32_t staffOrVoice_;
    int32_t number_;
    std::string voice_;  // empty: every voice
    int32_t count_ = 0;
    CScoreEvent scratch_;
};

int SpanSearch::visit(const xmlNode* c, bool isStart, int32_t crossed, const CReadContext& context,
                      CSpanResult& result) {
    const std::string_view name = mx::nameOf(c);
    if (name == "note") return note(c, isStart, context, result);
    if (isStart) return 0;
    if (name == "barline" && kind_ == SpanKind::Ending) return endingStops(c, result) ? 1 : 0;
    if (name == "direction" && kind_ == SpanKind::Wedge) return wedgeStops(c, context, result);
    if (name == "attributes" && (kind_ == SpanKind::SlashStyle || kind_ == SpanKind::RepeatStyle) && styleStops(c)) {
        result.found = true;
        result.span = crossed;
        return 1;
    }
    return 0;
}

int SpanSearch::note(const xmlNode* element, bool isStart, const CReadContext& context, CSpanResult& result) {
    const CMxmlSpanFinder::Glance* note = finder_.glance(element, context);
    if (note == nullptr) return kErrOutOfMemory;
    if (!note->counts) return 0;
    const auto stop = [&]() {
        result.found = true;
        result.span = count_ + 1;
        return 1;
    };
    switch (kind_) {
    case SpanKind::Ending:
        if (note->voice == "1") ++count_;
        break;
    case SpanKind::Tuplet:
        if (!sameVoice(*note)) break;
        if (!isStart && note->tupletState == 2) return stop();
        ++count_;
        break;
    case SpanKind::Slur: {
        if (!sameVoice(*note)) break;
        const std::vector<int32_t>& stops = note->slurStops;
        if (!isStart && std::find(stops.begin(), stops.end(), number_) != stops.end()) return stop();
        ++count_;
        break;
    }
    case SpanKind::Wedge:
        if (staffOrVoice_ < 0 || note->staff == staffOrVoice_) ++count_;
        break;
    case SpanKind::SlashStyle:
    case SpanKind::RepeatStyle:
        ++count_;
        break;
    }
    return 0;
}

bool SpanSearch::endingStops(const xmlNode* barline, CSpanResult& result) const {
    for (const xmlNode* c : mx::elements(barline)) {
        if (mx::nameOf(c) != "ending") continue;
        const std::string type = mx::lowered(mx::trimmed(mx::attribute(c, "type").value_or("")));
        if (type == "stop" || (type == "discontinue" && firstEndingNumber(c) > 1)) {
            result.found = true;
            result.span = count_ - 1;
            result.endingNumber = std::string(mx::trimmed(mx::attribute(c, "number").value_or("")));
            return true;
        }
    }
    return false;
}

int SpanSearch::wedgeStops(const xmlNode* direction, const CReadContext& context, CSpanResult& result) {
    if (!mx::hasChild(direction, "direction-type")) return 0;
    scratch_.clear();
    CDirectionInfo info;
    const int rc = readDirection(direction, context, scratch_, info);
    if (rc == kErrOutOfMemory) return rc;
    if (rc != kOk) return 0;
    for (const scorecore::CScoreWedge& w : scratch_.wedges) {
        if (w.code == scorecore::kWedgeStop && w.number == number_) {
            result.found = true;
            result.span = count_;
            result.endOffset = info.offset;
            return 1;
        }
    }
    return 0;
}

bool SpanSearch::styleStops(const xmlNode* attributes) const {
    const bool slashes = kind_ == SpanKind::SlashStyle;
    for (const xmlNode* style : mx::elements(attributes)) {
        if (mx::nameOf(style) != "measure-style") continue;
        for (const xmlNode* c : mx::elements(style)) {
            const std::string_view name = mx::nameOf(c);
            const bool matches = slashes ? (name == "slash" || name == "beat-repeat") : name == "measure-repeat";
            if (matches && mx::attributeIs(c, "type", "stop")) return true;
        }
    }
    return false;
}

// --- measure weights --------------------------------------------------------------------

int32_t noteWeight(const xmlNode* note) {
    if (noteIsRest(note)) return 3;
    const std::string type = mx::lowered(mx::trimmed(mx::childText(note, "type").value_or("")));
    if (type == "half") return 2;
    if (type == "whole" || type == "breve" || type == "long") return 4;
    return 1;
}

// What the measure's attributes add: multiple rest, key, time, first-staff clef.
int32_t attributesWeight(const xmlNode* measure) {
    bool multipleRest = false;
    bool key = false;
    bool time = false;
    bool clef = false;
    int32_t weight = 0;
    for (const xmlNode* attributes : mx::elements(measure)) {
        if (mx::nameOf(attributes) != "attributes") continue;
        for (const xmlNode* c : mx::elements(attributes)) {
            const std::string_view name = mx::nameOf(c);
            if (name == "measure-style" && !multipleRest && mx::hasChild(c, "multiple-rest")) {
                multipleRest = true;
                weight += 1;
            } else if (name == "key" && !key) {
                key = true;
                const int64_t fifths = mx::childRounded(c, "fifths", -7, 7).value_or(0);
                weight += std::max<int32_t>(static_cast<int32_t>(std::abs(fifths) / 2), 1);
            } else if (name == "time" && !time) {
                time = true;
                weight += 1;
            } else if (name == "clef" && !clef && mx::trimmed(mx::attribute(c, "number").value_or("1")) == "1") {
                clef = true;
                const int32_t code = clefSignCode(mx::childText(c, "sign").value_or(""));
                if (code >= 1 && code <= 5) weight += 1;
            }
        }
    }
    return weight;
}

int estimateFromWeights(const std::vector<int32_t>& weights, double widthFactor, int32_t firstMeasure,
                        int32_t& count) {
    count = 0;
    const int64_t target = scorecore::scRound64(widthFactor * kSystemWidthUnits);
    if (target < 1 || firstMeasure < 0) return kOk;
    int64_t sum = 0;
    for (auto i = static_cast<std::size_t>(firstMeasure); i < weights.size(); ++i) {
        const int64_t before = sum;
        sum += weights[i];
        if (sum >= target) {
            if (sum - target <= target - before) ++count;
            return kOk;
        }
        ++count;
    }
    return kOk;
}

// How a search reads the notes it passes.
CReadContext lookAheadContext(int32_t ticksPerQuarter) {
    CReadContext context;
    context.mode = kModeLookAhead;
    context.ticksPerQuarter = ticksPerQuarter;
    context.spanMarksOnly = true;
    return context;
}

}  // namespace

// --- public helpers ---------------------------------------------------------------------

int CMxmlSpanFinder::find(const xmlNode* start, SpanKind kind, int32_t staffOrVoice, int32_t number,
                          CSpanResult& result) {
    result = CSpanResult{};
    const xmlNode* item = measureChildOf(start);
    if (item == nullptr) return kErrDom;
    const CMxmlFile::ModeScope lookAhead(file_, kModeLookAhead);
    const CReadContext context = lookAheadContext(file_.ticksPerQuarter);
    std::string voice;
    if (mx::isNamed(item, "note")) {
        voice = voiceKey(mx::childText(item, "voice").value_or(""));
    } else if (staffOrVoice >= 0 && (kind == SpanKind::Tuplet || kind == SpanKind::Slur)) {
        voice = std::to_string(staffOrVoice + 1);
    }
    SpanSearch search(*this, kind, staffOrVoice, number, std::move(voice));
    int32_t crossed = 0;
    for (const xmlNode* measure = item->parent; measure != nullptr; measure = nextMeasure(measure), ++crossed) {
        // A mark never closed is looked for up to the part's end.
        if (file_.stopRequested()) return scorecore::kErrStopped;
        for (const xmlNode* c = crossed == 0 ? item : mx::firstElement(measure); c != nullptr; c = mx::nextElement(c)) {
            const int rc = search.visit(c, c == item, crossed, context, result);
            if (rc < 0) return rc;
            if (rc > 0) return kOk;
        }
    }
    // An ending that is never closed runs to the end of the part.
    if (kind == SpanKind::Ending) {
        result.found = true;
        result.span = search.count() - 1;
    }
    return kOk;
}

CMxmlSpanFinder::Glance CMxmlSpanFinder::read(const xmlNode* note, const CReadContext& context, CScoreEvent& scratch) {
    scratch.clear();
    CNoteInfo info;
    const int rc = readNote(note, context, scratch, info);
    if (rc == kErrOutOfMemory) throw std::bad_alloc();
    Glance out;
    out.counts = rc == kOk && !info.chord;
    out.staff = info.staff;
    out.voice = voiceKey(info.voice);
    out.tupletState = info.tupletState;
    for (const scorecore::CScoreEventItem& item : scratch.items) {
        if (item.flags == scorecore::kItemSlurStop) out.slurStops.push_back(item.number);
    }
    return out;
}

const CMxmlSpanFinder::Glance* CMxmlSpanFinder::glance(const xmlNode* note, const CReadContext& context) {
    // A search in another part: the readings kept are of elements that may be gone.
    const xmlNode* part = note->parent != nullptr ? note->parent->parent : nullptr;
    if (part != part_) forget();
    part_ = part;
    if (prepared_ != nullptr && part == preparedPart_) {
        if (const auto known = prepared_->find(note); known != prepared_->end()) return &known->second;
    }
    if (const auto known = glances_.find(note); known != glances_.end()) return &known->second;
    try {
        return &glances_.emplace(note, read(note, context, scratch_)).first->second;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::shared_ptr<const CMxmlSpanFinder::Glances> CMxmlSpanFinder::readPart(const xmlNode* part,
                                                                          int32_t ticksPerQuarter) {
    const CReadContext context = lookAheadContext(ticksPerQuarter);
    auto glances = std::make_shared<Glances>();
    CScoreEvent scratch;
    for (const xmlNode* measure : mx::elements(part)) {
        if (!mx::nameIs(measure, "measure")) continue;
        for (const xmlNode* c : mx::elements(measure)) {
            if (mx::nameIs(c, "note")) glances->emplace(c, read(c, context, scratch));
        }
    }
    return glances;
}

void CMxmlSpanFinder::usePrepared(const xmlNode* part, std::shared_ptr<const Glances> glances) {
    preparedPart_ = glances != nullptr ? part : nullptr;
    prepared_ = std::move(glances);
}

void CMxmlSpanFinder::forget() {
    glances_.clear();
    part_ = nullptr;
}

int32_t measureWeight(const xmlNode* measure) {
    std::array<int32_t, CVoiceBitTables::kMaxVoices> voices{};
    for (const xmlNode* c : mx::elements(measure)) {
        if (mx::nameOf(c) != "note" || noteIsChord(c)) continue;
        // Hidden notes are not drawn (hidden rests and cue notes are).
        if (noteIsHidden(c) && !noteIsRest(c) && !noteIsCue(c)) continue;
        voices[voiceSlot(c)] += noteWeight(c);
    }
    return *std::max_element(voices.begin(), voices.end()) + attributesWeight(measure);
}

void addMeasureWeights(const xmlNode* part, std::vector<int32_t>& weights) {
    std::vector<int32_t> own;
    for (const xmlNode* measure : mx::elements(part)) {
        if (mx::nameOf(measure) == "measure") own.push_back(measureWeight(measure));
    }
    mergeMeasureWeights(own, weights);
}

void mergeMeasureWeights(const std::vector<int32_t>& part, std::vector<int32_t>& weights) {
    const std::size_t shared = std::min(part.size(), weights.size());
    for (std::size_t i = 0; i < shared; ++i) weights[i] = std::max(weights[i], part[i]);
    weights.insert(weights.end(), part.begin() + static_cast<std::ptrdiff_t>(shared), part.end());
}

int documentMeasureWeights(const xmlNode* documentNode, std::vector<int32_t>& weights) {
    weights.clear();
    std::vector<xmlNodePtr> parts;
    if (GetPartlistFromNode(documentNode, parts) != kOk) return kErrDom;
    for (const xmlNode* part : parts) addMeasureWeights(part, weights);
    return kOk;
}

int firstSystemEstimate(const xmlNode* documentNode, double widthFactor, int32_t firstMeasure, int32_t& count) {
    count = 0;
    std::vector<int32_t> weights;
    if (documentMeasureWeights(documentNode, weights) != kOk) return kErrDom;
    return estimateFromWeights(weights, widthFactor, firstMeasure, count);
}

std::optional<CRestValue> longestRestValue(int64_t gap, int32_t ticksPerQuarter) {
    // Note values in 64ths of a quarter, longest first.
    static constexpr std::array<std::pair<std::string_view, int64_t>, 11> kValues{{
        {"long", 1024}, {"breve", 512}, {"whole", 256}, {"half", 128}, {"quarter", 64}, {"eighth", 32},
        {"16th", 16}, {"32nd", 8}, {"64th", 4}, {"128th", 2}, {"256th", 1},
    }};
    if (gap < 1 || ticksPerQuarter < 1) return std::nullopt;
    for (const auto& [type, sixtyFourths] : kValues) {
        const int64_t ticks = ticksPerQuarter * sixtyFourths / 64;
        if (ticks < 1) continue;
        for (int32_t dots = 2; dots >= 0; --dots) {
            const int64_t dotted = ticks + (dots >= 1 ? ticks / 2 : 0) + (dots >= 2 ? ticks / 4 : 0);
            if (dotted <= gap) return CRestValue{std::string(type), dots, static_cast<int32_t>(dotted)};
        }
    }
    return std::nullopt;
}

int applyMeasureStyleMarks(CScoreEvent& event, const CStyleMarks& marks) {
    constexpr int32_t kPlacement = 3;
    constexpr float kManyBarsPosition = 800.0f;
    constexpr int32_t kCountAbove = 200;
    scorecore::CScoreOrnament sign;
    if (marks.kind == CMeasureStyle::kMeasureRepeat) {
        sign.code = marks.count > 1 ? kOrnamentRepeatMany : kOrnamentRepeatOne;
    } else if (marks.kind == CMeasureStyle::kSlash) {
        sign.code = kOrnamentSlashes;
    } else {
        return kOk;
    }
    sign.flag = 1;
    sign.placement = kPlacement;
    sign.position = sign.code == kOrnamentRepeatMany ? kManyBarsPosition : 0.0f;
    if (!event.appendOrnament(sign)) return kErrOutOfMemory;
    if (sign.code != kOrnamentRepeatMany) return kOk;
    scorecore::CScoreText count;
    count.face = std::string(scorecore::kMusicFontFace);
    count.text = std::to_string(marks.count);
    count.offsetY = (event.texts.empty() ? 0 : event.texts.back().offsetY) - kCountAbove;
    return event.appendText(count) ? kOk : kErrOutOfMemory;
}

namespace {

// The key each unpitched instrument's notes are written at (their display
// position), by instrument id (ids are unique in a score): the staff's drum
// map takes it to the key the instrument sounds. The first note of an
// instrument decides.
std::unordered_map<std::string, int32_t> displayKeys(const CMxmlFile& file) {
    std::unordered_map<std::string, int32_t> keys;
    for (const CMxmlPart& part : file.parts) {
        for (const xmlNode* measure : part.measures) {
            for (const xmlNode* note : mx::elements(measure)) {
                if (!mx::isNamed(note, "note")) continue;
                const xmlNode* unpitched = mx::child(note, "unpitched");
                const xmlNode* instrument = mx::child(note, "instrument");
                if (unpitched == nullptr || instrument == nullptr) continue;
                const std::optional<std::string> id = mx::attribute(instrument, "id");
                const int32_t key = unpitchedDisplayKey(unpitched);
                if (id && key >= 0) keys.emplace(*id, key);
            }
        }
    }
    return keys;
}

}  // namespace

bool buildLayoutArgs(const CMxmlFile& file, int32_t staves, scorecore::VxmlLayoutArgs& out) {
    constexpr double kStaffDistance = 4.0;
    constexpr double kVerseDistance = 1.5;
    constexpr int32_t kMaxVerses = 10;
    const auto at = [](const auto& table, int32_t s, auto fallback) {
        return s >= 0 && static_cast<std::size_t>(s) < table.size() ? table[static_cast<std::size_t>(s)] : fallback;
    };
    try {
        out.staves.clear();
        const std::unordered_map<std::string, int32_t> drumKeys = displayKeys(file);
        for (int32_t s = 0; s < staves; ++s) {
            scorecore::VxmlStaffSetup staff;
            staff.topFlag = s == 0 ? 1 : 0;
            const CStaffName name = at(file.staffNames, s, CStaffName{});
            staff.name = name.name;
            staff.abbreviation = name.abbreviation;
            staff.clef = drawnClef(at(file.clefs, s, CScoreClef{}));
            staff.lineCount = at(file.staffLines, s, 5);
            staff.barlineFlag = at(file.groupEnd, s, 1);
            const auto instruments = file.instruments.list(s);
            staff.instruments.assign(instruments.begin(), instruments.end());
            for (scorecore::CMidiInstr& instrument : staff.instruments) {
                const auto written = drumKeys.find(instrument.InstrumentId);
                if (instrument.hasPercNote() && written != drumKeys.end()) {
                    instrument.UserProgram = static_cast<uint8_t>(written->second);
                }
            }
            staff.transpose = at(file.staffTransposition, s, 0);
            staff.distance = kStaffDistance + kVerseDistance * std::clamp(at(file.lyricVerses, s, 0), 0, kMaxVerses);
            out.staves.push_back(std::move(staff));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    out.groups = &file.partGroups;
    return true;
}

// --- the receiver -----------------------------------------------------------------------

CVxmlBridge::CVxmlBridge(CMxmlFile& file, scorecore::CVxmlFile& vxml) : file_(file), vxml_(vxml), spans_(file) {}

int CVxmlBridge::prepare(int32_t staves, const std::vector<int32_t>& walkOrder, std::vector<int32_t>* weights) {
    staves_ = std::max(staves, 0);
    try {
        lastWalkOfStaff_.assign(static_cast<std::size_t>(staves_), -1);
        walksEnded_ = 0;
        const CVoiceBitTables& partTables = file_.voiceTables;
        int32_t walk = 0;
        for (const int32_t part : walkOrder) {
            // The walk passes over an element without a part-table entry.
            if (part < 0 || part >= partTables.partCount()) continue;
            const int32_t first = std::max(partTables.firstStaffOfPart(part), 0);
            for (int32_t s = first; s < std::min(first + partTables.staffCount(part), staves_); ++s) {
                lastWalkOfStaff_[static_cast<std::size_t>(s)] = walk;
            }
            ++walk;
        }
        voiceCounts_.assign(static_cast<std::size_t>(staves_), 0);
        positions_.assign(static_cast<std::size_t>(staves_), {});
        const CVoiceBitTables& tables = file_.voiceTables;
        for (int32_t p = 0; p < tables.partCount(); ++p) {
            const int32_t first = tables.firstStaffOfPart(p);
            for (int32_t s = 0; s < tables.staffCount(p); ++s) {
                const int32_t staff = first + s;
                if (first < 0 || staff >= staves_) continue;
                voiceCounts_[static_cast<std::size_t>(staff)] = tables.voiceCount(p, s);
                positions_[static_cast<std::size_t>(staff)].assign(static_cast<std::size_t>(tables.voiceCount(p, s)), 0);
            }
        }
        // Without parts to read the estimate sees no measures: a system takes one.
        if (weights != nullptr) {
            measureWeights_ = std::move(*weights);
        } else {
            documentMeasureWeights(file_.document.root(), measureWeights_);
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    // The text of each part's voices is written while the next part is read.
    vxml_.deferObjectText();
    return kOk;
}

int CVxmlBridge::beginPart(int32_t part, const CPartState& state) {
    spans_.forget();
    part_ = part;
    if (firstPart_ < 0) firstPart_ = part;
    firstStaff_ = std::max(file_.voiceTables.firstStaffOfPart(part), 0);
    staffCount_ = state.staffCount;
    measureCount_ = part >= 0 && part < static_cast<int32_t>(file_.parts.size())
                        ? static_cast<int32_t>(file_.parts[static_cast<std::size_t>(part)].measures.size())
                        : 0;
    system_ = -1;
    multiRest_ = MultiRest{};
    ending_.reset();
    try {
        clefs_.assign(static_cast<std::size_t>(staffCount_), CScoreClef{kClefG, 2, 1});
        for (int32_t s = 0; s < staffCount_; ++s) {
            const int32_t staff = firstStaff_ + s;
            if (staff < static_cast<int32_t>(file_.clefs.size())) {
                clefs_[static_cast<std::size_t>(s)] = drawnClef(file_.clefs[static_cast<std::size_t>(staff)]);
            }
        }
        styleMarkDue_.assign(static_cast<std::size_t>(staffCount_), 0);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

// The staves no later part writes are done: their voices become text, which
// keeps the document small while the other parts are read.
int CVxmlBridge::endPart(int32_t /*part*/, int32_t /*firstStaff*/, int32_t /*staffCount*/, int64_t /*partEnd*/) {
    const int32_t walk = walksEnded_++;
    for (int32_t s = 0; s < staves_; ++s) {
        if (lastWalkOfStaff_[static_cast<std::size_t>(s)] != walk) continue;
        if (const int rc = vxml_.packStaves(s, 1); rc != kOk) return rc;
    }
    return kOk;
}

int CVxmlBridge::beginMeasure(const CWalkMeasure& m) {
    measure_ = m;
    attributesSeen_ = 0;
    rightBarline_ = -1;
    if (m.index == 0) {
        for (int32_t s = firstStaff_; s < std::min(firstStaff_ + staffCount_, staves_); ++s) {
            for (int64_t& pos : positions_[static_cast<std::size_t>(s)]) pos = m.barStart;
        }
    }
    if (m.header->attributes != nullptr) readClefs(m.header->attributes, clefs_);
    startMultiRest(m);
    bool systemStart = false;
    if (const int rc = enterSystem(m, systemStart); rc != kOk) return rc;
    if (const int rc = writeSigns(m, systemStart); rc != kOk) return rc;

    std::fill(styleMarkDue_.begin(), styleMarkDue_.end(), 0);
    const CMeasureStyle& style = m.state->style;
    const bool block = style.kind == CMeasureStyle::kMeasureRepeat ? m.repeatBars > 0 : true;
    if (style.isRunning() && block) {
        styleMarks_ = CStyleMarks{style.kind, style.kind == CMeasureStyle::kMeasureRepeat ? m.repeatBars : 1};
        for (int32_t s = 0; s < staffCount_; ++s) {
            if (styleCovers(s)) styleMarkDue_[static_cast<std::size_t>(s)] = 1;
        }
    }
    return kOk;
}

// A multiple rest counts its measures; its last one is the last of the
// count, of the part, or (outside the part that lays out the systems) of the
// system, so that it never reaches into another system.
void CVxmlBridge::startMultiRest(const CWalkMeasure& m) {
    if (multiRest_.active()) {
        ++multiRest_.index;
    } else if (m.header->multipleRest > 1) {
        multiRest_ = MultiRest{m.header->multipleRest, 0, false};
    }
    if (!multiRest_.active()) return;
    bool last = multiRest_.index >= multiRest_.total - 1 || m.index >= measureCount_ - 1;
    if (part_ != firstPart_) {
        for (const System& s : systems_) last = last || s.last == m.index;
    }
    multiRest_.last = last;
}

int CVxmlBridge::enterSystem(const CWalkMeasure& m, bool& systemStart) {
    const int32_t i = m.index;
    // A multiple rest stays in its system: the system grows instead.
    if (part_ == firstPart_ && multiRest_.active() && multiRest_.index > 0 && !systems_.empty() &&
        i == systems_.back().last + 1) {
        systems_.back().last = i;
        if (scorecore::CDomNodeGroup* group = vxml_.systemAt(static_cast<int32_t>(systems_.size()) - 1)) {
            group->lastBar = i;
        }
    }
    // Measures come in order: the system is the part's current one or a later one.
    int32_t found = -1;
    for (auto k = static_cast<std::size_t>(std::max(system_, 0)); k < systems_.size() && found < 0; ++k) {
        if (systems_[k].first <= i && i <= systems_[k].last) found = static_cast<int32_t>(k);
    }
    if (found < 0) {
        if (!systems_.empty() && i <= systems_.back().last) return kErrIndex;
        if (const int rc = createSystem(m); rc != kOk) return rc;
        found = static_cast<int32_t>(systems_.size()) - 1;
    }
    systemStart = found != system_;
    system_ = found;
    return kOk;
}

int CVxmlBridge::createSystem(const CWalkMeasure& m) {
    int32_t measures = 0;
    if (const int rc = estimateFromWeights(measureWeights_, vxml_.layoutScale, m.index, measures); rc != kOk) return rc;
    measures = std::max(measures, 1);
    const System range{m.index, m.index + measures - 1};
    const int64_t firstNumber = int64_t{m.header->number} + (m.upbeat ? 1 : 0);
    const int32_t barNumber =
        systems_.empty() && m.index == 0 ? static_cast<int32_t>(std::min<int64_t>(firstNumber, INT32_MAX)) : 0;
    const int32_t tempo = file_.cursor.tempo > 0 ? file_.cursor.tempo : kDefaultTempo;
    scorecore::CMeter meter = m.state->meter;
    if (m.state->noTimeSignature) meter.beats = -1;
    vxml_.setCurrentSystem(vxml_.getSystemCount());
    if (const int rc = vxml_.appendSystem(tempo, barNumber, range.first, range.last); rc != kOk) return rc;
    // Every staff of the score, whichever part is read first.
    for (int32_t s = 0; s < staves_; ++s) {
        vxml_.setCurrentStaff(s);
        if (const int rc = vxml_.appendStaff(meter, voiceCounts_[static_cast<std::size_t>(s)]); rc != kOk) return rc;
    }
    try {
        systems_.push_back(range);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

// Clef, key and time into every voice of the part: all of them at a system's
// start, the ones that changed inside a system.
int CVxmlBridge::writeSigns(const CWalkMeasure& m, bool systemStart) {
    const CPartState& state = *m.state;
    const int key = state.key.isSet() ? state.key.fifths : CKeySig::kUnset;
    const scorecore::CMeter* time = state.noTimeSignature ? nullptr : &state.meter;
    for (int32_t s = 0; s < staffCount_; ++s) {
        const int32_t staff = firstStaff_ + s;
        const scorecore::CDomNodeItem* record = vxml_.staffAt(system_, staff);
        if (staff >= staves_ || record == nullptr) continue;
        const CScoreClef clef = clefs_[static_cast<std::size_t>(s)];
        const bool clefChanged = systemStart || !clef.sameAs(record->clef);
        for (int32_t v = 0; v < voiceCounts_[static_cast<std::size_t>(staff)]; ++v) {
            if (!select(staff, v)) continue;
            int rc = clefChanged ? vxml_.appendClefSign(clef, true) : kOk;
            if (rc == kOk && (systemStart || m.header->keyChanged)) rc = vxml_.appendKeySign(key, systemStart);
            if (rc == kOk && (systemStart || m.header->timeChanged)) rc = vxml_.appendTimeSign(time);
            if (rc != kOk) return rc;
        }
    }
    return kOk;
}

int CVxmlBridge::event(const CWalkTarget& target, CScoreEvent& event) {
    const int32_t staff = target.staff;
    const int32_t voice = target.voice;
    if (staff < 0 || staff >= staves_ || voice < 0 || voice >= voiceCounts_[static_cast<std::size_t>(staff)]) {
        return kOk;
    }
    const bool rest = event.isKind(scorecore::kKindRest);
    // A chord whose notes were all left out draws nothing; its time is a gap.
    if (!rest && event.headCount <= 0) return kOk;
    if (multiRest_.active()) {
        if (rest) return multiRest_.last ? writeMultiRest(staff, voice, event) : kOk;
        multiRest_ = MultiRest{};  // notes: no multiple rest after all
    }
    const int32_t written = rest ? restType(event) : chordType(event);
    if (styleCovers(target.partStaff)) event.setKind(scorecore::kKindInvisible);
    if (const int rc = fillVoice(staff, voice, event.start); rc != kOk) return rc;
    const int64_t start = event.start;
    if (const int rc = writeEvent(staff, voice, event); rc != kOk) return rc;
    int64_t& pos = position(staff, voice);
    pos = std::max<int64_t>(pos, start) + written;
    return kOk;
}

// Whether the type (with dots) of an event that is no tuplet stands for other
// ticks than its duration. Files do not always agree with themselves; the
// duration keeps the voices in step, so it wins.
bool CVxmlBridge::typeDisagrees(const CScoreEvent& event) const {
    if (event.tupletCount != 0 || event.duration <= 0 || event.baseText == kTypeFromTicks) return false;
    return noteTypeTicks(event.baseText, event.dots, 0, 0, file_.ticksPerQuarter) != event.duration;
}

// The value a chord is written with, and the ticks it stands for: its type
// when that fits its duration, else the longest value within the duration
// (the time left over is filled like a gap). Grace notes keep their type.
int32_t CVxmlBridge::chordType(CScoreEvent& event) const {
    if (event.isKind(scorecore::kKindGrace)) {
        if (scorecore::noteBaseText(event.baseText).empty()) event.baseText = "eighth";
        return 0;
    }
    const bool unknown = scorecore::noteBaseText(event.baseText).empty();
    if (event.tupletCount != 0) {
        if (unknown) event.baseText = kTypeFromTicks;
        return std::max(event.duration, 0);
    }
    if (!unknown && !typeDisagrees(event)) return std::max(event.duration, 0);
    if (const std::optional<CRestValue> value = longestRestValue(event.duration, file_.ticksPerQuarter)) {
        event.baseText = value->type;
        event.dots = static_cast<uint8_t>(value->dots);
        return value->ticks;
    }
    if (unknown) event.baseText = kTypeFromTicks;
    return std::max(event.duration, 0);
}

// A rest that fills its measure is a one-bar rest ("1"); in a measure shorter
// or longer than its bar, or without a time signature, it takes the value of
// its ticks, as does a rest without a usable type or with one that says other
// ticks than its duration. Returns the ticks it stands for.
int32_t CVxmlBridge::restType(CScoreEvent& event) const {
    const CPartState& state = *measure_.state;
    const bool whole = event.start <= measure_.barStart && measure_.length > 0 && event.duration >= measure_.length;
    if (whole) {
        const bool oneBar = !state.noTimeSignature && measure_.length == state.meter.ticksPerBar;
        event.baseText = oneBar ? kOneBar : kTypeFromTicks;
        // A bar rest is one bar whatever the value it was written with: a dot
        // would make it read back as a bar and a half.
        if (oneBar) event.dots = 0;
    } else if (scorecore::noteBaseText(event.baseText).empty() || typeDisagrees(event)) {
        event.baseText = kTypeFromTicks;
    }
    return std::max(event.duration, 0);
}

// The rest of a multiple rest's last measure stands for all its measures.
int CVxmlBridge::writeMultiRest(int32_t staff, int32_t voice, CScoreEvent& event) {
    int64_t& pos = position(staff, voice);
    const int64_t end = measureEnd();
    if (end <= pos) return kOk;
    event.baseText = std::to_string(multiRest_.index + 1);
    event.start = static_cast<int32_t>(pos);
    event.duration = static_cast<int32_t>(end - pos);
    if (styleCovers(staff - firstStaff_)) event.setKind(scorecore::kKindInvisible);
    if (const int rc = writeEvent(staff, voice, event); rc != kOk) return rc;
    pos = end;
    return kOk;
}

int CVxmlBridge::attributes(const CWalkMeasure& m, const CAttributesRead& /*read*/, int64_t tick) {
    // The walk hands over the measure's other "attributes" in document order.
    const xmlNode* element = nullptr;
    int32_t seen = 0;
    for (const xmlNode* c : mx::elements(m.node)) {
        if (mx::nameOf(c) != "attributes" || c == m.header->attributes) continue;
        if (seen++ == attributesSeen_) {
            element = c;
            break;
        }
    }
    ++attributesSeen_;
    if (element == nullptr || (multiRest_.active() && !multiRest_.last)) return kOk;
    readClefs(element, clefs_);
    for (int32_t s = 0; s < staffCount_; ++s) {
        const int32_t staff = firstStaff_ + s;
        const scorecore::CDomNodeItem* record = vxml_.staffAt(system_, staff);
        if (staff >= staves_ || record == nullptr || clefs_[static_cast<std::size_t>(s)].sameAs(record->clef)) continue;
        const CScoreClef clef = clefs_[static_cast<std::size_t>(s)];
        for (int32_t v = 0; v < voiceCounts_[static_cast<std::size_t>(staff)]; ++v) {
            if (const int rc = fillVoice(staff, v, tick); rc != kOk) return rc;
            if (!select(staff, v)) continue;
            if (const int rc = vxml_.appendClefSign(clef, true); rc != kOk) return rc;
        }
    }
    return kOk;
}

int CVxmlBridge::barline(const CWalkMeasure& m, int64_t tick, const scorecore::CEventBarline& bar,
                         const CBarlineInfo& info) {
    if (info.endingStart) {
        ending_ = bar;
        ending_->type = kBarlineEndingStart;
    }
    if (scorecore::barlineText(bar.type).empty() || (multiRest_.active() && !multiRest_.last)) return kOk;
    // The measure's closing barline waits for its voices to end.
    if (info.location == CBarlineInfo::Location::Right) {
        rightBarline_ = bar.type;
        return kOk;
    }
    const int64_t at = info.location == CBarlineInfo::Location::Left ? m.barStart : tick;
    if (const int rc = fillPart(at); rc != kOk) return rc;
    return barlineInPart(bar.type);
}

int CVxmlBridge::endMeasure(const CWalkMeasure& m, int64_t nextBarStart) {
    if (multiRest_.active() && !multiRest_.last) return kOk;
    int64_t end = nextBarStart;
    int64_t furthest = end;
    for (int32_t s = firstStaff_; s < std::min(firstStaff_ + staffCount_, staves_); ++s) {
        for (const int64_t pos : positions_[static_cast<std::size_t>(s)]) furthest = std::max(furthest, pos);
    }
    if (furthest - end > file_.ticksPerQuarter / kOverfillTolerancePerQuarter) end = furthest;
    if (const int rc = fillPart(end); rc != kOk) return rc;
    for (int32_t s = firstStaff_; s < std::min(firstStaff_ + staffCount_, staves_); ++s) {
        for (int64_t& pos : positions_[static_cast<std::size_t>(s)]) pos = end;
    }
    int32_t code = rightBarline_;
    if (code < 0) {
        const bool lastOfSystem = system_ >= 0 && systems_[static_cast<std::size_t>(system_)].last == m.index;
        if (lastOfSystem || !nextMeasureOpensWithBarline()) code = kBarlineSingle;
    }
    if (code >= 0) {
        if (const int rc = barlineInPart(code); rc != kOk) return rc;
    }
    if (multiRest_.last) {
        const int32_t remaining = multiRest_.total - multiRest_.index - 1;
        multiRest_ = remaining > 0 ? MultiRest{remaining, -1, false} : MultiRest{};
    }
    return kOk;
}

// Whether the next measure begins with a barline of its own that is drawn
// (a forward repeat, say), which then stands for this measure's closing one.
bool CVxmlBridge::nextMeasureOpensWithBarline() const {
    const xmlNode* next = nextMeasure(measure_.node);
    if (next == nullptr) return false;
    CReadContext lookAhead;
    lookAhead.mode = kModeLookAhead;
    lookAhead.ticksPerQuarter = file_.ticksPerQuarter;
    for (const xmlNode* c : mx::elements(next)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "note" || name == "backup" || name == "forward") return false;
        if (name != "barline") continue;
        scorecore::CEventBarline bar;
        CBarlineInfo info;
        if (readBarline(c, lookAhead, bar, info) == kOk && info.location == CBarlineInfo::Location::Left &&
            !scorecore::barlineText(bar.type).empty()) {
            return true;
        }
    }
    return false;
}

bool CVxmlBridge::styleCovers(int32_t partStaff) const {
    if (measure_.state == nullptr) return false;
    const CMeasureStyle& style = measure_.state->style;
    return style.isRunning() && (style.staff < 0 || style.staff == partStaff);
}

int CVxmlBridge::fillVoice(int32_t staff, int32_t voice, int64_t to) {
    int64_t& pos = position(staff, voice);
    for (int32_t rests = 0; to > pos; ++rests) {
        if (rests == kMaxFillRests) {
            if (!fillCutLogged_) file_.logStep(kLogFunction, "gap too long for hidden rests: cut");
            fillCutLogged_ = true;
            break;
        }
        const std::optional<CRestValue> value = longestRestValue(to - pos, file_.ticksPerQuarter);
        if (!value) break;  // less than the shortest value: nothing to draw
        CScoreEvent rest;
        rest.kind = scorecore::kKindRest | scorecore::kKindInvisible;
        rest.baseText = value->type;
        rest.dots = static_cast<uint8_t>(value->dots);
        rest.start = static_cast<int32_t>(pos);
        rest.duration = value->ticks;
        if (const int rc = writeEvent(staff, voice, rest); rc != kOk) return rc;
        pos += value->ticks;
    }
    pos = std::max(pos, to);
    return kOk;
}

int CVxmlBridge::fillPart(int64_t to) {
    for (int32_t s = firstStaff_; s < std::min(firstStaff_ + staffCount_, staves_); ++s) {
        for (int32_t v = 0; v < voiceCounts_[static_cast<std::size_t>(s)]; ++v) {
            if (const int rc = fillVoice(s, v, to); rc != kOk) return rc;
        }
    }
    return kOk;
}

// Writes a chord or rest into its voice; the first object of voice 1 takes a
// waiting ending, the first of a style block's first voice the block's sign.
int CVxmlBridge::writeEvent(int32_t staff, int32_t voice, CScoreEvent& event) {
    if (!select(staff, voice)) return kOk;
    if (voice == 0 && staff == firstStaff_ && ending_) {
        event.barline = *ending_;
        ending_.reset();
    }
    const int32_t partStaff = staff - firstStaff_;
    if (voice == 0 && partStaff >= 0 && partStaff < static_cast<int32_t>(styleMarkDue_.size()) &&
        styleMarkDue_[static_cast<std::size_t>(partStaff)] != 0) {
        styleMarkDue_[static_cast<std::size_t>(partStaff)] = 0;
        if (const int rc = applyMeasureStyleMarks(event, styleMarks_); rc != kOk) return rc;
    }
    // The event is the writer's now: the walk clears it before it reads into it again.
    const int rc =
        event.isKind(scorecore::kKindRest) ? vxml_.appendRest(std::move(event)) : vxml_.appendChord(std::move(event));
    // A rest too short for any note value is left out.
    return rc == kErrNotPresent ? kOk : rc;
}

int CVxmlBridge::barlineInPart(int32_t code) {
    for (int32_t s = firstStaff_; s < std::min(firstStaff_ + staffCount_, staves_); ++s) {
        for (int32_t v = 0; v < voiceCounts_[static_cast<std::size_t>(s)]; ++v) {
            if (!select(s, v)) continue;
            if (const int rc = vxml_.appendBarline(code); rc != kOk) return rc;
        }
    }
    return kOk;
}

bool CVxmlBridge::select(int32_t staff, int32_t voice) {
    vxml_.setCursor(system_, staff, voice);
    return vxml_.voiceAt() != nullptr;
}

int64_t& CVxmlBridge::position(int32_t staff, int32_t voice) {
    static thread_local int64_t none = 0;
    if (staff < 0 || staff >= staves_) return none = 0;
    auto& voices = positions_[static_cast<std::size_t>(staff)];
    if (voice < 0 || voice >= static_cast<int32_t>(voices.size())) return none = 0;
    return voices[static_cast<std::size_t>(voice)];
}

int64_t CVxmlBridge::measureEnd() const { return std::min(measure_.barStart + measure_.length, kMaxTicks); }

}  // namespace scoreconv
