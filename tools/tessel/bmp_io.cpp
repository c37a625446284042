#include "bmp_io.h"

#include "frame/byte_order.h"

namespace {

// BITMAPINFOHEADER fields, by offset in the information block.
constexpr size_t HeaderSizeAt = 0;
constexpr size_t WidthAt = 4;
constexpr size_t HeightAt = 8;
constexpr size_t BitCountAt = 14;
constexpr size_t CompressionAt = 16;
constexpr size_t ColoursUsedAt = 32;
constexpr size_t InfoHeaderSize = 40;
// The three channel masks of a BI_BITFIELDS bitmap follow the 40-byte header,
// inside the larger headers or right after the small one.
constexpr size_t RedMaskAt = 40;
constexpr size_t MasksEnd = 52;

constexpr uint32_t CompressionNone = 0;   // BI_RGB
constexpr uint32_t CompressionMasks = 3;  // BI_BITFIELDS

// File header fields.
constexpr size_t FileSizeAt = 2;
constexpr size_t PixelOffsetAt = 10;

bool IsKnownHeaderSize(uint32_t size) {
  // BITMAPINFOHEADER, its two masked extensions, BITMAPV4HEADER, BITMAPV5HEADER.
  return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

}  // namespace

bool DecodeDib(const DibBlocks& dib, Picture* picture, std::string* error) {
  if (dib.infoSize < InfoHeaderSize) {
    *error = "the bitmap header is cut short (" + std::to_string(dib.infoSize) + " bytes)";
    return false;
  }
  const uint8_t* info = dib.info;
  const uint32_t headerSize = LoadU32LE(info + HeaderSizeAt);
  if (!IsKnownHeaderSize(headerSize) || headerSize > dib.infoSize) {
    *error = "a bitmap header of " + std::to_string(headerSize) + " bytes is not supported";
    return false;
  }
  const int32_t width = LoadI32LE(info + WidthAt);
  const int32_t height = LoadI32LE(info + HeightAt);
  const uint32_t bitCount = LoadU16LE(info + BitCountAt);
  const uint32_t compression = LoadU32LE(info + CompressionAt);
  const uint32_t coloursUsed = LoadU32LE(info + ColoursUsedAt);

  // A negative height marks rows stored top first; INT32_MIN has no positive twin.
  const bool topDown = height < 0;
  const uint64_t rows = topDown ? 0 - static_cast<int64_t>(height) : static_cast<uint64_t>(height);
  if (width <= 0 || rows == 0) {
    *error = "the bitmap is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels: nothing to show";
    return false;
  }
  if (static_cast<uint64_t>(width) > MaxKzxSide || rows > MaxKzxSide) {
    *error = "the bitmap is " + std::to_string(width) + " x " + std::to_string(rows) +
             " pixels, more than the 65535 x 65535 that a KZX picture can hold";
    return false;
  }

  size_t paletteEntries = 0;
  if (bitCount == 1 || bitCount == 4 || bitCount == 8) {
    if (compression != CompressionNone) {
      *error = "compressed palette bitmaps are not supported";
      return false;
    }
    const uint32_t full = 1u << bitCount;
    if (coloursUsed > full) {
      *error = "a palette of " + std::to_string(coloursUsed) + " colours does not fit " +
               std::to_string(bitCount) + "-bit pixels";
      return false;
    }
    paletteEntries = coloursUsed == 0 ? full : coloursUsed;
  } else if (bitCount == 24 || bitCount == 32) {
    if (compression == CompressionMasks && bitCount == 32) {
      if (dib.infoSize < MasksEnd || LoadU32LE(info + RedMaskAt) != 0x00FF0000 ||
          LoadU32LE(info + RedMaskAt + 4) != 0x0000FF00 ||
          LoadU32LE(info + RedMaskAt + 8) != 0x000000FF) {
        *error = "32-bit bitmaps with other than 8-bit red, green and blue masks are not supported";
        return false;
      }
    } else if (compression != CompressionNone) {
      *error = "compressed true-colour bitmaps are not supported";
      return false;
    }
  } else {
    *error = std::to_string(bitCount) + "-bit bitmaps are not supported";
    return false;
  }

  const uint64_t paletteStart = headerSize;
  if (paletteStart + 4 * uint64_t{paletteEntries} > dib.infoSize) {
    *error = "the bitmap's palette of " + std::to_string(paletteEntries) + " colours is cut short";
    return false;
  }
  const uint64_t rowBits = uint64_t{bitCount} * static_cast<uint64_t>(width);
  const uint64_t stride = (rowBits + 31) / 32 * 4;
  const uint64_t lastRowBytes = (rowBits + 7) / 8;
  if (stride * (rows - 1) + lastRowBytes > dib.bitsSize) {
    *error = "the bitmap's pixel data is cut short: " + std::to_string(dib.bitsSize) +
             " bytes for " + std::to_string(width) + " x " + std::to_string(rows) + " pixels";
    return false;
  }

  picture->width = static_cast<uint32_t>(width);
  picture->height = static_cast<uint32_t>(rows);
  picture->droppedTransparency = false;
  picture->palette.clear();
  const size_t pixelCount = size_t{picture->width} * picture->height;
  if (paletteEntries != 0) {
    picture->kind = PictureKind::Indexed;
    for (size_t i = 0; i < paletteEntries; ++i) {
      const uint8_t* quad = info + paletteStart + 4 * i;  // blue, green, red, reserved
      picture->palette.push_back({quad[2], quad[1], quad[0]});
    }
    picture->samples.resize(pixelCount);
  } else {
    picture->kind = PictureKind::Rgb;
    picture->samples.resize(3 * pixelCount);
  }

  for (uint64_t r = 0; r < rows; ++r) {
    const uint8_t* row = dib.bits + stride * (topDown ? r : rows - 1 - r);
    uint8_t* out = &picture->samples[r * picture->width * picture->BytesPerPixel()];
    for (uint32_t x = 0; x < picture->width; ++x) {
      switch (bitCount) {
        case 1:
          out[x] = (row[x / 8] >> (7 - x % 8)) & 1;
          break;
        case 4:
          out[x] = (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF;
          break;
        case 8:
          out[x] = row[x];
          break;
        default: {
          const uint8_t* bgr = row + size_t{x} * (bitCount / 8);
          out[3 * x] = bgr[2];
          out[3 * x + 1] = bgr[1];
          out[3 * x + 2] = bgr[0];
        }
      }
      if (paletteEntries != 0 && out[x] >= paletteEntries) {
        *error = "the bitmap uses colour " + std::to_string(out[x]) + ", beyond its palette of " +
                 std::to_string(paletteEntries);
        return false;
      }
    }
  }
  return true;
}

bool DecodeBmp(const uint8_t* file, size_t size, Picture* picture, std::string* error) {
  if (size < BmpFileHeaderSize || file[0] != 'B' || file[1] != 'M') {
    *error = "not a BMP file";
    return false;
  }
  const uint32_t pixelOffset = LoadU32LE(file + PixelOffsetAt);
  if (pixelOffset < BmpFileHeaderSize || pixelOffset > size) {
    *error = "the BMP file's pixel data would start at " + std::to_string(pixelOffset) +
             ", outside its " + std::to_string(size) + " bytes";
    return false;
  }
  DibBlocks dib;
  dib.info = file + BmpFileHeaderSize;
  dib.infoSize = pixelOffset - BmpFileHeaderSize;
  dib.bits = file + pixelOffset;
  dib.bitsSize = size - pixelOffset;
  return DecodeDib(dib, picture, error);
}

bool MakeBmpFileHeader(size_t infoSize, size_t bitsSize, uint8_t header[BmpFileHeaderSize],
                       std::string* error) {
  const uint64_t fileSize = uint64_t{BmpFileHeaderSize} + infoSize + bitsSize;
  if (fileSize > UINT32_MAX) {
    *error = "the bitmap is too large for a BMP file";
    return false;
  }
  header[0] = 'B';
  header[1] = 'M';
  StoreU32LE(header + FileSizeAt, static_cast<uint32_t>(fileSize));
  StoreU32LE(header + 6, 0);  // two reserved words
  StoreU32LE(header + PixelOffsetAt, static_cast<uint32_t>(BmpFileHeaderSize + infoSize));
  return true;
}
