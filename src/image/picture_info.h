// The host's record of a picture's size and depth.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t colorDepth;
  uint32_t textHandle;  // a 32-bit handle of a text block; always 0 here
};
#pragma pack(pop)

static_assert(sizeof(PictureInfo) == 26, "PictureInfo is 26 bytes, packed");
static_assert(offsetof(PictureInfo, width) == 8, "width at 8");
static_assert(offsetof(PictureInfo, height) == 12, "height at 12");
static_assert(offsetof(PictureInfo, xDensity) == 16, "xDensity at 16");
static_assert(offsetof(PictureInfo, yDensity) == 18, "yDensity at 18");
static_assert(offsetof(PictureInfo, colorDepth) == 20, "colorDepth at 20");
static_assert(offsetof(PictureInfo, textHandle) == 22, "textHandle at 22");
