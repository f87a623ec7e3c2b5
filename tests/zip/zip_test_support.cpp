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
  // Every file a command writes is capped (512-byte blocks in dash, 1 KiB
  // in bash: 256 or 512 MiB): a tool that runs away on a test archive
  // dies of SIGXFSZ instead of filling the disk.
  int status = system(("ulimit -f 524288; " + command).c_str());
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

void PutLe64(Bytes &out, size_t at, uint64_t value) {
  for (int i = 0; i < 8; i++) out[at + i] = (uint8_t)(value >> (8 * i));
}

uint64_t GetLe64(const Bytes &in, size_t at) { return GetLe32(in, at) | (uint64_t)GetLe32(in, at + 4) << 32; }

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

static void Append64(Bytes &out, uint64_t value) {
  for (int i = 0; i < 8; i++) out.push_back((uint8_t)(value >> (8 * i)));
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

Bytes BuildZip(const std::vector<ZipEntrySpec> &entries, uint32_t base, const std::string &comment, bool zip64End) {
  Bytes out, central;
  for (const ZipEntrySpec &e : entries) {
    Bytes stored = !e.packedOverride.empty() ? e.packedOverride : e.method == 8 ? RawDeflate(e.data) : e.data;
    uint32_t unpacked = e.sizeOverride >= 0 ? (uint32_t)e.sizeOverride : (uint32_t)e.data.size();
    uint32_t crc = e.crcOverride >= 0 ? (uint32_t)e.crcOverride : Crc32Of(e.data);
    uint32_t offset = base + (uint32_t)out.size();
    uint32_t localPacked = e.localCompressedOverride >= 0 ? (uint32_t)e.localCompressedOverride : (uint32_t)stored.size();
    uint32_t localUnpacked = e.localUncompressedOverride >= 0 ? (uint32_t)e.localUncompressedOverride : unpacked;
    uint32_t centralOffset = e.localOffsetOverride >= 0 ? (uint32_t)e.localOffsetOverride : offset;
    Bytes localExtra, centralExtra;
    if (e.zip64) {  // local: both sizes; central: sizes and offset
      Append16(localExtra, 1), Append16(localExtra, 16), Append64(localExtra, localUnpacked), Append64(localExtra, localPacked);
      Append16(centralExtra, 1), Append16(centralExtra, 24), Append64(centralExtra, unpacked);
      Append64(centralExtra, stored.size()), Append64(centralExtra, centralOffset);
      localPacked = localUnpacked = centralOffset = 0xFFFFFFFFu;
    }
    centralExtra.insert(centralExtra.end(), e.centralExtra.begin(), e.centralExtra.end());
    Append32(out, 0x04034B50);  // local header signature
    Append16(out, e.zip64 ? 45 : 20);  // version needed
    Append16(out, e.flags);
    Append16(out, e.method);
    Append16(out, e.time);
    Append16(out, e.date);
    Append32(out, crc);
    Append32(out, localPacked);
    Append32(out, localUnpacked);
    Append16(out, (uint16_t)e.name.size());
    Append16(out, (uint16_t)localExtra.size());
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), localExtra.begin(), localExtra.end());
    out.insert(out.end(), stored.begin(), stored.end());

    Append32(central, 0x02014B50);  // central record signature
    Append16(central, e.versionMadeBy);
    Append16(central, e.zip64 ? 45 : 20);
    Append16(central, e.flags);
    Append16(central, e.method);
    Append16(central, e.time);
    Append16(central, e.date);
    Append32(central, crc);
    Append32(central, e.zip64 ? 0xFFFFFFFFu : (uint32_t)stored.size());
    Append32(central, e.zip64 ? 0xFFFFFFFFu : unpacked);
    Append16(central, (uint16_t)e.name.size());
    Append16(central, (uint16_t)centralExtra.size());
    Append16(central, 0);  // comment
    Append16(central, 0);  // disk number start
    Append16(central, 0);  // internal attributes
    Append32(central, e.externalAttributes);
    Append32(central, centralOffset);
    central.insert(central.end(), e.name.begin(), e.name.end());
    central.insert(central.end(), centralExtra.begin(), centralExtra.end());
  }
  uint32_t directoryOffset = base + (uint32_t)out.size();
  out.insert(out.end(), central.begin(), central.end());
  if (zip64End) {
    uint32_t recordOffset = base + (uint32_t)out.size();
    Append32(out, 0x06064B50);  // ZIP64 end record
    Append64(out, 44);          // size of the rest
    Append16(out, 45);
    Append16(out, 45);
    Append32(out, 0);           // disk numbers
    Append32(out, 0);
    Append64(out, entries.size());
    Append64(out, entries.size());
    Append64(out, central.size());
    Append64(out, directoryOffset);
    Append32(out, 0x07064B50);  // ZIP64 locator
    Append32(out, 0);
    Append64(out, recordOffset);
    Append32(out, 1);
  }
  Append32(out, 0x06054B50);  // end record signature
  Append16(out, 0);
  Append16(out, 0);
  Append16(out, zip64End ? 0xFFFF : (uint16_t)entries.size());
  Append16(out, zip64End ? 0xFFFF : (uint16_t)entries.size());
  Append32(out, zip64End ? 0xFFFFFFFFu : (uint32_t)central.size());
  Append32(out, zip64End ? 0xFFFFFFFFu : directoryOffset);
  Append16(out, (uint16_t)comment.size());
  out.insert(out.end(), comment.begin(), comment.end());
  return out;
}

Bytes UnicodePathField(const std::string &headerName, const std::string &utf8Name) {
  Bytes field;
  Append16(field, 0x7075);
  Append16(field, (uint16_t)(5 + utf8Name.size()));
  field.push_back(1);  // version
  Append32(field, Crc32Of(TextBytes(headerName)));
  field.insert(field.end(), utf8Name.begin(), utf8Name.end());
  return field;
}

// Position of the 8-byte local header offset in the ZIP64 field of the
// central record at at, or 0 when it has none.
static size_t Zip64OffsetField(const Bytes &zip, size_t at) {
  size_t extra = at + 46 + GetLe16(zip, at + 28), extraEnd = extra + GetLe16(zip, at + 30);
  size_t skip = (GetLe32(zip, at + 24) == 0xFFFFFFFFu ? 8 : 0) + (GetLe32(zip, at + 20) == 0xFFFFFFFFu ? 8 : 0);
  while (extra + 4 <= extraEnd) {
    uint16_t size = GetLe16(zip, extra + 2);
    if (GetLe16(zip, extra) == 1) return size >= skip + 8 ? extra + 4 + skip : 0;
    extra += 4 + size;
  }
  return 0;
}

Bytes PrefixArchive(const Bytes &zip, uint32_t prefixLength) {
  if (zip.size() < 22) return Bytes();
  // The end record: the last "PK\5\6" whose comment length reaches the end.
  size_t end = zip.size() - 22;
  for (;; end--) {
    if (GetLe32(zip, end) == 0x06054B50 && end + 22 + GetLe16(zip, end + 20) == zip.size()) break;
    if (end == 0) return Bytes();
  }
  uint64_t directoryOffset = GetLe32(zip, end + 16);
  uint64_t count = GetLe16(zip, end + 10);
  size_t locator = end >= 20 && GetLe32(zip, end - 20) == 0x07064B50 ? end - 20 : 0;
  size_t record = locator ? (size_t)GetLe64(zip, locator + 8) : 0;
  if (locator && (record + 56 > zip.size() || GetLe32(zip, record) != 0x06064B50)) return Bytes();
  if (locator) directoryOffset = GetLe64(zip, record + 48), count = GetLe64(zip, record + 32);
  Bytes out(prefixLength, 0);
  for (uint32_t i = 0; i < prefixLength; i++) out[i] = (uint8_t)("MZ stub, no signatures here. "[i % 29]);
  out.insert(out.end(), zip.begin(), zip.end());
  size_t at = prefixLength + directoryOffset;
  for (uint64_t i = 0; i < count; i++) {
    if (at + 46 > out.size() || GetLe32(out, at) != 0x02014B50) return Bytes();
    uint32_t local = GetLe32(out, at + 42);
    if (local != 0xFFFFFFFFu) {
      PutLe32(out, at + 42, local + prefixLength);
    } else {
      size_t field = Zip64OffsetField(out, at);
      if (!field) return Bytes();
      PutLe64(out, field, GetLe64(out, field) + prefixLength);
    }
    at += 46 + GetLe16(out, at + 28) + GetLe16(out, at + 30) + GetLe16(out, at + 32);
  }
  if (locator) {
    PutLe64(out, prefixLength + record + 48, directoryOffset + prefixLength);
    PutLe64(out, prefixLength + locator + 8, record + prefixLength);
  }
  if (GetLe32(out, prefixLength + end + 16) != 0xFFFFFFFFu)
    PutLe32(out, prefixLength + end + 16, (uint32_t)directoryOffset + prefixLength);
  return out;
}
