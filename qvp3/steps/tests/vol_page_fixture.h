// A project with the real pipeline (MIDI files need no score engine), the
// test language table, a recording page host, and a step page of the
// project shown in a widget of its own as the step tab shows it; and a
// score playing through our engine.
#pragma once

#include <QWidget>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <map>
#include <memory>

#include "platform_testing/temp_folder.h"
#include "../../pipeline/tests/engine_test_support.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "page_window.h"
#include "step_test_support.h"

namespace qvp3::testing {

struct PipelineProject {
    PipelineProject() {
        project.data.ProjectFolder = dir.path();
        project.data.ProjectTitle = "Stage";
        project.data.CDSpace = 4440;
    }

    // Opens the file as a new entry, made the current one: 0 or the opening's code.
    int open(const std::filesystem::path& file) {
        ProjectEntry entry;
        entry.Filename = file;
        pipeline.cnvEntryInit(entry, project);
        const int result = pipeline.openEntry(entry, project, false, false);
        if (result == 0) project.currentEntry = project.fileNum() - 1;
        return result;
    }

    platform::testing::TempFolder dir;
    CTavtuneLib engine;
    platform::MessageTarget* window = nullptr;
    Pipeline pipeline{engine, &window};
    RecordingShell shell;
    StepPages pages;
    Project project{Neighbours{&pipeline, nullptr, &shell, &pages}};
};

struct PageStudio {
    PageStudio() : language(qvp3ui::LanguageModule::testTable()), host(files.project) {
        qvp3ui::setLanguage(&language);
        stpSetPageHost(&host);
        host.profiles.profileFolder = files.dir.path() / "profiles";
        std::filesystem::create_directories(host.profiles.profileFolder);
    }
    ~PageStudio() {
        for (auto& [step, window] : windows) {
            StepPage& p = page(step);
            stpShowPage(p, false);
            p.window = nullptr;
        }
        windows.clear();
        stpSetPageHost(nullptr);
        qvp3ui::setLanguage(nullptr);
    }

    // The program's English texts in place of the test table (for screenshots).
    void useEnglish() { language = englishTable(); }

    Project& project() { return files.project; }
    StepPage& page(int step) { return *files.project.stepPages[static_cast<std::size_t>(step)]; }
    ProjectEntry& current() { return *prjGetEntry(files.project, -1); }

    // Builds the page's controls in a page window of its own, lays it out and shows it.
    QWidget& show(int step, QSize size = {900, 560}) {
        StepPage& p = page(step);
        files.project.currentStep = step;
        auto window = std::make_unique<PageWindow>(p, size, PageWindow::Messages::None);
        window->show();
        if (p.onSize) p.onSize(p);
        stpShowPage(p, true);
        QWidget& shown = *window;
        windows[step] = std::move(window);
        return shown;
    }

    PipelineProject files;
    qvp3ui::LanguageModule language;
    RecordingPageHost host;
    std::map<int, std::unique_ptr<PageWindow>> windows;
};

// A score opened through our engine from the program folder, and the
// transport that plays it to the engine's capture output, handed to the
// pages by the host.
struct PlayingScoreStudio : PageStudio {
    PlayingScoreStudio() {
        keepEngineRuntimeLoaded();
        files.engine.Init(0, QVP3_PROGRAM_DIR);
        const std::filesystem::path score = files.dir.path() / "parts.tvrx";
        EXPECT_EQ(convertToTvrx(std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" /
                                    "41a-MultiParts-Partorder.xml",
                                score),
                  0);
        EXPECT_EQ(files.open(score), 0);
        files.engine.call(178, "MIDI: capture");
        transport.midiOutputName = "capture";
        host.transport = &transport;
    }
    ~PlayingScoreStudio() {
        if (ProjectEntry* entry = prjGetEntry(files.project, -1)) transport.plyStop(*entry);
        host.transport = nullptr;
    }
    // A voice's settings as the engine holds them.
    tvVoiceRecord engineVoice(int stave, int voice) const {
        tvVoiceRecord record;
        tvVoiceRecordInit(&record, static_cast<std::uint8_t>(stave), static_cast<std::uint8_t>(voice));
        EXPECT_EQ(files.engine.call(124, &record, -1), 0);
        return record;
    }

    PlaybackControl transport{files.project, files.engine};
};

}  // namespace qvp3::testing
