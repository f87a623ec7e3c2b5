#!/usr/bin/env python3
"""Writes the archives of the interoperability tests that need Python's
zipfile. Usage: write_archive.py MODE OUT [COUNT], run inside the folder
to pack (folders are entries too, except for the unicode modes).

  deflated, stored   plain zipfile archives
  force_zip64        files through ZipFile.open(force_zip64=True): ZIP64
                     extra fields with markers in small entries
  unicode_matching   ASCII header names ('_' for other characters) and the
                     true UTF-8 name in an Info-ZIP Unicode path field
                     (0x7075) whose CRC matches the header name
  unicode_stale      the same, but the CRC is that of another name, as
                     after a rename by a tool that did not know the field
  many               COUNT empty stored entries; more than 65,535 make
                     zipfile write the ZIP64 end record and locator
  files              not an archive: COUNT small files in the folder OUT
"""
import io, os, struct, sys, zipfile, zlib

mode, out = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 0


def walk():
    for root, dirs, files in os.walk("."):
        dirs.sort()
        for name in dirs + sorted(files):
            yield os.path.join(root, name)[2:]


def unicode_field(header, name, crc_of):
    data = name.encode()
    return struct.pack("<HHBI", 0x7075, 5 + len(data), 1, zlib.crc32(crc_of.encode())) + data


if mode == "files":
    os.makedirs(out, exist_ok=True)
    for i in range(count):
        with open(os.path.join(out, "d%05d.txt" % i), "w") as f:
            f.write("Datei %d\n" % i)
    sys.exit(0)

method = zipfile.ZIP_STORED if mode in ("stored", "many") else zipfile.ZIP_DEFLATED
buffer = io.BytesIO()  # one write at the end: many small ones are slow on a busy disk
with zipfile.ZipFile(buffer, "w", method) as z:
    if mode == "many":
        for i in range(count):
            z.writestr("e%05d" % i, b"")
    elif mode in ("deflated", "stored"):
        for path in walk():
            z.write(path)
    elif mode == "force_zip64":
        for path in walk():
            if os.path.isdir(path):
                z.write(path)
                continue
            with open(path, "rb") as source, z.open(path, "w", force_zip64=True) as target:
                target.write(source.read())
    elif mode in ("unicode_matching", "unicode_stale"):
        for path in walk():
            if os.path.isdir(path):
                continue
            header = "".join(c if c.isascii() else "_" for c in path)
            info = zipfile.ZipInfo(header)
            info.extra = unicode_field(header, path, header if mode == "unicode_matching" else header + "~")
            with open(path, "rb") as source:
                z.writestr(info, source.read())
    else:
        sys.exit("unknown mode " + mode)
with open(out, "wb") as f:
    f.write(buffer.getvalue())
