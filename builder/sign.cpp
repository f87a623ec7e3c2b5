// Signing through osslsigncode, run as a child process with its output
// kept for the error message.
#include "builder/sign.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "builder/zip_writer.h"

enum { SIGN_ROUNDS = 3 };  // the first signing measures; a differing size gets one more try

// Runs osslsigncode sign. Returns 1 when it exited with 0; 0 with error
// holding its output.
static int RunSigner(const std::vector<std::string> &args, std::string *error) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return (*error = strerror(errno), 0);
  pid_t child = fork();
  if (child < 0) return (*error = strerror(errno), 0);
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back((char *)arg.c_str());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    fprintf(stderr, "cannot run %s: %s (install the Debian package osslsigncode)\n", argv[0], strerror(errno));
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string output;
  char chunk[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))
    if (got > 0) output.append(chunk, (size_t)got);
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 1;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  *error = "signing failed: " + output;
  return 0;
}

static int64_t FileSize(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? (int64_t)info.st_size : -1;
}

static int SetCommentLength(FILE *file, int64_t at, int64_t length) {
  uint8_t field[2];
  PutLe16(field, (uint16_t)length);
  return fseeko(file, (off_t)at, SEEK_SET) == 0 && fwrite(field, 1, 2, file) == 2 && fflush(file) == 0;
}

int SignOutput(SfxOutput *output, const std::string &cert, const std::string &key, int64_t signingTime,
               std::string *error) {
  if (fflush(output->file) != 0) return (*error = strerror(errno), 0);
  int64_t unsignedSize = FileSize(output->temp);
  int64_t lengthField = unsignedSize - 2;  // the end record's comment length, last field of the file
  std::string signedPath = output->temp + ".signed";
  std::vector<std::string> args = {"osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256"};
  if (signingTime >= 0) {
    args.push_back("-time");
    args.push_back(std::to_string(signingTime));
  }
  args.push_back("-in");
  args.push_back(output->temp);
  args.push_back("-out");
  args.push_back(signedPath);
  int64_t covered = 0;  // what the comment length says now
  for (int round = 0; round < SIGN_ROUNDS; round++) {
    remove(signedPath.c_str());
    if (!RunSigner(args, error)) return remove(signedPath.c_str()), 0;
    int64_t appended = FileSize(signedPath) - unsignedSize;
    if (appended < 0 || appended > 0xFFFF) {
      remove(signedPath.c_str());
      return (*error = "the signature takes " + std::to_string(appended) + " bytes; a ZIP comment holds 65535", 0);
    }
    if (appended == covered && round > 0) {
      fclose(output->file);
      output->file = nullptr;
      if (rename(signedPath.c_str(), output->temp.c_str()) != 0) return (*error = strerror(errno), 0);
      output->file = fopen(output->temp.c_str(), "rb+");
      return output->file ? 1 : (*error = strerror(errno), 0);
    }
    covered = appended;
    if (!SetCommentLength(output->file, lengthField, covered)) return (*error = strerror(errno), 0);
  }
  remove(signedPath.c_str());
  return (*error = "the signature's size changed with every signing", 0);
}
