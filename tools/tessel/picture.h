// Pictures as tessel reads and writes them: whatever a PNG or BMP file held,
// before it becomes the 8-bit indexed picture that a KZX image stores.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writers/kzx_writer.h"

enum class PictureKind { Indexed, Grey, Rgb };

// Rows top first, packed without gaps. Indexed: one index per pixel and the
// palette. Grey: one level per pixel. Rgb: three bytes (red, green, blue).
struct Picture {
  PictureKind kind = PictureKind::Rgb;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> samples;
  std::vector<PaletteColor> palette;
  bool droppedTransparency = false;  // some pixel was not opaque; KZX has no alpha

  uint32_t BytesPerPixel() const { return kind == PictureKind::Rgb ? 3 : 1; }
  // The colour a viewer shows at pixel i; false for an index beyond the palette.
  bool ColourAt(size_t i, PaletteColor* colour) const;
};

// The largest picture a KZX header can describe, checked before anything of
// that size is allocated.
constexpr uint32_t MaxKzxSide = 0xFFFF;

// The same picture as an indexed one without losing a colour: an indexed
// picture as it is, a grey one with a palette of the levels it uses, an RGB one
// of at most 256 colours with a palette of those. False for an RGB picture of
// more colours, which needs a quantiser.
bool IndexExactly(const Picture& picture, IndexedPicture* indexed);

// Cuts the rectangle of w x h pixels at (x, y) out of the picture. False with
// a reason when it does not lie inside.
bool CropPicture(Picture* picture, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                 std::string* error);

// Makes the picture factor times smaller in each direction: RGB and grey by
// averaging each factor x factor block, indexed by keeping the block's first
// pixel (indices cannot be averaged). Leftover edge pixels are dropped.
bool ShrinkPicture(Picture* picture, uint32_t factor, std::string* error);
