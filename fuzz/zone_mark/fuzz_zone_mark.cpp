// Fuzz target: the Mark-of-the-Web stream of the SFX file, read and
// carried over to an extracted file. The input is the stream's content; it
// is stored on a file of the in-memory layer, loaded with ZoneMarkLoad and
// applied to a second file, as an extraction does.
//
// Checks beyond the sanitizers: a mark is carried over only for zone 3 or
// 4; a stream shorter than the buffer is carried over byte for byte, a
// longer one as the bare zone line; a stream the parser reads no such zone
// from leaves the second file without one.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "extractor/zip/file_io.h"
#include "extractor/zip/file_memory_testing.h"
#include "extractor/zip/zone_mark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > 4 * ZONE_MARK_MAX) return 0;  // longer streams read like their first ZONE_MARK_MAX bytes
  MemoryFilesReset();
  static const uint8_t kContent[] = "sfx";
  if (!MemoryFilesPut("C:\\sfx.exe", kContent, 3) || !MemoryFilesPut("C:\\out.txt", kContent, 3)) abort();
  if (size > 0 && FileWriteStream("C:\\sfx.exe", kZoneStream, data, (int32_t)size) != 0) abort();
  ZoneMarkLoad("C:\\sfx.exe");
  ZoneMarkApply("C:\\out.txt");

  char copied[ZONE_MARK_MAX];
  int32_t got = FileReadStream("C:\\out.txt", kZoneStream, copied, (int32_t)sizeof copied);
  size_t read = size < (size_t)ZONE_MARK_MAX ? size : (size_t)ZONE_MARK_MAX;
  int zone = ZoneMarkParse((const char *)data, (int32_t)read);
  int carried = zone == ZONE_INTERNET || zone == ZONE_UNTRUSTED;
  if (!carried) {
    if (zoneMark.length != 0 || got > 0) abort();
    return 0;
  }
  if (got != zoneMark.length || memcmp(copied, zoneMark.text, (size_t)got) != 0) abort();
  if (size < ZONE_MARK_MAX) {
    if ((size_t)got != size || memcmp(copied, data, size) != 0) abort();
  } else if (ZoneMarkParse(copied, got) != zone || (size_t)got >= ZONE_MARK_MAX) {
    abort();
  }
  return 0;
}
