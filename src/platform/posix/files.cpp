// File handles and mappings.
//
// A handle is a small multiple of four, as on Windows, where hosts tell a file
// handle from an address by its upper bits being zero. It indexes the handle
// table, whose slots keep the kernel objects alive; a call looks its handle up
// under the table's lock and holds a reference for the rest of the call, so a
// handle closed by another thread in the meantime is either still whole or
// already unknown, never half gone.
//
// Windows sharing is enforced among this process's handles: every open file
// is listed under its (device, inode) with its access and share mode, and an
// open that conflicts with one of them fails with ERROR_SHARING_VIOLATION.
// Views of mappings are listed by address, because unmapping needs the
// length, and by file, because Windows refuses to delete or cut short a file
// that is mapped (which here also keeps our own views from faulting).
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "winsvc_internal.h"

namespace {

// Access rights besides the generic ones that a caller may pass.
constexpr DWORD kFileReadData = 0x1u;
constexpr DWORD kFileWriteData = 0x2u;
constexpr DWORD kFileAppendData = 0x4u;
constexpr DWORD kDeleteAccess = 0x10000u;
constexpr DWORD kGenericAll = 0x10000000u;
constexpr DWORD kShareModes = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr uint64_t kViewGranularity = 65536;
constexpr uintptr_t kHandleStep = 4;
// Every handle stays below 0x10000.
constexpr size_t kMaxHandles = 0xFFFF / kHandleStep - 1;
// How often an open that must learn whether it created the file retries when
// the name appears or vanishes between its two attempts.
constexpr int kCreateAttempts = 8;

enum class ObjectKind { kFile, kMapping };

struct KernelObject {
  explicit KernelObject(ObjectKind k) : kind(k) {}
  virtual ~KernelObject() {
    if (fd >= 0) close(fd);
  }
  ObjectKind kind;
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
};

struct FileObject : KernelObject {
  FileObject() : KernelObject(ObjectKind::kFile) {}
  bool canRead = false;
  bool canWrite = false;
  bool canDelete = false;
  DWORD shareMode = 0;
  bool HasAccess() const { return canRead || canWrite || canDelete; }
};

struct MappingObject : KernelObject {
  MappingObject() : KernelObject(ObjectKind::kMapping) {}
  uint64_t size = 0;
  bool writable = false;
};

struct View {
  size_t length;
  dev_t device;
  ino_t inode;
};

using FileKey = std::pair<dev_t, ino_t>;

std::mutex tableMutex;
std::vector<std::shared_ptr<KernelObject>> handleSlots;
std::vector<size_t> freeSlots;
std::multimap<FileKey, const FileObject*> openFiles;
std::map<uintptr_t, View> views;

// The slot a handle names, or null. Called with tableMutex held.
std::shared_ptr<KernelObject>* SlotOf(HANDLE handle) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value % kHandleStep != 0) return nullptr;
  const size_t index = value / kHandleStep - 1;
  if (index >= handleSlots.size() || !handleSlots[index]) return nullptr;
  return &handleSlots[index];
}

template <class T>
std::shared_ptr<T> FindObject(HANDLE handle, ObjectKind kind) {
  std::lock_guard<std::mutex> hold(tableMutex);
  std::shared_ptr<KernelObject>* slot = SlotOf(handle);
  if (slot == nullptr || (*slot)->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(*slot);
}

// The file behind a handle for a synchronous read or write, or null with the
// error set.
std::shared_ptr<FileObject> FindFileForTransfer(HANDLE handle, void* overlapped, bool writing) {
  auto file = FindObject<FileObject>(handle, ObjectKind::kFile);
  if (!file) return nullptr;
  if (overlapped != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!(writing ? file->canWrite : file->canRead)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return file;
}

// Called with tableMutex held. A handle without data access neither restricts
// others nor is restricted, as on Windows.
bool ConflictsWithOpenHandles(const FileObject& wanted) {
  if (!wanted.HasAccess()) return false;
  auto range = openFiles.equal_range(FileKey(wanted.device, wanted.inode));
  for (auto it = range.first; it != range.second; ++it) {
    const FileObject& open = *it->second;
    if (!open.HasAccess()) continue;
    if ((wanted.canRead && !(open.shareMode & FILE_SHARE_READ)) ||
        (wanted.canWrite && !(open.shareMode & FILE_SHARE_WRITE)) ||
        (wanted.canDelete && !(open.shareMode & FILE_SHARE_DELETE)) ||
        (open.canRead && !(wanted.shareMode & FILE_SHARE_READ)) ||
        (open.canWrite && !(wanted.shareMode & FILE_SHARE_WRITE)) ||
        (open.canDelete && !(wanted.shareMode & FILE_SHARE_DELETE))) {
      return true;
    }
  }
  return false;
}

// Called with tableMutex held.
bool HasMappedViewLocked(dev_t device, ino_t inode) {
  for (const auto& view : views) {
    if (view.second.device == device && view.second.inode == inode) return true;
  }
  return false;
}

bool IsReadOnlyFile(const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Gives the object a handle; null with the error set when none is left.
// Called with tableMutex held.
HANDLE Register(std::shared_ptr<KernelObject> object) {
  size_t index;
  if (!freeSlots.empty()) {
    index = freeSlots.back();
    freeSlots.pop_back();
  } else if (handleSlots.size() < kMaxHandles) {
    try {
      freeSlots.reserve(handleSlots.size() + 1);
      handleSlots.emplace_back();
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    index = handleSlots.size() - 1;
  } else {
    SetLastError(WINSVC_ERROR_TOO_MANY_OPEN_FILES);
    return nullptr;
  }
  handleSlots[index] = std::move(object);
  return reinterpret_cast<HANDLE>((index + 1) * kHandleStep);
}

// Empties the handle's slot and gives its object back. Called with
// tableMutex held, with a handle that SlotOf found.
std::shared_ptr<KernelObject> Unregister(HANDLE handle) {
  const size_t index = reinterpret_cast<uintptr_t>(handle) / kHandleStep - 1;
  std::shared_ptr<KernelObject> object = std::move(handleSlots[index]);
  handleSlots[index].reset();
  freeSlots.push_back(index);  // capacity reserved when the slot was made
  return object;
}

// Opens the POSIX path for CreateFileA's disposition and tells whether the
// file existed before. -1 with the last error set on failure.
int OpenForDisposition(const std::string& path, int flags, mode_t mode, DWORD disposition,
                       bool* existed) {
  flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (disposition == CREATE_NEW) {
    *existed = false;
    int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
      if (errno == EEXIST) {
        SetLastError(ERROR_FILE_EXISTS);
      } else {
        winsvc::SetLastErrorFromErrno(errno, path);
      }
    }
    return fd;
  }
  if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
    *existed = true;
    int fd = open(path.c_str(), flags);
    if (fd < 0) winsvc::SetLastErrorFromErrno(errno, path);
    return fd;
  }
  // CREATE_ALWAYS, OPEN_ALWAYS: open the file if it is there, else create it
  // exclusively, so that we know which of the two happened.
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    int fd = open(path.c_str(), flags);
    if (fd >= 0) {
      *existed = true;
      return fd;
    }
    if (errno != ENOENT) break;
    fd = open(path.c_str(), flags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      *existed = false;
      return fd;
    }
    if (errno != EEXIST) break;
  }
  if (errno == EEXIST) {
    // A dangling symbolic link: the plain open follows it, the exclusive
    // one refuses it. Create the link's target.
    int fd = open(path.c_str(), flags | O_CREAT, mode);
    if (fd >= 0) {
      *existed = false;
      return fd;
    }
  }
  winsvc::SetLastErrorFromErrno(errno, path);
  return -1;
}

}  // namespace

namespace winsvc {

bool IsOpenWithoutDeleteSharing(dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> hold(tableMutex);
  auto range = openFiles.equal_range(FileKey(device, inode));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->HasAccess() && !(it->second->shareMode & FILE_SHARE_DELETE)) return true;
  }
  return false;
}

bool HasMappedView(dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> hold(tableMutex);
  return HasMappedViewLocked(device, inode);
}

}  // namespace winsvc

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* /*security*/,
                          DWORD disposition, DWORD attributes, HANDLE /*templateFile*/) {
  if (path == nullptr || (shareMode & ~kShareModes) != 0 || disposition < CREATE_NEW ||
      disposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto file = std::shared_ptr<FileObject>(new (std::nothrow) FileObject);
  if (!file) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  file->canRead = (access & (GENERIC_READ | kGenericAll | kFileReadData)) != 0;
  file->canWrite =
      (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
  file->canDelete = (access & (kDeleteAccess | kGenericAll)) != 0;
  file->shareMode = shareMode;
  if (disposition == TRUNCATE_EXISTING && !file->canWrite) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::string posixPath = winsvc::ToPosixPath(path);
  if (posixPath.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }

  // The descriptor may be wider than the handle's access (truncation needs
  // write access); ReadFile, WriteFile and the mappings check the handle's.
  const bool truncating = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  int flags = O_RDONLY;
  if (file->canWrite || truncating) flags = file->canRead ? O_RDWR : O_WRONLY;
  const mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  bool existed = false;
  const int fd = OpenForDisposition(posixPath, flags, mode, disposition, &existed);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  file->fd = fd;  // closed with the object from here on
  auto failAfterOpen = [&](DWORD error) {
    if (!existed) unlink(posixPath.c_str());
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info;
  if (fstat(fd, &info) != 0) return failAfterOpen(winsvc::ErrorFromErrno(errno));
  if (S_ISDIR(info.st_mode)) return failAfterOpen(ERROR_ACCESS_DENIED);
  // Windows honours the read-only attribute whoever asks, root included.
  if (existed && IsReadOnlyFile(info) && (file->canWrite || truncating)) {
    return failAfterOpen(ERROR_ACCESS_DENIED);
  }
  file->device = info.st_dev;
  file->inode = info.st_ino;

  HANDLE handle;
  {
    std::lock_guard<std::mutex> hold(tableMutex);
    if (ConflictsWithOpenHandles(*file)) return failAfterOpen(ERROR_SHARING_VIOLATION);
    if (existed && truncating && HasMappedViewLocked(file->device, file->inode)) {
      return failAfterOpen(WINSVC_ERROR_USER_MAPPED_FILE);
    }
    handle = Register(file);
    if (handle == nullptr) return failAfterOpen(GetLastError());
    try {
      openFiles.emplace(FileKey(file->device, file->inode), file.get());
    } catch (const std::bad_alloc&) {
      Unregister(handle);
      return failAfterOpen(ERROR_NOT_ENOUGH_MEMORY);
    }
  }
  // Cut short only once the share check has let us in, so that a refused
  // open leaves the file as it was.
  if (existed && truncating && info.st_size != 0 && ftruncate(fd, 0) != 0) {
    const DWORD error = winsvc::ErrorFromErrno(errno);
    CloseHandle(handle);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  const bool reportsExisting =
      existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped) {
  if (read != nullptr) *read = 0;
  auto file = FindFileForTransfer(handle, overlapped, false);
  if (!file) return FALSE;
  DWORD total = 0;
  while (total < toRead) {
    const ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + total, toRead - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      SetLastError(winsvc::ErrorFromErrno(errno));
      if (read != nullptr) *read = total;
      return FALSE;
    }
    if (got == 0) break;
    total += static_cast<DWORD>(got);
  }
  if (read != nullptr) *read = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                      void* overlapped) {
  if (written != nullptr) *written = 0;
  auto file = FindFileForTransfer(handle, overlapped, true);
  if (!file) return FALSE;
  DWORD total = 0;
  while (total < toWrite) {
    const ssize_t put =
        ::write(file->fd, static_cast<const char*>(buffer) + total, toWrite - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      SetLastError(winsvc::ErrorFromErrno(errno));
      if (written != nullptr) *written = total;
      return FALSE;
    }
    total += static_cast<DWORD>(put);
  }
  if (written != nullptr) *written = total;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  auto file = FindObject<FileObject>(handle, ObjectKind::kFile);
  if (!file) return INVALID_FILE_SIZE;
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  const DWORD low = static_cast<DWORD>(size);
  // A true low part of all ones must not read as a failure.
  if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
  return low;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
  auto file = FindObject<FileObject>(handle, ObjectKind::kFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  const int64_t move =
      distanceHigh != nullptr
          ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                 static_cast<uint32_t>(distance))
          : static_cast<int64_t>(distance);
  int64_t base;
  if (method == FILE_BEGIN) {
    base = 0;
  } else if (method == FILE_CURRENT) {
    base = lseek(file->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat info;
    base = fstat(file->fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (base < 0) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target;
  if (__builtin_add_overflow(base, move, &target) || target < 0) {
    SetLastError(WINSVC_ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  // Without a high part the caller cannot be told a position past 4 GiB.
  if (distanceHigh == nullptr && target > static_cast<int64_t>(UINT32_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
  const DWORD low = static_cast<DWORD>(target);
  if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
  return low;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> object;
  {
    std::lock_guard<std::mutex> hold(tableMutex);
    if (SlotOf(handle) == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    object = Unregister(handle);
    if (object->kind == ObjectKind::kFile) {
      auto range = openFiles.equal_range(FileKey(object->device, object->inode));
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == object.get()) {
          openFiles.erase(it);
          break;
        }
      }
    }
  }
  // The descriptor closes here, or when a call still using it finishes.
  return TRUE;
}

HANDLE WINAPI CreateFileMappingA(HANDLE handle, void* /*security*/, DWORD protection,
                                 DWORD sizeHigh, DWORD sizeLow, LPCSTR /*name*/) {
  auto file = FindObject<FileObject>(handle, ObjectKind::kFile);
  if (!file) return nullptr;
  if (protection != PAGE_READONLY && protection != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const bool writable = protection == PAGE_READWRITE;
  if (!file->canRead || (writable && !file->canWrite)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return nullptr;
  }
  const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
  uint64_t size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  if (size == 0) {
    if (fileSize == 0) {
      SetLastError(ERROR_FILE_INVALID);
      return nullptr;
    }
    size = fileSize;
  }
  if (size > static_cast<uint64_t>(PTRDIFF_MAX)) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (size > fileSize) {
    // Only a writable mapping may grow its file.
    if (!writable) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (ftruncate(file->fd, static_cast<off_t>(size)) != 0) {
      SetLastError(winsvc::ErrorFromErrno(errno));
      return nullptr;
    }
  }
  auto mapping = std::shared_ptr<MappingObject>(new (std::nothrow) MappingObject);
  if (!mapping) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Its own descriptor, so that it outlives the file handle as on Windows.
  mapping->fd = fcntl(file->fd, F_DUPFD_CLOEXEC, 0);
  if (mapping->fd < 0) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return nullptr;
  }
  mapping->device = file->device;
  mapping->inode = file->inode;
  mapping->size = size;
  mapping->writable = writable;
  std::lock_guard<std::mutex> hold(tableMutex);
  HANDLE result = Register(mapping);
  if (result != nullptr) SetLastError(ERROR_SUCCESS);
  return result;
}

LPVOID WINAPI MapViewOfFile(HANDLE handle, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T length) {
  auto mapping = FindObject<MappingObject>(handle, ObjectKind::kMapping);
  if (!mapping) return nullptr;
  const bool write = (access & FILE_MAP_WRITE) != 0;
  if (!write && (access & FILE_MAP_READ) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (write && !mapping->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const uint64_t offset = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
  if (offset % kViewGranularity != 0) {
    SetLastError(WINSVC_ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (offset >= mapping->size || length > mapping->size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (length == 0) length = static_cast<SIZE_T>(mapping->size - offset);
  // Pages past the end of the file would fault when touched; a file cut
  // short behind the mapping's back is refused instead.
  struct stat info;
  if (fstat(mapping->fd, &info) != 0 ||
      static_cast<uint64_t>(info.st_size) < offset + length) {
    SetLastError(ERROR_FILE_INVALID);
    return nullptr;
  }
  const int protection = write ? (PROT_READ | PROT_WRITE) : PROT_READ;
  void* view = mmap(nullptr, length, protection, MAP_SHARED, mapping->fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(winsvc::ErrorFromErrno(errno));
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> hold(tableMutex);
    views.emplace(reinterpret_cast<uintptr_t>(view), View{length, mapping->device, mapping->inode});
  } catch (const std::bad_alloc&) {
    munmap(view, length);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(address);
  uintptr_t base;
  size_t length;
  {
    std::lock_guard<std::mutex> hold(tableMutex);
    auto next = views.upper_bound(at);
    if (next == views.begin()) {
      SetLastError(WINSVC_ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    auto view = std::prev(next);
    if (at - view->first >= view->second.length) {
      SetLastError(WINSVC_ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    base = view->first;
    length = view->second.length;
    // Unmapped while still listed, so that no new view can take the address
    // before it leaves the list.
    munmap(reinterpret_cast<void*>(base), length);
    views.erase(view);
  }
  return TRUE;
}

}  // extern "C"
