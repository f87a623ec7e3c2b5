// Replays a corpus through a fuzz target without libFuzzer: every file named
// on the command line, or every file inside a folder named there, is read
// and handed to LLVMFuzzerTestOneInput once. Exits 1 when no input was found,
// so that a missing corpus cannot pass as a clean run.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int ReplayFile(const std::string &path) {
  FILE *file = fopen(path.c_str(), "rb");
  if (!file) {
    fprintf(stderr, "cannot open %s\n", path.c_str());
    return 0;
  }
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data.insert(data.end(), chunk, chunk + got);
  fclose(file);
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return 1;
}

static int ReplayPath(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return 0;
  if (!S_ISDIR(info.st_mode)) return ReplayFile(path);
  DIR *dir = opendir(path.c_str());
  if (!dir) return 0;
  int count = 0;
  while (struct dirent *item = readdir(dir)) {
    if (item->d_name[0] == '.') continue;
    count += ReplayPath(path + "/" + item->d_name);
  }
  closedir(dir);
  return count;
}

int main(int argc, char **argv) {
  int count = 0;
  for (int i = 1; i < argc; i++) count += ReplayPath(argv[i]);
  printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
