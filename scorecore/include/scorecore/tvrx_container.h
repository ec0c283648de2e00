// The ".tvrx" container: a zip archive holding one entry "score.xml", the
// TvrXML document, deflated at the strongest level. Both directions work in
// memory; nothing is extracted to disk and no fixed temporary file is shared,
// so conversions running at the same time never mix their output.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "scorecore/deflate_stream.h"

namespace scorecore {

inline constexpr std::string_view kTvrxEntryName = "score.xml";
// The entry is deflated at the strongest level, as the stored format asks.
inline constexpr int kTvrxDeflateLevel = 9;
// The largest "score.xml" a reader unpacks; an entry that claims or inflates to
// more is refused.
inline constexpr std::size_t kMaxTvrxEntryBytes = 64u << 20;

// Where the systems of a document begin: the line of each system's start tag.
// The deflated document is cut into blocks there (and every
// kDeflateBlockBytes after), so that a document deflated a system at a time
// while it is written (deflate_stream.h, one segment per system) has the
// bytes of the same document deflated whole.
inline constexpr std::string_view kTvrxSystemLine = "\n\t\t<system ";

// Zips xml as the entry "score.xml" into target. The archive is built in memory
// and goes to a temporary file beside target that replaces it only once
// complete, so a failure leaves an existing target as it was. 0, or -101.
int writeTvrxContainer(const std::filesystem::path& target, std::string_view xml);
// The same for a document deflated already.
int writeTvrxContainer(const std::filesystem::path& target, const DeflatedText& deflated);

// Reads the document of a container into xml: the entry named "score.xml", or
// the only entry when there is just one (entry names are never used as paths).
// -103 when the file cannot be opened or is not a zip archive, when no entry
// qualifies, when the entry cannot be read, when it is larger than maxBytes or
// holds more than it declares; -104 when two entries are named "score.xml".
int readTvrxContainer(const std::filesystem::path& path, std::string& xml,
                      std::size_t maxBytes = kMaxTvrxEntryBytes);

}  // namespace scorecore
