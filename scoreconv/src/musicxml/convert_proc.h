// The one procedure through which a MusicXML file enters the library: it loads
// the file into a CMxmlFile and then either writes the score as a zipped
// TvrXML file (mode 5) or builds the play model (every other mode) and, when
// the caller gives a play-time slot, hands the model to the play procedure
// (play_proc.h): a play-time pass fills the slot, or in mode 7 the score plays
// through the file's MIDI output.
//
// The procedure runs on whichever thread calls it: the caller's own, or the
// below-normal worker of mxmlScanFile while the calling thread keeps pumping
// its message target. Its outcome reaches the caller only through the result
// slot, the progress reports and the log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "musicxml/mxml_file.h"
#include "platform/threads.h"
#include "scorecore/vxml_file.h"

namespace scoreconv {

// The parameter block of a conversion (or a play run). The procedure reads it
// and writes only through the slots it points to.
struct CConvertParams {
    CMxmlFile* file = nullptr;               // required
    scorecore::CVxmlFile* vxml = nullptr;    // mode 5: the document to build
    std::string sourcePath;                  // UTF-8: the MusicXML file
    std::string targetPath;                  // UTF-8: the ".tvrx" file of mode 5
    int64_t* playTime = nullptr;             // not mode 5: null ends the run after loading
    int* result = nullptr;                   // receives the result code, may be null
    int32_t staffCount = 0;                  // filled by the TvrXML-to-MusicXML conversion
    int32_t voiceCount = 0;
    bool closeFlag = false;                  // set by mxmlScanFile, whose wait ends with the worker
    // Read the whole document even where the part-by-part reading serves
    // (the two give the same model and the same ".tvrx"; tests compare them).
    bool wholeDocument = false;
};

enum class LoadRoute { PartByPart, WholeDocument };

// Runs the conversion the file's mode asks for; the outcome goes to
// *params->result: 0; -2 out of memory; -5 stopped by the host's stop word;
// -6 a DOM operation failed; -103 / -104 from loading; -1406 / -1407 the
// TvrXML systems or file not written; -1401 .. -1405 from the TvrXML writer;
// any other failure code of a reader. Nothing is written at the target of a
// mode-5 run that does not succeed. The file's mode is the same afterwards.
void mxmlConvertProc(CConvertParams* params);

// The same run without a play-time slot, on the caller's thread, in the
// file's mode: loads a MusicXML file into the play model (the mode reads 1
// meanwhile; 7 stays 7). On success the source becomes the file's scanned
// name; on failure the file is emptied. Returns the result code. The style
// sheet for timewise scores is looked for in styleSheetFolders (the one built
// into the library when empty).
int loadPlayModel(CMxmlFile& file, const std::filesystem::path& source,
                  std::span<const std::filesystem::path> styleSheetFolders = {},
                  LoadRoute route = LoadRoute::PartByPart);

// Runs body on a below-normal run of worker while the calling thread pumps
// the progress target held in *window (may be null) every 10 ms, and once
// more when it has ended. False when the worker cannot be started.
bool runWhilePumping(platform::WorkerThread& worker, platform::MessageTarget** window,
                     const std::function<void()>& body);

// Loads a MusicXML file for the play model on a below-normal worker while the
// calling thread pumps the file's progress target every 10 ms; returns the
// result of the run. 0 at once when the file holds this source already and no
// play-time pass is wanted (no slot, or the slot holds a time); -7 while a
// load or play-time pass runs on the file; -5 when the host's stop word is
// set; -2 when the worker cannot be started. A null file gives 0.
int mxmlScanFile(CMxmlFile* file, const std::string& sourcePath, int64_t* playTime);
// The same on a worker of the caller's (mxmlScanFile uses the file's own).
int mxmlScanFileOn(platform::WorkerThread& worker, CMxmlFile* file, const std::string& sourcePath,
                   int64_t* playTime);

}  // namespace scoreconv
