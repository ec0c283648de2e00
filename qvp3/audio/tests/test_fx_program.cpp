#include "qvp3_audio/fx_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
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
using testing::FakePlugIn;
using testing::FxBytes;
using testing::programRecord;

const std::vector<float> kLead = {0.25f, -1.5f, 1.0f};

// An "FPCh" program: the head with the name, the chunk size, the chunk.
std::string chunkProgram(std::string_view name, std::string_view chunk, std::uint32_t sizeField) {
    FxBytes b;
    b.tag("CcnK").be32(0).tag("FPCh").be32(1).be32(testing::kFakeId).be32(testing::kFakeVersion).be32(3).name(name);
    return b.be32(sizeField).raw(chunk).sized().str();
}

std::string withField(std::string bytes, std::size_t offset, std::uint32_t value) {
    return FxBytes().raw(bytes).patch(offset, value).str();
}

struct ProgramCase {
    const char* what;
    std::string bytes;
    FxResult expected;
};

TEST(FxProgramLoad, AcceptsOrRefusesEachFileAsItsHeaderSays) {
    const std::string lead = programRecord("Lead", kLead);  // 68 bytes
    const ProgramCase cases[] = {
        {"three parameters", lead, FxResult::Ok},
        {"no parameters", programRecord("Empty", {}), FxResult::Ok},
        {"bytes after the parameters", lead + "tail", FxResult::Ok},
        {"a chunk that fills the file", chunkProgram("Lead", "opaque", 6), FxResult::Ok},
        {"an empty file", "", FxResult::TooShort},
        {"the header cut at 55 bytes", lead.substr(0, 55), FxResult::TooShort},
        {"a chunk program without its size field", chunkProgram("Lead", "", 0).substr(0, 56), FxResult::TooShort},
        {"a chunk one byte larger than the file holds", chunkProgram("Lead", "opaque", 7), FxResult::PastEnd},
        {"a chunk size that reads negative", chunkProgram("Lead", "opaque", 0xFFFFFFFF), FxResult::PastEnd},
        {"no CcnK", "XcnK" + lead.substr(4), FxResult::BadMagic},
        {"a bank's kind", withField(lead, 8, 0x4678426B), FxResult::BadMagic},
        {"version 2", withField(lead, 12, 2), FxResult::BadVersion},
        {"parameters past the end", withField(lead, 24, 4), FxResult::BadCount},
        {"a negative parameter count", withField(lead, 24, 0x80000000), FxResult::BadCount},
    };
    TempFolder tmp;
    const fs::path file = tmp.path() / "case.fxp";
    for (const ProgramCase& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(file, c.bytes);
        CFxProgram program;
        const bool accepted = c.expected == FxResult::Ok;
        EXPECT_EQ(program.Load(file), accepted);
        EXPECT_EQ(program.Result(), c.expected);
        EXPECT_EQ(program.Size(), accepted ? c.bytes.size() : 0u) << "a refused file keeps nothing";
    }
}

TEST(FxProgramLoad, ReadsTheNameAndTheParametersOrTheChunk) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "Lead.fxp";
    writeBytes(file, programRecord("Lead", kLead));
    CFxProgram program;
    ASSERT_TRUE(program.Load(file));
    EXPECT_EQ(program.Name(), "Lead");
    EXPECT_EQ(program.NumParams(), 3);
    EXPECT_EQ(program.Parameters(), kLead);
    EXPECT_EQ(program.FxId(), static_cast<std::int32_t>(testing::kFakeId));
    EXPECT_FALSE(program.IsChunk());

    writeBytes(file, chunkProgram(std::string(28, 'N'), "opaque", 6));
    ASSERT_TRUE(program.Load(file));
    EXPECT_EQ(program.Name(), std::string(28, 'N')) << "a full name field ends at the field";
    EXPECT_TRUE(program.IsChunk());
    EXPECT_EQ(std::string(program.Chunk().begin(), program.Chunk().end()), "opaque");
    EXPECT_TRUE(program.Parameters().empty());
}

TEST(FxProgramSave, TheCurrentProgramIsWrittenAsItsParametersOrItsChunk) {
    FakePlugIn plain(2, 3);
    plain.state.programs[1] = {"Lead", kLead};
    plain.state.current = 1;
    CFxProgram program;
    ASSERT_TRUE(program.SetFromPlugIn(plain));
    EXPECT_EQ(std::string(program.Bytes().begin(), program.Bytes().end()), programRecord("Lead", kLead));

    // A name longer than the field keeps a terminating zero in it.
    plain.state.programs[1].name = std::string(40, 'N');
    ASSERT_TRUE(program.SetFromPlugIn(plain));
    EXPECT_EQ(std::string(program.Bytes().begin(), program.Bytes().end()),
              programRecord(std::string(27, 'N'), kLead));

    FakePlugIn chunks(2, 3, true);
    chunks.state.programs[1].name = "Lead";
    chunks.state.current = 1;
    chunks.state.programChunk = testing::toBytes("opaque");
    chunks.state.bankChunk = testing::toBytes("the whole bank");
    ASSERT_TRUE(program.SetFromPlugIn(chunks));
    EXPECT_EQ(std::string(program.Bytes().begin(), program.Bytes().end()), chunkProgram("Lead", "opaque", 6));
}

TEST(FxProgramSave, AProgramSavedLoadedAndSavedAgainIsByteIdentical) {
    for (const bool chunks : {false, true}) {
        SCOPED_TRACE(chunks ? "chunk program" : "program of parameters");
        TempFolder tmp;
        FakePlugIn source(1, 4, chunks);
        source.state.programs[0] = {"Strings", {-0.0f, 1e-30f, 0.333333f, 1e30f}};
        source.state.programChunk = testing::toBytes(std::string("\0\x01\xff state\0", 11));
        CFxProgram first;
        ASSERT_TRUE(first.SetFromPlugIn(source));
        ASSERT_TRUE(first.Save(tmp.path() / "first.fxp"));

        CFxProgram loaded;
        ASSERT_TRUE(loaded.Load(tmp.path() / "first.fxp"));
        FakePlugIn target(1, 4, chunks);
        ASSERT_TRUE(loaded.ApplyTo(target));
        if (chunks) {
            EXPECT_EQ(target.state.programChunk, source.state.programChunk);
            target.state.programs[0].name = "Strings";  // a chunk carries the name for the file only
        } else {
            EXPECT_EQ(target.state.programs, source.state.programs);
        }

        CFxProgram again;
        ASSERT_TRUE(again.SetFromPlugIn(target));
        ASSERT_TRUE(again.Save(tmp.path() / "again.fxp"));
        EXPECT_EQ(readBytes(tmp.path() / "again.fxp"), readBytes(tmp.path() / "first.fxp"));
    }
}

TEST(FxProgramApply, AProgramTheInstanceCannotTakeChangesNothing) {
    TempFolder tmp;
    writeBytes(tmp.path() / "other.fxp", programRecord("Lead", kLead, 0x4F746872));
    writeBytes(tmp.path() / "chunk.fxp", chunkProgram("Lead", "opaque", 6));
    for (const char* name : {"other.fxp", "chunk.fxp"}) {
        SCOPED_TRACE(name);
        CFxProgram program;
        ASSERT_TRUE(program.Load(tmp.path() / name));
        FakePlugIn fake(2, 3);
        const testing::FakeState before = fake.state;
        EXPECT_FALSE(program.ApplyTo(fake));
        EXPECT_EQ(program.Result(), FxResult::WrongPlugIn);
        EXPECT_EQ(fake.state, before);
    }
}

TEST(FxProgramApply, OnlyTheCurrentProgramChangesAndOnlyInParametersBothHave) {
    TempFolder tmp;
    writeBytes(tmp.path() / "Lead.fxp", programRecord("Lead", kLead));
    CFxProgram program;
    ASSERT_TRUE(program.Load(tmp.path() / "Lead.fxp"));
    FakePlugIn fake(2, 2);
    fake.state.current = 1;
    ASSERT_TRUE(program.ApplyTo(fake));
    EXPECT_EQ(fake.state.programs,
              (std::vector<testing::FakeProgram>{{"Init", {0.5f, 0.5f}}, {"Lead", {0.25f, -1.5f}}}));
    EXPECT_EQ(fake.state.current, 1);
}

}  // namespace
}  // namespace qvp3
