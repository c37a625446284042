// What the extraction tests share: paths in the form the services take, a
// progress callback that records its calls, and the directory's listing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "frame/host_interface.h"

// Paths as the services take them: backslash separators (our Linux services
// turn them back into slashes).
inline std::string ServicePath(const std::filesystem::path& path) {
  std::string text = path.string();
#ifndef _WIN32
  std::replace(text.begin(), text.end(), '/', '\\');
#endif
  return text;
}

inline std::filesystem::path FilesystemPath(std::string servicePath) {
#ifndef _WIN32
  std::replace(servicePath.begin(), servicePath.end(), '\\', '/');
#endif
  return servicePath;
}

// The progress calls an extraction made, and how to answer them.
struct ProgressLog {
  std::vector<std::pair<int32_t, int32_t>> calls;
  size_t stopAtCall = SIZE_MAX;      // answer nonzero to this call (0-based)
  size_t actionAtCall = SIZE_MAX;    // run action during this call
  std::function<void()> action;
};

inline int32_t WINAPI RecordProgress(int32_t position, int32_t total, intptr_t userData) {
  ProgressLog* log = reinterpret_cast<ProgressLog*>(userData);
  const size_t index = log->calls.size();
  log->calls.emplace_back(position, total);
  if (index == log->actionAtCall && log->action) log->action();
  return index == log->stopAtCall ? 1 : 0;
}

typedef std::vector<std::pair<int32_t, int32_t>> Calls;

// The progress calls that a whole copy of size bytes makes, between the
// opening and the closing call.
inline Calls CopyCalls(int32_t size) {
  Calls calls{{0, 1}};
  for (int32_t done = 1024; done <= size; done += 1024) calls.emplace_back(done, size);
  calls.emplace_back(1, 1);
  return calls;
}

// The names in a directory, sorted.
inline std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(dir, error)) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}
