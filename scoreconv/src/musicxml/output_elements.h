// Small operations of the output side: pieces of the MusicXML writer (a
// "backup", a "time-modification", the staff-line count of a pattern, saving
// the document) and the file's original name.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "scorecore/score_event.h"
#include "scorecore/vxml_tree.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

class CMxmlFile;

// Appends <backup><duration>ticks</duration></backup> (depths 3 and 4) to the
// measure at measureIndex of a part the writer builds (its "measure" elements
// are the part's items). kOk; kErrIndex when there is no such measure; the
// XML layer's code when an element cannot be made.
int appendBackup(scorecore::XmlDocument& doc, const scorecore::CDomNodeGroup& part, int32_t measureIndex,
                 int32_t ticks);
// The same for the writer's current measure of part partIndex of the file
// (-1: the writer's current part).
int appendBackup(CMxmlFile& file, int32_t ticks, int32_t partIndex = -1);

// Appends <time-modification> (depth 4) with <actual-notes> and <normal-notes>
// (depth 5) to the note element when the event is a tuplet (actual notes
// above 0); nothing otherwise. kOk or the XML layer's code.
int appendTimeModification(scorecore::XmlDocument& doc, xmlNodePtr note, const scorecore::CScoreEvent& event);

// The staff lines of a "notelines" pattern: "1" is 1, "5" and "" are 5, any
// other pattern counts its '|'. The writer writes "staff-details" only for a
// count other than 5.
int32_t staffLineCount(std::string_view pattern);

// Saves the file's MusicXML document at path. The file appears only when it is
// complete: a failure leaves an older one as it was. kOk, or kErrWrite.
int saveFile(const CMxmlFile& file, const std::filesystem::path& path);

// The name the file was known by before it was converted (the rendered file
// is matched against it).
void setOriginalFilename(CMxmlFile& file, std::string_view name);

}  // namespace scoreconv
