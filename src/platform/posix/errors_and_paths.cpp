// The thread's last error, its translation from errno, and the conversion of
// Windows paths into the form the system calls take.
#include <errno.h>
#include <sys/stat.h>

#include "winsvc_internal.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

extern "C" DWORD WINAPI GetLastError(void) { return lastError; }

extern "C" void WINAPI SetLastError(DWORD error) { lastError = error; }

namespace winsvc {

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG:
      return WINSVC_ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
      return WINSVC_ERROR_DISK_FULL;
    case EFBIG:
      return WINSVC_ERROR_HANDLE_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return WINSVC_ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EFAULT:
      return WINSVC_ERROR_NOACCESS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY:
      return WINSVC_ERROR_DIR_NOT_EMPTY;
    case EXDEV:
      return WINSVC_ERROR_NOT_SAME_DEVICE;
    default:
      return WINSVC_ERROR_GEN_FAILURE;
  }
}

void SetLastErrorFromErrno(int error, const std::string& path) {
  DWORD code = ErrorFromErrno(error);
  if (error == ENOENT) {
    // Missing name or missing directory: look at what contains the name.
    std::string parent = path;
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    size_t slash = parent.rfind('/');
    if (slash == std::string::npos) {
      parent = ".";
    } else {
      parent.resize(slash == 0 ? 1 : slash);
    }
    struct stat info;
    if (path.empty() || stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      code = ERROR_PATH_NOT_FOUND;
    }
  }
  SetLastError(code);
}

std::string ToPosixPath(const char* windowsPath) {
  std::string result;
  if (windowsPath == nullptr) return result;
  const UINT codePage = GetACP();
  const char* p = windowsPath;
  if (IsDriveLetter(p[0]) && p[1] == ':') {
    p += 2;
    // "C:" alone names the drive's current directory.
    if (*p == '\0') return ".";
  }
  for (; *p != '\0'; ++p) {
    const BYTE byte = static_cast<BYTE>(*p);
    if (IsLeadByteOf(codePage, byte) && p[1] != '\0') {
      result += *p;
      ++p;
      result += *p;  // a second byte, whatever its value
      continue;
    }
    result += (*p == '\\') ? '/' : *p;
  }
  return result;
}

}  // namespace winsvc
