// Chunked encoding of KZX pixels: byte literals and three-byte escapes that
// copy 3 to 258 pixels from 1 to 255 pixels back, in chunks of at most 65535
// coded bytes.
//
// Every escape costs the same three bytes whatever its length, and the
// cheapest coding of the pixels from o on never costs more than that from
// o - 1 on (drop the first pixel: a literal goes, an escape gets one shorter
// or becomes two literals). So at each pixel only two choices matter, a
// literal or the longest escape, and a backward pass over a block picks the
// cheaper for every pixel: the shortest coding of the block.
//
// The longest escape at each pixel comes from hash chains over three-pixel
// prefixes, walked only as far back as an escape can reach.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "frame/byte_order.h"
#include "image/kzx_layout.h"
#include "writers/kzx_pixel_encoders.h"

namespace {

// An escape is the escape byte, a distance byte and a length-code byte.
constexpr uint32_t kEscapeLength = 3;
constexpr uint32_t kLongestDistance = 255;
constexpr uint32_t kShortestCopy = ChunkEscapeMinLength;
constexpr uint32_t kLongestCopy = ChunkEscapeMinLength + 255;
constexpr uint32_t kLongestChunk = 0xFFFF;

// Pixels per backward pass: bounds its memory (7 bytes a pixel).
constexpr size_t kBlockPixels = size_t{1} << 20;

constexpr uint32_t kHashBits = 16;
// Chain links by position modulo a power of two above the longest distance:
// a link is overwritten only once it is out of reach.
constexpr uint32_t kChainSlots = 256;
static_assert(kChainSlots > kLongestDistance, "links within reach must survive");

struct Match {
  uint16_t length;  // 0 when no escape starts here
  uint8_t distance;
};

class MatchFinder {
 public:
  MatchFinder(const uint8_t* pixels, size_t size)
      : pixels_(pixels), size_(size), heads_(size_t{1} << kHashBits, 0), links_(kChainSlots, 0) {}

  // The longest copy for pixel o. Must be called for every pixel in order.
  Match Find(size_t o) {
    Match best{0, 0};
    if (size_ - o < kShortestCopy) return best;
    const size_t limit = std::min<size_t>(kLongestCopy, size_ - o);
    // The previous pixel's copy, one pixel on, matches all but its first
    // pixel already: in long runs one comparison settles it.
    if (previous_.length > kShortestCopy) {
      size_t length = previous_.length - 1;
      const size_t candidate = o - previous_.distance;
      while (length < limit && pixels_[candidate + length] == pixels_[o + length]) ++length;
      best = {static_cast<uint16_t>(length), previous_.distance};
    }
    const uint32_t hash = Hash(o);
    for (uint64_t entry = heads_[hash]; entry != 0 && best.length < limit;) {
      const size_t candidate = static_cast<size_t>(entry - 1);
      const size_t distance = o - candidate;
      if (distance > kLongestDistance) break;
      entry = links_[candidate % kChainSlots];
      // Only a copy that also matches the pixel where the best one stops can beat it.
      if (best.length != 0 && pixels_[candidate + best.length] != pixels_[o + best.length]) continue;
      size_t length = 0;
      while (length < limit && pixels_[candidate + length] == pixels_[o + length]) ++length;
      if (length >= kShortestCopy && length > best.length) {
        best = {static_cast<uint16_t>(length), static_cast<uint8_t>(distance)};
      }
    }
    links_[o % kChainSlots] = heads_[hash];
    heads_[hash] = static_cast<uint64_t>(o) + 1;
    previous_ = best;
    return best;
  }

 private:
  uint32_t Hash(size_t o) const {
    const uint32_t prefix = (static_cast<uint32_t>(pixels_[o]) << 16) |
                            (static_cast<uint32_t>(pixels_[o + 1]) << 8) | pixels_[o + 2];
    return (prefix * 2654435761u) >> (32 - kHashBits);
  }

  const uint8_t* pixels_;
  size_t size_;
  std::vector<uint64_t> heads_;  // position + 1 of the latest pixel with this hash; 0: none
  std::vector<uint64_t> links_;  // the same for the pixel before, per chain slot
  Match previous_{0, 0};
};

class ChunkWriter {
 public:
  explicit ChunkWriter(std::vector<uint8_t>* out) : out_(out) {}

  // An escape never straddles the end of a chunk: the reader would take it
  // whole and look for the next header two bytes late.
  void Token(const uint8_t* bytes, uint32_t length) {
    if (!open_ || coded_ + length > kLongestChunk) {
      Close();
      headerAt_ = out_->size();
      out_->insert(out_->end(), ChunkHeaderSize, 0);
      StoreU16LE(&(*out_)[headerAt_], ChunkSignature);
      coded_ = 0;
      open_ = true;
    }
    out_->insert(out_->end(), bytes, bytes + length);
    coded_ += length;
  }

  void Close() {
    if (open_) {
      StoreU16LE(&(*out_)[headerAt_ + ChunkCodedLengthOffset], static_cast<uint16_t>(coded_));
    }
    open_ = false;
  }

 private:
  std::vector<uint8_t>* out_;
  size_t headerAt_ = 0;
  uint32_t coded_ = 0;
  bool open_ = false;
};

}  // namespace

void EncodeChunks(const uint8_t* pixels, size_t pixelCount, std::vector<uint8_t>* data) {
  MatchFinder finder(pixels, pixelCount);
  ChunkWriter chunks(data);
  std::vector<Match> matches;
  std::vector<uint32_t> cost;  // bytes needed for the block's pixels from t on
  for (size_t start = 0; start < pixelCount; start += kBlockPixels) {
    const size_t count = std::min(kBlockPixels, pixelCount - start);
    matches.resize(count);
    for (size_t t = 0; t < count; ++t) {
      Match match = finder.Find(start + t);
      // Copies end inside the block, so that the pass below sees all of them.
      if (match.length > count - t) {
        match.length = count - t >= kShortestCopy ? static_cast<uint16_t>(count - t) : 0;
      }
      matches[t] = match;
    }

    cost.assign(count + 1, 0);
    for (size_t t = count; t-- > 0;) {
      const uint32_t literal = 1 + cost[t + 1];
      const Match& match = matches[t];
      if (match.length != 0 && kEscapeLength + cost[t + match.length] <= literal) {
        cost[t] = kEscapeLength + cost[t + match.length];
      } else {
        matches[t].length = 0;
        cost[t] = literal;
      }
    }

    for (size_t t = 0; t < count;) {
      const Match& match = matches[t];
      if (match.length == 0) {
        chunks.Token(&pixels[start + t], 1);
        ++t;
      } else {
        const uint8_t escape[kEscapeLength] = {
            ChunkEscape, match.distance, static_cast<uint8_t>(match.length - kShortestCopy)};
        chunks.Token(escape, kEscapeLength);
        t += match.length;
      }
    }
  }
  chunks.Close();
}
