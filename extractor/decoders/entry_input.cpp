// Entry input reader. The entry's stored bytes come from extraction.dataFile
// in chunks of ENTRY_INPUT_SIZE, never more than transfer.inputLeft, and are
// decrypted per chunk, so the cipher keys advance over exactly the bytes
// read, in file order.
//
// Past the budget the reader keeps serving what the buffer holds (older
// chunk contents): the decoder's look-ahead may fetch a byte or two beyond
// the last code, and those values do not matter. What does matter is that
// a corrupt stream cannot live on stale bytes for ever, so every byte served
// past the budget is counted (EntryInputOverrun) and the decoder refuses
// the stream after a few of them.
#include "extractor/decoders/entry_input.h"

#include <string.h>

#include "extractor/decoders/cipher.h"
#include "extractor/decoders/entry_input_internal.h"
#include "extractor/zip/error_codes.h"
#include "extractor/zip/state.h"

typedef struct EntryInputState {
  int32_t pos;      // next position to serve, 0..ENTRY_INPUT_SIZE; -1 nothing loaded (refill due)
  int32_t valid;    // positions 0..valid-1 hold bytes of the budget from the last refill
  int32_t overrun;  // bytes served at positions >= valid since the last reset
} EntryInputState;

static EntryInputState input = {-1, 0, 0};

int OpenEntryInput(void) {
  storage.entryInput = (uint8_t *)MemAlloc(ENTRY_INPUT_SIZE);
  if (!storage.entryInput) {
    extraction.errorCode = ERR_NO_MEMORY;
    return 0;
  }
  memset(storage.entryInput, 0, ENTRY_INPUT_SIZE);
  ResetEntryInput();
  return 1;
}

void CloseEntryInput(void) {
  if (storage.entryInput) MemFree(storage.entryInput);
  storage.entryInput = 0;
  ResetEntryInput();
}

void ResetEntryInput(void) {
  input.pos = -1;
  input.valid = 0;
  input.overrun = 0;
}

int RefillEntryInput(void) {
  uint8_t *buffer = storage.entryInput;
  if (!buffer) {
    extraction.errorCode = ERR_NO_MEMORY;  // the reader was never opened
    return 0;
  }
  int32_t want = transfer.inputLeft > ENTRY_INPUT_SIZE ? ENTRY_INPUT_SIZE : transfer.inputLeft;
  if (want > 0) {
    // A short count is a failure as much as -1: the SFX file ends inside
    // the entry. inputLeft stays, so nothing is counted as fetched.
    if (FileRead(buffer, want, extraction.dataFile) != want) {
      extraction.errorCode = ERR_ACCESS;
      return 0;
    }
    transfer.inputLeft -= want;
    if (extraction.encrypted) DecryptBuffer(buffer, want);
  } else {
    want = 0;  // budget used up: nothing is read, the buffer is served again
  }
  input.valid = want;
  input.pos = 0;
  return 1;
}

int NextByte(void) {
  if (input.pos < 0 || input.pos >= ENTRY_INPUT_SIZE) {
    if (!RefillEntryInput()) return -1;
  }
  if (input.pos >= input.valid) input.overrun++;
  return storage.entryInput[input.pos++];
}

int32_t EntryInputPeek(const uint8_t **data) {
  if (input.pos < 0 || input.pos >= input.valid) {
    *data = 0;
    return 0;
  }
  *data = storage.entryInput + input.pos;
  return input.valid - input.pos;
}

void EntryInputAdvance(int32_t count) { input.pos += count; }

int32_t EntryInputOverrun(void) { return input.overrun; }
