#include "writers/kzx_plain_decoder.h"

#include "frame/byte_order.h"

namespace {

class PlainBitReader {
 public:
  PlainBitReader(const uint8_t* data, uint32_t length) : data_(data), length_(length) {}

  // False when the bit lies past the data block.
  bool Bit(uint32_t* bit) {
    if (bitsRead_ / 8 >= length_) return false;
    *bit = (data_[bitsRead_ / 8] >> (bitsRead_ % 8)) & 1u;
    ++bitsRead_;
    return true;
  }

  // Most significant bit first.
  bool Field(uint32_t bits, uint32_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < bits; ++i) {
      uint32_t bit;
      if (!Bit(&bit)) return false;
      *value = (*value << 1) | bit;
    }
    return true;
  }

  // The word holding the next unread bit counts as consumed.
  uint64_t ReadPosition() const { return 4 * (bitsRead_ / 32 + 1); }

 private:
  const uint8_t* data_;
  uint32_t length_;
  uint64_t bitsRead_ = 0;
};

bool ReadIndex(PlainBitReader* reader, uint32_t* index) {
  uint32_t first, x;
  if (!reader->Bit(&first)) return false;
  if (first == 0) {
    if (!reader->Bit(&x)) return false;
    *index = x;
    return true;
  }
  uint32_t second;
  if (!reader->Bit(&second)) return false;
  if (second == 0) {
    if (!reader->Field(2, &x)) return false;
    *index = 2 + x;
  } else {
    if (!reader->Field(3, &x)) return false;
    *index = 6 + x;
  }
  return true;
}

// False for a truncated code or more than 22 one-bits.
bool ReadCount(PlainBitReader* reader, uint32_t* v) {
  uint32_t k = 0, bit;
  for (;;) {
    if (!reader->Bit(&bit)) return false;
    if (bit == 0) break;
    if (++k > 22) return false;
  }
  uint32_t x;
  if (!reader->Field(k, &x)) return false;
  *v = (1u << k) - 1 + x;
  return true;
}

}  // namespace

PlainDecode DecodeBitStreamPlainly(const uint8_t* data, uint32_t dataLength, uint32_t width,
                                   uint32_t height) {
  PlainDecode out;
  const uint64_t size = static_cast<uint64_t>(width) * height;
  out.pixels.assign(size, 0);
  out.result = ResultOk;
  if (dataLength == 0) return out;
  const int64_t w = width;
  const int64_t distances[14] = {1,         w,         2,         w + 1,     w - 1,
                                 2 * w,     w + 2,     w - 2,     2 * w + 2, 2 * w + 1,
                                 2 * w - 1, 2 * w - 2, 3 * w,     3 * w + 1};
  const uint64_t group = dataLength / 64 + 1;
  PlainBitReader reader(data, dataLength);
  uint64_t o = 0;
  auto finish = [&](ResultCode result) {
    out.result = result;
    out.written = o;
    return out;
  };
  for (;;) {
    for (uint64_t token = 0; token < group; ++token) {
      uint32_t literal;
      if (!reader.Field(8, &literal)) return finish(ResultTruncatedData);
      out.pixels[o++] = static_cast<uint8_t>(literal);
      if (o == size) return finish(ResultOk);
      uint32_t flag;
      if (!reader.Bit(&flag)) return finish(ResultTruncatedData);
      if (flag == 1) continue;
      int64_t previous = -1;
      for (;;) {
        uint32_t index, v;
        if (!ReadIndex(&reader, &index)) return finish(ResultTruncatedData);
        if (index == previous) break;
        previous = index;
        if (!ReadCount(&reader, &v)) return finish(ResultTruncatedData);
        const uint64_t length = static_cast<uint64_t>(v) + (index < 2 ? 1 : 2);
        const int64_t d = distances[index];
        // A distance of 0 or less would copy pixels onto themselves or from
        // ahead: refused, as a careful reader does.
        if (d < 1 || static_cast<uint64_t>(d) > o || o + length > size) {
          return finish(ResultBadData);
        }
        for (uint64_t j = 0; j < length; ++j) out.pixels[o + j] = out.pixels[o - d + j];
        o += length;
        if (o == size) return finish(ResultOk);
      }
    }
    if (reader.ReadPosition() >= dataLength) return finish(ResultOk);
  }
}

PlainDecode DecodeChunksPlainly(const uint8_t* data, uint32_t dataLength, size_t size) {
  PlainDecode out;
  out.pixels.assign(size, 0);
  uint64_t p = 0, o = 0;
  auto finish = [&](ResultCode result) {
    out.result = result;
    out.written = o;
    return out;
  };
  if (dataLength == 0) return finish(ResultOk);
  for (;;) {
    if (p + 10 > dataLength) return finish(ResultBadData);
    if (LoadU16LE(data + p) != 0x5843) return finish(ResultBadData);
    const uint32_t codedLength = LoadU16LE(data + p + 6);
    p += 10;
    out.chunks.push_back({codedLength, 0});
    uint32_t& k = out.chunks.back().consumed;
    while (k < codedLength) {
      if (p >= dataLength) return finish(ResultBadData);
      const uint8_t b = data[p++];
      ++k;
      if (b != 0xFF) {
        out.pixels[o++] = b;
        if (o == size) return finish(ResultOk);
        continue;
      }
      if (p + 2 > dataLength) return finish(ResultBadData);
      const uint64_t d = data[p], n = data[p + 1] + 3u;
      p += 2;
      k += 2;
      if (d == 0 || d > o || o + n > size) return finish(ResultBadData);
      for (uint64_t i = 0; i < n; ++i) out.pixels[o + i] = out.pixels[o - d + i];
      o += n;
      if (o == size) return finish(ResultOk);
    }
    if (p >= dataLength) return finish(ResultOk);
  }
}

PlainPicture DecodeKzxPlainly(const std::vector<uint8_t>& file) {
  PlainPicture picture;
  if (file.size() < 26) return picture;
  picture.encoding = LoadU16LE(&file[10]);
  picture.width = LoadU16LE(&file[14]);
  picture.height = LoadU16LE(&file[16]);
  const size_t paletteCount = LoadU16LE(&file[18]);
  const size_t extraLength = LoadU16LE(&file[20]);
  const uint32_t dataLength = LoadU32LE(&file[22]);
  const size_t dataStart = 26 + 3 * paletteCount + extraLength;
  if (dataStart > file.size() || file.size() - dataStart < dataLength) return picture;
  picture.palette.assign(file.begin() + 26, file.begin() + 26 + 3 * paletteCount);
  const uint8_t* data = file.data() + dataStart;
  if (picture.encoding == 256) {
    picture.decode = DecodeBitStreamPlainly(data, dataLength, picture.width, picture.height);
  } else {
    picture.decode =
        DecodeChunksPlainly(data, dataLength, static_cast<size_t>(picture.width) * picture.height);
  }
  return picture;
}
