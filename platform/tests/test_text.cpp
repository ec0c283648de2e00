#include <gtest/gtest.h>

#include "platform/text.h"

using namespace std::string_literals;

namespace platform {
namespace {

TEST(TextEncoding, Utf8AndUtf16RoundTrip) {
    const std::string samples[] = {
        "", "plain", "Grüße", "Мелодия", "日本語", "emoji 🎵 note", "\x00mid"s.substr(0, 4),
    };
    for (const auto& s : samples) {
        EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(s)), s) << s;
    }
    EXPECT_EQ(utf8ToUtf16("🎵").size(), 2u);  // a surrogate pair
}

TEST(TextEncoding, BrokenInputBecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::u16string expected;
    } cases[] = {
        {"a\xFF" "b", u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},                        // truncated sequence at the end
        {"\xC0\xAF", u"\uFFFD\uFFFD"},              // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},    // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.bytes), c.expected);
        EXPECT_FALSE(isValidUtf8(c.bytes));
    }
    EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
    EXPECT_TRUE(isValidUtf8("\xEF\xBF\xBD ok"));
}

TEST(TextEncoding, Cp1252MapsTheWindowsCharacters) {
    struct Case {
        unsigned char byte;
        const char* utf8;
    } cases[] = {
        {0x41, "A"}, {0x80, "€"}, {0x8A, "Š"}, {0x96, "–"}, {0x9F, "Ÿ"},
        {0xE9, "é"}, {0xFF, "ÿ"}, {0x81, "\xC2\x81"},  // undefined byte kept as C1 control
    };
    for (const auto& c : cases) {
        const std::string byte(1, static_cast<char>(c.byte));
        EXPECT_EQ(cp1252ToUtf8(byte), c.utf8) << int(c.byte);
        bool lossy = true;
        EXPECT_EQ(utf8ToCp1252(c.utf8, &lossy), byte) << int(c.byte);
        EXPECT_FALSE(lossy);
    }
}

TEST(TextEncoding, Cp1252MarksWhatItCannotHold) {
    bool lossy = false;
    EXPECT_EQ(utf8ToCp1252("Ab Жк €", &lossy), "Ab ?? \x80");
    EXPECT_TRUE(lossy);
    EXPECT_TRUE(fitsCp1252("Crème brûlée – €5"));
    EXPECT_FALSE(fitsCp1252("Чайковский"));
    EXPECT_FALSE(fitsCp1252("bad \xFF byte"));
}

TEST(TextEncoding, Utf16LeByteImage) {
    const std::u16string text = u"Ré";
    const std::string bytes = utf16ToLeBytes(text);
    EXPECT_EQ(bytes, std::string("R\0\xE9\0", 4));
    EXPECT_EQ(utf16leBytesToString(bytes), text);
    EXPECT_EQ(utf16leBytesToString(bytes + "X"), text);  // an odd trailing byte is dropped
}

TEST(TextCase, NamesCompareWithoutCase) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"Project File 01", "PROJECT FILE 01", true},
        {"Übung", "üBUNG", true},
        {"ЛЕС", "лес", true},
        {"Ŀa", "ŀA", true},
        {"abc", "abd", false},
        {"abc", "abcd", false},
        {"a\xFF", "a\xFE", false},  // two different broken bytes are two different names
        {"a\xFF", "A\xFF", true},
        {"", "", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equalsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(foldCase(c.a) == foldCase(c.b), c.equal) << c.a << " / " << c.b;
    }
    EXPECT_EQ(trimBlanks(" \t key \r\n"), "key");
    EXPECT_EQ(trimBlanks("   "), "");
}

TEST(TextCut, FirstCharactersNeverSplitACharacter) {
    struct Case {
        std::string text;
        std::size_t count;
        std::string expected;
    } cases[] = {
        {"Grüße", 3, "Grü"},
        {"日本語", 2, "日本"},
        {"🎵 note", 1, "🎵"},
        {"ab", 5, "ab"},
        {"ab", 0, ""},
        {"", 3, ""},
        {"a\xFF" "bc", 2, "a\xFF"},  // a broken byte counts as one character
        {"\xE6\x97", 1, "\xE6"},    // so does each byte of a cut sequence
    };
    for (const auto& c : cases) EXPECT_EQ(firstCharacters(c.text, c.count), c.expected) << c.text << " " << c.count;
}

}  // namespace
}  // namespace platform
