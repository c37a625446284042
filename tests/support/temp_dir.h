// A fresh directory under the system's temporary directory, removed with its
// contents when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of name inside the directory, as a string the services take.
  std::string File(const std::string& name) const;
  // Writes bytes to name inside the directory and gives its path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
