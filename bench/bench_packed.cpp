// Packs real Windows executables with the stage encoder and prints, per
// file, the packed size beside gzip -9 (zlib level 9, gzip wrapper) and
// xz -9 (the xz program, when installed) of the same bytes, and the encode
// and decode throughput. Every stage is decoded again and compared.
//
// usage: bench_packed [--chain N] [--nice N] [--block N] [FILE|FOLDER ...]
// Without files: the project's win32/win64 executables under the build
// folder, plus a spread of PE files that Wine installs.
// Last line: "packed/gzip9: R", R = sum of packed sizes / sum of gzip -9 sizes.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "packed/stage_decoder.h"
#include "packed/stage_encoder.h"
#include "packed/stage_memory.h"

namespace {

const char WINE_DIR[] = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
// Executables and libraries of varied size and kind (GUI programs, C runtime,
// codecs, system libraries).
const char *const WINE_PICKS[] = {"notepad.exe", "regedit.exe", "cmd.exe",       "xcopy.exe",
                                  "winhlp32.exe", "write.exe",  "taskmgr.exe",   "wordpad.exe",
                                  "msvcrt.dll",  "comctl32.dll", "user32.dll",   "kernelbase.dll",
                                  "advpack.dll", "iccvid.dll",  "riched32.dll",  "wing32.dll",
                                  "mf3216.dll",  "midimap.dll"};

bool ReadFile(const std::string &path, std::vector<uint8_t> *data) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) return false;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data->insert(data->end(), chunk, chunk + got);
  fclose(file);
  return true;
}

bool IsFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsExecutableName(const std::string &name) {
  return name.size() > 4 &&
         (name.compare(name.size() - 4, 4, ".exe") == 0 || name.compare(name.size() - 4, 4, ".dll") == 0);
}

// Every .exe/.dll in folder and, up to depth levels below it, in its
// subfolders, except those named in skip.
void AddExecutables(const std::string &folder, std::vector<std::string> *files, int depth,
                    const std::vector<std::string> &skip = {}) {
  DIR *dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> found;
  while (struct dirent *item = readdir(dir)) {
    std::string name = item->d_name;
    if (name[0] == '.' || std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
    std::string path = folder + "/" + name;
    if (IsFolder(path)) {
      if (depth > 0) AddExecutables(path, files, depth - 1, skip);
    } else if (IsExecutableName(name)) {
      found.push_back(path);
    }
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
}

size_t GzipSize(const std::vector<uint8_t> &data) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  std::vector<uint8_t> out(deflateBound(&z, (uLong)data.size()) + 64);
  z.next_in = (Bytef *)data.data();
  z.avail_in = (uInt)data.size();
  z.next_out = out.data();
  z.avail_out = (uInt)out.size();
  int status = deflate(&z, Z_FINISH);
  size_t size = status == Z_STREAM_END ? z.total_out : 0;
  deflateEnd(&z);
  return size;
}

// Size of `xz -9 -c path`, 0 when the program is missing.
size_t XzSize(const std::string &path) {
  std::string command = "xz -9 -c -- '" + path + "' 2>/dev/null";
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return 0;
  size_t total = 0, got;
  char chunk[65536];
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) total += got;
  return pclose(pipe) == 0 ? total : 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char **argv) {
  StageEncodeOptions options = StageEncodeDefaults();
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if ((arg == "--chain" || arg == "--nice" || arg == "--block" || arg == "--prices" ||
         arg == "--passes") && i + 1 < argc) {
      int value = atoi(argv[++i]);
      if (arg == "--chain") options.maxChain = value;
      if (arg == "--nice") options.niceLength = value;
      if (arg == "--block") options.blockSize = value;
      if (arg == "--prices") options.priceMode = value;
      if (arg == "--passes") options.passes = value;
    } else if (IsFolder(arg)) {
      AddExecutables(arg, &files, 3);
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    // The product's own programs (stub, extractor); test helpers, test
    // artifacts and the Wine prefix of the end-to-end tests stay out.
    const std::vector<std::string> skip = {"CMakeFiles", "tests", "e2e", "e2e-artifacts"};
    AddExecutables(std::string(OSTREL_BINARY_DIR) + "/../win32", &files, 1, skip);
    AddExecutables(std::string(OSTREL_BINARY_DIR) + "/../win64", &files, 1, skip);
    for (const char *name : WINE_PICKS) {
      std::string path = std::string(WINE_DIR) + "/" + name;
      struct stat info;
      if (stat(path.c_str(), &info) == 0) files.push_back(path);
    }
  }
  if (files.empty()) {
    fprintf(stderr, "bench_packed: no executables found; name files or folders\n");
    return 1;
  }
  printf("%-28s %10s %10s %10s %10s %8s %9s %9s\n", "file", "original", "packed", "gzip-9", "xz-9",
         "pk/gz", "enc MB/s", "dec MB/s");
  unsigned long long sumOriginal = 0, sumPacked = 0, sumGzip = 0, sumXz = 0;
  unsigned long long smallPacked = 0, smallGzip = 0;  // files below 1 MB, the size of the real payloads
  int failures = 0;
  for (const std::string &path : files) {
    std::vector<uint8_t> data;
    if (!ReadFile(path, &data) || data.empty()) continue;
    std::vector<uint8_t> stage;
    auto start = std::chrono::steady_clock::now();
    if (!EncodeStage(data.data(), data.size(), &options, &stage)) {
      printf("%s: encoder refused\n", path.c_str());
      failures++;
      continue;
    }
    double encodeTime = Seconds(start);
    std::vector<uint8_t> image;
    StageResult result;
    start = std::chrono::steady_clock::now();
    int ok = DecodeStageInMemory(stage.data(), stage.size(), &image, &result);
    double decodeTime = Seconds(start);
    if (!ok || image != data) {
      printf("%s: ROUND TRIP FAILED\n", path.c_str());
      failures++;
      continue;
    }
    size_t gzip = GzipSize(data);
    size_t xz = XzSize(path);
    // Folder and name, so that the win32 and win64 builds of a program differ.
    size_t slash = path.find_last_of('/');
    size_t folder = slash == std::string::npos || slash == 0 ? std::string::npos : path.find_last_of('/', slash - 1);
    std::string name = folder == std::string::npos ? path : path.substr(folder + 1);
    if (path.find("win32/") != std::string::npos) name = "win32:" + name;
    if (path.find("win64/") != std::string::npos) name = "win64:" + name;
    if (name.size() > 28) name = name.substr(name.size() - 28);
    double mb = (double)data.size() / 1e6;
    printf("%-28s %10zu %10zu %10zu %10zu %8.4f %9.2f %9.2f\n", name.c_str(), data.size(), stage.size(), gzip, xz,
           (double)stage.size() / (double)gzip, mb / encodeTime, mb / decodeTime);
    fflush(stdout);
    sumOriginal += data.size();
    sumPacked += stage.size();
    sumGzip += gzip;
    sumXz += xz;
    if (data.size() < 1000000) {
      smallPacked += stage.size();
      smallGzip += gzip;
    }
  }
  printf("%-28s %10llu %10llu %10llu %10llu\n", "total", sumOriginal, sumPacked, sumGzip, sumXz);
  printf("options: chain %d, nice %d, block %d; %d failures\n", options.maxChain, options.niceLength,
         options.blockSize, failures);
  printf("packed/xz9: %.4f; packed/gzip9 of files below 1 MB: %.4f\n", sumXz ? (double)sumPacked / (double)sumXz : 0.0,
         smallGzip ? (double)smallPacked / (double)smallGzip : 0.0);
  printf("packed/gzip9: %.4f\n", sumGzip ? (double)sumPacked / (double)sumGzip : 0.0);
  return failures ? 1 : 0;
}
