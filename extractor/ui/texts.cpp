// The extractor's German texts (\xE4 ä, \xF6 ö, \xFC ü, \xDF ß).
#include "extractor/ui/texts.h"

const char kTitleFormat[] = "Ostrel Self Extractor - %s";
const char kHelpCaption[] = "Hilfe";
const char kHelpText[] =
    "Klicken Sie auf die Schaltfl\xE4" "che 'Entpacken', um alle Dateien dieses Archivs zu extrahieren.\r\n"
    "Alle Dateien werden in den in 'Zielordner' angegebenen Ordner entpackt. Sofern dieser\r\n"
    "Ordner noch nicht existiert, wird er erzeugt.";
const char kInfoCaption[] = "Information";
const char kInfoText[] =
    "Dieses SFX-Archiv wurde mit der Ostrel-Technologie erzeugt.\n"
    "\n"
    "Informationen \xFC" "ber diese Technologie und \xFC" "ber Anwendungen,\n"
    "die diese Technologie nutzen, erhalten Sie unter\n"
    "\n"
    "\thttps://ostrel.example.org/\n"
    "\n"
    "Anfragen richten Sie bitte per E-Mail an\n"
    "\n"
    "\tkontakt@ostrel.example.org\n"
    "\n"
    "Ostrel Self Extractor ist freie Software.\n"
    "Vielen Dank, dass Sie es verwenden.";
const char kNoticeCaption[] = "Hinweis";
const char kWarningCaption[] = "Warnung";
const char kCrcWarningFormat[] = "Falscher CRC! Die Datei %s ist moeglicherweise beschaedigt!";
const char kReplaceHeader[] = "Dieser Ordner enth\xE4lt bereits eine Datei namens '%1'.";
const char kReplaceQuestion[] = "M\xF6" "chten Sie die existierende Datei";
const char kReplaceWith[] = "mit dieser ersetzen?";
const char kDescribeKb[] = "%3!d! KB\nge\xE4ndert am %1, %2";
const char kDescribeBytes[] = "%3!d! Bytes\nge\xE4ndert am %1, %2";
const char kFolderTitle[] = "Verzeichnis w\xE4hlen";
const char kFolderDummyName[] = "123.123";
const char kProgramCaption[] = "Ostrel Self Extractor";
const char kNoTailText[] =
    "Dieses Programm ist der Entpacker eines selbstentpackenden Archivs und kann nicht "
    "allein gestartet werden. Bitte starten Sie die SFX-Datei selbst.";
