// Helpers of the zip tests (see zip_test_support.h).
#include "tests/zip/zip_test_support.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <functional>

TempFolder::TempFolder() {
  std::string base = std::string(OSTREL_BINARY_DIR) + "/test-tmp";
  mkdir(base.c_str(), 0777);
  std::string pattern = base + "/zipXXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  path_ = mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

TempFolder::~TempFolder() {
  if (!path_.empty()) RunCommand("chmod -R u+w " + ShellQuote(path_) + " && rm -rf " + ShellQuote(path_));
}

std::string TempFolder::Core() const { return CorePath(path_); }
std::string TempFolder::File(const std::string &relative) const { return path_ + "/" + relative; }

std::string CorePath(const std::string &nativePath) {
  std::string out = nativePath;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

Bytes ReadFileBytes(const std::string &path, bool *ok) {
  Bytes data;
  FILE *file = fopen(path.c_str(), "rb");
  if (ok) *ok = file != nullptr;
  if (!file) return data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + got);
  fclose(file);
  return data;
}

void WriteFileBytes(const std::string &path, const Bytes &data) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) return;
  if (!data.empty()) fwrite(data.data(), 1, data.size(), file);
  fclose(file);
}

Bytes TextBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

bool PathExists(const std::string &path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::pair<std::string, Bytes>> ListTree(const std::string &root) {
  std::vector<std::pair<std::string, Bytes>> files;
  std::function<void(const std::string &)> walk = [&](const std::string &relative) {
    std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR *dir = opendir(folder.c_str());
    if (!dir) return;
    while (struct dirent *item = readdir(dir)) {
      std::string name = item->d_name;
      if (name == "." || name == "..") continue;
      std::string child = relative.empty() ? name : relative + "/" + name;
      struct stat info;
      if (lstat((root + "/" + child).c_str(), &info) != 0) continue;
      if (S_ISDIR(info.st_mode)) walk(child);
      else files.emplace_back(child, ReadFileBytes(root + "/" + child));
    }
    closedir(dir);
  };
  walk("");
  std::sort(files.begin(), files.end());
  return files;
}

int RunCommand(const std::string &command) {
  int status = system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string ShellQuote(const std::string &text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

void PutLe16(Bytes &out, size_t at, uint16_t value) {
  out[at] = (uint8_t)value;
  out[at + 1] = (uint8_t)(value >> 8);
}

void PutLe32(Bytes &out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) out[at + i] = (uint8_t)(value >> (8 * i));
}

uint16_t GetLe16(const Bytes &in, size_t at) { return (uint16_t)(in[at] | in[at + 1] << 8); }
uint32_t GetLe32(const Bytes &in, size_t at) {
  return (uint32_t)in[at] | (uint32_t)in[at + 1] << 8 | (uint32_t)in[at + 2] << 16 | (uint32_t)in[at + 3] << 24;
}

static void Append16(Bytes &out, uint16_t value) {
  out.push_back((uint8_t)value);
  out.push_back((uint8_t)(value >> 8));
}

static void Append32(Bytes &out, uint32_t value) {
  for (int i = 0; i < 4; i++) out.push_back((uint8_t)(value >> (8 * i)));
}

uint32_t Crc32Of(const Bytes &data) {
  return (uint32_t)crc32(0L, data.empty() ? Z_NULL : data.data(), (uInt)data.size());
}

static Bytes RawDeflate(const Bytes &data) {
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&stream, (uLong)data.size()) + 16);
  stream.next_in = const_cast<uint8_t *>(data.data());
  stream.avail_in = (uInt)data.size();
  stream.next_out = out.data();
  stream.avail_out = (uInt)out.size();
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

Bytes BuildZip(const std::vector<ZipEntrySpec> &entries, uint32_t base, const std::string &comment) {
  Bytes out, central;
  for (const ZipEntrySpec &e : entries) {
    Bytes stored = !e.packedOverride.empty() ? e.packedOverride : e.method == 8 ? RawDeflate(e.data) : e.data;
    uint32_t unpacked = e.sizeOverride >= 0 ? (uint32_t)e.sizeOverride : (uint32_t)e.data.size();
    uint32_t crc = e.crcOverride >= 0 ? (uint32_t)e.crcOverride : Crc32Of(e.data);
    uint32_t offset = base + (uint32_t)out.size();
    uint32_t localPacked = e.localCompressedOverride >= 0 ? (uint32_t)e.localCompressedOverride : (uint32_t)stored.size();
    uint32_t localUnpacked = e.localUncompressedOverride >= 0 ? (uint32_t)e.localUncompressedOverride : unpacked;
    Append32(out, 0x04034B50);  // local header signature
    Append16(out, 20);          // version needed
    Append16(out, e.flags);
    Append16(out, e.method);
    Append16(out, e.time);
    Append16(out, e.date);
    Append32(out, crc);
    Append32(out, localPacked);
    Append32(out, localUnpacked);
    Append16(out, (uint16_t)e.name.size());
    Append16(out, 0);           // extra field length
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), stored.begin(), stored.end());

    Append32(central, 0x02014B50);  // central record signature
    Append16(central, e.versionMadeBy);
    Append16(central, 20);
    Append16(central, e.flags);
    Append16(central, e.method);
    Append16(central, e.time);
    Append16(central, e.date);
    Append32(central, crc);
    Append32(central, (uint32_t)stored.size());
    Append32(central, unpacked);
    Append16(central, (uint16_t)e.name.size());
    Append16(central, 0);  // extra
    Append16(central, 0);  // comment
    Append16(central, 0);  // disk number start
    Append16(central, 0);  // internal attributes
    Append32(central, e.externalAttributes);
    Append32(central, e.localOffsetOverride >= 0 ? (uint32_t)e.localOffsetOverride : offset);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  uint32_t directoryOffset = base + (uint32_t)out.size();
  out.insert(out.end(), central.begin(), central.end());
  Append32(out, 0x06054B50);  // end record signature
  Append16(out, 0);
  Append16(out, 0);
  Append16(out, (uint16_t)entries.size());
  Append16(out, (uint16_t)entries.size());
  Append32(out, (uint32_t)central.size());
  Append32(out, directoryOffset);
  Append16(out, (uint16_t)comment.size());
  out.insert(out.end(), comment.begin(), comment.end());
  return out;
}

Bytes PrefixArchive(const Bytes &zip, uint32_t prefixLength) {
  if (zip.size() < 22) return Bytes();
  // The end record: the last "PK\5\6" whose comment length reaches the end.
  size_t end = zip.size() - 22;
  for (;; end--) {
    if (GetLe32(zip, end) == 0x06054B50 && end + 22 + GetLe16(zip, end + 20) == zip.size()) break;
    if (end == 0) return Bytes();
  }
  uint32_t directoryOffset = GetLe32(zip, end + 16);
  uint16_t count = GetLe16(zip, end + 10);
  if (directoryOffset == 0xFFFFFFFFu || count == 0xFFFF) return Bytes();
  Bytes out(prefixLength, 0);
  for (uint32_t i = 0; i < prefixLength; i++) out[i] = (uint8_t)("MZ stub, no signatures here. "[i % 29]);
  out.insert(out.end(), zip.begin(), zip.end());
  size_t at = prefixLength + directoryOffset;
  for (uint16_t i = 0; i < count; i++) {
    if (at + 46 > out.size() || GetLe32(out, at) != 0x02014B50) return Bytes();
    uint32_t local = GetLe32(out, at + 42);
    if (local == 0xFFFFFFFFu) return Bytes();
    PutLe32(out, at + 42, local + prefixLength);
    at += 46 + GetLe16(out, at + 28) + GetLe16(out, at + 30) + GetLe16(out, at + 32);
  }
  PutLe32(out, prefixLength + end + 16, directoryOffset + prefixLength);
  return out;
}
