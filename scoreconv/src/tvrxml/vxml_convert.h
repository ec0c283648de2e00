// The conversion of a ".tvrx" score into a MusicXML file: the TvrXML reader of
// the CVxmlFile walks the systems, staves and voices, and the MusicXML writer
// of the CMxmlFile (musicxml/mxml_writer.h) builds one part per staff layout,
// measure by measure.
//
// The procedure runs on whichever thread calls it: the caller's own, or the
// below-normal worker of vxmlConvertFile while the calling thread keeps
// pumping the progress target. Progress is posted through the TvrXML file's
// progress window: WM_MXML_PROGRESS with wParam 4 and lParam = systems x staff
// layouts once the score is set up, then wParam 3 after every staff of every
// system with lParam = staff layouts x system + staff + 1.
#pragma once

#include <string>

#include "musicxml/convert_proc.h"
#include "scorecore/vxml_file.h"

namespace scoreconv {

// Converts params->vxml's source (a ".tvrx" file) into a MusicXML file at
// params->targetPath with params->file as the writer. The outcome goes to
// *params->result: 0 (also at once when the file's play mode is not 5); -2
// out of memory; -5 stopped by the host's stop word; -6 a DOM operation
// failed; -7 nothing to read; -300 an element or attribute missing, with the
// system index in params->staffCount and the staff index in
// params->voiceCount; -1400 no start template; -1402 an element could not be
// made; -101 the file could not be saved, or the target is the source; the
// codes of getProps. Nothing is
// written at the target unless the conversion succeeds, and an older file
// there is replaced only by a complete one. The file's mode is the same
// afterwards.
void vxmlConvertProc(CConvertParams* params);

// Converts source into target on a below-normal worker while the calling
// thread pumps the TvrXML file's progress target every 10 ms; returns the
// result of the run. The caller's stop word (may be null) is zeroed first and
// stays stored in the file for later runs. -7 for a null file; -5 when the
// word stored by an earlier run is set; -1400 when the MusicXML object
// cannot be made; -2 when the worker cannot be started.
int vxmlConvertFile(scorecore::CVxmlFile* file, const std::string& sourcePath, const std::string& targetPath,
                    int* signal);

}  // namespace scoreconv
