#include "image/kzx_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/kzx_test_support.h"

namespace {

// A view whose end is known, as for a mapped file.
InputView BoundedView(const std::vector<uint8_t>& bytes, size_t length) {
  InputView view;
  view.data = bytes.data();
  view.bounds.first = bytes.data();
  view.bounds.end = bytes.data() + length;
  return view;
}
InputView BoundedView(const std::vector<uint8_t>& bytes) { return BoundedView(bytes, bytes.size()); }

TEST(KzxHeader, MagicAlone) {
  const uint8_t magic[10] = {0x2E, 0x38, 0x42, 0x69, 0x74, 0x56, 0x61, 0x73, 0x6B, 0x00};
  const struct {
    int byte;
    uint8_t value;
    int32_t expected;
  } cases[] = {{-1, 0, 1}, {9, 0x20, 0}, {0, 0x2F, 0}, {8, 0x4B, 0}};
  for (const auto& c : cases) {
    std::vector<uint8_t> header(26, 0xA5);  // whatever follows the magic
    std::memcpy(header.data(), magic, 10);
    if (c.byte >= 0) header[c.byte] = c.value;
    EXPECT_EQ(TestKzxHeader(header.data()), c.expected) << c.byte;
  }
}

TEST(KzxPictureInfo, SizeFromTheHeaderWithOrWithoutMagic) {
  std::vector<uint8_t> file = ExamplePictureFile();
  for (bool withMagic : {true, false}) {
    if (!withMagic) file[0] = 'X';
    alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
    std::memset(&info, 0x55, sizeof info);
    ASSERT_EQ(FillPictureInfo(BoundedView(file), &info), ResultOk);
    EXPECT_EQ(info.left, 0);
    EXPECT_EQ(info.top, 0);
    EXPECT_EQ(info.width, 4);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.xDensity, 1);
    EXPECT_EQ(info.yDensity, 1);
    EXPECT_EQ(info.colorDepth, 8);
    EXPECT_EQ(static_cast<uint32_t>(info.textHandle), 0u);  // at offset 22, never aligned
  }
  // 0xFFFF is 65535, not -1.
  KzxFileLayout layout;
  layout.width = 0xFFFF;
  layout.height = 0xFFFE;
  alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
  ASSERT_EQ(FillPictureInfo(BoundedView(BuildKzxFile(layout)), &info), ResultOk);
  EXPECT_EQ(info.width, 65535);
  EXPECT_EQ(info.height, 65534);
}

TEST(KzxPictureInfo, ShortHeaderLeavesTheRecord) {
  const std::vector<uint8_t> file = ExamplePictureFile();
  alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
  std::memset(&info, 0x55, sizeof info);
  EXPECT_EQ(FillPictureInfo(BoundedView(file, 25), &info), ResultBadData);
  const std::vector<uint8_t> untouched(sizeof info, 0x55);
  EXPECT_EQ(std::memcmp(&info, untouched.data(), sizeof info), 0);
}

TEST(KzxPalette, ColoursIntoTheTable) {
  std::vector<uint8_t> table(1024, 0);
  ASSERT_EQ(FillPalette(BoundedView(ExamplePictureFile()), table.data(), 256), ResultOk);
  const std::vector<uint8_t> first = {0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0xFF, 0};
  EXPECT_EQ(std::vector<uint8_t>(table.begin(), table.begin() + 12), first);
  EXPECT_EQ(std::vector<uint8_t>(table.begin() + 12, table.end()), std::vector<uint8_t>(1012, 0));
}

TEST(KzxPalette, Counts) {
  const struct {
    uint16_t paletteCount;
    size_t paletteBytes;  // bytes actually present after the header
    ResultCode result;
    uint32_t entriesWritten;
  } cases[] = {
      {0, 0, ResultOk, 0},
      {256, 768, ResultOk, 256},
      {300, 900, ResultOk, 256},  // entries beyond the table are ignored
      {3, 8, ResultBadData, 0},   // the palette runs past the input
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paletteCount);
    KzxFileLayout layout;
    layout.paletteCount = c.paletteCount;
    for (size_t i = 0; i < c.paletteBytes; ++i) layout.palette.push_back(static_cast<uint8_t>(1 + i % 250));
    const std::vector<uint8_t> file = BuildKzxFile(layout);
    // Exactly 256 entries: a write past them is caught by the sanitizers.
    std::vector<uint8_t> table(1024, 0);
    EXPECT_EQ(FillPalette(BoundedView(file), table.data(), 256), c.result);
    uint32_t written = 0;
    for (uint32_t i = 0; i < 256; ++i) written += table[4 * i] != 0 ? 1 : 0;
    EXPECT_EQ(written, c.entriesWritten);
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(table[4 * i + 3], 0) << "reserved byte " << i;
  }
}

struct Decoded {
  ResultCode result;
  std::vector<uint8_t> block;
  std::vector<ProgressLog::Call> calls;
};

Decoded DecodeInto(const std::vector<uint8_t>& file, int32_t stride, int32_t height,
                   uint8_t fill = 0) {
  ProgressLog log;
  Decoded out;
  out.block.assign(static_cast<size_t>(stride) * (height > 0 ? height : 0), fill);
  out.result = DecodePixels(BoundedView(file), out.block.data(), stride, height, ProgressLog::Record,
                            log.UserData());
  out.calls = log.calls;
  return out;
}

TEST(KzxDecodePixels, ExampleRowsBottomUp) {
  const Decoded out = DecodeInto(ExamplePictureFile(), 4, 3);
  ASSERT_EQ(out.result, ResultOk);
  EXPECT_EQ(out.block, (std::vector<uint8_t>{2, 2, 2, 2, 0, 1, 0, 1, 0, 1, 0, 1}));
  EXPECT_EQ(Describe(out.calls), "(0,12)(4,12)(8,12)");
}

TEST(KzxDecodePixels, BytesAfterEachRowAreNotWritten) {
  const Decoded out = DecodeInto(ExamplePictureFile(), 6, 3, 0xEE);
  ASSERT_EQ(out.result, ResultOk);
  EXPECT_EQ(out.block, (std::vector<uint8_t>{2, 2, 2, 2, 0xEE, 0xEE, 0, 1, 0, 1, 0xEE, 0xEE, 0, 1,
                                             0, 1, 0xEE, 0xEE}));
}

TEST(KzxDecodePixels, EncodingFieldChoosesTheDecoder) {
  // The same 2 x 1 picture in each encoding; only the bit-stream decoder
  // makes sense of the bit stream and only the chunk decoder of the chunk.
  BitWriter bits;
  bits.Literal(7);
  bits.Flag(true);
  bits.Literal(8);
  bits.Put(0, 32);  // so that the group test does not end it after one pixel
  const std::vector<uint8_t> chunk = Chunk({7, 8});
  const struct {
    uint16_t encoding;
    bool chunked;
  } cases[] = {{0x0100, false}, {0x0001, true}, {0x0000, true}, {0x0101, true}, {0xFFFF, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoding);
    KzxFileLayout layout;
    layout.encoding = c.encoding;
    layout.width = 2;
    layout.height = 1;
    layout.data = c.chunked ? chunk : bits.Bytes();
    const Decoded out = DecodeInto(BuildKzxFile(layout), 4, 1);
    EXPECT_EQ(out.result, ResultOk);
    EXPECT_EQ(out.block, (std::vector<uint8_t>{7, 8, 0, 0}));
  }
}

TEST(KzxDecodePixels, DataBlockFollowsPaletteAndExtraBytes) {
  KzxFileLayout layout;
  layout.encoding = 1;
  layout.width = 2;
  layout.height = 1;
  layout.palette = {1, 2, 3, 4, 5, 6};
  layout.extra = {0xFF, 0xFF, 0xFF};  // never read as data
  layout.data = Chunk({9, 10});
  const Decoded out = DecodeInto(BuildKzxFile(layout), 4, 1);
  EXPECT_EQ(out.result, ResultOk);
  EXPECT_EQ(out.block, (std::vector<uint8_t>{9, 10, 0, 0}));
}

TEST(KzxDecodePixels, WideRowsKeepTheirPadding) {
  // 641 x 2 pixels, each row one literal copied along; stride 644.
  BitWriter bits;
  for (uint8_t row : {3, 4}) {
    bits.Literal(row);
    bits.Flag(false);
    bits.Index(0);
    bits.Count(639);
    bits.Index(0);
  }
  KzxFileLayout layout;
  layout.width = 641;
  layout.height = 2;
  layout.data = bits.Bytes();
  layout.data.resize(layout.data.size() + 8, 0);
  const Decoded out = DecodeInto(BuildKzxFile(layout), 644, 2);
  ASSERT_EQ(out.result, ResultOk);
  for (int k = 0; k < 2; ++k) {
    const uint8_t expected = k == 0 ? 4 : 3;
    for (int x = 0; x < 644; ++x) EXPECT_EQ(out.block[644 * k + x], x < 641 ? expected : 0) << k << "," << x;
  }
}

TEST(KzxDecodePixels, Failures) {
  const std::vector<uint8_t> example = ExamplePictureFile();
  std::vector<uint8_t> hugeData = example;
  hugeData[22] = hugeData[23] = hugeData[24] = hugeData[25] = 0xFF;
  std::vector<uint8_t> longData = example;
  longData[22] = 13;  // one byte more than there is
  std::vector<uint8_t> farCopy = example;
  farCopy[38] = 0x00;
  farCopy[39] = 0xFE;  // flag 0, then index 13 (13 pixels back) after one pixel
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    size_t readable;
    int32_t stride;
    int32_t height;
    ResultCode result;
  } cases[] = {
      {"header cut short", example, 25, 4, 3, ResultBadData},
      {"data block cut short", example, 49, 4, 3, ResultBadData},
      {"dataLength past the input", longData, longData.size(), 4, 3, ResultBadData},
      {"dataLength 2^32 - 1", hugeData, hugeData.size(), 4, 3, ResultBadData},
      {"copy from before pixel 0", farCopy, farCopy.size(), 4, 3, ResultBadData},
      {"height not the header's", example, example.size(), 4, 4, ResultBadData},
      {"stride shorter than a row", example, example.size(), 3, 3, ResultBadData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> block(static_cast<size_t>(c.stride) * c.height, 0);
    EXPECT_EQ(DecodePixels(BoundedView(c.file, c.readable), block.data(), c.stride, c.height, nullptr, 0),
              c.result);
    EXPECT_EQ(block, std::vector<uint8_t>(block.size(), 0)) << "the pixel block is not written";
  }
}

TEST(KzxDecodePixels, CancelLeavesTheBlock) {
  ProgressLog log;
  log.stopAt = 2;
  std::vector<uint8_t> block(12, 0);
  EXPECT_EQ(DecodePixels(BoundedView(ExamplePictureFile()), block.data(), 4, 3, ProgressLog::Record,
                         log.UserData()),
            ResultCancelled);
  EXPECT_EQ(block, std::vector<uint8_t>(12, 0));
  EXPECT_EQ(log.calls.size(), 3u);
}

TEST(KzxDecodePixels, UndecodedPixelsAreZero) {
  // The data ends with the word that holds the bottom row's codes: decoding
  // stops before it, and the work buffer it came from was clear.
  std::vector<uint8_t> file = ExamplePictureFile();
  file[22] = 8;
  file.resize(38 + 8);
  const Decoded out = DecodeInto(file, 4, 3, 0xEE);
  ASSERT_EQ(out.result, ResultOk);
  EXPECT_EQ(out.block, (std::vector<uint8_t>{0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1}));
}

TEST(KzxDecodePixels, EmptyPictureWritesNothing) {
  KzxFileLayout layout;
  layout.width = 0;
  layout.height = 3;
  layout.data = {1, 2, 3};
  uint8_t block[4] = {9, 9, 9, 9};
  EXPECT_EQ(DecodePixels(BoundedView(BuildKzxFile(layout)), block, 0, 3, nullptr, 0), ResultOk);
  EXPECT_EQ(block[0], 9);
}

}  // namespace
