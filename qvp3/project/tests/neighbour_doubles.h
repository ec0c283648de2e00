// Test doubles of the project store's neighbours: each logs the calls that
// matter to a test and answers as the test sets it up. The pipeline double
// "opens" any existing file with a shape the test gives (by file name).
#pragma once

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_project/project.h"

namespace qvp3::testing {

class FakePipeline : public BasicPipeline {
public:
    struct Shape {
        EntryKind kind = EntryKind::TvrXml;
        std::vector<std::uint8_t> voiceCounts{1};  // per staff (MIDI: per track after the first)
        std::vector<int> percussionStaves;
        std::int32_t durationMs = 1000;
    };

    std::map<std::string, Shape> shapes;  // by file name
    std::map<std::string, int> openResults;  // forced loader codes, by file name
    std::vector<std::string> calls;

    int cnvOpenEntry(ProjectEntry& entry, int fileNumber, Project& project) override {
        const std::string name = entry.Filename.filename().string();
        calls.push_back("open " + name + " " + std::to_string(fileNumber));
        if (auto forced = openResults.find(name); forced != openResults.end()) return forced->second;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(entry.Filename, ec)) return -103;
        Shape shape;
        if (auto it = shapes.find(name); it != shapes.end()) {
            shape = it->second;
        } else if (entry.Filename.extension() == ".mid") {
            shape.kind = EntryKind::Midi;
        }
        build(entry, shape);
        project.totalMs += entry.durationMs;
        project.entries.push_back(std::move(entry));
        cnvRelinkEntryPlayers(project);
        return 0;
    }

    void cnvEntryFreeModel(ProjectEntry& entry) override {
        calls.push_back("free " + entry.Filename.filename().string());
        BasicPipeline::cnvEntryFreeModel(entry);
    }
    void cnvRestoreOriginalSource(ProjectEntry& entry) override {
        calls.push_back("restore " + entry.FilenameOrig.filename().string());
        BasicPipeline::cnvRestoreOriginalSource(entry);
    }
    void engineGetSections(ProjectEntry&) override { calls.push_back("get sections"); }
    void engineResetSwitchGroup(int group) override { calls.push_back("reset group " + std::to_string(group)); }
    void engineSetTranspose(int semitones) override { calls.push_back("transpose " + std::to_string(semitones)); }
    int plySetEngineTempo(ProjectEntry&, double tempo) override {
        calls.push_back("tempo " + std::to_string(static_cast<int>(tempo)));
        return 0;
    }

    static void build(ProjectEntry& entry, const Shape& shape) {
        const auto staves = static_cast<int>(shape.voiceCounts.size());
        entry.kind = shape.kind;
        entry.durationMs = shape.durationMs;
        entry.voiceCounts = shape.voiceCounts;
        if (shape.kind == EntryKind::Midi) {
            entry.trackCount = staves + 1;
            entry.staffVelocity.assign(static_cast<std::size_t>(staves), 0);
            entry.staffVelocityRelative.assign(static_cast<std::size_t>(staves), 1);
            entry.trackNames.assign(static_cast<std::size_t>(staves + 1), {});
        } else {
            entry.staveCount = staves;
        }
        entry.states.create(staves, shape.voiceCounts);
        entry.instruments.assign(static_cast<std::size_t>(staves), {});
        entry.voices.clear();
        for (int s = 0; s < staves; ++s) {
            const bool percussion =
                std::find(shape.percussionStaves.begin(), shape.percussionStaves.end(), s) != shape.percussionStaves.end();
            for (int v = 0; v < shape.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
                VoicePlayRecord record;
                record.sound = static_cast<std::uint8_t>(percussion ? 128 + v : v);
                entry.voices.push_back(record);
                scorecore::CMidiInstr instrument;
                if (percussion) instrument.PercNote = static_cast<std::uint8_t>(35 + v);
                entry.instruments[static_cast<std::size_t>(s)].push_back(instrument);
            }
        }
    }
};

class FakeAudioEngine : public BasicAudioEngine {
public:
    std::vector<std::string> effects;
    int presentInstruments = 0;
    int qvoIndex = -1;
    std::vector<std::uint8_t> samplerSetup;

    int findEffect(std::string_view name) override {
        for (std::size_t i = 0; i < effects.size(); ++i) {
            if (platform::equalsNoCase(effects[i], name)) return static_cast<int>(i);
        }
        return -1;
    }
    int countPresentInstruments() override { return presentInstruments; }
    bool isQvoPlugIn(int catalogIndex) override { return catalogIndex >= 0 && catalogIndex == qvoIndex; }
    std::optional<std::vector<std::uint8_t>> saveSamplerSetup(int) override {
        if (samplerSetup.empty()) return std::nullopt;
        return samplerSetup;
    }
};

class FakeShell : public BasicShell {
public:
    int answer = kIdNo;
    std::vector<int> questions;
    std::vector<std::string> statusTexts;
    int closeCount = 0;
    int repostCount = 0;
    bool templateKeys = false;

    std::string languageString(int id) override { return "S" + std::to_string(id); }
    int appQuestionBox(int stringId, int) override {
        questions.push_back(stringId);
        return answer;
    }
    void closeProject() override { ++closeCount; }
    void setStatusText(int, std::string_view text) override { statusTexts.emplace_back(text); }
    bool templateKeysDown() override { return templateKeys; }
    void repostActivation() override { ++repostCount; }
};

class FakeStepPages : public BasicStepPages {
public:
    int inits = 0;
    int frees = 0;
    std::vector<std::string> calls;

    void stpInitPage(StepPage& page, StepCategory category) override {
        ++inits;
        BasicStepPages::stpInitPage(page, category);
    }
    void stpFreePage(StepPage& page) override {
        ++frees;
        BasicStepPages::stpFreePage(page);
    }
    bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) override {
        calls.push_back("copy points " + std::to_string(target) + " " + std::to_string(source) + " " +
                        std::to_string(clear));
        return BasicStepPages::stpTempoCurveCopyPoints(curve, target, source, clear);
    }
    void stpTppUseRecordedTempos(StepPage& page, bool force) override {
        calls.push_back("use recorded " + std::string(stpCategoryCode(static_cast<int>(page.category))) + " " +
                        std::to_string(force));
    }
    void stpRefreshSlfPage() override { calls.push_back("refresh SLF"); }
    void stpEmptyFileList(StepPage& page) override {
        calls.push_back("empty list " + std::string(stpCategoryCode(static_cast<int>(page.category))));
    }
};

// All four doubles, handed to a Project.
struct FakeNeighbours {
    FakePipeline pipeline;
    FakeAudioEngine audio;
    FakeShell shell;
    FakeStepPages pages;

    Neighbours all() { return Neighbours{&pipeline, &audio, &shell, &pages}; }
};

}  // namespace qvp3::testing
