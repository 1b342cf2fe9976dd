// The frame-timing map as the companion frame-rate plug-in publishes it: named shared memory
// "vfrout_<process id>", one code byte per frame, for as long as the export runs.
#pragma once

#include <string>

struct PublishedTimingMap {
    void* mapping = nullptr;  // HANDLE
    void* view = nullptr;
};

// `readOnly` publishes the codes in a mapping that only allows reading, as some companions do.
bool PublishTimingMap(const std::string& codes, bool readOnly, PublishedTimingMap& map, std::string& error);
void WithdrawTimingMap(PublishedTimingMap& map);

std::string TimingMapName();

// For the platforms' read-only maps: the writable map of the codes, and a failure's reason with
// the last error.
bool PublishWritableTimingMap(const std::string& codes, const std::string& name, PublishedTimingMap& map,
                              std::string& error);
std::string TimingMapFailure(const char* what, const std::string& name);
