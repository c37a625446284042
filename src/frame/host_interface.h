// What both plug-ins share with the host: result codes, the flag word and the
// progress callback. Every export answers through these.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

// Signed 32-bit result of every data export and every internal step. The first
// nonzero code ends an operation and reaches the host unchanged.
typedef int32_t ResultCode;
constexpr ResultCode ResultOk = 0;
constexpr ResultCode ResultCancelled = 1;
constexpr ResultCode ResultNoMatch = 2;
constexpr ResultCode ResultBadData = 3;
constexpr ResultCode ResultNoMemory = 4;
constexpr ResultCode ResultMemoryError = 5;
constexpr ResultCode ResultReadError = 6;
// 7 is never produced.
constexpr ResultCode ResultInternalError = 8;
constexpr ResultCode ResultWriteError = 9;
constexpr ResultCode ResultTruncatedData = 10;
constexpr ResultCode ResultNotImplemented = -1;

// The flag word. Only the low 16 bits mean anything; the helpers below read
// nothing else, so bits 16 to 31 can never change an outcome.
enum InputKind : uint32_t { InputKindFile = 0, InputKindMemory = 1 };
enum OutputKind : uint32_t { OutputKindDirectory = 0, OutputKindMemory = 1 };
constexpr uint32_t FlagIgnoreCase = 0x80;

inline uint32_t InputKindOf(uint32_t flag) { return flag & 0x7; }
inline uint32_t OutputKindOf(uint32_t flag) { return (flag & 0x700) >> 8; }
inline bool IgnoresCase(uint32_t flag) { return (flag & FlagIgnoreCase) != 0; }

// The host's callback: (position, total, userData); nonzero asks us to stop.
// userData is the host's own value, handed back unchanged; it is as wide as a
// pointer so that a 64-bit host can pass one (4 bytes in the product).
typedef int32_t(WINAPI* ProgressCallback)(int32_t position, int32_t total, intptr_t userData);

// The one place a progress call is made. A null callback is never called and
// counts as an answer of 0. True when the host asked to stop.
inline bool ProgressAsksToStop(ProgressCallback progress, int32_t position, int32_t total,
                               intptr_t userData) {
  return progress != nullptr && progress(position, total, userData) != 0;
}

// The value 4 bytes wide in every record that crosses the host boundary.
static_assert(sizeof(ResultCode) == 4, "result codes are 32-bit");
