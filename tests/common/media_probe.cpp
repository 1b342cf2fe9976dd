#include "tests/common/media_probe.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

std::string RunCommand(const std::string& command, bool* ok) {
    std::string out;
    if (ok) *ok = false;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    if (ok) *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::vector<ProbedPacket> ProbePackets(const std::string& file) {
    bool ok = false;
    std::string text = RunCommand(
        "ffprobe -v error -show_entries packet=stream_index,pts,size,flags -of csv=p=0 " + ShellQuoted(file), &ok);
    EXPECT_TRUE(ok) << "ffprobe could not read " << file;
    std::vector<ProbedPacket> packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ProbedPacket p;
        char flags[16] = {};
        long long pts = 0, size = 0;
        if (std::sscanf(line.c_str(), "%d,%lld,%lld,%15s", &p.stream, &pts, &size, flags) != 4) continue;
        p.ptsMs = pts;
        p.size = size;
        p.key = flags[0] == 'K';
        packets.push_back(p);
    }
    return packets;
}

std::vector<ProbedPacket> ProbePacketsWithGstreamer(const std::string& file, const std::string& pad) {
    bool ok = false;
    // fakesink reports every buffer it takes: "(N bytes, dts: …, pts: H:MM:SS.nnnnnnnnn, …, flags: HEX …".
    std::string text = RunCommand("gst-launch-1.0 -v filesrc location=" + ShellQuoted(file) +
                                      " ! asfdemux name=d d." + pad + " ! fakesink silent=false 2>&1",
                                  &ok);
    EXPECT_TRUE(ok) << "GStreamer could not read " << file << "\n" << text.substr(0, 2000);
    std::vector<ProbedPacket> packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t chain = line.find("chain   ******* (");
        if (chain == std::string::npos) continue;
        ProbedPacket p;
        long long bytes = 0;
        unsigned hours = 0, minutes = 0, seconds = 0, nanoseconds = 0, flags = 0;
        size_t open = line.find('(', line.find(')', chain) + 1);
        size_t pts = line.find("pts: ", chain), flagsAt = line.find("flags: ", chain);
        if (open == std::string::npos || pts == std::string::npos || flagsAt == std::string::npos) continue;
        if (std::sscanf(line.c_str() + open, "(%lld bytes", &bytes) != 1 ||
            std::sscanf(line.c_str() + pts, "pts: %u:%u:%u.%u", &hours, &minutes, &seconds, &nanoseconds) != 4 ||
            std::sscanf(line.c_str() + flagsAt, "flags: %x", &flags) != 1) {
            continue;
        }
        p.size = bytes;
        p.ptsMs = ((static_cast<int64_t>(hours) * 60 + minutes) * 60 + seconds) * 1000 + nanoseconds / 1000000;
        p.key = (flags & 0x2000) == 0;  // GST_BUFFER_FLAG_DELTA_UNIT
        packets.push_back(p);
    }
    return packets;
}

std::vector<ProbedPacket> PacketsOfStream(const std::vector<ProbedPacket>& packets, int stream) {
    std::vector<ProbedPacket> out;
    for (const ProbedPacket& p : packets) {
        if (p.stream == stream) out.push_back(p);
    }
    return out;
}

std::vector<ProbedStream> ProbeStreams(const std::string& file) {
    bool ok = false;
    std::string text = RunCommand("ffprobe -v error -show_entries "
                                  "stream=index,codec_name,codec_type,width,height,sample_rate,channels,"
                                  "sample_aspect_ratio,display_aspect_ratio:stream_tags=language "
                                  "-of default=nw=0 " +
                                      ShellQuoted(file),
                                  &ok);
    EXPECT_TRUE(ok) << "ffprobe could not read " << file;
    std::vector<ProbedStream> streams;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "[STREAM]") streams.emplace_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos && !streams.empty()) streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

std::string DecodeWithFfmpeg(const std::string& file, const std::string& outputArguments) {
    bool ok = false;
    std::string out = RunCommand("ffmpeg -v error -i " + ShellQuoted(file) + " " + outputArguments + " -", &ok);
    EXPECT_TRUE(ok) << "ffmpeg could not decode " << file;
    return out;
}

std::string DecodeVideoFrames(const std::string& file, const std::string& pixelFormat, const std::string& extra) {
    return DecodeWithFfmpeg(file, "-map 0:v -fps_mode passthrough " + extra + " -f rawvideo -pix_fmt " + pixelFormat);
}

std::vector<int16_t> DecodeAudioMono(const std::string& file, int rate) {
    std::string raw = DecodeWithFfmpeg(file, "-map 0:a -f s16le -ac 1 -ar " + std::to_string(rate));
    std::vector<int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

int64_t PrimingLeadMs(int sampleRate) {
    const int64_t frame = sampleRate >= 32000 ? 2048 : sampleRate >= 22050 ? 1024 : 512;
    return (2 * frame * 1000 + sampleRate - 1) / sampleRate;
}

std::vector<int16_t> DecodeAudioAsPlayed(const std::string& file, int rate, Player player) {
    std::string raw;
    if (player == Player::Ffmpeg) {
        raw = DecodeWithFfmpeg(file, "-map 0:a -af aresample=async=1:first_pts=0 -f s16le -ac 1 -ar " +
                                         std::to_string(rate));
    } else {
        bool ok = false;
        raw = RunCommand("gst-launch-1.0 -q filesrc location=" + ShellQuoted(file) +
                             " ! asfdemux name=d d.audio_0 ! decodebin ! audioconvert ! audioresample ! audiorate"
                             " ! audio/x-raw,format=S16LE,channels=1,rate=" +
                             std::to_string(rate) + " ! fdsink fd=1",
                         &ok);
        EXPECT_TRUE(ok) << "GStreamer could not decode " << file;
    }
    std::vector<int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

std::vector<int64_t> LoudOnsets(const std::vector<int16_t>& samples, int level, int64_t quietGap) {
    std::vector<int64_t> onsets;
    int64_t lastLoud = -1;
    for (int64_t i = 0; i < static_cast<int64_t>(samples.size()); ++i) {
        if (std::abs(samples[static_cast<size_t>(i)]) <= level) continue;
        if (lastLoud < 0 || i - lastLoud > quietGap) onsets.push_back(i);
        lastLoud = i;
    }
    return onsets;
}
