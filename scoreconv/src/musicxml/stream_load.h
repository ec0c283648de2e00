// The load of a partwise MusicXML file for the play model, one part at a
// time: the header and the part list are read first, then each part is
// expanded, entered in the part table and walked into the play model, and
// freed before the next is read. The whole document is never held, which
// keeps a large orchestral score's load within a fraction of its document's
// memory.
//
// It serves the files whose parts follow their part list one for one (what
// notation programs write). For any other file - a timewise score, a part
// the list does not declare or declares elsewhere, a part list after the
// parts - it answers kStreamNotServed with the file as it found it, and the
// caller reads the whole document.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "musicxml/mxml_file.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

// Not a result code of the library: the file needs the whole-document load.
inline constexpr int kStreamNotServed = 1;

// Loads the header, the part table and the play model, in the file's mode (a
// play mode, not 5). kOk; kStreamNotServed; or the code the whole-document
// load gives for the same failure (kErrCannotOpen for a text that breaks off
// or is not well-formed, kErrStopped, kErrOutOfMemory, a reader's code), with
// *failedStep naming the step for the log as the whole-document load names
// it. On a failure the caller resets the file.
int loadStreamed(CMxmlFile& file, const std::filesystem::path& source, std::string_view& failedStep);

// A copy of a part list in a document of its own: the list outlives the
// element a stream held it in. Empty when memory runs out.
std::optional<scorecore::XmlDocument> copyPartList(const xmlNode* partList);

}  // namespace scoreconv
