// What the builder needs to know about a Windows program (PE image): its
// machine and kind, whether it carries an application manifest or the
// extractor's main dialog, and where an Authenticode certificate table sits.
#ifndef OSTREL_BUILDER_PE_INSPECT_H
#define OSTREL_BUILDER_PE_INSPECT_H

#include <stddef.h>
#include <stdint.h>

enum {
  PE_MACHINE_I386 = 0x014C,
  PE_MACHINE_AMD64 = 0x8664,
  PE_FILE_EXECUTABLE = 0x0002,  // COFF characteristics: an image that can be started
  PE_FILE_DLL = 0x2000,         // a DLL, which CreateProcess refuses
  PE_SUBSYSTEM_GUI = 2,         // Windows GUI: starts without a console window
  PE_RT_DIALOG = 5,             // resource type of a dialog template
  PE_RT_MANIFEST = 24           // resource type of an application manifest
};

typedef struct PeInfo {
  uint16_t machine;           // PE_MACHINE_*
  uint16_t characteristics;   // COFF header flags: PE_FILE_*
  uint16_t subsystem;         // optional header: PE_SUBSYSTEM_GUI, 3 console, ...
  int hasManifest;            // a resource of type 24 exists
  int hasMainDialog;          // a dialog resource named MAINWIN exists: the
                              // extractor's main window, which it cannot run without
  uint32_t certificateOffset; // file offset of the certificate table, 0 when unsigned
  uint32_t certificateSize;   // its length in bytes
} PeInfo;

// Reads the headers of the image in data (the stub: its first 8192 bytes
// are enough; the certificate entry of a signed SFX file refers to the
// whole file). Every offset the image gives is checked against size
// before it is used, in 64-bit sums, so that offsets near 2^32 cannot wrap
// a 32-bit size_t into the buffer's front.
// Returns 1 with info filled; 0 when data is no PE image.
int InspectPe(const uint8_t *data, size_t size, PeInfo *info);

const char *MachineName(uint16_t machine);  // "i386 (win32)", "x86-64 (win64)", "unknown"

#endif
