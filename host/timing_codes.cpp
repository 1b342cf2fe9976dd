#include "host/timing_codes.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/host_platform.h"
#include "platform/standin/utf8.h"

namespace {

// Bounds on what a timing file may hold besides its codes.
constexpr size_t kMostSpaceInARow = 1 << 20;
constexpr uint64_t kMostAfterTheCodes = 1 << 20;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the codes of `text` (white space skipped, "\xHH" escapes, `stops` not allowed as codes).
bool ReadCodes(const std::string& text, const char* stops, std::string& codes, std::string& error) {
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (IsSpace(c)) continue;
        if (c == '\\') {
            if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 &&
                HexValue(text[i + 3]) >= 0) {
                codes.push_back(static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3])));
                i += 3;
                continue;
            }
            error = "bad escape at \"" + standin::PrintableBytes(text.substr(i, 4)) +
                    "\" (write a byte as \\xHH, e.g. \\x00)";
            return false;
        }
        for (const char* s = stops; *s; ++s) {
            if (c == *s) {
                error = std::string("'") + c + "' cannot be a code";
                return false;
            }
        }
        codes.push_back(c);
    }
    return true;
}

}  // namespace

bool ParseTimingPattern(const std::string& pattern, int32_t frameCount, std::string& codes, std::string& error) {
    codes.clear();
    const size_t wanted = frameCount > 0 ? static_cast<size_t>(frameCount) : 0;
    size_t start = 0;
    int index = 0;
    while (true) {
        size_t comma = pattern.find(',', start);
        std::string section = pattern.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        ++index;
        std::string where =
            "timing pattern section " + std::to_string(index) + " (\"" + standin::PrintableBytes(section) + "\"): ";
        std::string body = section;
        long long frames = -1;
        size_t star = section.find('*');
        if (star != std::string::npos) {
            body = section.substr(0, star);
            std::string count = section.substr(star + 1);
            size_t first = count.find_first_not_of(" \t");
            size_t last = count.find_last_not_of(" \t");
            count = first == std::string::npos ? "" : count.substr(first, last - first + 1);
            bool digits = !count.empty() && count.size() <= 9;
            for (char c : count) digits = digits && c >= '0' && c <= '9';
            if (!digits || std::stoll(count) == 0) {
                error = where + "the frame count after '*' must be a whole number from 1 to 999999999";
                return false;
            }
            frames = std::stoll(count);
        }
        std::string sectionCodes;
        std::string reason;
        if (!ReadCodes(body, "*", sectionCodes, reason)) {
            error = where + reason;
            return false;
        }
        if (sectionCodes.empty()) {
            error = where + "no codes";
            return false;
        }
        // Only as far as the clip goes: what a section says past the last frame is never used.
        const size_t length = frames >= 0 ? static_cast<size_t>(frames) : sectionCodes.size();
        const size_t room = wanted - codes.size();
        codes += RepeatCodes(sectionCodes, static_cast<int32_t>(std::min(length, room)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    codes = RepeatCodes(codes, frameCount);
    return true;
}

bool ReadTimingFile(const std::string& path, int32_t frameCount, std::string& codes, std::string& error) {
    codes.clear();
    const std::string name = "the timing file " + path;
    const std::string native = NativePath(path);
    std::error_code e;
    if (std::filesystem::is_directory(native, e)) {
        error = name + " is a folder";
        return false;
    }
    std::ifstream in(native, std::ios::binary);
    if (!in) {
        error = "cannot read " + name;
        return false;
    }
    const size_t wanted = frameCount > 0 ? static_cast<size_t>(frameCount) : 0;
    size_t spaceRun = 0;
    uint64_t bytesRead = 0;
    // Takes the codes of `bytes`; false once the clip has its codes or the file is refused.
    auto take = [&](const char* bytes, size_t length) {
        bytesRead += length;
        for (size_t i = 0; i < length; ++i) {
            if (codes.size() >= wanted) return false;
            if (!IsSpace(bytes[i])) {
                codes.push_back(bytes[i]);
                spaceRun = 0;
            } else if (++spaceRun > kMostSpaceInARow) {
                error = name + " holds more than " + std::to_string(kMostSpaceInARow) +
                        " bytes of white space in a row after " + std::to_string(codes.size()) + " codes";
                return false;
            }
        }
        return codes.size() < wanted;
    };
    char buffer[4096];
    in.read(buffer, 3);
    const std::string head(buffer, static_cast<size_t>(in.gcount()));
    if (head.compare(0, 2, "\xFF\xFE") == 0 || head.compare(0, 2, "\xFE\xFF") == 0) {
        error = name + " is UTF-16 text; write its codes as plain (ASCII or UTF-8) text";
        return false;
    }
    // A UTF-8 byte-order mark, as some editors write, is no code.
    bool more = head == "\xEF\xBB\xBF" ? (bytesRead += 3, codes.size() < wanted) : take(head.data(), head.size());
    while (more && in) {
        in.read(buffer, sizeof buffer);
        more = take(buffer, static_cast<size_t>(in.gcount()));
    }
    if (!error.empty()) return false;
    // A file may hold more codes than the clip has frames; one that never ends (a device, a pipe
    // that goes on) is not a timing file.
    if (in && !std::filesystem::is_regular_file(native, e)) {
        uint64_t after = 0;
        while (in && after <= kMostAfterTheCodes) {
            in.read(buffer, sizeof buffer);
            after += static_cast<uint64_t>(in.gcount());
        }
        if (after > kMostAfterTheCodes) {
            error = name + " does not end: it goes on for more than " + std::to_string(kMostAfterTheCodes) +
                    " bytes past the " + std::to_string(codes.size()) + " codes the clip needs";
            return false;
        }
    }
    if (codes.empty() && wanted > 0) {
        error = name + (bytesRead == 0 ? " is empty" : " holds only white space");
        return false;
    }
    return true;
}

std::string RepeatCodes(const std::string& pattern, int32_t frameCount) {
    std::string codes;
    if (pattern.empty() || frameCount <= 0) return codes;
    codes.reserve(static_cast<size_t>(frameCount));
    while (codes.size() < static_cast<size_t>(frameCount)) {
        codes.append(pattern, 0, std::min(pattern.size(), static_cast<size_t>(frameCount) - codes.size()));
    }
    return codes;
}

TimelineCounts CountTimeline(const std::string& codes, int32_t frameCount, int32_t rate, int32_t scale) {
    TimelineCounts counts;
    uint64_t nominal = rate > 0 && scale > 0 ? static_cast<uint64_t>(scale) * 10000000u / static_cast<uint64_t>(rate) : 0;
    uint64_t longer = nominal * 5 / 4;
    for (int32_t i = 0; i < frameCount; ++i) {
        char code = static_cast<size_t>(i) < codes.size() ? codes[static_cast<size_t>(i)] : 0;
        if (code == 0) {
            counts.stoppedAt = i;
            break;
        }
        if (code == 'D') {
            ++counts.dropped;
            continue;
        }
        ++counts.kept;
        if (code == '2') {
            ++counts.longFrames;
            counts.duration += longer;
        } else {
            counts.duration += nominal;
        }
    }
    return counts;
}
