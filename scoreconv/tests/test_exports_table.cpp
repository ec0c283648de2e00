// The thin C exports of the file's settings and tables: their neutral values
// for a null handle, the round trip of every setter through its getter on a
// loaded score, indexes the score does not have, and a setting a host changes
// by address while a play runs.
#include "scoreconv/scoreconv.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "musicxml/mxml_file.h"
#include "platform/midi_out.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "play_test_support.h"

namespace {

using platform::testing::TempFolder;
using platform::testing::writeBytes;
using scoreconv::testing::captureNotes;

std::string fixture(const char* name) { return (std::filesystem::path(QVP3_TEST_DATA_DIR) / name).string(); }

struct MxmlHandle {
    MxmlHandle() : file(mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, &signal, 480, "exports table test", nullptr)) {}
    ~MxmlHandle() { mxmlFreeFile(&file); }
    MxmlHandle(const MxmlHandle&) = delete;
    MxmlHandle& operator=(const MxmlHandle&) = delete;

    int signal = 0;
    scMxmlFile* file;
};

int load(scMxmlFile* file, const std::string& source) {
    CThreadProcParams params{};
    int result = 1;
    params.file = file;
    params.sourcePath = source.c_str();
    params.result = &result;
    mxmlConvertProc(&params);
    return result;
}

// A one-part score: `measures` whole notes C5 in 4/4, then `tail` measures
// in 3/4 holding a dotted half each.
std::string meterScore(int measures, int tail = 0) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<score-partwise version=\"3.1\"><part-list><score-part id=\"P1\"><part-name>Flute</part-name>"
           "</score-part></part-list><part id=\"P1\">\n";
    for (int m = 1; m <= measures + tail; ++m) {
        xml << "<measure number=\"" << m << "\">";
        if (m == 1) {
            xml << "<attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4</beat-type></time>"
                   "</attributes>";
        }
        if (m == measures + 1) xml << "<attributes><time><beats>3</beats><beat-type>4</beat-type></time></attributes>";
        if (m <= measures) {
            xml << "<note><pitch><step>C</step><octave>5</octave></pitch><duration>4</duration>"
                   "<voice>1</voice><type>whole</type></note>";
        } else {
            xml << "<note><pitch><step>D</step><octave>5</octave></pitch><duration>3</duration>"
                   "<voice>1</voice><type>half</type><dot/></note>";
        }
        xml << "</measure>\n";
    }
    xml << "</part></score-partwise>\n";
    return xml.str();
}

struct Check {
    const char* name;
    std::function<bool()> holds;
};

void expectAll(const std::vector<Check>& checks) {
    for (const Check& check : checks) EXPECT_TRUE(check.holds()) << check.name;
}

}  // namespace

TEST(ExportsTable, ANullHandleGivesTheNeutralValue) {
    scMxmlFile* const f = nullptr;
    int32_t bar = -5, beat = -5, tick = -5, staff = -5, voice = -5;
    int delta = 3;
    char buffer[12] = "xxxxxxxxxxx";
    const std::array<int32_t, 7> params{1, 2, 3, 4, 5, 6, 7};
    expectAll({
        {"mxmlGetTranspAdd", [&] { return mxmlGetTranspAdd(f) == 0 && mxmlSetTranspAdd(f, 3) == nullptr; }},
        {"mxmlGetTranspAddToPerc",
         [&] { return mxmlGetTranspAddToPerc(f) == 0 && mxmlSetTranspAddToPerc(f, 1) == nullptr; }},
        {"mxmlGetVelocity", [&] { return mxmlGetVelocity(f) == 0 && mxmlSetVelocity(f, 50) == nullptr; }},
        {"mxmlGetNoteShortening",
         [&] { return mxmlGetNoteShortening(f) == 0 && mxmlSetNoteShortening(f, 50) == nullptr; }},
        {"mxmlSetTempoRange", [&] { return mxmlSetTempoRange(f, 20, 200) == nullptr; }},
        {"mxmlGetInitialTempo", [&] { return mxmlGetInitialTempo(f) == 0; }},
        {"mxmlSetPlayPosTempo", [&] { return mxmlSetPlayPosTempo(f, 90) == nullptr; }},
        {"mxmlSetPlayRepeats", [&] { return mxmlSetPlayRepeats(f, 0) == nullptr; }},
        {"mxmlSetPlayCond", [&] { return mxmlSetPlayCond(f, 1, 2) == nullptr; }},
        {"mxmlAddPlayCond", [&] { return mxmlAddPlayCond(f, 0x40) == 0x40; }},
        {"mxmlRemovePlayCond", [&] { return mxmlRemovePlayCond(f, -2) == -2; }},
        {"mxmlGetCallbackWindow", [&] { return mxmlGetCallbackWindow(f) == nullptr; }},
        {"mxmlGetStvNum", [&] { return mxmlGetStvNum(f) == 0; }},
        {"mxmlGetVocNum", [&] { return mxmlGetVocNum(f) == nullptr; }},
        {"address exports",
         [&] {
             return mxmlGetVelocityP(f) == nullptr && mxmlGetNoteShorteningP(f) == nullptr &&
                    mxmlGetIgnoreTempoP(f) == nullptr && mxmlGetPlayRepeatsP(f) == nullptr &&
                    mxmlGetPreviewDoP(f) == nullptr && mxmlGetPreviewSecP(f) == nullptr &&
                    mxmlGetPlayPosTempoP(f) == nullptr && mxmlGetPlayPositionP(f) == nullptr &&
                    mxmlGetThreadP(f) == nullptr && mxmlGetBarDurationP(f) == nullptr &&
                    mxmlGetArticulationP(f) == nullptr && mxmlGetDynamikP(f) == nullptr &&
                    mxmlGetQuantizeP(f) == nullptr && mxmlGetMetronomP(f) == nullptr &&
                    mxmlGetEinstimmungP(f) == nullptr && mxmlGetStaffOnOffP(f) == nullptr;
         }},
        {"table flags",
         [&] {
             return mxmlGetArticulationUse(f) == 0 && mxmlSetArticulationUse(f, 1) == nullptr &&
                    mxmlGetDynamicUse(f) == 0 && mxmlSetDynamicUse(f, 1) == nullptr &&
                    mxmlGetUseAllVoicesForDyn(f) == 0 && mxmlSetUseAllVoicesForDyn(f, 1) == nullptr &&
                    mxmlGetUseAllStavesForDyn(f) == 0 && mxmlSetUseAllStavesForDyn(f, 1) == nullptr;
         }},
        {"dynamics rows",
         [&] {
             return mxmlGetValueOfDynSymbol(f, 0) == 255 && mxmlSetValueOfDynSymbol(f, 0, 1) == nullptr &&
                    mxmlIsDynSymbolInFile(f, 0) == 0 && mxmlSetDynSymbolInFile(f, 0, 1) == nullptr &&
                    mxmlDynamikCopyValues(f, nullptr) == nullptr;
         }},
        {"articulation rows",
         [&] {
             return mxmlIsArtSymbolInFile(f, 0) == 0 && mxmlGetVelocRaiseOfArtSymbol(f, 0) == 0 &&
                    mxmlSetVelocRaiseOfArtSymbol(f, 0, 5) == nullptr && mxmlGetNoteCutOfArtSymbol(f, 0) == 0 &&
                    mxmlSetNoteCutOfArtSymbol(f, 0, 5) == nullptr && mxmlArticulationCopyValues(f, nullptr) == nullptr;
         }},
        {"staves",
         [&] {
             return mxmlGetVocNumOfStaff(f, 0) == 0 && mxmlGetSrcVolume(f, 0) == 0 &&
                    mxmlSetSrcVolume(f, 0, 9) == nullptr && mxmlGetMidiInstrumentNum(f, 0) == 0 &&
                    mxmlGetMidiInstrumentListNum(f) == 0 && !mxmlGetPercussionFlag(f, 0);
         }},
        {"voice mix",
         [&] {
             return mxmlGetUserVolume(f, 0, 0) == 0 && mxmlSetUserVolume(f, 0, 0, 9) == nullptr &&
                    mxmlGetUserPanorama(f, 0, 0) == 0 && mxmlSetUserPanorama(f, 0, 0, 9) == nullptr;
         }},
        {"instrument records",
         [&] {
             return mxmlGetMidiInstrId(f, 0, 0) == nullptr && mxmlGetMidiInstrPercNote(f, 0, 0) == 0 &&
                    mxmlSetMidiInstrPercNote(f, 0, 0, 1) == nullptr && mxmlGetMidiInstrSrcProgPercId(f, 0, 0) == 0 &&
                    mxmlSetMidiInstrSrcProgPercId(f, 0, 0, 1) == nullptr && mxmlGetUserProgram(f, 0, 0) == 0 &&
                    mxmlSetUserProgram(f, 0, 0, 1) == nullptr && mxmlGetMidiInstrChannel(f, 0, 0) == 0 &&
                    mxmlSetMidiInstrChannel(f, 0, 0, 1) == nullptr && mxmlSetUserChannel(f, 0, 0, 1) == nullptr &&
                    mxmlGetMidiInstrSrcChannel(f, 0, 0) == 0 && mxmlSetMidiInstrSrcChannel(f, 0, 0, 1) == nullptr &&
                    !mxmlIspercOfStaffOfVoc(f, 0, 0);
         }},
        {"events",
         [&] {
             return mxmlGetVoiceChannel(f, 0, 0) == 255 && mxmlActualizePlaybackSound(f, 0, 0) == 0 &&
                    mxmlGetTimeOfNote(f, 0, 0, 0) == 0 && mxmlGetTicklenOfNote(f, 0, 0, 0) == 0 &&
                    mxmlGetMidiNumberOfNote(f, 0, 0, 0, 0) == 0 && mxmlGetNextEventType(f, ~0u, 0, 0, -1) == 0;
         }},
        {"mxmlTimeToMeasure",
         [&] {
             mxmlTimeToMeasure(f, 960, &bar, &beat, &tick);
             return bar == -5 && beat == -5 && tick == -5;
         }},
        {"file names",
         [&] {
             return mxmlGetFnOriginal(f) == nullptr && mxmlGetFnScanned(f) == nullptr &&
                    mxmlFnScannedIsEqual(f, "a.xml") && !mxmlIsThisFileRendered(f, "a.xml") &&
                    !mxmlIsAnyFileRendered(f);
         }},
        {"on and off",
         [&] {
             return mxmlGetStaffOnOff(f, 0) == -1 && mxmlSetStaffOnOff(f, 0, 1, true) == nullptr &&
                    mxmlGetVoiceOnOff(f, 0, 0) == -1 && mxmlSetVoiceOnOff(f, 0, 0, 1) == -1 && !mxmlIsStaffOn(f, 0) &&
                    !mxmlIsStaffOff(f, 0) && !mxmlIsStaffInvalid(f, 0) && !mxmlIsStaffVisible(f, 0) &&
                    !mxmlIsVoiceOn(f, 0, 0) && !mxmlIsVoiceOff(f, 0, 0) && !mxmlIsVoiceInvalid(f, 0, 0) &&
                    !mxmlIsVoiceVisible(f, 0, 0) && mxmlGetOnOffVoiceNumOfStaff(f, 0) == 0;
         }},
        {"metronome",
         [&] {
             return mxmlGetMetrCountIn(f) == 0 && mxmlSetMetrCountIn(f, 1) == nullptr && mxmlGetMetrUse(f) == 0 &&
                    mxmlSetMetrUse(f, 1) == nullptr && mxmlGetMetrInstrument(f) == 42 &&
                    mxmlSetMetrInstrument(f, 1) == nullptr && mxmlGetMetrVelocity(f) == 0 &&
                    mxmlSetMetrVelocity(f, 1) == nullptr && mxmlGetMetrFirstBeat(f) == 1 &&
                    mxmlSetMetrFirstBeat(f, 0) == nullptr && mxmlGetMetrFrequency(f) == 0 &&
                    mxmlSetMetrFrequency(f, 2) == nullptr && mxmlGetMetrVolume(f) == 0 &&
                    mxmlSetMetrVolume(f, 1) == nullptr && mxmlGetMetrLastBeat(f) == 1 &&
                    mxmlSetMetrLastBeat(f, 0) == nullptr && mxmlMetrClickFreq(f, nullptr, 1, 4, 1, nullptr, nullptr,
                                                                              nullptr, &delta) == 0 &&
                    mxmlMetrClickOff(f, nullptr, nullptr, &delta) == 0 && delta == 3;
         }},
        {"tune-up fields",
         [&] {
             return mxmlGetEinstType(f) == 1 && mxmlSetEinstType(f, 2) == nullptr && mxmlGetEinstDuration(f) == 1000 &&
                    mxmlSetEinstDuration(f, 1) == nullptr && mxmlGetEinstZerlegt(f) == 1 &&
                    mxmlSetEinstZerlegt(f, 0) == nullptr && mxmlGetEinstTempo(f) == 2 &&
                    mxmlSetEinstTempo(f, 1) == nullptr && mxmlGetEinstSounding(f) == 1 &&
                    mxmlSetEinstSounding(f, 0) == nullptr && mxmlGetEinstVolume(f) == 100 &&
                    mxmlSetEinstVolume(f, 1) == nullptr && mxmlGetEinstInstrument(f) == -1 &&
                    mxmlSetEinstInstrument(f, 1) == nullptr && mxmlGetEinstChordGrundton(f) == 0 &&
                    mxmlSetEinstChordGrundton(f, 1) == nullptr && mxmlGetEinstChordDurMoll(f) == 1 &&
                    mxmlSetEinstChordDurMoll(f, 0) == nullptr && mxmlGetEinstChordOctave(f) == 5 &&
                    mxmlSetEinstChordOctave(f, 1) == nullptr && mxmlGetEinstFirstNotesVoiceNum(f) == 0 &&
                    mxmlSetEinstFirstNotesVoiceNum(f, 1) == nullptr && mxmlGetEinstFirstNotesFromTop(f) == 0 &&
                    mxmlSetEinstFirstNotesFromTop(f, 1) == nullptr && mxmlIsEinstActive(f) == 0 &&
                    mxmlSetEinstPlayParams(f, params.data()) == nullptr;
         }},
        {"tune-up voices",
         [&] {
             return mxmlEinstDeleteVoiceList(f) == nullptr && !mxmlEinstAddSelectedVoice(f, 1) &&
                    mxmlEinstGetFirstNotesStaffVoice(f, 0, &staff, &voice) == 0 && staff == -5 && voice == -5 &&
                    mxmlEinstGetZerlegtTime(f) == 1000 && mxmlEinstGetZerlegtTicks(f) == 480 &&
                    !mxmlEinstFirstNotesVoicesSelected(f) && mxmlEinstCreateVoicesString(f) == nullptr &&
                    mxmlEinstBuildVoicesFromString(f, "1 2") == 0;
         }},
        {"quantize",
         [&] {
             return mxmlGetQuantizeNote(f, 0) == 0 && mxmlSetQuantizeNote(f, 0, 1) == nullptr &&
                    mxmlGetQuantizeAnzahl(f, 0) == 0 && mxmlSetQuantizeAnzahl(f, 0, 4) == nullptr &&
                    mxmlGetQuantizeAnzahlIndex(f, 0) == 0 && mxmlSetQuantizeRate(f, 0, 2, 1) == nullptr &&
                    mxmlGetQuantizeRateIndex(f, 0) == 12 && mxmlGetQuantizeRateString(f, 0) == nullptr &&
                    mxmlCreateQuantizeRateString(f, 0, buffer, sizeof buffer) == SCORECONV_S_OK &&
                    buffer[0] == '\0' && !mxmlSetQuantizeRateFromString(f, 0, "2:1") &&
                    mxmlSetQuantizeProtocolPos(f, 0, 0, 3) == nullptr;
         }},
    });
}

// On a loaded score every setter's value is what its getter reads back, and
// the values the score brought are reported as they are.
class ExportsTableLoaded : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(h_.file, nullptr);
        ASSERT_EQ(load(h_.file, fixture("walk_voices.xml")), 0);
        ASSERT_EQ(mxmlGetStaveNum(h_.file), 3);  // two staves and the score-wide row
    }
    MxmlHandle h_;
};

TEST_F(ExportsTableLoaded, AValueSetIsTheValueRead) {
    scMxmlFile* const f = h_.file;
    struct RoundTrip {
        const char* name;
        std::function<void()> set;
        std::function<int64_t()> get;
        int64_t value;
    };
    const RoundTrip trips[] = {
        {"TranspAdd", [&] { mxmlSetTranspAdd(f, -7); }, [&] { return mxmlGetTranspAdd(f); }, -7},
        {"TranspAddToPerc", [&] { mxmlSetTranspAddToPerc(f, 1); }, [&] { return mxmlGetTranspAddToPerc(f); }, 1},
        {"Velocity", [&] { mxmlSetVelocity(f, 61); }, [&] { return *mxmlGetVelocityP(f); }, 61},
        {"VelocityP", [&] { *mxmlGetVelocityP(f) = 62; }, [&] { return mxmlGetVelocity(f); }, 62},
        {"NoteShortening", [&] { mxmlSetNoteShortening(f, 70); }, [&] { return *mxmlGetNoteShorteningP(f); }, 70},
        {"NoteShorteningP", [&] { *mxmlGetNoteShorteningP(f) = 71; }, [&] { return mxmlGetNoteShortening(f); }, 71},
        {"PlayRepeats", [&] { mxmlSetPlayRepeats(f, 0); }, [&] { return *mxmlGetPlayRepeatsP(f); }, 0},
        {"PlayPosTempo", [&] { mxmlSetPlayPosTempo(f, 77); }, [&] { return *mxmlGetPlayPosTempoP(f); }, 77},
        {"IgnoreTempoP", [&] { *mxmlGetIgnoreTempoP(f) = 1; }, [&] { return h_.file->IgnoreTempo.load(); }, 1},
        {"PlayCond", [&] { mxmlSetPlayCond(f, 0x10, 0x2); },
         [&] { return static_cast<int64_t>(h_.file->controls.playConditions()); }, 0x200000010},
        {"TempoRange", [&] { mxmlSetTempoRange(f, 30, 300); },
         [&] { return int64_t{h_.file->controls.tempo().low} * 1000 + h_.file->controls.tempo().high; }, 30300},
        {"ArticulationUse", [&] { mxmlSetArticulationUse(f, 0); }, [&] { return mxmlGetArticulationUse(f); }, 0},
        {"DynamicUse", [&] { mxmlSetDynamicUse(f, 0); }, [&] { return mxmlGetDynamicUse(f); }, 0},
        {"UseAllVoicesForDyn", [&] { mxmlSetUseAllVoicesForDyn(f, 0); },
         [&] { return mxmlGetUseAllVoicesForDyn(f); }, 0},
        {"UseAllStavesForDyn", [&] { mxmlSetUseAllStavesForDyn(f, 1); },
         [&] { return mxmlGetUseAllStavesForDyn(f); }, 1},
        {"ValueOfDynSymbol", [&] { mxmlSetValueOfDynSymbol(f, 7, 12); },
         [&] { return mxmlGetValueOfDynSymbol(f, 7); }, 12},
        {"DynSymbolInFile", [&] { mxmlSetDynSymbolInFile(f, 2, 1); }, [&] { return mxmlIsDynSymbolInFile(f, 2); }, 1},
        {"VelocRaiseOfArtSymbol", [&] { mxmlSetVelocRaiseOfArtSymbol(f, 6, -3); },
         [&] { return mxmlGetVelocRaiseOfArtSymbol(f, 6); }, -3},
        {"NoteCutOfArtSymbol", [&] { mxmlSetNoteCutOfArtSymbol(f, 0, -33); },
         [&] { return mxmlGetNoteCutOfArtSymbol(f, 0); }, -33},
        {"SrcVolume", [&] { mxmlSetSrcVolume(f, 1, 55); }, [&] { return mxmlGetSrcVolume(f, 1); }, 55},
        {"UserVolume", [&] { mxmlSetUserVolume(f, 0, 1, 40); }, [&] { return mxmlGetUserVolume(f, 0, 1); }, 40},
        {"UserPanorama", [&] { mxmlSetUserPanorama(f, 1, 0, 10); }, [&] { return mxmlGetUserPanorama(f, 1, 0); }, 10},
        {"MidiInstrPercNote", [&] { mxmlSetMidiInstrPercNote(f, 0, 0, 35); },
         [&] { return mxmlGetMidiInstrPercNote(f, 0, 0); }, 35},
        {"IspercOfStaffOfVoc", [&] { mxmlSetMidiInstrPercNote(f, 0, 0, 36); },
         [&] { return mxmlIspercOfStaffOfVoc(f, 0, 0) && mxmlGetPercussionFlag(f, 0); }, 1},
        {"MidiInstrSrcProgPercId", [&] { mxmlSetMidiInstrSrcProgPercId(f, 0, 0, 20); },
         [&] { return mxmlGetMidiInstrSrcProgPercId(f, 0, 0); }, 20},
        {"UserProgram", [&] { mxmlSetUserProgram(f, 0, 0, 41); }, [&] { return mxmlGetUserProgram(f, 0, 0); }, 41},
        {"MidiInstrChannel", [&] { mxmlSetMidiInstrChannel(f, 0, 0, 5); },
         [&] { return mxmlGetMidiInstrChannel(f, 0, 0); }, 5},
        {"UserChannel", [&] { mxmlSetUserChannel(f, 0, 0, 6); }, [&] { return mxmlGetMidiInstrChannel(f, 0, 0); }, 6},
        {"MidiInstrSrcChannel", [&] { mxmlSetMidiInstrSrcChannel(f, 0, 0, 3); },
         [&] { return mxmlGetMidiInstrSrcChannel(f, 0, 0); }, 3},
        {"MidiInstrId", [&] { mxmlSetMidiInstrId(f, 0, 0, "piano-7"); },
         [&] { return int64_t{std::strcmp(mxmlGetMidiInstrId(f, 0, 0), "piano-7") == 0}; }, 1},
        {"StaffOnOff", [&] { mxmlSetStaffOnOff(f, 1, 1, true); },
         [&] { return mxmlGetStaffOnOff(f, 1) * 10 + mxmlGetVoiceOnOff(f, 1, 0); }, 11},
        {"StaffOnOff predicates", [&] { mxmlSetStaffOnOff(f, 1, 1, true); },
         [&] { return mxmlIsStaffOff(f, 1) && !mxmlIsStaffOn(f, 1) && mxmlIsStaffVisible(f, 1); }, 1},
        {"VoiceOnOff", [&] { mxmlSetVoiceOnOff(f, 0, 1, 0); },
         [&] { return !mxmlIsVoiceVisible(f, 0, 1) && !mxmlIsVoiceOn(f, 0, 1) && mxmlGetVoiceOnOff(f, 0, 1) == 0; }, 1},
        {"MetrCountIn", [&] { mxmlSetMetrCountIn(f, 3); }, [&] { return mxmlGetMetrCountIn(f); }, 3},
        {"MetrUse", [&] { mxmlSetMetrUse(f, 0); }, [&] { return mxmlGetMetrUse(f); }, 0},
        {"MetrInstrument", [&] { mxmlSetMetrInstrument(f, 37); }, [&] { return mxmlGetMetrInstrument(f); }, 37},
        {"MetrVelocity", [&] { mxmlSetMetrVelocity(f, 33); }, [&] { return mxmlGetMetrVelocity(f); }, 33},
        {"MetrFirstBeat", [&] { mxmlSetMetrFirstBeat(f, 0); }, [&] { return mxmlGetMetrFirstBeat(f); }, 0},
        {"MetrFrequency", [&] { mxmlSetMetrFrequency(f, 3); }, [&] { return mxmlGetMetrFrequency(f); }, 3},
        {"MetrVolume", [&] { mxmlSetMetrVolume(f, 99); }, [&] { return mxmlGetMetrVolume(f); }, 99},
        {"MetrLastBeat", [&] { mxmlSetMetrLastBeat(f, 0); }, [&] { return mxmlGetMetrLastBeat(f); }, 0},
        {"EinstType", [&] { mxmlSetEinstType(f, 2); }, [&] { return mxmlGetEinstType(f); }, 2},
        {"EinstDuration", [&] { mxmlSetEinstDuration(f, 2500); }, [&] { return mxmlGetEinstDuration(f); }, 2500},
        {"EinstZerlegt", [&] { mxmlSetEinstZerlegt(f, 0); }, [&] { return mxmlGetEinstZerlegt(f); }, 0},
        {"EinstTempo", [&] { mxmlSetEinstTempo(f, 1); },
         [&] { return mxmlGetEinstTempo(f) * 10000 + mxmlEinstGetZerlegtTime(f); }, 10500},
        {"EinstSounding", [&] { mxmlSetEinstSounding(f, 0); }, [&] { return mxmlGetEinstSounding(f); }, 0},
        {"EinstVolume", [&] { mxmlSetEinstVolume(f, 80); }, [&] { return mxmlGetEinstVolume(f); }, 80},
        {"EinstInstrument", [&] { mxmlSetEinstInstrument(f, 19); }, [&] { return mxmlGetEinstInstrument(f); }, 19},
        {"EinstChordGrundton", [&] { mxmlSetEinstChordGrundton(f, 9); },
         [&] { return mxmlGetEinstChordGrundton(f); }, 9},
        {"EinstChordDurMoll", [&] { mxmlSetEinstChordDurMoll(f, 0); },
         [&] { return mxmlGetEinstChordDurMoll(f); }, 0},
        {"EinstChordOctave", [&] { mxmlSetEinstChordOctave(f, 4); }, [&] { return mxmlGetEinstChordOctave(f); }, 4},
        {"EinstFirstNotesFromTop", [&] { mxmlSetEinstFirstNotesFromTop(f, 1); },
         [&] { return mxmlGetEinstFirstNotesFromTop(f); }, 1},
        {"EinstPlayParams",
         [&] {
             const int32_t block[7] = {1, 2, 3, 4, 5, 6, 7};
             mxmlSetEinstPlayParams(f, block);
         },
         [&] {
             return int64_t{mxmlGetEinstimmungP(f) == &h_.file->einstimmung &&
                            h_.file->einstimmung.PlayParams[6] == 7};
         },
         1},
        {"Einst voices",
         [&] {
             mxmlEinstDeleteVoiceList(f);
             mxmlEinstAddSelectedVoice(f, 1 | 2 << 16);
         },
         [&] {
             int32_t staff = -1, voice = -1;
             return mxmlEinstGetFirstNotesStaffVoice(f, 0, &staff, &voice) >= 0 && staff == 1 && voice == 2 &&
                    std::strcmp(mxmlEinstCreateVoicesString(f), "131073") == 0;
         },
         1},
        {"Einst voices from text", [&] { mxmlEinstBuildVoicesFromString(f, "3 65536"); },
         [&] { return std::strcmp(mxmlEinstCreateVoicesString(f), "3 65536") == 0; }, 1},
        {"QuantizeNote", [&] { mxmlSetQuantizeNote(f, 1, 2); }, [&] { return mxmlGetQuantizeNote(f, 1); }, 2},
        {"QuantizeAnzahl", [&] { mxmlSetQuantizeAnzahl(f, 1, 6); },
         [&] { return mxmlGetQuantizeAnzahl(f, 1) * 10 + mxmlGetQuantizeAnzahlIndex(f, 1); }, 62},
        {"QuantizeRate", [&] { mxmlSetQuantizeRate(f, 0, 2, 1); },
         [&] {
             return mxmlGetQuantizeRateIndex(f, 0) * 10 + (std::strcmp(mxmlGetQuantizeRateString(f, 0), "2:1") == 0);
         },
         161},
        {"QuantizeRateFromString (not offered)", [&] { mxmlSetQuantizeRateFromString(f, 1, "5:3"); },
         [&] {
             char text[12] = "";
             return mxmlCreateQuantizeRateString(f, 1, text, sizeof text) == SCORECONV_S_OK &&
                    std::strcmp(text, "5:3") == 0 && mxmlGetQuantizeRateString(f, 1) == nullptr &&
                    mxmlGetQuantizeRateIndex(f, 1) == 25;
         },
         1},
        {"FnOriginal", [&] { mxmlCopyToFnOriginal(f, "/music/a.tvrx"); },
         [&] {
             return std::strcmp(mxmlGetFnOriginal(f), "/music/a.tvrx") == 0 &&
                    mxmlIsThisFileRendered(f, "/music/a.tvrx");
         },
         1},
    };
    for (const RoundTrip& trip : trips) {
        trip.set();
        EXPECT_EQ(trip.get(), trip.value) << trip.name;
    }
}

TEST_F(ExportsTableLoaded, TheScoreIsReadAsLoaded) {
    scMxmlFile* const f = h_.file;
    const std::string source = fixture("walk_voices.xml");
    const int32_t* voices = mxmlGetVocNum(f);
    ASSERT_NE(voices, nullptr);
    int32_t bar = 0, beat = 0, tick = 0;
    mxmlTimeToMeasure(f, 1920 + 960 + 5, &bar, &beat, &tick);
    expectAll({
        {"voice counts", [&] { return voices[0] == mxmlGetVocNumOfStaff(f, 0) && voices[0] > 1; }},
        {"stave counts agree", [&] { return mxmlGetStvNum(f) == mxmlGetStaveNum(f); }},
        // The first note of the first voice is C5 (key 72), a half note.
        {"first note",
         [&] {
             const int32_t first = mxmlGetNextEventType(f, 0xFFFFFFFFu, 0, 0, -1);
             return first >= 0 && mxmlGetTimeOfNote(f, 0, 0, first) == 0 &&
                    mxmlGetTicklenOfNote(f, 0, 0, first) == 960 && mxmlGetMidiNumberOfNote(f, 0, 0, first, 0) == 72;
         }},
        {"file names",
         [&] {
             return std::strcmp(mxmlGetFnScanned(f), source.c_str()) == 0 && mxmlFnScannedIsEqual(f, source.c_str()) &&
                    !mxmlFnScannedIsEqual(f, "other.xml") && mxmlIsAnyFileRendered(f) &&
                    mxmlIsThisFileRendered(f, source.c_str()) && !mxmlIsThisFileRendered(f, nullptr);
         }},
        {"voice channel", [&] { return mxmlGetVoiceChannel(f, 0, 0) < 16; }},
        {"time in 4/4", [&] { return bar == 2 && beat == 3 && tick == 5; }},
        {"record addresses are the file's",
         [&] {
             return mxmlGetQuantizeP(f) == &h_.file->quantize && mxmlGetMetronomP(f) == &h_.file->metronom &&
                    mxmlGetStaffOnOffP(f) == &h_.file->onOff && mxmlGetArticulationP(f) == &h_.file->articulation &&
                    mxmlGetDynamikP(f) == &h_.file->dynamik && mxmlGetThreadP(f) != nullptr &&
                    mxmlGetBarDurationP(f) != nullptr;
         }},
    });
}

// Indexes the score or the table does not have give the neutral value, and a
// setter given one changes nothing.
TEST_F(ExportsTableLoaded, UnknownIndexesGiveTheNeutralValue) {
    scMxmlFile* const f = h_.file;
    const int32_t staves = mxmlGetStaveNum(f) - 1;
    const int32_t voices = mxmlGetVocNumOfStaff(f, 0);
    char text[12] = "x";
    for (const int32_t staff : {-1, staves, staves + 50}) {
        SCOPED_TRACE(staff);
        mxmlSetSrcVolume(f, staff, 3);
        mxmlSetUserVolume(f, staff, 0, 3);
        mxmlSetQuantizeRate(f, staff, 3, 1);
        mxmlSetStaffOnOff(f, staff, 0, true);
        expectAll({
            {"voices", [&] { return mxmlGetVocNumOfStaff(f, staff) == 0; }},
            {"volumes", [&] { return mxmlGetSrcVolume(f, staff) == 0 && mxmlGetUserVolume(f, staff, 0) == 0; }},
            {"pan", [&] { return mxmlGetUserPanorama(f, staff, 0) == 0; }},
            {"instruments",
             [&] {
                 return mxmlGetMidiInstrumentNum(f, staff) == 0 && !mxmlGetPercussionFlag(f, staff) &&
                        mxmlGetMidiInstrId(f, staff, 0) == nullptr && mxmlGetUserProgram(f, staff, 0) == 0;
             }},
            {"events",
             [&] {
                 return mxmlGetVoiceChannel(f, staff, 0) == 255 && mxmlGetTimeOfNote(f, staff, 0, 0) == 0 &&
                        mxmlGetNextEventType(f, ~0u, staff, 0, -1) == -1;
             }},
            {"on and off",
             [&] {
                 return mxmlGetStaffOnOff(f, staff) == -1 && !mxmlIsStaffInvalid(f, staff) &&
                        mxmlSetVoiceOnOff(f, staff, 0, 1) == -1 && mxmlGetOnOffVoiceNumOfStaff(f, staff) == 0;
             }},
            {"quantize",
             [&] {
                 return mxmlGetQuantizeRateIndex(f, staff) == 12 && mxmlGetQuantizeRateString(f, staff) == nullptr &&
                        mxmlCreateQuantizeRateString(f, staff, text, sizeof text) == SCORECONV_S_OK &&
                        text[0] == '\0' && !mxmlSetQuantizeRateFromString(f, staff, "2:1");
             }},
        });
    }
    for (const int32_t voice : {-1, voices, voices + 50}) {
        SCOPED_TRACE(voice);
        mxmlSetUserVolume(f, 0, voice, 3);
        mxmlSetUserPanorama(f, 0, voice, 3);
        EXPECT_EQ(mxmlGetUserVolume(f, 0, voice), 0);
        EXPECT_EQ(mxmlGetUserPanorama(f, 0, voice), 0);
        EXPECT_EQ(mxmlGetTimeOfNote(f, 0, voice, 0), 0);
        EXPECT_EQ(mxmlGetMidiNumberOfNote(f, 0, voice, 0, 0), 0);
    }
    for (const int32_t row : {-1, 8, 300}) {
        SCOPED_TRACE(row);
        mxmlSetValueOfDynSymbol(f, row, 1);
        mxmlSetNoteCutOfArtSymbol(f, row, 1);
        EXPECT_EQ(mxmlGetValueOfDynSymbol(f, row), 255);
        EXPECT_EQ(mxmlIsDynSymbolInFile(f, row), 0);
        EXPECT_EQ(mxmlGetNoteCutOfArtSymbol(f, row), 0);
        EXPECT_EQ(mxmlIsArtSymbolInFile(f, row), 0);
    }
    // The known rows and staves kept their values.
    EXPECT_EQ(mxmlGetSrcVolume(f, 0), 74);
    EXPECT_EQ(mxmlGetUserVolume(f, 0, 0), 74);
    EXPECT_EQ(mxmlGetQuantizeRateIndex(f, 0), 12);
    EXPECT_EQ(mxmlGetValueOfDynSymbol(f, 7), 10);
    EXPECT_EQ(mxmlGetNoteCutOfArtSymbol(f, 6), -10);
    // A head the event does not have.
    const int32_t first = mxmlGetNextEventType(f, ~0u, 0, 0, -1);
    EXPECT_EQ(mxmlGetMidiNumberOfNote(f, 0, 0, first, 1), 0);
    EXPECT_EQ(mxmlGetMidiNumberOfNote(f, 0, 0, first, -1), 0);
}

TEST_F(ExportsTableLoaded, PlayConditionsAreAddedAndRemovedAsAWhole) {
    scMxmlFile* const f = h_.file;
    const auto conditions = [&] { return h_.file->controls.playConditions(); };
    mxmlSetPlayCond(f, 0x1, 0);
    EXPECT_EQ(mxmlAddPlayCond(f, 0x3), 0x3);
    EXPECT_EQ(conditions(), 0x1u);  // one of its bits was set: nothing changes
    mxmlAddPlayCond(f, 0x6);
    EXPECT_EQ(conditions(), 0x7u);
    EXPECT_EQ(mxmlRemovePlayCond(f, 0x18), 0x18);
    EXPECT_EQ(conditions(), 0x7u);  // none of its bits was set: nothing changes
    mxmlRemovePlayCond(f, 0x9);
    EXPECT_EQ(conditions(), 0xEu);  // 0x1 cleared, 0x8 set
    mxmlSetPlayCond(f, 0, 0);
    mxmlAddPlayCond(f, -2);  // widened with its sign
    EXPECT_EQ(conditions(), ~uint64_t{1});
}

TEST(ExportsTable, TimeToMeasureFollowsTheTimeSignatures) {
    TempFolder temp;
    const std::filesystem::path source = temp.path() / "meters.xml";
    writeBytes(source, meterScore(2, 2));
    MxmlHandle h;
    ASSERT_EQ(load(h.file, source.string()), 0);
    struct Case {
        int32_t tick, bar, beat, inBeat;
    };
    const Case cases[] = {
        {0, 1, 1, 0},
        {-10, 1, 1, 0},
        {479, 1, 1, 479},
        {1920 + 960 + 5, 2, 3, 5},
        {3840, 3, 1, 0},              // where 3/4 starts
        {3840 + 480 + 10, 3, 2, 10},  // 3/4 from here on
        {3840 + 1440 + 960, 4, 3, 0},
    };
    for (const Case& c : cases) {
        int32_t bar = 0, beat = 0, inBeat = 0;
        mxmlTimeToMeasure(h.file, c.tick, &bar, &beat, &inBeat);
        EXPECT_EQ(bar, c.bar) << c.tick;
        EXPECT_EQ(beat, c.beat) << c.tick;
        EXPECT_EQ(inBeat, c.inBeat) << c.tick;
    }
    mxmlTimeToMeasure(h.file, 960, nullptr, nullptr, nullptr);  // outputs may be null
}

// A host that switches the preview on through its address while a long play
// runs ends that play: the player reads what the host stored.
TEST(ExportsTable, APlayingThreadSeesAChangeMadeByAddress) {
    TempFolder temp;
    const std::filesystem::path source = temp.path() / "long.xml";
    writeBytes(source, meterScore(120));  // four minutes at the score's tempo
    MxmlHandle h;
    ASSERT_EQ(load(h.file, source.string()), 0);
    scMidiOut* out = scoreconvCreateCaptureMidiOut();
    ASSERT_NE(out, nullptr);
    const auto& capture = dynamic_cast<const platform::CaptureMidiOut&>(*out);
    int64_t playTime = 0;
    int state = -1;
    int result = -1;
    CThreadProcParams params{};
    params.playTime = &playTime;
    params.state = &state;
    params.result = &result;
    mxmlSetPlaymode(h.file, SCORECONV_MODE_REAL_TIME);
    ASSERT_EQ(mxmlPlayFile(h.file, &params, out), 0);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (captureNotes(capture).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(mxmlGetThread(h.file), nullptr);
    *mxmlGetPreviewSecP(h.file) = 0;
    *mxmlGetPreviewDoP(h.file) = 1;
    while (mxmlGetThread(h.file) != nullptr && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool ended = mxmlGetThread(h.file) == nullptr;
    if (!ended) {
        h.signal = SCORECONV_SIGNAL_STOP;
        while (mxmlGetThread(h.file) != nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(ended) << "the play did not see the preview switched on";
    EXPECT_EQ(result, 0);
    EXPECT_LT(mxmlGetPlayPosition(h.file), 10LL * 10'000'000);
    scoreconvDestroyCaptureMidiOut(out);
}

namespace scoreconv {
namespace {

// The tune-up chord and the first-notes slots go into a list the host owns.
TEST_F(ExportsTableLoaded, TuneUpChordsFillTheHostsList) {
    scScoreEventList events;
    int32_t count = 5;
    EXPECT_FALSE(mxmlEinstCreateChord(nullptr, &events, &count, 0));
    EXPECT_EQ(count, 5);
    EXPECT_FALSE(mxmlEinstCreateChord(h_.file, nullptr, &count, 0));

    mxmlSetEinstChordGrundton(h_.file, 0);
    ASSERT_TRUE(mxmlEinstCreateChord(h_.file, &events, &count, 2));
    ASSERT_EQ(count, 3);
    ASSERT_GE(events.size(), 3u);
    const int32_t root = (events[0].midi[0] >> 8) & 0x7F;
    EXPECT_EQ((events[1].midi[0] >> 8) & 0x7F, static_cast<uint32_t>(root + 4));  // major third
    EXPECT_EQ((events[2].midi[0] >> 8) & 0x7F, static_cast<uint32_t>(root + 7));

    scorecore::CScoreEvent source;
    source.headCount = 1;
    source.midi[0] = 0x90 | (60u << 8) | (80u << 16);
    scScoreEventList slots;
    int32_t filled = 0;
    EXPECT_EQ(mxmlEinstGetFirstNotesNote(nullptr, &slots, &filled, -1, &source, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(mxmlEinstGetFirstNotesNote(h_.file, &slots, &filled, -1, nullptr, 0, 0, 0, 0, 0), -1);
    ASSERT_TRUE(mxmlEinstAddSelectedVoice(h_.file, 0));
    const int32_t slot = mxmlEinstGetFirstNotesNote(h_.file, &slots, &filled, -1, &source, 3, 2, -1, 0, 0);
    ASSERT_GE(slot, 0);
    ASSERT_LT(static_cast<std::size_t>(slot), slots.size());
    EXPECT_EQ(filled, 1);
    EXPECT_EQ((slots[static_cast<std::size_t>(slot)].midi[0] >> 8) & 0x7F, 61u);
    EXPECT_EQ(slots[static_cast<std::size_t>(slot)].midi[0] & 0xFF, 0x93u);
}

}  // namespace
}  // namespace scoreconv
