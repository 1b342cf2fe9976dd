// ffprobe and ffmpeg as outside judges of the files the system writes: what they read from a file
// is what any player would, with nothing of ours in between.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Runs a shell command and returns its standard output; `ok` tells whether it exited with 0.
std::string RunCommand(const std::string& command, bool* ok = nullptr);

// `text` as one word for the shell.
std::string ShellQuoted(const std::string& text);

struct ProbedPacket {
    int stream = 0;
    int64_t ptsMs = 0;  // the file counts in milliseconds
    int64_t size = 0;
    bool key = false;
};

// Every packet of the file in file order (a failure to read the file fails the test).
std::vector<ProbedPacket> ProbePackets(const std::string& file);

// The same through GStreamer, a second reader that shares no demuxer with FFmpeg: the buffers its
// own ASF demuxer (asfdemux) gives out on `pad` ("video_0", "audio_0"), in order, with their times
// in ms and whether they are key frames. `stream` is 0 for every packet.
std::vector<ProbedPacket> ProbePacketsWithGstreamer(const std::string& file, const std::string& pad);

// The packets of one stream, in file order.
std::vector<ProbedPacket> PacketsOfStream(const std::vector<ProbedPacket>& packets, int stream);

// ffprobe's key=value lines for each stream, in file order: index, codec_name, codec_type, width,
// height, sample_rate, channels, sample_aspect_ratio, display_aspect_ratio, TAG:language.
using ProbedStream = std::map<std::string, std::string>;
std::vector<ProbedStream> ProbeStreams(const std::string& file);

// What ffmpeg writes to its standard output for `-i file <outputArguments> -` (a failure to
// decode fails the test).
std::string DecodeWithFfmpeg(const std::string& file, const std::string& outputArguments);

// Every stored video frame, one after another, as raw pictures in `pixelFormat` ("gray",
// "rgb24"…): none repeated or left out for a constant output rate. `extra` goes before the format
// options (e.g. "-frames:v 1").
std::string DecodeVideoFrames(const std::string& file, const std::string& pixelFormat,
                              const std::string& extra = "");

// The audio mixed down to one channel of 16-bit samples at `rate`.
std::vector<int16_t> DecodeAudioMono(const std::string& file, int rate);

// How much later than the writer's times every stream of a file with audio at `sampleRate` lies:
// the codec's priming (two frames of 2048 samples at 32 kHz and above, 1024 at 22.05 kHz, 512
// below), in whole ms rounded up, so that no packet lies before 0.
int64_t PrimingLeadMs(int sampleRate);

// The audio as a player places it on the file's time line: one channel of 16-bit samples at
// `rate`, sample 0 at time 0, silence where the file has no sound and overlapping output dropped,
// as FFmpeg (aresample's time stamp compensation) or GStreamer (asfdemux, the FFmpeg-based
// decoder, audiorate) play it.
enum class Player { Ffmpeg, Gstreamer };
std::vector<int16_t> DecodeAudioAsPlayed(const std::string& file, int rate, Player player);

// Where sounds louder than `level` start: the first sample past it, and again only after
// `quietGap` samples at or below it.
std::vector<int64_t> LoudOnsets(const std::vector<int16_t>& samples, int level, int64_t quietGap);
