#include "tests/host/settings_blob.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

EncoderSettings DefaultSettings() {
    // The defaults apply where nothing is stored: read them from an empty settings store, then
    // put this process's store back.
    const char* current = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = current ? current : "";
    const std::string empty = TempPath("empty-settings");
    mkdir(empty.c_str(), 0700);
    setenv("XDG_CONFIG_HOME", empty.c_str(), 1);
    EncoderSettings settings;
    std::memset(&settings, 0, sizeof settings);
    LoadSettings(&settings);
    if (current) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    return settings;
}

void WriteSettingsBlob(const std::string& path, const EncoderSettings& settings) {
    std::string bytes(sizeof settings, '\0');
    std::memcpy(&bytes[0], &settings, sizeof settings);
    WriteFileBytes(path, bytes);
}

HostRun StoreSettingsThroughHost(const EncoderSettings& settings) {
    const std::string path = TempPath("settings.blob");
    WriteSettingsBlob(path, settings);
    return RunHost({"config-blob", "load", path});
}
