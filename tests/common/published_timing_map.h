// A frame-timing map published for the test process, as the frame-rate detection plug-in would
// publish it: a pagefile-backed mapping "vfrout_<pid>" holding one code byte per frame.
#pragma once

#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

class PublishedTimingMap {
public:
    // `size` bytes (at least the codes); the rest stays zero.
    explicit PublishedTimingMap(const std::string& codes, size_t size = 0, long processId = getpid()) {
        name_ = "vfrout_" + std::to_string(processId);
        size_t bytes = size ? size : (codes.empty() ? 1 : codes.size());
        handle_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     static_cast<DWORD>(bytes), name_.c_str());
        if (handle_) view_ = static_cast<char*>(MapViewOfFile(handle_, FILE_MAP_WRITE, 0, 0, 0));
        if (view_) std::memcpy(view_, codes.data(), codes.size());
    }
    PublishedTimingMap(const PublishedTimingMap&) = delete;
    PublishedTimingMap& operator=(const PublishedTimingMap&) = delete;
    ~PublishedTimingMap() {
        if (view_) UnmapViewOfFile(view_);
        if (handle_) CloseHandle(handle_);
    }

    bool Ok() const { return view_ != nullptr; }
    const std::string& Name() const { return name_; }
    char* Codes() { return view_; }

private:
    std::string name_;
    HANDLE handle_ = nullptr;
    char* view_ = nullptr;
};
