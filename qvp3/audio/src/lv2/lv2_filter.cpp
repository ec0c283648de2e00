// An LV2 instrument as the instrument graph's filter.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "qvp3_audio/lv2_instrument.h"

namespace qvp3 {
namespace {

constexpr std::size_t kEventBufferBytes = 16384;
// What an instrument is first made for, to know that its library loads; the
// graph makes it again only for another rate or longer blocks.
constexpr std::uint32_t kFirstRate = 44100;
constexpr std::uint32_t kFirstMaxFrames = 4096;

enum class PortKind { AudioIn, AudioOut, Control, Events, AtomIn, AtomOut, Cv, Unused };

struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
};

bool supportedFeature(const char* uri) {
    static const char* const kSupported[] = {LV2_URID__map, LV2_URID__unmap, LV2_OPTIONS__options,
                                             LV2_BUF_SIZE__boundedBlockLength, LV2_CORE__hardRTCapable,
                                             LV2_CORE__isLive, LV2_CORE__inPlaceBroken};
    return std::any_of(std::begin(kSupported), std::end(kSupported), [&](const char* s) { return std::strcmp(s, uri) == 0; });
}

}  // namespace

struct CDxLv2Filter::Impl {
    const LilvPlugin* plugin = nullptr;
    LilvInstance* instance = nullptr;
    std::vector<PortKind> kinds;
    std::vector<float> controls;  // one value per port; defaults for the inputs
    // The control inputs' values as last set, by port: set from any thread
    // (a page's slider while the instrument plays) and copied into the
    // plug-in's own ports before each block, on the thread that renders.
    std::vector<std::atomic<float>> wanted;
    std::vector<std::pair<std::string, std::uint32_t>> controlInputs;  // symbol and port
    std::vector<Lv2ControlInput> controlInfo;  // the same inputs as the pages show them
    std::vector<std::vector<float>> inputs;
    std::vector<std::vector<float>> outputs;
    std::vector<std::vector<float>> cv;
    std::vector<std::vector<std::uint64_t>> atoms;  // 8-byte aligned atom buffers, one per atom port
    std::vector<std::uint64_t> events;
    std::uint32_t lastFrame = 0;
    std::uint32_t maxFrames = 0;
    std::uint32_t midiEvent = 0, sequence = 0, chunk = 0, atomInt = 0, atomFloat = 0;
    std::int32_t blockLength = 0;
    std::int32_t shortestBlock = 1;
    float rate = 0.0f;
    LV2_Options_Option options[4]{};
    LV2_Feature mapFeature{}, unmapFeature{}, optionsFeature{}, boundedFeature{};
    const LV2_Feature* features[5]{};

    LV2_Atom_Sequence* sequenceIn() { return reinterpret_cast<LV2_Atom_Sequence*>(events.data()); }
};

std::shared_ptr<CDxLv2Filter> CDxLv2Filter::Create(std::shared_ptr<CLv2World> world, std::string_view uri,
                                                   std::string& problem) {
    const LilvPlugin* plugin = world ? world->FindPlugin(uri) : nullptr;
    if (plugin == nullptr) {
        problem = "not installed";
        return nullptr;
    }
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    LILV_FOREACH (nodes, i, required) {
        const char* feature = lilv_node_as_uri(lilv_nodes_get(required, i));
        if (!supportedFeature(feature)) problem = std::string("needs ") + feature;
    }
    lilv_nodes_free(required);
    if (!problem.empty()) return nullptr;

    std::shared_ptr<CDxLv2Filter> filter(new CDxLv2Filter);
    filter->impl_ = std::make_unique<Impl>();
    filter->world_ = std::move(world);
    filter->uri_ = uri;
    Node name(lilv_plugin_get_name(plugin));
    filter->name_ = name.node != nullptr ? lilv_node_as_string(name.node) : filter->uri_;
    Impl& m = *filter->impl_;
    m.plugin = plugin;
    if (!filter->ClassifyPorts(problem)) return nullptr;

    CLv2UridMap& urids = filter->world_->urids();
    m.midiEvent = urids.Map(LV2_MIDI__MidiEvent);
    m.sequence = urids.Map(LV2_ATOM__Sequence);
    m.chunk = urids.Map(LV2_ATOM__Chunk);
    m.atomInt = urids.Map(LV2_ATOM__Int);
    m.atomFloat = urids.Map(LV2_ATOM__Float);
    m.events.assign(kEventBufferBytes / sizeof(std::uint64_t), 0);
    filter->ResetEvents();
    m.maxFrames = kFirstMaxFrames;
    if (!filter->Instantiate(kFirstRate)) {
        problem = "does not load";
        return nullptr;
    }
    filter->ConnectPorts(m.maxFrames);
    return filter;
}

bool CDxLv2Filter::ClassifyPorts(std::string& problem) {
    Impl& m = *impl_;
    const LilvPlugin* plugin = m.plugin;
    LilvWorld* w = world_->world();
    Node audio(lilv_new_uri(w, LV2_CORE__AudioPort)), control(lilv_new_uri(w, LV2_CORE__ControlPort));
    Node cvPort(lilv_new_uri(w, LV2_CORE__CVPort)), input(lilv_new_uri(w, LV2_CORE__InputPort));
    Node atom(lilv_new_uri(w, LV2_ATOM__AtomPort)), midi(lilv_new_uri(w, LV2_MIDI__MidiEvent));
    Node optional(lilv_new_uri(w, LV2_CORE__connectionOptional));
    const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
    m.kinds.assign(ports, PortKind::Unused);
    m.controls.assign(ports, 0.0f);
    std::vector<float> minimum(ports, 0.0f), maximum(ports, 1.0f);
    lilv_plugin_get_port_ranges_float(plugin, minimum.data(), maximum.data(), m.controls.data());
    m.wanted = std::vector<std::atomic<float>>(ports);
    for (std::uint32_t p = 0; p < ports; ++p) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
        const bool in = lilv_port_is_a(plugin, port, input.node);
        PortKind kind = PortKind::Unused;
        if (lilv_port_is_a(plugin, port, audio.node)) kind = in ? PortKind::AudioIn : PortKind::AudioOut;
        else if (lilv_port_is_a(plugin, port, control.node)) kind = PortKind::Control;
        else if (lilv_port_is_a(plugin, port, cvPort.node)) kind = PortKind::Cv;
        else if (lilv_port_is_a(plugin, port, atom.node)) kind = in ? PortKind::AtomIn : PortKind::AtomOut;
        else if (!lilv_port_has_property(plugin, port, optional.node)) problem = "has a port of a kind we do not know";
        // The first atom input that takes MIDI gets the notes.
        if (kind == PortKind::AtomIn && !hasEventPort_ && lilv_port_supports_event(plugin, port, midi.node)) {
            kind = PortKind::Events;
            eventPort_ = p;
            hasEventPort_ = true;
        }
        if (kind == PortKind::AudioIn) inputPorts_.push_back(p);
        if (kind == PortKind::AudioOut) outputPorts_.push_back(p);
        if (std::isnan(m.controls[p])) m.controls[p] = 0.0f;
        m.wanted[p].store(m.controls[p], std::memory_order_relaxed);
        if (kind == PortKind::Control && in) {
            m.controlInputs.emplace_back(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), p);
            Node label(lilv_port_get_name(plugin, port));
            Lv2ControlInput info{m.controlInputs.back().first, label.node ? lilv_node_as_string(label.node) : "",
                                 std::isnan(minimum[p]) ? 0.0f : minimum[p], std::isnan(maximum[p]) ? 1.0f : maximum[p]};
            if (info.name.empty()) info.name = info.symbol;
            if (!(info.maximum > info.minimum)) info.maximum = info.minimum + 1.0f;
            m.controlInfo.push_back(std::move(info));
        }
        m.kinds[p] = kind;
    }
    if (problem.empty() && !hasEventPort_) problem = "takes no MIDI";
    if (problem.empty() && outputPorts_.empty()) problem = "has no audio output";
    return problem.empty();
}

CDxLv2Filter::~CDxLv2Filter() { Release(); }

bool CDxLv2Filter::Instantiate(std::uint32_t rate) {
    Impl& m = *impl_;
    Release();
    CLv2UridMap& urids = world_->urids();
    m.blockLength = static_cast<std::int32_t>(m.maxFrames);
    m.rate = static_cast<float>(rate);
    const std::uint32_t maxLength = urids.Map(LV2_BUF_SIZE__maxBlockLength);
    const std::uint32_t minLength = urids.Map(LV2_BUF_SIZE__minBlockLength);
    const std::uint32_t sampleRate = urids.Map("http://lv2plug.in/ns/ext/parameters#sampleRate");
    m.options[0] = {LV2_OPTIONS_INSTANCE, 0, maxLength, sizeof(std::int32_t), m.atomInt, &m.blockLength};
    m.options[1] = {LV2_OPTIONS_INSTANCE, 0, minLength, sizeof(std::int32_t), m.atomInt, &m.shortestBlock};
    m.options[2] = {LV2_OPTIONS_INSTANCE, 0, sampleRate, sizeof(float), m.atomFloat, &m.rate};
    m.options[3] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    m.mapFeature = {LV2_URID__map, urids.mapFeatureData()};
    m.unmapFeature = {LV2_URID__unmap, urids.unmapFeatureData()};
    m.optionsFeature = {LV2_OPTIONS__options, m.options};
    m.boundedFeature = {LV2_BUF_SIZE__boundedBlockLength, nullptr};
    m.features[0] = &m.mapFeature;
    m.features[1] = &m.unmapFeature;
    m.features[2] = &m.optionsFeature;
    m.features[3] = &m.boundedFeature;
    m.features[4] = nullptr;
    m.instance = lilv_plugin_instantiate(m.plugin, rate, m.features);
    rate_ = m.instance != nullptr ? rate : 0;
    return m.instance != nullptr;
}

void CDxLv2Filter::Release() {
    Stop();
    if (impl_ && impl_->instance != nullptr) lilv_instance_free(impl_->instance);
    if (impl_) impl_->instance = nullptr;
    rate_ = 0;
}

void CDxLv2Filter::ConnectPorts(std::uint32_t maxFrames) {
    Impl& m = *impl_;
    m.inputs.assign(inputPorts_.size(), std::vector<float>(maxFrames, 0.0f));
    m.outputs.assign(outputPorts_.size(), std::vector<float>(maxFrames, 0.0f));
    m.cv.clear();
    m.atoms.clear();
    std::size_t in = 0, out = 0;
    for (std::uint32_t p = 0; p < m.kinds.size(); ++p) {
        void* data = nullptr;
        switch (m.kinds[p]) {
        case PortKind::AudioIn: data = m.inputs[in++].data(); break;
        case PortKind::AudioOut: data = m.outputs[out++].data(); break;
        case PortKind::Control: data = &m.controls[p]; break;
        case PortKind::Events: data = m.events.data(); break;
        case PortKind::Cv: data = m.cv.emplace_back(maxFrames, 0.0f).data(); break;
        case PortKind::AtomIn:
        case PortKind::AtomOut: {
            auto& buffer = m.atoms.emplace_back(kEventBufferBytes / sizeof(std::uint64_t), 0);
            auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
            seq->atom.type = m.sequence;
            seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
            data = buffer.data();
            break;
        }
        case PortKind::Unused: break;
        }
        lilv_instance_connect_port(m.instance, p, data);
    }
}

void CDxLv2Filter::ResetEvents() {
    LV2_Atom_Sequence* seq = impl_->sequenceIn();
    seq->atom.type = impl_->sequence;
    seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
    seq->body.unit = 0;
    seq->body.pad = 0;
    impl_->lastFrame = 0;
}

bool CDxLv2Filter::QueueMidi(std::uint32_t frame, std::span<const std::uint8_t> message) {
    if (message.empty()) return false;
    Impl& m = *impl_;
    LV2_Atom_Sequence* seq = m.sequenceIn();
    const std::size_t need = sizeof(LV2_Atom_Event) + lv2_atom_pad_size(static_cast<std::uint32_t>(message.size()));
    if (sizeof(LV2_Atom) + seq->atom.size + need > kEventBufferBytes) return false;
    m.lastFrame = std::max(m.lastFrame, frame);
    LV2_Atom_Event* ev = lv2_atom_sequence_end(&seq->body, seq->atom.size);
    ev->time.frames = m.lastFrame;
    ev->body.type = m.midiEvent;
    ev->body.size = static_cast<std::uint32_t>(message.size());
    std::memcpy(ev + 1, message.data(), message.size());
    seq->atom.size += static_cast<std::uint32_t>(need);
    return true;
}

HRESULT CDxLv2Filter::ConnectInput(const DxMediaType& type) {
    if (audDxCheckMediaType(type) != S_OK) return E_INVALIDARG;
    inputBlockAlign_ = type.format.nBlockAlign;
    rate_ = rate_ == type.format.nSamplesPerSec ? rate_ : 0;  // another rate: made again on output
    impl_->rate = static_cast<float>(type.format.nSamplesPerSec);
    return S_OK;
}

HRESULT CDxLv2Filter::ConnectOutput(const DxMediaType& type, CDxBufRendererInputPin& downstream,
                                    CDxAllocator& allocator) {
    if (audDxCheckMediaType(type) != S_OK || type.format.nChannels > outputPorts_.size()) return E_INVALIDARG;
    std::uint32_t count = 0, size = 0;
    allocator.GetProperties(count, size);
    const std::uint32_t maxFrames = size / 8;
    if (maxFrames == 0) return E_FAIL;
    Impl& m = *impl_;
    const auto rate = static_cast<std::uint32_t>(m.rate);
    if (m.instance == nullptr || rate_ != rate || maxFrames > m.maxFrames) {
        m.maxFrames = std::max(maxFrames, m.maxFrames);
        if (!Instantiate(rate)) return E_FAIL;
        try {
            ConnectPorts(maxFrames);
        } catch (const std::bad_alloc&) {
            Release();
            return E_OUTOFMEMORY;
        }
    }
    outputChannels_ = type.format.nChannels;
    downstream_ = &downstream;
    allocator_ = &allocator;
    return S_OK;
}

void CDxLv2Filter::Disconnect() {
    downstream_ = nullptr;
    allocator_ = nullptr;
    outputChannels_ = 0;
}

HRESULT CDxLv2Filter::Run() {
    if (impl_->instance == nullptr) return E_FAIL;
    if (!active_) lilv_instance_activate(impl_->instance);
    active_ = true;
    return S_OK;
}

HRESULT CDxLv2Filter::Stop() {
    if (active_ && impl_ && impl_->instance != nullptr) lilv_instance_deactivate(impl_->instance);
    active_ = false;
    return S_OK;
}

HRESULT CDxLv2Filter::Receive(CDeferZeroFillMediaSample& sample) {
    Impl& m = *impl_;
    if (!active_ || downstream_ == nullptr || allocator_ == nullptr) return VFW_E_NOT_RUNNING;
    const std::uint32_t frames = std::min(sample.GetActualDataLength() / std::max(inputBlockAlign_, 1u), m.maxFrames);
    const std::uint32_t channels = inputBlockAlign_ / 4;
    const float* in = sample.GetPointer();
    for (std::size_t k = 0; k < m.inputs.size() && channels > 0; ++k) {
        const std::size_t c = std::min<std::size_t>(k, channels - 1);
        for (std::uint32_t i = 0; i < frames; ++i) m.inputs[k][i] = in[i * channels + c];
    }
    // Events beyond this block land on its last frame.
    LV2_ATOM_SEQUENCE_FOREACH(m.sequenceIn(), ev) {
        if (frames > 0 && ev->time.frames >= frames) ev->time.frames = frames - 1;
    }
    for (std::size_t a = 0, p = 0; p < m.kinds.size(); ++p) {
        if (m.kinds[p] != PortKind::AtomOut && m.kinds[p] != PortKind::AtomIn) continue;
        auto* atom = reinterpret_cast<LV2_Atom*>(m.atoms[a++].data());
        // An output gets its whole room again; an input stays an empty sequence.
        if (m.kinds[p] == PortKind::AtomOut) *atom = {static_cast<std::uint32_t>(kEventBufferBytes - sizeof(LV2_Atom)), m.chunk};
    }
    for (const auto& input : m.controlInputs) {
        m.controls[input.second] = m.wanted[input.second].load(std::memory_order_relaxed);
    }
    lilv_instance_run(m.instance, frames);
    ResetEvents();
    CDeferZeroFillMediaSample* out = nullptr;
    HRESULT hr = allocator_->GetBuffer(out);
    if (hr != S_OK) return hr;
    out->needsFill = false;  // every frame is written below
    out->SetActualDataLength(frames * outputChannels_ * 4);
    out->startTime = sample.startTime;
    out->discontinuity = sample.discontinuity;
    float* data = out->GetPointer();
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < outputChannels_; ++c) data[i * outputChannels_ + c] = m.outputs[c][i];
    }
    hr = downstream_->Receive(*out);
    out->Release();
    return hr;
}

// --- state: the control inputs' values by port symbol ------------------------------

namespace {

constexpr char kStateMagic[4] = {'Q', 'V', 'L', '2'};

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool getU32(std::span<const std::uint8_t>& in, std::uint32_t& v) {
    if (in.size() < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{in[static_cast<std::size_t>(i)]} << (8 * i);
    in = in.subspan(4);
    return true;
}

}  // namespace

std::vector<std::uint8_t> CDxLv2Filter::SaveState() const {
    // "QVL2", the count, then per control input: symbol length, symbol, value (float bits), little-endian.
    std::vector<std::uint8_t> out(std::begin(kStateMagic), std::end(kStateMagic));
    putU32(out, static_cast<std::uint32_t>(impl_->controlInputs.size()));
    for (const auto& [symbol, port] : impl_->controlInputs) {
        putU32(out, static_cast<std::uint32_t>(symbol.size()));
        out.insert(out.end(), symbol.begin(), symbol.end());
        std::uint32_t bits = 0;
        const float value = impl_->wanted[port].load(std::memory_order_relaxed);
        std::memcpy(&bits, &value, sizeof bits);
        putU32(out, bits);
    }
    return out;
}

bool CDxLv2Filter::LoadState(std::span<const std::uint8_t> stream) {
    // Read whole before anything is applied, so that a damaged stream changes nothing.
    if (stream.size() < 4 || !std::equal(std::begin(kStateMagic), std::end(kStateMagic), stream.begin())) return false;
    stream = stream.subspan(4);
    std::uint32_t count = 0;
    if (!getU32(stream, count)) return false;
    std::vector<std::pair<std::string, float>> values;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        std::uint32_t bits = 0;
        if (!getU32(stream, length) || length > stream.size()) return false;
        std::string symbol(stream.begin(), stream.begin() + length);
        stream = stream.subspan(length);
        if (!getU32(stream, bits)) return false;
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) return false;
        values.emplace_back(std::move(symbol), value);
    }
    if (!stream.empty()) return false;
    for (const auto& [symbol, value] : values) SetControl(symbol, value);
    return true;
}

bool CDxLv2Filter::SetControl(std::string_view symbol, float value) {
    for (const auto& [name, port] : impl_->controlInputs) {
        if (name == symbol) {
            impl_->wanted[port].store(value, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

std::vector<Lv2ControlInput> CDxLv2Filter::ControlInputs() const { return impl_->controlInfo; }

std::optional<float> CDxLv2Filter::Control(std::string_view symbol) const {
    for (const auto& [name, port] : impl_->controlInputs) {
        if (name == symbol) return impl_->wanted[port].load(std::memory_order_relaxed);
    }
    return std::nullopt;
}

}  // namespace qvp3
