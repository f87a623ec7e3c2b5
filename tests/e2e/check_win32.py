#!/usr/bin/env python3
"""Structural checks of the shipped 32-bit stub (this machine cannot run
32-bit code, so the i686 build is checked by its file alone).

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
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402
import pe_image  # noqa: E402
import stages  # noqa: E402


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
    checks.finish()


if __name__ == "__main__":
    main()
