// The picture frame: what GetPictureInfo and GetPicture do for any picture
// format. It owns the host's side of the work (the input dispatch, the two
// movable blocks of a device-independent bitmap, its header and stride, the
// first and last progress calls, and clean-up on every failure) and leaves
// everything about the format to three operations it is handed.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"
#include "frame/input_source.h"
#include "image/picture_info.h"

struct PictureOperations {
  // Fills all of *info from the input; writes nothing on failure.
  ResultCode (*fillInfo)(const InputView& input, PictureInfo* info);
  // Writes the rows, bottom row first at `pixels`, each `stride` bytes after
  // the one below, never the bytes after a row's pixels; reports progress
  // through the callback.
  ResultCode (*decode)(const InputView& input, uint8_t* pixels, int32_t stride, int32_t height,
                       ProgressCallback progress, intptr_t userData);
  // Writes at most entryCount 4-byte colour-table entries at colorTable.
  ResultCode (*fillPalette)(const InputView& input, uint8_t* colorTable, uint32_t entryCount);
};

constexpr uint32_t BitmapHeaderSize = 40;
constexpr uint32_t ColorTableEntrySize = 4;

// Colour-table entries of a bitmap of the given depth: 2, 16, 256 or 0 (for
// 24 bits), or -1 for a depth the frame does not build.
int32_t ColorTableEntries(int32_t colorDepth);

// Bytes from one row of a bitmap to the next, rounded up to a multiple of 4;
// -1 when a row would not fit in 32 bits.
int64_t BitmapStride(int32_t colorDepth, int32_t width);

// GetPictureInfo: fillInfo straight into the host's record. The record is
// left as it was on any failure; once the input is open, a record that
// cannot be written gives ResultMemoryError.
ResultCode ReportPictureInfo(const PictureOperations& operations, LPCSTR source,
                             intptr_t offsetOrSize, uint32_t flag, PictureInfo* pictureInfo);

// GetPicture: progress (0, 1); then, on the input, fillInfo, the two blocks,
// decode and fillPalette; progress (1, 1) after success. On ResultOk the host
// owns both blocks, unlocked. Otherwise nothing allocated remains, and both
// locations hold 0 once the information block had been asked for (before
// that they are not written). Locations that cannot be written give
// ResultMemoryError once the input is open, before anything is read.
ResultCode BuildPicture(const PictureOperations& operations, LPCSTR source, intptr_t offsetOrSize,
                        uint32_t flag, HLOCAL* bitmapInfoOut, HLOCAL* bitsOut,
                        ProgressCallback progress, intptr_t userData);
