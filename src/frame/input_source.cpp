#include "frame/input_source.h"

#include <cstring>

bool IsReadable(const InputBounds& bounds, const void* p, uint64_t n) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(p);
  if (bounds.Known()) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(bounds.first);
    const uintptr_t end = reinterpret_cast<uintptr_t>(bounds.end);
    if (start < first || start > end || n > end - start) return false;
  }
  if (n == 0) return true;
  if (n > UINTPTR_MAX - start) return false;
  return !IsBadReadPtr(p, static_cast<UINT_PTR>(n));
}

uint8_t* MappedFile::Open(LPCSTR path, uint32_t requestedSize) {
  const bool writing = requestedSize > 0;
  file = CreateFileA(path, writing ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                     writing ? 0 : FILE_SHARE_READ, nullptr, writing ? CREATE_ALWAYS : OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;

  if (writing) {
    size = requestedSize;
  } else {
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    // Views are addressed with 32-bit sizes, as in the product.
    if ((low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) || high != 0) {
      CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
      return nullptr;
    }
    size = low;
  }

  mapping = CreateFileMappingA(file, nullptr, writing ? PAGE_READWRITE : PAGE_READONLY, 0,
                               writing ? requestedSize : 0, nullptr);
  if (mapping == nullptr) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return nullptr;
  }
  view = static_cast<uint8_t*>(
      MapViewOfFile(mapping, writing ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0));
  if (view == nullptr) {
    CloseHandle(mapping);
    mapping = nullptr;
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  return view;
}

void MappedFile::Release() {
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  view = nullptr;
  mapping = nullptr;
  file = INVALID_HANDLE_VALUE;
  size = 0;
}

ResultCode DispatchInput(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                         InputOperation operation, void* context) {
  switch (InputKindOf(flag)) {
    case InputKindFile: {
      MappedFile input;
      if (input.Open(source, 0) == nullptr) return ResultReadError;
      InputView view;
      view.bounds.first = input.view;
      view.bounds.end = input.view + input.size;
      // An offset outside the file names no bytes at all: the operation then
      // finds nothing readable and answers as for any unreadable input.
      const bool inside = offsetOrSize >= 0 && static_cast<uint64_t>(offsetOrSize) < input.size;
      view.data = inside ? input.view + offsetOrSize : input.view;
      if (!inside) view.bounds.end = input.view;
      const ResultCode result = operation(view, context);
      input.Release();
      return result;
    }
    case InputKindMemory: {
      InputView view;
      view.data = reinterpret_cast<const uint8_t*>(source);
      return operation(view, context);
    }
    default:
      return ResultNotImplemented;
  }
}

int32_t HeaderProbe(UINT_PTR headerSource, FormatTest test, int32_t probeLength) {
  if (probeLength <= 0 || probeLength > ProbeBufferLength) return 0;
  if ((static_cast<uint64_t>(headerSource) >> 16) == 0) {
    // Bytes the handle did not deliver stay zero, so no answer depends on
    // what happened to be on the stack.
    uint8_t buffer[ProbeBufferLength] = {};
    DWORD bytesRead = 0;
    const HANDLE handle = reinterpret_cast<HANDLE>(headerSource);
    if (!ReadFile(handle, buffer, static_cast<DWORD>(probeLength), &bytesRead, nullptr) ||
        bytesRead == 0) {
      return 0;
    }
    return test(buffer);
  }
  const uint8_t* header = reinterpret_cast<const uint8_t*>(headerSource);
  if (IsBadReadPtr(header, static_cast<UINT_PTR>(probeLength))) return 0;
  return test(header);
}
