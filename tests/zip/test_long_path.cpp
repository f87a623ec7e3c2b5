// LongPathForm: the "\\?\" form Windows needs for paths of 248 characters or
// more, normalised first because the prefix turns off the system's own
// normalisation.
#include <gtest/gtest.h>

#include <string>

#include "extractor/zip/long_path.h"

TEST(LongPath, FormsOfShortAndLongPaths) {
  const std::string deep(250, 'd');  // one component long enough to pass the bound alone
  struct Row {
    const char *label;
    std::string path;
    std::string expected;  // empty: refused
  } rows[] = {
      {"short path copied as it is", "C:\\a\\..\\b/c", "C:\\a\\..\\b/c"},
      {"drive path", "C:\\x\\" + deep, "\\\\?\\C:\\x\\" + deep},
      {"slashes, doubled and dot components", "c:/x//./" + deep + "/", "\\\\?\\c:\\x\\" + deep + "\\"},
      {"dot-dot takes the component before it", "C:\\x\\y\\..\\" + deep, "\\\\?\\C:\\x\\" + deep},
      {"dot-dot above the drive", "C:\\..\\" + deep, ""},
      {"network share", "\\\\server\\share\\" + deep, "\\\\?\\UNC\\server\\share\\" + deep},
      {"dot-dot may not take the share", "\\\\server\\share\\..\\" + deep, ""},
      {"relative", "x\\" + deep, ""},
      {"drive-relative", "C:" + deep, ""},
      {"rooted without drive", "\\" + deep, ""},
      {"prefixed already", "\\\\?\\C:\\x\\..\\" + deep, "\\\\?\\C:\\x\\..\\" + deep},
  };
  for (const Row &row : rows) {
    char out[1024];
    int formed = LongPathForm(row.path.c_str(), out, sizeof out);
    EXPECT_EQ(formed, row.expected.empty() ? 0 : 1) << row.label;
    EXPECT_EQ(std::string(out), row.expected) << row.label;
  }
  // A result that does not fit is refused and leaves out empty.
  char small[300];
  std::string longer = "C:\\" + std::string(400, 'e');
  EXPECT_EQ(LongPathForm(longer.c_str(), small, sizeof small), 0);
  EXPECT_EQ(small[0], 0);
}
