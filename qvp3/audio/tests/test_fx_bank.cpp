#include "qvp3_audio/fx_bank.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "fx_test_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;
using testing::bankHead;
using testing::FakePlugIn;
using testing::FxBytes;
using testing::programRecord;

std::string setField(std::string bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (24 - 8 * i) & 0xFF);
    return bytes;
}

const std::vector<float> kWarmPad = {0.25f, -1.5f, 1.0f};
const std::vector<float> kBright = {0.0f, 0.75f, 0.125f};

// Two programs of three parameters, exactly as this host writes them.
std::string twoProgramBank(std::uint32_t version = 1) {
    return bankHead("FxBk", 2, version).add(programRecord("Warm Pad", kWarmPad)).add(programRecord("Bright", kBright))
        .sized().str();
}

std::string chunkBank(std::string_view chunk, std::uint32_t sizeField) {
    return bankHead("FBCh", 4).be32(sizeField).raw(chunk).sized().str();
}

std::string asText(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

struct BankCase {
    const char* what;
    std::string bytes;
    FxResult expected;
};

std::vector<BankCase> bankCases() {
    const std::string record = programRecord("A", {0.5f, 0.5f, 0.5f});  // 68 bytes
    return {
        {"two programs, version 1", twoProgramBank(), FxResult::Ok},
        {"no programs", bankHead("FxBk", 0).sized().str(), FxResult::Ok},
        {"bytes after the last record", twoProgramBank() + "trailing", FxResult::Ok},
        {"a name of 28 bytes without a zero",
         bankHead("FxBk", 1).add(programRecord(std::string(28, 'N'), {0.5f})).sized().str(), FxResult::Ok},
        {"a chunk that fills the file", chunkBank("opaque state", 12), FxResult::Ok},
        {"an empty chunk", chunkBank("", 0), FxResult::Ok},
        {"version 2", twoProgramBank(2), FxResult::BadVersion},
        {"a version that reads negative", twoProgramBank(0xFFFFFFFF), FxResult::BadVersion},
        {"an empty file", "", FxResult::TooShort},
        {"the header cut at 155 bytes", twoProgramBank().substr(0, 155), FxResult::TooShort},
        {"a chunk bank without its size field", bankHead("FBCh", 1).sized().str(), FxResult::TooShort},
        {"a chunk one byte larger than the file holds", chunkBank("opaque state", 13), FxResult::PastEnd},
        {"a chunk size that reads negative", chunkBank("opaque state", 0xFFFFFFFF), FxResult::PastEnd},
        {"no CcnK", "CcnX" + twoProgramBank().substr(4), FxResult::BadMagic},
        {"a program file's kind", bankHead("FxCk", 0).sized().str(), FxResult::BadMagic},
        {"a record without CcnK", bankHead("FxBk", 1).raw("XXXX").raw(record.substr(4)).sized().str(),
         FxResult::BadMagic},
        {"a record of the chunk kind", bankHead("FxBk", 1).raw(setField(record, 8, 0x46504368)).sized().str(),
         FxResult::BadMagic},
        {"a negative program count", bankHead("FxBk", 0xFFFFFFFF).add(record).sized().str(), FxResult::BadCount},
        {"more programs than the file can hold", bankHead("FxBk", 3).add(record).add(record).sized().str(),
         FxResult::BadCount},
        {"a record whose parameters run past the end", bankHead("FxBk", 1).raw(setField(record, 24, 1000)).sized().str(),
         FxResult::BadCount},
        {"a negative parameter count", bankHead("FxBk", 1).raw(setField(record, 24, 0xFFFFFFFF)).sized().str(),
         FxResult::BadCount},
        {"the second record cut short", bankHead("FxBk", 2).add(record).raw(record.substr(0, 50)).sized().str(),
         FxResult::PastEnd},
    };
}

TEST(FxBankLoad, AcceptsOrRefusesEachFileAsItsHeaderAndRecordsSay) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "case.fxb";
    for (const BankCase& c : bankCases()) {
        SCOPED_TRACE(c.what);
        writeBytes(file, c.bytes);
        CFxBank bank;
        const bool accepted = c.expected == FxResult::Ok;
        EXPECT_EQ(bank.Load(file), accepted);
        EXPECT_EQ(bank.Result(), c.expected);
        EXPECT_EQ(bank.IsLoaded(), accepted);
        EXPECT_EQ(bank.Size(), accepted ? c.bytes.size() : 0u) << "a refused file keeps nothing";
    }
}

TEST(FxBankLoad, ReadsTheRecordsAndTheChunkOfWhatItAccepts) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "Pads.fxb";
    writeBytes(file, twoProgramBank());
    CFxBank bank;
    ASSERT_TRUE(bank.Load(file));
    EXPECT_EQ(bank.FileName(), file);
    EXPECT_EQ(bank.FxId(), static_cast<std::int32_t>(testing::kFakeId));
    EXPECT_EQ(bank.FxVersion(), static_cast<std::int32_t>(testing::kFakeVersion));
    EXPECT_FALSE(bank.IsChunk());
    EXPECT_TRUE(bank.Chunk().empty());
    EXPECT_EQ(bank.NumPrograms(), 2);
    ASSERT_EQ(bank.RecordCount(), 2u);
    EXPECT_EQ(bank.ProgramName(0), "Warm Pad");
    EXPECT_EQ(bank.ProgramParameters(0), kWarmPad);
    EXPECT_EQ(bank.ProgramName(1), "Bright");
    EXPECT_EQ(bank.ProgramParameters(1), kBright);
    EXPECT_EQ(bank.ProgramName(2), "");
    EXPECT_TRUE(bank.ProgramParameters(2).empty());

    // A name that fills its field ends there, not in the parameters after it.
    writeBytes(file, bankHead("FxBk", 1).add(programRecord(std::string(28, 'N'), {0.5f})).sized().str());
    ASSERT_TRUE(bank.Load(file));
    EXPECT_EQ(bank.ProgramName(0), std::string(28, 'N'));

    writeBytes(file, chunkBank("opaque state", 12));
    ASSERT_TRUE(bank.Load(file));
    EXPECT_TRUE(bank.IsChunk());
    EXPECT_EQ(asText(bank.Chunk()), "opaque state");
    EXPECT_EQ(bank.NumPrograms(), 4);
    EXPECT_EQ(bank.RecordCount(), 0u);
}

TEST(FxBankLoad, WhatIsNoReadableFileCannotBeOpened) {
    TempFolder tmp;
    CFxBank bank;
    EXPECT_FALSE(bank.Load(tmp.path() / "missing.fxb"));
    EXPECT_EQ(bank.Result(), FxResult::CannotOpen);
    fs::create_directory(tmp.path() / "folder.fxb");
    EXPECT_FALSE(bank.Load(tmp.path() / "folder.fxb"));
    EXPECT_EQ(bank.Result(), FxResult::CannotOpen);
}

TEST(FxBankLoad, AFailedLoadDropsTheBankHeldBefore) {
    TempFolder tmp;
    writeBytes(tmp.path() / "good.fxb", twoProgramBank());
    writeBytes(tmp.path() / "bad.fxb", twoProgramBank(2));
    CFxBank bank;
    ASSERT_TRUE(bank.Load(tmp.path() / "good.fxb"));
    EXPECT_FALSE(bank.Load(tmp.path() / "bad.fxb"));
    EXPECT_FALSE(bank.IsLoaded());
    EXPECT_EQ(bank.Size(), 0u);
    EXPECT_TRUE(bank.FileName().empty());
    EXPECT_EQ(bank.RecordCount(), 0u);
    EXPECT_EQ(bank.FxId(), 0);
}

// The fake as the two-program fixture describes it.
FakePlugIn pads() {
    FakePlugIn fake(2, 3);
    fake.state.programs = {{"Warm Pad", kWarmPad}, {"Bright", kBright}};
    return fake;
}

TEST(FxBankSave, AnInstanceOfParametersBecomesOneRecordPerProgram) {
    FakePlugIn fake = pads();
    CFxBank bank;
    ASSERT_TRUE(bank.SetFromPlugIn(fake));
    EXPECT_EQ(asText(bank.Bytes()), twoProgramBank());
    EXPECT_EQ(fake.state.current, 0) << "the visit of every program ends where it began";
    EXPECT_TRUE(bank.FileName().empty());
}

TEST(FxBankSave, AnInstanceWithChunksBecomesOneChunk) {
    FakePlugIn fake(4, 2, true);
    fake.state.bankChunk = testing::toBytes("opaque state");
    CFxBank bank;
    ASSERT_TRUE(bank.SetFromPlugIn(fake));
    EXPECT_EQ(asText(bank.Bytes()), chunkBank("opaque state", 12));
}

TEST(FxBankSave, CountsOfAnInstanceThatNoFileCanHoldAreRefusedUpFront) {
    FakePlugIn fake(1, 1);
    fake.countPrograms = std::numeric_limits<std::int32_t>::max();
    fake.countParams = std::numeric_limits<std::int32_t>::max();
    CFxBank bank;
    EXPECT_FALSE(bank.SetFromPlugIn(fake));
    EXPECT_EQ(bank.Result(), FxResult::TooLarge);
    EXPECT_FALSE(bank.IsLoaded());

    fake.countPrograms = -5;  // taken as none
    ASSERT_TRUE(bank.SetFromPlugIn(fake));
    EXPECT_EQ(bank.NumPrograms(), 0);
    EXPECT_EQ(bank.Size(), kFxBankHeaderSize);
}

// An instance whose values show any change of bits: a negative zero, a tiny
// number, a large one.
FakePlugIn rich(bool chunks) {
    FakePlugIn fake(3, 4, chunks);
    fake.state.programs = {{"Strings", {-0.0f, 1e-30f, 0.333333f, 1.0f}},
                           {"Choir", {0.1f, 0.2f, 0.3f, 0.4f}},
                           {std::string(24, 'L'), {1e30f, -2.5f, 0.0f, 0.9999f}}};
    fake.state.current = 2;
    if (chunks) fake.state.bankChunk = testing::toBytes(std::string("\0\x01\xff state\0", 11));
    return fake;
}

TEST(FxBankSave, ABankSavedLoadedAndSavedAgainIsByteIdentical) {
    for (const bool chunks : {false, true}) {
        SCOPED_TRACE(chunks ? "chunk bank" : "bank of programs");
        TempFolder tmp;
        FakePlugIn source = rich(chunks);
        CFxBank first;
        ASSERT_TRUE(first.SetFromPlugIn(source));
        ASSERT_TRUE(first.Save(tmp.path() / "first.fxb"));
        EXPECT_EQ(first.FileName(), tmp.path() / "first.fxb");

        CFxBank loaded;
        ASSERT_TRUE(loaded.Load(tmp.path() / "first.fxb"));
        FakePlugIn target(3, 4, chunks);
        target.state.current = 1;
        ASSERT_TRUE(loaded.ApplyTo(target));
        EXPECT_EQ(target.state.current, 1);
        if (chunks) {
            EXPECT_EQ(target.state.bankChunk, source.state.bankChunk);
        } else {
            EXPECT_EQ(target.state.programs, source.state.programs);
        }

        CFxBank again;
        ASSERT_TRUE(again.SetFromPlugIn(target));
        ASSERT_TRUE(again.Save(tmp.path() / "again.fxb"));
        EXPECT_EQ(readBytes(tmp.path() / "again.fxb"), readBytes(tmp.path() / "first.fxb"));
    }
}

TEST(FxBankSave, ALoadedBankSavesTheBytesItDoesNotRead) {
    TempFolder tmp;
    // Reserved bytes in use and bytes after the records, as other hosts leave them.
    std::string bytes = twoProgramBank() + "tail";
    bytes[100] = 'R';
    writeBytes(tmp.path() / "other.fxb", bytes);
    CFxBank bank;
    ASSERT_TRUE(bank.Load(tmp.path() / "other.fxb"));
    ASSERT_TRUE(bank.Save(tmp.path() / "copy.fxb"));
    EXPECT_EQ(readBytes(tmp.path() / "copy.fxb"), bytes);
}

TEST(FxBankSave, AFailedSaveKeepsTheOldFile) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "Pads.fxb";
    writeBytes(file, "the old bank");
    FakePlugIn fake(1, 0, true);
    fake.state.bankChunk.assign(64 * 1024, 0x5A);
    CFxBank bank;
    ASSERT_TRUE(bank.SetFromPlugIn(fake));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = bank.Save(file);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(bank.Result(), FxResult::WriteError);
    EXPECT_EQ(readBytes(file), "the old bank");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1)
        << "the temporary file was left behind";

    CFxBank empty;
    EXPECT_FALSE(empty.Save(tmp.path() / "nothing.fxb"));
    EXPECT_EQ(empty.Result(), FxResult::NotLoaded);
    EXPECT_FALSE(fs::exists(tmp.path() / "nothing.fxb"));
}

TEST(FxBankApply, ABankTheInstanceCannotTakeChangesNothing) {
    TempFolder tmp;
    writeBytes(tmp.path() / "other.fxb", bankHead("FxBk", 1, 1, 0x4F746872).add(programRecord("X", {0.0f})).sized().str());
    writeBytes(tmp.path() / "chunk.fxb", chunkBank("opaque state", 12));
    struct Case {
        const char* what;
        const char* file;  // none: nothing loaded
        FxResult expected;
    };
    const Case cases[] = {
        {"made for another plug-in", "other.fxb", FxResult::WrongPlugIn},
        {"a chunk for an instance that keeps none", "chunk.fxb", FxResult::WrongPlugIn},
        {"nothing loaded", nullptr, FxResult::NotLoaded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFxBank bank;
        if (c.file) {
            ASSERT_TRUE(bank.Load(tmp.path() / c.file));
        }
        FakePlugIn fake = pads();
        const testing::FakeState before = fake.state;
        EXPECT_FALSE(bank.ApplyTo(fake));
        EXPECT_EQ(bank.Result(), c.expected);
        EXPECT_EQ(fake.state, before);
        EXPECT_EQ(bank.IsLoaded(), c.file != nullptr) << "a refused apply keeps the bank";
    }
}

TEST(FxBankApply, ABankOfAnotherShapeFillsWhatBothHave) {
    TempFolder tmp;
    writeBytes(tmp.path() / "Pads.fxb", twoProgramBank());
    CFxBank bank;
    ASSERT_TRUE(bank.Load(tmp.path() / "Pads.fxb"));

    FakePlugIn smaller(1, 2);
    ASSERT_TRUE(bank.ApplyTo(smaller));
    EXPECT_EQ(smaller.state.programs, (std::vector<testing::FakeProgram>{{"Warm Pad", {0.25f, -1.5f}}}));

    FakePlugIn larger(3, 4);
    larger.state.current = 2;
    ASSERT_TRUE(bank.ApplyTo(larger));
    EXPECT_EQ(larger.state.programs, (std::vector<testing::FakeProgram>{{"Warm Pad", {0.25f, -1.5f, 1.0f, 0.5f}},
                                                                        {"Bright", {0.0f, 0.75f, 0.125f, 0.5f}},
                                                                        {"Init", {0.5f, 0.5f, 0.5f, 0.5f}}}));
    EXPECT_EQ(larger.state.current, 2);
}

}  // namespace
}  // namespace qvp3
