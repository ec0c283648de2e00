// Lyrics of a note, kept in document order.
#include <string>

#include "musicxml/note_reader.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

namespace {

constexpr int32_t kSyllabicSingle = 1;

// "single" 1, "begin" 2, "middle" 3, "end" 4; a missing or unknown word is a
// single syllable.
int32_t syllabicCode(const xmlNode* lyric) {
    const std::optional<std::string> word = mx::childText(lyric, "syllabic");
    if (!word) return kSyllabicSingle;
    const std::string_view w = mx::trimmed(*word);
    if (mx::equalsNoCase(w, "begin")) return 2;
    if (mx::equalsNoCase(w, "middle")) return 3;
    if (mx::equalsNoCase(w, "end")) return 4;
    return kSyllabicSingle;
}

}  // namespace

int readLyrics(const xmlNode* note, CScoreEvent& event) {
    for (const xmlNode* lyric : mx::elements(note)) {
        if (mx::nameOf(lyric) != "lyric") continue;
        // Syllables joined by an elision are sung on this one note.
        bool hasText = false;
        std::string text;
        for (const xmlNode* c : mx::elements(lyric)) {
            if (mx::nameOf(c) != "text") continue;
            if (hasText) text += ' ';
            text += mx::text(c);
            hasText = true;
        }
        // Only an extender or a humming mark: nothing to sing a syllable of.
        if (!hasText) continue;
        scorecore::CScoreLyric entry;
        entry.number = syllabicCode(lyric);
        entry.extender = mx::hasChild(lyric, "extend") ? 1 : 0;
        if (!entry.setText(text) || !event.appendLyric(entry)) return scorecore::kErrOutOfMemory;
    }
    return scorecore::kOk;
}

}  // namespace scoreconv
