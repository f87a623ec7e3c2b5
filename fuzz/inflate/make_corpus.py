#!/usr/bin/env python3
"""Writes (from any folder) the seed corpora of fuzz/inflate and fuzz/cipher_inflate: valid
raw Deflate streams of each block kind, a few corrupt ones, and encrypted
entries (traditional ZIP encryption done here) for the cipher target."""
import os, random, struct, zlib

here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))  # fuzz/
rnd = random.Random(1951)
text = b"".join(rnd.choice([b"Datei ", b"Archiv ", b"entpacken ", b"und ", b"Ordner\r\n"]) for _ in range(900))
noise = bytes(rnd.getrandbits(8) for _ in range(3000))

def raw(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()

streams = {
    "stored.bin": raw(noise[:700], 0),
    "fixed.bin": raw(text[:400], 6, zlib.Z_FIXED),
    "dynamic.bin": raw(text, 9),
    "huffman.bin": raw(text[:2000], 6, zlib.Z_HUFFMAN_ONLY),
    "rle.bin": raw(b"a" * 500 + noise[:50] + b"b" * 700, 6, zlib.Z_RLE),
    "random.bin": raw(noise, 6),
    "empty.bin": raw(b"", 6),
    "type3.bin": bytes([0x07, 0x00]),
    "bad_stored_length.bin": bytes([0x01, 0x05, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5]),
    "truncated.bin": raw(text, 9)[:300],
}
os.makedirs(os.path.join(here, "inflate", "corpus"), exist_ok=True)
for name, data in streams.items():
    open(os.path.join(here, "inflate", "corpus", name), "wb").write(data)

# Traditional PKWARE encryption (APPNOTE 6.1).
def crc_byte(crc, b):
    return zlib.crc32(bytes([b]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF

def encrypt(password, plain):
    keys = [0x12345678, 0x23456789, 0x34567890]
    def update(c):
        keys[0] = crc_byte(keys[0], c)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = crc_byte(keys[2], keys[1] >> 24)
    for c in password:
        update(c)
    out = bytearray()
    for c in plain:
        t = (keys[2] & 0xFFFF) | 2
        out.append(c ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(c)
    return bytes(out)

def entry(password, plain, deflated, no_check=False, typed=None):
    crc = zlib.crc32(plain)
    data = raw(plain, 6) if deflated else plain
    header = bytes(rnd.getrandbits(8) for _ in range(11)) + bytes([crc >> 24])
    typed = password if typed is None else typed
    flags = (1 if deflated else 0) | (2 if no_check else 0)
    return bytes([flags]) + struct.pack("<I", crc) + bytes([len(typed)]) + typed + encrypt(password, header + data)

seeds = {
    "deflated.bin": entry(b"geheim", text, True),
    "stored.bin": entry(b"geheim", noise[:900], False),
    "no_check.bin": entry(b"pw", text[:1500], True, no_check=True),
    "wrong_password.bin": entry(b"richtig", text[:800], True, typed=b"falsch"),
    "empty_password.bin": entry(b"", text[:300], True),
    "short_header.bin": bytes([1, 0, 0, 0, 0, 2]) + b"pw" + b"\x01\x02\x03",
}
os.makedirs(os.path.join(here, "cipher_inflate", "corpus"), exist_ok=True)
for name, data in seeds.items():
    open(os.path.join(here, "cipher_inflate", "corpus", name), "wb").write(data)
