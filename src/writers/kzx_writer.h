// Writes 8-bit indexed pictures as KZX images, in either pixel encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PaletteColor {
  uint8_t red, green, blue;
};

// An 8-bit indexed picture: width x height indices, top row first, rows
// packed without gaps; at most 256 colours.
struct IndexedPicture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
  std::vector<PaletteColor> palette;
};

enum class KzxEncoding { BitStream, Chunked };

// Encodes the picture. On failure answers false, leaves *file as it was and
// says why in *error, in words for a person (a picture too large for the
// header's 16-bit sizes or without pixels, more than 256 colours, a pixel
// whose index lies past the palette, a chunked picture that uses all 256
// indices, ...).
// The chunked encoding cannot store index 255: when the picture uses it and
// some index is free, the colour moves to a free index; *picture is not
// changed, the file holds the moved indices and palette.
bool EncodeKzx(const IndexedPicture& picture, KzxEncoding encoding, std::vector<uint8_t>* file,
               std::string* error);
