#include "musicxml/output_elements.h"

#include <new>
#include <string>

#include "musicxml/mxml_file.h"
#include "platform/atomic_file.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrIndex;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;
using scorecore::XmlElementArgs;

namespace {

constexpr int kDepthMeasureChild = 3;
constexpr int kDepthNoteChild = 4;

}  // namespace

int appendBackup(scorecore::XmlDocument& doc, const scorecore::CDomNodeGroup& part, int32_t measureIndex,
                 int32_t ticks) {
    if (measureIndex < 0 || measureIndex >= part.itemCount()) return kErrIndex;
    xmlNodePtr measure = part.items[static_cast<std::size_t>(measureIndex)].node;
    if (measure == nullptr) return kErrIndex;
    xmlNodePtr backup = nullptr;
    if (const int rc = scorecore::xmldomAppendElement(XmlElementArgs(doc, nullptr, "backup").out(&backup)); rc != kOk) {
        return rc;
    }
    if (const int rc = scorecore::xmldomAppendElement(XmlElementArgs(doc, backup, "duration")
                                                          .depth(kDepthNoteChild)
                                                          .indent()
                                                          .text(std::to_string(ticks)));
        rc != kOk) {
        return rc;
    }
    return scorecore::xmldomAppendChild(doc, measure, backup, kDepthMeasureChild, true, true);
}

int appendBackup(CMxmlFile& file, int32_t ticks, int32_t partIndex) {
    const int32_t index = partIndex == -1 ? file.writerPart : partIndex;
    if (index < 0 || static_cast<std::size_t>(index) >= file.writer.parts.size()) return kErrIndex;
    return appendBackup(file.document, file.writer.parts[static_cast<std::size_t>(index)].group, file.writerMeasure,
                        ticks);
}

int appendTimeModification(scorecore::XmlDocument& doc, xmlNodePtr note, const scorecore::CScoreEvent& event) {
    if (event.tupletCount == 0) return kOk;
    xmlNodePtr modification = nullptr;
    if (const int rc =
            scorecore::xmldomAppendElement(XmlElementArgs(doc, nullptr, "time-modification").out(&modification));
        rc != kOk) {
        return rc;
    }
    for (const auto& [name, value] : {std::pair{"actual-notes", event.tupletCount}, std::pair{"normal-notes", event.tupletNormal}}) {
        if (const int rc = scorecore::xmldomAppendElement(XmlElementArgs(doc, modification, name)
                                                              .depth(kDepthNoteChild + 1)
                                                              .indent()
                                                              .text(std::to_string(value)));
            rc != kOk) {
            return rc;
        }
    }
    return scorecore::xmldomAppendChild(doc, note, modification, kDepthNoteChild, true, true);
}

int32_t staffLineCount(std::string_view pattern) {
    if (pattern == "1") return 1;
    if (pattern.empty() || pattern == "5") return 5;
    int32_t lines = 0;
    for (const char c : pattern) lines += c == '|' ? 1 : 0;
    return lines;
}

int saveFile(const CMxmlFile& file, const std::filesystem::path& path) {
    std::string xml;
    if (!file.document || scorecore::xmldomSaveToString(file.document, xml) != kOk) return scorecore::kErrWrite;
    return platform::writeFileAtomically(path, xml) ? kOk : scorecore::kErrWrite;
}

void setOriginalFilename(CMxmlFile& file, std::string_view name) { file.fnOriginal = std::string(name); }

}  // namespace scoreconv
