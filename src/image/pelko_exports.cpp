// The exports of the image plug-in: thin shells that hand the KZX operations
// to the picture frame.
#include "frame/export_api.h"
#include "frame/input_source.h"
#include "frame/plugin_identity.h"

namespace {

const PluginInfoTable kPelkoInfo = {"00IN", "KZX to DIB filter ver0.01", "*.kzx", "KZX"};

int32_t TestKzxHeaderStub(const uint8_t*) { return 0; }
ResultCode PictureOperationStub(const InputView&, void*) { return ResultBadData; }

}  // namespace

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, LPSTR buffer, int32_t bufferLength) {
  return CopyPluginInfo(kPelkoInfo, infoIndex, buffer, bufferLength);
}

PLUGIN_EXPORT int32_t WINAPI IsSupported(LPCSTR /*filePath*/, UINT_PTR headerSource) {
  return HeaderProbe(headerSource, TestKzxHeaderStub, 26);
}

PLUGIN_EXPORT ResultCode WINAPI GetPictureInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                               void* pictureInfo) {
  (void)pictureInfo;
  return DispatchInput(source, offsetOrSize, flag, PictureOperationStub, nullptr);
}

PLUGIN_EXPORT ResultCode WINAPI GetPicture(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                           HLOCAL* bitmapInfoOut, HLOCAL* bitsOut,
                                           ProgressCallback progress, intptr_t userData) {
  (void)bitmapInfoOut;
  (void)bitsOut;
  if (ProgressAsksToStop(progress, 0, 1, userData)) return ResultCancelled;
  const ResultCode result = DispatchInput(source, offsetOrSize, flag, PictureOperationStub, nullptr);
  if (result == ResultOk) ProgressAsksToStop(progress, 1, 1, userData);
  return result;
}

PLUGIN_EXPORT ResultCode WINAPI GetPreview(LPCSTR, intptr_t, uint32_t, HLOCAL*, HLOCAL*,
                                           ProgressCallback, intptr_t) {
  return ResultNotImplemented;
}
