// The exports of the archive plug-in: thin shells that hand the pack
// operations to the frames.
#include "frame/export_api.h"
#include "frame/input_source.h"
#include "frame/plugin_identity.h"

namespace {

const PluginInfoTable kBromvaleInfo = {"00AM", "Bromvale - Tessel extract library ver0.01", "*.PAK",
                                       "PAK"};

int32_t DetectPackLayoutStub(const uint8_t*) { return 0; }
ResultCode PackOperationStub(const InputView&, void*) { return ResultBadData; }

}  // namespace

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, LPSTR buffer, int32_t bufferLength) {
  return CopyPluginInfo(kBromvaleInfo, infoIndex, buffer, bufferLength);
}

PLUGIN_EXPORT int32_t WINAPI IsSupported(LPCSTR /*filePath*/, UINT_PTR headerSource) {
  return HeaderProbe(headerSource, DetectPackLayoutStub, 66);
}

PLUGIN_EXPORT ResultCode WINAPI GetArchiveInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                               HLOCAL* entryListOut) {
  (void)entryListOut;
  return DispatchInput(source, offsetOrSize, flag, PackOperationStub, nullptr);
}

PLUGIN_EXPORT ResultCode WINAPI GetFileInfo(LPCSTR source, intptr_t offsetOrSize, LPCSTR entryName,
                                            uint32_t flag, void* entryInfo) {
  (void)entryName;
  (void)entryInfo;
  return DispatchInput(source, offsetOrSize, flag, PackOperationStub, nullptr);
}

PLUGIN_EXPORT ResultCode WINAPI GetFile(LPCSTR source, intptr_t offsetOrSize, LPSTR destination,
                                        uint32_t flag, ProgressCallback progress, intptr_t userData) {
  (void)destination;
  if (ProgressAsksToStop(progress, 0, 1, userData)) return ResultCancelled;
  const ResultCode result = DispatchInput(source, offsetOrSize, flag, PackOperationStub, nullptr);
  ProgressAsksToStop(progress, 1, 1, userData);
  return result;
}
