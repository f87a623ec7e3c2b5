// Output sink: the one way out of storage.outputWindow. Every byte an entry
// produces is added to transfer.crc, written to extraction.outputFile and
// counted in transfer.bytesDone, which drives the progress offers.
#include "extractor/decoders/output_sink.h"

#include <stdint.h>

#include "extractor/decoders/cipher.h"
#include "extractor/decoders/crc.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"

enum {
  // Halving bound: below it, bytesDone * 100 stays under 2^31.
  PROGRESS_HALVING_LIMIT = 20971520,  // 0x1400000; * 100 = 2,097,152,000
  COPY_CHUNK = OUTPUT_WINDOW_SIZE
};

void FlushWindow(int32_t count) {
  transfer.crc = UpdateCrc(transfer.crc, storage.outputWindow, count);
  // An entry never produces more than its declared size: a size field
  // that lies (100 bytes declared, 50 MB inflated) must not let a small
  // archive fill the disk. Nothing of the chunk is written; the decoder
  // sees the code at its next flush or block boundary and stops.
  if (count > transfer.bytesTotal - transfer.bytesDone) {
    extraction.errorCode = ERR_INVALID_DATA;
    return;
  }
  // bytesDone counts every byte written, also after a code: the limit
  // above holds while a cancelled block runs to its end.
  transfer.bytesDone += count;
  // A test run decodes and checks everything and keeps nothing.
  if (!extraction.testOnly && FileWrite(storage.outputWindow, count, extraction.outputFile) != count &&
      extraction.errorCode == ERR_NONE)
    extraction.errorCode = ERR_DISK_FULL;
  // Decoding goes on after a failed write (the driver deletes the file
  // afterwards), but the entry gets no further progress offers.
  if (extraction.errorCode != ERR_NONE) return;
  NotifyProgress();
}

void NotifyProgress(void) {
  if (!callbacks.reportProgress) return;
  int32_t done = transfer.bytesDone;
  int32_t total = transfer.bytesTotal;
  while (done >= PROGRESS_HALVING_LIMIT) {
    done >>= 1;
    total >>= 1;
  }
  // An empty (or, after halving, vanished) total has no percentage: offer
  // 100, so that the user can still stop. A local header that claims fewer
  // bytes than the entry produces must not push the bar past its end, nor
  // can a negative size (2 GiB or more, not supported) give a meaningful share.
  int32_t percent = 100;
  if (total > 0 && done < total) percent = done * 100 / total;
  if (callbacks.reportProgress(0, percent) == 0) extraction.errorCode = ERR_CANCELLED;
}

void CopyStoredEntry(void) {
  uint8_t *window = storage.outputWindow;
  int32_t left = transfer.bytesTotal;
  if (left < 0) {
    // A size of 2 GiB or more (negative here) is not supported; copying
    // nothing would leave an empty file that a silent run keeps.
    extraction.errorCode = ERR_INVALID_DATA;
    return;
  }
  while (left > 0) {
    int32_t want = left < COPY_CHUNK ? left : COPY_CHUNK;
    int32_t got = FileRead(window, want, extraction.dataFile);
    if (got <= 0) {
      // A failed read, and also the SFX file ending before the entry's
      // data: the file would otherwise be kept short, and a silent run
      // makes no CRC check that could notice.
      extraction.errorCode = ERR_ACCESS;
      return;
    }
    if (extraction.encrypted) DecryptBuffer(window, got);
    left -= got;
    transfer.crc = UpdateCrc(transfer.crc, window, got);
    transfer.bytesDone += got;  // at most bytesTotal: got <= left
    // A stop answer (2926) does not end the copy: a stored entry is
    // cancelled when it is complete, and the driver acts on the code.
    NotifyProgress();
    int32_t put = extraction.testOnly ? got : FileWrite(window, got, extraction.outputFile);
    if (put == got) continue;
    extraction.errorCode = put < 0 ? ERR_ACCESS : ERR_DISK_FULL;
    return;
  }
}

int CheckEntryCrc(void) {
  transfer.crc = ~transfer.crc;
  return transfer.crc == storage.entry->central.crc32;
}
