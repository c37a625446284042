#include "image/picture_frame.h"

#include "frame/byte_order.h"

namespace {

// Movable, zero-filled: what the host expects to lock and free itself.
constexpr UINT HostBlockFlags = LMEM_MOVEABLE | LMEM_ZEROINIT;

struct InfoRequest {
  const PictureOperations* operations;
  PictureInfo* pictureInfo;
};

ResultCode RunFillInfo(const InputView& input, void* context) {
  InfoRequest* request = static_cast<InfoRequest*>(context);
  if (IsBadWritePtr(request->pictureInfo, sizeof(PictureInfo))) return ResultMemoryError;
  return request->operations->fillInfo(input, request->pictureInfo);
}

struct PictureRequest {
  const PictureOperations* operations;
  HLOCAL* bitmapInfoOut;
  HLOCAL* bitsOut;
  ProgressCallback progress;
  intptr_t userData;
};

// BITMAPINFOHEADER, field by field.
void WriteBitmapHeader(uint8_t* header, const PictureInfo& info, uint32_t imageSize) {
  StoreU32LE(header + 0, BitmapHeaderSize);
  StoreU32LE(header + 4, static_cast<uint32_t>(info.width));
  StoreU32LE(header + 8, static_cast<uint32_t>(info.height));  // positive: rows bottom-up
  StoreU16LE(header + 12, 1);                                  // planes
  StoreU16LE(header + 14, static_cast<uint16_t>(info.colorDepth));
  StoreU32LE(header + 16, 0);  // uncompressed
  StoreU32LE(header + 20, imageSize);
  StoreU32LE(header + 24, 0);  // horizontal pixels per metre
  StoreU32LE(header + 28, 0);  // vertical pixels per metre
  StoreU32LE(header + 32, 0);  // colours used: all of the table
  StoreU32LE(header + 36, 0);  // colours important: all
}

// The stride and bytes of the pixel block; false when such a block cannot be
// had: the stride or the block would not fit the bitmap's 32-bit fields.
bool PixelBlockSize(const PictureInfo& info, int32_t* stride, uint32_t* bytes) {
  const int64_t rowBytes = BitmapStride(info.colorDepth, info.width);
  if (rowBytes < 0 || info.height < 0) return false;
  const uint64_t size = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(info.height);
  if (size > UINT32_MAX || size > SIZE_MAX) return false;
  *stride = static_cast<int32_t>(rowBytes);
  *bytes = static_cast<uint32_t>(size);
  return true;
}

ResultCode BuildBitmap(const InputView& input, void* context) {
  const PictureRequest& request = *static_cast<PictureRequest*>(context);
  const PictureOperations& operations = *request.operations;
  // Locations the host wants the handles in but that cannot take them.
  if (IsBadWritePtr(request.bitmapInfoOut, sizeof(HLOCAL)) ||
      IsBadWritePtr(request.bitsOut, sizeof(HLOCAL))) {
    return ResultMemoryError;
  }

  PictureInfo info;
  ResultCode result = operations.fillInfo(input, &info);
  if (result != ResultOk) return result;
  const int32_t entries = ColorTableEntries(info.colorDepth);
  if (entries < 0) return ResultNotImplemented;

  HLOCAL infoBlock = LocalAlloc(HostBlockFlags, BitmapHeaderSize + ColorTableEntrySize * entries);
  *request.bitmapInfoOut = infoBlock;
  if (infoBlock == nullptr) return ResultNoMemory;
  uint8_t* header = static_cast<uint8_t*>(LocalLock(infoBlock));
  if (header == nullptr) {
    LocalFree(infoBlock);
    *request.bitsOut = nullptr;
    *request.bitmapInfoOut = nullptr;
    return ResultMemoryError;
  }

  int32_t stride = 0;
  uint32_t pixelBytes = 0;
  const bool fits = PixelBlockSize(info, &stride, &pixelBytes);
  WriteBitmapHeader(header, info, pixelBytes);
  // A block too large for the bitmap's fields fails as an allocation would.
  HLOCAL bitsBlock = fits ? LocalAlloc(HostBlockFlags, pixelBytes) : nullptr;
  *request.bitsOut = bitsBlock;
  if (bitsBlock == nullptr) {
    LocalUnlock(infoBlock);
    LocalFree(infoBlock);
    *request.bitsOut = nullptr;
    *request.bitmapInfoOut = nullptr;
    return ResultNoMemory;
  }
  uint8_t* pixels = static_cast<uint8_t*>(LocalLock(bitsBlock));
  if (pixels == nullptr) {
    // Always so for a picture of no pixels: a block of 0 bytes cannot be locked.
    LocalFree(bitsBlock);
    LocalUnlock(infoBlock);
    LocalFree(infoBlock);
    *request.bitsOut = nullptr;
    *request.bitmapInfoOut = nullptr;
    return ResultMemoryError;
  }

  result = operations.decode(input, pixels, stride, info.height, request.progress, request.userData);
  if (result == ResultOk && entries > 0) {
    result = operations.fillPalette(input, header + BitmapHeaderSize, static_cast<uint32_t>(entries));
  }
  LocalUnlock(bitsBlock);
  LocalUnlock(infoBlock);
  if (result != ResultOk) {
    LocalFree(bitsBlock);
    LocalFree(infoBlock);
    *request.bitsOut = nullptr;
    *request.bitmapInfoOut = nullptr;
  }
  return result;
}

}  // namespace

int32_t ColorTableEntries(int32_t colorDepth) {
  switch (colorDepth) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    case 24:
      return 0;
    default:
      return -1;
  }
}

int64_t BitmapStride(int32_t colorDepth, int32_t width) {
  if (colorDepth < 0 || width < 0) return -1;
  const int64_t stride = ((int64_t{colorDepth} * width + 7) / 8 + 3) & ~int64_t{3};
  return stride > INT32_MAX ? -1 : stride;
}

ResultCode ReportPictureInfo(const PictureOperations& operations, LPCSTR source,
                             intptr_t offsetOrSize, uint32_t flag, PictureInfo* pictureInfo) {
  InfoRequest request = {&operations, pictureInfo};
  return DispatchInput(source, offsetOrSize, flag, RunFillInfo, &request);
}

ResultCode BuildPicture(const PictureOperations& operations, LPCSTR source, intptr_t offsetOrSize,
                        uint32_t flag, HLOCAL* bitmapInfoOut, HLOCAL* bitsOut,
                        ProgressCallback progress, intptr_t userData) {
  if (ProgressAsksToStop(progress, 0, 1, userData)) return ResultCancelled;
  PictureRequest request = {&operations, bitmapInfoOut, bitsOut, progress, userData};
  const ResultCode result = DispatchInput(source, offsetOrSize, flag, BuildBitmap, &request);
  if (result == ResultOk) ProgressAsksToStop(progress, 1, 1, userData);
  return result;
}
