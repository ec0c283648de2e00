#include "mmc.h"

#include "discwriter/discwriter.h"

namespace discwriter {

HResult readCommand(Recorder& rec, const std::vector<std::uint8_t>& cdb, std::vector<std::uint8_t>& answer,
                    std::size_t length, Sense* sense) {
    Sense local;
    answer.assign(length, 0);
    return rec.command(cdb.data(), cdb.size(), Direction::Read, answer.data(), answer.size(),
                       sense != nullptr ? *sense : local);
}

HResult modePage(Recorder& rec, std::uint8_t page, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x5A;
    cdb[1] = 0x08;  // no block descriptors
    cdb[2] = page & 0x3F;
    putBe16(&cdb[7], 255);
    std::vector<std::uint8_t> answer;
    const HResult hr = readCommand(rec, cdb, answer, 255);
    if (hr != DISCWRITER_S_OK) return hr;
    const std::size_t start = 8 + be16(&answer[6]);
    if (start + 2 > answer.size() || (answer[start] & 0x3F) != page) return DISCWRITER_E_FAIL;
    const std::size_t end = std::min(answer.size(), start + 2 + answer[start + 1]);
    out.assign(answer.begin() + static_cast<std::ptrdiff_t>(start), answer.begin() + static_cast<std::ptrdiff_t>(end));
    return DISCWRITER_S_OK;
}

HResult setModePage(Recorder& rec, const std::vector<std::uint8_t>& page) {
    std::vector<std::uint8_t> data(8, 0);
    data.insert(data.end(), page.begin(), page.end());
    data[8] &= 0x3F;  // the saveable bit is reserved when writing
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x55;
    cdb[1] = 0x10;  // page format
    putBe16(&cdb[7], static_cast<unsigned>(data.size()));
    Sense sense;
    return rec.command(cdb.data(), cdb.size(), Direction::Write, data.data(), data.size(), sense);
}

HResult discInformation(Recorder& rec, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x51;
    putBe16(&cdb[7], 2048);
    const HResult hr = readCommand(rec, cdb, out, 2048);
    if (hr != DISCWRITER_S_OK) return hr;
    out.resize(std::min<std::size_t>(out.size(), 2 + be16(out.data())));
    return out.size() >= 7 ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult trackInformation(Recorder& rec, int track, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> cdb(10, 0);
    cdb[0] = 0x52;
    cdb[1] = 0x01;  // by track number
    putBe32(&cdb[2], static_cast<std::uint32_t>(track));
    putBe16(&cdb[7], 48);
    const HResult hr = readCommand(rec, cdb, out, 48);
    if (hr != DISCWRITER_S_OK) return hr;
    out.resize(std::min<std::size_t>(out.size(), 2 + be16(out.data())));
    return out.size() >= 28 ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

}  // namespace discwriter
