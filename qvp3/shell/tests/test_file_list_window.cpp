// The file list in the main window: a project opened into the window (list,
// title, displays, recent list), files dropped on the window, a file moved by
// the window's command, a disc that no longer holds the files, a project that
// cannot be read, and the disc capacity typed into the project data.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSplitter>
#include <QTreeView>

#include "../../pipeline/tests/engine_test_support.h"
#include "../../pipeline/tests/smf_bytes.h"
#include "file_list_support.h"
#include "platform/files.h"
#include "platform_testing/file_bytes.h"
#include "qvp3_project/project_file.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/file_list_host.h"
#include "qvp3_shell/list_area.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

class FileListWindow : public ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        testing::keepEngineRuntimeLoaded();
        app().tavtune->Init(0, QVP3_PROGRAM_DIR);
        auto owned = std::make_unique<FileListHost>(window());
        host = owned.get();
        window().setProjectListHost(std::move(owned));
        folder = app().projectsRoot / "Etudes";
        fs::create_directories(folder);
    }

    // A saved project "Etudes" with one MIDI file; its project file.
    fs::path writeProject() {
        platform::testing::writeBytes(folder / "song.mid", testing::shortMidiFile());
        Project p{Neighbours{app().pipeline.get()}};
        p.data.ProjectFolder = folder;
        p.data.ProjectTitle = "Etudes";
        p.data.CDSpace = 800;
        ProjectEntry entry;
        entry.Filename = folder / "song.mid";
        app().pipeline->cnvEntryInit(entry, p);
        EXPECT_EQ(app().pipeline->openEntry(entry, p, false, false), 0);
        // The date the reader compares with; the loader records it for scores only.
        p.entries.at(0).modDate = platform::fileTimeOf(folder / "song.mid").value_or(0);
        const fs::path file = folder / "Etudes.c-1";
        EXPECT_TRUE(prjWriteFile(p, &file));
        return file;
    }

    void drop(const std::vector<fs::path>& files) {
        QMimeData data;
        QList<QUrl> urls;
        for (const fs::path& f : files) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(f.string())));
        data.setUrls(urls);
        // Qt delivers a drop only to the window that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &enter);
        QDropEvent event(QPointF(200, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window(), &event);
    }

    QString text(int id) { return qvp3ui::findControl<QLabel>(window(), id)->text(); }
    std::vector<std::string> listedNames() {
        std::vector<std::string> names;
        const QAbstractItemModel* model = window().fileList()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            names.push_back(model->index(row, 0).data().toString().toStdString());
        }
        return names;
    }

    FileListHost* host = nullptr;
    fs::path folder;
};

TEST_F(FileListWindow, AProjectOpensIntoTheWindowAndDroppedFilesJoinIt) {
    window().show();
    // Nothing is open: the list area is hidden, and dropped files are refused.
    window().refreshAll();
    EXPECT_FALSE(window().fileList()->isVisibleTo(&window()));
    const fs::path incoming = home / "incoming";
    fs::create_directories(incoming);
    platform::testing::writeBytes(incoming / "b-minor.mid", testing::shortMidiFile());
    drop({incoming / "b-minor.mid"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, qvp3ui::uiString(kStrNoProjectOpen));

    const fs::path file = writeProject();
    ASSERT_TRUE(window().listHost().openProject(file, true, -2, true));
    EXPECT_TRUE(app().projectOpen);
    EXPECT_EQ(window().windowTitle().toStdString(), app().programTitle + " - [Etudes]");
    EXPECT_EQ(app().recentFiles->path(0), file);
    EXPECT_TRUE(window().fileList()->isVisibleTo(&window()));
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"song.mid"}));
    EXPECT_EQ(text(kIdFileCountText), "Files: 1");
    EXPECT_EQ(text(kIdDiscText), "Playing time: 0:02");
    EXPECT_EQ(boxes.size(), 1u);  // no problems reported
    EXPECT_EQ(app().project->saved, 1);

    // Files dropped on the window join the project, sorted by name, after the current file.
    drop({incoming / "b-minor.mid", testing::sharedMusicXml("43a-PianoStaff.xml")});
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"song.mid", "43a-PianoStaff.xml", "b-minor.mid"}));
    EXPECT_EQ(text(kIdFileCountText), "Files: 3");
    EXPECT_EQ(window().fileList()->currentIndex().row(), 2);
    EXPECT_EQ(app().project->currentEntry, 2);

    // Picking a file: it becomes the current entry, and a profile chosen for one file follows it.
    app().profiles->applyFlags[2] = 1;
    window().fileList()->setCurrentIndex(window().fileList()->model()->index(0, 0));
    EXPECT_EQ(app().project->currentEntry, 0);
    EXPECT_EQ(app().profiles->applyFlags[0], 1);
    EXPECT_EQ(app().profiles->applyFlags[2], 0);
    window().fileList()->setCurrentIndex(window().fileList()->model()->index(2, 0));

    // The window's move-up command: the list follows the project.
    window().runCommand(cmd::kFileUp);
    EXPECT_EQ(listedNames(), (std::vector<std::string>{"song.mid", "b-minor.mid", "43a-PianoStaff.xml"}));
    EXPECT_EQ(window().fileList()->currentIndex().row(), 1);
    qvp3ui::testing::saveScreenshot(window(), "main_window_file_list");

    // The check box under the list shows the files with their folders, and names them in place.
    auto* withFolders = qvp3ui::findControl<QCheckBox>(window(), kIdAddPathCheck);
    withFolders->click();
    EXPECT_EQ(app().project->addPath, 1);
    EXPECT_EQ(listedNames().front(), (folder / "song.mid").string());
    QAbstractItemModel* model = window().fileList()->model();
    EXPECT_EQ(model->data(model->index(0, 0), Qt::EditRole).toString(), "song");
    withFolders->click();
    EXPECT_EQ(listedNames().front(), "song.mid");

    // More music than the disc holds turns the disc bar red.
    auto* disc = qvp3ui::findControl<QProgressBar>(window(), kIdDiscBar);
    EXPECT_FALSE(disc->styleSheet().contains("rgb(255,0,0)"));
    app().project->data.CDSpace = 3;
    window().refreshAll();
    EXPECT_TRUE(disc->styleSheet().contains("rgb(255,0,0)"));
    EXPECT_EQ(disc->maximum(), 3);
    qvp3ui::testing::saveScreenshot(window(), "main_window_disc_full");
}

TEST_F(FileListWindow, AProjectThatCannotBeReadLeavesNoneOpenAndSaysWhy) {
    EXPECT_TRUE(window().listHost().openProject({}, true, -2, true));
    EXPECT_FALSE(app().projectOpen);
    EXPECT_FALSE(window().listHost().openProject(folder / "missing.c-1", true, -2, true));
    EXPECT_FALSE(app().projectOpen);
    EXPECT_EQ(window().windowTitle().toStdString(), app().programTitle);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, qvp3ui::BoxKind::Warning);
    EXPECT_EQ(boxes[0].text, qvp3ui::uiString(kStrProjectProblems) + "\n\t- " + qvp3ui::uiString(195));
    EXPECT_EQ(app().recentFiles->count(), 0u);
}

TEST_F(FileListWindow, ADiscCapacityOutsideItsRangeIsRefused) {
    QLineEdit edit;
    struct Case {
        const char* typed;
        bool accepted;
    };
    for (const Case& c : {Case{"600", true}, Case{"1000", true}, Case{" 750 ", true}, Case{"599", false},
                          Case{"1001", false}, Case{"", false}, Case{"7e2", false}, Case{"-700", false}}) {
        SCOPED_TRACE(c.typed);
        boxes.clear();
        edit.setText(c.typed);
        int value = 0;
        EXPECT_EQ(appCheckCdSizeInput(edit, app().project->shell(), value), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(value, std::stoi(c.typed));
            EXPECT_TRUE(boxes.empty());
        } else {
            EXPECT_EQ(edit.text(), "1000");
            EXPECT_EQ(edit.selectedText(), "1000");
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "Please give a disc capacity from 600 to 1000 seconds.");
        }
    }
}

// Drags the splitter's handle so that its left edge lands at x of the window.
void dragHandleTo(QSplitter& splitter, int x) {
    QSplitterHandle* handle = splitter.handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    const auto send = [handle](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, handle->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(handle, &event);
    };
    send(QEvent::MouseButtonPress, grip, Qt::LeftButton);
    const int shift = x - handle->mapTo(splitter.window(), QPoint(0, 0)).x();
    send(QEvent::MouseMove, grip + QPoint(shift, 0), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grip + QPoint(shift, 0), Qt::NoButton);
}

TEST(ListArea, TheSplitterStaysBetween150AndHalfTheWindow) {
    QWidget window;
    window.resize(800, 400);
    QSplitter splitter(&window);
    splitter.setGeometry(0, 0, 800, 400);
    splitter.setOpaqueResize(true);
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.setSizes({300, 500});
    appLimitSplitter(splitter);
    window.show();
    struct Case {
        int x;
        bool follows;
    };
    for (const Case& c : {Case{100, false}, Case{150, true}, Case{400, true}, Case{401, false}, Case{250, true},
                          Case{700, false}}) {
        const int before = splitter.sizes().value(0);
        dragHandleTo(splitter, c.x);
        EXPECT_EQ(splitter.sizes().value(0), c.follows ? c.x : before) << c.x;
    }
    EXPECT_TRUE(appSplitterAccepts(150, 301));
    EXPECT_FALSE(appSplitterAccepts(151, 301));
    EXPECT_FALSE(appSplitterAccepts(149, 1000));
}

}  // namespace
}  // namespace qvp3
