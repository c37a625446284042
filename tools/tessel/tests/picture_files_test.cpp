// The BMP reader takes files from anywhere and bitmaps from any plug-in: every
// malformed one must come back as a clear refusal, never as a read outside
// the bytes given. And the picture helpers must not lose a colour.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "bmp_io.h"
#include "frame/byte_order.h"
#include "picture.h"
#include "support/guarded_buffer.h"

namespace {

struct BmpLayout {
  uint32_t headerSize = 40;
  int32_t width = 3;
  int32_t height = 2;
  uint16_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t coloursUsed = 4;     // 0 would mean all 2^bitCount
  uint32_t paletteEntries = 4;  // entries actually stored
  std::vector<uint32_t> masks;  // stored after a 40-byte header
  std::vector<uint8_t> pixels;  // rows as stored, padded by the caller
};

// A BMP file laid out as BmpLayout says, whether or not that makes sense.
std::vector<uint8_t> MakeBmp(const BmpLayout& layout) {
  std::vector<uint8_t> info(layout.headerSize, 0);
  StoreU32LE(&info[0], layout.headerSize);
  StoreU32LE(&info[4], static_cast<uint32_t>(layout.width));
  StoreU32LE(&info[8], static_cast<uint32_t>(layout.height));
  StoreU16LE(&info[12], 1);
  StoreU16LE(&info[14], layout.bitCount);
  StoreU32LE(&info[16], layout.compression);
  StoreU32LE(&info[32], layout.coloursUsed);
  for (size_t i = 0; i < layout.masks.size(); ++i) {
    if (layout.headerSize >= 52) {
      StoreU32LE(&info[40 + 4 * i], layout.masks[i]);
    } else {
      info.resize(info.size() + 4);
      StoreU32LE(&info[info.size() - 4], layout.masks[i]);
    }
  }
  for (uint32_t i = 0; i < layout.paletteEntries; ++i) {
    // blue, green, red, reserved: entry i is (red 10 i, green 20 i, blue 30 i)
    info.insert(info.end(), {static_cast<uint8_t>(30 * i), static_cast<uint8_t>(20 * i),
                             static_cast<uint8_t>(10 * i), 0});
  }
  std::vector<uint8_t> file(BmpFileHeaderSize);
  std::string error;
  MakeBmpFileHeader(info.size(), layout.pixels.size(), file.data(), &error);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), layout.pixels.begin(), layout.pixels.end());
  return file;
}

TEST(DecodeBmp, ReadsEveryDepthTopRowFirst) {
  struct Case {
    const char* what;
    BmpLayout layout;
    PictureKind kind;
    std::vector<uint8_t> samples;
  };
  BmpLayout eightBit;  // stored bottom row first, each row padded to 4 bytes
  eightBit.pixels = {3, 2, 1, 0, 0, 1, 2, 0};
  BmpLayout topDown = eightBit;
  topDown.height = -2;
  BmpLayout oneBit;
  oneBit.bitCount = 1;
  oneBit.width = 10;
  oneBit.height = 1;
  oneBit.coloursUsed = 0;  // all 2
  oneBit.paletteEntries = 2;
  oneBit.pixels = {0xA0, 0x40, 0, 0};  // 1010 0000 01
  BmpLayout fourBit;
  fourBit.bitCount = 4;
  fourBit.height = 1;
  fourBit.coloursUsed = 3;
  fourBit.paletteEntries = 3;
  fourBit.pixels = {0x12, 0x00, 0, 0};
  BmpLayout rgb24;
  rgb24.bitCount = 24;
  rgb24.width = 2;
  rgb24.coloursUsed = 0;
  rgb24.paletteEntries = 0;
  // bottom row, then top row; blue, green, red; 2 bytes of padding each
  rgb24.pixels = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  BmpLayout rgb32 = rgb24;
  rgb32.bitCount = 32;
  rgb32.pixels = {1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99};
  BmpLayout masked = rgb32;
  masked.compression = 3;
  masked.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
  BmpLayout v5 = masked;
  v5.headerSize = 124;

  const Case cases[] = {
      {"8-bit bottom-up", eightBit, PictureKind::Indexed, {0, 1, 2, 3, 2, 1}},
      {"8-bit top-down", topDown, PictureKind::Indexed, {3, 2, 1, 0, 1, 2}},
      {"1-bit", oneBit, PictureKind::Indexed, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
      {"4-bit, 3 colours used", fourBit, PictureKind::Indexed, {1, 2, 0}},
      {"24-bit", rgb24, PictureKind::Rgb, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
      {"32-bit", rgb32, PictureKind::Rgb, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
      {"32-bit masks", masked, PictureKind::Rgb, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
      {"32-bit masks, v5 header", v5, PictureKind::Rgb, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Picture picture;
    std::string error;
    const std::vector<uint8_t> file = MakeBmp(c.layout);
    ASSERT_TRUE(DecodeBmp(file.data(), file.size(), &picture, &error)) << error;
    EXPECT_EQ(picture.kind, c.kind);
    EXPECT_EQ(picture.samples, c.samples);
    if (c.kind == PictureKind::Indexed) {
      ASSERT_EQ(picture.palette.size(), c.layout.paletteEntries);
      const PaletteColor last = picture.palette.back();
      const uint8_t i = static_cast<uint8_t>(c.layout.paletteEntries - 1);
      EXPECT_EQ(last.red, 10 * i);
      EXPECT_EQ(last.green, 20 * i);
      EXPECT_EQ(last.blue, 30 * i);
    }
  }
}

TEST(DecodeBmp, RefusesMalformedFiles) {
  BmpLayout good;
  good.pixels = {3, 2, 1, 0, 0, 1, 2, 0};
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
  };
  auto with = [&](auto change) {
    BmpLayout layout = good;
    change(layout);
    return MakeBmp(layout);
  };
  const std::vector<uint8_t> file = MakeBmp(good);
  auto patched = [&](size_t offset, uint32_t value) {
    std::vector<uint8_t> bytes = file;
    StoreU32LE(&bytes[offset], value);
    return bytes;
  };

  const Case cases[] = {
      {"empty", {}},
      {"file header only", std::vector<uint8_t>(file.begin(), file.begin() + 14)},
      {"not BM", patched(0, 0x4D58)},
      {"pixel offset past the end", patched(10, static_cast<uint32_t>(file.size() + 1))},
      {"pixel offset inside the file header", patched(10, 10)},
      // claims more header than stands before the pixels
      {"header longer than the space for it", patched(14, 108)},
      {"OS/2 header", patched(14, 12)},
      {"width 0", with([](BmpLayout& s) { s.width = 0; })},
      {"negative width", with([](BmpLayout& s) { s.width = -3; })},
      {"height 0", with([](BmpLayout& s) { s.height = 0; })},
      {"height INT32_MIN",
       with([](BmpLayout& s) { s.height = std::numeric_limits<int32_t>::min(); })},
      {"wider than KZX allows", with([](BmpLayout& s) { s.width = 65536; })},
      {"16-bit", with([](BmpLayout& s) {
         s.bitCount = 16;
         s.paletteEntries = 0;
       })},
      {"run-length coded", with([](BmpLayout& s) { s.compression = 1; })},
      {"more colours than the depth has", with([](BmpLayout& s) { s.coloursUsed = 300; })},
      {"palette cut short", with([](BmpLayout& s) {
         s.paletteEntries = 0;
         s.pixels.clear();
       })},
      {"last row short by one byte", with([](BmpLayout& s) { s.pixels.resize(6); })},
      {"index beyond the palette", with([](BmpLayout& s) {
         s.coloursUsed = 2;
         s.paletteEntries = 2;
       })},
      {"32-bit with other masks", with([](BmpLayout& s) {
         s.bitCount = 32;
         s.compression = 3;
         s.paletteEntries = 0;
         s.masks = {0xFF, 0xFF00, 0xFF0000};
         s.pixels.assign(24, 0);
       })},
      {"masks cut short", with([](BmpLayout& s) {
         s.bitCount = 32;
         s.compression = 3;
         s.paletteEntries = 0;
         s.masks = {0xFF0000};
       })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The file ends right before a page that cannot be read.
    GuardedBuffer guarded(c.file);
    Picture picture;
    std::string error;
    EXPECT_FALSE(DecodeBmp(guarded.data(), guarded.size(), &picture, &error));
    EXPECT_FALSE(error.empty());
  }
}

// The blocks of a plug-in's bitmap are read where they lie, so a bitmap whose
// header promises more than its blocks hold must be caught before the read.
TEST(DecodeDib, StopsAtTheEndOfEachBlock) {
  BmpLayout layout;
  layout.pixels = {3, 2, 1, 0, 0, 1, 2, 0};
  const std::vector<uint8_t> file = MakeBmp(layout);
  const std::vector<uint8_t> infoBytes(file.begin() + 14, file.end() - 8);
  const std::vector<uint8_t> bitsBytes(file.end() - 8, file.end());
  struct Case {
    size_t infoCut, bitsCut;
    bool readable;
  };
  const Case cases[] = {
      {0, 0, true},
      {0, 1, true},  // the last row's padding may be missing
      {0, 2, false},
      {1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "info less " << c.infoCut << ", bits less " << c.bitsCut);
    GuardedBuffer info(infoBytes.data(), infoBytes.size() - c.infoCut);
    GuardedBuffer bits(bitsBytes.data(), bitsBytes.size() - c.bitsCut);
    DibBlocks dib{info.data(), info.size(), bits.data(), bits.size()};
    Picture picture;
    std::string error;
    EXPECT_EQ(DecodeDib(dib, &picture, &error), c.readable) << error;
  }
}

Picture MakePicture(PictureKind kind, uint32_t width, uint32_t height,
                    std::vector<uint8_t> samples) {
  Picture picture;
  picture.kind = kind;
  picture.width = width;
  picture.height = height;
  picture.samples = std::move(samples);
  return picture;
}

void ExpectSameColours(const Picture& picture, const IndexedPicture& indexed) {
  ASSERT_EQ(indexed.pixels.size(), size_t{picture.width} * picture.height);
  for (size_t i = 0; i < indexed.pixels.size(); ++i) {
    PaletteColor want{};
    ASSERT_TRUE(picture.ColourAt(i, &want));
    ASSERT_LT(indexed.pixels[i], indexed.palette.size());
    const PaletteColor got = indexed.palette[indexed.pixels[i]];
    EXPECT_EQ(got.red, want.red) << "pixel " << i;
    EXPECT_EQ(got.green, want.green) << "pixel " << i;
    EXPECT_EQ(got.blue, want.blue) << "pixel " << i;
  }
}

TEST(IndexExactly, KeepsEveryColourOfGreyAndFewColourPictures) {
  const Picture grey = MakePicture(PictureKind::Grey, 4, 1, {255, 0, 128, 0});
  IndexedPicture indexed;
  ASSERT_TRUE(IndexExactly(grey, &indexed));
  EXPECT_EQ(indexed.palette.size(), 3u);  // only the levels in use
  ExpectSameColours(grey, indexed);

  std::vector<uint8_t> rgb;
  for (int i = 0; i < 256; ++i) rgb.insert(rgb.end(), {uint8_t(i), uint8_t(255 - i), 7});
  const Picture full = MakePicture(PictureKind::Rgb, 256, 1, rgb);
  ASSERT_TRUE(IndexExactly(full, &indexed));
  EXPECT_EQ(indexed.palette.size(), 256u);
  ExpectSameColours(full, indexed);

  rgb.insert(rgb.end(), {1, 2, 3});  // a 257th colour
  EXPECT_FALSE(IndexExactly(MakePicture(PictureKind::Rgb, 257, 1, rgb), &indexed));
}

TEST(CropPicture, CutsInsideAndRefusesRectanglesThatStickOut) {
  struct Case {
    uint32_t x, y, w, h;
    bool fits;
  };
  const Case cases[] = {
      {1, 1, 2, 1, true},
      {0, 0, 3, 2, true},
      {2, 0, 2, 1, false},
      {0, 0, 0, 1, false},
      {0xFFFFFFFFu, 0, 2, 1, false},  // x + w wraps in 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "+" << c.x << "+" << c.y);
    Picture picture = MakePicture(PictureKind::Grey, 3, 2, {0, 1, 2, 3, 4, 5});
    std::string error;
    ASSERT_EQ(CropPicture(&picture, c.x, c.y, c.w, c.h, &error), c.fits);
    if (c.fits) {
      EXPECT_EQ(picture.width, c.w);
      EXPECT_EQ(picture.samples.front(), c.y * 3 + c.x);
    } else {
      EXPECT_EQ(picture.width, 3u);
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(ShrinkPicture, AveragesColoursAndKeepsIndices) {
  Picture rgb = MakePicture(PictureKind::Rgb, 2, 2, {0, 0, 0, 10, 20, 30, 1, 2, 3, 255, 255, 255});
  std::string error;
  ASSERT_TRUE(ShrinkPicture(&rgb, 2, &error));
  EXPECT_EQ(rgb.samples, (std::vector<uint8_t>{67, 69, 72}));  // rounded means

  // An odd edge is dropped; an index is never averaged into another.
  Picture indexed = MakePicture(PictureKind::Indexed, 3, 3, {9, 1, 1, 1, 1, 1, 1, 1, 1});
  indexed.palette.resize(10);
  ASSERT_TRUE(ShrinkPicture(&indexed, 2, &error));
  EXPECT_EQ(indexed.width, 1u);
  EXPECT_EQ(indexed.samples, (std::vector<uint8_t>{9}));

  EXPECT_FALSE(ShrinkPicture(&indexed, 2, &error));  // nothing left of 1 x 1
  EXPECT_FALSE(error.empty());
}

}  // namespace
