#include "support/plugin_library.h"

#include <algorithm>
#include <cctype>

#include "platform/win32_api.h"

std::string PluginFileName(const std::string& base) {
#ifdef _WIN32
  return base + ".dll";
#else
  std::string lower = base;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "lib" + lower + ".so";
#endif
}

PluginLibrary::PluginLibrary(const std::string& base)
    : file_(std::string(TESSEL_PLUGIN_DIR) + "/" + PluginFileName(base)) {
  module_ = LoadLibraryA(file_.c_str());
}

PluginLibrary::~PluginLibrary() {
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(module_));
}
