// A project with real MIDI entries opened by the pipeline, the English
// language table, and a page window that paints the way the step tab does
// (background, the page's colours, its own painting), for the tests of the
// metronome and tune-up pages.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"
#include "page_window.h"
#include "step_test_support.h"

namespace qvp3::testing {

// A preview output that hands everything to a capture device the test
// keeps, so that what a preview played can be read after it closed.
class ForwardingMidiOut : public platform::MidiOutDevice {
public:
    explicit ForwardingMidiOut(platform::CaptureMidiOut& capture) : capture_(capture) {}
    bool shortMessage(std::uint32_t packed) override { return capture_.shortMessage(packed); }
    bool longMessage(std::span<const std::uint8_t> bytes) override { return capture_.longMessage(bytes); }
    bool reset() override { return capture_.reset(); }

private:
    platform::CaptureMidiOut& capture_;
};

class KeptCaptureHost : public RecordingPageHost {
public:
    using RecordingPageHost::RecordingPageHost;
    std::unique_ptr<platform::MidiOutDevice> openPreviewOutput() override {
        if (!previewOutputs) return nullptr;
        return std::make_unique<ForwardingMidiOut>(captured);
    }
    platform::CaptureMidiOut captured;
};

// The profile bar's list, as a plain list.
class ProfileListDouble : public ProfileListWindow {
public:
    bool isWindow() const override { return true; }
    void destroy() override {}
    int count() const override { return static_cast<int>(items.size()); }
    void addItem(std::string, std::filesystem::path path) override { items.push_back(std::move(path)); }
    std::filesystem::path itemPath(int index) const override { return items.at(static_cast<std::size_t>(index)); }
    void clear() override { items.clear(); }
    void setEditText(std::string_view) override {}
    void select(int) override {}

    std::vector<std::filesystem::path> items;
};

struct PageEntryFixture {
    explicit PageEntryFixture(int step, AudioEngineServices* audio = nullptr)
        : language(englishTable()), project(Neighbours{&pipeline, audio, &shell, &pages}), host(project),
          step_(step) {
        engine.Init(0, folder.path() / "no-engine");
        qvp3ui::setLanguage(&language);
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& request) {
            warnings.push_back(request.stringId);
            return kIdOk;
        });
        stpSetPageHost(&host);
        project.data.ProjectFolder = folder.path();
        project.data.ProjectTitle = "Practice";
        project.data.CDSpace = 4800;
        host.profiles.profileList = &profileList;
        project.currentStep = step;
        host.profiles.profileFolder = folder.path() / "profiles";
        std::filesystem::create_directories(host.profiles.profileFolder);
    }
    ~PageEntryFixture() {
        window.reset();
        for (auto& page : project.stepPages) {
            if (page) page->window = nullptr;
        }
        stpSetPageHost(nullptr);
        host.profiles.profileList = nullptr;  // the list goes first
        qvp3ui::setBoxResponder({});
        qvp3ui::setLanguage(nullptr);
    }

    // Copies the sample project's two-hand piece and opens it as an entry.
    ProjectEntry& addEntry() {
        const auto file = folder.path() / ("piece" + std::to_string(project.entries.size()) + ".mid");
        std::filesystem::copy_file(sampleMidiFile(), file);
        ProjectEntry entry;
        entry.Filename = file;
        pipeline.cnvEntryInit(entry, project);
        EXPECT_EQ(pipeline.openEntry(entry, project, false, false), 0);
        if (project.currentEntry < 0) project.currentEntry = 0;
        return project.entries.back();
    }

    StepPage& page() { return *project.stepPages[static_cast<std::size_t>(step_)]; }

    // Builds the page's controls in a window of its own, and shows it.
    PageWindow& open() {
        StepPage& p = page();
        p.title = "Step " + std::to_string(step_ + 1);
        window = std::make_unique<PageWindow>(p, QSize(1120, 700), PageWindow::Messages::None);
        EXPECT_EQ(window->initResult, 1);
        window->setAttribute(Qt::WA_DontShowOnScreen);
        window->show();
        window->colourControls();
        stpShowPage(p, true);
        return *window;
    }

    template <class Control>
    Control* find(int id) {
        return qvp3ui::findControl<Control>(*window, id);
    }

    // Saves the project and reads it back into a fresh one.
    void saveAndReopen(Project& reopened) {
        const auto file = folder.path() / "project.c-1";
        ASSERT_TRUE(prjWriteFile(project, &file));
        std::vector<std::int32_t> codes;
        std::vector<std::string> names;
        ASSERT_TRUE(prjReadFile(reopened, file, false, codes, names)) << ::testing::PrintToString(codes);
        ASSERT_EQ(reopened.entries.size(), project.entries.size());
    }

    // Writes the current entry's settings as a profile and applies it to
    // the entry at index, which then becomes the current one.
    void copyByProfile(int index) {
        StepPage& p = page();
        ASSERT_TRUE(prfWriteNewProfile(nullptr, host.profiles, "settings", p, shell));
        ASSERT_TRUE(prfFillProfileCombo(host.profiles, step_));
        ASSERT_TRUE(prfApplyProfile(host.profiles, p, &project.entries[static_cast<std::size_t>(index)]));
        project.currentEntry = index;
        stpNotifyPartChanged(p, index);
    }

    platform::testing::TempFolder folder;
    qvp3ui::LanguageModule language;
    CTavtuneLib engine;
    platform::MessageTarget* mainWindow = nullptr;
    Pipeline pipeline{engine, &mainWindow};
    RecordingShell shell;
    StepPages pages;
    Project project;
    KeptCaptureHost host;
    ProfileListDouble profileList;
    std::vector<int> warnings;
    std::unique_ptr<PageWindow> window;

private:
    int step_;
};

}  // namespace qvp3::testing
