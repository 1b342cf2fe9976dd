#include "mapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "../leaks.h"

namespace {

constexpr SIZE_T kPage = 4096;

// One mapping object as this process knows it; shared by all its handles and views.
struct Section {
    std::string name;
    int fd = -1;
    SIZE_T size = 0;
    bool createdHere = false;  // then this process removes the name with its last reference
    long references = 0;       // handles and views
};

// A handle carries the access it was opened with: a view may ask for no more.
struct Handle {
    std::shared_ptr<Section> section;
    DWORD access = 0;
};

struct View {
    std::shared_ptr<Section> section;
    SIZE_T length = 0;  // page-rounded
    bool writable = false;
};

std::mutex g_mutex;
std::map<uintptr_t, Handle> g_handles;
std::map<uintptr_t, View> g_views;  // by base address
uintptr_t g_nextHandle = 0x2000;
std::atomic<bool> g_failViews{false};

SIZE_T RoundToPages(SIZE_T n) { return (n + kPage - 1) / kPage * kPage; }

// The objects this process created, as paths a signal handler can unlink: fixed slots, no locks.
constexpr int kCreatedSlots = 16;
constexpr size_t kCreatedPath = 300;
char g_createdPaths[kCreatedSlots][kCreatedPath];
volatile sig_atomic_t g_createdInUse[kCreatedSlots];

void RememberCreated(const std::string& shmName) {
    std::string path = "/dev/shm" + shmName;
    if (path.size() >= kCreatedPath) return;
    for (int i = 0; i < kCreatedSlots; ++i) {
        if (g_createdInUse[i]) continue;
        std::memcpy(g_createdPaths[i], path.c_str(), path.size() + 1);
        g_createdInUse[i] = 1;
        return;
    }
}

void ForgetCreated(const std::string& shmName) {
    std::string path = "/dev/shm" + shmName;
    for (int i = 0; i < kCreatedSlots; ++i) {
        if (g_createdInUse[i] && path == g_createdPaths[i]) g_createdInUse[i] = 0;
    }
}

// Every process that holds an object holds a shared lock on it, so an object nobody locks was
// left by a process that died: on Windows it would have gone with its last handle.
bool HeldByNobody(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    flock(fd, LOCK_UN);
    return true;
}

// Opens an existing object as it is, with a shared lock; -1 when there is none or it was stale
// (then it is removed).
int OpenExisting(const std::string& shmName, int& error) {
    int fd = shm_open(shmName.c_str(), O_RDWR, 0);
    if (fd < 0 && errno == EACCES) fd = shm_open(shmName.c_str(), O_RDONLY, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (HeldByNobody(fd)) {
        shm_unlink(shmName.c_str());
        close(fd);
        error = ENOENT;
        return -1;
    }
    flock(fd, LOCK_SH);
    return fd;
}

// A mapping name as a POSIX shared-memory name; false when it cannot be one.
bool SharedMemoryName(const char* name, std::string& out) {
    if (!*name) return false;
    for (const char* p = name; *p; ++p) {
        if (*p == '\\' || *p == '/') return false;
    }
    out = std::string("/") + name;
    return out.size() < 256;
}

std::shared_ptr<Section> LiveSection(const std::string& name) {
    for (auto& h : g_handles) {
        if (h.second.section->name == name) return h.second.section;
    }
    for (auto& v : g_views) {
        if (v.second.section->name == name) return v.second.section;
    }
    return nullptr;
}

bool IsReadOnly(const Section& s) {
    struct stat st;
    if (fstat(s.fd, &st) != 0) return true;
    return (st.st_mode & S_IWUSR) == 0;
}

void DropReference(const std::shared_ptr<Section>& s) {
    if (--s->references > 0) return;
    if (s->createdHere) {
        shm_unlink(s->name.c_str());
        ForgetCreated(s->name);
    }
    close(s->fd);
    s->fd = -1;
}

HANDLE NewHandle(const std::shared_ptr<Section>& s, DWORD access) {
    uintptr_t h = g_nextHandle;
    g_nextHandle += 4;
    g_handles[h] = Handle{s, access};
    ++s->references;
    return reinterpret_cast<HANDLE>(h);
}

void CloseEverything() {
    std::lock_guard<std::mutex> g(g_mutex);
    for (auto& v : g_views) {
        munmap(reinterpret_cast<void*>(v.first), v.second.length);
        DropReference(v.second.section);
    }
    g_views.clear();
    for (auto& h : g_handles) DropReference(h.second.section);
    g_handles.clear();
}

struct MappingProbe {
    MappingProbe() {
        standin::RegisterLeakProbe("mapping", [] {
            std::lock_guard<std::mutex> g(g_mutex);
            std::string out;
            if (!g_handles.empty()) out += std::to_string(g_handles.size()) + " mapping handle(s) open";
            if (!g_views.empty()) {
                if (!out.empty()) out += ", ";
                out += std::to_string(g_views.size()) + " view(s) mapped";
            }
            return out;
        });
        standin::RegisterReset("mapping", [] {
            CloseEverything();
            g_failViews = false;
        });
    }
} g_mappingProbe;

}  // namespace

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD sizeHigh,
                                 DWORD sizeLow, LPCSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);  // file-backed mappings are not modelled
        return nullptr;
    }
    // SEC_COMMIT is what a pagefile-backed section is anyway.
    DWORD pageProtect = protect & ~static_cast<DWORD>(SEC_COMMIT);
    if (pageProtect != PAGE_READONLY && pageProtect != PAGE_READWRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
    if (size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // a pagefile-backed mapping needs a size
        return nullptr;
    }
    std::string shmName;
    if (!name) {
        // An unnamed mapping: a private object nobody else can open.
        static unsigned counter = 0;
        shmName = "/brevlo-unnamed-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    } else if (!SharedMemoryName(name, shmName)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }

    std::lock_guard<std::mutex> g(g_mutex);
    if (auto live = LiveSection(shmName)) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return NewHandle(live, FILE_MAP_ALL_ACCESS);
    }
    auto s = std::make_shared<Section>();
    s->name = shmName;
    mode_t mode = pageProtect == PAGE_READONLY ? 0444 : 0644;
    // Twice at most: once more after removing an object a dead process left.
    for (int attempt = 0; attempt < 2; ++attempt) {
        s->fd = shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
        if (s->fd >= 0) {
            flock(s->fd, LOCK_SH);
            s->createdHere = true;
            if (ftruncate(s->fd, static_cast<off_t>(size)) != 0) {
                close(s->fd);
                shm_unlink(shmName.c_str());
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            fchmod(s->fd, mode);  // the umask may have trimmed it
            s->size = static_cast<SIZE_T>(size);
            RememberCreated(shmName);
            SetLastError(ERROR_SUCCESS);
            return NewHandle(s, FILE_MAP_ALL_ACCESS);
        }
        if (errno != EEXIST) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        // Published by another process that still holds it: open it as it is (its size holds,
        // as on Windows, and no view is larger than the object).
        int error = 0;
        s->fd = OpenExisting(shmName, error);
        if (s->fd >= 0) break;
        if (error != ENOENT) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    struct stat st;
    if (s->fd < 0 || fstat(s->fd, &st) != 0) {
        if (s->fd >= 0) close(s->fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    s->size = static_cast<SIZE_T>(st.st_size);
    SetLastError(ERROR_ALREADY_EXISTS);
    return NewHandle(s, FILE_MAP_ALL_ACCESS);
}

HANDLE WINAPI OpenFileMappingA(DWORD access, BOOL, LPCSTR name) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string shmName;
    if (!SharedMemoryName(name, shmName)) {
        SetLastError(ERROR_BAD_PATHNAME);
        return nullptr;
    }
    std::lock_guard<std::mutex> g(g_mutex);
    if (auto live = LiveSection(shmName)) return NewHandle(live, access);

    auto s = std::make_shared<Section>();
    s->name = shmName;
    int error = 0;
    s->fd = OpenExisting(shmName, error);
    if (s->fd < 0) {
        SetLastError(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    struct stat st;
    if (fstat(s->fd, &st) != 0) {
        close(s->fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    s->size = static_cast<SIZE_T>(st.st_size);
    return NewHandle(s, access);
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T bytes) {
    std::lock_guard<std::mutex> g(g_mutex);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(mapping));
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::shared_ptr<Section>& s = it->second.section;
    if (g_failViews) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Only whole views from the start are modelled; that is all the system maps.
    if (offsetHigh != 0 || offsetLow != 0 || bytes > s->size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (s->size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // FILE_MAP_ALL_ACCESS counts as FILE_MAP_WRITE.
    bool write = (access & FILE_MAP_WRITE) != 0;
    if (!write && (access & (FILE_MAP_READ | FILE_MAP_COPY)) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A handle opened for reading only cannot give a write view, whatever the section allows.
    if (write && !(it->second.access & FILE_MAP_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (write && IsReadOnly(*s)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    SIZE_T length = RoundToPages(bytes ? bytes : s->size);
    // FILE_MAP_COPY gives a private copy; writes stay in this view.
    int prot = write || (access & FILE_MAP_COPY) ? PROT_READ | PROT_WRITE : PROT_READ;
    int flags = (access & FILE_MAP_COPY) && !write ? MAP_PRIVATE : MAP_SHARED;
    // A read view is mapped without write permission, so a stray write traps as it would on Windows.
    void* base = mmap(nullptr, length, prot, flags, s->fd, 0);
    if (base == MAP_FAILED) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    View v;
    v.section = s;
    v.length = length;
    v.writable = prot & PROT_WRITE;
    ++s->references;
    g_views[reinterpret_cast<uintptr_t>(base)] = v;
    return base;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID base) {
    std::lock_guard<std::mutex> g(g_mutex);
    auto it = g_views.find(reinterpret_cast<uintptr_t>(base));
    if (it == g_views.end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    munmap(const_cast<void*>(base), it->second.length);
    std::shared_ptr<Section> s = it->second.section;
    g_views.erase(it);
    DropReference(s);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    std::lock_guard<std::mutex> g(g_mutex);
    auto it = g_handles.find(reinterpret_cast<uintptr_t>(object));
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::shared_ptr<Section> s = it->second.section;
    g_handles.erase(it);
    DropReference(s);
    return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
    if (!info || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_BAD_LENGTH);
        return 0;
    }
    std::lock_guard<std::mutex> g(g_mutex);
    uintptr_t a = reinterpret_cast<uintptr_t>(address);
    auto it = g_views.upper_bound(a);
    if (it == g_views.begin()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    --it;
    if (a >= it->first + it->second.length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    uintptr_t page = a / kPage * kPage;
    DWORD protect = it->second.writable ? PAGE_READWRITE : PAGE_READONLY;
    std::memset(info, 0, sizeof(*info));
    info->BaseAddress = reinterpret_cast<PVOID>(page);
    info->AllocationBase = reinterpret_cast<PVOID>(it->first);
    info->AllocationProtect = protect;
    info->RegionSize = it->first + it->second.length - page;
    info->State = MEM_COMMIT;
    info->Protect = protect;
    info->Type = MEM_MAPPED;
    return sizeof(MEMORY_BASIC_INFORMATION);
}

namespace standin {

long OpenMappingHandles() {
    std::lock_guard<std::mutex> g(g_mutex);
    return static_cast<long>(g_handles.size());
}

long MappedViews() {
    std::lock_guard<std::mutex> g(g_mutex);
    return static_cast<long>(g_views.size());
}

bool MakeFileMappingReadOnly(const char* name) {
    std::string shmName;
    if (!name || !SharedMemoryName(name, shmName)) return false;
    std::lock_guard<std::mutex> g(g_mutex);
    if (auto live = LiveSection(shmName)) return fchmod(live->fd, 0444) == 0;
    int fd = shm_open(shmName.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    bool ok = fchmod(fd, 0444) == 0;
    close(fd);
    return ok;
}

void FailMapViewOfFile(bool fail) { g_failViews = fail; }

void RemoveCreatedMappingNames() {
    for (int i = 0; i < kCreatedSlots; ++i) {
        if (g_createdInUse[i]) unlink(g_createdPaths[i]);
    }
}

}  // namespace standin
