// The TvrXML side of the measure walk: the receiver that writes what the walk
// reads into a TvrXML document (systems of measures, complete voices, explicit
// barlines), the look-ahead that finds where spanning marks end, and the
// helpers they share.
//
// TvrXML voices carry no positions: each voice is a sequence of objects whose
// durations add up. The receiver therefore keeps every voice's position in
// ticks, fills gaps with hidden rests before each event and at each measure's
// end (at most 1024 rests a gap, the rest of a longer gap stays empty, with a
// log line), and closes every measure with a barline in every voice, so that the
// voices of a system stay in step.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "musicxml/measure_walk.h"
#include "musicxml/read_context.h"
#include "scorecore/vxml_file.h"
#include "scorecore/vxml_writer.h"

namespace scoreconv {

class CMxmlFile;

// --- span search -----------------------------------------------------------------------

// Finds where a spanning mark ends by reading ahead from its start: the rest of
// the start's measure, then the following measures of its part. Notes are read
// with the file's mode at 6, so the readers start no search of their own.
//   Ending: notes of voice 1; a barline with an ending "stop" (or "discontinue"
//     above number 1) ends it; span = notes - 1, also when the part ends first.
//   Tuplet: notes of the start's voice; the first tuplet stop ends it with
//     span = notes + 1 (the start counts: three eighths give 3).
//   Slur: notes of the start's voice; the first slur stop of the number ends it
//     with span = notes + 1.
//   Wedge: notes of the staff; a wedge stop of the number in a later direction
//     ends it with span = notes and the stop's offset (divisions).
//   Slash and measure-repeat styles: a "stop" of the same style in a later
//     "attributes" ends it with span = measures crossed.
// Chord continuations and skipped (hidden) notes count nothing. The host's stop
// word ends a search at the next measure (kErrStopped).
class CMxmlSpanFinder : public CSpanFinder {
public:
    explicit CMxmlSpanFinder(CMxmlFile& file) : file_(file) {}
    int find(const xmlNode* start, SpanKind kind, int32_t staffOrVoice, int32_t number,
             CSpanResult& result) override;

    // What the searches read of a note. Each note is read once however many
    // spans cross it: the readings are kept until the next part begins
    // (forget), as the walk frees a part's elements after it.
    struct Glance {
        bool counts = false;  // neither skipped nor a chord continuation
        int32_t staff = 0;
        std::string voice;    // as voiceKey gives it
        int32_t tupletState = 0;
        std::vector<int32_t> slurStops;  // numbers of the slurs that stop here
    };
    using Glances = std::unordered_map<const xmlNode*, Glance>;
    // The reading of a note; null when memory runs out.
    const Glance* glance(const xmlNode* note, const CReadContext& context);
    void forget();

    // The readings of every note of a part element, as glance makes them:
    // they depend on the note and the resolution only, so a reader may make
    // them where it parsed the part (on another thread). Throws bad_alloc.
    static std::shared_ptr<const Glances> readPart(const xmlNode* part, int32_t ticksPerQuarter);
    // Readings readPart made of the part being walked, used before reading a
    // note again; null, or before the part's elements are freed, drops them.
    void usePrepared(const xmlNode* part, std::shared_ptr<const Glances> glances);

private:
    // Throws bad_alloc.
    static Glance read(const xmlNode* note, const CReadContext& context, CScoreEvent& scratch);

    CMxmlFile& file_;
    const xmlNode* part_ = nullptr;  // the part the readings are of
    Glances glances_;
    const xmlNode* preparedPart_ = nullptr;
    std::shared_ptr<const Glances> prepared_;
    CScoreEvent scratch_;
};

// --- first-system estimate -------------------------------------------------------------

// Width units of a system at a width factor of 1.
inline constexpr int32_t kSystemWidthUnits = 24;

// The weight of one part's measure: the largest per-voice sum of note weights
// (rest 3; half 2; whole, breve, long 4; other types 1; chord continuations and
// hidden notes nothing), plus 1 for a multiple rest, plus max(|fifths| / 2, 1)
// for a key, plus 1 for a time signature, plus 1 for a first-staff clef that is
// not a G clef (codes 1 to 5), the last three as the measure's attributes give
// them.
int32_t measureWeight(const xmlNode* measure);

// How many measures from firstMeasure fill a system of width factor x 24
// units: measure by measure (each weighing the most of its parts' measures),
// up to the first whose sum reaches the width, and that one only when it
// overshoots by no more than the sum before it fell short. Every measure left
// when the width is never reached; 0 for a width below 1 unit. kOk, or kErrDom
// when the node belongs to no document.
int firstSystemEstimate(const xmlNode* documentNode, double widthFactor, int32_t firstMeasure,
                        int32_t& count);

// What the estimate needs of the score: per measure index, the largest weight
// of that measure among the parts that have it. addMeasureWeights merges one
// part element's measures in, mergeMeasureWeights those of one part weighed
// already (both throw bad_alloc); documentMeasureWeights collects every part
// of a document (kOk, or kErrDom without document).
void addMeasureWeights(const xmlNode* part, std::vector<int32_t>& weights);
void mergeMeasureWeights(const std::vector<int32_t>& part, std::vector<int32_t>& weights);
int documentMeasureWeights(const xmlNode* documentNode, std::vector<int32_t>& weights);

// --- gap fill --------------------------------------------------------------------------

// A note value of the hidden rests that fill a gap.
struct CRestValue {
    std::string type;  // MusicXML type name
    int32_t dots = 0;
    int32_t ticks = 0;
};
// The longest value (up to two dots) that fits in the gap; none when even a
// 256th is longer.
std::optional<CRestValue> longestRestValue(int64_t gap, int32_t ticksPerQuarter);

// --- measure-style marks ---------------------------------------------------------------

// What a measure-repeat or slash region puts on the first event of a block.
struct CStyleMarks {
    int32_t kind = 0;   // CMeasureStyle::kMeasureRepeat or kSlash
    int32_t count = 0;  // measures a repeat block repeats
};
inline constexpr int32_t kOrnamentRepeatOne = 19;
inline constexpr int32_t kOrnamentRepeatMany = 20;
inline constexpr int32_t kOrnamentSlashes = 21;
// The block's sign: ornament 19 (one measure), 20 at position 800 (several,
// with the count as a text in the music font 200 above the text before it)
// or 21 (slashes). kOk, or kErrOutOfMemory.
int applyMeasureStyleMarks(CScoreEvent& event, const CStyleMarks& marks);

// --- layout ----------------------------------------------------------------------------

// The layout of the file's first `staves` staves: names, clefs, staff lines,
// instruments, transpositions, the barline flag of staves that end a group
// (or stand alone), the spacing their lyric verses need, and the part groups.
// False when memory runs out.
bool buildLayoutArgs(const CMxmlFile& file, int32_t staves, scorecore::VxmlLayoutArgs& out);

// --- the receiver ----------------------------------------------------------------------

class CVxmlBridge : public CWalkReceiver {
public:
    CVxmlBridge(CMxmlFile& file, scorecore::CVxmlFile& vxml);

    // Voice counts (from the part list) and positions for the file's staves.
    // walkOrder: the part-table indexes of the parts the walk will visit, in
    // its order; after the last visit of a staff's part the staff's voices are
    // written out as text (CVxmlFile::packStaves). weights: the measure weights
    // of the score (taken over), read from the file's document when null. kOk
    // or kErrOutOfMemory.
    int prepare(int32_t staves, const std::vector<int32_t>& walkOrder, std::vector<int32_t>* weights = nullptr);
    // The look-ahead the walk's readers use.
    CMxmlSpanFinder* spans() { return &spans_; }

    int beginPart(int32_t part, const CPartState& state) override;
    int beginMeasure(const CWalkMeasure& measure) override;
    int event(const CWalkTarget& target, CScoreEvent& event) override;
    int attributes(const CWalkMeasure& measure, const CAttributesRead& read, int64_t tick) override;
    int tempo(int64_t /*tick*/, int32_t /*tempo*/) override { return 0; }
    int direction(int32_t /*staff*/, int64_t /*tick*/, const CScoreEvent& /*marks*/, int32_t /*firstWedge*/) override {
        return 0;
    }
    int barline(const CWalkMeasure& measure, int64_t tick, const scorecore::CEventBarline& barline,
                const CBarlineInfo& info) override;
    int endMeasure(const CWalkMeasure& measure, int64_t nextBarStart) override;
    int endPart(int32_t part, int32_t firstStaff, int32_t staffCount, int64_t partEnd) override;
    // Rests carry the words, dynamics and wedges written before them.
    bool restsTakeMarks() const override { return true; }

private:
    struct System {
        int32_t first = 0;
        int32_t last = 0;
    };
    // A multiple rest: its measures are written as one rest in the last of them.
    struct MultiRest {
        int32_t total = 0;  // measures; 0 none
        int32_t index = 0;  // of the current measure within it
        bool last = false;  // the current measure is its last
        bool active() const { return total > 0; }
    };

    int enterSystem(const CWalkMeasure& m, bool& systemStart);
    int createSystem(const CWalkMeasure& m);
    int writeSigns(const CWalkMeasure& m, bool systemStart);
    void startMultiRest(const CWalkMeasure& m);
    bool styleCovers(int32_t partStaff) const;
    int32_t restType(CScoreEvent& event) const;
    int32_t chordType(CScoreEvent& event) const;
    bool typeDisagrees(const CScoreEvent& event) const;
    int writeMultiRest(int32_t staff, int32_t voice, CScoreEvent& event);
    int fillVoice(int32_t staff, int32_t voice, int64_t to);
    int fillPart(int64_t to);
    int writeEvent(int32_t staff, int32_t voice, CScoreEvent& event);
    int barlineInPart(int32_t code);
    bool nextMeasureOpensWithBarline() const;
    bool select(int32_t staff, int32_t voice);
    int64_t& position(int32_t staff, int32_t voice);
    int64_t measureEnd() const;

    CMxmlFile& file_;
    scorecore::CVxmlFile& vxml_;
    CMxmlSpanFinder spans_;
    int32_t staves_ = 0;
    std::vector<int32_t> voiceCounts_;
    std::vector<std::vector<int64_t>> positions_;  // per staff and voice: ticks written
    std::vector<System> systems_;
    int32_t firstPart_ = -1;  // the part walked first: its measures shape the systems
    std::vector<int32_t> measureWeights_;  // for the system estimates
    std::vector<int32_t> lastWalkOfStaff_;  // per staff: the part walk that writes it last, -1 none
    int32_t walksEnded_ = 0;

    // The part being walked.
    int32_t part_ = -1;
    int32_t firstStaff_ = 0;
    int32_t staffCount_ = 0;
    int32_t measureCount_ = 0;
    int32_t system_ = -1;                       // system of its current measure
    std::vector<scorecore::CScoreClef> clefs_;  // per staff of the part
    std::optional<scorecore::CEventBarline> ending_;  // waits for voice 1's next object
    MultiRest multiRest_;

    // The measure being walked.
    CWalkMeasure measure_;
    int32_t attributesSeen_ = 0;  // "attributes" handed over inside it
    int32_t rightBarline_ = -1;  // its closing barline, written after its voices
    std::vector<uint8_t> styleMarkDue_;  // per staff of the part: the block's sign
    CStyleMarks styleMarks_;
    bool fillCutLogged_ = false;
};

}  // namespace scoreconv
