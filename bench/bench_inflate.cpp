// Deflate decoding speed: our decoder through the extraction path (data
// file read in 8 KiB chunks by the input reader, 32 KiB window flushed
// through the sink with CRC-32 and FileWrite to /dev/null) beside zlib's
// inflate doing the same work with the same system calls (the same file
// read in 8 KiB chunks, 32 KiB output chunks, crc32, write to /dev/null),
// on the same raw Deflate streams (zlib level 6) in one run. Equal I/O
// matters here: a system call costs microseconds on a virtual machine.
// Prints MB/s of output for both and their ratio per input and overall;
// the last line is "inflate ours/zlib: R".
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"

typedef std::vector<uint8_t> Bytes;

static double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

static Bytes Deflate(const Bytes &data, int level) {
  z_stream z;
  memset(&z, 0, sizeof z);
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

static uint32_t xorshift = 2463534242u;
static uint32_t Next() {
  xorshift ^= xorshift << 13;
  xorshift ^= xorshift >> 17;
  xorshift ^= xorshift << 5;
  return xorshift;
}

// The project's own sources, concatenated and repeated: real program text.
static Bytes SourceText(size_t size) {
  Bytes all;
  const char *folders[] = {"/extractor/zip", "/extractor/decoders", "/packed", "/builder", "/tests/decoders"};
  for (const char *folder : folders) {
    std::string dir = std::string(OSTREL_SOURCE_DIR) + folder;
    DIR *d = opendir(dir.c_str());
    if (!d) continue;
    while (struct dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() < 3 || (name.substr(name.size() - 2) != ".h" && name.substr(name.size() - 4) != ".cpp")) continue;
      FILE *f = fopen((dir + "/" + name).c_str(), "rb");
      if (!f) continue;
      int c;
      while ((c = fgetc(f)) != EOF) all.push_back((uint8_t)c);
      fclose(f);
    }
    closedir(d);
  }
  Bytes out;
  while (!all.empty() && out.size() < size) out.insert(out.end(), all.begin(), all.end());
  out.resize(size);
  return out;
}

static Bytes MakeInput(const std::string &kind, size_t size) {
  Bytes data(size);
  static const char *const words[] = {"Datei ", "Archiv ", "entpacken ", "der ", "die ", "das ", "und ",
                                      "Ordner\r\n", "ist ", "nicht ", "ZIP ", "Eintrag ", "Fenster "};
  size_t i = 0;
  if (kind == "text") {
    while (i < size)
      for (const char *w = words[Next() % 13]; *w && i < size; w++) data[i++] = (uint8_t)*w;
  } else if (kind == "binary") {
    for (; i < size; i++) data[i] = (uint8_t)((i % 16 < 4) ? (i / 64) : (i % 16 < 8) ? Next() % 8 : 0x40 + i % 7);
  } else if (kind == "runs") {
    while (i < size) {
      uint8_t v = (uint8_t)Next();
      for (size_t k = 1 + Next() % 300; k > 0 && i < size; k--) data[i++] = v;
    }
  } else if (kind == "random") {
    for (; i < size; i++) data[i] = (uint8_t)Next();
  } else if (kind == "source") {
    data = SourceText(size);
  }
  return data;
}

// One decode with our decoder; returns the CRC.
static uint32_t DecodeOurs(const char *path, int32_t packedSize, int32_t plainSize, FileHandle sink) {
  extraction.dataFile = FileOpen(path, "rb");
  extraction.outputFile = sink;
  extraction.errorCode = 0;
  extraction.encrypted = 0;
  transfer.crc = 0xFFFFFFFFu;
  transfer.inputLeft = packedSize;
  transfer.bytesDone = 0;
  transfer.bytesTotal = plainSize;
  ResetEntryInput();
  int r = DecodeDeflateEntry();
  ReleaseFixedTables();
  FileClose(extraction.dataFile);
  if (r != 0 || extraction.errorCode != 0) {
    fprintf(stderr, "our decoder failed: result %d, code %d\n", r, extraction.errorCode);
    exit(1);
  }
  return ~transfer.crc;
}

static uint32_t DecodeZlib(const char *path, int sinkFd) {
  int in = open(path, O_RDONLY);
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  static uint8_t input[8192], chunk[32768];
  uint32_t crc = 0;
  int r = Z_OK;
  while (r == Z_OK) {
    if (z.avail_in == 0) {
      ssize_t got = read(in, input, sizeof input);
      if (got <= 0) break;
      z.next_in = input;
      z.avail_in = (uInt)got;
    }
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    r = inflate(&z, Z_NO_FLUSH);
    size_t n = sizeof chunk - z.avail_out;
    crc = (uint32_t)crc32(crc, chunk, (uInt)n);
    if (n > 0 && write(sinkFd, chunk, n) != (ssize_t)n) exit(1);
  }
  inflateEnd(&z);
  close(in);
  if (r != Z_STREAM_END) {
    fprintf(stderr, "zlib failed: %d\n", r);
    exit(1);
  }
  return crc;
}

// Seconds per decode, ours and zlib's: rounds alternate between the two
// (so a change in the machine's load hits both alike), each round repeats
// one decoder for at least 0.1 s, and the best round of each counts.
template <typename F, typename G>
static void SecondsPerRun(F ours, G zlib, double *oursSeconds, double *zlibSeconds) {
  *oursSeconds = *zlibSeconds = 1e30;
  for (int round = 0; round < 5; round++) {
    for (int which = 0; which < 2; which++) {
      int runs = 0;
      double start = Now(), elapsed;
      do {
        if (which == 0) {
          ours();
        } else {
          zlib();
        }
        runs++;
        elapsed = Now() - start;
      } while (elapsed < 0.1);
      double *best = which == 0 ? oursSeconds : zlibSeconds;
      if (elapsed / runs < *best) *best = elapsed / runs;
    }
  }
}

int main(int argc, char **argv) {
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  if (!OpenEntryInput() || !storage.outputWindow || !storage.entry || !storage.crcTable) return 1;
  BuildCrcTable();
  char path[] = "/tmp/bench-inflate-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) return 1;
  close(fd);
  FileHandle ourSink = FileOpen("/dev/null", "wb");
  int zlibSink = open("/dev/null", O_WRONLY);

  const char *kinds[] = {"source", "text", "binary", "runs", "random"};
  const size_t size = 8 << 20;
  double oursTotal = 0, zlibTotal = 0, bytesTotal = 0;
  printf("%-8s %10s %10s %12s %12s %7s\n", "input", "bytes", "packed", "ours MB/s", "zlib MB/s", "ratio");
  for (const char *kind : kinds) {
    bool wanted = argc < 2;  // names on the command line pick inputs
    for (int i = 1; i < argc; i++) wanted |= strcmp(argv[i], kind) == 0;
    if (!wanted) continue;
    Bytes plain = MakeInput(kind, size);
    Bytes packed = Deflate(plain, 6);
    FILE *f = fopen(path, "wb");
    fwrite(packed.data(), 1, packed.size(), f);
    fclose(f);
    uint32_t expected = (uint32_t)crc32(0, plain.data(), (uInt)plain.size());
    if (DecodeOurs(path, (int32_t)packed.size(), (int32_t)plain.size(), ourSink) != expected ||
        DecodeZlib(path, zlibSink) != expected) {
      fprintf(stderr, "%s: CRC mismatch\n", kind);
      return 1;
    }
    double ours, zlib;
    SecondsPerRun([&] { DecodeOurs(path, (int32_t)packed.size(), (int32_t)plain.size(), ourSink); },
                  [&] { DecodeZlib(path, zlibSink); }, &ours, &zlib);
    oursTotal += ours;
    zlibTotal += zlib;
    bytesTotal += plain.size();
    printf("%-8s %10zu %10zu %12.1f %12.1f %7.2f\n", kind, plain.size(), packed.size(), plain.size() / ours / 1e6,
           plain.size() / zlib / 1e6, zlib / ours);
  }
  printf("%-8s %10.0f %10s %12.1f %12.1f %7.2f\n", "overall", bytesTotal, "", bytesTotal / oursTotal / 1e6,
         bytesTotal / zlibTotal / 1e6, zlibTotal / oursTotal);
  unlink(path);
  printf("inflate ours/zlib: %.2f\n", zlibTotal / oursTotal);
  return 0;
}
