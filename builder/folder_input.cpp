// Scanning a folder as the input of `ostrel build`: names, times and
// attributes of every file and folder below it, in a stable order. The
// files are read and compressed later, one at a time, while writing.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>

#include "builder/build_input.h"

enum {
  DOS_ATTR_READONLY = 0x01,
  DOS_ATTR_DIRECTORY = 0x10,
  DOS_ATTR_ARCHIVE = 0x20,
  MADE_BY_UNIX = (ZIP_HOST_UNIX << 8) | 30,  // Unix host, APPNOTE 3.0: the mode is in the high 16 bits
  FOLDER_DEPTH_MAX = 128                     // deeper chains cannot fit a 259-byte name anyway
};

void UnixToDosTime(int64_t when, int utc, uint16_t *date, uint16_t *time) {
  time_t t = (time_t)when;
  struct tm parts;
  if (!(utc ? gmtime_r(&t, &parts) : localtime_r(&t, &parts)) || parts.tm_year < 80) {
    *date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, the first DOS date
    *time = 0;
    return;
  }
  if (parts.tm_year > 207) {
    *date = (127 << 9) | (12 << 5) | 31;
    *time = (23 << 11) | (59 << 5) | 29;
    return;
  }
  *date = (uint16_t)(((parts.tm_year - 80) << 9) | ((parts.tm_mon + 1) << 5) | parts.tm_mday);
  // DOS keeps seconds in units of two; an odd second is rounded down.
  *time = (uint16_t)((parts.tm_hour << 11) | (parts.tm_min << 5) | (parts.tm_sec / 2));
}

static void FillRecord(SourceEntry *entry, const std::string &name, const struct stat *info,
                       int64_t epochTime) {
  ZipEntryRecord &r = entry->record;
  r.name = name;
  r.localExtra.clear();
  r.centralExtra.clear();
  r.comment.clear();
  r.versionMadeBy = MADE_BY_UNIX;
  r.versionNeeded = ZIP_VERSION_DEFLATE;
  r.flags = ZIP_FLAG_UTF8;
  r.method = ZIP_METHOD_STORED;
  int64_t when = epochTime >= 0 && (int64_t)info->st_mtime > epochTime ? epochTime : (int64_t)info->st_mtime;
  // Times clamped to SOURCE_DATE_EPOCH are written in UTC, so that the bytes
  // do not depend on the time zone of the machine that builds.
  UnixToDosTime(when, epochTime >= 0, &r.date, &r.time);
  r.crc32 = 0;
  r.compressedSize = 0;
  r.uncompressedSize = 0;
  r.internalAttributes = 0;
  uint32_t dos = S_ISDIR(info->st_mode) ? DOS_ATTR_DIRECTORY : DOS_ATTR_ARCHIVE;
  if (!(info->st_mode & S_IWUSR)) dos |= DOS_ATTR_READONLY;
  // The mode as Info-ZIP stores it: type and permission bits, no owner.
  uint32_t mode = (info->st_mode & 07777) | (S_ISDIR(info->st_mode) ? S_IFDIR : S_IFREG);
  r.externalAttributes = (mode << 16) | dos;
  entry->path.clear();
  entry->dataOffset = 0;
  entry->fileSize = S_ISREG(info->st_mode) ? (uint64_t)info->st_size : 0;
  entry->sourceCompressed = 0;
  entry->sourceUncompressed = entry->fileSize;
  entry->isFolder = S_ISDIR(info->st_mode);
}

// Appends the entries below folder (disk path) whose names start with prefix.
static int ScanLevel(const std::string &folder, const std::string &prefix, int depth, int64_t epochTime,
                     std::vector<SourceEntry> *entries, std::string *error) {
  if (depth > FOLDER_DEPTH_MAX) {
    *error = folder + ": folders nested deeper than " + std::to_string((int)FOLDER_DEPTH_MAX) + " levels";
    return 0;
  }
  DIR *dir = opendir(folder.c_str());
  if (!dir) {
    *error = folder + ": " + strerror(errno);
    return 0;
  }
  std::vector<std::string> names;
  errno = 0;
  for (struct dirent *item; (item = readdir(dir)) != nullptr; errno = 0)
    if (strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0) names.push_back(item->d_name);
  int failed = errno;
  closedir(dir);
  if (failed) {
    *error = folder + ": " + strerror(failed);
    return 0;
  }
  // Byte order, whatever the locale and the order of the directory on disk.
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string path = folder + "/" + name;
    struct stat link, info;
    if (lstat(path.c_str(), &link) != 0 || stat(path.c_str(), &info) != 0) {
      *error = path + ": " + strerror(errno);
      return 0;
    }
    if (S_ISLNK(link.st_mode) && S_ISDIR(info.st_mode)) {
      *error = path + ": a symbolic link to a folder; copy the folder in its place";
      return 0;
    }
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
      *error = path + ": neither a file nor a folder (device, pipe or socket)";
      return 0;
    }
    SourceEntry entry;
    FillRecord(&entry, prefix + name + (S_ISDIR(info.st_mode) ? "/" : ""), &info, epochTime);
    if (S_ISDIR(info.st_mode)) {
      entries->push_back(entry);
      if (!ScanLevel(path, entry.record.name, depth + 1, epochTime, entries, error)) return 0;
    } else {
      entry.path = path;
      entries->push_back(entry);
    }
  }
  return 1;
}

int ScanFolderInput(const std::string &root, int64_t epochTime, std::vector<SourceEntry> *entries,
                    std::string *error) {
  entries->clear();
  std::string folder = root;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return ScanLevel(folder, "", 0, epochTime, entries, error);
}
