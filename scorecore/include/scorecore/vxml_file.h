// One TvrXML score: the XML document while it is read or built, the description
// of the file, the staff layouts, the tree of systems with their staves and
// voices, a cursor (system, staff, voice), the ConvProps mask and the caller's
// progress window and stop signal. The same object reads ".tvrx" files and builds
// new TvrXML documents.
//
// The fields are open to the reader and the writer of the format, which work on
// the same object. Index arguments of -1 mean the cursor's value; any other index
// outside the tree makes a getter answer 0 (or null) and a setter do nothing.
#pragma once

#include "platform/files.h"
#include "platform/message_target.h"
#include "scorecore/score_log.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_tree.h"
#include "scorecore/xml_dom.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scorecore {

// ConvProps bits: which kinds of symbols the writers carry over (-1 = all).
inline constexpr int kConvArticulations = 0x01;
inline constexpr int kConvDynamics = 0x02;
inline constexpr int kConvWedges = 0x04;
inline constexpr int kConvSlurs = 0x08;       // and glissandos
inline constexpr int kConvTechnical = 0x10;   // technical marks, fermatas, ornaments ...
inline constexpr int kConvLyrics = 0x20;
inline constexpr int kConvWords = 0x40;

// Beam states of the reader's running beam group.
inline constexpr int kBeamBegin = 1;
inline constexpr int kBeamContinue = 2;
inline constexpr int kBeamNone = 4;

// The text that getProps puts in the engine field.
class PackedSystems;      // vxml_packed.h
class VxmlObjectWriter;   // vxml_objects.h

inline constexpr std::string_view kVxmlEngineText = "Tavrena Orvendo TvrXML engine 3.0";

class CVxmlFile {
public:
    // log may be null (no log lines); it is the host's and must outlive the object.
    explicit CVxmlFile(CScoreLog* log = nullptr);
    ~CVxmlFile();
    CVxmlFile(const CVxmlFile&) = delete;
    CVxmlFile& operator=(const CVxmlFile&) = delete;

    // Empties the object: path, cursor, staff layouts, systems, the document and
    // every element pointer, the signal and the progress window.
    void destroy();

    // --- cursor ----------------------------------------------------------------------
    void resetCursor() { setCursor(-1, -1, -1); }
    void setCurrentSystem(int system) { curSystem = system; }
    void setCurrentStaff(int staff) { curStaff = staff; }
    void setCurrentVoice(int voice) { curVoice = voice; }
    void nextSystem() { ++curSystem; }
    void setCursor(int system, int staff, int voice);
    int getCurrentSystem() const { return curSystem; }
    int getCurrentStaff() const { return curStaff; }
    int getCurrentVoice() const { return curVoice; }

    // --- the system tree -------------------------------------------------------------
    // The records at an index (-1: the cursor's); null when outside the tree.
    CDomNodeGroup* systemAt(int system = -1);
    const CDomNodeGroup* systemAt(int system = -1) const;
    CDomNodeItem* staffAt(int system = -1, int staff = -1);
    const CDomNodeItem* staffAt(int system = -1, int staff = -1) const;
    CVxmlVoice* voiceAt(int system = -1, int staff = -1, int voice = -1);
    const CVxmlVoice* voiceAt(int system = -1, int staff = -1, int voice = -1) const;
    // Appends a new system record (tempo 120, beam grouping 3); false when memory
    // runs out.
    bool addSystem();

    int getSystemCount() const { return static_cast<int>(systems.size()); }
    int getSystemStaffCount() const;      // staves of the cursor's system
    int getStaffVoiceCount() const;       // voices of the cursor's staff
    int getVoiceCount(int system, int staff) const;
    int getSystemLastBar() const;         // of the cursor's system
    int getSystemTempo(int system = -1) const;
    xmlNodePtr getSystemStavesNode(int system = -1) const;
    CBarNumbering* getSystemBarNumbering(int system = -1);
    int getSystemBeamGrouping(int system = -1) const;
    int getSystemInt(int system = -1) const;
    void setSystemInt(int value, int system = -1);
    xmlNodePtr getStaffNode(int system = -1, int staff = -1) const;
    // Null when the staff index is not below the system's staff count.
    xmlNodePtr getStaffNodeChecked(int system = -1, int staff = -1) const;
    CScoreClef* getStaffClef(int system = -1, int staff = -1);
    std::int8_t* getStaffKey(int system = -1, int staff = -1);
    CMeter* getStaffTimeSig(int system = -1, int staff = -1);
    xmlNodePtr getNoteObjectsNode(int system = -1, int staff = -1, int voice = -1) const;
    // The first child of the cursor voice's "noteObjects": 0 and the node, 1 when
    // it has none, -7 when there is no such voice or element.
    int getFirstNoteObject(xmlNodePtr* out) const;
    int getVoiceTick(int system = -1, int staff = -1, int voice = -1) const;
    int getVoiceStemDir(int system = -1, int staff = -1, int voice = -1) const;
    void addVoiceTick(int delta);   // on the cursor's voice
    void setVoiceTick(int value);   // on the cursor's voice
    // Clears the voice's accidental table and marks the steps that the key of
    // fifths alters in all ten rows: sharps (3) on the first n steps of "fcgdaeb",
    // flats (-4) on the first n of "beadgcf"; fifths beyond +-7 count as 7.
    void resetAccidentals(int fifths, int system = -1, int staff = -1, int voice = -1);

    // --- settings and signals --------------------------------------------------------
    void setConvProps(int mask) { convProps = mask; }
    bool testConvProps(int bit) const { return (convProps & bit) != 0; }
    // The address of the host's variable that holds the progress receiver. The
    // variable is read at every report, so the host may change it (with an atomic
    // store when a conversion runs); it must outlive the object.
    void setCallbackWindow(platform::MessageTarget** window) { progressWindow = window; }
    // Posts WM_MXML_PROGRESS to the receiver the host's variable holds; false when
    // there is none or it refuses.
    bool postProgress(platform::WParam wParam, platform::LParam lParam) const;
    // True when a signal word is stored and it is nonzero (the host asks to stop);
    // then -5 goes to *out when given.
    bool isStopRequested(int* out) const;
    void resetBeam() {
        beamTicks = 0;
        beamState = kBeamNone;
    }
    // The staff-layout name of a staff number: staffNameFormat with its "%i"
    // replaced by the number ("Stv1" for 1).
    std::string staffLayoutName(int staffNumber) const;

    // --- files -----------------------------------------------------------------------
    // Loads a plain TvrXML file and checks it: 0 for format 1.0 or 2.0 (document and
    // root stay loaded), -104 not a TvrXML score, -103 the file does not load.
    int getVersion(const std::filesystem::path& path);
    // Reads a ".tvrx" file: its document (as getVersion), the description from
    // "info" and the file's date. 0, -103 or the code of the version check.
    int getProps(const std::filesystem::path& path);
    // Finds the layout's "staves" (kept as stavesNode), counts its "staffLayout"
    // elements into staffLayoutCount and *count, and hands them out in document
    // order when out is given. 0, or -300 when there is no layout or no staff layout.
    int getLayoutStaffNum(int* count, std::vector<xmlNodePtr>* out);
    // Index of the first staff layout whose description is name, -1 when none.
    int getLayoutPosOfStaff(std::string_view name) const;
    // Zips the document into a ".tvrx" file at target. 0, or -101 (the target is
    // then as it was).
    int writeFile(const std::filesystem::path& target);

    // Writes "\t" "scoreconv|" function ":" step to the log, when there is one.
    void logStep(std::string_view function, std::string_view step) const;

    // --- writer ----------------------------------------------------------------------
    // Builds a new TvrXML document in `document` (from xmldomCreateFile type 19, its
    // element kept in `root`) in this call order: appendInfo, appendLayout,
    // appendBarCount, createMainSystemNode; per system nextSystem and appendSystem; per
    // staff setCurrentStaff and appendStaff; per voice setCurrentVoice, the signs at
    // the system's start and then the voice's events; finally resetCursor,
    // appendSystems and writeFile. Staves, voices and their objects wait detached in
    // the system tree until appendSystems attaches them (the objects of a voice
    // wait as text, CVxmlVoice::objectsText). Every operation returns 0 or
    // a negative code (vxml_writer.h); one that needs a system, staff or voice that
    // the cursor does not point at gives -300 and writes nothing.
    int appendInfo(std::string_view engineText);
    int appendLayout(const struct VxmlLayoutArgs& layout);  // declared in vxml_writer.h
    int appendBarCount();
    int createMainSystemNode();
    // Adds the system at the cursor (the next one: call nextSystem first).
    int appendSystem(int tempo, int barNumber, int firstBar, int lastBar);
    // Adds the staff at the cursor (the next one of the system) with its voices.
    int appendStaff(const CMeter& timeSig, int voiceCount);
    // Adds a voice to the cursor's staff and moves the cursor to it; stemDir 0 none,
    // 1 up, 2 down.
    int appendVoice(int stemDir);
    // The signs of the cursor's voice. force (at a system's start) writes a clef or
    // key even when the staff has it already.
    int appendClefSign(const CScoreClef& clef, bool force);
    int appendKeySign(int fifths, bool force);  // CKeySig::kUnset for none
    int appendTimeSign(const CMeter* timeSig);  // null or no time text: nothing
    int appendBarline(int code);
    // The event is taken from the overloads for an event the caller gives up.
    int appendChord(const CScoreEvent& event);
    int appendChord(CScoreEvent&& event);
    // One "rest" per note value the rest needs; -7 when part of it cannot be
    // written (no type text, a type it cannot count, or too short for any value).
    int appendRest(const CScoreEvent& event);
    int appendRest(CScoreEvent&& event);
    // The "duration" of a chord or rest, written into the open element of out;
    // *ticks gets the ticks it stands for (0 when it stands for none that can be
    // counted).
    int appendDuration(XmlTextOut& out, const CScoreEvent& event, int* ticks);
    // The "drawObjects" of a chord or rest (the open element of out), when it has
    // any symbol to write.
    int appendDrawObjects(XmlTextOut& out, const CScoreEvent& event);
    int appendSystems();
    // Writes the finished staves firstStaff .. firstStaff + count - 1 of every
    // system as text and frees their elements, so that a converter that fills
    // the staves a few at a time never holds all of them as elements. The text
    // goes into the file's deflate stream at once wherever the staves before
    // it in its system are written out already (deflate_stream.h), so that it
    // is not held either. Those staves take no more voices and their voices no
    // more objects (-300). appendSystems and writeFile then put the document
    // together: the file is the same, but the document itself keeps an empty
    // "systems", and a second writeFile fails when the document around the
    // systems changed after the first. 0, or -1402.
    int packStaves(int firstStaff, int count);
    // From now on the objects of voices are recorded and written as text on a
    // helper thread, a staff's once packStaves hands it over; packStaves then
    // writes out the staves it was handed the call before (and appendSystems
    // the rest), so that a converter reads its next part while the text of
    // the last one is written. The file is the same. A staff handed over
    // takes no more objects (-300); a rest that cannot be written whole keeps
    // what was written of it, without the -7 appendRest gives at once. A
    // failure of the helper comes back from packStaves or appendSystems.
    // Call it once the document is set up; a new document writes its objects
    // at once again.
    void deferObjectText();

    // --- reader ----------------------------------------------------------------------
    // Reads a loaded document (getProps, then getLayoutStaffNum) into the staff
    // layouts and the system tree. Nothing read from the file indexes a table
    // unchecked: a staff, voice or layout a file names but does not have is answered
    // as missing, never looked up.
    //
    // Allocates staffLayoutCount layouts, reads the i-th "staffLayout" of stavesNode
    // into layout i and then the systems. 0; -2 without a layout count; -6 when a
    // counted staff layout is not a child of stavesNode; else the readers' codes.
    int setupScore();
    // Fills staff layout index (reset first) from a "staffLayout" element. 0; -300
    // for an index outside the layouts or a node that is not a "staffLayout"; -6 for
    // a null node; -2 when memory runs out.
    int readStaffLayout(const xmlNode* node, int index);
    // Rebuilds the system tree from the root's "systems": per "system" its tempo
    // (a tempo below 1 keeps 120), beam grouping and bar numbering, per "staff" its
    // layout name and defaultTime, per "voice" its stem direction and "noteObjects".
    // *count (when given) gets the number of systems. 0; -300 without "systems" or
    // without a "system"; -2 when memory runs out.
    int readSystems(int* count);
    // Sets each staff of the first system to the first clef, key and time sign of
    // its first voice, and marks the system's bar numbering as a pickup (nAdd -1,
    // continuation 1) when a first voice's notes before its first barline fill
    // some but not all of the bar. 0; -300 for a malformed sign or note; -6 on a DOM
    // failure.
    int readStaffStart();
    // Reads a "chord" or "rest" into event (cleared first), starting at voiceTick;
    // bar-long rests count by meter. Accidentals shown follow the cursor voice's
    // accidental table. 0; -7 for any other node; -300 without "duration" or with a
    // duration that cannot be counted; -6 for a null node; -2 when memory runs out.
    int readNoteObject(const xmlNode* node, CScoreEvent& event, const CMeter& meter, int voiceTick);
    // The sign readers: 0, or -300 when the attribute is missing or unknown (the
    // output is then unchanged); -6 for a null node.
    static int readClefSign(const xmlNode* node, CScoreClef& clef);
    static int readKeySign(const xmlNode* node, std::int8_t* fifths);  // kept in -7..7
    static int readTimeSign(const xmlNode* node, std::string_view attrName, CMeter& meter);
    static int readBarline(const xmlNode* node, int* code);
    // The noteRange of a "drawObj"'s "basic" child (0 when it has none; never below
    // -1). 0; -300 when the noteRange is not a number; -6 for a null node.
    static int readNoteRange(const xmlNode* drawObj, int* out);
    // The barline code of the next element after node when that is a "barline":
    // 0; -7 when it is something else or nothing; -300 for an unknown barline; -6
    // for a null node.
    static int readNextBarline(const xmlNode* node, int* code);
    // Index of the system's staff whose layout name is name, -1 when none.
    int findStaffByLayout(int system, std::string_view name) const;
    // Adds every MIDI key played on the staves of layoutName (in all systems) that
    // the drum map of layout layoutIndex does not map yet, as {key, key}. 0; -300 for
    // a layout index outside the layouts; -2 when memory runs out.
    int collectDrumKeys(std::string_view layoutName, int layoutIndex);
    // The "layout" attribute of a "staff" element: 0, -300 when absent, -6 for null.
    static int getStaffLayoutAttr(const xmlNode* node, std::string& out);
    // The most voices any staff of the layout has in a system: 0; -300 for a layout
    // index outside the layouts (*count 0).
    int getVoiceNumOfStaff(int layoutIndex, int* count) const;
    // The first "chord" of that voice on the layout's staves, from the first system
    // that has one (the tune-up notes). 0; -7 when there is none; else the code of
    // readNoteObject.
    int getFirstEinstChord(int layoutIndex, int voice, CScoreEvent& event);
    // The alteration the voice's accidental table holds for a pitch ("c5", either
    // case): a key's sharp gives 1, its flat -1, a stored alteration itself. 0; -7
    // without such a voice or with a text that is not a pitch.
    int getAccidental(std::string_view pitchText, int* out, int system = -1, int staff = -1,
                      int voice = -1) const;
    // Stores in the voice's table the alteration (0 for none) of every head of a
    // note that has an alteration or a shown accidental. 0; -7 without such a voice.
    int storeAccidentals(const CScoreEvent& event, int system = -1, int staff = -1, int voice = -1);
    // ORs the event's place in the running beam group of the cursor voice into its
    // beam word (kBeamBegin, kBeamContinue, or kBeamNone when it closes a group).
    void computeBeam(CScoreEvent& event, const CMeter& meter);

    // --- fields ----------------------------------------------------------------------
    std::filesystem::path path;                           // the ".tvrx" last read by getProps
    platform::MessageTarget** progressWindow = nullptr;
    std::string author;
    std::string keywords;
    std::string comment;                                  // line ends CR LF
    std::string engine;
    std::string fileDate;                                 // "dd-mm-yyyy", UTC
    XmlDocument document;
    xmlNodePtr stavesNode = nullptr;
    platform::FileTime modTime = 0;
    int playmode = 5;
    xmlNodePtr root = nullptr;
    int* signal = nullptr;                                // the host's stop word
    // Non-null while a conversion of the file runs on its worker (the host may
    // watch it from any thread); the conversion clears it when it ends.
    std::atomic<const void*> thread{nullptr};
    double layoutScale = 1.0;
    std::vector<CVxmlStaffLayout> staffLayouts;
    int staffLayoutCount = 0;
    int curSystem = -1;
    int curStaff = -1;
    int curVoice = -1;
    int convProps = -1;
    std::vector<CDomNodeGroup> systems;
    xmlNodePtr systemsNode = nullptr;
    int beamTicks = 0;
    int beamState = kBeamNone;
    TupletRounding tupletRounding;                        // the reader's rounding switch
    std::string staffNameFormat = "Stv%i";
    CScoreLog* log = nullptr;

private:
    int probeVersion(const std::filesystem::path* file, std::string_view bytes);
    int checkRoot();
    int readInfo();
    // Drops the document and everything that points into it.
    void releaseDocument();
    int resolve(int index, int cursor) const { return index == -1 ? cursor : index; }
    int appendPackedSystems();
    bool defersObjects() const { return objectWriter_ != nullptr; }
    // A sign's text into the voice (or recorded, deferObjectText).
    int appendSign(CVxmlVoice& voice, std::string_view name, std::string_view attribute, std::string value);
    // A new recorded object of the kind at the end of the voice's list,
    // filled by fill(object). kOk or kErrOutOfMemory (nothing recorded).
    template <typename Fill>
    int record(CVxmlVoice& voice, CVxmlPendingObject::Kind kind, Fill&& fill);
    int appendChordFrom(const CScoreEvent& event, CScoreEvent* owned);
    int appendRestFrom(const CScoreEvent& event, CScoreEvent* owned);
    // Writes out the staves handed over before, once their text is written.
    int packHandedStaves();
    int writeOutStaff(std::size_t system, int staff);
    int handOverStaff(std::size_t system, int staff);
    // Hands every voice that still holds recorded objects to the helper and
    // waits for all of them.
    int finishDeferredObjects();

    // The staves written out as text so far (packStaves), null when none is.
    std::unique_ptr<PackedSystems> packed_;
    // How the objects written as text escape for the document (set with each system).
    XmlCharset objectsCharset_ = XmlCharset::Latin1;
    // deferObjectText: the helper (null: objects are written at once), and
    // the staves (system, staff) handed to it and not written out yet.
    std::unique_ptr<VxmlObjectWriter> objectWriter_;
    std::vector<std::pair<std::size_t, int>> handedStaves_;
};

}  // namespace scorecore
