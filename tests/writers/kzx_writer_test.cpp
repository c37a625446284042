#include "writers/kzx_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "frame/byte_order.h"
#include "image/bitstream_decoder.h"
#include "image/chunk_decoder.h"
#include "writers/kzx_plain_decoder.h"

namespace {

std::vector<PaletteColor> Palette(size_t colours) {
  std::vector<PaletteColor> palette(colours);
  for (size_t i = 0; i < colours; ++i) {
    palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                  static_cast<uint8_t>(i * 7)};
  }
  return palette;
}

IndexedPicture MakePicture(uint32_t width, uint32_t height, size_t colours,
                           const std::function<uint8_t(uint32_t x, uint32_t y)>& pixel) {
  IndexedPicture picture;
  picture.width = width;
  picture.height = height;
  picture.palette = Palette(colours);
  picture.pixels.reserve(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) picture.pixels.push_back(pixel(x, y));
  }
  return picture;
}

IndexedPicture Noise(uint32_t width, uint32_t height, size_t colours, uint32_t seed) {
  std::mt19937 random(seed);
  return MakePicture(width, height, colours, [&](uint32_t, uint32_t) {
    return static_cast<uint8_t>(random() % colours);
  });
}

// Rectangles over a background: areas, edges and repeats as in drawn art.
IndexedPicture Blocks(uint32_t width, uint32_t height, uint32_t seed) {
  IndexedPicture picture = MakePicture(width, height, 256, [](uint32_t, uint32_t) { return 3; });
  std::mt19937 random(seed);
  for (int i = 0; i < 40; ++i) {
    const uint32_t x0 = random() % width, y0 = random() % height;
    const uint32_t x1 = std::min<uint32_t>(width, x0 + 1 + random() % 40);
    const uint32_t y1 = std::min<uint32_t>(height, y0 + 1 + random() % 40);
    const uint8_t colour = static_cast<uint8_t>(random());
    for (uint32_t y = y0; y < y1; ++y) {
      for (uint32_t x = x0; x < x1; ++x) picture.pixels[static_cast<size_t>(y) * width + x] = colour;
    }
  }
  return picture;
}

struct PictureCase {
  const char* name;
  IndexedPicture picture;
};

std::vector<PictureCase> RoundTripPictures() {
  return {
      {"one pixel", MakePicture(1, 1, 1, [](uint32_t, uint32_t) { return 0; })},
      {"worked example 4x3",
       MakePicture(4, 3, 3, [](uint32_t x, uint32_t y) { return y == 2 ? 2 : x % 2; })},
      {"noise 1 wide", Noise(1, 300, 4, 1)},
      {"noise 2 wide", Noise(2, 200, 3, 2)},
      {"noise 3 wide", Noise(3, 100, 200, 3)},
      {"noise 255 wide", Noise(255, 20, 2, 4)},
      {"noise 256 wide", Noise(256, 20, 255, 5)},
      {"noise 300 wide", Noise(300, 17, 16, 6)},
      {"flat 1 wide", MakePicture(1, 500, 2, [](uint32_t, uint32_t) { return 1; })},
      {"flat 2 wide", MakePicture(2, 500, 2, [](uint32_t, uint32_t) { return 1; })},
      {"flat 300 wide", MakePicture(300, 200, 256, [](uint32_t, uint32_t) { return 255; })},
      {"vertical stripes 1 wide", MakePicture(1, 64, 2, [](uint32_t, uint32_t y) { return y % 2; })},
      {"vertical stripes 2 wide", MakePicture(2, 64, 2, [](uint32_t x, uint32_t) { return x; })},
      {"vertical stripes 3 wide",
       MakePicture(3, 64, 3, [](uint32_t x, uint32_t y) { return (x + y) % 3; })},
      {"horizontal stripes 255 wide",
       MakePicture(255, 40, 5, [](uint32_t, uint32_t y) { return y / 3 % 5; })},
      {"diagonal stripes 256 wide",
       MakePicture(256, 40, 7, [](uint32_t x, uint32_t y) { return (x + 2 * y) / 5 % 7; })},
      {"gradient 300 wide",
       MakePicture(300, 50, 255, [](uint32_t x, uint32_t y) { return (x + y) % 255; })},
      {"checker 300 wide",
       MakePicture(300, 30, 2, [](uint32_t x, uint32_t y) { return (x / 4 + y / 4) % 2; })},
      {"blocks", Blocks(300, 120, 7)},
      {"blocks narrow", Blocks(3, 300, 8)},
      {"longest row", MakePicture(65535, 1, 3, [](uint32_t x, uint32_t) { return x / 500 % 3; })},
      {"longest column", MakePicture(1, 65535, 3, [](uint32_t, uint32_t y) { return y / 7 % 3; })},
  };
}

// The colours a decoded picture shows, as 0xRRGGBB, so that a moved index
// still compares equal.
uint32_t Rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) | blue;
}

std::vector<uint32_t> Colours(const IndexedPicture& picture) {
  std::vector<uint32_t> colours;
  for (uint8_t index : picture.pixels) {
    const PaletteColor& c = picture.palette[index];
    colours.push_back(Rgb(c.red, c.green, c.blue));
  }
  return colours;
}

std::vector<uint32_t> Colours(const PlainPicture& decoded) {
  std::vector<uint32_t> colours;
  for (uint8_t index : decoded.decode.pixels) {
    const size_t at = 3 * static_cast<size_t>(index);
    colours.push_back(at + 3 > decoded.palette.size()
                          ? 0
                          : Rgb(decoded.palette[at + 2], decoded.palette[at + 1], decoded.palette[at]));
  }
  return colours;
}

std::vector<uint8_t> EncodeOrFail(const IndexedPicture& picture, KzxEncoding encoding) {
  std::vector<uint8_t> file;
  std::string error;
  EXPECT_TRUE(EncodeKzx(picture, encoding, &file, &error)) << error;
  return file;
}

const KzxEncoding kEncodings[] = {KzxEncoding::BitStream, KzxEncoding::Chunked};

const char* Name(KzxEncoding encoding) {
  return encoding == KzxEncoding::BitStream ? "bit stream" : "chunked";
}

TEST(KzxWriter, PicturesComeBackFromBothEncodings) {
  for (const PictureCase& c : RoundTripPictures()) {
    for (KzxEncoding encoding : kEncodings) {
      SCOPED_TRACE(std::string(c.name) + ", " + Name(encoding));
      const std::vector<uint8_t> file = EncodeOrFail(c.picture, encoding);
      ASSERT_GE(file.size(), 26u);
      const PlainPicture decoded = DecodeKzxPlainly(file);
      EXPECT_EQ(decoded.encoding, encoding == KzxEncoding::BitStream ? 256 : 0);
      EXPECT_EQ(LoadU16LE(&file[12]), 0);
      EXPECT_EQ(LoadU16LE(&file[20]), 0);  // no extra bytes
      EXPECT_EQ(decoded.width, c.picture.width);
      EXPECT_EQ(decoded.height, c.picture.height);
      EXPECT_EQ(LoadU16LE(&file[18]), c.picture.palette.size());
      // The data block ends the file.
      EXPECT_EQ(file.size(), 26 + 3 * c.picture.palette.size() + LoadU32LE(&file[22]));
      ASSERT_EQ(decoded.decode.result, ResultOk);
      EXPECT_EQ(decoded.decode.written, c.picture.pixels.size());
      EXPECT_TRUE(Colours(decoded) == Colours(c.picture));
      if (encoding == KzxEncoding::BitStream) {
        EXPECT_EQ(decoded.decode.pixels, c.picture.pixels);
      }
      // The plug-in's decoder agrees.
      std::vector<uint8_t> work(c.picture.pixels.size());
      const uint8_t* data = &file[26 + 3 * c.picture.palette.size()];
      const int32_t dataLength = static_cast<int32_t>(LoadU32LE(&file[22]));
      const ResultCode result =
          encoding == KzxEncoding::BitStream
              ? DecodeBitStream(data, dataLength, work.data(), static_cast<int32_t>(c.picture.width),
                                static_cast<int32_t>(c.picture.height), nullptr, 0)
              : DecodeChunks(data, dataLength, work.data(), work.size(), nullptr, 0);
      EXPECT_EQ(result, ResultOk);
      EXPECT_EQ(work, decoded.decode.pixels);
    }
  }
}

TEST(KzxWriter, HeaderPaletteAndDataOfATinyPicture) {
  IndexedPicture picture;
  picture.width = 2;
  picture.height = 1;
  picture.pixels = {1, 2};
  picture.palette = {{0x10, 0x20, 0x30}, {0x40, 0x50, 0x60}, {0x70, 0x80, 0x90}};
  const std::vector<uint8_t> head = {0x2E, 0x38, 0x42, 0x69, 0x74, 0x56, 0x61, 0x73, 0x6B, 0x00};
  const std::vector<uint8_t> sizes = {0x00, 0x00, 0x02, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00};
  const std::vector<uint8_t> palette = {0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x90, 0x80, 0x70};
  auto expected = [&](std::vector<uint8_t> encoding, std::vector<uint8_t> dataLength,
                      std::vector<uint8_t> data) {
    std::vector<uint8_t> file = head;
    for (const std::vector<uint8_t>& part : {encoding, sizes, dataLength, palette, data}) {
      file.insert(file.end(), part.begin(), part.end());
    }
    return file;
  };
  // Literal 1, flag 1, literal 2 and no flag after the last pixel: 17 bits,
  // then the zero word the reader's group test needs.
  EXPECT_EQ(EncodeOrFail(picture, KzxEncoding::BitStream),
            expected({0x00, 0x01}, {0x08, 0, 0, 0}, {0x80, 0x81, 0x00, 0, 0, 0, 0, 0}));
  EXPECT_EQ(EncodeOrFail(picture, KzxEncoding::Chunked),
            expected({0x00, 0x00}, {0x0C, 0, 0, 0},
                     {0x43, 0x58, 0, 0, 0, 0, 0x02, 0x00, 0, 0, 0x01, 0x02}));
}

// The reader stops between groups once the word with its next bit is the
// last of the block; without the closing zero word some pictures would lose
// their last pixels. This also shows the plain decoder keeps that rule, so
// the round trips above mean something.
TEST(KzxWriter, BitStreamCarriesTheWordThatTheGroupTestNeeds) {
  int cutShort = 0;
  for (uint32_t seed = 0; seed < 20; ++seed) {
    const IndexedPicture picture = Noise(7 + seed, 5, 4, seed);
    const std::vector<uint8_t> file = EncodeOrFail(picture, KzxEncoding::BitStream);
    const uint32_t dataLength = LoadU32LE(&file[22]);
    const uint8_t* data = &file[26 + 3 * picture.palette.size()];
    ASSERT_EQ(dataLength % 4, 0u);
    // The last word is all zero: nothing is coded in it.
    EXPECT_EQ(LoadU32LE(data + dataLength - 4), 0u);
    const PlainDecode trimmed = DecodeBitStreamPlainly(data, dataLength - 4, picture.width,
                                                       picture.height);
    EXPECT_NE(trimmed.result, ResultBadData);
    if (trimmed.written < picture.pixels.size()) ++cutShort;
  }
  EXPECT_GT(cutShort, 0);
}

TEST(KzxWriter, BitStreamCompressesClearlyBetterThanLiterals) {
  const struct {
    const char* name;
    IndexedPicture picture;
    double mostOfLiterals;  // data bits as a share of literal-only bits
  } cases[] = {
      {"flat", MakePicture(300, 200, 2, [](uint32_t, uint32_t) { return 1; }), 0.01},
      {"blocks", Blocks(320, 240, 11), 0.15},
      {"gradient", MakePicture(256, 64, 256, [](uint32_t x, uint32_t y) { return (x + y) % 256; }),
       0.15},
      {"few-colour noise", Noise(200, 100, 2, 12), 0.8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = EncodeOrFail(c.picture, KzxEncoding::BitStream);
    const double literalBits = 9.0 * c.picture.pixels.size() - 1;
    EXPECT_LT(8.0 * LoadU32LE(&file[22]), c.mostOfLiterals * literalBits);
  }
}

// A copy longer than one count code holds, and many search blocks.
TEST(KzxWriter, LargeFlatPictureComesBack) {
  const IndexedPicture picture =
      MakePicture(4096, 4096, 2, [](uint32_t x, uint32_t y) { return x == 0 && y == 0; });
  for (KzxEncoding encoding : kEncodings) {
    SCOPED_TRACE(Name(encoding));
    const std::vector<uint8_t> file = EncodeOrFail(picture, encoding);
    const PlainPicture decoded = DecodeKzxPlainly(file);
    ASSERT_EQ(decoded.decode.result, ResultOk);
    EXPECT_EQ(decoded.decode.written, picture.pixels.size());
    EXPECT_TRUE(decoded.decode.pixels == picture.pixels);
  }
}

TEST(KzxWriter, ChunksHoldWholeEscapesWithinSixteenBits) {
  // 65533 pixels that no escape can shorten, then a flat run: the first
  // escape would start at the chunk's last two coded bytes.
  const uint32_t width = 1000, height = 66;
  IndexedPicture picture = MakePicture(width, height, 255, [&](uint32_t x, uint32_t y) {
    const uint32_t i = y * width + x;
    if (i >= 65533) return static_cast<uint8_t>(17);
    return static_cast<uint8_t>(i / 255 % 2 == 0 ? i % 255 : 254 - i % 255);
  });
  picture.pixels[65532] = 17;
  const std::vector<uint8_t> file = EncodeOrFail(picture, KzxEncoding::Chunked);
  const PlainPicture decoded = DecodeKzxPlainly(file);
  ASSERT_EQ(decoded.decode.result, ResultOk);
  EXPECT_EQ(decoded.decode.pixels, picture.pixels);
  ASSERT_GE(decoded.decode.chunks.size(), 2u);
  EXPECT_EQ(decoded.decode.chunks[0].codedLength, 65533u);
  for (const ChunkSeen& chunk : decoded.decode.chunks) {
    EXPECT_EQ(chunk.consumed, chunk.codedLength);
  }
}

TEST(KzxWriter, ChunkedMovesIndex255ToAFreeIndex) {
  IndexedPicture picture = MakePicture(16, 16, 256, [](uint32_t x, uint32_t y) {
    const uint32_t i = y * 16 + x;
    return static_cast<uint8_t>(i == 7 ? 255 : i);  // index 7 is free
  });
  const IndexedPicture original = picture;
  const std::vector<uint8_t> file = EncodeOrFail(picture, KzxEncoding::Chunked);
  EXPECT_EQ(picture.pixels, original.pixels);  // the caller's picture stays
  const PlainPicture decoded = DecodeKzxPlainly(file);
  ASSERT_EQ(decoded.decode.result, ResultOk);
  EXPECT_TRUE(Colours(decoded) == Colours(original));
  EXPECT_EQ(decoded.decode.pixels[7], 7);
  EXPECT_EQ(decoded.decode.pixels[255], 7);
  EXPECT_EQ(LoadU16LE(&file[18]), 256);
}

TEST(KzxWriter, RefusesWhatAKzxFileCannotHold) {
  IndexedPicture allIndices = MakePicture(16, 16, 256, [](uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(y * 16 + x);
  });
  IndexedPicture shortPixels = Noise(10, 10, 4, 1);
  shortPixels.pixels.pop_back();
  IndexedPicture bigPalette = Noise(10, 10, 4, 1);
  bigPalette.palette = Palette(257);
  IndexedPicture pastPalette = Noise(10, 10, 4, 1);
  pastPalette.pixels[23] = 4;
  auto sized = [](uint32_t width, uint32_t height) {
    IndexedPicture picture;
    picture.width = width;
    picture.height = height;
    picture.palette = Palette(2);
    if (static_cast<uint64_t>(width) * height <= 65536 * 2) {
      picture.pixels.assign(static_cast<size_t>(width) * height, 0);
    }
    return picture;
  };
  const struct {
    const char* name;
    IndexedPicture picture;
    KzxEncoding encoding;
    const char* says;
  } cases[] = {
      {"zero width", sized(0, 5), KzxEncoding::BitStream, "at least one pixel"},
      {"zero height", sized(5, 0), KzxEncoding::Chunked, "at least one pixel"},
      {"too wide", sized(65536, 1), KzxEncoding::BitStream, "at most 65535"},
      {"too high", sized(1, 65536), KzxEncoding::Chunked, "at most 65535"},
      {"more pixels than a reader takes", sized(65535, 65535), KzxEncoding::BitStream,
       "at most 2147483647"},
      {"pixels missing", shortPixels, KzxEncoding::BitStream, "holds 99 pixel bytes"},
      {"257 colours", bigPalette, KzxEncoding::Chunked, "at most 256"},
      {"index past the palette", pastPalette, KzxEncoding::BitStream,
       "column 3, row 2 uses colour 4, but the palette has only 4"},
      {"chunked with all 256 indices", allIndices, KzxEncoding::Chunked,
       "use the bit-stream encoding"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(EncodeKzx(c.picture, c.encoding, &file, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(file, (std::vector<uint8_t>{1, 2, 3}));
  }
  // All 256 indices are fine for the bit stream.
  const PlainPicture decoded = DecodeKzxPlainly(EncodeOrFail(allIndices, KzxEncoding::BitStream));
  EXPECT_EQ(decoded.decode.pixels, allIndices.pixels);
}

}  // namespace
