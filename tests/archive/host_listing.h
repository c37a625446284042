// An entry list as a host receives it from GetArchiveInfo.
#pragma once

#include <cstring>
#include <vector>

#include "host/plugin_api.h"

struct HostListing {
  ResultCode result = ResultOk;
  std::vector<ArchiveEntryInfo> records;  // those before the terminating record
  size_t blockRecords = 0;                // records the block has room for
  bool endsInZeroRecord = false;          // the record after the last is all zero
};

// Calls GetArchiveInfo, reads the list as a host would and frees it.
inline HostListing ListThroughHost(GetArchiveInfoFn getArchiveInfo, LPCSTR source,
                                   intptr_t offsetOrSize, uint32_t flag) {
  HostListing listing;
  HLOCAL list = nullptr;
  listing.result = getArchiveInfo(source, offsetOrSize, flag, &list);
  if (listing.result != ResultOk || list == nullptr) return listing;
  listing.blockRecords = LocalSize(list) / sizeof(ArchiveEntryInfo);
  const auto* records = static_cast<const ArchiveEntryInfo*>(LocalLock(list));
  while (listing.records.size() < listing.blockRecords &&
         records[listing.records.size()].method[0] != 0) {
    listing.records.push_back(records[listing.records.size()]);
  }
  if (listing.records.size() < listing.blockRecords) {
    const ArchiveEntryInfo zero{};
    listing.endsInZeroRecord =
        std::memcmp(&records[listing.records.size()], &zero, sizeof zero) == 0;
  }
  LocalUnlock(list);
  LocalFree(list);
  return listing;
}
