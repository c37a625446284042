// Access tests that ask the kernel instead of touching the memory: a byte of
// every page in the range is copied through the process-memory calls on our
// own process, which fail cleanly on unmapped, no-access and (for writes)
// read-only pages where a plain access would fault.
//
// Why it is fast: one byte per page, and up to kBatch pages per system call,
// so 256 MiB costs 64 calls (twice that for the write test).
//
// The write test reads a batch of probed bytes and writes the same values
// back, as the Windows probe does page by page. A write by another thread to
// one of those bytes between the two calls would be undone; probing memory
// that another thread is writing is a race on Windows as well. (Copying each
// byte onto itself in one call would close that window, but costs five times
// as much on memory not touched before, which is what callers probe most.)

#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>

#include "winsvc_internal.h"

namespace {

constexpr size_t kBatch = 1024;

enum class Probe { kRead, kWrite };
enum class Answer { kAccessible, kBad, kUnavailable };

size_t PageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

// One byte of each page from `first` (an address) through the page holding
// `last`: the kernel's answer for the whole run.
Answer ProbeWithProcessCalls(Probe probe, uintptr_t first, uintptr_t last) {
  const pid_t self = getpid();
  const uintptr_t pageMask = ~static_cast<uintptr_t>(PageSize() - 1);
  const uintptr_t lastPage = last & pageMask;
  uintptr_t at = first;
  unsigned char scratch[kBatch];
  struct iovec remote[kBatch];
  struct iovec local;
  for (;;) {
    size_t count = 0;
    bool more = true;
    while (count < kBatch) {
      remote[count].iov_base = reinterpret_cast<void*>(at);
      remote[count].iov_len = 1;
      ++count;
      const uintptr_t page = at & pageMask;
      if (page == lastPage) {
        more = false;
        break;
      }
      at = page + PageSize();
    }
    local.iov_base = scratch;
    local.iov_len = count;
    ssize_t done = process_vm_readv(self, &local, 1, remote, count, 0);
    if (probe == Probe::kWrite && done == static_cast<ssize_t>(count)) {
      done = process_vm_writev(self, &local, 1, remote, count, 0);
    }
    if (done < 0 && (errno == ENOSYS || errno == EPERM)) return Answer::kUnavailable;
    if (done != static_cast<ssize_t>(count)) return Answer::kBad;
    if (!more) return Answer::kAccessible;
  }
}

// For systems that forbid the process-memory calls: a pipe reads the byte
// (write fails with EFAULT) and, for the write test, puts it back.
Answer ProbeWithPipe(Probe probe, uintptr_t first, uintptr_t last) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return Answer::kBad;
  const uintptr_t pageMask = ~static_cast<uintptr_t>(PageSize() - 1);
  const uintptr_t lastPage = last & pageMask;
  Answer answer = Answer::kAccessible;
  for (uintptr_t at = first;;) {
    char* byte = reinterpret_cast<char*>(at);
    if (write(ends[1], byte, 1) != 1) {
      answer = Answer::kBad;
      break;
    }
    char* target = (probe == Probe::kWrite) ? byte : nullptr;
    char sink;
    if (read(ends[0], target != nullptr ? target : &sink, 1) != 1) {
      answer = Answer::kBad;
      char drain;
      (void)!read(ends[0], &drain, 1);
      break;
    }
    const uintptr_t page = at & pageMask;
    if (page == lastPage) break;
    at = page + PageSize();
  }
  close(ends[0]);
  close(ends[1]);
  return answer;
}

BOOL IsBadRange(Probe probe, const void* address, UINT_PTR bytes) {
  if (bytes == 0) return FALSE;
  if (address == nullptr) return TRUE;
  const uintptr_t first = reinterpret_cast<uintptr_t>(address);
  const uintptr_t last = first + (bytes - 1);
  if (last < first) return TRUE;
  Answer answer = ProbeWithProcessCalls(probe, first, last);
  if (answer == Answer::kUnavailable) answer = ProbeWithPipe(probe, first, last);
  return answer == Answer::kAccessible ? FALSE : TRUE;
}

}  // namespace

extern "C" BOOL WINAPI IsBadReadPtr(LPCVOID address, UINT_PTR bytes) {
  return IsBadRange(Probe::kRead, address, bytes);
}

extern "C" BOOL WINAPI IsBadWritePtr(LPVOID address, UINT_PTR bytes) {
  return IsBadRange(Probe::kWrite, address, bytes);
}
