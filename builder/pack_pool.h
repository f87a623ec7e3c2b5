// Compression of a folder input ahead of the writer: worker threads, one
// per core, read, deflate and encrypt files in parallel, and the writer
// takes the results in archive order, so the output stays the same bytes
// whatever the number of threads.
//
// Call order:
//   1. PackPoolStart(pool, entries, password)   entries must outlive the pool
//   2. PackPoolTake(pool, i, ...) for i = 0, 1, 2 ... in order
//   3. PackPoolStop(pool)                       also after a failure
//
// Memory: files are taken ahead only while the bytes read but not yet
// written stay below PACK_AHEAD_BYTES; the next file to write is always
// taken, so one file larger than that still goes through.
#ifndef OSTREL_BUILDER_PACK_POOL_H
#define OSTREL_BUILDER_PACK_POOL_H

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "builder/build_input.h"

enum {
  PACK_THREADS_MAX = 8,
  PACK_AHEAD_BYTES = 256 << 20  // read but not yet written, at most (unless one file is larger)
};

typedef struct PackResult {
  int ready;                  // 1 once a worker finished the entry
  int ok;                     // 0: error holds why
  std::vector<uint8_t> data;  // stored bytes (compressed, encrypted when asked)
  std::string error;
} PackResult;

typedef struct PackPool {
  std::vector<SourceEntry> *entries;  // records get method, CRC and sizes when packed
  std::string password;               // Windows-1252; empty: no encryption
  int fast;                           // zlib alone (DeflateBest)
  std::vector<PackResult> results;    // one per entry
  size_t nextToTake;                  // first entry no worker has taken
  size_t nextToWrite;                 // first entry the writer has not taken
  uint64_t bytesAhead;                // file bytes taken but not yet handed to the writer
  int stopping;                       // 1: workers end after their current file
  std::mutex lock;
  std::condition_variable changed;    // any of the above changed
  std::vector<std::thread> workers;
} PackPool;

// Packs one file entry: reads it, deflates it (or stores it), encrypts it
// when password is not empty. Returns 1 with data; 0 with error.
int PackFileEntry(SourceEntry *entry, const std::string &password, int fast, std::vector<uint8_t> *data,
                  std::string *error);

void PackPoolStart(PackPool *pool, std::vector<SourceEntry> *entries, const std::string &password, int fast);
// Waits for entry index (the next in order). Returns 1 with its stored
// bytes in data (folder entries: none); 0 with error.
int PackPoolTake(PackPool *pool, size_t index, std::vector<uint8_t> *data, std::string *error);
void PackPoolStop(PackPool *pool);

#endif
