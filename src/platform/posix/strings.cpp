// The ANSI string functions and the code page they work in. The copies test
// the memory they are about to touch, as the Windows ones do under structured
// exception handling, but answer before writing anything rather than after a
// partial write.
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "winsvc_internal.h"

namespace {

constexpr UINT kDefaultCodePage = 1252;
std::atomic<UINT> ansiCodePage{kDefaultCodePage};

BYTE FoldAsciiCase(BYTE c) { return (c >= 'A' && c <= 'Z') ? static_cast<BYTE>(c + ('a' - 'A')) : c; }

int Sign(int difference) { return difference < 0 ? -1 : (difference > 0 ? 1 : 0); }

// Null sorts before every string, as Windows orders it.
bool CompareNulls(LPCSTR a, LPCSTR b, int* result) {
  if (a != nullptr && b != nullptr) return false;
  *result = (a == b) ? 0 : (a == nullptr ? -1 : 1);
  return true;
}

size_t PageSize() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

namespace winsvc {

bool IsLeadByteOf(UINT codePage, BYTE byte) {
  switch (codePage) {
    case 932:
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
      return byte >= 0x81 && byte <= 0xFE;
    default:
      return false;
  }
}

size_t ProbedStringLength(const char* address, size_t limit, bool* readable) {
  *readable = true;
  size_t length = 0;
  while (length < limit) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(address) + length;
    size_t chunk = PageSize() - (at % PageSize());
    if (chunk > limit - length) chunk = limit - length;
    if (IsBadReadPtr(address + length, chunk)) {
      *readable = false;
      return length;
    }
    const void* zero = memchr(address + length, 0, chunk);
    if (zero != nullptr) return static_cast<size_t>(static_cast<const char*>(zero) - address);
    length += chunk;
  }
  return length;
}

}  // namespace winsvc

extern "C" {

void WinsvcSetAnsiCodePage(UINT codePage) { ansiCodePage.store(codePage); }

UINT WINAPI GetACP(void) { return ansiCodePage.load(); }

BOOL WINAPI IsDBCSLeadByte(BYTE byte) { return winsvc::IsLeadByteOf(GetACP(), byte) ? TRUE : FALSE; }

LPSTR WINAPI lstrcpynA(LPSTR destination, LPCSTR source, int maxLength) {
  if (maxLength == 0) return destination;
  if (maxLength < 0 || destination == nullptr || source == nullptr) return nullptr;
  bool readable = false;
  const size_t length =
      winsvc::ProbedStringLength(source, static_cast<size_t>(maxLength) - 1, &readable);
  if (!readable || IsBadWritePtr(destination, length + 1)) return nullptr;
  memmove(destination, source, length);
  destination[length] = '\0';
  return destination;
}

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  bool readable = false;
  const size_t length = winsvc::ProbedStringLength(source, SIZE_MAX, &readable);
  if (!readable || IsBadWritePtr(destination, length + 1)) return nullptr;
  memmove(destination, source, length + 1);
  return destination;
}

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  bool readable = false;
  const size_t start = winsvc::ProbedStringLength(destination, SIZE_MAX, &readable);
  if (!readable) return nullptr;
  const size_t length = winsvc::ProbedStringLength(source, SIZE_MAX, &readable);
  if (!readable || IsBadWritePtr(destination + start, length + 1)) return nullptr;
  memmove(destination + start, source, length + 1);
  return destination;
}

int WINAPI lstrlenA(LPCSTR s) {
  if (s == nullptr) return 0;
  bool readable = false;
  const size_t length = winsvc::ProbedStringLength(s, INT32_MAX, &readable);
  return readable ? static_cast<int>(length) : 0;
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  int result = 0;
  if (CompareNulls(a, b, &result)) return result;
  return Sign(strcmp(a, b));
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  int result = 0;
  if (CompareNulls(a, b, &result)) return result;
  const UINT codePage = GetACP();
  const BYTE* x = reinterpret_cast<const BYTE*>(a);
  const BYTE* y = reinterpret_cast<const BYTE*>(b);
  for (;;) {
    const BYTE cx = FoldAsciiCase(*x);
    const BYTE cy = FoldAsciiCase(*y);
    if (cx != cy) return Sign(static_cast<int>(cx) - static_cast<int>(cy));
    if (cx == 0) return 0;
    // Equal lead bytes: the second bytes are parts of characters, not
    // letters, and must match exactly (0x83 0x41 and 0x83 0x61 differ).
    if (winsvc::IsLeadByteOf(codePage, *x) && x[1] != 0 && y[1] != 0) {
      if (x[1] != y[1]) return Sign(static_cast<int>(x[1]) - static_cast<int>(y[1]));
      x += 2;
      y += 2;
      continue;
    }
    ++x;
    ++y;
  }
}

}  // extern "C"
