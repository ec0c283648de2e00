// The sample player's setup record and setup file, and the "SPSetup" stream
// read out of compound files built here by hand, whole and damaged.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/sampler_setup.h"

namespace qvp3 {
namespace {

using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

std::string pattern(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return out;
}

// ---- a compound file as a Windows program writes it (version 3, 512-byte sectors)

constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;

void put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, std::size_t at, std::uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

std::string dirEntry(std::u16string_view name, std::uint8_t type, std::uint32_t left, std::uint32_t right,
                     std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    std::string e(128, '\0');
    for (std::size_t i = 0; i < name.size(); ++i) put16(e, 2 * i, name[i]);
    put16(e, 64, static_cast<std::uint16_t>(name.empty() ? 0 : 2 * (name.size() + 1)));
    e[66] = static_cast<char>(type);
    e[67] = 1;  // black
    put32(e, 68, left);
    put32(e, 72, right);
    put32(e, 76, child);
    put32(e, 116, start);
    put32(e, 120, size);
    return e;
}

// Sector 0 the allocation table, 1 the directory, 2 the mini table, then the
// mini stream, then a large stream's own sectors. "Other" (10 bytes) comes
// first in the mini stream, so that the setup starts at mini sector 1.
struct Compound {
    std::string bytes;
    std::size_t fatAt = 512;
    std::size_t dirAt = 1024;
    std::size_t miniFatAt = 1536;
};

std::string compoundHeader() {
    std::string header(512, '\0');
    const unsigned char signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), signature, 8);
    put16(header, 24, 0x3E);
    put16(header, 26, 3);
    put16(header, 28, 0xFFFE);
    put16(header, 30, 9);
    put16(header, 32, 6);
    put32(header, 44, 1);     // allocation table sectors
    put32(header, 48, 1);     // first directory sector
    put32(header, 56, 4096);  // mini stream cutoff
    put32(header, 60, 2);     // first mini table sector
    put32(header, 64, 1);
    put32(header, 68, kEnd);
    put32(header, 72, 0);
    for (std::size_t i = 0; i < 109; ++i) put32(header, 76 + 4 * i, i == 0 ? 0 : kFree);
    return header;
}

// A sector of 128 table entries, free but for the chains given: each from its
// first sector through `count` sectors in a row.
std::string tableSector(std::initializer_list<std::pair<std::size_t, std::size_t>> chains) {
    std::string table(512, '\0');
    for (std::size_t i = 0; i < 128; ++i) put32(table, 4 * i, kFree);
    for (const auto& [first, count] : chains)
        for (std::size_t i = 0; i < count; ++i)
            put32(table, 4 * (first + i), i + 1 == count ? kEnd : static_cast<std::uint32_t>(first + i + 1));
    return table;
}

Compound compound(const std::string& stream, std::u16string_view name = u"SPSetup") {
    const bool mini = stream.size() < 4096;
    const std::string other = "other data";
    std::string miniStream = other + std::string(64 - other.size(), '\0');
    if (mini) miniStream += stream + std::string((64 - stream.size() % 64) % 64, '\0');
    const auto miniBytes = static_cast<std::uint32_t>(miniStream.size());
    const std::size_t miniSectors = (miniStream.size() + 511) / 512;
    miniStream.resize(miniSectors * 512, '\0');
    const std::uint32_t bigStart = 3 + static_cast<std::uint32_t>(miniSectors);
    const std::size_t bigSectors = mini ? 0 : (stream.size() + 511) / 512;

    std::string fat = tableSector({{1, 1}, {2, 1}, {3, miniSectors}, {bigStart, bigSectors}});
    put32(fat, 0, kFatSect);
    const std::string dir = dirEntry(u"Root Entry", 5, kFree, kFree, 1, 3, miniBytes) +
                            dirEntry(u"Other", 2, kFree, 2, kFree, 0, static_cast<std::uint32_t>(other.size())) +
                            dirEntry(name, 2, kFree, kFree, kFree, mini ? 1 : bigStart,
                                     static_cast<std::uint32_t>(stream.size())) +
                            dirEntry(u"", 0, kFree, kFree, kFree, 0, 0);
    const std::string miniFat = tableSector({{0, 1}, {1, mini ? (stream.size() + 63) / 64 : 0}});
    const std::string big = mini ? std::string() : stream + std::string(bigSectors * 512 - stream.size(), '\0');
    Compound c;
    c.bytes = compoundHeader() + fat + dir + miniFat + miniStream + big;
    return c;
}

int streamOf(const std::string& file, std::vector<std::uint8_t>& stream, std::string* why = nullptr) {
    return spSetupStreamFromBytes(bytesOf(file), stream, why);
}

// ---- the setup record

TEST(SamplerSetup, RecordIsWrittenFieldByFieldAndReadBack) {
    const SamplerSetup cases[] = {
        {u"", 0, {}},
        {u"Strings \u00E9t\u00E9", 1, {1, 2, 3, 4, 5}},
        {std::u16string(255, u'x'), 0, std::vector<std::uint8_t>(1000, 0xAB)},
    };
    for (const SamplerSetup& setup : cases) {
        const std::vector<std::uint8_t> bytes = writeSamplerSetup(setup);
        ASSERT_EQ(bytes.size(), 517 + setup.data.size());
        EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, static_cast<int>(setup.data.size()));
        EXPECT_EQ(bytes[516], setup.isVstChunk);
        const auto back = readSamplerSetup(bytes);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, setup);
    }
    const std::vector<std::uint8_t> named = writeSamplerSetup({u"AB", 1, {9}});
    EXPECT_EQ(std::vector<std::uint8_t>(named.begin() + 4, named.begin() + 10),
              (std::vector<std::uint8_t>{'A', 0, 'B', 0, 0, 0}));
    EXPECT_EQ(named[517], 9);

    // A name too long for its 256 characters keeps 255 and its terminator,
    // never half a surrogate pair.
    std::u16string longName(254, u'n');
    longName += u"\U0001F3B5tail";
    const auto cut = readSamplerSetup(writeSamplerSetup({longName, 0, {}}));
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->name, std::u16string(254, u'n'));
}

TEST(SamplerSetup, RecordOfTheWrongSizeIsRefused) {
    std::vector<std::uint8_t> bytes = writeSamplerSetup({u"Piano", 1, {1, 2, 3}});
    std::string why;
    EXPECT_FALSE(readSamplerSetup(std::span(bytes).first(516), &why).has_value());
    EXPECT_FALSE(why.empty());
    bytes.push_back(0);
    EXPECT_FALSE(readSamplerSetup(bytes).has_value());
    bytes.resize(bytes.size() - 2);
    EXPECT_FALSE(readSamplerSetup(bytes).has_value());
    bytes[0] = 0xFF;  // a size beyond the record
    bytes[3] = 0xFF;
    EXPECT_FALSE(readSamplerSetup(bytes).has_value());
}

TEST(SamplerSetup, EntryKeepsNameFlagAndData) {
    const SamplerSetup setup{u"Fl\u00FCgel", 0, {7, 8, 9}};
    ProjectEntry entry;
    samplerSetupToEntry(setup, entry);
    EXPECT_EQ(entry.samplerSetupName, "Fl\xC3\xBCgel");
    EXPECT_EQ(entry.samplerSetupType, 0);
    EXPECT_EQ(entry.samplerSetup, setup.data);
    EXPECT_EQ(samplerSetupFromEntry(entry), setup);
}

// ---- the setup file

TEST(SamplerSetupFile, SavedAndLoadedBackIdentically) {
    TempFolder folder;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5000}}) {
        const std::vector<std::uint8_t> stream = bytesOf(pattern(size));
        const auto path = folder.path() / "entry.qvpp";
        ASSERT_EQ(spWriteSetupFile(path, stream), kSetupOk);
        std::vector<std::uint8_t> back;
        ASSERT_EQ(spReadSetupFile(path, back), kSetupOk);
        EXPECT_EQ(back, stream);

        // The way a project keeps it: the file's bytes are the block's data.
        SamplerSetup setup{u"Synth", 0, bytesOf(readBytes(path))};
        const auto restored = readSamplerSetup(writeSamplerSetup(setup));
        ASSERT_TRUE(restored.has_value());
        EXPECT_EQ(*restored, setup);
        back.clear();
        ASSERT_EQ(spSetupStreamFromBytes(restored->data, back), kSetupOk);
        EXPECT_EQ(back, stream);
    }
    const std::string file = readBytes(folder.path() / "entry.qvpp");
    EXPECT_EQ(file.substr(0, 19), std::string("QVPP\x01\x00\x07\x00SPSetup\x88\x13\x00\x00", 19));
    EXPECT_EQ(file.size(), 4 + 2 + 2 + 7 + 4 + 5000u);
}

TEST(SamplerSetupFile, FailuresLeaveTheOldFileAndSayWhy) {
    TempFolder folder;
    std::vector<std::uint8_t> stream;
    EXPECT_EQ(spReadSetupFile(folder.path() / "missing.qvpp", stream), kSetupCannotOpen);
    EXPECT_EQ(spReadSetupFile(folder.path(), stream), kSetupCannotOpen);
    EXPECT_EQ(spWriteSetupFile(folder.path() / "no" / "such" / "folder.qvpp", bytesOf("x")), kSetupWriteError);

    const auto path = folder.path() / "old.qvpp";
    ASSERT_EQ(spWriteSetupFile(path, bytesOf("old")), kSetupOk);
    writeBytes(folder.path() / "text.qvpp", "not a setup");
    std::string why;
    stream = bytesOf("kept");
    EXPECT_EQ(spReadSetupFile(folder.path() / "text.qvpp", stream, &why), kSetupUnknownFormat);
    EXPECT_EQ(stream, bytesOf("kept"));
    EXPECT_FALSE(why.empty());

    std::string damaged = readBytes(path);
    damaged[4] = 2;  // a layout version of the future
    EXPECT_EQ(streamOf(damaged, stream), kSetupUnknownFormat);
    damaged = readBytes(path);
    damaged.pop_back();
    EXPECT_EQ(streamOf(damaged, stream), kSetupUnknownFormat);
    damaged = readBytes(path);
    damaged[8] = 'X';  // another stream's name
    EXPECT_EQ(streamOf(damaged, stream), kSetupUnknownFormat);
}

// ---- compound files

TEST(CompoundFile, SetupStreamIsFoundInTheMiniStreamAndInSectors) {
    for (const std::size_t size : {std::size_t{1}, std::size_t{64}, std::size_t{700}, std::size_t{4095},
                                   std::size_t{4096}, std::size_t{9000}}) {
        const std::string stream = pattern(size);
        std::vector<std::uint8_t> out;
        std::string why;
        ASSERT_EQ(streamOf(compound(stream).bytes, out, &why), kSetupOk) << size << ": " << why;
        EXPECT_EQ(out, bytesOf(stream)) << size;
    }
    // Names compare without case, as the format does.
    std::vector<std::uint8_t> out;
    ASSERT_EQ(streamOf(compound("abc", u"spsetup").bytes, out), kSetupOk);
    EXPECT_EQ(out, bytesOf("abc"));
    // A version 3 writer may leave garbage in the high half of a stream size.
    Compound c = compound("abc");
    put32(c.bytes, c.dirAt + 2 * 128 + 124, 0xDEADBEEF);
    ASSERT_EQ(streamOf(c.bytes, out), kSetupOk);
    EXPECT_EQ(out, bytesOf("abc"));
    // A file read from disk goes the same way.
    TempFolder folder;
    writeBytes(folder.path() / "windows.qvpp", compound("from windows").bytes);
    ASSERT_EQ(spReadSetupFile(folder.path() / "windows.qvpp", out), kSetupOk);
    EXPECT_EQ(out, bytesOf("from windows"));
}

TEST(CompoundFile, DamageIsAnErrorNeverAHangOrAnOverrun) {
    struct Damage {
        const char* name;
        std::string stream;
        std::function<void(Compound&)> apply;
    };
    const std::size_t setupEntry = 1024 + 2 * 128;
    const Damage cases[] = {
        {"no such stream", "abc", [](Compound& c) { put16(c.bytes, c.dirAt + 2 * 128, u'X'); }},
        {"the name is a storage", "abc", [&](Compound& c) { c.bytes[setupEntry + 66] = 1; }},
        {"mini stream chain in a cycle", std::string(600, 'm'), [](Compound& c) { put32(c.bytes, c.fatAt + 4 * 3, 3); }},
        {"mini table chain in a cycle", std::string(200, 'm'), [](Compound& c) { put32(c.bytes, c.miniFatAt + 4 * 2, 1); }},
        {"sector chain in a cycle", std::string(5000, 's'), [](Compound& c) { put32(c.bytes, c.fatAt + 4 * 5, 4); }},
        {"sector number out of range", std::string(5000, 's'), [&](Compound& c) { put32(c.bytes, setupEntry + 116, 0x7FFFFFF0); }},
        {"mini sector out of range", "abc", [&](Compound& c) { put32(c.bytes, setupEntry + 116, 900); }},
        {"chain shorter than its stream", std::string(5000, 's'), [](Compound& c) { put32(c.bytes, c.fatAt + 4 * 5, kEnd); }},
        {"stream larger than the file", std::string(5000, 's'), [&](Compound& c) { put32(c.bytes, setupEntry + 120, 1u << 30); }},
        {"directory tree in a cycle", "abc", [](Compound& c) { put32(c.bytes, c.dirAt + 128 + 72, 1); }},
        {"directory entry out of range", "abc", [](Compound& c) { put32(c.bytes, c.dirAt + 128 + 72, 77); }},
        {"table sectors beyond the file", "abc", [](Compound& c) { put32(c.bytes, 44, 0x10000000); }},
        {"table sector outside the file", "abc", [](Compound& c) { put32(c.bytes, 76, 5000); }},
        {"more table sectors than listed", "abc", [](Compound& c) { put32(c.bytes, 44, 2); }},
        {"root is no root", "abc", [](Compound& c) { c.bytes[c.dirAt + 66] = 1; }},
        {"unknown sector size", "abc", [](Compound& c) { put16(c.bytes, 30, 10); }},
        {"cut inside the mini stream", "abc", [](Compound& c) { c.bytes.resize(c.miniFatAt + 512 + 10); }},
        {"cut inside the header", "abc", [](Compound& c) { c.bytes.resize(300); }},
    };
    for (const Damage& d : cases) {
        Compound c = compound(d.stream);
        d.apply(c);
        std::vector<std::uint8_t> out = bytesOf("kept");
        std::string why;
        EXPECT_EQ(streamOf(c.bytes, out, &why), kSetupUnknownFormat) << d.name;
        EXPECT_EQ(out, bytesOf("kept")) << d.name;
        EXPECT_FALSE(why.empty()) << d.name;
    }
}

// Random damage to both layouts: every read ends with an answer and touches
// no byte outside the file (the sanitizer build checks every access).
TEST(CompoundFile, RandomDamageGivesAnAnswer) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kRounds = 3000;
#else
    constexpr int kRounds = 10000;
#endif
    const std::vector<std::uint8_t> own = spSetupFileBytes(bytesOf(pattern(40)));
    const std::string fixtures[] = {compound("a small setup").bytes, compound(pattern(5000)).bytes,
                                    std::string(own.begin(), own.end())};
    std::mt19937 random(11);
    for (int round = 0; round < kRounds; ++round) {
        std::string bytes = fixtures[static_cast<std::size_t>(round) % 3];
        const int changes = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < changes; ++i) {
            // Damage where the numbers live more often than in the data.
            const std::size_t at = random() % 2 == 0 ? random() % std::min<std::size_t>(bytes.size(), 1536)
                                                     : random() % bytes.size();
            bytes[at] = static_cast<char>(random() & 0xFF);
        }
        if (random() % 8 == 0) bytes.resize(random() % bytes.size());
        std::vector<std::uint8_t> out;
        const int rc = streamOf(bytes, out);
        ASSERT_TRUE(rc == kSetupOk || rc == kSetupUnknownFormat) << "round " << round;
        if (rc == kSetupOk) {
            EXPECT_LE(out.size(), bytes.size());
        }
    }
}

}  // namespace
}  // namespace qvp3
