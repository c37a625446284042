// The decoders against the plain reference decoders of kzx_test_support, on
// many generated streams: valid ones of every width from 1 up, the same with
// bits flipped, cut short or grown, random bytes, and cancellations. Result
// codes and progress calls must always agree, and the pixels too whenever
// decoding succeeds.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/bitstream_decoder.h"
#include "image/chunk_decoder.h"
#include "image/kzx_test_support.h"

namespace {

struct Outcome {
  ResultCode result;
  std::vector<uint8_t> pixels;
  std::vector<ProgressLog::Call> calls;
};

template <typename Decoder>
Outcome Decode(Decoder decoder, const std::vector<uint8_t>& data, size_t size, int stopAt) {
  ProgressLog log;
  log.stopAt = stopAt;
  Outcome out;
  out.pixels.assign(size, 0);
  std::vector<uint8_t> block(data);  // exact size: a read past it is caught by the sanitizers
  out.result = decoder(block.data(), static_cast<int32_t>(block.size()), out.pixels.data(),
                       ProgressLog::Record, log.UserData());
  out.calls = log.calls;
  return out;
}

void ExpectSame(const Outcome& fast, const Outcome& reference) {
  ASSERT_EQ(fast.result, reference.result);
  ASSERT_EQ(Describe(fast.calls), Describe(reference.calls));
  if (reference.result == ResultOk) {
    ASSERT_EQ(fast.pixels, reference.pixels);
  }
}

int64_t Distance(int index, int64_t w) {
  const int64_t table[14] = {1,         w,         2,         w + 1,     w - 1,
                             2 * w,     w + 2,     w - 2,     2 * w + 2, 2 * w + 1,
                             2 * w - 1, 2 * w - 2, 3 * w,     3 * w + 1};
  return table[index];
}

// A copy length from short (most) to long, at least minimum, at most room.
int64_t PickLength(std::mt19937& rng, int64_t minimum, int64_t room) {
  const int64_t limits[] = {4, 16, 300, room};
  int64_t limit = limits[rng() % 4];
  if (limit > room) limit = room;
  if (limit < minimum) return minimum;
  return minimum + static_cast<int64_t>(rng() % static_cast<uint32_t>(limit - minimum + 1));
}

// A valid bit stream for a width x height picture. With some chance it stops
// before the picture is full; it may carry trailing bits.
std::vector<uint8_t> ValidBitStream(std::mt19937& rng, int32_t width, int32_t height) {
  BitWriter w;
  const int64_t size = static_cast<int64_t>(width) * height;
  const int colours = 1 + static_cast<int>(rng() % 255);
  const bool stopEarly = rng() % 8 == 0;
  const int64_t stopAt = stopEarly ? static_cast<int64_t>(rng() % static_cast<uint32_t>(size)) : size;
  int64_t o = 0;
  while (o < stopAt) {
    w.Literal(static_cast<uint8_t>(rng() % colours));
    if (++o == size) break;
    std::vector<int> usable;
    for (int index = 0; index < 14; ++index) {
      const int64_t d = Distance(index, width);
      const int64_t minimum = index < 2 ? 1 : 2;
      if (d >= 1 && d <= o && minimum <= size - o) usable.push_back(index);
    }
    if (usable.empty() || rng() % 3 == 0) {
      w.Flag(true);
      continue;
    }
    w.Flag(false);
    int previous = -1;
    const int commands = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < commands && o < size; ++c) {
      std::vector<int> choices;
      for (int index : usable) {
        if (index != previous && Distance(index, width) <= o) choices.push_back(index);
      }
      if (choices.empty()) break;
      const int index = choices[rng() % choices.size()];
      const int64_t minimum = index < 2 ? 1 : 2;
      if (minimum > size - o) break;
      const int64_t length = PickLength(rng, minimum, size - o);
      w.Index(index);
      w.Count(static_cast<uint32_t>(length - minimum));
      o += length;
      previous = index;
    }
    if (o == size) break;
    w.Index(previous);
  }
  const int trailing = static_cast<int>(rng() % 40);
  for (int i = 0; i < trailing; ++i) w.Put(rng() & 1, 1);
  return w.Bytes();
}

// A valid chunked data block; escapes may overrun a chunk's coded length by
// their two parameter bytes, as the chunk rule allows.
std::vector<uint8_t> ValidChunks(std::mt19937& rng, size_t size) {
  std::vector<uint8_t> data;
  size_t o = 0;
  const int colours = 1 + static_cast<int>(rng() % 255);
  while (o < size) {
    std::vector<uint8_t> coded;
    const size_t target = rng() % 6 == 0 ? 0 : 1 + rng() % 300;
    while (coded.size() < target && o < size) {
      const bool escape = o > 0 && size - o >= 3 && rng() % 3 == 0;
      if (!escape) {
        coded.push_back(static_cast<uint8_t>(rng() % colours % 255));
        ++o;
        continue;
      }
      const size_t maxDistance = o < 255 ? o : 255;
      // Distance 0 now and then: pixels without a value from the stream.
      const size_t distance = rng() % 16 == 0 ? 0 : 1 + rng() % maxDistance;
      const size_t room = size - o < 258 ? size - o : 258;
      const size_t count = 3 + rng() % (room - 2);
      coded.push_back(0xFF);
      coded.push_back(static_cast<uint8_t>(distance));
      coded.push_back(static_cast<uint8_t>(count - 3));
      o += count;
    }
    // Declare up to two bytes less when the chunk ends in an escape.
    size_t declared = coded.size();
    if (declared >= 3 && coded[declared - 3] == 0xFF) declared -= rng() % 3;
    const std::vector<uint8_t> chunk = Chunk(coded, static_cast<uint16_t>(declared));
    data.insert(data.end(), chunk.begin(), chunk.end());
    if (rng() % 20 == 0) break;  // stop before the picture is full
  }
  return data;
}

std::vector<uint8_t> Mutate(std::mt19937& rng, std::vector<uint8_t> data) {
  switch (rng() % 4) {
    case 0:  // flip bits
      for (int i = 1 + static_cast<int>(rng() % 3); i > 0 && !data.empty(); --i) {
        data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      }
      break;
    case 1:  // cut short
      data.resize(data.empty() ? 0 : rng() % data.size());
      break;
    case 2:  // grow by random bytes
      for (int i = static_cast<int>(rng() % 12); i > 0; --i) data.push_back(static_cast<uint8_t>(rng()));
      break;
    default:  // overwrite a byte
      if (!data.empty()) data[rng() % data.size()] = static_cast<uint8_t>(rng());
      break;
  }
  return data;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t maxLength) {
  std::vector<uint8_t> data(rng() % (maxLength + 1));
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(rng());
  return data;
}

int32_t PickWidth(std::mt19937& rng) {
  const uint32_t kind = rng() % 4;
  if (kind == 0) return 1 + static_cast<int32_t>(rng() % 2);  // 1 and 2: the narrow neighbours
  if (kind == 1) return 3 + static_cast<int32_t>(rng() % 8);
  return 1 + static_cast<int32_t>(rng() % 90);
}

TEST(DecoderEquivalence, BitStreamMatchesTheOneBitReader) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 6000; ++round) {
    const int32_t width = PickWidth(rng);
    const int32_t height = 1 + static_cast<int32_t>(rng() % 40);
    const size_t size = static_cast<size_t>(width) * height;
    std::vector<uint8_t> data;
    switch (round % 4) {
      case 0:
      case 1:
        data = ValidBitStream(rng, width, height);
        break;
      case 2:
        data = Mutate(rng, ValidBitStream(rng, width, height));
        break;
      default:
        data = RandomBytes(rng, 80);
        break;
    }
    const int stopAt = rng() % 10 == 0 ? static_cast<int>(rng() % 4) : -1;
    SCOPED_TRACE(testing::Message() << "round " << round << " width " << width << " height "
                                    << height << " bytes " << data.size());
    const Outcome fast = Decode(
        [width, height](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p, intptr_t u) {
          return DecodeBitStream(d, n, work, width, height, p, u);
        },
        data, size, stopAt);
    const Outcome reference = Decode(
        [width, height](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p, intptr_t u) {
          return ReferenceBitStream(d, n, work, width, height, p, u);
        },
        data, size, stopAt);
    ExpectSame(fast, reference);
    if (HasFatalFailure()) return;
  }
}

// Every prefix of one stream: the data block ends at every possible place,
// inside every kind of code.
TEST(DecoderEquivalence, BitStreamCutAtEveryByte) {
  std::mt19937 rng(7);
  for (int32_t width : {1, 2, 5, 64}) {
    const std::vector<uint8_t> whole = ValidBitStream(rng, width, 4096 / width);
    for (size_t length = 0; length <= whole.size(); ++length) {
      SCOPED_TRACE(testing::Message() << "width " << width << " length " << length);
      const std::vector<uint8_t> data(whole.begin(), whole.begin() + length);
      const size_t size = static_cast<size_t>(width) * (4096 / width);
      const int32_t height = 4096 / width;
      ExpectSame(Decode([&](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p, intptr_t u) {
                   return DecodeBitStream(d, n, work, width, height, p, u);
                 }, data, size, -1),
                 Decode([&](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p, intptr_t u) {
                   return ReferenceBitStream(d, n, work, width, height, p, u);
                 }, data, size, -1));
      if (HasFatalFailure()) return;
    }
  }
}

TEST(DecoderEquivalence, ChunksMatchTheByteReader) {
  std::mt19937 rng(19700101);
  for (int round = 0; round < 6000; ++round) {
    const size_t size = 1 + rng() % (rng() % 4 == 0 ? 20000 : 400);
    std::vector<uint8_t> data;
    switch (round % 4) {
      case 0:
      case 1:
        data = ValidChunks(rng, size);
        break;
      case 2:
        data = Mutate(rng, ValidChunks(rng, size));
        break;
      default:
        // Random coded bytes behind a good header, and now and then no header.
        data = RandomBytes(rng, 120);
        if (rng() % 4 != 0) data = Chunk(data, static_cast<uint16_t>(rng() % 130));
        break;
    }
    const int stopAt = rng() % 10 == 0 ? static_cast<int>(rng() % 4) : -1;
    SCOPED_TRACE(testing::Message() << "round " << round << " size " << size << " bytes "
                                    << data.size());
    ExpectSame(Decode([size](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p,
                          intptr_t u) { return DecodeChunks(d, n, work, size, p, u); },
                   data, size, stopAt),
               Decode([size](const uint8_t* d, int32_t n, uint8_t* work, ProgressCallback p,
                          intptr_t u) { return ReferenceChunks(d, n, work, size, p, u); },
                   data, size, stopAt));
    if (HasFatalFailure()) return;
  }
}

}  // namespace
