// What the sound configuration page's handlers share: the audio engine the
// host gives, the current entry, showing an entry's configuration and the
// enabling rules; the sound tree with the sample library's assignments and
// the effect's choice live in files of their own.
#pragma once

#include <QString>

#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/sample_player.h"
#include "qvp3_project/project.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3::pwc {

// The host's audio engine; members are null where the program has none.
struct PwcAudio {
    COutputDeviceModel* devices = nullptr;
    CPlugInCatalog* catalog = nullptr;
    CSamplePlayer* player = nullptr;
};
PwcAudio pwcAudio();

bool isPwcPage(const StepPage& page);
// The current entry when the project has files; null otherwise.
ProjectEntry* pwcEntry();
bool pwcPlaying();
// Whether the entry's instrument is the sample-library plug-in.
bool pwcIsSampleLibrary(const ProjectEntry& entry);
// Whether the entry's instrument has a window of its own to show (not the sample library).
bool pwcInstrumentHasWindow(const ProjectEntry& entry);
// The kind of the entry's instrument (kPlugInKindVst, ...); 0 without one.
int pwcInstrumentKind(const ProjectEntry& entry);
// What the sample player is asked for the entry: its own instance when it has one.
SampleInstrumentRequest pwcRequest(const ProjectEntry& entry);

// Fills a box from a catalogue list without telling the page.
void pwcFillBox(QComboBox& box, const CatalogList& list);

// Shows and applies an entry's configuration (null: the current one).
// Returns 1, or 0 without an entry; 1 at once while the page shows one.
StepPage::Result stpPwcShowPartConfig(ProjectEntry* entry, StepPage& page, bool openSetup, bool suspendDirty);
// The output box for the entry's instrument, with the entry's output chosen
// (the first one, stored in the entry, when its own is not offered).
void pwcFillOutputBox(StepPage& page, ProjectEntry& entry);
// Opens the entry's set-up in the sample player (mode 3 on the effect tab).
void pwcOpenSetup(StepPage& page, ProjectEntry& entry);
void stpPwcEnableToolbars(StepPage& page);
void stpPwcUpdateState(StepPage& page, bool busy);
// The shown tab (-1 before the first).
int pwcShownTab(StepPage& page);

// --- the sound tree and the sample library's boxes (pwc_sounds.cpp)
void stpPwcFillTrackTree(StepPage& page);
StepPage::Result pwcOnTreeSelection(StepPage& page, ProjectEntry& entry);
void pwcOnLibraryChoice(StepPage& page, ProjectEntry& entry, int controlId);

// --- the effect (pwc_effect.cpp)
// Shows the entry's effect: its box (refilled when refill is set), its
// programs and its panel, which is hidden when the effect has no parameters.
void cnvShowEntryEffectPanel(StepPage& page, ProjectEntry& entry, bool refill);
// Keeps the effect's parameters in the entry.
void cnvEntryCaptureReverbParams(StepPage& page, ProjectEntry& entry);
// Puts the entry's stored parameters back into its effect.
void pwcRestoreEffect(StepPage& page, ProjectEntry& entry);
void pwcOnEffectChoice(StepPage& page, ProjectEntry& entry);
StepPage::Result pwcOnEffectProgram(StepPage& page, ProjectEntry& entry, int row);
void pwcAddEffect(StepPage& page, ProjectEntry& entry);
void pwcRemoveEffect(StepPage& page, ProjectEntry& entry);

}  // namespace qvp3::pwc
