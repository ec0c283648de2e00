// The systems of a TvrXML document whose staves are written out as text while
// the document is built (CVxmlFile::packStaves). Each staff's text goes into
// the document's deflate stream as soon as the staves before it in its system
// are there, in the segment of its system (the text before the first system
// is segment 0, system k is segment k + 1), so that the document's text is
// never held whole: only the staves that wait for one before them, and the
// blocks that wait for the text before them.
#pragma once

#include "scorecore/deflate_stream.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scorecore {

class PackedSystems {
public:
    PackedSystems();

    // The text of staff `staff` of system `system`, pieces one after the
    // other. The first staff of a system goes after the system's own start,
    // which head writes when it is needed. False when the stream failed.
    bool putStaff(std::size_t system, int staff, std::vector<std::string> pieces,
                  const std::function<bool(std::string&)>& head);
    // Whether the system has had any staff.
    bool hasStaves(std::size_t system) const;
    // The rest of the system's text; the system is complete. The last one
    // stays open for the end of the document.
    bool endSystem(std::size_t system, std::string_view text, bool last);
    // All `count` systems are complete (at least one): the document holds
    // `placeholder` where its systems go, which open with start and close
    // with end.
    void endSystems(std::size_t count, std::string placeholder, std::string start, std::string end);

    // The container at target, with document (the document saved with its
    // placeholder) around the systems. The first call finishes the stream;
    // a later one writes the same bytes again, and fails when the document
    // around the systems has changed since. 0, or -101.
    int write(const std::filesystem::path& target, std::string_view document);

private:
    struct System {
        int staves = 0;  // put into the stream so far
        std::map<int, std::vector<std::string>> waiting;
    };
    bool putText(std::size_t system, std::vector<std::string>& pieces);

    DeflateStream stream_;
    std::vector<System> systems_;
    bool ended_ = false;
    std::size_t systemCount_ = 0;
    std::string placeholder_;
    std::string start_;
    std::string end_;
    std::optional<DeflatedText> deflated_;
    std::string written_;  // the document around the systems, as deflated
};

}  // namespace scorecore
