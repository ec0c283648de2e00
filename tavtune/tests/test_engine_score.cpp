// The open score: opening TvrXML and binary scores, their staves, voices,
// description and notes, voice settings and transposition, and files that
// must be refused without crashing.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine_fixtures.h"

using namespace tavtune;
using namespace tavtune::testing;

namespace {

std::vector<int> keysOf(const tvNoteList* list) {
    std::vector<int> keys;
    for (int i = 0; list != nullptr && i < list->count; ++i) keys.push_back(list->notes[i].key);
    return keys;
}

TEST(EngineScore, OpensATvrxmlScoreWithItsStavesAndVoices) {
    platform::testing::TempFolder dir;
    const fs::path tvrx = dir.path() / "piano.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("43a-PianoStaff.xml"), tvrx), 0);
    EngineScore score(tvrx);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    int staves = 0;
    while (call<145>(staves) != 0) ++staves;
    EXPECT_EQ(staves, 2);
    const auto* first = reinterpret_cast<const tvStaveRecord*>(call<145>(0));
    EXPECT_EQ(first->flags & TAVTUNE_STAVE_UTF8, TAVTUNE_STAVE_UTF8);
    EXPECT_NE(first->names[0], nullptr);
    EXPECT_EQ(first->voiceCount, 1);
    const auto* voice = reinterpret_cast<const tvVoiceRecord*>(call<131>(0, 0));
    ASSERT_NE(voice, nullptr);
    EXPECT_NE(voice->marker, 0);
    EXPECT_LT(voice->sound, 128);
    EXPECT_EQ(call<131>(0, 1), 0);
    EXPECT_FALSE(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(0, 0))).empty());
}

TEST(EngineScore, OpensABinaryScore) {
    platform::testing::TempFolder dir;
    const fs::path tvr = dir.path() / "two.tvr";
    writeFile(tvr, twoStaveBinaryScore());
    EngineScore score(tvr);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    EXPECT_NE(call<145>(1), 0);
    EXPECT_EQ(call<145>(2), 0);
    EXPECT_EQ(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(0, 0))), (std::vector<int>{72, 74, 76, 77}));
    EXPECT_EQ(keysOf(reinterpret_cast<const tvNoteList*>(call<146>(1, -1))), (std::vector<int>{72}));
}

}  // namespace

namespace {

tvVoiceRecord unsetRecord(int stave, int voice) {
    tvVoiceRecord r;
    tvVoiceRecordInit(&r, static_cast<std::uint8_t>(stave), static_cast<std::uint8_t>(voice));
    return r;
}

tvVoiceRecord readVoice(int stave, int voice) {
    tvVoiceRecord r = unsetRecord(stave, voice);
    EXPECT_EQ(call<124>(reinterpret_cast<tvWord>(&r), -1), 0) << "stave " << stave << " voice " << voice;
    return r;
}

struct TvrxScore {
    explicit TvrxScore(const fs::path& musicXml) : tvrx(dir.path() / "score.tvrx") {
        EXPECT_EQ(convertToTvrx(musicXml, tvrx), 0) << musicXml;
    }
    platform::testing::TempFolder dir;
    fs::path tvrx;
};

}  // namespace

// What a host sets in a voice is what it reads back, and what C131 answers;
// fields left unset stay as they were.
TEST(EngineScore, VoiceSettingsAreReadAsWritten) {
    TvrxScore file(sharedScore("41a-MultiParts-Partorder.xml"));
    EngineScore score(file.tvrx);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    const tvVoiceRecord neighbour = readVoice(0, 0);

    tvVoiceRecord change = unsetRecord(1, 0);
    change.sound = 41;
    change.volume = 90;
    change.panorama = static_cast<std::uint8_t>(static_cast<std::int8_t>(-20));
    change.channel = 5;
    ASSERT_EQ(call<125>(reinterpret_cast<tvWord>(&change), -1), 0);
    const tvVoiceRecord after = readVoice(1, 0);
    EXPECT_EQ(after.sound, 41);
    EXPECT_EQ(after.volume, 90);
    EXPECT_EQ(static_cast<std::int8_t>(after.panorama), -20);
    EXPECT_EQ(after.channel, 5);
    const auto* listed = reinterpret_cast<const tvVoiceRecord*>(call<131>(1, 0));
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->sound, 41);
    EXPECT_EQ(listed->volume, 90);

    // Only the volume set: the rest keeps the values just written.
    tvVoiceRecord volumeOnly = unsetRecord(1, 0);
    volumeOnly.volume = 30;
    ASSERT_EQ(call<125>(reinterpret_cast<tvWord>(&volumeOnly), -1), 0);
    EXPECT_EQ(readVoice(1, 0).sound, 41);
    EXPECT_EQ(readVoice(1, 0).channel, 5);
    EXPECT_EQ(readVoice(0, 0).sound, neighbour.sound);
    EXPECT_EQ(readVoice(0, 0).volume, neighbour.volume);

    // A voice the score does not have, a record of another size, no record.
    tvVoiceRecord missing = unsetRecord(40, 0);
    EXPECT_EQ(call<124>(reinterpret_cast<tvWord>(&missing), -1), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<125>(reinterpret_cast<tvWord>(&missing), -1), TAVTUNE_NOT_HANDLED);
    tvVoiceRecord wrongSize = unsetRecord(0, 0);
    wrongSize.size = 36;
    EXPECT_EQ(call<124>(reinterpret_cast<tvWord>(&wrongSize), -1), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<124>(0, -1), TAVTUNE_NOT_HANDLED);
}

// Settings handed over with the score (C176's chain) apply to the voices they
// name; a link to a voice the score lacks is passed over.
TEST(EngineScore, SettingsHandedOverWithTheScoreApply) {
    TvrxScore file(sharedScore("41a-MultiParts-Partorder.xml"));
    tvVoiceRecord second = unsetRecord(2, 0);
    second.volume = 55;
    tvVoiceRecord absent = unsetRecord(99, 3);
    absent.volume = 10;
    absent.next = &second;
    tvVoiceRecord first = unsetRecord(0, 0);
    first.sound = 19;
    first.next = &absent;
    EngineScore score(file.tvrx, &first);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    EXPECT_EQ(readVoice(0, 0).sound, 19);
    EXPECT_EQ(readVoice(2, 0).volume, 55);
}

// Transposition moves pitched voices and leaves percussion where it is.
TEST(EngineScore, TranspositionReachesPitchedVoicesOnly) {
    TvrxScore file(scoreconvData("walk_percussion.xml"));
    EngineScore score(file.tvrx);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(call<87>(-3), 0);
    for (int s = 0; call<145>(s) != 0; ++s) {
        const auto* stave = reinterpret_cast<const tvStaveRecord*>(call<145>(s));
        const tvVoiceRecord v = readVoice(s, 0);
        SCOPED_TRACE(s);
        if (stave->percussion != 0) {
            EXPECT_GE(v.sound, 128);
            EXPECT_EQ(static_cast<std::int8_t>(v.transposition), 0);
        } else {
            EXPECT_EQ(static_cast<std::int8_t>(v.transposition), -3);
        }
    }
    EXPECT_EQ(call<87>(0), 0);
}

// A percussion stave's notes come out as the keys its instruments sound, the
// ones the score library plays from the MusicXML file itself: the drum map of
// the ".tvrx" takes each display position to its instrument's key.
TEST(EngineScore, PercussionNotesAreTheKeysTheirInstrumentsSound) {
    const fs::path musicXml = scoreconvData("walk_percussion.xml");
    int signal = 0;
    auto library = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRender, &signal, 480, "qvp3 test", nullptr);
    ASSERT_EQ(scoreconv::loadPlayModel(*library, musicXml), 0);
    std::vector<int> expected;
    for (const scorecore::CScoreEvent& e : library->events.events(0, 0)) {
        for (int h = 0; h < e.headCount; ++h) {
            expected.push_back(library->instruments.percussionKey(0, static_cast<int>((e.midi[static_cast<std::size_t>(h)] >> 8) & 0xFF)));
        }
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(expected, (std::vector<int>{35, 35, 38, 64}));

    TvrxScore file(musicXml);
    EngineScore score(file.tvrx);
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    ASSERT_NE(reinterpret_cast<const tvStaveRecord*>(call<145>(0))->percussion, 0);
    std::vector<int> keys = keysOf(reinterpret_cast<const tvNoteList*>(call<146>(0, 0)));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, expected);
}

// Files that are no score, or a damaged one, are refused with a code and the
// score open before stays open; nothing of a failed open is left.
TEST(EngineScore, FilesThatAreNoScoreAreRefused) {
    platform::testing::TempFolder dir;
    TvrxScore good(sharedScore("43a-PianoStaff.xml"));
    const fs::path text = dir.path() / "notes.tvrx";
    platform::testing::writeBytes(text, "just some text\n");
    const fs::path empty = dir.path() / "empty.tvr";
    platform::testing::writeBytes(empty, "");
    const fs::path musicXml = sharedScore("01a-Pitches-Pitches.xml");
    const fs::path brokenZip = dir.path() / "broken.tvrx";
    platform::testing::writeBytes(brokenZip, std::string("PK\x03\x04", 4) + std::string(200, 'x'));
    const fs::path badBinary = dir.path() / "bad.tvr";
    const bintest::Bytes head = bintest::fileHeader().add(bintest::documentHead());
    platform::testing::writeBytes(badBinary, std::string(head.span().begin(), head.span().end()) + "V");

    const struct {
        const char* what;
        fs::path path;
        int expected;
    } cases[] = {
        {"missing file", dir.path() / "absent.tvrx", TAVTUNE_OPEN_READ_ERROR},
        {"a folder", dir.path(), TAVTUNE_OPEN_READ_ERROR},
        {"text", text, TAVTUNE_OPEN_UNKNOWN},
        {"empty file", empty, TAVTUNE_OPEN_UNKNOWN},
        {"MusicXML is not opened by the engine", musicXml, TAVTUNE_OPEN_UNKNOWN},
        {"a zip that is not whole", brokenZip, TAVTUNE_OPEN_REJECTED},
        {"a binary score cut after its magic", badBinary, TAVTUNE_OPEN_REJECTED},
    };
    EngineScore open(good.tvrx);
    ASSERT_EQ(open.result(), TAVTUNE_OPEN_OK);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.path.string();
        EXPECT_EQ(call<176>(reinterpret_cast<tvWord>(path.c_str()), 0, 0, 0, 100, 0), c.expected);
        EXPECT_NE(call<145>(1), 0) << "the score open before stays open";
    }
    EXPECT_EQ(call<176>(0, 0, 0, 0, 100, 0), TAVTUNE_OPEN_NO_SCORE);
    EXPECT_EQ(call<176>(reinterpret_cast<tvWord>(""), 0, 0, 0, 100, 0), TAVTUNE_OPEN_NO_SCORE);
}

// Without an open score every score entry point answers "none".
TEST(EngineScore, WithoutAScoreEveryQueryAnswersNone) {
    entry<101>(0, 0, 0x40000000, 0, 0, 0);
    tvVoiceRecord r = unsetRecord(0, 0);
    EXPECT_EQ(call<143>(), 0);
    EXPECT_EQ(call<145>(0), 0);
    EXPECT_EQ(call<131>(0, 0), 0);
    EXPECT_EQ(call<146>(0, 0), 0);
    EXPECT_EQ(call<124>(reinterpret_cast<tvWord>(&r), -1), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<125>(reinterpret_cast<tvWord>(&r), -1), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<87>(2), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<101>(0, 0, 0x40000000), 0);
    EXPECT_EQ(call<41>(), 0);
}

// Damaged copies of a ".tvrx" and of a binary score open with a code or as a
// score, never crash (the sanitizer build runs this), and leave the engine
// able to open the good file afterwards.
TEST(EngineScore, DamagedScoresNeverCrash) {
    TvrxScore tvrx(scoreconvData("walk_chords.xml"));
    platform::testing::TempFolder dir;
    const fs::path binary = dir.path() / "good.tvr";
    writeFile(binary, twoStaveBinaryScore());
    std::mt19937 random(20261210);
    for (const fs::path& good : {tvrx.tvrx, binary}) {
        const std::string bytes = platform::testing::readBytes(good);
        const fs::path damaged = dir.path() / ("damaged" + good.extension().string());
        std::vector<std::string> copies;
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 40) copies.push_back(bytes.substr(0, cut));
        for (int i = 0; i < 150; ++i) {
            std::string copy = bytes;
            for (int n = 0; n < 1 + i % 4; ++n) {
                copy[random() % copy.size()] = static_cast<char>(random() & 0xFF);
            }
            copies.push_back(std::move(copy));
        }
        for (const std::string& copy : copies) {
            platform::testing::writeBytes(damaged, copy);
            EngineScore score(damaged);
            EXPECT_TRUE(score.result() == TAVTUNE_OPEN_OK || score.result() == TAVTUNE_OPEN_REJECTED ||
                        score.result() == TAVTUNE_OPEN_UNKNOWN)
                << score.result();
            for (int s = 0; call<145>(s) != 0; ++s) call<146>(s, -1);
        }
        EngineScore again(good);
        EXPECT_EQ(again.result(), TAVTUNE_OPEN_OK) << good;
    }
}
