// The read-ahead both file layers give handles opened for reading. The
// archive is read in small records (a 46-byte central record, its name, a
// 30-byte local header, an entry's few hundred bytes of data), each after a
// seek: unbuffered, that is two system calls per record where the data
// need one per 64 KiB. A buffered handle keeps its file position here;
// seeking only computes, and reading fills the buffer through the layer's
// own positioned read (pread, or SetFilePointer and ReadFile).
//
// Files read this way are not written while open (the archive, tests' data
// files), so the buffer never goes stale. Portable: no system header, the
// copy is memcpy (the extractor's own in the Windows build).
#ifndef OSTREL_ZIP_READ_AHEAD_H
#define OSTREL_ZIP_READ_AHEAD_H

#include <stdint.h>

enum {
  READ_AHEAD = 65536,    // bytes per fill; reads this large bypass the buffer
  READ_AHEAD_SLOTS = 4   // buffered read handles per layer; more read unbuffered
};

// Reads up to count bytes at file offset at into to; a disk file gives all
// of them unless it ends first. Returns the count read, or -1.
typedef int32_t (*ReadAheadFetch)(void *handle, uint8_t *to, int32_t count, int64_t at);

typedef struct ReadAhead {
  int64_t position;      // the handle's file position as the layer's callers see it
  int64_t bufferStart;   // file offset of data[0]
  int32_t bufferBytes;   // valid bytes in data, 0..READ_AHEAD
  uint8_t data[READ_AHEAD];
} ReadAhead;

// Empties the buffer and sets the position to the start of the file.
void ReadAheadReset(ReadAhead *r);

// Copies count bytes from r->position on into to, from the buffer where it
// holds them, else through fetch (into the buffer, or straight into to for
// READ_AHEAD bytes or more); advances the position. Returns the bytes read
// (fewer at the end of the file), or -1 when fetch failed.
int32_t ReadAheadRead(ReadAhead *r, uint8_t *to, int32_t count, ReadAheadFetch fetch, void *handle);

#endif
