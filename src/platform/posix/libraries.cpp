// Loading libraries as a host loads plug-ins. Module handles are those of the
// dynamic loader; a table of the ones we handed out keeps a stray or freed
// handle from reaching dlsym or dlclose.
#include <dlfcn.h>

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

#include "winsvc_internal.h"

namespace {

std::mutex moduleMutex;
std::unordered_map<void*, unsigned> loadCounts;

// Windows takes a "name" below 0x10000 as an export ordinal.
constexpr uintptr_t kOrdinalLimit = 0x10000;

bool IsLoaded(HMODULE module) { return loadCounts.count(module) != 0; }

}  // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
  const std::string posixPath = winsvc::ToPosixPath(path);
  if (posixPath.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* module = dlopen(posixPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    SetLastError(WINSVC_ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> hold(moduleMutex);
    ++loadCounts[module];
  } catch (const std::bad_alloc&) {
    dlclose(module);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return module;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (reinterpret_cast<uintptr_t>(name) < kOrdinalLimit) {
    SetLastError(WINSVC_ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard<std::mutex> hold(moduleMutex);
  if (!IsLoaded(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) {
    SetLastError(WINSVC_ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  std::lock_guard<std::mutex> hold(moduleMutex);
  auto found = loadCounts.find(module);
  if (found == loadCounts.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (--found->second == 0) loadCounts.erase(found);
  dlclose(module);
  return TRUE;
}

}  // extern "C"
