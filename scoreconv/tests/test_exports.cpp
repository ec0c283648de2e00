// The library's C exports: null handles, ending handles, the wide and bounded
// text copies, the callback target that carries progress to a C host, the
// per-handle log, and the play procedure driven from a host (play time,
// render, real-time play into a capture output, tune-up, tempo settings).
#include "scoreconv/scoreconv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mido_support.h"
#include "musicxml/mxml_file.h"
#include "platform/message_target.h"
#include "platform/midi_out.h"
#include "platform/text.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "play_test_support.h"
#include "scorecore/midi_stream.h"
#include "scorecore/score_log.h"
#include "scorecore/vxml_file.h"

namespace {

using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;
using scoreconv::testing::captureNotes;
using scoreconv::testing::expectEveryNoteEnded;

std::string fixture(const char* name) { return (std::filesystem::path(QVP3_TEST_DATA_DIR) / name).string(); }

// A partwise score of `parts` one-staff parts with `measures` measures of one
// whole note each; part i is named names[i] when given.
std::string scoreXml(int parts, int measures, const std::vector<std::string>& names = {}) {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
           "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
           "<score-partwise version=\"3.1\">\n"
           "<identification><creator type=\"composer\">Anonymus</creator></identification>\n<part-list>\n";
    for (int p = 0; p < parts; ++p) {
        const std::string name = p < static_cast<int>(names.size()) ? names[p] : "Part " + std::to_string(p + 1);
        xml << "<score-part id=\"P" << p << "\"><part-name>" << name << "</part-name></score-part>\n";
    }
    xml << "</part-list>\n";
    for (int p = 0; p < parts; ++p) {
        xml << "<part id=\"P" << p << "\">\n";
        for (int m = 1; m <= measures; ++m) {
            xml << "<measure number=\"" << m << "\">";
            if (m == 1) {
                xml << "<attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4</beat-type></time>"
                       "<clef><sign>G</sign><line>2</line></clef></attributes>";
            }
            xml << "<note><pitch><step>C</step><octave>5</octave></pitch><duration>4</duration>"
                   "<voice>1</voice><type>whole</type></note></measure>\n";
        }
        xml << "</part>\n";
    }
    xml << "</score-partwise>\n";
    return xml.str();
}

// A handle that is freed at the end of the test.
struct MxmlHandle {
    explicit MxmlHandle(int32_t mode = SCORECONV_MODE_REAL_TIME, scMessageTarget** window = nullptr,
                        scScoreLog* log = nullptr)
        : file(mxmlNewFile(window, mode, &signal, 480, "exports test", log)) {}
    ~MxmlHandle() { mxmlFreeFile(&file); }
    MxmlHandle(const MxmlHandle&) = delete;
    MxmlHandle& operator=(const MxmlHandle&) = delete;

    int signal = 0;
    scMxmlFile* file;
};

int convert(scMxmlFile* file, const std::string& source, scVxmlFile* vxml = nullptr, const char* target = nullptr) {
    CThreadProcParams params{};
    int result = 1;
    params.file = file;
    params.vxml = vxml;
    params.sourcePath = source.c_str();
    params.targetPath = target;
    params.result = &result;
    const int returned = mxmlConvertProc(&params);
    EXPECT_EQ(returned, result);
    return result;
}

// --- null handles -----------------------------------------------------------------------

TEST(ExportsNullHandle, EveryExportGivesItsNeutralValue) {
    char buffer[8] = "xxxxxxx";
    int64_t playTime = 7;
    int signal = 0;
    CThreadProcParams noFile{};
    int result = 99;
    noFile.result = &result;
    noFile.sourcePath = "missing.xml";
    struct Row {
        const char* name;
        std::function<bool()> neutral;
    };
    const Row rows[] = {
        {"mxmlSetCallbackWindow", [] { mxmlSetCallbackWindow(nullptr, nullptr, 1); return true; }},
        {"mxmlSetSignal", [&] { return mxmlSetSignal(nullptr, &signal) == nullptr; }},
        {"mxmlCopyConvProps", [] { mxmlCopyConvProps(nullptr, 3); return true; }},
        {"mxmlConvertProc (no block)", [] { return mxmlConvertProc(nullptr) == 0; }},
        {"mxmlConvertProc (no file)", [&] { return mxmlConvertProc(&noFile) == 0 && result == 99; }},
        {"mxmlScanFile", [&] { return mxmlScanFile(nullptr, "missing.xml", &playTime) == 0 && playTime == 7; }},
        {"mxmlGetVersion", [] { return mxmlGetVersion(nullptr, "missing.xml") == 0; }},
        {"mxmlGetProps", [] { return mxmlGetProps(nullptr, "missing.xml") == 0; }},
        {"mxmlFnScannedIsEmpty", [] { return mxmlFnScannedIsEmpty(nullptr); }},
        {"mxmlGetStaveNum", [] { return mxmlGetStaveNum(nullptr) == 0; }},
        {"mxmlGetModDate", [] { return mxmlGetModDate(nullptr) == 0; }},
        {"mxmlGetStaffNameLength", [] { return mxmlGetStaffNameLength(nullptr, 0) == 0; }},
        {"mxmlGetStaffNameA", [] { return mxmlGetStaffNameA(nullptr, 0) == nullptr; }},
        {"mxmlGetStaffNameW", [] { return mxmlGetStaffNameW(nullptr, 0) == nullptr; }},
        {"mxmlGetDescA", [] { return mxmlGetDescA(nullptr) == nullptr; }},
        {"mxmlGetDescW", [] { return mxmlGetDescW(nullptr) == nullptr; }},
        {"mxmlCopyFnScanned",
         [&] { return mxmlCopyFnScanned(nullptr, buffer, sizeof buffer) == SCORECONV_S_OK && buffer[0] == '\0'; }},
        {"mxmlCopyToFnScanned", [] { return mxmlCopyToFnScanned(nullptr, "a.xml") == SCORECONV_S_OK; }},
        {"mxmlCopyToFnOriginal", [] { return mxmlCopyToFnOriginal(nullptr, "a.xml") == SCORECONV_S_OK; }},
        {"mxmlSetOriginalFilename", [] { return mxmlSetOriginalFilename(nullptr, "a.xml") == SCORECONV_S_OK; }},
        {"mxmlSetMidiInstrId", [] { return mxmlSetMidiInstrId(nullptr, 0, 0, "Flute") == SCORECONV_S_OK; }},
        {"vxmlCopyConvProps", [] { vxmlCopyConvProps(nullptr, 3); return true; }},
        {"vxmlSetCallbackWindow", [] { vxmlSetCallbackWindow(nullptr, nullptr); return true; }},
        {"vxmlSetSignal", [&] { return vxmlSetSignal(nullptr, &signal) == nullptr; }},
        {"vxmlGetVersion", [] { return vxmlGetVersion(nullptr, "missing.xml") == 0; }},
        {"vxmlGetProps", [] { return vxmlGetProps(nullptr, "missing.tvrx") == 0; }},
        {"vxmlGetDescAuthor", [&] { return vxmlGetDescAuthor(nullptr, buffer, 8) == 0 && buffer[0] == '\0'; }},
        {"vxmlGetDescKeywords", [&] { return vxmlGetDescKeywords(nullptr, buffer, 8) == 0 && buffer[0] == '\0'; }},
        {"vxmlGetDescComment", [&] { return vxmlGetDescComment(nullptr, buffer, 8) == 0 && buffer[0] == '\0'; }},
        {"vxmlGetDescFdate", [&] { return vxmlGetDescFdate(nullptr, buffer, 8) == 0 && buffer[0] == '\0'; }},
        {"scoreconvCreateCallbackTarget", [] { return scoreconvCreateCallbackTarget(nullptr, nullptr) == nullptr; }},
        {"scoreconvPumpCallbackTarget", [] { scoreconvPumpCallbackTarget(nullptr); return true; }},
        {"scoreconvDestroyCallbackTarget", [] { scoreconvDestroyCallbackTarget(nullptr); return true; }},
        {"scoreconvCreateLog", [] { return scoreconvCreateLog(nullptr) == nullptr; }},
        {"scoreconvDestroyLog", [] { scoreconvDestroyLog(nullptr); return true; }},
        {"mxmlPlayProc (no block)", [] { return mxmlPlayProc(nullptr) == 0; }},
        {"mxmlPlayProc (no file)", [&] { return mxmlPlayProc(&noFile) == 0 && result == 99; }},
        {"mxmlPlayFile", [&] { return mxmlPlayFile(nullptr, &noFile, nullptr) == 0 && result == 99; }},
        {"mxmlGetThread", [] { return mxmlGetThread(nullptr) == nullptr; }},
        {"mxmlGetPlaytime", [&] { return mxmlGetPlaytime(nullptr, &playTime) == 0 && playTime == 7; }},
        {"mxmlPlayEinstimmung", [] { return !mxmlPlayEinstimmung(nullptr); }},
        {"mxmlGetPlaymode", [] { return mxmlGetPlaymode(nullptr) == 0; }},
        {"mxmlSetPlaymode", [] { return mxmlSetPlaymode(nullptr, SCORECONV_MODE_RENDER) == nullptr; }},
        {"mxmlGetPlayPosition", [] { return mxmlGetPlayPosition(nullptr) == 0; }},
        {"mxmlSetPlayPosition", [] { return mxmlSetPlayPosition(nullptr, 5) == nullptr; }},
        {"mxmlGetTempoMode", [] { return mxmlGetTempoMode(nullptr) == 1; }},
        {"mxmlSetTempoMode", [] { return mxmlSetTempoMode(nullptr, 0) == nullptr; }},
        {"mxmlGetTempoAdd", [] { return mxmlGetTempoAdd(nullptr) == 0; }},
        {"mxmlSetTempoAdd", [] { return mxmlSetTempoAdd(nullptr, 10) == nullptr; }},
        {"mxmlGetTempoAbs", [] { return mxmlGetTempoAbs(nullptr) == -1; }},
        {"mxmlSetTempoAbs", [] { return mxmlSetTempoAbs(nullptr, 90) == nullptr; }},
        {"scoreconvCaptureCount", [] { return scoreconvCaptureCount(nullptr) == 0; }},
        {"scoreconvDestroyCaptureMidiOut", [] { scoreconvDestroyCaptureMidiOut(nullptr); return true; }},
    };
    for (const Row& row : rows) {
        buffer[0] = 'x';
        EXPECT_TRUE(row.neutral()) << row.name;
    }
}

// Staff indexes outside the loaded score are answered, never followed.
TEST(ExportsNullHandle, UnknownStavesGiveTheNeutralValue) {
    MxmlHandle h;
    ASSERT_NE(h.file, nullptr);
    ASSERT_EQ(mxmlGetProps(h.file, fixture("walk_voices.xml").c_str()), 0);
    const int32_t staves = mxmlGetStaveNum(h.file) - 1;
    ASSERT_GT(staves, 0);
    for (const int32_t staff : {-1, staves, staves + 100}) {
        EXPECT_EQ(mxmlGetStaffNameA(h.file, staff), nullptr) << staff;
        EXPECT_EQ(mxmlGetStaffNameW(h.file, staff), nullptr) << staff;
        EXPECT_EQ(mxmlGetStaffNameLength(h.file, staff), 0) << staff;
        EXPECT_EQ(mxmlSetMidiInstrId(h.file, staff, 0, "x"), SCORECONV_E_INVALIDARG) << staff;
    }
}

// --- ending handles ---------------------------------------------------------------------

TEST(ExportsLifecycle, EndingAHandleTwiceOrNoneIsHarmless) {
    struct Row {
        const char* name;
        std::function<void(scMxmlFile**)> mxml;
        std::function<void(scVxmlFile**)> vxml;
    };
    const Row rows[] = {
        {"free", mxmlFreeFile, vxmlFreeFile},
        {"destroy", mxmlDestroyFile, vxmlDestroyFile},
        {"init", [](scMxmlFile** h) { mxmlInitFile(h, 1); }, nullptr},
    };
    for (const Row& row : rows) {
        row.mxml(nullptr);
        scMxmlFile* none = nullptr;
        row.mxml(&none);
        EXPECT_EQ(none, nullptr) << row.name;

        scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "t", nullptr);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(mxmlGetProps(file, fixture("walk_piano.xml").c_str()), 0);
        row.mxml(&file);
        row.mxml(&file);
        mxmlFreeFile(&file);
        EXPECT_EQ(file, nullptr) << row.name;

        if (!row.vxml) continue;
        row.vxml(nullptr);
        scVxmlFile* noVxml = nullptr;
        row.vxml(&noVxml);
        scVxmlFile* vxml = vxmlNewFile(nullptr);
        ASSERT_NE(vxml, nullptr);
        row.vxml(&vxml);
        row.vxml(&vxml);
        vxmlFreeFile(&vxml);
        EXPECT_EQ(vxml, nullptr) << row.name;
    }
}

// The main program frees the handle of a loaded entry without destroying its
// contents first; the leak checker of the sanitizer build watches this one.
TEST(ExportsLifecycle, FreeingALoadedFileReleasesItsScore) {
    scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "t", nullptr);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(convert(file, fixture("walk_voices.xml")), 0);
    ASSERT_FALSE(mxmlFnScannedIsEmpty(file));
    ASSERT_NE(mxmlGetStaffNameW(file, 0), nullptr);
    ASSERT_NE(mxmlGetDescW(file), nullptr);
    mxmlFreeFile(&file);
    EXPECT_EQ(file, nullptr);
}

TEST(ExportsLifecycle, DestroyEmptiesTheScoreAndInitAlsoRestoresTheSettings) {
    MxmlHandle h;
    ASSERT_EQ(convert(h.file, fixture("walk_voices.xml")), 0);
    mxmlCopyConvProps(h.file, 0x21);
    h.file->NoteShortening = 50;

    mxmlDestroyFile(&h.file);
    EXPECT_TRUE(mxmlFnScannedIsEmpty(h.file));
    EXPECT_EQ(mxmlGetStaveNum(h.file), 0);
    EXPECT_EQ(mxmlGetStaffNameW(h.file, 0), nullptr);
    EXPECT_STREQ(mxmlGetDescA(h.file), "");
    EXPECT_EQ(h.file->convProps, 0x21);
    EXPECT_EQ(h.file->NoteShortening, 50);

    mxmlInitFile(&h.file, 0);
    EXPECT_EQ(h.file->convProps, -1);
    EXPECT_EQ(h.file->NoteShortening, 95);
    // Loaded again after the reset, as the states promise.
    ASSERT_EQ(convert(h.file, fixture("walk_voices.xml")), 0);
    EXPECT_EQ(mxmlGetStaveNum(h.file), 3);
}

TEST(ExportsLifecycle, FailedHeaderReadLeavesNothingLoaded) {
    MxmlHandle h;
    struct Row {
        const char* name;
        std::string path;  // empty: a null path
        int expected;
    };
    const Row rows[] = {
        {"null path", "", SCORECONV_ERR_CANNOT_OPEN},
        {"missing file", "/nonexistent/score.xml", SCORECONV_ERR_CANNOT_OPEN},
        {"not MusicXML", fixture("not_musicxml.xml"), SCORECONV_ERR_UNKNOWN_FORMAT},
        {"not well-formed", fixture("malformed.xml"), SCORECONV_ERR_CANNOT_OPEN},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(mxmlGetProps(h.file, fixture("walk_voices.xml").c_str()), 0);
        ASSERT_EQ(mxmlGetStaveNum(h.file), 3);
        const char* path = row.path.empty() ? nullptr : row.path.c_str();
        EXPECT_EQ(mxmlGetVersion(h.file, path), row.expected) << row.name;
        EXPECT_EQ(mxmlGetProps(h.file, path), row.expected) << row.name;
        EXPECT_EQ(mxmlGetStaveNum(h.file), 0) << row.name;
        EXPECT_STREQ(mxmlGetDescA(h.file), "") << row.name;
    }
    EXPECT_EQ(mxmlGetVersion(h.file, fixture("walk_voices.xml").c_str()), 0);
}

// --- texts ------------------------------------------------------------------------------

TEST(ExportsTexts, WideCopiesAreMadeOnceAndGoWithTheContents) {
    TempFolder temp;
    const std::filesystem::path source = temp.path() / "names.xml";
    const std::vector<std::string> names = {"Fl\xC3\xB6te", "Violine \xF0\x9D\x84\x9E", "Oboe"};
    writeBytes(source, scoreXml(3, 1, names));
    MxmlHandle h;
    ASSERT_EQ(mxmlGetProps(h.file, source.c_str()), 0);
    ASSERT_EQ(mxmlGetStaveNum(h.file), 4);

    for (int32_t s = 0; s < 3; ++s) {
        EXPECT_STREQ(mxmlGetStaffNameA(h.file, s), names[s].c_str());
        EXPECT_EQ(mxmlGetStaffNameLength(h.file, s), static_cast<int32_t>(names[s].size()));
        const scWChar* wide = mxmlGetStaffNameW(h.file, s);
        ASSERT_NE(wide, nullptr);
        EXPECT_EQ(std::u16string(wide), platform::utf8ToUtf16(names[s])) << s;
        EXPECT_EQ(mxmlGetStaffNameW(h.file, s), wide) << s;
    }
    const scWChar* desc = mxmlGetDescW(h.file);
    ASSERT_NE(desc, nullptr);
    EXPECT_NE(std::string(mxmlGetDescA(h.file)).find("Anonymus"), std::string::npos);
    EXPECT_EQ(std::u16string(desc), platform::utf8ToUtf16(mxmlGetDescA(h.file)));
    EXPECT_EQ(mxmlGetDescW(h.file), desc);

    mxmlDestroyFile(&h.file);
    EXPECT_EQ(mxmlGetStaffNameW(h.file, 0), nullptr);
    ASSERT_NE(mxmlGetDescW(h.file), nullptr);
    EXPECT_EQ(mxmlGetDescW(h.file)[0], u'\0');
}

TEST(ExportsTexts, BoundedCopiesTerminateAndReportCuts) {
    MxmlHandle h;
    ASSERT_EQ(mxmlGetProps(h.file, fixture("walk_piano.xml").c_str()), 0);
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    ASSERT_NE(vxml, nullptr);
    vxml->author = "Johann";

    const std::string name259(259, 'n');
    const std::string name260(260, 'n');
    // A two-byte character that would straddle the last byte of the field.
    const std::string straddling = std::string(258, 'n') + "\xC3\xA4";
    const std::string id40(40, 'i');
    struct Row {
        const char* name;
        std::function<int32_t()> call;
        std::function<std::string()> stored;
        int32_t result;
        std::string expected;
    };
    char buffer[32];
    const auto inBuffer = [&] { return std::string(buffer); };
    const auto scanned = [&] { return h.file->fnScanned; };
    const auto original = [&] { return h.file->fnOriginal; };
    const auto instrumentId = [&] { return h.file->instruments.at(0, 0)->InstrumentId; };
    const Row rows[] = {
        {"scanned name that fits", [&] { return mxmlCopyToFnScanned(h.file, name259.c_str()); }, scanned,
         SCORECONV_S_OK, name259},
        {"scanned name one too long", [&] { return mxmlCopyToFnScanned(h.file, name260.c_str()); }, scanned,
         SCORECONV_E_INSUFFICIENT_BUFFER, name259},
        {"original name cut before a character",
         [&] { return mxmlCopyToFnOriginal(h.file, straddling.c_str()); }, original,
         SCORECONV_E_INSUFFICIENT_BUFFER, std::string(258, 'n')},
        {"original name null", [&] { return mxmlSetOriginalFilename(h.file, nullptr); }, original,
         SCORECONV_E_INVALIDARG, std::string(258, 'n')},
        {"original name set", [&] { return mxmlSetOriginalFilename(h.file, "a.xml"); }, original, SCORECONV_S_OK,
         "a.xml"},
        {"scanned name into a small buffer",
         [&] {
             mxmlCopyToFnScanned(h.file, "/music/score.xml");
             return mxmlCopyFnScanned(h.file, buffer, 7);
         },
         inBuffer, SCORECONV_E_INSUFFICIENT_BUFFER, "/music"},
        {"scanned name into a buffer of its size", [&] { return mxmlCopyFnScanned(h.file, buffer, 17); }, inBuffer,
         SCORECONV_S_OK, "/music/score.xml"},
        {"buffer of size 0 untouched", [&] { return mxmlCopyFnScanned(h.file, buffer, 0); }, inBuffer,
         SCORECONV_E_INVALIDARG, "untouched"},
        {"instrument id of 40 characters", [&] { return mxmlSetMidiInstrId(h.file, 0, 0, id40.c_str()); },
         instrumentId, SCORECONV_E_INSUFFICIENT_BUFFER, std::string(30, 'i')},
        {"instrument id of 30 characters",
         [&] { return mxmlSetMidiInstrId(h.file, 0, 0, std::string(30, 'j').c_str()); }, instrumentId,
         SCORECONV_S_OK, std::string(30, 'j')},
        {"author into a small buffer", [&] { return vxmlGetDescAuthor(vxml, buffer, 4); }, inBuffer,
         SCORECONV_E_INSUFFICIENT_BUFFER, "Joh"},
        {"author fits", [&] { return vxmlGetDescAuthor(vxml, buffer, sizeof buffer); }, inBuffer, SCORECONV_S_OK,
         "Johann"},
        {"empty comment", [&] { return vxmlGetDescComment(vxml, buffer, sizeof buffer); }, inBuffer,
         SCORECONV_S_OK, ""},
        {"keywords into size 0", [&] { return vxmlGetDescKeywords(vxml, buffer, 0); }, inBuffer,
         SCORECONV_E_INVALIDARG, "untouched"},
    };
    for (const Row& row : rows) {
        std::strcpy(buffer, "untouched");
        EXPECT_EQ(row.call(), row.result) << row.name;
        EXPECT_EQ(row.stored(), row.expected) << row.name;
    }
    vxmlFreeFile(&vxml);
}

// --- callback target --------------------------------------------------------------------

struct Received {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    std::thread::id thread;
};

void record(void* user, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    static_cast<std::vector<Received>*>(user)->push_back({msg, wParam, lParam, std::this_thread::get_id()});
}

// The progress a load of 2 parts x 10 measures reports: the total once, then
// every measure done.
void expectLoadProgress(const std::vector<Received>& got) {
    std::vector<Received> progress;
    for (const Received& r : got) {
        if (r.msg == SCORECONV_WM_MXML_PROGRESS && (r.wParam == 3 || r.wParam == 4)) progress.push_back(r);
    }
    ASSERT_EQ(progress.size(), 21u);
    EXPECT_EQ(progress[0].wParam, SCORECONV_PROGRESS_TOTAL);
    EXPECT_EQ(progress[0].lParam, 20);
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].wParam, SCORECONV_PROGRESS_DONE) << i;
        EXPECT_EQ(progress[i].lParam, static_cast<intptr_t>(i)) << i;
    }
}

class ExportsCallbackTarget : public ::testing::Test {
protected:
    void SetUp() override {
        writeBytes(source, scoreXml(2, 10));
        window = scoreconvCreateCallbackTarget(record, &received);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { scoreconvDestroyCallbackTarget(window); }

    TempFolder temp;
    const std::filesystem::path source = temp.path() / "two_by_ten.xml";
    std::vector<Received> received;
    scMessageTarget* window = nullptr;
};

TEST_F(ExportsCallbackTarget, SentProgressReachesTheCallbackAtOnce) {
    MxmlHandle h(SCORECONV_MODE_REAL_TIME, &window);
    mxmlSetCallbackWindow(h.file, &window, 0);
    ASSERT_EQ(convert(h.file, source.string()), 0);
    expectLoadProgress(received);
}

TEST_F(ExportsCallbackTarget, PostedProgressWaitsForThePump) {
    MxmlHandle h(SCORECONV_MODE_REAL_TIME, &window);
    mxmlSetCallbackWindow(h.file, &window, 1);
    ASSERT_EQ(convert(h.file, source.string()), 0);
    EXPECT_TRUE(received.empty());
    scoreconvPumpCallbackTarget(window);
    expectLoadProgress(received);
}

// A scan runs the load on a worker; its reports reach the callback on the
// host's thread, which the scan keeps pumping.
TEST_F(ExportsCallbackTarget, ScanDeliversProgressOnTheHostThread) {
    MxmlHandle h(SCORECONV_MODE_REAL_TIME, &window);
    mxmlSetCallbackWindow(h.file, &window, 0);
    ASSERT_EQ(mxmlScanFile(h.file, source.c_str(), nullptr), 0);
    scoreconvPumpCallbackTarget(window);
    expectLoadProgress(received);
    for (const Received& r : received) EXPECT_EQ(r.thread, std::this_thread::get_id());
    EXPECT_FALSE(mxmlFnScannedIsEmpty(h.file));
}

// --- log --------------------------------------------------------------------------------

TEST(ExportsLog, EachHandleWritesToTheLogItWasGiven) {
    TempFolder temp;
    const std::filesystem::path pathA = temp.path() / "a.log";
    const std::filesystem::path pathB = temp.path() / "b.log";
    scScoreLog* logA = scoreconvCreateLog(pathA.c_str());
    ASSERT_NE(logA, nullptr);
    scMxmlFile* mxmlA = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "t", logA);
    scVxmlFile* vxmlA = vxmlNewFile(logA);
    // Handles made later with another log do not take the first ones' lines.
    scScoreLog* logB = scoreconvCreateLog(pathB.c_str());
    ASSERT_NE(logB, nullptr);
    scMxmlFile* mxmlB = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "t", logB);
    scVxmlFile* vxmlB = vxmlNewFile(logB);

    EXPECT_NE(convert(mxmlA, (temp.path() / "missing.xml").string()), 0);
    EXPECT_NE(vxmlGetProps(vxmlA, (temp.path() / "missing.tvrx").c_str()), 0);
    const std::string a = readBytes(pathA);
    ASSERT_GE(a.size(), 2u);
    EXPECT_NE(a.find("mxmlConvertProc"), std::string::npos) << a;
    EXPECT_NE(a.find("getProps"), std::string::npos) << a;
    EXPECT_EQ(a.substr(a.size() - 2), "\r\n");
    EXPECT_EQ(readBytes(pathB), "");

    mxmlFreeFile(&mxmlA);
    mxmlFreeFile(&mxmlB);
    vxmlFreeFile(&vxmlA);
    vxmlFreeFile(&vxmlB);
    scoreconvDestroyLog(logA);
    scoreconvDestroyLog(logB);
}

TEST(ExportsLog, ALogThatCannotBeOpenedIsRefused) {
    TempFolder temp;
    EXPECT_EQ(scoreconvCreateLog((temp.path() / "no" / "such" / "folder.log").c_str()), nullptr);
    EXPECT_EQ(scoreconvCreateLog(""), nullptr);
}

// --- the conversion through the exports ----------------------------------------------

TEST(ExportsConvert, ModeFiveWritesATvrxmlFileThatOpensAgain) {
    TempFolder temp;
    const std::string target = (temp.path() / "score.tvrx").string();
    MxmlHandle h(SCORECONV_MODE_TVRXML);
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    ASSERT_NE(vxml, nullptr);
    vxmlCopyConvProps(vxml, SCORECONV_CONV_ALL);
    ASSERT_EQ(convert(h.file, fixture("walk_voices.xml"), vxml, target.c_str()), 0);

    scVxmlFile* reader = vxmlNewFile(nullptr);
    EXPECT_EQ(vxmlGetProps(reader, target.c_str()), 0);
    char date[16];
    EXPECT_EQ(vxmlGetDescFdate(reader, date, sizeof date), SCORECONV_S_OK);
    EXPECT_EQ(std::strlen(date), 10u) << date;
    vxmlFreeFile(&reader);
    mxmlDestroyFile(&h.file);
    vxmlDestroyFile(&vxml);
    vxmlFreeFile(&vxml);
}

// --- playing through the exports -----------------------------------------------------

// A score of 2 parts x 4 whole notes (8 s at the default tempo), loaded as
// the main program loads it: mode 2 with a play-time slot.
class ExportsPlay : public ::testing::Test {
protected:
    void SetUp() override {
        writeBytes(source_, scoreXml(2, 4, {"Flute", "Oboe"}));
        CThreadProcParams params{};
        int result = 1;
        params.file = h_.file;
        params.sourcePath = source_.c_str();
        params.playTime = &loadTime_;
        params.result = &result;
        ASSERT_EQ(mxmlConvertProc(&params), 0);
        ASSERT_EQ(result, 0);
    }

    // A block for a play of h_.file.
    CThreadProcParams block(const char* path = nullptr) {
        CThreadProcParams params{};
        params.file = h_.file;
        params.sourcePath = path;
        params.playTime = &playTime_;
        params.state = &state_;
        params.result = &result_;
        return params;
    }

    TempFolder temp_;
    const std::filesystem::path source_ = temp_.path() / "two_by_four.xml";
    MxmlHandle h_;
    int64_t loadTime_ = 0;
    int64_t playTime_ = -1;
    int state_ = -1;
    int result_ = -1;
};

TEST_F(ExportsPlay, TheLoadAndGetPlaytimeMeasureTheSameTimeAndKeepTheMode) {
    EXPECT_NEAR(static_cast<double>(loadTime_), 8e7, 1e6);  // 100-ns units
    int64_t time = 0;
    EXPECT_EQ(mxmlGetPlaytime(h_.file, &time), 0);
    EXPECT_EQ(time, loadTime_);
    EXPECT_EQ(mxmlGetPlaymode(h_.file), SCORECONV_MODE_REAL_TIME);
}

TEST_F(ExportsPlay, RenderWritesAMidiFileThatAnIndependentReaderReads) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import mido (python3-mido)";
    const std::filesystem::path midi = temp_.path() / "two_by_four.mid";
    EXPECT_EQ(mxmlSetPlaymode(h_.file, SCORECONV_MODE_RENDER), h_.file);
    CThreadProcParams params = block(midi.c_str());
    EXPECT_EQ(mxmlPlayProc(&params), 0);
    EXPECT_EQ(result_, 0);
    EXPECT_EQ(state_, SCORECONV_PLAY_STATE_FILE_WRITTEN);
    EXPECT_EQ(mxmlGetPlaymode(h_.file), SCORECONV_MODE_RENDER);
    // The position reached is the end of the score (within a play-time step).
    EXPECT_NEAR(static_cast<double>(mxmlGetPlayPosition(h_.file)), static_cast<double>(loadTime_), 2e5);

    const scoreconv::testing::MidoFile file = scoreconv::testing::readWithMido(midi, temp_.path());
    ASSERT_TRUE(file.read);
    EXPECT_EQ(file.type, 1);
    EXPECT_EQ(file.tracks, 3);
    EXPECT_EQ(file.trackNames(), (std::vector<std::string>{"two_by_four", "Flute", "Oboe"}));
    EXPECT_EQ(file.noteOnsPerKey(), (std::map<int, int>{{72, 8}}));
    int offs = 0;
    for (const scoreconv::testing::MidoEvent& e : file.events) offs += e.noteOff() ? 1 : 0;
    EXPECT_EQ(offs, 8);
}

TEST_F(ExportsPlay, ARealTimePlayStoppedMidWayLeavesEveryNoteOff) {
    scMidiOut* out = scoreconvCreateCaptureMidiOut();
    ASSERT_NE(out, nullptr);
    const auto& capture = dynamic_cast<const platform::CaptureMidiOut&>(*out);
    CThreadProcParams params = block();
    ASSERT_EQ(mxmlPlayFile(h_.file, &params, out), 0);
    ASSERT_NE(mxmlGetThread(h_.file), nullptr);
    // One procedure at a time.
    EXPECT_EQ(mxmlPlayFile(h_.file, &params, out), SCORECONV_ERR_STOPPED);
    int64_t time = 0;
    EXPECT_EQ(mxmlGetPlaytime(h_.file, &time), SCORECONV_ERR_STOPPED);
    EXPECT_FALSE(mxmlPlayEinstimmung(h_.file));
    int otherResult = 1;
    CThreadProcParams other = block();
    other.result = &otherResult;
    other.state = nullptr;
    other.playTime = &time;
    EXPECT_EQ(mxmlPlayProc(&other), SCORECONV_ERR_STOPPED);
    EXPECT_EQ(otherResult, SCORECONV_ERR_STOPPED);

    // Stopped once the first notes sound.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto sounding = [&] {
        const auto notes = captureNotes(capture);
        return std::any_of(notes.begin(), notes.end(), [](const auto& n) { return n.on(); });
    };
    while (!sounding() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    h_.signal = SCORECONV_SIGNAL_STOP;
    while (mxmlGetThread(h_.file) != nullptr && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(mxmlGetThread(h_.file), nullptr);
    EXPECT_EQ(result_, SCORECONV_ERR_STOPPED);
    EXPECT_EQ(expectEveryNoteEnded(captureNotes(capture)), 2);  // both parts' first note
    EXPECT_EQ(scoreconvCaptureCount(out), capture.count());
    EXPECT_GT(mxmlGetPlayPosition(h_.file), 0);
    EXPECT_LT(mxmlGetPlayPosition(h_.file), loadTime_);
    scoreconvDestroyCaptureMidiOut(out);
}

TEST_F(ExportsPlay, TempoSettingsChangeThePlayTime) {
    struct Row {
        const char* name;
        uint8_t mode;
        int32_t add;
        int32_t abs;
        double seconds;
    };
    const Row rows[] = {
        {"the score's tempo plus 120", 1, 120, -1, 4.0},
        {"the score's tempo minus 60", 1, -60, -1, 16.0},
        {"an absolute 240", 0, 0, 240, 4.0},
        {"absolute -1 is 120", 0, 0, -1, 8.0},
    };
    h_.file->controls.addPlayConditions(scoreconv::kCondTempoRule);
    for (const Row& row : rows) {
        EXPECT_EQ(mxmlSetTempoMode(h_.file, row.mode), h_.file);
        EXPECT_EQ(mxmlSetTempoAdd(h_.file, row.add), h_.file);
        EXPECT_EQ(mxmlSetTempoAbs(h_.file, row.abs), h_.file);
        EXPECT_EQ(mxmlGetTempoMode(h_.file), row.mode) << row.name;
        EXPECT_EQ(mxmlGetTempoAdd(h_.file), row.add) << row.name;
        EXPECT_EQ(mxmlGetTempoAbs(h_.file), row.abs) << row.name;
        int64_t time = 0;
        ASSERT_EQ(mxmlGetPlaytime(h_.file, &time), 0) << row.name;
        EXPECT_NEAR(static_cast<double>(time) / 1e7, row.seconds, 0.1) << row.name;
    }
    EXPECT_EQ(mxmlSetPlayPosition(h_.file, 12345678), h_.file);
    EXPECT_EQ(mxmlGetPlayPosition(h_.file), 12345678);
}

TEST_F(ExportsPlay, TheTuneUpPlaysThroughTheFilesOutputAndEndsItsNotes) {
    platform::CaptureMidiOut out;
    h_.file->midiOut = &out;
    // Switched off: nothing to do, and that is no failure.
    EXPECT_TRUE(mxmlPlayEinstimmung(h_.file));
    EXPECT_EQ(out.count(), 0u);
    h_.file->controls.addPlayConditions(scoreconv::kCondTuneUp);
    h_.file->einstimmung.Type = 2;  // a chord
    h_.file->einstimmung.Zerlegt = 0;
    h_.file->einstimmung.Duration = 10;
    EXPECT_TRUE(mxmlPlayEinstimmung(h_.file));
    EXPECT_GT(expectEveryNoteEnded(captureNotes(out)), 0);
}

// --- one procedure at a time, and never over the source -------------------------------

// While one procedure holds a file, every other one is refused with its code
// and leaves the file as it is.
TEST_F(ExportsPlay, EveryProcedureIsRefusedWhileAnotherHoldsTheFile) {
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    ASSERT_NE(vxml, nullptr);
    const std::string tvrx = (temp_.path() / "x.tvrx").string();
    const std::string other = (temp_.path() / "other.xml").string();
    writeBytes(other, scoreXml(1, 1));
    ASSERT_TRUE(h_.file->tryEnterBusy());
    CThreadProcParams params = block();
    int64_t time = 0;
    struct Row {
        const char* name;
        std::function<bool()> refused;
    };
    const Row rows[] = {
        {"mxmlConvertProc", [&] { return convert(h_.file, other, vxml, tvrx.c_str()) == SCORECONV_ERR_STOPPED; }},
        {"mxmlScanFile", [&] { return mxmlScanFile(h_.file, other.c_str(), nullptr) == SCORECONV_ERR_NOT_PRESENT; }},
        {"mxmlGetProps", [&] { return mxmlGetProps(h_.file, other.c_str()) == SCORECONV_ERR_STOPPED; }},
        {"mxmlPlayProc", [&] { return mxmlPlayProc(&params) == SCORECONV_ERR_STOPPED; }},
        {"mxmlPlayFile", [&] { return mxmlPlayFile(h_.file, &params, nullptr) == SCORECONV_ERR_STOPPED; }},
        {"mxmlGetPlaytime", [&] { return mxmlGetPlaytime(h_.file, &time) == SCORECONV_ERR_STOPPED; }},
        {"mxmlPlayEinstimmung", [&] { return !mxmlPlayEinstimmung(h_.file); }},
        {"mxmlDestroyFile", [&] { mxmlDestroyFile(&h_.file); return true; }},
        {"mxmlInitFile", [&] { mxmlInitFile(&h_.file, 0); return true; }},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(row.refused()) << row.name;
        EXPECT_FALSE(mxmlFnScannedIsEmpty(h_.file)) << row.name;
        EXPECT_EQ(mxmlGetStaveNum(h_.file), 3) << row.name;
    }
    EXPECT_FALSE(std::filesystem::exists(tvrx));
    EXPECT_EQ(mxmlGetThread(h_.file), nullptr);
    h_.file->leaveBusy();
    EXPECT_EQ(mxmlGetPlaytime(h_.file, &time), 0);
    mxmlDestroyFile(&h_.file);
    EXPECT_TRUE(mxmlFnScannedIsEmpty(h_.file));
    vxmlFreeFile(&vxml);
}

// Two host threads run scans and conversions on one handle at once: each
// call either runs alone or is refused, and nothing is freed under a walk
// (the sanitizer build sees any use after free).
TEST(ExportsThreads, ConcurrentScansAndConversionsNeverShareTheFile) {
    TempFolder temp;
    const std::string a = (temp.path() / "a.xml").string();
    const std::string b = (temp.path() / "b.xml").string();
    writeBytes(a, scoreXml(6, 40));
    writeBytes(b, scoreXml(3, 60));
    MxmlHandle h(SCORECONV_MODE_REAL_TIME);
    ASSERT_NE(h.file, nullptr);
    std::atomic<int> unexpected{0};
    const auto hammer = [&](bool scans) {
        for (int i = 0; i < 25; ++i) {
            // Alternating sources make every scan load anew.
            const std::string& path = i % 2 == 0 ? a : b;
            const int rc = scans ? mxmlScanFile(h.file, path.c_str(), nullptr) : convert(h.file, path);
            if (rc != 0 && rc != SCORECONV_ERR_STOPPED && rc != SCORECONV_ERR_NOT_PRESENT) ++unexpected;
        }
    };
    std::thread first(hammer, true);
    std::thread second(hammer, false);
    hammer(true);
    first.join();
    second.join();
    EXPECT_EQ(unexpected.load(), 0);
    // The handle is whole afterwards.
    EXPECT_EQ(convert(h.file, b), 0);
    EXPECT_EQ(mxmlGetStaveNum(h.file), 4);
}

// Freeing a handle while a scan loads on its worker stops the load, waits for
// it and only then frees.
TEST(ExportsThreads, FreeingDuringAScanWaitsForTheScan) {
    TempFolder temp;
    const std::string big = (temp.path() / "big.xml").string();
    writeBytes(big, scoreXml(24, 300));
    for (int round = 0; round < 3; ++round) {
        scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "t", nullptr);
        ASSERT_NE(file, nullptr);
        std::atomic<bool> started{false};
        int result = 1;
        std::thread scanner([&, target = file] {
            started = true;
            int64_t time = 0;
            result = mxmlScanFile(target, big.c_str(), &time);
        });
        while (!started) std::this_thread::yield();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (mxmlGetThread(file) == nullptr && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 5));
        mxmlFreeFile(&file);
        EXPECT_EQ(file, nullptr);
        scanner.join();
        EXPECT_TRUE(result == 0 || result == SCORECONV_ERR_STOPPED) << result;
    }
}

// A conversion or a render whose target is the source file itself (by the
// same name, a symbolic link or a hard link) is refused before anything is
// written, and the user's score stays as it was.
TEST_F(ExportsPlay, ATargetThatIsTheSourceIsRefused) {
    const std::string original = readBytes(source_);
    const std::filesystem::path symlink = temp_.path() / "link.xml";
    const std::filesystem::path hardlink = temp_.path() / "hard.xml";
    std::filesystem::create_symlink(source_, symlink);
    std::filesystem::create_hard_link(source_, hardlink);
    const std::filesystem::path sameByDots = temp_.path() / "." / source_.filename();
    for (const std::filesystem::path& target : {source_, symlink, hardlink, sameByDots}) {
        // Rendering: the loaded score is source_.
        EXPECT_EQ(mxmlSetPlaymode(h_.file, SCORECONV_MODE_RENDER), h_.file);
        CThreadProcParams params = block(target.c_str());
        EXPECT_EQ(mxmlPlayProc(&params), SCORECONV_ERR_CREATE) << target;
        EXPECT_EQ(readBytes(source_), original) << target;

        MxmlHandle converter(SCORECONV_MODE_TVRXML);
        scVxmlFile* vxml = vxmlNewFile(nullptr);
        EXPECT_EQ(convert(converter.file, source_.string(), vxml, target.c_str()), -1407 /* not written */) << target;
        EXPECT_EQ(readBytes(source_), original) << target;
        vxmlFreeFile(&vxml);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(symlink));
    // Another target is written as ever.
    const std::filesystem::path out = temp_.path() / "out.mid";
    CThreadProcParams params = block(out.c_str());
    EXPECT_EQ(mxmlPlayProc(&params), 0);
    EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
