#include "support/guarded_buffer.h"

#include <cstring>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {
size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}
}  // namespace

GuardedBuffer::GuardedBuffer(const std::vector<uint8_t>& bytes)
    : GuardedBuffer(bytes.data(), bytes.size()) {}

GuardedBuffer::GuardedBuffer(const uint8_t* bytes, size_t size) : size_(size) {
  const size_t page = PageSize();
  const size_t dataPages = (size + page - 1) / page;
  mapped_ = (dataPages + 1) * page;
#ifdef _WIN32
  base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, mapped_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (base_ == nullptr) throw std::runtime_error("VirtualAlloc failed");
  DWORD old;
  VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
#else
  void* p = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
  base_ = static_cast<uint8_t*>(p);
  mprotect(base_ + dataPages * page, page, PROT_NONE);
#endif
  data_ = base_ + dataPages * page - size;
  if (size > 0) std::memcpy(data_, bytes, size);
}

GuardedBuffer::~GuardedBuffer() {
#ifdef _WIN32
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, mapped_);
#endif
}
