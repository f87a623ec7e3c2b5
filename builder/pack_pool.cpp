// Worker threads over the entries of a folder input.
#include "builder/pack_pool.h"

#include "builder/build_checks.h"
#include "builder/embedded.h"
#include "builder/entry_encode.h"

int PackFileEntry(SourceEntry *entry, const std::string &password, int fast, std::vector<uint8_t> *data,
                  std::string *error) {
  ZipEntryRecord &r = entry->record;
  std::vector<uint8_t> content;
  if (!ReadFileBytes(entry->path, &content, error)) return 0;
  if (content.size() > ENTRY_SIZE_LIMIT) return (*error = entry->path + ": grew to 2 GiB or more while building", 0);
  // libdeflate compresses whole buffers only: for a large file it would
  // hold a third copy, so zlib alone packs those.
  int zlibOnly = fast || content.size() > (size_t)PACK_AHEAD_BYTES;
  if (!DeflateBest(content.data(), content.size(), zlibOnly, &r, data)) return (*error = entry->path + ": out of memory", 0);
  r.versionNeeded = r.method == ZIP_METHOD_DEFLATE ? ZIP_VERSION_DEFLATE : ZIP_VERSION_STORED;
  if (!password.empty() && !EncryptEntry(password, &r, data))
    return (*error = "no random bytes for the encryption header", 0);
  return 1;
}

static void Work(PackPool *pool) {
  std::unique_lock<std::mutex> hold(pool->lock);
  for (;;) {
    size_t index = pool->nextToTake;
    if (pool->stopping || index >= pool->entries->size()) return;
    SourceEntry &entry = (*pool->entries)[index];
    uint64_t size = entry.isFolder ? 0 : entry.fileSize;
    if (index != pool->nextToWrite && pool->bytesAhead + size > (uint64_t)PACK_AHEAD_BYTES) {
      pool->changed.wait(hold);
      continue;
    }
    pool->nextToTake++;
    pool->bytesAhead += size;
    PackResult &result = pool->results[index];
    hold.unlock();
    // Each worker writes only its own entry and result; the lock guards the counters.
    result.ok = entry.isFolder ? 1 : PackFileEntry(&entry, pool->password, pool->fast, &result.data, &result.error);
    hold.lock();
    result.ready = 1;
    pool->changed.notify_all();
  }
}

void PackPoolStart(PackPool *pool, std::vector<SourceEntry> *entries, const std::string &password, int fast) {
  pool->entries = entries;
  pool->password = password;
  pool->fast = fast;
  pool->results.assign(entries->size(), PackResult());
  for (PackResult &result : pool->results) result.ready = 0, result.ok = 0;
  pool->nextToTake = pool->nextToWrite = 0;
  pool->bytesAhead = 0;
  pool->stopping = 0;
  unsigned threads = std::thread::hardware_concurrency();
  if (threads < 1) threads = 1;
  if (threads > PACK_THREADS_MAX) threads = PACK_THREADS_MAX;
  for (unsigned i = 0; i < threads; i++) pool->workers.emplace_back(Work, pool);
}

int PackPoolTake(PackPool *pool, size_t index, std::vector<uint8_t> *data, std::string *error) {
  std::unique_lock<std::mutex> hold(pool->lock);
  PackResult &result = pool->results[index];
  while (!result.ready) pool->changed.wait(hold);
  data->swap(result.data);
  std::vector<uint8_t>().swap(result.data);
  *error = result.error;
  SourceEntry &entry = (*pool->entries)[index];
  pool->bytesAhead -= entry.isFolder ? 0 : entry.fileSize;
  pool->nextToWrite = index + 1;
  pool->changed.notify_all();
  return result.ok;
}

void PackPoolStop(PackPool *pool) {
  {
    std::lock_guard<std::mutex> hold(pool->lock);
    pool->stopping = 1;
    pool->changed.notify_all();
  }
  for (std::thread &worker : pool->workers) worker.join();
  pool->workers.clear();
}
