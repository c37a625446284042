// KZX decoding written plainly from the format's definition, bit by bit, as
// an independent check of what the writer produces (and later of the
// plug-in's own decoders). Slow and simple on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/host_interface.h"

struct ChunkSeen {
  uint32_t codedLength;  // as the header says
  uint32_t consumed;     // coded bytes the tokens of the chunk took
};

struct PlainDecode {
  ResultCode result = ResultBadData;
  std::vector<uint8_t> pixels;  // width x height; unwritten pixels stay 0
  size_t written = 0;           // pixels decoded before the decoder stopped
  std::vector<ChunkSeen> chunks;
};

PlainDecode DecodeBitStreamPlainly(const uint8_t* data, uint32_t dataLength, uint32_t width,
                                   uint32_t height);
PlainDecode DecodeChunksPlainly(const uint8_t* data, uint32_t dataLength, size_t size);

// A whole file: header, palette (blue, green, red per entry) and the decoder
// its encoding field selects.
struct PlainPicture {
  uint32_t width = 0, height = 0;
  uint16_t encoding = 0;
  std::vector<uint8_t> palette;  // 3 bytes per entry, as stored
  PlainDecode decode;
};

PlainPicture DecodeKzxPlainly(const std::vector<uint8_t>& file);
