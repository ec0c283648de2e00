#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTableView>

#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "../src/pages/prc_lists.h"
#include "../src/pages/prc_page.h"
#include "../src/pages/vol_profile_slots.h"
#include "vol_page_fixture.h"

namespace qvp3 {
namespace {

using testing::PageStudio;

bool gShift = false;

// A score of a piano stave and a drum stave with three instruments.
ProjectEntry& addDrumScore(Project& project, const std::string& name) {
    ProjectEntry entry;
    entry.Filename = "/music/" + name + ".tvrx";
    entry.kind = EntryKind::TvrXml;
    entry.staveCount = 2;
    entry.voiceCounts = {1, 1};
    entry.voices.resize(2);
    entry.voices[1].sound = 128;  // a percussion sound: a drum stave
    entry.states.create(2, entry.voiceCounts);
    entry.instruments.resize(2);
    entry.instruments[0].resize(1);
    for (auto [id, key] : {std::pair{"Kick", 36}, {"Snare", 38}, {"Hat", 42}}) {
        scorecore::CMidiInstr record;
        record.InstrumentId = id;
        record.PercNote = static_cast<std::uint8_t>(key);
        entry.instruments[1].push_back(record);
    }
    cnvEntryModel(entry).staveNames = {"Piano", "Drum Kit"};
    entry.trackNames = {"", "Piano", "Drum Kit"};
    entry.project = &project;
    project.entries.push_back(std::move(entry));
    project.currentEntry = project.fileNum() - 1;
    return project.entries.back();
}

struct PrcStudio : PageStudio {
    PrcStudio() {
        stpShiftHeld = [] { return gShift; };
        gShift = false;
        addDrumScore(project(), "groove");
    }
    QWidget& window() { return *windows.at(kStepPrc); }
    template <class T>
    T& get(int id) {
        return *qvp3ui::findControl<T>(window(), id);
    }
    QTableView& staves() { return get<QTableView>(kPrcStaveList); }
    QTableView& instruments() { return get<QTableView>(kPrcInstrumentList); }
    QString keyText(int row) { return instruments().model()->index(row, 0).data().toString(); }
    void chooseKey(int key) {
        auto& combo = get<QComboBox>(kPrcKeyCombo);
        combo.setCurrentIndex(key);
        emit combo.activated(key);
    }
    std::vector<std::uint32_t> sent() {
        std::vector<std::uint32_t> packed;
        PrcOutput* output = PrcOutput::of(page(kStepPrc));
        auto* out = output != nullptr ? dynamic_cast<platform::CaptureMidiOut*>(output->device()) : nullptr;
        if (out != nullptr) {
            for (const auto& m : out->messages()) packed.push_back(m.packed & 0xFFFFFF);
        }
        return packed;
    }
};

TEST(PercussionPage, KeysShowTheirPercussionNamesOnlyWithinTheDrumRange) {
    PrcStudio s;
    s.useEnglish();
    s.show(kStepPrc);
    auto& combo = s.get<QComboBox>(kPrcKeyCombo);
    ASSERT_EQ(combo.count(), 128);
    EXPECT_EQ(combo.itemText(0), "0: 0");
    EXPECT_EQ(combo.itemText(34), "34: 34");
    EXPECT_EQ(combo.itemText(35), "35: Acoustic Bass Drum");
    EXPECT_EQ(combo.itemText(81), "81: Open Triangle");
    EXPECT_EQ(combo.itemText(82), "82: 82");
    EXPECT_EQ(combo.itemText(127), "127: 127");
}

TEST(PercussionPage, ListsTheDrumStavesAndTheirInstrumentsAndChangesTheChosenKeys) {
    PrcStudio s;
    s.useEnglish();
    s.show(kStepPrc);
    ASSERT_EQ(s.staves().model()->rowCount(), 1) << "only the drum stave";
    EXPECT_EQ(s.staves().model()->index(0, 0).data().toString(), "2: Drum Kit");
    ASSERT_EQ(s.instruments().model()->rowCount(), 3);
    EXPECT_EQ(s.keyText(1), "Acoustic Snare");
    EXPECT_EQ(s.instruments().model()->index(1, 1).data().toString(), "Snare");
    EXPECT_EQ(s.get<QComboBox>(kPrcKeyCombo).currentIndex(), 36) << "the first instrument's key";

    // Choosing an instrument shows its key; a new key goes to the chosen ones.
    s.instruments().selectRow(2);
    EXPECT_EQ(s.get<QComboBox>(kPrcKeyCombo).currentIndex(), 42);
    s.project().saved = 1;
    s.project().currentStep = kStepPrc;
    s.chooseKey(90);
    ProjectEntry& entry = s.current();
    EXPECT_EQ(entry.instruments[1][2].PercNote, 90);
    EXPECT_EQ(entry.instruments[1][0].PercNote, 36);
    EXPECT_EQ(s.keyText(2), "90") << "a key outside the drum range is a bare number";
    EXPECT_EQ(s.project().saved, 0);
    EXPECT_NE(s.project().dirty & (1u << kStepPrc), 0u);

    // With Shift held every instrument of the stave takes the key.
    gShift = true;
    s.chooseKey(40);
    for (const auto& record : entry.instruments[1]) EXPECT_EQ(record.PercNote, 40);
    EXPECT_EQ(s.keyText(0), "Electric Snare");
}

TEST(PercussionPage, TheOptionBoxSwitchesTheProjectsFirstOptionBit) {
    PrcStudio s;
    s.project().playFeatures = 0x20000;
    s.show(kStepPrc);
    auto& box = s.get<QCheckBox>(kPrcOptionCheck);
    EXPECT_FALSE(box.isChecked());
    box.click();
    EXPECT_EQ(s.project().playFeatures, 0x20001u);
    box.click();
    EXPECT_EQ(s.project().playFeatures, 0x20000u);
}

TEST(PercussionPage, AnEntryWithoutDrumStavesShowsEmptyListsAndNoProfiles) {
    PrcStudio s;
    s.show(kStepPrc);
    ASSERT_EQ(s.files.open(testing::sampleMidiFile()), 0);  // two piano tracks, now the current entry
    StepPage& page = s.page(kStepPrc);
    page.onPartChanged(page, 0);
    EXPECT_EQ(s.staves().model()->rowCount(), 0);
    EXPECT_EQ(s.instruments().model()->rowCount(), 0);
    EXPECT_EQ(s.host.profileBarModes.back(), kProfileBarDisabled);
}

TEST(PercussionPage, AMidiFilesDrumKeysAreShownButNeverRemapped) {
    PrcStudio s;
    ProjectEntry& midi = addDrumScore(s.project(), "drums");
    midi.kind = EntryKind::Midi;
    midi.trackCount = 3;
    midi.voices[1].sound = 0;
    for (auto& record : midi.instruments[1]) record.Channel = 9;
    s.show(kStepPrc);
    ASSERT_EQ(s.instruments().model()->rowCount(), 3);
    EXPECT_FALSE(s.get<QComboBox>(kPrcKeyCombo).isEnabled());
    s.instruments().selectRow(0);
    s.chooseKey(50);
    EXPECT_EQ(midi.instruments[1][0].PercNote, 36) << "the MIDI writer finds a drum's track by its key";
    EXPECT_EQ(s.project().dirty, 0u);
}

TEST(PercussionPage, ColumnsFillTheListsAsLaidOut) {
    PrcStudio s;
    s.show(kStepPrc);
    EXPECT_EQ(s.staves().columnWidth(0), 2 * s.staves().viewport()->width());
    EXPECT_EQ(s.instruments().columnWidth(0) + s.instruments().columnWidth(1), s.instruments().viewport()->width());
    EXPECT_LE(s.get<QComboBox>(kPrcKeyCombo).geometry().right(), s.window().width() - 10);
}

TEST(PercussionPage, ThePreviewPlaysTheOneChosenKeyOnTheDrumChannel) {
    PrcStudio s;
    s.show(kStepPrc);
    StepPage& page = s.page(kStepPrc);
    s.instruments().selectRow(1);
    page.onToggle(page);
    EXPECT_EQ(s.sent(), (std::vector<std::uint32_t>{0x7F07B9, 0x400AB9, 0x7F2699}));
    qvp3ui::testing::processEventsFor(650);
    EXPECT_EQ(s.sent().back(), 0x002699u) << "the note ends half a second later";
    EXPECT_TRUE(s.files.shell.boxes.empty());

    struct Refusal {
        const char* why;
        std::function<void(PrcStudio&)> set;
    } refusals[] = {
        {"two instruments chosen",
         [](PrcStudio& t) {
             t.instruments().selectionModel()->select(t.instruments().model()->index(0, 0),
                                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
         }},
        {"a file plays", [](PrcStudio& t) { t.current().entryState = kEntryPlaying; }},
        {"no output", [](PrcStudio& t) {
             t.host.previewOutputs = false;
             t.page(kStepPrc).onShow(t.page(kStepPrc), false);
         }},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.why);
        PrcStudio t;
        t.show(kStepPrc);
        t.instruments().selectRow(1);
        r.set(t);
        const std::size_t before = t.sent().size();
        t.page(kStepPrc).onToggle(t.page(kStepPrc));
        EXPECT_EQ(t.sent().size(), before);
        ASSERT_EQ(t.files.shell.boxes.size(), 1u);
        EXPECT_EQ(t.files.shell.boxes[0].second, "S278");
    }
}

TEST(PercussionPage, KeysReachTheProjectFileAndAProfileGivesAnotherScoreTheSameKeys) {
    PrcStudio s;
    addDrumScore(s.project(), "second");
    s.project().currentEntry = 0;
    s.show(kStepPrc);
    s.instruments().selectRow(1);
    s.chooseKey(40);
    s.project().filePath = s.files.dir.path() / "Stage.c-1";
    ASSERT_TRUE(prjWriteFile(s.project()));
    std::ifstream in(s.project().filePath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Snare 40"), std::string::npos);
    EXPECT_NE(text.str().find("Kick 36"), std::string::npos);

    StepPage& page = s.page(kStepPrc);
    ASSERT_TRUE(prfWriteNewProfile(&s.project().entries[0], s.host.profiles, "rock", page, s.files.shell));
    const auto profiles = platform::listFiles(s.host.profiles.profileFolder, kProfilePattern);
    ASSERT_EQ(profiles.size(), 1u);
    s.project().currentEntry = 1;
    ASSERT_TRUE(stpLoadProfile(s.host.profiles, page, profiles[0], page.profileDataNum, kStepPrc, nullptr));
    s.files.pages.stpRefreshAfterProfile(page, nullptr);
    EXPECT_EQ(s.project().entries[1].instruments[1][1].PercNote, 40);
    EXPECT_EQ(s.keyText(1), "S32165");
}

TEST(PercussionPage, Screenshot) {
    PrcStudio s;
    s.useEnglish();
    QWidget& window = s.show(kStepPrc);
    s.instruments().selectRow(1);
    qvp3ui::testing::processEventsFor(20);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "page_PRC").empty());
}

}  // namespace
}  // namespace qvp3
