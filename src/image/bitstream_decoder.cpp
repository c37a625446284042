// Bit-stream decoder.
//
// Every result (pixels, result code, progress positions) is that of a reader
// taking one bit at a time; what makes it fast is how the bits are had:
// - The stream is read ahead into a 64-bit buffer whose lowest bit is the next
//   stream bit. A refill is one unaligned 64-bit load with no branch, made
//   before every copy command (at most 50 bits) and before every stretch of
//   up to 6 tokens that are a literal alone (9 bits each): a refill leaves at
//   least 56 bits.
// - Codes come from the buffer by table: a literal is its 8 low bits
//   reversed; a copy command's index and count codes together one lookup of
//   its 11 low bits, unless the count code is longer (then the number of
//   trailing one-bits and the reversed bits that follow).
// - Copies move 8 bytes at a time wherever the work buffer has room after
//   them (pixel_copy.h).
// - A fast loop runs while at least 8 bytes of the data block are left to
//   load: no code can then reach past the block, so it makes no such check.
//   A careful loop takes over for the rest: it tops the buffer up byte by
//   byte and then with zero bits, and checks every code against the bits the
//   block really has left; a code that would take a padding bit is a
//   truncation, exactly where the one-bit reader would have found the data
//   exhausted. Both loops are one template, so they cannot differ in anything
//   else.
#include "image/bitstream_decoder.h"

#include <array>
#include <cstddef>

#include "frame/byte_order.h"
#include "image/bit_count.h"
#include "image/kzx_format.h"
#include "image/pixel_copy.h"

namespace {

// Base value 2^k - 1 of a count code with k one-bits before its zero bit.
constexpr uint32_t CountCodeBase[BitStreamMaxCountPrefix + 1] = {
    0,       1,       3,       7,       15,      31,      63,      127,
    255,     511,     1023,    2047,    4095,    8191,    16383,   32767,
    65535,   131071,  262143,  524287,  1048575, 2097151, 4194303};

constexpr std::array<uint8_t, 256> MakeByteReversal() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    int reversed = 0;
    for (int bit = 0; bit < 8; ++bit) reversed |= ((i >> bit) & 1) << (7 - bit);
    table[i] = static_cast<uint8_t>(reversed);
  }
  return table;
}
constexpr std::array<uint8_t, 256> ByteReversal = MakeByteReversal();

// An index code by its first five bits in reading order (bit 0 read first):
// "0 b" is index b in 2 bits, "1 0 xx" index 2 + x in 4 bits, "1 1 xxx"
// index 6 + x in 5 bits, x most significant bit first.
struct IndexCode {
  uint8_t index;
  uint8_t bits;
};

constexpr std::array<IndexCode, 32> MakeIndexCodes() {
  std::array<IndexCode, 32> table{};
  for (int peek = 0; peek < 32; ++peek) {
    const int b0 = peek & 1, b1 = (peek >> 1) & 1, b2 = (peek >> 2) & 1;
    const int b3 = (peek >> 3) & 1, b4 = (peek >> 4) & 1;
    if (b0 == 0) {
      table[peek] = {static_cast<uint8_t>(b1), 2};
    } else if (b1 == 0) {
      table[peek] = {static_cast<uint8_t>(2 + (b2 << 1 | b3)), 4};
    } else {
      table[peek] = {static_cast<uint8_t>(6 + (b2 << 2 | b3 << 1 | b4)), 5};
    }
  }
  return table;
}
constexpr std::array<IndexCode, 32> IndexCodes = MakeIndexCodes();

// A copy command by its first CommandPeekBits bits: the index code and, when
// it fits in those bits, the count code that follows it, with the copy
// length it gives. Nine commands in ten of real pictures are decoded with
// this one lookup; the rest have their count code read on its own.
constexpr uint32_t CommandPeekBits = 11;

struct CommandCode {
  uint8_t index;
  uint8_t indexBits;
  uint8_t bits;    // index and count code together; 0 when the count code is longer
  uint8_t length;  // pixels copied
};

constexpr std::array<CommandCode, 1u << CommandPeekBits> MakeCommandCodes() {
  std::array<CommandCode, 1u << CommandPeekBits> table{};
  for (uint32_t peek = 0; peek < table.size(); ++peek) {
    const IndexCode code = IndexCodes[peek & 31];
    CommandCode& entry = table[peek];
    entry.index = code.index;
    entry.indexBits = code.bits;
    uint32_t k = 0;
    while (code.bits + k < CommandPeekBits && ((peek >> (code.bits + k)) & 1) != 0) ++k;
    const uint32_t bits = code.bits + 2 * k + 1;
    if (bits > CommandPeekBits) continue;
    uint32_t x = 0;
    for (uint32_t i = 0; i < k; ++i) x = x << 1 | ((peek >> (code.bits + k + 1 + i)) & 1);
    entry.bits = static_cast<uint8_t>(bits);
    entry.length = static_cast<uint8_t>(CountCodeBase[k] + x + (code.index < 2 ? 1 : 2));
  }
  return table;
}
constexpr std::array<CommandCode, 1u << CommandPeekBits> CommandCodes = MakeCommandCodes();

// A distance no copy may use: larger than any number of pixels written.
constexpr size_t NoSource = SIZE_MAX;

// How far back each index reaches, in pixels. In pictures 1 or 2 pixels wide
// some neighbours come out at 0 or -1 pixels back, which would copy pixels
// onto themselves or from ahead of the output: such an index has no source.
struct DistanceTable {
  size_t distance[BitStreamDistanceCount];
};

DistanceTable BuildDistanceTable(int32_t width) {
  const int64_t w = width;
  const int64_t back[BitStreamDistanceCount] = {1,         w,         2,         w + 1, w - 1,
                                                2 * w,     w + 2,     w - 2,     2 * w + 2,
                                                2 * w + 1, 2 * w - 1, 2 * w - 2, 3 * w, 3 * w + 1};
  DistanceTable table;
  for (int i = 0; i < BitStreamDistanceCount; ++i) {
    table.distance[i] = back[i] >= 1 ? static_cast<size_t>(back[i]) : NoSource;
  }
  return table;
}

// The reader's state. `buffer` holds the next unread bits, the next one
// lowest; its low `available` bits are stream bits, of which the top
// `padding` are zero bits standing for bytes past the end of the data block.
// Bits at and above `available` may already hold copies of the bytes at
// `next`: a refill ORs the same values over them.
struct BitReader {
  const uint8_t* next;  // first byte not yet in the buffer
  const uint8_t* end;   // one past the data block
  uint64_t buffer;
  uint32_t available;
  uint32_t padding;
};

// While at least 8 bytes are left to load: leaves at least 56 bits.
inline void RefillFast(BitReader& r) {
  r.buffer |= LoadU64LE(r.next) << r.available;
  r.next += (63 - r.available) >> 3;
  r.available |= 56;
}

// Near the end of the data block: leaves at least 57 bits, padding included.
inline void RefillCareful(BitReader& r) {
  while (r.available <= 56) {
    if (r.next < r.end) {
      r.buffer |= static_cast<uint64_t>(*r.next++) << r.available;
    } else {
      r.padding += 8;
    }
    r.available += 8;
  }
}

inline bool HasBits(const BitReader& r, uint32_t bits) { return bits <= r.available - r.padding; }

inline void Consume(BitReader& r, uint32_t bits) {
  r.buffer >>= bits;
  r.available -= bits;
}

// The read position of the one-bit reader after the bits consumed so far:
// the offset just past the 32-bit word that holds the next unread bit.
inline uint64_t ReadPosition(const BitReader& r, const uint8_t* data) {
  const uint64_t consumed = 8 * static_cast<uint64_t>(r.next - data) + r.padding - r.available;
  return 4 * (consumed / 32 + 1);
}

// The k low bits of `bits` reversed (k <= 22): a field read most significant
// bit first.
inline uint32_t ReverseLowBits(uint64_t bits, uint32_t k) {
  const uint32_t reversed = static_cast<uint32_t>(ByteReversal[bits & 0xFF]) << 16 |
                            static_cast<uint32_t>(ByteReversal[(bits >> 8) & 0xFF]) << 8 |
                            ByteReversal[(bits >> 16) & 0xFF];
  return (reversed >> (24 - k)) & ((1u << k) - 1);
}

// Where decoding stands between two steps; a step is a literal with its
// flag, or a copy command or end marker.
constexpr int AtTokenStart = -2;  // next comes a token's literal
constexpr int RunOpened = -1;     // a run's first command, which cannot end it

struct DecoderState {
  BitReader reader;
  size_t written;        // pixels written; the offset of the next one
  int previous;          // AtTokenStart, RunOpened, or the run's last index
  uint32_t tokensLeft;   // tokens of the current group not yet begun
};

enum class StepsEnd { GroupDone, Finished, InputLow };

// Decodes steps until the group's last token is complete (GroupDone), the
// decode has its result (Finished, *result set), or, in the fast loop, fewer
// than 8 bytes are left to load (InputLow, at a step boundary).
template <bool kCareful>
StepsEnd DecodeSteps(DecoderState& state, uint8_t* work, size_t size, const DistanceTable& table,
                     ResultCode* result) {
  BitReader r = state.reader;
  size_t o = state.written;
  int previous = state.previous;
  uint32_t tokensLeft = state.tokensLeft;
  StepsEnd end;
  // In the fast loop every code fits in the bits a refill leaves.
  auto fits = [&r](uint32_t bits) { return !kCareful || HasBits(r, bits); };

  for (;;) {
    if (previous == AtTokenStart && tokensLeft == 0) {
      end = StepsEnd::GroupDone;
      break;
    }
    if (kCareful) {
      RefillCareful(r);
    } else {
      if (r.end - r.next < 8) {
        end = StepsEnd::InputLow;
        break;
      }
      RefillFast(r);
    }

    if (previous == AtTokenStart) {
      // Tokens that are a literal alone come in long stretches: the fast loop
      // takes up to 6 of them (54 bits) from one refill.
      const int burst = kCareful ? 1 : 6;
      bool finished = false;
      for (int i = 0; i < burst && tokensLeft > 0; ++i) {
        --tokensLeft;
        if (!fits(8)) {
          *result = ResultTruncatedData;
          finished = true;
          break;
        }
        work[o++] = ByteReversal[r.buffer & 0xFF];
        if (o == size) {  // no flag follows the picture's last pixel
          *result = ResultOk;
          finished = true;
          break;
        }
        if (!fits(9)) {
          *result = ResultTruncatedData;
          finished = true;
          break;
        }
        const bool tokenEnds = (r.buffer >> 8) & 1;
        Consume(r, 9);
        if (!tokenEnds) {
          previous = RunOpened;
          break;
        }
      }
      if (finished) {
        end = StepsEnd::Finished;
        break;
      }
      continue;
    }

    const CommandCode command = CommandCodes[r.buffer & ((1u << CommandPeekBits) - 1)];
    if (command.index == previous) {  // the end marker
      if (!fits(command.indexBits)) {
        *result = ResultTruncatedData;
        end = StepsEnd::Finished;
        break;
      }
      Consume(r, command.indexBits);
      previous = AtTokenStart;
      continue;
    }
    previous = command.index;
    size_t length = command.length;
    if (command.bits != 0 && fits(command.bits)) {
      Consume(r, command.bits);
    } else {
      // A long count code, or one the careful loop must read bit by bit
      // against the end of the block.
      if (!fits(command.indexBits)) {
        *result = ResultTruncatedData;
        end = StepsEnd::Finished;
        break;
      }
      Consume(r, command.indexBits);
      const uint32_t k = CountTrailingOnes(r.buffer);
      if (k > BitStreamMaxCountPrefix || !fits(2 * k + 1)) {
        *result = ResultTruncatedData;
        end = StepsEnd::Finished;
        break;
      }
      const uint32_t value = CountCodeBase[k] + ReverseLowBits(r.buffer >> (k + 1), k);
      Consume(r, 2 * k + 1);
      length = static_cast<size_t>(value) + (command.index < 2 ? 1 : 2);
    }

    const size_t distance = table.distance[command.index];
    if (distance > o || length > size - o) {
      *result = ResultBadData;
      end = StepsEnd::Finished;
      break;
    }
    CopyPixelsForward(work + o, distance, length, size - o);
    o += length;
    if (o == size) {  // no end marker follows the picture's last pixel
      *result = ResultOk;
      end = StepsEnd::Finished;
      break;
    }
  }

  state.reader = r;
  state.written = o;
  state.previous = previous;
  state.tokensLeft = tokensLeft;
  return end;
}

}  // namespace

ResultCode DecodeBitStream(const uint8_t* data, int32_t dataLength, uint8_t* work, int32_t width,
                           int32_t height, ProgressCallback progress, intptr_t userData) {
  if (dataLength < 0 || width < 0 || height < 0) return ResultBadData;
  if (dataLength == 0) return ResultOk;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (pixels > SIZE_MAX) return ResultBadData;
  const size_t size = static_cast<size_t>(pixels);
  // An empty picture is complete before the first token.
  if (size == 0) return ResultOk;

  const DistanceTable table = BuildDistanceTable(width);
  const uint32_t groupTokens = static_cast<uint32_t>(dataLength) / 64 + 1;
  DecoderState state = {{data, data + dataLength, 0, 0, 0}, 0, AtTokenStart, 0};
  uint64_t reported = 0;

  for (;;) {
    if (ProgressAsksToStop(progress, static_cast<int32_t>(reported), dataLength, userData)) {
      return ResultCancelled;
    }
    state.tokensLeft = groupTokens;
    ResultCode result = ResultOk;
    StepsEnd end = DecodeSteps<false>(state, work, size, table, &result);
    if (end == StepsEnd::InputLow) end = DecodeSteps<true>(state, work, size, table, &result);
    if (end == StepsEnd::Finished) return result;

    reported = ReadPosition(state.reader, data);
    if (reported >= static_cast<uint64_t>(dataLength)) {
      ClearCopyScratch(work, state.written, size);
      return ResultOk;
    }
  }
}
