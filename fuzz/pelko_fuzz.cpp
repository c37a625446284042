// Drives the image plug-in's exports on memory input, as a host would:
// IsSupported on the input's address, GetPictureInfo, and GetPicture with a
// progress callback that checks what it is told and, for some inputs, asks to
// stop. The blocks handed over are read whole and freed with LocalFree.
//
// With memory input only the platform's read-access test bounds the reads
// (the block's size is not read, as hosts rely on), so the input ends right
// before a region that cannot be read and is wider than any offset a header
// can name: every data block a header points at starts either in the input
// or in that region, and a read that escapes the access test faults at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame/host_interface.h"
#include "image/picture_info.h"

extern "C" {
int32_t WINAPI IsSupported(LPCSTR filePath, UINT_PTR headerSource);
ResultCode WINAPI GetPictureInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                 PictureInfo* pictureInfo);
ResultCode WINAPI GetPicture(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                             HLOCAL* bitmapInfoOut, HLOCAL* bitsOut, ProgressCallback progress,
                             intptr_t userData);
}

namespace {

constexpr uint32_t kMemoryInput = 1;
// Header, the largest palette and the most extra bytes: the furthest a data
// block can start from the first byte.
constexpr size_t kFurthestDataStart = 26 + 3 * 65535 + 65535;

class GuardedInput {
 public:
  GuardedInput(const uint8_t* data, size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (size + page - 1) / page;
    const size_t guardPages = (kFurthestDataStart + page - 1) / page + 1;
    length_ = (dataPages + guardPages) * page;
    void* mapped = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) std::abort();
    base_ = static_cast<uint8_t*>(mapped);
    mprotect(base_ + dataPages * page, guardPages * page, PROT_NONE);
    start_ = base_ + dataPages * page - size;
    if (size > 0) std::memcpy(start_, data, size);
  }
  ~GuardedInput() { munmap(base_, length_); }
  GuardedInput(const GuardedInput&) = delete;
  GuardedInput& operator=(const GuardedInput&) = delete;
  uint8_t* data() const { return start_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* start_ = nullptr;
  size_t length_ = 0;
};
// Pictures up to this many pixels are decoded; larger ones only repeat the
// same paths at a cost in memory and time that the fuzzer cannot afford.
constexpr uint64_t kMaxPixels = 1 << 16;

struct ProgressCheck {
  int calls = 0;
  int stopAt = -1;  // the call to answer nonzero, or -1
  int32_t lastPosition = 0;
  int32_t total = 0;
};

// The first call is (0, 1); then decoder positions, never going back and
// always below their total, which never changes; then (1, 1).
int32_t WINAPI CheckProgress(int32_t position, int32_t total, intptr_t userData) {
  ProgressCheck* check = reinterpret_cast<ProgressCheck*>(userData);
  const int call = check->calls++;
  if (call == 0) {
    if (position != 0 || total != 1) std::abort();
  } else if (!(position == 1 && total == 1)) {
    if (call > 1 && (total != check->total || position < check->lastPosition)) std::abort();
    if (position < 0 || position >= total) std::abort();
    check->total = total;
    check->lastPosition = position;
  }
  return call == check->stopAt ? 1 : 0;
}

// Reads every byte of a block handed over, so that the sanitizers see any
// byte that was never written, and frees it as the host does.
void TakeBlock(HLOCAL block, SIZE_T expectedSize) {
  if (block == nullptr || LocalSize(block) != expectedSize) std::abort();
  const volatile uint8_t* bytes = static_cast<const uint8_t*>(LocalLock(block));
  if (bytes == nullptr) std::abort();
  uint8_t sum = 0;
  for (SIZE_T i = 0; i < expectedSize; ++i) sum ^= bytes[i];
  (void)sum;
  LocalUnlock(block);
  if (LocalFree(block) != nullptr) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GuardedInput input(data, size);
  const LPCSTR source = reinterpret_cast<LPCSTR>(input.data());
  IsSupported(nullptr, reinterpret_cast<UINT_PTR>(input.data()));

  PictureInfo info;
  if (GetPictureInfo(source, static_cast<intptr_t>(size), kMemoryInput, &info) != ResultOk) return 0;
  if (info.colorDepth != 8 || info.width < 0 || info.height < 0) std::abort();
  if (static_cast<uint64_t>(info.width) * static_cast<uint64_t>(info.height) > kMaxPixels) return 0;

  ProgressCheck check;
  // One input in eight is cancelled at one of its first progress calls.
  if (size > 0 && data[size - 1] % 8 == 0) check.stopAt = data[size - 1] / 8 % 4;
  HLOCAL header = nullptr;
  HLOCAL bits = nullptr;
  const ResultCode result = GetPicture(source, static_cast<intptr_t>(size), kMemoryInput, &header,
                                       &bits, CheckProgress, reinterpret_cast<intptr_t>(&check));
  if (result != ResultOk) {
    if (check.calls > 0 && check.calls - 1 == check.stopAt && result != ResultCancelled) std::abort();
    if (header != nullptr || bits != nullptr) std::abort();
    return 0;
  }
  const SIZE_T stride = (static_cast<SIZE_T>(info.width) + 3) & ~static_cast<SIZE_T>(3);
  TakeBlock(header, 40 + 4 * 256);
  TakeBlock(bits, stride * static_cast<SIZE_T>(info.height));
  return 0;
}
