#include "host/timing_map.h"

#include <cstring>

#include "platform/win32.h"

std::string TimingMapName() { return "vfrout_" + std::to_string(static_cast<long>(static_cast<int32_t>(GetCurrentProcessId()))); }

namespace {

std::string Failure(const char* what, const std::string& name) {
    return std::string(what) + " " + name + " (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

bool PublishTimingMap(const std::string& codes, bool readOnly, PublishedTimingMap& map, std::string& error) {
    map = PublishedTimingMap{};
    const DWORD size = codes.empty() ? 1 : static_cast<DWORD>(codes.size());
    const std::string name = TimingMapName();
#if defined(_WIN32)
    if (readOnly) {
        // A section's protection is fixed when it is created: a read-only map with content is a
        // read-only mapping of a file that holds the codes.
        char directory[MAX_PATH], path[MAX_PATH];
        if (!GetTempPathA(MAX_PATH, directory) || !GetTempFileNameA(directory, "vfr", 0, path)) {
            error = Failure("cannot make a file for the timing map", name);
            return false;
        }
        HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, codes.data(), size, &written, nullptr) || written != size) {
            error = Failure("cannot write the file of the timing map", name);
            if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
            return false;
        }
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, size, name.c_str());
        CloseHandle(file);  // the mapping keeps the file open
        if (!mapping) {
            error = Failure("cannot publish the timing map", name);
            return false;
        }
        map.mapping = mapping;
        return true;
    }
#endif
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str());
    if (!mapping) {
        error = Failure("cannot publish the timing map", name);
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
        error = Failure("cannot write the timing map", name);
        CloseHandle(mapping);
        return false;
    }
    std::memcpy(view, codes.data(), codes.size());
    map.mapping = mapping;
    map.view = view;
#if !defined(_WIN32)
    // The stand-in can turn a mapping read-only after the codes are in, as a file-backed
    // read-only mapping would hold them on Windows.
    if (readOnly && !standin::MakeFileMappingReadOnly(name.c_str())) {
        error = "cannot make the timing map " + name + " read-only";
        WithdrawTimingMap(map);
        return false;
    }
#endif
    return true;
}

void WithdrawTimingMap(PublishedTimingMap& map) {
    if (map.view) UnmapViewOfFile(map.view);
    if (map.mapping) CloseHandle(map.mapping);
    map = PublishedTimingMap{};
}
