#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_archive into fuzz/archive/corpus/: small
archives of Info-ZIP zip (plain, stored, encrypted with the target's
password "fuzz", with a comment), Python's zipfile (UTF-8 names, folders),
bsdtar (data descriptors), some behind a prefix with moved offsets, and a
few hostile shapes (escaping names, overlapping entries, cut records).
Archives written record by record (build) add the cases that readers
get wrong: ZIP64 records and fields, offsets not moved past a prefix,
methods 12 and 99 (AES), the Info-ZIP Unicode path field with a right and
a stale CRC, sizes that lie, and a match reaching before the entry's
first byte."""
import io, os, shutil, struct, subprocess, sys, tempfile, zipfile, zlib

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus")
os.makedirs(out, exist_ok=True)

def save(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

def prefixed(data, length):
    """The archive behind length bytes, its stored offsets moved (zip -A's job)."""
    end = data.rfind(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    buf = bytearray(b"\x90" * length + data)
    at = length + offset
    for _ in range(count):
        local, = struct.unpack_from("<I", buf, at + 42)
        struct.pack_into("<I", buf, at + 42, local + length)
        n, e, c = struct.unpack_from("<HHH", buf, at + 28)
        at += 46 + n + e + c
    struct.pack_into("<I", buf, length + end + 16, offset + length)
    return bytes(buf)

def pyzip(entries, method=zipfile.ZIP_DEFLATED):
    b = io.BytesIO()
    with zipfile.ZipFile(b, "w", method) as z:
        for name, data in entries:
            z.writestr(name, data)
    return b.getvalue()

text = "Grüße aus Köln, Äpfel und Birnen.\n".encode("utf-8") * 6
work = tempfile.mkdtemp()
try:
    os.makedirs(os.path.join(work, "src/sub"))
    with open(os.path.join(work, "src/a.txt"), "wb") as f: f.write(text)
    with open(os.path.join(work, "src/sub/b.txt"), "wb") as f: f.write(b"b" * 300)
    open(os.path.join(work, "src/empty.txt"), "wb").close()
    def tool(name, command):
        path = os.path.join(work, name)
        subprocess.run(command.replace("OUT", path), shell=True, check=True, cwd=os.path.join(work, "src"))
        return open(path, "rb").read()
    save("zip-deflated.zip", tool("z1.zip", "zip -q -r OUT ."))
    save("zip-stored.zip", tool("z2.zip", "zip -q -r -0 OUT ."))
    save("zip-encrypted.zip", tool("z3.zip", "zip -q -r -P fuzz OUT ."))
    z4 = tool("z4.zip", "zip -q -r OUT . && echo 'Kommentar des Archivs' | zip -q -z OUT")
    save("zip-comment.zip", z4)
    if shutil.which("bsdtar"):
        save("bsdtar-descriptor.zip", tool("b.zip", "bsdtar --format zip -cf OUT a.txt sub"))
    save("sfx-zip-deflated.exe", prefixed(open(os.path.join(work, "z1.zip"), "rb").read(), 8192))
    save("sfx-zip-encrypted.exe", prefixed(open(os.path.join(work, "z3.zip"), "rb").read(), 512))
finally:
    shutil.rmtree(work)

save("python-utf8.zip", pyzip([("Ordner/", b""), ("Ordner/Grüße.txt", text), ("€uro.txt", b"1")]))
save("python-stored.zip", pyzip([("x.bin", bytes(range(256)) * 2)], zipfile.ZIP_STORED))
save("empty.zip", pyzip([]))
save("escape.zip", pyzip([("ok.txt", b"ok"), ("../evil.txt", b"x"), ("C:/evil.txt", b"x")]))
plain = pyzip([("one.txt", b"1" * 100), ("two.txt", b"2" * 100)])
# Both central records point at the first local header.
overlap = bytearray(plain)
central = struct.unpack_from("<I", overlap, len(overlap) - 22 + 16)[0]
second = central + 46 + len("one.txt")
struct.pack_into("<I", overlap, second + 42, 0)
save("overlap.zip", bytes(overlap))
save("cut-central.zip", plain[:central + 30] + plain[-22:])
save("no-end-record.bin", b"MZ" + bytes(300))


def build(entries, zip64=False, comment=b""):
    """A ZIP from entries, each a dict: name (bytes), data (the stored
    bytes), and optionally method (0), flags (0), crc and size (of the
    uncompressed data; default: data's), local_extra and central_extra.
    zip64 puts every size and offset into ZIP64 fields (id 1) and writes
    the ZIP64 end record and locator, as streaming writers do."""
    out, central = bytearray(), bytearray()
    for e in entries:
        data, method = e["data"], e.get("method", 0)
        size = e.get("size", len(data))
        crc = e.get("crc", zlib.crc32(data))
        offset = len(out)
        lx, cx = e.get("local_extra", b""), e.get("central_extra", b"")
        csize, usize, coffset = len(data), size, offset
        if zip64:
            lx = struct.pack("<HHQQ", 1, 16, size, len(data)) + lx
            cx = struct.pack("<HHQQQ", 1, 24, size, len(data), offset) + cx
            csize = usize = coffset = 0xFFFFFFFF
        flags, name = e.get("flags", 0), e["name"]
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45 if zip64 else 20, flags, method, 0, 0x5821,
                           crc, csize, usize, len(name), len(lx)) + name + lx + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x0314, 45 if zip64 else 20, flags, method,
                               0, 0x5821, crc, csize, usize, len(name), len(cx), 0, 0, 0, 0o100644 << 16,
                               coffset) + name + cx
    start = len(out)
    out += central
    count, dsize, dstart = len(entries), len(central), start
    if zip64:
        record = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, dsize, dstart)
        out += struct.pack("<IIQI", 0x07064B50, 0, record, 1)
        count, dsize, dstart = 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, dsize, dstart, len(comment)) + comment
    return bytes(out)

def deflate(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()

class BitWriter:
    """Deflate's bit order: fields from the lowest bit up, Huffman codes
    from their first (highest) bit."""
    def __init__(self): self.bits = []
    def field(self, value, n): self.bits += [(value >> i) & 1 for i in range(n)]
    def code(self, value, n): self.bits += [(value >> (n - 1 - i)) & 1 for i in range(n)]
    def bytes(self):
        b = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(b[i + j] << j for j in range(8)) for i in range(0, len(b), 8))

# A fixed-Huffman block: literal "a", then a match of length 3 (code 257)
# at distance 2 (distance code 1) after only one byte, end of block (256).
far = BitWriter()
far.field(1, 1); far.field(1, 2)          # last block, fixed codes
far.code(0x30 + ord("a"), 8)              # literal "a": 8-bit codes from 00110000
far.code(1, 7)                            # 257: length 3, 7-bit codes from 0000000
far.code(1, 5)                            # distance code 1: distance 2, no extra bits
far.code(0, 7)                            # 256: end of block

hello = b"Hallo aus dem Archiv.\n" * 4
def unicode_path(name, header_name):
    utf8 = name.encode("utf-8")
    return struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, zlib.crc32(header_name)) + utf8
aes = struct.pack("<HHH2sBH", 0x9901, 7, 2, b"AE", 3, 8)  # AE-2, 256-bit key, Deflate inside

python64 = io.BytesIO()
with zipfile.ZipFile(python64, "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("big.txt", "w", force_zip64=True) as f:  # a ZIP64 field in the local header
        f.write(hello)
save("zip64-python.zip", python64.getvalue())
save("zip64-records.zip", build([{"name": b"a.txt", "data": hello}, {"name": b"sub/b.txt", "data": b"b" * 50}],
                                zip64=True))
save("unadjusted-prefix.bin", b"#!/bin/sh\necho entpacke\nexit 0\n" + plain)
save("method-12.zip", build([{"name": b"bzip2.txt", "data": b"BZh91AY&SY" + bytes(20), "method": 12, "size": 40}]))
save("method-99-aes.zip", build([{"name": b"secret.txt", "data": bytes(40), "method": 99, "flags": 1,
                                  "size": 20, "local_extra": aes, "central_extra": aes}]))
save("unicode-path.zip", build([
    {"name": b"Gr\x81\xe1e.txt", "data": hello, "central_extra": unicode_path("Grüße.txt", b"Gr\x81\xe1e.txt")},
    {"name": b"stale.txt", "data": b"x", "central_extra": unicode_path("neu.txt", b"alt.txt")}]))
lying = bytes(200000)
save("lying-size.zip", build([{"name": b"small.txt", "data": deflate(lying), "method": 8, "size": 100,
                               "crc": zlib.crc32(lying)}]))
save("too-far-back.zip", build([{"name": b"first.txt", "data": b"geheim" * 10},
                                {"name": b"far.txt", "data": far.bytes(), "method": 8, "size": 4,
                                 "crc": zlib.crc32(b"aaaa")}]))
