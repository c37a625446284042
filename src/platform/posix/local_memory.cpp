// Movable local memory and fixed global memory.
//
// A movable block's handle is the address of a small record that holds the
// lock count, the size and the data address; the data is a separate heap
// allocation, so growing a block may move the data while the handle stays.
// Every live record and every fixed block is kept in a set, so that a handle
// that was never handed out, or was already freed, is answered with
// ERROR_INVALID_HANDLE instead of corrupting the heap. The library is shared
// by the plug-ins and the host, so a block allocated in one is locked and
// freed by the other through the same sets.
#include <stdlib.h>
#include <string.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_set>

#include "winsvc_internal.h"

namespace {

constexpr uint32_t kBlockMagic = 0x4B4C4D4Du;
constexpr uint32_t kFreedMagic = 0x46524545u;
// Windows answers larger requests with a failure; so do we, long before any
// size arithmetic could wrap.
constexpr SIZE_T kLargestBlock = PTRDIFF_MAX / 2;
constexpr UINT kLocalModify = 0x80u;
constexpr UINT kGlobalMoveable = 0x2u;

struct MovableBlock {
  uint32_t magic;
  uint32_t lockCount;
  SIZE_T size;
  void* data;  // null exactly when size is 0
};

std::mutex localMutex;
std::unordered_set<MovableBlock*> liveBlocks;

std::mutex globalMutex;
std::unordered_set<void*> liveGlobals;

// The live record behind a handle, or null after setting the error.
// Called with localMutex held.
MovableBlock* FindBlock(HLOCAL handle) {
  MovableBlock* block = static_cast<MovableBlock*>(handle);
  if (block == nullptr || liveBlocks.count(block) == 0 || block->magic != kBlockMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return block;
}

void* AllocateData(SIZE_T bytes, bool zeroed) { return zeroed ? calloc(1, bytes) : malloc(bytes); }

}  // namespace

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & LMEM_MOVEABLE) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > kLargestBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  MovableBlock* block = new (std::nothrow) MovableBlock{kBlockMagic, 0, bytes, nullptr};
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bytes != 0) {
    block->data = AllocateData(bytes, (flags & LMEM_ZEROINIT) != 0);
    if (block->data == nullptr) {
      delete block;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  try {
    std::lock_guard<std::mutex> hold(localMutex);
    liveBlocks.insert(block);
  } catch (const std::bad_alloc&) {
    free(block->data);
    delete block;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return block;
}

HLOCAL WINAPI LocalReAlloc(HLOCAL handle, SIZE_T bytes, UINT flags) {
  std::lock_guard<std::mutex> hold(localMutex);
  MovableBlock* block = FindBlock(handle);
  if (block == nullptr) return nullptr;
  if ((flags & kLocalModify) != 0) return handle;  // only attributes change
  if (bytes > kLargestBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (bytes == block->size) return handle;
  if (bytes == 0) {
    // Discarding a locked block would pull the data from under its user.
    if (block->lockCount != 0) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    free(block->data);
    block->data = nullptr;
    block->size = 0;
    return handle;
  }
  if (bytes < block->size) {
    // A locked block keeps its address; the spare tail is simply not counted.
    if (block->lockCount == 0) {
      void* smaller = realloc(block->data, bytes);
      if (smaller != nullptr) block->data = smaller;
    }
    block->size = bytes;
    return handle;
  }
  // Growing may move the data, which a locked block's user would not see.
  if (block->lockCount != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const bool zeroed = (flags & LMEM_ZEROINIT) != 0;
  if (block->data == nullptr) {
    block->data = AllocateData(bytes, zeroed);
    if (block->data == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  } else {
    void* larger = realloc(block->data, bytes);
    if (larger == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    block->data = larger;
    if (zeroed) memset(static_cast<char*>(larger) + block->size, 0, bytes - block->size);
  }
  block->size = bytes;
  return handle;
}

LPVOID WINAPI LocalLock(HLOCAL handle) {
  std::lock_guard<std::mutex> hold(localMutex);
  MovableBlock* block = FindBlock(handle);
  if (block == nullptr) return nullptr;
  if (block->data == nullptr) {
    SetLastError(ERROR_DISCARDED);
    return nullptr;
  }
  if (block->lockCount != UINT32_MAX) ++block->lockCount;
  return block->data;
}

BOOL WINAPI LocalUnlock(HLOCAL handle) {
  std::lock_guard<std::mutex> hold(localMutex);
  MovableBlock* block = FindBlock(handle);
  if (block == nullptr) return FALSE;
  if (block->lockCount == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  --block->lockCount;
  if (block->lockCount == 0) {
    // FALSE with no error: the last lock was released, which callers tell
    // apart from a failure by the last error.
    SetLastError(ERROR_SUCCESS);
    return FALSE;
  }
  return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL handle) {
  if (handle == nullptr) return nullptr;
  MovableBlock* block;
  {
    std::lock_guard<std::mutex> hold(localMutex);
    block = FindBlock(handle);
    if (block == nullptr) return handle;
    liveBlocks.erase(block);
    block->magic = kFreedMagic;
  }
  free(block->data);
  delete block;
  return nullptr;
}

SIZE_T WINAPI LocalSize(HLOCAL handle) {
  std::lock_guard<std::mutex> hold(localMutex);
  MovableBlock* block = FindBlock(handle);
  return block == nullptr ? 0 : block->size;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
  if ((flags & kGlobalMoveable) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (bytes > kLargestBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // A 0-byte block is still a distinct, freeable address.
  void* data = AllocateData(bytes == 0 ? 1 : bytes, (flags & GMEM_ZEROINIT) != 0);
  if (data == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> hold(globalMutex);
    liveGlobals.insert(data);
  } catch (const std::bad_alloc&) {
    free(data);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return data;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
  if (block == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> hold(globalMutex);
    if (liveGlobals.erase(block) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return block;
    }
  }
  free(block);
  return nullptr;
}

}  // extern "C"
