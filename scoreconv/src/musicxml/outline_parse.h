// A piece of a score parsed with its notes in outline: each note keeps its
// own children (with their attributes and texts) but not what lies inside
// them, except an <unpitched> whole. A reader that looks at a note's children
// only (voices, staves, types, rests, lyrics, instruments, display pitches)
// finds all it reads, in a document a good deal smaller and quicker to build
// and to free than the whole one.
//
// The text is parsed as xmlReadMemory parses it with the same options, and
// fails where that fails: only the building of the dropped elements is left
// out.
#pragma once

#include <string_view>

#include "scorecore/xml_dom.h"

namespace scoreconv {

// Null when the text is not well-formed (or memory runs out).
scorecore::XmlDocPtr parseWithNotesInOutline(std::string_view text, int options);

}  // namespace scoreconv
