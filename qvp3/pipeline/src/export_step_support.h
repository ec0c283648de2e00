// What the export step's worker and its burn share: the page's view, status
// lines, the cancel word and the waits.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "qvp3_pipeline/export_step.h"

namespace qvp3 {

// The page's view; a silent one while the page closes.
ExportStepView& cnvExportView(ExportStepPage& page);
// A language string, or the English text where the shell has none.
std::string cnvExportText(ExportStepPage& page, int id, const char* english);
void cnvExportLine(ExportStepPage& page, std::string_view text, bool replaceLast = false);
void cnvExportLine(ExportStepPage& page, int id, const char* english, bool replaceLast = false);
// The cancel word (the first entry's state) or the page's asks for a stop.
bool cnvExportCancelled(ExportStepPage& page);
// Waits, cut short by a cancel; false when cancelled.
bool cnvExportWait(ExportStepPage& page, std::chrono::milliseconds wait);
// The page's bars: the total one with its range, both at 0.
void cnvExportResetBars(ExportStepPage& page, int totalMaximum);

}  // namespace qvp3
