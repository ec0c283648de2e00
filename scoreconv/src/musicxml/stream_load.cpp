#include "musicxml/stream_load.h"

#include <libxml/tree.h>

#include <any>
#include <memory>
#include <new>
#include <optional>

#include "musicxml/measure_walk.h"
#include "musicxml/mxml_load.h"
#include "musicxml/part_list.h"
#include "musicxml/play_model_builder.h"
#include "musicxml/score_stream.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

namespace {

using mx::isNamed;
using scorecore::kErrCannotOpen;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

constexpr std::string_view kHeaderStep = "mxml->getProps";
constexpr std::string_view kStoreStep = "mxml->appendEventToStream";
constexpr std::string_view kMeasuresStep = "...";

int32_t scorePartsIn(const xmlNode* partList) {
    int32_t count = 0;
    for (const xmlNode* c : mx::elements(partList)) count += isNamed(c, "score-part") ? 1 : 0;
    return count;
}

// What is read of a part where it is parsed, so that the walking thread
// need not scan every note for it: the part's header and its measures'
// timing steps. A reading that ran out of memory is left to the walking
// thread.
struct PartDigest {
    std::optional<CPartHeader> header;
    std::optional<CPartTimings> timings;
};

CScoreStream::Digest partDigest(int32_t mode) {
    return [mode](const xmlNode* child) -> std::any {
        if (!isNamed(child, "part")) return {};
        PartDigest digest;
        try {
            CPartHeader header;
            if (readPartHeaderInMode(child, mode, header)) digest.header = std::move(header);
            digest.timings.emplace(child);
        } catch (const std::bad_alloc&) {
            digest.timings.reset();
        }
        return digest;
    };
}

class StreamedLoad {
public:
    StreamedLoad(CMxmlFile& file, std::string_view& failedStep)
        : file_(file), step_(failedStep), builder_(file), walk_(file, builder_) {}

    int run(const std::filesystem::path& source) {
        CScoreStream stream;
        // A file the stream cannot start on fails the same way in the
        // whole-document load, which also tells MusicXML from other XML.
        if (!stream.open(source, CScoreStream::Route::Digested, partDigest(file_.playModeNow())) ||
            stream.rootName() != "score-partwise") {
            return kStreamNotServed;
        }
        const int32_t hostTempo = file_.cursor.tempo;
        dropLoadedTables(file_);
        file_.scoreLength = 0;
        const int rc = readChildren(stream);
        if (rc == kOk) return finish(source);
        if (rc == kStreamNotServed) {
            // Back to what the whole-document load expects to find.
            dropLoadedTables(file_);
            file_.events.clear();
            file_.scoreLength = 0;
            file_.cursor.tempo = hostTempo;
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
                if (parts_ > 0 && !list_) return kStreamNotServed;
                if (!list_) rc = startList(child);
            } else {
                rc = readHeaderElement(child, texts_);
                if (rc != kOk) return fail(kHeaderStep, rc);
            }
            if (rc != kOk) return rc;
            if (file_.stopRequested()) return fail(parts_ > 0 ? kMeasuresStep : kHeaderStep, kErrStopped);
        }
        if (stream.failed()) return fail(kHeaderStep, kErrCannotOpen);
        if (!list_) return kStreamNotServed;
        if (const int rc = list_->finish(); rc != kOk) return rc == kErrNotPresent ? kStreamNotServed : fail(kHeaderStep, rc);
        return finishPartTable(file_) ? kOk : fail(kHeaderStep, kErrOutOfMemory);
    }

    int startList(const xmlNode* partList) {
        listDocument_ = copyPartList(partList);
        if (!listDocument_) return fail(kHeaderStep, kErrOutOfMemory);
        scoreParts_ = scorePartsIn(listDocument_->root());
        list_ = std::make_unique<CPartListStream>(file_, listDocument_->root());
        return kOk;
    }

    // digest: what the stream read of the part where it parsed it; null when
    // it could not.
    int part(const xmlNode* element, const PartDigest* digest) {
        if (!list_) return kStreamNotServed;
        const CPartHeader* header = digest != nullptr && digest->header ? &*digest->header : nullptr;
        if (const int rc = list_->part(const_cast<xmlNodePtr>(element), header); rc != kOk) {
            return rc == kErrNotPresent ? kStreamNotServed : fail(kHeaderStep, rc);
        }
        const int32_t index = static_cast<int32_t>(file_.parts.size()) - 1;
        const int32_t staves = file_.staffCount();
        if (parts_ == 0) {
            if (const int rc = builder_.prepare(staves); rc != kOk) return fail(kStoreStep, rc);
            walk_.begin(scoreParts_, element);
        } else if (const int rc = builder_.growStaves(staves); rc != kOk) {
            return fail(kStoreStep, rc);
        }
        const CPartTimings* timings = digest != nullptr && digest->timings ? &*digest->timings : nullptr;
        const int rc = walk_.walkPartElement(element, index, parts_++, timings);
        // The element is freed when the stream moves on.
        CMxmlPart& entry = file_.parts[static_cast<std::size_t>(index)];
        entry.node = nullptr;
        std::vector<xmlNodePtr>().swap(entry.measures);
        return rc == kOk ? kOk : fail(kMeasuresStep, rc);
    }

    int finish(const std::filesystem::path& source) {
        if (const int rc = finishHeader(file_, source, texts_); rc != kOk) return fail(kHeaderStep, rc);
        // A score without staves loads as an empty score.
        if (parts_ == 0 || scoreStaffCount(file_) == 0) return kOk;
        if (const int rc = builder_.growStaves(scoreStaffCount(file_)); rc != kOk) return fail(kStoreStep, rc);
        if (const int rc = walk_.finish(); rc != kOk) return fail(kMeasuresStep, rc);
        if (file_.stopRequested()) return fail(kMeasuresStep, kErrStopped);
        const int rc = builder_.finish();
        return rc == kOk ? kOk : fail(kMeasuresStep, rc);
    }

    CMxmlFile& file_;
    std::string_view& step_;
    CPlayModelBuilder builder_;
    CMeasureWalk walk_;
    CHeaderTexts texts_;
    std::optional<scorecore::XmlDocument> listDocument_;
    std::unique_ptr<CPartListStream> list_;
    int32_t scoreParts_ = 0;
    int32_t parts_ = 0;  // parts walked so far
};

}  // namespace

std::optional<scorecore::XmlDocument> copyPartList(const xmlNode* partList) {
    scorecore::XmlDocPtr doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")));
    if (!doc) return std::nullopt;
    xmlNodePtr copy = xmlDocCopyNode(const_cast<xmlNodePtr>(partList), doc.get(), 1);
    if (copy == nullptr) return std::nullopt;
    xmlDocSetRootElement(doc.get(), copy);
    return scorecore::XmlDocument(std::move(doc));
}

int loadStreamed(CMxmlFile& file, const std::filesystem::path& source, std::string_view& failedStep) {
    failedStep = {};
    try {
        return StreamedLoad(file, failedStep).run(source);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

}  // namespace scoreconv
