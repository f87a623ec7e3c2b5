// Commands of the native tool. Each takes the arguments after its own name
// (argv[0] is the command name) and returns the process exit code:
// 0 success, 1 failure of the work itself, 2 wrong usage.
#ifndef OSTREL_BUILDER_COMMANDS_H
#define OSTREL_BUILDER_COMMANDS_H

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

typedef int (*CommandFn)(int argc, char **argv);

typedef struct Command {
  const char *name;     // as typed after "ostrel"
  const char *synopsis; // one line for the overview
  CommandFn run;
} Command;

int RunBuild(int argc, char **argv);
int RunInfo(int argc, char **argv);
int RunList(int argc, char **argv);
int RunTest(int argc, char **argv);
int RunPack(int argc, char **argv);
int RunUnpack(int argc, char **argv);
int RunExtract(int argc, char **argv);

#endif
