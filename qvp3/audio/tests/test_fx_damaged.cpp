// Program and bank files with random damage: whatever they hold, reading ends
// with an answer, never touches a byte outside the file (the sanitizer build
// checks every access), and a file that is accepted can be used in full.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fx_test_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/fx_bank.h"
#include "qvp3_audio/fx_program.h"

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

// Each round reads two files; the sanitizer build is several times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kMutationRounds = 2000;
#else
constexpr int kMutationRounds = 6000;
#endif

std::vector<std::string> fixtures() {
    const std::string chunkProgram = FxBytes()
                                         .tag("CcnK").be32(0).tag("FPCh").be32(1).be32(testing::kFakeId)
                                         .be32(testing::kFakeVersion).be32(4).name("Chunky")
                                         .be32(10).raw("0123456789")
                                         .sized().str();
    return {
        bankHead("FxBk", 3)
            .add(programRecord("One", {0.1f, 0.2f, 0.3f, 0.4f}))
            .add(programRecord("Two", {0.5f, 0.6f}))
            .add(programRecord(std::string(28, 'T'), {0.7f, 0.8f, 0.9f}))
            .sized().str(),
        bankHead("FBCh", 3).be32(16).raw("opaque bank data").sized().str(),
        programRecord("Lead", {0.25f, -1.5f, 1.0f, 0.0f}),
        chunkProgram,
    };
}

// Uses everything an accepted file offers, so that an offset the check let
// through is actually followed.
void useBank(const CFxBank& bank, const fs::path& copy) {
    for (std::size_t r = 0; r < bank.RecordCount(); ++r) {
        EXPECT_LE(bank.ProgramName(r).size(), kFxProgramNameSize);
        (void)bank.ProgramParameters(r);
    }
    std::uint32_t sum = 0;
    for (std::uint8_t byte : bank.Chunk()) sum += byte;
    (void)sum;
    CFxBank saved = bank;
    ASSERT_TRUE(saved.Save(copy));
    EXPECT_EQ(readBytes(copy), std::string(bank.Bytes().begin(), bank.Bytes().end()));
    FakePlugIn fake(2, 3, bank.IsChunk());
    fake.id = static_cast<std::uint32_t>(bank.FxId());
    EXPECT_TRUE(saved.ApplyTo(fake));
}

void useProgram(const CFxProgram& program) {
    EXPECT_LE(program.Name().size(), kFxProgramNameSize);
    (void)program.Parameters();
    std::uint32_t sum = 0;
    for (std::uint8_t byte : program.Chunk()) sum += byte;
    (void)sum;
    CFxProgram applied = program;
    FakePlugIn fake(1, 3, program.IsChunk());
    fake.id = static_cast<std::uint32_t>(program.FxId());
    EXPECT_TRUE(applied.ApplyTo(fake));
}

TEST(FxDamaged, CutAndChangedFilesAreAnsweredWithoutHarm) {
    const std::vector<std::string> originals = fixtures();
    const std::uint32_t absurd[] = {0, 1, 2, 27, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFF00};
    std::mt19937 random(20240611);
    const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random() % n); };
    TempFolder tmp;
    const fs::path file = tmp.path() / "damaged.fxb";
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < kMutationRounds; ++round) {
        std::string bytes = originals[static_cast<std::size_t>(round) % originals.size()];
        const int mutations = 1 + static_cast<int>(pick(3));
        for (int m = 0; m < mutations; ++m) {
            const std::size_t at = pick(bytes.size());
            switch (pick(5)) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.resize(at);
                    break;
                case 2:
                    bytes.erase(at, 1 + pick(16));
                    break;
                case 3:
                    bytes.insert(at, std::string(1 + pick(8), static_cast<char>(random())));
                    break;
                default: {  // a field (sizes and counts sit on 4-byte boundaries) set to an absurd number
                    const std::size_t field = at & ~std::size_t{3};
                    if (field + 4 > bytes.size()) break;
                    bytes = FxBytes().raw(bytes).patch(field, absurd[pick(std::size(absurd))]).str();
                    break;
                }
            }
        }
        writeBytes(file, bytes);
        CFxBank bank;
        if (bank.Load(file)) {
            ++accepted;
            EXPECT_EQ(bank.Size(), bytes.size());
            useBank(bank, tmp.path() / "copy.fxb");
        } else {
            ++refused;
            EXPECT_EQ(bank.Size(), 0u);
        }
        CFxProgram program;
        if (program.Load(file)) {
            ++accepted;
            useProgram(program);
        } else {
            ++refused;
        }
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(accepted, kMutationRounds / 10) << "the damage should not refuse every file";
    EXPECT_GT(refused, kMutationRounds / 2);
}

}  // namespace
}  // namespace qvp3
