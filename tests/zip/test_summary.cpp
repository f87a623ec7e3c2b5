// Summary texts of every code, byte for byte (Windows-1252, CR LF), the
// counter line, the shortened run file name, and the code-page conversions.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "extractor/zip/codepage.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"
#include "extractor/zip/summary.h"

namespace {

std::string Compose(int32_t code, uint32_t files, uint32_t errors, uint32_t warnings,
                    const char *runFile = "") {
  extraction.errorCode = code;
  counters.filesExtracted = files;
  counters.errorCount = errors;
  counters.warningCount = warnings;
  char message[SUMMARY_TEXT_BUFFER + 8];
  memset(message, 'X', sizeof message);
  uint32_t length = ComposeSummary(message, runFile);
  EXPECT_EQ(strlen(message), length);
  EXPECT_LE(length, SUMMARY_TEXT_BUFFER - 1u);
  for (int i = length; i < SUMMARY_TEXT_BUFFER; i++) EXPECT_EQ(0, message[i]);  // zero-filled
  EXPECT_EQ('X', message[SUMMARY_TEXT_BUFFER]);  // nothing beyond the buffer
  return message;
}

struct SummaryRow {
  int32_t code;
  const char *expected;  // with files 3, warnings 1
  uint32_t errorCount;   // afterwards
};

const SummaryRow kRows[] = {
    {0, "Dateien entpackt: 3   Fehler: 0   Warnungen: 1", 0},
    {2, "\r\nFehler: \r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {5, "\r\nFehler: Der Zugriff auf eine Datei wurde vom System verweigert.\r\n\r\n\r\n"
        "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {8, "\r\nFehler: Zu wenig Speicher.\r\n\r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {101, "\r\nFehler: Diskette oder Festplatte ist voll.\r\n\r\n\r\n"
          "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {2926, "\r\nAbbruch durch Anwender.\r\n\r\nDateien entpackt: 3   Fehler: 0   Warnungen: 1", 0},
    {9961, "\r\nFehler: Das Archiv ist mit einem Pa\xDFwort gesch\xFCtzt.\r\n\r\n\r\n"
           "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9962, "\r\nFehler: Pr\xFC" "fsummenfehler.\r\n\r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9964, "\r\nFehler: Das Archiv enth\xE4lt ung\xFCltige Daten\r\n\r\n\r\n"
           "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9966, "\r\nFehler: Das Archiv ist anscheinend kein g\xFCltiges Archiv.\r\n\r\n\r\n"
           "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9967, "\r\nFehler: Das Archiv verwendet eine Kompressionsmethode, die dieses Programm nicht entpacken kann."
           "\r\n\r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9968, "\r\nFehler: Eine Datei im Archiv ist mit AES verschl\xFCsselt; dieses Programm kann sie nicht entpacken."
           "\r\n\r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {9969, "\r\nFehler: Eine Datei im Archiv ist 2 GB oder gr\xF6\xDF" "er; dieses Programm kann sie nicht entpacken."
           "\r\n\r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
    {1234, "\r\nFehler: \r\n\r\nDateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},  // unknown: prefix alone
    {106, "\r\nFehler: Die Datei 'setup.exe' konnte nicht ausgef\xFChrt werden.\r\n\r\n"
          "Dateien entpackt: 3   Fehler: 1   Warnungen: 1", 1},
};

TEST(Summary, EveryCodeByteForByte) {
  for (const SummaryRow &row : kRows) {
    EXPECT_EQ(std::string(row.expected), Compose(row.code, 3, 0, 1, "C:\\Programme\\Tool\\setup.exe"))
        << "code " << row.code;
    EXPECT_EQ(row.errorCount, counters.errorCount) << "code " << row.code;
  }
}

TEST(Summary, CountersAreUnsignedDecimalsWithoutGrouping) {
  EXPECT_EQ("Dateien entpackt: 4294967295   Fehler: 0   Warnungen: 2", Compose(0, 0xFFFFFFFFu, 0, 2));
  // Every fixed text with the largest counters still fits, counter line whole.
  for (const SummaryRow &row : kRows) {
    std::string big = Compose(row.code, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu);
    EXPECT_NE(std::string::npos, big.find("Warnungen: 4294967295")) << row.code;
  }
}

TEST(Summary, LongRunFileNameIsShortenedAndTheCounterLineSurvives) {
  std::string runFile = "D:\\tools\\" + std::string(240, 'n') + ".exe";
  std::string text = Compose(ERR_RUN_FILE, 12, 0, 0, runFile.c_str());
  EXPECT_EQ(SUMMARY_TEXT_BUFFER - 1u, text.size());
  EXPECT_EQ(0u, text.find("\r\nFehler: Die Datei 'nnnn"));
  EXPECT_NE(std::string::npos, text.find("n...' konnte nicht ausgef\xFChrt werden.\r\n\r\n"));
  EXPECT_EQ(text.size() - strlen("Dateien entpackt: 12   Fehler: 1   Warnungen: 0"),
            text.find("Dateien entpackt: 12   Fehler: 1   Warnungen: 0"));

  // A run file without extension or folders is shown as it is.
  EXPECT_NE(std::string::npos, Compose(ERR_RUN_FILE, 0, 0, 0, "start").find("'start' konnte"));
}

TEST(CodePage, Utf8AndWindows1252BothWays) {
  char text[64];
  strcpy(text, "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xC5\x93");  // grüße € œ
  Utf8ToAnsiInPlace(text);
  EXPECT_STREQ("gr\xFC\xDF" "e \x80 \x9C", text);

  // No 1252 form (CJK, emoji), stray continuation bytes, cut sequences,
  // overlong forms: one replacement each, never "?" (a wildcard on Windows).
  strcpy(text, "a\xE6\x97\xA5" "b\xF0\x9F\x98\x80" "c\x80" "d\xC3" "e\xC0\xAF" "f");
  Utf8ToAnsiInPlace(text);
  EXPECT_STREQ("a_b_c_d_e__f", text);

  char utf8[64];
  EXPECT_EQ(1, AnsiToUtf8("\xC4pfel \x80 \x81", utf8, sizeof utf8));
  EXPECT_STREQ("\xC3\x84pfel \xE2\x82\xAC \xC2\x81", utf8);
  // Cut at a character boundary, terminated.
  EXPECT_EQ(0, AnsiToUtf8("ab\xFC", utf8, 4));
  EXPECT_STREQ("ab", utf8);
}

}  // namespace
