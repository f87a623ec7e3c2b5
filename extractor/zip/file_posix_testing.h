// Test hooks of the POSIX file layer (file_posix.cpp). Not part of the
// product: the Windows layer has no counterpart, and nothing in the
// extractor calls these.
#ifndef OSTREL_ZIP_FILE_POSIX_TESTING_H
#define OSTREL_ZIP_FILE_POSIX_TESTING_H

#include <stdint.h>

// Simulates a disk that fills up: from this call on, FileWrite stores at
// most limit bytes in total (over all handles); the write that crosses the
// limit stores what still fits and returns that short count, later writes
// return 0. A negative limit removes the restriction (the default).
void FileSetWriteLimit(int64_t limit);

#endif
