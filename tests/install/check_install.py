#!/usr/bin/env python3
"""ostrel as a user gets it: installed into a prefix, and unpacked from the .deb.

    check_install.py NATIVE_BUILD DEB

For each of the two trees (NATIVE_BUILD/install-check/prefix from
"cmake --install", NATIVE_BUILD/install-check/deb from "dpkg-deb -x"):
every file is where it belongs; the binary finds its libraries (ldd); from
a folder outside the project, "ostrel --version" names the four Windows
programs of the tree, "ostrel build" makes a win32 and a win64 SFX file of
the installed examples and "ostrel extract" gives back the project's
examples byte for byte. The package's control fields name the shared
libraries as dependencies and osslsigncode as a suggestion.
"""
import os
import shutil
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(SOURCE, "examples")
PROGRAMS = [f"share/ostrel/{arch}/{name}.exe" for arch in ("win32", "win64") for name in ("stub", "extractor")]


def run(args, cwd=None):
    result = subprocess.run(args, cwd=cwd, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        sys.exit(f"{' '.join(map(str, args))}: exit {result.returncode}\n{result.stdout}{result.stderr}")
    return result.stdout


def tree(root):
    """{relative path: bytes, or None for a folder} of everything under root."""
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs:
            found[os.path.relpath(os.path.join(folder, name), root)] = None
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                found[os.path.relpath(os.path.join(folder, name), root)] = f.read()
    return found


def check_tree(label, root, manual, faults):
    """root: the folder that holds bin/ and share/ (the prefix, or usr/ of the package)."""
    ostrel = os.path.join(root, "bin", "ostrel")
    for relative in ["bin/ostrel", manual, "share/bash-completion/completions/ostrel",
                     "share/doc/ostrel/README.md", "share/doc/ostrel/examples"] + PROGRAMS:
        if not os.path.exists(os.path.join(root, relative)):
            faults.append(f"{label}: {relative} missing")
    if faults:
        return
    missing = [line for line in run(["ldd", ostrel]).splitlines() if "not found" in line]
    if missing:
        faults.append(f"{label}: ldd: {missing}")
    # man renders it (compressed or not) without complaints.
    # C.UTF-8: a LANG without its locale would make man complain on stderr.
    env = dict(os.environ, MANWIDTH="80", MAN_DISABLE_SECCOMP="1", LC_ALL="C.UTF-8")
    rendered = subprocess.run(["man", "--warnings", "-l", os.path.join(root, manual)], capture_output=True,
                              text=True, env=env)
    if rendered.returncode != 0 or rendered.stderr or "ostrel build" not in rendered.stdout:
        faults.append(f"{label}: man -l {manual}: exit {rendered.returncode} {rendered.stderr.strip()}")

    # From a folder of its own, far from the project's build trees.
    elsewhere = os.path.join(os.path.dirname(root.rstrip("/")), "elsewhere-" + label)
    os.makedirs(elsewhere)
    version = run([ostrel, "--version"], cwd=elsewhere)
    for relative in PROGRAMS:
        arch, name = relative.split("/")[2], os.path.basename(relative)[:-4]
        expected = os.path.realpath(os.path.join(root, relative))
        if [arch, name, expected] not in (line.split(None, 2) for line in version.splitlines()):
            faults.append(f"{label}: ostrel --version does not name {expected}:\n{version}")
    want = tree(EXAMPLES)
    for arch in ("win32", "win64"):
        sfx = f"beispiel-{arch}.exe"
        run([ostrel, "build", "-q", "--arch", arch, "-o", sfx, os.path.join(root, "share/doc/ostrel/examples")],
            cwd=elsewhere)
        run([ostrel, "extract", sfx, "out-" + arch], cwd=elsewhere)
        got = tree(os.path.join(elsewhere, "out-" + arch))
        if got != want:
            faults.append(f"{label} {arch}: extracted {sorted(got)}, the examples are {sorted(want)}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    native, deb = (os.path.abspath(a) for a in sys.argv[1:])
    work = os.path.join(native, "install-check")
    shutil.rmtree(work, ignore_errors=True)
    faults = []

    prefix = os.path.join(work, "prefix")
    run(["cmake", "--install", native, "--prefix", prefix])
    check_tree("prefix", prefix, "share/man/man1/ostrel.1", faults)

    unpacked = os.path.join(work, "deb")
    run(["dpkg-deb", "-x", deb, unpacked])
    check_tree("deb", os.path.join(unpacked, "usr"), "share/man/man1/ostrel.1.gz", faults)
    depends, suggests = run(["dpkg-deb", "-f", deb, "Depends", "Suggests"]).splitlines()
    for library in ("libdeflate0", "zlib1g", "libc6", "libstdc++6"):
        if library not in depends:
            faults.append(f"deb: Depends lacks {library}: {depends}")
    if "osslsigncode" not in suggests:
        faults.append(f"deb: Suggests lacks osslsigncode: {suggests}")

    for fault in faults:
        print(fault)
    if faults:
        sys.exit(f"{len(faults)} fault(s) in the installed ostrel")
    shutil.rmtree(work)
    print("installed ostrel (prefix and .deb) builds and extracts the examples from another folder")


if __name__ == "__main__":
    main()
