// The windows of the main window's profile bar, as the profile store sees
// them. The shell creates them (with Qt) and hands them over as handles; the
// profile store only fills the list and destroys them.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qvp3 {

class BarWindow {
public:
    virtual ~BarWindow() = default;
    // False once the window has gone (for instance with its parent).
    virtual bool isWindow() const = 0;
    virtual void destroy() = 0;
};

// The profile list: a combo box with an edit field; each item shows a
// profile's description and carries the full path of its file.
class ProfileListWindow : public BarWindow {
public:
    virtual int count() const = 0;
    virtual void addItem(std::string text, std::filesystem::path profilePath) = 0;
    virtual std::filesystem::path itemPath(int index) const = 0;
    virtual void clear() = 0;
    virtual void setEditText(std::string_view text) = 0;
    // Selects an item (-1: none).
    virtual void select(int index) = 0;
};

}  // namespace qvp3
