#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

TEST(LocalMemory, EmptyBlockIsAHandleThatCannotBeLocked) {
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 0);
  ASSERT_NE(block, nullptr);
  SetLastError(0);
  EXPECT_EQ(LocalLock(block), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
  EXPECT_EQ(LocalSize(block), 0u);
  EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemory, LockCountsAndTheLastUnlock) {
  HLOCAL block = LocalAlloc(LHND, 32);
  ASSERT_NE(block, nullptr);
  void* first = LocalLock(block);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(LocalLock(block), first);
  EXPECT_TRUE(LocalUnlock(block));  // still locked once
  SetLastError(ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(LocalUnlock(block));  // released: FALSE without an error
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(LocalUnlock(block));  // not locked at all: an error
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemory, GrowingKeepsTheDataAndZeroesTheAddedBytes) {
  const size_t sizes[][2] = {{0, 100}, {16, 1 << 20}, {4096, 4097}};
  for (const auto& size : sizes) {
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, size[0]);
    ASSERT_NE(block, nullptr);
    if (size[0] != 0) {
      memset(LocalLock(block), 0xA5, size[0]);
      LocalUnlock(block);
    }
    ASSERT_EQ(LocalReAlloc(block, size[1], LMEM_MOVEABLE | LMEM_ZEROINIT), block);
    EXPECT_EQ(LocalSize(block), size[1]);
    const uint8_t* data = static_cast<const uint8_t*>(LocalLock(block));
    ASSERT_NE(data, nullptr);
    size_t wrong = 0;
    for (size_t i = 0; i < size[1]; ++i) wrong += data[i] != (i < size[0] ? 0xA5 : 0);
    EXPECT_EQ(wrong, 0u) << size[0] << " -> " << size[1];
    LocalUnlock(block);
    LocalFree(block);
  }
}

TEST(LocalMemory, FailedGrowthLeavesTheBlockAsItWas) {
  HLOCAL block = LocalAlloc(LHND, 8);
  ASSERT_NE(block, nullptr);
  memcpy(LocalLock(block), "abcdefg", 8);
  // Too large to exist.
  LocalUnlock(block);
  EXPECT_EQ(LocalReAlloc(block, SIZE_MAX - 8, LHND), nullptr);
  // Locked: growing could move the data under its user.
  char* locked = static_cast<char*>(LocalLock(block));
  EXPECT_EQ(LocalReAlloc(block, 1 << 20, LHND), nullptr);
  EXPECT_EQ(LocalSize(block), 8u);
  EXPECT_STREQ(locked, "abcdefg");
  // Shrinking a locked block keeps its address.
  EXPECT_EQ(LocalReAlloc(block, 4, LHND), block);
  EXPECT_EQ(LocalLock(block), locked);
  LocalFree(block);
}

TEST(LocalMemory, RefusesWhatItCannotGive) {
  SetLastError(0);
  EXPECT_EQ(LocalAlloc(LMEM_FIXED, 16), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  for (SIZE_T bytes : {SIZE_MAX, SIZE_MAX / 2 + 1, static_cast<SIZE_T>(PTRDIFF_MAX)}) {
    EXPECT_EQ(LocalAlloc(LHND, bytes), nullptr) << bytes;
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, bytes), nullptr) << bytes;
  }
}

TEST(LocalMemory, UnknownAndFreedHandlesAreRejected) {
  char notABlock[32] = {};
  EXPECT_EQ(LocalLock(notABlock), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(LocalFree(notABlock), notABlock);
  HLOCAL block = LocalAlloc(LHND, 4);
  ASSERT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(block), block);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LocalMemory, ZeroedBlocksAreZeroInReusedMemory) {
  const size_t bytes = size_t{4} << 20;
  for (int round = 0; round < 2; ++round) {
    HLOCAL dirty = LocalAlloc(LMEM_MOVEABLE, bytes);
    ASSERT_NE(dirty, nullptr);
    memset(LocalLock(dirty), 0xFF, bytes);
    LocalFree(dirty);
    HLOCAL block = LocalAlloc(LHND, bytes);
    ASSERT_NE(block, nullptr);
    const uint8_t* data = static_cast<const uint8_t*>(LocalLock(block));
    EXPECT_EQ(std::count(data, data + bytes, 0), static_cast<ptrdiff_t>(bytes)) << round;
    LocalFree(block);
  }
}

TEST(GlobalMemory, FixedBlocks) {
  uint8_t* zeroed = static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 1000));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(zeroed, zeroed + 1000), std::vector<uint8_t>(1000, 0));
  HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(GlobalFree(empty), nullptr);
  EXPECT_EQ(GlobalFree(zeroed), nullptr);
  EXPECT_EQ(GlobalFree(zeroed), zeroed);  // already freed
}

TEST(LocalMemory, BlocksFromManyThreads) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 2000; ++i) {
        HLOCAL block = LocalAlloc(LHND, 16 + i % 64);
        uint8_t* data = static_cast<uint8_t*>(LocalLock(block));
        if (data == nullptr) {
          ++failures[t];
          continue;
        }
        data[0] = static_cast<uint8_t>(t);
        LocalUnlock(block);
        if (LocalReAlloc(block, 200, LHND) != block) ++failures[t];
        if (static_cast<uint8_t*>(LocalLock(block))[0] != t) ++failures[t];
        if (LocalFree(block) != nullptr) ++failures[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
