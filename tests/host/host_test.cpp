// The stand-in editor and the module as black boxes: what a user of brevlo-host sees.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/version.h"
#include "tests/host/host_run.h"

namespace {

TEST(HostTable, ShowsNameInformationAndFilterPairs) {
    HostRun run = RunHost({"table"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("name: Brevlo(VFR)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("information: Brevlo(VFR) version " BREVLO_VERSION_TEXT "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("filter: WMV File (*.wmv) | *.wmv\nfilter: AllFile (*.*) | *.*\nentries:"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("entries: Output Config ConfigGet ConfigSet\n"), std::string::npos) << run.out;
}

TEST(HostModule, MissingModuleIsReported) {
    HostRun run = RunHost({"--module", "/nonexistent/brevlo.so", "table"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot load /nonexistent/brevlo.so"), std::string::npos) << run.err;
}

TEST(HostOptions, ConflictingAndMalformedOptionsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"export", "-o", "x.wmv", "--timing", "1", "--no-timing"},
        {"export", "-o", "x.wmv", "--size", "640"},
        {"export", "-o", "x.wmv", "--rate", "30/0"},
        {"export", "-o", "x.wmv", "--audio", "48000"},
        {"export", "-o", "x.wmv", "--no-audio", "--no-video"},
        {"export", "-o", "x.wmv", "--input", "a.mp4", "--size", "64x48"},
        {"export", "-o", "x.wmv", "--abort-at", "-1"},
        // Jobs the record's 32-bit counts cannot describe.
        {"export", "-o", "x.wmv", "--size", "27000x27000"},
        {"export", "-o", "x.wmv", "--size", "32768x32768", "--no-audio"},
        {"raw-frames", "-o", "x.raw", "--size", "32768x32768"},
        {"export", "-o", "x.wmv", "--frames", "100000000", "--rate", "1/1", "--audio", "48000/2"},
        {"export", "-o", "x.wmv", "--frames", "2", "--rate", "1/2147483647", "--no-video"},
        {"export"},
        {"frobnicate"},
    };
    for (const auto& args : cases) {
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 2) << args.back() << "\n" << run.err;
        EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("brevlo-host --help"), std::string::npos) << run.err;
    }
}

TEST(HostConfigBlob, WrongSizeIsRefused) {
    std::string blob = TempPath("short.blob");
    WriteFileBytes(blob, std::string(103, '\0'));
    HostRun run = RunHost({"config-blob", "load", blob});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("config-blob load failed"), std::string::npos) << run.err;
}

// The blob the editor keeps in a project: what ConfigSet stored comes back from ConfigGet, field by
// field, for every field the settings keep (not the codec index, frame size, frame rate or the
// reserved word, which the module fills itself).
TEST(HostConfigBlob, RoundTripKeepsTheStoredSettings) {
    std::string first = TempPath("first.blob"), second = TempPath("second.blob");
    HostRun run = RunHost({"config-blob", "save", first});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string blob = ReadFileBytes(first);
    ASSERT_EQ(blob.size(), 104u);
    auto put = [&](size_t offset, uint32_t value) {
        for (int b = 0; b < 4; ++b) blob[offset + b] = static_cast<char>((value >> (8 * b)) & 0xFF);
    };
    put(4, 0);         // CompressionMode: 1-pass CBR
    put(8, 1234567);   // Bitrate
    put(44, 55);       // Quality
    put(48, 4000);     // KeyFrameInterval
    WriteFileBytes(first, blob);
    run = RunHost({"config-blob", "load", first});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    run = RunHost({"config-blob", "save", second});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string back = ReadFileBytes(second);
    ASSERT_EQ(back.size(), 104u);
    for (size_t offset = 0; offset < 104; offset += 4) {
        bool own = offset == 0 || offset == 16 || offset == 20 || offset == 24 || offset == 28 || offset == 76;
        if (own) continue;
        EXPECT_EQ(back.compare(offset, 4, blob, offset, 4), 0) << "field at offset " << offset;
    }
}

// Frames as the module receives them: bottom-up BGR24, rows padded to 4 bytes, the frame index in
// the top band and a white picture below it once a second.
TEST(HostSyntheticClip, TopBandCarriesTheFrameIndex) {
    const int width = 37, height = 24, stride = (width * 3 + 3) & ~3, frames = 70;
    std::string raw = TempPath("clip.raw");
    HostRun run = RunHost({"raw-frames", "-o", raw, "--size", "37x24", "--rate", "25", "--frames", "70"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string bytes = ReadFileBytes(raw);
    ASSERT_EQ(bytes.size(), static_cast<size_t>(stride * height * frames));
    for (int f = 0; f < frames; ++f) {
        const unsigned char* frame = reinterpret_cast<const unsigned char*>(bytes.data()) + static_cast<size_t>(f) * stride * height;
        auto pixel = [&](int x, int yFromTop) { return frame + static_cast<size_t>(height - 1 - yFromTop) * stride + x * 3; };
        int index = 0;
        for (int cell = 0; cell < 16; ++cell) {
            const unsigned char* p = pixel(cell * width / 16 + 1, 1);  // inside the cell, top row
            ASSERT_TRUE((p[0] == 0 || p[0] == 255) && p[0] == p[1] && p[1] == p[2]) << "frame " << f;
            index = index * 2 + (p[0] == 255);
        }
        EXPECT_EQ(index, f);
        bool white = true;
        for (int y = height / 8; y < height; ++y) {
            for (int x = 0; x < width; ++x) white = white && pixel(x, y)[0] == 255 && pixel(x, y)[1] == 255 && pixel(x, y)[2] == 255;
        }
        EXPECT_EQ(white, f % 25 == 0) << "frame " << f;
        for (int pad = width * 3; pad < stride; ++pad) EXPECT_EQ(frame[pad], 0) << "frame " << f;
    }
}

}  // namespace

namespace {

// A clip FFmpeg reads, stored losslessly, comes out as the same pixels: right way up (bottom-up
// rows), in BGR order, rows padded to 4 bytes, every frame.
TEST(HostDecodedClip, FramesMatchWhatFfmpegDecodes) {
    const int width = 33, height = 20, frames = 12, stride = (width * 3 + 3) & ~3;
    std::string clip = TempPath("clip.mkv"), reference = TempPath("clip-ref.raw"), raw = TempPath("clip.raw");
    std::string make = "ffmpeg -v error -y -f lavfi -i testsrc=size=33x20:rate=24 -frames:v 12 -c:v ffv1 -pix_fmt bgr0 '" +
                       clip + "' && ffmpeg -v error -y -i '" + clip + "' -f rawvideo -pix_fmt bgr24 '" + reference + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    HostRun run = RunHost({"raw-frames", "-o", raw, "--input", clip});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("12 frames of 33x20"), std::string::npos) << run.err;
    std::string ours = ReadFileBytes(raw), theirs = ReadFileBytes(reference);
    ASSERT_EQ(ours.size(), static_cast<size_t>(stride * height * frames));
    ASSERT_EQ(theirs.size(), static_cast<size_t>(width * 3 * height * frames));
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < height; ++y) {
            size_t mine = static_cast<size_t>(f) * stride * height + static_cast<size_t>(height - 1 - y) * stride;
            size_t top = (static_cast<size_t>(f) * height + y) * width * 3;
            ASSERT_EQ(ours.compare(mine, width * 3, theirs, top, width * 3), 0) << "frame " << f << " row " << y;
        }
    }

    run = RunHost({"raw-frames", "-o", raw, "--input", TempPath("no-such-clip.mkv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot open"), std::string::npos) << run.err;
}

}  // namespace
