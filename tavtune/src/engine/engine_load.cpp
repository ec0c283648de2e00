// Reading a score file into the play model: a TvrXML score through the TvrXML
// reader and the score library's bridge to MusicXML, whose reader fills the
// model; a binary score through the binary-score model builder.

#include <array>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "engine/binary_model.h"
#include "engine/engine.h"
#include "musicxml/convert_proc.h"
#include "platform/files.h"
#include "musicxml/mxml_file.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "tvrxml/vxml_convert.h"

namespace tavtune {
namespace {

constexpr const char* kProgramName = "Tavrena Orvendo 3";

// The MusicXML file a ".tvrx" is bridged through, in the temporary folder,
// removed when it goes out of scope.
class TempFile : public platform::ScopedTempFile {
public:
    TempFile() : ScopedTempFile(tempFolder(), "tvt") {}

private:
    static std::filesystem::path tempFolder() {
        std::error_code ec;
        std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
        return ec ? std::filesystem::path("/tmp") : folder;
    }
};

// The open code of a failure of the score library's readers.
int openCode(int rc) {
    if (rc == scorecore::kErrOutOfMemory) return TAVTUNE_OPEN_NO_MEMORY;
    if (rc == scorecore::kErrUnknownFormat) return TAVTUNE_OPEN_UNKNOWN;
    return TAVTUNE_OPEN_REJECTED;
}

int loadTvrxml(const std::filesystem::path& path, std::unique_ptr<scoreconv::PlayScore>& model,
               std::array<std::string, 3>& description) {
    TempFile bridge;
    if (bridge.path().empty()) return TAVTUNE_OPEN_READ_ERROR;

    int signal = 0;
    scorecore::CVxmlFile vxml;
    vxml.signal = &signal;
    auto writer = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeTvrxml, &signal, 480, kProgramName, nullptr);
    if (!writer) return TAVTUNE_OPEN_NO_MEMORY;
    int result = scorecore::kErrRead;
    scoreconv::CConvertParams params;
    params.file = writer.get();
    params.vxml = &vxml;
    params.sourcePath = path.string();
    params.targetPath = bridge.path().string();
    params.result = &result;
    scoreconv::vxmlConvertProc(&params);
    if (result != scorecore::kOk) return openCode(result);
    description = {vxml.author, vxml.keywords, vxml.comment};
    writer.reset();

    auto file = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRender, &signal, 480, kProgramName, nullptr);
    if (!file) return TAVTUNE_OPEN_NO_MEMORY;
    if (const int rc = scoreconv::loadPlayModel(*file, bridge.path()); rc != scorecore::kOk) return openCode(rc);
    // The model stands for the ".tvrx": a render over it is refused, as over any loaded score.
    file->fnScanned = path.string();
    file->fnOriginal = path.string();
    // The stop word above lives on this call's stack: the model must not keep
    // its address, or every later pass reads a stale word as a stop request.
    file->signal = nullptr;
    model = std::move(file);
    return TAVTUNE_OPEN_OK;
}

int loadBinary(const std::filesystem::path& path, std::unique_ptr<scoreconv::PlayScore>& model,
               std::array<std::string, 3>& description) {
    auto score = std::make_unique<scoreconv::PlayScore>(480);
    const int rc = buildBinaryModelFile(path, *score);
    if (rc == scorecore::kErrCannotOpen) return TAVTUNE_OPEN_READ_ERROR;
    if (rc == scorecore::kErrOutOfMemory) return TAVTUNE_OPEN_NO_MEMORY;
    // Its magic said binary score: whatever fails after it is a damaged one.
    if (rc != scorecore::kOk) return TAVTUNE_OPEN_REJECTED;
    score->fnScanned = path.string();
    score->fnOriginal = path.string();
    description = {};
    model = std::move(score);
    return TAVTUNE_OPEN_OK;
}

}  // namespace

bool sniffScoreKind(const std::filesystem::path& path, ScoreKind& kind, bool& readable) {
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(path, ec)) in.open(path, std::ios::binary);
    readable = in.is_open();
    if (!readable) return false;
    std::array<char, 4> head{};
    in.read(head.data(), head.size());
    if (in.gcount() < 4) return false;
    if (head[0] == 'P' && head[1] == 'K' && head[2] == '\x03' && head[3] == '\x04') {
        kind = ScoreKind::TvrXml;
        return true;
    }
    if (head[0] == 't' && head[1] == 'v' && head[2] == 'r' && head[3] == '3') {
        kind = ScoreKind::Binary;
        return true;
    }
    return false;
}

int loadScoreModel(const std::filesystem::path& path, ScoreKind kind, std::unique_ptr<scoreconv::PlayScore>& model,
                   std::array<std::string, 3>& description) {
    try {
        return kind == ScoreKind::TvrXml ? loadTvrxml(path, model, description) : loadBinary(path, model, description);
    } catch (const std::bad_alloc&) {
        return TAVTUNE_OPEN_NO_MEMORY;
    }
}

}  // namespace tavtune
