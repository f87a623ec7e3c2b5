// ZIP records written field by field, little-endian whatever the host.
#include "builder/zip_writer.h"

#include <string.h>

void PutLe16(uint8_t *out, uint16_t value) {
  out[0] = (uint8_t)value;
  out[1] = (uint8_t)(value >> 8);
}

void PutLe32(uint8_t *out, uint32_t value) {
  for (int i = 0; i < 4; i++) out[i] = (uint8_t)(value >> (8 * i));
}

uint16_t GetLe16(const uint8_t *in) { return (uint16_t)(in[0] | (in[1] << 8)); }

uint32_t GetLe32(const uint8_t *in) {
  return (uint32_t)in[0] | ((uint32_t)in[1] << 8) | ((uint32_t)in[2] << 16) | ((uint32_t)in[3] << 24);
}

uint64_t GetLe64(const uint8_t *in) { return GetLe32(in) | ((uint64_t)GetLe32(in + 4) << 32); }

void ZipWriterInit(ZipWriter *writer, FILE *file, uint64_t position) {
  writer->file = file;
  writer->position = position;
  writer->directory.clear();
  writer->entryCount = 0;
  writer->failed = 0;
}

static int WriteBytes(ZipWriter *writer, const void *data, size_t size) {
  if (writer->failed) return 0;
  if (size && fwrite(data, 1, size, writer->file) != size) writer->failed = 1;
  writer->position += size;
  return !writer->failed;
}

size_t ProduceFromMemory(void *context, uint8_t *buffer, size_t capacity) {
  MemorySource *source = (MemorySource *)context;
  size_t count = source->size - source->done;
  if (count > capacity) count = capacity;
  memcpy(buffer, source->data + source->done, count);
  source->done += count;
  return count;
}

// The fields the local header and the central record share, by name.
template <typename Record>
static void FillSharedFields(Record *record, const ZipEntryRecord *entry) {
  record->versionNeeded = entry->versionNeeded;
  record->flags = entry->flags;
  record->method = entry->method;
  record->time = entry->time;
  record->date = entry->date;
  record->crc32 = entry->crc32;
  record->compressedSize = entry->compressedSize;
  record->uncompressedSize = entry->uncompressedSize;
  record->nameLength = (uint16_t)entry->name.size();
}

int ZipWriterAddEntry(ZipWriter *writer, const ZipEntryRecord *entry, ZipDataSource produce,
                      void *context) {
  if (writer->failed) return 0;
  if (writer->position > 0xFFFFFFFFu) return (writer->failed = 1, 0);
  uint32_t offset = (uint32_t)writer->position;

  // The reader's own record layouts (zip_format.h), filled and written whole.
  ZipLocalHeader local;
  local.signature = ZIP_SIG_LOCAL;
  FillSharedFields(&local, entry);
  local.extraLength = (uint16_t)entry->localExtra.size();
  WriteBytes(writer, &local, ZIP_LOCAL_SIZE);
  WriteBytes(writer, entry->name.data(), entry->name.size());
  WriteBytes(writer, entry->localExtra.data(), entry->localExtra.size());

  uint8_t chunk[1 << 16];
  for (uint32_t left = entry->compressedSize; left > 0 && !writer->failed;) {
    size_t want = left < sizeof chunk ? left : sizeof chunk;
    size_t got = produce(context, chunk, want);
    if (got == 0 || got > want) return (writer->failed = 1, 0);
    WriteBytes(writer, chunk, got);
    left -= (uint32_t)got;
  }
  if (entry->flags & ZIP_FLAG_DESCRIPTOR) {
    uint8_t descriptor[ZIP_DESCRIPTOR_SIZE];
    PutLe32(descriptor + 0, ZIP_SIG_DESCRIPTOR);
    PutLe32(descriptor + 4, entry->crc32);
    PutLe32(descriptor + 8, entry->compressedSize);
    PutLe32(descriptor + 12, entry->uncompressedSize);
    WriteBytes(writer, descriptor, sizeof descriptor);
  }

  ZipCentralHeader central;
  central.signature = ZIP_SIG_CENTRAL;
  central.versionMadeBy = entry->versionMadeBy;
  FillSharedFields(&central, entry);
  central.extraLength = (uint16_t)entry->centralExtra.size();
  central.commentLength = (uint16_t)entry->comment.size();
  central.diskNumberStart = 0;
  central.internalAttributes = entry->internalAttributes;
  central.externalAttributes = entry->externalAttributes;
  central.localHeaderOffset = offset;
  const uint8_t *record = (const uint8_t *)&central;
  std::vector<uint8_t> &dir = writer->directory;
  dir.insert(dir.end(), record, record + ZIP_CENTRAL_SIZE);
  dir.insert(dir.end(), entry->name.begin(), entry->name.end());
  dir.insert(dir.end(), entry->centralExtra.begin(), entry->centralExtra.end());
  dir.insert(dir.end(), entry->comment.begin(), entry->comment.end());
  writer->entryCount++;
  return !writer->failed;
}

int ZipWriterFinish(ZipWriter *writer, uint16_t commentLength) {
  if (writer->failed || writer->entryCount > ZIP_MAX_ENTRIES) return 0;
  uint64_t directoryOffset = writer->position;
  uint64_t directorySize = writer->directory.size();
  if (directoryOffset + directorySize > 0xFFFFFFFFu) return (writer->failed = 1, 0);
  WriteBytes(writer, writer->directory.data(), writer->directory.size());
  ZipEndRecord end;
  end.signature = ZIP_SIG_END;
  end.diskNumber = 0;
  end.directoryDisk = 0;
  end.entriesOnDisk = (uint16_t)writer->entryCount;
  end.totalEntries = (uint16_t)writer->entryCount;
  end.directorySize = (uint32_t)directorySize;
  end.directoryOffset = (uint32_t)directoryOffset;
  end.commentLength = commentLength;
  WriteBytes(writer, &end, ZIP_END_SIZE);
  return !writer->failed;
}
