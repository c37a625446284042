// Paths of the directory output: the destination made to exist, and the
// entry's name joined to it. Strings are in the system's ANSI code page, so a
// byte 0x5C that ends a double-byte character is never taken for a backslash.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

// Makes dir and every missing directory above it exist, outermost first. One
// trailing backslash is ignored. False when dir has more than MAX_PATH
// characters or a directory of the chain cannot be created.
bool PrepareDirectory(LPCSTR dir);

// Recursive step of PrepareDirectory on a writable path of length bytes; the
// buffer holds the same string again when it returns true.
bool CreateDirectoryChain(char* path, int32_t length);

bool DirectoryExists(LPCSTR path);

// Index of the last backslash or colon that is a character of its own, or -1.
int32_t LastSeparatorIndex(LPCSTR s);

// Position of the last character when it is a single byte; otherwise (the
// string is empty, or ends in a double-byte character or a lone lead byte) the
// position of the terminating zero byte.
int32_t LastCharPosition(LPCSTR s);

// Appends a backslash, unless the path ends in one, and name. False, leaving
// the buffer as it was, when the path and name together exceed capacity - 2.
bool AppendFileName(char* buffer, LPCSTR name, int32_t capacity);

// True when name can only mean a file directly in the destination directory:
// not empty, not made of dots and spaces alone ("." and ".." among them), no
// backslash, slash, colon or control byte, and not a device name such as CON
// or COM1 (with or without an extension), which Windows opens as a device in
// any directory.
bool IsPlainFileName(LPCSTR name);
