#include "scorecore/vxml_file.h"

#include "platform/text.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"
#include "vxml_objects.h"
#include "vxml_packed.h"

#include <libxml/xpath.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <utility>
#include <memory>

namespace scorecore {

namespace {

constexpr std::string_view kSharpSteps = "fcgdaeb";
constexpr std::string_view kFlatSteps = "beadgcf";
constexpr std::string_view kStepLetters = "cdefgab";
constexpr int kAccidentalSharp = 3;
constexpr int kAccidentalFlat = -4;

struct XPathContextFree {
    void operator()(xmlXPathContextPtr ctx) const { xmlXPathFreeContext(ctx); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObjectPtr obj) const { xmlXPathFreeObject(obj); }
};
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextFree>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectFree>;

// The element nodes an XPath expression selects from context, in document order.
std::vector<xmlNodePtr> selectNodes(xmlDocPtr doc, xmlNodePtr context, const char* expression) {
    std::vector<xmlNodePtr> nodes;
    XPathContextPtr ctx(xmlXPathNewContext(doc));
    if (!ctx) return nodes;
    ctx->node = context;
    XPathObjectPtr result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression), ctx.get()));
    if (!result || result->nodesetval == nullptr) return nodes;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
        xmlNodePtr node = result->nodesetval->nodeTab[i];
        if (node != nullptr && node->type == XML_ELEMENT_NODE) nodes.push_back(node);
    }
    return nodes;
}

std::string withCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// "dd-mm-yyyy" of a FILETIME, in UTC.
std::string formatFileDate(platform::FileTime fileTime) {
    const auto day = std::chrono::floor<std::chrono::days>(platform::fileTimeToTimePoint(fileTime));
    const std::chrono::year_month_day ymd(day);
    char text[32];
    std::snprintf(
        text, sizeof text, "%02i-%02i-%04i", static_cast<int>(static_cast<unsigned>(ymd.day())),
        static_cast<int>(static_cast<unsigned>(ymd.month())), static_cast<int>(ymd.year()));
    return text;
}

}  // namespace

CVxmlFile::CVxmlFile(CScoreLog* scoreLog) : log(scoreLog) {}

CVxmlFile::~CVxmlFile() {
    destroy();
}

void CVxmlFile::destroy() {
    path.clear();
    resetCursor();
    staffLayouts.clear();
    staffLayouts.shrink_to_fit();
    staffLayoutCount = 0;
    releaseDocument();
    signal = nullptr;
    progressWindow = nullptr;
}

void CVxmlFile::releaseDocument() {
    // The helper writes into voices that are about to go.
    objectWriter_.reset();
    handedStaves_.clear();
    for (CDomNodeGroup& system : systems) system.clear();
    systems.clear();
    systems.shrink_to_fit();
    systemsNode = nullptr;
    root = nullptr;
    stavesNode = nullptr;
    packed_.reset();
    document.reset();
}

void CVxmlFile::logStep(std::string_view function, std::string_view step) const {
    if (log == nullptr) return;
    std::string line = "\tscoreconv|";
    line += function;
    line += ':';
    line += step;
    log->writeLine(line);
}

// --- cursor and tree -----------------------------------------------------------------

void CVxmlFile::setCursor(int system, int staff, int voice) {
    curSystem = system;
    curStaff = staff;
    curVoice = voice;
}

const CDomNodeGroup* CVxmlFile::systemAt(int system) const {
    system = resolve(system, curSystem);
    if (system < 0 || system >= getSystemCount()) return nullptr;
    return &systems[static_cast<std::size_t>(system)];
}
CDomNodeGroup* CVxmlFile::systemAt(int system) {
    return const_cast<CDomNodeGroup*>(std::as_const(*this).systemAt(system));
}

const CDomNodeItem* CVxmlFile::staffAt(int system, int staff) const {
    const CDomNodeGroup* group = systemAt(system);
    staff = resolve(staff, curStaff);
    if (group == nullptr || staff < 0 || staff >= group->itemCount()) return nullptr;
    return &group->items[static_cast<std::size_t>(staff)];
}
CDomNodeItem* CVxmlFile::staffAt(int system, int staff) {
    return const_cast<CDomNodeItem*>(std::as_const(*this).staffAt(system, staff));
}

const CVxmlVoice* CVxmlFile::voiceAt(int system, int staff, int voice) const {
    const CDomNodeItem* item = staffAt(system, staff);
    voice = resolve(voice, curVoice);
    if (item == nullptr || voice < 0 || voice >= item->voiceCount()) return nullptr;
    return &item->voices[static_cast<std::size_t>(voice)];
}
CVxmlVoice* CVxmlFile::voiceAt(int system, int staff, int voice) {
    return const_cast<CVxmlVoice*>(std::as_const(*this).voiceAt(system, staff, voice));
}

bool CVxmlFile::addSystem() {
    try {
        systems.emplace_back();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

int CVxmlFile::getSystemStaffCount() const {
    const CDomNodeGroup* group = systemAt(-1);
    return group ? group->itemCount() : 0;
}

int CVxmlFile::getStaffVoiceCount() const {
    const CDomNodeItem* item = staffAt(-1, -1);
    return item ? item->voiceCount() : 0;
}

int CVxmlFile::getVoiceCount(int system, int staff) const {
    const CDomNodeItem* item = staffAt(system, staff);
    return item ? item->voiceCount() : 0;
}

int CVxmlFile::getSystemLastBar() const {
    const CDomNodeGroup* group = systemAt(-1);
    return group ? group->lastBar : 0;
}

int CVxmlFile::getSystemTempo(int system) const {
    const CDomNodeGroup* group = systemAt(system);
    return group ? group->tempo : 0;
}

xmlNodePtr CVxmlFile::getSystemStavesNode(int system) const {
    const CDomNodeGroup* group = systemAt(system);
    return group ? group->stavesNode : nullptr;
}

CBarNumbering* CVxmlFile::getSystemBarNumbering(int system) {
    CDomNodeGroup* group = systemAt(system);
    return group ? &group->barNumbering : nullptr;
}

int CVxmlFile::getSystemBeamGrouping(int system) const {
    const CDomNodeGroup* group = systemAt(system);
    return group ? group->beamGrouping : 0;
}

int CVxmlFile::getSystemInt(int system) const {
    const CDomNodeGroup* group = systemAt(system);
    return group ? group->systemInt : 0;
}

void CVxmlFile::setSystemInt(int value, int system) {
    if (CDomNodeGroup* group = systemAt(system)) group->systemInt = value;
}

xmlNodePtr CVxmlFile::getStaffNode(int system, int staff) const {
    const CDomNodeItem* item = staffAt(system, staff);
    return item ? item->node : nullptr;
}

xmlNodePtr CVxmlFile::getStaffNodeChecked(int system, int staff) const {
    return getStaffNode(system, staff);
}

CScoreClef* CVxmlFile::getStaffClef(int system, int staff) {
    CDomNodeItem* item = staffAt(system, staff);
    return item ? &item->clef : nullptr;
}

std::int8_t* CVxmlFile::getStaffKey(int system, int staff) {
    CDomNodeItem* item = staffAt(system, staff);
    return item ? &item->key : nullptr;
}

CMeter* CVxmlFile::getStaffTimeSig(int system, int staff) {
    CDomNodeItem* item = staffAt(system, staff);
    return item ? &item->timeSig : nullptr;
}

xmlNodePtr CVxmlFile::getNoteObjectsNode(int system, int staff, int voice) const {
    const CVxmlVoice* v = voiceAt(system, staff, voice);
    return v ? v->noteObjectsNode : nullptr;
}

int CVxmlFile::getFirstNoteObject(xmlNodePtr* out) const {
    if (out != nullptr) *out = nullptr;
    const xmlNodePtr noteObjects = getNoteObjectsNode(-1, -1, -1);
    if (noteObjects == nullptr) return kErrNotPresent;
    if (noteObjects->children == nullptr) return kXmlNotFound;
    if (out != nullptr) *out = noteObjects->children;
    return kOk;
}

int CVxmlFile::getVoiceTick(int system, int staff, int voice) const {
    const CVxmlVoice* v = voiceAt(system, staff, voice);
    return v ? v->tick : 0;
}

int CVxmlFile::getVoiceStemDir(int system, int staff, int voice) const {
    const CVxmlVoice* v = voiceAt(system, staff, voice);
    return v ? v->stemDir : 0;
}

void CVxmlFile::addVoiceTick(int delta) {
    if (CVxmlVoice* v = voiceAt(-1, -1, -1)) v->tick += delta;
}

void CVxmlFile::setVoiceTick(int value) {
    if (CVxmlVoice* v = voiceAt(-1, -1, -1)) v->tick = value;
}

void CVxmlFile::resetAccidentals(int fifths, int system, int staff, int voice) {
    CVxmlVoice* v = voiceAt(system, staff, voice);
    if (v == nullptr) return;
    v->clearAccidentals();
    const std::string_view order = fifths > 0 ? kSharpSteps : kFlatSteps;
    const int mark = fifths > 0 ? kAccidentalSharp : kAccidentalFlat;
    const int n = std::min(fifths < 0 ? -fifths : fifths, 7);
    for (int i = 0; i < n; ++i) {
        const std::size_t step = kStepLetters.find(order[static_cast<std::size_t>(i)]);
        for (auto& row : v->accidentals) row[step] = mark;
    }
}

// --- settings and signals ------------------------------------------------------------

bool CVxmlFile::postProgress(platform::WParam wParam, platform::LParam lParam) const {
    if (progressWindow == nullptr) return false;
    platform::MessageTarget* target =
        std::atomic_ref<platform::MessageTarget*>(*progressWindow).load();
    if (target == nullptr) return false;
    return target->post(platform::WM_MXML_PROGRESS, wParam, lParam);
}

bool CVxmlFile::isStopRequested(int* out) const {
    if (signal == nullptr || std::atomic_ref<int>(*signal).load() == 0) return false;
    if (out != nullptr) *out = kErrStopped;
    return true;
}

std::string CVxmlFile::staffLayoutName(int staffNumber) const {
    std::string name = staffNameFormat;
    for (std::string_view conversion : {"%i", "%d"}) {
        const std::size_t at = name.find(conversion);
        if (at != std::string::npos) {
            name.replace(at, conversion.size(), std::to_string(staffNumber));
            break;
        }
    }
    return name;
}

// --- files ---------------------------------------------------------------------------

int CVxmlFile::getVersion(const std::filesystem::path& file) {
    return probeVersion(&file, {});
}

int CVxmlFile::probeVersion(const std::filesystem::path* file, std::string_view bytes) {
    logStep("getVersion", "1");
    releaseDocument();
    logStep("getVersion", "2");
    const int loaded = file ? xmldomLoadFile(*file, document) : xmldomParseMemory(bytes, document);
    int rc = loaded == kOk ? checkRoot() : kErrCannotOpen;
    if (rc != kOk) releaseDocument();
    logStep("getVersion", "Ende");
    return rc;
}

int CVxmlFile::checkRoot() {
    logStep("getVersion", "3");
    root = document.root();
    if (root == nullptr) return kErrUnknownFormat;
    logStep("getVersion", "4");
    if (xmldomNodeName(root) != "score") return kErrUnknownFormat;
    logStep("getVersion", "5");
    CAttrList attrs;
    if (xmldomReadAttributes(root, attrs) != kOk) return kErrUnknownFormat;
    logStep("getVersion", "6");
    // The namespace declaration must come first and be the default namespace,
    // as the writing system puts it.
    if (!attrs.attrNameIs(0, "xmlns") || !isTvrxmlNamespace(attrs.value(0))) {
        return kErrUnknownFormat;
    }
    logStep("getVersion", "7");
    return kOk;
}

int CVxmlFile::getProps(const std::filesystem::path& file) {
    logStep("getProps", "1");
    logStep("getProps", "2");
    std::string xml;
    if (readTvrxContainer(file, xml) != kOk) return kErrCannotOpen;
    path = file;
    logStep("getProps", "3");
    logStep("getProps", "4");
    int rc = probeVersion(nullptr, xml);
    if (rc != kOk) return rc;
    logStep("getProps", "5");
    rc = readInfo();
    if (rc != kOk) return rc;
    logStep("getProps", "6");
    engine = kVxmlEngineText;
    const std::optional<platform::FileTime> written = platform::fileTimeOf(file);
    if (!written) return kErrCannotOpen;
    logStep("getProps", "7");
    modTime = *written;
    fileDate = formatFileDate(modTime);
    logStep("getProps", "Ende");
    return kOk;
}

int CVxmlFile::readInfo() {
    const xmlNodePtr info = root ? root->children : nullptr;
    if (info == nullptr || info->type != XML_ELEMENT_NODE || xmldomNodeName(info) != "info") {
        return kOk;
    }
    CAttrList rows;
    const int rc = xmldomGetChildAttributes(info, rows);
    if (rc != kOk) return rc;
    for (int i = 0; i < rows.count(); ++i) {
        const std::string_view text = rows.text(i);
        if (rows.elementNameIs(i, "author")) {
            if (!text.empty()) author = text;
        } else if (rows.elementNameIs(i, "keywords")) {
            if (!text.empty()) keywords = text;
        } else if (rows.elementNameIs(i, "comment")) {
            comment = withCrLf(text);
        }
    }
    return kOk;
}

int CVxmlFile::getLayoutStaffNum(int* count, std::vector<xmlNodePtr>* out) {
    if (count != nullptr) *count = 0;
    if (out != nullptr) out->clear();
    stavesNode = nullptr;
    staffLayoutCount = 0;
    if (!document || root == nullptr) return kErrIndex;
    // Matched by local name, so that files whose elements inherit the TvrXML
    // default namespace are read like documents built in memory.
    std::vector<xmlNodePtr> found =
        selectNodes(document.get(), root, "//*[local-name()='layout']/*[local-name()='staves']");
    if (!found.empty()) {
        stavesNode = found.front();
    } else {
        xmlNodePtr layout = nullptr;
        if (xmldomGetChild(root, "layout", &layout) != kOk ||
            xmldomGetChild(layout, "staves", &stavesNode) != kOk) {
            stavesNode = nullptr;
            return kErrIndex;
        }
    }
    std::vector<xmlNodePtr> layouts =
        selectNodes(document.get(), stavesNode, ".//*[local-name()='staffLayout']");
    if (layouts.empty()) {
        for (xmlNodePtr child = stavesNode->children; child != nullptr; child = child->next) {
            if (child->type == XML_ELEMENT_NODE && xmldomNodeName(child) == "staffLayout") {
                layouts.push_back(child);
            }
        }
    }
    if (layouts.empty()) return kErrIndex;
    staffLayoutCount = static_cast<int>(layouts.size());
    if (count != nullptr) *count = staffLayoutCount;
    if (out != nullptr) *out = std::move(layouts);
    return kOk;
}

int CVxmlFile::getLayoutPosOfStaff(std::string_view name) const {
    for (std::size_t i = 0; i < staffLayouts.size(); ++i) {
        if (staffLayouts[i].description == name) return static_cast<int>(i);
    }
    return -1;
}

int CVxmlFile::writeFile(const std::filesystem::path& target) {
    std::string xml;
    if (!document || xmldomSaveToString(document, xml) != kOk) return kErrWrite;
    // Packed systems go where the document holds the empty "systems": they
    // are in the deflate stream already.
    return packed_ ? packed_->write(target, xml) : writeTvrxContainer(target, xml);
}

}  // namespace scorecore
