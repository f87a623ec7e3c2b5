// The few C library functions that the extractor's code and the compiler
// itself call, for an image linked without the C runtime: the extractor may
// import only from the platform DLLs (KERNEL32, USER32, GDI32, SHELL32,
// COMDLG32), and a C runtime would about double the packed stage.
//
// Built with -fno-tree-loop-distribute-patterns: otherwise the compiler
// turns these byte loops back into calls of themselves.
#include <windows.h>

#include <stdarg.h>
#include <stddef.h>

extern "C" {

void *memset(void *destination, int value, size_t count) {
  unsigned char *d = (unsigned char *)destination;
  while (count--) *d++ = (unsigned char)value;
  return destination;
}

void *memcpy(void *destination, const void *source, size_t count) {
  unsigned char *d = (unsigned char *)destination;
  const unsigned char *s = (const unsigned char *)source;
  while (count--) *d++ = *s++;
  return destination;
}

void *memmove(void *destination, const void *source, size_t count) {
  unsigned char *d = (unsigned char *)destination;
  const unsigned char *s = (const unsigned char *)source;
  if (d < s) {
    while (count--) *d++ = *s++;
  } else {
    while (count--) d[count] = s[count];
  }
  return destination;
}

int memcmp(const void *left, const void *right, size_t count) {
  const unsigned char *a = (const unsigned char *)left, *b = (const unsigned char *)right;
  for (; count; count--, a++, b++)
    if (*a != *b) return *a - *b;
  return 0;
}

size_t strlen(const char *text) {
  const char *end = text;
  while (*end) end++;
  return (size_t)(end - text);
}

char *strcpy(char *destination, const char *source) {
  char *d = destination;
  while ((*d++ = *source++) != 0) {}
  return destination;
}

char *strncpy(char *destination, const char *source, size_t count) {
  size_t i = 0;
  for (; i < count && source[i]; i++) destination[i] = source[i];
  for (; i < count; i++) destination[i] = 0;
  return destination;
}

int strncmp(const char *left, const char *right, size_t count) {
  for (; count; count--, left++, right++) {
    if (*left != *right) return (unsigned char)*left - (unsigned char)*right;
    if (!*left) return 0;
  }
  return 0;
}

int strcmp(const char *left, const char *right) {
  return strncmp(left, right, (size_t)-1);
}

char *strchr(const char *text, int c) {
  for (;; text++) {
    if (*text == (char)c) return (char *)text;
    if (!*text) return nullptr;
  }
}

char *strrchr(const char *text, int c) {
  const char *found = nullptr;
  for (;; text++) {
    if (*text == (char)c) found = text;
    if (!*text) return (char *)found;
  }
}

int toupper(int c) {
  return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

// snprintf of the core, through USER32's wvsprintfA. That formatter knows
// %s, %c, %d, %u, %x, %lu and widths, which is all the core uses, and writes
// at most 1024 characters; the result is cut to the caller's buffer.
int __mingw_vsnprintf(char *buffer, size_t size, const char *format, va_list arguments) {
  char whole[1025];
  int length = wvsprintfA(whole, format, arguments);
  if (length < 0) length = 0;
  if (size) {
    size_t copied = (size_t)length < size - 1 ? (size_t)length : size - 1;
    memcpy(buffer, whole, copied);
    buffer[copied] = 0;
  }
  return length;
}

}  // extern "C"
