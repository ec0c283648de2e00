#include "tvrxml/vxml_stream.h"

#include <libxml/tree.h>

#include <any>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "musicxml/mxml_load.h"
#include "musicxml/part_list.h"
#include "musicxml/score_stream.h"
#include "musicxml/stream_load.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"
#include "tvrxml/vxml_bridge.h"

namespace scoreconv {

namespace {

using mx::isNamed;
using scorecore::kErrCannotOpen;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

constexpr std::string_view kHeaderStep = "mxml->getProps";

std::string partId(const xmlNode* part) { return scorecore::xmldomAttribute(part, "id").value_or(""); }

// What the header pass reads of a part, where the part is parsed: its header
// and its measure weights.
struct PartDigest {
    CPartHeader header;
    std::vector<int32_t> weights;
    bool read = false;  // false: memory ran out for the header
};

CScoreStream::Digest partDigest(int32_t mode) {
    return [mode](const xmlNode* child) -> std::any {
        if (!isNamed(child, "part")) return {};
        PartDigest digest;
        digest.read = readPartHeaderInMode(child, mode, digest.header);
        addMeasureWeights(child, digest.weights);
        return digest;
    };
}

class HeaderPass {
public:
    HeaderPass(CMxmlFile& file, CStreamedParts& parts, std::string_view& failedStep)
        : file_(file), parts_(parts), step_(failedStep) {}

    int run(const std::filesystem::path& source) {
        CScoreStream stream;
        // A file the stream cannot start on fails the same way in the
        // whole-document load, which also tells MusicXML from other XML.
        const CScoreStream::Digest digest = partDigest(file_.playModeNow());
        if (!stream.open(source, CScoreStream::Route::Scan, digest) || stream.rootName() != "score-partwise") {
            return kStreamNotServed;
        }
        const int32_t hostTempo = file_.cursor.tempo;
        dropLoadedTables(file_);
        const int rc = readChildren(stream);
        if (rc == kOk) return finishHeader(file_, source, texts_) == kOk ? kOk : fail(kHeaderStep, kErrCannotOpen);
        if (rc == kStreamNotServed) {
            // Back to what the whole-document load expects to find.
            dropLoadedTables(file_);
            file_.cursor.tempo = hostTempo;
            parts_ = CStreamedParts{};
        }
        return rc;
    }

private:
    int fail(std::string_view step, int rc) {
        step_ = step;
        return rc;
    }

    int readChildren(CScoreStream& stream) {
        while (const xmlNode* child = stream.next()) {
            int rc = kOk;
            if (isNamed(child, "part")) {
                rc = part(child, std::any_cast<PartDigest>(&stream.digest()));
            } else if (isNamed(child, "part-list")) {
                // A part list after the parts: they were read without it.
                if (!parts_.walkOrder.empty() && !list_) return kStreamNotServed;
                if (!list_) rc = startList(child);
            } else {
                rc = readHeaderElement(child, texts_);
                if (rc != kOk) return fail(kHeaderStep, rc);
            }
            if (rc != kOk) return rc;
            if (file_.stopRequested()) return fail(kHeaderStep, kErrStopped);
        }
        if (stream.failed()) return fail(kHeaderStep, kErrCannotOpen);
        if (!list_) return kStreamNotServed;
        if (const int rc = list_->finish(); rc != kOk) {
            return rc == kErrNotPresent ? kStreamNotServed : fail(kHeaderStep, rc);
        }
        return finishPartTable(file_) ? kOk : fail(kHeaderStep, kErrOutOfMemory);
    }

    int startList(const xmlNode* partList) {
        listDocument_ = copyPartList(partList);
        if (!listDocument_) return fail(kHeaderStep, kErrOutOfMemory);
        list_ = std::make_unique<CPartListStream>(file_, listDocument_->root());
        return kOk;
    }

    int part(const xmlNode* element, const PartDigest* digest) {
        if (!list_) return kStreamNotServed;
        if (digest == nullptr || !digest->read) return fail(kHeaderStep, kErrOutOfMemory);
        if (const int rc = list_->part(const_cast<xmlNodePtr>(element), &digest->header); rc != kOk) {
            return rc == kErrNotPresent ? kStreamNotServed : fail(kHeaderStep, rc);
        }
        parts_.walkOrder.push_back(static_cast<int32_t>(file_.parts.size()) - 1);
        parts_.ids.push_back(partId(element));
        mergeMeasureWeights(digest->weights, parts_.weights);
        // The element is freed when the stream moves on.
        file_.parts.back().node = nullptr;
        return kOk;
    }

    CMxmlFile& file_;
    CStreamedParts& parts_;
    std::string_view& step_;
    CHeaderTexts texts_;
    std::optional<scorecore::XmlDocument> listDocument_;
    std::unique_ptr<CPartListStream> list_;
};

}  // namespace

int readStreamedHeader(CMxmlFile& file, const std::filesystem::path& source, CStreamedParts& parts,
                       std::string_view& failedStep) {
    failedStep = {};
    parts = CStreamedParts{};
    try {
        return HeaderPass(file, parts, failedStep).run(source);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

namespace {

// What the walk's stream reads of a part where it is parsed: the readings
// the span searches take and the measures' timing steps.
struct WalkDigest {
    std::shared_ptr<const CMxmlSpanFinder::Glances> glances;
    std::optional<CPartTimings> timings;
};

}  // namespace

int walkStreamedParts(CMxmlFile& file, const std::filesystem::path& source, const CStreamedParts& parts,
                      CMeasureWalk& walk, CMxmlSpanFinder& spans) {
    CScoreStream stream;
    const int32_t ticksPerQuarter = file.ticksPerQuarter;
    const CScoreStream::Digest digestOf = [ticksPerQuarter](const xmlNode* child) -> std::any {
        if (!isNamed(child, "part")) return {};
        WalkDigest digest;
        try {
            digest.glances = CMxmlSpanFinder::readPart(child, ticksPerQuarter);
            digest.timings.emplace(child);
        } catch (const std::bad_alloc&) {
            digest.timings.reset();  // the walk reads what is missing itself then
        }
        return digest;
    };
    if (!stream.open(source, CScoreStream::Route::Digested, digestOf) || stream.rootName() != "score-partwise") {
        return kErrCannotOpen;
    }
    const auto count = static_cast<int32_t>(parts.walkOrder.size());
    int32_t next = 0;
    while (const xmlNode* child = stream.next()) {
        if (!isNamed(child, "part")) continue;
        // The file changed since the header pass: its tables no longer fit it.
        if (next == count || partId(child) != parts.ids[static_cast<std::size_t>(next)]) return kErrCannotOpen;
        if (next == 0) walk.begin(count, child);
        const int32_t index = parts.walkOrder[static_cast<std::size_t>(next)];
        const auto* digest = std::any_cast<WalkDigest>(&stream.digest());
        spans.usePrepared(child, digest != nullptr ? digest->glances : nullptr);
        const CPartTimings* timings = digest != nullptr && digest->timings ? &*digest->timings : nullptr;
        const int rc = walk.walkPartElement(child, index, next, timings);
        // The readings are of elements the stream frees when it moves on.
        spans.usePrepared(nullptr, nullptr);
        if (index >= 0 && index < static_cast<int32_t>(file.parts.size())) {
            CMxmlPart& entry = file.parts[static_cast<std::size_t>(index)];
            entry.node = nullptr;
            std::vector<xmlNodePtr>().swap(entry.measures);
        }
        if (rc != kOk) return rc;
        ++next;
    }
    if (stream.failed() || next != count) return kErrCannotOpen;
    if (count == 0) walk.begin(0, nullptr);
    return walk.finish();
}

}  // namespace scoreconv
