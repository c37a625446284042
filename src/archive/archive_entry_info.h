// The host's record of one pack entry, and the list of them.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct ArchiveEntryInfo {
  char method[8];         // "QUIRNE1" / "QUIRNE2"; a zero first byte ends a list
  uint32_t position;      // offset of the entry's catalogue record from the catalogue start
  uint32_t packedSize;
  uint32_t unpackedSize;  // equal to packedSize: entries are stored
  uint32_t timeStamp;     // 0
  char path[200];         // directory part of the name: always empty
  char fileName[200];     // display name, at most 12 characters
  uint32_t checksum;      // 0
};
#pragma pack(pop)

static_assert(sizeof(ArchiveEntryInfo) == 428, "ArchiveEntryInfo is 428 bytes");
static_assert(offsetof(ArchiveEntryInfo, position) == 8, "position at 8");
static_assert(offsetof(ArchiveEntryInfo, packedSize) == 12, "packedSize at 12");
static_assert(offsetof(ArchiveEntryInfo, unpackedSize) == 16, "unpackedSize at 16");
static_assert(offsetof(ArchiveEntryInfo, timeStamp) == 20, "timeStamp at 20");
static_assert(offsetof(ArchiveEntryInfo, path) == 24, "path at 24");
static_assert(offsetof(ArchiveEntryInfo, fileName) == 224, "fileName at 224");
static_assert(offsetof(ArchiveEntryInfo, checksum) == 424, "checksum at 424");
