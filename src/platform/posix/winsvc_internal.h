// What the parts of the service layer share with each other and with nobody
// else: the last-error plumbing, the path form conversion, the lead-byte test
// of a given code page, and the facts about open files that the by-name
// operations must respect (sharing, mapped views). Nothing here is exported
// from the library.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "winsvc.h"

#define WINSVC_INTERNAL __attribute__((visibility("hidden")))

// Windows error values that callers may see but that the public header does
// not name, because no code in the tree tests for them.
#define WINSVC_ERROR_TOO_MANY_OPEN_FILES 4
#define WINSVC_ERROR_NOT_SAME_DEVICE 17
#define WINSVC_ERROR_GEN_FAILURE 31
#define WINSVC_ERROR_HANDLE_DISK_FULL 39
#define WINSVC_ERROR_DISK_FULL 112
#define WINSVC_ERROR_BUFFER_OVERFLOW 111
#define WINSVC_ERROR_NEGATIVE_SEEK 131
#define WINSVC_ERROR_DIR_NOT_EMPTY 145
#define WINSVC_ERROR_FILENAME_EXCED_RANGE 206
#define WINSVC_ERROR_MOD_NOT_FOUND 126
#define WINSVC_ERROR_PROC_NOT_FOUND 127
#define WINSVC_ERROR_NOACCESS 998
#define WINSVC_ERROR_INVALID_ADDRESS 487
#define WINSVC_ERROR_MAPPED_ALIGNMENT 1132
#define WINSVC_ERROR_USER_MAPPED_FILE 1224

namespace winsvc {

// The code page's answer, independent of which page is selected.
WINSVC_INTERNAL bool IsLeadByteOf(UINT codePage, BYTE byte);

// A Windows path ("C:\dir\name", "dir\name", "\\x\y") in the form the system
// calls take. Separators are found with the selected code page, so the second
// byte of a double-byte character is never mistaken for one.
WINSVC_INTERNAL std::string ToPosixPath(const char* windowsPath);

// Sets the last error from errno after a call on the POSIX form of `path`.
// ENOENT becomes "file not found" when the containing directory exists and
// "path not found" when it does not, as Windows tells the two apart.
WINSVC_INTERNAL void SetLastErrorFromErrno(int error, const std::string& path);
WINSVC_INTERNAL DWORD ErrorFromErrno(int error);

// Facts kept by the handle tables. Both take the handle table's lock.
// An open handle without FILE_SHARE_DELETE keeps the file from being deleted
// or renamed.
WINSVC_INTERNAL bool IsOpenWithoutDeleteSharing(dev_t device, ino_t inode);
// A file with a mapped view may not be deleted or cut short.
WINSVC_INTERNAL bool HasMappedView(dev_t device, ino_t inode);

// The number of readable bytes at `address` up to `limit`, stopping at the
// first zero byte (which is not counted). Sets *readable to false when an
// unreadable page is met before the zero byte or the limit.
WINSVC_INTERNAL size_t ProbedStringLength(const char* address, size_t limit, bool* readable);

}  // namespace winsvc
