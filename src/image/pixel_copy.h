// The forward pixel copy both KZX decoders use for their back-references.
//
// A copy repeats earlier pixels: pixel o + j receives pixel o - distance + j,
// for j ascending, so a distance shorter than the length repeats the last
// `distance` pixels. Where the work buffer has CopySlack bytes to spare beyond
// the copy, the copy moves 8 bytes at a time and may leave up to CopySlack - 1
// bytes of scratch right after its last pixel; the decoders either overwrite
// them with later pixels or clear them (ClearCopyScratch) when they stop early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr size_t CopySlack = 8;

inline void CopyEightBytes(uint8_t* to, const uint8_t* from) { std::memcpy(to, from, 8); }

// out is the first pixel to write, room the bytes from out to the end of the
// work buffer (room >= length), distance >= 1 and no more than the pixels
// already written before out.
inline void CopyPixelsForward(uint8_t* out, size_t distance, size_t length, size_t room) {
  const uint8_t* from = out - distance;
  if (room - length < CopySlack) {
    for (size_t j = 0; j < length; ++j) out[j] = from[j];
    return;
  }
  uint8_t* const stop = out + length;
  if (distance - 2 >= 6) {
    // Distance 1 or at least 8, the common cases, without telling them apart
    // by a branch: the first 8 pixels are the one source pixel repeated or the
    // 8 source pixels; then each 8-byte move reads finished pixels, 8 back
    // (all one value) or `distance` back.
    uint64_t loaded;
    std::memcpy(&loaded, from, 8);
    const uint64_t repeated = 0x0101010101010101ull * from[0];
    // All ones for distance 1, else 0: a select compilers keep branch-free.
    const uint64_t one = 0 - static_cast<uint64_t>(distance == 1);
    const uint64_t first = loaded ^ ((loaded ^ repeated) & one);
    std::memcpy(out, &first, 8);
    const size_t back = distance + ((8 - distance) & static_cast<size_t>(one));
    for (uint8_t* to = out + 8; to < stop; to += 8) CopyEightBytes(to, to - back);
  } else {
    // Distances 2 to 7: the copied pixels repeat with period `distance`,
    // hence also with the smallest multiple of it that is at least 8: after
    // the first 8 pixels the rest moves in 8-byte steps from that far back.
    for (size_t j = 0; j < 8; ++j) out[j] = from[j];
    const size_t period = distance * ((8 + distance - 1) / distance);
    for (uint8_t* to = out + 8; to < stop; to += 8) CopyEightBytes(to, to - period);
  }
}

// Decoding stopped with `written` pixels: the scratch a fast copy may have
// left after them goes back to 0, the value of a pixel never decoded.
inline void ClearCopyScratch(uint8_t* work, size_t written, size_t size) {
  const size_t rest = size - written;
  std::memset(work + written, 0, rest < CopySlack ? rest : CopySlack);
}
