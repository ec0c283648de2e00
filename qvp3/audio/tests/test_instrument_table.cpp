// The sample library's instrument tables: sections into instruments and
// programs, note names, and the lookups of the render host and the pages.
#include <gtest/gtest.h>

#include <string>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/instrument_table.h"

namespace qvp3 {
namespace {

// As the table that ships with the library is written: two sections of one
// violin (same VST program), an organ and a piano whose names are cut by
// their own rules, percussion, and a section of garbage values.
const char* const kTable =
    "[Violine;sordino]\r\nvstprogram=40\r\nname=sordino\r\ndefault=55,57/59\r\ncontroler=7=100,11=64\r\n"
    "keyrange=g,e4\r\nreleasesample=Always\r\n"
    "[Violine;legato]\r\nvstprogram=40\r\nname=legato\r\ndefault=60\r\ncontroller=1=20\r\nkeyrange=g,c4\r\n"
    "[Wiener Konzerthaus-Orgel Plenum]\r\nvstprogram=19\r\nkeyrange=C1,c3\r\n"
    "[Klavier Bösendorfer Imperial]\r\nvstprogram=0\r\n"
    "[Set A|Tamburin,hell]\r\nvstprogram=200\r\ndefault=54\r\nkeyrange=f#,f#\r\n"
    "[Pauken]\r\nvstprogram=47\r\ndefault=x,300,-1,41\r\ncontroler=7=,=3,500=1,2=999\r\nkeyrange=H,Q\r\n";

class InstrumentTable : public ::testing::Test {
protected:
    void SetUp() override {
        platform::testing::writeBytes(folder_.path() / kQvoTableFile, kTable);
        table_ = CQvoInstrumentTable(folder_.path());
    }
    platform::testing::TempFolder folder_;
    CQvoInstrumentTable table_;
};

TEST_F(InstrumentTable, SectionsBecomeInstrumentsWithTheirPrograms) {
    ASSERT_EQ(table_.instrumentCount(), 5u);
    std::vector<std::string> names;
    for (const QvoListItem& item : table_.FillAllInstrumentsList()) names.push_back(item.text);
    EXPECT_EQ(names, (std::vector<std::string>{"00-Violine", "01-Wiener Konzerthaus-Orgel", "02-Klavier",
                                              "03-Tamburin", "04-Pauken"}));
    const QvoInstrument* violin = table_.GetInstrument(0);
    ASSERT_NE(violin, nullptr);
    EXPECT_EQ(violin->vstProgram, 40);
    EXPECT_TRUE(violin->releaseAlways);
    ASSERT_EQ(violin->programs.size(), 2u) << "same name and VST program: one instrument";
    const QvoProgram& sordino = violin->programs[0];
    EXPECT_EQ(sordino.name, "sordino");
    EXPECT_EQ(sordino.keys[55] + sordino.keys[57] + sordino.keys[59], 3);
    EXPECT_EQ(sordino.controllers[7], 100);
    EXPECT_EQ(sordino.controllers[11], 64);
    EXPECT_EQ(sordino.controllers[1], kQvoControllerUnset);
    EXPECT_EQ(sordino.lowKey, 55);
    EXPECT_EQ(sordino.highKey, 100);
    EXPECT_EQ(violin->programs[1].controllers[1], 20) << "\"controller\" when there is no \"controler\"";
    EXPECT_EQ(table_.GetInstrument(1)->programs[0].name, "normal");
    // Values that make no sense are passed over, never stored out of range.
    const QvoProgram& timpani = table_.GetInstrument(4)->programs[0];
    EXPECT_EQ(timpani.keys[41], 1);
    EXPECT_EQ(std::count(timpani.keys.begin(), timpani.keys.end(), 1), 1);
    EXPECT_EQ(std::count(timpani.controllers.begin(), timpani.controllers.end(), kQvoControllerUnset), 128);
    EXPECT_EQ(timpani.lowKey, -1);
    EXPECT_EQ(table_.GetInstrument(5), nullptr);
    EXPECT_EQ(table_.GetInstrument(-1), nullptr);
}

TEST_F(InstrumentTable, LookupsByNameProgramAndKey) {
    EXPECT_EQ(table_.FindInstrument("violine"), 0);
    EXPECT_EQ(table_.FindInstrument("Violine;pizzicato"), 0) << "by its shortened name";
    EXPECT_EQ(table_.FindInstrument("Bratsche"), -1);
    std::string name;
    EXPECT_EQ(table_.MapProgram(40, &name), 0) << "no map entry: the instrument of that VST program";
    EXPECT_EQ(name, "Violine");
    EXPECT_EQ(table_.MapProgram(128 + 35, &name), 3) << "percussion without a map entry: Tamburin";
    EXPECT_EQ(table_.MapProgram(5, &name), -1);
    EXPECT_EQ(name, "");
    std::array<QvoMapEntry, kQvoMapSize> map{};
    map[5] = {2, 0};
    map[kQvoPercussionBase + 54] = {3, 0};
    table_.SetProgramMap(map);
    EXPECT_EQ(table_.MapProgram(5), 2);
    EXPECT_EQ(table_.ProgramLowKey(kQvoPercussionBase + 54), 54);
    EXPECT_EQ(table_.ProgramLowKey(kQvoPercussionBase + 60), -1);
    EXPECT_EQ(table_.ProgramLowKey(10000), -1);
    EXPECT_EQ(table_.FindInstrumentForKey(57), table_.GetInstrument(0));
    EXPECT_EQ(table_.FindInstrumentForKey(54), table_.GetInstrument(3));
    EXPECT_EQ(table_.FindInstrumentForKey(200), nullptr);
    EXPECT_EQ(table_.GetVstProgram("PAUKEN"), 47);
    EXPECT_EQ(table_.GetVstProgram("Bratsche"), -1);
    EXPECT_EQ(table_.FillProgramList(0).size(), 2u);
    EXPECT_TRUE(table_.FillProgramList(9).empty());
}

TEST(InstrumentTableNames, NoteNamesAndSectionNames) {
    const struct {
        const char* name;
        int key;
    } notes[] = {{"C3", 0}, {"C#3", 1}, {"Db3", 1}, {"B3", 11}, {"C2", 12}, {"C", 36}, {"c", 48}, {"bb", 58},
                 {"c1", 60}, {"c#1", 61}, {"db1", 61}, {"g6", 127}, {"H", -1}, {"", -1}, {"c7", -1}};
    for (const auto& n : notes) EXPECT_EQ(CQvoInstrumentTable::noteKey(n.name), n.key) << n.name;
    EXPECT_EQ(CQvoInstrumentTable::sectionInstrumentName("Wiener Konzerthaus-Orgel Plenum"), "Wiener Konzerthaus-Orgel");
    EXPECT_EQ(CQvoInstrumentTable::sectionInstrumentName("Klavier Bösendorfer Imperial"), "Klavier");
    EXPECT_EQ(CQvoInstrumentTable::sectionInstrumentName("Set|Flöte;flatterzunge,leise"), "Flöte");
    EXPECT_EQ(CQvoInstrumentTable::sectionInstrumentName("Harfe,glissando"), "Harfe");
}

TEST(InstrumentTableNames, AMissingFileLeavesAnEmptyTable) {
    platform::testing::TempFolder folder;
    CQvoInstrumentTable table(folder.path());
    EXPECT_EQ(table.instrumentCount(), 0u);
    EXPECT_EQ(table.MapProgram(0), -1);
    EXPECT_EQ(table.MapProgram(200), -1);
    EXPECT_TRUE(table.FillInstrumentList().empty());
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// The table that ships beside the program.
TEST(InstrumentTableNames, TheShippedTableReads) {
    // The fixture folder need not exist: the path is resolved by its text.
    const std::filesystem::path data =
        (std::filesystem::path(QVP3_TEST_DATA_DIR) / ".." / ".." / ".." / ".." / "data").lexically_normal();
    CQvoInstrumentTable table(data);
    ASSERT_GT(table.instrumentCount(), 10u);
    std::string name;
    EXPECT_GE(table.MapProgram(40, &name), 0);
    EXPECT_EQ(name, "Violine");
    EXPECT_EQ(table.GetInstrument(table.MapProgram(40))->programs.size(), 2u);
    EXPECT_GE(table.MapProgram(128 + 54, &name), 0);
    EXPECT_EQ(name, "Tamburin");
    EXPECT_GE(table.FindInstrument("Flöte"), 0) << "names in the Windows code page read as text";
    EXPECT_NE(table.FindInstrumentForKey(38), nullptr);
}

}  // namespace
}  // namespace qvp3
