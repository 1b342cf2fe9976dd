#include "tests/host/recording.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/standin/utf8.h"

const char kVideoConnection[] = "TamselVideo1";
const char kAudioConnection[] = "TamselAudio1";

namespace {

constexpr uint64_t kUnitsPerSecond = 10000000;

// A flat JSON object whose values are strings or unsigned whole numbers.
struct FlatObjectReader {
    explicit FlatObjectReader(const std::string& line) : text(line) {}

    const std::string& text;
    size_t at = 0;
    std::string error;

    void SkipSpace() {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\r')) ++at;
    }
    bool Expect(char c) {
        SkipSpace();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        error = std::string("expected '") + c + "' at column " + std::to_string(at + 1);
        return false;
    }
    bool Hex4(uint32_t& value) {
        if (at + 4 > text.size()) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[at++];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return false;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return true;
    }
    bool String(std::string& out) {
        if (!Expect('"')) return false;
        out.clear();
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at >= text.size()) break;
            char e = text[at++];
            uint32_t code = 0;
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'r': out += '\r'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'u':
                    if (!Hex4(code)) {
                        error = "bad \\u escape at column " + std::to_string(at);
                        return false;
                    }
                    if (code >= 0xD800 && code < 0xDC00 && at + 6 <= text.size() && text[at] == '\\' && text[at + 1] == 'u') {
                        size_t back = at;
                        at += 2;
                        uint32_t low = 0;
                        if (Hex4(low) && low >= 0xDC00 && low < 0xE000) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            at = back;
                        }
                    }
                    standin::AppendUtf8(out, code);
                    break;
                default:
                    error = std::string("bad escape \\") + e + " at column " + std::to_string(at);
                    return false;
            }
        }
        if (at >= text.size()) {
            error = "unterminated string";
            return false;
        }
        ++at;
        return true;
    }
    bool Number(uint64_t& value) {
        SkipSpace();
        size_t start = at;
        value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            uint64_t digit = static_cast<uint64_t>(text[at] - '0');
            if (value > (UINT64_MAX - digit) / 10) {
                error = "number too large at column " + std::to_string(start + 1);
                return false;
            }
            value = value * 10 + digit;
            ++at;
        }
        if (at == start) {
            error = "expected a string or a whole number at column " + std::to_string(start + 1);
            return false;
        }
        return true;
    }
    // Fills `strings` and `numbers` by key.
    bool Read(std::map<std::string, std::string>& strings, std::map<std::string, uint64_t>& numbers) {
        if (!Expect('{')) return false;
        SkipSpace();
        if (at < text.size() && text[at] == '}') {
            ++at;
        } else {
            while (true) {
                std::string key;
                if (!String(key) || !Expect(':')) return false;
                SkipSpace();
                if (at < text.size() && text[at] == '"') {
                    std::string value;
                    if (!String(value)) return false;
                    strings[key] = value;
                } else {
                    uint64_t value = 0;
                    if (!Number(value)) return false;
                    numbers[key] = value;
                }
                SkipSpace();
                if (at < text.size() && text[at] == ',') {
                    ++at;
                    continue;
                }
                if (!Expect('}')) return false;
                break;
            }
        }
        SkipSpace();
        if (at != text.size()) {
            error = "text after the object at column " + std::to_string(at + 1);
            return false;
        }
        return true;
    }
};

bool ParseRecordedLine(const std::string& text, RecordedLine& line, std::string& error) {
    FlatObjectReader reader(text);
    std::map<std::string, std::string> strings;
    std::map<std::string, uint64_t> numbers;
    if (!reader.Read(strings, numbers)) {
        error = reader.error;
        return false;
    }
    auto number = [&](const char* key, uint64_t most, uint64_t& value) {
        auto it = numbers.find(key);
        if (it == numbers.end()) {
            error = std::string("no number \"") + key + "\"";
            return false;
        }
        if (it->second > most) {
            error = std::string("\"") + key + "\" out of range";
            return false;
        }
        value = it->second;
        return true;
    };
    auto string = [&](const char* key, std::string& value) {
        auto it = strings.find(key);
        if (it == strings.end()) {
            error = std::string("no string \"") + key + "\"";
            return false;
        }
        value = it->second;
        return true;
    };
    uint64_t input = 0, pass = 0, flags = 0, size = 0;
    if (!number("input", UINT32_MAX, input) || !number("pass", UINT32_MAX, pass) ||
        !number("time", UINT64_MAX, line.time) || !number("flags", UINT32_MAX, flags) ||
        !number("size", UINT32_MAX, size) || !string("connection", line.connection) || !string("hash", line.hash)) {
        return false;
    }
    line.input = static_cast<uint32_t>(input);
    line.pass = static_cast<uint32_t>(pass);
    line.flags = static_cast<uint32_t>(flags);
    line.size = static_cast<uint32_t>(size);
    return true;
}

}  // namespace

bool ReadRecording(const std::string& path, std::vector<RecordedLine>& lines, std::string& error) {
    lines.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string text;
    for (size_t number = 1; std::getline(in, text); ++number) {
        if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
        RecordedLine line;
        std::string reason;
        if (!ParseRecordedLine(text, line, reason)) {
            error = path + " line " + std::to_string(number) + ": " + reason;
            return false;
        }
        lines.push_back(line);
    }
    return true;
}

std::vector<RecordedLine> SelectLines(const std::vector<RecordedLine>& lines, const std::string& connection,
                                      uint32_t pass) {
    std::vector<RecordedLine> out;
    for (const RecordedLine& line : lines) {
        if (line.connection == connection && line.pass == pass) out.push_back(line);
    }
    return out;
}

std::vector<uint32_t> PassesOf(const std::vector<RecordedLine>& lines, const std::string& connection) {
    std::vector<uint32_t> passes;
    for (const RecordedLine& line : lines) {
        if (line.connection == connection && std::find(passes.begin(), passes.end(), line.pass) == passes.end()) {
            passes.push_back(line.pass);
        }
    }
    std::sort(passes.begin(), passes.end());
    return passes;
}

std::vector<uint64_t> TimesOf(const std::vector<RecordedLine>& lines) {
    std::vector<uint64_t> times;
    for (const RecordedLine& line : lines) times.push_back(line.time);
    return times;
}

ExpectedVideo ExpectVideoTimeline(const std::string& codes, int32_t rate, int32_t scale, int32_t frameCount) {
    ExpectedVideo video;
    if (rate <= 0 || scale <= 0) return video;
    // The durations are rounded once, the long one from the rounded nominal one.
    video.nominal = static_cast<uint64_t>(scale) * kUnitsPerSecond / static_cast<uint64_t>(rate);
    video.longer = video.nominal * 5 / 4;
    uint64_t time = 0;
    for (int32_t frame = 0; frame < frameCount; ++frame) {
        unsigned char code = static_cast<size_t>(frame) < codes.size() ? static_cast<unsigned char>(codes[frame]) : 0;
        if (code == 0) {
            video.endedAt = frame;
            break;
        }
        if (code == 'D') {
            ++video.dropped;
            continue;
        }
        ExpectedFrame kept;
        kept.frame = frame;
        kept.time = time;
        kept.longFrame = code == '2';
        video.kept.push_back(kept);
        if (kept.longFrame) ++video.longFrames;
        time += kept.longFrame ? video.longer : video.nominal;
    }
    video.end = time;
    return video;
}

std::vector<uint64_t> TimesOf(const ExpectedVideo& video) {
    std::vector<uint64_t> times;
    for (const ExpectedFrame& f : video.kept) times.push_back(f.time);
    return times;
}

std::vector<int32_t> FramesOf(const ExpectedVideo& video) {
    std::vector<int32_t> frames;
    for (const ExpectedFrame& f : video.kept) frames.push_back(f.frame);
    return frames;
}

std::string RepeatCodesOver(const std::string& codes, int32_t frames) {
    std::string out;
    for (int32_t i = 0; !codes.empty() && i < frames; ++i) out += codes[static_cast<size_t>(i) % codes.size()];
    return out;
}

std::vector<ExpectedAudioBlock> ExpectFrameAudio(const ExpectedVideo& video, int32_t frameCount,
                                                 int32_t sampleCount, int32_t audioRate) {
    std::vector<ExpectedAudioBlock> blocks;
    if (frameCount <= 0 || audioRate <= 0) return blocks;
    auto gridPoint = [&](int64_t k) { return static_cast<int64_t>(sampleCount) * k / frameCount; };
    int32_t after = 0;  // the first frame after the previous kept one
    for (const ExpectedFrame& f : video.kept) {
        ExpectedAudioBlock block;
        block.first = gridPoint(after);
        block.count = gridPoint(f.frame + 1) - block.first;
        block.time = static_cast<uint64_t>(block.first) * kUnitsPerSecond / static_cast<uint64_t>(audioRate);
        if (block.count > 0) blocks.push_back(block);
        after = f.frame + 1;
    }
    return blocks;
}

std::vector<ExpectedAudioBlock> ExpectHalfSecondAudio(int32_t sampleCount, int32_t audioRate) {
    std::vector<ExpectedAudioBlock> blocks;
    const int64_t length = audioRate / 2;
    if (length <= 0) return blocks;
    for (int64_t first = 0; first < sampleCount; first += length) {
        ExpectedAudioBlock block;
        block.first = first;
        block.count = std::min<int64_t>(length, sampleCount - first);
        block.time = static_cast<uint64_t>(first) * kUnitsPerSecond / static_cast<uint64_t>(audioRate);
        blocks.push_back(block);
    }
    return blocks;
}

HostSummary ParseSummary(const std::string& err) {
    HostSummary summary;
    // The summary is the line that reports Output's result.
    size_t result = err.find("Output returned ");
    if (result == std::string::npos) return summary;
    size_t start = err.rfind('\n', result);
    start = start == std::string::npos ? 0 : start + 1;
    size_t end = err.find('\n', result);
    const std::string line = err.substr(start, end == std::string::npos ? std::string::npos : end - start);
    summary.found = true;
    summary.outputResult = std::atoi(err.c_str() + result + std::strlen("Output returned "));
    summary.aborted = line.find("(aborted)") != std::string::npos;

    auto numberBefore = [&](const std::string& word) -> int64_t {
        size_t at = line.find(word);
        if (at == std::string::npos) return -1;
        size_t digits = at;
        while (digits > 0 && line[digits - 1] >= '0' && line[digits - 1] <= '9') --digits;
        return digits == at ? -1 : std::atoll(line.c_str() + digits);
    };
    auto numberAfter = [&](const std::string& word) -> int64_t {
        size_t at = line.find(word);
        if (at == std::string::npos) return -1;
        at += word.size();
        return at < line.size() && line[at] >= '0' && line[at] <= '9' ? std::atoll(line.c_str() + at) : -1;
    };
    summary.frames = static_cast<int32_t>(numberBefore(" frames"));
    summary.kept = static_cast<int32_t>(numberBefore(" kept"));
    summary.dropped = static_cast<int32_t>(numberBefore(" dropped"));
    summary.longFrames = static_cast<int32_t>(numberBefore(" long"));
    summary.noDataFrom = static_cast<int32_t>(numberAfter("no timing data from frame "));
    summary.samplesHandedOver = numberBefore(" of ");
    summary.sampleCount = numberAfter(" of ");
    return summary;
}

RecordedExport RunRecordedExport(const std::string& name, const std::vector<std::string>& options) {
    RecordedExport out;
    out.file = TempPath(name + ".wmv");
    const std::string record = TempPath(name + ".jsonl");
    std::remove(out.file.c_str());
    std::remove(record.c_str());
    std::vector<std::string> arguments = {"export", "-o", out.file, "--record", record};
    arguments.insert(arguments.end(), options.begin(), options.end());
    out.run = RunHost(arguments);
    out.summary = ParseSummary(out.run.err);
    if (!ReadRecording(record, out.lines, out.readError) && out.readError.empty()) out.readError = "unreadable";
    std::remove(record.c_str());
    return out;
}

std::vector<std::string> FrameHashes(const std::string& raw, size_t frameBytes) {
    std::vector<std::string> hashes;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= raw.size(); at += frameBytes) {
        uint64_t h = 0xcbf29ce484222325ull;
        for (size_t k = at; k < at + frameBytes; ++k) {
            h ^= static_cast<unsigned char>(raw[k]);
            h *= 0x100000001b3ull;
        }
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
        hashes.push_back(text);
    }
    return hashes;
}
