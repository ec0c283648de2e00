// A VST program file (.fxp): one program, as its parameters ("FxCk": a
// header of 56 bytes with the name, then the parameters) or as an opaque
// chunk ("FPCh": the same header, the chunk size at 56 and the chunk from 60).
//
// A program is accepted when it reads "CcnK" and "FxCk" or "FPCh" with a
// format version below 2 and its parameters or its chunk end within the
// file. Bytes after them are kept and ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvp3_audio/fx_base.h"
#include "qvp3_audio/fx_plugin.h"

namespace qvp3 {

class CFxProgram : public CFxBase {
public:
    // Up to 28 bytes, to the first zero.
    std::string Name() const;
    // The header's count of parameters; a chunk program keeps the plug-in's
    // count there, its parameters are inside the chunk.
    std::int32_t NumParams() const;
    // Empty for a chunk program.
    std::vector<float> Parameters() const;

    // Builds the program from the instance's current program: its chunk when
    // the instance keeps chunks, else its name and parameters. FileName
    // becomes empty.
    bool SetFromPlugIn(FxPlugIn& plugIn);
    // Hands the program to the current program of an instance with the same
    // unique id: the chunk, or the name and as many parameters as both have.
    // A program for another plug-in, or a chunk for one that keeps none,
    // changes nothing and fails.
    bool ApplyTo(FxPlugIn& plugIn);

private:
    FxResult Check(std::span<const std::uint8_t> bytes) override;
    void Forget() override {}
};

}  // namespace qvp3
