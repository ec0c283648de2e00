// A project whose 18 pages are built by the step pages, with a step page
// host and a shell that record what the pages ask of them.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qvp3_project/neighbours.h"
#include "qvp3_project/project.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"

namespace qvp3::testing {

// The checkout's root, where the program's language tables and sample project live.
inline std::filesystem::path sourceRoot() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
}

// The program's own English table, so that pages and screenshots show the real texts.
inline qvp3ui::LanguageModule englishTable() {
    std::ifstream in(sourceRoot() / "lang" / "str_en.lang");
    std::stringstream text;
    text << in.rdbuf();
    return qvp3ui::LanguageModule::fromText(text.str());
}

// The sample project's two-staff MIDI file.
inline std::filesystem::path sampleMidiFile() {
    return sourceRoot() / "data" / "projects" / "Sample" / "two_hands.mid";
}

// The page's title, description and header image of its step, in the
// program's language, as the step tab gives them before showing the page.
inline void giveStepHeader(StepPage& page) {
    const StepInfo& info = *stpStepInfo(static_cast<int>(page.category));
    page.title = qvp3ui::uiString(info.titleId);
    page.description = qvp3ui::uiString(info.descriptionId);
    page.headerImage = info.headerImage;
}

class RecordingShell : public BasicShell {
public:
    std::string languageString(int id) override { return "S" + std::to_string(id); }
    int appQuestionBox(int stringId, int) override {
        questions.push_back(stringId);
        return answer;
    }
    int appTextBox(std::string_view text, int kind, int) override {
        boxes.emplace_back(kind, std::string(text));
        return kIdOk;
    }
    bool appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path&) override {
        deleted.emplace_back(extension);
        return true;
    }

    int answer = kIdNo;
    std::vector<int> questions;
    std::vector<std::pair<int, std::string>> boxes;
    std::vector<std::string> deleted;
};

class RecordingPageHost : public StepPageHost {
public:
    explicit RecordingPageHost(Project& project) : project_(project) {}

    Project& project() override { return project_; }
    ProfileContext& profileContext() override { return profiles; }
    void enableFileLists(bool enable) override { fileListsEnabled = enable; }
    void enableEntryCommands(bool enable) override { entryCommandsEnabled = enable; }
    void enableProjectCommands(bool enable) override { projectCommandsEnabled = enable; }
    void layoutProfileBar(StepPage&, int mode) override { profileBarModes.push_back(mode); }
    void resetPlayPosition() override { ++positionResets; }
    void refreshFileList() override { ++fileListRefreshes; }
    void setFileListSingleSelection(bool single) override { singleSelection = single; }
    void sendCommand(int command) override { commands.push_back(command); }
    void refreshCommands() override { ++commandRefreshes; }
    void flipToggleMenuCheck() override { ++menuChecks; }
    std::unique_ptr<platform::MidiOutDevice> openPreviewOutput() override {
        if (!previewOutputs) return nullptr;
        auto device = std::make_unique<platform::CaptureMidiOut>();
        lastPreviewOutput = device.get();
        return device;
    }
    void stopPlayback(ProjectEntry& entry) override { entry.entryState = 0; }
    PlayTimeProgressView* playTimeProgress() override { return nullptr; }
    bool stepWorkerDone(StepPage&) override {
        std::this_thread::sleep_for(workerDoneDelay);
        ++workerDoneCalls;
        return true;
    }
    std::optional<MidiStepSetup> midiStepSetup() override { return std::nullopt; }
    std::optional<WaveStepSetup> waveStepSetup() override { return std::nullopt; }
    std::optional<ExportStepSetup> exportStepSetup() override { return std::nullopt; }
    int loadSampleLibraryInstrument(ProjectEntry&) override { return loadResult; }
    bool isSampleLibrarySampler(const ProjectEntry&) override { return true; }
    PlaybackControl* playback() override { return transport; }
    COutputDeviceModel* outputDevices() override { return devices; }
    CSamplePlayer* samplePlayer() override { return player; }
    bool loadSampleLibraryInstruments() override { return loadLibrary; }
    std::optional<std::filesystem::path> chooseEffectFile() override { return effectFile; }

    ProfileContext profiles;
    bool fileListsEnabled = true;
    bool entryCommandsEnabled = true;
    bool projectCommandsEnabled = true;
    std::vector<int> profileBarModes;
    int positionResets = 0;
    int fileListRefreshes = 0;
    bool singleSelection = true;
    std::vector<int> commands;
    int commandRefreshes = 0;
    int menuChecks = 0;
    bool previewOutputs = true;
    platform::MidiOutDevice* lastPreviewOutput = nullptr;
    std::chrono::milliseconds workerDoneDelay{0};
    std::atomic<int> workerDoneCalls{0};
    int loadResult = 0;
    PlaybackControl* transport = nullptr;  // the transport a test plays with
    // The sound configuration page's audio engine, where a test gives one.
    COutputDeviceModel* devices = nullptr;
    CSamplePlayer* player = nullptr;
    bool loadLibrary = false;
    std::optional<std::filesystem::path> effectFile;

private:
    Project& project_;
};

// A project built by the step pages, with the recording host set as the
// program's step page host for the test's life.
struct StepFixture {
    StepFixture() : project(Neighbours{nullptr, nullptr, &shell, &pages}), host(project) { stpSetPageHost(&host); }
    ~StepFixture() { stpSetPageHost(nullptr); }

    ProjectEntry& addEntry(EntryKind kind, std::vector<std::uint8_t> voiceCounts = {1}) {
        ProjectEntry entry;
        entry.Filename = "/music/piece" + std::to_string(project.entries.size()) + ".mid";
        entry.kind = kind;
        entry.voiceCounts = voiceCounts;
        int voices = 0;
        for (auto v : voiceCounts) voices += v;
        entry.voices.resize(static_cast<std::size_t>(voices));
        entry.states.create(static_cast<std::int32_t>(voiceCounts.size()), voiceCounts);
        entry.project = &project;
        project.entries.push_back(std::move(entry));
        return project.entries.back();
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }

    RecordingShell shell;
    StepPages pages;
    Project project;
    RecordingPageHost host;
};

}  // namespace qvp3::testing
