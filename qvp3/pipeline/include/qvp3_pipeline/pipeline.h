// The conversion and playback pipeline as the project store sees it: opening
// an entry (its kind from the file, MusicXML converted to ".tvrx" beside its
// source, scores through the score engine), its play records, and the
// engine-facing setters of the play model. The record-only work is the
// project store's own (BasicPipeline).
#pragma once

#include <filesystem>
#include <string>

#include "platform/message_target.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Results of opening an entry besides the engine's and the readers' codes.
inline constexpr int kOpenNoPlayTime = -12;    // the file holds no music to play
inline constexpr int kOpenSuccessVariant = -16;

// Language strings of the opening's warnings: %s is the file's name.
inline constexpr int kStrOpenFileError = 60240;    // memory and file access
inline constexpr int kStrOpenFormatError = 60241;  // the file's contents
inline constexpr int kStrOpenNoPlayTime = 60242;

class Pipeline : public BasicPipeline {
public:
    // engine: the application's binding; mainWindow: the variable that holds
    // the main window, which hears the score library's progress.
    Pipeline(CTavtuneLib& engine, platform::MessageTarget** mainWindow);

    // Opens the entry's file and, on success, appends the entry to the
    // project (the entry is moved there). showMessages: a failure is shown to
    // the user; fromProjectFile: read from a project file (the engine's play
    // switches are then the project's, not reset). 0 or a negative code.
    int openEntry(ProjectEntry& entry, Project& project, bool showMessages, bool fromProjectFile);
    // The project reader's form: no messages (the reader lists the codes).
    int cnvOpenEntry(ProjectEntry& entry, int fileNumber, Project& project) override;

    void engineGetSections(ProjectEntry& entry) override;
    // The entry's table, then all its tables to the engine, so that the engine
    // plays (and a save on the interpretation step reads back) what was loaded.
    void engineLoadSwitches(ProjectEntry& entry, int group, const platform::IniDocument& document,
                            std::string_view section) override;
    void engineResetSwitchGroup(int group) override;
    void engineSetTranspose(int semitones) override;
    std::uint32_t enginePlayOptions(ProjectEntry& entry) override;
    void engineSetPlayOption(ProjectEntry& entry, std::uint32_t option, std::uint32_t value) override;
    // The file lists' image of an entry (cnvEntryIconIndex) and the name a
    // converted file is listed under (cut at "_qvpcnv", with its extension).
    int cnvEntryImage(const ProjectEntry& entry) override;
    std::string cnvConvertedDisplayName(const std::filesystem::path& file) override;

    // The selected MIDI output's name, given to every voice record.
    std::string midiOutputName = "Default";
    // The three labels of a score's information text (the shell's language strings).
    TavInfoLabels infoLabels{"Author: ", "Keywords: ", "Comment: "};
    std::string dateLabel = "Date: ";

private:
    int load(ProjectEntry& entry);
    int finishScore(ProjectEntry& entry, bool fromProjectFile);
    int loadScoreInEngine(ProjectEntry& entry);
    int buildPlayRecords(ProjectEntry& entry);
    void useScoreInstrument(ProjectEntry& entry);
    int measureScore(ProjectEntry& entry);
    void report(Project& project, const ProjectEntry& entry, int code);

    CTavtuneLib& engine_;
    platform::MessageTarget** mainWindow_;
};

// List images of entries: MIDI 11, binary score 9, MusicXML 13, TvrXML 13
// when converted from MusicXML, else 33, any other 21.
int cnvEntryIconIndex(const ProjectEntry& entry);

// Gives every voice without a channel one: percussion staves channel 10;
// other voices the first channel in the order 1 .. 16, never 10, that no
// voice uses yet, and when all are in use the one with the fewest voices.
void cnvAssignChannels(ProjectEntry& entry);

}  // namespace qvp3
