// The catalogue's work on the VST host's tracks: the sample library loaded
// once per track, tracks released, reloaded and given their instrument again,
// and the host's output started.
#include <string>

#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_project/profile_file.h"

namespace qvp3 {

bool CPlugInCatalog::IsSampleLibrary(int index) const {
    // Only the sample library plays one instance per track. An entry of the
    // second standard has no library for the VST host to load.
    if (index < 0 || static_cast<std::size_t>(index) >= instruments.size()) return false;
    const PlugInEntry& e = instruments[static_cast<std::size_t>(index)];
    return e.kind == kPlugInKindVst && e.name == kSampleLibraryName;
}

bool CPlugInCatalog::LoadTrack(PlugInEntry& entry, std::size_t track, bool numberFromProgram) {
    VstTrack& t = vstHost->trackInfo[track];
    if (t.slot >= 0) vstHost->RemovePlugIn(t.slot);
    t.slot = LoadVstInstance(entry);
    if (t.slot < 0) return false;
    if (!t.locked) {
        if (numberFromProgram) t.instrument = vstHost->TrackInstrument(track);
        vstHost->SendControllerDefaults(t.instrument, static_cast<std::uint32_t>(track));
        vstHost->SetEffectProgramFromTable(t.slot, t.instrument);
    }
    return t.instrument >= 0;
}

int CPlugInCatalog::LoadInstrument(int index, CatalogProgress* wait) {
    if (!IsSampleLibrary(index)) return kLoadRefused;
    PlugInEntry& entry = instruments[static_cast<std::size_t>(index)];
    const std::size_t tracks = vstHost->trackInfo.size();
    if (wait) wait->begin(tracks > 1 ? static_cast<int>(tracks - 1) : 0);
    bool all = true;
    for (std::size_t t = 1; t < tracks; ++t) {
        // A track that fails counts; the others are still loaded.
        all = LoadTrack(entry, t, true) && all;
        if (wait) wait->done(static_cast<int>(t));
    }
    if (wait) wait->end();
    vstHost->instrumentsReady = all;
    return all ? kLoadAllTracks : kLoadNotAllTracks;
}

void CPlugInCatalog::audReleaseTrackInstrument(int number) {
    for (std::size_t t = 1; t < vstHost->trackInfo.size(); ++t) {
        VstTrack& track = vstHost->trackInfo[t];
        if (track.instrument != number) continue;
        if (track.slot >= 0) vstHost->RemovePlugIn(track.slot);
        track.slot = -1;
    }
}

bool CPlugInCatalog::audReloadTrackInstruments(int index, int number, ShellServices& shell, CatalogProgress* wait) {
    if (!IsSampleLibrary(index)) return false;
    PlugInEntry& entry = instruments[static_cast<std::size_t>(index)];
    const std::string format = shell.languageString(kStrReloadingTrack);
    bool ok = true;
    for (std::size_t t = 1; ok && t < vstHost->trackInfo.size(); ++t) {
        if (vstHost->trackInfo[t].instrument != number) continue;
        if (wait) wait->text(prfFormatString(format, std::to_string(t + 1)));
        ok = LoadTrack(entry, t, false);
    }
    if (wait) wait->end();
    return ok;
}

void CPlugInCatalog::audAssignTrackInstruments(int number) {
    for (std::size_t t = 1; t < vstHost->trackInfo.size(); ++t) {
        const VstTrack& track = vstHost->trackInfo[t];
        if (track.instrument != number || track.slot < 0 || track.locked) continue;
        vstHost->SendControllerDefaults(number, static_cast<std::uint32_t>(t));
        vstHost->SetEffectProgramFromTable(track.slot, number);
    }
}

bool CPlugInCatalog::audStartVstOutput(const std::string& outputName, ShellServices& shell) {
    std::string text;
    if (outputName.empty()) {
        text = shell.languageString(kStrNoOutput);
    } else if (blockSize < 1 || blockSize > static_cast<std::uint32_t>(kVstMaxBlockFrames)) {
        text = shell.languageString(kStrOutputBlockSize);
    } else {
        std::uint32_t frames = blockSize;
        vstHost->StopOutput();
        if (vstHost->OpenOutput(frames, outputName)) {
            vstHost->StartOutput();
            return true;
        }
        text = prfFormatString(shell.languageString(kStrOutputNotOpened), outputName);
    }
    shell.appTextBox(text, kBoxInformation, kMbOk);
    vstHost->trackInfo.clear();
    return false;
}

}  // namespace qvp3
