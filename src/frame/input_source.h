// How an export gets from the host's arguments to the bytes of its format: a
// file mapped whole, or a block of the host's memory. Format operations see
// only an InputView: a pointer to their first byte and the bounds within which
// they may read.
#pragma once

#include <cstdint>

#include "frame/host_interface.h"

// The extent of the input, where it is known. A mapped file is known from its
// first byte to its last; a block of the host's memory is not, and only the
// platform's read-access test bounds reads from it (first and end are null).
struct InputBounds {
  const uint8_t* first = nullptr;
  const uint8_t* end = nullptr;
  bool Known() const { return first != nullptr; }
};

// The one readable-range check of this tree: the n bytes at p lie inside the
// bounds (where they are known) and the platform says they can be read. An
// empty range is readable. Sizes are 64-bit so that no caller's sum can wrap.
bool IsReadable(const InputBounds& bounds, const void* p, uint64_t n);

struct InputView {
  const uint8_t* data = nullptr;  // the first byte of the format's data
  InputBounds bounds;
};

// A file opened and mapped whole, released together.
struct MappedFile {
  HANDLE file = INVALID_HANDLE_VALUE;
  HANDLE mapping = nullptr;
  uint8_t* view = nullptr;
  uint32_t size = 0;  // bytes in the view

  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // size 0: open an existing file for reading, shared for reading, and map all
  // of it. size > 0: create the file anew (replacing one of that name), not
  // shared, exactly size bytes long, mapped for writing. Gives the view, or
  // null with nothing left open (a created file stays on disk).
  uint8_t* Open(LPCSTR path, uint32_t requestedSize);
  // Unmaps and closes what is open; everything written is in the file after.
  void Release();
};

// The work of one export on its input, with the export's own context.
typedef ResultCode (*InputOperation)(const InputView& input, void* context);

// Runs the operation on the input the host named. File input: the file is
// mapped for exactly the operation's run, the data starts offsetOrSize bytes
// into it (an offset outside the file leaves nothing readable), ResultReadError
// when it cannot be opened or mapped. Memory input: the data is source.
// Other input kinds: ResultNotImplemented, nothing touched.
ResultCode DispatchInput(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                         InputOperation operation, void* context);

// A format test looks at the first bytes of a candidate file.
typedef int32_t (*FormatTest)(const uint8_t* header);

constexpr int32_t ProbeBufferLength = 2048;

// IsSupported's probe: headerSource is a file handle when its upper 16 bits are
// zero (probeLength bytes are read from its current position), otherwise the
// address of the file's first bytes. Answers the test's value, or 0 when the
// bytes cannot be had.
int32_t HeaderProbe(UINT_PTR headerSource, FormatTest test, int32_t probeLength);
