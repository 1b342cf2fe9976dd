// brevlo-host as a careless user meets it: outputs over inputs, stale maps, signals, limits.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "tests/common/media_probe.h"
#include "tests/common/stored_settings.h"
#include "tests/host/host_run.h"

namespace {

std::string MapPath(pid_t pid) { return "/dev/shm/vfrout_" + std::to_string(pid); }

// A long export, started; returns once its file has begun.
StartedHost StartLongExport(const std::string& file) {
    unlink(file.c_str());
    StartedHost host = StartHost({"export", "-o", file, "--size", "64x48", "--frames", "200000"}, [] {
        rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
    });
    for (int i = 0; i < 400 && !(FileExists(file) && ReadFileBytes(file).size() > 0); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return host;
}

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
        {"export", "-o", fresh, "--input", clip, "--message-log", link},
        {"export", "-o", fresh, "--message-log", freshDir + "/./" + freshName},
        {"export", "-o", fresh, "--timing-file", codes, "--message-log", codes},
        {"export", "-o", fresh, "--record", clip, "--message-log", clip},
        {"export", "-o", fresh, "--message-log", BREVLO_MODULE_PATH},
        {"config-blob", "save", BREVLO_MODULE_PATH},
    };
    const std::string moduleBytes = ReadFileBytes(BREVLO_MODULE_PATH);
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + " " + args[2] + " " + args.back());
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("same file"), std::string::npos) << run.err;
        EXPECT_EQ(ReadFileBytes(clip), clipBytes);
        EXPECT_EQ(ReadFileBytes(codes), "1111");
        EXPECT_FALSE(FileExists(fresh));
    }
    EXPECT_TRUE(ReadFileBytes(BREVLO_MODULE_PATH) == moduleBytes);
    unlink(link.c_str());
}

// A word or a number the host cannot take whole is a usage error naming it, never read as
// something else: no file is begun and the settings stay as they were.
TEST(HostUsage, LooseArgumentsAreRefusedNamingWhatIsWrong) {
    std::string out = TempPath("loose.wmv");
    unlink(out.c_str());
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"export", "-o", out, "--frames", "3", "stray"}, "unexpected word \"stray\""},
        {{"config", "--pick", "Compression=#0", "ok"}, "unexpected word \"ok\" (did you mean --ok?)"},
        {{"config-blob", "save", out, "again"}, "unexpected word \"again\""},
        {{"table", "extra"}, "unexpected word \"extra\""},
        {{"config", "--slide", "Performance=abc", "--ok"}, "\"abc\" is not a whole number"},
        {{"config", "--slide", "Performance=2x", "--ok"}, "\"2x\" is not a whole number"},
        {{"config", "--key-slide", "Performance=99999999999999999999", "--ok"}, "not 99999999999999999999"},
        {{"config", "--pick", "Compression=#1z", "--ok"}, "\"1z\" is not a whole number"},
        {{"export", "-o", out, "--frames", "99999999999"}, "from 0 to 2147483647, not 99999999999"},
        {{"export", "-o", out, "--frames", "-3"}, "\"-3\" is not a whole number"},
        {{"export", "-o", out, "--audio", "48000/65"}, "the channels: it must be from 1 to 64, not 65"},
        {{"export", "-o", out, "--audio", "48000/0"}, "the channels: it must be from 1 to 64, not 0"},
        {{"export", "-o", out, "--rate", "30/1/1"}, "the scale: \"1/1\" is not a whole number"},
        {{"export", "-o", out, "--size", "64x48x"}, "the height: \"48x\" is not a whole number"},
        {{"export", "-o", out, "--key-every", " 5"}, "\" 5\" is not a whole number"},
        {{"export", "-o", out, "--abort-at", "1e3"}, "\"1e3\" is not a whole number"},
    };
    std::string blob = TempPath("loose.blob");
    ASSERT_EQ(RunHost({"config-blob", "save", blob}).exitCode, 0);
    const std::string stored = ReadFileBytes(blob);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        HostRun run = RunHost(c.args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(FileExists(out));
    }
    ASSERT_EQ(RunHost({"config-blob", "save", blob}).exitCode, 0);
    EXPECT_EQ(ReadFileBytes(blob), stored);

    // A position the slider does not have is an action that cannot be done, not a clamp.
    HostRun run = RunHost({"config", "--slide", "Performance=7", "--ok"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("\"Performance\" goes from 0 to 4, not to 7"), std::string::npos) << run.err;
}

// What a user hands the host as a file is read no further than it needs and taken as it stands:
// a stream that never ends is refused (not read until memory runs out), a folder is named as one,
// the timing file's bytes are codes (no escapes), and a UTF-8 byte-order mark is no code.
TEST(HostFiles, AUsersFileIsReadWithinBoundsAndAsItStands) {
    std::signal(SIGPIPE, SIG_IGN);
    std::string fifo = TempPath("endless.fifo");
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // An 8 MiB stream in place of one that never ends, so that a host that reads it all is caught
    // without taking the machine's memory.
    std::thread writer([&] {
        int fd = open(fifo.c_str(), O_WRONLY);
        std::string zeros(1 << 16, '\0');
        for (int i = 0; i < 128 && fd >= 0; ++i) {
            if (write(fd, zeros.data(), zeros.size()) < 0) break;
        }
        if (fd >= 0) close(fd);
    });
    std::string out = TempPath("bounded.wmv");
    HostRun endless = RunHost({"export", "-o", out, "--size", "64x48", "--frames", "5", "--timing-file", fifo});
    writer.join();
    EXPECT_EQ(endless.exitCode, 2) << endless.err;
    EXPECT_NE(endless.err.find("does not end"), std::string::npos) << endless.err;

    std::string folder = TempPath("a-folder");
    mkdir(folder.c_str(), 0700);
    std::string bomAndEscape = TempPath("bom.txt");
    WriteFileBytes(bomAndEscape, "\xEF\xBB\xBF" "1111\\x44\r\n");
    std::string utf16 = TempPath("utf16.txt");
    WriteFileBytes(utf16, std::string("\xFF\xFE" "1\0" "1\0", 6));
    std::string longBlob = TempPath("long.blob");
    WriteFileBytes(longBlob, std::string(1 << 20, '\0'));
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"config-blob", "load", "/dev/zero"}, 1, "/dev/zero is longer than the 104 bytes of a configuration blob"},
        {{"config-blob", "load", longBlob}, 1, "is longer than the 104 bytes"},
        {{"config-blob", "load", folder}, 1, folder + " is a folder"},
        {{"export", "-o", out, "--frames", "5", "--size", "64x48", "--timing-file", folder}, 2, folder + " is a folder"},
        {{"export", "-o", out, "--frames", "5", "--size", "64x48", "--timing-file", utf16}, 2, "is UTF-16 text"},
        {{"export", "-o", out, "--frames", "8", "--size", "64x48", "--timing-file", bomAndEscape}, 0,
         "(codes: 8 kept, 0 dropped, 0 long)"},
        {{"export", "-o", out, "--frames", "5", "--size", "64x48", "--timing", "1\x7f*,1"}, 2,
         "(\"1\\x7f*\"): the frame count"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        HostRun run = RunHost(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    unlink(fifo.c_str());
}

// A save the store did not keep fails the command, with the store's reason; a store that cannot be
// read says so on the first read, not only when the next write sets it aside.
TEST(HostSettings, AFailedSaveFailsTheCommandAndAnUnreadableStoreIsNamed) {
    std::string blob = TempPath("kept.blob");
    ASSERT_EQ(RunHost({"config-blob", "save", blob}).exitCode, 0);
    const std::string path = standin::RegistryFilePath();
    const std::string directory = path.substr(0, path.rfind('/'));
    ASSERT_EQ(std::system(("rm -rf '" + directory + "' && touch '" + directory + "'").c_str()), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"config-blob", "load", blob}, {"config", "--ok"}}) {
        SCOPED_TRACE(args[0]);
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        EXPECT_NE(run.err.find("was not written: Not a directory"), std::string::npos) << run.err;
    }
    unlink(directory.c_str());

    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    int held = open((directory + "/registry.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    HostRun locked = RunHost({"config-blob", "load", blob});
    close(held);
    EXPECT_EQ(locked.exitCode, 1) << locked.err;
    EXPECT_NE(locked.err.find("has held its lock"), std::string::npos) << locked.err;

    const std::vector<std::pair<std::string, std::string>> stores = {
        {"not a registry file\n", "is not in the format of a .reg export; the defaults apply"},
        {std::string("\xFF\xFEW\0i\0n\0", 8), "it is UTF-16 text, as regedit exports it"},
    };
    for (const auto& store : stores) {
        ASSERT_TRUE(standin::WriteRegistryStore(store.first));
        HostRun read = RunHost({"config-blob", "save", blob});
        EXPECT_EQ(read.exitCode, 0) << read.err;
        EXPECT_NE(read.err.find("the settings store " + path + " cannot be read: "),
                  std::string::npos) << read.err;
        EXPECT_NE(read.err.find(store.second), std::string::npos) << read.err;
    }
}

// What a pattern says past the last frame costs nothing: sections of a billion frames each publish
// the codes of ten frames, in no more memory than any small export takes.
TEST(HostTiming, HugeSectionCountsCostNoMemory) {
    std::string pattern = "2*999999999,1D*999999999";
    long peak = 0;
    HostRun run = FinishHost(StartHost({"export", "-o", TempPath("huge-pattern.wmv"), "--size", "64x48", "--frames",
                                        "10", "--timing", pattern}),
                             nullptr, &peak);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("(codes: 10 kept, 0 dropped, 10 long)"), std::string::npos) << run.err;
    EXPECT_LT(peak, 1L << 20) << "peak resident memory in KiB";
}

// A settings store that cannot be read is set aside when the settings are next stored; the user is
// told, not left to find the file.
TEST(HostSettings, AStoreSetAsideIsReported) {
    std::string blob = TempPath("aside.blob");
    HostRun saved = RunHost({"config-blob", "save", blob});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    ASSERT_TRUE(standin::WriteRegistryStore("not a registry file\n"));
    const std::string store = standin::RegistryFilePath();
    HostRun loaded = RunHost({"config-blob", "load", blob});
    EXPECT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_NE(loaded.err.find("the settings store " + store + " could not be read; it was set aside as " + store +
                              ".bad-"),
              std::string::npos)
        << loaded.err;
}

// Every export the platform refuses names the call and the reason on one line before the failure.
TEST(HostFailures, EachRefusalSaysWhy) {
    std::string folder = TempPath("no-such-folder");
    std::string longName = TempPath("long") + "/" + std::string(300, 'a') + ".wmv";
    struct Case {
        std::vector<std::string> args;
        std::string reason;
        std::function<void(EncoderSettings&)> stored = [](EncoderSettings&) {};
    };
    const std::string plain = TempPath("plain.wmv");
    EncoderSettings defaults;
    std::memset(&defaults, 0, sizeof defaults);
    ASSERT_EQ(LoadSettings(&defaults), S_OK);
    const std::vector<Case> cases = {
        {{"-o", plain, "--size", "64x48"},
         "brevlo-host: the media runtime refused the profile: the video stream's buffer window of 999999999 ms is "
         "more than the 100000 ms it takes\n",
         [](EncoderSettings& s) { s.BufferWindow = 999999999; }},
        {{"-o", plain, "--size", "64x48"}, "the audio stream's buffer window of 100001 ms",
         [](EncoderSettings& s) { s.AudioBufferWindow = 100001; }},
        {{"-o", plain, "--size", "64x48"}, "the media runtime has no format 500 of the codec \"",
         [](EncoderSettings& s) { s.AudioFormat = 500; }},
        {{"-o", TempPath("odd.wmv"), "--size", "854x480"},
         "brevlo-host: the media runtime refused the profile: 854x480 is not a multiple of 4\n"},
        {{"-o", TempPath("odd.wmv"), "--size", "161x120"},
         "brevlo-host: the media runtime refused the profile: 161x120 is not a multiple of 4\n"},
        {{"-o", folder + "/clip.wmv", "--size", "64x48"},
         "brevlo-host: cannot create " + folder + "/clip.wmv: no such folder\n"},
        {{"-o", longName, "--size", "64x48"}, "UTF-16 units, more than the 260 of the buffer it was given\n"},
        {{"-o", TempPath("bad-\xff-name.wmv"), "--size", "64x48"}, "\\xff-name-"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"export", "--frames", "3"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.reason);
        StoreSettings([&](EncoderSettings& s) {
            s = defaults;
            c.stored(s);
        });
        HostRun run = RunHost(args);
        EXPECT_EQ(run.exitCode, 1) << run.err;
        size_t at = run.err.find(c.reason);
        EXPECT_NE(at, std::string::npos) << run.err;
        EXPECT_LT(at, run.err.find("brevlo-host: export to ")) << run.err;
    }
}

// A disk that is full from the start or fills mid-export: the runtime says so only through the
// file sink's status (or, the other way, through the call), the export fails with the cause
// printed before the failure, and nothing is left held or running.
TEST(HostFailures, AFullDiskFailsTheExportAndSaysWhy) {
    const std::string file = TempPath("filling.wmv");
    struct Case {
        const char* what;
        std::string output;
        const char* fail;  // BREVLO_WMVCORE_FAIL, or null
        std::string reason;
    };
    const Case cases[] = {
        {"a device that takes nothing", "/dev/full", nullptr, "brevlo-host: cannot write /dev/full: No space left on device\n"},
        {"a disk that fills at the 20th write", file, "IWMWriterSink::OnDataUnit:20",
         "brevlo-host: cannot write " + file + ": no space left on the device\n"},
    };
    for (const Case& c : cases) {
        for (const char* way : {"status", "call"}) {
            SCOPED_TRACE(std::string(c.what) + " through the " + way);
            StartedHost host = StartHost({"export", "-o", c.output, "--size", "64x48", "--frames", "60"}, [&] {
                setenv("BREVLO_WMVCORE_FILE_ERRORS", way, 1);
                if (c.fail) setenv("BREVLO_WMVCORE_FAIL", c.fail, 1);
            });
            HostRun run = FinishHost(host);
            EXPECT_EQ(run.exitCode, 1) << run.err;
            EXPECT_NE(run.err.find("Output returned 0"), std::string::npos) << run.err;
            size_t at = run.err.find(c.reason);
            EXPECT_NE(at, std::string::npos) << run.err;
            EXPECT_LT(at, run.err.find("brevlo-host: export to ")) << run.err;
            EXPECT_EQ(run.err.find("left over"), std::string::npos) << run.err;
        }
    }
}

// Any channel count the host takes is written, more than two mixed down to stereo: the README's
// rule, and the click of frame 0 still starts the audio.
TEST(HostAudio, EveryChannelCountIsWrittenAsStereo) {
    for (const char* channels : {"3", "9", "16", "17", "25", "64"}) {
        SCOPED_TRACE(channels);
        std::string file = TempPath("channels.wmv");
        HostRun run = RunHost({"export", "-o", file, "--size", "64x48", "--frames", "40", "--rate", "20/1", "--audio",
                               std::string("48000/") + channels});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<ProbedStream> streams = ProbeStreams(file);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[1]["channels"], "2");
        std::vector<int64_t> clicks = LoudOnsets(DecodeAudioMono(file, 48000), 10000, 4800);
        ASSERT_EQ(clicks.size(), 2u);
        EXPECT_LT(clicks[0], 48);
        EXPECT_NEAR(static_cast<double>(clicks[1]), 48000.0, 48.0);
    }
}

// A run killed before it could withdraw its map leaves the object; a later run with the same
// process id must publish its own map at its own size, not write into the old one.
TEST(HostTimingMap, AMapLeftByADeadRunIsMadeAfresh) {
    std::string file = TempPath("after-stale.wmv");
    pid_t pid = -1;
    StartedHost host = StartHost({"export", "-o", file, "--size", "64x48", "--frames", "30000", "--no-audio",
                                  "--timing", "2222D"},
                                 [] {
                                     std::string name = "/vfrout_" + std::to_string(getpid());
                                     int fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0644);
                                     if (fd < 0 || ftruncate(fd, 1) != 0) _exit(126);
                                     close(fd);
                                 });
    pid = host.pid;
    HostRun run = FinishHost(host);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("24000 kept, 6000 dropped"), std::string::npos) << run.err;
    EXPECT_FALSE(FileExists(MapPath(pid)));
}

// SIGTERM and SIGHUP stop the export as Ctrl-C does: the file is ended and readable, the status
// names the signal. SIGQUIT ends the host at once. No signal leaves the map behind.
TEST(HostSignals, StopSignalsEndTheFileAndNoneLeavesTheMap) {
    for (int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(strsignal(sig));
        std::string file = TempPath("signalled.wmv");
        StartedHost host = StartLongExport(file);
        ASSERT_TRUE(FileExists(MapPath(host.pid)));
        kill(host.pid, sig);
        int died = 0;
        HostRun run = FinishHost(host, &died);
        EXPECT_FALSE(FileExists(MapPath(host.pid)));
        if (sig == SIGQUIT) {
            EXPECT_EQ(died, SIGQUIT) << run.err;
            continue;
        }
        EXPECT_EQ(died, 0);
        EXPECT_EQ(run.exitCode, 128 + sig) << run.err;
        EXPECT_NE(run.err.find("Output returned 1 (aborted)"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(std::string("stopped by ") + (sig == SIGTERM ? "SIGTERM" : "SIGHUP")),
                  std::string::npos) << run.err;
        EXPECT_FALSE(PacketsOfStream(ProbePackets(file), 0).empty());
    }
}

}  // namespace
