// Where the archive of a signed SFX file must end.
//
// An Authenticode signature lies in the certificate table at the end of the
// file, and the signed hash leaves that table out: whatever is put into the
// table (and Windows accepts extra bytes there unless an opt-in registry key
// is set) keeps the signature valid. A ZIP placed in the table would be the
// archive nearest the end of the file, so a reader that takes the last end
// record would unpack it instead of the publisher's archive. When the image
// at the head of the file carries a certificate table, the archive must
// therefore end exactly where the builder's signing step makes it end:
//
//   [stub][stage][ZIP ... end record (22 bytes)][padding][certificate table]
//                          |<-- comment length -------------------------->|
//
// the end record lies wholly in front of the table (in the signed bytes),
// and its comment length covers the padding and the table up to the end of
// the file. Anything else means the table carries bytes it was not made
// with, and the archive counts as damaged.
//
// Call order (the reader does this in FindEndRecord):
//   1. SignedArchiveLimit: the offset the end-record search must stay before
//   2. SignedArchiveCheckEnd with the end record found there
// A file that is no PE image, or an image without a certificate table
// (unsigned SFX files, plain ZIP files), gives the file size and passes.
#ifndef OSTREL_ZIP_SIGNED_ARCHIVE_H
#define OSTREL_ZIP_SIGNED_ARCHIVE_H

#include <stdint.h>

#include "extractor/zip/file_io.h"

enum {
  SIGNED_HEAD_READ = 1024  // bytes read from the start of the file for the PE headers
};

// The certificate table of the file last examined, and why it was refused.
typedef struct SignedArchive {
  uint32_t tableOffset;  // file offset of the certificate table; 0 when the image is not signed
  uint32_t tableSize;    // its length in bytes, from the PE header's certificate entry
  const char *problem;   // English reason for a refusal (for the native tool); null when none
} SignedArchive;

extern SignedArchive signedArchive;

// head (length bytes from the start of a file) -> the certificate entry
// of its PE headers. Returns 1 with *offset and *size (both 0 when the
// image has no certificate table); 0 when head is no PE image or its
// headers do not lie within head.
//
// Format notes: e_lfanew (offset 0x3C) points to "PE\0\0", the 20-byte COFF
// header and the optional header; its magic (0x10B PE32, 0x20B PE32+)
// decides where the count of data directories (at +92 or +108) and the
// directories themselves (+96 or +112, 8 bytes each) lie. Directory 4, the
// certificate table, holds a file offset and a size, not an RVA.
int SignedArchiveParse(const uint8_t *head, uint32_t length, uint32_t *offset, uint32_t *size);

// Reads the head of file (fileSize bytes long) and fills signedArchive.
// Returns the offset the archive must end at or before: fileSize for a
// file without a certificate table, else the table's offset; -1 when the
// read fails (problem stays null) or the table does not end exactly at the
// end of the file (problem set).
int32_t SignedArchiveLimit(FileHandle file, int32_t fileSize);

// Returns 1 when the end record starting at endRecordAt with commentLength
// fits the file examined last: always without a certificate table; with
// one, the record lies in front of the table and its comment reaches the
// table's end. 0 with signedArchive.problem set otherwise.
int SignedArchiveCheckEnd(uint32_t endRecordAt, uint16_t commentLength);

#endif
