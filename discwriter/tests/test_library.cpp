// The library's state: one client at a time, the drive table with and without
// drives, the track list's bounds, the speed lists and the export table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "disc_test_support.h"
#include "library_state.h"
#include "platform/text.h"

namespace discwriter::testing {
namespace {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("QVP3_SIMULATED_RECORDER"); }
    void TearDown() override { cdClose(); }
};

TEST_F(LibraryTest, ASecondClientIsRefusedUntilTheFirstCloses) {
    ASSERT_EQ(cdSetup(nullptr), DISCWRITER_S_OK);
    EXPECT_EQ(cdSetup(nullptr), DISCWRITER_E_BUSY);
    EXPECT_EQ(cdClose(), DISCWRITER_S_OK);
    EXPECT_EQ(cdSetup(nullptr), DISCWRITER_S_OK);
}

// libburn scans this machine's drives; there are none here, and every export
// that needs a drive answers without one.
TEST_F(LibraryTest, ScanningTheMachineFindsNoRecorderAndNothingNeedsOne) {
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(cdSetup(nullptr), DISCWRITER_S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
    std::int32_t writers = -1;
    std::int32_t all = -1;
    EXPECT_EQ(cdGetDriveNumber(&writers), DISCWRITER_S_OK);
    EXPECT_EQ(cdGetAllDriveNumber(&all), DISCWRITER_S_OK);
    if (all > 0) GTEST_SKIP() << "this machine has " << all << " recorder(s)";
    EXPECT_EQ(writers, 0);
    dwWChar wide[DISCWRITER_NAME_CHARS] = {'x'};
    char narrow[DISCWRITER_NAME_CHARS] = "x";
    EXPECT_EQ(cdGetDriveNameW(0, wide), DISCWRITER_E_FAIL);
    EXPECT_EQ(wide[0], 0);
    EXPECT_EQ(cdGetDriveName(0, narrow), DISCWRITER_E_FAIL);
    EXPECT_EQ(narrow[0], '\0');
    EXPECT_EQ(cdGetVendorIdA(0, narrow), 0);
    EXPECT_EQ(cdGetDriveLetterA(0), '\0');
    EXPECT_EQ(cdIsBurner(0), 0);
    EXPECT_EQ(cdOpenDrive(0), DISCWRITER_E_FAIL);
    EXPECT_EQ(cdOpenDrive(-1), DISCWRITER_E_FAIL);

    std::int32_t value = 7;
    char flag = 0;
    std::uint8_t buffer[64] = {};
    EXPECT_EQ(cdIsMediaLoaded(&value), DISCWRITER_S_OK);
    EXPECT_EQ(value, 7) << "untouched without a drive";
    for (std::int32_t hr : {cdEject(), cdCloseTray(), cdLock(), cdUnlock(), cdPrepareMediaTAO("x"),
                            cdCreateDiscAtOnce(), cdGetFreeSpace(&value), cdGetExistingTrackNumber(&value),
                            cdWriteDisc(&flag), cdEraseDisk(1), cdGetMaxWriteSpeed(&value), cdCanBurnProof(&flag),
                            cdGetDiskInfo(buffer, sizeof buffer), cdGetTrackInfo(1, buffer, sizeof buffer),
                            cdMuteDrive(1), cdReadTrack(1, u"/tmp/x.wav"), cdGetPregap(2, &value)})
        EXPECT_EQ(hr, DISCWRITER_E_NO_DRIVE);
    EXPECT_EQ(cdTestUnitReady(), 2);
    EXPECT_EQ(cdGetCDMaxWriteSpeed(), 4);
    EXPECT_EQ(cdSelectSpeed(8, 8), DISCWRITER_E_FAIL);
    EXPECT_EQ(cdGetUsedSpace(&value, &value), -1.0);
    EXPECT_EQ(cdGetTrackNumber(), 0);
    EXPECT_EQ(cdIsDiscEmpty(), 0);
}

TEST_F(LibraryTest, TheTrackListHoldsNinetyNineBoundedPaths) {
    ASSERT_EQ(cdSetup(nullptr), DISCWRITER_S_OK);
    for (int i = 0; i < 99; ++i) ASSERT_EQ(cdInsertTrack(("/music/" + std::to_string(i) + ".wav").c_str()), DISCWRITER_S_OK);
    EXPECT_EQ(cdInsertTrack("/music/100.wav"), DISCWRITER_E_FAIL);
    EXPECT_EQ(state().tracks.size(), 99u);
    EXPECT_EQ(cdRemoveTracks(), DISCWRITER_S_OK);

    EXPECT_EQ(cdInsertTrack(nullptr), DISCWRITER_E_INVALIDARG);
    EXPECT_EQ(cdInsertTrack(""), DISCWRITER_E_INVALIDARG);
    EXPECT_EQ(cdInsertTrack(("/" + std::string(259, 'a')).c_str()), DISCWRITER_E_INVALIDARG);
    EXPECT_EQ(cdInsertTrack(("/" + std::string(258, 'a')).c_str()), DISCWRITER_S_OK);
    EXPECT_EQ(cdInsertTrackW(nullptr), DISCWRITER_E_INVALIDARG);
    // Wide paths keep every character (narrow paths are UTF-8).
    EXPECT_EQ(cdInsertFileW(u"/music/\u0416\u4E2D\U0001F3B5.wav"), DISCWRITER_S_OK);
    ASSERT_EQ(state().tracks.size(), 2u);
    EXPECT_EQ(state().tracks[1], "/music/\u0416\u4E2D\U0001F3B5.wav");
}

TEST_F(LibraryTest, ReadSpeedsGoUpToTheFirstNotBelowTheMaximum) {
    struct Case {
        std::int32_t maximum;
        std::vector<std::int32_t> speeds;
    };
    for (const Case& c : {Case{20, {4, 8, 16, 24}}, Case{200, {4, 8, 16, 24, 32, 48, 64, 96, 128}},
                          Case{128, {4, 8, 16, 24, 32, 48, 64, 96, 128}}, Case{0, {4}}, Case{4, {4}}}) {
        std::int32_t* list = nullptr;
        std::int32_t count = 0;
        ASSERT_EQ(cdGetSuppReadSpeeds(&list, &count, c.maximum), DISCWRITER_S_OK);
        EXPECT_EQ(std::vector<std::int32_t>(list, list + count), c.speeds) << c.maximum;
        std::free(list);
    }
    EXPECT_EQ(cdGetSuppReadSpeeds(nullptr, nullptr, 4), DISCWRITER_E_POINTER);
}

class SimulatedTableTest : public SimulatedDriveTest {};

TEST_F(SimulatedTableTest, TheSimulatedRecorderIsListedLastAsAWriter) {
    SetUpDrive(medium("cd-r"));
    dwWChar wide[DISCWRITER_NAME_CHARS];
    char narrow[DISCWRITER_NAME_CHARS];
    std::int32_t writers = 0;
    cdGetDriveNumber(&writers);
    EXPECT_EQ(cdGetDriveNameW(writers - 1, wide), DISCWRITER_S_OK);
    EXPECT_EQ(platform::utf16ToUtf8(wide), "QVP3Simulated CD-RW");
    EXPECT_EQ(cdGetDriveName(writers - 1, narrow), DISCWRITER_S_OK);
    EXPECT_STREQ(narrow, "QVP3Simulated CD-RW");
    EXPECT_EQ(cdGetVendorIdA(simulatedIndex_, narrow), 5) << "bytes with the terminator";
    EXPECT_EQ(cdGetProductIdW(simulatedIndex_, wide), DISCWRITER_S_OK);
    EXPECT_EQ(cdIsBurner(simulatedIndex_), 1);
    EXPECT_EQ(cdGetDriveLetterA(simulatedIndex_), '/');
    std::int32_t number = -1;
    cdGetLegacyDeviceNumber(simulatedIndex_, &number);
    EXPECT_EQ(number, simulatedIndex_);

    std::int32_t* list = nullptr;
    std::int32_t count = 0;
    ASSERT_EQ(cdGetSuppWriteSpeeds(&list, &count), DISCWRITER_S_OK);
    EXPECT_EQ(std::vector<std::int32_t>(list, list + count), (std::vector<std::int32_t>{8, 16, 24, 40}));
    std::free(list);
    std::int32_t x = 0;
    char burnProof = 0;
    EXPECT_EQ(cdGetMaxWriteSpeed(&x), DISCWRITER_S_OK);
    EXPECT_EQ(x, 40) << "7056 kB/s truncated";
    EXPECT_EQ(cdGetMaxReadSpeed(&x), DISCWRITER_S_OK);
    EXPECT_EQ(x, 40);
    EXPECT_EQ(cdCanBurnProof(&burnProof), DISCWRITER_S_OK);
    EXPECT_EQ(burnProof, 1);
    EXPECT_EQ(cdGetCDMaxWriteSpeed(), 41) << "7056 kB/s rounded";
}

// Every name of the export table is exported by the shared library.
TEST(DiscWriterLibrary, ExportsEveryNameOfTheTable) {
    void* lib = dlopen(QVP3_DISCWRITER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    std::ifstream table(QVP3_DISCWRITER_ORDINALS);
    ASSERT_TRUE(table);
    std::vector<std::string> names = {"cdReleaseStream", "cdGetLastErrorText"};
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        std::string name;
        row >> name;
        names.push_back(name);
    }
    EXPECT_EQ(names.size(), 75u);
    for (const std::string& name : names) EXPECT_NE(dlsym(lib, name.c_str()), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN10discwriter5stateEv"), nullptr) << "internals stay hidden";
    dlclose(lib);
}

}  // namespace
}  // namespace discwriter::testing
