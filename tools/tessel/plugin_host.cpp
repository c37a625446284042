#include "plugin_host.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "file_io.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Export addresses come back untyped; void (*)() converts to any function
// pointer type without a cast warning.
template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

bool IsPluginFileName(const std::string& name) {
#ifdef _WIN32
  if (name.size() < 5) return false;
  std::string extension = name.substr(name.size() - 4);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".dll";
#else
  // Our platform library sits beside the plug-ins but is none.
  return name.size() > 6 && name.compare(0, 3, "lib") == 0 &&
         name.compare(name.size() - 3, 3, ".so") == 0 && name != "libwinsvc.so";
#endif
}

std::string IdentityString(const Plugin& plugin, int32_t index) {
  char buffer[256] = {};
  plugin.getPluginInfo(index, buffer, static_cast<int32_t>(sizeof buffer));
  // Trust the terminator we can see, not the count the plug-in answers.
  return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

bool HasKind(const Plugin& plugin, const char* kind) { return plugin.kindCode == kind; }

}  // namespace

bool Plugin::IsImage() const {
  return HasKind(*this, ImagePluginKind) && isSupported != nullptr && getPictureInfo != nullptr &&
         getPicture != nullptr;
}

bool Plugin::IsArchive() const {
  return HasKind(*this, ArchivePluginKind) && isSupported != nullptr && getArchiveInfo != nullptr &&
         getFileInfo != nullptr && getFile != nullptr;
}

PluginHost::~PluginHost() {
  for (auto& plugin : plugins_) FreeLibrary(plugin->module);
}

bool PluginHost::LoadDirectory(const std::string& directory, std::string* error) {
  std::error_code ec;
  std::vector<fs::path> candidates;
  for (fs::directory_iterator it(fs::path(directory), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (it->is_regular_file(typeError) && IsPluginFileName(it->path().filename().string())) {
      candidates.push_back(it->path());
    }
  }
  if (ec) {
    *error = "cannot read the plug-in directory " + directory + ": " + ec.message();
    return false;
  }
  std::sort(candidates.begin(), candidates.end());

  for (const fs::path& candidate : candidates) {
    const std::string path = fs::absolute(candidate, ec).string();
    const std::string fileName = candidate.filename().string();
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
      skipped_.push_back(fileName + ": cannot be loaded");
      continue;
    }
    auto plugin = std::make_unique<Plugin>();
    plugin->fileName = fileName;
    plugin->module = module;
    plugin->getPluginInfo = Export<GetPluginInfoFn>(module, "GetPluginInfo");
    if (plugin->getPluginInfo == nullptr) {
      skipped_.push_back(fileName + ": no GetPluginInfo, not a plug-in");
      FreeLibrary(module);
      continue;
    }
    plugin->isSupported = Export<IsSupportedFn>(module, "IsSupported");
    plugin->getPictureInfo = Export<GetPictureInfoFn>(module, "GetPictureInfo");
    plugin->getPicture = Export<GetPictureFn>(module, "GetPicture");
    plugin->getArchiveInfo = Export<GetArchiveInfoFn>(module, "GetArchiveInfo");
    plugin->getFileInfo = Export<GetFileInfoFn>(module, "GetFileInfo");
    plugin->getFile = Export<GetFileFn>(module, "GetFile");
    plugin->kindCode = IdentityString(*plugin, 0);
    plugin->description = IdentityString(*plugin, 1);
    plugin->pattern = IdentityString(*plugin, 2);
    plugin->typeName = IdentityString(*plugin, 3);
    plugins_.push_back(std::move(plugin));
  }
  return true;
}

const Plugin* PluginHost::FindFor(const std::string& path, const std::vector<uint8_t>& header,
                                  PluginRole role) const {
  for (const auto& plugin : plugins_) {
    if (role == PluginRole::Image && !plugin->IsImage()) continue;
    if (role == PluginRole::Archive && !plugin->IsArchive()) continue;
    if (plugin->isSupported != nullptr && AskIsSupported(*plugin, path, header) != 0) {
      return plugin.get();
    }
  }
  return nullptr;
}

ReceivedBlock::~ReceivedBlock() {
  if (locked_) LocalUnlock(handle_);
  if (handle_ != nullptr) LocalFree(handle_);
}

bool ReceivedBlock::Lock() {
  if (handle_ == nullptr) return false;
  if (locked_) return true;
  size_ = LocalSize(handle_);
  if (size_ == 0) return true;
  data_ = static_cast<const uint8_t*>(LocalLock(handle_));
  locked_ = data_ != nullptr;
  if (!locked_) size_ = 0;
  return locked_;
}

std::string ExecutableDirectory() {
#ifdef _WIN32
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ".";
  return fs::path(std::string(buffer, length)).parent_path().string();
#else
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
#endif
}

bool ReadProbeHeader(const std::string& path, std::vector<uint8_t>* header, std::string* error) {
  if (!ReadFileStart(path, ProbeHeaderLength, header, error)) return false;
  header->resize(ProbeHeaderLength, 0);
  return true;
}

int32_t AskIsSupported(const Plugin& plugin, const std::string& path,
                       const std::vector<uint8_t>& header) {
  // A heap address always has bits above the low 16 set, so the plug-in takes
  // it for an address, not for a file handle.
  return plugin.isSupported(path.c_str(), reinterpret_cast<UINT_PTR>(header.data()));
}

std::string DescribeResult(const char* exportName, ResultCode code) {
  return std::string(exportName) + " answered " + ResultCodeName(code) + " (" +
         std::to_string(code) + "): " + ResultCodeMeaning(code);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string PluginDirectoryPath(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(path), ec);
  if (ec) absolute = fs::path(path);
  std::string windowsForm = absolute.lexically_normal().string();
  std::replace(windowsForm.begin(), windowsForm.end(), '/', '\\');
  return windowsForm;
}
