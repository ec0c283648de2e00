// The program's one inventory of what can make sound: the MIDI outputs, the
// PCM devices, the low-latency server's drivers and the catalogue of
// instruments and effects (which owns the render host).
//
// Audio outputs share one number space: 1 .. audioOutCount() - 1 are the
// PCM devices (entry 0, the system's default device, is kept but never
// listed, offered, saved or found), then the low-latency drivers follow,
// named "ASIO: " and the driver's name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "qvp3_audio/asio_host.h"
#include "qvp3_audio/plugin_catalog.h"

namespace qvp3 {

inline constexpr int kImageDirectSound = 5;
inline constexpr int kImageAsio = 3;

struct OutputDeviceEntry {
    std::string name;  // MIDI: the output's listed name; audio: the PCM device's name
    std::string description;
    std::uint32_t id = 0;
    std::uint32_t ordinal = 0;
    bool enabled = false;
};

class COutputDeviceModel {
public:
    // The driver list of the low-latency server, then the catalogue with its
    // render host, whose worker the server's host renders through.
    COutputDeviceModel(platform::SettingsStore& store, std::filesystem::path programFolder,
                       std::unique_ptr<CSpecAsioHost> asio = nullptr,
                       std::filesystem::path probeHelper = audProbeHelperPath());
    ~COutputDeviceModel();
    COutputDeviceModel(const COutputDeviceModel&) = delete;
    COutputDeviceModel& operator=(const COutputDeviceModel&) = delete;

    std::vector<OutputDeviceEntry> midiOuts;
    std::vector<OutputDeviceEntry> audioOuts;
    std::uint32_t selectedMidiOut = 0;
    std::unique_ptr<CSpecAsioHost> asioHost;
    std::unique_ptr<CPlugInCatalog> catalog;

    std::uint32_t midiOutCount() const { return static_cast<std::uint32_t>(midiOuts.size()); }
    std::uint32_t audioOutCount() const { return static_cast<std::uint32_t>(audioOuts.size()); }

    // --- filling
    bool AddMidiOut(const std::string& name, std::uint32_t midiOutId, std::uint32_t ordinal);
    bool AddAudioOut(const std::string& name, const std::string& description);
    // The platform's MIDI outputs (the built-in synthesizer first). False when there are none.
    bool EnumMidiRenderers();
    // The PCM devices, the system's default first.
    void EnumAudioOuts();
    // The switches of the audio outputs from / into the settings store.
    void LoadOutputFlags();
    std::uint32_t SaveOutputFlags();

    // --- queries of the pages (indices are audio-output indices)
    std::string GetMidiOutName() const;
    CatalogList FillAudioOutList(bool enabledOnes) const;
    void ClearAudioOutFlags();
    // Enabled PCM devices (and, with includeAsio, drivers); the named one
    // selected, else the first, whose name goes to name; an empty box is
    // disabled with the name emptied. `playing`: the sample player plays (the box is off).
    CatalogList FillAudioOutCombo(bool includeAsio, std::string* name, bool playing = false) const;
    int FindAudioOut(const std::string& name) const;
    bool IsAudioOutEnabled(int index) const;
    void SetAudioOutEnabled(int index, bool enabled);
    // Empty for an index outside both ranges.
    std::string GetAudioOutName(int index) const;

private:
    int asioCount() const { return asioHost ? asioHost->NameCount() : 0; }
    // The outputs whose switch equals enabledOnes, in index order, the drivers only with includeAsio.
    void AppendAudioOuts(CatalogList& list, bool enabledOnes, bool includeAsio) const;
    // The driver of an audio-output index, or -1.
    int AsioOf(int index) const;
};

}  // namespace qvp3
