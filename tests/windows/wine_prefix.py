"""A Wine prefix in which brevlo-host.exe runs brevlo.auo as the editor's users run it: the Japanese
locale (ANSI code page 932), the stand-in wmvcore.dll in the system folder in place of Wine's own,
fonts with Japanese glyphs for the dialogs. The Windows suite makes one afresh for every run;
scripts/wine-host keeps one for a developer.
"""
import os
import shutil

# Wine draws its own captions, and closing a window costs no 2 s wait for a window manager that is
# not there. A crash ends the program instead of opening a debugger dialog nobody closes. The
# dialogs' fonts, and Tahoma (MS Shell Dlg, which sizes the sheet), as the proportional Japanese
# font.
PREFIX_SETTINGS = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
    "\"ＭＳ Ｐゴシック\"=\"IPAPGothic\"\r\n\"MS UI Gothic\"=\"IPAPGothic\"\r\n"
    "\"Tahoma\"=\"IPAPGothic\"\r\n")


def prefix_env(prefix, debug="-all", display=None):
    """The environment of a program in the prefix: the stand-in runtime taken over Wine's, the
    Japanese locale, the given display or none."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINEDEBUG", "WINEDLLOVERRIDES", "WINEARCH", "WINESERVER"):
        env.pop(name, None)
    # A 32-bit prefix, as the editor's is, also where the 64-bit Wine is installed beside the
    # 32-bit one (its prefixes keep 32-bit DLLs in syswow64, where the module does not look).
    env.update(WINEPREFIX=prefix, WINEARCH="win32", WINEDEBUG=debug, WINEDLLOVERRIDES="wmvcore=n",
               LC_ALL="ja_JP.UTF-8", LANG="ja_JP.UTF-8")
    if display:
        env["DISPLAY"] = display
    return env


def system_runtime(prefix):
    return os.path.join(prefix, "drive_c", "windows", "system32", "wmvcore.dll")


def install_runtime(prefix, runtime):
    """Puts the stand-in runtime into the prefix's system folder, where the module takes it from."""
    shutil.copyfile(runtime, system_runtime(prefix))


def make_prefix(prefix, runtime, run):
    """Makes the prefix, without a display: Wine's desktop process binds to the display of the
    first program of a server session, so the programs that show windows start a session of their
    own. `run(command, env, timeout=…)` runs a program and fails when it does."""
    os.makedirs(os.path.dirname(prefix), exist_ok=True)
    headless = prefix_env(prefix)
    run(["wineboot", "-i"], env=headless, timeout=300)
    settings = os.path.join(os.path.dirname(prefix), "settings.reg")
    with open(settings, "w", encoding="utf-16") as f:
        f.write(PREFIX_SETTINGS)
    run(["wine", "reg", "import", settings], env=headless)
    install_runtime(prefix, runtime)
    run(["wineserver", "-w"], env=headless, timeout=60)
