#include "file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <process.h>
#define TesselProcessId _getpid
#else
#include <unistd.h>
#define TesselProcessId getpid
#endif

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string SystemReason() { return std::strerror(errno); }

// Opens a file for reading with a reason that names what is wrong with it.
FilePtr OpenForReading(const std::string& path, std::string* error) {
  std::error_code ec;
  if (fs::is_directory(fs::path(path), ec)) {
    *error = path + ": is a directory";
    return nullptr;
  }
  errno = 0;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) *error = path + ": cannot open: " + SystemReason();
  return file;
}

bool ReadUpTo(std::FILE* file, const std::string& path, size_t limit, std::vector<uint8_t>* bytes,
              std::string* error) {
  bytes->clear();
  uint8_t buffer[1 << 16];
  while (bytes->size() < limit) {
    const size_t want = std::min(sizeof buffer, limit - bytes->size());
    const size_t got = std::fread(buffer, 1, want, file);
    bytes->insert(bytes->end(), buffer, buffer + got);
    if (got < want) {
      if (std::ferror(file)) {
        *error = path + ": cannot read: " + SystemReason();
        return false;
      }
      break;
    }
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  FilePtr file = OpenForReading(path, error);
  return file && ReadUpTo(file.get(), path, bytes->max_size(), bytes, error);
}

bool ReadFileStart(const std::string& path, size_t limit, std::vector<uint8_t>* bytes,
                   std::string* error) {
  FilePtr file = OpenForReading(path, error);
  return file && ReadUpTo(file.get(), path, limit, bytes, error);
}

bool WriteFileReplacing(const std::string& path, const std::vector<OutputPart>& parts,
                        std::string* error) {
  // Unique per process and per call, so that parallel jobs and parallel runs
  // never share a temporary file.
  static std::atomic<unsigned> serial{0};
  const std::string temporary = path + ".tessel-" + std::to_string(TesselProcessId()) + "-" +
                                std::to_string(serial++) + ".tmp";
  errno = 0;
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *error = path + ": cannot create: " + SystemReason();
    return false;
  }
  bool written = true;
  for (const OutputPart& part : parts) {
    if (part.size != 0 && std::fwrite(part.data, 1, part.size, file) != part.size) {
      written = false;
      break;
    }
  }
  written = std::fflush(file) == 0 && written;
  const std::string reason = SystemReason();
  written = std::fclose(file) == 0 && written;
  std::error_code ec;
  if (!written) {
    fs::remove(fs::path(temporary), ec);
    *error = path + ": cannot write: " + reason;
    return false;
  }
  fs::rename(fs::path(temporary), fs::path(path), ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(fs::path(temporary), ignored);
    *error = path + ": cannot write: " + ec.message();
    return false;
  }
  return true;
}
