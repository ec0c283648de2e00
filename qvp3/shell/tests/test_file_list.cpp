// The main window's file list over a real project: files added through the
// pipeline and our engine (two MusicXML scores and a MIDI file), rows moved by
// dragging, a row removed, a file renamed in its cell, and the project file
// written afterwards naming what the list shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

#include <memory>

#include "file_list_support.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::FileListFixture;

// Drags row `from` of the list to the gap before `before` (-1: the end).
void dragRow(FileListFixture& f, int from, int before) {
    const std::unique_ptr<QMimeData> data(f.model.mimeData({f.model.index(from, 0)}));
    f.model.dropMimeData(data.get(), Qt::MoveAction, before, 0, {});
}

void renameInCell(FileListFixture& f, int row, const QString& name) {
    f.view.setCurrentIndex(f.model.index(row, 0));
    QTest::keyClick(&f.view, Qt::Key_F2);
    auto* editor = f.view.findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "no editor opened";
    editor->selectAll();
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    qvp3ui::testing::processEventsFor(50);
}

TEST(FileList, AddMoveRemoveAndRenameKeepTheListAndTheProjectAlike) {
    FileListFixture f;
    f.view.show();
    const fs::path song = f.writeIncoming("song.mid", testing::shortMidiFile());
    ASSERT_EQ(appAddFilesToProject(f.project, f.host, {testing::sharedMusicXml("43a-PianoStaff.xml"), song}), 2);
    ASSERT_EQ(f.project.currentEntry, 1);

    // With the first file current, the next file goes in after it.
    f.view.setCurrentIndex(f.model.index(0, 0));
    ASSERT_EQ(f.project.currentEntry, 0);
    ASSERT_EQ(appAddFilesToProject(f.project, f.host, {testing::sharedMusicXml("41a-MultiParts-Partorder.xml")}), 1);
    EXPECT_EQ(f.entryNames(),
              (std::vector<std::string>{"43a-PianoStaff.xml", "41a-MultiParts-Partorder.xml", "song.mid"}));
    EXPECT_EQ(f.listedNames(), f.entryNames());
    EXPECT_EQ(f.project.currentEntry, 1);
    EXPECT_EQ(f.view.currentIndex().row(), 1);
    // The sources were copied into the project folder, where they were converted.
    for (const ProjectEntry& e : f.project.entries) EXPECT_TRUE(platform::isPathInside(e.Filename, f.folder()));
    EXPECT_TRUE(fs::exists(f.folder() / "43a-PianoStaff.xml.tvrx"));
    EXPECT_EQ(f.cell(2, 1), prjFormatPlayTime(f.project.entries[2].durationMs));
    EXPECT_EQ(f.shell.boxes.size(), 0u);
    EXPECT_EQ(f.shell.statusParts, (std::vector<int>{3, 1, 3, 1}));
    qvp3ui::testing::saveScreenshot(f.view, "file_list_three_files");

    // The MIDI file dragged to the top; a converted file of the old order goes.
    platform::testing::writeBytes(f.folder() / "song_qvpcnv.mid", testing::shortMidiFile());
    dragRow(f, 2, 0);
    EXPECT_EQ(f.entryNames(),
              (std::vector<std::string>{"song.mid", "43a-PianoStaff.xml", "41a-MultiParts-Partorder.xml"}));
    EXPECT_EQ(f.listedNames(), f.entryNames());
    EXPECT_EQ(f.project.currentEntry, 0);
    EXPECT_FALSE(fs::exists(f.folder() / "song_qvpcnv.mid"));
    // Dropped on the last row: it takes that row's place.
    f.model.dropMimeData(std::unique_ptr<QMimeData>(f.model.mimeData({f.model.index(0, 0)})).get(), Qt::MoveAction,
                         -1, -1, f.model.index(2, 0));
    EXPECT_EQ(f.entryNames().back(), "song.mid");
    EXPECT_EQ(f.listedNames(), f.entryNames());

    // Removing the middle row takes its copy along; the row after it becomes current.
    const fs::path removed = f.project.entries[1].FilenameOrig;
    ASSERT_EQ(appRemoveEntry(f.project, 1), kListEditOk);
    f.list.fill(true);
    EXPECT_FALSE(fs::exists(removed));
    EXPECT_EQ(f.entryNames(), (std::vector<std::string>{"43a-PianoStaff.xml", "song.mid"}));
    EXPECT_EQ(f.listedNames(), f.entryNames());
    EXPECT_EQ(f.project.currentEntry, 1);

    // Renamed in its cell: the file, its converted score and the entry follow.
    renameInCell(f, 0, "Piano study");
    EXPECT_EQ(f.entryNames(), (std::vector<std::string>{"Piano study.xml", "song.mid"}));
    EXPECT_EQ(f.listedNames(), f.entryNames());
    EXPECT_TRUE(fs::exists(f.folder() / "Piano study.xml"));
    EXPECT_TRUE(fs::exists(f.folder() / "Piano study.xml.tvrx"));
    EXPECT_FALSE(fs::exists(f.folder() / "43a-PianoStaff.xml"));
    EXPECT_EQ(f.project.entries[0].Filename, f.folder() / "Piano study.xml.tvrx");

    // The project file names the files the list shows, in its order.
    const fs::path file = f.folder() / "Etudes.c-1";
    ASSERT_TRUE(prjWriteFile(f.project, &file));
    Project reread{f.neighbours};
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    ASSERT_TRUE(prjReadFile(reread, file, false, codes, names));
    EXPECT_TRUE(codes.empty());
    ASSERT_EQ(reread.fileNum(), 2);
    EXPECT_EQ(reread.entries[0].FilenameOrig, f.folder() / "Piano study.xml");
    EXPECT_EQ(reread.entries[1].Filename.filename(), "song.mid");
    qvp3ui::testing::saveScreenshot(f.view, "file_list_after_edits");
}

TEST(FileList, FilesThatCannotBeAddedAreCountedAndLeaveNothingBehind) {
    FileListFixture f;
    const std::vector<fs::path> files{
        f.writeIncoming("notes.txt", "not music"),                 // refused by its extension
        f.writeIncoming("broken.mid", std::string("MThd\0\0", 6)),  // refused by the pipeline
        f.writeIncoming("song.mid", testing::shortMidiFile()),
    };
    EXPECT_EQ(appAddFilesToProject(f.project, f.host, files), 1);
    EXPECT_EQ(f.entryNames(), (std::vector<std::string>{"song.mid"}));
    EXPECT_FALSE(fs::exists(f.folder() / "broken.mid"));
    EXPECT_FALSE(fs::exists(f.folder() / "notes.txt"));
    ASSERT_FALSE(f.shell.boxes.empty());
    EXPECT_EQ(f.shell.boxes.back().text, "2 files were not added.");
    EXPECT_EQ(f.shell.boxes.back().kind, kBoxInformation);
    EXPECT_EQ(f.host.progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(f.shell.status[0].front(), "File 1 of 3");

    // A second file of the same name is copied beside the first, never over it.
    EXPECT_EQ(appAddFilesToProject(f.project, f.host, {f.incoming() / "song.mid"}), 1);
    EXPECT_EQ(f.entryNames(), (std::vector<std::string>{"song.mid", "song001.mid"}));
    EXPECT_EQ(f.listedNames(), f.entryNames());
}

TEST(FileList, RenamesThatWouldLoseOrMisplaceAFileAreRefused) {
    FileListFixture f;
    ASSERT_EQ(appAddFilesToProject(f.project, f.host,
                                   {f.writeIncoming("a.mid", testing::shortMidiFile()),
                                    f.writeIncoming("b.mid", testing::shortMidiFile())}),
              2);
    struct Case {
        const char* name;
        int result;
    };
    for (const Case& c : {Case{"", kListEditBadName}, Case{"x/y", kListEditBadName}, Case{"..", kListEditBadName},
                          Case{"   ", kListEditBadName}, Case{"b", kListEditNameTaken}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(appRenameEntry(f.project, 0, c.name), c.result);
        EXPECT_TRUE(fs::exists(f.folder() / "a.mid"));
        EXPECT_TRUE(fs::exists(f.folder() / "b.mid"));
        EXPECT_EQ(f.project.entries[0].Filename, f.folder() / "a.mid");
    }
    // The refusal is shown once the editor has closed, and the cell keeps its name.
    f.view.show();
    renameInCell(f, 0, "b");
    ASSERT_FALSE(f.shell.boxes.empty());
    EXPECT_EQ(f.shell.boxes.back().text, "\"b\" exists.");
    EXPECT_EQ(f.listedNames(), (std::vector<std::string>{"a.mid", "b.mid"}));

    // A playing entry's file stays where the player reads it.
    f.project.entries[1].entryState = kEntryPlaying;
    EXPECT_EQ(appRenameEntry(f.project, 0, "c"), kListEditBusy);
    EXPECT_EQ(appMoveEntry(f.project, 0, 1), kListEditBusy);
    EXPECT_EQ(appRemoveEntry(f.project, 0), kListEditBusy);
    EXPECT_EQ(f.project.fileNum(), 2);
    f.project.entries[1].entryState = 0;

    // The converted files move with their source; a saved project is written at once.
    const fs::path projectFile = f.folder() / "Etudes.c-1";
    f.project.filePath = projectFile;
    ASSERT_TRUE(prjWriteFile(f.project, &projectFile));
    f.project.saved = 1;
    platform::testing::writeBytes(f.folder() / "a_qvpcnv.mid", "made");
    platform::testing::writeBytes(f.folder() / "a_qvpcnv.wav", "made");
    prjConvertedMidiPath(f.project, 0, nullptr);
    ASSERT_EQ(appRenameEntry(f.project, 0, "Allegro"), kListEditOk);
    EXPECT_TRUE(fs::exists(f.folder() / "Allegro_qvpcnv.mid"));
    EXPECT_TRUE(fs::exists(f.folder() / "Allegro_qvpcnv.wav"));
    EXPECT_EQ(f.project.entries[0].convertedMidiPath, f.folder() / "Allegro_qvpcnv.mid");
    EXPECT_EQ(f.project.saved, 1);
    Project reread{f.neighbours};
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    ASSERT_TRUE(prjReadFile(reread, projectFile, false, codes, names));
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(reread.entries.at(0).Filename, f.folder() / "Allegro.mid");

    // Files outside the project folder are the user's own: not renamed here.
    f.host.copy = false;
    const fs::path outside = f.writeIncoming("outside.mid", testing::shortMidiFile());
    ASSERT_EQ(appAddFilesToProject(f.project, f.host, {outside}), 1);
    const int row = f.project.currentEntry;
    EXPECT_FALSE(f.model.flags(f.model.index(row, 0)) & Qt::ItemIsEditable);
    EXPECT_EQ(appRenameEntry(f.project, row, "mine"), kListEditOutside);
    EXPECT_TRUE(fs::exists(outside));
}

TEST(FileList, DroppedFilesOpenAProjectOrJoinTheOpenOne) {
    FileListFixture f;
    const fs::path projectFile = f.writeIncoming("Other.C-1", "[zq1 Project File]\r\n");
    const fs::path song = f.writeIncoming("song.mid", testing::shortMidiFile());

    f.host.open = false;
    EXPECT_EQ(appOnDropFiles(f.project, f.host, {song}), 0);
    ASSERT_EQ(f.shell.boxes.size(), 1u);
    EXPECT_EQ(f.shell.boxes[0].text, "S218");
    EXPECT_EQ(f.project.fileNum(), 0);

    // On an empty project a project file opens at once.
    appOnDropFiles(f.project, f.host, {projectFile});
    EXPECT_TRUE(f.shell.questions.empty());
    ASSERT_EQ(f.host.opened.size(), 1u);

    // Files dropped on the list join the open project, sorted.
    f.host.open = true;
    const fs::path early = f.writeIncoming("a-early.mid", testing::shortMidiFile());
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(song.string())),
                  QUrl::fromLocalFile(QString::fromStdString(early.string()))});
    EXPECT_TRUE(f.model.dropMimeData(&data, Qt::CopyAction, -1, -1, {}));
    EXPECT_EQ(f.entryNames(), (std::vector<std::string>{"a-early.mid", "song.mid"}));

    // With files in the project, the question decides.
    f.shell.answer = kIdNo;
    appOnDropFiles(f.project, f.host, {projectFile});
    EXPECT_EQ(f.shell.questions, (std::vector<int>{kStrAskReplaceProject}));
    EXPECT_EQ(f.host.opened.size(), 1u);
    f.shell.answer = kIdYes;
    appOnDropFiles(f.project, f.host, {projectFile});
    EXPECT_EQ(f.host.opened.size(), 2u);
}

TEST(FileList, SelectionCheckBoxesPausesAndTooltips) {
    FileListFixture f;
    f.view.show();
    ASSERT_EQ(appAddFilesToProject(f.project, f.host,
                                   {testing::sharedMusicXml("43a-PianoStaff.xml"),
                                    f.writeIncoming("song.mid", testing::shortMidiFile())}),
              2);
    int changes = 0;
    QObject::connect(&f.list, &FileListController::currentEntryChanged, [&changes](int, int) { ++changes; });
    QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, f.view.visualRect(f.model.index(0, 1)).center());
    EXPECT_EQ(f.project.currentEntry, 0);
    EXPECT_EQ(changes, 1);
    f.list.fill(true);  // a refill keeps the current entry
    EXPECT_EQ(f.project.currentEntry, 0);
    EXPECT_EQ(changes, 1);

    // The MIDI step: scores carry a check box, which is the entry's flag.
    f.project.currentStep = kStepMdc;
    f.project.dirty = 0;
    f.list.fill();
    ASSERT_TRUE(f.model.flags(f.model.index(0, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(f.model.flags(f.model.index(1, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_EQ(f.model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "S475");
    const bool was = f.project.entries[0].ConvertForQvo != 0;
    EXPECT_TRUE(f.model.setData(f.model.index(0, 0), was ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(f.project.entries[0].ConvertForQvo != 0, !was);
    EXPECT_EQ(f.project.dirty, 1u << kStepMdc);

    // The WAV step: the pause column; a left click raises it, 10 wraps to 0; a right click lowers it.
    f.project.currentStep = kStepWvc;
    f.list.fill();
    ASSERT_EQ(f.model.columnCount(), 3);
    EXPECT_FALSE(f.model.flags(f.model.index(0, 0)) & Qt::ItemIsUserCheckable);
    f.model.setPause(1, 10);
    QTest::mouseClick(f.view.viewport(), Qt::LeftButton, {}, f.view.visualRect(f.model.index(1, 2)).center());
    EXPECT_EQ(f.project.entries[1].Pause, 0);
    EXPECT_EQ(f.cell(1, 2), "0");
    QTest::mouseClick(f.view.viewport(), Qt::RightButton, {}, f.view.visualRect(f.model.index(1, 2)).center());
    EXPECT_EQ(f.project.entries[1].Pause, 10);
    qvp3ui::testing::saveScreenshot(f.view, "file_list_wave_step");

    // The tooltip: a score's description, nothing for a MIDI file; the row under the pointer is kept.
    f.model.setDescriptionProvider([](const ProjectEntry&) { return std::string("Composer: Anon"); });
    EXPECT_EQ(f.model.data(f.model.index(0, 0), Qt::ToolTipRole).toString(), "Composer: Anon");
    FileListModel plain(f.project);
    plain.fill(true);
    EXPECT_FALSE(plain.data(plain.index(1, 0), Qt::ToolTipRole).isValid());
    QTest::mouseMove(f.view.viewport(), f.view.visualRect(f.model.index(1, 0)).center());
    EXPECT_EQ(f.view.property(kTipRowProperty).toInt(), 1);
    f.list.hideTip();
    EXPECT_EQ(f.view.property(kTipRowProperty).toInt(), -1);
}

TEST(FileList, AConversionPageListsTheMadeFilesAndTakesNoEdits) {
    FileListFixture f;
    ASSERT_EQ(appAddFilesToProject(f.project, f.host,
                                   {f.writeIncoming("a.mid", testing::shortMidiFile()),
                                    f.writeIncoming("b.mid", testing::shortMidiFile())}),
              2);
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(prjConvertedMidiPath(f.project, i, nullptr));
    f.project.convertedMidiCount = 1;  // only the first file is made so far
    FileListModel made(f.project, kFileListMidi);
    made.fill(true);
    ASSERT_EQ(made.rowCount(), 1);
    EXPECT_EQ(made.data(made.index(0, 0), Qt::DisplayRole).toString(), "a.mid");
    EXPECT_EQ(made.flags(made.index(0, 0)), Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    EXPECT_FALSE(made.setData(made.index(0, 0), "c", Qt::EditRole));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/x.mid")});
    EXPECT_FALSE(made.canDropMimeData(&data, Qt::CopyAction, -1, -1, {}));
    EXPECT_TRUE(fs::exists(f.folder() / "a.mid"));
}

}  // namespace
}  // namespace qvp3
