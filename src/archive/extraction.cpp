#include "archive/extraction.h"

#include <cstring>

#include "archive/path_operations.h"

namespace {

// GetTempFileNameA needs room for its own "XXXXXXXX.TMP"-style name after the
// directory: a longer directory is refused before the call.
constexpr size_t kTempDirectoryLimit = MAX_PATH - 14;

// A copy of a pack in the host's memory: the host names where it ends
// (offsetOrSize bytes on from the entry's record) but not where it begins, so
// the walk back to the catalogue start is bounded by the read-access test
// alone while nothing past the end is read. The lowest address stands for
// "no first byte known".
InputBounds HostBlockBounds(LPCSTR source, intptr_t size) {
  InputBounds bounds;
  bounds.first = reinterpret_cast<const uint8_t*>(uintptr_t{1});
  bounds.end = reinterpret_cast<const uint8_t*>(source) + size;
  return bounds;
}

struct ExtractionRun {
  LPSTR destination;
  uint32_t flag;
  ProgressCallback progress;
  intptr_t userData;
  EntryLocator locator;
  EntryCopier copier;
  void* entryContext;
  bool hostBlock = false;     // memory input, whose end the host names
  InputBounds hostBlockBounds;
  bool inputOpened = false;  // the operation ran: a pack file was mapped
  bool located = false;
};

ResultCode RunExtraction(const InputView& input, void* context) {
  ExtractionRun* run = static_cast<ExtractionRun*>(context);
  run->inputOpened = true;
  char displayName[EntryNameBufferSize] = {};
  int32_t size = 0;
  const InputBounds& bounds = run->hostBlock ? run->hostBlockBounds : input.bounds;
  const ResultCode result =
      run->locator(input.data, bounds, displayName, &size, run->entryContext);
  if (result != ResultOk) return result;
  run->located = true;
  return WriteEntryOutput(input.data, displayName, size, run->entryContext, run->destination,
                          run->flag, run->progress, run->userData, run->copier);
}

ResultCode WriteToMemory(const uint8_t* record, int32_t size, void* entryContext,
                         LPSTR destination, ProgressCallback progress, intptr_t userData,
                         EntryCopier copier) {
  HLOCAL* blockOut = reinterpret_cast<HLOCAL*>(destination);
  if (IsBadWritePtr(blockOut, sizeof *blockOut)) return ResultMemoryError;
  if (size == 0) {
    // An empty entry is an empty block: a handle the host can free. Such a
    // block cannot be locked, and there is nothing to copy into it.
    const HLOCAL empty = LocalAlloc(LMEM_MOVEABLE, 0);
    if (empty == nullptr) return ResultNoMemory;
    *blockOut = empty;
    return ResultOk;
  }
  const HLOCAL block = LocalAlloc(LMEM_MOVEABLE, static_cast<SIZE_T>(size));
  if (block == nullptr) return ResultNoMemory;
  uint8_t* output = static_cast<uint8_t*>(LocalLock(block));
  if (output == nullptr) {
    LocalFree(block);
    return ResultMemoryError;
  }
  const ResultCode result = copier(record, output, size, entryContext, userData, progress);
  LocalUnlock(block);
  if (result != ResultOk) {
    LocalFree(block);
    *blockOut = nullptr;
    return result;
  }
  *blockOut = block;
  return ResultOk;
}

// The target file of a directory output, held open without sharing while the
// entry is written, so that a second extraction of the same name fails.
struct TargetFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool created = false;  // it did not exist before this call

  bool Open(LPCSTR path) {
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    created = handle != INVALID_HANDLE_VALUE;
    if (!created) {
      handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return handle != INVALID_HANDLE_VALUE;
  }

  // A failed extraction leaves an existing file as it was and no empty file
  // of the entry's name where there was none.
  void Abandon(LPCSTR path) {
    CloseHandle(handle);
    if (created) DeleteFileA(path);
  }
};

ResultCode WriteToDirectory(const uint8_t* record, LPCSTR displayName, int32_t size,
                            void* entryContext, LPCSTR destination, ProgressCallback progress,
                            intptr_t userData, EntryCopier copier) {
  // Names come from the pack: one that could reach outside the destination
  // is refused before anything is created.
  if (!IsPlainFileName(displayName)) return ResultWriteError;
  // An empty destination would put the file in the root of the current drive.
  if (destination == nullptr || destination[0] == '\0') return ResultWriteError;
  if (!PrepareDirectory(destination)) return ResultWriteError;

  char targetPath[ExtractionPathBufferSize];
  // PrepareDirectory has seen that destination fits.
  std::memcpy(targetPath, destination, std::strlen(destination) + 1);
  if (!AppendFileName(targetPath, displayName, static_cast<int32_t>(sizeof targetPath))) {
    return ResultWriteError;
  }

  TargetFile target;
  if (!target.Open(targetPath)) return ResultWriteError;

  char tempPath[ExtractionPathBufferSize];
  if (std::strlen(destination) > kTempDirectoryLimit ||
      GetTempFileNameA(destination, ExtractionTempPrefix, 0, tempPath) == 0) {
    target.Abandon(targetPath);
    return ResultWriteError;
  }

  // The temporary file was made empty; an empty entry needs no mapping.
  if (size > 0) {
    MappedFile output;
    if (output.Open(tempPath, static_cast<uint32_t>(size)) == nullptr) {
      target.Abandon(targetPath);
      DeleteFileA(tempPath);
      return ResultWriteError;
    }
    const ResultCode result = copier(record, output.view, size, entryContext, userData, progress);
    output.Release();
    if (result != ResultOk) {
      DeleteFileA(tempPath);
      target.Abandon(targetPath);
      return result;
    }
  }

  // The old file goes only now that the new one is complete.
  CloseHandle(target.handle);
  DeleteFileA(targetPath);
  if (MoveFileA(tempPath, targetPath)) return ResultOk;
  // The complete data stays in the temporary file when the old file is gone;
  // when the old file could not be deleted (it is read-only, say) nothing has
  // changed, and the temporary file would only be litter.
  if (GetFileAttributesA(targetPath) != INVALID_FILE_ATTRIBUTES) DeleteFileA(tempPath);
  return ResultWriteError;
}

}  // namespace

ResultCode ExtractionFrame(LPCSTR source, intptr_t offsetOrSize, LPSTR destination, uint32_t flag,
                           ProgressCallback progress, intptr_t userData, EntryLocator locator,
                           EntryCopier copier, void* entryContext) {
  if (ProgressAsksToStop(progress, 0, 1, userData)) return ResultCancelled;

  const uint32_t inputKind = InputKindOf(flag);
  if (inputKind == InputKindMemory &&
      (offsetOrSize < 0 ||
       !IsReadable(InputBounds{}, source, static_cast<uint64_t>(offsetOrSize)))) {
    return ResultMemoryError;
  }

  ExtractionRun run{destination, flag, progress, userData, locator, copier, entryContext,
                    false, InputBounds{}};
  if (inputKind == InputKindMemory) {
    run.hostBlock = true;
    run.hostBlockBounds = HostBlockBounds(source, offsetOrSize);
  }
  const ResultCode result = DispatchInput(source, offsetOrSize, flag, RunExtraction, &run);

  // No closing call when nothing was begun: a pack file that could not be
  // mapped, or an entry in memory that could not be located.
  bool closingCall = true;
  if (inputKind == InputKindFile) closingCall = run.inputOpened;
  if (inputKind == InputKindMemory) closingCall = run.located;
  if (closingCall) ProgressAsksToStop(progress, 1, 1, userData);
  return result;
}

ResultCode WriteEntryOutput(const uint8_t* record, LPCSTR displayName, int32_t size,
                            void* entryContext, LPSTR destination, uint32_t flag,
                            ProgressCallback progress, intptr_t userData, EntryCopier copier) {
  const uint32_t outputKind = OutputKindOf(flag);
  if (outputKind != OutputKindMemory && outputKind != OutputKindDirectory) {
    return ResultNotImplemented;
  }
  // No entry has a negative size; nothing is allocated or created for one.
  if (size < 0) return ResultBadData;
  if (outputKind == OutputKindMemory) {
    return WriteToMemory(record, size, entryContext, destination, progress, userData, copier);
  }
  return WriteToDirectory(record, displayName, size, entryContext, destination, progress, userData,
                          copier);
}

ResultCode CopyInChunks(const uint8_t* source, uint8_t* output, int32_t size, intptr_t userData,
                        ProgressCallback progress, int32_t step) {
  if (size < 0 || !IsReadable(InputBounds{}, source, static_cast<uint64_t>(size))) {
    return ResultBadData;
  }
  if (step <= 0) return ResultInternalError;
  const int32_t steps = size / step;
  for (int32_t i = 1; i <= steps; ++i) {
    std::memcpy(output, source, static_cast<size_t>(step));
    source += step;
    output += step;
    if (ProgressAsksToStop(progress, step * i, size, userData)) return ResultCancelled;
  }
  std::memcpy(output, source, static_cast<size_t>(size - steps * step));
  return ResultOk;
}
