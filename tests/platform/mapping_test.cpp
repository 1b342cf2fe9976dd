#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/standin/leaks.h"
#include "platform/win32.h"

namespace {

std::string UniqueName(const char* what) {
    return std::string("brevlo-test-") + what + "-" + std::to_string(getpid());
}

// Another process that publishes `bytes` under `name` and holds the map until Stop.
struct PublishingChild {
    pid_t pid = -1;
    int ready[2] = {-1, -1}, done[2] = {-1, -1};

    bool Start(const std::string& name, const std::string& bytes) {
        if (pipe(ready) != 0 || pipe(done) != 0) return false;
        pid = fork();
        if (pid < 0) return false;
        if (pid == 0) {
            HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(bytes.size()), name.c_str());
            char* v = m ? static_cast<char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0)) : nullptr;
            if (v) std::memcpy(v, bytes.data(), bytes.size());
            char c = v ? 'y' : 'n';
            if (write(ready[1], &c, 1) != 1 || read(done[0], &c, 1) != 1) _exit(1);
            UnmapViewOfFile(v);
            CloseHandle(m);
            _exit(0);
        }
        char c = 0;
        return read(ready[0], &c, 1) == 1 && c == 'y';
    }

    // The child's exit status.
    int Stop() {
        char c = 0;
        int status = -1;
        if (write(done[1], &c, 1) == 1) waitpid(pid, &status, 0);
        for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
        return status;
    }
};

}  // namespace

TEST(FileMapping, PublishedBytesAreSeenThroughANamedOpenAndTheViewIsPageRounded) {
    std::string name = UniqueName("shared");
    HANDLE pub = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10, name.c_str());
    ASSERT_NE(pub, nullptr);
    auto* w = static_cast<char*>(MapViewOfFile(pub, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(w, nullptr);
    std::memcpy(w, "12D2", 4);

    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(h, nullptr);
    auto* r = static_cast<const char*>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r, 4), "12D2");
    w[1] = 'X';  // one object, not a copy
    EXPECT_EQ(r[1], 'X');

    MEMORY_BASIC_INFORMATION mbi;
    ASSERT_EQ(VirtualQuery(r, &mbi, sizeof mbi), sizeof mbi);
    EXPECT_EQ(mbi.RegionSize, 4096u);
    EXPECT_EQ(mbi.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(mbi.Type, static_cast<DWORD>(MEM_MAPPED));
    EXPECT_EQ(mbi.Protect, static_cast<DWORD>(PAGE_READONLY));
    EXPECT_EQ(r[4095], 0);  // the rest of the page reads as zeros
    ASSERT_EQ(VirtualQuery(w, &mbi, sizeof mbi), sizeof mbi);
    EXPECT_EQ(mbi.Protect, static_cast<DWORD>(PAGE_READWRITE));

    // Names are case-sensitive; missing names and a null name fail as on Windows.
    std::string upper = name;
    upper[0] = 'B';
    SetLastError(0);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, upper.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Creating an existing name opens the same object.
    HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10, name.c_str());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    EXPECT_EQ(standin::OpenMappingHandles(), 3);
    EXPECT_EQ(standin::MappedViews(), 2);
    EXPECT_TRUE(UnmapViewOfFile(r));
    EXPECT_TRUE(UnmapViewOfFile(w));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(pub));
}

TEST(FileMapping, WriteViewsNeedAWritableMappingAndAHandleOpenedForWriting) {
    std::string name = UniqueName("readonly");
    HANDLE pub = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8, name.c_str());
    ASSERT_NE(pub, nullptr);
    // A handle opened for reading gives read views only, also on a read-write mapping.
    HANDLE reader = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(reader, nullptr);
    SetLastError(0);
    EXPECT_EQ(MapViewOfFile(reader, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    void* read = MapViewOfFile(reader, FILE_MAP_READ, 0, 0, 0);
    EXPECT_NE(read, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(read));
    EXPECT_TRUE(CloseHandle(reader));

    ASSERT_TRUE(standin::MakeFileMappingReadOnly(name.c_str()));

    HANDLE h = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
    ASSERT_NE(h, nullptr);  // the open succeeds; the write view is what fails
    EXPECT_EQ(MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, 0), nullptr);
    void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    EXPECT_NE(view, nullptr);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(CloseHandle(pub));
    EXPECT_FALSE(standin::MakeFileMappingReadOnly(name.c_str()));  // gone with its last handle

    HANDLE ro = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY | SEC_COMMIT, 0, 8, name.c_str());
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_TRUE(CloseHandle(ro));
}

TEST(FileMapping, AViewKeepsTheNameAliveAndSecondClosesFail) {
    std::string name = UniqueName("lifetime");
    HANDLE pub = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, name.c_str());
    ASSERT_NE(pub, nullptr);
    void* view = MapViewOfFile(pub, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(CloseHandle(pub));
    EXPECT_FALSE(CloseHandle(pub));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(FileMapping, AnotherProcessCanPublishTheMap) {
    std::string name = UniqueName("child");
    PublishingChild child;
    ASSERT_TRUE(child.Start(name, "2D1"));
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(h, nullptr);
    auto* v = static_cast<const char*>(MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(v, 3), "2D1");
    EXPECT_TRUE(UnmapViewOfFile(v));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(child.Stop(), 0);
    // The publisher went away with its last reference, and the name with it.
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
}

TEST(FileMapping, TheLeakProbeReportsOpenHandlesAndViews) {
    std::string name = UniqueName("leak");
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1, name.c_str());
    ASSERT_NE(h, nullptr);
    void* v = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0);
    std::string report;
    for (const std::string& leak : standin::CollectLeaks()) report += leak;
    EXPECT_NE(report.find("1 mapping handle(s) open, 1 view(s) mapped"), std::string::npos) << report;
    UnmapViewOfFile(v);
    CloseHandle(h);
}

// An object nobody holds any more (its process died) is gone, as on Windows: opening it fails and
// creating it gives a new one at the size asked. One another process holds keeps its size, and no
// view is larger than it.
TEST(FileMapping, AnObjectLeftByADeadProcessIsGoneAndALiveOneKeepsItsSize) {
    std::string name = UniqueName("stale");
    int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT, 0444);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1), 0);
    close(fd);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT, 0444);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 1), 0);
    close(fd);
    HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3 * 4096, name.c_str());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    auto* view = static_cast<char*>(MapViewOfFile(fresh, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[3 * 4096 - 1] = 1;
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(fresh));

    PublishingChild child;
    ASSERT_TRUE(child.Start(name, "1"));
    HANDLE live = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3 * 4096, name.c_str());
    ASSERT_NE(live, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(MapViewOfFile(live, FILE_MAP_WRITE, 0, 0, 3 * 4096), nullptr);
    view = static_cast<char*>(MapViewOfFile(live, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(VirtualQuery(view, &info, sizeof info), 0u);
    EXPECT_EQ(info.RegionSize, 4096u);
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_TRUE(CloseHandle(live));
    EXPECT_EQ(child.Stop(), 0);
}
