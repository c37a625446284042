#include "archive/entry_listing.h"

#include <cstring>

namespace {

constexpr size_t kRecordSize = sizeof(ArchiveEntryInfo);

// The directory part and the name of a record, as one string. Fields that a
// lister left without a zero byte are taken whole, never read past.
void JoinedName(const ArchiveEntryInfo& record, char* joined) {
  const size_t pathLength = strnlen(record.path, sizeof record.path);
  const size_t nameLength = strnlen(record.fileName, sizeof record.fileName);
  std::memcpy(joined, record.path, pathLength);
  std::memcpy(joined + pathLength, record.fileName, nameLength);
  joined[pathLength + nameLength] = '\0';
}

struct ListRun {
  EntryLister lister;
  HLOCAL* entryListOut;
};

ResultCode RunList(const InputView& input, void* context) {
  const ListRun* run = static_cast<const ListRun*>(context);
  EntryCollector collector;
  ResultCode result = BeginList(&collector);
  if (result == ResultOk) {
    result = run->lister(input, &collector);
    if (result == ResultOk) *run->entryListOut = collector.block;
  }
  result = EndList(&collector, result);
  if (result != ResultOk) *run->entryListOut = nullptr;
  return result;
}

struct FindRun {
  EntryLister lister;
  ArchiveEntryInfo* entryInfo;
  LPCSTR entryName;
  bool ignoreCase;
};

ResultCode RunFind(const InputView& input, void* context) {
  const FindRun* run = static_cast<const FindRun*>(context);
  EntryCollector collector;
  BeginFind(&collector, run->entryInfo, run->entryName, run->ignoreCase);
  const ResultCode result = run->lister(input, &collector);
  if (result == ResultOk) return ResultNoMatch;
  if (result == CommitFound) return ResultOk;
  return result;
}

}  // namespace

ResultCode BeginList(EntryCollector* collector) {
  *collector = EntryCollector{};
  collector->mode = CollectorList;
  collector->capacity = 1;
  collector->count = 0;
  collector->block = LocalAlloc(EntryListAllocFlags, 2 * kRecordSize);
  if (collector->block == nullptr) return ResultNoMemory;
  collector->records = static_cast<ArchiveEntryInfo*>(LocalLock(collector->block));
  if (collector->records == nullptr) {
    LocalFree(collector->block);
    collector->block = nullptr;
    return ResultMemoryError;
  }
  return ResultOk;
}

ResultCode BeginFind(EntryCollector* collector, ArchiveEntryInfo* target, LPCSTR wantedName,
                     bool ignoreCase) {
  *collector = EntryCollector{};
  collector->mode = CollectorFind;
  collector->target = target;
  collector->wantedName = wantedName;
  collector->ignoreCase = ignoreCase;
  return ResultOk;
}

ResultCode CurrentRecord(EntryCollector* collector, ArchiveEntryInfo** record) {
  switch (collector->mode) {
    case CollectorList:
      // A list whose growth failed is no longer locked: nothing may be filled.
      if (collector->records == nullptr) return ResultInternalError;
      *record = collector->records + collector->count;
      return ResultOk;
    case CollectorFind:
      *record = collector->target;
      return ResultOk;
    default:
      return ResultInternalError;
  }
}

ResultCode CommitRecord(EntryCollector* collector) {
  switch (collector->mode) {
    case CollectorList: {
      if (collector->records == nullptr) return ResultInternalError;
      ++collector->count;
      // The list is grown before the terminating byte is written, so that even
      // a lister that committed more than it reserved stays inside the block.
      if (collector->count >= collector->capacity) {
        const ResultCode result = ReserveRecords(collector, collector->count + 1);
        if (result != ResultOk) return result;
      }
      collector->records[collector->count].method[0] = '\0';
      return ResultOk;
    }
    case CollectorFind: {
      if (collector->wantedName == nullptr) return ResultOk;
      char joined[sizeof(ArchiveEntryInfo::path) + sizeof(ArchiveEntryInfo::fileName) + 1];
      JoinedName(*collector->target, joined);
      const int order = collector->ignoreCase ? lstrcmpiA(collector->wantedName, joined)
                                              : lstrcmpA(collector->wantedName, joined);
      return order == 0 ? CommitFound : ResultOk;
    }
    default:
      return ResultInternalError;
  }
}

ResultCode ReserveRecords(EntryCollector* collector, int32_t n) {
  switch (collector->mode) {
    case CollectorList: {
      if (n < 0 || collector->block == nullptr) return ResultInternalError;
      // Room for n entries and the terminating record, computed wide: a count
      // whose block would not fit the address space is refused, never wrapped.
      const uint64_t bytes = (static_cast<uint64_t>(n) + 1) * kRecordSize;
      if (bytes > SIZE_MAX) return ResultNoMemory;
      if (collector->records != nullptr) LocalUnlock(collector->block);
      collector->records = nullptr;
      const HLOCAL grown =
          LocalReAlloc(collector->block, static_cast<SIZE_T>(bytes), EntryListAllocFlags);
      if (grown == nullptr) return ResultNoMemory;
      collector->block = grown;
      collector->records = static_cast<ArchiveEntryInfo*>(LocalLock(grown));
      if (collector->records == nullptr) return ResultMemoryError;
      if (n == 0) {
        collector->count = 0;
      } else if (n <= collector->count) {
        collector->count = n - 1;
      }
      collector->capacity = n;
      return ResultOk;
    }
    case CollectorFind:
      return ResultOk;
    default:
      return ResultInternalError;
  }
}

ResultCode EndList(EntryCollector* collector, ResultCode result) {
  if (collector->count == 0) result = ResultBadData;
  if (collector->records != nullptr) LocalUnlock(collector->block);
  collector->records = nullptr;
  if (result != ResultOk && collector->block != nullptr) {
    LocalFree(collector->block);
    collector->block = nullptr;
  }
  return result;
}

ResultCode ListArchiveEntries(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                              HLOCAL* entryListOut, EntryLister lister) {
  if (IsBadWritePtr(entryListOut, sizeof *entryListOut)) return ResultMemoryError;
  *entryListOut = nullptr;
  ListRun run{lister, entryListOut};
  return DispatchInput(source, offsetOrSize, flag, RunList, &run);
}

ResultCode FindArchiveEntry(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName, uint32_t flag,
                            ArchiveEntryInfo* entryInfo, EntryLister lister) {
  if (IsBadWritePtr(entryInfo, sizeof *entryInfo)) return ResultMemoryError;
  std::memset(entryInfo, 0, sizeof *entryInfo);
  FindRun run{lister, entryInfo, entryName, IgnoresCase(flag)};
  return DispatchInput(source, offsetOrSize, flag, RunFind, &run);
}
