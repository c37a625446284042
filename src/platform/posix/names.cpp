// Operations on files and directories by name: attributes, directory
// creation, deletion, moves that never overwrite, and temporary names.
//
// Windows semantics that a plain POSIX call would not give: a read-only file
// (no write permission bit) cannot be deleted even by root; a file open
// without FILE_SHARE_DELETE cannot be deleted or renamed; a mapped file
// cannot be deleted; and a move never replaces what is at the new name,
// checked and done in one step.
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "winsvc_internal.h"

namespace {

constexpr unsigned kTempNumbers = 0x10000;
constexpr size_t kCopyStep = 1 << 16;

bool IsReadOnly(const struct stat& info) {
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Whether the last character of a Windows path is a backslash, where a 0x5C
// that completes a double-byte character does not count.
bool EndsInSeparator(const std::string& path) {
  const UINT codePage = GetACP();
  bool separator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    if (winsvc::IsLeadByteOf(codePage, static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      separator = false;
      ++i;
      continue;
    }
    separator = path[i] == '\\';
  }
  return separator;
}

// The first `count` characters of `s`, a double-byte character counting once.
std::string LeadingCharacters(const char* s, int count) {
  std::string result;
  const UINT codePage = GetACP();
  for (int taken = 0; taken < count && *s != '\0'; ++taken) {
    const bool pair = winsvc::IsLeadByteOf(codePage, static_cast<BYTE>(*s)) && s[1] != '\0';
    result.append(s, pair ? 2 : 1);
    s += pair ? 2 : 1;
  }
  return result;
}

unsigned FirstTempNumber() {
  static std::atomic<unsigned> next{static_cast<unsigned>(time(nullptr)) ^
                                    (static_cast<unsigned>(getpid()) << 4)};
  return next.fetch_add(1);
}

// Moves a regular file to another file system: copied under the new name,
// which must not exist, then removed under the old. On any failure the new
// name is removed again and the old one stays as it was.
bool CopyAcrossDevices(const std::string& from, const std::string& to) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    winsvc::SetLastErrorFromErrno(errno, from);
    return false;
  }
  struct stat info;
  if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(source);
    SetLastError(WINSVC_ERROR_NOT_SAME_DEVICE);
    return false;
  }
  const int target = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
  if (target < 0) {
    winsvc::SetLastErrorFromErrno(errno, to);
    close(source);
    return false;
  }
  static thread_local char step[kCopyStep];
  bool ok = true;
  int failure = 0;
  for (;;) {
    const ssize_t got = read(source, step, sizeof step);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      failure = errno;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t put = write(target, step + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ok = false;
        failure = put < 0 ? errno : ENOSPC;
      } else {
        done += put;
      }
    }
    if (!ok) break;
  }
  close(source);
  if (close(target) != 0 && ok) {
    ok = false;
    failure = errno;
  }
  if (ok && unlink(from.c_str()) != 0) {
    ok = false;
    failure = errno;
  }
  if (!ok) {
    unlink(to.c_str());
    SetLastError(winsvc::ErrorFromErrno(failure));
  }
  return ok;
}

// A rename that refuses an existing new name, for file systems without the
// no-replace flag: a hard link fails atomically when the name exists.
bool RenameWithoutFlag(const std::string& from, const std::string& to, const struct stat& source) {
  if (!S_ISDIR(source.st_mode)) {
    if (link(from.c_str(), to.c_str()) == 0) {
      if (unlink(from.c_str()) == 0) return true;
      const int failure = errno;
      unlink(to.c_str());
      SetLastError(winsvc::ErrorFromErrno(failure));
      return false;
    }
    if (errno == EEXIST) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return false;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) {
      winsvc::SetLastErrorFromErrno(errno, to);
      return false;
    }
  }
  // No links here either: look, then rename (not atomic, the best there is).
  struct stat existing;
  if (lstat(to.c_str(), &existing) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
  }
  if (rename(from.c_str(), to.c_str()) != 0) {
    winsvc::SetLastErrorFromErrno(errno, to);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileAttributesA(LPCSTR path) {
  const std::string posixPath = winsvc::ToPosixPath(path);
  if (posixPath.empty()) {
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info;
  if (stat(posixPath.c_str(), &info) != 0) {
    winsvc::SetLastErrorFromErrno(errno, posixPath);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  return IsReadOnly(info) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, void* /*security*/) {
  const std::string posixPath = winsvc::ToPosixPath(path);
  if (posixPath.empty()) {
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(posixPath.c_str(), 0777) != 0) {
    // Whatever is missing, it is on the way to the new name.
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : winsvc::ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  const std::string posixPath = winsvc::ToPosixPath(path);
  if (posixPath.empty()) {
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  struct stat info;
  if (lstat(posixPath.c_str(), &info) != 0) {
    winsvc::SetLastErrorFromErrno(errno, posixPath);
    return FALSE;
  }
  if (S_ISDIR(info.st_mode) || IsReadOnly(info)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (winsvc::IsOpenWithoutDeleteSharing(info.st_dev, info.st_ino)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (winsvc::HasMappedView(info.st_dev, info.st_ino)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (unlink(posixPath.c_str()) != 0) {
    winsvc::SetLastErrorFromErrno(errno, posixPath);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existingName, LPCSTR newName) {
  const std::string from = winsvc::ToPosixPath(existingName);
  const std::string to = winsvc::ToPosixPath(newName);
  if (existingName == nullptr || newName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (from.empty() || to.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  struct stat source;
  if (lstat(from.c_str(), &source) != 0) {
    winsvc::SetLastErrorFromErrno(errno, from);
    return FALSE;
  }
  if (!S_ISDIR(source.st_mode) && winsvc::IsOpenWithoutDeleteSharing(source.st_dev, source.st_ino)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return TRUE;
  }
  switch (errno) {
    case EEXIST:
      SetLastError(ERROR_ALREADY_EXISTS);
      return FALSE;
    case EINVAL:
    case ENOSYS:
      return RenameWithoutFlag(from, to, source) ? TRUE : FALSE;
    case EXDEV:
      // Windows moves files, not directories, between volumes.
      if (S_ISREG(source.st_mode)) return CopyAcrossDevices(from, to) ? TRUE : FALSE;
      SetLastError(WINSVC_ERROR_NOT_SAME_DEVICE);
      return FALSE;
    default:
      winsvc::SetLastErrorFromErrno(errno, to);
      return FALSE;
  }
}

UINT WINAPI GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
  if (directory == nullptr || tempFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string base = directory;
  if (!EndsInSeparator(base)) base += '\\';
  base += LeadingCharacters(prefix != nullptr ? prefix : "", 3);
  // Four hex digits and ".TMP" must fit with the zero byte.
  if (base.size() + 4 + 4 + 1 > MAX_PATH) {
    SetLastError(WINSVC_ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  auto nameFor = [&base](unsigned number) {
    char tail[16];
    snprintf(tail, sizeof tail, "%X.TMP", number & 0xFFFFu);
    return base + tail;
  };
  if (IsBadWritePtr(tempFileName, base.size() + 4 + 4 + 1)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (unique != 0) {
    const std::string name = nameFor(unique);
    memcpy(tempFileName, name.c_str(), name.size() + 1);
    return unique;
  }
  const unsigned first = FirstTempNumber();
  for (unsigned i = 0; i < kTempNumbers; ++i) {
    const unsigned number = (first + i) & 0xFFFFu;
    if (number == 0) continue;
    const std::string name = nameFor(number);
    const std::string posixName = winsvc::ToPosixPath(name.c_str());
    const int fd = open(posixName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      memcpy(tempFileName, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST) {
      winsvc::SetLastErrorFromErrno(errno, posixName);
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

}  // extern "C"
