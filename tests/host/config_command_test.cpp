// brevlo-host config: the settings sheet acted on from the command line, as a user would.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/host/host_run.h"
#include "tests/host/settings_blob.h"

namespace {

EncoderSettings StoredSettings() {
    std::string path = TempPath("stored.blob");
    HostRun save = RunHost({"config-blob", "save", path});
    EXPECT_EQ(save.exitCode, 0) << save.err;
    EncoderSettings s{};
    std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.size(), sizeof s);
    if (bytes.size() == sizeof s) std::memcpy(&s, bytes.data(), sizeof s);
    return s;
}

TEST(HostConfig, ActionsReachTheStoreOnlyThroughOk) {
    struct Case {
        const char* name;
        std::vector<std::string> actions;
        int exitCode;
        bool stored;  // the edits below reached the store
    };
    const std::vector<std::string> edits = {"--pick", "Compression=2-pass VBR - constrained", "--type",
                                            "Bit rate=500000", "--type", "1023=700000", "--slide", "Performance=2",
                                            "--tab", "Audio", "--type", "Buffer size=4000"};
    auto with = [&](std::vector<std::string> tail) {
        std::vector<std::string> all = edits;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    const std::vector<Case> cases = {
        {"ok", with({"--ok"}), 0, true},
        {"cancel", with({"--cancel"}), 0, false},
        {"neither", with({}), 0, false},
        {"a disabled control", {"--pick", "1019=#2", "--type", "Bit rate=1", "--ok"}, 1, false},
        {"no such entry", {"--pick", "1019=3-pass", "--ok"}, 1, false},
        {"a control of the other page", {"--type", "1041=1", "--ok"}, 1, false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(StoreSettingsThroughHost(DefaultSettings()).exitCode, 0);
        std::vector<std::string> args = {"config"};
        args.insert(args.end(), c.actions.begin(), c.actions.end());
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << "\n" << run.out << run.err;
        EXPECT_EQ(run.err.find("left over"), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("[Audio]\n"), std::string::npos) << "both pages are printed";
        EncoderSettings s = StoredSettings(), d = DefaultSettings();
        if (c.stored) {
            EXPECT_EQ(s.CompressionMode, 4) << c.name;
            EXPECT_EQ(s.Bitrate, 500000u) << c.name;
            EXPECT_EQ(s.PeakBitrate, 700000u) << c.name;
            EXPECT_EQ(s.Performance, 2) << c.name;
            EXPECT_EQ(s.AudioBufferWindow, 4000u) << c.name;
            EXPECT_NE(run.out.find("Bitrate=500000"), std::string::npos) << run.out;
        } else {
            EXPECT_EQ(std::memcmp(&s.CompressionMode, &d.CompressionMode, sizeof(int32_t)), 0) << c.name;
            EXPECT_EQ(s.Bitrate, d.Bitrate) << c.name;
            EXPECT_EQ(s.AudioBufferWindow, d.AudioBufferWindow) << c.name;
        }
    }
}

TEST(HostConfig, MisplacedActionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"config", "--ok", "--tab", "Audio"},
        {"config", "--type"},
        {"table", "--ok"},
    };
    for (const auto& args : cases) {
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 2) << args.back() << "\n" << run.err;
    }
}

}  // namespace
