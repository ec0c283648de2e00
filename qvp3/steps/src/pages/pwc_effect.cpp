// The sound configuration page's effect: the plug-in that the sample player
// runs on the file's sound, one of its programs, its parameters in a panel,
// and adding and removing effect plug-ins.
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QTreeWidget>

#include <cstring>

#include "page_preview_link.h"
#include "pwc_controls.h"
#include "pwc_page.h"
#include "qvp3_audio/vst_effect.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3::pwc {

namespace {

constexpr int kImageProgram = 13;
constexpr int kSliderSteps = 1000;
// The remove question's "do not ask again" value.
constexpr const char* kRemoveEffectCheckKey = "{23BD7BAE-B04D-47b7-84A5-99562F74085D}";

int entryEffect(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    return a.catalog != nullptr && !entry.Reverb.empty() ? a.catalog->FindEffect(entry.Reverb) : -1;
}

// The stored parameters are the values' float bits, little-endian, one after another.
EffectParams paramsOf(const std::vector<std::uint8_t>& bytes) {
    EffectParams params;
    params.values.resize(bytes.size() / sizeof(float));
    for (std::size_t i = 0; i < params.values.size(); ++i) {
        std::uint32_t bits = 0;
        for (std::size_t b = 0; b < sizeof(float); ++b) bits |= std::uint32_t{bytes[i * 4 + b]} << (8 * b);
        std::memcpy(&params.values[i], &bits, sizeof(float));
    }
    return params;
}

std::vector<std::uint8_t> bytesOf(const EffectParams& params) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(params.bytes());
    for (const float value : params.values) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof(float));
        for (std::size_t b = 0; b < sizeof(float); ++b) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
    }
    return bytes;
}

void fillPrograms(StepPage& page, int effect, int selected) {
    auto* list = stpControl<QTreeWidget>(page, kEffectPrograms);
    const PwcAudio a = pwcAudio();
    if (list == nullptr || a.catalog == nullptr) return;
    const QSignalBlocker block(list);
    list->clear();
    const CatalogList programs = a.catalog->FillEffectProgramList(effect, selected);
    for (const CatalogListItem& item : programs.items) {
        auto* row = new QTreeWidgetItem(list, {QString::fromStdString(item.text)});
        row->setIcon(0, pwcImage(kImageProgram));
    }
    if (selected >= 0 && selected < list->topLevelItemCount()) list->setCurrentItem(list->topLevelItem(selected));
    list->setEnabled(programs.enabled);
}

// One slider per parameter of the effect; a move sets the parameter and
// keeps the parameters in the entry.
void fillPanel(StepPage& page, int effectIndex) {
    auto* panel = stpControl<QScrollArea>(page, kEffectPanel);
    const PwcAudio a = pwcAudio();
    if (panel == nullptr || a.catalog == nullptr) return;
    panel->setProperty("SelectedReverb", effectIndex);
    CEffect* effect = a.catalog->EffectOf(effectIndex);
    const int count = effect != nullptr ? effect->NumParams() : 0;
    if (count <= 0) {
        panel->hide();
        delete panel->takeWidget();
        return;
    }
    auto* body = new QWidget;
    auto* form = new QFormLayout(body);
    StepPage* p = &page;
    for (int i = 0; i < count; ++i) {
        auto* slider = new QSlider(Qt::Horizontal, body);
        slider->setRange(0, kSliderSteps);
        slider->setValue(static_cast<int>(effect->GetParameter(i) * kSliderSteps + 0.5f));
        slider->setObjectName(QStringLiteral("param%1").arg(i));
        QObject::connect(slider, &QSlider::valueChanged, slider, [p, effectIndex, i](int value) {
            const PwcAudio now = pwcAudio();
            ProjectEntry* entry = pwcEntry();
            CEffect* target = now.catalog != nullptr ? now.catalog->EffectOf(effectIndex) : nullptr;
            if (target == nullptr || entry == nullptr) return;
            target->SetParameter(i, static_cast<float>(value) / kSliderSteps);
            cnvEntryCaptureReverbParams(*p, *entry);
            stpPageEdited();
        });
        form->addRow(QString::fromStdString(effect->EffGetParamName(i)), slider);
    }
    panel->setWidget(body);
    panel->show();
}

}  // namespace

void cnvShowEntryEffectPanel(StepPage& page, ProjectEntry& entry, bool refill) {
    const PwcAudio a = pwcAudio();
    if (a.catalog == nullptr) return;
    if (refill) {
        if (auto* box = stpControl<QComboBox>(page, kEffectBox)) {
            std::string name = entry.Reverb;
            pwcFillBox(*box, a.catalog->FillEffectCombo(entry.samplerIndex, name, true,
                                                        stpText(kStrNone).toStdString()));
        }
    }
    const int effect = entryEffect(entry);
    fillPrograms(page, effect, entry.ReverbType);
    fillPanel(page, effect);
}

void cnvEntryCaptureReverbParams(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* data = stpData<PwcData>(page);
    const int effect = entryEffect(entry);
    if (a.catalog == nullptr || data == nullptr) return;
    data->effectSnapshot = effect >= 0 ? a.catalog->CaptureEffectParams(effect) : EffectParams{};
    entry.reverbData = bytesOf(data->effectSnapshot);
}

void pwcRestoreEffect(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* data = stpData<PwcData>(page);
    const int effect = entryEffect(entry);
    if (a.catalog == nullptr || data == nullptr || effect < 0) return;
    if (entry.ReverbType >= 0) a.catalog->SetEffectProgram(effect, data->effectSnapshot, entry.ReverbType, true);
    const EffectParams stored = paramsOf(entry.reverbData);
    if (!stored.values.empty()) {
        a.catalog->RestoreEffectParams(effect, stored);
        data->effectSnapshot = stored;
    }
    fillPanel(page, effect);
}

void pwcOnEffectChoice(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* box = stpControl<QComboBox>(page, kEffectBox);
    if (a.catalog == nullptr || box == nullptr || box->currentIndex() < 0) return;
    const int chosen = box->itemData(box->currentIndex()).toInt();
    if (chosen == entryEffect(entry)) return;
    entry.Reverb = chosen >= 0 ? a.catalog->GetEffectName(chosen) : std::string();
    entry.ReverbType = 0;
    cnvShowEntryEffectPanel(page, entry, false);
    cnvEntryCaptureReverbParams(page, entry);
    if (a.player != nullptr) a.player->SetEffect(chosen);
    stpPwcEnableToolbars(page);
    stpPageEdited();
}

StepPage::Result pwcOnEffectProgram(StepPage& page, ProjectEntry& entry, int row) {
    const PwcAudio a = pwcAudio();
    auto* data = stpData<PwcData>(page);
    if (a.catalog == nullptr || data == nullptr) return 0;
    if (row >= 0) {
        const bool changed = row != entry.ReverbType;
        entry.ReverbType = row;
        a.catalog->SetEffectProgram(entryEffect(entry), data->effectSnapshot, row, changed);
        // The program's parameters are what the file keeps from now on.
        if (changed) cnvEntryCaptureReverbParams(page, entry);
        fillPanel(page, entryEffect(entry));
    } else {
        entry.ReverbType = -1;
    }
    stpPageEdited();
    return 0;
}

void pwcAddEffect(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    StepPageHost* host = stpPageHost();
    if (a.catalog == nullptr || host == nullptr) return;
    const std::optional<std::filesystem::path> file = host->chooseEffectFile();
    if (!file) return;
    CPlugInCatalog& catalog = *a.catalog;
    if (catalog.AddEffect(*file, file->stem().string()) != 0) {
        qvp3ui::appWarningBox(kStrEffectNotChained);
        return;
    }
    const std::size_t added = catalog.effects.size() - 1;
    if (!catalog.CreateEffect(added)) {
        catalog.RemoveEffect(added);
        qvp3ui::appWarningBox(kStrEffectNotLoaded);
        return;
    }
    catalog.WriteEffectValue(added, file->string());
    entry.Reverb = catalog.effects.empty() ? std::string() : catalog.effects.back().name;
    entry.ReverbType = 0;
    cnvShowEntryEffectPanel(page, entry, true);
    cnvEntryCaptureReverbParams(page, entry);
    if (a.player != nullptr) a.player->SetEffect(entryEffect(entry));
    stpPwcEnableToolbars(page);
    stpPageEdited();
}

void pwcRemoveEffect(StepPage& page, ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    auto* box = stpControl<QComboBox>(page, kEffectBox);
    if (a.catalog == nullptr || box == nullptr) return;
    const int row = box->currentIndex();
    const int effect = row >= 0 ? box->itemData(row).toInt() : -1;
    // Nothing chosen, "none", or the reverb that comes with the program.
    if (effect <= 0) {
        qvp3ui::appInfoBox(kStrNoEffectChosen);
        return;
    }
    const std::string question = stpText(kStrRemoveEffectQuestion).toStdString();
    if (qvp3ui::appMessageBoxCheck(question, kMbYesNo, kIdYes, kRemoveEffectCheckKey) != kIdYes) return;
    if (a.player != nullptr) a.player->SetEffect(-1);
    a.catalog->RemoveEffect(static_cast<std::size_t>(effect));
    entry.Reverb = a.catalog->effects.empty() ? std::string() : a.catalog->effects.back().name;
    cnvShowEntryEffectPanel(page, entry, true);
    if (a.player != nullptr) a.player->SetEffect(entryEffect(entry));
    stpPwcEnableToolbars(page);
}

}  // namespace qvp3::pwc
