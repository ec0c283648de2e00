// A VST bank file (.fxb): a header of 156 bytes, then either the records of
// every program ("FxBk") or the plug-in's whole state as one chunk ("FBCh").
//
// A bank is accepted when its header reads "CcnK" and "FxBk" or "FBCh" with a
// format version below 2; for "FxBk" every program record reads "CcnK" and
// "FxCk" and ends within the file; for "FBCh" the chunk size (at 156) and the
// chunk (from 160) end within the file. Bytes after the last record or the
// chunk are kept and ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qvp3_audio/fx_base.h"
#include "qvp3_audio/fx_plugin.h"

namespace qvp3 {

class CFxBank : public CFxBase {
public:
    // The header's count of programs; of a chunk bank, what the plug-in said
    // when the bank was made.
    std::int32_t NumPrograms() const;
    // The program records of an "FxBk" bank (none for a chunk bank).
    std::size_t RecordCount() const { return records_.size(); }
    // Name (up to 28 bytes, to the first zero) and parameters of a record;
    // empty for a record number out of range.
    std::string ProgramName(std::size_t record) const;
    std::vector<float> ProgramParameters(std::size_t record) const;

    // Builds the bank from the instance's state: its whole chunk when it keeps
    // chunks, else a record per program, read by switching to each program
    // and back to the current one. FileName becomes empty.
    bool SetFromPlugIn(FxPlugIn& plugIn);
    // Hands the bank to an instance with the same unique id: the chunk, or
    // per record (as many as the instance has programs) the name and as many
    // parameters as both have, after which the current program is restored.
    // A bank for another plug-in, or a chunk for one that keeps none, changes
    // nothing and fails.
    bool ApplyTo(FxPlugIn& plugIn);

private:
    struct Record {
        std::size_t offset;
        std::int32_t numParams;
    };

    FxResult Check(std::span<const std::uint8_t> bytes) override;
    void Forget() override { records_.clear(); }
    FxResult CheckRecords(std::span<const std::uint8_t> bytes, std::uint32_t count);

    std::vector<Record> records_;
};

}  // namespace qvp3
