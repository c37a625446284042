#include "image/bitstream_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "image/kzx_test_support.h"

namespace {

struct Decoded {
  ResultCode result;
  std::vector<uint8_t> pixels;
  std::vector<ProgressLog::Call> calls;
};

Decoded Decode(const std::vector<uint8_t>& data, int32_t width, int32_t height, int stopAt = -1) {
  ProgressLog log;
  log.stopAt = stopAt;
  Decoded out;
  out.pixels.assign(static_cast<size_t>(width) * height, 0);
  // An exact-size copy, so that a read past the block is an error under the
  // sanitizers.
  std::vector<uint8_t> block(data);
  out.result = DecodeBitStream(block.data(), static_cast<int32_t>(block.size()), out.pixels.data(),
                               width, height, ProgressLog::Record, log.UserData());
  out.calls = log.calls;
  return out;
}

struct Case {
  const char* name;
  std::vector<uint8_t> data;
  int32_t width;
  int32_t height;
  ResultCode result;
  std::vector<uint8_t> pixels;  // checked when not empty
  std::vector<ProgressLog::Call> calls;
};

std::vector<uint8_t> Stream(void (*write)(BitWriter&)) {
  BitWriter writer;
  write(writer);
  return writer.Bytes();
}

std::vector<Case> Cases() {
  const std::vector<uint8_t>& example = ExamplePictureData();
  return {
      {"example picture", example, 4, 3, ResultOk,
       {0, 1, 0, 1, 0, 1, 0, 1, 2, 2, 2, 2}, {{0, 12}, {4, 12}, {8, 12}}},
      // The reader has taken the word that ends the block: decoding stops
      // between groups although the bottom row's codes are there.
      {"example cut to 8 bytes", {example.begin(), example.begin() + 8}, 4, 3, ResultOk,
       {0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0}, {{0, 8}, {4, 8}}},
      {"count code runs off the block", {0x00, 0xF8, 0xFF, 0xFF}, 4, 3, ResultTruncatedData, {}, {{0, 4}}},
      {"picture filled by a literal reads no flag",
       Stream([](BitWriter& w) { w.Literal(0x2A); }), 1, 1, ResultOk, {0x2A}, {{0, 1}}},
      {"picture filled by a copy reads no end marker",
       Stream([](BitWriter& w) {
         w.Literal(7);
         w.Flag(false);
         w.Index(0);
         w.Count(1);
       }),
       3, 1, ResultOk, {7, 7, 7}, {{0, 2}}},
      {"first copy from the row above before a row is written",
       Stream([](BitWriter& w) {
         w.Literal(1);
         w.Flag(false);
         w.Index(1);
         w.Count(0);
       }),
       4, 3, ResultBadData, {}, {{0, 2}}},
      {"copy past the last pixel",
       Stream([](BitWriter& w) {
         w.Literal(1);
         w.Flag(false);
         w.Index(0);
         w.Count(3);  // 4 pixels, 3 left
       }),
       4, 1, ResultBadData, {}, {{0, 2}}},
      // Groups are one token here; the zero bits at the end keep the group
      // test from ending the picture before its last literal.
      {"a repeated index ends the run",
       Stream([](BitWriter& w) {
         w.Literal(5);
         w.Flag(false);
         w.Index(0);
         w.Count(0);
         w.Index(0);  // the end marker, not a second copy
         w.Literal(6);
         w.Flag(true);
         w.Literal(7);
         w.Put(0, 32);
       }),
       4, 1, ResultOk, {5, 5, 6, 7}, {{0, 8}, {4, 8}, {4, 8}}},
      {"copy run of several neighbours",
       Stream([](BitWriter& w) {
         w.Literal(1);
         w.Flag(true);
         w.Literal(2);
         w.Flag(true);
         w.Literal(3);
         w.Flag(false);
         w.Index(2);  // 2 back: 2 3
         w.Count(0);
         w.Index(1);  // a row up: the whole first row
         w.Count(4);
         w.Index(5);  // two rows up
         w.Count(2);
         w.Index(5);
         w.Literal(9);
         w.Put(0, 64);
       }),
       5, 3, ResultOk, {1, 2, 3, 2, 3, 1, 2, 3, 2, 3, 1, 2, 3, 2, 9},
       {{0, 16}, {4, 16}, {4, 16}, {8, 16}}},
      {"a neighbour further back than the first pixel",
       Stream([](BitWriter& w) {
         w.Literal(1);
         w.Flag(true);
         w.Literal(2);
         w.Flag(false);
         w.Index(13);
         w.Count(0);
         w.Put(0, 32);
       }),
       5, 3, ResultBadData, {}, {{0, 7}, {4, 7}}},
      {"23 one-bits in a count code",
       Stream([](BitWriter& w) {
         w.Literal(1);
         w.Flag(false);
         w.Index(0);
         w.CountOnes(23, 0);
         w.Put(0, 32);
       }),
       64, 64, ResultTruncatedData, {}, {{0, 12}}},
      {"flag beyond the block",
       Stream([](BitWriter& w) { w.Literal(3); }), 4, 1, ResultTruncatedData, {}, {{0, 1}}},
      {"index code cut short",
       Stream([](BitWriter& w) {
         w.Literal(3);
         w.Flag(false);
         w.Index(0);
         w.Count(0);
         w.Put(3, 2);  // "1 1" and two of the three bits that must follow
         w.Put(0, 2);
       }),
       4, 1, ResultTruncatedData, {}, {{0, 2}}},
  };
}

TEST(BitStreamDecoder, Cases) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Decoded out = Decode(c.data, c.width, c.height);
    EXPECT_EQ(out.result, c.result);
    if (!c.pixels.empty()) {
      EXPECT_EQ(out.pixels, c.pixels);
    }
    EXPECT_EQ(Describe(out.calls), Describe(c.calls));
  }
}

// A literal followed by one copy of index 0 whose count code has the given
// shape fills a picture 1 pixel wide of exactly value + 2 pixels.
TEST(BitStreamDecoder, CountCodeValues) {
  const struct {
    int ones;
    uint32_t x;
    uint32_t value;
  } codes[] = {{0, 0, 0}, {1, 1, 2}, {2, 3, 6}, {3, 0, 7}, {22, (1u << 22) - 1, (1u << 23) - 2}};
  for (const auto& code : codes) {
    SCOPED_TRACE(code.value);
    BitWriter w;
    w.Literal(0x5A);
    w.Flag(false);
    w.Index(0);
    w.CountOnes(code.ones, code.x);
    const int32_t height = static_cast<int32_t>(code.value + 2);
    const Decoded out = Decode(w.Bytes(), 1, height);
    ASSERT_EQ(out.result, ResultOk);
    EXPECT_EQ(out.pixels, std::vector<uint8_t>(height, 0x5A));
  }
}

// In pictures 1 and 2 pixels wide some neighbours are 0 or -1 pixels back.
TEST(BitStreamDecoder, NeighboursNarrowPicturesLack) {
  const struct {
    int32_t width;
    int index;
    ResultCode result;
  } cases[] = {{1, 4, ResultBadData},  {1, 11, ResultBadData}, {1, 7, ResultBadData},
               {2, 7, ResultBadData},  {2, 4, ResultOk},       {2, 11, ResultOk},
               {1, 1, ResultOk},       {3, 7, ResultOk}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << " index " << c.index);
    BitWriter w;
    for (int i = 0; i < 8; ++i) {  // enough pixels for every neighbour
      w.Literal(static_cast<uint8_t>(i + 1));
      w.Flag(true);
    }
    w.Literal(9);
    w.Flag(false);
    w.Index(c.index);
    w.Count(0);
    w.Index(c.index);
    w.Put(0, 32);
    const Decoded out = Decode(w.Bytes(), c.width, 64 / c.width);
    EXPECT_EQ(out.result, c.result);
  }
}

// Groups are dataLength / 64 + 1 tokens: with 9-bit tokens the first
// positions tell one group size from the other.
TEST(BitStreamDecoder, GroupSizeFollowsDataLength) {
  const struct {
    int32_t dataLength;
    std::vector<ProgressLog::Call> firstCalls;
  } cases[] = {{63, {{0, 63}, {4, 63}, {4, 63}, {4, 63}, {8, 63}}},
               {64, {{0, 64}, {4, 64}, {8, 64}, {8, 64}, {12, 64}}},
               {6400, {{0, 6400}, {116, 6400}, {228, 6400}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dataLength);
    BitWriter w;
    while (w.Bytes().size() < static_cast<size_t>(c.dataLength)) {
      w.Literal(1);
      w.Flag(true);
    }
    std::vector<uint8_t> data = w.Bytes();
    data.resize(c.dataLength);
    const Decoded out = Decode(data, 1000, 1000);
    ASSERT_GE(out.calls.size(), c.firstCalls.size());
    EXPECT_EQ(Describe({out.calls.begin(), out.calls.begin() + c.firstCalls.size()}),
              Describe(c.firstCalls));
  }
}

TEST(BitStreamDecoder, CancelStopsBeforeTheNextGroup) {
  const Decoded first = Decode(ExamplePictureData(), 4, 3, 0);
  EXPECT_EQ(first.result, ResultCancelled);
  EXPECT_EQ(first.pixels, std::vector<uint8_t>(12, 0));
  EXPECT_EQ(first.calls.size(), 1u);

  const Decoded second = Decode(ExamplePictureData(), 4, 3, 1);
  EXPECT_EQ(second.result, ResultCancelled);
  EXPECT_EQ(Describe(second.calls), "(0,12)(4,12)");
}

TEST(BitStreamDecoder, NothingToDecode) {
  uint8_t pixel = 0x77;
  ProgressLog log;
  const uint8_t data[4] = {1, 2, 3, 4};
  // No data: nothing read, written or reported.
  EXPECT_EQ(DecodeBitStream(data, 0, &pixel, 1, 1, ProgressLog::Record, log.UserData()), ResultOk);
  // An empty picture takes no pixel from the data.
  EXPECT_EQ(DecodeBitStream(data, 4, &pixel, 0, 5, ProgressLog::Record, log.UserData()), ResultOk);
  EXPECT_EQ(DecodeBitStream(data, 4, &pixel, 5, 0, ProgressLog::Record, log.UserData()), ResultOk);
  EXPECT_EQ(pixel, 0x77);
  EXPECT_TRUE(log.calls.empty());
  // A null callback is never called.
  std::vector<uint8_t> pixels(12, 0);
  EXPECT_EQ(DecodeBitStream(ExamplePictureData().data(), 12, pixels.data(), 4, 3, nullptr, 0), ResultOk);
}

}  // namespace
