#include "musicxml/output_elements.h"

#include <array>
#include <new>
#include <span>
#include <string>

#include "musicxml/mxml_file.h"
#include "platform/atomic_file.h"
#include "play/play_model.h"
#include "play/render_output.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrIndex;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;
using scorecore::XmlElementArgs;

namespace {

constexpr int kDepthMeasureChild = 3;
constexpr int kDepthNoteChild = 4;

// The General MIDI percussion names of keys 35 to 81.
constexpr int32_t kFirstDrumKey = 35;
constexpr std::array<std::string_view, 47> kDrumNames = {
    "Acoustic Bass Drum", "Bass Drum 1",    "Side Stick",     "Acoustic Snare", "Hand Clap",
    "Electric Snare",     "Low Floor Tom",  "Closed Hi-Hat",  "High Floor Tom", "Pedal Hi-Hat",
    "Low Tom",            "Open Hi-Hat",    "Low-Mid Tom",    "Hi-Mid Tom",     "Crash Cymbal 1",
    "High Tom",           "Ride Cymbal 1",  "Chinese Cymbal", "Ride Bell",      "Tambourine",
    "Splash Cymbal",      "Cowbell",        "Crash Cymbal 2", "Vibraslap",      "Ride Cymbal 2",
    "Hi Bongo",           "Low Bongo",      "Mute Hi Conga",  "Open Hi Conga",  "Low Conga",
    "High Timbale",       "Low Timbale",    "High Agogo",     "Low Agogo",      "Cabasa",
    "Maracas",            "Short Whistle",  "Long Whistle",   "Short Guiro",    "Long Guiro",
    "Claves",             "Hi Wood Block",  "Low Wood Block", "Mute Cuica",     "Open Cuica",
    "Mute Triangle",      "Open Triangle",
};

int nameTrack(CMxmlFile& file, int32_t track, const std::string& name) {
    return renderPutSetUpText(file, track, kMetaTrackName, name) < 0 ? kErrOutOfMemory : kOk;
}

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

std::string percussionTrackName(int32_t key) {
    const int32_t index = key - kFirstDrumKey;
    if (index >= 0 && index < static_cast<int32_t>(kDrumNames.size())) {
        return std::string(kDrumNames[static_cast<std::size_t>(index)]);
    }
    return "[" + std::to_string(key) + "]";
}

int writeTrackNames(CMxmlFile& file) {
    if (file.playMode != kModeRender) return kOk;
    try {
        const std::span<const int32_t> voices(file.voiceCounts);
        const bool drumTracks = (file.playConditions & kCondPercussionTracks) != 0;
        for (int32_t s = 0; s < static_cast<int32_t>(voices.size()); ++s) {
            const int32_t first =
                planTracks(file.instruments, voices.first(static_cast<std::size_t>(s)), file.playConditions, false, false)
                    .count;
            if (drumTracks && file.instruments.isPercussionStaff(s)) {
                const auto records = file.instruments.list(s);
                for (std::size_t i = 0; i < records.size(); ++i) {
                    const int rc = nameTrack(file, first + static_cast<int32_t>(i), percussionTrackName(records[i].PercNote));
                    if (rc != kOk) return rc;
                }
                continue;
            }
            const int32_t used = voices[static_cast<std::size_t>(s)];
            const std::string staffName =
                static_cast<std::size_t>(s) < file.staffNames.size() ? file.staffNames[static_cast<std::size_t>(s)].name : "";
            for (int32_t v = 0; v < used; ++v) {
                const std::string name = used == 1 ? staffName : staffName + "-" + std::to_string(v + 1);
                if (const int rc = nameTrack(file, first + v, name); rc != kOk) return rc;
            }
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

}  // namespace scoreconv
