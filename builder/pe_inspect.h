// What the builder needs to know about a Windows program (PE image): its
// machine, whether it carries an application manifest, and where an
// Authenticode certificate table sits.
#ifndef OSTREL_BUILDER_PE_INSPECT_H
#define OSTREL_BUILDER_PE_INSPECT_H

#include <stddef.h>
#include <stdint.h>

enum {
  PE_MACHINE_I386 = 0x014C,
  PE_MACHINE_AMD64 = 0x8664,
  PE_RT_MANIFEST = 24  // resource type of an application manifest
};

typedef struct PeInfo {
  uint16_t machine;           // PE_MACHINE_*
  int hasManifest;            // a resource of type 24 exists
  uint32_t certificateOffset; // file offset of the certificate table, 0 when unsigned
  uint32_t certificateSize;   // its length in bytes
} PeInfo;

// Reads the headers of the image in data (the stub: its first 8192 bytes
// are enough; the certificate entry of a signed SFX file refers to the
// whole file). Returns 1 with info filled; 0 when data is no PE image.
int InspectPe(const uint8_t *data, size_t size, PeInfo *info);

const char *MachineName(uint16_t machine);  // "i386 (win32)", "x86-64 (win64)", "unknown"

#endif
