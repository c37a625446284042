// A test directory whose files are named in Windows form as well
// ("C:\tmp\x\name"), so that every by-name call also goes through the path
// conversion, with their contents as text.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

class ScratchDir {
 public:
  // POSIX path of `name` inside the directory (the directory itself when empty).
  std::string Posix(const std::string& name = "") const {
    return name.empty() ? dir_.path().string() : dir_.File(name);
  }
  // The same path in Windows form, with a drive prefix.
  std::string Windows(const std::string& name = "") const {
    std::string path = "C:" + Posix(name);
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }
  void WriteFile(const std::string& name, const std::string& text) const {
    dir_.Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  // The file's bytes; "<missing>" when there is no such file.
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Posix(name), std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  TempDir dir_;
};
