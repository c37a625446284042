// The pack format: a catalogue of fixed-size records with space-padded 8+3
// names, in one of two layouts, followed by the entries' stored data.
//
// This code sees bytes and their bounds only. Every range it reads is first
// passed to IsReadable with the bounds of the input it was handed, so a pack
// in a mapped file is never read outside the view, and a pack in the host's
// memory only where the platform says it can be read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/host_interface.h"
#include "frame/input_source.h"

enum PackLayout : int32_t { PackLayoutNone = 0, PackLayout1 = 1, PackLayout2 = 2 };

// Layout 1: a 16-bit count, then 16-byte records of name field and data offset.
constexpr size_t PackRecordSize1 = 16;
constexpr size_t PackCountOffset1 = 0;
constexpr size_t PackRecordsOffset1 = 2;
constexpr size_t PackDataOffsetInRecord1 = 12;
// A count below this is not layout 1: recognition looks at four records.
constexpr uint16_t PackMinimumCount1 = 4;

// Layout 2: a marker and a 16-bit count, then 8-byte location records, then
// 16-byte name records with each entry's size.
constexpr uint16_t PackLayout2Marker = 0x4000;
constexpr size_t PackCountOffset2 = 2;
constexpr size_t PackLocationsOffset2 = 4;
constexpr size_t PackLocationRecordSize2 = 8;
constexpr size_t PackDataOffsetInLocation2 = 4;
constexpr size_t PackNameRecordSize2 = 16;
constexpr size_t PackSizeInNameRecord2 = 12;

// The name field: 8 base characters and 3 of extension, space padded, then a
// byte that must be zero for the name test.
constexpr size_t PackBaseLength = 8;
constexpr size_t PackExtensionLength = 3;
constexpr size_t PackNameFieldLength = PackBaseLength + PackExtensionLength;
// The longest display name, "BASENAME.EXT", and its zero byte.
constexpr size_t PackDisplayNameCapacity = 13;

// Bytes that recognition examines: the count and the first four records of
// layout 1, which also cover the layout-2 header.
constexpr int32_t PackProbeLength = 66;

// The method name stored in every listed record, indexed by PackLayout.
constexpr size_t PackMethodNameLength = 8;
extern const char kPackMethodNames[3][PackMethodNameLength];

// True when the 11 bytes at nameField are all allowed name characters and the
// byte after them is zero. Reads 12 bytes; the caller makes sure they can be.
bool IsPackName(const uint8_t* nameField);

// The layout of the catalogue that starts at p, or PackLayoutNone when the 66
// bytes there are not readable or not a pack.
int32_t DetectPackLayout(const uint8_t* p, const InputBounds& bounds);

// DetectPackLayout as IsSupported's header test: bounds are unknown there, and
// only the platform's read-access test limits the 66 bytes.
int32_t TestPackHeader(const uint8_t* header);

// The number of listed entries of the catalogue at p, or -1 when it is not a
// pack (a layout-2 count of 0 included).
int32_t PackEntryCount(const uint8_t* p, const InputBounds& bounds);

// Called once per listed entry, in catalogue order. position is the offset of
// the entry's catalogue record from the catalogue start. A nonzero result ends
// the walk and is returned by EnumeratePack.
typedef ResultCode (*PackVisitor)(int32_t layout, uint32_t position, const uint8_t* nameField,
                                  uint32_t size, void* context);

// Walks the entries of the catalogue at p. ResultBadData when it is not a pack
// or its records cannot be read.
ResultCode EnumeratePack(const uint8_t* p, const InputBounds& bounds, PackVisitor visitor,
                         void* context);

// The display name of a name field, "BASE.EXT" without the padding, into a
// buffer of at least PackDisplayNameCapacity bytes.
void FormatPackName(const uint8_t* nameField, char* displayName);

struct PackCatalogue {
  int32_t layout = PackLayoutNone;
  const uint8_t* start = nullptr;
};

// Finds the catalogue start again from the address of an entry's catalogue
// record by walking back over the data offsets. Never reads outside bounds.
PackCatalogue LocatePackCatalogue(const uint8_t* record, const InputBounds& bounds);

// The entry whose catalogue record is at record: its display name (a buffer
// of at least PackDisplayNameCapacity bytes), its size and the address of its
// first data byte. ResultBadData when the record is not that of a listed entry
// or the entry's data does not lie wholly in the input.
ResultCode LocatePackEntry(const uint8_t* record, const InputBounds& bounds, char* displayName,
                           int32_t* size, const uint8_t** dataStart);
