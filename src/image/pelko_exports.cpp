// The exports of the image plug-in: thin shells that hand the KZX operations
// to the picture frame.
#include "frame/export_api.h"
#include "frame/input_source.h"
#include "frame/plugin_identity.h"
#include "image/kzx_format.h"
#include "image/picture_frame.h"

namespace {

const PluginInfoTable kPelkoInfo = {"00IN", "KZX to DIB filter ver0.01", "*.kzx", "KZX"};

const PictureOperations kKzxOperations = {FillPictureInfo, DecodePixels, FillPalette};

}  // namespace

PLUGIN_EXPORT int32_t WINAPI GetPluginInfo(int32_t infoIndex, LPSTR buffer, int32_t bufferLength) {
  return CopyPluginInfo(kPelkoInfo, infoIndex, buffer, bufferLength);
}

PLUGIN_EXPORT int32_t WINAPI IsSupported(LPCSTR /*filePath*/, UINT_PTR headerSource) {
  return HeaderProbe(headerSource, TestKzxHeader, static_cast<int32_t>(KzxHeaderSize));
}

PLUGIN_EXPORT ResultCode WINAPI GetPictureInfo(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                               PictureInfo* pictureInfo) {
  return ReportPictureInfo(kKzxOperations, source, offsetOrSize, flag, pictureInfo);
}

PLUGIN_EXPORT ResultCode WINAPI GetPicture(LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                                           HLOCAL* bitmapInfoOut, HLOCAL* bitsOut,
                                           ProgressCallback progress, intptr_t userData) {
  return BuildPicture(kKzxOperations, source, offsetOrSize, flag, bitmapInfoOut, bitsOut, progress,
                      userData);
}

PLUGIN_EXPORT ResultCode WINAPI GetPreview(LPCSTR, intptr_t, uint32_t, HLOCAL*, HLOCAL*,
                                           ProgressCallback, intptr_t) {
  return ResultNotImplemented;
}
