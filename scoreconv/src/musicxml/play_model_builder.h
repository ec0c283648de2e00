// Builds the play model of a loaded MusicXML file: the receiver of the
// measure walk that stores every note and chord in the event array of its
// (staff, voice) and the tempo, time, key and barline marks in the score-wide
// row, then finishes the model (grace-note timing, slur, wedge and accent
// passes, voice counts, volumes, instruments and the MIDI channel plan).
#pragma once

#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

#include "musicxml/measure_walk.h"

namespace scoreconv {

class CMxmlFile;

// Fills the play model of a file whose document, staff tables and voice
// tables are loaded (as getProps leaves them), in the file's mode (7: without
// the per-voice defaults, the channel plan and the play state). The file's
// previous model is replaced. kOk (also for a score without staves, which
// gets no model); kErrOutOfMemory; kErrStopped; a reader's failure. On a
// failure the model is left half-built: the caller resets the file, and
// *failedStep (when asked for) names the step for the log:
// "mxml->appendEventToStream", "GetPartlistFromNode" or "..." (the measures);
// empty for a stop before the measures.
int buildPlayModel(CMxmlFile& file, std::string_view* failedStep = nullptr);

// The staves the part list gave the parts of the document (without the
// score-wide entry that follows them).
int32_t scoreStaffCount(const CMxmlFile& file);

class CPlayModelBuilder : public CWalkReceiver {
public:
    explicit CPlayModelBuilder(CMxmlFile& file);

    // Rows for the staves and the score-wide row, every staff's voices, the
    // quantize rows and the first tempo mark. kOk or kErrOutOfMemory.
    int prepare(int32_t staves);
    // More staves for parts read after prepare (their voice tables set):
    // rows, voices and quantize rows up to `staves` in all. kOk or
    // kErrOutOfMemory.
    int growStaves(int32_t staves);
    // Voice counts, on/off states, volumes, instruments, channels, play state.
    int finish();

    int beginMeasure(const CWalkMeasure& measure) override;
    int noteRead(const CWalkTarget& target, CScoreEvent& event, const CNoteInfo& info,
                 const CPartState& state) override;
    int event(const CWalkTarget& target, CScoreEvent& event) override;
    int attributes(const CWalkMeasure& measure, const CAttributesRead& read, int64_t tick) override;
    int tempo(int64_t tick, int32_t tempo) override;
    int direction(int32_t staff, int64_t tick, const CScoreEvent& marks, int32_t firstWedge) override;
    int barline(const CWalkMeasure& measure, int64_t tick, const scorecore::CEventBarline& barline,
                const CBarlineInfo& info) override;
    int endMeasure(const CWalkMeasure& measure, int64_t nextBarStart) override;
    int endPart(int32_t part, int32_t firstStaff, int32_t staffCount, int64_t partEnd) override;

private:
    int storeEvent(int32_t row, int32_t voice, const CScoreEvent& event);
    int storeGlobal(const CScoreEvent& event);
    // The first score-wide event at the tick whose kind shares a bit with
    // kind (equals it, with exact); null when there is none.
    CScoreEvent* globalAt(int32_t tick, uint32_t kind, bool exact = false);
    int timeAndKey(const CPartState& state, bool time, bool key, int64_t tick);
    int percussionKey(int32_t staff, const CNoteInfo& info, int32_t displayKey, int32_t& key);
    bool tieOver(int32_t row, int32_t voice, CScoreEvent& event, uint32_t stops);
    int closeVoices(int32_t firstStaff, int32_t staffCount, int64_t partEnd);
    int compactVoices();
    bool setUpInstruments();

    // A measure-repeat group being read.
    struct RepeatGroup {
        int32_t bars = 0;
        int64_t start = 0;
        int32_t staff = -1;                // of the part; -1 all
        std::vector<int64_t> notesBefore;  // storedNotes_ at its start
    };

    CMxmlFile& file_;
    int32_t staves_ = 0;
    std::vector<std::vector<uint8_t>> usedInstruments_;  // per staff, per instrument record
    std::vector<int64_t> storedNotes_;                   // per staff: notes stored so far
    RepeatGroup repeat_;
    uint32_t tieStops_ = 0;  // per head of the chord being read: its note ends a tie
    std::set<int32_t> ownTempoTicks_;  // moments whose tempo mark the part being read gave
};

}  // namespace scoreconv
