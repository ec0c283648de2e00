// The clean-up page: what its boxes offer, the deletion of whole projects
// (only folders below the projects root, the open project last and after a
// second question), and the main road through the run commands of the
// conversion, export and clean-up pages on a real score and a MIDI file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTreeView>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "../../../scoreconv/tests/mido_support.h"
#include "../../pipeline/tests/engine_test_support.h"
#include "../../pipeline/tests/smf_bytes.h"
#include "../src/pages/page_cln.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "main_road_support.h"
#include "shown_page_support.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ShownPage;

// A project of the catalogue: a folder below the root with a project file.
fs::path makeProject(const fs::path& root, const std::string& name) {
    const fs::path folder = root / name;
    fs::create_directories(folder);
    std::ofstream(folder / (name + ".c-1")) << "[zq1 Project File]\r\nProjectTitle=" << name << "\r\n";
    std::ofstream(folder / "song.mid") << "MThd";
    return folder;
}

struct ClnFixture {
    ClnFixture() {
        shell.projectsRootFolder = root.path();
        stpSetPageHost(&host);
    }
    ~ClnFixture() { stpSetPageHost(nullptr); }
    void select(ShownPage& page, std::initializer_list<std::string> titles) {
        auto* list = page.find<QTreeView>(kClnProjectList);
        auto* model = qobject_cast<QStandardItemModel*>(list->model());
        for (int row = 0; row < model->rowCount(); ++row) {
            for (const std::string& title : titles) {
                if (model->item(row)->text().toStdString() != title) continue;
                list->selectionModel()->select(model->index(row, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
        }
    }
    int rows(ShownPage& page) { return page.find<QTreeView>(kClnProjectList)->model()->rowCount(); }

    platform::testing::TempFolder root;
    testing::TableShell shell;
    StepPages pages;
    Project project{Neighbours{nullptr, nullptr, &shell, &pages}};
    testing::RecordingPageHost host{project};
};

TEST(CleanUpPage, ANewPageHasOnlyTheWavBoxTickedAndRunFollowsTheBoxes) {
    testing::EnglishTexts texts;
    ClnFixture f;
    ShownPage cln(*f.project.stepPages[kStepCln]);
    EXPECT_FALSE(cln.find<QCheckBox>(kClnMidiBox)->isChecked());
    EXPECT_TRUE(cln.find<QCheckBox>(kClnWaveBox)->isChecked());
    EXPECT_FALSE(cln.find<QCheckBox>(kClnMp3Box)->isChecked());
    EXPECT_TRUE(cln.button(kCmdRun)->isEnabled());
    cln.click(kClnWaveBox);
    EXPECT_FALSE(cln.button(kCmdRun)->isEnabled()) << "nothing ticked: nothing to run";
    cln.click(kClnMp3Box);
    EXPECT_TRUE(cln.button(kCmdRun)->isEnabled());
}

TEST(CleanUpPage, DeletingProjectsAsksFirstAndRemovesOnlyTheSelectedFolders) {
    ClnFixture f;
    const fs::path a = makeProject(f.root.path(), "Alpha");
    const fs::path b = makeProject(f.root.path(), "Beta");
    const fs::path c = makeProject(f.root.path(), "Gamma");
    ShownPage cln(*f.project.stepPages[kStepCln]);
    stpShowPage(cln.page, true);
    ASSERT_EQ(f.rows(cln), 3);

    cln.button(kCmdToggle)->trigger();
    EXPECT_EQ(f.shell.boxes.back(), std::make_pair(kBoxInformation, std::string("S448"))) << "nothing selected";
    EXPECT_TRUE(f.shell.questions.empty());

    f.select(cln, {"Alpha", "Gamma"});
    f.shell.answers = {kIdNo};
    cln.button(kCmdToggle)->trigger();
    EXPECT_TRUE(fs::exists(a) && fs::exists(c)) << "No leaves every folder";

    f.select(cln, {"Alpha", "Gamma"});
    cln.button(kCmdToggle)->trigger();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_TRUE(fs::exists(b));
    EXPECT_FALSE(fs::exists(c));
    EXPECT_EQ(f.shell.boxes.back().second, "S60258") << "the table's text has no count here";
    EXPECT_EQ(f.rows(cln), 1) << "the list is filled again";
    EXPECT_TRUE(f.host.commands.empty()) << "the open project was not among them";
}

TEST(CleanUpPage, TheOpenProjectIsAskedForAgainClosedAndRemovedLast) {
    ClnFixture f;
    const fs::path open = makeProject(f.root.path(), "Open");
    const fs::path other = makeProject(f.root.path(), "Other");
    f.project.data.ProjectFolder = open;
    for (int answer : {kIdNo, kIdYes}) {
        ShownPage cln(*f.project.stepPages[kStepCln]);
        stpShowPage(cln.page, true);
        f.select(cln, {"Open", "Other"});
        f.shell.answers = {kIdYes, answer};
        cln.button(kCmdToggle)->trigger();
        EXPECT_FALSE(fs::exists(other));
        EXPECT_EQ(fs::exists(open), answer == kIdNo);
        EXPECT_EQ(f.host.commands, answer == kIdNo ? std::vector<int>{} : std::vector<int>{kCmdCloseFiles});
        EXPECT_EQ(f.shell.boxes[f.shell.boxes.size() - 2].first, kBoxQuestion);
        EXPECT_EQ(f.shell.boxes[f.shell.boxes.size() - 2].second, "S447");
    }
    EXPECT_EQ(f.shell.projectFolder, f.root.path());
}

// A row whose folder name would lead to the root itself or out of it
// (a damaged catalogue, a folder named by hand) is never deleted.
TEST(CleanUpPage, OnlyFoldersDirectlyBelowTheRootCanBeDeleted) {
    for (const char* name : {"", ".", "..", "a/b", "..\\x", "/etc"}) EXPECT_FALSE(stpClnIsProjectFolderName(name)) << name;
    EXPECT_TRUE(stpClnIsProjectFolderName("My project"));

    ClnFixture f;
    const fs::path keep = makeProject(f.root.path(), "Keep");
    ShownPage cln(*f.project.stepPages[kStepCln]);
    stpShowPage(cln.page, true);
    auto* model = qobject_cast<QStandardItemModel*>(cln.find<QTreeView>(kClnProjectList)->model());
    for (const char* name : {"..", ""}) {
        auto* row = new QStandardItem(name);
        row->setData(QString::fromUtf8(name), Qt::UserRole);
        model->appendRow(row);
    }
    auto* list = cln.find<QTreeView>(kClnProjectList);
    for (int row = 1; row < model->rowCount(); ++row) {
        list->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    cln.button(kCmdToggle)->trigger();
    EXPECT_TRUE(fs::exists(keep));
    EXPECT_TRUE(fs::exists(f.root.path()));
    EXPECT_TRUE(fs::exists(f.root.path().parent_path()));
}

// --- the main road ----------------------------------------------------------------

std::string pianoAndBass() {
    using namespace testing;
    const std::string conductor = name("Song") + meter(0, 4, 2) + tempo(0, 500000) + endOfTrack();
    std::string piano = name("Piano") + ev(0, {0xC0, 0});
    for (const int key : {60, 62, 64, 65}) piano += ev(0, {0x90, key, 90}) + ev(480, {0x80, key, 0});
    const std::string bass = name("Bass") + ev(0, {0xC1, 32}) + ev(0, {0x91, 36, 100}) + ev(960, {0x81, 36, 0}) +
                             endOfTrack();
    return smf(1, 480, {conductor, piano + endOfTrack(), bass});
}

class MainRoad : public testing::RoadFixture {
protected:
    void SetUp() override {
        testing::keepEngineRuntimeLoaded();
        engine.Init(0, QVP3_PROGRAM_DIR);
        project.data.ProjectFolder = dir.path();
        project.data.ProjectTitle = "Road";
        project.mp3Folder = dir.path() / "mp3";
        fs::create_directories(project.mp3Folder);
        shell.projectTitle = "Road";
        const fs::path score = fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / "01a-Pitches-Pitches.xml";
        ASSERT_EQ(testing::convertToTvrx(score, dir.path() / "scale.tvrx"), 0);
        platform::testing::writeBytes(dir.path() / "song.mid", pianoAndBass());
        for (const char* file : {"scale.tvrx", "song.mid"}) {
            ProjectEntry entry;
            entry.Filename = dir.path() / file;
            pipeline.cnvEntryInit(entry, project);
            ASSERT_EQ(pipeline.openEntry(entry, project, false, false), 0) << file;
        }
        project.currentEntry = 0;
        stpSetPageHost(&host);
    }
    void TearDown() override {
        stpSetPageHost(nullptr);
        prjRelease(project);
        engine.Release();
    }
    fs::path converted(int index, bool wave) {
        fs::path path;
        EXPECT_TRUE(wave ? prjConvertedWavePath(project, index, &path) : prjConvertedMidiPath(project, index, &path));
        return path;
    }
    // Runs the page's job through its run button, leaving the page while it
    // runs: the job keeps going and its result stays.
    void runLeavingThePage(int step, const std::string& screenshot) {
        ShownPage shown(*project.stepPages[static_cast<std::size_t>(step)]);
        stpShowPage(shown.page, true);
        QAction* run = shown.button(kCmdRun);
        if (run != nullptr) {
            ASSERT_TRUE(run->isEnabled()) << step;
            run->trigger();
        } else {
            shown.page.onRun(shown.page);
        }
        stpShowPage(shown.page, false);
        ASSERT_TRUE(shown.waitForDone(1)) << step;
        stpShowPage(shown.page, true);
        EXPECT_FALSE(shown.screenshot(screenshot).empty());
    }

};

TEST_F(MainRoad, MidiWavMp3ThenCleanUpKeepsTheSources) {
    testing::EnglishTexts texts;
    runLeavingThePage(kStepMdc, "page_mdc_converted");
    ASSERT_EQ(project.convertedMidiCount, 2);
    if (scoreconv::testing::midoAvailable()) {
        for (int i = 0; i < 2; ++i) {
            const auto midi = scoreconv::testing::readWithMido(converted(i, false), scratch.path());
            ASSERT_TRUE(midi.read) << i;
            EXPECT_FALSE(midi.notesOn().empty()) << i;
        }
    }

    runLeavingThePage(kStepWvc, "page_wvc_rendered");
    ASSERT_EQ(project.convertedWaveCount, 2);
    for (int i = 0; i < 2; ++i) EXPECT_GT(testing::peakOf(converted(i, true)), 1000) << "file " << i << " sounds";

    project.burnMethod = -1;
    runLeavingThePage(kStepBrn, "page_brn_exported");
    std::vector<fs::path> mp3s;
    for (const auto& file : fs::directory_iterator(project.mp3Folder)) mp3s.push_back(file.path());
    ASSERT_EQ(mp3s.size(), 2u);
    for (const fs::path& mp3 : mp3s) {
        const fs::path decoded = scratch.path() / "decoded.wav";
        if (std::system(("mpg123 -q -w '" + decoded.string() + "' '" + mp3.string() + "'").c_str()) != 0) continue;
        EXPECT_GT(testing::peakOf(decoded), 1000) << mp3;
    }

    ShownPage cln(*project.stepPages[kStepCln]);
    stpShowPage(cln.page, true);
    cln.click(kClnMidiBox);
    cln.click(kClnMp3Box);
    cln.button(kCmdRun)->trigger();
    EXPECT_EQ(shell.questions, std::vector<int>{kStrCleanQuestion});
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(fs::exists(converted(i, false))) << i;
        EXPECT_FALSE(fs::exists(converted(i, true))) << i;
    }
    EXPECT_TRUE(fs::is_empty(project.mp3Folder));
    EXPECT_TRUE(fs::exists(dir.path() / "scale.tvrx")) << "a source is never deleted";
    EXPECT_TRUE(fs::exists(dir.path() / "song.mid")) << "a source is never deleted";
    EXPECT_EQ(host.commands, std::vector<int>{kCmdCloseFiles});
    EXPECT_FALSE(cln.screenshot("page_cln").empty());
}

}  // namespace
}  // namespace qvp3
