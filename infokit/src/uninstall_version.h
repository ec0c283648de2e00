// The version values of the host's entry in the machine's list of installed
// programs, written through the registry writer.
#pragma once

#include "infokit_state.h"
#include "platform/settings_store.h"
#include "reg_writer.h"

namespace infokit {

// The flag that asks for the 32-bit view of the machine's settings.
inline constexpr int kWow64View32 = 0x0200;

// Finds the entry whose "DisplayName" contains the row's display name and
// whose "VersionMajor" and "VersionMinor" are the row's (then with the major
// alone), in the preferred view first; writes "DisplayVersion", "Version",
// "VersionMajor" and "VersionMinor" for `build`. True when all four were written.
bool setProgramUninstallVersion(const platform::SettingsStore& store, RegistryWriter& writer, const ProductRow& row,
                                int build, int preferredView);

}  // namespace infokit
