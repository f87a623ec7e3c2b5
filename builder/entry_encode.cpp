// Deflate through zlib and libdeflate, and the traditional cipher's writer side.
#include "builder/entry_encode.h"

#include <errno.h>
#include <libdeflate.h>
#include <sys/random.h>
#include <zlib.h>

// The default level. On the build benchmark's 2,000 files (24 MB) libdeflate
// takes 1.2 s of CPU for 10.667 MB of Deflate data at level 9 (lazy
// matching), 2.4 s for 10.612 MB at level 10 and 5.6 s for 10.603 MB at
// level 12 (near-optimal parsing, more passes the higher the level); zlib
// level 9 takes 1.1 s for 10.956 MB. Spread over two cores, level 9 builds
// in about 0.6 of the time zip -9 takes on one; level 10 would take as long
// as zip -9 for 0.5% fewer bytes (5% on prose, where the gain is largest).
// Taking the smaller of zlib's and libdeflate's streams, as an earlier
// default did, saved 20 bytes there for the whole of zlib's time.
enum {
  ZLIB_BEST = 9,
  ZLIB_RAW_WINDOW = -15,  // negative: raw Deflate, no zlib wrapper
  ZLIB_MEMLEVEL = 9,
  LIBDEFLATE_LEVEL = 9
};

// One compressor of each kind per thread, made once: setting them up
// costs more than compressing a small file (libdeflate's near-optimal
// state is several megabytes).
typedef struct Compressors {
  z_stream zlib;                              // raw Deflate, level 9
  int zlibReady;                              // deflateInit2 succeeded
  struct libdeflate_compressor *libdeflate;   // LIBDEFLATE_LEVEL, null until made
  ~Compressors() {
    if (zlibReady) deflateEnd(&zlib);
    if (libdeflate) libdeflate_free_compressor(libdeflate);
  }
} Compressors;

static thread_local Compressors compressors = {};

static int DeflateZlib(const uint8_t *data, size_t size, std::vector<uint8_t> *out) {
  z_stream *stream = &compressors.zlib;
  if (!compressors.zlibReady) {
    if (deflateInit2(stream, ZLIB_BEST, Z_DEFLATED, ZLIB_RAW_WINDOW, ZLIB_MEMLEVEL, Z_DEFAULT_STRATEGY) != Z_OK)
      return 0;
    compressors.zlibReady = 1;
  } else if (deflateReset(stream) != Z_OK) {
    return 0;
  }
  out->resize(deflateBound(stream, (uLong)size));
  stream->next_in = (Bytef *)data;
  stream->avail_in = (uInt)size;
  stream->next_out = out->data();
  stream->avail_out = (uInt)out->size();
  int status = deflate(stream, Z_FINISH);
  out->resize(stream->total_out);
  return status == Z_STREAM_END;
}

static int DeflateLibdeflate(const uint8_t *data, size_t size, std::vector<uint8_t> *out) {
  if (!compressors.libdeflate) compressors.libdeflate = libdeflate_alloc_compressor(LIBDEFLATE_LEVEL);
  struct libdeflate_compressor *compressor = compressors.libdeflate;
  if (!compressor) return 0;
  out->resize(libdeflate_deflate_compress_bound(compressor, size));
  size_t got = libdeflate_deflate_compress(compressor, data, size, out->data(), out->size());
  out->resize(got);
  return got != 0;
}

int DeflateBest(const uint8_t *data, size_t size, int fast, ZipEntryRecord *record, std::vector<uint8_t> *out) {
  record->crc32 = (uint32_t)crc32_z(crc32_z(0, nullptr, 0), data, size);
  record->uncompressedSize = (uint32_t)size;
  out->clear();
  if (size > 0 && !(fast ? DeflateZlib(data, size, out) : DeflateLibdeflate(data, size, out))) return 0;
  if (size == 0 || out->size() >= size) {
    out->assign(data, data + size);
    record->method = ZIP_METHOD_STORED;
  } else {
    record->method = ZIP_METHOD_DEFLATE;
  }
  record->compressedSize = (uint32_t)out->size();
  return 1;
}

int RandomBytes(uint8_t *buffer, size_t size) {
  while (size > 0) {
    ssize_t got = getrandom(buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;
    buffer += got;
    size -= (size_t)got;
  }
  return 1;
}

// The cipher's three keys (APPNOTE 6.1.5), updated with each plain byte.
typedef struct CipherKeys {
  uint32_t key[3];
} CipherKeys;

static void UpdateKeys(CipherKeys *keys, uint8_t plain) {
  const z_crc_t *table = get_crc_table();
  keys->key[0] = table[(keys->key[0] ^ plain) & 0xFF] ^ (keys->key[0] >> 8);
  keys->key[1] = (keys->key[1] + (keys->key[0] & 0xFF)) * 134775813u + 1;
  keys->key[2] = table[(keys->key[2] ^ (keys->key[1] >> 24)) & 0xFF] ^ (keys->key[2] >> 8);
}

static uint8_t EncryptByte(CipherKeys *keys, uint8_t plain) {
  // Unsigned 32-bit product: two 16-bit values multiplied as int can overflow.
  uint32_t temp = (keys->key[2] | 2) & 0xFFFF;
  uint8_t cipher = (uint8_t)(plain ^ (uint8_t)((temp * (temp ^ 1)) >> 8));
  UpdateKeys(keys, plain);
  return cipher;
}

int EncryptEntry(const std::string &password, ZipEntryRecord *record, std::vector<uint8_t> *data) {
  uint8_t header[ZIP_CRYPT_HEADER_SIZE];
  if (!RandomBytes(header, ZIP_CRYPT_HEADER_SIZE - 1)) return 0;
  header[ZIP_CRYPT_HEADER_SIZE - 1] = (uint8_t)(record->crc32 >> 24);
  CipherKeys keys = {{0x12345678u, 0x23456789u, 0x34567890u}};
  for (unsigned char c : password) UpdateKeys(&keys, c);
  data->insert(data->begin(), header, header + sizeof header);
  for (uint8_t &byte : *data) byte = EncryptByte(&keys, byte);
  record->flags |= ZIP_FLAG_ENCRYPTED;
  record->compressedSize += ZIP_CRYPT_HEADER_SIZE;
  if (record->versionNeeded < ZIP_VERSION_DEFLATE) record->versionNeeded = ZIP_VERSION_DEFLATE;
  return 1;
}
