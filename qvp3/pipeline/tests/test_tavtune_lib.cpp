#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "partial_engine.h"
#include "platform/message_target.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/tavtune_lib.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;

const fs::path kProgramDir = QVP3_PROGRAM_DIR;
const fs::path kPartialDir = QVP3_PARTIAL_ENGINE_DIR;
// The entry points the partial engine has.
const std::set<int> kPartialEntries = {0,  41, 55,  63,  92,  93,  98,  99,  100, 105, 106,
                                       112, 131, 143, 145, 146, 168, 169, 176, 186};

std::string entryName(int n) {
    char name[8];
    std::snprintf(name, sizeof name, "C%02i", n);
    return name;
}

std::vector<int> calls(const PartialEngineLog& log) {
    return {log.entry, log.entry + std::min(log.count, PARTIAL_ENGINE_LOG_SIZE)};
}

// Whether the library at path is still mapped into the process.
bool stillLoaded(const fs::path& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

using testing::keepEngineRuntimeLoaded;

// What a caller sees from a binding whose slots are all stubs.
void expectEngineFailsEverywhere(const CTavtuneLib& lib) {
    char buffer[16] = {};
    for (int n = 0; n < kTavtuneEntryCount; ++n) {
        SCOPED_TRACE(entryName(n));
        EXPECT_EQ(lib.entryPoint(n), CTavtuneLib::stub());
        EXPECT_EQ(lib.call(n), TAVTUNE_NOT_HANDLED);
        EXPECT_EQ(lib.call(n, 1, buffer, sizeof buffer, nullptr, -2, 0x40000000), TAVTUNE_NOT_HANDLED);
        EXPECT_EQ(lib.callForAddress<std::int32_t>(n, 0), nullptr);
    }
    EXPECT_EQ(buffer[0], '\0');
}

// --- records -------------------------------------------------------------------

// The engine reads and writes the request record by offset; the fields must
// sit exactly there, and the record must be neither longer nor shorter.
TEST(TavtuneRecords, RequestFieldsSitAtTheirOffsets) {
    tvRequest request{};
    request.marker = -1;
    request.result = 0x11223344;
    request.result2 = 0x55667788;
    request.positionMs = 1234.5;
    request.playTimeMs = 98765.25;

    unsigned char bytes[TAVTUNE_REQUEST_SIZE + 8];
    std::memset(bytes, 0xAB, sizeof bytes);
    std::memcpy(bytes, &request, sizeof request);

    std::int32_t word = 0;
    double value = 0;
    std::memcpy(&word, bytes + 0, 4);
    EXPECT_EQ(word, -1);
    std::memcpy(&word, bytes + 4, 4);
    EXPECT_EQ(word, 0x11223344);
    std::memcpy(&word, bytes + 20, 4);
    EXPECT_EQ(word, 0x55667788);
    std::memcpy(&value, bytes + 44, 8);
    EXPECT_EQ(value, 1234.5);
    std::memcpy(&value, bytes + 52, 8);
    EXPECT_EQ(value, 98765.25);
    // Everything else of a zeroed record is zero, and nothing lies past byte 92.
    for (int offset : {8, 12, 16, 24, 40, 60, 88}) {
        std::memcpy(&word, bytes + offset, 4);
        EXPECT_EQ(word, 0) << "offset " << offset;
    }
    EXPECT_EQ(bytes[TAVTUNE_REQUEST_SIZE], 0xAB);
    EXPECT_EQ(sizeof(tvRequest), 92u);
}

TEST(TavtuneRecords, PositionInfoFromRequest) {
    struct Case {
        std::int32_t result, result2;
        TavPositionInfo expected;
    };
    const Case cases[] = {
        {0, 0, {1, -1, 0, 0}},  // no result word: -1, never 0
        {0, 17, {1, -1, 17, 0}},
        {5, 3, {1, 5, 3, 0}},
        {-1, -7, {1, -1, -7, 0}},
    };
    for (const auto& c : cases) {
        tvRequest request{};
        request.result = c.result;
        request.result2 = c.result2;
        const TavPositionInfo info = tavPositionInfoFrom(request);
        SCOPED_TRACE(c.result);
        EXPECT_EQ(info.valid, c.expected.valid);
        EXPECT_EQ(info.result, c.expected.result);
        EXPECT_EQ(info.result2, c.expected.result2);
        EXPECT_EQ(info.reserved, 0);
    }
    // Read as four words by offset, as the callers keep it.
    TavPositionInfo info{1, 2, 3, 4};
    std::int32_t words[4];
    std::memcpy(words, &info, sizeof words);
    EXPECT_EQ(words[1], 2);
    EXPECT_EQ(words[2], 3);
}

TEST(TavtuneRecords, OpenScoreResultNeverTurnsAFailureIntoSuccess) {
    struct Case {
        tvWord engine;
        int expected;
    };
    const Case cases[] = {
        {0, kTavtuneOk},
        {-5, kTavtuneNoScore},
        {-4, kTavtuneScoreRejected},
        {-3, kTavtuneOutOfMemory},
        {-2, kTavtuneUnknownFormat},
        {-1, kTavtuneEngineFailed},
        // Answers the engine does not document.
        {1, kTavtuneEngineFailed},
        {-6, kTavtuneEngineFailed},
        {-100, kTavtuneEngineFailed},
        {static_cast<tvWord>(0x100000000LL), kTavtuneEngineFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(tavOpenScoreResult(c.engine), c.expected) << "engine " << c.engine;
}

// --- loading -----------------------------------------------------------------

TEST(TavtuneBinding, UnloadedBindingAnswersWithStubs) {
    CTavtuneLib lib;
    EXPECT_FALSE(lib.isLoaded());
    expectEngineFailsEverywhere(lib);
    // Numbers outside the table too.
    EXPECT_EQ(lib.call(-1), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(lib.call(kTavtuneEntryCount), TAVTUNE_NOT_HANDLED);
}

TEST(TavtuneBinding, OurEngineBindsEveryEntryPoint) {
    keepEngineRuntimeLoaded();
    CTavtuneLib lib;
    ASSERT_EQ(lib.LoadTavtune(0, kProgramDir), kTavtuneOk) << lib.loadError();
    ASSERT_TRUE(lib.isLoaded());
    EXPECT_TRUE(lib.loadError().empty());
    for (int n = 0; n < kTavtuneEntryCount; ++n) {
        SCOPED_TRACE(entryName(n));
        void* symbol = dlsym(lib.module(), entryName(n).c_str());
        ASSERT_NE(symbol, nullptr);
        EXPECT_EQ(reinterpret_cast<void*>(lib.entryPoint(n)), symbol);
    }
    // The start-up and shut-down entry points answer; a query without a score does not.
    EXPECT_EQ(lib.call(105), 0);
    EXPECT_EQ(lib.call(55, nullptr, TAVTUNE_REQUEST_PLAY_TIME), TAVTUNE_NOT_HANDLED);
    lib.Release();
    EXPECT_FALSE(lib.isLoaded());
    expectEngineFailsEverywhere(lib);
}

TEST(TavtuneBinding, OurEngineStartsAndStops) {
    keepEngineRuntimeLoaded();
    CTavtuneLib lib;
    lib.Init(0, kProgramDir);
    EXPECT_TRUE(lib.isLoaded());
    EXPECT_EQ(lib.tableName(), "MIDI: Default");  // the engine starts with the default output's table
    EXPECT_EQ(lib.OpenScore(kProgramDir / "none.tvrx", 0), kTavtuneEngineFailed);
    EXPECT_FALSE(lib.scoreOpen);
    lib.Release();
    EXPECT_FALSE(lib.isLoaded());
}

// A program folder without a usable engine: start-up completes and every
// caller sees the engine fail.
TEST(TavtuneBinding, WithoutALibraryEverySlotIsTheStub) {
    TempFolder empty;
    TempFolder junk;
    platform::testing::writeBytes(junk.path() / kTavtuneLibraryName, "not a shared library\n");
    TempFolder wrongKind;
    fs::create_directory(wrongKind.path() / kTavtuneLibraryName);

    const struct {
        const char* what;
        fs::path folder;
    } cases[] = {
        {"empty folder", empty.path()},
        {"missing folder", empty.path() / "absent"},
        {"file that is no library", junk.path()},
        {"folder in its place", wrongKind.path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CTavtuneLib lib;
        EXPECT_EQ(lib.LoadTavtune(0, c.folder), kTavtuneLoadFailed);
        EXPECT_FALSE(lib.isLoaded());
        EXPECT_FALSE(lib.loadError().empty());
        expectEngineFailsEverywhere(lib);

        lib.Init(0, c.folder);
        EXPECT_FALSE(lib.isLoaded());
        EXPECT_EQ(lib.tableName(), "");
        EXPECT_EQ(lib.OpenScore("/music/a.tvrx", 0), kTavtuneEngineFailed);
        EXPECT_FALSE(lib.scoreOpen);
        EXPECT_FALSE(lib.IsScoreOpen("/music/a.tvrx"));
        lib.CloseScore();
        lib.Release();
        lib.Release();
        expectEngineFailsEverywhere(lib);
    }
}

// A library that lacks exports: those slots keep the stub, the others are bound.
TEST(TavtuneBinding, MissingExportsKeepTheStub) {
    PartialEngineLog log{};
    CTavtuneLib lib;
    ASSERT_EQ(lib.LoadTavtune(reinterpret_cast<tvWord>(&log), kPartialDir), kTavtuneOk) << lib.loadError();
    for (int n = 0; n < kTavtuneEntryCount; ++n) {
        SCOPED_TRACE(entryName(n));
        if (kPartialEntries.count(n) != 0) {
            EXPECT_EQ(reinterpret_cast<void*>(lib.entryPoint(n)), dlsym(lib.module(), entryName(n).c_str()));
        } else {
            EXPECT_EQ(lib.entryPoint(n), CTavtuneLib::stub());
            const int before = log.count;
            EXPECT_EQ(lib.call(n, 1, 2, 3), TAVTUNE_NOT_HANDLED);
            EXPECT_EQ(log.count, before) << "a missing entry point reached the library";
        }
    }
}

// --- lifecycle -----------------------------------------------------------------

TEST(TavtuneBinding, LoadingHandsOverTheInstanceThenStartsTheEngine) {
    PartialEngineLog log{};
    CTavtuneLib lib;
    lib.Init(reinterpret_cast<tvWord>(&log), kPartialDir);
    // C170 and C122 are missing from this engine and answer through the stub.
    EXPECT_EQ(calls(log), (std::vector<int>{112, 105, 92, 186}));
    EXPECT_EQ(log.args[0][0], reinterpret_cast<tvWord>(&log));
    EXPECT_EQ(log.args[2][0], TAVTUNE_OPTION_OFF);
    EXPECT_EQ(log.args[2][1], TAVTUNE_OPTION_OFF);
    EXPECT_EQ(log.args[3][0], -2);
    EXPECT_EQ(log.args[3][1], 1);
    EXPECT_EQ(log.args[3][2], 0);

    lib.Release();
    EXPECT_EQ(calls(log), (std::vector<int>{112, 105, 92, 186, 41, 106}));
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_FALSE(stillLoaded(kPartialDir / kTavtuneLibraryName));
    expectEngineFailsEverywhere(lib);

    // Releasing again reaches no library.
    lib.Release();
    EXPECT_EQ(log.count, 6);
}

TEST(TavtuneBinding, LoadingTwiceHoldsOneReference) {
    PartialEngineLog log{};
    {
        CTavtuneLib lib;
        ASSERT_EQ(lib.LoadTavtune(reinterpret_cast<tvWord>(&log), kPartialDir), kTavtuneOk);
        ASSERT_EQ(lib.LoadTavtune(reinterpret_cast<tvWord>(&log), kPartialDir), kTavtuneOk);
        // The first load is shut down before the second starts.
        EXPECT_EQ(calls(log), (std::vector<int>{112, 105, 106, 112, 105}));
        EXPECT_NE(lib.entryPoint(176), CTavtuneLib::stub());

        // Loading from a folder without the library drops the one loaded before.
        EXPECT_EQ(lib.LoadTavtune(reinterpret_cast<tvWord>(&log), kPartialDir / "absent"), kTavtuneLoadFailed);
        EXPECT_EQ(calls(log).back(), 106);
        EXPECT_FALSE(stillLoaded(kPartialDir / kTavtuneLibraryName));
        expectEngineFailsEverywhere(lib);

        ASSERT_EQ(lib.LoadTavtune(reinterpret_cast<tvWord>(&log), kPartialDir), kTavtuneOk);
    }
    // The binding's end unloads what is still loaded.
    EXPECT_EQ(calls(log).back(), 106);
    EXPECT_FALSE(stillLoaded(kPartialDir / kTavtuneLibraryName));
}

// --- opening a score -------------------------------------------------------------

TEST(TavtuneBinding, OpenScoreHandsTheEngineThePathAndTheMainWindow) {
    PartialEngineLog log{};
    platform::RecordingMessageTarget window;
    CTavtuneLib lib;
    lib.setMainWindow(&window);
    lib.Init(reinterpret_cast<tvWord>(&log), kPartialDir);
    const int start = log.count;

    ASSERT_EQ(lib.OpenScore("/music/Ständchen.tvrx", 42), kTavtuneOk);
    EXPECT_TRUE(lib.scoreOpen);
    EXPECT_TRUE(lib.IsScoreOpen("/music/Ständchen.tvrx"));
    EXPECT_FALSE(lib.IsScoreOpen("/music/ständchen.tvrx"));
    EXPECT_FALSE(lib.IsScoreOpen(""));
    ASSERT_EQ(calls(log).back(), 176);
    const tvWord* args = log.args[log.count - 1];
    EXPECT_STREQ(log.openedPath, "/music/Ständchen.tvrx");
    EXPECT_EQ(args[1], 0);
    EXPECT_EQ(args[2], reinterpret_cast<tvWord>(static_cast<platform::MessageTarget*>(&window)));
    EXPECT_EQ(args[3], 1124);
    EXPECT_EQ(args[4], 100);
    EXPECT_EQ(args[5], 42);

    // The same path again asks nothing of the engine.
    const int afterOpen = log.count;
    EXPECT_EQ(lib.OpenScore("/music/Ständchen.tvrx", 42), kTavtuneOk);
    EXPECT_EQ(log.count, afterOpen);

    // Another path ends the open score first (C101 is missing here, C41 is not).
    EXPECT_EQ(lib.OpenScore("/music/other.tvrx", 0), kTavtuneOk);
    EXPECT_EQ(std::vector<int>(log.entry + afterOpen, log.entry + log.count), (std::vector<int>{41, 176}));
    EXPECT_TRUE(lib.IsScoreOpen("/music/other.tvrx"));
    EXPECT_FALSE(lib.IsScoreOpen("/music/Ständchen.tvrx"));

    lib.CloseScore();
    EXPECT_FALSE(lib.scoreOpen);
    EXPECT_TRUE(lib.scorePath.empty());
    EXPECT_EQ(calls(log).back(), 41);
    EXPECT_GT(log.count, start);
}

TEST(TavtuneBinding, OpenScoreFailureLeavesNothingOpen) {
    const struct {
        tvWord answer;
        int expected;
    } cases[] = {
        {-5, kTavtuneNoScore}, {-4, kTavtuneScoreRejected}, {-3, kTavtuneOutOfMemory},
        {-2, kTavtuneUnknownFormat}, {-1, kTavtuneEngineFailed}, {3, kTavtuneEngineFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        PartialEngineLog log{};
        CTavtuneLib lib;
        lib.Init(reinterpret_cast<tvWord>(&log), kPartialDir);
        ASSERT_EQ(lib.OpenScore("/music/good.tvrx", 0), kTavtuneOk);

        log.openAnswer = c.answer;
        EXPECT_EQ(lib.OpenScore("/music/bad.tvrx", 0), c.expected);
        // The good score was closed for it; neither counts as open now.
        EXPECT_FALSE(lib.scoreOpen);
        EXPECT_FALSE(lib.IsScoreOpen("/music/bad.tvrx"));
        EXPECT_FALSE(lib.IsScoreOpen("/music/good.tvrx"));
        EXPECT_TRUE(lib.scorePath.empty());
    }
}

}  // namespace
}  // namespace qvp3
