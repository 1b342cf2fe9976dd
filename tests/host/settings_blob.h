// The settings an export runs with, chosen through the configuration blob as the editor would
// restore it from a project: `brevlo-host config-blob load FILE` before `brevlo-host export`.
#pragma once

#include <string>

#include "settings/encoder_settings.h"
#include "tests/host/host_run.h"

// The settings a fresh installation starts with (nothing stored yet), as the module's own
// defaults give them.
EncoderSettings DefaultSettings();

// The 104 bytes of the record, as the blob file holds them.
void WriteSettingsBlob(const std::string& path, const EncoderSettings& settings);

// Writes the blob to a temporary file and hands it to the module through the host; exports that
// follow use these settings. The run is returned for its exit status and messages.
HostRun StoreSettingsThroughHost(const EncoderSettings& settings);
