// The exports of the archive plug-in: thin shells that hand the pack
// operations to the frames.
#include "archive/entry_listing.h"
#include "archive/extraction.h"
#include "archive/pack_catalogue.h"
#include "archive/pack_operations.h"
#include "frame/export_api.h"
#include "frame/input_source.h"
#include "frame/plugin_identity.h"

namespace {

const PluginInfoTable kBromvaleInfo = {"00AM", "Bromvale - Tessel extract library ver0.01", "*.PAK",
                                       "PAK"};

}  // namespace

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, LPSTR buffer, int32_t bufferLength) {
  return CopyPluginInfo(kBromvaleInfo, infoIndex, buffer, bufferLength);
}

PLUGIN_EXPORT int32_t WINAPI IsSupported(LPCSTR /*filePath*/, UINT_PTR headerSource) {
  return HeaderProbe(headerSource, TestPackHeader, PackProbeLength);
}

PLUGIN_EXPORT ResultCode WINAPI GetArchiveInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                               HLOCAL* entryListOut) {
  return ListArchiveEntries(source, offsetOrSize, flag, entryListOut, ListPack);
}

PLUGIN_EXPORT ResultCode WINAPI GetFileInfo(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName,
                                            uint32_t flag, ArchiveEntryInfo* entryInfo) {
  return FindArchiveEntry(source, offsetOrSize, entryName, flag, entryInfo, ListPack);
}

PLUGIN_EXPORT ResultCode WINAPI GetFile(LPCSTR source, intptr_t offsetOrSize, LPSTR destination,
                                        uint32_t flag, ProgressCallback progress, intptr_t userData) {
  // The locator leaves the entry's data start here for the copier.
  const uint8_t* entryContext = nullptr;
  return ExtractionFrame(source, offsetOrSize, destination, flag, progress, userData,
                         LocatePackEntryForExtraction, CopyPackEntry, &entryContext);
}
