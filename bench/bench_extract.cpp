// Extraction speed beside Info-ZIP unzip, measured in the same run: the
// same archives (made by Info-ZIP zip) extracted by "ostrel extract" and by
// "unzip -o -q" into fresh folders, each several times, least CPU time kept.
//   many.zip   a few hundred files of mixed kinds in nested folders
//   large.zip  one large file of mixed compressible content
//   small.zip  2,000 files of 1 to 20 KB in 20 folders (per-file costs:
//              system calls, temporary name and replace, times, attributes)
// The last line is "extract ours/unzip: R", R = our total time over unzip's.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

extern char **environ;

enum { RUNS = 5 };

static std::string work;

static void Die(const char *what) {
  fprintf(stderr, "bench_extract: %s\n", what);
  exit(1);
}

static int Shell(const std::string &command) {
  int status = system(command.c_str());
  return status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

static void WriteFile(const std::string &path, const std::vector<unsigned char> &data) {
  FILE *file = fopen(path.c_str(), "wb");
  if (!file) Die("cannot write the sample files");
  if (!data.empty()) fwrite(data.data(), 1, data.size(), file);
  fclose(file);
}

static uint32_t state = 12345;
static uint32_t Next() { return state = state * 1664525u + 1013904223u; }

// Kinds: German prose (compresses well), numbers (medium), noise (does not
// compress), runs (compresses extremely), empty.
static std::vector<unsigned char> Sample(int kind, size_t size) {
  static const char *words[] = {"Die ", "Datei ", "wurde ", "entpackt ", "und ", "\xC3\xBC" "berschrieben ",
                                "Ordner ", "Stra\xC3\x9F" "e ", "K\xC3\xB6ln ", "\n"};
  std::vector<unsigned char> out;
  out.reserve(size);
  while (out.size() < size) {
    uint32_t r = Next();
    switch (kind) {
      case 0: for (const char *w = words[(r >> 16) % (sizeof words / sizeof words[0])]; *w; w++) out.push_back((unsigned char)*w); break;
      case 1: { char number[16]; int n = snprintf(number, sizeof number, "%u\n", r % 1000003); out.insert(out.end(), number, number + n); break; }
      case 2: out.push_back((unsigned char)(r >> 24)); break;
      default: out.insert(out.end(), 1 + (r >> 24) % 200, (unsigned char)(r >> 8)); break;
    }
  }
  out.resize(size);
  return out;
}

static void MakeSamples() {
  std::string many = work + "/many";
  for (int i = 0; i < 400; i++) {
    std::string folder = many + "/ordner" + std::to_string(i % 12) + "/teil" + std::to_string(i % 5);
    Shell("mkdir -p '" + folder + "'");
    int kind = i % 5;
    size_t size = kind == 4 ? 0 : 200 + Next() % (i % 7 == 0 ? 400000 : 40000);
    WriteFile(folder + "/datei" + std::to_string(i) + (kind == 2 ? ".bin" : ".txt"), Sample(kind == 4 ? 0 : kind, size));
  }
  std::string small = work + "/small";
  for (int i = 0; i < 2000; i++) {
    std::string folder = small + "/teil" + std::to_string(i % 20);
    if (i < 20) Shell("mkdir -p '" + folder + "'");
    size_t size = 1000 + Next() % 19001;
    WriteFile(folder + "/klein" + std::to_string(i) + ".txt", Sample(i % 4, size));
  }
  std::string large = work + "/large";
  Shell("mkdir -p '" + large + "'");
  std::vector<unsigned char> big;
  for (int part = 0; part < 48; part++) {
    std::vector<unsigned char> piece = Sample(part % 4, 1 << 20);
    big.insert(big.end(), piece.begin(), piece.end());
  }
  WriteFile(large + "/gross.dat", big);
  if (Shell("cd '" + many + "' && zip -q -r ../many.zip .") != 0 || Shell("cd '" + large + "' && zip -q -r ../large.zip .") != 0 ||
      Shell("cd '" + small + "' && zip -q -r ../small.zip .") != 0)
    Die("zip failed (is Info-ZIP zip installed?)");
}


// Runs argv with stdout and stderr on /dev/null; returns the CPU time the
// program used (user and system, so its file system calls count). On a
// machine shared with other jobs this varies far less than the wall clock.
static double Timed(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) Die("cannot start a program");
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  double elapsed = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(("failed: " + args[0] + " " + args[1]).c_str());
  return elapsed;
}

int main() {
  std::string pattern = std::string(OSTREL_BINARY_DIR) + "/bench-extract-XXXXXX";  // scratch stays in the build tree
  if (!mkdtemp(&pattern[0])) Die("no temporary folder");
  work = pattern;
  printf("generating samples in %s\n", work.c_str());
  MakeSamples();
  std::string ostrel = std::string(OSTREL_BINARY_DIR) + "/builder/ostrel";

  double oursTotal = 0, unzipTotal = 0;
  for (const char *archive : {"many.zip", "large.zip", "small.zip"}) {
    std::string path = work + "/" + archive;
    // Every run into fresh folders, removed only after the last run: a file
    // system that has just deleted thousands of files spends more time
    // finding room for new ones (ext4 skips recently freed inodes), which
    // would measure the deletion rather than the extraction. The order of
    // the two programs alternates.
    std::string ours, theirs;
    double bestOurs = 1e9, bestUnzip = 1e9;
    for (int run = 0; run < RUNS; run++) {
      ours = work + "/out-ours" + std::to_string(run);
      theirs = work + "/out-unzip" + std::to_string(run);
      for (int turn = 0; turn < 2; turn++) {
        if ((turn ^ run) & 1) {
          bestUnzip = std::min(bestUnzip, Timed({"unzip", "-o", "-q", path, "-d", theirs}));
        } else {
          bestOurs = std::min(bestOurs, Timed({ostrel, "extract", path, ours}));
        }
      }
    }
    if (Shell("diff -r '" + ours + "' '" + theirs + "' >/dev/null") != 0) Die("the two extractions differ");
    Shell("rm -rf '" + work + "'/out-*");
    struct stat info;
    stat(path.c_str(), &info);
    printf("%-10s %9lld bytes   ours %7.3f s   unzip %7.3f s   ratio %.2f\n", archive, (long long)info.st_size,
           bestOurs, bestUnzip, bestOurs / bestUnzip);
    oursTotal += bestOurs;
    unzipTotal += bestUnzip;
  }
  Shell("rm -rf '" + work + "'");
  printf("total      ours %.3f s   unzip %.3f s (CPU time, least of %d runs each)\n", oursTotal, unzipTotal, RUNS);
  printf("extract ours/unzip: %.2f\n", oursTotal / unzipTotal);
  return 0;
}
