// The MFX event record and the buffer blocks of its SysEx and text data.
#include "qvp3_audio/mfx_event.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qvp3 {

// ---- MfxEvent

std::uint16_t MfxEvent::wordAt(std::size_t at) const {
    return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

void MfxEvent::setWordAt(std::size_t at, std::uint16_t value) {
    data[at] = static_cast<std::uint8_t>(value);
    data[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t MfxEvent::dwordAt(std::size_t at) const {
    return std::uint32_t{data[at]} | std::uint32_t{data[at + 1]} << 8 | std::uint32_t{data[at + 2]} << 16 |
           std::uint32_t{data[at + 3]} << 24;
}

void MfxEvent::setDwordAt(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void MfxEvent::setPatch(std::uint8_t programNumber, std::uint8_t method, std::int16_t bankNumber) {
    data[0] = programNumber;
    data[1] = method;
    setWordAt(2, static_cast<std::uint16_t>(bankNumber));
}

std::uint16_t MfxEvent::GetNumber() const {
    if (type == kMfxControl) return data[0];
    if (type == kMfxRpn || type == kMfxNrpn) return wordAt(0);
    return 0;
}

void MfxEvent::SetNumber(std::uint16_t number) {
    if (type == kMfxControl) data[0] = static_cast<std::uint8_t>(number);
    if (type == kMfxRpn || type == kMfxNrpn) setWordAt(0, number);
}

std::uint16_t MfxEvent::GetValue() const {
    if (type == kMfxControl) return data[1];
    if (type == kMfxRpn || type == kMfxNrpn) return wordAt(2);
    return 0;
}

void MfxEvent::SetValue(std::uint16_t value) {
    if (type == kMfxControl) data[1] = static_cast<std::uint8_t>(value);
    if (type == kMfxRpn || type == kMfxNrpn) setWordAt(2, value);
}

std::array<std::uint8_t, kMfxEventSize> MfxEvent::toBytes() const {
    std::array<std::uint8_t, kMfxEventSize> out{};
    const auto t = static_cast<std::uint32_t>(time);
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(t >> (8 * i));
    out[4] = port;
    out[5] = channel;
    for (std::size_t i = 0; i < 4; ++i) out[6 + i] = static_cast<std::uint8_t>(type >> (8 * i));
    std::memcpy(out.data() + 10, data.data(), kMfxEventDataSize);
    return out;
}

MfxEvent MfxEvent::fromBytes(const std::array<std::uint8_t, kMfxEventSize>& bytes) {
    MfxEvent e;
    std::uint32_t t = 0;
    std::uint32_t kind = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        t |= std::uint32_t{bytes[i]} << (8 * i);
        kind |= std::uint32_t{bytes[6 + i]} << (8 * i);
    }
    e.time = static_cast<std::int32_t>(t);
    e.port = bytes[4];
    e.channel = bytes[5];
    e.type = static_cast<MfxEventType>(kind);
    std::memcpy(e.data.data(), bytes.data() + 10, kMfxEventDataSize);
    return e;
}

static_assert(4 + 1 + 1 + 4 + kMfxEventDataSize == kMfxEventSize);

// ---- CMfxEvent

CMfxEvent::CMfxEvent(MfxEventType eventType) { Reset(eventType); }

CMfxEvent::CMfxEvent(const CMfxEvent& other) : MfxEvent() { *this = other; }

CMfxEvent::CMfxEvent(CMfxEvent&& other) noexcept : MfxEvent(other) {
    if (other.ownsBuffer()) other.setDwordAt(0, 0);
}

CMfxEvent& CMfxEvent::operator=(const CMfxEvent& other) {
    if (this == &other) return *this;
    FreeBuffer();
    static_cast<MfxEvent&>(*this) = other;
    if (other.ownsBuffer() && other.buffer() != 0) {
        auto& factory = CMfxBufferFactory::instance();
        std::uint8_t* bytes = nullptr;
        std::uint32_t size = 0;
        MfxBufferHandle copy = 0;
        // A source block that is gone leaves the copy without one rather than sharing a handle.
        if (factory.GetPointer(other.buffer(), &bytes, &size) != S_OK ||
            factory.Duplicate(other.buffer(), size, &copy) != S_OK)
            copy = 0;
        setDwordAt(0, copy);
    }
    return *this;
}

CMfxEvent& CMfxEvent::operator=(CMfxEvent&& other) noexcept {
    if (this == &other) return *this;
    FreeBuffer();
    static_cast<MfxEvent&>(*this) = other;
    if (other.ownsBuffer()) other.setDwordAt(0, 0);
    return *this;
}

CMfxEvent::~CMfxEvent() { FreeBuffer(); }

void CMfxEvent::FreeBuffer() {
    if (!ownsBuffer()) return;
    if (buffer() != 0) CMfxBufferFactory::instance().Free(buffer());
    setDwordAt(0, 0);
}

void CMfxEvent::Reset(MfxEventType newType) {
    FreeBuffer();
    type = newType;
    data.fill(0);
    switch (newType) {
    case kMfxNote:
        setKey(60);
        setVelocity(64);
        setDuration(120);
        break;
    case kMfxKeyAft:
        setKey(60);
        break;
    case kMfxControl:
        data[0] = 1;
        break;
    case kMfxPatch:
        setPatch(0, kBankSelectCc0Cc32, -1);
        break;
    default:
        break;
    }
}

HRESULT CMfxEvent::SetText(const char* text) {
    if (type != kMfxText && type != kMfxLyric) return E_FAIL;
    if (text == nullptr) return E_POINTER;
    const std::size_t length = std::strlen(text) + 1;
    if (length > UINT32_MAX - kMfxBufferHeaderSize) return E_OUTOFMEMORY;
    return SetBuffer(reinterpret_cast<const std::uint8_t*>(text), static_cast<std::uint32_t>(length));
}

HRESULT CMfxEvent::SetBuffer(const std::uint8_t* bytes, std::uint32_t size) {
    // Only the types that own a block free it again; any other would lose it.
    if (!ownsBuffer()) return E_FAIL;
    FreeBuffer();
    if (bytes == nullptr && size != 0) return E_POINTER;
    auto& factory = CMfxBufferFactory::instance();
    MfxBufferHandle block = 0;
    if (const HRESULT hr = factory.Create(size, &block); hr != S_OK) return hr;
    std::uint8_t* to = nullptr;
    std::uint32_t room = 0;
    factory.GetPointer(block, &to, &room);
    if (size != 0) std::memcpy(to, bytes, size);
    setDwordAt(0, block);
    return S_OK;
}

// ---- CMfxBufferFactory

CMfxBufferFactory& CMfxBufferFactory::instance() {
    static CMfxBufferFactory factory;
    return factory;
}

HRESULT CMfxBufferFactory::QueryInterface(MfxIid iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != MfxIid::Unknown && iid != MfxIid::BufferFactory) return E_NOINTERFACE;
    *out = static_cast<IMfxBufferFactory*>(this);
    AddRef();
    return S_OK;
}

// The caller holds the lock.
MfxBufferHandle CMfxBufferFactory::store(std::unique_ptr<std::uint8_t[]> block) {
    while (next_ == 0 || blocks_.contains(next_)) ++next_;
    const MfxBufferHandle handle = next_++;
    blocks_.emplace(handle, std::move(block));
    return handle;
}

const std::uint8_t* CMfxBufferFactory::validBlock(MfxBufferHandle block) const {
    const auto it = blocks_.find(block);
    if (it == blocks_.end() || std::memcmp(it->second.get(), kMfxBufferMagic.data(), 4) != 0) return nullptr;
    return it->second.get();
}

namespace {

std::uint32_t blockSize(const std::uint8_t* block) {
    return std::uint32_t{block[4]} | std::uint32_t{block[5]} << 8 | std::uint32_t{block[6]} << 16 |
           std::uint32_t{block[7]} << 24;
}

std::unique_ptr<std::uint8_t[]> newBlock(std::uint32_t size) {
    if (size > UINT32_MAX - kMfxBufferHeaderSize) return nullptr;
    std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kMfxBufferHeaderSize + size]());
    if (!block) return nullptr;
    std::memcpy(block.get(), kMfxBufferMagic.data(), 4);
    for (std::size_t i = 0; i < 4; ++i) block[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return block;
}

}  // namespace

HRESULT CMfxBufferFactory::Create(std::uint32_t size, MfxBufferHandle* out) {
    if (out == nullptr) return E_POINTER;
    *out = 0;
    auto block = newBlock(size);
    if (!block) return E_OUTOFMEMORY;
    try {
        std::lock_guard lock(mutex_);
        *out = store(std::move(block));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CMfxBufferFactory::Duplicate(MfxBufferHandle source, std::uint32_t size, MfxBufferHandle* out) {
    if (out == nullptr) return E_POINTER;
    *out = 0;
    auto block = newBlock(size);
    if (!block) return E_OUTOFMEMORY;
    try {
        std::lock_guard lock(mutex_);
        const std::uint8_t* from = validBlock(source);
        if (from == nullptr) return E_INVALIDARG;
        const std::uint32_t count = std::min(blockSize(from), size);
        if (count != 0) std::memcpy(block.get() + kMfxBufferHeaderSize, from + kMfxBufferHeaderSize, count);
        *out = store(std::move(block));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CMfxBufferFactory::GetPointer(MfxBufferHandle block, std::uint8_t** data, std::uint32_t* size) {
    if (data == nullptr || size == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    const std::uint8_t* bytes = validBlock(block);
    if (bytes == nullptr) return E_INVALIDARG;
    *size = blockSize(bytes);
    *data = const_cast<std::uint8_t*>(bytes) + kMfxBufferHeaderSize;
    return S_OK;
}

bool CMfxBufferFactory::Free(MfxBufferHandle block) {
    std::lock_guard lock(mutex_);
    const auto it = blocks_.find(block);
    if (it == blocks_.end()) return false;
    // A stale pointer to the block then reads as no block at all.
    for (std::size_t i = 0; i < 4; ++i) it->second[i] = 0xDD;
    blocks_.erase(it);
    return true;
}

std::vector<std::uint8_t> CMfxBufferFactory::rawBlock(MfxBufferHandle block) {
    std::lock_guard lock(mutex_);
    const std::uint8_t* bytes = validBlock(block);
    if (bytes == nullptr) return {};
    return {bytes, bytes + kMfxBufferHeaderSize + blockSize(bytes)};
}

std::size_t CMfxBufferFactory::liveBlocks() {
    std::lock_guard lock(mutex_);
    return blocks_.size();
}

}  // namespace qvp3
