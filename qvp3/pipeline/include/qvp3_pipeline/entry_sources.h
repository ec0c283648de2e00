// The sources an entry is opened from, before it has a play model: what kind
// of file a path holds (the MIDI header sniffer, the binary-score header),
// MusicXML read through the score library and converted into a TvrXML file
// beside its source, the file's date for the entry's information text, and
// the insertion of the opened entry into its project.
//
// Converted scores are named by appending ".tvrx" to the source's file name
// ("song.xml" -> "song.xml.tvrx"); the project folder's clean-up recognises
// them by that name, and a user's own "song.tvrx" is never touched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/files.h"
#include "qvp3_project/project.h"

namespace platform {
class MessageTarget;
}
namespace scorecore {
class CScoreLog;
}

namespace qvp3 {

// Results of the functions below.
inline constexpr int kCnvOk = 0;
inline constexpr int kCnvOutOfMemory = -2;          // also: the score library gave no handle
inline constexpr int kCnvStopped = -5;              // the host's stop word was set
inline constexpr int kCnvReadError = -100;
inline constexpr int kCnvCannotOpen = -103;
inline constexpr int kCnvUnknownFormat = -104;
inline constexpr int kCnvCannotCreateFile = -200;   // the converted file cannot be made or put in place
inline constexpr int kCnvSnifferCannotOpen = -300;

// What the sniffer takes a file for.
inline constexpr int kSniffUnknown = -1;
inline constexpr int kSniffSingleTrackMidi = 13;    // format 0, or format 1 with one track
inline constexpr int kSniffMultiTrackMidi = 14;     // format 1 (or 2) with several tracks
inline constexpr int kSniffRiffMidi = 15;           // a Standard MIDI File inside a RIFF "RMID" wrapper
inline constexpr int kSniffSequencerProject = 16;   // a project of the older sequencer ("ZRV3", "TVRR")

// The first 14 bytes of a Standard MIDI File, the words converted from
// big-endian. A format-1 file with a single track reports format 13, so that
// it is read as a format-0 file is.
struct MidiFileHeader {
    std::array<char, 4> magic{};  // "MThd", or the sequencer project's tag
    std::uint32_t length = 0;     // always 6
    std::uint16_t format = 0;
    std::uint16_t trackCount = 0;
    std::uint16_t division = 0;   // ticks per quarter
};

// A file opened for reading, closed when the object ends. Only regular files
// (and links to them) open: a folder is not a file to sniff.
class SourceFile {
public:
    SourceFile() = default;
    ~SourceFile() { close(); }
    SourceFile(SourceFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    SourceFile& operator=(SourceFile&& other) noexcept;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Closes what is open first; false when path cannot be opened.
    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Reads exactly bytes.size() bytes; false (position then undefined) when
    // the file ends before or the read fails.
    bool readExactly(std::span<std::uint8_t> bytes);
    // Moves the position on by count bytes.
    bool skip(std::size_t count);

private:
    int fd_ = -1;
};

// The sniffer over an open file, from its current position: the kind
// (kSniff*) and, unless it is kSniffUnknown, the header; a header that is
// cut short, has a length not ending in 6, an unknown tag or SMPTE timing
// gives kSniffUnknown and leaves header untouched. A "RIFF" tag skips the
// 16 bytes of the wrapper and must be followed by "MThd".
int cnvSniffMusicFile(SourceFile& file, MidiFileHeader& header);
// The same over a memory image, reading from offset; offset moves past what
// was read (never past the end of the image).
int cnvSniffMusicFile(std::span<const std::uint8_t> image, MidiFileHeader& header, std::size_t& offset);

// Sniffs the file at path: kCnvSnifferCannotOpen when it cannot be opened;
// else kind (when given) receives the sniffed kind, and the result is
// kCnvUnknownFormat for kSniffUnknown, or kCnvOk with header (when given)
// filled.
int cnvSniffMusicFileByName(const std::filesystem::path& path, MidiFileHeader* header, int* kind);

// Opens path and checks that it begins "tvr3" "-v": kCnvOk with file open
// just after those six bytes, kCnvCannotOpen, or kCnvUnknownFormat (file
// closed).
int cnvCheckBinaryScore(const std::filesystem::path& path, SourceFile& file);

// What the score library needs of its host while it reads or converts: the
// host's variable holding the window that receives the progress messages,
// the stop word (any non-zero value stops the run) and the log. Each may be
// null; all must outlive the call.
struct ScoreLibraryHost {
    platform::MessageTarget** window = nullptr;
    int* stopWord = nullptr;
    scorecore::CScoreLog* log = nullptr;
};

// Reads entry.Filename as MusicXML with its play model, on the calling
// thread. kCnvOk: entry.kind is MusicXml and staves holds the stave count.
// Else the library's code (kCnvOutOfMemory without a handle); nothing is
// kept of the loaded score either way.
int cnvOpenMusicXml(ProjectEntry& entry, const ScoreLibraryHost& host, int& staves);

// The converted score of a MusicXML source: its file name with ".tvrx"
// appended, in the source's folder.
std::filesystem::path cnvConvertedScorePath(const std::filesystem::path& source);

// Converts the MusicXML file entry.Filename into its converted score
// (cnvConvertedScorePath) and opens it from there: kCnvOk with
// FilenameOrig = the source, Filename = the converted score and kind TvrXml.
// An entry with FilenameOrig set is converted already: kind TvrXml, kCnvOk,
// nothing done. The conversion writes into a ".cnv" file in the project's
// folder (the system's temporary folder when the project has none), which is
// then moved over the target, so the target is only ever replaced by a
// complete file. On any failure the entry's names are as before and no
// ".cnv" and no new ".tvrx" is left; an older converted score stays.
// Results: the library's code, kCnvStopped, kCnvCannotCreateFile (also when
// the target is the source itself under another name), kCnvOutOfMemory.
int cnvMusicXmlToTvrx(ProjectEntry& entry, const ScoreLibraryHost& host);

// Moves entry into project.entries before index (0 .. count - 1), or at the
// end for -1 and any other index; the entry's project becomes project. False,
// with entry and the project untouched, when memory runs out.
bool cnvInsertEntry(Project& project, ProjectEntry&& entry, int index);

// The last-write time of the file at path (through open, when given, else
// opened here) into time, and as local date "dd-mm-yyyy" into text: kCnvOk,
// kCnvCannotOpen, or kCnvReadError when the time cannot be read.
int cnvFileDateText(const std::filesystem::path& path, platform::FileTime& time, std::string& text,
                    const SourceFile* open = nullptr);

}  // namespace qvp3
