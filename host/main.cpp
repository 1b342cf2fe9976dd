// brevlo-host: the stand-in editor. It loads the plug-in module, reads its table, and drives its
// entry points the way the editor does: an export with a job record and the editor's callbacks,
// and the configuration blob the editor keeps in a project.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/clip_source.h"
#include "host/module_loader.h"
#include "host/progress.h"
#include "host/same_file.h"
#include "host/timing_codes.h"
#include "host/host_options.h"
#include "host/host_platform.h"
#include "host/host_text.h"
#include "platform/standin/utf8.h"
#include "plugin/host_job.h"
#include "settings/encoder_settings.h"

namespace {

// Only in a build that reads clip files.
const char kInputUsage[] =
    "  --input FILE               decode FILE with FFmpeg instead (its size, frame rate, audio\n"
    "                             rate and channels; a variable-rate clip is shown at its frame\n"
    "                             rate by its time stamps)\n";

const char kUsage[] =
    "usage: brevlo-host [--module PATH] COMMAND [OPTIONS]\n"
    "\n"
    "The stand-in editor: loads the output plug-in module and drives it as the editor does.\n"
    "\n"
    "Commands:\n"
    "  table                      print the plug-in table: name, information line, filter pairs\n"
    "  export -o FILE [OPTIONS]   export a clip through the module's Output entry\n"
    "  config [ACTIONS]           Config: show the settings sheet, act on it as a user, print the\n"
    "                             stored settings afterwards\n"
    "  config-blob save FILE      ConfigGet into FILE (the blob the editor keeps in a project)\n"
    "  config-blob load FILE      ConfigSet with the bytes of FILE\n"
    "  raw-frames -o FILE [SOURCE OPTIONS]\n"
    "                             write the source's frames as they are handed to the module\n"
    "                             (bottom-up BGR24 rows padded to 4 bytes), one after another\n"
    "  help                       this text\n"
    "\n"
    "Global option:\n"
    "  --module PATH              the module to load (default: brevlo.so next to brevlo-host)\n"
    "\n"
    "Source options (export, raw-frames):\n"
    "  --size WxH                 picture size of the synthetic clip (default 640x360)\n"
    "  --rate R/S                 frame rate Rate/Scale (default 30000/1001; R alone means R/1)\n"
    "  --frames N                 number of frames (default 300); of a clip file: at most N\n"
    "  --audio RATE/CHANNELS      audio of the synthetic clip (default 48000/2)\n"
    "  --no-audio                 a job without audio\n"
    "  --no-video                 a job without video\n"
    "  --pattern bars|noise       synthetic picture: bars (default; frame index in the top band,\n"
    "                             a white picture and an audio click once a second) or noise (the\n"
    "                             noisy test pattern of the benchmark)\n"
    "%s"
    "\n"
    "Export options:\n"
    "  -o FILE                    the output path handed to the module\n"
    "  --timing PATTERN           frame-timing codes, repeated over the frames (default 1):\n"
    "                             sections joined by ',', each CODES or CODES*N (over N frames),\n"
    "                             e.g. 11111, 2222D, 2222D*60,11111*30; \\xHH is any byte (\\x00:\n"
    "                             no timing data). 'D' drops a frame, '2' lasts 5/4, others nominal\n"
    "  --timing-file FILE         one code per frame: a text of code characters, white space\n"
    "                             ignored, taken as it stands (no \\x escapes; a leading UTF-8\n"
    "                             byte-order mark is skipped; a shorter file gives a shorter map),\n"
    "                             read as far as the clip's frames need\n"
    "  --no-timing                publish no timing map (the companion plug-in is not running)\n"
    "  --timing-readonly          publish the timing map read-only\n"
    "  --key-every N              QueryFrameFlags marks frame 0 and every N-th frame as a key\n"
    "                             frame (default 300; 0: frame 0 only)\n"
    "  --record FILE              record what the media runtime receives, as JSON lines:\n"
    "                             {\"input\":N,\"connection\":\"...\",\"pass\":P,\"time\":T,\n"
    "                             \"flags\":F,\"size\":S,\"hash\":\"...\"} (pass 0 writes, 1... preprocess)\n"
    "  --abort-at FRAME           ask the module to stop (AbortRequested answers 1) once it has\n"
    "                             fetched frame FRAME or a later one, in any pass: a Ctrl-C at a\n"
    "                             known frame\n"
    "  --message-log FILE         write the message boxes the module showed as JSON lines:\n"
    "                             {\"caption\":\"...\",\"text\":\"...\",\"style\":S} (S: icon and\n"
    "                             buttons, 16 = MB_ICONERROR | MB_OK); each box is also printed as\n"
    "                             [caption] text on standard error and answered with OK\n"
    "\n"
    "Config actions, done in order on the sheet (a control is named by its id or by its label,\n"
    "e.g. 1021 or \"Bit rate\"; only the controls of the page shown can be reached):\n"
    "  --tab Video|Audio          select that tab\n"
    "  --pick ID=TEXT, --pick ID=#N\n"
    "                             pick the combo entry with that text, or entry N (from 0)\n"
    "  --type ID=TEXT             select the edit's text and type TEXT over it, key by key (an\n"
    "                             empty TEXT deletes it); the page checks every keystroke\n"
    "  --check ID                 click the check box\n"
    "  --slide ID=POS             drag the slider to POS and release it\n"
    "  --key-slide ID=POS         move the slider to POS with the arrow keys\n"
    "  --hold NAME                print \"hold NAME\" and wait for a line on standard input (a pause\n"
    "                             to look at the sheet, e.g. for a screenshot)\n"
    "  --ok, --cancel             press OK or Cancel (last; neither: Cancel after the actions)\n"
    "Both pages are printed when shown and again before the sheet closes. Exit status 0, 1 when an\n"
    "action could not be done (the sheet is then cancelled), 3 when something is left over.\n"
    "\n"
    "An output (-o, --record, --message-log, config-blob save's FILE) that is the same file as an\n"
    "input (the clip, --timing-file, the module) or as another output is a usage error. The export\n"
    "shows a progress bar on standard error when it is a terminal; Ctrl-C,\n"
    "SIGTERM and SIGHUP ask the module to stop (the file is ended and holds what was written; exit\n"
    "status 128 + the signal), a second signal or SIGQUIT ends the host at once. When the platform\n"
    "refuses a call, one line says which and why. Exit status: 0 when Output returned 1,\n"
    "1 when it returned 0 (\"failed\"), 2 for a usage error, 3 when the platform stand-ins still\n"
    "hold something the module obtained (objects, references, heap blocks, mappings, registry keys)\n"
    "after Output returned: one line \"left over after Output: ...\" says what (Linux build only).\n";


// "" when `text` is a whole decimal number (an optional '-' where `low` is negative) from `low` to
// `high`, put into `value`; else what is wrong with it.
std::string ReadNumber(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    const bool negative = low < 0 && !text.empty() && text[0] == '-';
    const std::string digits = text.substr(negative ? 1 : 0);
    bool whole = !digits.empty();
    for (char c : digits) whole = whole && c >= '0' && c <= '9';
    if (!whole) return "\"" + standin::PrintableBytes(text) + "\" is not a whole number";
    const size_t first = digits.find_first_not_of('0');
    const bool huge = first != std::string::npos && digits.size() - first > 18;
    value = huge ? INT64_MAX : std::strtoll(digits.c_str(), nullptr, 10);
    if (negative) value = -value;
    if (huge || value < low || value > high) {
        return "it must be from " + std::to_string(low) + " to " + std::to_string(high) + ", not " +
               standin::PrintableBytes(text);
    }
    return std::string();
}

// "A<sep>B", each part a whole number in its range; B may be left out (then 1) when `secondOptional`.
// "" when parsed, else what is wrong, naming the part.
struct PairRule {
    char separator;
    const char* firstName;
    int64_t firstLow, firstHigh;
    const char* secondName;
    int64_t secondLow, secondHigh;
    bool secondOptional;
};

std::string ReadPair(const std::string& text, const PairRule& rule, int64_t& first, int64_t& second) {
    size_t at = text.find(rule.separator);
    std::string problem;
    if (at == std::string::npos && !rule.secondOptional) {
        return "\"" + standin::PrintableBytes(text) + "\" has no '" + std::string(1, rule.separator) + "'";
    }
    problem = ReadNumber(text.substr(0, at), rule.firstLow, rule.firstHigh, first);
    if (!problem.empty()) return std::string(rule.firstName) + ": " + problem;
    second = 1;
    if (at == std::string::npos) return std::string();
    problem = ReadNumber(text.substr(at + 1), rule.secondLow, rule.secondHigh, second);
    return problem.empty() ? problem : std::string(rule.secondName) + ": " + problem;
}

// The words each command takes besides options.
size_t WordsOf(const std::string& command) { return command == "config-blob" ? 2 : 0; }

// Returns 0 when parsed, else the exit status of a usage error.
int ParseArguments(int argc, char** argv, HostOptions& options) {
    const std::vector<std::string> args = CommandLineWords(argc, argv);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v, problem;
        int64_t x = 0, y = 0;
        // An option's number, parsed whole and in range; a usage error naming the option otherwise.
        auto number = [&](const char* what, int64_t low, int64_t high, int64_t& out) {
            if (!value(v)) return a + " needs " + what;
            std::string why = ReadNumber(v, low, high, out);
            return why.empty() ? why : a + " (" + what + "): " + why;
        };
        auto pair = [&](const char* what, const PairRule& rule) {
            if (!value(v)) return a + " needs " + what;
            std::string why = ReadPair(v, rule, x, y);
            return why.empty() ? why : a + " needs " + what + "; " + why;
        };
        if (a == "--help" || a == "-h" || a == "help") {
            options.command = "help";
            return 0;
        } else if (a == "--module") {
            if (!value(options.module)) return UsageError("--module needs a path");
        } else if (a == "-o" || a == "--output") {
            if (!value(options.output)) return UsageError("-o needs a file name");
        } else if (a == "--size") {
            if (!(problem = pair("WxH, e.g. 1280x720", {'x', "the width", 1, 32768, "the height", 1, 32768, false})).empty()) {
                return UsageError(problem);
            }
            options.synthetic.width = static_cast<int32_t>(x);
            options.synthetic.height = static_cast<int32_t>(y);
            options.sizeGiven = true;
        } else if (a == "--rate") {
            if (!(problem = pair("R/S, e.g. 30000/1001", {'/', "the rate", 1, INT32_MAX, "the scale", 1, INT32_MAX, true})).empty()) {
                return UsageError(problem);
            }
            options.synthetic.rate = static_cast<int32_t>(x);
            options.synthetic.scale = static_cast<int32_t>(y);
            options.rateGiven = true;
        } else if (a == "--frames") {
            if (!(problem = number("a number of frames", 0, INT32_MAX, x)).empty()) return UsageError(problem);
            options.synthetic.frameCount = static_cast<int32_t>(x);
            options.frameLimit = static_cast<int32_t>(x);
        } else if (a == "--audio") {
            if (!(problem = pair("RATE/CHANNELS, e.g. 48000/2", {'/', "the rate in Hz", 1, 1000000, "the channels", 1, 64, false})).empty()) {
                return UsageError(problem);
            }
            options.synthetic.audioRate = static_cast<int32_t>(x);
            options.synthetic.channels = static_cast<int32_t>(y);
            options.audioGiven = true;
        } else if (a == "--no-audio") {
            options.synthetic.audio = false;
        } else if (a == "--no-video") {
            options.synthetic.video = false;
        } else if (a == "--pattern") {
            if (!value(v) || (v != "bars" && v != "noise")) return UsageError("--pattern is bars or noise");
            options.synthetic.pattern = v == "noise" ? SyntheticPattern::Noise : SyntheticPattern::Bars;
        } else if (a == "--input") {
            if (!value(options.input)) return UsageError("--input needs a file");
        } else if (a == "--timing") {
            if (!value(options.timingPattern)) return UsageError("--timing needs a pattern");
            options.timingGiven = true;
        } else if (a == "--timing-file") {
            if (!value(options.timingFile)) return UsageError("--timing-file needs a file");
        } else if (a == "--no-timing") {
            options.noTiming = true;
        } else if (a == "--timing-readonly") {
            options.timingReadOnly = true;
        } else if (a == "--message-log") {
            if (!value(options.messageLog)) return UsageError("--message-log needs a file");
        } else if (a == "--key-every") {
            if (!(problem = number("a number of frames", 0, INT32_MAX, x)).empty()) return UsageError(problem);
            options.keyEvery = static_cast<int32_t>(x);
        } else if (a == "--abort-at") {
            if (!(problem = number("a frame number", 0, INT32_MAX, x)).empty()) return UsageError(problem);
            options.abortAt = static_cast<int32_t>(x);
        } else if (a == "--record") {
            if (!value(options.record)) return UsageError("--record needs a file");
        } else if (a == "--tab" || a == "--pick" || a == "--type" || a == "--check" || a == "--slide" ||
                   a == "--key-slide" || a == "--hold") {
            if (!value(v)) return UsageError(a + " needs an argument");
            // A position or an entry number is a whole number; the control's own range is checked
            // on the sheet.
            size_t at = v.find('=');
            const bool position = a == "--slide" || a == "--key-slide";
            const bool entry = a == "--pick" && at != std::string::npos && v.compare(at + 1, 1, "#") == 0;
            if (position || entry) {
                if (at == std::string::npos) return UsageError(a + " needs ID=POS");
                std::string why = ReadNumber(v.substr(at + 1 + entry), position ? INT32_MIN : 0, INT32_MAX, x);
                if (!why.empty()) return UsageError(a + " " + standin::PrintableBytes(v) + ": " + why);
            }
            options.configActions.push_back(ConfigAction{a.substr(2), v});
        } else if (a == "--ok" || a == "--cancel") {
            options.configActions.push_back(ConfigAction{a.substr(2), std::string()});
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else if (options.command.empty()) {
            options.command = a;
        } else if (options.arguments.size() < WordsOf(options.command)) {
            options.arguments.push_back(a);
        } else {
            // A stray word would be ignored and the command do something else than asked.
            std::string hint = a == "ok" || a == "cancel" ? " (did you mean --" + a + "?)" : "";
            return UsageError("unexpected word \"" + standin::PrintableBytes(a) + "\"" + hint + ": " +
                              options.command + (WordsOf(options.command) ? " takes two words" : " takes options only"));
        }
    }
    if (options.command.empty()) return UsageError("no command given");
    if (!options.configActions.empty() && options.command != "config") {
        return UsageError("--tab, --pick, --type, --check, --slide, --key-slide, --hold, --ok and --cancel belong to config");
    }
    for (size_t i = 0; i < options.configActions.size(); ++i) {
        const std::string& verb = options.configActions[i].verb;
        if ((verb == "ok" || verb == "cancel") && i + 1 != options.configActions.size()) {
            return UsageError("--" + verb + " ends the sheet: it comes last");
        }
    }
    if (!options.synthetic.video && !options.synthetic.audio) return UsageError("--no-video and --no-audio leave nothing to export");
    int timingChoices = options.timingGiven + !options.timingFile.empty() + options.noTiming;
    if (timingChoices > 1) return UsageError("--timing, --timing-file and --no-timing exclude each other");
    if (!options.input.empty() && (options.sizeGiven || options.rateGiven || options.audioGiven)) {
        return UsageError("--size, --rate and --audio come from the clip with --input");
    }
    if (options.input.empty()) {
        const SyntheticClipSettings& s = options.synthetic;
        std::string problem = JobRecordProblem(s.video, s.width, s.height, s.rate, s.scale, s.frameCount, s.audio,
                                               s.audioRate, s.channels);
        if (!problem.empty()) return UsageError(problem);
    }
    return 0;
}

// The table's strings are code page 932; the terminal wants UTF-8.
std::string FromCodePage932(const char* text) {
    if (!text) return "(null)";
    const std::u16string wide = WideFromCodePage(932, MB_ERR_INVALID_CHARS, text);
    return wide.empty() ? text : standin::Utf8FromUtf16(wide);
}

int PrintTable(const OutputPluginTable& table) {
    std::printf("name: %s\n", FromCodePage932(table.DisplayName).c_str());
    std::printf("information: %s\n", FromCodePage932(table.Information).c_str());
    std::printf("flags: 0x%08" PRIx32 "\n", table.Flags);
    const char* p = table.FileFilter;
    // The list's bytes up to its empty string, for a check of the exact layout.
    std::string bytes;
    for (size_t i = 0; p && i < 4096 && !(i > 0 && p[i] == 0 && p[i - 1] == 0); ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(p[i]));
        bytes += hex;
    }
    std::printf("filter bytes: %s00\n", bytes.c_str());
    for (int pair = 0; p && *p && pair < 64; ++pair) {
        const char* pattern = p + std::strlen(p) + 1;
        std::printf("filter: %s | %s\n", FromCodePage932(p).c_str(), FromCodePage932(pattern).c_str());
        if (!*pattern) break;
        p = pattern + std::strlen(pattern) + 1;
    }
    std::printf("entries:%s%s%s%s%s%s\n", table.InitEntry ? " Init" : "", table.ExitEntry ? " Exit" : "",
                table.OutputEntry ? " Output" : "", table.ConfigEntry ? " Config" : "",
                table.ConfigGetEntry ? " ConfigGet" : "", table.ConfigSetEntry ? " ConfigSet" : "");
    return 0;
}

// A blob is read no further than one byte past the record, so that a longer file (or one that never
// ends) is told apart without reading it all. On failure returns false with the reason.
bool ReadBlobFile(const std::string& path, size_t limit, std::string& bytes, std::string& error) {
    std::error_code e;
    if (std::filesystem::is_directory(NativePath(path), e)) {
        error = path + " is a folder, not a file holding a configuration blob";
        return false;
    }
    std::ifstream in(NativePath(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    bytes.assign(limit + 1, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > limit) {
        error = path + " is longer than the " + std::to_string(limit) + " bytes of a configuration blob";
        return false;
    }
    return true;
}

int ConfigBlob(const OutputPluginTable& table, const HostOptions& options) {
    if (options.arguments.size() != 2 || (options.arguments[0] != "save" && options.arguments[0] != "load")) {
        return UsageError("config-blob save FILE | config-blob load FILE");
    }
    const std::string& path = options.arguments[1];
    if (options.arguments[0] == "save") {
        if (!table.ConfigGetEntry) return std::fprintf(stderr, "brevlo-host: the module has no ConfigGet entry\n"), 1;
        int32_t size = table.ConfigGetEntry(nullptr, 0);
        if (size <= 0 || size > (1 << 20)) {
            std::fprintf(stderr, "brevlo-host: config-blob save failed: ConfigGet answered size %d\n", size);
            return 1;
        }
        std::vector<char> blob(static_cast<size_t>(size), 0);
        int32_t rc = table.ConfigGetEntry(blob.data(), size);
        // A module that fills nothing hands out no blob; the editor keeps none either.
        if (rc != size) {
            std::fprintf(stderr, "brevlo-host: config-blob save failed: ConfigGet returned %d\n", rc);
            return 1;
        }
        std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
        out.write(blob.data(), static_cast<std::streamsize>(blob.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "brevlo-host: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("config-blob: saved %d bytes to %s (ConfigGet returned %d)\n", size, path.c_str(), rc);
        return 0;
    }
    if (!table.ConfigSetEntry) return std::fprintf(stderr, "brevlo-host: the module has no ConfigSet entry\n"), 1;
    std::string bytes, error;
    if (!ReadBlobFile(path, sizeof(EncoderSettings), bytes, error)) {
        std::fprintf(stderr, "brevlo-host: config-blob load: %s\n", error.c_str());
        return 1;
    }
    int32_t size = static_cast<int32_t>(bytes.size());
    int32_t rc = table.ConfigSetEntry(bytes.empty() ? nullptr : &bytes[0], size);
    std::printf("config-blob: loaded %d bytes from %s (ConfigSet returned %d)\n", size, path.c_str(), rc);
    if (rc == 0) {
        std::fprintf(stderr, "brevlo-host: config-blob load failed: the module refused the blob\n");
        return 1;
    }
    return 0;
}

int RawFrames(const HostOptions& options) {
    if (options.output.empty()) return UsageError("raw-frames needs -o FILE");
    std::string error;
    std::unique_ptr<ClipSource> source = OpenSource(options, error);
    if (!source) {
        std::fprintf(stderr, "brevlo-host: %s\n", error.c_str());
        return 1;
    }
    const ClipFormat& format = source->Format();
    if (!format.hasVideo) return UsageError("raw-frames needs video");
    int32_t frames = options.frameLimit >= 0 && options.frameLimit < format.frameCount ? options.frameLimit : format.frameCount;
    FILE* out = std::fopen(NativePath(options.output).c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "brevlo-host: cannot write %s: %s\n", options.output.c_str(), std::strerror(errno));
        return 1;
    }
    bool ok = true;
    for (int32_t i = 0; i < frames && ok; ++i) {
        ok = std::fwrite(source->Frame(i), 1, static_cast<size_t>(format.frameBytes), out) == static_cast<size_t>(format.frameBytes);
    }
    ok = std::fclose(out) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "brevlo-host: writing %s failed\n", options.output.c_str());
        return 1;
    }
    std::fprintf(stderr, "brevlo-host: %d frames of %dx%d (%d bytes each, stride %d) to %s\n", frames, format.width,
                 format.height, format.frameBytes, format.stride, options.output.c_str());
    return 0;
}

}  // namespace

int UsageError(const std::string& message) {
    std::fprintf(stderr, "brevlo-host: %s\n(see brevlo-host --help)\n", message.c_str());
    return 2;
}

std::unique_ptr<ClipSource> OpenSource(const HostOptions& options, std::string& error) {
    if (options.input.empty()) return CreateSyntheticClip(options.synthetic);
    return OpenDecodedClip(options.input, options.synthetic.video, options.synthetic.audio, error);
}

int main(int argc, char** argv) {
    PrepareConsole();
    HostOptions options;
    if (int rc = ParseArguments(argc, argv, options)) return rc;
    if (options.command == "help") {
        std::printf(kUsage, HostDecodesClips() ? kInputUsage : "");
        return 0;
    }
    if (options.command == "export" || options.command == "raw-frames") {
        // Refused before anything is opened for writing: an output over an input destroys it.
        std::string clash;
        const std::vector<NamedPath> inputs = {
            {"--input", options.input},
            {"--timing-file", options.timingFile},
            {"--module", options.module.empty() ? DefaultModulePath() : options.module}};
        if (!CheckOutputsStandAlone(inputs,
                                    {{"-o", options.output}, {"--record", options.record}, {"--message-log", options.messageLog}},
                                    clash)) {
            return UsageError(clash);
        }
    }
    if (options.command == "config-blob" && options.arguments.size() == 2 && options.arguments[0] == "save") {
        std::string clash;
        if (!CheckOutputsStandAlone({{"--module", options.module.empty() ? DefaultModulePath() : options.module}},
                                    {{"config-blob save", options.arguments[1]}}, clash)) {
            return UsageError(clash);
        }
    }
    if (options.command == "raw-frames") return RawFrames(options);
    if (options.command != "table" && options.command != "export" && options.command != "config-blob" &&
        options.command != "config") {
        return UsageError("unknown command " + options.command);
    }
    // COM on the thread that calls the module, as the editor has it (MLang needs it).
    HRESULT com = CoInitialize(nullptr);
    LoadedModule module;
    std::string error;
    if (!LoadPluginModule(options.module.empty() ? DefaultModulePath() : options.module, module, error)) {
        std::fprintf(stderr, "brevlo-host: %s\n", error.c_str());
        if (SUCCEEDED(com)) CoUninitialize();
        return 1;
    }
    int rc = 0;
    if (options.command == "table") {
        rc = PrintTable(*module.table);
    } else if (options.command == "export") {
        rc = Export(*module.table, options);
    } else if (options.command == "config") {
        rc = ConfigCommand(module, options);
    } else {
        rc = ConfigBlob(*module.table, options);
    }
    // A save the store did not keep fails the command that asked for it.
    const bool saves = options.command == "config" || (options.command == "config-blob" && !options.arguments.empty() && options.arguments[0] == "load");
    if (options.command != "export" && PrintPlatformFailures() && saves && rc == 0) rc = 1;
    UnloadPluginModule(module);
    if (SUCCEEDED(com)) CoUninitialize();
    return rc;
}
