// brevlo-host as a careless user meets it: outputs over inputs, stale maps, signals, limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/host/host_run.h"

namespace {

// Every way of naming one file twice is refused before anything is written: the clip, the
// recording and the timing file stay as they were, and no output is begun.
TEST(HostFiles, AnOutputThatIsAnInputOrAnotherOutputIsRefused) {
    std::string clip = TempPath("own-clip.wmv");
    HostRun made = RunHost({"export", "-o", clip, "--size", "64x48", "--frames", "5"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string clipBytes = ReadFileBytes(clip);
    std::string link = TempPath("own-clip-link.wmv");
    unlink(link.c_str());
    ASSERT_EQ(symlink(clip.c_str(), link.c_str()), 0);
    std::string codes = TempPath("own-codes.txt");
    WriteFileBytes(codes, "1111");
    std::string fresh = TempPath("fresh.wmv");
    std::string freshDir = fresh.substr(0, fresh.rfind('/'));
    std::string freshName = fresh.substr(fresh.rfind('/') + 1);
    unlink(fresh.c_str());

    const std::vector<std::vector<std::string>> cases = {
        {"export", "-o", clip, "--input", clip},
        {"export", "-o", link, "--input", clip},
        {"export", "-o", fresh, "--input", clip, "--record", link},
        {"export", "-o", fresh, "--record", freshDir + "/./" + freshName},
        {"export", "-o", codes, "--timing-file", codes},
        {"raw-frames", "-o", link, "--input", clip},
        {"export", "-o", BREVLO_MODULE_PATH},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " " + args[2]);
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("same file"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFileBytes(clip), clipBytes);
        EXPECT_EQ(ReadFileBytes(codes), "1111");
        EXPECT_FALSE(FileExists(fresh));
    }
    unlink(link.c_str());
}

}  // namespace
