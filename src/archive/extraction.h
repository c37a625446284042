// The extraction frame of GetFile: the host's flag word, the progress calls,
// the two input kinds and the two outputs (a movable block, or a file in a
// directory written through a temporary file). It knows no format: a locator
// turns the address of an entry's catalogue record into the entry's name and
// size, and a copier moves its bytes into the output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/host_interface.h"
#include "frame/input_source.h"

// The locator fills the name buffer (this many bytes, the width of
// ArchiveEntryInfo::fileName) with the entry's display name.
constexpr size_t EntryNameBufferSize = 200;
// Target and temporary paths: MAX_PATH characters and the zero byte.
constexpr size_t ExtractionPathBufferSize = 261;
// Prefix of the temporary file that the output is written into first.
constexpr char ExtractionTempPrefix[] = "SPI";

// record: the entry's catalogue record; bounds: the input's extent where it
// is known. On ResultOk the display name is in displayName and the size in
// *size; what the copier needs later the locator leaves in *entryContext.
typedef ResultCode (*EntryLocator)(const uint8_t* record, const InputBounds& bounds,
                                   char* displayName, int32_t* size, void* entryContext);

// Copies the entry's size bytes to output, calling progress as it goes.
typedef ResultCode (*EntryCopier)(const uint8_t* record, uint8_t* output, int32_t size,
                                  void* entryContext, intptr_t userData, ProgressCallback progress);

// GetFile: locates the entry that source (and offsetOrSize) name and writes it
// to the output that flag and destination name. entryContext is the caller's
// word for the locator and the copier; the frame never looks into it.
ResultCode ExtractionFrame(LPCSTR source, intptr_t offsetOrSize, LPSTR destination, uint32_t flag,
                           ProgressCallback progress, intptr_t userData, EntryLocator locator,
                           EntryCopier copier, void* entryContext);

// The output half of the frame, for a located entry.
ResultCode WriteEntryOutput(const uint8_t* record, LPCSTR displayName, int32_t size,
                            void* entryContext, LPSTR destination, uint32_t flag,
                            ProgressCallback progress, intptr_t userData, EntryCopier copier);

// Copies size bytes from source to output in steps of step bytes, calling
// progress (step * i, size) after each whole step i; the last, shorter part
// goes without a call. ResultBadData when the source bytes cannot be read,
// ResultCancelled when the host asks to stop.
ResultCode CopyInChunks(const uint8_t* source, uint8_t* output, int32_t size, intptr_t userData,
                        ProgressCallback progress, int32_t step);
