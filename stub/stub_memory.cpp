// Memory for a program without a C runtime: the decoder's model arrays come
// from GlobalAlloc, and the three block functions below stand in for the C
// library's, because GCC emits calls to them for structure copies and
// zeroing (and for loops it recognises as such) even under -ffreestanding.
//
// Trap: this file is compiled with -fno-tree-loop-distribute-patterns (see
// CMakeLists.txt); without it GCC turns the byte loops below back into calls
// to memset and memcpy, that is into endless recursion.
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "packed/stage_decoder.h"

void *StageAlloc(uint32_t size) {
  return (void *)GlobalAlloc(GMEM_FIXED, size);
}

void StageFree(void *block) {
  if (block) GlobalFree((HGLOBAL)block);
}

extern "C" {

void *memset(void *target, int value, size_t count) {
  unsigned char *to = (unsigned char *)target;
  while (count--) *to++ = (unsigned char)value;
  return target;
}

void *memcpy(void *target, const void *source, size_t count) {
  unsigned char *to = (unsigned char *)target;
  const unsigned char *from = (const unsigned char *)source;
  while (count--) *to++ = *from++;
  return target;
}

// Overlapping moves: the models shift blocks of nodes by one place.
void *memmove(void *target, const void *source, size_t count) {
  unsigned char *to = (unsigned char *)target;
  const unsigned char *from = (const unsigned char *)source;
  if (to < from) {
    while (count--) *to++ = *from++;
  } else if (to > from) {
    while (count--) to[count] = from[count];
  }
  return target;
}

}  // extern "C"
