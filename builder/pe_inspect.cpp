// PE headers, read with every offset checked against the bytes given.
//
// Format notes (Microsoft PE/COFF specification):
// - The DOS header's e_lfanew (offset 0x3C) points to "PE\0\0", followed
//   by the 20-byte COFF header (machine first, characteristics at 18) and
//   the optional header, whose magic 0x10B (PE32) or 0x20B (PE32+) decides
//   where the data directories begin (96 or 112 bytes into it); the
//   subsystem sits at 68 in both.
// - Directory 2 is the resource tree (an RVA, mapped to the file through
//   the section table); directory 4 is the certificate table, the one
//   entry that holds a file offset rather than an RVA.
// - A resource directory is 16 bytes (named-entry count at 12, ID count at
//   14), followed by 8-byte entries, named ones first. An entry's first
//   word is an ID, or with the top bit set the offset of its name (a 16-bit
//   length, then UTF-16 units); its second word, with the top bit set, is
//   the offset of the next level's directory. Both offsets count from the
//   start of the tree. Level one is the type (24 manifest, 5 dialog),
//   level two the resource's name or ID.
// Trap: every offset is untrusted and up to 2^32 - 1. Added to a position
// in a 32-bit size_t it wraps and lands in front of the buffer, so each
// check is a 64-bit sum compared with the size (Fits) before any pointer
// is formed.
#include "builder/pe_inspect.h"

#include <string.h>

#include "extractor/zip/signed_archive.h"

enum {
  PE_DIR_RESOURCE = 2,
  PE_SECTION_SIZE = 40,
  PE_RESOURCE_DIR_SIZE = 16,
  PE_RESOURCE_ENTRY_SIZE = 8,
  PE_RESOURCE_SUBDIR = 0x80000000u  // top bit of an entry's name or data word
};

static uint32_t Get16(const uint8_t *p) { return (uint32_t)(p[0] | (p[1] << 8)); }
static uint32_t Get32(const uint8_t *p) { return Get16(p) | (Get16(p + 2) << 16); }

// 1 when the length bytes at offset lie inside the size bytes.
static int Fits(uint64_t offset, uint64_t length, size_t size) {
  return offset <= size && length <= size - offset;
}

const char *MachineName(uint16_t machine) {
  if (machine == PE_MACHINE_I386) return "i386 (win32)";
  if (machine == PE_MACHINE_AMD64) return "x86-64 (win64)";
  return "unknown";
}

// File offset of rva through the section table; 0 when no section maps it
// or the mapped byte lies outside the file.
static uint64_t RvaToOffset(const uint8_t *data, size_t size, uint64_t sections, uint32_t count, uint32_t rva) {
  for (uint32_t i = 0; i < count; i++) {
    uint64_t at = sections + (uint64_t)i * PE_SECTION_SIZE;
    if (!Fits(at, PE_SECTION_SIZE, size)) return 0;
    uint32_t virtualAddress = Get32(data + at + 12), rawSize = Get32(data + at + 16);
    uint64_t rawOffset = Get32(data + at + 20);
    if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
      uint64_t offset = rawOffset + (rva - virtualAddress);
      return offset < size ? offset : 0;
    }
  }
  return 0;
}

// One resource directory of the tree at root: where it lies and how many
// entries it has. Returns 1; 0 when the directory does not fit.
typedef struct ResourceDir {
  const uint8_t *data;
  size_t size;
  uint64_t root;     // file offset of the tree
  uint64_t at;       // file offset of this directory
  uint32_t named;    // named entries, listed first
  uint32_t entries;  // named and ID entries
} ResourceDir;

static int ResourceDirOpen(ResourceDir *dir, uint64_t relative) {
  dir->at = dir->root + relative;
  if (!Fits(dir->at, PE_RESOURCE_DIR_SIZE, dir->size)) return 0;
  dir->named = Get16(dir->data + dir->at + 12);
  dir->entries = dir->named + Get16(dir->data + dir->at + 14);
  return 1;
}

// Offset of entry i's first word; 0 when it lies outside the data.
static uint64_t ResourceDirEntry(const ResourceDir *dir, uint32_t i) {
  uint64_t entry = dir->at + PE_RESOURCE_DIR_SIZE + (uint64_t)i * PE_RESOURCE_ENTRY_SIZE;
  return Fits(entry, PE_RESOURCE_ENTRY_SIZE, dir->size) ? entry : 0;
}

// 1 when the named entry at entry spells name (ASCII, any case).
static int ResourceNameIs(const ResourceDir *dir, uint64_t entry, const char *name) {
  uint32_t word = Get32(dir->data + entry);
  if (!(word & PE_RESOURCE_SUBDIR)) return 0;
  uint64_t at = dir->root + (word & ~PE_RESOURCE_SUBDIR);
  size_t length = strlen(name);
  if (!Fits(at, 2, dir->size) || Get16(dir->data + at) != length || !Fits(at + 2, 2 * (uint64_t)length, dir->size))
    return 0;
  for (size_t i = 0; i < length; i++) {
    uint32_t unit = Get16(dir->data + at + 2 + 2 * i);
    if (unit >= 'a' && unit <= 'z') unit -= 'a' - 'A';
    if (unit != (uint8_t)name[i]) return 0;
  }
  return 1;
}

// Reads the type level: the manifest's presence, and a dialog named MAINWIN.
static void InspectResources(ResourceDir *types, PeInfo *info) {
  if (!ResourceDirOpen(types, 0)) return;
  for (uint32_t i = types->named; i < types->entries; i++) {
    uint64_t entry = ResourceDirEntry(types, i);
    if (!entry) return;
    uint32_t id = Get32(types->data + entry), next = Get32(types->data + entry + 4);
    if (id == PE_RT_MANIFEST) info->hasManifest = 1;
    if (id != PE_RT_DIALOG || !(next & PE_RESOURCE_SUBDIR)) continue;
    ResourceDir names = *types;
    if (!ResourceDirOpen(&names, next & ~PE_RESOURCE_SUBDIR)) continue;
    for (uint32_t k = 0; k < names.named; k++) {
      uint64_t name = ResourceDirEntry(&names, k);
      if (!name) break;
      if (ResourceNameIs(&names, name, "MAINWIN")) info->hasMainDialog = 1;
    }
  }
}

int InspectPe(const uint8_t *data, size_t size, PeInfo *info) {
  memset(info, 0, sizeof *info);
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
  uint64_t pe = Get32(data + 0x3C);
  if (!Fits(pe, 24, size) || memcmp(data + pe, "PE\0\0", 4) != 0) return 0;
  info->machine = (uint16_t)Get16(data + pe + 4);
  info->characteristics = (uint16_t)Get16(data + pe + 22);
  uint32_t sectionCount = Get16(data + pe + 6), optionalSize = Get16(data + pe + 20);
  uint64_t optional = pe + 24;
  if (!Fits(optional, 2, size)) return 0;
  uint32_t magic = Get16(data + optional);
  if (magic != 0x10B && magic != 0x20B) return 0;
  uint64_t countAt = optional + (magic == 0x20B ? 108 : 92);
  uint64_t directories = countAt + 4;
  if (!Fits(countAt, 4, size)) return 0;
  info->subsystem = (uint16_t)Get16(data + optional + 68);
  uint32_t directoryCount = Get32(data + countAt);
  uint64_t sections = optional + optionalSize;

  // The certificate entry as the extractor reads it before it trusts an archive.
  uint32_t headLength = size < UINT32_MAX ? (uint32_t)size : UINT32_MAX;
  SignedArchiveParse(data, headLength, &info->certificateOffset, &info->certificateSize);
  if (directoryCount > PE_DIR_RESOURCE && Fits(directories, 8 * (PE_DIR_RESOURCE + 1), size)) {
    uint32_t rva = Get32(data + directories + 8 * PE_DIR_RESOURCE);
    uint64_t root = rva ? RvaToOffset(data, size, sections, sectionCount, rva) : 0;
    ResourceDir types = {data, size, root, 0, 0, 0};
    if (root) InspectResources(&types, info);
  }
  return 1;
}
