// Test payload for the end-to-end tests: packed as the stage of a test SFX
// file, it stands in for the extractor and records what the stub handed it.
//
// Environment (inherited from the test through the stub, which passes its
// own environment on):
//   OSTREL_PAYLOAD_REPORT  file to write the report to (required)
//   OSTREL_PAYLOAD_EXIT    exit code to end with (decimal, default 0)
//   OSTREL_PAYLOAD_HOLD    when set, a file whose appearance the payload
//                          waits for (at most 120 s) before it exits, so
//                          that the test can look at the running state
//
// Report: lines "key=value", values of paths and texts in hex so that the
// test can compare them byte for byte (Windows-1252):
//   commandLineHex  GetCommandLineA()
//   modulePathHex   GetModuleFileNameA(NULL)
//   tempFolderHex   GetTempPathA(), the user's temporary folder
//   currentFolderHex GetCurrentDirectoryA(), the folder it was started in
//   imageSize       size of the file named by modulePath, while running
//   tailLength      the file's last 2 bytes, low byte first (the trailer's L)
//   tailPathHex     the L bytes in front of them (the trailer's path)
//   tailBytesHex    the file's last 2 bytes as stored
// The report is written to "<report>.part" and then renamed, so a test that
// sees the report sees all of it.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static std::string Hex(const char *data, size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; i++) {
    unsigned char value = (unsigned char)data[i];
    out += digits[value >> 4];
    out += digits[value & 15];
  }
  return out;
}

static std::string Environment(const char *name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// Reads the whole image file; the loader holds it open for execution, so
// the open shares reading, writing and deletion.
static bool ReadImage(const char *path, std::vector<char> *data) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, NULL);
  data->resize(size);
  DWORD got = 0;
  bool ok = size == INVALID_FILE_SIZE ? false : (size == 0 || (ReadFile(file, data->data(), size, &got, NULL) && got == size));
  CloseHandle(file);
  return ok;
}

static std::string Report() {
  std::string out;
  const char *commandLine = GetCommandLineA();
  out += "commandLineHex=" + Hex(commandLine, strlen(commandLine)) + "\n";
  char modulePath[MAX_PATH + 1];
  DWORD pathLength = GetModuleFileNameA(NULL, modulePath, sizeof modulePath);
  out += "modulePathHex=" + Hex(modulePath, pathLength) + "\n";
  char tempFolder[MAX_PATH + 1];
  DWORD folderLength = GetTempPathA(sizeof tempFolder, tempFolder);
  if (folderLength > sizeof tempFolder) folderLength = 0;
  out += "tempFolderHex=" + Hex(tempFolder, folderLength) + "\n";
  char currentFolder[MAX_PATH + 1];
  DWORD currentLength = GetCurrentDirectoryA(sizeof currentFolder, currentFolder);
  if (currentLength > sizeof currentFolder) currentLength = 0;
  out += "currentFolderHex=" + Hex(currentFolder, currentLength) + "\n";
  std::vector<char> image;
  if (!ReadImage(modulePath, &image)) {
    out += "imageError=" + std::to_string(GetLastError()) + "\n";
    return out;
  }
  out += "imageSize=" + std::to_string(image.size()) + "\n";
  if (image.size() >= 2) {
    size_t size = image.size();
    unsigned length = (unsigned char)image[size - 2] | (unsigned char)image[size - 1] << 8;
    out += "tailLength=" + std::to_string(length) + "\n";
    out += "tailBytesHex=" + Hex(&image[size - 2], 2) + "\n";
    if (length + 2 <= size) out += "tailPathHex=" + Hex(&image[size - 2 - length], length) + "\n";
  }
  return out;
}

static bool WriteReport(const std::string &path, const std::string &text) {
  std::string part = path + ".part";
  FILE *file = fopen(part.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = fclose(file) == 0 && ok;
  return ok && MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string reportPath = Environment("OSTREL_PAYLOAD_REPORT");
  if (reportPath.empty()) return 3;
  if (!WriteReport(reportPath, Report())) return 4;
  std::string hold = Environment("OSTREL_PAYLOAD_HOLD");
  if (!hold.empty()) {
    for (int waited = 0; waited < 120000; waited += 50) {
      if (GetFileAttributesA(hold.c_str()) != INVALID_FILE_ATTRIBUTES) break;
      Sleep(50);
    }
  }
  std::string exitCode = Environment("OSTREL_PAYLOAD_EXIT");
  return exitCode.empty() ? 0 : atoi(exitCode.c_str());
}
