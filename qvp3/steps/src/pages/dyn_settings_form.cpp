#include "dyn_settings_form.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_steps/page_routines.h"

namespace qvp3 {

namespace {

constexpr std::uint32_t kOptionSwing = 0x08;
constexpr std::uint32_t kOptionTrills = 0x20;
constexpr std::uint32_t kOptionDynamics = 0x40;
constexpr int kGroupArtic = 2;
constexpr int kGroupDynamic = 4;
constexpr int kGroupTrills = 5;

// Language strings of the form.
constexpr int kStrTabDynamics = 10001;
constexpr int kStrTabArticulation = 10002;
constexpr int kStrTabTrills = 10003;
constexpr int kStrUseDynamics = 10004;
constexpr int kStrUseRhythms = 10005;
constexpr int kStrUseTrills = 10006;
constexpr int kStrLength = 10007;
constexpr int kStrVelocity = 10008;
constexpr int kStrTrillSpeed = 10009;
constexpr int kStrDynamicsNote = 10010;
constexpr int kStrArticulationNote = 10011;
constexpr int kStrTrillsNote = 10012;
constexpr int kStrFirstMark = 10020;  // + mark: Staccato .. WeakBeat

constexpr std::array<const char*, 8> kLevels = {"fff", "ff", "f", "mf", "mp", "p", "pp", "ppp"};
constexpr std::array<int, 8> kLevelDefaults = {127, 110, 90, 74, 62, 44, 22, 10};
constexpr std::array<const char*, 7> kMarks = {"Staccato",     "Staccatissimo", "Tenuto",  "StrongAccent",
                                               "NormalAccent", "StrongBeat",    "WeakBeat"};
constexpr int kTrillDefault = 8;

int toInt(const std::string& s, int fallback) {
    try {
        return std::stoi(s);
    } catch (...) {
        return fallback;
    }
}

void setLine(IniSectionLines& lines, std::string_view key, std::string value) {
    for (auto& [k, v] : lines) {
        if (platform::equalsNoCase(k, key)) {
            v = std::move(value);
            return;
        }
    }
    lines.emplace_back(std::string(key), std::move(value));
}

QLabel* note(int id) {
    auto* label = new QLabel(stpText(id));
    label->setWordWrap(true);
    return label;
}

}  // namespace

const std::string* stpDynLineValue(const IniSectionLines& lines, std::string_view key) {
    for (const auto& [k, v] : lines) {
        if (platform::equalsNoCase(k, key)) return &v;
    }
    return nullptr;
}

DynSettingsForm::DynSettingsForm(QWidget* parent) : QWidget(parent) {
    setMinimumSize(kDynFormWidth, kDynFormHeight);
    build();
}

QSpinBox* DynSettingsForm::spin(int id, int low, int high) {
    auto* box = new QSpinBox;
    qvp3ui::setControlId(*box, id);
    box->setRange(low, high);
    box->setMinimumWidth(80);
    connect(box, &QSpinBox::valueChanged, this, [this] { valueChanged(); });
    return box;
}

QWidget* DynSettingsForm::dynamicsTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* use = new QCheckBox(stpText(kStrUseDynamics));
    qvp3ui::setControlId(*use, kDynUseDynamics);
    connect(use, &QCheckBox::toggled, this, [this](bool on) { switchChanged(kDynUseDynamics, on); });
    layout->addWidget(use);
    layout->addWidget(note(kStrDynamicsNote));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    for (std::size_t i = 0; i < kLevels.size(); ++i) {
        levels_.push_back(spin(kDynFirstLevel + static_cast<int>(i), 1, 127));
        form->addRow(QString::fromLatin1(kLevels[i]), levels_.back());
    }
    layout->addLayout(form);
    layout->addStretch();
    return tab;
}

QWidget* DynSettingsForm::articulationTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* use = new QCheckBox(stpText(kStrUseRhythms));
    qvp3ui::setControlId(*use, kDynUseRhythms);
    connect(use, &QCheckBox::toggled, this, [this](bool on) { switchChanged(kDynUseRhythms, on); });
    layout->addWidget(use);
    layout->addWidget(note(kStrArticulationNote));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(stpText(kStrLength)), 0, 1);
    grid->addWidget(new QLabel(stpText(kStrVelocity)), 0, 2);
    for (std::size_t m = 0; m < kMarks.size(); ++m) {
        const int row = static_cast<int>(m) + 1;
        const int id = kDynFirstMark + 2 * static_cast<int>(m);
        grid->addWidget(new QLabel(stpText(kStrFirstMark + static_cast<int>(m))), row, 0);
        marks_.push_back(spin(id, -100, 100));
        grid->addWidget(marks_.back(), row, 1);
        // The first three raise the velocity by a percentage, the others set it.
        marks_.push_back(m < 3 ? spin(id + 1, -100, 127) : spin(id + 1, 0, 127));
        grid->addWidget(marks_.back(), row, 2);
    }
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);
    layout->addStretch();
    return tab;
}

QWidget* DynSettingsForm::trillsTab() {
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* use = new QCheckBox(stpText(kStrUseTrills));
    qvp3ui::setControlId(*use, kDynUseTrills);
    connect(use, &QCheckBox::toggled, this, [this](bool on) { switchChanged(kDynUseTrills, on); });
    layout->addWidget(use);
    layout->addWidget(note(kStrTrillsNote));
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    speed_ = spin(kDynTrillSpeed, 1, 64);
    form->addRow(stpText(kStrTrillSpeed), speed_);
    layout->addLayout(form);
    layout->addStretch();
    return tab;
}

void DynSettingsForm::build() {
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    qvp3ui::setControlId(*tabs, kDynTabs);
    tabs->addTab(dynamicsTab(), stpText(kStrTabDynamics));
    tabs->addTab(articulationTab(), stpText(kStrTabArticulation));
    tabs->addTab(trillsTab(), stpText(kStrTabTrills));
    layout->addWidget(tabs);
}

void DynSettingsForm::load(ProjectEntry* entry) {
    entry_ = entry;
    loading_ = true;
    setEnabled(entry != nullptr);
    if (entry != nullptr) {
        const TuneSectionSet& sets = entry->tuneSections;
        // The entry's own switches: the engine is told of every change.
        qvp3ui::findControl<QCheckBox>(*this, kDynUseDynamics)->setChecked(sets.UseDynamic != 0);
        qvp3ui::findControl<QCheckBox>(*this, kDynUseRhythms)->setChecked(sets.UseSwing != 0);
        qvp3ui::findControl<QCheckBox>(*this, kDynUseTrills)->setChecked(sets.UseTrills != 0);
        for (std::size_t i = 0; i < kLevels.size(); ++i) {
            const std::string* v = stpDynLineValue(sets.dynamic, kLevels[i]);
            levels_[i]->setValue(v != nullptr ? toInt(*v, kLevelDefaults[i]) : kLevelDefaults[i]);
        }
        for (std::size_t m = 0; m < kMarks.size(); ++m) {
            const std::string* v = stpDynLineValue(sets.artic, kMarks[m]);
            const std::string pair = v != nullptr ? *v : std::string("100,0");
            const auto comma = pair.find(',');
            marks_[2 * m]->setValue(toInt(pair.substr(0, comma), 100));
            marks_[2 * m + 1]->setValue(comma == std::string::npos ? 0 : toInt(pair.substr(comma + 1), 0));
        }
        const std::string* speed = stpDynLineValue(sets.trills, "Speed");
        speed_->setValue(speed != nullptr ? toInt(*speed, kTrillDefault) : kTrillDefault);
    }
    loading_ = false;
}

void DynSettingsForm::switchChanged(int id, bool on) {
    if (loading_ || entry_ == nullptr) return;
    const std::uint32_t option = id == kDynUseDynamics ? kOptionDynamics : id == kDynUseRhythms ? kOptionSwing : kOptionTrills;
    std::uint8_t TuneSectionSet::*use = id == kDynUseDynamics  ? &TuneSectionSet::UseDynamic
                                        : id == kDynUseRhythms ? &TuneSectionSet::UseSwing
                                                               : &TuneSectionSet::UseTrills;
    entry_->tuneSections.*use = on ? 1 : 0;
    entry_->project->pipeline().engineSetPlayOption(*entry_, option, on ? option : kPlayOptionOff);
    edited();
}

void DynSettingsForm::valueChanged() {
    if (loading_ || entry_ == nullptr) return;
    for (int group : {kGroupDynamic, kGroupArtic, kGroupTrills}) store(group);
    edited();
}

// The form's values of a group into the entry's lines, and to the engine.
void DynSettingsForm::store(int group) {
    TuneSectionSet& sets = entry_->tuneSections;
    IniSectionLines* lines = nullptr;
    std::string_view section;
    if (group == kGroupDynamic) {
        lines = &sets.dynamic;
        section = "ctDynamic";
        for (std::size_t i = 0; i < kLevels.size(); ++i) setLine(*lines, kLevels[i], std::to_string(levels_[i]->value()));
    } else if (group == kGroupArtic) {
        lines = &sets.artic;
        section = "ctArtic";
        for (std::size_t m = 0; m < kMarks.size(); ++m) {
            setLine(*lines, kMarks[m],
                    std::to_string(marks_[2 * m]->value()) + "," + std::to_string(marks_[2 * m + 1]->value()));
        }
    } else {
        lines = &sets.trills;
        section = "ctTrills";
        setLine(*lines, "Speed", std::to_string(speed_->value()));
    }
    platform::IniDocument document;
    document.writeSection(section, *lines);
    entry_->project->pipeline().engineLoadSwitches(*entry_, group, document, section);
}

void DynSettingsForm::edited() {
    if (StepPageHost* host = stpPageHost()) {
        prjMarkStepDirty(host->project());
        host->refreshCommands();
    }
}

}  // namespace qvp3
