#!/usr/bin/env python3
"""Fits the linked stub image to exactly SIZE bytes (8192), in place.

Usage: fit_image.py IMAGE SIZE

The stage of an SFX file starts at a fixed offset, so the stub image must end
exactly there. The linker writes a shorter file; this step grows the raw data
of the last section (the one whose raw data ends last in the file) with zero
bytes up to SIZE, so that the image stays a well-formed PE file whose last
section ends at SIZE rather than carrying loose bytes after its end.

Fails, and deletes the image so that no build step can pick it up, when the
image does not fit, when its layout is not what this step understands, or
when the grown section would not end at SIZE.

Format notes:
- PE/COFF: e_lfanew at 0x3C; "PE\\0\\0", the 20-byte file header
  (NumberOfSections at +2, SizeOfOptionalHeader at +16), the optional header
  (magic 0x10B for PE32, 0x20B for PE32+; FileAlignment at +36,
  SectionAlignment at +32, SizeOfImage at +56, SizeOfHeaders at +60,
  CheckSum at +64), then the 40-byte section headers (VirtualSize +8,
  VirtualAddress +12, SizeOfRawData +16, PointerToRawData +20).
- SizeOfRawData must stay a multiple of FileAlignment; it is, because the
  section starts on a FileAlignment boundary and SIZE is one.
- The grown section's VirtualSize is raised to its SizeOfRawData so that the
  loader maps all of the raw data, and SizeOfImage follows it.
- A section with no raw data (.bss) has nothing in the file and is skipped.
- The linker fills the import directory (data directory 1) only from an
  output section named .idata; stub.ld keeps the import tables inside .text,
  so only the import address table (directory 12) is set. The descriptors
  are found from it: ld places them, one 20-byte IMAGE_IMPORT_DESCRIPTOR per
  DLL (OriginalFirstThunk, TimeDateStamp, ForwarderChain, Name, FirstThunk)
  and a zero one, in front of the lookup tables, and the first descriptor's
  FirstThunk is the start of the address table. Every descriptor found must
  name a "*.dll" string and have its thunks inside the image.
"""
import os
import struct
import sys


def align(value, unit):
    return (value + unit - 1) // unit * unit


def rva_to_offset(data, table, sections, rva):
    for index in range(sections):
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", data, table + 40 * index + 8)
        if virtual_address <= rva < virtual_address + min(virtual_size, raw_size):
            return raw_pointer + rva - virtual_address
    return None


def c_string(data, offset, limit=256):
    end = data.find(b"\0", offset, offset + limit)
    return None if end < 0 else data[offset:end]


def import_directory(data, table, sections, iat_rva):
    """Returns (rva, size) of the import descriptors whose first FirstThunk is iat_rva."""
    for index in range(sections):
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", data, table + 40 * index + 8)
        if not virtual_address <= iat_rva < virtual_address + virtual_size:
            continue
        for offset in range(raw_pointer, raw_pointer + raw_size - 20 + 1, 4):
            if struct.unpack_from("<I", data, offset + 16)[0] != iat_rva:
                continue
            count = 0
            cursor = offset
            while cursor + 20 <= raw_pointer + raw_size:
                lookup, _, _, name, thunk = struct.unpack_from("<IIIII", data, cursor)
                if (lookup, name, thunk) == (0, 0, 0):
                    break
                name_offset = rva_to_offset(data, table, sections, name)
                text = None if name_offset is None else c_string(data, name_offset)
                if (text is None or not text.lower().endswith(b".dll")
                        or rva_to_offset(data, table, sections, lookup) is None
                        or rva_to_offset(data, table, sections, thunk) is None):
                    count = 0
                    break
                count += 1
                cursor += 20
            if count:
                return virtual_address + offset - raw_pointer, (count + 1) * 20
    raise ValueError("import descriptors for the address table at 0x%x not found" % iat_rva)


def fit(data, size):
    """Returns the image grown to size bytes; raises ValueError when it cannot be."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise ValueError("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic not in (0x10B, 0x20B):
        raise ValueError("unknown optional header magic 0x%x" % magic)
    section_align, file_align = struct.unpack_from("<II", data, optional + 32)
    if size % file_align:
        raise ValueError("%d is not a multiple of the file alignment %d" % (size, file_align))
    table = optional + optional_size
    last = None
    for index in range(sections):
        raw_size, raw_pointer = struct.unpack_from("<II", data, table + 40 * index + 16)
        if raw_size and (last is None or raw_pointer + raw_size > last[2]):
            last = (index, raw_pointer, raw_pointer + raw_size)
    if last is None:
        raise ValueError("no section with raw data")
    index, raw_pointer, raw_end = last
    if len(data) > size or raw_end > size:
        raise ValueError("image is %d bytes (raw data to %d), more than %d: it does not fit"
                         % (len(data), raw_end, size))
    if raw_end != len(data):
        raise ValueError("%d bytes after the last section's raw data (debug data?)"
                         % (len(data) - raw_end))
    header = table + 40 * index
    out = bytearray(data) + bytes(size - len(data))
    directories = optional + (96 if magic == 0x10B else 112)
    import_rva, _ = struct.unpack_from("<II", out, directories + 8 * 1)
    iat_rva, iat_size = struct.unpack_from("<II", out, directories + 8 * 12)
    if import_rva == 0 and iat_size:
        struct.pack_into("<II", out, directories + 8 * 1,
                         *import_directory(data, table, sections, iat_rva))
    virtual_size, virtual_address = struct.unpack_from("<II", out, header + 8)
    raw_size = size - raw_pointer
    virtual_size = max(virtual_size, raw_size)
    struct.pack_into("<III", out, header + 8, virtual_size, virtual_address, raw_size)
    image_end = 0
    for i in range(sections):
        vs, va = struct.unpack_from("<II", out, table + 40 * i + 8)
        image_end = max(image_end, va + align(vs, section_align))
    struct.pack_into("<I", out, optional + 56, image_end)
    struct.pack_into("<I", out, optional + 64, 0)  # no checksum: not a driver
    return bytes(out)


def describe_use(data, size):
    """What the linked image holds, as a line: the headers, each section's
    contents, and the bytes still free. Contents grow in 512-byte file
    blocks, so a section may take its next block before the free bytes run
    out."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    headers = struct.unpack_from("<I", data, optional + 60)[0]
    table = optional + optional_size
    parts = ["headers %d" % headers]
    used = headers
    for index in range(sections):
        name = data[table + 40 * index:table + 40 * index + 8].rstrip(b"\0").decode("latin-1")
        virtual_size, _, raw_size = struct.unpack_from("<III", data, table + 40 * index + 8)
        if raw_size:
            content = min(virtual_size, raw_size)
            parts.append("%s %d of %d" % (name, content, raw_size))
            used += content
    return "%d of %d bytes in file blocks (%s); %d bytes free" % (
        len(data), size, ", ".join(parts), size - used)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: fit_image.py IMAGE SIZE")
    path, size = sys.argv[1], int(sys.argv[2])
    with open(path, "rb") as f:
        data = f.read()
    try:
        fitted = fit(data, size)
    except ValueError as problem:
        os.remove(path)
        sys.exit("fit_image: %s: %s" % (path, problem))
    with open(path, "wb") as f:
        f.write(fitted)
    print("fit_image: %s: %s" % (path, describe_use(data, size)))


if __name__ == "__main__":
    main()
