// Exports through the stand-in editor and the module: the presence test of the timing map and how
// the host reads timing codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/host/host_run.h"

namespace {

const char kNoCompanion[] = "フレームレート判定プラグインが起動されていません。";

std::string Summary(const HostRun& run) {
    size_t at = run.err.find("brevlo-host: ");
    return at == std::string::npos ? "" : run.err.substr(at);
}

TEST(HostExport, WithoutTimingMapTheModuleRefuses) {
    std::string file = TempPath("nomap.wmv");
    HostRun run = RunHost({"export", "-o", file, "--no-timing", "--frames", "10", "--size", "64x48"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(kNoCompanion), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Output returned 0"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("failed"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(file));
}

TEST(HostExport, WithTimingMapThePresenceTestPasses) {
    std::string file = TempPath("map.wmv");
    for (const char* readOnly : {"", "--timing-readonly"}) {
        std::vector<std::string> args = {"export", "-o", file, "--frames", "10", "--size", "64x48"};
        if (*readOnly) args.push_back(readOnly);
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 0) << readOnly << "\n" << run.err;
        EXPECT_EQ(run.err.find(kNoCompanion), std::string::npos) << readOnly << "\n" << run.err;
        EXPECT_NE(run.err.find("Output returned 1"), std::string::npos) << readOnly << "\n" << run.err;
    }
}

// What a module keeps after Output has returned is its fault, not the editor's: the host names it
// and fails, even though Output reported success.
TEST(HostExport, WhatTheModuleLeavesBehindFailsTheExport) {
    HostRun run = RunHost({"--module", BREVLO_CARELESS_MODULE_PATH, "export", "-o", TempPath("careless.wmv"),
                           "--frames", "3", "--size", "32x16"});
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("Output returned 1"), std::string::npos) << run.err;
    size_t line = run.err.find("brevlo-host: left over after Output: ");
    ASSERT_NE(line, std::string::npos) << run.err;
    std::string what = run.err.substr(line, run.err.find('\n', line) - line);
    EXPECT_NE(what.find("heap: 1 heap block(s) not freed"), std::string::npos) << what;
    EXPECT_NE(what.find("wmvcore: Writer"), std::string::npos) << what;
    // The host's own timing map is withdrawn before the check.
    EXPECT_EQ(what.find("mapping"), std::string::npos) << what;

    // The real module leaves nothing, also when it refuses the job.
    run = RunHost({"export", "-o", TempPath("refused.wmv"), "--no-timing", "--frames", "3", "--size", "32x16"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err.find("left over"), std::string::npos) << run.err;
}

// A module that writes into a buffer after handing it to WriteSample corrupts video on Windows,
// where the runtime reads the buffer later: the stand-in runtime catches it on every run, and the
// host fails the export with what was touched.
TEST(HostExport, AModuleThatTouchesAHandedOverBufferFailsTheExport) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        HostRun run = RunHost({"--module", BREVLO_SCRIBBLING_MODULE_PATH, "export", "-o", TempPath("scribbled.wmv"),
                               "--frames", "5", "--size", "32x16"});
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_NE(run.err.find("Output returned 1"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("wmvcore buffers: a buffer handed to WriteSample (input "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(") was changed after the call"), std::string::npos) << run.err;
    }
}

// The summary line counts what the codes make of the frames, so it shows how a pattern was read.
TEST(HostTiming, PatternSectionsRepeatOverTheFrames) {
    struct Case {
        const char* pattern;
        const char* frames;
        const char* expected;
    } cases[] = {
        {"11111", "12", "12 frames (codes: 12 kept, 0 dropped, 0 long)"},
        {"2222D", "12", "12 frames (codes: 10 kept, 2 dropped, 10 long)"},
        // 2222D2222D then 11111: 15 codes, repeated over 32 frames, the last round cut after 2.
        {"2222D*10,1*5", "32", "32 frames (codes: 28 kept, 4 dropped, 18 long)"},
        {"D*3,2", "5", "5 frames (codes: 1 kept, 4 dropped, 1 long)"},
        {" 1 2 , D ", "6", "6 frames (codes: 4 kept, 2 dropped, 2 long)"},
        {"11\\x00", "9", "9 frames (codes: 2 kept, 0 dropped, 0 long, no timing data from frame 2)"},
        {"\\x44\\xff", "4", "4 frames (codes: 2 kept, 2 dropped, 0 long)"},
    };
    for (const Case& c : cases) {
        HostRun run = RunHost({"export", "-o", TempPath("t.wmv"), "--no-audio", "--size", "32x16", "--timing",
                               c.pattern, "--frames", c.frames});
        EXPECT_EQ(run.exitCode, 0) << c.pattern << "\n" << run.err;
        EXPECT_NE(Summary(run).find(c.expected), std::string::npos) << c.pattern << "\n" << run.err;
    }
    // Codes that let no frame through leave no file to speak of: the export failed.
    for (const char* pattern : {"\\x00", "D"}) {
        HostRun run = RunHost({"export", "-o", TempPath("t.wmv"), "--size", "32x16", "--timing", pattern, "--frames", "4"});
        EXPECT_EQ(run.exitCode, 1) << pattern << "\n" << run.err;
        EXPECT_NE(run.err.find("Output returned 0"), std::string::npos) << pattern << "\n" << run.err;
    }
}

TEST(HostTiming, BadPatternsAreRejectedBeforeAnyExport) {
    struct Case {
        const char* pattern;
        const char* message;
    } cases[] = {
        {"", "section 1 (\"\"): no codes"},
        {"11,,2", "section 2 (\"\"): no codes"},
        {"2222D*", "section 1 (\"2222D*\"): the frame count after '*' must be a whole number"},
        {"1*0", "the frame count after '*' must be a whole number"},
        {"1*x", "the frame count after '*' must be a whole number"},
        {"1*2*3", "the frame count after '*' must be a whole number"},
        {"*5", "section 1 (\"*5\"): no codes"},
        {"1\\q", "bad escape"},
        {"1\\x4", "bad escape"},
    };
    std::string file = TempPath("bad.wmv");
    for (const Case& c : cases) {
        HostRun run = RunHost({"export", "-o", file, "--timing", c.pattern, "--frames", "4"});
        EXPECT_EQ(run.exitCode, 2) << c.pattern;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.pattern << "\n" << run.err;
        EXPECT_EQ(run.err.find("Output returned"), std::string::npos) << c.pattern << "\n" << run.err;
    }
    EXPECT_FALSE(FileExists(file));
}

TEST(HostTiming, FileGivesOneCodePerFrameAsItStands) {
    std::string codes = TempPath("codes.txt");
    WriteFileBytes(codes, "2 2 2 2\tD\n1\r\n1 \\x31\n");
    HostRun run = RunHost({"export", "-o", TempPath("f.wmv"), "--no-audio", "--size", "32x16", "--timing-file", codes,
                           "--frames", "8"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(Summary(run).find("8 frames (codes: 7 kept, 1 dropped, 4 long)"), std::string::npos) << run.err;

    // A file shorter than the clip is not repeated: the frames after it have no timing data. The
    // file's "\x31" is four codes, not an escape.
    run = RunHost({"export", "-o", TempPath("f.wmv"), "--no-audio", "--size", "32x16", "--timing-file", codes,
                   "--frames", "20"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(Summary(run).find("no timing data from frame 11"), std::string::npos) << run.err;

    WriteFileBytes(codes, " \n\t");
    run = RunHost({"export", "-o", TempPath("f.wmv"), "--timing-file", codes});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("holds only white space"), std::string::npos) << run.err;

    run = RunHost({"export", "-o", TempPath("f.wmv"), "--timing-file", TempPath("missing.txt")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("cannot read the timing file"), std::string::npos) << run.err;
}

}  // namespace
