#include "writers/kzx_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "frame/byte_order.h"
#include "image/kzx_layout.h"
#include "writers/kzx_pixel_encoders.h"

namespace {

// Any value but the bit stream's selects chunks; this is the one we write.
constexpr uint16_t kEncodingChunked = 0;

constexpr uint32_t kLongestSide = 0xFFFF;
constexpr size_t kMostColours = 256;
// Readers size the picture and the data block with signed 32-bit numbers.
constexpr uint64_t kMostPixels = std::numeric_limits<int32_t>::max();
constexpr uint64_t kLongestData = std::numeric_limits<int32_t>::max();

// A literal of the chunked encoding cannot be this index: the byte starts an escape.
constexpr uint8_t kChunkedEscapeIndex = 255;

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

std::string Size(uint32_t width, uint32_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

bool CheckPicture(const IndexedPicture& picture, std::string* error) {
  const uint32_t width = picture.width, height = picture.height;
  if (width == 0 || height == 0) {
    return Fail(error, "the picture is " + Size(width, height) +
                           " pixels; a KZX picture needs at least one pixel in each direction");
  }
  if (width > kLongestSide || height > kLongestSide) {
    return Fail(error, "the picture is " + Size(width, height) +
                           " pixels; a KZX header holds at most 65535 in each direction");
  }
  const uint64_t pixelCount = static_cast<uint64_t>(width) * height;
  if (pixelCount > kMostPixels) {
    return Fail(error, "the picture is " + Size(width, height) + " pixels, " +
                           std::to_string(pixelCount) + " in all; a KZX reader takes at most " +
                           std::to_string(kMostPixels));
  }
  if (picture.pixels.size() != pixelCount) {
    return Fail(error, "the picture holds " + std::to_string(picture.pixels.size()) +
                           " pixel bytes, but " + Size(width, height) + " pixels need " +
                           std::to_string(pixelCount));
  }
  if (picture.palette.size() > kMostColours) {
    return Fail(error, "the palette has " + std::to_string(picture.palette.size()) +
                           " colours; a KZX palette holds at most 256");
  }
  // An index past the palette would show as black: surely not what was meant.
  const size_t colours = picture.palette.size();
  if (colours < kMostColours) {
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
      if (picture.pixels[i] >= colours) {
        return Fail(error, "the pixel at column " + std::to_string(i % width) + ", row " +
                               std::to_string(i / width) + " uses colour " +
                               std::to_string(picture.pixels[i]) + ", but the palette has only " +
                               std::to_string(colours) + " colours");
      }
    }
  }
  return true;
}

// Moves the picture off the escape index for the chunked encoding. The
// pixels and palette are copied only when something moves.
bool MoveOffEscapeIndex(const IndexedPicture& picture, IndexedPicture* moved, std::string* error) {
  std::array<bool, kMostColours> used{};
  for (uint8_t index : picture.pixels) used[index] = true;
  if (!used[kChunkedEscapeIndex]) return true;
  const auto freeIndex = std::find(used.begin(), used.end(), false);
  if (freeIndex == used.end()) {
    return Fail(error,
                "the chunked encoding cannot store index 255 and all 256 indices are in use; "
                "use the bit-stream encoding");
  }
  const uint8_t target = static_cast<uint8_t>(freeIndex - used.begin());
  *moved = picture;
  for (uint8_t& index : moved->pixels) {
    if (index == kChunkedEscapeIndex) index = target;
  }
  // Index 255 is used, so the palette has all 256 entries.
  std::swap(moved->palette[target], moved->palette[kChunkedEscapeIndex]);
  return true;
}

}  // namespace

bool EncodeKzx(const IndexedPicture& picture, KzxEncoding encoding, std::vector<uint8_t>* file,
               std::string* error) {
  if (file == nullptr) return Fail(error, "no place to put the KZX file was given");
  if (!CheckPicture(picture, error)) return false;
  try {
    IndexedPicture moved;
    const IndexedPicture* source = &picture;
    if (encoding == KzxEncoding::Chunked) {
      if (!MoveOffEscapeIndex(picture, &moved, error)) return false;
      if (!moved.pixels.empty()) source = &moved;
    }

    std::vector<uint8_t> out(KzxHeaderSize + KzxPaletteEntrySize * source->palette.size());
    std::memcpy(out.data(), KzxMagic, sizeof(KzxMagic));
    StoreU16LE(&out[KzxEncodingOffset],
               encoding == KzxEncoding::BitStream ? KzxEncodingBitStream : kEncodingChunked);
    StoreU16LE(&out[KzxWidthOffset], static_cast<uint16_t>(source->width));
    StoreU16LE(&out[KzxHeightOffset], static_cast<uint16_t>(source->height));
    StoreU16LE(&out[KzxPaletteCountOffset], static_cast<uint16_t>(source->palette.size()));
    StoreU16LE(&out[KzxExtraLengthOffset], 0);
    uint8_t* entry = &out[KzxHeaderSize];
    for (const PaletteColor& colour : source->palette) {
      *entry++ = colour.blue;
      *entry++ = colour.green;
      *entry++ = colour.red;
    }

    const size_t dataStart = out.size();
    if (encoding == KzxEncoding::BitStream) {
      EncodeBitStream(source->pixels.data(), source->width, source->height, &out);
    } else {
      EncodeChunks(source->pixels.data(), source->pixels.size(), &out);
    }
    const uint64_t dataLength = out.size() - dataStart;
    if (dataLength > kLongestData) {
      return Fail(error, "the " + Size(picture.width, picture.height) + " picture codes to " +
                             std::to_string(dataLength) +
                             " bytes of pixel data; a KZX reader takes at most " +
                             std::to_string(kLongestData));
    }
    StoreU32LE(&out[KzxDataLengthOffset], static_cast<uint32_t>(dataLength));
    file->swap(out);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory to encode a " + Size(picture.width, picture.height) +
                           " picture");
  }
}
