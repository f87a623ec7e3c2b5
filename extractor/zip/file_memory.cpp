// The file and folder functions of file_io.h over files held in memory,
// with Windows' path rules (file_memory_testing.h lists them). Built only
// into ostrel_core_memory, the core the whole-archive fuzz target links:
// an input then costs no system call per file operation, and a path that
// Windows would resolve outside the target folder is caught here, where a
// POSIX file system would have taken it literally. Heap blocks, the OEM
// code page and DOS times come from host_posix.cpp, as for the POSIX layer.
//
// Results follow the Win32 layer (file_win32.cpp): -1 for failures, Win32
// error codes from FileDelete and FileSetTime.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "extractor/zip/codepage.h"
#include "extractor/zip/entry_names.h"
#include "extractor/zip/file_io.h"
#include "extractor/zip/file_memory_testing.h"
#include "extractor/zip/file_posix_testing.h"

namespace {

enum {
  WIN_MAX_PATH = 32767,       // UTF-16 units: the W calls (through "\\?\") refuse paths this long or longer
  WIN_FILE_ATTRIBUTE_NORMAL = 0x80,  // what a file without attribute bits reports
  HANDLE_BASE = 0x100,        // handle = HANDLE_BASE + slot; never FILE_INVALID
  // Win32 error codes that FileDelete and FileSetTime report.
  WIN_ERROR_FILE_NOT_FOUND = 2,
  WIN_ERROR_PATH_NOT_FOUND = 3,
  WIN_ERROR_ACCESS_DENIED = 5,
  WIN_ERROR_SHARING_VIOLATION = 32,
  WIN_ERROR_INVALID_PARAMETER = 87,
  WIN_ERROR_INVALID_NAME = 123,
  WIN_ERROR_BAD_PATHNAME = 161,
  WIN_ERROR_FILENAME_EXCED_RANGE = 206
};

const uint32_t kStoredAttributes =
    FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM | FILE_ATTR_ARCHIVE;

struct Node {
  std::string name;           // as first created, "C:\a\b"
  int isFolder;               // 1 for a folder
  uint32_t attributes;        // kStoredAttributes bits; the directory bit is isFolder
  std::vector<uint8_t> data;  // a file's bytes
  FileTime lastWrite;         // zero until FileSetTime
  uint32_t openCount;         // handles on it; an open node is never erased
  std::map<std::string, std::vector<uint8_t>> streams;  // named streams by folded name
};

struct OpenFile {
  Node *node;         // null: a free slot
  int64_t position;   // may lie beyond the end, as SetFilePointer allows
  int writable;       // 1: opened by "w" (write only), 0: by "r" (read only)
};

// A path brought to the form Windows resolves it to.
struct Resolved {
  std::string key;    // folded: "C:" for a root, "C:\A\B" below it
  std::string name;   // as written, same separators: "C:\a\B"
  int isRoot;         // 1 for a drive root or a network share
  size_t rootLength;  // bytes of the root in key and name: "C:" or "\\server\share"
  int asFolder;       // 1 when the path ended in a separator: only a folder matches
};

std::map<std::string, Node> nodes;  // by Resolved::key; drive roots are implicit
std::vector<OpenFile> openFiles;
uint32_t deviceCalls;
int64_t writeLimit = -1;    // bytes FileWrite may still store; -1 = no limit
int64_t writeCeiling = -1;  // bytes FileWrite may still be asked for; -1 = no ceiling

// text in upper case (entry_names.h), as Windows compares names: UTF-8 in
// and out, each code point mapped on its own.
std::string Fold(const std::string &text) {
  std::string out;
  for (const char *at = text.c_str(); *at;) {
    uint32_t c = NameUpperCase(Utf8Next(&at));
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xF0 | (c >> 18));
      out += (char)(0x80 | ((c >> 12) & 0x3F));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int IsSeparator(char c) { return c == '\\' || c == '/'; }

int HasInvalidCharacter(const std::string &component) {
  for (char c : component)
    if ((uint8_t)c < 0x20 || strchr("<>:\"|?*", c)) return 1;
  return 0;
}

// out <- path as Windows resolves it. Returns 0, or the Win32 error code
// a call on path fails with.
//
// Format notes (the Win32 path parser): "/" is "\", runs of separators are
// one; "." goes, ".." takes the component before it (never the drive);
// then a component ending in one period loses it ("a.\b" is "a\b"), and
// the last one, unless the path ends in a separator, loses every trailing
// period and blank ("x. ." is "x"). Three periods are a name. "\x" is on
// the current drive, taken here to be C:. "\\server\share" is a root like
// a drive's, present for every server and share; the server alone names
// nothing. "C:x" (relative to the drive's current folder) is not supported.
uint32_t Resolve(const char *path, Resolved *out) {
  size_t length = strlen(path);
  if (Utf16Length(path) >= WIN_MAX_PATH) return WIN_ERROR_FILENAME_EXCED_RANGE;
  std::string root = "C:";
  const char *rest = path;
  if (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':') {
    root[0] = (char)(path[0] & ~0x20);
    rest = path + 2;
  } else if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    const char *server = path + 2, *share = server;
    while (*share && !IsSeparator(*share)) share++;
    const char *end = *share ? ++share : share;
    while (*end && !IsSeparator(*end)) end++;
    if (share == server + 1 || end == share) return WIN_ERROR_BAD_PATHNAME;
    root = "\\\\" + std::string(server, (size_t)(share - 1 - server)) + "\\" + std::string(share, (size_t)(end - share));
    rest = end;
  }
  if (!IsSeparator(rest[0]) && !(rest[0] == 0 && root[0] == '\\')) return WIN_ERROR_PATH_NOT_FOUND;

  std::vector<std::string> components;
  for (const char *p = rest; *p;) {
    while (IsSeparator(*p)) p++;
    const char *end = p;
    while (*end && !IsSeparator(*end)) end++;
    std::string component(p, (size_t)(end - p));
    p = end;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    components.push_back(component);
  }
  out->asFolder = IsSeparator(path[length - 1]);
  for (size_t i = 0; i < components.size(); i++) {
    std::string &component = components[i];
    size_t size = component.size();
    if (size >= 2 && component[size - 1] == '.' && component[size - 2] != '.') component.pop_back();
    if (i + 1 == components.size() && !out->asFolder) {
      while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.pop_back();
    }
  }
  if (!components.empty() && components.back().empty()) components.pop_back();

  out->name = root;
  out->rootLength = root.size();
  for (const std::string &component : components) {
    if (NameIsDevice(component.data(), (uint32_t)component.size())) {
      deviceCalls++;
      return WIN_ERROR_ACCESS_DENIED;
    }
    if (HasInvalidCharacter(component)) return WIN_ERROR_INVALID_NAME;
    out->name += '\\';
    out->name += component;
  }
  out->isRoot = components.empty();
  out->key = Fold(out->name);
  return 0;
}

// The node of a resolved path; null when there is none (a file named with
// a final separator has none either).
Node *Find(const Resolved &path) {
  auto found = nodes.find(path.key);
  if (found == nodes.end() || (path.asFolder && !found->second.isFolder)) return nullptr;
  return &found->second;
}

// 1 when the folder that holds the resolved path exists (a root counts).
int ParentExists(const Resolved &path) {
  size_t last = path.key.rfind('\\');
  if (last == std::string::npos) return 0;
  if (last == path.rootLength) return 1;  // "c:\x", "\\server\share\x": in a root
  auto found = nodes.find(path.key.substr(0, last));
  return found != nodes.end() && found->second.isFolder;
}

// The new node keeps the folder part of its name as the folder was created
// and the last component as written now, as Windows shows them.
Node *NewNode(const Resolved &path, int isFolder) {
  size_t last = path.key.rfind('\\');
  auto parent = nodes.find(path.key.substr(0, last));
  Node &node = nodes[path.key];
  node = Node();
  node.name = parent != nodes.end() ? parent->second.name + path.name.substr(last) : path.name;
  node.isFolder = isFolder;
  node.attributes = isFolder ? 0u : (uint32_t)FILE_ATTR_ARCHIVE;
  return &node;
}

OpenFile *Open(FileHandle handle) {
  if (handle < HANDLE_BASE || (size_t)(handle - HANDLE_BASE) >= openFiles.size()) return nullptr;
  OpenFile *file = &openFiles[(size_t)(handle - HANDLE_BASE)];
  return file->node ? file : nullptr;
}

FileHandle NewHandle(Node *node, int writable) {
  size_t slot = 0;
  while (slot < openFiles.size() && openFiles[slot].node) slot++;
  if (slot == openFiles.size()) openFiles.push_back(OpenFile());
  openFiles[slot].node = node;
  openFiles[slot].position = 0;
  openFiles[slot].writable = writable;
  node->openCount++;
  return (FileHandle)(HANDLE_BASE + slot);
}

}  // namespace

void FileSetWriteLimit(int64_t limit) { writeLimit = limit < 0 ? -1 : limit; }

void FileSetWriteCeiling(int64_t ceiling) { writeCeiling = ceiling < 0 ? -1 : ceiling; }

void MemoryFilesReset(void) {
  nodes.clear();
  openFiles.clear();
  deviceCalls = 0;
}

int MemoryFilesPut(const char *path, const uint8_t *data, size_t size) {
  Resolved resolved;
  if (Resolve(path, &resolved) != 0 || resolved.isRoot || !ParentExists(resolved)) return 0;
  auto found = nodes.find(resolved.key);
  if (found != nodes.end() && (found->second.isFolder || found->second.openCount)) return 0;
  NewNode(resolved, 0)->data.assign(data, data + size);
  return 1;
}

uint32_t MemoryFilesOpenHandles(void) {
  uint32_t count = 0;
  for (const OpenFile &file : openFiles) count += file.node != nullptr;
  return count;
}

uint32_t MemoryFilesDeviceCalls(void) { return deviceCalls; }

void MemoryFilesWalk(void (*visit)(const MemoryFileInfo *info, void *context), void *context) {
  for (const auto &item : nodes) {
    const Node &node = item.second;
    MemoryFileInfo info;
    info.path = node.name.c_str();
    info.isFolder = node.isFolder;
    info.attributes = FileGetAttributes(node.name.c_str());
    info.size = (uint32_t)node.data.size();
    visit(&info, context);
  }
}

FileHandle FileOpen(const char *path, const char *mode) {
  Resolved resolved;
  if (mode[0] == 'h') mode = "r";  // share modes are not modelled
  if ((mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'n') || Resolve(path, &resolved) != 0 || resolved.isRoot)
    return FILE_INVALID;
  Node *node = Find(resolved);
  if (mode[0] == 'r') return node && !node->isFolder ? NewHandle(node, 0) : FILE_INVALID;
  if (resolved.asFolder || !ParentExists(resolved)) return FILE_INVALID;
  // CREATE_NEW: anything of that name, file or folder, refuses it.
  if (mode[0] == 'n') return nodes.count(resolved.key) ? FILE_INVALID : NewHandle(NewNode(resolved, 0), 1);
  // CREATE_ALWAYS: refuses a folder and a read-only file, and a hidden or
  // system file unless asked for those attributes (never, here); empties
  // and re-attributes an existing file even while another handle has it.
  if (node && (node->isFolder || (node->attributes & (FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM))))
    return FILE_INVALID;
  if (node) {
    node->data.clear();
    node->attributes = FILE_ATTR_ARCHIVE;
  } else {
    node = NewNode(resolved, 0);
  }
  return NewHandle(node, 1);
}

int32_t FileRead(void *buffer, int32_t count, FileHandle handle) {
  OpenFile *file = Open(handle);
  if (!file || file->writable || count < 0) return -1;
  const std::vector<uint8_t> &data = file->node->data;
  int64_t available = (int64_t)data.size() - file->position;
  int32_t got = available <= 0 ? 0 : available < count ? (int32_t)available : count;
  if (got > 0) memcpy(buffer, data.data() + file->position, (size_t)got);
  file->position += got;
  return got;
}

int32_t FileWrite(const void *buffer, int32_t count, FileHandle handle) {
  OpenFile *file = Open(handle);
  if (!file || !file->writable || count < 0) return -1;
  if (writeCeiling >= 0 && (writeCeiling -= count) < 0) {
    fprintf(stderr, "FileWrite: past the test write ceiling: a decoder runs away\n");
    abort();
  }
  int32_t allowed = count;
  if (writeLimit >= 0 && writeLimit < allowed) allowed = (int32_t)writeLimit;
  if (file->position + allowed > INT32_MAX) return -1;  // 2 GiB and more: not supported
  std::vector<uint8_t> &data = file->node->data;
  if (data.size() < (size_t)(file->position + allowed)) data.resize((size_t)(file->position + allowed));
  if (allowed > 0) memcpy(data.data() + file->position, buffer, (size_t)allowed);
  file->position += allowed;
  if (writeLimit >= 0) writeLimit -= allowed;
  return allowed;
}

int32_t FileSeek(FileHandle handle, int32_t distance, int method) {
  OpenFile *file = Open(handle);
  if (!file) return -1;
  int64_t base;
  switch (method) {
    case FILE_SEEK_BEGIN: base = 0; break;
    case FILE_SEEK_CURRENT: base = file->position; break;
    case FILE_SEEK_END: base = (int64_t)file->node->data.size(); break;
    default: return -1;
  }
  int64_t position = base + distance;
  if (position < 0 || position > INT32_MAX) return -1;  // ERROR_NEGATIVE_SEEK; 2 GiB and more
  file->position = position;
  return (int32_t)position;
}

int32_t FileSize(FileHandle handle) {
  OpenFile *file = Open(handle);
  return file ? (int32_t)file->node->data.size() : -1;
}

int32_t FileClose(FileHandle handle) {
  OpenFile *file = Open(handle);
  if (!file) return -1;
  file->node->openCount--;
  file->node = nullptr;
  return 0;
}

uint32_t FileDelete(const char *path) {
  Resolved resolved;
  uint32_t error = Resolve(path, &resolved);
  if (error) return error;
  if (resolved.isRoot) return WIN_ERROR_ACCESS_DENIED;
  Node *node = Find(resolved);
  if (!node) return ParentExists(resolved) ? WIN_ERROR_FILE_NOT_FOUND : WIN_ERROR_PATH_NOT_FOUND;
  if (node->isFolder || (node->attributes & FILE_ATTR_READONLY)) return WIN_ERROR_ACCESS_DENIED;
  if (node->openCount) return WIN_ERROR_SHARING_VIOLATION;
  nodes.erase(resolved.key);
  return 0;
}

int32_t FileReplace(const char *from, const char *to) {
  Resolved source, target;
  if (Resolve(from, &source) != 0 || Resolve(to, &target) != 0 || source.isRoot || target.isRoot) return -1;
  Node *node = Find(source);
  // Only files move here; MoveFileExA would move a folder too, which the
  // extractor never asks for.
  if (!node || node->isFolder || node->openCount || !ParentExists(target)) return -1;
  if (source.key == target.key) return 0;
  Node *old = Find(target);
  if (old && (old->isFolder || old->openCount)) return -1;
  Node moved = std::move(*node);
  nodes.erase(source.key);
  moved.name = target.name;
  // As ReplaceFileW: the old file's attributes stay, less the three that
  // guard it (cleared for the replacement), and so do its named streams
  // that the new file does not have.
  if (old) {
    moved.attributes = old->attributes & ~(uint32_t)(FILE_ATTR_READONLY | FILE_ATTR_HIDDEN | FILE_ATTR_SYSTEM);
    for (const auto &stream : old->streams) moved.streams.insert(stream);
  }
  nodes[target.key] = std::move(moved);
  return 0;
}

// The file of "path" for a stream call; null when there is none, or when
// "path:stream" would reach the W calls' path limit.
static Node *StreamFile(const char *path, const char *stream, std::string *key) {
  Resolved resolved;
  if (Utf16Length(path) + 1 + Utf16Length(stream) >= WIN_MAX_PATH || Resolve(path, &resolved) != 0) return nullptr;
  Node *node = Find(resolved);
  if (!node || node->isFolder) return nullptr;
  *key = Fold(stream);
  return node;
}

int32_t FileReadStream(const char *path, const char *stream, void *buffer, int32_t size) {
  std::string key;
  Node *node = StreamFile(path, stream, &key);
  if (!node || size < 0 || !node->streams.count(key)) return -1;
  const std::vector<uint8_t> &data = node->streams[key];
  int32_t got = data.size() < (size_t)size ? (int32_t)data.size() : size;
  if (got > 0) memcpy(buffer, data.data(), (size_t)got);
  return got;
}

int32_t FileWriteStream(const char *path, const char *stream, const void *data, int32_t size) {
  std::string key;
  Node *node = StreamFile(path, stream, &key);
  // A read-only file refuses a stream opened for writing, as on NTFS.
  if (!node || size < 0 || (node->attributes & FILE_ATTR_READONLY)) return -1;
  const uint8_t *bytes = (const uint8_t *)data;
  node->streams[key].assign(bytes, bytes + size);
  return 0;
}

uint32_t FileGetAttributes(const char *path) {
  Resolved resolved;
  if (Resolve(path, &resolved) != 0) return FILE_ATTR_NONE;
  if (resolved.isRoot) return FILE_ATTR_DIRECTORY;
  const Node *node = Find(resolved);
  if (!node) return FILE_ATTR_NONE;
  if (node->isFolder) return FILE_ATTR_DIRECTORY | node->attributes;
  return node->attributes ? node->attributes : (uint32_t)WIN_FILE_ATTRIBUTE_NORMAL;
}

int32_t FileSetAttributes(const char *path, uint32_t attributes) {
  Resolved resolved;
  if (Resolve(path, &resolved) != 0 || resolved.isRoot) return -1;
  Node *node = Find(resolved);
  if (!node) return -1;
  node->attributes = attributes & kStoredAttributes;
  return 0;
}

int32_t CreateFolder(const char *path) {
  Resolved resolved;
  if (Resolve(path, &resolved) != 0 || resolved.isRoot) return -1;
  if (nodes.count(resolved.key) || !ParentExists(resolved)) return -1;  // exists already, or no parent
  NewNode(resolved, 1);
  return 0;
}

int32_t FileSetTime(FileHandle handle, uint16_t dosDate, uint16_t dosTime) {
  FileTime utc;
  if (!DosDateTimeToUtc(dosDate, dosTime, &utc)) return WIN_ERROR_INVALID_PARAMETER;
  OpenFile *file = Open(handle);
  if (!file || !file->writable) return -1;  // SetFileTime needs write access
  file->node->lastWrite = utc;
  return 0;
}
