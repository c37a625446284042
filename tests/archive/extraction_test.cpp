// GetFile as the host sees it, through the loaded plug-in, and the parts of
// the extraction frame that no well-formed pack reaches.
#include "archive/extraction.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/extraction_fixture.h"
#include "archive/pack_fixture.h"
#include "host/plugin_api.h"
#include "support/guarded_buffer.h"
#include "support/plugin_library.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFileInput = 0;
constexpr uint32_t kMemoryInput = 1;
constexpr uint32_t kToDirectory = 0;
constexpr uint32_t kToMemory = 0x100;

std::vector<uint8_t> BlockBytes(HLOCAL block) {
  const size_t size = LocalSize(block);
  if (size == 0) return {};
  const auto* bytes = static_cast<const uint8_t*>(LocalLock(block));
  std::vector<uint8_t> copy(bytes, bytes + size);
  LocalUnlock(block);
  return copy;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path.string());
  return std::string(bytes.begin(), bytes.end());
}

class BromvaleExtraction : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded()) << plugin_.file();
    getFile_ = plugin_.Export<GetFileFn>("GetFile");
    ASSERT_NE(getFile_, nullptr);
  }

  // A pack file of the given entries, at the start of its file.
  std::string PackFile(int layout, const std::vector<FixtureEntry>& entries,
                       const std::string& name = "pack.pak") {
    return temp_.Write(name, MakePack(layout, entries));
  }

  ResultCode Extract(LPCSTR source, intptr_t offsetOrSize, void* destination, uint32_t flag,
                     ProgressLog* log) {
    return getFile_(source, offsetOrSize, static_cast<LPSTR>(destination), flag,
                    log != nullptr ? RecordProgress : nullptr, reinterpret_cast<intptr_t>(log));
  }

  PluginLibrary plugin_{"Bromvale"};
  GetFileFn getFile_ = nullptr;
  TempDir temp_;
};

// Every path of a whole copy: both inputs, both outputs, sizes around the
// progress step, with and without a callback.
TEST_F(BromvaleExtraction, CopiesEveryEntryWithItsProgressCalls) {
  const std::vector<FixtureEntry> entries = {{"STEPS   BIN", Pattern(2 * 1024 + 452, 1)},
                                             {"EXACT   BIN", Pattern(2048, 2)},
                                             {"SMALL   BIN", Pattern(1000, 3)},
                                             {"EMPTY   BIN", {}},
                                             {"ONE     BIN", Pattern(1, 4)}};
  const char* names[] = {"STEPS.BIN", "EXACT.BIN", "SMALL.BIN", "EMPTY.BIN", "ONE.BIN"};
  for (int layout : {1, 2}) {
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    const std::string packPath = temp_.Write("p" + std::to_string(layout) + ".pak", pack);
    GuardedBuffer memory(pack);
    for (size_t i = 0; i < entries.size(); ++i) {
      const uint32_t position = PackPosition(layout, i);
      const int32_t size = static_cast<int32_t>(entries[i].data.size());
      for (uint32_t input : {kFileInput, kMemoryInput}) {
        const LPCSTR source = input == kFileInput
                                  ? packPath.c_str()
                                  : reinterpret_cast<LPCSTR>(memory.data() + position);
        const intptr_t offsetOrSize =
            input == kFileInput ? position : static_cast<intptr_t>(pack.size() - position);
        for (bool withProgress : {true, false}) {
          SCOPED_TRACE(std::string(names[i]) + " layout " + std::to_string(layout) + " input " +
                       std::to_string(input) + (withProgress ? " with progress" : ""));
          ProgressLog log;
          ProgressLog* logged = withProgress ? &log : nullptr;

          HLOCAL block = nullptr;
          ASSERT_EQ(Extract(source, offsetOrSize, &block, input | kToMemory, logged), ResultOk);
          ASSERT_NE(block, nullptr);
          EXPECT_EQ(LocalSize(block), static_cast<size_t>(size));
          EXPECT_EQ(BlockBytes(block), entries[i].data);
          LocalFree(block);
          if (withProgress) {
            EXPECT_EQ(log.calls, CopyCalls(size));
          }

          log.calls.clear();
          const fs::path out = temp_.path() / ("out" + std::to_string(input));
          ASSERT_EQ(Extract(source, offsetOrSize, const_cast<char*>(ServicePath(out).c_str()),
                            input | kToDirectory, logged),
                    ResultOk);
          EXPECT_EQ(ReadFileBytes((out / names[i]).string()), entries[i].data);
          if (withProgress) {
            EXPECT_EQ(log.calls, CopyCalls(size));
          }
        }
      }
    }
  }
}

TEST_F(BromvaleExtraction, ReplacesAnExistingFileWholly) {
  const std::string packPath = PackFile(1, ThreeEntries());
  const fs::path out = temp_.path() / "out";
  fs::create_directory(out);
  WriteText(out / "README.TXT", std::string(5000, 'o'));
  // With and without a trailing backslash: the same file.
  for (const std::string& destination : {ServicePath(out), ServicePath(out) + "\\"}) {
    ASSERT_EQ(Extract(packPath.c_str(), PackPosition(1, 0), const_cast<char*>(destination.c_str()),
                      kToDirectory, nullptr),
              ResultOk);
    EXPECT_EQ(ReadFileBytes((out / "README.TXT").string()), ThreeEntries()[0].data);
    EXPECT_EQ(Listing(out), std::vector<std::string>{"README.TXT"});
  }
}

TEST_F(BromvaleExtraction, RefusesWhatCannotBeWrittenAndChangesNothing) {
  const std::string packPath = PackFile(1, ThreeEntries());
  const fs::path out = temp_.path() / "out";
  fs::create_directory(out);
  WriteText(out / "README.TXT", "keep me");
  fs::permissions(out / "README.TXT", fs::perms::owner_read | fs::perms::group_read |
                                          fs::perms::others_read);
  fs::create_directory(out / "MAKEFILE");  // a directory of the entry's name
  const std::string destination = ServicePath(out);
  for (size_t entry : {0, 1}) {
    ProgressLog log;
    EXPECT_EQ(Extract(packPath.c_str(), PackPosition(1, entry),
                      const_cast<char*>(destination.c_str()), kToDirectory, &log),
              ResultWriteError)
        << entry;
    EXPECT_EQ(log.calls, (Calls{{0, 1}, {1, 1}}));
  }
  EXPECT_EQ(ReadText(out / "README.TXT"), "keep me");
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"MAKEFILE", "README.TXT"}));
}

TEST_F(BromvaleExtraction, CancellingLeavesNoTraceAndTheOldFile) {
  const std::vector<FixtureEntry> entries = ThreeEntries();  // entry 1 has two whole steps
  const std::string packPath = PackFile(2, entries);
  const fs::path out = temp_.path() / "out";
  fs::create_directory(out);
  WriteText(out / "README.TXT", "old");
  const std::string destination = ServicePath(out);

  // Cancelled at the start: nothing opened or created, no closing call.
  {
    const fs::path fresh = temp_.path() / "fresh";
    HLOCAL block = reinterpret_cast<HLOCAL>(0x1234);
    std::string freshPath = ServicePath(fresh);
    void* destinations[] = {&block, &freshPath[0]};
    for (uint32_t output : {kToMemory, kToDirectory}) {
      ProgressLog log;
      log.stopAtCall = 0;
      EXPECT_EQ(Extract(packPath.c_str(), PackPosition(2, 1), destinations[output == kToDirectory],
                        output, &log),
                ResultCancelled);
      EXPECT_EQ(log.calls, (Calls{{0, 1}}));
    }
    EXPECT_EQ(block, reinterpret_cast<HLOCAL>(0x1234));
    EXPECT_FALSE(fs::exists(fresh));
  }
  // Cancelled after the second step.
  const int32_t size = static_cast<int32_t>(entries[1].data.size());
  const Calls cancelled{{0, 1}, {1024, size}, {2048, size}, {1, 1}};
  {
    ProgressLog log;
    log.stopAtCall = 2;
    HLOCAL block = reinterpret_cast<HLOCAL>(0x1234);
    EXPECT_EQ(Extract(packPath.c_str(), PackPosition(2, 1), &block, kToMemory, &log),
              ResultCancelled);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(log.calls, cancelled);
  }
  // In a directory, whether or not a file of the entry's name existed: no
  // temporary file, the old file as it was, and no empty file where there
  // was none.
  for (bool existed : {false, true}) {
    if (existed) WriteText(out / "MAKEFILE", "old makefile");
    ProgressLog log;
    log.stopAtCall = 2;
    EXPECT_EQ(Extract(packPath.c_str(), PackPosition(2, 1), const_cast<char*>(destination.c_str()),
                      kToDirectory, &log),
              ResultCancelled);
    EXPECT_EQ(log.calls, cancelled);
    EXPECT_EQ(Listing(out), existed ? (std::vector<std::string>{"MAKEFILE", "README.TXT"})
                                    : std::vector<std::string>{"README.TXT"});
    if (existed) {
            EXPECT_EQ(ReadText(out / "MAKEFILE"), "old makefile");
          }
  }
  EXPECT_EQ(ReadText(out / "README.TXT"), "old");
}

TEST_F(BromvaleExtraction, ASecondExtractionOfTheSameNameFailsWhileTheFirstWrites) {
  const std::vector<FixtureEntry> entries = ThreeEntries();
  const std::string packPath = PackFile(1, entries);
  const std::string destination = ServicePath(temp_.path() / "out");
  ResultCode second = ResultOk;
  ProgressLog first;
  first.actionAtCall = 1;  // during the copy of the first
  first.action = [&] {
    second = Extract(packPath.c_str(), PackPosition(1, 1), const_cast<char*>(destination.c_str()),
                     kToDirectory, nullptr);
  };
  EXPECT_EQ(Extract(packPath.c_str(), PackPosition(1, 1), const_cast<char*>(destination.c_str()),
                    kToDirectory, &first),
            ResultOk);
  EXPECT_EQ(second, ResultWriteError);
  EXPECT_EQ(ReadFileBytes((temp_.path() / "out" / "MAKEFILE").string()), entries[1].data);
  EXPECT_EQ(Listing(temp_.path() / "out"), std::vector<std::string>{"MAKEFILE"});
}

TEST_F(BromvaleExtraction, RefusesNamesThatLeaveTheDestination) {
  // Layout-2 names pass no name test.
  const char* fields[] = {"..\\..\\EVIL", "C:EVIL     ", "..         ", ".          ",
                          "           ", "A/B        ", "TAB\tX      ", "CON        ",
                          "NUL     TXT"};
  std::vector<FixtureEntry> entries;
  for (const char* field : fields) entries.push_back({field, Pattern(10, 1)});
  const std::string packPath = PackFile(2, entries);
  const fs::path out = temp_.path() / "deep" / "out";
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(fields[i]);
    ProgressLog log;
    EXPECT_EQ(Extract(packPath.c_str(), PackPosition(2, i),
                      const_cast<char*>(ServicePath(out).c_str()), kToDirectory, &log),
              ResultWriteError);
    EXPECT_EQ(log.calls, (Calls{{0, 1}, {1, 1}}));
    // Refused before anything was created, the destination included.
    EXPECT_EQ(Listing(temp_.path()), std::vector<std::string>{"pack.pak"});
    // To memory the name does not matter.
    HLOCAL block = nullptr;
    EXPECT_EQ(Extract(packPath.c_str(), PackPosition(2, i), &block, kToMemory, nullptr), ResultOk);
    LocalFree(block);
  }
}

TEST_F(BromvaleExtraction, ResultsAndProgressCallsOfEachFailure) {
  std::vector<FixtureEntry> entries = ThreeEntries();
  entries.push_back({"ABCDEFGHIJK", Pattern(5, 5)});  // the longest display name
  const std::vector<uint8_t> pack = MakePack(1, entries);
  const std::string packPath = temp_.Write("pack.pak", pack);
  std::vector<uint8_t> pastEnd = pack;  // the last entry's data runs past the end
  pastEnd.resize(pastEnd.size() - 1);
  const std::string pastEndPath = temp_.Write("past.pak", pastEnd);
  const std::string missingPath = temp_.File("missing.pak");
  GuardedBuffer memory(pack);
  const LPCSTR memoryRecord = reinterpret_cast<LPCSTR>(memory.data() + PackPosition(1, 0));
  const intptr_t memoryRest = static_cast<intptr_t>(pack.size() - PackPosition(1, 0));
  const LPCSTR lastRecord = reinterpret_cast<LPCSTR>(memory.data() + PackPosition(1, 3));
  const intptr_t lastRest = static_cast<intptr_t>(pack.size() - PackPosition(1, 3));

  // A destination of 261 characters, and one of up to 248 (what Windows
  // lets CreateDirectoryA make) that with the 12-character name is 260.
  const std::string base = ServicePath(temp_.path());
  const std::string tooLong = base + "\\" + std::string(260 - base.size(), 'L');
  std::string longest = base;
  while (longest.size() < 248) {
    longest += "\\" + std::string(std::min<size_t>(100, 247 - longest.size()), 'd');
  }
  const std::string out = ServicePath(temp_.path() / "out");
  HLOCAL block = reinterpret_cast<HLOCAL>(0x1234);

  const Calls both{{0, 1}, {1, 1}};
  const Calls startOnly{{0, 1}};
  const struct {
    const char* what;
    LPCSTR source;
    intptr_t offsetOrSize;
    void* destination;
    uint32_t flag;
    ResultCode result;
    Calls calls;
  } cases[] = {
      {"input kind 2", packPath.c_str(), 2, &block, 2 | kToMemory, ResultNotImplemented, both},
      {"output kind 2", packPath.c_str(), 2, &block, 0x200, ResultNotImplemented, both},
      {"output kind 7, memory input", memoryRecord, memoryRest, &block, kMemoryInput | 0x700,
       ResultNotImplemented, both},
      {"output kind 2, pack missing", missingPath.c_str(), 2, &block, 0x200, ResultReadError,
       startOnly},
      {"output kind 2, no entry there", packPath.c_str(), 3, &block, 0x200, ResultBadData, both},
      {"pack missing", missingPath.c_str(), 2, &block, kToMemory, ResultReadError, startOnly},
      {"no entry at the offset", packPath.c_str(), 5, &block, kToMemory, ResultBadData, both},
      {"offset past the end", packPath.c_str(), 1 << 20, &block, kToMemory, ResultBadData, both},
      {"memory: no entry there", memoryRecord + 1, memoryRest - 1, &block,
       kMemoryInput | kToMemory, ResultBadData, startOnly},
      {"memory: size past the readable end", memoryRecord, memoryRest + 1, &block,
       kMemoryInput | kToMemory, ResultMemoryError, startOnly},
      {"memory: negative size", memoryRecord, -1, &block, kMemoryInput | kToMemory,
       ResultMemoryError, startOnly},
      // Readable, but past the end of the block the host named.
      {"memory: data past the size given", lastRecord, lastRest - 1, &block,
       kMemoryInput | kToMemory, ResultBadData, startOnly},
      {"data past the end of the pack", pastEndPath.c_str(), PackPosition(1, 3), &block, kToMemory,
       ResultBadData, both},
      {"handle location not writable", packPath.c_str(), 2, nullptr, kToMemory, ResultMemoryError,
       both},
      {"destination of 261 characters", packPath.c_str(), 2, const_cast<char*>(tooLong.c_str()),
       kToDirectory, ResultWriteError, both},
      {"destination and name longer than 259", packPath.c_str(), PackPosition(1, 3),
       const_cast<char*>(longest.c_str()), kToDirectory, ResultWriteError, both},
      {"relative destination that does not exist", packPath.c_str(), 2,
       const_cast<char*>("no-such-relative-directory"), kToDirectory, ResultWriteError, both},
      {"empty destination", packPath.c_str(), 2, const_cast<char*>(""), kToDirectory,
       ResultWriteError, both},
      {"data past the end, to a directory", pastEndPath.c_str(), PackPosition(1, 3),
       const_cast<char*>(out.c_str()), kToDirectory, ResultBadData, both},
  };
  for (const auto& c : cases) {
    ProgressLog log;
    block = reinterpret_cast<HLOCAL>(0x1234);
    EXPECT_EQ(Extract(c.source, c.offsetOrSize, c.destination, c.flag, &log), c.result) << c.what;
    EXPECT_EQ(log.calls, c.calls) << c.what;
    EXPECT_EQ(block, reinterpret_cast<HLOCAL>(0x1234)) << c.what << ": handle location untouched";
  }
  // Nothing was written but the chain of the longest destination.
  EXPECT_FALSE(fs::exists(temp_.path() / "out"));
  EXPECT_FALSE(fs::exists("no-such-relative-directory"));
  EXPECT_TRUE(fs::is_directory(FilesystemPath(longest)));
  EXPECT_TRUE(Listing(FilesystemPath(longest)).empty());
}

// A copier that fails after its output was made, as a copy whose data turns
// out unreadable would.
ResultCode FailingCopier(const uint8_t*, uint8_t* output, int32_t size, void*, intptr_t,
                         ProgressCallback) {
  std::memset(output, 'x', static_cast<size_t>(size));
  return ResultBadData;
}

ResultCode FixedLocator(const uint8_t*, const InputBounds&, char* displayName, int32_t* size,
                        void*) {
  std::strcpy(displayName, "OUT.BIN");
  *size = 3000;
  return ResultOk;
}

TEST(ExtractionFrame, AFailedCopyFreesItsOutput) {
  TempDir temp;
  const std::vector<uint8_t> record(64, 0);
  HLOCAL block = reinterpret_cast<HLOCAL>(0x1234);
  EXPECT_EQ(ExtractionFrame(reinterpret_cast<LPCSTR>(record.data()), 64,
                            reinterpret_cast<LPSTR>(&block), kMemoryInput | kToMemory, nullptr, 0,
                            FixedLocator, FailingCopier, nullptr),
            ResultBadData);
  EXPECT_EQ(block, nullptr);

  const fs::path out = temp.path() / "out";
  fs::create_directory(out);
  WriteText(out / "OUT.BIN", "old");
  for (bool existed : {true, false}) {
    if (!existed) fs::remove(out / "OUT.BIN");
    EXPECT_EQ(ExtractionFrame(reinterpret_cast<LPCSTR>(record.data()), 64,
                              const_cast<char*>(ServicePath(out).c_str()), kMemoryInput, nullptr, 0,
                              FixedLocator, FailingCopier, nullptr),
              ResultBadData);
    EXPECT_EQ(Listing(out), existed ? std::vector<std::string>{"OUT.BIN"} : std::vector<std::string>{});
    if (existed) {
            EXPECT_EQ(ReadText(out / "OUT.BIN"), "old");
          }
  }
}

TEST(CopyInChunks, StepsAndTheirProgress) {
  const std::vector<uint8_t> source = Pattern(5000, 9);
  const struct {
    int32_t size;
    int32_t step;
    size_t stopAtCall;
    ResultCode result;
    Calls calls;
  } cases[] = {
      {5000, 1024, SIZE_MAX, ResultOk,
       {{1024, 5000}, {2048, 5000}, {3072, 5000}, {4096, 5000}}},
      {4096, 2048, SIZE_MAX, ResultOk, {{2048, 4096}, {4096, 4096}}},
      {1023, 1024, SIZE_MAX, ResultOk, {}},
      {0, 1024, SIZE_MAX, ResultOk, {}},
      {5000, 1024, 1, ResultCancelled, {{1024, 5000}, {2048, 5000}}},
      {-1, 1024, SIZE_MAX, ResultBadData, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " by " + std::to_string(c.step));
    std::vector<uint8_t> output(5000, 0);
    ProgressLog log;
    log.stopAtCall = c.stopAtCall;
    EXPECT_EQ(CopyInChunks(source.data(), output.data(), c.size, reinterpret_cast<intptr_t>(&log),
                           RecordProgress, c.step),
              c.result);
    EXPECT_EQ(log.calls, c.calls);
    if (c.result == ResultOk) {
      EXPECT_TRUE(std::equal(source.begin(), source.begin() + c.size, output.begin()));
      EXPECT_TRUE(std::all_of(output.begin() + c.size, output.end(), [](uint8_t b) { return b == 0; }));
    }
  }
  // Source bytes that run into a guard page: nothing is copied.
  GuardedBuffer guarded(source.data(), 100);
  std::vector<uint8_t> output(200, 0);
  EXPECT_EQ(CopyInChunks(guarded.data(), output.data(), 101, 0, nullptr, 1024), ResultBadData);
  EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
