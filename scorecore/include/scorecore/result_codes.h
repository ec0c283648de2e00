// Result codes of the score library: 0 is success, negative values name the failure.
#pragma once

namespace scorecore {

inline constexpr int kOk = 0;
inline constexpr int kErrOutOfMemory = -2;
inline constexpr int kErrStopped = -5;        // busy, or stopped by the caller's signal
inline constexpr int kErrDom = -6;            // a DOM call failed
inline constexpr int kErrNotPresent = -7;     // an optional element is absent, or is to be read again
inline constexpr int kErrRead = -100;
inline constexpr int kErrWrite = -101;
inline constexpr int kErrCannotOpen = -103;
inline constexpr int kErrUnknownFormat = -104;
inline constexpr int kErrCreate = -200;
inline constexpr int kErrIndex = -300;        // an index out of range
inline constexpr int kErrXmlDocument = -1400;  // an XML document could not be created or loaded
inline constexpr int kErrXmlElement = -1402;   // an XML element could not be created or attached
inline constexpr int kErrNoteSkipped = -1408;

}  // namespace scorecore
