// The plug-in catalogue's lists for the pages, and its effects' parameters and programs.
#include <algorithm>

#include "platform/text.h"
#include "qvp3_audio/plugin_catalog.h"

namespace qvp3 {
namespace {

// The pages' small image list.
constexpr int kImageDirectX = 1;
constexpr int kImageSampleLibrary = 7;
constexpr int kImageVst = 9;
constexpr int kImageProgram = 13;

int imageOf(const PlugInEntry& e) {
    if (e.name == kSampleLibraryShortName || e.name == kSampleLibraryName) return kImageSampleLibrary;
    return e.kind == kPlugInKindVst ? kImageVst : kImageDirectX;
}

int selectedWhere(const CatalogList& list, const std::string& text) {
    for (std::size_t i = 0; i < list.items.size(); ++i) {
        if (list.items[i].text == text) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

CatalogList CPlugInCatalog::FillInstrumentList(bool enabledOnes, int* vstCount) const {
    CatalogList list;
    int vst = 0;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const PlugInEntry& e = instruments[i];
        if (e.userAdded || (e.enabled != 0) != enabledOnes) continue;
        list.items.push_back({e.name, imageOf(e), static_cast<int>(i)});
        if (e.name.find(kVstMark) != std::string::npos) ++vst;
    }
    if (vstCount) *vstCount = vst;
    list.selected = list.items.empty() ? -1 : 0;
    return list;
}

CatalogList CPlugInCatalog::FillInstrumentCombo(std::string& name) const {
    CatalogList list = FillInstrumentList(true);
    list.selected = selectedWhere(list, name);
    if (list.items.empty()) {
        list.enabled = false;
        name.clear();
    }
    return list;
}

CatalogList CPlugInCatalog::FillEffectCombo(int index, std::string& name, bool all,
                                            const std::string& noneText) const {
    CatalogList list;
    list.items.push_back({noneText, -1, -1});
    if (all) {
        for (std::size_t i = 0; i < effects.size(); ++i) {
            const PlugInEntry& e = effects[i];
            list.items.push_back({e.name, e.kind == kPlugInKindVst ? kImageVst : kImageDirectX, static_cast<int>(i)});
        }
    }
    list.selected = 0;
    for (std::size_t i = 1; i < list.items.size(); ++i) {
        if (list.items[i].text == name) list.selected = static_cast<int>(i);
    }
    list.enabled = index >= 0;
    if (list.items.size() == 1) {
        list.enabled = false;
        name.clear();
    }
    return list;
}

CatalogList CPlugInCatalog::FillEffectProgramList(int index, int selected) {
    CatalogList list;
    CEffect* effect = EffectOf(index);
    const int programs = effect != nullptr ? effect->aeffect()->numPrograms : 0;
    if (programs <= 0) {
        list.enabled = false;
        return list;
    }
    // Each program is visited to read its name; the one that sounded sounds again afterwards.
    const int current = effect->EffGetProgram();
    for (int p = 0; p < programs; ++p) {
        effect->EffSetProgram(p);
        list.items.push_back({effect->EffGetProgramName(), kImageProgram, p});
    }
    effect->EffSetProgram(current);
    list.selected = selected >= 0 && selected < programs ? selected : 0;
    return list;
}

bool CPlugInCatalog::MatchProjectInstrument(const std::string& stored, std::string& nameOut, int& indexOut) const {
    if (stored.empty()) return false;
    std::string dashed = stored;
    std::replace(dashed.begin(), dashed.end(), ' ', '-');
    for (const std::string& wanted : {stored, dashed}) {
        for (std::size_t i = 0; i < instruments.size(); ++i) {
            const PlugInEntry& e = instruments[i];
            if (!e.enabled || e.userAdded) continue;
            std::string_view bare = e.name;
            if (bare.rfind(kVstMark, 0) == 0) bare.remove_prefix(kVstMark.size());
            if (bare.find(wanted) == std::string_view::npos) continue;
            nameOut = e.name;
            indexOut = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

EffectParams CPlugInCatalog::CaptureEffectParams(int index) {
    EffectParams params;
    CEffect* effect = EffectOf(index);
    if (effect == nullptr) return params;
    const int count = std::max(effect->aeffect()->numParams, 0);
    params.values.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) params.values.push_back(effect->GetParameter(i));
    return params;
}

void CPlugInCatalog::RestoreEffectParams(int index, const EffectParams& params) {
    CEffect* effect = EffectOf(index);
    if (effect == nullptr || params.values.size() != static_cast<std::size_t>(effect->aeffect()->numParams)) return;
    for (std::size_t i = 0; i < params.values.size(); ++i) {
        effect->SetParameter(static_cast<std::int32_t>(i), params.values[i]);
    }
}

bool CPlugInCatalog::SetEffectProgram(int index, EffectParams& snapshot, int program, bool choose) {
    CEffect* effect = EffectOf(index);
    if (effect == nullptr || effect->EffGetProgram() == program) return false;
    if (choose) {
        effect->EffSetProgram(program);
        snapshot = CaptureEffectParams(index);
    } else {
        RestoreEffectParams(index, snapshot);
    }
    effect->EffEditIdle();
    return true;
}

}  // namespace qvp3
