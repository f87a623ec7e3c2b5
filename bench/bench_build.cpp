// ostrel build beside Info-ZIP zip, measured in the same run.
//  1. SFX overhead: the example folder built for win32 and win64; stub and
//     packed stage (what the SFX file adds to a ZIP archive) beside the
//     archive itself.
//  2. Build time: a folder of 2,000 files of mixed kinds, "ostrel build"
//     against "zip -r -9" of the same folder, each several times, fastest
//     run kept; the CPU time (user + system) is shown as well, since a
//     shared machine makes wall times noisy. --fast (zlib alone) is
//     measured too: the default's libdeflate level 9 is most of its time.
//     ostrel spreads the files over all cores and zip uses one, so the wall
//     ratios depend on the number of cores, which is printed with them.
// The last line is "build wall ours/zip-9: R", R = the default's wall time
// over zip -9's (goal on two cores: at most 1.0).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

enum { RUNS = 3, FILES = 2000 };

static void Die(const char *what) {
  fprintf(stderr, "bench_build: %s\n", what);
  exit(1);
}

static std::string Quote(const std::string &text) { return "'" + text + "'"; }

static uint32_t state = 4711;
static uint32_t Next() { return state = state * 1664525u + 1013904223u; }

// Kinds: German prose, numbers, noise, runs.
static void MakeFolder(const std::string &root) {
  static const char *words[] = {"Die ", "Datei ", "wurde ", "entpackt ", "und ", "\xC3\xBC" "berschrieben ",
                                "Ordner ", "Stra\xC3\x9F" "e ", "K\xC3\xB6ln ", "\n"};
  for (int i = 0; i < FILES; i++) {
    std::string folder = root + "/ordner" + std::to_string(i % 40) + "/teil" + std::to_string(i % 7);
    if (i < 280 && system(("mkdir -p " + Quote(folder)).c_str()) != 0) Die("cannot make the sample folder");
    size_t size = 100 + Next() % (i % 50 == 0 ? 300000 : 20000);
    std::string data;
    int kind = i % 4;
    while (data.size() < size) {
      uint32_t r = Next();
      if (kind == 0) data += words[(r >> 16) % (sizeof words / sizeof words[0])];
      else if (kind == 1) data += std::to_string(r % 1000003) + "\n";
      else if (kind == 2) data += (char)(r >> 24);
      else data.append(1 + (r >> 24) % 200, (char)(r >> 8));
    }
    FILE *file = fopen((folder + "/datei" + std::to_string(i) + ".dat").c_str(), "wb");
    if (!file) Die("cannot write the sample files");
    fwrite(data.data(), 1, size, file);
    fclose(file);
  }
}

typedef struct Timing {
  double wall;  // seconds
  double cpu;   // user + system seconds of the child
} Timing;

static Timing Timed(const std::string &command) {
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>&1").c_str(), (char *)nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) Die("cannot run a command");
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(("failed: " + command).c_str());
  Timing t;
  t.wall = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
  t.cpu = (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + (double)usage.ru_stime.tv_sec +
          usage.ru_stime.tv_usec / 1e6;
  return t;
}

static long long SizeOf(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (long long)info.st_size : -1;
}

int main() {
  std::string work = std::string(OSTREL_BINARY_DIR) + "/bench-build";
  std::string ostrel = std::string(OSTREL_BINARY_DIR) + "/builder/ostrel";
  std::string examples = std::string(OSTREL_SOURCE_DIR) + "/examples";
  if (system(("rm -rf " + Quote(work) + " && mkdir -p " + Quote(work)).c_str()) != 0) Die("no work folder");

  printf("SFX overhead for the example folder (stub + packed stage, beside the archive):\n");
  for (const char *arch : {"win32", "win64"}) {
    std::string sfx = work + "/beispiel-" + arch + ".exe", report = work + "/report.txt";
    std::string command = Quote(ostrel) + " build --arch " + arch + " -o " + Quote(sfx) + " " + Quote(examples) +
                          " >" + Quote(report) + " 2>&1";
    if (system(command.c_str()) != 0) {
      printf("  %s: not built (no %s stub or extractor; run scripts/setup)\n", arch, arch);
      continue;
    }
    FILE *file = fopen(report.c_str(), "r");
    char line[512] = "";
    if (!file || !fgets(line, sizeof line, file)) Die("no report from ostrel build");
    fclose(file);
    long long stage = 0, archive = 0;
    const char *figures = strstr(line, "(stub 8192, stage ");
    if (!figures || sscanf(figures, "(stub 8192, stage %lld, archive %lld)", &stage, &archive) != 2)
      Die("unexpected report from ostrel build");
    printf("  %s: overhead %lld bytes (stub 8192 + stage %lld), archive %lld bytes, SFX %lld bytes\n", arch,
           8192 + stage, stage, archive, SizeOf(sfx));
  }

  std::string folder = work + "/sample";
  MakeFolder(folder);
  std::string sfx = work + "/sample.exe", zip = work + "/sample.zip";
  // The programs of whichever architecture exists; the stage encoding is part of the time.
  std::string arch = system((Quote(ostrel) + " build -q --arch win32 -o " + Quote(sfx) + " " + Quote(examples) +
                             " >/dev/null 2>&1").c_str()) == 0 ? "win32" : "win64";
  std::string fastSfx = work + "/sample-fast.exe";
  Timing ours = {1e9, 1e9}, fast = {1e9, 1e9}, theirs = {1e9, 1e9};
  for (int run = 0; run < RUNS; run++) {
    remove(zip.c_str());
    Timing t = Timed(Quote(ostrel) + " build -q --arch " + arch + " -o " + Quote(sfx) + " " + Quote(folder));
    if (t.wall < ours.wall) ours = t;
    t = Timed(Quote(ostrel) + " build -q --fast --arch " + arch + " -o " + Quote(fastSfx) + " " + Quote(folder));
    if (t.wall < fast.wall) fast = t;
    t = Timed("cd " + Quote(folder) + " && zip -q -r -9 " + Quote(zip) + " .");
    if (t.wall < theirs.wall) theirs = t;
  }
  long long total = 0;
  FILE *pipe = popen(("du -sb " + Quote(folder)).c_str(), "r");
  if (!pipe || fscanf(pipe, "%lld", &total) != 1) total = 0;
  if (pipe) pclose(pipe);
  printf("%d files, %lld bytes on disk:\n", FILES, total);
  printf("  ostrel build  %9lld bytes  %7.3f s  cpu %7.3f s\n", SizeOf(sfx), ours.wall, ours.cpu);
  printf("  ... --fast    %9lld bytes  %7.3f s  cpu %7.3f s\n", SizeOf(fastSfx), fast.wall, fast.cpu);
  printf("  zip -r -9     %9lld bytes  %7.3f s  cpu %7.3f s\n", SizeOf(zip), theirs.wall, theirs.cpu);
  printf("cores: %u\n", std::thread::hardware_concurrency());
  printf("build --fast ours/zip: %.2f\n", fast.wall / theirs.wall);
  printf("build cpu ours/zip: %.2f\n", ours.cpu / theirs.cpu);
  printf("build wall ours/zip-9: %.2f\n", ours.wall / theirs.wall);
  return 0;
}
