// The sample player: choosing the instrument, its setup, and the VST kind's playing.
#include "qvp3_audio/sample_player.h"

#include <new>
#include <thread>
#include <utility>

#include "platform/text.h"
#include "qvp3_audio/mfx_loader.h"
#include "qvp3_project/profile_file.h"

namespace qvp3 {

CSamplePlayer::CSamplePlayer(CPlugInCatalog& catalog, platform::MessageTarget* mainWindow, ShellServices* shell,
                             std::unique_ptr<CSpecDSoundOutDevice> pcmDevice)
    : catalog_(catalog),
      mainWindow_(mainWindow),
      shell_(shell),
      pcm_(pcmDevice ? std::move(pcmDevice) : std::make_unique<CSpecDSoundOutDevice>()) {
    pcm_->SetRenderWorker(&worker_);
}

CSamplePlayer::~CSamplePlayer() {
    Stop();
    ReleaseInstrument();
    // The device thread asks the worker for blocks: it goes first.
    pcm_->Close();
    worker_.Stop();
}

bool CSamplePlayer::IsVst(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < catalog_.instruments.size() &&
           catalog_.instruments[static_cast<std::size_t>(index)].kind == kPlugInKindVst;
}

bool CSamplePlayer::IsDx(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < catalog_.instruments.size() &&
           catalog_.instruments[static_cast<std::size_t>(index)].kind == kPlugInKindDirectX;
}

void CSamplePlayer::SelectEntry(int index) {
    entry_ = index;
    if (IsVst(index)) catalog_.vstHost->currentSlot = catalog_.instruments[static_cast<std::size_t>(index)].hostSlot;
}

void CSamplePlayer::SetEffect(int index) {
    effect_ = index;
    CMyVSTHost& host = *catalog_.vstHost;
    if (index < 0 || static_cast<std::size_t>(index) >= catalog_.effects.size()) {
        effect_ = -1;
        host.masterEffectSlot = -1;
    } else if (catalog_.effects[static_cast<std::size_t>(index)].kind == kPlugInKindVst) {
        host.masterEffectSlot = catalog_.effects[static_cast<std::size_t>(index)].hostSlot;
    }
}

void CSamplePlayer::SetSetupFile(const std::filesystem::path& name) {
    if (!name.empty() && name != setupFile_) setupLoaded_ = false;
    setupFile_ = name;
}

// --- selecting an instrument -------------------------------------------------------

int CSamplePlayer::SelectFailed(int code, std::string why) {
    ReleaseInstrument();
    message_ = std::move(why);
    return code;
}

int CSamplePlayer::SelectInstrument(const SampleInstrumentRequest& request, bool showWindow) {
    if (window_ != nullptr) window_->Close();
    if (request.entry < 0) return kSelectOk;
    if (playing_.load() || catalog_.vstHost->playing()) Stop();
    ReleaseInstrument();
    // The slots below are read by the host's render.
    QuiesceHost();
    message_.clear();
    if (const int created = CreateInstrument(request); created != kSelectOk) return created;
    SelectEntry(request.entry);
    SetEffect(request.effect.empty() ? -1 : catalog_.FindEffect(request.effect));
    ApplyChannelMask(request.channelMask);
    if (LoadSamplerSetup(request.setup, request.entry) == kSelectSetupFailed) {
        return SelectFailed(kSelectSetupFailed, "the instrument refuses its stored setup");
    }
    if (showWindow && window_ != nullptr) {
        const PlugInEntry& e = catalog_.instruments[static_cast<std::size_t>(request.entry)];
        const bool open = IsVst(request.entry) ? window_->OpenEditor(*catalog_.vstHost, e.hostSlot)
                                               : window_->OpenPages(*instrument_);
        if (!open) return SelectFailed(kSelectWindowFailed, "the instrument's window cannot be opened");
    }
    if (catalog_.GetInstrumentName(request.entry) == kSampleLibraryName && loadSampleLibraryInstruments &&
        catalog_.LoadInstrument(request.entry) == kLoadNotAllTracks) {
        Tell(kStrSampleLibraryNotLoaded);
        return SelectFailed(kSelectCreateFailed, "the sample library's instruments did not all load");
    }
    ready_ = true;
    return kSelectOk;
}

int CSamplePlayer::CreateInstrument(const SampleInstrumentRequest& request) {
    if (static_cast<std::size_t>(request.entry) >= catalog_.instruments.size()) {
        return SelectFailed(kSelectCreateFailed, "there is no instrument of that number");
    }
    PlugInEntry& e = catalog_.instruments[static_cast<std::size_t>(request.entry)];
    if (e.kind == kPlugInKindDirectX) return CreateDxInstrument(e);
    // The catalogue loads its VST instruments at start; one it could not load says why.
    if (catalog_.vstHost->GetEffect(e.hostSlot) == nullptr) {
        return SelectFailed(kSelectCreateFailed,
                            e.name + ": " + (e.problem.empty() ? std::string("the plug-in is not loaded") : e.problem));
    }
    return kSelectOk;
}

int CSamplePlayer::OpenSetup(platform::MessageTarget* owner, CSamplePlayerWindow* window,
                             const std::filesystem::path& setupFile, const SampleInstrumentRequest& request) {
    owner_ = owner;
    window_ = window;
    SetSetupFile(setupFile);
    return SelectInstrument(request, window != nullptr);
}

void CSamplePlayer::ForgetWindow() {
    if (window_ != nullptr) window_->Close();
    window_ = nullptr;
    owner_ = nullptr;
}

void CSamplePlayer::OnStatusChange(std::uint32_t flags) {
    if ((flags & 1) != 0 && owner_ != nullptr) owner_->post(WM_SP_PAGE_DIRTY, 0, 0);
}

void CSamplePlayer::ApplyChannelMask(std::uint16_t mask) {
    channelMask_ = mask;
    if (!IsVst(entry_)) return;
    CEffect* effect = catalog_.vstHost->GetEffect(catalog_.instruments[static_cast<std::size_t>(entry_)].hostSlot);
    if (auto* vst = dynamic_cast<CMyVSTEffect*>(effect)) vst->channelMask = mask;
}

void CSamplePlayer::ReleaseInstrument() {
    if (window_ != nullptr) window_->Close();
    StopDx();
    CMyVSTHost& host = *catalog_.vstHost;
    if (IsVst(entry_)) {
        // The catalogue owns its loaded plug-ins: the player only stops using this one.
        host.StopPlayback();
        QuiesceHost();
        host.currentSlot = -1;
    }
    graph_.reset();
    instrument_.reset();
    entry_ = -1;
    ready_ = false;
    setupLoaded_ = false;
}

bool CSamplePlayer::HasEditor(int entry) const {
    if (!ready_ || entry < 0 || static_cast<std::size_t>(entry) >= catalog_.instruments.size()) return false;
    if (IsDx(entry)) return true;
    if (catalog_.GetInstrumentName(entry) == kSampleLibraryName) return false;
    const CEffect* effect = catalog_.vstHost->GetEffect(catalog_.instruments[static_cast<std::size_t>(entry)].hostSlot);
    const auto* vst = dynamic_cast<const CMyVSTEffect*>(effect);
    return vst != nullptr && vst->aeffect() != nullptr && (vst->aeffect()->flags & vst::effFlagsHasEditor) != 0;
}

void CSamplePlayer::QuiesceHost() {
    CMyVSTHost& host = *catalog_.vstHost;
    host.StopOutput();
    // The device asks for no more blocks; the one the worker may still render ends soon.
    while (host.worker.busy()) std::this_thread::yield();
}

void CSamplePlayer::Tell(int stringId) {
    if (shell_ == nullptr) return;
    std::string text = shell_->languageString(stringId);
    if (text.empty()) {
        text = stringId == kStrSampleLibraryNotLoaded ? "The instruments of the sample library could not all be loaded."
                                                      : "The sample library could not be started.";
    }
    message_ = text;
    shell_->appTextBox(text, kBoxWarning, kMbOk);
}

// --- the setup -------------------------------------------------------------------------

std::string CSamplePlayer::VstSetupName(int slot) const { return catalog_.vstHost->GetPlugInDisplayName(slot); }

SamplerSetup CSamplePlayer::SaveSamplerSetup(int entry) {
    SamplerSetup block;
    if (IsVst(entry)) {
        const int slot = catalog_.instruments[static_cast<std::size_t>(entry)].hostSlot;
        CEffect* effect = catalog_.vstHost->GetEffect(slot);
        if (effect == nullptr) return block;
        block.data = effect->GetChunk(false);
        if (block.data.empty()) return block;
        block.name = platform::utf8ToUtf16(VstSetupName(slot)).substr(0, kSamplerNameChars - 1);
        block.isVstChunk = 1;
    } else if (IsDx(entry) && instrument_ != nullptr && entry == entry_) {
        // The bytes of a setup file holding the instrument's stream, as one
        // written to disk would hold them; no file is needed for that.
        std::lock_guard lock(lock_);
        block.data = spSetupFileBytes(instrument_->SaveState());
        block.name = platform::utf8ToUtf16(catalog_.GetInstrumentName(entry)).substr(0, kSamplerNameChars - 1);
        block.isVstChunk = 0;
    } else {
        return block;
    }
    setupLoaded_ = true;
    return block;
}

int CSamplePlayer::LoadSamplerSetup(const SamplerSetup& block, int entry) {
    if (block.data.empty()) return 0;
    const std::string name = platform::utf16ToUtf8(block.name);
    if (IsVst(entry)) {
        const int slot = catalog_.instruments[static_cast<std::size_t>(entry)].hostSlot;
        CEffect* effect = catalog_.vstHost->GetEffect(slot);
        if (effect == nullptr) return kSelectSetupFailed;
        if (block.isVstChunk != 1 || !platform::equalsNoCase(name, VstSetupName(slot))) return kSetupOtherInstrument;
        effect->SetChunk(block.data, false);
    } else if (IsDx(entry) && instrument_ != nullptr) {
        if (block.isVstChunk != 0 || !platform::equalsNoCase(name, catalog_.GetInstrumentName(entry))) {
            return kSetupOtherInstrument;
        }
        std::vector<std::uint8_t> stream;
        if (spSetupStreamFromBytes(block.data, stream, &message_) != kSetupOk) return kSelectSetupFailed;
        std::lock_guard lock(lock_);
        if (!instrument_->LoadState(stream)) return kSelectSetupFailed;
    } else {
        return kSelectSetupFailed;
    }
    setupLoaded_ = true;
    return 0;
}

// --- playing -----------------------------------------------------------------------

int CSamplePlayer::LoadEntryMidi(const std::filesystem::path& path) {
    if (IsDx(entry_)) {
        std::lock_guard lock(lock_);
        CMfxLoader loader(sequence_);
        return loader.LoadFile(path);
    }
    // The converted file's percussion tracks are told by their channel: no staff describes them.
    return catalog_.vstHost->LoadMidi(path, midiUnmarkedTracks(), tracker_);
}

HRESULT CSamplePlayer::OpenWaveOut(const std::filesystem::path& path) {
    CloseWaveOut();
    auto wave = std::unique_ptr<CWaveFile>(new (std::nothrow) CWaveFile);
    if (wave == nullptr) return E_OUTOFMEMORY;
    WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
    if (wave->Open(path, &format, CWaveFile::kModeWrite) != S_OK) return E_FAIL;
    waveOut_ = std::move(wave);
    renderingToFile_ = true;
    return S_OK;
}

HRESULT CSamplePlayer::CloseWaveOut(bool keep) {
    // A writer dropped unclosed leaves its target as it was.
    const HRESULT hr = keep && waveOut_ != nullptr ? waveOut_->Close() : S_OK;
    waveOut_.reset();
    renderingToFile_ = false;
    return hr;
}

HRESULT CSamplePlayer::Start(const SampleInstrumentRequest& request) {
    if (!ready_ || request.entry != entry_) {
        if (SelectInstrument(request, false) != kSelectOk) return E_UNEXPECTED;
    }
    return IsVst(entry_) ? StartVst() : StartDx();
}

HRESULT CSamplePlayer::StartVst() {
    CMyVSTHost& host = *catalog_.vstHost;
    if (!midiFile_.empty()) {
        // The render must not read the host's tracks while they are replaced.
        const bool outputWasRunning = host.outputRunning;
        QuiesceHost();
        const int loaded = LoadEntryMidi(midiFile_);
        if (outputWasRunning) host.StartOutput();
        if (loaded != 0) {
            message_ = "the MIDI file cannot be read";
            return E_FAIL;
        }
    }
    if (host.state() != kRenderStateOffline && catalog_.GetInstrumentName(entry_) == kSampleLibraryName &&
        catalog_.LoadInstrument(entry_) == kLoadNotAllTracks) {
        Tell(kStrSampleLibraryNotStarted);
        return E_FAIL;
    }
    if (!host.StartPlayback(mainWindow_, renderingToFile_ || host.state() == kRenderStateOffline)) return E_FAIL;
    playing_ = true;
    return S_OK;
}

HRESULT CSamplePlayer::Stop() {
    if (IsVst(entry_)) {
        catalog_.vstHost->StopPlayback();
        playing_ = false;
        return S_OK;
    }
    if (graph_ == nullptr) return E_FAIL;
    StopDx();
    return S_OK;
}

}  // namespace qvp3
