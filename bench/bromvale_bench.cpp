// How fast Bromvale extracts a large entry, next to what the machine does
// with the same bytes without it, and how listing time grows with the count.
//
// One pack with a single entry of 256 MiB (32 MiB with --quick) is written
// with WritePack and its page cache warmed. Then, each repeated and the
// median taken:
// - GetFile to memory, next to a memcpy of as many bytes into a freshly
//   allocated buffer (the extraction's block is fresh memory too);
// - GetFile to a folder, next to /bin/cp of a file of the same size into the
//   same folder (each output removed, untimed, before the next run).
// GetArchiveInfo is timed on packs of 1,000, 10,000 and 65,535 records; its
// time per entry should stay flat. GetFile of the last entry of each shows
// the cost of finding the catalogue start from a record.
//
// Bromvale is loaded as a host loads it; blocks it hands over are freed with
// LocalFree. Temporary files are removed at the end.
//
// Usage: bromvale_bench [--quick] [--plugins DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "host/plugin_api.h"
#include "writers/pack_writer.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  bool quick = false;
  std::string plugins = TESSEL_PLUGIN_DIR;
};

// The services take paths with backslashes.
std::string ServicePath(const fs::path& path) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The median of repeated runs; prepare runs untimed before each.
double Median(int runs, const std::function<void()>& work,
              const std::function<void()>& prepare = [] {}) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    prepare();
    times.push_back(Seconds(work));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

bool WriteDataFile(const fs::path& path, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + (i >> 12));
  for (size_t written = 0; written < size; written += chunk.size()) {
    out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - written)));
  }
  return static_cast<bool>(out);
}

void WarmPageCache(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chunk(1 << 20);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
  }
}

void PrintRate(const char* what, double seconds, size_t bytes) {
  std::printf("  %-34s %9.4f s  %7.2f GB/s\n", what, seconds, bytes / seconds / 1e9);
}

struct Bromvale {
  HMODULE module = nullptr;
  GetArchiveInfoFn getArchiveInfo = nullptr;
  GetFileFn getFile = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--plugins" && i + 1 < argc) {
      options.plugins = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--plugins DIR]\n", argv[0]);
      return 2;
    }
  }

  Bromvale bromvale;
  const std::string library = options.plugins + "/libbromvale.so";
  bromvale.module = LoadLibraryA(library.c_str());
  if (bromvale.module == nullptr) {
    std::fprintf(stderr, "bromvale_bench: cannot load %s\n", library.c_str());
    return 1;
  }
  bromvale.getArchiveInfo =
      reinterpret_cast<GetArchiveInfoFn>(GetProcAddress(bromvale.module, "GetArchiveInfo"));
  bromvale.getFile = reinterpret_cast<GetFileFn>(GetProcAddress(bromvale.module, "GetFile"));
  if (bromvale.getArchiveInfo == nullptr || bromvale.getFile == nullptr) {
    std::fprintf(stderr, "bromvale_bench: %s lacks its exports\n", library.c_str());
    return 1;
  }

  std::error_code error;
  const fs::path scratch = fs::temp_directory_path() / ("bromvale-bench-" + std::to_string(getpid()));
  fs::create_directories(scratch / "out", error);
  if (error) {
    std::fprintf(stderr, "bromvale_bench: cannot create %s\n", scratch.string().c_str());
    return 1;
  }
  int status = 0;
  const int runs = options.quick ? 3 : 7;
  const size_t entrySize = (options.quick ? 32u : 256u) << 20;

  // The large entry: a data file, and a layout-2 pack holding it (layout 1
  // needs three entries to be recognised).
  const fs::path dataPath = scratch / "data.bin";
  const fs::path packPath = scratch / "big.pak";
  std::string why;
  if (!WriteDataFile(dataPath, entrySize) ||
      !WritePack(packPath.string(), {{"BIG.BIN", dataPath.string(), {}}}, 2, &why)) {
    std::fprintf(stderr, "bromvale_bench: cannot write the pack: %s\n", why.c_str());
    fs::remove_all(scratch, error);
    return 1;
  }
  WarmPageCache(packPath);
  WarmPageCache(dataPath);
  const std::string packName = ServicePath(packPath);
  const std::string outDir = ServicePath(scratch / "out");
  const intptr_t position = 4;  // the entry's location record in layout 2
  std::printf("Extraction of one %zu MiB entry, median of %d runs\n", entrySize >> 20, runs);

  bool extracted = true;
  const double toMemory = Median(runs, [&] {
    HLOCAL block = nullptr;
    extracted = extracted && bromvale.getFile(packName.c_str(), position,
                                              reinterpret_cast<LPSTR>(&block), 0x100, nullptr,
                                              0) == ResultOk;
    LocalFree(block);
  });
  std::vector<uint8_t> source(entrySize, 1);
  const double copyInMemory = Median(runs, [&] {
    std::unique_ptr<uint8_t[]> target(new uint8_t[entrySize]);
    std::memcpy(target.get(), source.data(), entrySize);
    // Keep the copy from being optimised away.
    extracted = extracted && target[entrySize - 1] == 1;
  });
  const fs::path extractedFile = scratch / "out" / "BIG.BIN";
  const fs::path copiedFile = scratch / "out" / "copy.bin";
  const double toFolder = Median(
      runs,
      [&] {
        std::string destination = outDir;
        extracted = extracted && bromvale.getFile(packName.c_str(), position, &destination[0], 0,
                                                  nullptr, 0) == ResultOk;
      },
      [&] { fs::remove(extractedFile, error); });
  const std::string cp = "/bin/cp '" + dataPath.string() + "' '" + copiedFile.string() + "'";
  const double withCp = Median(
      runs, [&] { extracted = extracted && std::system(cp.c_str()) == 0; },
      [&] { fs::remove(copiedFile, error); });
  if (!extracted || fs::file_size(extractedFile, error) != entrySize) {
    std::fprintf(stderr, "bromvale_bench: an extraction or a copy failed\n");
    status = 1;
  }

  PrintRate("GetFile to memory", toMemory, entrySize);
  PrintRate("memcpy into a fresh buffer", copyInMemory, entrySize);
  PrintRate("GetFile to a folder", toFolder, entrySize);
  PrintRate("/bin/cp", withCp, entrySize);
  std::printf("  ratio extract-to-memory / memcpy:  %.2f\n", toMemory / copyInMemory);
  std::printf("  ratio extract-to-folder / cp:      %.2f\n", toFolder / withCp);
  fs::remove(packPath, error);
  fs::remove(dataPath, error);
  fs::remove(extractedFile, error);
  fs::remove(copiedFile, error);

  // Listing: one-byte entries, so that the catalogue is nearly all of it.
  std::printf("\nGetArchiveInfo by catalogue size, median of %d runs\n", runs * 3);
  for (size_t records : {size_t{1000}, size_t{10000}, size_t{65535}}) {
    std::vector<PackEntrySource> entries(records - 1);
    char name[16];
    for (size_t i = 0; i < entries.size(); ++i) {
      std::snprintf(name, sizeof name, "F%07u.BIN", static_cast<unsigned>(i));
      entries[i].name = name;
      entries[i].data = {static_cast<uint8_t>(i)};
    }
    const fs::path listPath = scratch / "list.pak";
    if (!WritePack(listPath.string(), entries, 1, &why)) {
      std::fprintf(stderr, "bromvale_bench: cannot write a pack of %zu records: %s\n", records,
                   why.c_str());
      status = 1;
      continue;
    }
    WarmPageCache(listPath);
    const std::string listName = ServicePath(listPath);
    bool listed = true;
    const double seconds = Median(runs * 3, [&] {
      HLOCAL list = nullptr;
      listed = listed && bromvale.getArchiveInfo(listName.c_str(), 0, 0, &list) == ResultOk &&
               LocalSize(list) == (entries.size() + 2) * sizeof(ArchiveEntryInfo);
      LocalFree(list);
    });
    // The floor under a listing: the list's block allocated and grown to its
    // final size as the listing grows it (zero-filled, movable), and every
    // byte of it written once.
    const size_t listBytes = (entries.size() + 2) * sizeof(ArchiveEntryInfo);
    const double blockOnly = Median(runs * 3, [&] {
      HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 2 * sizeof(ArchiveEntryInfo));
      block = LocalReAlloc(block, listBytes, LMEM_MOVEABLE | LMEM_ZEROINIT);
      auto* bytes = static_cast<uint8_t*>(LocalLock(block));
      std::memset(bytes, 1, listBytes);
      LocalUnlock(block);
      LocalFree(block);
    });
    // Extracting the last entry walks back over every record to find the
    // catalogue start.
    const intptr_t lastPosition = static_cast<intptr_t>(2 + 16 * (entries.size() - 1));
    const double last = Median(runs * 3, [&] {
      HLOCAL block = nullptr;
      listed = listed && bromvale.getFile(listName.c_str(), lastPosition,
                                          reinterpret_cast<LPSTR>(&block), 0x100, nullptr,
                                          0) == ResultOk;
      LocalFree(block);
    });
    if (!listed) {
      std::fprintf(stderr, "bromvale_bench: listing or extracting %zu records failed\n", records);
      status = 1;
    }
    const double perEntry = static_cast<double>(entries.size());
    std::printf("  %6zu records  list %8.3f ms  %6.1f ns/entry  (block alone %6.1f ns/entry)"
                "  last entry to memory %7.3f ms\n",
                records, seconds * 1e3, seconds / perEntry * 1e9, blockOnly / perEntry * 1e9,
                last * 1e3);
    fs::remove(listPath, error);
  }

  fs::remove_all(scratch, error);
  FreeLibrary(bromvale.module);
  return status;
}
