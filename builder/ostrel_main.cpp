// ostrel: makes, inspects and unpacks SFX files natively. The first argument
// names the command; everything after it belongs to the command.
#include <stdio.h>
#include <string.h>

#include "builder/commands.h"

static const Command commands[] = {
    // Each command adds its line here when its source file lands.
    {"pack", "pack a file into a packed stage", RunPack},
    {"unpack", "unpack a packed stage", RunUnpack},
    {"extract", "extract an SFX file or a ZIP archive into a folder", RunExtract},
    {nullptr, nullptr, nullptr}};

static void PrintOverview(FILE *out) {
  fprintf(out, "usage: ostrel COMMAND [ARGS]\n\ncommands:\n");
  for (const Command *c = commands; c->name; c++) fprintf(out, "  %-8s %s\n", c->name, c->synopsis);
  fprintf(out, "\n'ostrel COMMAND --help' describes one command.\n");
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
  for (const Command *c = commands; c->name; c++)
    if (!strcmp(argv[1], c->name)) return c->run(argc - 1, argv + 1);
  fprintf(stderr, "ostrel: unknown command '%s'\n\n", argv[1]);
  PrintOverview(stderr);
  return EXIT_USAGE;
}
