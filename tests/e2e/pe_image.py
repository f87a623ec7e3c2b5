"""Reads the parts of a PE/COFF image that the stub's checks look at, and
runs those checks on a stub image. Plain struct, no packages.

Format notes:
- e_lfanew at 0x3C points at "PE\\0\\0"; the 20-byte file header follows
  (Machine, NumberOfSections, ..., SizeOfOptionalHeader, Characteristics),
  then the optional header: magic 0x10B (PE32) or 0x20B (PE32+). Subsystem
  is at +68 in both; the data directories start at +96 (PE32) or +112
  (PE32+), 8 bytes each (RVA, size).
- Section headers are 40 bytes: name, VirtualSize, VirtualAddress,
  SizeOfRawData, PointerToRawData, ..., Characteristics at +36.
- Import descriptors are 20 bytes (OriginalFirstThunk, TimeDateStamp,
  ForwarderChain, Name, FirstThunk) up to an all-zero one.
- The resource directory is a tree of IMAGE_RESOURCE_DIRECTORY records
  (16 bytes, then named and id entries of 8 bytes each) three levels deep:
  type, name, language. An entry's offset with the top bit set is another
  directory; otherwise it is a 16-byte data entry (RVA, size, code page).
  Offsets are relative to the start of the resource directory.
- A group icon (RT_GROUP_ICON = 14) is a 6-byte header (0, type 1, count)
  and 14-byte entries (width, height, colours, 0, planes, bit count, bytes,
  icon id); each icon (RT_ICON = 3) is a DIB whose height counts colour
  bitmap and mask together.
"""
import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
RT_ICON = 3
RT_GROUP_ICON = 14
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_ID = 1
LANG_NEUTRAL = 0
LANG_GERMAN_GERMANY = 0x0407
SUBSYSTEM_WINDOWS_GUI = 2


class PeImage:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, count, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.entry_rva = struct.unpack_from("<I", data, optional + 16)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        self.size_of_headers = struct.unpack_from("<I", data, optional + 60)[0]
        self.size_of_image = struct.unpack_from("<I", data, optional + 56)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        directory_count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(directory_count, 16))]
        table = optional + optional_size
        self.sections = []
        for i in range(count):
            name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("latin-1")
            vsize, va, raw_size, raw_pointer = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append(dict(name=name, vsize=vsize, va=va, raw_size=raw_size,
                                      raw_pointer=raw_pointer, flags=flags))

    def offset(self, rva):
        for s in self.sections:
            if s["va"] <= rva < s["va"] + max(s["vsize"], s["raw_size"]) and rva - s["va"] < s["raw_size"]:
                return s["raw_pointer"] + rva - s["va"]
        raise ValueError("RVA 0x%x is in no section's raw data" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end]

    def imported_dlls(self):
        rva, size = self.directories[1]
        if not rva:
            return []
        names = []
        cursor = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, cursor)
            if (lookup, name, thunk) == (0, 0, 0):
                return names
            names.append(self.c_string(name).decode("latin-1"))
            cursor += 20

    def imported_functions(self):
        """Names of the functions imported by name, from every DLL."""
        rva, _ = self.directories[1]
        if not rva:
            return []
        pointer = "<I" if self.magic == 0x10B else "<Q"
        by_ordinal = 1 << (31 if self.magic == 0x10B else 63)
        names = []
        cursor = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, cursor)
            if (lookup, name, thunk) == (0, 0, 0):
                return names
            entry = self.offset(lookup or thunk)
            while True:
                value = struct.unpack_from(pointer, self.data, entry)[0]
                if not value:
                    break
                if not value & by_ordinal:
                    names.append(self.c_string(value + 2).decode("latin-1"))
                entry += struct.calcsize(pointer)
            cursor += 20

    def resources(self):
        """Returns [(type, name, language, data bytes)] with ids as ints, names as str."""
        rva, _ = self.directories[2]
        if not rva:
            return []
        base = self.offset(rva)
        out = []

        def entries(offset):
            named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                if key & 0x80000000:
                    length = struct.unpack_from("<H", self.data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = self.data[start:start + 2 * length].decode("utf-16-le")
                yield key, target

        for rtype, type_target in entries(0):
            for name, name_target in entries(type_target & 0x7FFFFFFF):
                for language, data_target in entries(name_target & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + data_target)
                    start = self.offset(data_rva)
                    out.append((rtype, name, language, self.data[start:start + size]))
        return out


def check_stub_image(checks, path, machine, stub_size=8192):
    """Structural checks of a stub image; prefix is the image's label."""
    label = "%s stub" % {MACHINE_I386: "i686", MACHINE_AMD64: "x86_64"}[machine]
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as problem:
        checks.check("%s: image readable" % label, False, str(problem))
        return None
    checks.equal("%s: file size is %d" % (label, stub_size), len(data), stub_size)
    try:
        image = PeImage(data)
    except (ValueError, struct.error) as problem:
        checks.check("%s: PE headers parse" % label, False, str(problem))
        return None
    checks.equal("%s: machine" % label, hex(image.machine), hex(machine))
    checks.equal("%s: optional header magic" % label, hex(image.magic),
                 hex(0x10B if machine == MACHINE_I386 else 0x20B))
    checks.equal("%s: subsystem is Windows GUI" % label, image.subsystem, SUBSYSTEM_WINDOWS_GUI)
    raw = [s for s in image.sections if s["raw_size"]]
    last = max(raw, key=lambda s: s["raw_pointer"] + s["raw_size"])
    checks.equal("%s: last section's raw data ends at %d" % (label, stub_size),
                 last["raw_pointer"] + last["raw_size"], stub_size)
    checks.check("%s: the section ending last is the last in the table" % label,
                 last is raw[-1], "%s ends last but %s is last" % (last["name"], raw[-1]["name"]))
    overlaps = [(a["name"], b["name"]) for a, b in zip(raw, raw[1:])
                if a["raw_pointer"] + a["raw_size"] > b["raw_pointer"]]
    checks.check("%s: raw data of sections does not overlap" % label, not overlaps, str(overlaps))
    entry_section = [s["name"] for s in image.sections
                     if s["va"] <= image.entry_rva < s["va"] + s["vsize"] and s["flags"] & 0x20000000]
    checks.check("%s: entry point in executable code" % label, entry_section,
                 "entry RVA 0x%x" % image.entry_rva)
    try:
        dlls = sorted(name.upper() for name in image.imported_dlls())
    except (ValueError, struct.error) as problem:
        dlls = ["<unreadable: %s>" % problem]
    checks.equal("%s: imports only KERNEL32.dll and USER32.dll" % label, dlls,
                 ["KERNEL32.DLL", "USER32.DLL"])
    unwind = [s["name"] for s in image.sections if s["name"] in (".pdata", ".xdata", ".eh_frame")]
    checks.check("%s: no unwind tables" % label, not unwind and not image.directories[3][1],
                 "sections %s, exception directory %r" % (unwind, image.directories[3]))
    checks.check("%s: no relocations, no debug data, no TLS" % label,
                 not any(image.directories[i][1] for i in (5, 6, 9)),
                 "directories 5, 6, 9: %r" % [image.directories[i] for i in (5, 6, 9)])
    check_stub_resources(checks, label, image)
    check_stub_manifest(checks, label, image)
    check_dll_guard(checks, label, image)
    return image


def check_stub_resources(checks, label, image):
    try:
        resources = image.resources()
    except (ValueError, struct.error) as problem:
        checks.check("%s: resource directory parses" % label, False, str(problem))
        return
    groups = [r for r in resources if r[0] == RT_GROUP_ICON]
    checks.equal("%s: one icon group, 102, German" % label,
                 [(r[1], hex(r[2])) for r in groups], [(102, hex(LANG_GERMAN_GERMANY))])
    if not groups:
        return
    group = groups[0][3]
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    checks.equal("%s: icon group holds 32x32 and 16x16, 16 colours" % label,
                 sorted((e[0], e[1], e[2], e[5]) for e in entries),
                 [(16, 16, 16, 4), (32, 32, 16, 4)])
    icons = {r[1]: r for r in resources if r[0] == RT_ICON}
    images_ok = []
    for width, height, _, _, _, bits, size, icon_id in entries:
        icon = icons.get(icon_id)
        if not icon:
            images_ok.append("icon %d missing" % icon_id)
            continue
        header_size, dib_width, dib_height, _, dib_bits = struct.unpack_from("<IiiHH", icon[3], 0)
        if (header_size, dib_width, dib_height, dib_bits, len(icon[3])) != (40, width, 2 * height, bits, size):
            images_ok.append("icon %d: %r" % (icon_id, (header_size, dib_width, dib_height, dib_bits, len(icon[3]))))
        if icon[2] != LANG_GERMAN_GERMANY:
            images_ok.append("icon %d language 0x%x" % (icon_id, icon[2]))
    checks.check("%s: icon images are 4-bit DIBs of the group's sizes, German" % label,
                 not images_ok and reserved == 0 and kind == 1, "; ".join(images_ok))
    others = sorted({r[0] for r in resources} - {RT_ICON, RT_GROUP_ICON, RT_MANIFEST}, key=str)
    checks.check("%s: no resources besides the icon and the manifest" % label,
                 not others and len(icons) == len(entries),
                 "other types %r, %d icons for %d entries" % (others, len(icons), len(entries)))


def check_stub_manifest(checks, label, image):
    """The application manifest: one, id 1, language neutral (the one the
    loader reads for a program), well-formed XML that asks for asInvoker
    (so installer detection does not ask for administrator rights) without
    UI access, and names the supported systems up to Windows 10."""
    import xml.etree.ElementTree as ElementTree
    try:
        manifests = [r for r in image.resources() if r[0] == RT_MANIFEST]
    except (ValueError, struct.error) as problem:
        checks.check("%s: resource directory parses" % label, False, str(problem))
        return
    if not checks.equal("%s: one manifest, id 1, language neutral" % label,
                        [(r[1], r[2]) for r in manifests], [(CREATEPROCESS_MANIFEST_ID, LANG_NEUTRAL)]):
        return
    try:
        root = ElementTree.fromstring(manifests[0][3])
    except ElementTree.ParseError as problem:
        checks.check("%s: manifest is well-formed XML" % label, False, str(problem))
        return

    def local(element):
        return element.tag.rpartition("}")[2]

    levels = [(e.get("level"), e.get("uiAccess", "false")) for e in root.iter()
              if local(e) == "requestedExecutionLevel"]
    checks.equal("%s: manifest asks for asInvoker, no UI access" % label, levels, [("asInvoker", "false")])
    systems = {e.get("Id", "").lower() for e in root.iter() if local(e) == "supportedOS"}
    checks.check("%s: manifest names Windows 10 as supported" % label,
                 "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" in systems, "supportedOS %s" % sorted(systems))


def check_dll_guard(checks, label, image):
    """The DLL search guard finds its two functions by name at run time: an
    import of either would keep the stub from starting on systems without
    it, and names missing from the image mean the guard is gone."""
    wanted = [b"SetDefaultDllDirectories\0", b"SetDllDirectoryA\0", b"GetProcAddress\0"]
    checks.check("%s: DLL search guard present (names for GetProcAddress)" % label,
                 all(name in image.data for name in wanted),
                 "missing %s" % [n for n in wanted if n not in image.data])
    try:
        functions = image.imported_functions()
    except (ValueError, struct.error) as problem:
        functions = ["<unreadable: %s>" % problem]
    checks.check("%s: DLL search functions are not imported" % label,
                 not {"SetDefaultDllDirectories", "SetDllDirectoryA", "SetDllDirectoryW"} & set(functions),
                 "imports %s" % functions)


def check_assembled_sfx(checks, label, stub_data, stage, work_path):
    """Builds stub + stage + ZIP (offsets counted from the start of the SFX
    file, as zipfile writes them when it appends to a file) and checks that
    the stage header lies at the stub's size, the stub's headers still read
    the same and the archive reads back."""
    import zipfile
    with open(work_path, "wb") as f:
        f.write(stub_data + stage)
    with zipfile.ZipFile(work_path, "a") as archive:
        archive.writestr("liesmich.txt", "Hallo aus dem Archiv.\r\n")
    with open(work_path, "rb") as f:
        sfx = f.read()
    checks.equal("%s: SFX has the stage header at %d" % (label, len(stub_data)),
                 sfx[len(stub_data):len(stub_data) + 4], stage[:4])
    checks.check("%s: SFX begins with the stub image unchanged" % label,
                 sfx[:len(stub_data)] == stub_data, "stub bytes differ")
    try:
        image = PeImage(sfx)
        same = image.size_of_image == PeImage(stub_data).size_of_image
    except ValueError:
        same = False
    checks.check("%s: SFX still reads as the stub's PE image" % label, same, "headers differ")
    with zipfile.ZipFile(work_path) as archive:
        first = archive.infolist()[0]
        checks.check("%s: SFX archive offsets count from the file start" % label,
                     first.header_offset >= len(stub_data) + len(stage) and archive.testzip() is None,
                     "local header at %d" % first.header_offset)
    return sfx


def check_fit_step(checks, label, stub_data, fit_script, work_dir):
    """Runs the build's fit step (stub/fit_image.py) on variants of a fitted
    stub: a shorter image must grow back to the same headers and contents,
    a fitted one must stay as it is, and a longer one must fail and be
    removed, so that no later step picks up an image that would move the
    stage."""
    import os
    import subprocess
    import sys
    image = PeImage(stub_data)
    raw = [(i, s) for i, s in enumerate(image.sections) if s["raw_size"]]
    index, last = max(raw, key=lambda item: item[1]["raw_pointer"] + item[1]["raw_size"])
    pe = struct.unpack_from("<I", stub_data, 0x3C)[0]
    optional_size = struct.unpack_from("<H", stub_data, pe + 20)[0]
    raw_size_field = pe + 24 + optional_size + 40 * index + 16

    def variant(name, raw_size, length):
        data = bytearray(stub_data[:length]) + bytes(max(0, length - len(stub_data)))
        struct.pack_into("<I", data, raw_size_field, raw_size)
        path = os.path.join(work_dir, name)
        with open(path, "wb") as f:
            f.write(data)
        result = subprocess.run([sys.executable, fit_script, path, str(len(stub_data))],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        content = None
        if os.path.exists(path):
            with open(path, "rb") as f:
                content = f.read()
        return result.returncode, content

    size = len(stub_data)
    code, content = variant("fit-same.exe", last["raw_size"], size)
    checks.check("%s fit step: a fitted image stays unchanged" % label,
                 code == 0 and content == stub_data, "exit code %d" % code)
    # The fitted image's last block may hold contents (a full stub has no
    # padding left): growing puts zero bytes where the cut block was.
    code, content = variant("fit-short.exe", last["raw_size"] - 512, size - 512)
    checks.check("%s fit step: an image 512 bytes short grows back, padded with zeros" % label,
                 code == 0 and content == stub_data[:size - 512] + bytes(512), "exit code %d" % code)
    code, content = variant("fit-long.exe", last["raw_size"] + 512, size + 512)
    checks.check("%s fit step: an image over %d bytes fails and is removed" % (label, size),
                 code != 0 and content is None, "exit code %d, image %s" % (code, "kept" if content else "removed"))
