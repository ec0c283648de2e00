// The profile bar's Qt windows as the profile store sees them: the list of
// profiles (combo box 1022, each item a profile's description with its file
// in the item's data) and the bar itself. The window keeps these adapters;
// Qt owns the widgets, so "destroy" only lets go of them.
#pragma once

#include <QPointer>
#include <QWidget>

#include "qvp3_project/profile_bar.h"

class QComboBox;

namespace qvp3 {

class QtBarWindow : public BarWindow {
public:
    explicit QtBarWindow(QWidget* widget) : widget_(widget) {}
    bool isWindow() const override { return !widget_.isNull(); }
    void destroy() override { widget_.clear(); }

private:
    QPointer<QWidget> widget_;
};

class QtProfileList : public ProfileListWindow {
public:
    explicit QtProfileList(QComboBox* combo);
    bool isWindow() const override { return !combo_.isNull(); }
    void destroy() override { combo_.clear(); }
    int count() const override;
    void addItem(std::string text, std::filesystem::path profilePath) override;
    std::filesystem::path itemPath(int index) const override;
    void clear() override;
    void setEditText(std::string_view text) override;
    void select(int index) override;

private:
    QPointer<QComboBox> combo_;
};

}  // namespace qvp3
