#include "image/kzx_format.h"

#include <cstring>

#include "frame/byte_order.h"
#include "image/bitstream_decoder.h"
#include "image/chunk_decoder.h"

namespace {

bool HeaderReadable(const InputView& input) {
  return IsReadable(input.bounds, input.data, KzxHeaderSize);
}

}  // namespace

int32_t TestKzxHeader(const uint8_t* header) {
  return std::memcmp(header, KzxMagic, KzxMagicLength) == 0 ? 1 : 0;
}

ResultCode FillPictureInfo(const InputView& input, PictureInfo* info) {
  if (!HeaderReadable(input)) return ResultBadData;
  info->left = 0;
  info->top = 0;
  info->width = LoadU16LE(input.data + KzxWidthOffset);
  info->height = LoadU16LE(input.data + KzxHeightOffset);
  info->xDensity = 1;
  info->yDensity = 1;
  info->colorDepth = KzxColorDepth;
  info->textHandle = 0;
  return ResultOk;
}

ResultCode FillPalette(const InputView& input, uint8_t* colorTable, uint32_t entryCapacity) {
  if (!HeaderReadable(input)) return ResultBadData;
  const uint32_t paletteCount = LoadU16LE(input.data + KzxPaletteCountOffset);
  const uint8_t* palette = input.data + KzxHeaderSize;
  if (!IsReadable(input.bounds, palette, uint64_t{KzxPaletteEntrySize} * paletteCount)) {
    return ResultBadData;
  }
  const uint32_t entries = paletteCount < entryCapacity ? paletteCount : entryCapacity;
  for (uint32_t i = 0; i < entries; ++i) {
    // The file stores blue, green, red: the order of a colour-table entry.
    std::memcpy(colorTable + 4 * i, palette + KzxPaletteEntrySize * i, KzxPaletteEntrySize);
  }
  return ResultOk;
}

ResultCode DecodePixels(const InputView& input, uint8_t* pixels, int32_t stride, int32_t height,
                        ProgressCallback progress, intptr_t userData) {
  if (!HeaderReadable(input)) return ResultBadData;
  const uint8_t* header = input.data;
  const uint32_t width = LoadU16LE(header + KzxWidthOffset);
  const uint32_t rows = LoadU16LE(header + KzxHeightOffset);
  // The pixel block was sized from the same header; one that does not fit
  // the picture is not written into.
  if (height < 0 || static_cast<uint32_t>(height) != rows || stride < 0 ||
      static_cast<uint32_t>(stride) < width) {
    return ResultBadData;
  }

  const uint64_t dataOffset = KzxHeaderSize +
                              uint64_t{KzxPaletteEntrySize} * LoadU16LE(header + KzxPaletteCountOffset) +
                              LoadU16LE(header + KzxExtraLengthOffset);
  const uint32_t dataLength = LoadU32LE(header + KzxDataLengthOffset);
  // The decoders and the progress calls count in signed 32 bits.
  if (dataLength > INT32_MAX) return ResultBadData;
  if (dataOffset > UINTPTR_MAX - reinterpret_cast<uintptr_t>(header)) return ResultBadData;
  const uint8_t* data = header + dataOffset;
  if (!IsReadable(input.bounds, data, dataLength)) return ResultBadData;

  const uint64_t size = uint64_t{width} * rows;
  if (size == 0) return ResultOk;  // no pixel to decode
  if (size > SIZE_MAX) return ResultBadData;
  // Cleared, so that whatever the data leaves undecoded is 0.
  uint8_t* work = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(size)));
  if (work == nullptr) return ResultBadData;

  const int32_t length = static_cast<int32_t>(dataLength);
  ResultCode result;
  if (LoadU16LE(header + KzxEncodingOffset) == KzxEncodingBitStream) {
    result = DecodeBitStream(data, length, work, static_cast<int32_t>(width),
                             static_cast<int32_t>(rows), progress, userData);
  } else {
    result = DecodeChunks(data, length, work, static_cast<size_t>(size), progress, userData);
  }
  if (result == ResultOk) {
    // The file's first row is the top of the picture; the block is bottom-up.
    for (uint32_t k = 0; k < rows; ++k) {
      std::memcpy(pixels + static_cast<size_t>(k) * static_cast<uint32_t>(stride),
                  work + static_cast<size_t>(rows - 1 - k) * width, width);
    }
  }
  GlobalFree(work);
  return result;
}
