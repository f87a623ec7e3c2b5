"""Packed stages built bit by bit, for the failures a test must provoke.

The coding (see packed/model.h and packed/stage_decoder.h): a 4-byte
little-endian header with the unpacked length, then an MSB-first bit stream
read by two adaptive Huffman models. A fresh literal/length model holds only
symbol 512 (bit 0) and the escape 513 (bit 1); a fresh distance model only
slot 30 (bit 0) and its escape 31 (bit 1). An escape is followed by the
symbol in 9 (literal/length) or 4 (distance) raw bits.

These stages are written from that description alone, not with the
project's encoder, so that the stub's reaction does not depend on the
encoder being right.
"""
import struct


class BitWriter:
    """Collects bits most significant first; the last byte is padded with zeros."""

    def __init__(self):
        self.bits = []

    def put(self, value, count):
        for shift in range(count - 1, -1, -1):
            self.bits.append((value >> shift) & 1)
        return self

    def data(self):
        out = bytearray()
        for start in range(0, len(self.bits), 8):
            chunk = self.bits[start:start + 8]
            chunk += [0] * (8 - len(chunk))
            out.append(int("".join(map(str, chunk)), 2))
        return bytes(out)


def header(length):
    return struct.pack("<i", length)


def corrupt_stage():
    """A stream that inserts the literal "A" twice: the decoder must refuse
    the second insertion instead of growing the tree past its arrays."""
    bits = BitWriter()
    bits.put(1, 1)      # literal/length model, fresh: escape (node 2)
    bits.put(65, 9)     # inserts "A": node 2 splits into escape (3) and "A" (4);
                        # the increment swaps node 2 with symbol 512 (node 1), so
                        # the root's bit 0 now leads to escape-or-"A", bit 1 to 512
    bits.put(0b00, 2)   # root bit 0, then bit 0: the escape again
    bits.put(65, 9)     # "A" once more -- already present
    return header(100) + bits.data()


def zero_image_stage():
    """A well-formed stream that decodes into 260 zero bytes, a file that
    no system can start as a program. Returns (stage, image)."""
    bits = BitWriter()
    bits.put(0, 1)      # literal/length model: symbol 512, a match of base length 258
    bits.put(0, 1)      # distance model: slot 30, 29 extra bits follow
    bits.put(0, 29)     # distance 2^29 + 1, wraps in the zero-filled window;
                        # a distance over 8191 lengthens the match by 2: 260 bytes
    return header(260) + bits.data(), bytes(260)


def truncated(stage, keep):
    """The first keep bytes of a stage, as left by a download cut short."""
    return stage[:keep]
