// Deflate decoding speed through the whole extraction path, beside zlib and
// libdeflate measured in the same run.
//
// Inputs: six generated kinds of 4 MiB each (deterministic: fixed seeds;
// "source" reads this source tree, so it follows the checkout), each
// compressed four ways: zlib level 6 and 9 (raw Deflate), and, when the
// programs are installed, Info-ZIP "zip -9" and "7z -tzip -mx9" (the
// Deflate stream is taken out of the archive each one writes).
//
// The work per decode is that of an extraction:
//   ours        the entry input reader (8 KiB reads of the data file), the
//               decoder's 32 KiB window flushed through the output sink
//               (CRC-32, FileWrite to /dev/null)
//   zlib        inflate over the same 8 KiB reads into 32 KiB chunks,
//               crc32 and write(2) to /dev/null per chunk
//   libdeflate  has no streaming interface: the same 8 KiB reads into one
//               buffer, one libdeflate_deflate_decompress into the whole
//               output, then libdeflate_crc32 and write(2) per 32 KiB chunk
// Equal I/O matters: a system call costs microseconds on a virtual machine.
//
// Prints MB/s of output for each and the two ratios per stream, their
// geometric means per input, and overall; the last two lines are
// "inflate ours/zlib: R" and "inflate ours/libdeflate: R".
// Names on the command line pick inputs and packers (e.g. "bench_inflate
// logs repeat4k zlib-9"); without any of either kind, all of that kind run.
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extractor/decoders/crc.h"
#include "extractor/decoders/entry_input.h"
#include "extractor/decoders/inflate.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/state.h"

typedef std::vector<uint8_t> Bytes;

enum { INPUT_SIZE = 4 << 20, READ_CHUNK = 8192, WRITE_CHUNK = 32768, ROUNDS = 5 };

static std::string scratch;  // folder for the data file and the archivers' files, below the build tree

// CPU time of this process (user and system, so the reads and writes
// count): on a machine shared with other jobs it varies far less than the
// wall clock, and all three decoders are measured alike.
static double Now() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

static void Die(const std::string &what) {
  fprintf(stderr, "bench_inflate: %s\n", what.c_str());
  exit(1);
}

// ---- inputs ---------------------------------------------------------------------

static uint32_t seed;
static uint32_t Next() {
  seed ^= seed << 13;
  seed ^= seed >> 17;
  seed ^= seed << 5;
  return seed;
}
// Small values much more often than large ones (word and token frequencies).
static uint32_t Zipf(uint32_t n) {
  uint32_t r = Next() % 1000000;
  return (uint32_t)((double)n * (r / 1e6) * (r / 1e6) * (r / 1e6));
}
static void Put(Bytes &out, const std::string &s) { out.insert(out.end(), s.begin(), s.end()); }
static void PutLe(Bytes &out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; i++) out.push_back((uint8_t)(v >> (8 * i)));
}

// A tar member: 512-byte header (name, octal fields, checksum), the data,
// zeros to the next 512 bytes.
static void TarMember(Bytes &out, const std::string &name, const Bytes &data) {
  uint8_t h[512] = {0};
  snprintf((char *)h, 100, "%s", name.c_str());
  snprintf((char *)h + 100, 8, "%07o", 0644);
  snprintf((char *)h + 108, 8, "%07o", 1000);
  snprintf((char *)h + 116, 8, "%07o", 1000);
  snprintf((char *)h + 124, 12, "%011o", (unsigned)data.size());
  snprintf((char *)h + 136, 12, "%011o", 1700000000u + (unsigned)out.size() / 4096);
  memset(h + 148, ' ', 8);
  h[156] = '0';
  memcpy(h + 257, "ustar", 6);
  unsigned sum = 0;
  for (uint8_t c : h) sum += c;
  snprintf((char *)h + 148, 8, "%06o", sum);
  out.insert(out.end(), h, h + 512);
  out.insert(out.end(), data.begin(), data.end());
  out.resize((out.size() + 511) / 512 * 512);
}

// A source tarball: this tree's C++ sources and headers, sorted by path.
static Bytes SourceTarball() {
  std::vector<std::string> files;
  const char *folders[] = {"extractor/zip", "extractor/decoders", "packed", "builder", "stub", "tests/decoders",
                           "tests/zip", "fuzz/inflate", "bench"};
  for (const char *folder : folders) {
    DIR *d = opendir((std::string(OSTREL_SOURCE_DIR) + "/" + folder).c_str());
    if (!d) continue;
    while (struct dirent *e = readdir(d)) {
      std::string name = e->d_name;
      size_t dot = name.rfind('.');
      if (dot == std::string::npos) continue;
      std::string ext = name.substr(dot);
      if (ext == ".h" || ext == ".cpp" || ext == ".txt") files.push_back(std::string(folder) + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  Bytes one;
  for (const std::string &file : files) {
    FILE *f = fopen((std::string(OSTREL_SOURCE_DIR) + "/" + file).c_str(), "rb");
    if (!f) continue;
    Bytes data;
    int c;
    while ((c = fgetc(f)) != EOF) data.push_back((uint8_t)c);
    fclose(f);
    TarMember(one, "ostrel-1.0/" + file, data);
  }
  if (one.empty()) Die("no sources found");
  Bytes out;
  for (int copy = 0; out.size() < INPUT_SIZE; copy++) {
    // Later copies as later releases: the same files with a few lines changed.
    Bytes next = one;
    for (int k = 0; k < 200; k++) next[Next() % next.size()] = (uint8_t)('a' + copy % 26);
    out.insert(out.end(), next.begin(), next.end());
  }
  out.resize(INPUT_SIZE);
  return out;
}

static const char *const kEnglish[] = {
    "the", "of", "and", "to", "a", "in", "that", "is", "was", "he", "for", "it", "with", "as", "his", "on", "be",
    "at", "by", "i", "this", "had", "not", "are", "but", "from", "or", "have", "an", "they", "which", "one", "you",
    "were", "her", "all", "she", "there", "would", "their", "we", "him", "been", "has", "when", "who", "will",
    "more", "no", "if", "out", "so", "said", "what", "up", "its", "about", "into", "than", "them", "can", "only",
    "other", "new", "some", "could", "time", "these", "two", "may", "then", "do", "first", "any", "my", "now",
    "such", "like", "our", "over", "man", "me", "even", "most", "made", "after", "also", "did", "many", "before",
    "must", "through", "back", "years", "where", "much", "your", "way", "well", "down", "should", "because",
    "each", "just", "those", "people", "how", "too", "little", "state", "good", "very", "make", "world", "still",
    "own", "see", "men", "work", "long", "get", "here", "between", "both", "life", "being", "under", "never",
    "day", "same", "another", "know", "while", "last", "might", "us", "great", "old", "year", "off", "come",
    "since", "against", "go", "came", "right", "used", "take", "three", "harbour", "lighthouse", "winter",
    "letters", "kitchen", "afterwards", "remembered", "whispered", "extraordinary", "circumstances", "morning",
    "garden", "window", "evening", "question", "answered", "thought", "nothing", "something", "everything"};

// English prose: sentences of Zipf-distributed words, wrapped at 72
// columns, paragraphs separated by blank lines.
static Bytes EnglishText() {
  const uint32_t words = sizeof kEnglish / sizeof kEnglish[0];
  std::string out, line;
  bool capital = true;
  while (out.size() < INPUT_SIZE) {
    std::string w = kEnglish[Zipf(words)];
    if (capital) w[0] = (char)(w[0] - 'a' + 'A');
    capital = false;
    uint32_t r = Next() % 100;
    if (r < 6) {
      w += ".";
      capital = true;
    } else if (r < 11) {
      w += ",";
    } else if (r == 11) {
      w = "\"" + w + "\"";
    }
    if (line.size() + w.size() + 1 > 72) {
      out += line + "\n";
      line.clear();
      if (capital && Next() % 8 == 0) out += "\n";
    }
    line += (line.empty() ? "" : " ") + w;
  }
  out.resize(INPUT_SIZE);
  return Bytes(out.begin(), out.end());
}

// x86 machine code: instructions drawn from a small set of frequent shapes
// with varying registers, displacements and call targets, as in compiled code.
static void MachineCode(Bytes &out, size_t size, bool x64) {
  size_t start = out.size();
  while (out.size() - start < size) {
    uint32_t r = Next() % 100, reg = Next() % 8;
    if (r < 10 && x64) out.push_back(0x48);  // REX.W
    if (r < 14) {
      out.push_back(0x8B);  // mov reg, [ebp/rbp - disp8]
      out.push_back((uint8_t)(0x45 | reg << 3));
      out.push_back((uint8_t)(0x100 - 4 * (1 + Zipf(16))));
    } else if (r < 24) {
      out.push_back(0x89);  // mov [ebp - disp8], reg
      out.push_back((uint8_t)(0x45 | reg << 3));
      out.push_back((uint8_t)(0x100 - 4 * (1 + Zipf(16))));
    } else if (r < 32) {
      out.push_back(0xE8);  // call rel32: targets cluster in the function table
      PutLe(out, (uint32_t)(-(int32_t)(out.size() - start) + 64 * (int32_t)Zipf(400)), 4);
    } else if (r < 40) {
      out.push_back((uint8_t)(0x50 + reg));  // push/pop
      out.push_back((uint8_t)(0x58 + (Next() % 8)));
    } else if (r < 48) {
      out.push_back((uint8_t)(0x70 + Next() % 16));  // jcc rel8
      out.push_back((uint8_t)(Next() % 64));
    } else if (r < 56) {
      out.push_back(0x83);  // arithmetic reg, imm8
      out.push_back((uint8_t)(0xC0 | (Next() % 8) << 3 | reg));
      out.push_back((uint8_t)Zipf(256));
    } else if (r < 62) {
      out.push_back(0xB8 + reg);  // mov reg, imm32 (often an address)
      PutLe(out, x64 ? 0x401000 + 16 * Zipf(4096) : 0x10001000 + 4 * Zipf(8192), 4);
    } else if (r < 70) {
      out.push_back(0x85);  // test reg, reg
      out.push_back((uint8_t)(0xC0 | reg << 3 | reg));
    } else if (r < 76) {
      const uint8_t prologue[] = {0x55, 0x89, 0xE5, 0x83, 0xEC};
      out.insert(out.end(), prologue, prologue + 5);
      out.push_back((uint8_t)(8 * (1 + Zipf(16))));
    } else if (r < 80) {
      const uint8_t epilogue[] = {0xC9, 0xC3, 0xCC, 0xCC, 0xCC, 0xCC};
      out.insert(out.end(), epilogue, epilogue + 2 + Next() % 5);
    } else {
      out.push_back((uint8_t)(0x01 + 8 * (Next() % 8)));  // reg-reg arithmetic
      out.push_back((uint8_t)(0xC0 | Next() % 64));
    }
  }
  out.resize(start + size);
}

static const char *const kNames[] = {"CreateFileA", "ReadFile", "WriteFile", "CloseHandle", "GetLastError",
                                     "HeapAlloc", "HeapFree", "GetProcAddress", "LoadLibraryA", "MessageBoxA",
                                     "SendMessageA", "GetDlgItem", "SetWindowTextA", "DialogBoxParamA",
                                     "malloc", "free", "memcpy", "strlen", "printf", "fopen", "fread",
                                     "Die Datei konnte nicht geoeffnet werden.", "Fehler beim Lesen",
                                     "std::vector<unsigned char>::_M_realloc_insert", "operator new(unsigned long)"};

static void Strings(Bytes &out, size_t size) {
  size_t start = out.size();
  while (out.size() - start < size) {
    Put(out, kNames[Zipf(sizeof kNames / sizeof kNames[0])]);
    out.push_back(0);
    if (Next() % 4 == 0) out.push_back(0);
  }
  out.resize(start + size);
}

// A tar of Windows programs: MZ and PE headers with their section table,
// code, read-only data (strings, import names), zero-padded to 512-byte
// file alignment, and some tables of addresses.
static Bytes PeTar() {
  Bytes out;
  for (int n = 0; out.size() < INPUT_SIZE; n++) {
    Bytes pe;
    Put(pe, "MZ");
    pe.resize(0x40, 0);
    pe[0x3C] = 0x80;
    Put(pe, "\x0E\x1F\xBA\x0E\x00\xB4\x09\xCD\x21\xB8\x01\x4C\xCD\x21This program cannot be run in DOS mode.\r\r\n$");
    pe.resize(0x80, 0);
    Put(pe, std::string("PE\0\0", 4));
    PutLe(pe, 0x014C, 2);
    PutLe(pe, 4, 2);
    PutLe(pe, 1600000000 + n * 3600, 4);
    pe.resize(0x180, 0);
    const char *sections[] = {".text", ".rdata", ".data", ".rsrc"};
    for (const char *s : sections) {
      Bytes header(40, 0);
      memcpy(header.data(), s, strlen(s));
      PutLe(header, 0x1000 * (1 + Zipf(64)), 4);
      pe.insert(pe.end(), header.begin(), header.end());
    }
    pe.resize(0x400, 0);
    MachineCode(pe, 20000 + Next() % 200000, false);
    pe.resize((pe.size() + 511) / 512 * 512, 0);
    Strings(pe, 4000 + Next() % 30000);
    for (int k = 0, m = 200 + Next() % 2000; k < m; k++) PutLe(pe, 0x10001000 + 4 * Zipf(20000), 4);
    pe.resize((pe.size() + 511) / 512 * 512 + 512 * (Next() % 8), 0);
    TarMember(out, "bin/programm" + std::to_string(n) + ".exe", pe);
  }
  out.resize(INPUT_SIZE);
  return out;
}

// A Linux ELF binary: header, x86-64 code, read-only strings, a symbol
// table of 24-byte records with rising addresses, its string table.
static Bytes ElfBinary() {
  Bytes out;
  Put(out, "\x7F" "ELF\x02\x01\x01");
  out.resize(16, 0);
  PutLe(out, 3, 2);
  PutLe(out, 0x3E, 2);
  out.resize(0x1000, 0);
  MachineCode(out, INPUT_SIZE * 55 / 100, true);
  Strings(out, INPUT_SIZE / 8);
  uint64_t address = 0x401000;
  while (out.size() < INPUT_SIZE * 9 / 10) {
    PutLe(out, Next() % 60000, 4);
    out.push_back(0x12);
    out.push_back(0);
    PutLe(out, 14, 2);
    PutLe(out, address, 8);
    PutLe(out, 16 + Zipf(2000), 8);
    address += 16 + Zipf(2000);
  }
  Strings(out, INPUT_SIZE - out.size());
  return out;
}

// A web server's access log (combined format): addresses, rising times,
// requests, status, sizes, referrers and user agents from realistic pools.
static Bytes ServerLog() {
  static const char *paths[] = {"/", "/index.html", "/favicon.ico", "/api/v1/items", "/api/v1/orders",
                                "/static/app.js", "/static/style.css", "/images/logo.png", "/login", "/search"};
  static const char *agents[] = {
      "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/119.0 Safari/537.36",
      "Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0",
      "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 Mobile/15E148",
      "curl/7.88.1", "Googlebot/2.1 (+http://www.google.com/bot.html)"};
  static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const int statuses[] = {200, 200, 200, 200, 304, 301, 404, 500};
  std::string out;
  long t = 0;
  char line[600];
  while (out.size() < INPUT_SIZE) {
    t += Next() % 3;
    uint32_t client = Zipf(500);
    const char *path = paths[Zipf(10)];
    int status = statuses[Next() % 8];
    snprintf(line, sizeof line,
             "%u.%u.%u.%u - - [%02ld/%s/2026:%02ld:%02ld:%02ld +0000] \"%s %s%s%u HTTP/1.1\" %d %u \"%s\" \"%s\"\n",
             10 + client % 200, client % 7, client * 7 % 256, client * 13 % 256, 1 + t / 86400 % 28,
             months[t / (86400 * 28) % 12], t / 3600 % 24, t / 60 % 60, t % 60, Next() % 5 ? "GET" : "POST", path,
             strchr(path + 1, '/') ? "?id=" : "?v=", Zipf(100000), status, status == 200 ? 200 + Next() % 50000 : 0,
             Next() % 3 ? "-" : "https://www.example.org/", agents[Zipf(5)]);
    out += line;
  }
  out.resize(INPUT_SIZE);
  return Bytes(out.begin(), out.end());
}

// One 4 KiB block of random bytes, repeated: long matches at distance 4096.
static Bytes Repeated4k() {
  Bytes block(4096);
  for (uint8_t &b : block) b = (uint8_t)Next();
  Bytes out;
  while (out.size() < INPUT_SIZE) out.insert(out.end(), block.begin(), block.end());
  return out;
}

// ---- compressors ------------------------------------------------------------------

static Bytes ZlibDeflate(const Bytes &data, int level) {
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

static void WriteFile(const std::string &path, const Bytes &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f || fwrite(data.data(), 1, data.size(), f) != data.size()) Die("cannot write " + path);
  fclose(f);
}

static Bytes ReadFile(const std::string &path) {
  Bytes out;
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + got);
  fclose(f);
  return out;
}

static uint32_t Le(const Bytes &b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; i--) v = v << 8 | b[at + i];
  return v;
}

// Runs an archiver on plain (as one file) and returns the Deflate stream
// of its single entry, found through the central directory; empty when
// the program is missing or did not deflate.
static Bytes ArchiverDeflate(const Bytes &plain, const std::string &command) {
  std::string in = scratch + "/plain.bin", zip = scratch + "/packed.zip";
  WriteFile(in, plain);
  unlink(zip.c_str());
  std::string line = "cd '" + scratch + "' && " + command + " >/dev/null 2>&1";
  if (system(line.c_str()) != 0) return Bytes();
  Bytes archive = ReadFile(zip);
  unlink(in.c_str());
  unlink(zip.c_str());
  if (archive.size() < 22 || Le(archive, archive.size() - 22, 4) != 0x06054B50) return Bytes();
  size_t central = Le(archive, archive.size() - 22 + 16, 4);
  if (central + 46 > archive.size() || Le(archive, central, 4) != 0x02014B50 || Le(archive, central + 10, 2) != 8)
    return Bytes();
  size_t packedSize = Le(archive, central + 20, 4), local = Le(archive, central + 42, 4);
  size_t data = local + 30 + Le(archive, local + 26, 2) + Le(archive, local + 28, 2);
  if (data + packedSize > archive.size()) return Bytes();
  return Bytes(archive.begin() + data, archive.begin() + data + packedSize);
}

// ---- decoders ---------------------------------------------------------------------

static const char *dataPath;  // the current stream as a file
static int32_t packedSize, plainSize;
static FileHandle ourSink;
static int sinkFd;
static Bytes deflateIn, deflateOut;
static libdeflate_decompressor *decompressor;

static uint32_t DecodeOurs() {
  extraction.dataFile = FileOpen(dataPath, "rb");
  extraction.outputFile = ourSink;
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
  if (r != 0 || extraction.errorCode != 0) Die("our decoder failed: result " + std::to_string(r));
  return ~transfer.crc;
}

static uint32_t DecodeZlib() {
  int in = open(dataPath, O_RDONLY);
  z_stream z;
  memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  static uint8_t input[READ_CHUNK], chunk[WRITE_CHUNK];
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
    if (n > 0 && write(sinkFd, chunk, n) != (ssize_t)n) Die("write failed");
  }
  inflateEnd(&z);
  close(in);
  if (r != Z_STREAM_END) Die("zlib failed");
  return crc;
}

static uint32_t DecodeLibdeflate() {
  int in = open(dataPath, O_RDONLY);
  size_t have = 0;
  ssize_t got;
  while ((got = read(in, deflateIn.data() + have, std::min<size_t>(READ_CHUNK, deflateIn.size() - have))) > 0)
    have += (size_t)got;
  close(in);
  size_t produced = 0;
  if (libdeflate_deflate_decompress(decompressor, deflateIn.data(), have, deflateOut.data(), deflateOut.size(),
                                    &produced) != LIBDEFLATE_SUCCESS)
    Die("libdeflate failed");
  uint32_t crc = 0;
  for (size_t at = 0; at < produced; at += WRITE_CHUNK) {
    size_t n = std::min<size_t>(WRITE_CHUNK, produced - at);
    crc = libdeflate_crc32(crc, deflateOut.data() + at, n);
    if (write(sinkFd, deflateOut.data() + at, n) != (ssize_t)n) Die("write failed");
  }
  return crc;
}

// Seconds per decode of each decoder: rounds alternate between them (so
// a change in the machine's load hits all alike), each round repeats one
// decoder for at least 0.05 s, and the best round of each counts.
static void SecondsPerRun(double seconds[3]) {
  uint32_t (*const decoders[3])() = {DecodeOurs, DecodeZlib, DecodeLibdeflate};
  for (int d = 0; d < 3; d++) seconds[d] = 1e30;
  for (int round = 0; round < ROUNDS; round++) {
    for (int d = 0; d < 3; d++) {
      int runs = 0;
      double start = Now(), elapsed;
      do {
        decoders[d]();
        runs++;
        elapsed = Now() - start;
      } while (elapsed < 0.05);
      seconds[d] = std::min(seconds[d], elapsed / runs);
    }
  }
}

int main(int argc, char **argv) {
  storage.outputWindow = (uint8_t *)MemAlloc(OUTPUT_WINDOW_SIZE);
  storage.entry = (EntryRecord *)MemAlloc(sizeof(EntryRecord));
  storage.crcTable = (uint32_t *)MemAlloc(CRC_TABLE_ENTRIES * sizeof(uint32_t));
  if (!OpenEntryInput() || !storage.outputWindow || !storage.entry || !storage.crcTable) return 1;
  memset(storage.outputWindow, 0, OUTPUT_WINDOW_SIZE);
  BuildCrcTable();
  scratch = std::string(OSTREL_BINARY_DIR) + "/bench-inflate";
  mkdir(scratch.c_str(), 0755);
  std::string path = scratch + "/stream.bin";
  dataPath = path.c_str();
  ourSink = FileOpen("/dev/null", "wb");
  sinkFd = open("/dev/null", O_WRONLY);
  decompressor = libdeflate_alloc_decompressor();
  deflateOut.resize(INPUT_SIZE);

  struct Input {
    const char *name;
    Bytes (*make)();
  } inputs[] = {{"source", SourceTarball}, {"english", EnglishText}, {"pe-tar", PeTar},
                {"elf", ElfBinary},        {"logs", ServerLog},     {"repeat4k", Repeated4k}};
  const char *methods[] = {"zlib-6", "zlib-9", "zip-9", "7z-mx9"};
  double logZlib = 0, logDeflate = 0;
  int streams = 0;
  std::vector<std::string> missing;
  printf("%-9s %-7s %9s %12s %12s %12s %8s %8s\n", "input", "packer", "packed", "ours MB/s", "zlib MB/s",
         "libdefl MB/s", "/zlib", "/libdefl");
  for (const Input &input : inputs) {
    bool anyInput = false, wanted = false;
    for (int i = 1; i < argc; i++) {
      for (const Input &other : inputs) anyInput |= strcmp(argv[i], other.name) == 0;
      wanted |= strcmp(argv[i], input.name) == 0;
    }
    if (!anyInput) wanted = true;
    if (!wanted) continue;
    seed = 2463534242u;
    Bytes plain = input.make();
    uint32_t expected = (uint32_t)crc32(0, plain.data(), (uInt)plain.size());
    double inputLogZlib = 0, inputLogDeflate = 0;
    int inputStreams = 0;
    for (const char *method : methods) {
      bool anyMethod = false, wantedMethod = false;
      for (int i = 1; i < argc; i++) {
        for (const char *m : methods) anyMethod |= strcmp(argv[i], m) == 0;
        wantedMethod |= strcmp(argv[i], method) == 0;
      }
      if (anyMethod && !wantedMethod) continue;
      Bytes packed;
      if (strcmp(method, "zlib-6") == 0) packed = ZlibDeflate(plain, 6);
      if (strcmp(method, "zlib-9") == 0) packed = ZlibDeflate(plain, 9);
      if (strcmp(method, "zip-9") == 0) packed = ArchiverDeflate(plain, "zip -9 -q packed.zip plain.bin");
      if (strcmp(method, "7z-mx9") == 0) packed = ArchiverDeflate(plain, "7z a -tzip -mx9 packed.zip plain.bin");
      if (packed.empty()) {
        if (std::find(missing.begin(), missing.end(), method) == missing.end()) missing.push_back(method);
        continue;
      }
      WriteFile(path, packed);
      packedSize = (int32_t)packed.size();
      plainSize = (int32_t)plain.size();
      deflateIn.resize(packed.size());
      deflateOut.resize(plain.size());
      if (DecodeOurs() != expected || DecodeZlib() != expected || DecodeLibdeflate() != expected)
        Die(std::string(input.name) + " " + method + ": CRC mismatch");
      double s[3];
      SecondsPerRun(s);
      double toZlib = s[1] / s[0], toDeflate = s[2] / s[0];
      printf("%-9s %-7s %9zu %12.1f %12.1f %12.1f %8.2f %8.2f\n", input.name, method, packed.size(),
             plain.size() / s[0] / 1e6, plain.size() / s[1] / 1e6, plain.size() / s[2] / 1e6, toZlib, toDeflate);
      inputLogZlib += log(toZlib);
      inputLogDeflate += log(toDeflate);
      inputStreams++;
    }
    if (inputStreams == 0) continue;
    printf("%-9s %-7s %9s %12s %12s %12s %8.2f %8.2f\n", input.name, "geomean", "", "", "", "",
           exp(inputLogZlib / inputStreams), exp(inputLogDeflate / inputStreams));
    logZlib += inputLogZlib;
    logDeflate += inputLogDeflate;
    streams += inputStreams;
  }
  for (const std::string &m : missing) printf("(no %s streams: the program is missing or failed)\n", m.c_str());
  unlink(path.c_str());
  rmdir(scratch.c_str());
  libdeflate_free_decompressor(decompressor);
  if (streams == 0) Die("no input selected");
  printf("geometric mean over %d streams\n", streams);
  printf("inflate ours/zlib: %.2f\n", exp(logZlib / streams));
  printf("inflate ours/libdeflate: %.2f\n", exp(logDeflate / streams));
  return 0;
}
