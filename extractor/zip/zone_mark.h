// Mark of the Web: the zone an SFX file was downloaded from, carried over
// to every file it extracts.
//
// Windows records where a downloaded file came from in its
// "Zone.Identifier" stream, and Explorer copies that stream to the files
// it unpacks from a downloaded ZIP, so that Office's protected view and
// SmartScreen still treat them as coming from the internet. The extractor
// does the same whatever the settings say: when the SFX file's stream
// names zone 3 (internet) or 4 (restricted sites), the same stream is
// written to each extracted file; when it has none, or names a trusted
// zone, nothing is written. A failed write (a file system without
// streams, a path too long for the stream's name) does not fail the entry.
//
// Call order: ZoneMarkLoad(sfxPath) once before the walk, then
// ZoneMarkApply(path) for each file written, before its attributes are
// set (a read-only file refuses a new stream).
#ifndef OSTREL_ZIP_ZONE_MARK_H
#define OSTREL_ZIP_ZONE_MARK_H

#include <stdint.h>

enum {
  ZONE_MARK_MAX = 1024,    // bytes of the stream copied as they are; a longer one is reduced to its zone
  ZONE_INTERNET = 3,
  ZONE_UNTRUSTED = 4
};

typedef struct ZoneMark {
  int32_t length;             // bytes of text to write; 0: nothing to copy
  char text[ZONE_MARK_MAX];   // the stream as written to each file
} ZoneMark;

extern ZoneMark zoneMark;

extern const char kZoneStream[];  // "Zone.Identifier"

// Returns the zone named by stream text (length bytes): the value of the
// first "ZoneId=" line of its "[ZoneTransfer]" section; -1 when none.
//
// Format notes: an INI text, "[ZoneTransfer]\r\nZoneId=3\r\n" followed by
// optional ReferrerUrl and HostUrl lines; key and section compare without
// regard to case, lines may end in "\n" alone, blanks around "=" count for
// nothing.
int ZoneMarkParse(const char *text, int32_t length);

// Reads the stream of the SFX file at path into zoneMark (emptied first).
void ZoneMarkLoad(const char *path);
// Writes zoneMark's stream to path when there is one; failures are ignored.
void ZoneMarkApply(const char *path);

#endif
