// The string tables, the checked formatter and the application variables.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "infokit_de_lang.h"
#include "infokit_en_lang.h"
#include "infokit_state.h"
#include "string_table.h"
#include "text_format.h"

namespace infokit {
namespace {

TEST(InfoKitStrings, LanguagesPickTheirBlockAndUrlCode) {
    struct Row {
        int language;
        const char* urlCode;
        const char* expected;  // the start of text 1501
    };
    const Row rows[] = {
        {0, "", "Finish"},         {1, "DE", "Fertigstellen"}, {5, "US", "Finish"},
        {6, "GB", "Finish"},       {3, "FN", "Finish"},  // no Finnish table: English
        {10, "UN", "Finish"},      {12, "NO", "Finish"},       {99, "", "Finish"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.language);
        EXPECT_EQ(languageInfo(row.language).urlCode, row.urlCode);
        EXPECT_EQ(text(row.language, 1501), row.expected);
    }
}

TEST(InfoKitStrings, EveryPublicNumberExistsInEnglishAndGermanExceptTheGaps) {
    for (int n = 500; n <= 553; ++n) {
        SCOPED_TRACE(n);
        const bool gap = n == 530 || n == 549;
        EXPECT_EQ(loadText(0, 1000 + n).has_value(), !gap);
        EXPECT_EQ(loadText(1, 1000 + n).has_value(), !gap);
        if (!gap) {
            EXPECT_NE(*loadText(0, 1000 + n), *loadText(1, 1000 + n));
        }
    }
    EXPECT_FALSE(loadText(0, 1499));
}

// Every German text takes the same arguments as its English one, so that no
// language falls back to English for a badly written conversion.
TEST(InfoKitStrings, GermanConversionsMatchTheEnglishOnes) {
    const StringTable english = StringTable::parse(kEnglishTable);
    const StringTable german = StringTable::parse(kGermanTable);
    EXPECT_GT(english.size(), 100u);
    EXPECT_EQ(english.size(), german.size());
    auto conversions = [](std::string_view text) {
        std::string out;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == '%') out.push_back(text[++i]);
        }
        return out;
    };
    for (int n = 1000; n < 1600; ++n) {
        const auto en = english.find(n);
        if (!en) continue;
        SCOPED_TRACE(n);
        ASSERT_TRUE(german.find(n + 5000));
        EXPECT_EQ(conversions(*en), conversions(*german.find(n + 5000)));
    }
}

TEST(InfoKitStrings, ParserSkipsBrokenLinesAndKeepsTheFirstOfTwins) {
    const StringTable table = StringTable::parse(
        "# comment\r\n1\tone\r\n1\tagain\nx2\tbad\n3\n\t4\n-5\tneg\n6\ta\\nb\\\\c\n7\t\n99999999999\tbig");
    EXPECT_EQ(table.find(1), "one");
    EXPECT_EQ(table.find(6), "a\nb\\c");
    EXPECT_EQ(table.find(7), "");
    EXPECT_EQ(table.size(), 3u);
}

// Mutated tables never crash the parser (the sanitizer build watches).
TEST(InfoKitStrings, MutatedTablesParse) {
    std::mt19937 random(23);
    const std::string original(kGermanTable);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = original;
        for (int i = 0; i < 20; ++i) {
            bytes[random() % bytes.size()] = static_cast<char>(random() % 256);
        }
        bytes.resize(random() % bytes.size());
        const StringTable table = StringTable::parse(bytes);
        EXPECT_LE(table.size(), 200u);
    }
}

TEST(InfoKitFormat, ConversionsAreCheckedAgainstTheArguments) {
    struct Row {
        const char* format;
        std::optional<std::string> expected;
    };
    // Arguments throughout: "ab", 7.
    const Row rows[] = {
        {"%s=%i", "ab=7"},
        {"%5s|%-4s|%03d|%x|%X%%", std::nullopt},  // four conversions for two arguments
        {"[%4s][%-4s]", std::nullopt},              // two texts, but the second argument is a number
        {"%s %s", std::nullopt},
        {"%i %s", std::nullopt},                    // kinds swapped
        {"%s", std::nullopt},                       // an argument left over
        {"%s %i %i", std::nullopt},                 // one missing
        {"%s %n", std::nullopt},                    // %n is never honoured
        {"%s %p", std::nullopt},
        {"%s %f", std::nullopt},
        {"%s %", std::nullopt},
        {"%.1s %lu", "a 7"},
        {"%-4s|%03i", "ab  |007"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.format);
        EXPECT_EQ(formatChecked(row.format, {std::string_view("ab"), std::int64_t{7}}), row.expected);
    }
    EXPECT_EQ(formatChecked("%08X|%x|%5i|%-3d|%%", {std::int64_t{0xBEEF}, std::int64_t{255}, std::int64_t{-42},
                                                   std::int64_t{1}}),
              "0000BEEF|ff|  -42|1  |%");
    EXPECT_EQ(formatChecked("%4s|", {std::string_view("äö")}), "  äö|");
}

TEST(InfoKitFormat, FormatTextFallsBackToEnglishThenToTheBareText) {
    EXPECT_EQ(formatText(1, 1519, {std::string_view("a.so")}), "Die Datei \"a.so\" wurde erfolgreich installiert.");
    // Wrong argument kinds: no conversion reaches the output.
    EXPECT_EQ(formatText(0, 1519, {std::int64_t{3}}), "The file \"%s\" has been installed successfully.");
    EXPECT_EQ(formatText(0, 1168, {std::string_view("1.00"), std::string_view("2.00"), std::int64_t{50}}),
              "Downloaded 1.00 MB of 2.00 MB (50%).");
}

TEST(InfoKitVariables, FirstMatchWithoutRegardToCase) {
    InfoKitState st;
    EXPECT_FALSE(appvarGet(st, "x"));
    EXPECT_TRUE(appvarAdd(st, "Path", "one"));
    EXPECT_TRUE(appvarAdd(st, "PATH", "two"));
    EXPECT_TRUE(appvarAdd(st, "Ärger", "three"));
    EXPECT_EQ(appvarGet(st, "pAtH"), "one");
    EXPECT_EQ(appvarGet(st, "ärger"), "three");
    EXPECT_FALSE(appvarGet(st, "Pat"));
    // Names and values are cut at their fields.
    EXPECT_TRUE(appvarAdd(st, std::string(300, 'n'), std::string(300, 'v')));
    EXPECT_EQ(appvarGet(st, std::string(255, 'n'))->size(), 259u);
}

TEST(InfoKitProduct, HostRowAndVersionText) {
    EXPECT_EQ(productRow(kHostProductIndex).displayName, "Tavrena Orvendo");
    EXPECT_EQ(parseVersionText(productRow(kHostProductIndex).versionText), std::make_pair(3, 0));
    EXPECT_FALSE(parseVersionText("3"));
    EXPECT_FALSE(parseVersionText("3.x"));
    EXPECT_FALSE(parseVersionText(".1"));
    InfoKitState st;
    EXPECT_EQ(st.product().displayName, "");  // nothing selected at load
}

}  // namespace
}  // namespace infokit
