// Helpers of the profile tests: a project whose step pages carry the profile
// readers and writers, a profile folder of its own, and a shell that records
// the questions asked and answers them as the test says.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "neighbour_doubles.h"
#include "platform/files.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_project/profile_file.h"

namespace qvp3::testing {

class ProfileShell : public FakeShell {
public:
    int textAnswer = kIdNo;
    std::vector<std::string> asked;  // texts of the question boxes
    std::vector<std::string> shown;  // texts of the other boxes
    std::vector<std::string> logLines;
    std::vector<int> menuSteps;

    int appTextBox(std::string_view text, int kind, int) override {
        if (kind != kBoxQuestion) {
            shown.emplace_back(text);
            return kIdOk;
        }
        asked.emplace_back(text);
        return textAnswer;
    }
    void appLog(std::string_view line) override { logLines.emplace_back(line); }
    void appUpdateStepMenuItems(int step) override { menuSteps.push_back(step); }
};

// The profile list of the bar, as a plain list.
class ListDouble : public ProfileListWindow {
public:
    bool isWindow() const override { return true; }
    void destroy() override {}
    int count() const override { return static_cast<int>(items.size()); }
    void addItem(std::string text, std::filesystem::path path) override {
        items.emplace_back(std::move(text), std::move(path));
    }
    std::filesystem::path itemPath(int index) const override { return items.at(static_cast<std::size_t>(index)).second; }
    void clear() override { items.clear(); }
    void setEditText(std::string_view) override {}
    void select(int index) override { selected = index; }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& item : items) out.push_back(item.first);
        return out;
    }

    std::vector<std::pair<std::string, std::filesystem::path>> items;
    int selected = -1;
};

// A project with test neighbours; pages get the profile handlers, which use
// the long-lived context below.
struct ProfileStudio {
    FakePipeline pipeline;
    FakeAudioEngine audio;
    ProfileShell shell;
    FakeStepPages pages;
    Project project{Neighbours{&pipeline, &audio, &shell, &pages}};
    ProfileContext context;

    explicit ProfileStudio(const std::filesystem::path& profileFolder) {
        context.profileFolder = profileFolder;
        std::filesystem::create_directories(profileFolder);
        for (auto& page : project.stepPages) prfInstallProfileHandlers(*page, project, context);
    }

    StepPage& page(StepCategory category) { return *project.stepPages[static_cast<std::size_t>(category)]; }

    // Adds an entry of the shape and makes it the current one. References
    // to earlier entries do not survive this.
    ProjectEntry& addEntry(const FakePipeline::Shape& shape, const std::string& name = "Song.tvrx") {
        ProjectEntry entry;
        entry.Filename = std::filesystem::path("/music") / name;
        FakePipeline::build(entry, shape);
        entry.project = &project;
        project.entries.push_back(std::move(entry));
        project.currentEntry = project.fileNum() - 1;
        return project.entries.back();
    }

    // Writes the entry's settings of a step as a new profile; its path.
    std::filesystem::path save(StepCategory category, ProjectEntry* entry, const std::string& desc = "test") {
        const auto before = platform::listFiles(context.profileFolder, kProfilePattern);
        EXPECT_TRUE(prfWriteNewProfile(entry, context, desc, page(category), shell));
        for (const auto& path : platform::listFiles(context.profileFolder, kProfilePattern)) {
            if (std::find(before.begin(), before.end(), path) == before.end()) return path;
        }
        ADD_FAILURE() << "no profile written";
        return {};
    }

    bool apply(StepCategory category, const std::filesystem::path& path, ProjectEntry* entry) {
        StepPage& p = page(category);
        return stpLoadProfile(context, p, path, p.profileDataNum, static_cast<std::int32_t>(category), entry);
    }
};

// "ProfileStaff001Voice002<what>" for staff 1, voice 2.
inline std::string staffVoiceKey(int staff, int voice, const std::string& what) {
    char name[64];
    std::snprintf(name, sizeof name, "ProfileStaff%03dVoice%03d", staff, voice);
    return name + what;
}

// Voice keys of the tune-up: staff in the low 16 bits, voice in the high ones.
inline std::int32_t voiceKey(int staff, int voice) { return staff | (voice << 16); }

}  // namespace qvp3::testing
