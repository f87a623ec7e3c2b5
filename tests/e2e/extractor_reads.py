#!/usr/bin/env python3
"""Counts the file-layer calls the extractor makes while it extracts an SFX
file of many small files under Wine, from Wine's relay trace.

usage: extractor_reads.py --native BUILD_NATIVE (--win64 BUILD_WIN64 | --win32 BUILD_WIN32)
                          [--files N] [--extractor EXE]

Builds a silent SFX file of N small text files (default 2,000, 100 to 600
bytes each, in 20 folders) with BUILD_NATIVE/builder/ostrel from the stub and
extractor of the Windows build, runs its extractor once in a fresh prefix
(BUILD/extractor-reads) the way the stub starts it, checks that every file
came out, and prints

    extractor ReadFile calls: R for N files (R/N per file); SetFilePointer calls: S

A figure, not a test. The extractor is started as its unpacked image with
the launch trailer (as run_extractor_e2e.py does), so that the traced
process is known by its file name; the stub's own reads are not counted.
The trace is limited to the counted functions by RelayInclude (see
stub_reads.py).
"""
import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stub_reads  # noqa: E402
from wine_session import WineSession, add_windows_build_arguments, windows_build  # noqa: E402

COUNTED = ("ReadFile", "SetFilePointer", "SetFilePointerEx")
WORDS = ["Datei ", "Ordner ", "entpackt ", "und ", "wurde ", "Zeile ", "\r\n"]


def make_folder(root, files):
    """files small text files, the same on every run."""
    rng = random.Random(4711)
    for i in range(files):
        folder = os.path.join(root, "ordner%02d" % (i % 20))
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(100, 600)
        text = ""
        while len(text) < size:
            text += rng.choice(WORDS) + str(rng.randint(0, 99999)) + " "
        with open(os.path.join(folder, "datei%04d.txt" % i), "w") as f:
            f.write(text[:size])


def main():
    parser = argparse.ArgumentParser(description="Counts the extractor's ReadFile calls under Wine.")
    parser.add_argument("--native", required=True, help="native build folder (for ostrel)")
    add_windows_build_arguments(parser)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--extractor", help="another extractor image to measure (default: the build's)")
    args = parser.parse_args()
    arch, build = windows_build(args)
    ostrel = os.path.join(args.native, "builder", "ostrel")
    work = os.path.join(build, "extractor-reads")
    shutil.rmtree(work, ignore_errors=True)
    source = os.path.join(work, "quelle")
    make_folder(source, args.files)
    sfx = os.path.join(work, "viele.exe")
    subprocess.run([ostrel, "build", "-q", "--arch", arch, "--default-folder", "C:\\Ziel",
                    "--stub", os.path.join(build, "stub", "stub.exe"),
                    "--extractor", args.extractor or os.path.join(build, "extractor", "extractor.exe"),
                    "-o", sfx, source], check=True)
    with open(sfx, "rb") as f:
        data = f.read()
    stage, image = os.path.join(work, "stage.bin"), os.path.join(work, "image.bin")
    with open(stage, "wb") as f:
        f.write(data[8192:])
    subprocess.run([ostrel, "unpack", stage, image], check=True, stdout=subprocess.DEVNULL)
    with WineSession(work, None, arch=arch) as wine:
        shutil.copyfile(sfx, wine.drive_c("viele.exe"))
        trailer = b"C:\\viele.exe"
        with open(image, "rb") as f, open(wine.drive_c("entpacker.exe"), "wb") as out:
            out.write(f.read() + trailer + struct.pack("<H", len(trailer)))
        if not wine.set_registry_value(stub_reads.RELAY_KEY, "RelayInclude", "REG_SZ", ";".join(COUNTED)):
            sys.exit("extractor_reads: cannot set RelayInclude")
        calls, code = stub_reads.trace_stub(wine, "C:\\entpacker.exe", timeout=600)
        target = wine.unix_path("C:\\Ziel")
        extracted = sum(len(files) for _, _, files in os.walk(target)) if os.path.isdir(target) else 0
    shutil.rmtree(work)
    if calls is None or code != 0 or extracted != args.files:
        sys.exit("extractor_reads: the extractor did not extract %d files (exit code %s, %d files)"
                 % (args.files, code, extracted))
    reads = sum(1 for function, _ in calls if function == "ReadFile")
    seeks = sum(1 for function, _ in calls if function.startswith("SetFilePointer"))
    print("extractor ReadFile calls (%s): %d for %d files (%.2f per file); SetFilePointer calls: %d"
          % (arch, reads, args.files, reads / args.files, seeks))


if __name__ == "__main__":
    main()
