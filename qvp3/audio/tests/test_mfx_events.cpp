// MFX events, their buffer blocks and the queues a plug-in reads them through.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qvp3_audio/mfx_queues.h"

namespace qvp3 {
namespace {

std::string blockText(MfxBufferHandle block) {
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    if (CMfxBufferFactory::instance().GetPointer(block, &data, &size) != S_OK) return "<none>";
    return std::string(reinterpret_cast<const char*>(data), size);
}

TEST(MfxEvent, ConstructionGivesTheResetValuesOfItsType) {
    struct Case {
        MfxEventType type;
        std::array<std::uint8_t, kMfxEventDataSize> data;
    };
    const Case cases[] = {
        {kMfxNote, {60, 64, 0, 120, 0, 0, 0}},
        {kMfxKeyAft, {60, 0, 0, 0, 0, 0, 0}},
        {kMfxControl, {1, 0, 0, 0, 0, 0, 0}},
        {kMfxPatch, {0, 0, 0xFF, 0xFF, 0, 0, 0}},  // bank -1
        {kMfxWheel, {0, 0, 0, 0, 0, 0, 0}},
        {kMfxRpn, {0, 0, 0, 0, 0, 0, 0}},
        {kMfxSysx, {0, 0, 0, 0, 0, 0, 0}},
        {kMfxShortMsg, {0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const CMfxEvent e(c.type);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.time, 0);
        EXPECT_EQ(e.data, c.data) << "type " << c.type;
    }
    EXPECT_EQ(CMfxEvent(kMfxPatch).bank(), -1);
    EXPECT_EQ(CMfxEvent(kMfxNote).duration(), 120u);
}

TEST(MfxEvent, NumberAndValueDependOnTheType) {
    CMfxEvent control(kMfxControl);
    control.SetNumber(7);
    control.SetValue(100);
    EXPECT_EQ(control.GetNumber(), 7);
    EXPECT_EQ(control.GetValue(), 100);

    CMfxEvent rpn(kMfxNrpn);
    rpn.SetNumber(0x1234);
    rpn.SetValue(16383);
    EXPECT_EQ(rpn.GetNumber(), 0x1234);
    EXPECT_EQ(rpn.GetValue(), 16383);

    CMfxEvent note(kMfxNote);
    note.SetNumber(5);
    note.SetValue(9);
    EXPECT_EQ(note.GetNumber(), 0);
    EXPECT_EQ(note.GetValue(), 0);
    EXPECT_EQ(note.key(), 60);  // untouched
}

TEST(MfxEvent, SharedFormIsSeventeenLittleEndianBytes) {
    CMfxEvent e(kMfxRpn);
    e.time = -2;
    e.port = 3;
    e.channel = 9;
    e.SetNumber(0x0102);
    e.SetValue(0x0304);
    const auto bytes = e.toBytes();
    const std::array<std::uint8_t, kMfxEventSize> expected = {0xFE, 0xFF, 0xFF, 0xFF, 3, 9, 6, 0, 0, 0,
                                                              0x02, 0x01, 0x04, 0x03, 0, 0, 0};
    EXPECT_EQ(bytes, expected);
    const MfxEvent back = MfxEvent::fromBytes(bytes);
    EXPECT_EQ(back.toBytes(), expected);
}

TEST(MfxEvent, TextAndBuffersLiveInTheirOwnBlocks) {
    auto& factory = CMfxBufferFactory::instance();
    const std::size_t before = factory.liveBlocks();
    {
        CMfxEvent text(kMfxText);
        ASSERT_EQ(text.SetText("hello"), S_OK);
        EXPECT_EQ(blockText(text.buffer()), std::string("hello", 6));  // with its terminator
        const std::vector<std::uint8_t> raw = factory.rawBlock(text.buffer());
        ASSERT_EQ(raw.size(), 14u);
        EXPECT_EQ(std::string(raw.begin(), raw.begin() + 4), "MfxB");
        EXPECT_EQ(raw[4], 6);

        CMfxEvent copy(kMfxNote);
        copy = text;
        EXPECT_NE(copy.buffer(), text.buffer());
        {
            CMfxEvent gone = text;
        }
        text.Reset(kMfxNote);  // frees the first block
        EXPECT_EQ(blockText(copy.buffer()), std::string("hello", 6));

        CMfxEvent control(kMfxControl);
        EXPECT_EQ(control.SetText("x"), E_FAIL);
        EXPECT_EQ(control.SetBuffer(reinterpret_cast<const std::uint8_t*>("x"), 1), E_FAIL);
        CMfxEvent lyric(kMfxLyric);
        EXPECT_EQ(lyric.SetText(nullptr), E_POINTER);
        const std::uint8_t sysex[] = {0xF0, 0x01, 0xF7};
        CMfxEvent sx(kMfxSysx);
        ASSERT_EQ(sx.SetBuffer(sysex, 3), S_OK);
        const MfxBufferHandle first = sx.buffer();
        ASSERT_EQ(sx.SetBuffer(sysex, 2), S_OK);
        EXPECT_EQ(blockText(first), "<none>");  // the old block is freed
        EXPECT_EQ(blockText(sx.buffer()), std::string("\xF0\x01", 2));
    }
    EXPECT_EQ(factory.liveBlocks(), before);
}

TEST(MfxBufferFactory, CreatesDuplicatesAndRefusesWhatIsNoBlock) {
    auto& factory = CMfxBufferFactory::instance();
    MfxBufferHandle block = 0;
    ASSERT_EQ(factory.Create(4, &block), S_OK);
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(factory.GetPointer(block, &data, &size), S_OK);
    EXPECT_EQ(size, 4u);
    std::memcpy(data, "abcd", 4);

    MfxBufferHandle shorter = 0;
    MfxBufferHandle longer = 0;
    ASSERT_EQ(factory.Duplicate(block, 2, &shorter), S_OK);
    ASSERT_EQ(factory.Duplicate(block, 6, &longer), S_OK);
    EXPECT_EQ(blockText(shorter), "ab");
    EXPECT_EQ(blockText(longer), std::string("abcd\0\0", 6));

    EXPECT_EQ(factory.Create(1, nullptr), E_POINTER);
    EXPECT_EQ(factory.GetPointer(block, nullptr, &size), E_POINTER);
    EXPECT_EQ(factory.GetPointer(0, &data, &size), E_INVALIDARG);
    EXPECT_TRUE(factory.Free(block));
    EXPECT_EQ(factory.GetPointer(block, &data, &size), E_INVALIDARG);
    EXPECT_EQ(factory.Duplicate(block, 2, &shorter), E_INVALIDARG);
    EXPECT_FALSE(factory.Free(block));
    factory.Free(longer);

    void* itf = nullptr;
    EXPECT_EQ(factory.QueryInterface(MfxIid::BufferFactory, &itf), S_OK);
    EXPECT_EQ(itf, static_cast<IMfxBufferFactory*>(&factory));
    factory.Release();
    EXPECT_EQ(factory.QueryInterface(MfxIid::TempoMap, &itf), E_NOINTERFACE);
    EXPECT_EQ(itf, nullptr);
}

TEST(MfxEventQueue, IsAReadOnlyWindowWithTheChannelOverride) {
    CMfxTrack track;
    for (int i = 0; i < 5; ++i) {
        CMfxEvent e(kMfxNote);
        e.time = i * 10;
        e.channel = 2;
        track.events.push_back(e);
    }
    CMfxEventQueue queue(track, 1, 4);
    int count = 0;
    ASSERT_EQ(queue.GetCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    MfxEvent e;
    ASSERT_EQ(queue.GetAt(0, &e), S_OK);
    EXPECT_EQ(e.time, 10);
    EXPECT_EQ(e.channel, 2);
    track.channelOverride = 7;
    ASSERT_EQ(queue.GetAt(2, &e), S_OK);
    EXPECT_EQ(e.time, 30);
    EXPECT_EQ(e.channel, 7);
    EXPECT_EQ(track.events[3].channel, 2);  // the track keeps its own

    EXPECT_EQ(queue.GetAt(3, &e), E_INVALIDARG);
    EXPECT_EQ(queue.GetAt(-1, &e), E_INVALIDARG);
    EXPECT_EQ(queue.GetAt(0, nullptr), E_POINTER);
    EXPECT_EQ(queue.Add(e), E_FAIL);
    track.events.resize(2);  // a window made before the track shrank reads nothing outside it
    EXPECT_EQ(queue.GetAt(1, &e), E_INVALIDARG);

    IMfxBufferFactory* factory = nullptr;
    ASSERT_EQ(queue.GetBufferFactory(&factory), S_OK);
    EXPECT_EQ(factory, &CMfxBufferFactory::instance());
    factory->Release();
    void* itf = nullptr;
    EXPECT_EQ(queue.QueryInterface(MfxIid::EventQueue2, &itf), S_OK);
    EXPECT_EQ(queue.QueryInterface(MfxIid::DataQueue, &itf), E_NOINTERFACE);
}

TEST(MfxDataQueue, HoldsAtMost512Entries) {
    IMfxDataQueue* queue = nullptr;
    ASSERT_EQ(CreateDataQueue(&queue), S_OK);
    for (std::uint32_t i = 0; i < kMfxDataQueueCapacity; ++i) ASSERT_EQ(queue->Add({i, i * 2}), S_OK);
    EXPECT_EQ(queue->Add({999, 999}), E_FAIL);
    int count = 0;
    ASSERT_EQ(queue->GetCount(&count), S_OK);
    EXPECT_EQ(count, kMfxDataQueueCapacity);
    MfxDataEntry last;
    ASSERT_EQ(queue->GetAt(511, &last), S_OK);
    EXPECT_EQ(last.first, 511u);
    EXPECT_EQ(last.second, 1022u);
    EXPECT_EQ(queue->GetAt(512, &last), E_INVALIDARG);
    EXPECT_EQ(queue->GetAt(-1, &last), E_INVALIDARG);
    EXPECT_EQ(CreateDataQueue(nullptr), E_POINTER);
    EXPECT_EQ(queue->AddRef(), 2u);
    EXPECT_EQ(queue->Release(), 1u);
    EXPECT_EQ(queue->Release(), 0u);  // freed here; the sanitizer build sees a leak otherwise
}

}  // namespace
}  // namespace qvp3
