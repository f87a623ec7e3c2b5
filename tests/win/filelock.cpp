// Holds a file open with a share mode that makes other opens of it fail,
// until a release file appears.
//
// usage: filelock MODE FILE READY RELEASE [TIMEOUT_MS]
//   MODE exclusive: read access, share mode 0. Every other open fails, the
//        system loader's included: a program file locked this way cannot be
//        started at all.
//   MODE delete: DELETE access, sharing reading, writing and deletion. The
//        loader opens a program file sharing deletion and so still starts
//        it; an open that does not share deletion (the stub's "rb", which
//        shares reading and writing only) fails with a sharing violation.
//        This is how a test makes a running SFX file unreadable to itself.
// Opens FILE, then creates READY (so a test knows the lock is in place),
// then waits for RELEASE to exist (at most TIMEOUT_MS, default 120000) and
// closes FILE. Exit code 0 after a release, 1 when FILE could not be opened
// or READY not created, 2 after the timeout, 3 for a wrong usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  bool exclusive = argc >= 2 && !strcmp(argv[1], "exclusive");
  if (argc < 5 || argc > 6 || (!exclusive && strcmp(argv[1], "delete"))) {
    fprintf(stderr, "usage: filelock exclusive|delete FILE READY RELEASE [TIMEOUT_MS]\n");
    return 3;
  }
  const char *path = argv[2];
  const char *readyPath = argv[3];
  const char *releasePath = argv[4];
  int timeout = argc == 6 ? atoi(argv[5]) : 120000;
  HANDLE file = exclusive
      ? CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)
      : CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "filelock: cannot open %s (error %lu)\n", path, GetLastError());
    return 1;
  }
  HANDLE ready = CreateFileA(readyPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "filelock: cannot create %s (error %lu)\n", readyPath, GetLastError());
    return 1;
  }
  CloseHandle(ready);
  int result = 2;
  for (int waited = 0; waited < timeout; waited += 50) {
    if (GetFileAttributesA(releasePath) != INVALID_FILE_ATTRIBUTES) {
      result = 0;
      break;
    }
    Sleep(50);
  }
  CloseHandle(file);
  return result;
}
