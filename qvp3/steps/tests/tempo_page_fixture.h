// A project with MIDI entries read by the pipeline, the transport, the
// English language table and a window per step page that passes its
// controls' messages to the page's slots as the step tab's dialog does.
#pragma once

#include <QAbstractSlider>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include <fstream>
#include <sstream>

#include "../../pipeline/tests/smf_bytes.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui_testing.h"
#include "page_window.h"
#include "step_test_support.h"

namespace qvp3::testing {

// The page host of the recording double, with a transport and an engine.
class TempoPageHost : public RecordingPageHost {
public:
    TempoPageHost(Project& project, PlaybackControl& playback, CTavtuneLib& engine)
        : RecordingPageHost(project), playback_(playback), engine_(engine) {}
    PlaybackControl* playback() override { return &playback_; }
    CTavtuneLib* engine() override { return &engine_; }

private:
    PlaybackControl& playback_;
    CTavtuneLib& engine_;
};

// Four quarters at 120 beats a minute on one track.
inline std::string fourQuarters() {
    std::string melody = name("Melody") + ev(0, {0xC0, 0});
    for (int key : {60, 62, 64, 65}) melody += ev(0, {0x90, key, 100}) + ev(480, {0x80, key, 0});
    return smf(1, 480, {meta(0, 0x51, std::string("\x07\xA1\x20", 3)) + endOfTrack(), melody + endOfTrack()});
}

struct TempoPageFixture {
    explicit TempoPageFixture(int step)
        : language(englishTable()),
          host(project, playback, engine) {
        qvp3ui::setLanguage(&language);
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& box) {
            boxes.push_back(box);
            return answer;
        });
        stpSetPageHost(&host);
        host.profiles.profileFolder = folder.path() / "profiles";
        std::filesystem::create_directories(host.profiles.profileFolder);
        project.data.ProjectFolder = folder.path();
        project.data.CDSpace = 4800;
        project.data.ProjectTitle = "Etudes";
        project.data.ProjectDescription = "Tempo practice";
        project.playFeatures = kPlayRelativeTempo | kPlayTempoCurve;
        project.currentStep = step;
        addEntry("etude.mid");
        addEntry("study.mid");
        project.currentEntry = 0;
        giveStepHeader(page(step));
        window = std::make_unique<PageWindow>(page(step));
        window->show();
        stpShowPage(page(step), true);
        window->colourControls();
    }
    ~TempoPageFixture() {
        playback.waitForPlayer();
        stpShowPage(page(project.currentStep), false);
        window.reset();
        stpSetPageHost(nullptr);
        qvp3ui::setBoxResponder({});
        qvp3ui::setLanguage(nullptr);
    }

    void addEntry(const std::string& file) {
        ProjectEntry entry;
        entry.Filename = folder.path() / file;
        platform::testing::writeBytes(entry.Filename, fourQuarters());
        pipeline.cnvEntryInit(entry, project);
        ASSERT_EQ(cnvReadMidiEntry(entry), 0);
        entry.project = &project;
        project.entries.push_back(std::move(entry));
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
    ProjectEntry& entry(int index = 0) { return project.entries[static_cast<std::size_t>(index)]; }
    template <class T>
    T& control(int id) {
        T* found = qvp3ui::findControl<T>(*window, id);
        EXPECT_NE(found, nullptr) << id;
        return *found;
    }
    // Makes another entry the current one, as the main window does.
    void choose(int index) {
        project.currentEntry = index;
        stpNotifyPartChanged(page(project.currentStep), 0);
    }
    // The pointer moved to a point of the page, then (optionally) clicked.
    int pointerAt(const QPoint& point, bool click) {
        StepPage& p = page(project.currentStep);
        QCursor::setPos(window->mapToGlobal(point));
        const int moved = p.onSetCursor(p, static_cast<int>(WM_MOUSEMOVE));
        return click ? p.onSetCursor(p, static_cast<int>(WM_LBUTTONDOWN)) : moved;
    }
    static void key(QWidget& widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(&widget, &release);
    }
    // Writes the project and reads it into a fresh project.
    std::unique_ptr<Project> saveAndReopen() {
        const std::filesystem::path file = folder.path() / "tempo.c-1";
        EXPECT_TRUE(prjWriteFile(project, &file));
        auto reread = std::make_unique<Project>(Neighbours{&pipeline, nullptr, &shell, &pages});
        std::vector<std::int32_t> codes;
        std::vector<std::string> names;
        EXPECT_TRUE(prjReadFile(*reread, file, false, codes, names));
        EXPECT_TRUE(codes.empty()) << "first problem: " << (codes.empty() ? 0 : codes[0]);
        return reread;
    }
    bool stepDirty(int step) const { return (project.dirty & (1u << step)) != 0 && project.saved == 0; }
    void screenshot(const std::string& name) { qvp3ui::testing::saveScreenshot(*window, name); }

    platform::testing::TempFolder folder;
    qvp3ui::LanguageModule language;
    CTavtuneLib engine;
    platform::MessageTarget* mainWindow = nullptr;
    Pipeline pipeline{engine, &mainWindow};
    RecordingShell shell;
    StepPages pages;
    Project project{Neighbours{&pipeline, nullptr, &shell, &pages}};
    PlaybackControl playback{project, engine};
    TempoPageHost host;
    std::unique_ptr<PageWindow> window;
    std::vector<qvp3ui::BoxRequest> boxes;
    int answer = kIdYes;
};

}  // namespace qvp3::testing
