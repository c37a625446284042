// The Windows services that the plug-ins and their hosts call, for Linux.
//
// This is our own small implementation of the kernel services the code relies
// on: files and mappings, movable local memory with lock counts, fixed global
// memory, access tests that really probe the page tables, the ANSI string
// functions, a lead-byte test for a selectable code page, temporary names,
// moves that refuse to overwrite, directories and attributes. Paths are taken
// in Windows form (backslash separators, an optional drive prefix) and turned
// into POSIX paths at the system-call boundary.
//
// Only what the code in this tree expects of each service is provided, with the
// same results and failure values as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HGLOBAL;
typedef void* HMODULE;
typedef void (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define PAGE_READONLY 0x2u
#define PAGE_READWRITE 0x4u
#define FILE_MAP_WRITE 0x2u
#define FILE_MAP_READ 0x4u

#define LMEM_FIXED 0x0u
#define LMEM_MOVEABLE 0x2u
#define LMEM_ZEROINIT 0x40u
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define GMEM_FIXED 0x0u
#define GMEM_ZEROINIT 0x40u

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_SHARING_VIOLATION 32
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILE_INVALID 1006
#define ERROR_NOT_LOCKED 158
#define ERROR_DISCARDED 157

extern "C" {

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

// Files. Handles are opaque; a handle opened without a share flag keeps other
// openers of the same file out, within this process, as Windows does.
HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void* overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL WINAPI CloseHandle(HANDLE handle);

// Mappings. A mapping of an empty file fails; a writable mapping larger than
// the file extends the file to that size.
HANDLE WINAPI CreateFileMappingA(HANDLE file, void* security, DWORD protection, DWORD sizeHigh,
                                 DWORD sizeLow, LPCSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                            SIZE_T length);
BOOL WINAPI UnmapViewOfFile(LPCVOID view);

// Files and directories by name.
DWORD WINAPI GetFileAttributesA(LPCSTR path);
BOOL WINAPI CreateDirectoryA(LPCSTR path, void* security);
BOOL WINAPI DeleteFileA(LPCSTR path);
BOOL WINAPI MoveFileA(LPCSTR existingName, LPCSTR newName);
UINT WINAPI GetTempFileNameA(LPCSTR directory, LPCSTR prefix, UINT unique, LPSTR tempFileName);

// Movable local memory. Only LMEM_MOVEABLE blocks are supported; a block of
// 0 bytes is handed out but cannot be locked.
HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags);
LPVOID WINAPI LocalLock(HLOCAL block);
BOOL WINAPI LocalUnlock(HLOCAL block);
HLOCAL WINAPI LocalFree(HLOCAL block);
SIZE_T WINAPI LocalSize(HLOCAL block);

// Fixed global memory: the handle is the address.
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL block);

// Access tests: nonzero when any of the bytes cannot be read (written).
BOOL WINAPI IsBadReadPtr(LPCVOID address, UINT_PTR bytes);
BOOL WINAPI IsBadWritePtr(LPVOID address, UINT_PTR bytes);

// ANSI strings. The copies report an unwritable destination with a null result.
LPSTR WINAPI lstrcpynA(LPSTR destination, LPCSTR source, int maxLength);
LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source);
LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source);
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
int WINAPI lstrlenA(LPCSTR s);
BOOL WINAPI IsDBCSLeadByte(BYTE byte);
UINT WINAPI GetACP(void);

// Libraries, as a host loads plug-ins.
HMODULE WINAPI LoadLibraryA(LPCSTR path);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);

// Not a Windows service: selects the ANSI code page that the string and path
// functions of this layer use (1252 by default, 932 for double-byte tests).
// Windows takes it from the system locale.
void WinsvcSetAnsiCodePage(UINT codePage);

}  // extern "C"
