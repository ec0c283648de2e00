// The object behind every MusicXML handle of the library: a play score (the
// format-neutral play model its walk fills, see play/play_score.h) with the
// MusicXML document, the part table and the per-staff tables of reading.
//
// Lifecycle: newFile() builds it empty; the convert procedure loads it; the
// play procedure plays or renders it any number of times; destroy() empties
// it (the settings stay); reset() also puts the settings back to their
// defaults; freeFile() deletes it. Every owned table is a member, so deleting
// the object releases everything it still holds, the document included.
//
// The readers and the play procedure work on the fields directly. Tables
// indexed by staff or voice answer unknown indexes with "none".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/mxml_writer.h"
#include "musicxml/voice_tables.h"
#include "platform/files.h"
#include "platform/message_target.h"
#include "play/play_score.h"
#include "scorecore/part_groups.h"
#include "scorecore/score_event.h"
#include "scorecore/score_log.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

inline constexpr std::size_t kMaxProgramNameChars = 62;
inline constexpr std::size_t kMaxLineEndChars = 2;
inline constexpr std::string_view kDefaultModifiedLabel = "Zuletzt geändert: ";
inline constexpr std::string_view kDefaultLineLabel = "[Zeile %i]";

// What the host hands over at creation.
struct CMxmlInit {
    std::string_view programName;
    // The host's variable holding the progress receiver (read at every report).
    platform::MessageTarget** progressWindow = nullptr;
    std::string_view lineEnd = "\r\n";
    std::optional<std::string_view> modifiedLabel;  // none: kDefaultModifiedLabel
    int32_t mode = kModeRealTime;
    int* signal = nullptr;                          // the host's stop word
    int32_t ticksPerQuarter = 480;                  // below 1: 480
    std::optional<std::string_view> lineLabel;      // none: kDefaultLineLabel
    scorecore::CScoreLog* log = nullptr;            // the host's; may be null
};

// One entry of the part table: the part's measures while it is read.
// The part list fills one entry per score-part, in its order, with the id it
// declares and the <part> element of that id (null when the document has
// none); the last entry is the conductor part (no id, no element).
struct CMxmlPart {
    std::string id;
    xmlNodePtr node = nullptr;  // element of the loaded document
    bool conductor = false;
    int32_t tempo = 120;
    std::vector<xmlNodePtr> measures;  // nodes of the loaded document
};

class CMxmlFile : public PlayScore {
public:
    explicit CMxmlFile(const CMxmlInit& init);
    ~CMxmlFile() override;
    CMxmlFile(const CMxmlFile&) = delete;
    CMxmlFile& operator=(const CMxmlFile&) = delete;

    // The handle the host gets: a new object with line end "\r\n" and the
    // default labels, whose table flag bytes are cleared. Null when memory
    // runs out.
    static std::unique_ptr<CMxmlFile> newFile(platform::MessageTarget** progressWindow, int32_t mode, int* signal,
                                              int32_t ticksPerQuarter, std::string_view programName,
                                              scorecore::CScoreLog* log);
    // Deletes the object the handle variable holds and nulls the variable;
    // nothing happens for a null variable or handle. A procedure still
    // running on the file (a scan or play on another thread) is asked to stop
    // and waited for first.
    static void freeFile(CMxmlFile** handle) noexcept;

    // Empties the object of its score; the settings stay. Safe to call again.
    void destroy();
    // destroy(), then every setting back to its default (fresh quantize and
    // tune-up settings).
    void reset();

    // --- small operations
    bool isLoaded() const { return !fnScanned.empty(); }
    // Whether name is the original file name, or the scanned one when there
    // is no original.
    bool isThisFileRendered(std::string_view name) const;
    void setConvProps(int32_t mask) { convProps = mask; }
    bool testConvProps(int32_t bit) const { return (convProps & bit) != 0; }
    void setWriterCursor(int32_t part, int32_t measure, int32_t voice);
    // Appends a part entry (tempo 120); false when memory runs out.
    bool appendPart();
    // Appends n staves to every per-staff table (names, transpositions, 5
    // staff lines, lyric verses, clefs, group-end flags, instrument lists);
    // false, with nothing appended, for n < 0 or without memory.
    bool growStaffTables(int32_t n);
    int32_t staffCount() const { return static_cast<int32_t>(staffNames.size()); }

    // The mode a load runs in: 5 and 7 as they are, any other as 1.
    static int32_t loadMode(int32_t mode) {
        return mode == kModeTvrxml || mode == kModeLoadAndPlay ? mode : kModePlayTime;
    }

    int32_t convProps = -1;

    // --- given at creation
    std::string programName;
    std::string lineEnd;
    std::string modifiedLabel;
    std::string lineLabel;

    // --- the loaded document and its reading tables
    platform::FileTime modTime = 0;
    std::string description;
    std::u16string descriptionW;  // made on demand
    scorecore::XmlDocument document;
    std::vector<CMxmlPart> parts;
    int32_t currentPart = 0;
    int32_t currentMeasure = 0;
    int32_t midiInstrumentListCount = 0;
    // Staves + 1: rows 0 to rowCount - 2 are the staves, the last one the
    // score-wide row.
    int32_t rowCount = 0;
    std::vector<int32_t> staffTransposition;  // semitones
    std::vector<int32_t> staffLines;
    std::vector<int32_t> lyricVerses;
    std::vector<scorecore::CScoreClef> clefs;
    std::vector<int32_t> groupEnd;
    scorecore::CScorePartGroupList partGroups;
    CVoiceBitTables voiceTables;

    // --- the MusicXML writer (mxml_writer.h): its cursor and its parts, which
    // point into `document` and go with it.
    int32_t writerPart = -1;
    int32_t writerMeasure = -1;
    int32_t writerVoice = -1;
    CMxmlWriterState writer;

private:
    void setDefaults();
};

}  // namespace scoreconv
