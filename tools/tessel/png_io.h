// PNG files and colour reduction, through libpng and libimagequant. Built only
// where both libraries are found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

// Reads any PNG. Palette pictures keep their indices and palette (1-, 2- and
// 4-bit indices become bytes); grey ones stay grey; 16-bit samples become 8-bit;
// alpha is dropped and noted in droppedTransparency.
bool DecodePng(const std::vector<uint8_t>& file, Picture* picture, std::string* error);

// Writes an 8-bit palette PNG whose palette ends at the highest index used.
bool EncodePng(const IndexedPicture& picture, std::vector<uint8_t>* file, std::string* error);

// Reduces a grey or RGB picture to at most maxColours colours (2 to 256).
// dither is 0 (none) to 1 (full).
bool QuantizePicture(const Picture& picture, unsigned maxColours, float dither,
                     IndexedPicture* indexed, std::string* error);
