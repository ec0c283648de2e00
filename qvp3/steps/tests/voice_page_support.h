// What the tests of the start, staves, transposition and channel pages
// share: the program's English table, a page window that paints a page as the step
// tab does (background, header, the page's own painting) and passes its size
// on, entries shaped like real scores and MIDI files, and a save and reopen
// of the project file through a loader that gives each file its shape again.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QWidget>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"
#include "page_window.h"
#include "step_test_support.h"

namespace qvp3::testing {

// A loader that gives each file the shape its test set, as the pipeline
// would when it opens the file again.
class ShapePipeline : public BasicPipeline {
public:
    struct Shape {
        EntryKind kind = EntryKind::TvrXml;
        std::vector<std::uint8_t> voiceCounts;
        std::vector<std::string> names;  // stave names (scores) or track names after track 0 (MIDI)
        std::vector<int> percussionStaves;
    };
    std::map<std::string, Shape> shapes;  // by file name

    int cnvOpenEntry(ProjectEntry& entry, int, Project& project) override {
        auto it = shapes.find(entry.Filename.filename().string());
        if (it == shapes.end()) return -104;
        build(entry, it->second);
        entry.project = &project;
        project.entries.push_back(std::move(entry));
        return 0;
    }
    static void build(ProjectEntry& entry, const Shape& shape) {
        const auto staves = static_cast<int>(shape.voiceCounts.size());
        entry.kind = shape.kind;
        entry.voiceCounts = shape.voiceCounts;
        entry.durationMs = 60000;
        if (shape.kind == EntryKind::Midi) {
            entry.trackCount = staves + 1;
            entry.trackNames.assign(1, "");
            entry.trackNames.insert(entry.trackNames.end(), shape.names.begin(), shape.names.end());
        } else {
            entry.staveCount = staves;
            cnvEntryModel(entry).staveNames = shape.names;
        }
        entry.states.create(staves, shape.voiceCounts);
        entry.instruments.assign(static_cast<std::size_t>(staves), {});
        int voices = 0;
        for (int s = 0; s < staves; ++s) {
            const bool drums = std::find(shape.percussionStaves.begin(), shape.percussionStaves.end(), s) !=
                               shape.percussionStaves.end();
            for (int v = 0; v < shape.voiceCounts[static_cast<std::size_t>(s)]; ++v, ++voices) {
                scorecore::CMidiInstr instrument;
                instrument.Channel = static_cast<std::uint8_t>(drums ? 9 : s % 9);
                // Scores: strings from the violin on; MIDI files: a piano and a bass.
                const int melodic = shape.kind == EntryKind::Midi ? (s == 0 ? 0 : 33) : 40 + s;
                instrument.UserProgram = static_cast<std::uint8_t>(drums ? 128 + 35 : melodic);
                if (drums && shape.kind == EntryKind::Midi) instrument.PercNote = 0;
                entry.instruments[static_cast<std::size_t>(s)].push_back(instrument);
            }
        }
        entry.voices.resize(static_cast<std::size_t>(voices));
        voices = 0;
        for (int s = 0; s < staves; ++s) {
            for (int v = 0; v < shape.voiceCounts[static_cast<std::size_t>(s)]; ++v, ++voices) {
                VoicePlayRecord& record = entry.voices[static_cast<std::size_t>(voices)];
                const auto& instrument = entry.instruments[static_cast<std::size_t>(s)][static_cast<std::size_t>(v)];
                record.sound = instrument.UserProgram;
                record.setChannel(instrument.Channel);
            }
        }
    }
};

// A string quartet with a drum staff: four melodic staves (the first with
// two voices) and a percussion staff.
inline ShapePipeline::Shape quartetScore() {
    return {EntryKind::TvrXml, {2, 1, 1, 1, 1}, {"Violin I", "Violin II", "Viola", "Cello", "Drums"}, {4}};
}
// A MIDI file of three tracks after the conductor track, drums on channel 10.
inline ShapePipeline::Shape bandMidi() {
    return {EntryKind::Midi, {1, 1, 1}, {"Piano", "Bass", "Drums"}, {2}};
}

// A project built by the step pages, whose files open with the shapes the
// test gives, in a temporary project folder, with the English table.
struct VoicePageFixture {
    VoicePageFixture()
        : project(Neighbours{&pipeline, nullptr, &shell, &pages}), host(project), table(englishTable()) {
        stpSetPageHost(&host);
        qvp3ui::setLanguage(&table);
        project.data.ProjectFolder = folder.path();
        project.data.ProjectTitle = "Practice";
        project.data.CDSpace = 4800;
        host.profiles.profileFolder = folder.path() / "profiles";
        std::filesystem::create_directories(host.profiles.profileFolder);
    }
    ~VoicePageFixture() {
        qvp3ui::setLanguage(nullptr);
        stpSetPageHost(nullptr);
    }

    // A file of that shape in the project folder, opened as an entry.
    ProjectEntry& add(const std::string& fileName, const ShapePipeline::Shape& shape) {
        std::ofstream(folder.path() / fileName) << "music";
        pipeline.shapes[fileName] = shape;
        ProjectEntry entry;
        entry.Filename = folder.path() / fileName;
        EXPECT_EQ(pipeline.cnvOpenEntry(entry, project.fileNum(), project), 0);
        return project.entries.back();
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
    // The page of step, current, with entry index current, shown.
    void show(int step, int current) {
        giveStepHeader(page(step));
        project.currentStep = step;
        project.currentEntry = current;
        stpNotifyPartChanged(page(step), current);
        stpShowPage(page(step), true);
    }
    // Saves the project, then reads it into a fresh project with the same shapes.
    std::unique_ptr<Project> saveAndReopen() {
        const auto file = folder.path() / "project.c-1";
        EXPECT_TRUE(prjWriteFile(project, &file));
        auto reopened = std::make_unique<Project>(Neighbours{&pipeline, nullptr, &shell, nullptr});
        std::vector<std::int32_t> codes;
        std::vector<std::string> names;
        EXPECT_TRUE(prjReadFile(*reopened, file, false, codes, names)) << (codes.empty() ? 0 : codes.front());
        EXPECT_EQ(reopened->fileNum(), project.fileNum());
        return reopened;
    }
    // Saves the entry's settings of the page's step as a profile and applies
    // it to another entry; the apply's result.
    bool profileFromTo(StepPage& page, ProjectEntry& from, ProjectEntry& to) {
        if (!prfWriteNewProfile(&from, host.profiles, "profile", page, shell)) return false;
        return stpLoadProfile(host.profiles, page, prfProfilePath(host.profiles, 0), page.profileDataNum,
                              static_cast<std::int32_t>(page.category), &to);
    }

    platform::testing::TempFolder folder;
    ShapePipeline pipeline;
    RecordingShell shell;
    StepPages pages;
    Project project;
    RecordingPageHost host;
    qvp3ui::LanguageModule table;
};

}  // namespace qvp3::testing

#include "qvp3_pipeline/pipeline.h"

namespace qvp3::testing {

// The sample project's MIDI file, opened by the real pipeline (a MIDI file
// needs no score engine), for pages shown as a user sees them.
struct SampleMidiFixture {
    SampleMidiFixture() : project(Neighbours{&pipeline, nullptr, &shell, &pages}), host(project), table(englishTable()) {
        stpSetPageHost(&host);
        qvp3ui::setLanguage(&table);
        ProjectEntry entry;
        entry.Filename = sampleMidiFile();
        pipeline.cnvEntryInit(entry, project);
        opened = pipeline.openEntry(entry, project, false, false);
    }
    ~SampleMidiFixture() {
        qvp3ui::setLanguage(nullptr);
        stpSetPageHost(nullptr);
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
    void show(int step) {
        giveStepHeader(page(step));
        project.currentStep = step;
        project.currentEntry = 0;
        stpNotifyPartChanged(page(step), 0);
        stpShowPage(page(step), true);
    }

    CTavtuneLib engine;
    platform::MessageTarget* window = nullptr;
    Pipeline pipeline{engine, &window};
    RecordingShell shell;
    StepPages pages;
    Project project;
    RecordingPageHost host;
    qvp3ui::LanguageModule table;
    int opened = -1;
};

}  // namespace qvp3::testing
