#!/usr/bin/env python3
"""End-to-end tests of the extractor program under Wine and Xvfb, for one
architecture.

usage: run_extractor_e2e.py --native BUILD_NATIVE (--win64 BUILD_WIN64 | --win32 BUILD_WIN32)

SFX files are made by 'ostrel build --arch ARCH' (BUILD_NATIVE/builder/ostrel)
from the stub and extractor of the Windows build folder BUILD, and run with
the helpers of the same build: win64 under wine64, win32 (the shipped
product) under wine32. The first SFX file's stub and unpacked extractor are
checked to be programs for that machine. Each scenario is one row of SCENARIOS: the build
options, the files that exist before the run, the steps a user takes (boxes
and dialogs found, read and answered through the UI driver), then the exit
code, the files and the run file's marker that must follow.

The extractor's own exit code is only visible when it is started the way
the stub starts it (the stub's own code is 1 after any completed run), so
most rows run the unpacked image with its launch trailer directly; the
delivered-settings row runs the SFX file through the stub as a user would.

Screenshots of every dialog and box go to BUILD/e2e-artifacts; the
whole run shares one Wine prefix with a 1024x768 virtual desktop, so the
captions are drawn. One line per check; exit code 1 when any check failed.
"""
import argparse
import datetime
import os
import re
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stages  # noqa: E402
from checks import Checks  # noqa: E402
import pe_image  # noqa: E402
from wine_session import (Control, WineSession, add_windows_build_arguments,  # noqa: E402
                          wait_for, windows_build)

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOX = "#32770"
BOX_TEXT_ID = 0xFFFF  # the static that holds a message box's text
ROOT = "e2e"          # C:\e2e\<scenario>\ holds each scenario's SFX file


def resource_ids():
    """The dialog and control numbers, from the header the code uses."""
    ids = {}
    with open(os.path.join(SOURCE, "extractor", "resources", "resource_ids.h")) as f:
        for name, value in re.findall(r"#define (ID\w+) (\d+)", f.read()):
            ids[name] = int(value)
    return ids


ID = resource_ids()


def cp(text):
    return text.encode("cp1252")


def ansi(text):
    """A text as the UI driver reads it: through the ANSI code page
    (Windows-1252), where a character it lacks arrives as '?'. Only a
    screenshot shows what the dialog really draws."""
    return text.encode("cp1252", "replace")


def counter_line(files, errors, warnings):
    return cp("Dateien entpackt: %d   Fehler: %d   Warnungen: %d" % (files, errors, warnings))


def failure(text, files, errors=1):
    """Summary of a failed run: the code's text ends in CR LF."""
    return cp("\r\nFehler: " + text + "\r\n\r\n\r\n") + counter_line(files, errors, 0)


CANCELLED = lambda files: cp("\r\nAbbruch durch Anwender.\r\n\r\n") + counter_line(files, 0, 0)  # noqa: E731
NO_ARCHIVE = failure("Das Archiv ist anscheinend kein g\u00fcltiges Archiv.", 0)
CRC_FAILED = failure("Pr\u00fcfsummenfehler.", 1)
NO_TAIL = cp("Dieses Programm ist der Entpacker eines selbstentpackenden Archivs und kann nicht "
             "allein gestartet werden. Bitte starten Sie die SFX-Datei selbst.")
INFO_START = cp("Dieses SFX-Archiv wurde mit der Ostrel-Technologie erzeugt.\n\n")
HELP = cp("Klicken Sie auf die Schaltfl\u00e4che 'Entpacken', um alle Dateien dieses Archivs zu "
          "extrahieren.\r\nAlle Dateien werden in den in 'Zielordner' angegebenen Ordner entpackt. "
          "Sofern dieser\r\nOrdner noch nicht existiert, wird er erzeugt.")
CRC_FORMAT = "Falscher CRC! Die Datei %s ist moeglicherweise beschaedigt!"
CRC_WARNING = cp(CRC_FORMAT % "kaputt.txt")
PROMPT = ('Der Zugriff auf die Datei "%s" ist nur mit einem Pa\u00dfwort m\u00f6glich.'
          '\n\nBitte geben Sie das korrekte Pa\u00dfwort an.')
INVALID_DATA = failure("Das Archiv enth\u00e4lt ung\u00fcltige Daten", 0)
# The stub's box after CreateProcessA refused the unpacked extractor; its
# caption is the system's default (Windows "Fehler", Wine "Error").
CANNOT_RUN = cp("Fehler : Kann SFX-Stub nicht finden\r\nSFX kann nicht gestartet werden")
AMPERSAND = "Tom & Jerry.txt"
REPLACE_HEADER = "Dieser Ordner enth\u00e4lt bereits eine Datei namens '%s'."
# FormatMessageA turns the template's line feed into CR LF; Wine adds AM/PM
# to a time asked for in 24-hour format, with a one-digit hour before 10.
DESCRIPTION = re.compile(rb"^\d+ (Bytes|KB)\r?\nge\xe4ndert am .+, \d?\d:\d\d(:\d\d)?( [AP]M)?$")

# Entry contents; the archive's time stamp of every entry.
FILES = {"eins.txt": b"eins\r\n", "zwei.txt": b"zwei\r\n" * 300, "Unter\\drei.txt": b"drei\r\n"}
STAMP = (2021, 6, 15, 10, 20, 30)
BIG = 2 << 20  # bytes of the large entry
DAMAGED_TEXT = b"Dies ist nicht der Inhalt, den die CRC beschreibt."  # a damaged entry's bytes
# Extra files of a folder input: names beyond ASCII, an empty file, an empty folder.
UMLAUT_FILES = {"Gr\u00fc\u00dfe\\\u00dcbersicht.txt": "\u00e4\u00f6\u00fc\r\n".encode("cp1252"),
                "leer.txt": b""}
# Names in the scripts a user's archives hold, one file each ("\\" a folder),
# for the names x writers rows: packed by each writer, built into an SFX
# file, extracted under Wine, and the target compared with this tree.
NAMES = {name: ("Inhalt von %s\r\n" % name).encode("utf-8") for name in (
    "\u041f\u0440\u0438\u0432\u0435\u0442.txt",                # Привет.txt
    "\u041f\u0440\u0438\u043c\u0435\u0440.txt",                # Пример.txt: no twin of Привет.txt
    "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",  # Ελληνικά.txt
    "Za\u017c\u00f3\u0142\u0107 g\u0119\u015bl\u0105.txt",    # Zażółć gęślą.txt
    "P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd.txt",  # Příliš žluťoučký.txt
    "\u65e5\u672c\u8a9e\\\u30d5\u30a1\u30a4\u30eb.txt",      # 日本語\ファイル.txt
    "\U0001F600 Emoji.txt")}
WRITE_ARCHIVE = os.path.join(SOURCE, "tests", "zip", "write_archive.py")
# The writers of the names rows: the command that packs the current folder
# into the archive out. Info-ZIP's zip stores the UTF-8 bytes unflagged
# (host Unix), 7z, zipfile and bsdtar set flag bit 11 (bsdtar with a "./"
# entry), and path-field gives ASCII header names ('_' for every other
# character) with the true names only in Info-ZIP Unicode path fields.
WRITERS = {
    "zip": lambda out: ["zip", "-q", "-r", out, "."],
    "7z": lambda out: ["7z", "a", "-tzip", "-bd", "-y", out, "."],
    "zipfile": lambda out: [sys.executable, WRITE_ARCHIVE, "deflated", out],
    "bsdtar": lambda out: ["bsdtar", "--format", "zip", "-cf", out, "."],
    "path-field": lambda out: [sys.executable, WRITE_ARCHIVE, "unicode_matching", out],
}
# The Cyrillic row's entries: one that exists before the run (overwrite
# question), and one whose CRC is wrong (the warning, with the progress
# field behind it); both behind a password, in a folder chain of 159
# characters (276 bytes in UTF-8), so that the names the dialogs show lie
# past a path's first 255 bytes.
CYRILLIC_FOLDER = "\\".join("\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b %d" % i
                            for i in range(1, 14))  # Документы 1\...\Документы 13
TWIN_TEXT = b"zwilling\r\n"
TWINS = ("Ti\u1ebfng Vi\u1ec7t \u01a1.txt", "TI\u1ebeNG VI\u1ec6T \u01a0.txt")  # Tiếng Việt ơ / TIẾNG VIỆT Ơ
CYRILLIC = "\u041f\u0440\u0438\u0432\u0435\u0442.txt"    # Привет.txt
CYRILLIC_DAMAGED = "\u0411\u0438\u0442\u044b\u0439.txt"  # Битый.txt

UNICODE_FOLDER = "\u00dcbergabe\\\u041f\u0430\u043a\u0435\u0442"  # Übergabe\Пакет
LONG_FOLDER = "\\".join(["Ordner-%d-" % i + "l" * 86 for i in range(3)])  # C:\e2e\long-folder\ + 291
DEEP_TARGET = "Ziel-" + "t" * 78  # C:\e2e\deep-tree\ + 83: a target folder of 100 characters
# A folder of 248 characters (CreateDirectory's own limit), then one in
# Cyrillic (200 bytes of UTF-8, 100 characters), a file path of 400.
DEEP_FILES = {"a" * 70 + "\\" + "b" * 76 + "\\" + "\u0434" * 100 + "\\" + "e" * 41 + "\\tief.txt": b"tief\r\n"}


# ---- scenario table ---------------------------------------------------------
#
# build:   options of 'ostrel build'; "damaged" builds from a ZIP archive whose
#          entry kaputt.txt has a wrong CRC, "big" adds a large entry first,
#          "payload" adds the test program payload.exe, "cut" removes the archive,
#          "folder" builds from a folder (the files and UMLAUT_FILES) instead of
#          a ZIP archive, "signed" signs the SFX file with a fresh certificate,
#          "tampered" then puts a second ZIP into its certificate table
#          (table size and checksum fixed, so the signature still verifies),
#          "ampersand" adds an entry AMPERSAND first, "no-program" puts a
#          stage in whose unpacked image CreateProcessA refuses, "cyrillic"
#          adds CYRILLIC first and names the damaged entry CYRILLIC_DAMAGED,
#          both in CYRILLIC_FOLDER, "twins" replaces the archive by one
#          that holds TWINS
# writer:  instead of that archive, NAMES packed by this writer of WRITERS
# before:  files that exist in the target folder before the run: name -> bytes
#          (a name ending in "!" is made read-only)
# steps:   ("intro", caption, text, button)   the intro box
#          ("main", {id: (text or None, state)}) the main dialog's controls
#          ("info", expected start)  ("help",)  Info / Hilfe boxes, answered OK
#          ("set", id, text)         ("press", "1" or "1,2")
#          ("password", typed)       ("replace", button)   ("chooser",)
#          ("box", caption, text, button)   any other box, text checked exactly
# exit:    the extractor's exit code
# after:   name -> bytes (present) or None (absent), relative to the target
#          ("swap",)                 rename the SFX file (cmd's ren) while it runs;
#                                    when Wine allows it, put another file there
# target:  target folder below the scenario's folder ("" = the folder itself)
# where:   folder below C:\e2e\<scenario>\ that holds the SFX file ("" = that
#          folder); a silent run extracts beside the SFX file, into it
# deep:    extra files of a folder input ("folder" build): name -> bytes
# marker:  1 when the run file must have been started, 0 when not
# run_folder: pattern of the run file's current folder (default: the target)
# readonly: names in the target that must still be read-only afterwards
# no_temp: 1 when no stub temporary file (ZKR*.tmp) may be left in C:\windows
# exact:   name -> bytes: the target must hold these files and their folders,
#          nothing else
# shots:   suffix of the row's password, overwrite and CRC warning screenshots

S = lambda **row: row  # noqa: E731
SCENARIOS = [
    S(name="delivered", build=[], via_stub=1,
      before={"eins.txt!": b"alt", "zwei.txt": b"alt"},
      steps=[], exit=None, after=dict(FILES)),
    S(name="delivered-exit", build=[], steps=[], exit=0, after=dict(FILES)),
    # Built by ostrel build from a folder, and signed afterwards: both through the stub.
    S(name="from-folder", build=["folder"], via_stub=1, steps=[], exit=None,
      after=dict(FILES, **UMLAUT_FILES), empty_folders=["leerer Ordner"]),
    S(name="signed", build=["signed"], via_stub=1, steps=[], exit=None, after=dict(FILES)),
    # A ZIP in the signed file's certificate table, which the signature does
    # not cover: nothing of it (nor of the signed archive) is extracted.
    S(name="tampered", build=["signed", "tampered"], steps=[("box", "Hinweis", INVALID_DATA, 1)], exit=1,
      after={"eins.txt": None, "fremd.txt": None}),
    # Two names that are one file by the system's case mapping: the second
    # one ends the run (9964) instead of replacing the first.
    S(name="twins", build=["twins"], steps=[("box", "Hinweis", failure("Das Archiv enth\u00e4lt ung\u00fcltige Daten", 2), 1)],
      exit=1, after={"eins.txt": TWIN_TEXT, TWINS[0]: TWIN_TEXT, TWINS[1]: None}),
    # The SFX file cannot be swapped while the main dialog is open.
    S(name="swap", build=["--interactive"], via_stub=1,
      steps=[("main", {}), ("swap",), ("press", "1"), ("box", "Hinweis", counter_line(3, 0, 0), 1)],
      exit=None, after=dict(FILES)),
    S(name="no-program", build=["no-program"], via_stub=1, steps=[("box", None, CANNOT_RUN, 1)], exit=0,
      after={}, no_temp=1),
    S(name="unopenable", build=["cut"], steps=[("box", "Hinweis", NO_ARCHIVE, 1)], exit=1, after={}),
    S(name="damaged-silent", build=["damaged"],
      steps=[("box", "Hinweis", CRC_FAILED, 1)], exit=1, after={"kaputt.txt": None}),
    S(name="quiet-failing", build=["cut", "--quiet-silent"], steps=[], exit=0, after={}),
    S(name="no-tail", build=["alone"], steps=[("box", "Ostrel Self Extractor", NO_TAIL, 1)], exit=0,
      after={}),
    S(name="intro-ok", build=["--interactive", "--intro-text", "Willkommen!", "--intro-caption", "Gru\u00df",
                              "--intro-style", "ok"],
      steps=[("intro", "Gru\u00df", "Willkommen!", 1), ("main", {}), ("press", "2")], exit=0, after={}),
    S(name="intro-no", build=["--interactive", "--intro-text", "Weiter?", "--intro-style", "yes-no"],
      steps=[("intro", "Hinweis", "Weiter?", 7)], exit=0, after={"eins.txt": None}),
    S(name="intro-cancel", build=["--interactive", "--intro-text", "Los?", "--intro-style", "ok-cancel"],
      steps=[("intro", "Hinweis", "Los?", 2)], exit=0, after={"eins.txt": None}),
    S(name="dialog", build=["--interactive", "--no-overwrite-option"],
      steps=[("main", {ID["IDC_MAIN_FOLDER"]: ("C:\\e2e\\dialog\\", "ve"),
                       ID["IDC_MAIN_OVERWRITE"]: (None, "e"), ID["IDC_MAIN_RUN"]: (None, "e"),
                       ID["IDC_MAIN_PROGRESS"]: ("", "e")}),
             ("info", INFO_START), ("help",), ("chooser",), ("press", "2")],
      exit=0, after={"eins.txt": None}),
    S(name="typed-folder", build=["--interactive", "payload", "--run", "payload.exe",
                                  "--info-text", "Zeile eins"],
      steps=[("main", {ID["IDC_MAIN_OVERWRITE"]: ("&Dateien ohne Nachfrage \u00fcberschreiben", "vec"),
                       ID["IDC_MAIN_RUN"]: ("&Nach dem Entpacken payload.exe starten.", "vec")}),
             ("info", cp("Zeile eins\r\n\r\n") + INFO_START),
             ("set", ID["IDC_MAIN_FOLDER"], "C:\\e2e\\typed-folder\\Ziel"), ("press", "1"),
             ("box", "Hinweis", counter_line(4, 0, 0), 1)],
      exit=1, target="Ziel", after=dict(FILES), marker=1),
    # A relative folder counts from the extractor's current folder (C:\e2e);
    # the run file is started by its full path, in the target folder.
    S(name="relative-folder", build=["--interactive", "payload", "--run", "payload.exe"],
      steps=[("set", ID["IDC_MAIN_FOLDER"], "relative-folder\\Ziel"), ("press", "1"),
             ("box", "Hinweis", counter_line(4, 0, 0), 1)],
      exit=1, target="Ziel", after=dict(FILES), marker=1),
    S(name="overwrite", build=["--interactive", "--no-overwrite-option"],
      before={"eins.txt!": b"alt1", "zwei.txt": b"alt2", "Unter\\drei.txt": b"alt3"},
      steps=[("press", "1"), ("replace", ID["IDC_BUTTON_NO"]), ("replace", ID["IDC_REPLACE_ALL"]),
             ("box", "Hinweis", counter_line(2, 0, 0), 1)],
      exit=1, after={"eins.txt": b"alt1", "zwei.txt": FILES["zwei.txt"],
                     "Unter\\drei.txt": FILES["Unter\\drei.txt"]}),
    S(name="overwrite-stop", build=["--interactive", "--no-overwrite-option"], before={"eins.txt": b"alt"},
      steps=[("press", "1"), ("replace", ID["IDC_BUTTON_CANCEL"]), ("box", "Hinweis", CANCELLED(0), 1)],
      exit=1, after={"eins.txt": b"alt", "zwei.txt": None}),
    S(name="cancel-large", build=["--interactive", "big"],
      steps=[("press", "1,2"), ("box", "Hinweis", CANCELLED(1), 1)],
      exit=1, after={"gross.bin": None, "eins.txt": None}),
    S(name="password", build=["--interactive", "--password", "geheim"],
      steps=[("press", "1"), ("password", "falsch"), ("password", ""), ("password", "geheim"),
             ("box", "Hinweis", counter_line(3, 0, 0), 1)],
      exit=1, after=dict(FILES)),
    # "&" in an entry name is no mnemonic in the prompt (SS_NOPREFIX, state "n").
    S(name="ampersand", build=["--interactive", "--password", "geheim", "ampersand"],
      steps=[("press", "1"), ("password", "geheim", AMPERSAND), ("box", "Hinweis", counter_line(4, 0, 0), 1)],
      exit=1, after=dict(FILES, **{AMPERSAND: b"&\r\n"})),
    # A failed entry leaves the old file with its content and its read-only attribute.
    S(name="crc-keeps-old", build=["--interactive", "damaged"], before={"kaputt.txt!": b"alt"},
      steps=[("press", "1"), ("box", "Warnung", CRC_WARNING, 2), ("box", "Hinweis", CRC_FAILED, 1)],
      exit=1, after={"kaputt.txt": b"alt"}, readonly=["kaputt.txt"]),
    S(name="crc-ok", build=["--interactive", "damaged"],
      steps=[("press", "1"), ("box", "Warnung", CRC_WARNING, 1),
             ("box", "Hinweis", counter_line(1, 0, 1), 1)],
      exit=1, after={"kaputt.txt": DAMAGED_TEXT}),
    # The programs find themselves in any folder: outside the ANSI code page
    # (the SFX path reaches the core in its short form there until the core
    # carries UTF-8) and longer than MAX_PATH; the W file layer's "\\?\"
    # form takes a folder chain of 248 to 259 characters, which the ANSI
    # CreateDirectoryA refused.
    S(name="unicode-silent", where=UNICODE_FOLDER, build=[], via_stub=1, steps=[], exit=None, after=dict(FILES)),
    # The folder field shows the real folder, not the core's short form; the
    # UI driver reads it through the ANSI code page, where Cyrillic is "?".
    S(name="unicode-dialog", where=UNICODE_FOLDER, build=["--interactive"], via_stub=1,
      steps=[("main", {ID["IDC_MAIN_FOLDER"]: ("C:\\e2e\\unicode-dialog\\\u00dcbergabe\\?????\\", "ve")}),
             ("press", "1"), ("box", "Hinweis", counter_line(3, 0, 0), 1)], exit=None, after=dict(FILES)),
    S(name="long-folder", where=LONG_FOLDER, build=[], via_stub=1, steps=[], exit=None, after=dict(FILES)),
    # The run file in a folder past MAX_PATH starts from the folder's short form.
    S(name="long-run", where=LONG_FOLDER, build=["--interactive", "payload", "--run", "payload.exe"],
      steps=[("press", "1"), ("box", "Hinweis", counter_line(4, 0, 0), 1)], exit=None, via_stub=1,
      after=dict(FILES), marker=1, run_folder=re.compile(rb"^C:\\e2e\\long-run(\\[^\\]{1,8}~[^\\]{1,4}){3}$")),
    S(name="deep-tree", build=["--interactive", "folder"], deep=DEEP_FILES,
      steps=[("set", ID["IDC_MAIN_FOLDER"], "C:\\e2e\\deep-tree\\" + DEEP_TARGET), ("press", "1"),
             ("box", "Hinweis", counter_line(len(FILES) + len(UMLAUT_FILES) + len(DEEP_FILES), 0, 0), 1)],
      exit=1, target=DEEP_TARGET, after=dict(FILES, **DEEP_FILES)),
    S(name="crc-cancel", build=["--interactive", "damaged", "payload", "--run", "payload.exe"],
      steps=[("press", "1"), ("box", "Warnung", CRC_WARNING, 2), ("box", "Hinweis", CRC_FAILED, 1)],
      exit=1, after={"kaputt.txt": None}, marker=0),
    # Names x writers: each writer's archive of NAMES built into a silent SFX
    # file, run through the stub; the target then holds exactly that tree.
    *[S(name="names-" + writer, writer=writer, build=["--default-folder", "C:\\e2e\\names-%s\\Ziel" % writer],
        via_stub=1, steps=[], exit=None, target="Ziel", after={}, exact=NAMES) for writer in WRITERS],
    # Cyrillic names in the password prompt, the overwrite question and the
    # CRC warning, whose box leaves the progress field visible; the driver
    # reads "?" for each Cyrillic character, the screenshots show the names.
    S(name="cyrillic", shots="-cyrillic", before={CYRILLIC_FOLDER + "\\" + CYRILLIC: b"alt"},
      build=["--interactive", "--no-overwrite-option", "--password", "geheim", "cyrillic", "damaged"],
      steps=[("press", "1"), ("password", "geheim", CYRILLIC), ("replace", ID["IDC_BUTTON_OK"], CYRILLIC),
             ("box", "Warnung", ansi(CRC_FORMAT % CYRILLIC_DAMAGED), 1),
             ("box", "Hinweis", counter_line(2, 0, 1), 1)],
      exit=1, after={CYRILLIC_FOLDER + "\\" + CYRILLIC: NAMES[CYRILLIC],
                     CYRILLIC_FOLDER + "\\" + CYRILLIC_DAMAGED: DAMAGED_TEXT}),
]


# ---- building the test files ------------------------------------------------

def pe_checksum(data):
    """The PE checksum of data whose checksum field is zero: the 16-bit
    words summed with the carries folded back in, plus the file length."""
    total = 0
    for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) & 1)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def tamper(sfx, foreign):
    """Puts a complete ZIP (entry fremd.txt) at the end of the signed file's
    certificate table, as CVE-2013-3900 describes: the table's size in the
    PE header and in its WIN_CERTIFICATE record grow, the PE checksum is
    fixed, and Authenticode, which hashes neither, still verifies."""
    with zipfile.ZipFile(foreign, "w") as archive:
        archive.writestr(zipfile.ZipInfo("fremd.txt", STAMP), b"nicht signiert\r\n")
    with open(foreign, "rb") as f:
        extra = f.read()
    extra += b"\0" * (-len(extra) % 8)
    with open(sfx, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    entry = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112) + 8 * 4
    offset, size = struct.unpack_from("<II", data, entry)
    assert offset + size == len(data), "the certificate table is not the file's end"
    struct.pack_into("<I", data, entry + 4, size + len(extra))
    struct.pack_into("<I", data, offset, struct.unpack_from("<I", data, offset)[0] + len(extra))
    data += extra
    struct.pack_into("<I", data, optional + 64, 0)
    struct.pack_into("<I", data, optional + 64, pe_checksum(bytes(data)))
    with open(sfx, "wb") as f:
        f.write(data)



def write_input_zip(path, build, payload):
    """The archive every row starts from, written entry by entry as the
    row's build list asks."""
    damaged = "damaged" in build
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        if "ampersand" in build:
            archive.writestr(zipfile.ZipInfo(AMPERSAND, STAMP), b"&\r\n")
        if "big" in build:
            info = zipfile.ZipInfo("gross.bin", STAMP)
            archive.writestr(info, os.urandom(BIG), zipfile.ZIP_STORED)
        folder = CYRILLIC_FOLDER.replace("\\", "/") + "/"
        if "cyrillic" in build:
            archive.writestr(zipfile.ZipInfo(folder + CYRILLIC, STAMP), NAMES[CYRILLIC])
        if damaged:
            name = folder + CYRILLIC_DAMAGED if "cyrillic" in build else "kaputt.txt"
            archive.writestr(zipfile.ZipInfo(name, STAMP), b"X" * 50, zipfile.ZIP_STORED)
        else:
            for name, data in FILES.items():
                archive.writestr(zipfile.ZipInfo(name.replace("\\", "/"), STAMP), data)
        if payload:
            archive.write(payload, "payload.exe")
    if damaged:
        # Same length, other bytes: the stored CRC no longer fits.
        with open(path, "r+b") as f:
            data = f.read()
            at = data.index(b"X" * 50)
            f.seek(at)
            f.write(DAMAGED_TEXT)


def write_input_folder(root, extra):
    """The files of FILES, UMLAUT_FILES and extra as a folder, stamped like
    the archive's entries, and an empty folder."""
    write_files(root, dict(FILES, **UMLAUT_FILES, **extra))
    os.makedirs(os.path.join(root, "leerer Ordner"), exist_ok=True)


def write_files(root, files):
    """files (name with "\\" -> bytes) below root, stamped like the archive's entries."""
    for name, data in files.items():
        path = os.path.join(root, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        stamp = datetime.datetime(*STAMP).timestamp()
        os.utime(path, (stamp, stamp))


def write_names_archive(root, writer):
    """NAMES as a folder at root, packed by the writer into root + ".zip";
    returns that archive's path."""
    write_files(root, NAMES)
    out = os.path.abspath(root + ".zip")
    # zipfile warns of the path-field archive's equal header names, as it should.
    subprocess.run(WRITERS[writer](out), cwd=root, env=dict(os.environ, LC_ALL="C.UTF-8", PYTHONWARNINGS="ignore"),
                   check=True, stdout=subprocess.DEVNULL)
    return out


def read_tree(root):
    """Every file (-> bytes) and folder (-> None) below root, by its
    relative name with "\\" separators."""
    tree = {}
    for folder, folders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        for name in folders + files:
            path = os.path.join(folder, name)
            key = name if relative == "." else os.path.join(relative, name).replace(os.sep, "\\")
            tree[key] = None if name in folders else open(path, "rb").read()
    return tree


def tree_of(files):
    """The tree read_tree gives for files (name -> bytes): the files and
    every folder above them."""
    tree = dict(files)
    for name in files:
        parts = name.split("\\")[:-1]
        for depth in range(1, len(parts) + 1):
            tree["\\".join(parts[:depth])] = None
    return tree


def wrong_passwords(row):
    """The passwords a row's steps type that are not the one it builds with."""
    options = row["build"]
    right = options[options.index("--password") + 1] if "--password" in options else None
    return [step[1] for step in row["steps"] if step[0] == "password" and step[1] not in ("", right)]


def passes_check_byte(sfx, password):
    """1 when password passes the encryption header's check of the first entry."""
    with zipfile.ZipFile(sfx) as archive:
        try:
            archive.open(archive.infolist()[0], pwd=password.encode("cp1252")).close()
            return True
        except RuntimeError:
            return False


def wine_run(wine, args, timeout, env=None):
    """Runs a Windows program; returns (exit code, output). The output goes
    through a file, not a pipe: a program that happens to start the
    virtual desktop hands it its handles, and a pipe held open by the
    desktop would never report its end."""
    with open(os.path.join(wine.work_dir, "output.txt"), "w+b") as output:
        try:
            code = subprocess.run([wine.loader] + list(args), env=wine.env(env), stdin=subprocess.DEVNULL,
                                  stdout=output, stderr=subprocess.DEVNULL, timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            code = "timeout"
        output.seek(0)
        return code, output.read()


class Runner:
    def __init__(self, checks, wine, ostrel, arch, build, artifacts):
        self.checks = checks
        self.wine = wine
        self.ostrel = ostrel
        self.arch = arch
        self.build_folder = build
        self.artifacts = artifacts
        self.payload = os.path.join(build, "tests", "win", "payload.exe")
        self.machine_checked = False
        self.shots = set()

    def ui(self, *args, timeout=20000):
        """Runs the UI driver; returns (exit code, [Control])."""
        result = wine_run(self.wine, [self.wine.ui_driver] + list(args) + ["--timeout", str(timeout)],
                          timeout / 1000 + 30)
        lines = result[1].decode("ascii", "replace").splitlines()
        return result[0], [Control(line) for line in lines if line.startswith(("window\t", "control\t"))]

    def shot(self, name):
        if name not in self.shots:
            self.shots.add(name)
            self.wine.screenshot(os.path.join(self.artifacts, name + ".png"))

    def build(self, row, folder):
        """Writes the row's SFX file into folder; returns its Linux path."""
        options = [option for option in row["build"]
                   if option not in ("damaged", "big", "payload", "cut", "alone", "folder", "signed", "tampered",
                                     "ampersand", "no-program", "cyrillic", "twins")]
        source = os.path.join(folder, "..", row["name"] + "-input.zip")
        if "writer" in row:
            source = write_names_archive(os.path.join(folder, "..", row["name"] + "-input"), row["writer"])
        else:
            write_input_zip(source, row["build"], self.payload if "payload" in row["build"] else None)
        if "folder" in row["build"]:
            source = os.path.join(folder, "..", row["name"] + "-input")
            write_input_folder(source, row.get("deep", {}))
        if "signed" in row["build"]:
            key, cert = (os.path.join(folder, "..", row["name"] + suffix) for suffix in ("-key.pem", "-cert.pem"))
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "2", "-subj", "/CN=Ostrel e2e"], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            options += ["--sign-cert", cert, "--sign-key", key]
            self.cert = cert
        sfx = os.path.join(folder, row["name"] + ".exe")
        # Encryption headers are random, and one in 256 lets a wrong password
        # pass the header's check byte: built again until the row's wrong
        # passwords fail it, as the steps expect.
        for _ in range(20):
            built = subprocess.run([self.ostrel, "build", "-q", "--arch", self.arch,
                                    "--stub", os.path.join(self.build_folder, "stub", "stub.exe"),
                                    "--extractor", os.path.join(self.build_folder, "extractor", "extractor.exe"),
                                    "-o", sfx] + options + [source],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if built.returncode != 0 or not any(passes_check_byte(sfx, wrong) for wrong in wrong_passwords(row)):
                break
        if self.checks.check("%s: built" % row["name"], built.returncode == 0, built.stderr.decode()) \
                and not self.machine_checked:
            self.machine_checked = True
            self.check_machine(sfx)
        if "cut" in row["build"] or "twins" in row["build"]:
            # Stub and stage only: the archive starts at its first local header
            # (the builder's offsets count from the start of the file).
            with zipfile.ZipFile(sfx) as archive:
                start = min(info.header_offset for info in archive.infolist())
            with open(sfx, "r+b") as f:
                f.truncate(start)
        if "twins" in row["build"]:
            # An archive the builder refuses, appended as data behind the stage:
            # a file, then two names that differ only in case.
            with zipfile.ZipFile(sfx, "a") as archive:
                for name in ("eins.txt",) + TWINS:
                    archive.writestr(zipfile.ZipInfo(name, STAMP), TWIN_TEXT)
        if "no-program" in row["build"]:
            # The stage replaced by one that unpacks to 260 zero bytes.
            with open(sfx, "r+b") as f:
                f.truncate(8192)
                f.seek(8192)
                f.write(stages.zero_image_stage()[0])
        if "signed" in row["build"]:
            if "tampered" in row["build"]:
                tamper(sfx, os.path.join(folder, "..", row["name"] + "-foreign.zip"))
            self.check_signed(row, sfx, folder)
        return sfx

    def check_signed(self, row, sfx, folder):
        """The signature verifies, tampered or not; ostrel reads the signed
        file as the extractor does and refuses the tampered one, naming why."""
        name, tampered = row["name"], "tampered" in row["build"]
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", sfx],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.checks.check("%s: osslsigncode verify succeeds" % name,
                          verify.returncode == 0 and b"Succeeded" in verify.stdout, verify.stdout.decode()[-400:])
        out = os.path.join(folder, "..", name + "-native")
        for command in ("info", "list", "test", "extract"):
            args = [self.ostrel, command, sfx] + ([out] if command == "extract" else [])
            run = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            refused = run.returncode != 0 and b"refused: the archive does not end where" in run.stderr
            self.checks.check("%s: ostrel %s %s" % (name, command, "refuses" if tampered else "reads it"),
                              refused if tampered else run.returncode == 0,
                              "exit %s: %s" % (run.returncode, run.stderr.decode(errors="replace")[-300:]))
        self.checks.check("%s: ostrel extract wrote %s" % (name, "nothing" if tampered else "the files"),
                          os.path.exists(os.path.join(out, "eins.txt")) != tampered, "")

    def check_machine(self, sfx):
        """The SFX file's stub and the extractor in its stage are programs
        for the architecture under test: machine type and optional header
        (PE32 for i386, PE32+ for x86_64)."""
        wanted = ((hex(pe_image.MACHINE_I386), hex(0x10B)) if self.arch == "win32"
                  else (hex(pe_image.MACHINE_AMD64), hex(0x20B)))
        with open(sfx, "rb") as f:
            data = f.read()
        for part, image in (("stub", data[:8192]), ("extractor", self.unpack(data))):
            try:
                pe = pe_image.PeImage(image)
                found = (hex(pe.machine), hex(pe.magic))
            except ValueError as problem:
                found = str(problem)
            self.checks.equal("%s %s: machine and optional header" % (self.arch, part), found, wanted)

    def unpack(self, sfx_data):
        stage = os.path.join(self.wine.work_dir, "stage.bin")
        image = os.path.join(self.wine.work_dir, "image.bin")
        with open(stage, "wb") as f:
            f.write(sfx_data[8192:])
        subprocess.run([self.ostrel, "unpack", stage, image], check=True, stdout=subprocess.DEVNULL)
        with open(image, "rb") as f:
            return f.read()

    def launch_image(self, row, sfx, windows_sfx):
        """The extractor as the stub starts it: the unpacked image, then the
        SFX path and its length. For "alone", the image without them."""
        with open(sfx, "rb") as f:
            image = self.unpack(f.read())
        if "alone" not in row["build"]:
            path = windows_sfx.encode("utf-8")  # the trailer carries UTF-8
            image += path + struct.pack("<H", len(path))
        launched = os.path.join(os.path.dirname(sfx), "..", row["name"] + "-extractor.exe")
        with open(launched, "wb") as f:
            f.write(image)
        return "C:\\%s\\%s-extractor.exe" % (ROOT, row["name"])

    # ---- steps --------------------------------------------------------------

    def box(self, label, caption, text, button, shot):
        """Reads a message box and answers it; the screenshot is taken
        first, for a box not seen yet (which then costs one more driver run)."""
        window = ["--class", BOX] + (["--title", caption] if caption is not None else [])
        if shot not in self.shots:
            if self.ui("wait-window", *window)[0] == 0:
                self.shot(shot)
        code, controls = self.ui("click", "--dump", *window, "--id", str(button))
        shown = [c.text for c in controls if c.kind == "control" and c.id == BOX_TEXT_ID]
        if not self.checks.check("%s: box '%s' shown" % (label, caption), code == 0 and shown, "no box"):
            return False
        if text is not None:
            self.checks.equal("%s: box '%s' text" % (label, caption), shown[0], text)
        return True

    def main_controls(self, title):
        code, controls = self.ui("dump", "--class", BOX, "--title", title)
        return code == 0, {c.id: c for c in controls if c.kind == "control"}

    def step(self, row, title, step):
        label, kind = row["name"], step[0]
        if kind == "intro":
            return self.box(label, step[1], cp(step[2]), step[3], "intro")
        if kind == "box":
            shot = {"Warnung": "crc-warning" + row.get("shots", ""),
                    "Hinweis": "summary-" + label}.get(step[1], "box-" + label)
            return self.box(label, step[1], step[2], step[3], shot)
        if kind == "main":
            found, controls = self.main_controls(title)
            if not self.checks.check("%s: main dialog '%s'" % (label, title), found, "not found"):
                return False
            self.shot("main-" + label)
            for control_id, (text, state) in step[1].items():
                control = controls.get(control_id)
                if text is not None:
                    self.checks.equal("%s: control %d text" % (label, control_id),
                                      control and control.text, cp(text))
                self.checks.equal("%s: control %d state" % (label, control_id), control and control.state, state)
            return True
        if kind in ("info", "help"):
            self.ui("click", "--class", BOX, "--title", title, "--id", str(ID["IDC_MAIN_" + kind.upper()]))
            caption = "Information" if kind == "info" else "Hilfe"
            code, controls = self.ui("dump", "--class", BOX, "--title", caption)
            shown = [c.text for c in controls if c.kind == "control" and c.id == BOX_TEXT_ID]
            expected = step[1] if kind == "info" else HELP
            ok = shown and (shown[0].startswith(expected) if kind == "info" else shown[0] == expected)
            self.checks.check("%s: %s box text" % (label, caption), ok, "got %r" % shown)
            self.shot(kind)
            self.ui("click", "--class", BOX, "--title", caption, "--id", "1")
            return bool(self.ui("wait-gone", "--class", BOX, "--title", caption)[0] == 0)
        if kind == "set":
            return self.ui("set-text", "--class", BOX, "--title", title, "--id", str(step[1]),
                           "--text", step[2])[0] == 0
        if kind == "press":
            return self.ui("command", "--class", BOX, "--title", title, "--id", step[1])[0] == 0
        if kind == "password":
            caption = "Ostrel Self Extractor"
            code, controls = self.ui("dump", "--class", BOX, "--title", caption)
            prompt = [c.text for c in controls if c.kind == "control" and c.id == ID["IDC_PASSWORD_PROMPT"]]
            field = [c.text for c in controls if c.kind == "control" and c.id == ID["IDC_PASSWORD_FIELD"]]
            entry = step[2] if len(step) > 2 else "eins.txt"
            self.checks.equal("%s: password prompt before '%s'" % (label, step[1]),
                              (prompt, field), ([ansi(PROMPT % entry)], [b""]))
            states = [c.state for c in controls if c.kind == "control" and c.id == ID["IDC_PASSWORD_PROMPT"]]
            self.checks.check("%s: prompt shows '&' as it is (SS_NOPREFIX)" % label,
                              states and "n" in states[0], "state %r" % states)
            self.shot("password" + row.get("shots", ""))
            self.ui("set-text", "--class", BOX, "--title", caption, "--id", str(ID["IDC_PASSWORD_FIELD"]),
                    "--text", step[1])
            self.ui("command", "--class", BOX, "--title", caption, "--id", "1")
            self.wait_replaced(caption)
            return True
        if kind == "replace":
            caption = "Ersetzen von Dateien best\u00e4tigen"
            code, controls = self.ui("dump", "--class", BOX, "--title", caption)
            texts = {c.id: c.text for c in controls if c.kind == "control"}
            if not self.checks.check("%s: overwrite dialog" % label, code == 0, "not shown"):
                return False
            self.shot("overwrite" + row.get("shots", ""))
            # The texts of the question about the step's name; by default of
            # the first question (No), about eins.txt.
            asked = step[2] if len(step) > 2 else "eins.txt" if step[1] == ID["IDC_BUTTON_NO"] else None
            if asked:
                self.checks.equal("%s: overwrite header" % label, texts.get(ID["IDC_REPLACE_HEADER"]),
                                  ansi(REPLACE_HEADER % asked))
                self.checks.equal("%s: overwrite question lines" % label,
                                  (texts.get(ID["IDC_REPLACE_QUESTION"]), texts.get(ID["IDC_REPLACE_WITH"])),
                                  (cp("M\u00f6chten Sie die existierende Datei"), b"mit dieser ersetzen?"))
                for control_id in (ID["IDC_REPLACE_OLD_TEXT"], ID["IDC_REPLACE_NEW_TEXT"]):
                    text = texts.get(control_id, b"")
                    self.checks.check("%s: description %d" % (label, control_id), DESCRIPTION.match(text),
                                      "got %r" % text)
            self.ui("command", "--class", BOX, "--title", caption, "--id", str(step[1]))
            self.wait_replaced(caption)
            return True
        if kind == "swap":
            return self.swap(row)
        if kind == "chooser":
            caption = "Verzeichnis w\u00e4hlen"
            self.ui("command", "--class", BOX, "--title", title, "--id", str(ID["IDC_MAIN_BROWSE"]))
            code, _ = self.ui("wait-window", "--class", BOX, "--title", caption)
            if not self.checks.check("%s: folder chooser shown" % label, code == 0, "not shown"):
                return False
            self.shot("folder-chooser")
            self.ui("command", "--class", BOX, "--title", caption, "--id", "1")
            self.ui("wait-gone", "--class", BOX, "--title", caption)
            _, controls = self.main_controls(title)
            folder = controls.get(ID["IDC_MAIN_FOLDER"])
            # Started in C:\e2e, the chooser opens there; Ok gives that folder.
            return self.checks.equal("%s: chosen folder" % label, folder and folder.text, b"C:\\e2e\\")
        raise ValueError("unknown step %r" % (step,))

    def swap(self, row):
        """Renames the running SFX file as another Windows program would;
        Windows (and Wine) refuse while the stub and the extractor hold it.
        Where the rename goes through, a file of other content takes the
        name, and the row's file checks show whether it was read."""
        name = row["name"]
        windows_sfx = "C:\\%s\\%s\\%s.exe" % (ROOT, name, name)
        wine_run(self.wine, ["cmd", "/c", "ren", windows_sfx, name + "-old.exe"], 30)
        kept = os.path.exists(self.wine.drive_c(ROOT, name, name + ".exe"))
        self.checks.check("%s: renaming the running SFX file fails" % name, kept, "renamed")
        if not kept:
            with open(self.wine.drive_c(ROOT, name, name + ".exe"), "wb") as f:
                f.write(b"MZ" + b"\0" * 1000)
        return True

    def wait_replaced(self, caption):
        """After an answer: the dialog goes, or the next question of the
        same caption takes its place before the driver sees it gone."""
        self.ui("wait-gone", "--class", BOX, "--title", caption, timeout=2000)

    # ---- one row --------------------------------------------------------------

    def run(self, row):
        name = row["name"]
        where = row.get("where", "")
        folder = self.wine.drive_c(ROOT, name, *where.split("\\")) if where else self.wine.drive_c(ROOT, name)
        os.makedirs(folder, exist_ok=True)
        sfx = self.build(row, self.wine.drive_c(ROOT, name))
        if where:
            shutil.move(sfx, os.path.join(folder, name + ".exe"))
            sfx = os.path.join(folder, name + ".exe")
        windows_sfx = "C:\\%s\\%s\\%s%s.exe" % (ROOT, name, where + "\\" if where else "", name)
        target = os.path.join(folder, *row.get("target", "").split("\\")) if row.get("target") else folder
        for entry, data in row.get("before", {}).items():
            path = os.path.join(target, *entry.rstrip("!").split("\\"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            if entry.endswith("!"):
                os.chmod(path, 0o444)  # Wine shows a file without write permission as read-only
        marker = self.wine.drive_c(ROOT, name + "-marker.txt")
        env = {"OSTREL_PAYLOAD_REPORT": "C:\\%s\\%s-marker.txt" % (ROOT, name)}
        program = windows_sfx if row.get("via_stub") else self.launch_image(row, sfx, windows_sfx)
        process = subprocess.Popen([self.wine.loader, program], env=self.wine.env(env), cwd=self.wine.drive_c(ROOT),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        title = "Ostrel Self Extractor - %s.exe" % name
        for step in row["steps"]:
            if not self.step(row, title, step):
                break
        try:
            code = process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            code = "timeout"
        if row["exit"] is not None:
            self.checks.equal("%s: exit code" % name, code, row["exit"])
        elif row.get("via_stub"):
            self.checks.equal("%s: stub exit code" % name, code, 1)
        self.check_files(row, target)
        for entry in row.get("readonly", []):
            path = os.path.join(target, *entry.split("\\"))
            self.checks.check("%s: %s still read-only" % (name, entry),
                              os.path.exists(path) and not os.stat(path).st_mode & 0o222, "writable or gone")
        if row.get("no_temp"):
            windows = self.wine.drive_c("windows")
            left = [f for f in os.listdir(windows) if f.upper().startswith("ZKR") and f.upper().endswith(".TMP")]
            self.checks.equal("%s: no temporary file left in C:\\windows" % name, left, [])
        if "marker" in row:
            started = wait_for(lambda: os.path.exists(marker), 10 if row["marker"] else 1)
            self.checks.equal("%s: run file started" % name, bool(started), bool(row["marker"]))
            if row["marker"] and started:
                with open(marker) as f:
                    report = dict(line.split("=", 1) for line in f.read().splitlines())
                current = bytes.fromhex(report.get("currentFolderHex", ""))
                if "run_folder" in row:
                    self.checks.check("%s: run file's current folder" % name, row["run_folder"].match(current),
                                      "got %r" % current)
                else:
                    self.checks.equal("%s: run file's current folder" % name, current,
                                      cp("C:\\%s\\%s\\%s" % (ROOT, name, row["target"])))

    def check_files(self, row, target):
        name = row["name"]
        if "exact" in row:
            self.checks.equal("%s: the target holds exactly the tree" % name, read_tree(target),
                              tree_of(row["exact"]))
        for empty in row.get("empty_folders", []):
            path = os.path.join(target, *empty.split("\\"))
            self.checks.check("%s: folder %s made" % (name, empty), os.path.isdir(path), "missing")
        for entry, data in row["after"].items():
            path = os.path.join(target, *entry.split("\\"))
            if data is None:
                self.checks.check("%s: %s absent" % (name, entry), not os.path.exists(path), "present")
                continue
            present = os.path.exists(path)
            content = open(path, "rb").read() if present else None
            self.checks.equal("%s: %s content" % (name, entry), content, data)
            if present and data == FILES.get(entry):
                stamp = datetime.datetime(*STAMP).timestamp()  # the prefix's time zone is the host's
                self.checks.check("%s: %s time stamp" % (name, entry),
                                  abs(os.path.getmtime(path) - stamp) <= 2,
                                  "got %s" % datetime.datetime.fromtimestamp(os.path.getmtime(path)))
                # Wine keeps the read-only attribute as the file's write permission bits.
                self.checks.check("%s: %s writable" % (name, entry), os.stat(path).st_mode & 0o222,
                                  "read-only")


def main():
    parser = argparse.ArgumentParser(description="End-to-end tests of the extractor under Wine.")
    parser.add_argument("--native", required=True, help="native build folder (for ostrel)")
    add_windows_build_arguments(parser)
    parser.add_argument("--only", help="run only the scenarios whose name contains this text")
    args = parser.parse_args()
    checks = Checks()
    ostrel = os.path.abspath(os.path.join(args.native, "builder", "ostrel"))
    arch, build = windows_build(args)
    needed = [ostrel] + [os.path.join(build, *p) for p in
                         (("stub", "stub.exe"), ("extractor", "extractor.exe"),
                          ("tests", "win", "uidriver.exe"), ("tests", "win", "payload.exe"))]
    missing = [path for path in needed if not os.path.exists(path)]
    if not checks.check("programs built", not missing, "missing: %s" % missing):
        checks.finish()
    work = os.path.join(build, "e2e-extractor")
    artifacts = os.path.join(build, "e2e-artifacts")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(artifacts, exist_ok=True)
    with WineSession(work, os.path.join(build, "tests", "win", "uidriver.exe"), arch=arch) as wine:
        runner = Runner(checks, wine, ostrel, arch, build, artifacts)
        for row in SCENARIOS:
            if not args.only or args.only in row["name"]:
                runner.run(row)
    checks.finish()


if __name__ == "__main__":
    main()
