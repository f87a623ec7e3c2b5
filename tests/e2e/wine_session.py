"""A Wine session for end-to-end tests: one X server, one Wine prefix, one
virtual desktop, for one test run.

    with WineSession(work_dir) as wine:
        result = wine.run(["C:\\\\some.exe"], env={...})
        boxes = wine.ui("dump", "--class", "#32770")

- Xvfb picks a free display itself (-displayfd) and is stopped at the end.
- The prefix lives in work_dir/prefix and is created fresh: a run never
  sees what an earlier run left in C:\\windows.
- The prefix is set to a 1024x768 virtual desktop, so windows get their
  frames and captions drawn (there is no window manager) and screenshots
  show what a user would see. All programs of the session share it, which
  is also what lets the UI driver find the windows of the program under test.
- Programs run under the loader of the session's architecture: win64
  programs under /usr/lib/wine/wine64, win32 ones under /usr/lib/wine/wine
  (Debian's wine32:i386, which needs a kernel that runs 32-bit programs;
  see scripts/runs-32bit). Both with WINEDEBUG=-all and LC_ALL=C.UTF-8, which makes Wine's ANSI code page
  Windows-1252 as on a German or English Windows.
- At the end "wineserver -k" ends every process of the prefix.
"""
import os
import shutil
import subprocess
import tempfile
import time

# The Wine loader for the programs of each Windows architecture.
LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
WINESERVER = "/usr/lib/wine/wineserver"


class Control:
    """One line of the UI driver's output."""

    def __init__(self, line):
        fields = line.split("\t")
        if len(fields) < 5:
            raise ValueError("unexpected UI driver line %r" % line)
        self.kind = fields[0]
        self.id = int(fields[1])
        self.handle = int(fields[2])
        self.class_name = fields[3]
        self.text = bytes.fromhex(fields[4])
        # Controls: "v" visible, "e" enabled, "c" checked (later UI drivers).
        self.state = fields[6] if len(fields) > 6 else ""

    def __repr__(self):
        return "%s %d %s %r" % (self.kind, self.id, self.class_name, self.text)


class WineSession:
    def __init__(self, work_dir, ui_driver, desktop="1024x768", arch="win64"):
        self.loader = LOADERS[arch]
        self.work_dir = os.path.abspath(work_dir)
        self.prefix = os.path.join(self.work_dir, "prefix")
        # Debian's wineserver makes its socket folder with mkdtemp in TMPDIR
        # and leaves it behind: every run would add a wine-XXXXXX to /tmp.
        # All processes of the session must see the same TMPDIR, or they
        # would not find the same server.
        self.unix_tmp = os.path.join(self.work_dir, "tmp")
        self.ui_driver = ui_driver
        self.desktop = desktop
        self.xvfb = None
        self.display = None

    # ---- set-up and end ---------------------------------------------------

    def __enter__(self):
        if os.path.exists(self.prefix):
            # A run that was killed may have left the windows folder immutable.
            subprocess.run(["chattr", "-i", os.path.join(self.prefix, "drive_c", "windows")],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.rmtree(self.prefix)
        os.makedirs(self.work_dir, exist_ok=True)
        os.makedirs(self.unix_tmp, exist_ok=True)
        self._start_xvfb()
        try:
            self._create_prefix()
        except Exception:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *_):
        if os.path.isdir(self.prefix):
            subprocess.run([WINESERVER, "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
        return False

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                piece = pipe.read(1)
                if not piece:
                    break
                number += piece
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not report a display")
        self.display = ":" + number.strip().decode()

    def _create_prefix(self):
        self.run(["wineboot", "-i"], timeout=300)
        key = "HKCU\\Software\\Wine\\Explorer"
        self.run(["reg", "add", key, "/v", "Desktop", "/d", "Default", "/f"], timeout=120)
        self.run(["reg", "add", key + "\\Desktops", "/v", "Default", "/d", self.desktop, "/f"],
                 timeout=120)
        # The desktop of the boot run has no virtual desktop yet; the next
        # program starts a new one with the setting.
        subprocess.run([WINESERVER, "-w"], env=self.env(), timeout=120)

    # ---- running programs -------------------------------------------------

    def env(self, extra=None):
        env = dict(os.environ)
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", LC_ALL="C.UTF-8", TMPDIR=self.unix_tmp)
        if self.display:
            env["DISPLAY"] = self.display
        env.update(extra or {})
        return env

    def run(self, args, env=None, timeout=120):
        """Runs a program to its end; returns the CompletedProcess (bytes output)."""
        # Output goes to files, not pipes: a program that is the first to
        # open a window starts the virtual desktop's explorer.exe, which
        # inherits its handles and lives on; a pipe would then never see its
        # end and the run would wait for the timeout.
        with tempfile.TemporaryFile(dir=self.unix_tmp) as out, \
                tempfile.TemporaryFile(dir=self.unix_tmp) as err:
            done = subprocess.run([self.loader] + list(args), env=self.env(env), stdout=out, stderr=err,
                                  timeout=timeout)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())

    def start(self, args, env=None, cwd=None):
        """Starts a program; a cwd inside the prefix becomes its current folder."""
        return subprocess.Popen([self.loader] + list(args), env=self.env(env), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, cwd=cwd)

    def ui(self, *args, timeout=60):
        """Runs the UI driver; returns (exit code, [Control]) for its output lines."""
        result = self.run([self.ui_driver] + list(args), timeout=timeout)
        lines = result.stdout.decode("ascii", "replace").splitlines()
        controls = [Control(line) for line in lines if line.startswith(("window\t", "control\t"))]
        return result.returncode, controls

    def registry_value(self, key, name):
        """Returns (type, data) of a registry value, or None when it is absent."""
        result = self.run(["reg", "query", key, "/v", name], timeout=60)
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            fields = line.strip().split(None, 2)
            if len(fields) == 3 and fields[0].lower() == name.lower() and fields[1].startswith("REG_"):
                return fields[1], fields[2]
        return None

    def set_registry_value(self, key, name, value_type, data):
        result = self.run(["reg", "add", key, "/v", name, "/t", value_type, "/d", data, "/f"], timeout=60)
        return result.returncode == 0

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        result = subprocess.run(["import", "-window", "root", "-display", self.display, path],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        return result.returncode == 0 and os.path.exists(path)

    # ---- paths ------------------------------------------------------------

    def drive_c(self, *parts):
        """The Linux path of C:\\<parts> in the prefix."""
        return os.path.join(self.prefix, "drive_c", *parts)

    @staticmethod
    def windows_path(*parts):
        return "C:\\" + "\\".join(parts)

    def unix_path(self, windows_path):
        """The Linux path of a C:\\ path, matching names without case as Windows does."""
        if windows_path[:3].upper() != "C:\\":
            raise ValueError("not on drive C: %r" % windows_path)
        current = self.drive_c()
        for part in windows_path[3:].split("\\"):
            names = {name.lower(): name for name in os.listdir(current)} if os.path.isdir(current) else {}
            current = os.path.join(current, names.get(part.lower(), part))
        return current


def add_windows_build_arguments(parser):
    """--win64 BUILD or --win32 BUILD (one of them): the Windows build
    folder whose programs a script runs, and with it the architecture."""
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--win64", help="win64 build folder: run under wine64")
    group.add_argument("--win32", help="win32 build folder: run under wine32")


def windows_build(args):
    """Returns (architecture, absolute build folder) from those arguments."""
    return ("win32", os.path.abspath(args.win32)) if args.win32 else ("win64", os.path.abspath(args.win64))


def wait_for(predicate, timeout, interval=0.1):
    """Polls predicate until it returns a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)
