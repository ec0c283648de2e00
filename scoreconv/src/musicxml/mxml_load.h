// Loading a MusicXML file: the check that it is MusicXML, the turn of a
// timewise score into a partwise one, and the score's header - the part list
// (see part_list.h), the description text and the file's modification date.
//
// Documents are parsed without network access, without loading a DTD and
// without substituting entities: the DOCTYPE of a MusicXML file names a remote
// DTD that is never fetched. The timewise-to-partwise transform runs with
// file writes, folder creation and network access forbidden.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/mxml_file.h"
#include "platform/files.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

inline constexpr std::string_view kStyleSheetName = "timepart.xsl";

// The first of the folders that holds kStyleSheetName.
std::optional<std::filesystem::path> findStyleSheet(std::span<const std::filesystem::path> folders);

// Loads the file and checks that it is MusicXML: a score-partwise or
// score-timewise root; for any other root a DOCTYPE that contains "MusicXML",
// or, without DOCTYPE, a top-level comment that does. The document goes to
// out when given. kOk; kErrCannotOpen when the file cannot be read or is not
// well-formed XML; kErrUnknownFormat when it is not MusicXML.
int getVersion(const std::filesystem::path& source, scorecore::XmlDocument* out = nullptr);

// The whole load without the measures: getVersion, a timewise score turned
// partwise (through the style sheet built into the library from
// data/timepart.xsl, so that no file beside the host is needed; when
// styleSheetFolders are given, through the first kStyleSheetName they hold),
// then the header into the file - the partwise document, the part table and
// staff tables (part_list.h), the tempo when unset, the description text and
// the modification time. Tables of an earlier load are
// dropped first; a tempo already set stays (the host may have fixed it).
// kOk, or: the codes of getVersion; kErrDom when the transform fails (the
// failing step is logged); kErrUnknownFormat when no root remains;
// kErrStopped when the host's signal is set; kErrOutOfMemory;
// kErrCannotOpen when the file cannot be opened for its time. On failure the
// caller resets the file.
int getProps(CMxmlFile& file, const std::filesystem::path& source,
             std::span<const std::filesystem::path> styleSheetFolders = {});

// What the description is built from, collected from the header elements.
struct CHeaderTexts {
    scorecore::CAttrList creators;
    scorecore::CAttrList work;
    scorecore::CAttrList rights;
    scorecore::CAttrList encoding;
    scorecore::CAttrList miscellaneous;
    std::optional<std::string> movementTitle;
    std::optional<std::string> movementNumber;
    std::optional<std::string> source;
};

// Reads a child of the root into texts when it is a header element ("work",
// "identification", "movement-number", "movement-title"); any other is
// passed over. kOk or the XML layer's code.
int readHeaderElement(const xmlNode* element, CHeaderTexts& texts);

// The file's modification time and its description from the texts. kOk;
// kErrCannotOpen when the file cannot be opened for its time.
int finishHeader(CMxmlFile& file, const std::filesystem::path& source, const CHeaderTexts& texts);

// Everything an earlier load left in the file's tables and document: a second
// load starts from nothing. The settings and the play model stay.
void dropLoadedTables(CMxmlFile& file);

// The date of the description's last line: "DD-MM-YYYY" of the time in UTC.
std::string formatModDate(platform::FileTime time);

}  // namespace scoreconv
