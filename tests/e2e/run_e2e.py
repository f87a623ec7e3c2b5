#!/usr/bin/env python3
"""End-to-end tests of the stub under Wine and Xvfb, for one architecture.

usage: run_e2e.py --native BUILD_NATIVE (--win64 BUILD_WIN64 | --win32 BUILD_WIN32)

Needs BUILD_NATIVE/builder/ostrel (packs the test payload) and, in the
Windows build folder BUILD, stub/stub.exe and the helpers of tests/win
(payload, uidriver, filelock), all built for the architecture named by the
option: win64 runs under wine64, win32 (the shipped product) under wine32.
Work files, the Wine prefix included, go to BUILD/e2e (made afresh);
screenshots to BUILD/e2e-artifacts.

The test SFX files hold the stub (x86_64 or i686), a stage and a small ZIP archive.
The payload of the good stage stands in for the extractor and reports what
it was given. They lie in "C:\\ostrel-e2e\\Prüfung 1\\": a blank and a
non-ASCII letter in the path, so that the trailer is seen to carry the path
exactly, in UTF-8.

Checked:
- the stub's structure: machine type and optional header of the
  architecture (as check_win32.py does for i686);
- a normal run: the extractor's command line is the temporary path alone,
  with and without arguments to the SFX file; the temporary file is named
  ZKR*.tmp in the Windows directory, holds the unpacked image byte for byte,
  then the SFX path and its length (low byte first), and is
  header length + path length + 2 bytes long while the extractor runs; it is
  gone afterwards; the stub's exit code is 1 whatever the extractor's code;
- started from a folder named in Cyrillic and from a folder path past
  MAX_PATH, the stub finds itself and the trailer carries that path exactly;
- each failure the tests can provoke shows its German box, both lines byte
  for byte; after the box is dismissed the exit code is 0 and the Windows
  directory holds no temporary file after any of them: an SFX file the stub
  cannot open (code 5), an image that is no program (code 2), a refused
  stage and a truncated stage.
- under Wine's relay trace (see stub_reads.py): the stub's first call is
  the DLL search guard, and it reads the stage with at most one ReadFile
  per KiB;
- where the Windows directory takes no new file, the extractor runs from
  the user's temporary folder instead, also when that folder's path has a
  blank (it is started by its exact path, never by a shorter prefix).
One line per check; exit code 1 when any check fails.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402
import pe_image  # noqa: E402
import stages  # noqa: E402
import stub_reads  # noqa: E402
from wine_session import (WineSession, add_windows_build_arguments, wait_for,  # noqa: E402
                          windows_build)

SFX_FOLDER = ("ostrel-e2e", "Pr\u00fcfung 1")
# Folders the stub must find itself in: outside the ANSI code page, and a
# path past MAX_PATH (C:\ostrel-e2e\ + 3 x 96 characters).
FAR_FOLDERS = [("unicode folder", ("ostrel-e2e", "\u00dcbergabe", "\u041f\u0430\u043a\u0435\u0442")),
               ("long folder", ("ostrel-e2e",) + tuple("Ordner-%d-" % i + "l" * 86 for i in range(3)))]
BOX_CLASS = "#32770"
USER_ENVIRONMENT = "HKCU\\Environment"
BOX_SECOND_LINE = b"\r\nSFX kann nicht gestartet werden"
BOX_TEXTS = {
    2: "Kann SFX-Stub nicht finden",
    5: "Der Zugriff auf eine Datei wurde vom System verweigert.",
    "damaged": "Die SFX-Datei ist besch\u00e4digt.",
}


def box_text(key):
    return b"Fehler : " + BOX_TEXTS[key].encode("cp1252") + BOX_SECOND_LINE


def make_sfx(path, stub, stage, with_archive=True):
    """Writes stub + stage and, unless told otherwise, appends a ZIP archive
    whose offsets count from the start of the file."""
    with open(path, "wb") as f:
        f.write(stub + stage)
    if with_archive:
        with zipfile.ZipFile(path, "a") as archive:
            archive.writestr("liesmich.txt", "Hallo.\r\n")


def temp_files(wine):
    folder = wine.drive_c("windows")
    return {name for name in os.listdir(folder) if name.upper().startswith("ZKR")}


def close_folder(path):
    """Makes a folder refuse new files, for root too. Returns 1 when it does."""
    if os.geteuid() == 0:
        if subprocess.run(["chattr", "+i", path], stderr=subprocess.DEVNULL).returncode != 0:
            return 0
    else:
        os.chmod(path, 0o555)
    probe = os.path.join(path, "ostrel-probe")
    try:
        open(probe, "wb").close()
    except OSError:
        return 1
    os.remove(probe)
    open_folder(path)
    return 0


def open_folder(path):
    if os.geteuid() == 0:
        subprocess.run(["chattr", "-i", path], stderr=subprocess.DEVNULL)
    else:
        os.chmod(path, 0o755)


def parse_report(path):
    report = {}
    with open(path, "rb") as f:
        for line in f.read().decode("ascii").splitlines():
            key, _, value = line.partition("=")
            report[key] = bytes.fromhex(value) if key.endswith("Hex") else value
    return report


class StubTests:
    def __init__(self, checks, wine, stub, payload, payload_stage, tools):
        self.checks = checks
        self.wine = wine
        self.stub = stub
        self.payload = payload
        self.payload_stage = payload_stage
        self.tools = tools
        self.folder = wine.drive_c(*SFX_FOLDER)
        os.makedirs(self.folder, exist_ok=True)
        self.report_unix = wine.drive_c("ostrel-e2e", "report.txt")
        self.release_unix = wine.drive_c("ostrel-e2e", "release")
        self.payload_env = {
            "OSTREL_PAYLOAD_REPORT": wine.windows_path("ostrel-e2e", "report.txt"),
        }

    def sfx(self, name, stage, with_archive=True):
        """Writes a test SFX file; returns its Windows path."""
        make_sfx(os.path.join(self.folder, name), self.stub, stage, with_archive)
        return self.wine.windows_path(*SFX_FOLDER, name)

    def clear_report(self):
        for path in (self.report_unix, self.release_unix):
            if os.path.exists(path):
                os.remove(path)

    # ---- normal runs ------------------------------------------------------

    def normal_run(self):
        """Holds the payload while it runs to look at the temporary file."""
        label = "run"
        sfx_path = self.sfx("gut.exe", self.payload_stage)
        expected_path = sfx_path.encode("utf-8")
        declared = struct.unpack_from("<i", self.payload_stage)[0]
        before = temp_files(self.wine)
        self.clear_report()
        env = dict(self.payload_env, OSTREL_PAYLOAD_EXIT="7",
                   OSTREL_PAYLOAD_HOLD=self.wine.windows_path("ostrel-e2e", "release"))
        process = self.wine.start([sfx_path], env=env)
        try:
            if not self.checks.check("%s: extractor started and reported" % label,
                                     wait_for(lambda: os.path.exists(self.report_unix), 90),
                                     "no report after 90 s"):
                return
            report = parse_report(self.report_unix)
            command_line = report.get("commandLineHex", b"")
            module = report.get("modulePathHex", b"")
            self.checks.equal("%s: command line is the temporary path alone" % label, command_line, module)
            folder, _, name = module.rpartition(b"\\")
            self.checks.equal("%s: temporary file lies in the Windows directory" % label,
                              folder.lower(), b"c:\\windows")
            self.checks.check("%s: temporary file name starts with ZKR" % label,
                              name.upper().startswith(b"ZKR") and name.upper().endswith(b".TMP"),
                              "name %r" % name)
            expected_size = declared + len(expected_path) + 2
            self.checks.equal("%s: size while running = header length + path length + 2" % label,
                              int(report.get("imageSize", -1)), expected_size)
            self.checks.equal("%s: last two bytes are the path length, low byte first" % label,
                              report.get("tailBytesHex"), struct.pack("<H", len(expected_path)))
            self.checks.equal("%s: trailer path is the SFX path as Windows reports it" % label,
                              report.get("tailPathHex"), expected_path)
            unix_temp = self.wine.unix_path(module.decode("cp1252"))
            with open(unix_temp, "rb") as f:
                content = f.read()
            self.checks.check("%s: temporary file holds the unpacked image, then the trailer" % label,
                              content == self.payload + expected_path + struct.pack("<H", len(expected_path)),
                              "%d bytes, image part equal: %s" % (len(content), content[:declared] == self.payload))
            self.checks.equal("%s: the temporary file is the only new ZKR file" % label,
                              temp_files(self.wine) - before, {os.path.basename(unix_temp)})
        finally:
            open(self.release_unix, "wb").close()
        code = self.wait_exit(process, label)
        self.checks.equal("%s: stub exit code is 1 although the extractor returned 7" % label, code, 1)
        self.checks.equal("%s: temporary file is gone afterwards" % label, temp_files(self.wine), before)

    def run_with_arguments(self):
        label = "run with arguments"
        sfx_path = self.wine.windows_path(*SFX_FOLDER, "gut.exe")
        before = temp_files(self.wine)
        self.clear_report()
        process = self.wine.start([sfx_path, "/S", "zwei Worte", "-d", "C:\\ziel"],
                                  env=dict(self.payload_env, OSTREL_PAYLOAD_EXIT="0"))
        code = self.wait_exit(process, label)
        if not self.checks.check("%s: extractor reported" % label, os.path.exists(self.report_unix),
                                 "no report"):
            return
        report = parse_report(self.report_unix)
        module = report.get("modulePathHex", b"")
        self.checks.check("%s: command line is still the temporary path alone" % label,
                          report.get("commandLineHex") == module and b" " not in module
                          and module.upper().startswith(b"C:\\WINDOWS\\ZKR"),
                          "command line %r, module %r" % (report.get("commandLineHex"), module))
        self.checks.equal("%s: stub exit code is 1 when the extractor returned 0" % label, code, 1)
        self.checks.equal("%s: temporary file is gone afterwards" % label, temp_files(self.wine), before)

    def far_folders(self):
        """The stub started from FAR_FOLDERS hands the extractor its path,
        exactly, as UTF-8 in the trailer."""
        for label, folder in FAR_FOLDERS:
            os.makedirs(self.wine.drive_c(*folder), exist_ok=True)
            make_sfx(self.wine.drive_c(*folder, "gut.exe"), self.stub, self.payload_stage, True)
            sfx_path = self.wine.windows_path(*folder, "gut.exe")
            self.clear_report()
            process = self.wine.start([sfx_path], env=dict(self.payload_env, OSTREL_PAYLOAD_EXIT="0"))
            self.checks.equal("%s: stub exit code is 1" % label, self.wait_exit(process, label), 1)
            reported = os.path.exists(self.report_unix)
            self.checks.equal("%s: trailer path is the SFX path in UTF-8" % label,
                              parse_report(self.report_unix).get("tailPathHex") if reported else None,
                              sfx_path.encode("utf-8"))

    def traced_run(self):
        """Under Wine's relay trace: the stub's first traced call is the DLL
        search guard, SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32),
        which Wine has; and it reads the stage in blocks, as one ReadFile per
        byte (as the decoder asks for them) would be one system call per
        byte of the stage. Bound: at most one call per KiB."""
        label = "traced run"
        if not self.checks.check("%s: relay trace limited to the stub's calls" % label,
                                 stub_reads.enable_trace(self.wine), "reg add failed"):
            return
        sfx_path = self.wine.windows_path(*SFX_FOLDER, "gut.exe")
        self.clear_report()
        calls, code = stub_reads.trace_stub(self.wine, sfx_path,
                                            env=dict(self.payload_env, OSTREL_PAYLOAD_EXIT="0"))
        self.checks.equal("%s: exit code 1" % label, code, 1)
        if not self.checks.check("%s: the stub's process is in the trace" % label, calls, "no calls"):
            return
        self.checks.equal("%s: first call is the DLL search guard" % label, calls[0],
                          ("SetDefaultDllDirectories", "00000800"))
        count = stub_reads.count_reads(calls)
        stage = len(self.payload_stage)
        self.checks.check("%s: at most one ReadFile per KiB of a %d-byte stage" % (label, stage),
                          0 < count <= stage // 1024 + 1, "%d calls" % count)

    def windows_directory_closed(self):
        """Where the Windows directory takes no new file, the stub runs the
        extractor from the user's temporary folder. On current Windows the
        cause is that an ordinary user may not create files there. Wine
        enforces no Windows permissions, and these tests may run as root, who
        passes Unix permissions; so the test closes the prefix's windows
        folder on the Linux side: immutable (chattr +i) for root, read-only
        for other users. Under Wine GetTempFileNameA then still returns a
        name, for a file it could not create (Windows returns 0); the stub
        must notice either way."""
        label = "Windows directory closed"
        windows = self.wine.drive_c("windows")
        if not close_folder(windows):
            print("SKIP %s: this file system cannot protect the folder from root" % label, flush=True)
            return
        # The user's temporary folder has a blank in its name, as under a
        # profile like "Max Mustermann". A program path with a blank, given
        # as command line alone, would be read as "...\\Temp" plus arguments
        # and start Temp.exe: a copy of the payload waits there as a trap.
        temp_folder = self.wine.drive_c("ostrel-e2e", "Temp Ordner")
        os.makedirs(temp_folder, exist_ok=True)
        trap = self.wine.drive_c("ostrel-e2e", "Temp.exe")
        shutil.copyfile(self.tools["payload"], trap)
        temp_windows = self.wine.windows_path("ostrel-e2e", "Temp Ordner")
        # Wine takes TEMP and TMP from the user's registry environment, not
        # from the Unix environment; they are set there and put back after.
        saved = {name: self.wine.registry_value(USER_ENVIRONMENT, name) for name in ("TEMP", "TMP")}
        try:
            for name in saved:
                self.wine.set_registry_value(USER_ENVIRONMENT, name, "REG_SZ", temp_windows)
            self.clear_report()
            process = self.wine.start([self.wine.windows_path(*SFX_FOLDER, "gut.exe")],
                                      env=dict(self.payload_env, OSTREL_PAYLOAD_EXIT="3"))
            code = self.wait_exit(process, label, timeout=60)
        finally:
            open_folder(windows)
            os.remove(trap)
            for name, value in saved.items():
                if value:
                    self.wine.set_registry_value(USER_ENVIRONMENT, name, value[0], value[1])
        if not self.checks.check("%s: extractor started and reported" % label,
                                 os.path.exists(self.report_unix), "no report (an error box instead?)"):
            return
        report = parse_report(self.report_unix)
        module = report.get("modulePathHex", b"")
        folder, _, name = module.rpartition(b"\\")
        temp_folder = report.get("tempFolderHex", b"").rstrip(b"\\")
        self.checks.check("%s: the program started is the temporary file, not the trap" % label,
                          b"temp.exe" not in module.lower(), "started %r" % module)
        self.checks.check("%s: temporary file lies in the user's temporary folder" % label,
                          temp_folder and folder.lower() == temp_folder.lower()
                          and folder == temp_windows.encode("cp1252"),
                          "file %r, temporary folder %r" % (module, temp_folder))
        self.checks.check("%s: its name starts with ZKR" % label, name.upper().startswith(b"ZKR"),
                          "name %r" % name)
        self.checks.equal("%s: command line is the temporary path alone" % label,
                          report.get("commandLineHex"), module)
        sfx_path = self.wine.windows_path(*SFX_FOLDER, "gut.exe").encode("utf-8")
        self.checks.equal("%s: trailer path" % label, report.get("tailPathHex"), sfx_path)
        self.checks.equal("%s: stub exit code is 1" % label, code, 1)
        self.checks.check("%s: temporary file is gone afterwards" % label,
                          module and not os.path.exists(self.wine.unix_path(module.decode("cp1252"))),
                          "%r still there" % module)

    # ---- failures ---------------------------------------------------------

    def failure(self, label, sfx_path, text_key, leftover, screenshot=None, lock=None):
        """Starts sfx_path, reads its error box, dismisses it and checks the
        exit code and the Windows directory. leftover(new_files) checks the
        ZKR files the run left behind."""
        before = temp_files(self.wine)
        locker = None
        if lock:
            locker = self.lock(lock)
            if not locker:
                return
        process = self.wine.start([sfx_path])
        try:
            code, controls = self.wine.ui("dump", "--class", BOX_CLASS, "--timeout", "60000", timeout=120)
            windows = [c for c in controls if c.kind == "window"]
            texts = [c for c in controls if c.kind == "control" and c.class_name.lower() == "static" and c.text]
            buttons = [c for c in controls if c.kind == "control" and c.class_name.lower() == "button"]
            if not self.checks.check("%s: error box appears" % label, code == 0 and windows,
                                     "UI driver exit code %d" % code):
                return
            # One text control: both lines, "Fehler : <text>" and the closing
            # sentence, byte for byte in Windows-1252. The caption is the
            # system's default: "Fehler" on a German Windows; Wine, running
            # here without a German locale, says "Error". Not compared.
            self.checks.equal("%s: box text, both lines" % label,
                              [c.text for c in texts], [box_text(text_key)])
            self.checks.equal("%s: box has one button, OK" % label, [b.text for b in buttons], [b"OK"])
            if screenshot:
                self.checks.check("%s: screenshot saved" % label, self.wine.screenshot(screenshot),
                                  screenshot)
            if buttons:
                # The OK button's id differs between systems (Wine: IDOK); the
                # dump tells which one to press.
                self.wine.ui("click", "--class", BOX_CLASS, "--id", str(buttons[0].id))
            exit_code = self.wait_exit(process, label)
            self.checks.equal("%s: exit code 0 after the box" % label, exit_code, 0)
            leftover(label, sorted(temp_files(self.wine) - before))
        finally:
            if locker:
                open(self.release_unix, "wb").close()
                locker.wait(timeout=60)
                os.remove(self.release_unix)
            for name in temp_files(self.wine) - before:
                os.remove(self.wine.drive_c("windows", name))

    def lock(self, sfx_name):
        """Starts the file locker on an SFX file; returns its process once the lock holds."""
        ready = self.wine.drive_c("ostrel-e2e", "locked")
        for path in (ready, self.release_unix):
            if os.path.exists(path):
                os.remove(path)
        locker = self.wine.start([self.tools["filelock"], "delete",
                                  self.wine.windows_path(*SFX_FOLDER, sfx_name),
                                  self.wine.windows_path("ostrel-e2e", "locked"),
                                  self.wine.windows_path("ostrel-e2e", "release")])
        if self.checks.check("file locker holds the SFX file", wait_for(lambda: os.path.exists(ready), 60),
                             "no ready file"):
            return locker
        return None

    def failures(self, artifacts):
        def nothing_stays(label, new):
            self.checks.equal("%s: no ZKR file stays (the half-written file is deleted)" % label, new, [])

        # Code 5: the SFX file cannot be opened. The locker holds it with a
        # share mode that lets the loader start it but not the stub reopen
        # it (see tests/win/filelock.cpp).
        locked = self.sfx("gesperrt.exe", self.payload_stage)
        self.failure("unreadable SFX file", locked, 5, nothing_stays, lock="gesperrt.exe")

        # Code 2: the stage decodes into 260 zero bytes, which CreateProcessA refuses.
        zero_stage, _ = stages.zero_image_stage()
        path = self.sfx("kein-programm.exe", zero_stage)
        self.failure("image that is no program", path, 2, nothing_stays)

        path = self.sfx("kaputt.exe", stages.corrupt_stage())
        self.failure("refused stage", path, "damaged", nothing_stays,
                     screenshot=os.path.join(artifacts, "error-box-damaged-stage.png"))

        # Cut in the middle of the bit stream, as by an interrupted download.
        path = self.sfx("abgeschnitten.exe", stages.truncated(self.payload_stage, len(self.payload_stage) // 2),
                        with_archive=False)
        self.failure("truncated stage", path, "damaged", nothing_stays)

        # Cut inside the 4-byte header.
        path = self.sfx("ohne-kopf.exe", stages.truncated(self.payload_stage, 3), with_archive=False)
        self.failure("truncated stage header", path, "damaged", nothing_stays)

    def wait_exit(self, process, label, timeout=120):
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.checks.check("%s: stub ends" % label, False, "still running after %d s" % timeout)
            return None
        return process.returncode


def main():
    parser = argparse.ArgumentParser(description="End-to-end tests of the stub under Wine.")
    parser.add_argument("--native", required=True, help="native build folder (for ostrel)")
    add_windows_build_arguments(parser)
    args = parser.parse_args()
    arch, build = windows_build(args)
    machine = pe_image.MACHINE_I386 if arch == "win32" else pe_image.MACHINE_AMD64
    cpu = "i686" if arch == "win32" else "x86_64"
    checks = Checks()

    stub_path = os.path.join(build, "stub", "stub.exe")
    image = pe_image.check_stub_image(checks, stub_path, machine)
    artifacts = os.path.abspath(os.path.join(build, "e2e-artifacts"))
    work = os.path.abspath(os.path.join(build, "e2e"))
    if os.path.exists(work):
        windows = os.path.join(work, "prefix", "drive_c", "windows")
        if os.path.isdir(windows):
            open_folder(windows)  # a run that was killed may have left it closed
        shutil.rmtree(work)
    os.makedirs(work)
    os.makedirs(artifacts, exist_ok=True)
    if image:
        zero_stage, _ = stages.zero_image_stage()
        pe_image.check_assembled_sfx(checks, cpu + " stub", image.data, zero_stage,
                                     os.path.join(artifacts, "assembled-%s.exe" % cpu))
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        pe_image.check_fit_step(checks, cpu + " stub", image.data,
                                os.path.join(source, "stub", "fit_image.py"), work)

    ostrel = os.path.abspath(os.path.join(args.native, "builder", "ostrel"))
    tools = {name: os.path.abspath(os.path.join(build, "tests", "win", name + ".exe"))
             for name in ("payload", "uidriver", "filelock")}
    missing = [path for path in [ostrel] + list(tools.values()) if not os.path.exists(path)]
    if not checks.check("test tools built", image and not missing, "missing: %s" % missing):
        checks.finish()
    # The helpers run in the same process model as the stub (the payload is
    # what the stub starts): all of them built for the same machine.
    for name, path in sorted(tools.items()):
        with open(path, "rb") as f:
            checks.equal("%s.exe: machine" % name, hex(pe_image.PeImage(f.read()).machine), hex(machine))

    payload_stage_path = os.path.join(work, "payload.stage")
    packed = subprocess.run([ostrel, "pack", tools["payload"], payload_stage_path],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if not checks.check("payload packed", packed.returncode == 0, packed.stderr.decode(errors="replace")):
        checks.finish()
    with open(tools["payload"], "rb") as f:
        payload = f.read()
    with open(payload_stage_path, "rb") as f:
        payload_stage = f.read()
    checks.equal("payload stage header is the payload's length",
                 struct.unpack_from("<i", payload_stage)[0], len(payload))
    # The hand-built stage and the project's decoder must agree on it.
    zero_stage, zero_image = stages.zero_image_stage()
    zero_path = os.path.join(work, "zero.stage")
    with open(zero_path, "wb") as f:
        f.write(zero_stage)
    unpacked = subprocess.run([ostrel, "unpack", zero_path, zero_path + ".out"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    checks.check("hand-built stage decodes to 260 zero bytes",
                 unpacked.returncode == 0 and open(zero_path + ".out", "rb").read() == zero_image,
                 unpacked.stderr.decode(errors="replace"))

    corrupt_path = os.path.join(work, "corrupt.stage")
    with open(corrupt_path, "wb") as f:
        f.write(stages.corrupt_stage())
    refused = subprocess.run([ostrel, "unpack", corrupt_path, corrupt_path + ".out"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    checks.check("hand-built damaged stage is refused by the decoder",
                 refused.returncode == 1 and not os.path.exists(corrupt_path + ".out"),
                 "ostrel unpack exit code %d" % refused.returncode)

    try:
        with WineSession(work, tools["uidriver"], arch=arch) as wine:
            tests = StubTests(checks, wine, image.data, payload, payload_stage, tools)
            tests.normal_run()
            tests.run_with_arguments()
            tests.far_folders()
            tests.traced_run()
            tests.failures(artifacts)
            tests.windows_directory_closed()
    except (OSError, RuntimeError, subprocess.TimeoutExpired) as problem:
        checks.check("Wine session completes", False, "%s: %s" % (type(problem).__name__, problem))
    checks.finish()


if __name__ == "__main__":
    main()
