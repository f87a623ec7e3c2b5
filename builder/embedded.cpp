// Locating the Windows programs beside the tool or in the build tree.
#include "builder/embedded.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "builder/build_info.h"  // OSTREL_BUILD_ID, written by the build (git describe)

const char *const kArchName[2] = {"win32", "win64"};

static std::string ToolFolder(void) {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = 0;
  char *slash = strrchr(path, '/');
  if (slash) *slash = 0;
  return path;
}

int FindProgram(SfxArch arch, const char *name, std::string *path, std::string *tried) {
  std::string folder = ToolFolder(), a = kArchName[arch], file = std::string(name) + ".exe";
  std::string candidates[3] = {folder + "/" + a + "/" + file, folder + "/../share/ostrel/" + a + "/" + file,
                               folder + "/../../" + a + "/" + name + "/" + file};
  tried->clear();
  for (const std::string &candidate : candidates) {
    if (access(candidate.c_str(), R_OK) == 0) {
      char resolved[PATH_MAX];
      *path = realpath(candidate.c_str(), resolved) ? resolved : candidate;
      return 1;
    }
    *tried += (tried->empty() ? "" : ", ") + candidate;
  }
  return 0;
}

int ReadFileBytes(const std::string &path, std::vector<uint8_t> *data, std::string *error) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) {
    *error = path + ": " + strerror(errno);
    return 0;
  }
  data->clear();
  // Reserved whole, so that a large file does not pass through twice its size.
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) data->reserve((size_t)info.st_size);
  uint8_t chunk[1 << 16];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data->insert(data->end(), chunk, chunk + got);
  int failed = ferror(file);
  fclose(file);
  if (failed) *error = path + ": read error";
  return !failed;
}

const char *ToolVersion(void) {
  return "ostrel " OSTREL_VERSION " (" OSTREL_BUILD_ID ", "
#if defined(__clang__)
         "clang " __clang_version__
#elif defined(__GNUC__)
         "g++ " __VERSION__
#endif
         ")";
}
