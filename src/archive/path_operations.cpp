#include "archive/path_operations.h"

#include <cstring>

namespace {

bool IsLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0; }

// Device names that every directory contains on Windows.
const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2",   "COM3",
                                    "COM4", "COM5", "COM6", "COM7", "COM8", "COM9",   "LPT1",
                                    "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",   "LPT8",
                                    "LPT9", "CONIN$", "CONOUT$"};

bool EqualsIgnoringAsciiCase(const char* a, size_t length, const char* b) {
  if (std::strlen(b) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

bool IsDeviceName(LPCSTR name) {
  // The part before the first dot, without the spaces Windows drops there.
  size_t stem = std::strcspn(name, ".");
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  for (const char* device : kDeviceNames) {
    if (EqualsIgnoringAsciiCase(name, stem, device)) return true;
  }
  return false;
}

}  // namespace

bool PrepareDirectory(LPCSTR dir) {
  if (dir == nullptr) return false;
  const size_t length = strnlen(dir, MAX_PATH + 1);
  if (length > MAX_PATH) return false;
  char copy[MAX_PATH + 1];
  std::memcpy(copy, dir, length);
  copy[length] = '\0';
  const int32_t last = LastCharPosition(copy);
  if (copy[last] == '\\') copy[last] = '\0';
  return CreateDirectoryChain(copy, static_cast<int32_t>(std::strlen(copy)));
}

bool CreateDirectoryChain(char* path, int32_t length) {
  // A drive ("C:"), a lone backslash and an empty path count as present.
  if (length < 3) return true;
  if (DirectoryExists(path)) return true;
  const int32_t separator = LastSeparatorIndex(path);
  if (separator == -1) return false;
  const char kept = path[separator];
  path[separator] = '\0';
  const bool parentExists = CreateDirectoryChain(path, separator);
  path[separator] = kept;
  if (!parentExists) return false;
  return CreateDirectoryA(path, nullptr) != 0;
}

bool DirectoryExists(LPCSTR path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int32_t LastSeparatorIndex(LPCSTR s) {
  const int32_t length = static_cast<int32_t>(std::strlen(s));
  int32_t last = -1;
  for (int32_t i = 0; i < length;) {
    if (IsLeadByte(s[i])) {
      i += 2;
      continue;
    }
    if (s[i] == ':' || s[i] == '\\') last = i;
    ++i;
  }
  return last;
}

int32_t LastCharPosition(LPCSTR s) {
  enum { None, Single, Lead, Second } kind = None;
  int32_t i = 0;
  for (; s[i] != '\0'; ++i) {
    if (kind == Lead) {
      kind = Second;
    } else {
      kind = IsLeadByte(s[i]) ? Lead : Single;
    }
  }
  return kind == Single ? i - 1 : i;
}

bool AppendFileName(char* buffer, LPCSTR name, int32_t capacity) {
  const size_t length = std::strlen(buffer);
  const size_t nameLength = std::strlen(name);
  // A separator is counted even when the path already ends in one.
  if (capacity < 2 || length + nameLength > static_cast<size_t>(capacity) - 2) return false;
  size_t end = length;
  if (buffer[LastCharPosition(buffer)] != '\\') buffer[end++] = '\\';
  std::memcpy(buffer + end, name, nameLength + 1);
  return true;
}

bool IsPlainFileName(LPCSTR name) {
  if (name == nullptr || name[0] == '\0') return false;
  bool onlyDotsAndSpaces = true;
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == '\\' || c == '/' || c == ':') return false;
    if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
  }
  return !onlyDotsAndSpaces && !IsDeviceName(name);
}
