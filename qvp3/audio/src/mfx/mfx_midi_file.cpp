// A Standard MIDI File into an MFX sequence, through the pipeline's bounded
// chunk and event readers.
#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "qvp3_audio/mfx_loader.h"
#include "qvp3_pipeline/midi_smf.h"

namespace qvp3 {
namespace {

constexpr int kMetaText = 0x01;
constexpr int kMetaLyric = 0x05;
constexpr int kMetaMarker = 0x06;
constexpr int kMetaKeySignature = 0x59;

std::string textOf(std::span<const std::uint8_t> data) { return {data.begin(), data.end()}; }

}  // namespace

void CMfxLoader::LoadMeta(int fileTrack, std::int32_t time, int type, std::span<const std::uint8_t> data) {
    switch (type) {
    case smf::kMetaTempo:
        if (const std::uint32_t tempo = smf::tempoHundredths(data); tempo != 0)
            seq_.tempoMap.SetTempo(time, static_cast<std::int32_t>(tempo));
        return;
    case smf::kMetaTimeSignature:
        if (data.size() >= 2) seq_.meterMap.SetMeter(seq_.meterMap.MeasureFrom(time), data[0], data[1]);
        return;
    case kMetaKeySignature:
        if (!data.empty())
            seq_.meterMap.SetKey(seq_.meterMap.MeasureFrom(time), static_cast<std::int8_t>(data[0]));
        return;
    case kMetaMarker:
        seq_.AddMarker(textOf(data), time);
        return;
    case smf::kMetaTrackName:
        if (!byChannel_) seq_.GetTrack(std::max(fileTrack, 0), true)->SetName(textOf(data));
        return;
    case kMetaText:
    case kMetaLyric: {
        CMfxTrack* track = TrackFor(fileTrack, 0xFF);
        if (track == nullptr) return;
        CMfxEvent e(type == kMetaText ? kMfxText : kMfxLyric);
        e.time = time;
        if (e.SetText(textOf(data).c_str()) == S_OK) Append(*track, std::move(e));
        return;
    }
    default:
        return;
    }
}

int CMfxLoader::LoadTrack(std::span<const std::uint8_t> body, int fileTrack) {
    smf::SmfTrackCursor cursor(body);
    smf::SmfEvent e;
    std::int64_t tick = 0;
    std::vector<CMfxTrack*> used;
    const auto remember = [&used](CMfxTrack* track) {
        if (std::find(used.begin(), used.end(), track) == used.end()) used.push_back(track);
    };
    int read = 0;
    while ((read = cursor.next(e)) > 0) {
        tick = std::min<std::int64_t>(tick + e.delta, std::numeric_limits<std::int32_t>::max());
        const auto time = static_cast<std::int32_t>(tick);
        if (e.status == 0xFF) {
            LoadMeta(fileTrack, time, e.metaType, e.data);
            continue;
        }
        CMfxTrack* track = TrackFor(fileTrack, e.status);
        if (track == nullptr) continue;
        remember(track);
        if (e.status == 0xF0 || e.status == 0xF7) {
            // A file keeps a message without its F0; the event holds it whole.
            std::vector<std::uint8_t> message;
            if (e.status == 0xF0) message.push_back(0xF0);
            message.insert(message.end(), e.data.begin(), e.data.end());
            if (SysEx(*track, time, message) == E_OUTOFMEMORY) return smf::kOutOfMemory;
            continue;
        }
        if (!e.isChannel()) continue;
        if (e.isNoteOn()) {
            NoteOn(*track, time, e.channel(), e.data1, e.data2);
        } else if (e.isNoteOff()) {
            NoteOff(*track, time, e.channel(), e.data1, e.command() == 0x80 ? e.data2 : 0);
        } else if (e.command() == 0xB0) {
            Controller(*track, time, e.channel(), e.data1, e.data2);
        } else if (e.command() == 0xC0) {
            ProgramChange(*track, time, e.channel(), e.data1);
        } else {
            CMfxEvent m(e.command() == 0xA0 ? kMfxKeyAft : e.command() == 0xD0 ? kMfxChanAft : kMfxWheel);
            m.time = time;
            m.channel = static_cast<std::uint8_t>(e.channel());
            if (m.type == kMfxKeyAft) {
                m.setKey(e.data1);
                m.setVelocity(e.data2);
            } else if (m.type == kMfxChanAft) {
                m.setByteAt(0, e.data1);
            } else {
                m.setWordAt(0, static_cast<std::uint16_t>((e.data2 << 7 | e.data1) - 8192));
            }
            Append(*track, std::move(m));
        }
    }
    // Notes still sounding at the end of the track end there.
    for (CMfxTrack* track : used) CloseAll(*track, static_cast<std::int32_t>(tick));
    return read < 0 ? read : smf::kOk;
}

int CMfxLoader::LoadFile(const std::filesystem::path& path) {
    seq_.Reset();
    smf::SmfFile file;
    if (const int rc = file.open(path); rc != smf::kOk) return rc;
    seq_.SetPPQ(file.header().division > 0 ? file.header().division : smf::kModelDivision);
    std::vector<std::uint8_t> body;
    try {
        for (int i = 0; i < file.header().trackCount; ++i) {
            if (const int rc = file.readTrack(body); rc != smf::kOk) return rc;
            if (const int rc = LoadTrack(body, i); rc != smf::kOk) return rc;
        }
        // One track per channel gathers events of several file tracks.
        for (auto& [key, track] : seq_.tracks)
            std::stable_sort(track.events.begin(), track.events.end(),
                             [](const CMfxEvent& a, const CMfxEvent& b) { return a.time < b.time; });
    } catch (const std::bad_alloc&) {
        return smf::kOutOfMemory;
    }
    seq_.Seek(0);
    return smf::kOk;
}

}  // namespace qvp3
