// Every German text the extractor's code shows, in one table (the dialog
// templates hold their own texts in extractor/resources/extractor.rc).
// Windows-1252 bytes, written as escapes in texts.cpp so that the source's
// own encoding cannot change them.
#ifndef OSTREL_UI_TEXTS_H
#define OSTREL_UI_TEXTS_H

extern const char kTitleFormat[];         // main dialog title, %s = SFX file name
extern const char kHelpCaption[];         // "Hilfe"
extern const char kHelpText[];            // three lines, CR LF
extern const char kInfoCaption[];         // "Information"
extern const char kInfoText[];            // built-in Info text, LF lines
extern const char kNoticeCaption[];       // "Hinweis": summary and intro default
extern const char kWarningCaption[];      // "Warnung"
extern const char kCrcWarningFormat[];    // %s = entry name and extension
extern const char kReplaceHeader[];       // FormatMessage: %1 = existing name
extern const char kReplaceQuestion[];     // "Möchten Sie die existierende Datei"
extern const char kReplaceWith[];         // "mit dieser ersetzen?"
extern const char kDescribeKb[];          // FormatMessage: %1 date, %2 time, %3!d! size
extern const char kDescribeBytes[];
extern const char kFolderTitle[];         // "Verzeichnis wählen"
extern const char kFolderDummyName[];     // "123.123"
extern const char kProgramCaption[];      // "Ostrel Self Extractor"
extern const char kNoTailText[];          // started without a valid settings tail

#endif
