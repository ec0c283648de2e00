// The ".tvrx" container: a zip archive holding one entry "score.xml", the
// TvrXML document, deflated at the strongest level. Both directions work in
// memory; nothing is extracted to disk and no fixed temporary file is shared,
// so conversions running at the same time never mix their output.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace scorecore {

inline constexpr std::string_view kTvrxEntryName = "score.xml";
// The largest "score.xml" a reader unpacks; an entry that claims or inflates to
// more is refused.
inline constexpr std::size_t kMaxTvrxEntryBytes = 64u << 20;

// Zips xml as the entry "score.xml" into target. The archive is built in memory
// and goes to a temporary file beside target that replaces it only once
// complete, so a failure leaves an existing target as it was. 0, or -101.
int writeTvrxContainer(const std::filesystem::path& target, std::string_view xml);
// The same for a document held in pieces, which go into the archive one after
// the other as one entry; they are read in place, never joined into one text.
int writeTvrxContainer(const std::filesystem::path& target, std::span<const std::string_view> xml);

// Reads the document of a container into xml: the entry named "score.xml", or
// the only entry when there is just one (entry names are never used as paths).
// -103 when the file cannot be opened or is not a zip archive, when no entry
// qualifies, when the entry cannot be read, when it is larger than maxBytes or
// holds more than it declares; -104 when two entries are named "score.xml".
int readTvrxContainer(const std::filesystem::path& path, std::string& xml,
                      std::size_t maxBytes = kMaxTvrxEntryBytes);

}  // namespace scorecore
