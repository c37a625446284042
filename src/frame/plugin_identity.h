// The four identity strings a plug-in reports through GetPluginInfo.
#pragma once

#include <cstdint>

#include "platform/win32_api.h"

struct PluginInfoTable {
  const char* kindCode;     // which of the host's plug-in interfaces
  const char* description;  // one line shown to the user
  const char* pattern;      // file-name pattern of the one format handled
  const char* typeName;     // display name of that format
};

// GetPluginInfo: copies string infoIndex (0 to 3) into buffer, cut to
// bufferLength - 1 bytes and always terminated. Returns the bytes copied
// without the NUL, or 0 for an index out of range, a buffer that cannot be
// written or a bufferLength below 1 (nothing is written then).
int32_t CopyPluginInfo(const PluginInfoTable& table, int32_t infoIndex, LPSTR buffer,
                       int32_t bufferLength);
