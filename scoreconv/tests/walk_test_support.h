// Shared by the tests of the note and measure readers and the measure walk:
// loading a score (from a file through getProps, or from text through the
// part-list reader) into the play model, and compact views of what the model
// holds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/part_list.h"
#include "musicxml/play_model_builder.h"
#include "mxml_load_support.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv::testing {

// Loads a MusicXML file into the play model (getProps, then the walk).
inline int loadScore(LoggedFile& f, const std::filesystem::path& source) {
    const std::filesystem::path folders[] = {styleSheetFolder()};
    return loadPlayModel(*f.file, source, folders);
}

// Loads MusicXML text (partwise) into the play model through the part-list
// reader, as getProps would.
inline int loadText(LoggedFile& f, std::string_view xml) {
    CMxmlFile& file = *f.file;
    if (scorecore::xmldomParseMemory(xml, file.document) != scorecore::kOk) return scorecore::kErrXmlDocument;
    const CMxmlFile::ModeScope mode(file, CMxmlFile::loadMode(file.playModeNow()));
    xmlNodePtr partList = nullptr;
    if (scorecore::xmldomGetChild(file.document.root(), "part-list", &partList) != scorecore::kOk) {
        return scorecore::kErrDom;
    }
    if (const int rc = readPartList(file, partList); rc != scorecore::kOk) return rc;
    if (!finishPartTable(file)) return scorecore::kErrOutOfMemory;
    return buildPlayModel(file);
}

inline int32_t keyOf(uint32_t message) { return static_cast<int32_t>((message >> 8) & 0xFF); }
inline int32_t channelOf(uint32_t message) { return static_cast<int32_t>(message & 0x0F); }

// "start+duration:key,key" for every note or chord of a voice (grace notes
// that stay grace notes end in "g").
inline std::vector<std::string> notes(const CMxmlFile& file, int32_t staff, int32_t voice) {
    std::vector<std::string> out;
    for (const CScoreEvent& e : file.events.events(staff, voice)) {
        if (!e.isKind(scorecore::kKindNote)) continue;
        std::string text = std::to_string(e.start) + "+" + std::to_string(e.duration) + ":";
        for (int32_t h = 0; h < e.headCount; ++h) {
            if (h > 0) text += ',';
            text += std::to_string(keyOf(e.midi[static_cast<std::size_t>(h)]));
        }
        if (e.isKind(scorecore::kKindGrace)) text += "g";
        out.push_back(text);
    }
    return out;
}

// The events of the score-wide row whose kind shares a bit with kinds.
inline std::vector<const CScoreEvent*> globals(const CMxmlFile& file, uint32_t kinds) {
    std::vector<const CScoreEvent*> out;
    for (const CScoreEvent& e : file.events.events(file.events.globalRow(), 0)) {
        if ((e.kind & kinds) != 0) out.push_back(&e);
    }
    return out;
}

// "tick:tempo" of every tempo mark.
inline std::vector<std::string> tempos(const CMxmlFile& file) {
    std::vector<std::string> out;
    for (const CScoreEvent* e : globals(file, scorecore::kKindTempo)) {
        out.push_back(std::to_string(e->start) + ":" + std::to_string(eventTempo(*e)));
    }
    return out;
}

// The MIDI channel of the notes of (staff, voice); -1 when they have none or
// several.
inline int32_t noteChannel(const CMxmlFile& file, int32_t staff, int32_t voice) {
    int32_t channel = -1;
    for (const CScoreEvent& e : file.events.events(staff, voice)) {
        if (!e.isKind(scorecore::kKindNote)) continue;
        for (int32_t h = 0; h < e.headCount; ++h) {
            const uint32_t message = e.midi[static_cast<std::size_t>(h)];
            if ((message & 0xF0) != 0x90) return -1;
            if (channel >= 0 && channelOf(message) != channel) return -1;
            channel = channelOf(message);
        }
    }
    return channel;
}

}  // namespace scoreconv::testing
