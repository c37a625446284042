// What the image tests share: a recording progress callback, writers of
// bit streams, chunks and whole KZX files, and plain reference decoders that
// follow the encodings' definitions one bit and one byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "frame/host_interface.h"

// Records every progress call; answers nonzero at call number stopAt (0 is
// the first call), never when stopAt is negative. Pass its address as userData.
struct ProgressLog {
  struct Call {
    int32_t position;
    int32_t total;
    bool operator==(const Call& other) const {
      return position == other.position && total == other.total;
    }
  };
  std::vector<Call> calls;
  int stopAt = -1;
  intptr_t UserData() { return reinterpret_cast<intptr_t>(this); }
  static int32_t WINAPI Record(int32_t position, int32_t total, intptr_t userData);
};

std::string Describe(const std::vector<ProgressLog::Call>& calls);

// Writes a bit stream: stream bits fill each byte from bit 0 up; a field of
// n bits goes most significant bit first.
class BitWriter {
 public:
  void Put(uint64_t value, int bits);
  void Literal(uint8_t pixel) { Put(pixel, 8); }
  void Flag(bool endsToken) { Put(endsToken ? 1 : 0, 1); }
  void Index(int index);                 // the index code of index 0 to 13
  void Count(uint32_t value);            // the count code of value
  void CountOnes(int ones, uint32_t x);  // ones one-bits, a zero, then `ones` bits of x
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  uint64_t BitCount() const { return bits_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bits_ = 0;
};

// A chunk: its 10-byte header with the given signature and coded length,
// then the coded bytes.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& coded, uint16_t codedLength,
                           uint16_t signature = 0x5843);
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& coded);

// A KZX file: header, palette (3 bytes an entry), extra bytes, data block.
// dataLength is the data's size unless given.
struct KzxFileLayout {
  uint16_t encoding = 256;
  uint16_t width = 0;
  uint16_t height = 0;
  std::vector<uint8_t> palette;
  std::vector<uint8_t> extra;
  std::vector<uint8_t> data;
  int64_t dataLength = -1;
  uint16_t paletteCount = 0xFFFF;  // 0xFFFF: palette.size() / 3
};
std::vector<uint8_t> BuildKzxFile(const KzxFileLayout& layout);

// The small example picture everything is checked on first: 4 x 3 pixels,
// three colours, three extra bytes, a 12-byte bit-stream data block; 50 bytes.
std::vector<uint8_t> ExamplePictureFile();
const std::vector<uint8_t>& ExamplePictureData();

// Reference decoders, straight from the definitions of the two encodings,
// with the choices this plug-in makes where the definitions leave one: a
// neighbour 0 or -1 pixels back is bad data, 23 one-bits in a count code are
// a truncation, a chunk header or coded byte beyond the data block is bad
// data, an escape at distance 0 gives pixels 0. work must come cleared.
ResultCode ReferenceBitStream(const uint8_t* data, int32_t dataLength, uint8_t* work,
                              int32_t width, int32_t height, ProgressCallback progress,
                              intptr_t userData);
ResultCode ReferenceChunks(const uint8_t* data, int32_t dataLength, uint8_t* work, size_t size,
                           ProgressCallback progress, intptr_t userData);
