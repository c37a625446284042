// BMP files and the device-independent bitmaps inside them. A BMP file is a
// 14-byte file header followed by the very blocks that an image plug-in's
// GetPicture hands a host: the bitmap information block (header and palette)
// and the pixel rows. One reader serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

constexpr size_t BmpFileHeaderSize = 14;

// A bitmap as two byte ranges; nothing outside them is read.
struct DibBlocks {
  const uint8_t* info = nullptr;
  size_t infoSize = 0;
  const uint8_t* bits = nullptr;
  size_t bitsSize = 0;
};

// Reads 1-, 4- and 8-bit palette bitmaps and 24- and 32-bit RGB ones,
// uncompressed, bottom-up or top-down, into a top-first picture. Every field
// is checked against the blocks before it is used.
bool DecodeDib(const DibBlocks& dib, Picture* picture, std::string* error);

// Reads a whole BMP file of size bytes.
bool DecodeBmp(const uint8_t* file, size_t size, Picture* picture, std::string* error);

// The file header of a BMP holding an information block and pixel rows of
// these sizes. False when the file would exceed the format's 32-bit sizes.
bool MakeBmpFileHeader(size_t infoSize, size_t bitsSize, uint8_t header[BmpFileHeaderSize],
                       std::string* error);
