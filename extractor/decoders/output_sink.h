// Output sink: every byte an entry produces leaves storage.outputWindow
// here: CRC update, write to extraction.outputFile, progress offer.
#ifndef OSTREL_DECODERS_OUTPUT_SINK_H
#define OSTREL_DECODERS_OUTPUT_SINK_H

#include <stdint.h>

// Hands window bytes 0..count-1 on: CRC, write (short write: code 101),
// and, while no code is recorded, bytesDone and a progress offer.
void FlushWindow(int32_t count);
// Offers the entry's percentage to callbacks.reportProgress (code 2926 on a stop answer).
void NotifyProgress(void);
// Copies an entry that is not deflated (bytesTotal bytes, decrypted when
// the entry is encrypted) from extraction.dataFile to extraction.outputFile.
void CopyStoredEntry(void);
// The CRC comparison of the entry check, made by the driver alone once the
// entry is complete: complements transfer.crc (call it once per entry) and
// compares it with the central record's CRC-32. Returns 1 when they match.
int CheckEntryCrc(void);

#endif
