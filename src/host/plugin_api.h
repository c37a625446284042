// What a host sees of a plug-in: the exports by name and their signatures.
// Shared by tessel and the host-level tests, which load the built libraries
// by file name as the viewer does.
#pragma once

#include <cstdint>

#include "archive/archive_entry_info.h"
#include "frame/host_interface.h"
#include "image/picture_info.h"

typedef int32_t(WINAPI* GetPluginInfoFn)(int32_t infoIndex, LPSTR buffer, int32_t bufferLength);
typedef int32_t(WINAPI* IsSupportedFn)(LPCSTR filePath, UINT_PTR headerSource);
typedef ResultCode(WINAPI* GetArchiveInfoFn)(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                             HLOCAL* entryListOut);
typedef ResultCode(WINAPI* GetFileInfoFn)(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName,
                                          uint32_t flag, ArchiveEntryInfo* entryInfo);
typedef ResultCode(WINAPI* GetFileFn)(LPCSTR source, intptr_t offsetOrSize, LPSTR destination,
                                      uint32_t flag, ProgressCallback progress, intptr_t userData);
typedef ResultCode(WINAPI* GetPictureInfoFn)(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                             PictureInfo* pictureInfo);
typedef ResultCode(WINAPI* GetPictureFn)(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                         HLOCAL* bitmapInfoOut, HLOCAL* bitsOut,
                                         ProgressCallback progress, intptr_t userData);

// The name and meaning of a result code, for messages to a person.
const char* ResultCodeName(ResultCode code);
const char* ResultCodeMeaning(ResultCode code);
