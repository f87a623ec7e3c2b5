// ostrel: makes, inspects and unpacks SFX files natively. The first argument
// names the command; everything after it belongs to the command.
#include <stdio.h>
#include <string.h>

#include <string>

#include "builder/commands.h"
#include "builder/embedded.h"

static const Command commands[] = {
    {"build", "make an SFX file from a folder or a ZIP archive", RunBuild},
    {"info", "show the layout and settings of an SFX file", RunInfo},
    {"list", "list the entries of an SFX file", RunList},
    {"test", "decode every entry of an SFX file and check its CRC", RunTest},
    {"extract", "extract an SFX file or a ZIP archive into a folder", RunExtract},
    {"pack", "pack a file into a packed stage", RunPack},
    {"unpack", "unpack a packed stage", RunUnpack},
    {nullptr, nullptr, nullptr}};

static void PrintOverview(FILE *out) {
  fprintf(out, "usage: ostrel COMMAND [ARGS]\n\ncommands:\n");
  for (const Command *c = commands; c->name; c++) fprintf(out, "  %-8s %s\n", c->name, c->synopsis);
  fprintf(out, "\n'ostrel COMMAND --help' describes one command; 'ostrel --version' names the build.\n");
}

// The tool's version and build, and the Windows programs it would use.
static void PrintVersion(void) {
  printf("%s\n", ToolVersion());
  for (int arch = SFX_ARCH_WIN32; arch <= SFX_ARCH_WIN64; arch++) {
    for (const char *name : {"stub", "extractor"}) {
      std::string path, tried;
      int found = FindProgram((SfxArch)arch, name, &path, &tried);
      printf("  %s %-9s %s\n", kArchName[arch], name, found ? path.c_str() : "not found");
    }
  }
}

int main(int argc, char **argv) {
  if (argc < 2) {
    PrintOverview(stderr);
    return EXIT_USAGE;
  }
  if (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h") || !strcmp(argv[1], "help")) {
    PrintOverview(stdout);
    return EXIT_OK;
  }
  if (!strcmp(argv[1], "--version")) {
    PrintVersion();
    return EXIT_OK;
  }
  for (const Command *c = commands; c->name; c++)
    if (!strcmp(argv[1], c->name)) return c->run(argc - 1, argv + 1);
  fprintf(stderr, "ostrel: unknown command '%s'\n\n", argv[1]);
  PrintOverview(stderr);
  return EXIT_USAGE;
}
