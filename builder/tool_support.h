// What the native commands share when they talk to a person at the
// terminal or hand paths and passwords to the extraction core.
#ifndef OSTREL_BUILDER_TOOL_SUPPORT_H
#define OSTREL_BUILDER_TOOL_SUPPORT_H

#include <stdint.h>

// out <- a core name or path (UTF-8, backslashes) with '/', control
// characters spelled \xNN so that printing it cannot drive the terminal;
// cut when it does not fit.
void EntryNameUtf8(const char *name, char *out, uint32_t size);
// The same for a settings text (Windows-1252) made UTF-8: backslashes stay.
void PrintableUtf8(const char *ansi, char *out, uint32_t size);

// Reads one line from stdin without its line end; hidden: no echo on a
// terminal. Returns 0 at the end of input.
int ReadAnswer(char *buffer, int size, int hidden);

// core (LONG_PATH_BUFFER bytes) <- the absolute form of a UTF-8 path as a
// core path. Returns 0 (with a message) when it is not valid UTF-8 or is
// longer than the system's path limit.
int ToCorePath(const char *argument, char *core);
// Prints "ostrel COMMAND: PATH: refused: reason" when the last end-record
// search refused a signed file whose certificate table holds bytes the
// signature does not cover (signed_archive.h). Returns 1 when it printed.
int PrintArchiveRefusal(const char *command, const char *path);

// The password callback of the core for the native commands: the password
// given with SetToolPassword first (once), then, on a terminal, asked for.
void SetToolPassword(const char *given);
int ToolAskPassword(int attempt, char *buffer, const char *entryName);

#endif
