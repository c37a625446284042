// A plug-in library loaded by file name, as the viewer loads it, with its
// exports looked up by name.
#pragma once

#include <string>

#include "host/plugin_api.h"

class PluginLibrary {
 public:
  // base is "Bromvale" or "Pelko"; the file is looked up in the directory
  // the build puts the plug-ins in.
  explicit PluginLibrary(const std::string& base);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& file() const { return file_; }

  template <typename Fn>
  Fn Export(const char* name) const {
    // Through a plain address: FARPROC's own signature says nothing here.
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module_), name)));
  }

 private:
  std::string file_;
  void* module_ = nullptr;
};

// The file name of a plug-in in this build: Bromvale.dll on Windows,
// libbromvale.so on Linux.
std::string PluginFileName(const std::string& base);
