// The user's home folder, shared by the documents folder and the settings
// store's default root.
#pragma once

#include <filesystem>

namespace platform::detail {

// $HOME, else the home folder of the user's password entry; empty when
// neither names one.
std::filesystem::path homeFolder();

}  // namespace platform::detail
