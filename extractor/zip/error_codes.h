// The run's failure codes. A failure writes one of these into
// ExtractionState.errorCode and returns; nothing is shown at the point of
// failure. Only the top layer (summary box, native tool) turns a code into
// words, through ComposeSummary (summary.h). Every code ends the extraction.
//
// Rules of the code:
//   - One code per run. OpenArchive and ExtractArchive start from 0; the
//     first failure ends the walk after the entry in progress is wound
//     down (decoder stopped, file closed and deleted).
//   - The first code wins: what fails later while the entry winds down (a
//     flush after a cancel or a full disk, the decoder's own end, the
//     entry check) does not replace it. The entry check (declared size,
//     then CRC) runs only for an entry without a code, so 9962 never hides
//     another failure.
//   - Reading: a read that fails, or a file that ends before the data the
//     records promise, is 5; records and data that contradict themselves
//     are 9964.
//   - Writing: in the Deflate sink every write that stores fewer bytes
//     than asked is 101, a failed one included (WriteFile fails outright
//     on a full disk); in the stored copy a write that fails outright is
//     5 and a short one 101. A file or folder that cannot be created, or a
//     finished file that cannot be put in place of the target, is 5.
//   - An entry that produces more bytes than its declared size is 9964 at
//     that point (nothing of the excess is written); one that ends with
//     fewer is 9964 at the entry check.
//   - 2926 (the user's stop) is not counted as an error by the summary.
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
