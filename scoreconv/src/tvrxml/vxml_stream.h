// The MusicXML side of a conversion to TvrXML that never holds the whole
// document: the file is read twice, one part at a time, each part freed
// before the next is expanded.
//
//   1. The header pass reads the header and the part list and, of every part,
//      what the TvrXML layout needs before the first system is written: its
//      entry in the part and staff tables and its measure weights (the system
//      estimate looks across all parts).
//   2. The walk pass reads the parts again and walks each into the receiver
//      (the TvrXML bridge), which writes its staves out as text as soon as no
//      later part fills them.
//
// It serves the files the streamed load serves (stream_load.h); for any other
// the header pass answers kStreamNotServed with the file's tables as it found
// them, and the caller reads the whole document.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/measure_walk.h"
#include "musicxml/mxml_file.h"

namespace scoreconv {

class CMxmlSpanFinder;

// What the header pass found.
struct CStreamedParts {
    std::vector<int32_t> walkOrder;  // part-table index of each <part> element, in document order
    std::vector<std::string> ids;    // the elements' ids, to know them again in the walk pass
    std::vector<int32_t> weights;    // measure weights of the score (vxml_bridge.h)
};

// The header pass, in the file's mode (5): fills the file's header, part
// table and staff tables as the whole-document load does. kOk;
// kStreamNotServed; or the code the whole-document load gives for the same
// failure, with *failedStep naming the step for the log.
int readStreamedHeader(CMxmlFile& file, const std::filesystem::path& source, CStreamedParts& parts,
                       std::string_view& failedStep);

// The walk pass: every part element, in document order, walked with walk
// (begin, walkPartElement, finish). The look-ahead readings of each part's
// notes are made where the part is parsed and handed to spans, the walk's
// span finder. kOk; kErrCannotOpen when the file no longer reads as it did
// in the header pass; else the walk's code.
int walkStreamedParts(CMxmlFile& file, const std::filesystem::path& source, const CStreamedParts& parts,
                      CMeasureWalk& walk, CMxmlSpanFinder& spans);

}  // namespace scoreconv
