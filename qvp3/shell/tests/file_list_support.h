// A project in a temporary folder whose entries open through the pipeline and
// our score engine, a shell that records its boxes and status texts, and the
// main window's file list over it.
#pragma once

#include <QTreeView>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "../../pipeline/tests/engine_test_support.h"
#include "../../pipeline/tests/smf_bytes.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_shell/file_list_edit.h"
#include "qvp3_shell/file_list_model.h"
#include "qvp3_shell/file_list_view.h"

namespace qvp3::testing {

// Texts with the conversions of the real tables, and the list's captions;
// every other string N reads "S<N>".
class RecordingShell : public BasicShell {
public:
    struct Box {
        int kind;
        std::string text;
    };
    std::string languageString(int id) override {
        static const std::map<int, std::string> kFormats{
            {kStrFilesNotAdded, "%d files were not added."}, {kStrDiscUsage, "Disc: %d:%02d"},
            {kStrFileCount, "Files: %d"},                    {kStrAddingFile, "File %d of %d"},
            {kStrRenameExists, "\"%s\" exists."},           {183, "Cannot open %s"},
            {186, "Unknown format: %s"},                     {kStrCdSizeRange, "From %d to %d"},
            {kStrFileListName, "File"},                      {kStrFileListTime, "Time"},
            {kStrPauseColumn, "Pause"},
        };
        const auto it = kFormats.find(id);
        return it != kFormats.end() ? it->second : "S" + std::to_string(id);
    }
    int appQuestionBox(int stringId, int) override {
        questions.push_back(stringId);
        return answer;
    }
    int appTextBox(std::string_view text, int kind, int) override {
        boxes.push_back({kind, std::string(text)});
        return kIdOk;
    }
    void setStatusText(int part, std::string_view text) override { status[part].push_back(std::string(text)); }
    void appSetStatusParts(int parts) override { statusParts.push_back(parts); }

    int answer = kIdNo;
    std::vector<int> questions;
    std::vector<Box> boxes;
    std::map<int, std::vector<std::string>> status;
    std::vector<int> statusParts;
};

class TestHost : public ListAreaHost {
public:
    explicit TestHost(Pipeline& pipeline) : pipeline_(pipeline) {}
    int openEntry(ProjectEntry& entry, Project& project) override {
        return pipeline_.openEntry(entry, project, true, false);
    }
    bool copySourceFiles() const override { return copy; }
    void setStatusProgress(int position) override { progress.push_back(position); }
    void entriesChanged() override {
        ++changes;
        if (list != nullptr) list->fill(true);
    }
    void refreshCommands() override { ++commandRefreshes; }
    bool projectOpen() const override { return open; }
    bool openProject(const std::filesystem::path& file) override {
        opened.push_back(file);
        return true;
    }

    bool copy = true;
    bool open = true;
    FileListController* list = nullptr;
    std::vector<int> progress;
    std::vector<std::filesystem::path> opened;
    int changes = 0;
    int commandRefreshes = 0;

private:
    Pipeline& pipeline_;
};

// A two-track MIDI file of four quarters at 120 beats per minute.
inline std::string shortMidiFile() {
    return smf(1, 480, {tempo(0, 500000) + endOfTrack(),
                        name("Piano") + ev(0, {0x90, 60, 100}) + ev(1920, {0x80, 60, 64}) + endOfTrack()});
}

inline std::filesystem::path sharedMusicXml(const std::string& name) {
    return std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name;
}

struct FileListFixture {
    FileListFixture() {
        keepEngineRuntimeLoaded();
        engine.Init(0, QVP3_PROGRAM_DIR);
        project.data.ProjectFolder = dir.path() / "Project";
        project.data.ProjectTitle = "Etudes";
        project.data.CDSpace = 800;
        std::filesystem::create_directories(project.data.ProjectFolder);
        std::filesystem::create_directories(incoming());
        host.list = &list;
        view.resize(420, 240);
    }
    ~FileListFixture() { engine.Release(); }
    FileListFixture(const FileListFixture&) = delete;
    FileListFixture& operator=(const FileListFixture&) = delete;

    std::filesystem::path incoming() const { return dir.path() / "incoming"; }
    std::filesystem::path folder() const { return project.data.ProjectFolder; }
    std::filesystem::path writeIncoming(const std::string& name, const std::string& bytes) const {
        const std::filesystem::path file = incoming() / name;
        platform::testing::writeBytes(file, bytes);
        return file;
    }
    // The list's text of a cell.
    std::string cell(int row, int column) const {
        return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
    }
    // Row by row the names the list shows; and the file names of the entries.
    std::vector<std::string> listedNames() const {
        std::vector<std::string> names;
        for (int row = 0; row < model.rowCount(); ++row) names.push_back(cell(row, 0));
        return names;
    }
    std::vector<std::string> entryNames() const {
        std::vector<std::string> names;
        for (const ProjectEntry& e : project.entries) {
            names.push_back((e.FilenameOrig.empty() ? e.Filename : e.FilenameOrig).filename().string());
        }
        return names;
    }

    platform::testing::TempFolder dir;
    CTavtuneLib engine;
    platform::MessageTarget* window = nullptr;
    Pipeline pipeline{engine, &window};
    RecordingShell shell;
    Neighbours neighbours{&pipeline, nullptr, &shell};
    Project project{neighbours};
    TestHost host{pipeline};
    QTreeView view;
    FileListModel model{project};
    FileListController list{view, model, host};
};

}  // namespace qvp3::testing
