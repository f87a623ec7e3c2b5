// The buffer logic of the file layers' read-ahead.
#include "extractor/zip/read_ahead.h"

#include <string.h>

void ReadAheadReset(ReadAhead *r) {
  r->position = 0;
  r->bufferStart = 0;
  r->bufferBytes = 0;
}

int32_t ReadAheadRead(ReadAhead *r, uint8_t *to, int32_t count, ReadAheadFetch fetch, void *handle) {
  int32_t done = 0;
  while (done < count) {
    int64_t offset = r->position - r->bufferStart;
    if (offset >= 0 && offset < r->bufferBytes) {
      int32_t n = r->bufferBytes - (int32_t)offset;
      if (n > count - done) n = count - done;
      memcpy(to + done, r->data + offset, (size_t)n);
      done += n;
      r->position += n;
      continue;
    }
    if (count - done >= READ_AHEAD) {
      int32_t got = fetch(handle, to + done, count - done, r->position);
      if (got < 0) return -1;
      done += got;
      r->position += got;
      break;
    }
    int32_t got = fetch(handle, r->data, READ_AHEAD, r->position);
    if (got < 0) return -1;
    r->bufferStart = r->position;
    r->bufferBytes = got;
    if (got == 0) break;  // end of file
  }
  return done;
}
