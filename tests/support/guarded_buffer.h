// Test memory whose last byte sits right before a page that cannot be read, so
// that any read past the end faults at once instead of passing unnoticed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GuardedBuffer {
 public:
  explicit GuardedBuffer(const std::vector<uint8_t>& bytes);
  GuardedBuffer(const uint8_t* bytes, size_t size);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The first byte of the guard page.
  uint8_t* end() const { return data_ + size_; }

 private:
  uint8_t* base_ = nullptr;
  size_t mapped_ = 0;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};
