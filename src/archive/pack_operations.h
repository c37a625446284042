// The pack format's operations in the shapes the listing and extraction
// frames take them. The exports hand these to the frames and do nothing else.
#pragma once

#include <cstdint>

#include "archive/entry_listing.h"
#include "archive/extraction.h"

// Progress is reported after every this many bytes of an entry's copy.
constexpr int32_t PackCopyStep = 1024;

// The lister of both listing exports: reserves room for the catalogue's count,
// then fills and commits one record per entry.
ResultCode ListPack(const InputView& input, EntryCollector* collector);

// The visitor that ListPack hands to the catalogue walk; context is the
// EntryCollector.
ResultCode FillEntryInfo(int32_t layout, uint32_t position, const uint8_t* nameField, uint32_t size,
                         void* context);

// The locator of GetFile: LocatePackEntry, leaving the entry's data start in
// the word at entryContext (a const uint8_t*).
ResultCode LocatePackEntryForExtraction(const uint8_t* record, const InputBounds& bounds,
                                        char* displayName, int32_t* size, void* entryContext);

// The copier of GetFile: the entry's bytes from the data start that the
// locator left in entryContext, in PackCopyStep steps.
ResultCode CopyPackEntry(const uint8_t* record, uint8_t* output, int32_t size, void* entryContext,
                         intptr_t userData, ProgressCallback progress);
