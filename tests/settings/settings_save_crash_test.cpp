// Saving the settings while the saving process is killed at any moment, or while another process
// saves its own: the store stays readable, every value in it is one that a save wrote whole, and
// the next save goes through.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/standin/leaks.h"
#include "settings/encoder_settings.h"
#include "settings/settings_registry.h"
#include "tests/common/settings_fields.h"
#include "tests/common/store_files.h"

namespace {

using Clock = std::chrono::steady_clock;

// An unbounded value carries its row, its writer and the number of its save, so that a value of
// another row, a torn one or a mixture of two saves' bytes does not pass for one a save wrote.
constexpr uint32_t kSaveBits = 20;
constexpr uint32_t kSaveMask = (1u << kSaveBits) - 1;

bool IsBounded(size_t row) { return SettingsRegistryTable[row].Maximum != kNoMaximum; }

uint32_t ValueOfSave(size_t row, uint32_t writer, uint32_t save) {
    if (IsBounded(row)) return (save + writer) % (SettingsRegistryTable[row].Maximum + 1);
    return (static_cast<uint32_t>(row) << 24) | (writer << kSaveBits) | (save & kSaveMask);
}

struct Origin {
    uint32_t writer;
    uint32_t save;
};

bool OriginOfValue(size_t row, uint32_t value, Origin* origin) {
    if (IsBounded(row) || (value >> 24) != row) return false;
    *origin = Origin{(value >> kSaveBits) & 0xF, value & kSaveMask};
    return true;
}

EncoderSettings RecordOfSave(uint32_t writer, uint32_t save) {
    EncoderSettings record;
    std::memset(&record, 0, sizeof record);
    for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
        SetRecordField(&record, SettingsRegistryTable[row].FieldOffset, ValueOfSave(row, writer, save));
    }
    return record;
}

// What one writing process tells the test; it lives in memory shared across the fork.
struct SaveLog {
    std::atomic<uint32_t> started;  // the number of the save begun last
    std::atomic<uint32_t> saved;
    std::atomic<uint32_t> failed;
    std::atomic<uint32_t> longestMicroseconds;  // of one save, lock waits included
};

struct SharedLogs {
    SaveLog* logs = nullptr;
    size_t count = 0;
    explicit SharedLogs(size_t n) : count(n) {
        void* p = mmap(nullptr, n * sizeof(SaveLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return;
        logs = static_cast<SaveLog*>(p);
        for (size_t i = 0; i < n; ++i) new (&logs[i]) SaveLog{};
    }
    ~SharedLogs() {
        if (logs) munmap(logs, count * sizeof(SaveLog));
    }
};

// The writing process: saves through the plug-in's own path, one numbered record after another,
// until `end` (or until it is killed).
[[noreturn]] void SaveUntil(uint32_t writer, uint32_t firstSave, SaveLog* log, Clock::time_point end) {
    for (uint32_t save = firstSave; Clock::now() < end; ++save) {
        log->started.store(save);
        EncoderSettings record = RecordOfSave(writer, save);
        Clock::time_point begun = Clock::now();
        if (WriteSettingsToRegistry(&record)) {
            ++log->saved;
        } else {
            ++log->failed;
        }
        auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun).count();
        if (took > log->longestMicroseconds.load()) log->longestMicroseconds.store(static_cast<uint32_t>(took));
    }
    _exit(0);
}

pid_t StartSaving(uint32_t writer, uint32_t firstSave, SaveLog* log, Clock::duration forAtMost) {
    Clock::time_point end = Clock::now() + forAtMost;
    pid_t pid = fork();
    if (pid == 0) SaveUntil(writer, firstSave, log, end);
    return pid;
}

struct StoredRow {
    bool present = false;
    uint32_t value = 0;
};

// Every row as the store holds it; a store that does not parse fails the test.
std::vector<StoredRow> ReadRows() {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key);
    EXPECT_NE(rc, ERROR_BADDB) << "the store does not parse";
    if (rc == ERROR_SUCCESS) RegCloseKey(key);
    std::vector<StoredRow> rows(kSettingsRegistryRows);
    for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
        const SettingsRegistryRow& r = SettingsRegistryTable[row];
        rows[row].present = ReadRegistryDword(r.KeyPath, r.ValueName, &rows[row].value);
    }
    return rows;
}

// No writer holds the store's lock any more.
bool LockIsFree() {
    int fd = open((StoreDirectory() + "/registry.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// A complete set loads as stored, not as the defaults.
void ExpectLoadGivesRows(const std::vector<StoredRow>& rows) {
    EncoderSettings loaded;
    std::memset(&loaded, 0, sizeof loaded);
    ASSERT_EQ(LoadSettings(&loaded), S_OK);
    for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
        EXPECT_EQ(RecordField(&loaded, SettingsRegistryTable[row].FieldOffset), rows[row].value)
            << SettingsRegistryTable[row].ValueName;
    }
}

unsigned long FromEnvironment(const char* name, unsigned long otherwise) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : otherwise;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

// A save killed at a random moment (the number of kills and the seed can be set with
// BREVLO_SAVE_KILLS and BREVLO_SAVE_KILL_SEED) leaves a store that parses, with each value whole and
// from a save that began. Saves write the rows in table order, so the save that last wrote a row is
// never older than the one that last wrote the row after it, and a row no save reached is
// followed by none that one did.
TEST(SettingsSaveUnderKills, EveryKillLeavesAReadableStoreOfWholeValuesAndAFreeLock) {
    const Clock::time_point testStart = Clock::now();
    const unsigned long kills = FromEnvironment("BREVLO_SAVE_KILLS", 300);
    const unsigned long seed = FromEnvironment("BREVLO_SAVE_KILL_SEED", std::random_device{}());
    SCOPED_TRACE("BREVLO_SAVE_KILL_SEED=" + std::to_string(seed));
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));

    // How long one save takes here: the kills fall anywhere from its first microseconds to past its end.
    constexpr int kTimedSaves = 10;
    Clock::time_point timing = Clock::now();
    for (int i = 0; i < kTimedSaves; ++i) {
        EncoderSettings record = RecordOfSave(1, static_cast<uint32_t>(i));
        ASSERT_TRUE(WriteSettingsToRegistry(&record));
    }
    const double saveSeconds = SecondsSince(timing) / kTimedSaves;
    standin::ResetAll();
    const double longest = std::max(2e-3, 1.5 * saveSeconds);
    std::uniform_real_distribution<double> logDelay(std::log(1e-6), std::log(longest));

    SharedLogs shared(1);
    ASSERT_NE(shared.logs, nullptr);
    SaveLog& log = shared.logs[0];
    uint32_t next = 1;
    unsigned long survived = 0, complete = 0, leftTemporary = 0;
    double writing = 0;
    for (unsigned long k = 0; k < kills; ++k) {
        SCOPED_TRACE("kill " + std::to_string(k));
        const auto delay = std::chrono::duration<double>(std::exp(logDelay(random)));
        Clock::time_point born = Clock::now();
        pid_t child = StartSaving(0, next, &log, std::chrono::seconds(30));
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(delay);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        writing += SecondsSince(born);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
        ASSERT_EQ(log.failed.load(), 0u);
        const uint32_t newest = log.started.load();
        next = newest + 1;

        ASSERT_TRUE(LockIsFree()) << "the killed writer's lock outlived it";
        std::vector<StoredRow> rows = ReadRows();
        uint32_t notNewerThan = newest;
        bool reached = true;
        for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
            const char* name = SettingsRegistryTable[row].ValueName;
            if (!rows[row].present) {
                reached = false;
                continue;
            }
            ASSERT_TRUE(reached) << name << " is stored though a row before it was never reached";
            if (IsBounded(row)) {
                EXPECT_LE(rows[row].value, SettingsRegistryTable[row].Maximum) << name;
                continue;
            }
            Origin origin{};
            ASSERT_TRUE(OriginOfValue(row, rows[row].value, &origin)) << name << " = " << rows[row].value;
            EXPECT_EQ(origin.writer, 0u) << name;
            EXPECT_GE(origin.save, 1u) << name;
            EXPECT_LE(origin.save, notNewerThan) << name << " comes from a later save than the row before it";
            notNewerThan = origin.save;
        }
        if (reached) {
            ++complete;
            ExpectLoadGivesRows(rows);
        }
        for (const std::string& file : StoreFiles("registry")) {
            EXPECT_EQ(file.find(".bad-"), std::string::npos) << file << ": the store was set aside";
            if (file == StoreDirectory() + "/registry.reg.tmp") ++leftTemporary;
        }
        if (::testing::Test::HasFailure()) break;
        ++survived;
    }

    // The next save goes through and leaves no temporary file behind.
    const EncoderSettings last = RecordOfSave(0, next);
    ASSERT_TRUE(WriteSettingsToRegistry(&last));
    std::vector<StoredRow> rows = ReadRows();
    for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
        ASSERT_TRUE(rows[row].present);
        EXPECT_EQ(rows[row].value, RecordField(&last, SettingsRegistryTable[row].FieldOffset))
            << SettingsRegistryTable[row].ValueName;
    }
    ExpectLoadGivesRows(rows);
    EXPECT_EQ(StoreFiles("registry"), (std::vector<std::string>{StoreDirectory() + "/registry.lock",
                                                                 StoreDirectory() + "/registry.queue",
                                                                 standin::RegistryFilePath()}));

    std::printf("kills survived: %lu of %lu (seed %lu); %lu left a complete set, %lu a half-written temporary file; "
                "killed writers saved %u records in %.2f s; one save %.2f ms alone (%.0f records/s, %.0f values/s); "
                "longest delay %.2f ms; test %.2f s\n",
                survived, kills, seed, complete, leftTemporary, log.saved.load(), writing, saveSeconds * 1e3,
                1 / saveSeconds, kSettingsRegistryRows / saveSeconds, longest * 1e3, SecondsSince(testStart));
}

// Two processes saving their own records at once, without pause, for a while (BREVLO_SAVE_RACE_MS,
// default 1500): no save fails on the lock, and each row ends as the last save of one of them
// wrote it, so the next load gives a set within the table's rules, as stored. The lock is fair:
// neither writer starves behind the other, and no save waits anywhere near the time after which a
// write gives up on the lock, even on a busy machine.
TEST(SettingsSaveUnderKills, TwoProcessesSavingAtOnceLeaveEachRowAsOneOfThemWroteIt) {
    const Clock::time_point testStart = Clock::now();
    const auto racing = std::chrono::milliseconds(FromEnvironment("BREVLO_SAVE_RACE_MS", 1500));
    SharedLogs shared(2);
    ASSERT_NE(shared.logs, nullptr);
    pid_t children[2];
    for (uint32_t writer = 0; writer < 2; ++writer) {
        children[writer] = StartSaving(writer, 1, &shared.logs[writer], racing);
        ASSERT_GT(children[writer], 0);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    const double wall = SecondsSince(testStart);
    for (uint32_t writer = 0; writer < 2; ++writer) {
        const SaveLog& log = shared.logs[writer];
        EXPECT_EQ(log.failed.load(), 0u) << "writer " << writer << " had saves fail";
        EXPECT_GE(log.saved.load(), 2u) << "writer " << writer << " barely ran";
        EXPECT_EQ(log.saved.load(), log.started.load()) << "writer " << writer;
    }
    // Taking turns, a save waits at most about one save of the other writer: twice the mean. Polling
    // for the lock lets the writer that holds it take it again and again, and single saves last many
    // times the mean, for as long as the other keeps saving: over a second, a third of the time
    // after which a write gives up. A busy machine can stretch one save to a few times the mean
    // (a sync, a lost time slice), which is not the lock's doing, so only a save that is both is a
    // failure.
    const uint32_t saves = shared.logs[0].saved.load() + shared.logs[1].saved.load();
    const double meanSaveMicroseconds = saves ? 2 * wall * 1e6 / saves : 0;
    const double longestAllowed = std::max(4 * meanSaveMicroseconds, 1e6);
    for (uint32_t writer = 0; writer < 2; ++writer) {
        EXPECT_LT(shared.logs[writer].longestMicroseconds.load(), longestAllowed)
            << "writer " << writer << " waited too long on a save";
    }
    const uint32_t fewer = std::min(shared.logs[0].saved.load(), shared.logs[1].saved.load());
    const uint32_t more = std::max(shared.logs[0].saved.load(), shared.logs[1].saved.load());
    EXPECT_GE(3 * fewer, more) << "one writer starved behind the other";

    std::vector<StoredRow> rows = ReadRows();
    unsigned fromWriter[2] = {0, 0};
    for (size_t row = 0; row < kSettingsRegistryRows; ++row) {
        const char* name = SettingsRegistryTable[row].ValueName;
        ASSERT_TRUE(rows[row].present) << name;
        const uint32_t last0 = ValueOfSave(row, 0, shared.logs[0].started.load());
        const uint32_t last1 = ValueOfSave(row, 1, shared.logs[1].started.load());
        EXPECT_TRUE(rows[row].value == last0 || rows[row].value == last1)
            << name << " = " << rows[row].value << ", neither writer's last (" << last0 << ", " << last1 << ")";
        Origin origin{};
        if (OriginOfValue(row, rows[row].value, &origin) && origin.writer < 2) ++fromWriter[origin.writer];
    }
    ExpectLoadGivesRows(rows);
    std::printf("concurrent saves: writer 0 %u, writer 1 %u in %.2f s (%.0f records/s together, %.0f values/s); "
                "no lock failures; longest save %.1f / %.1f ms, mean %.1f ms; final set: %u unbounded rows from "
                "writer 0, %u from writer 1; test %.2f s\n",
                shared.logs[0].saved.load(), shared.logs[1].saved.load(), wall, saves / wall,
                saves * kSettingsRegistryRows / wall, shared.logs[0].longestMicroseconds.load() / 1e3,
                shared.logs[1].longestMicroseconds.load() / 1e3, meanSaveMicroseconds / 1e3, fromWriter[0], fromWriter[1], SecondsSince(testStart));
}
