// The walk of a ".tvrx" score into the MusicXML writer: systems, staves and
// voices in document order, each voice's objects into the measures of its
// part, with backups between the voices of a measure.
#include "tvrxml/vxml_convert.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/mxml_file.h"
#include "musicxml/mxml_writer.h"
#include "musicxml/output_elements.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

using scorecore::CEventBarline;
using scorecore::CMeter;
using scorecore::CScoreClef;
using scorecore::CScoreEvent;
using scorecore::CVxmlFile;
using scorecore::kErrDom;
using scorecore::kErrIndex;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

namespace {

constexpr int32_t kDivisions = scorecore::kDefaultTicksPerQuarter;
constexpr double kDivisionsValue = kDivisions;
// The program name the MusicXML object of vxmlConvertFile writes as "software".
constexpr std::string_view kProgramName = "Tavrena Orvendo 3 (scoreconv)";

// TvrXML barline codes.
constexpr int kCodeDouble = 1;
constexpr int kCodeEnd = 2;
constexpr int kCodeRepeatEnd = 3;
constexpr int kCodeRepeatBegin = 4;
constexpr int kCodeRepeatEndBegin = 5;
constexpr int kCodeRepeatEndAlso = 7;

bool isElement(const xmlNode* node, std::string_view name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && scorecore::xmldomNodeName(node) == name;
}

std::string attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) return {};
    std::string out(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return out;
}

const xmlNode* childElement(const xmlNode* parent, std::string_view name) {
    for (const xmlNode* c = parent != nullptr ? parent->children : nullptr; c != nullptr; c = c->next) {
        if (isElement(c, name)) return c;
    }
    return nullptr;
}

bool repeatsBackward(int code) {
    return code == kCodeRepeatEnd || code == kCodeRepeatEndBegin || code == kCodeRepeatEndAlso;
}
bool repeatsForward(int code) { return code == kCodeRepeatBegin || code == kCodeRepeatEndBegin; }

// The right barline of a bar from the codes its first and last voice close it
// with: a repeat or a heavier line in either voice is the bar's (a musician
// reads a mark in any voice as the staff's); a repeat wins over an end line,
// an end line over a double line. A forward repeat is no right barline: it
// opens the next bar. kBarRegular when nothing is to be written.
int32_t rightBarline(int first, int last) {
    if (repeatsBackward(first) || repeatsBackward(last)) return kBarRepeatBackward;
    if (first == kCodeEnd || last == kCodeEnd) return kBarFinal;
    if (first == kCodeDouble || last == kCodeDouble) return kBarLightLight;
    return kBarRegular;
}

CMxmlClef mxmlClef(const CScoreClef& clef) {
    CMxmlClef out;
    out.sign = clef.kind == 1 ? 1 : clef.kind == 2 ? 2 : clef.kind == 3 ? 3 : 0;
    out.octave = std::clamp(clef.octaveChange, 0, 2);
    out.line = clef.line;
    return out;
}

// The ticks a note value stands for without rounding: "1/256" is 7.5 at 480 a
// quarter, and a tuplet's notes are the base times normal over actual notes.
// Bar counts and grace notes are what the reader made of them.
double exactTicks(const CScoreEvent& event) {
    if (event.isKind(scorecore::kKindGrace) || event.duration == 0) return event.duration;
    const std::string& base = event.baseText;
    const std::size_t slash = base.find('/');
    if (slash == std::string::npos) return event.duration;
    const int numerator = std::atoi(base.substr(0, slash).c_str());
    const int denominator = std::atoi(base.substr(slash + 1).c_str());
    // Only the note values; any other text counts bars as the reader has it.
    const bool value = (denominator == 1 && (numerator == 2 || numerator == 4)) ||
                       (numerator == 1 && denominator >= 1 && denominator <= 256 && (denominator & (denominator - 1)) == 0);
    if (!value || base != std::to_string(numerator) + "/" + std::to_string(denominator)) return event.duration;
    const double whole = 4.0 * kDivisionsValue * numerator / denominator;
    double ticks = whole * (2.0 - std::ldexp(1.0, -std::min<int>(event.dots, 30)));
    if (event.tupletCount > 0 && event.tupletNormal > 0) ticks = ticks * event.tupletNormal / event.tupletCount;
    return ticks;
}

CMxmlTime mxmlTime(const CMeter& meter) { return CMxmlTime{meter.beats, meter.unitIndex, 0}; }

bool hasDirection(const CScoreEvent& event) {
    bool ornament = false;
    for (const scorecore::CScoreOrnament& o : event.ornaments) ornament |= o.code >= 13 && o.code <= 16;
    return ornament || event.dynamic.code != 0 || !event.wedges.empty() || !event.texts.empty();
}

// A span counted down over the notes of one voice.
struct OpenSpan {
    int32_t left = 0;  // notes still to come before the one that ends it
    int32_t line = 0;  // slur number the writer gave the start
};

// The ending opened by a chord or rest, counted over the notes of its voice.
struct OpenEnding {
    CEventBarline barline;
    int32_t voice = 0;
};

// The signs in force in one voice of a staff.
struct Signs {
    CScoreClef clef;
    int8_t key = 0;
    CMeter meter;
};

// One staff layout's part while it is written.
struct PartState {
    int32_t barStart = 0;   // measure where the next system's bars begin
    int32_t startTick = 0;  // the voices' running tick there
    int32_t lastTempo = -1;
    Signs signs;                   // at barStart
    std::vector<int32_t> fill;     // per measure: the tick its elements reach
    std::vector<int32_t> firstCode;  // per measure: the first voice's closing barline, -1 none
    std::optional<OpenEnding> ending;
    CMeasureNumbering numbering{false, 0, true};
};

// The walk of one voice.
struct VoiceWalk {
    int32_t part = 0;
    int32_t voice = 0;
    bool last = false;
    int32_t measure = 0;
    int32_t pos = 0;  // ticks into the measure
    bool opened = false;  // a chord or rest of the voice came in this system
    Signs signs;
    double exact = 0.0;   // the voice's exact ticks from its start
    int64_t written = 0;  // the whole ticks handed on for them
    OpenSpan tuplet;
    std::vector<OpenSpan> slurs;
    std::vector<OpenSpan> wedges;
};

class ConvertRun {
public:
    explicit ConvertRun(CConvertParams& params) : p_(params), file_(*params.file), vxml_(*params.vxml) {}

    int run();
    int32_t errorSystem() const { return system_; }
    int32_t errorStaff() const { return staff_; }

private:
    int setUpDocument();
    int readBrackets();
    int writePartList();
    int startParts();
    int writeSystem(int32_t system);
    int restThrough(int32_t layout, int32_t bars);
    int walkVoice(VoiceWalk& w);
    int writeEvent(VoiceWalk& w, CScoreEvent& event);
    int writeMultiRest(VoiceWalk& w, CScoreEvent& event, int32_t count);
    int closeBar(VoiceWalk& w, int code);
    int ensureMeasure(int32_t part, int32_t measure);
    int select(const VoiceWalk& w);
    int attributes(VoiceWalk& w, const CMxmlClef* clef, std::optional<int8_t> fifths, const CMxmlTime* time);
    void countEnding(const VoiceWalk& w);
    Signs layoutSigns(int32_t layout) const;
    void post(platform::WParam wParam, platform::LParam lParam) const;
    bool stopRequested() const { return vxml_.isStopRequested(nullptr) || file_.stopRequested(); }

    CConvertParams& p_;
    CMxmlFile& file_;
    CVxmlFile& vxml_;
    std::vector<CMxmlBracket> brackets_;
    std::vector<xmlNodePtr> layoutNodes_;
    std::vector<PartState> parts_;
    int32_t layouts_ = 0;
    int32_t system_ = 0;
    int32_t staff_ = 0;
};

int ConvertRun::run() {
    // A score written over its own source would lose the source.
    if (platform::isSameFile(std::filesystem::path(p_.targetPath), std::filesystem::path(p_.sourcePath))) {
        return scorecore::kErrWrite;
    }
    if (const int rc = vxml_.getProps(std::filesystem::path(p_.sourcePath)); rc != kOk) return rc;
    if (stopRequested()) return kErrStopped;
    if (file_.playModeNow() != kModeTvrxml) return kOk;
    if (const int rc = setUpDocument(); rc != kOk) return rc;
    if (const int rc = readBrackets(); rc != kOk) return rc;
    if (const int rc = vxml_.getLayoutStaffNum(&layouts_, &layoutNodes_); rc != kOk) return rc;
    // The systems first: a drum staff declares an instrument for every key its
    // notes play, which only the notes tell.
    int32_t systems = 0;
    if (const int rc = vxml_.readSystems(&systems); rc != kOk) return rc;
    if (const int rc = vxml_.readStaffStart(); rc != kOk) return rc;
    if (const int rc = writePartList(); rc != kOk) return rc;
    if (const int rc = startParts(); rc != kOk) return rc;
    post(kProgressTotal, static_cast<platform::LParam>(systems) * layouts_);
    for (int32_t s = 0; s < systems; ++s) {
        if (const int rc = writeSystem(s); rc != kOk) return rc;
        if (stopRequested()) return kErrStopped;
    }
    vxml_.resetCursor();
    if (const int rc = appendPartsToScore(file_); rc != kOk) return rc;
    // The last moment a stop request can keep the target from being written.
    if (stopRequested()) return kErrStopped;
    return saveFile(file_, std::filesystem::path(p_.targetPath));
}

int ConvertRun::setUpDocument() {
    if (const int rc = createOutputDocument(file_); rc != kOk) return rc;
    return appendIdentification(file_, CMxmlDescription{vxml_.author, vxml_.keywords, vxml_.comment});
}

// The layout's brackets. A score without groups has no "brackets" at all, so
// only a missing "layout" is an error.
int ConvertRun::readBrackets() {
    const xmlNode* layout = childElement(vxml_.root, "layout");
    if (layout == nullptr) return kErrIndex;
    const xmlNode* brackets = childElement(layout, "brackets");
    try {
        for (const xmlNode* b = brackets != nullptr ? brackets->children : nullptr; b != nullptr; b = b->next) {
            if (!isElement(b, "bracket")) continue;
            CMxmlBracket bracket;
            const std::string from = attribute(b, "from");
            const std::string to = attribute(b, "to");
            if (from.empty() || to.empty()) return kErrIndex;
            bracket.firstStaff = std::atoi(from.c_str());
            bracket.lastStaff = std::max(std::atoi(to.c_str()), bracket.firstStaff);
            bracket.kind = attribute(b, "curly") == "true" ? 2 : 1;
            brackets_.push_back(bracket);
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    // Numbered by the groups still open where each starts, so that nested
    // groups tell apart.
    for (std::size_t i = 0; i < brackets_.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (brackets_[j].firstStaff <= brackets_[i].firstStaff && brackets_[j].lastStaff >= brackets_[i].firstStaff) {
                ++brackets_[i].groupNumber;
            }
        }
    }
    return kOk;
}

int ConvertRun::writePartList() {
    try {
        vxml_.staffLayouts.assign(static_cast<std::size_t>(layouts_), scorecore::CVxmlStaffLayout());
        parts_.assign(static_cast<std::size_t>(layouts_), PartState());
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    scorecore::XmlDocument& doc = file_.document;
    xmlNodePtr partList = nullptr;
    if (const int rc = scorecore::xmldomAppendElement(scorecore::XmlElementArgs(doc, nullptr, "part-list").out(&partList));
        rc != kOk) {
        return rc;
    }
    for (int32_t i = 0; i < layouts_; ++i) {
        if (const int rc = vxml_.readStaffLayout(layoutNodes_[static_cast<std::size_t>(i)], i); rc != kOk) return rc;
        scorecore::CVxmlStaffLayout& layout = vxml_.staffLayouts[static_cast<std::size_t>(i)];
        if (layout.percussion != 0) {
            if (const int rc = vxml_.collectDrumKeys(layout.description, i); rc != kOk) return rc;
        }
        for (const CMxmlBracket& b : brackets_) {
            if (b.firstStaff != i) continue;
            if (const int rc = appendPartGroup(file_, partList, true, b, &layout); rc != kOk) return rc;
        }
        if (const int rc = appendScorePart(file_, partList, layout); rc != kOk) return rc;
        for (auto b = brackets_.rbegin(); b != brackets_.rend(); ++b) {
            if (b->lastStaff != i) continue;
            if (const int rc = appendPartGroup(file_, partList, false, *b, nullptr); rc != kOk) return rc;
        }
    }
    return scorecore::xmldomAppendChild(doc, file_.writer.root, partList, 1, true, true);
}

// The signs of a layout's staff in the first system, else the layout's own.
Signs ConvertRun::layoutSigns(int32_t layout) const {
    Signs signs;
    signs.meter.init(kDivisions, 4, 2);
    const scorecore::CVxmlStaffLayout& l = vxml_.staffLayouts[static_cast<std::size_t>(layout)];
    const int staff = vxml_.findStaffByLayout(0, l.description);
    const scorecore::CDomNodeItem* item = staff >= 0 ? vxml_.staffAt(0, staff) : nullptr;
    if (item != nullptr) {
        signs.clef = item->clef;
        signs.key = item->key;
        signs.meter = item->timeSig;
    }
    // A zeroed clef is none: the layout's default, else treble.
    if (item == nullptr || item->clef.line == 0) {
        signs.clef = CScoreClef{0, 2, 1};
        if (!l.defaultClef.empty()) scorecore::readClefText(l.defaultClef, signs.clef);
    }
    return signs;
}

int ConvertRun::startParts() {
    const scorecore::CDomNodeGroup* first = vxml_.systemAt(0);
    for (int32_t i = 0; i < layouts_; ++i) {
        PartState& part = parts_[static_cast<std::size_t>(i)];
        const scorecore::CVxmlStaffLayout& layout = vxml_.staffLayouts[static_cast<std::size_t>(i)];
        part.signs = layoutSigns(i);
        CMeasureNumbering numbering;
        if (first != nullptr && (first->barNumbering.reset != 0 || first->barNumbering.continuation != 0)) {
            numbering.restart = true;
            numbering.offset = first->barNumbering.nAdd;
        }
        if (const int rc = appendPart(file_, i, layout, &numbering); rc != kOk) return rc;
        try {
            part.fill.assign(1, 0);
            part.firstCode.assign(1, -1);
        } catch (const std::bad_alloc&) {
            return kErrOutOfMemory;
        }
        const CMxmlClef clef = mxmlClef(part.signs.clef);
        const CMxmlTime time = mxmlTime(part.signs.meter);
        const bool metered = !scorecore::isUnmetered(part.signs.meter);
        if (const int rc = appendAttributes(file_, i, kDivisions, nullptr, &clef, part.signs.key,
                                            metered ? &time : nullptr, layout.notelines, layout.transpose);
            rc != kOk) {
            return rc;
        }
        part.lastTempo = first != nullptr ? first->tempo : 120;
        if (const int rc = appendSoundTempo(file_, part.lastTempo, i); rc != kOk) return rc;
    }
    return kOk;
}

int ConvertRun::writeSystem(int32_t system) {
    system_ = system;
    scorecore::CDomNodeGroup* group = vxml_.systemAt(system);
    if (group == nullptr) return kErrDom;
    std::vector<uint8_t> present(static_cast<std::size_t>(layouts_), 0);
    int32_t bars = 0;
    for (int32_t s = 0; s < group->itemCount(); ++s) {
        staff_ = s;
        scorecore::CDomNodeItem& staff = group->items[static_cast<std::size_t>(s)];
        const int32_t layout = vxml_.getLayoutPosOfStaff(staff.layoutName);
        // A staff that names no layout has no part to go to.
        if (layout >= 0 && !staff.voices.empty()) {
            PartState& part = parts_[static_cast<std::size_t>(layout)];
            const scorecore::CBarNumbering& numbering = group->barNumbering;
            part.numbering =
                CMeasureNumbering{numbering.reset != 0, numbering.nAdd, !(numbering.reset != 0 && system > 0)};
            if (group->tempo != part.lastTempo) {
                if (const int rc = ensureMeasure(layout, part.barStart); rc != kOk) return rc;
                file_.setWriterCursor(layout, part.barStart, 0);
                if (const int rc = appendSoundTempo(file_, group->tempo, layout); rc != kOk) return rc;
                part.lastTempo = group->tempo;
            }
            const int32_t voices = staff.voiceCount();
            part.ending.reset();
            VoiceWalk firstWalk;
            for (int32_t v = 0; v < voices; ++v) {
                VoiceWalk w;
                w.part = layout;
                w.voice = v;
                w.last = v == voices - 1;
                w.measure = part.barStart;
                w.signs = part.signs;
                vxml_.setCursor(system, s, v);
                if (const int rc = walkVoice(w); rc != kOk) return rc;
                if (v == 0) firstWalk = w;
            }
            // The first voice carries the staff on: its bars and its signs.
            bars = std::max(bars, firstWalk.measure - part.barStart);
            present[static_cast<std::size_t>(layout)] = 1;
            part.barStart = firstWalk.measure;
            part.signs = firstWalk.signs;
            part.startTick = vxml_.voiceAt(system, s, 0)->tick;
        }
        post(kProgressDone, static_cast<platform::LParam>(layouts_) * system + s + 1);
    }
    // A part the system has no staff for rests through its bars, so that it
    // stays in step with the others.
    for (int32_t layout = 0; layout < layouts_; ++layout) {
        if (present[static_cast<std::size_t>(layout)] != 0) continue;
        if (const int rc = restThrough(layout, bars); rc != kOk) return rc;
    }
    return kOk;
}

int ConvertRun::restThrough(int32_t layout, int32_t bars) {
    PartState& part = parts_[static_cast<std::size_t>(layout)];
    const int32_t bar = std::max(part.signs.meter.ticksPerBar, 1);
    for (int32_t i = 0; i < bars; ++i) {
        VoiceWalk w;
        w.part = layout;
        w.measure = part.barStart;
        if (const int rc = select(w); rc != kOk) return rc;
        CScoreEvent rest;
        rest.setKind(scorecore::kKindRest);
        rest.baseText = "1";
        rest.duration = bar;
        if (const int rc = appendNote(file_, rest, 0, layout); rc != kOk) return rc;
        part.fill[static_cast<std::size_t>(part.barStart)] = bar;
        ++part.barStart;
        part.startTick += bar;
    }
    return kOk;
}

int ConvertRun::walkVoice(VoiceWalk& w) {
    scorecore::CVxmlVoice* voice = vxml_.voiceAt();
    if (voice == nullptr) return kErrDom;
    PartState& part = parts_[static_cast<std::size_t>(w.part)];
    voice->tick = part.startTick;
    vxml_.resetBeam();
    vxml_.resetAccidentals(w.signs.key);
    const xmlNode* objects = voice->noteObjectsNode;
    for (const xmlNode* node = objects != nullptr ? objects->children : nullptr; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        int rc = kOk;
        // Signs go to the part from the first voice: the format repeats them in
        // every voice, and a staff has one clef, key and time.
        const bool writes = w.voice == 0;
        if (isElement(node, "clefSign")) {
            CScoreClef clef = w.signs.clef;
            rc = CVxmlFile::readClefSign(node, clef);
            if (rc == kOk && writes && !clef.sameAs(w.signs.clef)) {
                const CMxmlClef out = mxmlClef(clef);
                rc = attributes(w, &out, std::nullopt, nullptr);
            }
            w.signs.clef = clef;
        } else if (isElement(node, "keySign")) {
            int8_t fifths = w.signs.key;
            rc = CVxmlFile::readKeySign(node, &fifths);
            if (rc == kOk) {
                vxml_.resetAccidentals(fifths);
                if (writes && fifths != w.signs.key) rc = attributes(w, nullptr, fifths, nullptr);
                w.signs.key = fifths;
            }
        } else if (isElement(node, "timeSign")) {
            CMeter meter;
            meter.init(kDivisions, 4, 2);
            rc = CVxmlFile::readTimeSign(node, "time", meter);
            if (rc == kOk) {
                if (writes && !meter.isEqual(w.signs.meter) && !scorecore::isUnmetered(meter)) {
                    const CMxmlTime out = mxmlTime(meter);
                    rc = attributes(w, nullptr, std::nullopt, &out);
                }
                w.signs.meter = meter;
            }
        } else if (isElement(node, "barline")) {
            int code = 0;
            rc = CVxmlFile::readBarline(node, &code);
            if (rc == kOk) rc = closeBar(w, code);
        } else if (isElement(node, "chord") || isElement(node, "rest")) {
            CScoreEvent event;
            rc = vxml_.readNoteObject(node, event, w.signs.meter, voice->tick);
            if (rc == kOk) {
                // Whole ticks that follow the exact position of the voice, so
                // that tuplets and 256ths add up to the bar they fill (rounding
                // each note alone would let the voice drift).
                w.exact += exactTicks(event);
                const auto end = static_cast<int64_t>(std::llround(w.exact));
                event.duration = static_cast<int32_t>(std::max<int64_t>(end - w.written, 0));
                w.written += event.duration;
                vxml_.computeBeam(event, w.signs.meter);
                rc = vxml_.storeAccidentals(event);
            }
            if (rc == kOk) rc = writeEvent(w, event);
        }
        if (rc != kOk) return rc;
    }
    return kOk;
}

int ConvertRun::ensureMeasure(int32_t partIndex, int32_t measure) {
    PartState& part = parts_[static_cast<std::size_t>(partIndex)];
    CMxmlWriterPart* record = partIndex < static_cast<int32_t>(file_.writer.parts.size())
                                  ? &file_.writer.parts[static_cast<std::size_t>(partIndex)]
                                  : nullptr;
    if (record == nullptr) return kErrIndex;
    while (record->group.itemCount() <= measure) {
        if (const int rc = appendMeasure(file_, &part.numbering, partIndex); rc != kOk) return rc;
        carryOpenFlags(file_, partIndex, record->group.itemCount() - 2);
    }
    try {
        const auto count = static_cast<std::size_t>(record->group.itemCount());
        part.fill.resize(count, 0);
        part.firstCode.resize(count, -1);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

// Makes the voice's measure the writer's current one and brings the
// measure's elements to the voice's position: back over what earlier voices
// wrote, or on with rests over a gap they left.
int ConvertRun::select(const VoiceWalk& w) {
    if (const int rc = ensureMeasure(w.part, w.measure); rc != kOk) return rc;
    file_.setWriterCursor(w.part, w.measure, w.voice);
    int32_t& fill = parts_[static_cast<std::size_t>(w.part)].fill[static_cast<std::size_t>(w.measure)];
    if (fill > w.pos) {
        if (const int rc = appendBackup(file_, fill - w.pos, w.part); rc != kOk) return rc;
    } else if (fill < w.pos) {
        if (const int rc = appendRests(file_, w.pos - fill, 0, w.voice); rc != kOk) return rc;
    }
    fill = w.pos;
    return kOk;
}

int ConvertRun::attributes(VoiceWalk& w, const CMxmlClef* clef, std::optional<int8_t> fifths,
                           const CMxmlTime* time) {
    if (const int rc = select(w); rc != kOk) return rc;
    return appendAttributes(file_, w.part, 0, nullptr, clef, fifths, time, std::nullopt, 0);
}

int ConvertRun::writeEvent(VoiceWalk& w, CScoreEvent& event) {
    PartState& part = parts_[static_cast<std::size_t>(w.part)];
    w.opened = true;
    // The format's longest and shortest values: a note of four wholes is the
    // long it means (a rest keeps its text, which as "4" would count bars); a
    // 256th, 7.5 ticks, keeps its text and alternates 8 and 7 ticks as the
    // voice's exact position gives them.
    if (event.baseText == "4/1" && !event.isKind(scorecore::kKindRest)) event.baseText = "4";
    if (event.isKind(scorecore::kKindRest)) {
        if (const int32_t count = restCountOfDuration(event.baseText); count >= 2) {
            return writeMultiRest(w, event, count);
        }
    }
    if (const int rc = select(w); rc != kOk) return rc;
    if (event.barline.type == kBarEnding && event.barline.present == kEndingStart) {
        if (const int rc = appendBarline(file_, w.part, event.barline); rc != kOk) return rc;
        part.ending = OpenEnding{event.barline, w.voice};
    }
    // Spans that end on this note.
    if (w.tuplet.left > 0 && --w.tuplet.left == 0 && event.bracketPresent == 0) event.bracketPresent = 2;
    for (auto it = w.slurs.begin(); it != w.slurs.end();) {
        if (--it->left > 0) {
            ++it;
            continue;
        }
        scorecore::CScoreEventItem stop;
        stop.flags = scorecore::kItemSlurStop;
        stop.line = it->line;
        // Before the note's own starts, so that its number is free for them.
        event.items.insert(event.items.begin(), stop);
        it = w.slurs.erase(it);
    }
    for (auto it = w.wedges.begin(); it != w.wedges.end();) {
        if (--it->left > 0) {
            ++it;
            continue;
        }
        scorecore::CScoreWedge stop;
        stop.code = scorecore::kWedgeStop;
        if (!event.appendWedge(stop)) return kErrOutOfMemory;
        it = w.wedges.erase(it);
    }
    if (hasDirection(event)) {
        if (const int rc = appendDirection(file_, event, w.part); rc != kOk) return rc;
    }
    if (const int rc = appendNote(file_, event, w.voice, w.part); rc != kOk) return rc;
    // Spans that start on it: a bracket's and a slur's range count their
    // notes, the start among them; a wedge's the notes after the start.
    if (event.bracketPresent == 1 && event.bracketNoteRange > 1) w.tuplet.left = event.bracketNoteRange - 1;
    for (const scorecore::CScoreEventItem& item : event.items) {
        if ((item.flags & scorecore::kItemSlurStart) != 0 && item.span > 1) {
            w.slurs.push_back({item.span - 1, item.line});
        }
    }
    for (const scorecore::CScoreWedge& wedge : event.wedges) {
        if (wedge.code != scorecore::kWedgeStop && wedge.span > 0) w.wedges.push_back({wedge.span, 0});
    }
    if (!(event.isKind(scorecore::kKindInvisible) && event.duration == 0)) {
        w.pos += event.duration;
        part.fill[static_cast<std::size_t>(w.measure)] = w.pos;
        vxml_.addVoiceTick(event.duration);
    }
    countEnding(w);
    return kOk;
}

// A rest of several bars: the writer's multi-measure rest where the voice
// opens the measures, else one whole-bar rest in each measure other voices
// opened already.
int ConvertRun::writeMultiRest(VoiceWalk& w, CScoreEvent& event, int32_t count) {
    PartState& part = parts_[static_cast<std::size_t>(w.part)];
    const int32_t bar = event.duration / count;
    const int32_t measures = file_.writer.parts[static_cast<std::size_t>(w.part)].group.itemCount();
    if (w.pos == 0 && w.measure + 1 >= measures) {
        if (const int rc = select(w); rc != kOk) return rc;
        if (const int rc = appendNote(file_, event, w.voice, w.part); rc != kOk) return rc;
        if (const int rc = ensureMeasure(w.part, w.measure + count - 1); rc != kOk) return rc;
        for (int32_t i = 0; i < count; ++i) part.fill[static_cast<std::size_t>(w.measure + i)] = bar;
        w.measure += count - 1;
        w.pos = bar;
    } else {
        for (int32_t i = 0; i < count; ++i) {
            if (i > 0) {
                ++w.measure;
                w.pos = 0;
            }
            if (const int rc = select(w); rc != kOk) return rc;
            CScoreEvent rest;
            rest.setKind(scorecore::kKindRest);
            if (event.isKind(scorecore::kKindInvisible)) rest.setKind(scorecore::kKindInvisible);
            rest.baseText = "1";
            rest.duration = bar;
            if (const int rc = appendNote(file_, rest, w.voice, w.part); rc != kOk) return rc;
            w.pos += bar;
            part.fill[static_cast<std::size_t>(w.measure)] = w.pos;
        }
    }
    vxml_.addVoiceTick(event.duration);
    countEnding(w);
    return kOk;
}

void ConvertRun::countEnding(const VoiceWalk& w) {
    PartState& part = parts_[static_cast<std::size_t>(w.part)];
    if (!part.ending || part.ending->voice != w.voice || part.ending->barline.present != kEndingStart) return;
    CEventBarline& barline = part.ending->barline;
    if (barline.endingSpan >= 0) --barline.endingSpan;
    if (barline.endingSpan != -1) return;
    barline.present = kEndingStop;
    file_.setWriterCursor(w.part, w.measure, w.voice);
    setMeasureAttributes(file_, barline, w.part);
    part.ending.reset();
}

int ConvertRun::closeBar(VoiceWalk& w, int code) {
    PartState& part = parts_[static_cast<std::size_t>(w.part)];
    const int32_t m = w.measure;
    if (const int rc = ensureMeasure(w.part, m); rc != kOk) return rc;
    // A barline before the voice's first note closes no bar: it opens the
    // one that follows (a repeat from the very start is written so).
    if (!w.opened && w.pos == 0) {
        if (w.voice != 0 || !repeatsForward(code)) return kOk;
        file_.setWriterCursor(w.part, m, w.voice);
        CEventBarline forward;
        forward.type = kBarRepeatForward;
        return appendBarline(file_, w.part, forward);
    }
    if (w.voice == 0) {
        part.firstCode[static_cast<std::size_t>(m)] = code;
        // A forward repeat opens the next bar, before any voice reaches it;
        // the first voice is the one that gets there first.
        if (repeatsForward(code)) {
            if (const int rc = ensureMeasure(w.part, m + 1); rc != kOk) return rc;
            file_.setWriterCursor(w.part, m + 1, w.voice);
            CEventBarline forward;
            forward.type = kBarRepeatForward;
            if (const int rc = appendBarline(file_, w.part, forward); rc != kOk) return rc;
        }
    }
    if (w.last) {
        file_.setWriterCursor(w.part, m, w.voice);
        if (vxml_.getVoiceTick() != 0) {
            CEventBarline pending;
            pending.type = -1;
            if (const int rc = getMeasureAttributes(file_, pending, w.part); rc != kOk) return rc;
            if (pending.type == kBarEnding) {
                if (const int rc = appendBarline(file_, w.part, pending); rc != kOk) return rc;
            }
        }
        const int32_t kind = rightBarline(part.firstCode[static_cast<std::size_t>(m)], code);
        if (kind != kBarRegular) {
            CEventBarline right;
            right.type = kind;
            if (const int rc = appendBarline(file_, w.part, right); rc != kOk) return rc;
        }
    }
    carryOpenFlags(file_, w.part, m);
    vxml_.resetAccidentals(w.signs.key);
    ++w.measure;
    w.pos = 0;
    return kOk;
}

void ConvertRun::post(platform::WParam wParam, platform::LParam lParam) const {
    if (vxml_.progressWindow != nullptr) {
        vxml_.postProgress(wParam, lParam);
        return;
    }
    if (file_.progressWindow == nullptr) return;
    platform::MessageTarget* target = std::atomic_ref<platform::MessageTarget*>(*file_.progressWindow).load();
    if (target != nullptr) target->post(platform::WM_MXML_PROGRESS, wParam, lParam);
}

// The procedure is a thread's body: nothing may escape it.
int runGuarded(CConvertParams& params) {
    ConvertRun run(params);
    int rc = kOk;
    try {
        rc = run.run();
    } catch (const std::bad_alloc&) {
        rc = kErrOutOfMemory;
    } catch (...) {
        rc = kErrDom;
    }
    if (rc == kErrIndex) {
        params.staffCount = run.errorSystem();
        params.voiceCount = run.errorStaff();
    }
    if (rc != kOk) {
        // The partial document is never saved; drop it with the writer's records.
        params.file->writer.clear();
        params.file->document.reset();
    }
    return rc;
}

}  // namespace

void vxmlConvertProc(CConvertParams* params) {
    if (params == nullptr) return;
    const int rc = params->file != nullptr && params->vxml != nullptr ? runGuarded(*params) : kErrNotPresent;
    if (params->result != nullptr) *params->result = rc;
}

int vxmlConvertFile(CVxmlFile* file, const std::string& sourcePath, const std::string& targetPath, int* signal) {
    if (file == nullptr) return kErrNotPresent;
    if (signal != nullptr) std::atomic_ref<int>(*signal).store(0);
    // A stop asked of an earlier run through another word still stands.
    if (file->isStopRequested(nullptr)) return kErrStopped;
    std::unique_ptr<CMxmlFile> mxml =
        CMxmlFile::newFile(file->progressWindow, kModeTvrxml, signal, kDivisions, kProgramName, nullptr);
    if (!mxml) return scorecore::kErrXmlDocument;
    mxml->setConvProps(-1);
    file->setConvProps(-1);
    file->signal = signal;

    int result = kOk;
    CConvertParams params;
    params.file = mxml.get();
    params.vxml = file;
    params.sourcePath = sourcePath;
    params.targetPath = targetPath;
    params.result = &result;
    params.closeFlag = true;
    platform::WorkerThread worker;
    file->thread.store(&worker);
    const bool ran = runWhilePumping(worker, file->progressWindow, [&params] { vxmlConvertProc(&params); });
    file->thread.store(nullptr);
    return ran ? result : kErrOutOfMemory;
}

}  // namespace scoreconv
