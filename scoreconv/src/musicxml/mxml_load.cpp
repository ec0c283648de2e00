#include "musicxml/mxml_load.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <system_error>

#include "musicxml/part_list.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"
#include "timepart_xsl.h"

namespace scoreconv {

namespace {

using scorecore::CAttrList;
using scorecore::XmlDocument;

constexpr std::string_view kFunction = "getProps";

using mx::isNamed;

bool isScoreRoot(const xmlNode* root) {
    return isNamed(root, "score-partwise") || isNamed(root, "score-timewise");
}

bool mentionsMusicXml(std::string_view text) { return text.find("MusicXML") != std::string_view::npos; }

// The DOCTYPE as it is written, internal subset included.
std::string doctypeText(xmlDocPtr doc, xmlDtdPtr dtd) {
    std::string text;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr) return text;
    if (xmlNodeDump(buffer, doc, reinterpret_cast<xmlNodePtr>(dtd), 0, 0) >= 0) {
        text.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                    static_cast<std::size_t>(xmlBufferLength(buffer)));
    }
    xmlBufferFree(buffer);
    return text;
}

int checkMusicXml(const XmlDocument& doc) {
    const xmlNode* root = doc.root();
    if (root == nullptr) return scorecore::kErrUnknownFormat;
    // MusicXML 4.0 files often carry neither DOCTYPE nor comment: the root says it.
    if (isScoreRoot(root)) return scorecore::kOk;
    if (xmlDtdPtr dtd = xmlGetIntSubset(doc.get()); dtd != nullptr) {
        return mentionsMusicXml(doctypeText(doc.get(), dtd)) ? scorecore::kOk : scorecore::kErrUnknownFormat;
    }
    for (const xmlNode* n = doc.get()->children; n != nullptr; n = n->next) {
        if (n->type == XML_COMMENT_NODE && n->content != nullptr &&
            mentionsMusicXml(reinterpret_cast<const char*>(n->content))) {
            return scorecore::kOk;
        }
    }
    return scorecore::kErrUnknownFormat;
}

// --- the timewise-to-partwise transform -------------------------------------------------

void quietXsltError(void*, const char*, ...) {}

// libxslt reports through process-wide handlers; the library shows nothing.
void initXslt() {
    static const bool done = [] {
        xmlInitParser();
        xsltSetGenericErrorFunc(nullptr, quietXsltError);
        return true;
    }();
    (void)done;
}

struct StyleSheetFree {
    void operator()(xsltStylesheetPtr sheet) const { xsltFreeStylesheet(sheet); }
};
struct SecurityPrefsFree {
    void operator()(xsltSecurityPrefsPtr prefs) const { xsltFreeSecurityPrefs(prefs); }
};
struct TransformContextFree {
    void operator()(xsltTransformContextPtr ctxt) const { xsltFreeTransformContext(ctxt); }
};

// The style sheet of the file, or the built-in one without a file: parsed
// like every document, without network or DTD.
std::unique_ptr<xsltStylesheet, StyleSheetFree> loadStyleSheet(const std::optional<std::filesystem::path>& file,
                                                               std::string_view& failedStep) {
    constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr sheetDoc = file ? xmlReadFile(file->c_str(), nullptr, kOptions)
                              : xmlReadMemory(kBuiltInStyleSheet.data(), static_cast<int>(kBuiltInStyleSheet.size()),
                                              nullptr, nullptr, kOptions);
    if (sheetDoc == nullptr) {
        failedStep = "pStyleSheet->load";
        return nullptr;
    }
    // On success the style sheet owns the document; on failure it is ours.
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(sheetDoc);
    if (sheet == nullptr) {
        xmlFreeDoc(sheetDoc);
        failedStep = "pIXSLTemplate->putref_stylesheet";
    }
    return std::unique_ptr<xsltStylesheet, StyleSheetFree>(sheet);
}

std::unique_ptr<xsltSecurityPrefs, SecurityPrefsFree> lockedDownPrefs() {
    std::unique_ptr<xsltSecurityPrefs, SecurityPrefsFree> prefs(xsltNewSecurityPrefs());
    if (!prefs) return nullptr;
    for (xsltSecurityOption option : {XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                                      XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
        if (xsltSetSecurityPrefs(prefs.get(), option, xsltSecurityForbid) != 0) return nullptr;
    }
    return prefs;
}

// Turns doc (any root but score-partwise) into the partwise document through
// the style sheet (none: the built-in one). kOk, or kErrDom with the failing
// step named.
int transformToPartwise(const std::optional<std::filesystem::path>& styleSheet, XmlDocument& doc,
                        std::string_view& failedStep) {
    initXslt();
    const auto sheet = loadStyleSheet(styleSheet, failedStep);
    if (!sheet) return scorecore::kErrDom;
    const auto prefs = lockedDownPrefs();
    std::unique_ptr<xsltTransformContext, TransformContextFree> ctxt(xsltNewTransformContext(sheet.get(), doc.get()));
    if (!prefs || !ctxt || xsltSetCtxtSecurityPrefs(prefs.get(), ctxt.get()) != 0) {
        failedStep = "pIXSLProcessor";
        return scorecore::kErrDom;
    }
    xsltSetTransformErrorFunc(ctxt.get(), nullptr, quietXsltError);
    scorecore::XmlDocPtr result(xsltApplyStylesheetUser(sheet.get(), doc.get(), nullptr, nullptr, nullptr, ctxt.get()));
    if (!result || ctxt->state != XSLT_STATE_OK) {
        failedStep = "pIXSLProcessor->transform";
        return scorecore::kErrDom;
    }
    doc = XmlDocument(std::move(result));
    return scorecore::kOk;
}

// --- the header -------------------------------------------------------------------------

int readIdentification(const xmlNode* identification, CHeaderTexts& texts) {
    for (const xmlNode* c = identification->children; c != nullptr; c = c->next) {
        int rc = scorecore::kOk;
        if (isNamed(c, "encoding")) {
            rc = scorecore::xmldomGetChildAttributes(c, texts.encoding);
        } else if (isNamed(c, "creator")) {
            rc = scorecore::xmldomReadAttributes(c, texts.creators);
        } else if (isNamed(c, "rights")) {
            rc = scorecore::xmldomReadAttributes(c, texts.rights);
        } else if (isNamed(c, "miscellaneous")) {
            rc = scorecore::xmldomGetChildAttributes(c, texts.miscellaneous);
        } else if (isNamed(c, "source")) {
            texts.source = scorecore::xmldomNodeText(c);
        }
        if (rc != scorecore::kOk) return rc;
    }
    return scorecore::kOk;
}

// The children of the root in order; the part list is read once, the parts
// themselves are left to the measure readers.
int readRootChildren(CMxmlFile& file, const xmlNode* root, CHeaderTexts& texts) {
    bool partListRead = false;
    for (const xmlNode* c = root->children; c != nullptr; c = c->next) {
        int rc = scorecore::kOk;
        if (isNamed(c, "part-list") && !partListRead) {
            partListRead = true;
            rc = readPartList(file, c);
        } else {
            rc = readHeaderElement(c, texts);
        }
        if (rc != scorecore::kOk) return rc;
        if (file.stopRequested()) return scorecore::kErrStopped;
    }
    return finishPartTable(file) ? scorecore::kOk : scorecore::kErrOutOfMemory;
}

void appendEntry(std::vector<std::string>& lines, std::string_view first, std::string_view second) {
    std::string line(first);
    line += ": ";
    line += second;
    lines.push_back(std::move(line));
}

// One line per entry: the attribute's value (or the element's name) and the text.
void appendEntries(std::vector<std::string>& lines, const CAttrList& list) {
    for (int i = 0; i < list.count(); ++i) appendEntry(lines, list.value(i), list.text(i));
}

std::string buildDescription(const CMxmlFile& file, const CHeaderTexts& texts, platform::FileTime modTime) {
    std::vector<std::string> lines;
    appendEntries(lines, texts.creators);
    appendEntries(lines, texts.work);
    if (texts.movementTitle) appendEntry(lines, "movement-title", *texts.movementTitle);
    if (texts.movementNumber) appendEntry(lines, "movement-number", *texts.movementNumber);
    appendEntries(lines, texts.rights);
    if (texts.source) appendEntry(lines, "source", *texts.source);
    appendEntries(lines, texts.encoding);
    appendEntries(lines, texts.miscellaneous);
    lines.push_back(file.modifiedLabel + formatModDate(modTime));
    std::string description;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) description += file.lineEnd;
        description += lines[i];
    }
    return description;
}

int loadHeader(CMxmlFile& file, const std::filesystem::path& source,
               std::span<const std::filesystem::path> styleSheetFolders) {
    XmlDocument doc;
    if (const int rc = getVersion(source, &doc); rc != scorecore::kOk) return rc;
    dropLoadedTables(file);
    if (doc.root() == nullptr) return scorecore::kErrUnknownFormat;
    if (!isNamed(doc.root(), "score-partwise")) {
        // Without folders the built-in sheet serves, wherever the host runs.
        const bool fromFolders = !styleSheetFolders.empty();
        const std::optional<std::filesystem::path> sheet =
            fromFolders ? findStyleSheet(styleSheetFolders) : std::nullopt;
        std::string_view failedStep = "pStyleSheet->load";
        if ((fromFolders && !sheet) || transformToPartwise(sheet, doc, failedStep) != scorecore::kOk) {
            file.logStep(kFunction, failedStep);
            return scorecore::kErrDom;
        }
        if (doc.root() == nullptr) return scorecore::kErrUnknownFormat;
    }
    file.document = std::move(doc);
    if (file.stopRequested()) return scorecore::kErrStopped;

    CHeaderTexts texts;
    if (const int rc = readRootChildren(file, file.document.root(), texts); rc != scorecore::kOk) return rc;
    return finishHeader(file, source, texts);
}

}  // namespace

int readHeaderElement(const xmlNode* element, CHeaderTexts& texts) {
    if (isNamed(element, "work")) return scorecore::xmldomGetChildAttributes(element, texts.work);
    if (isNamed(element, "identification")) return readIdentification(element, texts);
    if (isNamed(element, "movement-number")) {
        texts.movementNumber = scorecore::xmldomNodeText(element);
    } else if (isNamed(element, "movement-title")) {
        texts.movementTitle = scorecore::xmldomNodeText(element);
    }
    return scorecore::kOk;
}

int finishHeader(CMxmlFile& file, const std::filesystem::path& source, const CHeaderTexts& texts) {
    // The time of the file as it is now, which must still be there to be read.
    std::ifstream in(source, std::ios::binary);
    const std::optional<platform::FileTime> modTime = platform::fileTimeOf(source);
    if (!in || !modTime) return scorecore::kErrCannotOpen;
    file.modTime = *modTime;
    file.description = buildDescription(file, texts, *modTime);
    return scorecore::kOk;
}

void dropLoadedTables(CMxmlFile& file) {
    file.document.reset();
    file.parts.clear();
    file.voiceTables.clear();
    file.staffNames.clear();
    file.staffTransposition.clear();
    file.staffLines.clear();
    file.lyricVerses.clear();
    file.clefs.clear();
    file.groupEnd.clear();
    file.instruments.clear();
    scorecore::scFreePartGroupList(file.partGroups);
    file.description.clear();
    file.descriptionW.clear();
    file.midiInstrumentListCount = 0;
    file.rowCount = 0;
    file.modTime = 0;
}


std::optional<std::filesystem::path> findStyleSheet(std::span<const std::filesystem::path> folders) {
    for (const std::filesystem::path& folder : folders) {
        std::error_code ec;
        const std::filesystem::path candidate = folder / kStyleSheetName;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

int getVersion(const std::filesystem::path& source, XmlDocument* out) {
    XmlDocument doc;
    if (scorecore::xmldomLoadFile(source, doc) != scorecore::kOk) return scorecore::kErrCannotOpen;
    const int rc = checkMusicXml(doc);
    if (rc == scorecore::kOk && out != nullptr) *out = std::move(doc);
    return rc;
}

int getProps(CMxmlFile& file, const std::filesystem::path& source,
             std::span<const std::filesystem::path> styleSheetFolders) {
    try {
        return loadHeader(file, source, styleSheetFolders);
    } catch (const std::bad_alloc&) {
        return scorecore::kErrOutOfMemory;
    }
}

std::string formatModDate(platform::FileTime time) {
    const auto day = std::chrono::floor<std::chrono::days>(platform::fileTimeToTimePoint(time));
    const std::chrono::year_month_day date{day};
    char text[32];
    std::snprintf(text, sizeof text, "%02i-%02i-%04i", static_cast<int>(static_cast<unsigned>(date.day())),
                  static_cast<int>(static_cast<unsigned>(date.month())), static_cast<int>(date.year()));
    return text;
}

}  // namespace scoreconv
