#include "image/chunk_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/kzx_test_support.h"

namespace {

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Case {
  const char* name;
  std::vector<uint8_t> data;
  size_t size;
  ResultCode result;
  std::vector<uint8_t> pixels;  // the whole work buffer, checked when not empty
  std::vector<ProgressLog::Call> calls;
};

std::vector<Case> Cases() {
  return {
      {"escape copies the first row",
       Chunk({0x05, 0x06, 0x07, 0x08, 0xFF, 0x04, 0x01}), 8, ResultOk,
       {5, 6, 7, 8, 5, 6, 7, 8}, {{0, 17}}},
      {"distance 1 repeats the last pixel", Chunk({0x09, 0xFF, 0x01, 0x02}), 6, ResultOk,
       {9, 9, 9, 9, 9, 9}, {{0, 14}}},
      {"data used up before the picture is full",
       Join({Chunk({0x09, 0xFF, 0x01, 0x02}), Chunk({0x0A, 0xFF, 0x07, 0x00})}), 12, ResultOk,
       {9, 9, 9, 9, 9, 9, 0x0A, 9, 9, 9, 0, 0}, {{0, 28}, {14, 28}}},
      {"an escape at a chunk's last coded bytes is taken whole",
       Join({Chunk({0x01, 0xFF, 0x01, 0x00}, 2), Chunk({0x02})}), 5, ResultOk,
       {1, 1, 1, 1, 2}, {{0, 25}, {14, 25}}},
      {"distance 0 gives pixels no value from the stream",
       Chunk({0x04, 0xFF, 0x00, 0x00, 0x05}), 5, ResultOk, {4, 0, 0, 0, 5}, {{0, 15}}},
      {"escape parameters beyond the block", Chunk({0x03, 0xFF, 0x01}, 3), 8, ResultBadData, {},
       {{0, 13}}},
      {"escape from before the first pixel", Chunk({0x03, 0xFF, 0x02, 0x00}), 8, ResultBadData,
       {}, {{0, 14}}},
      {"escape past the last pixel", Chunk({0x03, 0xFF, 0x01, 0x02}), 5, ResultBadData, {},
       {{0, 14}}},
      {"second chunk with its signature bytes swapped",
       Join({Chunk({0x01}), Chunk({0x02}, 1, 0x4358)}), 4, ResultBadData, {}, {{0, 22}}},
      {"picture full in the middle of a chunk: the rest is never read",
       Join({Chunk({0x01, 0x02, 0xFF, 0xFF}, 4), {0x00, 0x00}}), 2, ResultOk, {1, 2}, {{0, 16}}},
      {"a header-only chunk, then another",
       Join({Chunk({}), Chunk({0x07})}), 1, ResultOk, {7}, {{0, 21}, {10, 21}}},
      {"header cut short", Join({Chunk({0x01}), {0x43, 0x58, 0, 0}}), 4, ResultBadData, {},
       {{0, 15}}},
      {"coded bytes beyond the block", Chunk({0x01, 0x02}, 5), 8, ResultBadData, {}, {{0, 12}}},
      {"a literal may not be 255 but a pixel may reach 254",
       Chunk({0xFE, 0xFF, 0x01, 0x00}), 4, ResultOk, {0xFE, 0xFE, 0xFE, 0xFE}, {{0, 14}}},
  };
}

TEST(ChunkDecoder, Cases) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    ProgressLog log;
    std::vector<uint8_t> pixels(c.size, 0);
    const ResultCode result = DecodeChunks(c.data.data(), static_cast<int32_t>(c.data.size()),
                                           pixels.data(), c.size, ProgressLog::Record, log.UserData());
    EXPECT_EQ(result, c.result);
    if (!c.pixels.empty()) {
      EXPECT_EQ(pixels, c.pixels);
    }
    EXPECT_EQ(Describe(log.calls), Describe(c.calls));
  }
}

TEST(ChunkDecoder, CancelAtAChunk) {
  const std::vector<uint8_t> data = Join({Chunk({0x01, 0x02}), Chunk({0x03, 0x04})});
  for (int stopAt = 0; stopAt < 2; ++stopAt) {
    ProgressLog log;
    log.stopAt = stopAt;
    std::vector<uint8_t> pixels(8, 0);
    EXPECT_EQ(DecodeChunks(data.data(), static_cast<int32_t>(data.size()), pixels.data(), 8,
                           ProgressLog::Record, log.UserData()),
              ResultCancelled);
    EXPECT_EQ(log.calls.size(), static_cast<size_t>(stopAt + 1));
  }
}

TEST(ChunkDecoder, NothingToDecode) {
  const std::vector<uint8_t> data = Chunk({0x01});
  uint8_t pixel = 0x77;
  ProgressLog log;
  EXPECT_EQ(DecodeChunks(data.data(), 0, &pixel, 1, ProgressLog::Record, log.UserData()), ResultOk);
  EXPECT_EQ(DecodeChunks(data.data(), 11, &pixel, 0, ProgressLog::Record, log.UserData()), ResultOk);
  EXPECT_EQ(pixel, 0x77);
  EXPECT_TRUE(log.calls.empty());
}

}  // namespace
