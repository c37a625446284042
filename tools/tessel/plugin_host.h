// Loading plug-ins as the viewer does: every library in one directory that
// answers GetPluginInfo, reached only through its exports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_api.h"

// The kind codes of the host's two plug-in interfaces.
constexpr const char* ImagePluginKind = "00IN";
constexpr const char* ArchivePluginKind = "00AM";

// The first bytes of a file that IsSupported looks at, as viewers hand them.
constexpr size_t ProbeHeaderLength = 2048;

struct Plugin {
  std::string fileName;  // the library's file name, which names it to the user
  std::string kindCode, description, pattern, typeName;
  HMODULE module = nullptr;
  GetPluginInfoFn getPluginInfo = nullptr;
  IsSupportedFn isSupported = nullptr;
  GetPictureInfoFn getPictureInfo = nullptr;
  GetPictureFn getPicture = nullptr;
  GetArchiveInfoFn getArchiveInfo = nullptr;
  GetFileInfoFn getFileInfo = nullptr;
  GetFileFn getFile = nullptr;

  // An image plug-in with the exports tessel calls.
  bool IsImage() const;
  bool IsArchive() const;
};

enum class PluginRole { Any, Image, Archive };

class PluginHost {
 public:
  PluginHost() = default;
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Loads every plug-in library of the directory, in file-name order (Linux:
  // lib*.so but our platform library; Windows: *.dll). Libraries that do not
  // load or have no GetPluginInfo are skipped, with a note in skipped(). False
  // when the directory cannot be read.
  bool LoadDirectory(const std::string& directory, std::string* error);

  const std::vector<std::unique_ptr<Plugin>>& plugins() const { return plugins_; }
  const std::vector<std::string>& skipped() const { return skipped_; }

  // The first plug-in of the role whose IsSupported accepts the header.
  const Plugin* FindFor(const std::string& path, const std::vector<uint8_t>& header,
                        PluginRole role) const;

 private:
  std::vector<std::unique_ptr<Plugin>> plugins_;
  std::vector<std::string> skipped_;
};

// A movable block that a plug-in handed over with ResultOk, now ours: unlocked
// and freed when it goes, read only within the size the allocator reports.
class ReceivedBlock {
 public:
  explicit ReceivedBlock(HLOCAL handle) : handle_(handle) {}
  ~ReceivedBlock();
  ReceivedBlock(const ReceivedBlock&) = delete;
  ReceivedBlock& operator=(const ReceivedBlock&) = delete;

  // Locks the block. False when there is none or it cannot be locked; an
  // empty block gives true, size 0 and no bytes.
  bool Lock();
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  HLOCAL handle_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool locked_ = false;
};

// The directory tessel's executable lies in.
std::string ExecutableDirectory();

// Reads the file's first ProbeHeaderLength bytes, zero-padded, as a viewer
// hands them to IsSupported.
bool ReadProbeHeader(const std::string& path, std::vector<uint8_t>* header, std::string* error);

// Asks one plug-in's IsSupported about a header from ReadProbeHeader.
int32_t AskIsSupported(const Plugin& plugin, const std::string& path,
                       const std::vector<uint8_t>& header);

// "GetPicture answered ResultBadData (3): <meaning>", for error lines.
std::string DescribeResult(const char* exportName, ResultCode code);

// A name from a plug-in made safe to print on a terminal: bytes that are not
// printable ASCII become \xNN.
std::string Printable(const std::string& text);

// A path as a plug-in wants it for a directory it creates: absolute, in
// Windows form (backslash separators), in the ANSI code page.
std::string PluginDirectoryPath(const std::string& path);
