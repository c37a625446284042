// Little-endian fields read from and written to byte pointers. Records from
// files and hosts are never overlaid on structs: every field goes through here.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t LoadU16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t LoadU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32LE(p)) | (static_cast<uint64_t>(LoadU32LE(p + 4)) << 32);
}

inline int32_t LoadI32LE(const uint8_t* p) { return static_cast<int32_t>(LoadU32LE(p)); }

inline void StoreU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreU32LE(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreU64LE(uint8_t* p, uint64_t v) {
  StoreU32LE(p, static_cast<uint32_t>(v));
  StoreU32LE(p + 4, static_cast<uint32_t>(v >> 32));
}
