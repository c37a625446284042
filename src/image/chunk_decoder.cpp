// Chunked decoder.
//
// Literal bytes are taken 8 at a time: one load, a test that finds the first
// escape byte among them without a branch per byte, and one 8-byte store
// whose bytes after the literals are scratch (pixel_copy.h). Within 8 bytes of
// the end of the chunk, the data block or the picture, a run is found with
// memchr and moved exactly. Escapes copy with CopyPixelsForward.
#include "image/chunk_decoder.h"

#include <cstring>

#include "frame/byte_order.h"
#include "image/bit_count.h"
#include "image/kzx_format.h"
#include "image/pixel_copy.h"

namespace {

// The high bit of each byte of `bytes` that is an escape byte, and possibly of
// bytes after the first one; the lowest bit set marks the first escape.
inline uint64_t EscapeBytes(uint64_t bytes) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  const uint64_t inverted = ~bytes;  // an escape byte becomes a zero byte
  return (inverted - ones) & bytes & (ones << 7);
}

}  // namespace

ResultCode DecodeChunks(const uint8_t* data, int32_t dataLength, uint8_t* work, size_t size,
                        ProgressCallback progress, intptr_t userData) {
  if (dataLength < 0) return ResultBadData;
  if (dataLength == 0 || size == 0) return ResultOk;
  const size_t length = static_cast<size_t>(dataLength);
  size_t p = 0;  // read offset in the data block
  size_t o = 0;  // pixels written

  for (;;) {
    // A header must lie wholly inside the data block.
    if (length - p < ChunkHeaderSize) return ResultBadData;
    const size_t start = p;
    if (LoadU16LE(data + p) != ChunkSignature) return ResultBadData;
    const size_t codedLength = LoadU16LE(data + p + ChunkCodedLengthOffset);
    p += ChunkHeaderSize;
    if (ProgressAsksToStop(progress, static_cast<int32_t>(start), dataLength, userData)) {
      return ResultCancelled;
    }

    // Tokens start while fewer than codedLength coded bytes are consumed; an
    // escape begun at one of the last two is taken whole.
    const size_t chunkEnd = p + codedLength;
    const size_t literalEnd = chunkEnd < length ? chunkEnd : length;
    while (p < chunkEnd) {
      if (p >= length) return ResultBadData;
      if (data[p] != ChunkEscape) {
        size_t run;
        if (literalEnd - p >= 8 && size - o >= 8) {
          const uint64_t bytes = LoadU64LE(data + p);
          const uint64_t escapes = EscapeBytes(bytes);
          run = escapes == 0 ? 8 : CountTrailingZeros(escapes) / 8;
          StoreU64LE(work + o, bytes);
        } else {
          run = literalEnd - p;
          if (run > size - o) run = size - o;
          const void* escape = std::memchr(data + p, ChunkEscape, run);
          if (escape != nullptr) run = static_cast<const uint8_t*>(escape) - (data + p);
          std::memcpy(work + o, data + p, run);
        }
        o += run;
        p += run;
        if (o == size) return ResultOk;
        continue;
      }
      ++p;
      if (length - p < 2) return ResultBadData;
      const size_t distance = data[p];
      const size_t count = data[p + 1] + ChunkEscapeMinLength;
      p += 2;
      if (distance > o || count > size - o) return ResultBadData;
      if (distance == 0) {
        // Each pixel would be its own source: it gets the value of a pixel
        // never decoded, whatever the buffer held.
        std::memset(work + o, 0, count);
      } else {
        CopyPixelsForward(work + o, distance, count, size - o);
      }
      o += count;
      if (o == size) return ResultOk;
    }
    if (p >= length) {
      ClearCopyScratch(work, o, size);
      return ResultOk;
    }
  }
}
