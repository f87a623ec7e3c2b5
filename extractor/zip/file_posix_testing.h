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

// A ceiling for tests that decode untrusted data: once FileWrite has been
// asked for more than ceiling bytes in total since this call (stored or
// not), the process stops with a message (abort), so a decoder that runs
// away fails in seconds instead of filling the disk or spinning. Unlike
// the write limit it is not a condition under test. A negative ceiling
// removes it (the default).
void FileSetWriteCeiling(int64_t ceiling);

// The ceiling that test helpers set around every run of untrusted data:
// far above any test's real output.
enum { TEST_WRITE_CEILING = 256 << 20 };

#endif
