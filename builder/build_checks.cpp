// Refusals of `ostrel build`. The name rules are the extractor's own
// (BuildTargetPath is asked last, so nothing it would refuse gets through);
// the checks in front of it only name the cause for the user.
#include "builder/build_checks.h"

#include <ctype.h>
#include <string.h>

#include <map>

#include "builder/sfx_assemble.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/path_ops.h"
#include "extractor/zip/state.h"

enum { ZIP_FLAG_STRONG = 0x0040 };

static int IsValidUtf8(const std::string &text) {
  // The structure alone: a character without a 1252 form is still UTF-8.
  for (size_t at = 0; at < text.size();) {
    uint8_t lead = (uint8_t)text[at];
    int follow = lead < 0x80 ? 0 : lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2
               : lead >= 0xF0 && lead <= 0xF4 ? 3 : -1;
    if (follow < 0 || at + follow >= text.size()) return 0;
    uint32_t codePoint = lead & (0x7F >> follow);
    for (int k = 1; k <= follow; k++) {
      if (((uint8_t)text[at + k] & 0xC0) != 0x80) return 0;
      codePoint = (codePoint << 6) | ((uint8_t)text[at + k] & 0x3F);
    }
    if ((follow == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) ||
        (follow == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF)))
      return 0;
    at += follow + 1;
  }
  return 1;
}

int ExtractorName(const ZipEntryRecord *record, std::string *ansi, std::string *why) {
  uint8_t host = (uint8_t)(record->versionMadeBy >> 8);
  int utf8 = (record->flags & ZIP_FLAG_UTF8) ||
             ((host == ZIP_HOST_UNIX || host == ZIP_HOST_MACOS) && IsValidUtf8(record->name));
  if (utf8) {
    if (!Utf8ToWindows1252(record->name, ansi, why)) return 0;
  } else {
    std::vector<char> text(record->name.begin(), record->name.end());
    text.push_back(0);
    OemToAnsiInPlace(text.data());
    *ansi = text.data();
  }
  for (char &c : *ansi)
    if (c == '/') c = '\\';
  return 1;
}

std::string MethodName(const ZipEntryRecord *record) {
  switch (record->method) {
    case 1: return "Shrink";
    case 2: case 3: case 4: case 5: return "Reduce";
    case 6: return "Implode";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL Implode";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77";
    case 20: case 93: return "Zstandard";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case 99: return "AES";
  }
  return "method " + std::to_string(record->method);
}

static int IsDevice(const std::string &component) {
  size_t base = component.find('.');
  if (base == std::string::npos) base = component.size();
  while (base > 0 && component[base - 1] == ' ') base--;
  std::string upper;
  for (size_t i = 0; i < base; i++) upper += (char)toupper((unsigned char)component[i]);
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char *device : kDevices)
    if (upper == device) return 1;
  return upper.size() == 4 && (!upper.compare(0, 3, "COM") || !upper.compare(0, 3, "LPT")) &&
         upper[3] >= '1' && upper[3] <= '9';
}

// The cause that makes a converted name unusable on Windows; empty when none.
static std::string NameProblem(const std::string &ansi) {
  if (ansi.empty()) return "the name is empty";
  if (ansi.size() > ENTRY_NAME_MAX)
    return "the name is " + std::to_string(ansi.size()) + " bytes long, at most " +
           std::to_string((int)ENTRY_NAME_MAX) + " fit";
  if (ansi[0] == '\\') return "an absolute name (it starts with a separator)";
  if (ansi.find(':') != std::string::npos) return "a drive letter or ':' in the name";
  for (unsigned char c : ansi)
    if (c < 0x20 || strchr("<>\"|?*", c))
      return "a character Windows does not allow in names (control character or <>\"|?*)";
  for (size_t start = 0; start < ansi.size();) {
    size_t end = ansi.find('\\', start);
    if (end == std::string::npos) end = ansi.size();
    std::string component = ansi.substr(start, end - start);
    if (component.find_first_not_of(". ") == std::string::npos && component.find("..") != std::string::npos)
      return "a '..' component, which would leave the target folder";
    if (IsDevice(component)) return "'" + component + "' names a Windows device";
    start = end + 1;
  }
  // The extractor's own rule has the last word.
  char out[PATH_BUFFER];
  extraction.targetFolder[0] = 0;
  if (!BuildTargetPath(ansi.c_str(), out)) return "the extractor refuses this name";
  return "";
}

std::string EntryNameProblem(const ZipEntryRecord *record) {
  std::string ansi, why;
  if (record->name.find('\0') != std::string::npos) return "a zero byte in the name";
  // The extractor reads the stored bytes into a buffer of 261 before it
  // converts them: a UTF-8 name can fit in Windows-1252 and still not be read.
  if (record->name.size() > ENTRY_NAME_MAX)
    return "the name takes " + std::to_string(record->name.size()) + " bytes as stored, at most " +
           std::to_string((int)ENTRY_NAME_MAX) + " fit";
  if (!ExtractorName(record, &ansi, &why)) return why;
  return NameProblem(ansi);
}

// The name for a message: as the extractor reads it, in UTF-8 with '/';
// the stored bytes when they cannot be converted (the message says why).
static std::string ShownName(const ZipEntryRecord *record) {
  std::string ansi, why;
  if (record->name.find('\0') != std::string::npos || !ExtractorName(record, &ansi, &why)) return record->name;
  std::vector<char> utf8(ansi.size() * 3 + 1);
  AnsiToUtf8(ansi.c_str(), utf8.data(), (uint32_t)utf8.size());
  std::string shown = utf8.data();
  for (char &c : shown)
    if (c == '\\') c = '/';
  return shown;
}

std::vector<std::string> CheckEntries(const std::vector<SourceEntry> &entries) {
  std::vector<std::string> problems;
  if (entries.size() > ZIP_MAX_ENTRIES)
    problems.push_back(std::to_string(entries.size()) + " entries; an archive holds at most " +
                       std::to_string((int)ZIP_MAX_ENTRIES));
  // Files whose names come out as one file on Windows ("Liesmich.txt" and
  // "LIESMICH.TXT" from a Linux folder, "a." and "a"): the extractor would
  // stop at the second, so the archive is refused here instead.
  std::map<uint64_t, std::string> files;
  for (const SourceEntry &entry : entries) {
    const ZipEntryRecord &r = entry.record;
    std::string shown = ShownName(&r);
    std::string problem = EntryNameProblem(&r);
    if (!problem.empty()) problems.push_back(shown + ": " + problem);
    std::string ansi, why;
    if (problem.empty() && !entry.isFolder && ExtractorName(&r, &ansi, &why)) {
      auto placed = files.emplace(TargetNameKey(ansi.c_str()), shown);
      if (!placed.second)
        problems.push_back(shown + ": the same file on Windows as " + placed.first->second +
                           " (names differ only in case or in trailing dots or blanks)");
    }
    if (r.flags & ZIP_FLAG_STRONG)
      problems.push_back(shown + ": PKWARE strong encryption; only the traditional ZIP cipher is supported");
    else if (r.method != ZIP_METHOD_STORED && r.method != ZIP_METHOD_DEFLATE)
      problems.push_back(shown + ": compressed with " + MethodName(&r) + "; only stored and Deflate are supported");
    uint64_t biggest = entry.fileSize;
    if (entry.sourceCompressed > biggest) biggest = entry.sourceCompressed;
    if (entry.sourceUncompressed > biggest) biggest = entry.sourceUncompressed;
    if (biggest > ENTRY_SIZE_LIMIT)
      problems.push_back(shown + ": " + std::to_string(biggest) + " bytes; entries must stay below 2 GiB");
  }
  return problems;
}
