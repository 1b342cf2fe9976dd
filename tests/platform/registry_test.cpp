// The registry stand-in: the results the system depends on and the text behind them, in the file
// and in memory alike; and, for the file, what happens with two writers, a stuck lock or a writer
// that dies half-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "platform/standin/leaks.h"
#include "platform/win32.h"
#include "tests/common/process_threads.h"
#include "tests/common/store_files.h"

namespace {

constexpr char kKey[] = "Software\\Example\\Test";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

LONG SetDword(const char* keyPath, const char* name, DWORD value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    RegCloseKey(key);
    return rc;
}

// Queries through a 4-byte buffer, as the settings code does.
struct Query {
    LONG rc;
    DWORD type;
    DWORD size;
    BYTE data[4];
};

Query QueryFour(const char* keyPath, const char* name) {
    Query q{-1, 0xEEEE, 4, {0xAA, 0xAA, 0xAA, 0xAA}};
    HKEY key = nullptr;
    q.rc = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key);
    if (q.rc != ERROR_SUCCESS) {
        EXPECT_EQ(key, nullptr);
        return q;
    }
    q.rc = RegQueryValueExA(key, name, nullptr, &q.type, q.data, &q.size);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    return q;
}

std::string StoreText() {
    std::string text;
    EXPECT_TRUE(standin::ReadRegistryStore(&text));
    return text;
}

// The store's behaviour does not depend on where its text is kept.
struct StoreKind {
    const char* name;
    bool inMemory;
};

const StoreKind kStoreKinds[] = {{"File", false}, {"Memory", true}};

class RegistryStore : public ::testing::TestWithParam<StoreKind> {
protected:
    void SetUp() override { standin::KeepRegistryInMemory(GetParam().inMemory); }
    void TearDown() override { standin::KeepRegistryInMemory(false); }
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(, RegistryStore, ::testing::ValuesIn(kStoreKinds),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return info.param.name; });

TEST_P(RegistryStore, TellsMissingKeyMissingValueOtherTypeAndLongDataApart) {
    EXPECT_EQ(QueryFour(kKey, "Number").rc, ERROR_FILE_NOT_FOUND);  // key missing

    ASSERT_EQ(SetDword(kKey, "Number", 0x01020304), ERROR_SUCCESS);
    Query ok = QueryFour(kKey, "Number");
    EXPECT_EQ(ok.rc, ERROR_SUCCESS);
    EXPECT_EQ(ok.type, DWORD(REG_DWORD));
    EXPECT_EQ(ok.size, 4u);
    EXPECT_EQ(ok.data[0], 0x04);
    EXPECT_EQ(ok.data[3], 0x01);

    Query missing = QueryFour(kKey, "Other");
    EXPECT_EQ(missing.rc, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.size, 4u);
    EXPECT_EQ(missing.data[0], 0xAA);

    ASSERT_TRUE(standin::PlantRegistryValue(kKey, "Text", REG_SZ, "ab", 3));
    Query text = QueryFour(kKey, "Text");
    EXPECT_EQ(text.rc, ERROR_SUCCESS);
    EXPECT_EQ(text.type, DWORD(REG_SZ));
    EXPECT_EQ(text.size, 3u);

    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(standin::PlantRegistryValue(kKey, "Blob", REG_BINARY, eight, 8));
    Query blob = QueryFour(kKey, "Blob");
    EXPECT_EQ(blob.rc, ERROR_MORE_DATA);
    EXPECT_EQ(blob.type, DWORD(REG_BINARY));
    EXPECT_EQ(blob.size, 8u);
    EXPECT_EQ(blob.data[0], 0xAA);  // untouched

    const BYTE two[2] = {0x11, 0x22};
    ASSERT_TRUE(standin::PlantRegistryValue(kKey, "Short", REG_DWORD, two, 2));
    Query shortDword = QueryFour(kKey, "Short");
    EXPECT_EQ(shortDword.rc, ERROR_SUCCESS);
    EXPECT_EQ(shortDword.size, 2u);
    EXPECT_EQ(shortDword.data[1], 0x22);
    EXPECT_EQ(shortDword.data[2], 0xAA);  // only the stored bytes are written
}

TEST_P(RegistryStore, NamesAreCaseInsensitiveAndCreateBuildsThePath) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A\\B\\C", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\a\\b\\c\\", 0, nullptr, 0, KEY_READ, nullptr, &key,
                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    // A read-only handle cannot set values.
    DWORD v = 1;
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\A\\B", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software\\A", 0, KEY_READ, &key), ERROR_BAD_PATHNAME);

    ASSERT_EQ(SetDword("Software\\A", "Mixed", 7), ERROR_SUCCESS);
    ASSERT_EQ(SetDword("software\\a", "MIXED", 8), ERROR_SUCCESS);  // replaces, keeps one value
    Query q = QueryFour("Software\\A", "mixed");
    EXPECT_EQ(q.rc, ERROR_SUCCESS);
    EXPECT_EQ(q.data[0], 8);
    std::string text = StoreText();
    EXPECT_EQ(text.find("MIXED"), std::string::npos) << "the first spelling of a name is kept";
    EXPECT_NE(text.find("\"Mixed\"=dword:00000008"), std::string::npos) << text;
}

TEST_P(RegistryStore, TextIsReadableAndHandEditsAreRead) {
    ASSERT_EQ(SetDword(kKey, "Count", 42), ERROR_SUCCESS);
    EXPECT_EQ(StoreFiles("registry").empty(), GetParam().inMemory) << "where the store is kept";
    std::string text = StoreText();
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Example\\Test]\n\"Count\"=dword:0000002a\n"),
              std::string::npos)
        << text;

    ASSERT_TRUE(standin::WriteRegistryStore(
              "Windows Registry Editor Version 5.00\r\n"
              "; edited by hand\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Example\\Test]\r\n"
              "\"Count\"=dword:ffffffff\r\n"
              "\"Quote \\\"q\\\"\"=\"C:\\\\dir\"\r\n"
              "\"Short\"=hex(4):01,\\\r\n"
              "  02\r\n"));
    Query count = QueryFour(kKey, "Count");
    EXPECT_EQ(count.rc, ERROR_SUCCESS);
    EXPECT_EQ(count.data[3], 0xFF);
    EXPECT_NE(StoreText().find("; edited by hand"), std::string::npos) << "reads rewrote the text";
    Query shortDword = QueryFour(kKey, "Short");
    EXPECT_EQ(shortDword.type, DWORD(REG_DWORD));
    EXPECT_EQ(shortDword.size, 2u);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    char buf[16] = {};
    DWORD type = 0, size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(key, "quote \"Q\"", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "C:\\dir");
    RegCloseKey(key);

    // Values of every kind survive a rewrite of the file.
    ASSERT_EQ(SetDword(kKey, "New", 1), ERROR_SUCCESS);
    EXPECT_EQ(QueryFour(kKey, "Short").size, 2u);
    EXPECT_EQ(QueryFour(kKey, "Count").data[3], 0xFF);
}

TEST_P(RegistryStore, UnparseableTextFailsReadsAndIsKeptAsideOnWrite) {
    using namespace std::string_literals;
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::string stores[] = {
        "this is not a registry file\n[broken\n",
        // A NUL in a key's name does not end the name there (which named the root instead).
        header + "[HKEY_CURRENT_USER\\\0Software]\n\"Fresh\"=dword:00000001\n"s,
    };
    for (const std::string& garbage : stores) {
        SCOPED_TRACE(garbage);
        standin::ResetAll();
        ASSERT_TRUE(standin::WriteRegistryStore(garbage));
        HKEY key = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &key), ERROR_BADDB);
        EXPECT_EQ(key, nullptr);

        ASSERT_EQ(SetDword(kKey, "Fresh", 5), ERROR_SUCCESS);
        EXPECT_EQ(QueryFour(kKey, "Fresh").rc, ERROR_SUCCESS);
        EXPECT_EQ(standin::SetAsideRegistryStores(), std::vector<std::string>{garbage});
    }
}

// What stands at the store's path may be no store at all: a pipe or a device, which would be read
// forever, or a file larger than any store. Each reads at once as a store that cannot be read, and
// the next write sets it aside. A change that would make the store that large is refused.
TEST(RegistryStandIn, APipeADeviceOrAHugeFileIsAStoreThatCannotBeRead) {
    const std::string path = standin::RegistryFilePath();
    struct Case {
        const char* name;
        std::function<int()> place;
    };
    const Case cases[] = {
        {"pipe", [&] { return mkfifo(path.c_str(), 0600); }},
        {"device", [&] { return symlink("/dev/zero", path.c_str()); }},
        {"huge file", [&] { return truncate(path.c_str(), 64 << 20); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SetDword(kKey, "Old", 1), ERROR_SUCCESS);
        if (std::string(c.name) != "huge file") {
            ASSERT_EQ(unlink(path.c_str()), 0);
        }
        ASSERT_EQ(c.place(), 0) << std::strerror(errno);
        std::string text;
        EXPECT_FALSE(standin::ReadRegistryStore(&text));
        EXPECT_NE(QueryFour(kKey, "Old").rc, ERROR_SUCCESS);
        ASSERT_EQ(SetDword(kKey, "Fresh", 2), ERROR_SUCCESS);
        EXPECT_EQ(QueryFour(kKey, "Fresh").rc, ERROR_SUCCESS);
        EXPECT_EQ(QueryFour(kKey, "Old").rc, ERROR_FILE_NOT_FOUND);
        for (const std::string& aside : StoreFiles("registry.reg.bad-")) unlink(aside.c_str());
    }

    const std::vector<BYTE> big(3u << 20, 0x5A);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
    standin::TakeFailures();
    EXPECT_EQ(RegSetValueExA(key, "Big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size())),
              ERROR_WRITE_FAULT);
    RegCloseKey(key);
    std::vector<std::string> reasons = standin::TakeFailures();
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_NE(reasons[0].find("was not written: File too large"), std::string::npos) << reasons[0];
    EXPECT_EQ(QueryFour(kKey, "Fresh").data[0], 2);
    EXPECT_EQ(QueryFour(kKey, "Big").rc, ERROR_FILE_NOT_FOUND);
}

// A key's section may come back later in the file and the root's may follow others: the last
// value of a name wins, whatever its case, and every key keeps its own values.
TEST_P(RegistryStore, RepeatedSectionsAndALateRootReadAsOneStore) {
    ASSERT_TRUE(standin::WriteRegistryStore(
              "Windows Registry Editor Version 5.00\n"
              "[HKEY_CURRENT_USER\\Software\\Example\\Test]\n"
              "\"Count\"=dword:00000001\n"
              "[HKEY_CURRENT_USER\\Software\\Other]\n"
              "\"Count\"=dword:00000007\n"
              "[HKEY_CURRENT_USER]\n"
              "\"Top\"=dword:00000003\n"
              "[hkey_current_user\\software\\example\\test]\n"
              "\"COUNT\"=dword:00000002\n"));
    EXPECT_EQ(QueryFour(kKey, "Count").data[0], 2);
    EXPECT_EQ(QueryFour("Software\\Other", "Count").data[0], 7);
    EXPECT_EQ(QueryFour("Software", "Count").rc, ERROR_FILE_NOT_FOUND);
    HKEY root = HKEY_CURRENT_USER;
    DWORD value = 0, type = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(root, "Top", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
    EXPECT_EQ(value, 3u);
    ASSERT_EQ(SetDword(kKey, "New", 1), ERROR_SUCCESS);
    EXPECT_EQ(QueryFour(kKey, "Count").data[0], 2);
    EXPECT_EQ(QueryFour("Software\\Other", "Count").data[0], 7);
}

// A lock another process never lets go of makes a write fail after a short wait, with its reason
// told, instead of hanging every command; reads go on.
TEST(RegistryStandIn, AStuckLockFailsTheWriteInsteadOfHanging) {
    ASSERT_EQ(SetDword(kKey, "Old", 1), ERROR_SUCCESS);
    std::string lockPath = StoreDirectory() + "/registry.lock";
    int held = open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    standin::TakeFailures();
    EXPECT_EQ(SetDword(kKey, "Old", 2), ERROR_WRITE_FAULT);
    std::vector<std::string> reasons = standin::TakeFailures();
    ASSERT_EQ(reasons.size(), 1u);
    EXPECT_NE(reasons[0].find("another process has held its lock"), std::string::npos) << reasons[0];
    EXPECT_EQ(QueryFour(kKey, "Old").data[0], 1);
    // The next write waits through the waiter that gave up instead of leaving a second one behind.
    const long threads = ThreadsOfThisProcess();
    EXPECT_EQ(SetDword(kKey, "Old", 3), ERROR_WRITE_FAULT);
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    // The waiter that gave up lets go of the lock should it get it later, so writes go on.
    close(held);
    EXPECT_EQ(SetDword(kKey, "Old", 2), ERROR_SUCCESS);
}

TEST_P(RegistryStore, DeniedWritesFailAndReadsStillWork) {
    ASSERT_EQ(SetDword("Software\\Example\\Locked", "Old", 1), ERROR_SUCCESS);
    standin::DenyRegistryWrites("Software\\Example\\Locked");
    EXPECT_EQ(SetDword("Software\\Example\\Locked", "Old", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetDword("Software\\Example\\Locked\\Sub", "New", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetDword("Software\\Example\\LockedNot", "New", 2), ERROR_SUCCESS);
    EXPECT_EQ(QueryFour("Software\\Example\\Locked", "Old").data[0], 1);
}

TEST_P(RegistryStore, CountsOpenKeys) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(standin::RegistryOpenKeys(), 1);
    RegCloseKey(key);
    EXPECT_EQ(standin::RegistryOpenKeys(), 0);
}

TEST(RegistryStandIn, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kValues = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            for (int i = 0; i < kValues; ++i) {
                std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
                if (SetDword(kKey, name.c_str(), DWORD(c * 1000 + i)) != ERROR_SUCCESS) _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kValues; ++i) {
            std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
            Query q = QueryFour(kKey, name.c_str());
            ASSERT_EQ(q.rc, ERROR_SUCCESS) << name;
            DWORD v;
            std::memcpy(&v, q.data, 4);
            EXPECT_EQ(v, DWORD(c * 1000 + i));
        }
    }
}

TEST(RegistryStandIn, WriterKilledBeforeTheRenameLeavesTheOldFile) {
    ASSERT_EQ(SetDword(kKey, "Kept", 1), ERROR_SUCCESS);
    const std::string before = ReadFile(standin::RegistryFilePath());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        standin::SetRegistryBeforeRenameHook([] { raise(SIGKILL); });
        SetDword(kKey, "Lost", 2);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));

    EXPECT_EQ(ReadFile(standin::RegistryFilePath()), before);
    EXPECT_EQ(QueryFour(kKey, "Kept").rc, ERROR_SUCCESS);
    EXPECT_EQ(QueryFour(kKey, "Lost").rc, ERROR_FILE_NOT_FOUND);
    // The lock died with the writer, and the half-finished file is not taken for the store.
    ASSERT_EQ(SetDword(kKey, "After", 3), ERROR_SUCCESS);
    EXPECT_EQ(QueryFour(kKey, "After").rc, ERROR_SUCCESS);
    EXPECT_EQ(QueryFour(kKey, "Lost").rc, ERROR_FILE_NOT_FOUND);
}
