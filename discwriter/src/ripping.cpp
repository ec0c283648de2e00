#include "ripping.h"

#include <vector>

#include "discwriter/discwriter.h"
#include "library_state.h"
#include "mmc.h"
#include "wave_file.h"

namespace discwriter {

namespace {
constexpr int kSectorsPerRead = 26;
}

HResult readSectors(Recorder& rec, std::uint8_t* buffer, std::size_t bytes, int lba, int count) {
    if (buffer == nullptr || count < 0 || count > 0xFFFFFF ||
        bytes < static_cast<std::size_t>(count) * DISCWRITER_SECTOR_BYTES)
        return DISCWRITER_E_INSUFFICIENT_BUFFER;
    std::uint8_t cdb[12] = {};
    cdb[0] = 0xBE;
    putBe32(cdb + 2, static_cast<std::uint32_t>(lba));
    cdb[6] = static_cast<std::uint8_t>(count >> 16);
    cdb[7] = static_cast<std::uint8_t>(count >> 8);
    cdb[8] = static_cast<std::uint8_t>(count);
    cdb[9] = 0x10;  // user data only
    Sense sense;
    const HResult hr = rec.command(cdb, sizeof cdb, Direction::Read, buffer, bytes, sense);
    return hr == DISCWRITER_S_OK ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult ripTrack(Recorder& rec, int track, const std::filesystem::path& path, const std::atomic<bool>& cancel) {
    std::vector<std::uint8_t> info;
    if (trackInformation(rec, track, info) != DISCWRITER_S_OK) return DISCWRITER_E_RIP_TRACK_INFO;
    const int start = static_cast<int>(be32(&info[8]));
    const int length = static_cast<int>(be32(&info[24]));
    if (start < 0 || length < 0 || static_cast<std::uint64_t>(length) * DISCWRITER_SECTOR_BYTES > 0xFFFFFF00u)
        return DISCWRITER_E_RIP_TRACK_INFO;
    WaveWriter wav(path);
    if (!wav.open(static_cast<std::uint32_t>(length) * DISCWRITER_SECTOR_BYTES))
        return failWith(DISCWRITER_E_FAIL, "\"" + path.string() + "\" cannot be created: " + wav.error());
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kSectorsPerRead) * DISCWRITER_SECTOR_BYTES);
    postToClient(DISCWRITER_WM_CD_READ_START, static_cast<platform::WParam>(track), 0);
    postToClient(DISCWRITER_WM_CD_READ_TOTAL, static_cast<platform::WParam>(length), 0);
    HResult hr = DISCWRITER_S_OK;
    for (int done = 0; done < length && hr == DISCWRITER_S_OK;) {
        if (cancel.load()) {
            hr = DISCWRITER_E_UNEXPECTED;
            break;
        }
        const int n = std::min(kSectorsPerRead, length - done);
        const std::size_t bytes = static_cast<std::size_t>(n) * DISCWRITER_SECTOR_BYTES;
        hr = readSectors(rec, buffer.data(), bytes, start + done, n);
        if (hr == DISCWRITER_S_OK && !wav.write(buffer.data(), bytes)) hr = DISCWRITER_E_FAIL;
        if (hr != DISCWRITER_S_OK) break;
        done += n;
        postToClient(DISCWRITER_WM_CD_READ_PROGRESS, static_cast<platform::WParam>(done), 0);
    }
    if (hr == DISCWRITER_S_OK && !wav.commit()) hr = failWith(DISCWRITER_E_FAIL, wav.error());
    if (hr != DISCWRITER_S_OK) {
        wav.discard();
        return hr;
    }
    postToClient(DISCWRITER_WM_CD_READ_END, static_cast<platform::WParam>(track), 0);
    return DISCWRITER_S_OK;
}

}  // namespace discwriter
