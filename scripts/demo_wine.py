#!/usr/bin/env python3
"""The Windows half of scripts/demo: runs SFX files made by 'ostrel build'
under Wine and Xvfb, through the end-to-end tests' Wine session.

usage: demo_wine.py --arch win32|win64 --work DIR --uidriver EXE --silent SFX
                    --interactive SFX --examples DIR

The SFX files and the UI driver are programs of ARCH: win32 runs under
wine32, win64 under wine64.

1. The silent SFX file is started from C:\\Demo; it extracts into its
   default folder C:\\Beispiel without a window. The extracted files are
   listed and compared with the example folder byte for byte.
2. The interactive SFX file is started in the virtual desktop; once its main
   dialog is up, the screen is saved as DIR/hauptdialog.png.
Exit code 0 when both went as described, 1 otherwise.
"""
import argparse
import filecmp
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from wine_session import WineSession, wait_for  # noqa: E402

DIALOG_CLASS = "#32770"  # the main dialog, the only dialog on screen


def tree(root):
    """Every file and folder below root, relative, sorted."""
    found = []
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def silent_run(wine, sfx, examples):
    demo = wine.drive_c("Demo")
    os.makedirs(demo, exist_ok=True)
    shutil.copy(sfx, os.path.join(demo, "beispiel.exe"))
    result = wine.run(["C:\\Demo\\beispiel.exe"], timeout=180)
    target = wine.unix_path("C:\\Beispiel")
    print("  silent run: exit code %d; extracted into C:\\Beispiel:" % result.returncode)
    for name in tree(target) if os.path.isdir(target) else []:
        print("    " + name)
    comparison = filecmp.dircmp(examples, target) if os.path.isdir(target) else None
    same = comparison is not None and tree(examples) == tree(target) and all(
        filecmp.cmp(os.path.join(examples, name), os.path.join(target, name), shallow=False)
        for name in tree(examples) if os.path.isfile(os.path.join(examples, name)))
    print("  " + ("every extracted file equals the example folder" if same else "DIFFERENT from the example folder"))
    return same


def interactive_run(wine, sfx, shot):
    shutil.copy(sfx, wine.drive_c("Demo", "dialog.exe"))
    process = wine.start(["C:\\Demo\\dialog.exe"])
    code, controls = wine.ui("wait-window", "--class", DIALOG_CLASS, "--timeout", "60000", timeout=120)
    shown = code == 0 and controls
    if shown:
        wait_for(lambda: False, 2)  # let the desktop finish drawing
        print("  interactive run: main dialog '%s' shown" % controls[0].text.decode("cp1252"))
        shown = wine.screenshot(shot)
        print("  screenshot: %s" % shot)
    else:
        print("  interactive run: the main dialog did not appear")
    wine.ui("close", "--class", DIALOG_CLASS, timeout=60)
    try:
        process.wait(timeout=30)
    except Exception:
        process.kill()
    return bool(shown)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=("win32", "win64"), required=True)
    for option in ("--work", "--uidriver", "--silent", "--interactive", "--examples"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    with WineSession(args.work, os.path.abspath(args.uidriver), arch=args.arch) as wine:
        print("  running %s programs with %s" % (args.arch, wine.loader))
        ok = silent_run(wine, args.silent, os.path.abspath(args.examples))
        ok = interactive_run(wine, args.interactive, os.path.join(os.path.abspath(args.work), "hauptdialog.png")) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
