#include "frame/plugin_identity.h"

#include <cstring>

int32_t CopyPluginInfo(const PluginInfoTable& table, int32_t infoIndex, LPSTR buffer,
                       int32_t bufferLength) {
  if (infoIndex < 0 || infoIndex > 3 || bufferLength < 1) return 0;
  const char* const strings[4] = {table.kindCode, table.description, table.pattern,
                                  table.typeName};
  const char* s = strings[infoIndex];
  const int32_t length = static_cast<int32_t>(std::strlen(s));
  // lstrcpynA copies at most bufferLength - 1 characters and always adds the
  // NUL; it answers null for a destination it cannot write.
  if (lstrcpynA(buffer, s, bufferLength) == nullptr) return 0;
  return length < bufferLength ? length : bufferLength - 1;
}
