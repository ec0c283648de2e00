// What program and bank files need of a plug-in instance. The loaded VST
// instance implements it over its dispatcher; tests implement it with a fake,
// so that the file code is exercised without a plug-in library.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvp3 {

class FxPlugIn {
public:
    virtual ~FxPlugIn() = default;

    // AEffect::uniqueID and AEffect::version: a file names the plug-in it
    // was made for by these two.
    virtual std::int32_t UniqueId() = 0;
    virtual std::int32_t Version() = 0;
    virtual std::int32_t NumPrograms() = 0;
    virtual std::int32_t NumParams() = 0;
    // effFlagsProgramChunks: the plug-in keeps its state as an opaque chunk.
    virtual bool ProgramChunks() = 0;

    // effGetProgram and effSetProgram.
    virtual std::int32_t GetProgram() = 0;
    virtual void SetProgram(std::int32_t program) = 0;
    // effGetProgramNameIndexed: any program's name, without switching to it.
    virtual std::string GetProgramNameIndexed(std::int32_t program) = 0;
    // effSetProgramName: the current program's name.
    virtual void SetProgramName(const std::string& name) = 0;
    // The current program's parameters.
    virtual float GetParameter(std::int32_t index) = 0;
    virtual void SetParameter(std::int32_t index, float value) = 0;

    // effGetChunk and effSetChunk: the whole bank (isPreset false) or the
    // current program (isPreset true). GetChunk copies the plug-in's bytes;
    // the plug-in's answer to SetChunk tells nothing reliable, so none is kept.
    virtual std::vector<std::uint8_t> GetChunk(bool isPreset) = 0;
    virtual void SetChunk(std::span<const std::uint8_t> data, bool isPreset) = 0;
};

}  // namespace qvp3
