#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/standin/leaks.h"
#include "platform/win32.h"

namespace {

std::string g_configDirectory;

void RemoveConfigDirectory() {
    if (g_configDirectory.empty()) return;
    std::string command = "rm -rf '" + g_configDirectory + "'";
    if (std::system(command.c_str()) != 0) {
        // a temporary directory left behind is harmless
    }
}

}  // namespace

// Called once by libFuzzer and by the regression runner: the registry store of this process is
// kept in memory, as the file's lock, temporary file and syncs would cost most of each input's
// time; its directory is a private one all the same, never the user's.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char directory[] = "/tmp/brevlo-fuzz-XXXXXX";
    if (!mkdtemp(directory)) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_configDirectory = directory;
    setenv("XDG_CONFIG_HOME", directory, 1);
    std::atexit(RemoveConfigDirectory);
    standin::KeepRegistryInMemory(true);
    return 0;
}

void FuzzFailure(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

void FuzzReset() { standin::ResetAll(); }

void RequireNothingLeft(const char* when) {
    std::string all;
    for (const std::string& leak : standin::CollectLeaks()) all += (all.empty() ? "" : "; ") + leak;
    FUZZ_REQUIRE(all.empty(), std::string("left over ") + when + ": " + all);
    FuzzReset();
}

EncoderSettings FuzzDefaults() {
    FuzzReset();
    EncoderSettings s;
    std::memset(&s, 0, sizeof s);
    FUZZ_REQUIRE(LoadSettings(&s) == S_OK, "the defaults load from an empty store");
    return s;
}
