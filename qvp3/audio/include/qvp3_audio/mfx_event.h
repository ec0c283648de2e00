// The MIDI-effect (MFX) event record that the sample player hands to
// instruments and MIDI plug-ins, the buffer blocks that carry its
// system-exclusive and text data, and the interfaces a plug-in reaches them
// through. The interfaces are plain C++ with the published method sets:
// reference counted, asked for each other by an interface id.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qvp3_pipeline/wave_file.h"  // HRESULT and its first codes

namespace qvp3 {

inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

// The interfaces of the MFX host and its plug-ins.
enum class MfxIid {
    Unknown,
    BufferFactory,
    EventQueue,
    EventQueue2,
    DataQueue,
    TempoMap,
    MeterMap,
    KeySigMap,
    MarkerMap,
    InputPulse,
    NotifyHost,
    InputCallback,
    TimeConverter,
};

class IMfxUnknown {
public:
    virtual HRESULT QueryInterface(MfxIid iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IMfxUnknown() = default;  // released, never deleted through the interface
};

enum MfxEventType : std::uint32_t {
    kMfxNote = 0,
    kMfxKeyAft = 1,
    kMfxControl = 2,
    kMfxPatch = 3,
    kMfxChanAft = 4,
    kMfxWheel = 5,
    kMfxRpn = 6,
    kMfxNrpn = 7,
    kMfxSysx = 8,
    kMfxText = 9,
    kMfxLyric = 10,
    kMfxMuteMask = 11,
    kMfxVelOfs = 12,
    kMfxVelTrim = 13,
    kMfxKeyOfs = 14,
    kMfxKeyTrim = 15,
    kMfxShortMsg = 16,
};

// Bank-select methods of a Patch event.
enum MfxBankSelect : std::uint8_t {
    kBankSelectCc0Cc32 = 0,
    kBankSelectCc0 = 1,
    kBankSelectCc32 = 2,
    kBankSelectPatch100 = 3,
};

// A buffer block as an event and a plug-in hold it: a handle that the
// process-wide factory resolves; 0 is none. (A 32-bit field cannot hold an
// address here, and a handle of a freed block resolves to nothing.)
using MfxBufferHandle = std::uint32_t;

inline constexpr std::size_t kMfxEventSize = 17;
inline constexpr std::size_t kMfxEventDataSize = 7;

// The 17-byte event, without ownership: what a queue gives a plug-in.
// Type-specific data sits in `data` at the offsets of the shared record
// (little-endian); the accessors read and write it there.
struct MfxEvent {
    std::int32_t time = 0;  // ticks
    std::uint8_t port = 0;
    std::uint8_t channel = 0;
    MfxEventType type = kMfxNote;
    std::array<std::uint8_t, kMfxEventDataSize> data{};

    std::uint8_t byteAt(std::size_t at) const { return data[at]; }
    void setByteAt(std::size_t at, std::uint8_t value) { data[at] = value; }
    std::uint16_t wordAt(std::size_t at) const;
    void setWordAt(std::size_t at, std::uint16_t value);
    std::uint32_t dwordAt(std::size_t at) const;
    void setDwordAt(std::size_t at, std::uint32_t value);

    // Note and KeyAft.
    std::uint8_t key() const { return data[0]; }
    void setKey(std::uint8_t v) { data[0] = v; }
    std::uint8_t velocity() const { return data[1]; }  // KeyAft: the pressure
    void setVelocity(std::uint8_t v) { data[1] = v; }
    std::uint8_t releaseVelocity() const { return data[2]; }
    std::uint32_t duration() const { return dwordAt(3); }
    void setDuration(std::uint32_t v) { setDwordAt(3, v); }
    // Patch.
    std::uint8_t program() const { return data[0]; }
    std::uint8_t bankMethod() const { return data[1]; }
    std::int16_t bank() const { return static_cast<std::int16_t>(wordAt(2)); }
    void setPatch(std::uint8_t program, std::uint8_t method, std::int16_t bank);
    // Wheel.
    std::int16_t wheel() const { return static_cast<std::int16_t>(wordAt(0)); }
    // Sysx, Text, Lyric.
    MfxBufferHandle buffer() const { return dwordAt(0); }
    // MuteMask, the offsets and trims, ShortMsg.
    std::uint32_t dword() const { return dwordAt(0); }

    // Control: the number byte; RPN and NRPN: the 16-bit parameter; 0 / no
    // effect for other types. GetValue/SetValue likewise for the value.
    std::uint16_t GetNumber() const;
    void SetNumber(std::uint16_t number);
    std::uint16_t GetValue() const;
    void SetValue(std::uint16_t value);

    bool ownsBuffer() const { return type == kMfxSysx || type == kMfxText || type == kMfxLyric; }

    // The shared 17-byte form, field by field.
    std::array<std::uint8_t, kMfxEventSize> toBytes() const;
    static MfxEvent fromBytes(const std::array<std::uint8_t, kMfxEventSize>& bytes);
};

// An event that owns its buffer block (types 8, 9 and 10): a copy gets a
// duplicate of the block, destruction frees it.
class CMfxEvent : public MfxEvent {
public:
    // All fields 0, then the reset values of the type.
    explicit CMfxEvent(MfxEventType type = kMfxNote);
    CMfxEvent(const CMfxEvent& other);
    CMfxEvent(CMfxEvent&& other) noexcept;
    CMfxEvent& operator=(const CMfxEvent& other);
    CMfxEvent& operator=(CMfxEvent&& other) noexcept;
    ~CMfxEvent();

    // Back to construct(type) at the same time, port and channel, the own
    // block freed.
    void Reset(MfxEventType newType);
    // Text and Lyric only (else E_FAIL): the text with its terminator in a
    // new block; E_POINTER for a null text.
    HRESULT SetText(const char* text);
    // Sysx, Text and Lyric only (else E_FAIL): a new block of the bytes (the
    // old one freed): S_OK, E_POINTER for null bytes, or E_OUTOFMEMORY.
    HRESULT SetBuffer(const std::uint8_t* bytes, std::uint32_t size);
    // Frees the own block (types 8-10) and clears the handle.
    void FreeBuffer();
};

class IMfxBufferFactory : public IMfxUnknown {
public:
    // A new block of `size` bytes (zeroed): S_OK, E_OUTOFMEMORY, E_POINTER.
    virtual HRESULT Create(std::uint32_t size, MfxBufferHandle* out) = 0;
    // A new block of `size` bytes holding the source's data up to the smaller size.
    virtual HRESULT Duplicate(MfxBufferHandle source, std::uint32_t size, MfxBufferHandle* out) = 0;
    // The block's data and size; E_INVALIDARG for no valid block.
    virtual HRESULT GetPointer(MfxBufferHandle block, std::uint8_t** data, std::uint32_t* size) = 0;

protected:
    ~IMfxBufferFactory() = default;
};

// The process-wide factory of "MfxB" blocks: magic, size, data in one
// allocation. Lives for the whole process; its reference count is kept but
// never frees it.
class CMfxBufferFactory final : public IMfxBufferFactory {
public:
    static CMfxBufferFactory& instance();

    HRESULT QueryInterface(MfxIid iid, void** out) override;
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override { return refs_ > 0 ? --refs_ : 0; }
    HRESULT Create(std::uint32_t size, MfxBufferHandle* out) override;
    HRESULT Duplicate(MfxBufferHandle source, std::uint32_t size, MfxBufferHandle* out) override;
    HRESULT GetPointer(MfxBufferHandle block, std::uint8_t** data, std::uint32_t* size) override;

    // Overwrites the magic with 0xDDDDDDDD and frees the block; false for no valid block.
    bool Free(MfxBufferHandle block);
    // The block's bytes (magic, size, data) while it lives, for the tests of its layout.
    std::vector<std::uint8_t> rawBlock(MfxBufferHandle block);
    std::size_t liveBlocks();

private:
    CMfxBufferFactory() = default;
    MfxBufferHandle store(std::unique_ptr<std::uint8_t[]> block);
    const std::uint8_t* validBlock(MfxBufferHandle block) const;

    std::atomic<std::uint32_t> refs_{1};
    std::mutex mutex_;
    std::unordered_map<MfxBufferHandle, std::unique_ptr<std::uint8_t[]>> blocks_;
    MfxBufferHandle next_ = 1;
};

inline constexpr std::array<std::uint8_t, 4> kMfxBufferMagic = {'M', 'f', 'x', 'B'};
inline constexpr std::size_t kMfxBufferHeaderSize = 8;

}  // namespace qvp3
