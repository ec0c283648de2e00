// The profile readers and writers of the 14 steps that have profiles: the
// keys each step stores after the profile header, in the section the
// context's target names (stpLoadProfile and stpSaveProfile set it).
//
// Every reader and writer first checks that type is the page's own step and
// gives false, touching nothing, when it is not. entry null means the
// project's current entry; with neither, nothing is read or written (false).
//
// Readers take what the profile holds and nothing else: a key that is
// missing, not a number or out of range leaves its setting as it was (and
// makes the reader give false, except for DYN and BRN, which never fail
// after the type check), while the sound keys around it are applied. Staff,
// voice, instrument and track numbers of a profile only ever reach the
// entry's own staves, voices and tracks. A profile made for another number
// of staves is applied, to the staves both have, only after the shell's
// question was answered Yes; No gives true and changes nothing.
#pragma once

#include <cstdint>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// What a reader or writer works with: the project (its entries, neighbours
// and export settings) and the context whose target is the profile.
struct ProfileIo {
    Project& project;
    ProfileContext& context;
};

using ProfileReadFn = bool (*)(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
using ProfileWriteFn = bool (*)(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);

// Staves and voices.
bool prfReadVoiceStatus(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);   // SLS
bool prfWriteVoiceStatus(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadInstruments(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);   // CHP
bool prfWriteInstruments(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadVolumePan(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);     // VOL, PAN
bool prfWriteVolumePan(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadPercussion(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);    // PRC
bool prfWritePercussion(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadVelocity(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);      // SHV
bool prfWriteVelocity(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);

// Single settings.
bool prfReadTranspose(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);       // TRP
bool prfWriteTranspose(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadTempo(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);           // TMP
bool prfWriteTempo(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadTempoCurve(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);      // TPP
bool prfWriteTempoCurve(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadInterpretation(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);  // DYN
bool prfWriteInterpretation(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadMetronome(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);       // MET
bool prfWriteMetronome(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadTuneUp(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);          // EIN
bool prfWriteTuneUp(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadSoundConfig(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);     // PWC
bool prfWriteSoundConfig(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);
bool prfReadExport(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);          // BRN
bool prfWriteExport(ProfileIo& io, StepPage& page, std::int32_t type, ProjectEntry* entry);

// The reader and writer of a step; null for the steps without profiles.
ProfileReadFn prfReaderOf(StepCategory category);
ProfileWriteFn prfWriterOf(StepCategory category);

// Puts the reader and writer of the page's step into its slots (steps
// without profiles get none). Project and context must outlive the page's use.
void prfInstallProfileHandlers(StepPage& page, Project& project, ProfileContext& context);

// The sample player's current setup becomes the entry's (nothing changes
// when there is none to take).
void prfCaptureSamplerSetup(Project& project, ProjectEntry& entry);

// Counts on an entry: staves whose state is on; of those, percussion staves;
// voices that are on (a staff without voice states answers for its voices).
int prfCountStavesOn(Project& project, const ProjectEntry& entry);
int prfCountPercStavesOn(Project& project, const ProjectEntry& entry);
int prfCountVoicesOn(const ProjectEntry& entry);

}  // namespace qvp3
