// Our form over the score engine's interpretation settings of an entry: the
// three play switches (dynamics, rhythms and articulation, trills) and the
// three switch tables the engine plays them by, kept in the entry's
// TuneSectionSet as the engine's INI lines.
#pragma once

#include <QWidget>

#include <vector>

#include "qvp3_project/project.h"

class QCheckBox;
class QSpinBox;

namespace qvp3 {

// Control ids of the form.
inline constexpr int kDynContainer = 10000;
inline constexpr int kDynTabs = 1136;
inline constexpr int kDynUseDynamics = 1201;
inline constexpr int kDynUseRhythms = 1202;
inline constexpr int kDynUseTrills = 1203;
// Spin boxes: dynamics 1210 + level (fff..ppp), articulation 1220 + 2 * mark
// (length) and + 1 (velocity), trill speed 1240.
inline constexpr int kDynFirstLevel = 1210;
inline constexpr int kDynFirstMark = 1220;
inline constexpr int kDynTrillSpeed = 1240;
// The smallest size the form is shown at; a smaller container scrolls.
inline constexpr int kDynFormWidth = 645;
inline constexpr int kDynFormHeight = 577;

class DynSettingsForm : public QWidget {
public:
    explicit DynSettingsForm(QWidget* parent);
    // Shows the entry's settings; null empties nothing and disables the form.
    void load(ProjectEntry* entry);
    ProjectEntry* entry() const { return entry_; }

private:
    void build();
    QWidget* dynamicsTab();
    QWidget* articulationTab();
    QWidget* trillsTab();
    QSpinBox* spin(int id, int low, int high);
    void switchChanged(int id, bool on);
    void valueChanged();
    void store(int group);
    void edited();

    ProjectEntry* entry_ = nullptr;
    bool loading_ = false;
    std::vector<QSpinBox*> levels_;
    std::vector<QSpinBox*> marks_;
    QSpinBox* speed_ = nullptr;
};

// The value of a key in an engine INI section (without regard to case).
const std::string* stpDynLineValue(const IniSectionLines& lines, std::string_view key);

}  // namespace qvp3

namespace qvp3 {

// Shows the form for a score (true) and hides it for a MIDI file (false);
// false without an entry.
bool stpDynShowControls(StepPage& page);

}  // namespace qvp3
