#!/usr/bin/env python3
"""The Windows suite: brevlo.auo loaded by brevlo-host.exe under Wine, against the Linux build.

    wine_suite.py [paths] prepare      a fresh prefix, the stand-in wmvcore.dll in its system
                                       folder, one Xvfb and one wineserver for the whole suite
    wine_suite.py [paths] check NAME   one check (see CHECKS)
    wine_suite.py [paths] finish       ends the wineserver and the Xvfb that `prepare` started

CTest runs these (label "wine"); `prepare` and `finish` are the fixture around the checks.
Everything runs in the Japanese locale (ANSI code page 932), as the editor's users run it.
"""
import argparse
import json
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

from wine_prefix import make_prefix, prefix_env

WAIT = 120  # seconds any one program may take before it counts as hung and is ended
CAPTION = "Brevlo(VFR)"
NO_COMPANION = "フレームレート判定プラグインが起動されていません。"
NO_TIMING_DATA = "フレームレートデータがありません。"
MB_ICONERROR = 0x10
VIDEO_KEY = r"HKCU\Software\Veltrane\Pelwick\Video"
AUDIO_KEY = r"HKCU\Software\Veltrane\Pelwick\Audio"

# The twenty stored values: key, name, offset in the 104-byte record.
STORED = [
    (VIDEO_KEY, "CompressionMode", 4), (VIDEO_KEY, "Bitrate", 8), (VIDEO_KEY, "BufferWindow", 12),
    (VIDEO_KEY, "Quality", 44), (VIDEO_KEY, "KeyFrameInterval", 48), (VIDEO_KEY, "DecoderComplexity", 52),
    (VIDEO_KEY, "DecoderLevel", 56), (VIDEO_KEY, "Performance", 60), (VIDEO_KEY, "PeakBitrate", 64),
    (VIDEO_KEY, "PeakBuffer", 68), (VIDEO_KEY, "EnableResizeTo", 32), (VIDEO_KEY, "ResizeToW", 36),
    (VIDEO_KEY, "ResizeToH", 40), (VIDEO_KEY, "Language", 72),
    (AUDIO_KEY, "Codec", 84), (AUDIO_KEY, "Format", 88), (AUDIO_KEY, "VBREnable", 92),
    (AUDIO_KEY, "NumberOfPasses", 96), (AUDIO_KEY, "BufferWindow", 80), (AUDIO_KEY, "Language", 100),
]


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def put(blob, offset, value):
    return blob[:offset] + struct.pack("<I", value) + blob[offset + 4:]


def word(blob, offset):
    return struct.unpack_from("<I", blob, offset)[0]


class Suite:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.linux = os.path.abspath(args.linux)
        self.objdump = args.objdump
        self.root = os.path.join(self.build, "wine")
        self.prefix = os.path.join(self.root, "prefix")
        self.state_file = os.path.join(self.root, "session.json")
        self.host = os.path.join(self.build, "brevlo-host.exe")
        self.module = os.path.join(self.build, "brevlo.auo")
        self.runtime = os.path.join(self.build, "tests", "windows", "wmvcore.dll")
        self.interfaces = os.path.join(self.build, "tests", "windows", "wm-interfaces-check.exe")
        self.linux_host = os.path.join(self.linux, "brevlo-host")

    # ---- the session --------------------------------------------------------------------------

    def state(self):
        try:
            with open(self.state_file) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def env(self, debug="-all", display=True):
        return prefix_env(self.prefix, debug, self.state()["display"] if display else None)

    def prepare(self):
        self.finish(quiet=True)
        for path in (self.host, self.module, self.runtime, self.interfaces):
            expect(os.path.isfile(path), f"{path} is missing: build the Windows build first")
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(self.root, exist_ok=True)
        started = time.monotonic()
        make_prefix(self.prefix, self.runtime, run)

        log = open(os.path.join(self.root, "xvfb.log"), "wb")
        reader, writer = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                pass_fds=(writer,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                start_new_session=True)
        os.close(writer)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([reader], [], [], max(0, deadline - time.monotonic()))
            chunk = os.read(reader, 16) if ready else b""
            if not chunk:
                xvfb.kill()
                raise Failure("Xvfb did not start (see wine/xvfb.log)")
            number += chunk
        os.close(reader)
        with open(self.state_file, "w") as f:
            json.dump({"display": ":" + number.decode().strip(), "xvfb": xvfb.pid}, f)
        # One server for the whole suite: each program then starts in a fraction of a second.
        server_log = open(os.path.join(self.root, "wineserver.log"), "wb")
        subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL, stdout=server_log,
                       stderr=server_log, timeout=WAIT, check=True)
        run(["wine", self.host, "help"], env=self.env())
        print(f"prefix, Xvfb on {self.state()['display']} and wineserver ready in {time.monotonic() - started:.1f} s")

    def finish(self, quiet=False):
        state = self.state()
        if os.path.isdir(self.prefix):
            run(["wineserver", "-k"], env=self.env(display=False), check=False)
            run(["wineserver", "-w"], env=self.env(display=False), check=False)
        pid = state.get("xvfb")
        if pid and is_xvfb(pid):
            os.kill(pid, signal.SIGTERM)
            deadline = time.monotonic() + 10
            while is_xvfb(pid) and time.monotonic() < deadline:
                time.sleep(0.05)
            if is_xvfb(pid):
                os.kill(pid, signal.SIGKILL)
        if os.path.exists(self.state_file):
            os.remove(self.state_file)
        if not quiet:
            print("wineserver and Xvfb ended")

    # ---- running the two hosts ----------------------------------------------------------------

    def workdir(self, name):
        path = os.path.join(self.root, "work", name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def windows(self, args, cwd, host=None, debug="-all", timeout=WAIT):
        return run(["wine", host or self.host] + args, env=self.env(debug), cwd=cwd, timeout=timeout, check=False)

    def linux_run(self, args, cwd):
        expect(os.path.isfile(self.linux_host), f"{self.linux_host} is missing: build the Linux build first")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(cwd, "linux-settings"), LC_ALL="ja_JP.UTF-8")
        return run([self.linux_host] + args, env=env, cwd=cwd, check=False)

    def both(self, args, cwd, suffix=None):
        """Runs the same command line on both hosts; FILE arguments ending in `suffix` get a
        .windows / .linux part so that each host writes its own."""
        def own(side):
            return [a.replace(suffix, f".{side}{suffix}") if suffix and a.endswith(suffix) else a for a in args]
        return self.windows(own("windows"), cwd), self.linux_run(own("linux"), cwd)

    def store_blob(self, blob, cwd):
        path = os.path.join(cwd, "settings.blob")
        with open(path, "wb") as f:
            f.write(blob)
        for result in (self.windows(["config-blob", "load", "settings.blob"], cwd),
                       self.linux_run(["config-blob", "load", "settings.blob"], cwd)):
            expect(result.returncode == 0, f"config-blob load failed: {text(result.stderr)}")

    def saved_blob(self, cwd, windows=True):
        result = (self.windows if windows else self.linux_run)(["config-blob", "save", "saved.blob"], cwd)
        expect(result.returncode == 0, f"config-blob save failed: {text(result.stderr)}")
        with open(os.path.join(cwd, "saved.blob"), "rb") as f:
            return f.read()

    def reg(self, args, cwd):
        return self.windows_tool(["reg"] + args, cwd)

    def windows_tool(self, args, cwd):
        # Wine's tools run from a folder that holds no program of the same name (Wine searches the
        # current folder first).
        return run(["wine"] + args, env=self.env(), cwd=cwd, check=False)

    def query_key(self, key, cwd):
        result = self.reg(["query", key], cwd)
        values = {}
        for line in text(result.stdout).splitlines():
            m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s+(\S*)\s*$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3))
        return result.returncode, values


def run(command, env, cwd=None, timeout=WAIT, check=True):
    # Output goes through files, not pipes: the processes Wine starts for the session (its desktop,
    # its services) inherit them and outlive the program, and a pipe would stay open with them.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            code = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            raise Failure(f"{' '.join(command)} did not end within {timeout} s")
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(command, code, out.read(), err.read())
    if check and result.returncode != 0:
        raise Failure(f"{' '.join(command)} failed ({result.returncode}): {text(result.stderr)}")
    return result


def text(data):
    return data.decode("utf-8", "replace")


def is_xvfb(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return b"Xvfb" in f.read().split(b"\0")[0]
    except OSError:
        return False


def read(path):
    with open(path, "rb") as f:
        return f.read()


def json_lines(path):
    return [json.loads(line) for line in read(path).decode().splitlines()]


# ---- the checks -------------------------------------------------------------------------------

def check_module_image(suite):
    """The module's image: one export, system DLLs only, WMVCore bound at run time; its table
    through the real export reads as on Linux, byte for byte."""
    dump = run([suite.objdump, "-p", suite.module], env=os.environ).stdout.decode()
    exports = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)\n\n", dump, re.S)
    names = re.findall(r"\[\s*\d+\]\s+(\S+)", exports.group(1)) if exports else []
    expect(names == ["GetOutputPluginTable"], f"exports: {names}")
    dlls = sorted(d.lower() for d in re.findall(r"DLL Name: (\S+)", dump))
    system = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
              "comctl32.dll", "shlwapi.dll", "gdi32.dll"}
    expect(dlls and set(dlls) <= system, f"imports from {dlls}")
    expect("wmvcore.dll" not in dlls, "WMVCore is imported")

    cwd = suite.workdir("module-image")
    windows = suite.windows(["table"], cwd, debug="+loaddll")
    linux = suite.linux_run(["table"], cwd)
    expect(windows.returncode == 0, f"table failed: {text(windows.stderr)}")
    expect(windows.stdout == linux.stdout, f"the table reads differently:\n{text(windows.stdout)}\n{text(linux.stdout)}")
    filters = b"WMV File (*.wmv)\0*.wmv\0AllFile (*.*)\0*.*\0\0"
    expect(f"filter bytes: {filters.hex()}\n".encode() in windows.stdout, text(windows.stdout))
    loaded = [l for l in text(windows.stderr).splitlines() if "Loaded" in l]
    expect(any("brevlo.auo" in l.lower() for l in loaded), "\n".join(loaded))
    expect(not any("wmvcore" in l.lower() for l in loaded), "WMVCore loaded with the module:\n" + "\n".join(loaded))
    print("one export, imports from", ", ".join(dlls), "; table as on Linux")


def check_registry(suite):
    """ConfigSet and ConfigGet through Wine's registry; the values read independently with
    `reg query`; a value of another type or size gives all defaults."""
    cwd = suite.workdir("registry")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    defaults = suite.saved_blob(cwd)
    expect(defaults == suite.saved_blob(cwd, windows=False),
           "defaults differ from the Linux build's")
    chosen = {"CompressionMode": 3, "Bitrate": 1234567, "BufferWindow": 4321, "Quality": 55,
              "KeyFrameInterval": 7000, "DecoderComplexity": 2, "DecoderLevel": 3, "Performance": 2,
              "PeakBitrate": 2345678, "PeakBuffer": 5432, "EnableResizeTo": 1, "ResizeToW": 16, "ResizeToH": 9,
              ("Video", "Language"): 0x409, "Codec": 1, "Format": 2, "VBREnable": 1, "NumberOfPasses": 2,
              ("Audio", "BufferWindow"): 3210, ("Audio", "Language"): 0x411}
    blob = defaults
    expected = {}
    for key, name, offset in STORED:
        value = chosen.get((key.rsplit("\\", 1)[1], name), chosen.get(name))
        blob = put(blob, offset, value)
        expected[(key, name)] = value
    suite.store_blob(blob, cwd)

    for key in (VIDEO_KEY, AUDIO_KEY):
        rc, values = suite.query_key(key, cwd)
        expect(rc == 0, f"{key} is missing")
        wanted = {name: ("REG_DWORD", hex(v)) for (k, name), v in expected.items() if k == key}
        expect(values == wanted, f"{key} holds {values}, not {wanted}")
    back = suite.saved_blob(cwd)
    for key, name, offset in STORED:
        expect(word(back, offset) == expected[(key, name)], f"ConfigGet gives {name} = {word(back, offset)}")
    expect(back == suite.saved_blob(cwd, windows=False), "the stored record differs from the Linux build's")

    # Another type: a string where a DWORD belongs.
    suite.reg(["add", VIDEO_KEY, "/v", "Quality", "/t", "REG_SZ", "/d", "55", "/f"], cwd)
    expect(suite.saved_blob(cwd) == defaults, "a REG_SZ Quality did not give all defaults")
    # A REG_DWORD of two bytes.
    suite.store_blob(blob, cwd)
    short = os.path.join(cwd, "short.reg")
    with open(short, "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\r\n\r\n"
                "[HKEY_CURRENT_USER\\Software\\Veltrane\\Pelwick\\Audio]\r\n\"Language\"=hex(4):11,04\r\n")
    suite.reg(["import", "short.reg"], cwd)
    # (Wine's reg shows such a value with two bytes of whatever lay beyond it, so only its type is
    # looked at here.)
    expect(suite.query_key(AUDIO_KEY, cwd)[1].get("Language", ("",))[0] == "REG_DWORD", "the value was not planted")
    expect(suite.saved_blob(cwd) == defaults, "a two-byte REG_DWORD Language did not give all defaults")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    print("20 REG_DWORD values stored, read back, as on Linux; REG_SZ and 2-byte DWORD give the defaults")


def check_presence(suite):
    """Without the companion's map the user sees the module's error box and nothing is exported;
    with a read-only map the export goes on."""
    cwd = suite.workdir("presence")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    job = ["export", "-o", "out.wmv", "--size", "160x120", "--frames", "12", "--record", "samples.json",
           "--message-log", "boxes.json"]
    windows, linux = suite.both(job + ["--no-timing"], cwd, ".json")
    expect(windows.returncode == 1 and linux.returncode == 1,
           f"exit {windows.returncode} / {linux.returncode}: {text(windows.stderr)}")
    boxes = json_lines(os.path.join(cwd, "boxes.windows.json"))
    expect(boxes == [{"caption": CAPTION, "text": NO_COMPANION, "style": MB_ICONERROR}], f"boxes: {boxes}")
    expect(read(os.path.join(cwd, "boxes.windows.json")) == read(os.path.join(cwd, "boxes.linux.json")),
           "the Linux build showed another box")
    expect(read(os.path.join(cwd, "samples.windows.json")) == b"", "samples reached the runtime")

    windows, linux = suite.both(job + ["--timing-readonly"], cwd, ".json")
    expect(windows.returncode == 0, f"the export with a read-only map failed: {text(windows.stderr)}")
    expect(read(os.path.join(cwd, "boxes.windows.json")) == b"", "a box was shown")
    samples = read(os.path.join(cwd, "samples.windows.json"))
    expect(samples and samples == read(os.path.join(cwd, "samples.linux.json")),
           "the read-only map's export differs from the Linux build's")
    print("no map: the error box, exactly; a read-only map: the export as on Linux")


# Jobs whose recordings must be the same, sample for sample, in both builds: mode, host options.
JOBS = [
    ("film and video, 1-pass CBR", 0, ["--timing", "2222D*20,11111*10"]),
    ("film and video, 2-pass VBR", 3, ["--timing", "2222D*20,11111*10"]),
    ("1-pass CBR stopped by the user", 0, ["--timing", "2222D*20,11111*10", "--abort-at", "41"]),
    ("2-pass CBR stopped by the user", 1, ["--timing", "2222D*20,11111*10", "--abort-at", "33"]),
    ("no timing data from frame 37", 0, ["--timing", r"2222D*37,\x00*23"]),
    ("no timing data in a 2-pass VBR", 4, ["--timing", r"11111*41,\x00*19"]),
    ("video only, 2-pass CBR", 1, ["--timing", "2222D", "--no-audio"]),
    ("audio only, 1-pass quality VBR", 2, ["--no-video"]),
]


def check_recordings(suite):
    """Short VFR jobs through the stand-in runtime: the Windows binary hands over the same samples
    as the Linux build (connection, pass, time, flags, size and content), and shows the same boxes."""
    cwd = suite.workdir("recordings")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    defaults = suite.saved_blob(cwd)
    for name, mode, options in JOBS:
        suite.store_blob(put(defaults, 4, mode), cwd)
        args = ["export", "-o", "out.wmv", "--size", "160x120", "--frames", "60", "--key-every", "15",
                "--record", "samples.json", "--message-log", "boxes.json"] + options
        windows, linux = suite.both(args, cwd, ".json")
        expect(windows.returncode == linux.returncode,
               f"{name}: exit {windows.returncode} on Windows, {linux.returncode} on Linux\n{text(windows.stderr)}")
        samples = read(os.path.join(cwd, "samples.windows.json"))
        reference = read(os.path.join(cwd, "samples.linux.json"))
        expect(samples, f"{name}: nothing reached the runtime")
        if samples != reference:
            mine, theirs = samples.decode().splitlines(), reference.decode().splitlines()
            first = next((i for i, (a, b) in enumerate(zip(mine, theirs)) if a != b), min(len(mine), len(theirs)))
            raise Failure(f"{name}: sample {first} differs ({len(mine)} samples against {len(theirs)}):\n"
                          f"  windows {mine[first] if first < len(mine) else '-'}\n"
                          f"  linux   {theirs[first] if first < len(theirs) else '-'}")
        boxes = read(os.path.join(cwd, "boxes.windows.json"))
        expect(boxes == read(os.path.join(cwd, "boxes.linux.json")), f"{name}: other boxes: {text(boxes)}")
        passes = sorted({s["pass"] for s in json_lines(os.path.join(cwd, "samples.windows.json"))})
        print(f"{name}: {len(samples.splitlines())} samples, passes {passes}, "
              f"{len(json_lines(os.path.join(cwd, 'boxes.windows.json')))} boxes: the same")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)


def check_planted_runtime(suite):
    """A wmvcore.dll beside the editor (and in the current folder) is not loaded: the module takes
    the one in the system folder."""
    cwd = suite.workdir("planted-runtime")
    for path in (suite.host, suite.module):
        shutil.copy(path, cwd)
    shutil.copyfile(suite.runtime, os.path.join(cwd, "wmvcore.dll"))
    result = suite.windows(["export", "-o", "out.wmv", "--size", "160x120", "--frames", "6", "--record",
                            "samples.json"], cwd, host=os.path.join(cwd, "brevlo-host.exe"), debug="+loaddll")
    expect(result.returncode == 0, f"the export failed: {text(result.stderr)}")
    loaded = [l for l in text(result.stderr).splitlines() if "Loaded" in l and "wmvcore" in l.lower()]
    expect(loaded, "no wmvcore.dll was loaded")
    expect(all("windows\\\\system32\\\\wmvcore.dll" in l.lower() for l in loaded),
           "a wmvcore.dll outside the system folder was loaded:\n" + "\n".join(loaded))
    expect(read(os.path.join(cwd, "samples.json")), "the system folder's runtime received nothing")
    print("loaded:", loaded[0].split("Loaded", 1)[1].strip())


# What a user does on the sheet (switch to Audio, pick a format, back to Video, a bit rate typed, a
# mode picked, the aspect box ticked and its terms typed, the slider dragged), then OK.
SHEET_ACTIONS = ["--tab", "Audio", "--pick", "Format=#3", "--tab", "Video", "--pick", "Compression=1-pass CBR",
                 "--type", "Bit rate=2000000", "--pick", "Compression=2-pass VBR - unconstrained", "--check",
                 "Aspect ratio", "--type", "Aspect ratio (2)=16", "--type", "Aspect ratio (3)=9", "--slide",
                 "Performance=1"]


def stored_settings(result):
    out = text(result.stdout)
    return out[out.find("stored settings:"):]


def check_sheet(suite):
    """The real property sheet under Xvfb, acted on through brevlo-host.exe config as a user would:
    OK stores what the Linux build stores for the same actions, Cancel changes nothing; a
    screenshot of each page."""
    cwd = suite.workdir("sheet")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    windows, linux = suite.both(["config"] + SHEET_ACTIONS + ["--ok"], cwd)
    expect(windows.returncode == 0 and linux.returncode == 0,
           f"config exit {windows.returncode} / {linux.returncode}: {text(windows.stderr)}{text(linux.stderr)}")
    expect("Config returned 1\n" in text(windows.stdout), "the sheet was not shown:\n" + text(windows.stdout))
    expect(stored_settings(windows) == stored_settings(linux),
           f"stored after OK:\n{stored_settings(windows)}\nby the Linux build:\n{stored_settings(linux)}")
    chosen = {"CompressionMode": 3, "Bitrate": 2000000, "EnableResizeTo": 1, "ResizeToW": 16, "ResizeToH": 9,
              "Performance": 1}
    _, video = suite.query_key(VIDEO_KEY, cwd)
    _, audio = suite.query_key(AUDIO_KEY, cwd)
    expect(len(video) == 14 and len(audio) == 6 and all(t == "REG_DWORD" for t, _ in list(video.values()) + list(audio.values())),
           f"the keys hold {video} and {audio}")
    for name, value in chosen.items():
        expect(video[name][1] == hex(value), f"{name} is {video[name][1]}, not {hex(value)}")
    expect(audio["Format"][1] == "0x3", f"Format is {audio['Format'][1]}")
    expect(suite.saved_blob(cwd) == suite.saved_blob(cwd, windows=False), "the stored records differ")

    # Keys move the slider, and the page takes where they leave it. The interval's last digit would
    # make it too large: refused, with the caret left behind the digits typed before it (at the
    # start, the next key would go in front and make 1300000000).
    windows, linux = suite.both(["config", "--key-slide", "Performance=4", "--type",
                                 "Key frame interval=30000000001", "--ok"], cwd)
    expect(windows.returncode == 0 and stored_settings(windows) == stored_settings(linux),
           f"after keys on the slider:\n{stored_settings(windows)}\nby the Linux build:\n{stored_settings(linux)}")
    stored = suite.query_key(VIDEO_KEY, cwd)[1]
    expect(stored["Performance"][1] == "0x4", f"the slider moved by keys stored {stored['Performance'][1]}")
    expect(stored["KeyFrameInterval"][1] == hex(300000000), f"the interval is {stored['KeyFrameInterval'][1]}")

    # An interval stored beyond what its edit takes is shown, put back when read, and stored again
    # as it was; Wine may fail to read the largest number back, and the page must not put it back
    # without end.
    suite.store_blob(put(suite.saved_blob(cwd), 48, 0xFFFFFFFF), cwd)
    windows, linux = suite.both(["config", "--ok"], cwd)
    expect(windows.returncode == 0 and stored_settings(windows) == stored_settings(linux),
           f"after OK over the largest interval:\n{stored_settings(windows)}\nby the Linux build:\n"
           f"{stored_settings(linux)}")
    expect(suite.query_key(VIDEO_KEY, cwd)[1]["KeyFrameInterval"][1] == "0xffffffff", "the interval changed")

    before = [suite.query_key(key, cwd) for key in (VIDEO_KEY, AUDIO_KEY)]
    blob = suite.saved_blob(cwd)
    result = suite.windows(["config", "--pick", "Compression=1-pass CBR", "--type", "Bit rate=1500000", "--check",
                            "Aspect ratio", "--slide", "Performance=3", "--tab", "Audio", "--pick", "Format=#1",
                            "--cancel"], cwd)
    expect(result.returncode == 0 and "Config returned 1\n" in text(result.stdout), text(result.stderr))
    expect([suite.query_key(key, cwd) for key in (VIDEO_KEY, AUDIO_KEY)] == before and suite.saved_blob(cwd) == blob,
           "Cancel changed the stored settings")

    shots = take_sheet_screenshots(suite, cwd)
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    print("OK stores what the Linux build stores, Cancel nothing; screenshots:", ", ".join(shots))


def take_sheet_screenshots(suite, cwd):
    """Shows the sheet, holds it on each page while ImageMagick takes the screen, then cancels."""
    folder = os.path.join(suite.root, "screenshots")
    os.makedirs(folder, exist_ok=True)
    pages = ["Video", "Audio"]
    args = ["wine", suite.host, "config"]
    for page in pages:
        args += ["--tab", page, "--hold", page]
    out_path = os.path.join(cwd, "held.out")
    with open(out_path, "wb") as out, open(os.path.join(cwd, "held.err"), "wb") as err:
        host = subprocess.Popen(args + ["--cancel"], env=suite.env(), cwd=cwd, stdin=subprocess.PIPE, stdout=out,
                                stderr=err)
        shots = []
        try:
            for page in pages:
                deadline = time.monotonic() + WAIT
                while f"hold {page}\n".encode() not in read(out_path):
                    expect(host.poll() is None, f"the host ended before the {page} page was held")
                    expect(time.monotonic() < deadline, f"the {page} page was not held within {WAIT} s")
                    time.sleep(0.02)
                raw = os.path.join(cwd, f"{page}.png")
                run(["/usr/bin/import", "-display", suite.state()["display"], "-window", "root", raw], env=os.environ)
                shot = os.path.join(folder, f"sheet-{page.lower()}.png")
                # Only the sheet: the rest of the screen is the empty root window.
                run(["/usr/bin/convert", raw, "-trim", "+repage", shot], env=os.environ)
                size = run(["/usr/bin/identify", "-format", "%w %h", shot], env=os.environ).stdout.split()
                expect(int(size[0]) >= 200 and int(size[1]) >= 200, f"the {page} screenshot is only {size}")
                shots.append(shot)
                host.stdin.write(b"\n")
                host.stdin.flush()
            host.stdin.close()
            expect(host.wait(timeout=WAIT) == 0, "the held sheet did not end well")
        finally:
            if host.poll() is None:
                host.kill()
                host.wait()
    return shots


def check_host_text(suite):
    """brevlo-host.exe prints UTF-8 as the Linux build does, also the user's own words; its --help
    lists only what it takes; and where Win32 or the runtime keep the cause of a failure to
    themselves, the host names it: a path too long for Windows, a runtime that is not the stand-in,
    and a success that wrote no file."""
    cwd = suite.workdir("host-text")
    windows, linux = suite.both(["--help"], cwd)
    expect(b"--input" in linux.stdout and b"--input" not in windows.stdout, "--help of the Windows build lists --input")
    windows = suite.windows(["config", "--pick", "Compression=日本語"], cwd)
    expect(windows.returncode == 1 and '"Compression" has no entry 日本語'.encode() in windows.stderr,
           f"the picked text is not echoed in UTF-8: {windows.stderr!r}")

    job = ["export", "--size", "64x48", "--frames", "3"]
    windows = suite.windows(job + ["-o", r"C:\nonexistent\x.wmv"], cwd)
    expect(windows.returncode == 0 and text(windows.stderr).count("writes no file") == 1,
           f"no word that the stand-in wrote no file: {text(windows.stderr)}")
    windows = suite.windows(job + ["-o", "C:\\" + "a" * 300 + ".wmv"], cwd)
    expect(windows.returncode == 1 and "the output path is 307 UTF-16 units long" in text(windows.stderr),
           f"a long path fails without its cause: {text(windows.stderr)}")

    # Wine's own runtime in place of the stand-in: the module cannot build a profile with it.
    builtin = dict(suite.env(), WINEDLLOVERRIDES="wmvcore=b")
    for args in (job + ["-o", "x.wmv"], ["config"]):
        result = run(["wine", suite.host] + args, env=builtin, cwd=cwd, check=False)
        expect("is not the stand-in and gives no cause" in text(result.stderr),
               f"{args[0]} with Wine's runtime says nothing: {text(result.stdout)} {text(result.stderr)}")
    print("UTF-8 echo, --help without --input, causes for a long path, Wine's runtime and an unwritten file")


def check_file_errors(suite):
    """A disk that fills mid-export (the stand-in runtime's fail point for the file sink's writes):
    the runtime reports it only to the module's status callback, and the module stops, ends the
    writing and answers 0, leaving nothing behind, and the host says the cause; the same when the
    failing call tells it."""
    cwd = suite.workdir("file-errors")
    suite.reg(["delete", r"HKCU\Software\Veltrane", "/f"], cwd)
    job = ["export", "-o", "out.wmv", "--size", "160x120", "--frames", "30", "--record", "samples.json"]
    whole = suite.windows(job, cwd)
    expect(whole.returncode == 0, f"the export without a fail point failed: {text(whole.stderr)}")
    all_samples = len(json_lines(os.path.join(cwd, "samples.json")))
    for way in ("status", "call"):
        env = dict(suite.env(), BREVLO_WMVCORE_FAIL="IWMWriterSink::OnDataUnit:5", BREVLO_WMVCORE_FILE_ERRORS=way)
        result = run(["wine", suite.host] + job, env=env, cwd=cwd, check=False)
        err = text(result.stderr)
        expect(result.returncode == 1, f"{way}: exit {result.returncode}: {err}")
        expect("Output returned 0" in err and "left over" not in err, f"{way}: {err}")
        expect("brevlo-host: cannot write out.wmv: no space left on the device" in err, f"{way}: no cause said: {err}")
        samples = len(json_lines(os.path.join(cwd, "samples.json")))
        expect(5 <= samples < all_samples, f"{way}: {samples} of {all_samples} samples reached the runtime")
    print(f"a full disk at the 5th write fails the export, through status and through the call; {all_samples} samples in all")


def check_interfaces(suite):
    """Our interface declarations against mingw-w64's (and the reference's slot table)."""
    cwd = suite.workdir("interfaces")
    result = run(["wine", suite.interfaces], env=suite.env(), cwd=cwd, check=False)
    sys.stdout.write(text(result.stdout))
    expect(result.returncode == 0, f"the cross-check failed ({result.returncode}): {text(result.stderr)[-2000:]}")


CHECKS = {
    "module-image": check_module_image,
    "registry": check_registry,
    "presence": check_presence,
    "recordings": check_recordings,
    "planted-runtime": check_planted_runtime,
    "interfaces": check_interfaces,
    "file-errors": check_file_errors,
    "sheet": check_sheet,
    "host-text": check_host_text,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the Windows build folder")
    parser.add_argument("--linux", required=True, help="the Linux build folder (for the comparisons)")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("action", choices=["prepare", "check", "finish"])
    parser.add_argument("name", nargs="?", choices=sorted(CHECKS))
    args = parser.parse_args()
    suite = Suite(args)
    try:
        if args.action == "prepare":
            suite.prepare()
        elif args.action == "finish":
            suite.finish()
        else:
            expect(suite.state().get("display"), "no Wine session: run the prepare step first")
            started = time.monotonic()
            CHECKS[args.name](suite)
            print(f"{args.name}: passed in {time.monotonic() - started:.1f} s")
    except Failure as failure:
        print(f"{args.name or args.action}: FAILED: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
