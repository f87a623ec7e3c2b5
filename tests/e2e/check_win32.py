#!/usr/bin/env python3
"""Structural checks of the shipped 32-bit stub, by its file alone, so that
they hold also where the kernel cannot run 32-bit code (where it can,
scripts/test-win32 runs the build end to end under wine32 as well).

usage: check_win32.py BUILD_DIR     e.g. build/win32

Checks the stub image BUILD_DIR/stub/stub.exe: PE32 for i386, exactly 8192
bytes with the last section's raw data ending there, GUI subsystem, imports
from KERNEL32.dll and USER32.dll only, no unwind tables, the icon group 102
(German, 32x32 and 16x16 in 16 colours) and the application manifest
(asInvoker, supported systems) as its only resources, the DLL search guard's
function names present and those functions not imported; and an SFX file
assembled from it (stub, a stage, a ZIP archive) with the stage header at
offset 8192; and the build's fit step on variants of the image (grows a
short one back, refuses and removes a long one). One line per check; exit code 1 when any check fails.

Checks the extractor image BUILD_DIR/extractor/extractor.exe: PE32 for
i386, GUI subsystem, imports only from KERNEL32, USER32, GDI32, SHELL32 and
COMDLG32, the dialogs MAINWIN, 109, 5021 and 1541 and the icon groups 107,
110 and 112 (German), and a manifest asking for asInvoker; and that the
packed stage of an SFX file built from the win32 programs by 'ostrel build'
(taken from the native build beside BUILD_DIR) decodes natively to exactly
the extractor image followed by the delivered settings block.
"""
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402
import pe_image  # noqa: E402
import stages  # noqa: E402


RT_DIALOG = 5
RT_MANIFEST = 24
EXTRACTOR_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "SHELL32.DLL", "COMDLG32.DLL"}
# The settings block an SFX file gets without options: magic, five empty
# texts, intro style 0, overwrite mode 1, silent mode 1, reserved 0.
DELIVERED_SETTINGS = b"ZVTKQ" + struct.pack("<HHHBBhhhH", 0, 0, 0, 0, 0, 0, 1, 1, 0)


def check_extractor(checks, build):
    path = os.path.join(build, "extractor", "extractor.exe")
    try:
        with open(path, "rb") as f:
            data = f.read()
        image = pe_image.PeImage(data)
    except (OSError, ValueError, struct.error) as problem:
        checks.check("i686 extractor: image readable", False, str(problem))
        return
    label = "i686 extractor"
    checks.equal("%s: PE32 for i386" % label, (hex(image.machine), hex(image.magic)),
                 (hex(pe_image.MACHINE_I386), "0x10b"))
    checks.equal("%s: subsystem is Windows GUI" % label, image.subsystem, pe_image.SUBSYSTEM_WINDOWS_GUI)
    dlls = {name.upper() for name in image.imported_dlls()}
    checks.check("%s: imports only platform DLLs" % label, dlls <= EXTRACTOR_DLLS and "KERNEL32.DLL" in dlls,
                 "imports %s" % sorted(dlls))
    # The DLL search guard: both functions looked up by name, as in the stub.
    pe_image.check_dll_guard(checks, label, image)
    resources = image.resources()
    german = [(r[0], r[1]) for r in resources if r[2] == pe_image.LANG_GERMAN_GERMANY]
    checks.equal("%s: dialogs" % label, sorted((str(r[1]) for r in german if r[0] == RT_DIALOG)),
                 ["109", "1541", "5021", "MAINWIN"])
    checks.equal("%s: icon groups" % label, sorted(r[1] for r in german if r[0] == pe_image.RT_GROUP_ICON),
                 [107, 110, 112])
    manifests = [r[3] for r in resources if r[0] == RT_MANIFEST and r[1] == 1]
    checks.check("%s: manifest asks for asInvoker, DPI aware" % label,
                 manifests and b'level="asInvoker"' in manifests[0] and b"dpiAware" in manifests[0],
                 "manifests: %r" % manifests)

    # The stage of a real SFX file carries exactly this image and its block.
    ostrel = os.path.join(os.path.dirname(os.path.abspath(build)), "native", "builder", "ostrel")
    work = os.path.join(build, "e2e-artifacts")
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "extractor-input")
    os.makedirs(source, exist_ok=True)
    with open(os.path.join(source, "liesmich.txt"), "wb") as f:
        f.write(b"Hallo.\r\n")
    sfx, stage, unpacked = (os.path.join(work, name) for name in ("i686-sfx.exe", "i686-stage.bin", "i686-image.bin"))
    built = subprocess.run([ostrel, "build", "-q", "--arch", "win32",
                            "--stub", os.path.join(build, "stub", "stub.exe"), "--extractor", path,
                            "-o", sfx, source], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if not checks.check("%s: SFX file built" % label, built.returncode == 0, built.stderr.decode(errors="replace")):
        return
    with open(sfx, "rb") as f:
        whole = f.read()
    with open(stage, "wb") as f:
        f.write(whole[8192:])
    decoded = subprocess.run([ostrel, "unpack", stage, unpacked], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    result = open(unpacked, "rb").read() if decoded.returncode == 0 else b""
    checks.check("%s: packed stage decodes to the image and the delivered settings" % label,
                 result == data + DELIVERED_SETTINGS,
                 "%d bytes decoded, %d expected" % (len(result), len(data) + len(DELIVERED_SETTINGS)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_win32.py BUILD_DIR")
    build = sys.argv[1]
    checks = Checks()
    stub_path = os.path.join(build, "stub", "stub.exe")
    image = pe_image.check_stub_image(checks, stub_path, pe_image.MACHINE_I386)
    if image:
        work = os.path.join(build, "e2e-artifacts")
        os.makedirs(work, exist_ok=True)
        stage, _ = stages.zero_image_stage()
        pe_image.check_assembled_sfx(checks, "i686 stub", image.data, stage,
                                     os.path.join(work, "assembled-i686.exe"))
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        pe_image.check_fit_step(checks, "i686 stub", image.data,
                                os.path.join(source, "stub", "fit_image.py"), work)
        # The committed icon is the drawing script's output, so that the
        # artwork can be changed in one place.
        drawn = os.path.join(work, "stub-drawn.ico")
        subprocess.run([sys.executable, os.path.join(source, "stub", "make_icon.py"), drawn], check=False)
        with open(os.path.join(source, "stub", "stub.ico"), "rb") as f:
            committed = f.read()
        checks.check("stub.ico is what make_icon.py draws",
                     os.path.exists(drawn) and open(drawn, "rb").read() == committed,
                     "run stub/make_icon.py stub/stub.ico")
    check_extractor(checks, build)
    checks.finish()


if __name__ == "__main__":
    main()
