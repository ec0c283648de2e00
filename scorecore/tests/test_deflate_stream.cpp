#include "scorecore/deflate_stream.h"

#include "platform_testing/temp_folder.h"
#include "platform_testing/thread_count.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using namespace scorecore;
namespace fs = std::filesystem;

namespace {

using scorecore::testing::storedEntry;

// The text a raw deflate stream holds; "broken" when it does not end where
// its bytes do.
std::string inflateRaw(const std::string& bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return "broken";
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        char chunk[65536];
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
    }
    const bool whole = rc == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole ? out : "broken";
}

std::uint32_t crcOf(std::string_view text) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// A document of systems of about the given sizes: repetitive, as scores are,
// with numbers that keep the deflater searching.
struct Document {
    std::string text;
    std::vector<std::size_t> starts;  // where each segment begins: 0, then each system's line
};

Document documentOf(const std::vector<std::size_t>& systemSizes) {
    Document doc;
    doc.text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<tvrxml>\n\t<systems>";
    doc.starts.push_back(0);
    std::uint32_t seed = 7;
    for (const std::size_t size : systemSizes) {
        doc.starts.push_back(doc.text.size());
        const std::size_t end = doc.text.size() + size;
        doc.text += kTvrxSystemLine;
        doc.text += "tempo=\"120\">";
        while (doc.text.size() < end) {
            seed = seed * 1103515245u + 12345u;
            doc.text += "\n\t\t\t\t\t\t\t\t<chord><duration base=\"1/" + std::to_string(1u << (seed >> 29)) + "\"/>" +
                        "<head pitch=\"c" + std::to_string((seed >> 16) % 9) + "\"/></chord>";
        }
        doc.text += "\n\t\t</system>";
    }
    doc.text += "\n\t</systems>\n</tvrxml>\n";
    return doc;
}

std::string_view segmentOf(const Document& doc, std::size_t s) {
    const std::size_t end = s + 1 < doc.starts.size() ? doc.starts[s + 1] : doc.text.size();
    return std::string_view(doc.text).substr(doc.starts[s], end - doc.starts[s]);
}

void expectStreamOf(const DeflatedText& out, std::string_view text) {
    EXPECT_TRUE(inflateRaw(out.bytes) == text) << "the stream does not inflate to the text";
    EXPECT_EQ(out.size, text.size());
    EXPECT_EQ(out.crc, crcOf(text));
}

}  // namespace

// Segments filled in order, backwards and all at once in pieces of every
// size around the blocks: the same bytes as the document deflated whole by
// the container, whatever the threads did meanwhile.
TEST(DeflateStreamThreads, SegmentsFilledInAnyOrderGiveTheBytesOfTheWholeDocument) {
    // Systems longer than a block, shorter than the 32 KB a block looks
    // back, exactly a block, and several blocks.
    const Document doc = documentOf({200000, 5000, 300, kDeflateBlockBytes, 140000, 20000});
    const std::size_t count = doc.starts.size();
    platform::testing::TempFolder folder;
    ASSERT_EQ(writeTvrxContainer(folder.path() / "whole.tvrx", doc.text), kOk);
    const std::string whole = storedEntry(folder.path() / "whole.tvrx");
    ASSERT_FALSE(whole.empty());

    const std::vector<std::size_t> pieceSizes = {1, 7, 65535, 65536, 65537, 4096, 0, 32768};
    const struct {
        const char* name;
        bool backwards;
        bool interleaved;
    } orders[] = {{"in order", false, false}, {"backwards", true, false}, {"interleaved", false, true}};
    for (const auto& order : orders) {
        SCOPED_TRACE(order.name);
        DeflateStream stream(kTvrxDeflateLevel);
        std::vector<std::size_t> fed(count, 0);
        std::size_t piece = 0;
        // Appends the next piece of segment s; true once it is all there.
        const auto feed = [&](std::size_t s) {
            const std::string_view text = segmentOf(doc, s);
            const std::size_t size = order.interleaved ? pieceSizes[piece++ % pieceSizes.size()] : text.size();
            EXPECT_TRUE(stream.append(s, text.substr(fed[s], size)));
            fed[s] = std::min(text.size(), fed[s] + size);
            if (fed[s] == text.size() && s + 1 < count) {
                EXPECT_TRUE(stream.close(s));
            }
            return fed[s] == text.size();
        };
        for (bool done = false; !done;) {
            done = true;
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t s = order.backwards ? count - 1 - i : i;
                if (fed[s] < segmentOf(doc, s).size() || s + 1 == count) done = feed(s) && done;
            }
        }
        DeflatedText out;
        ASSERT_TRUE(stream.finish(out));
        expectStreamOf(out, doc.text);
        EXPECT_TRUE(out.bytes == whole) << "the bytes differ from the document deflated whole";
        EXPECT_FALSE(stream.append(0, "more")) << "no text after the end";
    }
}

// The ends of a text: nothing at all, one segment, segments left empty or
// never used, a last segment closed before the end. Each is one stream of
// the segments' text in their order.
TEST(DeflateStreamTest, EveryShapeOfSegmentsMakesOneStream) {
    const std::string big(3 * kDeflateBlockBytes + 5, 'x');
    const struct {
        const char* name;
        std::vector<std::string> segments;
        std::vector<std::size_t> closed;  // closed before finish
    } cases[] = {
        {"no text", {}, {}},
        {"one segment", {"<score/>"}, {}},
        {"an empty segment between", {"<a>", "", "</a>"}, {1}},
        {"a segment never used", {"<a>", "", "</a>"}, {}},
        {"the last one closed", {"<a>", big, "</a>"}, {0, 1, 2}},
        {"a large first segment", {big, "<a/>"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeflateStream stream(kTvrxDeflateLevel);
        std::string text;
        for (std::size_t s = 0; s < c.segments.size(); ++s) {
            if (!c.segments[s].empty()) {
                EXPECT_TRUE(stream.append(s, c.segments[s]));
            }
            text += c.segments[s];
        }
        for (const std::size_t s : c.closed) EXPECT_TRUE(stream.close(s));
        DeflatedText out;
        ASSERT_TRUE(stream.finish(out));
        expectStreamOf(out, text);
    }
}

TEST(DeflateStreamTest, TextForAClosedSegmentFailsTheStream) {
    DeflateStream stream(kTvrxDeflateLevel);
    ASSERT_TRUE(stream.append(0, "<a>"));
    ASSERT_TRUE(stream.close(0));
    EXPECT_FALSE(stream.append(0, "late"));
    EXPECT_FALSE(stream.append(1, "</a>")) << "the stream stays failed";
    DeflatedText out;
    EXPECT_FALSE(stream.finish(out));
}

// Blocks queued and helpers at work when the stream is dropped: the
// destructor waits for them, and a finished stream has none left either.
TEST(DeflateStreamThreads, NoHelperOutlivesTheStream) {
    const Document doc = documentOf(std::vector<std::size_t>(12, 300000));
    const std::size_t before = platform::testing::threadCountAtRest();
    for (const bool finished : {false, true}) {
        SCOPED_TRACE(finished ? "finished" : "dropped");
        {
            DeflateStream stream(kTvrxDeflateLevel);
            for (std::size_t s = doc.starts.size(); s-- > 1;) ASSERT_TRUE(stream.append(s, segmentOf(doc, s)));
            if (finished) {
                ASSERT_TRUE(stream.append(0, segmentOf(doc, 0)));
                DeflatedText out;
                ASSERT_TRUE(stream.finish(out));
                EXPECT_EQ(out.size, doc.text.size());
                EXPECT_EQ(platform::testing::threadCount(), before);
            }
        }
        EXPECT_EQ(platform::testing::threadCount(), before);
    }
}
