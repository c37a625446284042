// Bit-stream encoding of KZX pixels.
//
// What the reader does, and so what every choice here must respect:
// - a token is an 8-bit literal and then, unless the picture is full, a flag:
//   1 ends the token, 0 opens a run of copy commands;
// - a command is an index code (one of fourteen neighbours) and a count code;
//   a run ends with the previous command's index code repeated, so two
//   commands in a row never share an index, and the copy that fills the
//   picture is followed by nothing;
// - a copy never starts before pixel 0 nor runs past the last pixel, and a
//   neighbour whose distance is 0 or negative (narrow pictures) is never used;
// - between groups of tokens the reader stops once the word that holds its
//   next bit is the last word of the block, even with bits left in it, so the
//   block ends with one more zero word than the bits need.
//
// How copies are chosen: per block of pixels, a shortest path in bits. A node
// is (pixels coded, state); the state is "after a literal" or "inside a run
// whose last command used index i", because a literal there first pays i's
// end marker, and i cannot be the next command. Edges are literals and copies;
// how far each neighbour matches comes from run lengths computed backwards.
// Copies of kTakeAtOnce pixels or more are taken without searching the pixels
// they cover, which keeps flat areas linear.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "image/kzx_layout.h"
#include "writers/kzx_pixel_encoders.h"

namespace {

constexpr int kIndexCount = BitStreamDistanceCount;
// States 0 to 13: inside a run, last index; this one: after a literal.
constexpr int kAfterLiteral = kIndexCount;
constexpr int kStateCount = kIndexCount + 1;
constexpr int kNothingPending = -1;

constexpr uint32_t kLiteralBits = 8;
constexpr uint32_t kFlagBits = 1;
// The reader's table of count-code base values ends at 22 one-bits.
constexpr uint32_t kMaxCountValue = (1u << 23) - 2;

// Pixels per shortest-path block: bounds the search's memory (about 200
// bytes a pixel) and keeps every copy far below the longest count code.
constexpr uint32_t kBlockPixels = 1u << 16;
static_assert(kBlockPixels <= kMaxCountValue, "a copy within a block must fit one count code");

constexpr uint32_t kTakeAtOnce = 128;
// Copy lengths tried from each node: all up to this, and beyond it only the
// longest of each count-code size and the whole match.
constexpr uint32_t kAllLengthsUpTo = 32;

constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();

uint32_t FloorLog2(uint32_t v) {
  uint32_t k = 0;
  while (v >>= 1) ++k;
  return k;
}

uint32_t MinimumCopyLength(int index) { return index < 2 ? 1 : 2; }

struct Code {
  uint64_t value;
  uint32_t bits;
};

// 0 b | 1 0 xx | 1 1 xxx
Code IndexCode(int index) {
  if (index < 2) return {static_cast<uint64_t>(index), 2};
  if (index < 6) return {0x8u + static_cast<uint64_t>(index - 2), 4};
  return {0x18u + static_cast<uint64_t>(index - 6), 5};
}

// k one-bits, a zero, then k bits of v - (2^k - 1).
Code CountCode(uint32_t v) {
  const uint32_t k = FloorLog2(v + 1);
  const uint64_t base = (uint64_t{1} << k) - 1;
  return {(base << (k + 1)) | (v - base), 2 * k + 1};
}

uint32_t CopyBits(int index, uint32_t length) {
  return IndexCode(index).bits + CountCode(length - MinimumCopyLength(index)).bits;
}

using DistanceTable = std::array<int64_t, kIndexCount>;

DistanceTable MakeDistanceTable(uint32_t width) {
  const int64_t w = width;
  return {1, w, 2, w + 1, w - 1, 2 * w, w + 2, w - 2, 2 * w + 2, 2 * w + 1, 2 * w - 1, 2 * w - 2,
          3 * w, 3 * w + 1};
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}

  // Fields go most significant bit first; the stream fills each byte from
  // bit 0 up.
  void Put(Code code) {
    for (uint32_t i = code.bits; i-- > 0;) {
      pending_ |= static_cast<uint8_t>(((code.value >> i) & 1u) << pendingBits_);
      if (++pendingBits_ == 8) {
        out_->push_back(pending_);
        pending_ = 0;
        pendingBits_ = 0;
      }
    }
    bitCount_ += code.bits;
  }

  void Flush() {
    if (pendingBits_ != 0) out_->push_back(pending_);
    pending_ = 0;
    pendingBits_ = 0;
  }

  uint64_t bitCount() const { return bitCount_; }

 private:
  std::vector<uint8_t>* out_;
  uint8_t pending_ = 0;
  uint32_t pendingBits_ = 0;
  uint64_t bitCount_ = 0;
};

// Turns literals and copies into tokens: writes the flag or end marker that
// the step before needs once the next step is known.
class TokenWriter {
 public:
  TokenWriter(BitWriter* bits, const uint8_t* pixels, uint64_t size)
      : bits_(bits), pixels_(pixels), size_(size) {}

  void Literal() {
    if (pending_ == kAfterLiteral) {
      bits_->Put({1, kFlagBits});  // the token ends without a run
    } else if (pending_ != kNothingPending) {
      bits_->Put(IndexCode(pending_));  // end marker of the run
    }
    bits_->Put({pixels_[written_], kLiteralBits});
    ++written_;
    pending_ = written_ < size_ ? kAfterLiteral : kNothingPending;
  }

  void Copy(int index, uint32_t length) {
    if (pending_ == kAfterLiteral) bits_->Put({0, kFlagBits});  // a run follows
    bits_->Put(IndexCode(index));
    bits_->Put(CountCode(length - MinimumCopyLength(index)));
    written_ += length;
    pending_ = written_ < size_ ? index : kNothingPending;
  }

 private:
  BitWriter* bits_;
  const uint8_t* pixels_;
  uint64_t size_;
  uint64_t written_ = 0;
  int pending_ = kNothingPending;
};

struct Step {
  int state;  // kAfterLiteral for a literal, else the copy's index
  uint32_t length;
};

// Reused from block to block. Node (t, s) of a block lives at t * kStateCount + s.
struct Search {
  std::vector<uint32_t> matchRuns;  // t * kIndexCount + index: pixels that match from t on
  std::vector<uint32_t> cost;
  std::vector<uint32_t> stepLength;
  std::vector<uint8_t> fromState;
  std::vector<Step> steps;

  void Relax(uint32_t t, int state, uint32_t bits, uint32_t length, int from) {
    const size_t node = static_cast<size_t>(t) * kStateCount + state;
    if (bits < cost[node]) {
      cost[node] = bits;
      stepLength[node] = length;
      fromState[node] = static_cast<uint8_t>(from);
    }
  }
};

// Finds the cheapest steps for pixels [start, start + count), entered in
// startState; answers them in search->steps and the state they end in.
int SearchBlock(const uint8_t* pixels, uint64_t size, uint64_t start, uint32_t count,
                const DistanceTable& distances, int startState, Search* search) {
  std::vector<uint32_t>& runs = search->matchRuns;
  runs.assign((static_cast<size_t>(count) + 1) * kIndexCount, 0);
  for (uint32_t t = count; t-- > 0;) {
    const uint64_t o = start + t;
    for (int j = 0; j < kIndexCount; ++j) {
      const int64_t d = distances[j];
      const bool matches = d >= 1 && static_cast<uint64_t>(d) <= o && pixels[o] == pixels[o - d];
      runs[static_cast<size_t>(t) * kIndexCount + j] =
          matches ? runs[(static_cast<size_t>(t) + 1) * kIndexCount + j] + 1 : 0;
    }
  }

  const size_t nodes = (static_cast<size_t>(count) + 1) * kStateCount;
  search->cost.assign(nodes, kUnreached);
  search->stepLength.resize(nodes);
  search->fromState.resize(nodes);
  search->cost[startState] = 0;

  uint32_t skipUntil = 0;
  for (uint32_t t = 0; t < count; ++t) {
    if (t < skipUntil) continue;
    const uint32_t* c = &search->cost[static_cast<size_t>(t) * kStateCount];
    uint32_t best = kUnreached, second = kUnreached;
    int bestState = -1, secondState = -1;
    for (int s = 0; s < kStateCount; ++s) {
      if (c[s] < best) {
        second = best;
        secondState = bestState;
        best = c[s];
        bestState = s;
      } else if (c[s] < second) {
        second = c[s];
        secondState = s;
      }
    }
    if (best == kUnreached) continue;
    const uint64_t o = start + t;

    const uint32_t literalBits = kLiteralBits + (o + 1 < size ? kFlagBits : 0);
    for (int s = 0; s < kStateCount; ++s) {
      if (c[s] == kUnreached) continue;
      const uint32_t endMarker = s == kAfterLiteral ? 0 : IndexCode(s).bits;
      search->Relax(t + 1, kAfterLiteral, c[s] + endMarker + literalBits, 1, s);
    }

    // A run cannot go on with the index it just used.
    auto costBefore = [&](int index) { return bestState == index ? second : best; };
    auto stateBefore = [&](int index) { return bestState == index ? secondState : bestState; };
    const uint32_t* run = &runs[static_cast<size_t>(t) * kIndexCount];
    uint32_t longest = 0;
    for (int j = 0; j < kIndexCount; ++j) {
      if (costBefore(j) != kUnreached) longest = std::max(longest, run[j]);
    }
    for (int j = 0; j < kIndexCount; ++j) {
      const uint32_t match = run[j];
      const uint32_t shortest = MinimumCopyLength(j);
      const uint32_t from = costBefore(j);
      if (match < shortest || from == kUnreached) continue;
      if (longest >= kTakeAtOnce) {
        if (match == longest) {
          search->Relax(t + match, j, from + CopyBits(j, match), match, stateBefore(j));
        }
        continue;
      }
      const uint32_t allUpTo = std::min(match, kAllLengthsUpTo);
      for (uint32_t length = shortest; length <= allUpTo; ++length) {
        search->Relax(t + length, j, from + CopyBits(j, length), length, stateBefore(j));
      }
      if (match > kAllLengthsUpTo) {
        // The longest length of each count-code size: v = 2^(k+1) - 2.
        for (uint32_t k = 1; k < 23; ++k) {
          const uint32_t length = ((1u << (k + 1)) - 2) + shortest;
          if (length >= match) break;
          if (length > kAllLengthsUpTo) {
            search->Relax(t + length, j, from + CopyBits(j, length), length, stateBefore(j));
          }
        }
        search->Relax(t + match, j, from + CopyBits(j, match), match, stateBefore(j));
      }
    }
    if (longest >= kTakeAtOnce) skipUntil = t + longest;
  }

  const uint32_t* last = &search->cost[static_cast<size_t>(count) * kStateCount];
  const int endState = static_cast<int>(std::min_element(last, last + kStateCount) - last);

  search->steps.clear();
  uint32_t t = count;
  int state = endState;
  while (t > 0) {
    const size_t node = static_cast<size_t>(t) * kStateCount + state;
    search->steps.push_back({state, search->stepLength[node]});
    t -= search->stepLength[node];
    state = search->fromState[node];
  }
  std::reverse(search->steps.begin(), search->steps.end());
  return endState;
}

}  // namespace

void EncodeBitStream(const uint8_t* pixels, uint32_t width, uint32_t height,
                     std::vector<uint8_t>* data) {
  const uint64_t size = static_cast<uint64_t>(width) * height;
  const size_t blockStart = data->size();
  const DistanceTable distances = MakeDistanceTable(width);

  BitWriter bits(data);
  TokenWriter tokens(&bits, pixels, size);
  Search search;
  int state = kAfterLiteral;
  for (uint64_t start = 0; start < size; start += kBlockPixels) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kBlockPixels, size - start));
    state = SearchBlock(pixels, size, start, count, distances, state, &search);
    for (const Step& step : search.steps) {
      if (step.state == kAfterLiteral) {
        tokens.Literal();
      } else {
        tokens.Copy(step.state, step.length);
      }
    }
  }
  bits.Flush();

  // Whole words for every coded bit, then one zero word: at every group
  // boundary before the last pixel fewer bits than all have been read, so the
  // reader's position, 4 * (bitsRead / 32 + 1), stays below this length.
  const uint64_t words = (bits.bitCount() + 31) / 32;
  data->resize(blockStart + static_cast<size_t>(4 * words + 4), 0);
}
