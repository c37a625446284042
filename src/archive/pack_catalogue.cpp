#include "archive/pack_catalogue.h"

#include <algorithm>
#include <cstring>

#include "frame/byte_order.h"

const char kPackMethodNames[3][PackMethodNameLength] = {"", "QUIRNE1", "QUIRNE2"};

namespace {

// The allowed name characters, bit (c - 0x20) for character c: space, '#',
// '.', digits, letters of both cases and '_'.
constexpr uint8_t kPackNameCharacters[12] = {0x09, 0x40, 0xFF, 0x03, 0xFE, 0xFF,
                                             0xFF, 0x87, 0xFE, 0xFF, 0xFF, 0x07};

// The walks back from a record may step in front of the input; the address
// is formed as a number so that nothing is assumed about it before
// IsReadable has judged it.
const uint8_t* StepBack(const uint8_t* p, size_t bytes) {
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(p) - bytes);
}

const uint8_t* StepForward(const uint8_t* p, uint64_t bytes) {
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(p) +
                                          static_cast<uintptr_t>(bytes));
}

bool OffsetsAscend1(const uint8_t* p) {
  int32_t previous = LoadI32LE(p + PackRecordsOffset1 + PackDataOffsetInRecord1);
  for (size_t i = 1; i < PackMinimumCount1; ++i) {
    const int32_t offset =
        LoadI32LE(p + PackRecordsOffset1 + PackRecordSize1 * i + PackDataOffsetInRecord1);
    if (offset <= previous) return false;
    previous = offset;
  }
  return true;
}

bool NamesValid1(const uint8_t* p) {
  for (size_t i = 0; i < PackMinimumCount1; ++i) {
    if (!IsPackName(p + PackRecordsOffset1 + PackRecordSize1 * i)) return false;
  }
  return true;
}

// Reads going back from a record, with readability verified a block at a time
// instead of word by word: every byte from readableFrom_ up to limit_ is known
// readable. A block is 4 KiB and aligned, so that it lies within one page on
// every system; where a block is not wholly readable, the exact range alone is
// tested, so the answers are those of a test per read.
class BackwardReads {
 public:
  BackwardReads(const InputBounds& bounds, const uint8_t* knownFirst, const uint8_t* knownEnd)
      : bounds_(bounds),
        readableFrom_(reinterpret_cast<uintptr_t>(knownFirst)),
        limit_(reinterpret_cast<uintptr_t>(knownEnd)) {}

  bool CanRead(const uint8_t* p, size_t n) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    if (at >= readableFrom_ && at <= limit_ && n <= limit_ - at) return true;
    if (at < readableFrom_ && readableFrom_ - at <= kBlock && at + n <= limit_) {
      uintptr_t blockStart = at & ~(kBlock - 1);
      if (bounds_.Known()) blockStart = std::max(blockStart, reinterpret_cast<uintptr_t>(bounds_.first));
      if (blockStart <= at &&
          IsReadable(bounds_, reinterpret_cast<const uint8_t*>(blockStart), readableFrom_ - blockStart)) {
        readableFrom_ = blockStart;
        return true;
      }
    }
    return IsReadable(bounds_, p, n);
  }

 private:
  static constexpr uintptr_t kBlock = 4096;
  const InputBounds& bounds_;
  uintptr_t readableFrom_;
  uintptr_t limit_;
};

// Walks back from the upper half of a data offset, one record of stride
// bytes at a time, to the first 16-bit word that is greater than the word
// after it: in a pack whose offsets ascend, that is the catalogue's count.
// Gives the address of that word, or null when the walk leaves what can be
// read first. reads knows the record's own bytes to be readable.
const uint8_t* WalkBackToCount(const uint8_t* upperHalf, size_t stride, BackwardReads* reads) {
  const uint8_t* q = upperHalf;
  for (;;) {
    const uint16_t w = LoadU16LE(q);
    q = StepBack(q, stride);
    if (!reads->CanRead(q, 2)) return nullptr;
    if (w < LoadU16LE(q)) return q;
  }
}

}  // namespace

bool IsPackName(const uint8_t* nameField) {
  if (nameField[PackNameFieldLength] != 0) return false;
  for (size_t i = 0; i < PackNameFieldLength; ++i) {
    const uint8_t d = static_cast<uint8_t>(nameField[i] - 0x20);
    if (d > 0x5F || (kPackNameCharacters[d >> 3] & (1u << (d & 7))) == 0) return false;
  }
  return true;
}

int32_t DetectPackLayout(const uint8_t* p, const InputBounds& bounds) {
  if (!IsReadable(bounds, p, PackProbeLength)) return PackLayoutNone;
  int32_t layout = PackLayoutNone;
  const uint32_t count2 = LoadU16LE(p + PackCountOffset2);
  if (LoadU16LE(p) == PackLayout2Marker &&
      LoadU32LE(p + PackLocationsOffset2 + PackDataOffsetInLocation2) ==
          count2 * (PackLocationRecordSize2 + PackNameRecordSize2) + PackLocationsOffset2) {
    layout = PackLayout2;
  }
  // The two tests exclude each other: the layout-2 relation makes the tenth
  // character of record 0's name a zero byte, which no pack name holds.
  if (LoadU16LE(p + PackCountOffset1) >= PackMinimumCount1 && NamesValid1(p) &&
      OffsetsAscend1(p)) {
    layout = PackLayout1;
  }
  return layout;
}

int32_t TestPackHeader(const uint8_t* header) { return DetectPackLayout(header, InputBounds{}); }

int32_t PackEntryCount(const uint8_t* p, const InputBounds& bounds) {
  switch (DetectPackLayout(p, bounds)) {
    case PackLayout1:
      return static_cast<int32_t>(LoadU16LE(p + PackCountOffset1)) - 1;
    case PackLayout2:
      return static_cast<int32_t>(LoadU16LE(p + PackCountOffset2)) - 1;
    default:
      return -1;
  }
}

ResultCode EnumeratePack(const uint8_t* p, const InputBounds& bounds, PackVisitor visitor,
                         void* context) {
  switch (DetectPackLayout(p, bounds)) {
    case PackLayout1: {
      const uint32_t n = LoadU16LE(p + PackCountOffset1);
      const uint8_t* records = p + PackRecordsOffset1;
      if (!IsReadable(bounds, records, uint64_t{PackRecordSize1} * n)) return ResultBadData;
      for (uint32_t i = 0; i + 1 < n; ++i) {
        const uint8_t* r = records + PackRecordSize1 * i;
        // Offsets that do not ascend give the 32-bit difference, as stored.
        const uint32_t size = LoadU32LE(r + PackRecordSize1 + PackDataOffsetInRecord1) -
                              LoadU32LE(r + PackDataOffsetInRecord1);
        const ResultCode result = visitor(
            PackLayout1, static_cast<uint32_t>(PackRecordsOffset1 + PackRecordSize1 * i), r, size,
            context);
        if (result != ResultOk) return result;
      }
      return ResultOk;
    }
    case PackLayout2: {
      const uint32_t n = LoadU16LE(p + PackCountOffset2);
      const uint8_t* locations = p + PackLocationsOffset2;
      // The location records and the name records after them, in one range.
      if (!IsReadable(bounds, locations,
                      uint64_t{PackLocationRecordSize2 + PackNameRecordSize2} * n)) {
        return ResultBadData;
      }
      const uint8_t* names = locations + PackLocationRecordSize2 * n;
      for (uint32_t i = 0; i + 1 < n; ++i) {
        const uint8_t* r = names + PackNameRecordSize2 * i;
        const ResultCode result =
            visitor(PackLayout2,
                    static_cast<uint32_t>(PackLocationsOffset2 + PackLocationRecordSize2 * i), r,
                    LoadU32LE(r + PackSizeInNameRecord2), context);
        if (result != ResultOk) return result;
      }
      return ResultOk;
    }
    default:
      return ResultBadData;
  }
}

void FormatPackName(const uint8_t* nameField, char* displayName) {
  size_t base = PackBaseLength;
  while (base > 0 && nameField[base - 1] == ' ') --base;
  size_t extension = PackExtensionLength;
  while (extension > 0 && nameField[PackBaseLength + extension - 1] == ' ') --extension;
  char* out = displayName;
  std::memcpy(out, nameField, base);
  out += base;
  if (extension > 0) {
    *out++ = '.';
    std::memcpy(out, nameField + PackBaseLength, extension);
    out += extension;
  }
  *out = '\0';
}

PackCatalogue LocatePackCatalogue(const uint8_t* record, const InputBounds& bounds) {
  // Enough for a layout-1 record and the data offset of the record after it.
  constexpr size_t kRecordSpan = 2 * PackRecordSize1;
  PackCatalogue found;
  if (!IsReadable(bounds, record, kRecordSpan)) return found;
  BackwardReads reads(bounds, record, record + kRecordSpan);

  if (IsPackName(record)) {
    const uint8_t* count =
        WalkBackToCount(record + PackDataOffsetInRecord1 + 2, PackRecordSize1, &reads);
    if (count != nullptr) {
      const uint8_t* start = StepBack(count, PackCountOffset1);
      const int32_t layout = DetectPackLayout(start, bounds);
      if (layout != PackLayoutNone) {
        found.layout = layout;
        found.start = start;
        return found;
      }
    }
  }

  const uint8_t* count =
      WalkBackToCount(record + PackDataOffsetInLocation2 + 2, PackLocationRecordSize2, &reads);
  if (count == nullptr) return found;
  const uint8_t* start = StepBack(count, PackCountOffset2);
  found.layout = DetectPackLayout(start, bounds);
  found.start = found.layout != PackLayoutNone ? start : nullptr;
  return found;
}

ResultCode LocatePackEntry(const uint8_t* record, const InputBounds& bounds, char* displayName,
                           int32_t* size, const uint8_t** dataStart) {
  const PackCatalogue catalogue = LocatePackCatalogue(record, bounds);
  // Both walks end in front of the record, so this never wraps.
  const uintptr_t fromStart =
      reinterpret_cast<uintptr_t>(record) - reinterpret_cast<uintptr_t>(catalogue.start);
  int32_t entrySize = 0;
  uint64_t dataOffset = 0;

  switch (catalogue.layout) {
    case PackLayout1: {
      if (!IsPackName(record)) return ResultBadData;
      // Only the records of listed entries: not the closing record, and not a
      // place between records that a walk from a crafted address could reach.
      const uint32_t n = LoadU16LE(catalogue.start + PackCountOffset1);
      const uintptr_t within = fromStart - PackRecordsOffset1;
      if (within % PackRecordSize1 != 0 || within / PackRecordSize1 + 1 >= n) {
        return ResultBadData;
      }
      const int32_t offset = LoadI32LE(record + PackDataOffsetInRecord1);
      // Data never comes before its catalogue; a negative offset would point
      // into whatever precedes the pack.
      if (offset < 0) return ResultBadData;
      entrySize = static_cast<int32_t>(LoadU32LE(record + PackRecordSize1 + PackDataOffsetInRecord1) -
                                       static_cast<uint32_t>(offset));
      FormatPackName(record, displayName);
      dataOffset = static_cast<uint32_t>(offset);
      break;
    }
    case PackLayout2: {
      const uint32_t n = LoadU16LE(catalogue.start + PackCountOffset2);
      const uintptr_t within = fromStart - PackLocationsOffset2;
      if (within % PackLocationRecordSize2 != 0 || within / PackLocationRecordSize2 + 1 >= n) {
        return ResultBadData;
      }
      const uintptr_t i = within / PackLocationRecordSize2;
      const uint8_t* nameRecord =
          StepForward(catalogue.start, PackLocationsOffset2 + uint64_t{PackLocationRecordSize2} * n +
                                           uint64_t{PackNameRecordSize2} * i);
      if (!IsReadable(bounds, nameRecord, PackNameRecordSize2)) return ResultBadData;
      entrySize = static_cast<int32_t>(LoadU32LE(nameRecord + PackSizeInNameRecord2));
      FormatPackName(nameRecord, displayName);
      dataOffset = LoadU32LE(record + PackDataOffsetInLocation2);
      break;
    }
    default:
      return ResultBadData;
  }

  // An entry is located only when all of its data can be read: a size that
  // the offsets make negative, data past the input's end, or an offset that
  // would wrap around the address space, is refused here rather than after
  // the output has been allocated or created.
  if (entrySize < 0 ||
      dataOffset > UINTPTR_MAX - reinterpret_cast<uintptr_t>(catalogue.start)) {
    return ResultBadData;
  }
  const uint8_t* data = StepForward(catalogue.start, dataOffset);
  if (!IsReadable(bounds, data, static_cast<uint64_t>(entrySize))) return ResultBadData;
  *size = entrySize;
  *dataStart = data;
  return ResultOk;
}
