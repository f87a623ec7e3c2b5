// PE headers, read with every offset checked against the bytes given.
//
// Format notes (Microsoft PE/COFF specification):
// - The DOS header's e_lfanew (offset 0x3C) points to "PE\0\0", followed
//   by the 20-byte COFF header (machine first) and the optional header,
//   whose magic 0x10B (PE32) or 0x20B (PE32+) decides where the data
//   directories begin (96 or 112 bytes into it).
// - Directory 2 is the resource tree (an RVA, mapped to the file through
//   the section table); directory 4 is the certificate table, the one
//   entry that holds a file offset rather than an RVA.
// - The resource tree's root lists named entries first, then ID entries;
//   an ID entry 24 is the manifest type.
#include "builder/pe_inspect.h"

#include <string.h>

enum {
  PE_DIR_RESOURCE = 2,
  PE_DIR_CERTIFICATE = 4,
  PE_SECTION_SIZE = 40,
  PE_RESOURCE_DIR_SIZE = 16,
  PE_RESOURCE_ENTRY_SIZE = 8
};

static uint32_t Get16(const uint8_t *p) { return (uint32_t)(p[0] | (p[1] << 8)); }
static uint32_t Get32(const uint8_t *p) { return Get16(p) | (Get16(p + 2) << 16); }

const char *MachineName(uint16_t machine) {
  if (machine == PE_MACHINE_I386) return "i386 (win32)";
  if (machine == PE_MACHINE_AMD64) return "x86-64 (win64)";
  return "unknown";
}

// File offset of rva through the section table; 0 when no section maps it.
static uint32_t RvaToOffset(const uint8_t *data, size_t size, uint32_t sections, uint32_t count,
                            uint32_t rva) {
  for (uint32_t i = 0; i < count; i++) {
    size_t at = sections + (size_t)i * PE_SECTION_SIZE;
    if (at + PE_SECTION_SIZE > size) return 0;
    uint32_t virtualAddress = Get32(data + at + 12), rawSize = Get32(data + at + 16);
    uint32_t rawOffset = Get32(data + at + 20);
    if (rva >= virtualAddress && rva - virtualAddress < rawSize) return rawOffset + (rva - virtualAddress);
  }
  return 0;
}

int InspectPe(const uint8_t *data, size_t size, PeInfo *info) {
  memset(info, 0, sizeof *info);
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
  uint32_t pe = Get32(data + 0x3C);
  if ((size_t)pe + 24 > size || memcmp(data + pe, "PE\0\0", 4) != 0) return 0;
  info->machine = (uint16_t)Get16(data + pe + 4);
  uint32_t sectionCount = Get16(data + pe + 6), optionalSize = Get16(data + pe + 20);
  uint32_t optional = pe + 24;
  if ((size_t)optional + 2 > size) return 0;
  uint32_t magic = Get16(data + optional);
  uint32_t countAt = optional + (magic == 0x20B ? 108 : 92);
  uint32_t directories = countAt + 4;
  if (magic != 0x10B && magic != 0x20B) return 0;
  if ((size_t)directories > size) return 0;
  uint32_t directoryCount = Get32(data + countAt);
  uint32_t sections = optional + optionalSize;

  if (directoryCount > PE_DIR_CERTIFICATE && (size_t)directories + 8 * (PE_DIR_CERTIFICATE + 1) <= size) {
    info->certificateOffset = Get32(data + directories + 8 * PE_DIR_CERTIFICATE);
    info->certificateSize = Get32(data + directories + 8 * PE_DIR_CERTIFICATE + 4);
  }
  if (directoryCount > PE_DIR_RESOURCE && (size_t)directories + 8 * (PE_DIR_RESOURCE + 1) <= size) {
    uint32_t rva = Get32(data + directories + 8 * PE_DIR_RESOURCE);
    uint32_t root = rva ? RvaToOffset(data, size, sections, sectionCount, rva) : 0;
    if (root && (size_t)root + PE_RESOURCE_DIR_SIZE <= size) {
      uint32_t named = Get16(data + root + 12), ids = Get16(data + root + 14);
      for (uint32_t i = 0; i < named + ids; i++) {
        size_t entry = root + PE_RESOURCE_DIR_SIZE + (size_t)i * PE_RESOURCE_ENTRY_SIZE;
        if (entry + PE_RESOURCE_ENTRY_SIZE > size) break;
        uint32_t id = Get32(data + entry);
        if (i >= named && id == PE_RT_MANIFEST) info->hasManifest = 1;
      }
    }
  }
  return 1;
}
