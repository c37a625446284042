// The listing frame of GetArchiveInfo and GetFileInfo, and the EntryCollector
// that a format's lister writes its entries into. Nothing here knows a format:
// the lister walks the bytes and fills one ArchiveEntryInfo per entry.
#pragma once

#include <cstdint>

#include "archive/archive_entry_info.h"
#include "frame/host_interface.h"
#include "frame/input_source.h"

enum CollectorMode : int32_t { CollectorList = 1, CollectorFind = 2 };

// CommitRecord's answer in find mode when the record just filled is the one
// wanted; it stops the lister's walk like any other nonzero result.
constexpr ResultCode CommitFound = 1;

// The movable block of an entry list: LMEM_MOVEABLE | LMEM_ZEROINIT.
constexpr UINT EntryListAllocFlags = LMEM_MOVEABLE | LMEM_ZEROINIT;

// One per export call. List mode appends each committed record to a movable
// block that always has room for capacity + 1 records, so the record being
// filled and the terminating record after it both lie in the block. Find mode
// writes every candidate straight into the host's record and compares names.
struct EntryCollector {
  int32_t mode = 0;

  // List mode.
  int32_t capacity = 0;               // entry records the block has room for
  int32_t count = 0;                  // records committed so far
  HLOCAL block = nullptr;             // the EntryInfoList
  ArchiveEntryInfo* records = nullptr;  // the block, while it is locked

  // Find mode.
  ArchiveEntryInfo* target = nullptr;  // the host's record
  LPCSTR wantedName = nullptr;
  bool ignoreCase = false;
};

ResultCode BeginList(EntryCollector* collector);
ResultCode BeginFind(EntryCollector* collector, ArchiveEntryInfo* target, LPCSTR wantedName,
                     bool ignoreCase);
// The record the lister fills next.
ResultCode CurrentRecord(EntryCollector* collector, ArchiveEntryInfo** record);
// Accepts the filled record: ResultOk to go on, CommitFound when find mode
// has its match, or the failure of growing the list.
ResultCode CommitRecord(EntryCollector* collector);
// Sizes the list for n entries at once, before a walk that knows its count.
ResultCode ReserveRecords(EntryCollector* collector, int32_t n);
// Unlocks the list and gives the final result: an empty list is ResultBadData,
// and on any failure the block is freed.
ResultCode EndList(EntryCollector* collector, ResultCode result);

// A format's walk over the input, one CurrentRecord / CommitRecord per entry,
// stopping at the first nonzero result and returning it.
typedef ResultCode (*EntryLister)(const InputView& input, EntryCollector* collector);

// GetArchiveInfo: every entry into an EntryInfoList whose handle the host
// receives at entryListOut (0 after any failure, unless it is not writable).
ResultCode ListArchiveEntries(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                              HLOCAL* entryListOut, EntryLister lister);

// GetFileInfo: the first entry, in the lister's order, whose name equals
// entryName (without regard to case when the flag asks so), into entryInfo.
ResultCode FindArchiveEntry(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName, uint32_t flag,
                            ArchiveEntryInfo* entryInfo, EntryLister lister);
