// The KZX image format: a 26-byte header, a palette of 3-byte colours, extra
// bytes nobody reads, and one block of 8-bit pixel data in the bit-stream or
// the chunked encoding. The four operations below are what the plug-in's
// exports run: the format test of IsSupported and the info, decode and
// palette operations of the picture frame. They read only through an
// InputView and check every range they read with IsReadable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/host_interface.h"
#include "frame/input_source.h"
#include "image/kzx_layout.h"
#include "image/picture_info.h"


// 1 when the first ten bytes are the KZX magic, else 0. Reads nothing more.
int32_t TestKzxHeader(const uint8_t* header);

// Size and depth from the header: 8 bits per pixel, always. ResultBadData,
// with the record untouched, when the header cannot be read.
ResultCode FillPictureInfo(const InputView& input, PictureInfo* info);

// Copies the palette's 3-byte colours into the first 4 bytes of as many
// colour-table entries, at most entryCapacity; entries beyond it are ignored.
// ResultBadData, nothing written, when the header or palette cannot be read.
ResultCode FillPalette(const InputView& input, uint8_t* colorTable, uint32_t entryCapacity);

// Decodes the pixels into the pixel block, bottom row at `pixels`, each row
// `stride` bytes after the one below; bytes after a row's pixels are not
// written. `height` is the height the block was sized for and must be the
// header's. Pixels that the data does not reach are 0. ResultOk,
// ResultCancelled, ResultBadData or ResultTruncatedData; on anything but
// ResultOk the pixel block is not written.
ResultCode DecodePixels(const InputView& input, uint8_t* pixels, int32_t stride, int32_t height,
                        ProgressCallback progress, intptr_t userData);
