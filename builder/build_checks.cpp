// Refusals of `ostrel build` and the marks of `ostrel list`. The name
// rules are the extractor's own: the names come from its conversion
// (entry_names.h) and each entry goes through the driver's per-entry check
// (CheckEntryTarget), so nothing the extractor would refuse gets through;
// this file only puts the cause into words.
#include "builder/build_checks.h"

#include <string.h>

#include "builder/tool_support.h"
#include "extractor/zip/codepage.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/extract_driver.h"
#include "extractor/zip/state.h"

std::string MethodName(uint16_t method) {
  switch (method) {
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
  return "method " + std::to_string(method);
}

static const char *VerdictText(NameVerdict verdict) {
  switch (verdict) {
    case NAME_EMPTY: return "the name is empty";
    case NAME_ABSOLUTE: return "an absolute name (it starts with a separator)";
    case NAME_COLON: return "a drive letter or ':' in the name";
    case NAME_PARENT: return "a '..' component, which would leave the target folder";
    case NAME_DEVICE: return "a component names a Windows device (CON, NUL, COM1, ...)";
    case NAME_CHARACTER: return "a character Windows does not allow in names (control character or <>\"|?*)";
    default: return "";
  }
}

// The name for a message: as the extractor writes it, in UTF-8 with '/'.
static std::string ShownName(const std::string &name) {
  std::vector<char> utf8(name.size() * 4 + 1);
  EntryNameUtf8(name.c_str(), utf8.data(), (uint32_t)utf8.size());
  return utf8.data();
}

// Converts a folder input's name as the extractor will (UTF-8, bit 11).
static void ConvertFolderName(SourceEntry *entry) {
  if (!entry->targetName.empty()) return;
  const ZipEntryRecord &r = entry->record;
  std::vector<char> out(ENTRY_NAME_LIMIT + 1);
  if (EntryNameConvert(r.name.data(), (uint32_t)r.name.size(), r.flags, r.versionMadeBy, nullptr, out.data()))
    entry->targetName = out.data();
}

std::vector<std::string> EntryProblems(std::vector<SourceEntry> *entries) {
  std::vector<std::string> problems(entries->size());
  SetTargetFolder("");  // "\": the names are checked as inside a folder, nothing is created
  for (size_t i = 0; i < entries->size(); i++) {
    SourceEntry &entry = (*entries)[i];
    ConvertFolderName(&entry);
    const std::string &name = entry.record.name;
    if (entry.targetName.empty()) {
      if (name.empty() || memchr(name.data(), 0, name.size()))
        problems[i] = "the name is empty or holds a zero byte";
      else if (name.size() > ENTRY_NAME_LIMIT)
        problems[i] = "the name takes " + std::to_string(name.size()) + " bytes, at most " +
                      std::to_string((int)ENTRY_NAME_LIMIT) + " fit";
      else
        problems[i] = "the name is not valid UTF-8 (byte offset " + std::to_string(Utf8InvalidAt(name.data(), (uint32_t)name.size())) + ")";
      continue;
    }
    if (entry.targetName.size() > 0xFFFF) {
      problems[i] = "the name takes " + std::to_string(entry.targetName.size()) +
                    " bytes in UTF-8; a ZIP record holds at most 65535";
      continue;
    }
    uint32_t units = Utf16Length(entry.targetName.c_str());
    if (units > ENTRY_PATH_MAX) {
      problems[i] = "the path is " + std::to_string(units) + " characters (UTF-16 units) long, at most " +
                    std::to_string((int)ENTRY_PATH_MAX) + " fit";
      continue;
    }
    static char target[LONG_PATH_BUFFER];
    extraction.errorCode = 0;
    if (CheckEntryTarget(entry.targetName.c_str(), target)) continue;
    NameVerdict verdict = EntryNameCheck(entry.targetName.c_str());
    if (verdict != NAME_OK) problems[i] = VerdictText(verdict);
    else
      problems[i] = "the same file or folder on Windows as an earlier entry (names that differ only in case, "
                    "trailing dots or blanks, '.' or empty components), or a file where a folder must be";
  }
  extraction.errorCode = 0;
  ForgetTargets();
  return problems;
}

std::vector<std::string> CheckEntries(std::vector<SourceEntry> &entries) {
  std::vector<std::string> problems;
  if (entries.size() > ZIP_MAX_ENTRIES)
    problems.push_back(std::to_string(entries.size()) + " entries; an archive holds at most " +
                       std::to_string((int)ZIP_MAX_ENTRIES));
  std::vector<std::string> names = EntryProblems(&entries);
  for (size_t i = 0; i < entries.size(); i++) {
    const SourceEntry &entry = entries[i];
    const ZipEntryRecord &r = entry.record;
    std::string shown = ShownName(entry.targetName.empty() ? r.name : entry.targetName);
    if (!names[i].empty()) problems.push_back(shown + ": " + names[i]);
    if (r.flags & ZIP_FLAG_STRONG)
      problems.push_back(shown + ": PKWARE strong encryption; only the traditional ZIP cipher is supported");
    else if (r.method != ZIP_METHOD_STORED && r.method != ZIP_METHOD_DEFLATE)
      problems.push_back(shown + ": compressed with " + MethodName(r.method) + "; only stored and Deflate are supported");
    uint64_t biggest = entry.fileSize;
    if (entry.sourceCompressed > biggest) biggest = entry.sourceCompressed;
    if (entry.sourceUncompressed > biggest) biggest = entry.sourceUncompressed;
    if (biggest > ENTRY_SIZE_LIMIT)
      problems.push_back(shown + ": " + std::to_string(biggest) + " bytes; entries must stay below 2 GiB");
  }
  return problems;
}
