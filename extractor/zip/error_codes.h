// The run's failure codes. A failure writes one of these into
// ExtractionState.errorCode and returns; nothing is shown at the point of
// failure. Only the top layer (summary box, native tool) turns a code into
// words, through ComposeSummary (summary.h). Every code ends the extraction.
#ifndef OSTREL_ZIP_ERROR_CODES_H
#define OSTREL_ZIP_ERROR_CODES_H

enum ErrorCode {
  ERR_NONE = 0,
  ERR_NOT_FOUND = 2,         // the SFX file named by the trailer does not exist
  ERR_ACCESS = 5,            // a file cannot be opened, read or created; a folder cannot be made
  ERR_NO_MEMORY = 8,         // a block of working storage cannot be created
  ERR_DISK_FULL = 101,       // a write stored fewer bytes than asked
  ERR_RUN_FILE = 106,        // the program to start afterwards cannot be started
  ERR_CANCELLED = 2926,      // the user stopped the extraction (not counted as an error)
  ERR_PASSWORD = 9961,       // the user gave up at the password prompt
  ERR_CRC = 9962,            // the user cancelled at the CRC warning
  ERR_INVALID_DATA = 9964,   // a record signature is wrong or the compressed data is corrupt
  ERR_NO_ARCHIVE = 9966,     // no end-of-central-directory signature in the file
  ERR_METHOD = 9967,         // an entry's compression method is neither stored (0) nor Deflate (8)
  ERR_AES = 9968,            // an entry is AES-encrypted (method 99)
  ERR_TOO_LARGE = 9969,      // an entry is 2 GiB or larger (uncompressed)
};

#endif
