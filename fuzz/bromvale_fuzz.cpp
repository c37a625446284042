// Drives the archive plug-in's exports on memory input, as a host would:
// IsSupported on the input's address, GetArchiveInfo, GetFileInfo, and
// GetFile to memory for every listed record.
//
// With memory input only the platform's read-access test bounds the reads,
// so the input is placed in a mapping of its own, its last byte right before
// a page that cannot be read and with another such page in front: what lies
// between the first page boundary and the input is zero, readable, and the
// same for every run. A read that escapes the access test faults at once.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/archive_entry_info.h"
#include "frame/host_interface.h"

extern "C" {
int32_t WINAPI IsSupported(LPCSTR filePath, UINT_PTR headerSource);
ResultCode WINAPI GetArchiveInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                 HLOCAL* entryListOut);
ResultCode WINAPI GetFileInfo(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName,
                              uint32_t flag, ArchiveEntryInfo* entryInfo);
ResultCode WINAPI GetFile(LPCSTR source, intptr_t offsetOrSize, LPSTR destination, uint32_t flag,
                          ProgressCallback progress, intptr_t userData);
}

namespace {

constexpr uint32_t kMemoryInput = 1;
constexpr uint32_t kToMemory = 0x100;
// Enough records to reach every path of the extraction; more only repeat it.
constexpr size_t kMaxExtractions = 64;

class GuardedInput {
 public:
  GuardedInput(const uint8_t* data, size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (size + page - 1) / page;
    length_ = (dataPages + 2) * page;
    void* mapped = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(mapped);
    mprotect(base_, page, PROT_NONE);
    mprotect(base_ + (dataPages + 1) * page, page, PROT_NONE);
    start_ = base_ + (dataPages + 1) * page - size;
    if (size > 0) std::memcpy(start_, data, size);
  }
  ~GuardedInput() {
    if (base_ != nullptr) munmap(base_, length_);
  }
  uint8_t* start() const { return start_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* start_ = nullptr;
  size_t length_ = 0;
};

// Stops the copy at the call that userData names.
int32_t WINAPI StopAtCall(int32_t, int32_t, intptr_t userData) {
  int32_t* remaining = reinterpret_cast<int32_t*>(userData);
  return --*remaining == 0 ? 1 : 0;
}

void FreeBlock(HLOCAL block) {
  if (block != nullptr) LocalFree(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GuardedInput input(data, size);
  uint8_t* pack = input.start();
  if (pack == nullptr) return 0;
  const LPCSTR source = reinterpret_cast<LPCSTR>(pack);

  IsSupported(nullptr, reinterpret_cast<UINT_PTR>(pack));

  HLOCAL list = nullptr;
  if (GetArchiveInfo(source, 0, kMemoryInput, &list) == ResultOk) {
    const size_t capacity = LocalSize(list) / sizeof(ArchiveEntryInfo);
    const auto* records = static_cast<const ArchiveEntryInfo*>(LocalLock(list));
    for (size_t i = 0; i < capacity && i < kMaxExtractions && records[i].method[0] != 0; ++i) {
      const uint32_t position = records[i].position;
      if (position >= size) continue;
      HLOCAL block = nullptr;
      GetFile(source + position, static_cast<intptr_t>(size - position),
              reinterpret_cast<LPSTR>(&block), kMemoryInput | kToMemory, nullptr, 0);
      FreeBlock(block);
      if (i == 0) {
        // The first record once more, stopped part-way by the host.
        int32_t remaining = 2 + static_cast<int32_t>(size % 3);
        block = nullptr;
        GetFile(source + position, static_cast<intptr_t>(size - position),
                reinterpret_cast<LPSTR>(&block), kMemoryInput | kToMemory, StopAtCall,
                reinterpret_cast<intptr_t>(&remaining));
        FreeBlock(block);

        ArchiveEntryInfo found;
        GetFileInfo(source, 0, records[i].fileName, kMemoryInput | 0x80, &found);
      }
    }
    LocalUnlock(list);
    FreeBlock(list);
  }

  ArchiveEntryInfo found;
  GetFileInfo(source, 0, "README.TXT", kMemoryInput, &found);

  // Records need not be where a listing says: the walk back from any
  // address must stay within what can be read.
  if (size > 0) {
    const size_t at = data[size - 1] % size;
    HLOCAL block = nullptr;
    GetFile(source + at, static_cast<intptr_t>(size - at), reinterpret_cast<LPSTR>(&block),
            kMemoryInput | kToMemory, nullptr, 0);
    FreeBlock(block);
  }
  return 0;
}
