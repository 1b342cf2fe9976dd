#include "host/timing_map.h"

#include <cstring>

#include "host/host_platform.h"
#include "platform/win32.h"

std::string TimingMapName() { return "vfrout_" + std::to_string(static_cast<long>(static_cast<int32_t>(GetCurrentProcessId()))); }

std::string TimingMapFailure(const char* what, const std::string& name) {
    return std::string(what) + " " + name + " (error " + std::to_string(GetLastError()) + ")";
}

bool PublishWritableTimingMap(const std::string& codes, const std::string& name, PublishedTimingMap& map,
                              std::string& error) {
    map = PublishedTimingMap{};
    const DWORD size = codes.empty() ? 1 : static_cast<DWORD>(codes.size());
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    if (!mapping) {
        error = TimingMapFailure("cannot publish the timing map", name);
        return false;
    }
    // Someone else's object of that name may be smaller than the codes: never write into it.
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mapping);
        error = "cannot publish the timing map " + name + ": another process holds that name";
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    if (!view) {
        error = TimingMapFailure("cannot write the timing map", name);
        CloseHandle(mapping);
        return false;
    }
    std::memcpy(view, codes.data(), codes.size());
    map.mapping = mapping;
    map.view = view;
    return true;
}

bool PublishTimingMap(const std::string& codes, bool readOnly, PublishedTimingMap& map, std::string& error) {
    const std::string name = TimingMapName();
    return readOnly ? PublishReadOnlyTimingMap(codes, name, map, error)
                    : PublishWritableTimingMap(codes, name, map, error);
}

void WithdrawTimingMap(PublishedTimingMap& map) {
    if (map.view) UnmapViewOfFile(map.view);
    if (map.mapping) CloseHandle(map.mapping);
    map = PublishedTimingMap{};
}
