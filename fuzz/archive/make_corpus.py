#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_archive into fuzz/archive/corpus/: small
archives of Info-ZIP zip (plain, stored, encrypted with the target's
password "fuzz", with a comment), Python's zipfile (UTF-8 names, folders),
bsdtar (data descriptors), some behind a prefix with moved offsets, and a
few hostile shapes (escaping names, overlapping entries, cut records)."""
import io, os, shutil, struct, subprocess, sys, tempfile, zipfile

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
