// The LV2 world of the process's instruments, and our map of URIs.
#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "qvp3_audio/lv2_instrument.h"

namespace qvp3 {
namespace {

LV2_URID mapUri(LV2_URID_Map_Handle handle, const char* uri) {
    return uri == nullptr ? 0 : static_cast<CLv2UridMap*>(handle)->Map(uri);
}

const char* unmapUrid(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    return static_cast<CLv2UridMap*>(handle)->Unmap(urid);
}

// Lilv's nodes are freed on every way out.
struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n) : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
};

}  // namespace

CLv2UridMap::CLv2UridMap() {
    auto map = std::make_shared<LV2_URID_Map>();
    map->handle = this;
    map->map = mapUri;
    auto unmap = std::make_shared<LV2_URID_Unmap>();
    unmap->handle = this;
    unmap->unmap = unmapUrid;
    mapData_ = map;
    unmapData_ = unmap;
}

std::uint32_t CLv2UridMap::Map(std::string_view uri) {
    std::lock_guard guard(lock_);
    const std::string key(uri);
    if (const auto it = ids_.find(key); it != ids_.end()) return it->second;
    uris_.push_back(std::make_unique<std::string>(key));
    const auto id = static_cast<std::uint32_t>(uris_.size());
    ids_.emplace(key, id);
    return id;
}

const char* CLv2UridMap::Unmap(std::uint32_t urid) const {
    std::lock_guard guard(lock_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1]->c_str() : nullptr;
}

CLv2World::CLv2World(const std::vector<std::filesystem::path>& extraBundles, bool systemBundles)
    : world_(lilv_world_new()) {
    if (world_ == nullptr) return;
    if (systemBundles) lilv_world_load_all(world_);
    for (const std::filesystem::path& bundle : extraBundles) {
        // A bundle's URI ends in a slash.
        std::string folder = bundle.string();
        if (folder.empty()) continue;
        if (folder.back() != '/') folder += '/';
        Node uri(lilv_new_file_uri(world_, nullptr, folder.c_str()));
        if (uri.node != nullptr) lilv_world_load_bundle(world_, uri.node);
    }
}

CLv2World::~CLv2World() {
    if (world_ != nullptr) lilv_world_free(world_);
}

std::vector<Lv2PluginInfo> CLv2World::Instruments() const {
    std::vector<Lv2PluginInfo> found;
    if (world_ == nullptr) return found;
    Node instrument(lilv_new_uri(world_, LV2_CORE__InstrumentPlugin));
    Node type(lilv_new_uri(world_, "http://www.w3.org/1999/02/22-rdf-syntax-ns#type"));
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world_);
    LILV_FOREACH (plugins, i, plugins) {
        const LilvPlugin* p = lilv_plugins_get(plugins, i);
        const LilvNode* cls = lilv_plugin_class_get_uri(lilv_plugin_get_class(p));
        if (!lilv_node_equals(cls, instrument.node) &&
            !lilv_world_ask(world_, lilv_plugin_get_uri(p), type.node, instrument.node)) {
            continue;
        }
        Lv2PluginInfo info;
        info.uri = lilv_node_as_uri(lilv_plugin_get_uri(p));
        Node name(lilv_plugin_get_name(p));
        info.name = name.node != nullptr ? lilv_node_as_string(name.node) : info.uri;
        char* bundle = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(p)), nullptr);
        if (bundle != nullptr) info.bundle = bundle;
        lilv_free(bundle);
        found.push_back(std::move(info));
    }
    return found;
}

const LilvPluginImpl* CLv2World::FindPlugin(std::string_view uri) const {
    if (world_ == nullptr) return nullptr;
    Node node(lilv_new_uri(world_, std::string(uri).c_str()));
    if (node.node == nullptr) return nullptr;
    return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node.node);
}

}  // namespace qvp3
