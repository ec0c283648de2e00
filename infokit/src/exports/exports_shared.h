// What the export files share: the library's folder (where its helper
// programs are), the settings store and the settings writer.
#pragma once

#include <filesystem>
#include <memory>

#include "infokit_state.h"
#include "platform/settings_store.h"
#include "reg_writer.h"

namespace infokit::exports {

std::filesystem::path libraryFolder();
platform::SettingsStore& settingsStore();
std::unique_ptr<RegistryWriterProcess> makeRegistryWriter();

}  // namespace infokit::exports
