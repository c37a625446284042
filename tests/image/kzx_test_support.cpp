#include "image/kzx_test_support.h"

#include <sstream>

int32_t WINAPI ProgressLog::Record(int32_t position, int32_t total, intptr_t userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  const int number = static_cast<int>(log->calls.size());
  log->calls.push_back({position, total});
  return number == log->stopAt ? 1 : 0;
}

std::string Describe(const std::vector<ProgressLog::Call>& calls) {
  std::ostringstream out;
  for (const ProgressLog::Call& call : calls) out << "(" << call.position << "," << call.total << ")";
  return out.str();
}

void BitWriter::Put(uint64_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1 << (bits_ % 8));
    ++bits_;
  }
}

void BitWriter::Index(int index) {
  if (index < 2) {
    Put(0, 1);
    Put(index, 1);
  } else if (index < 6) {
    Put(2, 2);
    Put(index - 2, 2);
  } else {
    Put(3, 2);
    Put(index - 6, 3);
  }
}

void BitWriter::Count(uint32_t value) {
  int k = 0;
  while ((2u << k) - 2 < value) ++k;  // 2^(k+1) - 2 is the largest value of k ones
  CountOnes(k, value - ((1u << k) - 1));
}

void BitWriter::CountOnes(int ones, uint32_t x) {
  for (int i = 0; i < ones; ++i) Put(1, 1);
  Put(0, 1);
  Put(x, ones);
}

std::vector<uint8_t> Chunk(const std::vector<uint8_t>& coded, uint16_t codedLength,
                           uint16_t signature) {
  std::vector<uint8_t> bytes(10, 0);
  bytes[0] = static_cast<uint8_t>(signature);
  bytes[1] = static_cast<uint8_t>(signature >> 8);
  bytes[6] = static_cast<uint8_t>(codedLength);
  bytes[7] = static_cast<uint8_t>(codedLength >> 8);
  for (uint8_t byte : coded) bytes.push_back(byte);
  return bytes;
}

std::vector<uint8_t> Chunk(const std::vector<uint8_t>& coded) {
  return Chunk(coded, static_cast<uint16_t>(coded.size()));
}

std::vector<uint8_t> BuildKzxFile(const KzxFileLayout& layout) {
  std::vector<uint8_t> file = {0x2E, 0x38, 0x42, 0x69, 0x74, 0x56, 0x61, 0x73, 0x6B, 0x00};
  auto put16 = [&file](uint32_t v) {
    file.push_back(static_cast<uint8_t>(v));
    file.push_back(static_cast<uint8_t>(v >> 8));
  };
  put16(layout.encoding);
  put16(0);
  put16(layout.width);
  put16(layout.height);
  put16(layout.paletteCount == 0xFFFF ? static_cast<uint32_t>(layout.palette.size() / 3) : layout.paletteCount);
  put16(static_cast<uint32_t>(layout.extra.size()));
  const uint32_t dataLength =
      layout.dataLength < 0 ? static_cast<uint32_t>(layout.data.size()) : static_cast<uint32_t>(layout.dataLength);
  put16(dataLength & 0xFFFF);
  put16(dataLength >> 16);
  file.insert(file.end(), layout.palette.begin(), layout.palette.end());
  file.insert(file.end(), layout.extra.begin(), layout.extra.end());
  file.insert(file.end(), layout.data.begin(), layout.data.end());
  return file;
}

const std::vector<uint8_t>& ExamplePictureData() {
  static const std::vector<uint8_t> data = {0x00, 0x01, 0x05, 0x87, 0x40, 0x28,
                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  return data;
}

std::vector<uint8_t> ExamplePictureFile() {
  KzxFileLayout layout;
  layout.width = 4;
  layout.height = 3;
  layout.palette = {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
  layout.extra = {0x00, 0x00, 0x00};
  layout.data = ExamplePictureData();
  return BuildKzxFile(layout);
}

namespace {

// The one-bit reader: a 32-bit word, a one-bit mask, the offset of the next
// word. Bytes of a word beyond the data block are never read.
class OneBitReader {
 public:
  OneBitReader(const uint8_t* data, int32_t length) : data_(data), length_(length) {
    word_ = WordAt(0);
  }
  // False when the bit lies beyond the data block.
  bool Read(uint32_t* bit) {
    if (bitIndex_ / 8 >= static_cast<uint64_t>(length_)) return false;
    *bit = (word_ & mask_) != 0 ? 1 : 0;
    ++bitIndex_;
    mask_ = (mask_ << 1) | (mask_ >> 31);
    if (mask_ == 1) {
      word_ = WordAt(next_);
      next_ += 4;
    }
    return true;
  }
  bool ReadField(int bits, uint32_t* value) {
    *value = 0;
    for (int i = 0; i < bits; ++i) {
      uint32_t bit;
      if (!Read(&bit)) return false;
      *value = (*value << 1) | bit;
    }
    return true;
  }
  uint64_t Next() const { return next_; }

 private:
  uint32_t WordAt(uint64_t offset) const {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
      if (offset + i < static_cast<uint64_t>(length_)) word |= static_cast<uint32_t>(data_[offset + i]) << (8 * i);
    }
    return word;
  }
  const uint8_t* data_;
  int32_t length_;
  uint32_t word_ = 0;
  uint32_t mask_ = 1;
  uint64_t next_ = 4;
  uint64_t bitIndex_ = 0;
};

bool ReadIndex(OneBitReader& reader, int* index) {
  uint32_t first, second, x;
  if (!reader.Read(&first) || !reader.Read(&second)) return false;
  if (first == 0) {
    *index = static_cast<int>(second);
    return true;
  }
  if (second == 0) {
    if (!reader.ReadField(2, &x)) return false;
    *index = 2 + static_cast<int>(x);
    return true;
  }
  if (!reader.ReadField(3, &x)) return false;
  *index = 6 + static_cast<int>(x);
  return true;
}

bool Stop(ProgressCallback progress, int32_t position, int32_t total, intptr_t userData) {
  return progress != nullptr && progress(position, total, userData) != 0;
}

}  // namespace

ResultCode ReferenceBitStream(const uint8_t* data, int32_t dataLength, uint8_t* work,
                              int32_t width, int32_t height, ProgressCallback progress,
                              intptr_t userData) {
  if (dataLength == 0) return ResultOk;
  const int64_t size = static_cast<int64_t>(width) * height;
  if (size == 0) return ResultOk;
  const int64_t w = width;
  const int64_t distances[14] = {1,         w,         2,         w + 1,     w - 1,
                                 2 * w,     w + 2,     w - 2,     2 * w + 2, 2 * w + 1,
                                 2 * w - 1, 2 * w - 2, 3 * w,     3 * w + 1};
  const int64_t groupTokens = dataLength / 64 + 1;
  OneBitReader reader(data, dataLength);
  int64_t o = 0;
  int64_t reported = 0;
  for (;;) {
    if (Stop(progress, static_cast<int32_t>(reported), dataLength, userData)) return ResultCancelled;
    for (int64_t token = 0; token < groupTokens; ++token) {
      uint32_t literal, flag;
      if (!reader.ReadField(8, &literal)) return ResultTruncatedData;
      work[o++] = static_cast<uint8_t>(literal);
      if (o == size) return ResultOk;
      if (!reader.Read(&flag)) return ResultTruncatedData;
      if (flag == 1) continue;
      int previous = -1;
      for (;;) {
        int index;
        if (!ReadIndex(reader, &index)) return ResultTruncatedData;
        if (index == previous) break;
        previous = index;
        int k = 0;
        for (;;) {
          uint32_t bit;
          if (!reader.Read(&bit)) return ResultTruncatedData;
          if (bit == 0) break;
          if (++k == 23) return ResultTruncatedData;
        }
        uint32_t x;
        if (!reader.ReadField(k, &x)) return ResultTruncatedData;
        const int64_t value = (int64_t{1} << k) - 1 + x;
        const int64_t length = value + (index < 2 ? 1 : 2);
        const int64_t d = distances[index];
        if (d <= 0 || d > o || o + length > size) return ResultBadData;
        for (int64_t j = 0; j < length; ++j) work[o + j] = work[o - d + j];
        o += length;
        if (o == size) return ResultOk;
      }
    }
    reported = static_cast<int64_t>(reader.Next());
    if (reported >= dataLength) return ResultOk;
  }
}

ResultCode ReferenceChunks(const uint8_t* data, int32_t dataLength, uint8_t* work, size_t size,
                           ProgressCallback progress, intptr_t userData) {
  if (dataLength == 0 || size == 0) return ResultOk;
  const int64_t length = dataLength;
  int64_t p = 0;
  size_t o = 0;
  for (;;) {
    if (p + 10 > length) return ResultBadData;
    if ((data[p] | data[p + 1] << 8) != 0x5843) return ResultBadData;
    const int64_t codedLength = data[p + 6] | data[p + 7] << 8;
    const int64_t start = p;
    p += 10;
    if (Stop(progress, static_cast<int32_t>(start), dataLength, userData)) return ResultCancelled;
    int64_t k = 0;
    while (k < codedLength) {
      if (p >= length) return ResultBadData;
      const uint8_t b = data[p];
      ++p;
      ++k;
      if (b != 0xFF) {
        work[o++] = b;
        if (o == size) return ResultOk;
        continue;
      }
      if (p + 2 > length) return ResultBadData;
      const size_t d = data[p];
      const size_t n = data[p + 1] + 3u;
      p += 2;
      k += 2;
      if (d > o || o + n > size) return ResultBadData;
      for (size_t i = 0; i < n; ++i) work[o + i] = work[o - d + i];
      o += n;
      if (o == size) return ResultOk;
    }
    if (p >= length) return ResultOk;
  }
}
