#include "archive/pack_operations.h"

#include <cstring>

#include "archive/pack_catalogue.h"

ResultCode ListPack(const InputView& input, EntryCollector* collector) {
  const int32_t count = PackEntryCount(input.data, input.bounds);
  if (count < 0) return ResultBadData;
  // One record more than the entries: the last commit then finds room, and
  // the list, which ends with the same two zero records either way, is not
  // copied to grow by one at the very end. A pack without entries reserves
  // none, and its empty list is refused.
  const ResultCode result = ReserveRecords(collector, count > 0 ? count + 1 : 0);
  if (result != ResultOk) return result;
  return EnumeratePack(input.data, input.bounds, FillEntryInfo, collector);
}

ResultCode FillEntryInfo(int32_t layout, uint32_t position, const uint8_t* nameField, uint32_t size,
                         void* context) {
  EntryCollector* collector = static_cast<EntryCollector*>(context);
  ArchiveEntryInfo* record = nullptr;
  const ResultCode result = CurrentRecord(collector, &record);
  if (result != ResultOk) return result;
  // Only the name's own bytes: the rest of fileName keeps what it held.
  FormatPackName(nameField, record->fileName);
  std::memcpy(record->method, kPackMethodNames[layout], sizeof record->method);
  record->position = position;
  record->packedSize = size;
  record->unpackedSize = size;
  record->timeStamp = 0;
  std::memset(record->path, 0, sizeof record->path);
  record->checksum = 0;
  return CommitRecord(collector);
}

ResultCode LocatePackEntryForExtraction(const uint8_t* record, const InputBounds& bounds,
                                        char* displayName, int32_t* size, void* entryContext) {
  return LocatePackEntry(record, bounds, displayName, size,
                         static_cast<const uint8_t**>(entryContext));
}

ResultCode CopyPackEntry(const uint8_t* /*record*/, uint8_t* output, int32_t size,
                         void* entryContext, intptr_t userData, ProgressCallback progress) {
  const uint8_t* dataStart = *static_cast<const uint8_t* const*>(entryContext);
  return CopyInChunks(dataStart, output, size, userData, progress, PackCopyStep);
}
