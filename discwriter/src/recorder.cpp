#include "recorder.h"

#include "discwriter/discwriter.h"

namespace discwriter {

std::uint64_t AudioTrack::sectors() const {
    return (dataBytes + DISCWRITER_SECTOR_BYTES - 1) / DISCWRITER_SECTOR_BYTES;
}

HResult mediumFits(WriteMode mode, int type, bool blank) {
    const bool usable = mode == WriteMode::Data
                            ? type != kMediaUnknown && type != kMediaCdRom && type != kMediaDvdRom
                            : type == kMediaCdR || type == kMediaCdRw;
    if (!usable) return DISCWRITER_E_MEDIA_NOT_SUPPORTED;
    return blank ? DISCWRITER_S_OK : DISCWRITER_E_MEDIA_NOT_BLANK;
}

bool isRewritableMedium(int type) {
    return type == kMediaCdRw || type == kMediaDvdDashRw || type == kMediaDvdPlusRw || type == kMediaDvdRam;
}

}  // namespace discwriter
