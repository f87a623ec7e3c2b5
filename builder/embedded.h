// The Windows programs an SFX file is made of (stub and extractor, for
// win32 and win64), found without configuration:
//   1. <folder of ostrel>/<arch>/<name>.exe               installed beside the tool
//   2. <folder of ostrel>/../share/ostrel/<arch>/<name>.exe  installed under a prefix
//   3. <folder of ostrel>/../../<arch>/<name>/<name>.exe     the build tree: build/native/builder/ostrel
//                                                         next to build/win32/stub/stub.exe
// --stub and --extractor name other files.
#ifndef OSTREL_BUILDER_EMBEDDED_H
#define OSTREL_BUILDER_EMBEDDED_H

#include <stdint.h>

#include <string>
#include <vector>

typedef enum SfxArch { SFX_ARCH_WIN32, SFX_ARCH_WIN64 } SfxArch;

extern const char *const kArchName[2];  // "win32", "win64"

// Returns 1 with path set to the first candidate that exists; 0 with tried
// listing every candidate looked at. name is "stub" or "extractor".
int FindProgram(SfxArch arch, const char *name, std::string *path, std::string *tried);

// Reads a whole file. Returns 1; 0 with error naming the file and the cause.
int ReadFileBytes(const std::string &path, std::vector<uint8_t> *data, std::string *error);

// The version and build of this tool, one line ("ostrel 0.4.0 (git ..., g++ ...)").
const char *ToolVersion(void);

#endif
