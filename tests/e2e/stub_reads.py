#!/usr/bin/env python3
"""Counts the ReadFile calls the stub makes while it unpacks a stage, under
wine64, from Wine's relay trace.

usage: stub_reads.py --native BUILD_NATIVE --win64 BUILD_WIN64 [--stub STUB_EXE]

Packs the test payload (BUILD_WIN64/tests/win/payload.exe) with
BUILD_NATIVE/builder/ostrel, puts the x86_64 stub in front of it, runs the
SFX file once in a fresh prefix (BUILD_WIN64/stub-reads) and prints

    stub ReadFile calls: N for a stage of M bytes

A figure, not a test: run_e2e.py checks a bound with the same trace, and
that the DLL search guard's call comes first.

How the count is taken: with RelayInclude set to ReadFile (and the guard's
functions) in the prefix's registry, WINEDEBUG=+pid,+loaddll,+relay traces
only the calls of those functions, each line headed by process and thread
id. The stub's process is the one whose loader trace names the SFX file;
its "Call" lines are counted, whichever DLL the call resolves to (KERNEL32
forwards to KERNELBASE).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_session import WineSession  # noqa: E402

RELAY_KEY = "HKCU\\Software\\Wine\\Debug"
# The stage reads, and the DLL search guard's calls, which must come first.
RELAY_FUNCTIONS = "ReadFile;SetDefaultDllDirectories;SetDllDirectoryA"
TRACE = "+pid,+loaddll,+relay"


def enable_trace(wine):
    """Limits relay tracing in the prefix to RELAY_FUNCTIONS; returns 1 when set."""
    return wine.set_registry_value(RELAY_KEY, "RelayInclude", "REG_SZ", RELAY_FUNCTIONS)


def traced_calls(trace, program):
    """Returns [(function, arguments)] in call order for the process that
    loaded program (a Windows path), or None when no process loaded it.
    The trace escapes characters outside ASCII, so the program is known by
    its file name, which the callers keep in ASCII."""
    loaded = re.compile(r"^([0-9a-f]{4}):[0-9a-f]{4}:trace:loaddll:\S+ Loaded L\"(.*?)\" at ")
    name = program.rpartition("\\")[2].lower()
    pid = None
    for line in trace.splitlines():
        match = loaded.match(line)
        if match and match.group(2).rpartition("\\")[2].lower() == name:
            pid = match.group(1)
            break
    if pid is None:
        return None
    call = re.compile(r"^%s:[0-9a-f]{4}:Call [A-Za-z0-9_]+\.(\w+)\((.*?)\)" % pid)
    return [match.groups() for match in map(call.match, trace.splitlines()) if match]


def trace_stub(wine, program, env=None, timeout=120):
    """Runs program (an SFX file's Windows path) to its end with the trace
    on. Returns (the stub's traced calls or None, exit code)."""
    result = wine.run([program], env=dict(env or {}, WINEDEBUG=TRACE), timeout=timeout)
    return traced_calls(result.stderr.decode("latin-1"), program), result.returncode


def count_reads(calls):
    return sum(1 for function, _ in calls if function == "ReadFile")


def main():
    parser = argparse.ArgumentParser(description="Counts the stub's ReadFile calls under wine64.")
    parser.add_argument("--native", required=True, help="native build folder (for ostrel)")
    parser.add_argument("--win64", required=True, help="win64 build folder")
    parser.add_argument("--stub", help="another x86_64 stub image to measure (default: the build's)")
    args = parser.parse_args()
    work = os.path.abspath(os.path.join(args.win64, "stub-reads"))
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    payload = os.path.join(args.win64, "tests", "win", "payload.exe")
    stage_path = os.path.join(work, "payload.stage")
    subprocess.run([os.path.join(args.native, "builder", "ostrel"), "pack", payload, stage_path],
                   check=True, stdout=subprocess.DEVNULL)
    with open(args.stub or os.path.join(args.win64, "stub", "stub.exe"), "rb") as f:
        stub = f.read()
    with open(stage_path, "rb") as f:
        stage = f.read()
    with WineSession(work, None) as wine:
        with open(wine.drive_c("lesen.exe"), "wb") as f:
            f.write(stub + stage)
        if not enable_trace(wine):
            sys.exit("stub_reads: cannot set RelayInclude")
        # The payload only reports and ends; its report goes nowhere useful.
        calls, code = trace_stub(wine, "C:\\lesen.exe", env={"OSTREL_PAYLOAD_REPORT": "C:\\bericht.txt"})
    shutil.rmtree(work)
    if calls is None or code != 1 or not count_reads(calls):
        sys.exit("stub_reads: no ReadFile traced in the stub's process (exit code %s)" % code)
    print("stub ReadFile calls: %d for a stage of %d bytes" % (count_reads(calls), len(stage)))


if __name__ == "__main__":
    main()
