// The listing frame and its collector, then GetArchiveInfo, GetFileInfo and
// IsSupported as the host sees them through the loaded plug-in.
#include "archive/entry_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/host_listing.h"
#include "archive/pack_fixture.h"
#include "host/plugin_api.h"
#include "support/guarded_buffer.h"
#include "support/plugin_library.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t kMemory = 1;
constexpr size_t kRecord = sizeof(ArchiveEntryInfo);

// A lister driven by its input: byte 0 is the count to reserve (0xFF: no
// reservation), byte 1 the number of records to commit.
ResultCode ScriptedLister(const InputView& input, EntryCollector* collector) {
  if (input.data[0] != 0xFF) {
    const ResultCode result = ReserveRecords(collector, input.data[0]);
    if (result != ResultOk) return result;
  }
  for (int i = 0; i < input.data[1]; ++i) {
    ArchiveEntryInfo* record = nullptr;
    ResultCode result = CurrentRecord(collector, &record);
    if (result != ResultOk) return result;
    std::memcpy(record->method, "QUIRNE1", 8);
    std::snprintf(record->fileName, sizeof record->fileName, "E%d", i);
    result = CommitRecord(collector);
    if (result != ResultOk) return result;
  }
  return ResultOk;
}

TEST(EntryCollector, ListGrowsAndAlwaysEndsInAZeroRecord) {
  const struct {
    uint8_t reserve;
    uint8_t commits;
    size_t blockRecords;
  } cases[] = {
      {3, 3, 5},     // reserved exactly: k entries, the terminator and one more
      {0xFF, 3, 5},  // grown one record at a time
      {5, 2, 6},     // more reserved than used
      {0, 2, 4},     // a lister that commits more than it reserved
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.reserve) + " reserved, " + std::to_string(c.commits));
    const uint8_t script[2] = {c.reserve, c.commits};
    HLOCAL list = nullptr;
    ASSERT_EQ(ListArchiveEntries(reinterpret_cast<LPCSTR>(script), 0, kMemory, &list,
                                 ScriptedLister),
              ResultOk);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(LocalSize(list), c.blockRecords * kRecord);
    const auto* records = static_cast<const ArchiveEntryInfo*>(LocalLock(list));
    ASSERT_NE(records, nullptr);
    for (int i = 0; i < c.commits; ++i) {
      EXPECT_EQ(std::string(records[i].fileName), "E" + std::to_string(i));
    }
    EXPECT_EQ(records[c.commits].method[0], 0);
    LocalUnlock(list);
    LocalFree(list);
  }
}

TEST(EntryCollector, AnEmptyListIsBadDataAndNoBlockRemains) {
  for (uint8_t reserve : {uint8_t{0}, uint8_t{4}, uint8_t{0xFF}}) {
    const uint8_t script[2] = {reserve, 0};
    HLOCAL list = reinterpret_cast<HLOCAL>(0x1234);
    EXPECT_EQ(ListArchiveEntries(reinterpret_cast<LPCSTR>(script), 0, kMemory, &list,
                                 ScriptedLister),
              ResultBadData);
    EXPECT_EQ(list, nullptr);
  }
}

TEST(EntryCollector, RefusesOperationsOutsideItsModes) {
  EntryCollector collector;  // neither list nor find
  ArchiveEntryInfo* record = nullptr;
  EXPECT_EQ(CurrentRecord(&collector, &record), ResultInternalError);
  EXPECT_EQ(CommitRecord(&collector), ResultInternalError);
  EXPECT_EQ(ReserveRecords(&collector, 3), ResultInternalError);

  ASSERT_EQ(BeginList(&collector), ResultOk);
  EXPECT_EQ(ReserveRecords(&collector, -1), ResultInternalError);
  EXPECT_EQ(EndList(&collector, ResultOk), ResultBadData);
  EXPECT_EQ(collector.block, nullptr);
}

TEST(EntryCollector, FindModeWritesIntoTheTargetAndComparesWholeNames) {
  ArchiveEntryInfo target{};
  EntryCollector collector;
  BeginFind(&collector, &target, "README.TXT", false);
  ArchiveEntryInfo* record = nullptr;
  ASSERT_EQ(CurrentRecord(&collector, &record), ResultOk);
  EXPECT_EQ(record, &target);
  EXPECT_EQ(ReserveRecords(&collector, 1000), ResultOk);
  std::strcpy(target.fileName, "README.TXT");
  EXPECT_EQ(CommitRecord(&collector), CommitFound);
  // The directory part counts: "DOCS" + "README.TXT" is not "README.TXT".
  std::strcpy(target.path, "DOCS");
  EXPECT_EQ(CommitRecord(&collector), ResultOk);
  // Fields that fill their whole width are not read past.
  std::memset(target.path, 'P', sizeof target.path);
  std::memset(target.fileName, 'F', sizeof target.fileName);
  EXPECT_EQ(CommitRecord(&collector), ResultOk);
}

class BromvaleListing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded()) << plugin_.file();
    isSupported_ = plugin_.Export<IsSupportedFn>("IsSupported");
    getArchiveInfo_ = plugin_.Export<GetArchiveInfoFn>("GetArchiveInfo");
    getFileInfo_ = plugin_.Export<GetFileInfoFn>("GetFileInfo");
    ASSERT_TRUE(isSupported_ && getArchiveInfo_ && getFileInfo_);
  }

  // Lists the pack and gives the records before the terminator, checking
  // the block's shape on the way.
  std::vector<ArchiveEntryInfo> List(LPCSTR source, intptr_t offsetOrSize, uint32_t flag) {
    const HostListing listing = ListThroughHost(getArchiveInfo_, source, offsetOrSize, flag);
    EXPECT_EQ(listing.result, ResultOk);
    if (listing.result != ResultOk) return {};
    EXPECT_EQ(listing.blockRecords, listing.records.size() + 2);
    EXPECT_TRUE(listing.endsInZeroRecord);
    return listing.records;
  }

  PluginLibrary plugin_{"Bromvale"};
  IsSupportedFn isSupported_ = nullptr;
  GetArchiveInfoFn getArchiveInfo_ = nullptr;
  GetFileInfoFn getFileInfo_ = nullptr;
  TempDir dir_;
};

void ExpectRecord(const ArchiveEntryInfo& record, int layout, size_t index, const char* name,
                  uint32_t size) {
  SCOPED_TRACE(name);
  EXPECT_STREQ(record.method, layout == 1 ? "QUIRNE1" : "QUIRNE2");
  EXPECT_EQ(record.method[7], 0);
  EXPECT_EQ(record.position, PackPosition(layout, index));
  EXPECT_EQ(record.packedSize, size);
  EXPECT_EQ(record.unpackedSize, size);
  EXPECT_EQ(record.timeStamp, 0u);
  EXPECT_EQ(record.checksum, 0u);
  EXPECT_EQ(std::string(record.path, sizeof record.path), std::string(sizeof record.path, '\0'));
  EXPECT_STREQ(record.fileName, name);
}

TEST_F(BromvaleListing, ListsBothLayoutsFromMemoryAndFromFiles) {
  const char* names[] = {"README.TXT", "MAKEFILE", "A B X.Y"};
  for (int layout : {1, 2}) {
    const std::vector<FixtureEntry> entries = ThreeEntries();
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    // The pack 128 bytes into its file, and at the end of guarded memory.
    std::vector<uint8_t> file(128 + pack.size(), 'z');
    std::copy(pack.begin(), pack.end(), file.begin() + 128);
    const std::string path = dir_.Write("embedded" + std::to_string(layout) + ".bin", file);
    GuardedBuffer memory(pack);
    for (int source = 0; source < 3; ++source) {
      SCOPED_TRACE("layout " + std::to_string(layout) + " source " + std::to_string(source));
      const std::vector<ArchiveEntryInfo> listed =
          source == 0 ? List(path.c_str(), 128, 0)
          : source == 1 ? List(reinterpret_cast<LPCSTR>(memory.data()), -5, kMemory)
                        // Bits outside the input kind change nothing.
                        : List(path.c_str(), 128, 0x10000 | 0x80 | 0x100);
      ASSERT_EQ(listed.size(), entries.size());
      for (size_t i = 0; i < listed.size(); ++i) {
        ExpectRecord(listed[i], layout, i, names[i], static_cast<uint32_t>(entries[i].data.size()));
      }
    }
  }
}

TEST_F(BromvaleListing, FailuresLeaveNoList) {
  const std::vector<uint8_t> pack1 = MakePack1(ThreeEntries());
  std::vector<uint8_t> truncated = pack1;
  truncated.resize(70);
  StoreU16LE(truncated.data(), 40);
  const std::string packPath = dir_.Write("good.pak", pack1);
  const std::string emptyPath = dir_.Write("empty.pak", {});
  const std::string notPackPath = dir_.Write("text.pak", Bytes(std::string(100, 'x')));
  const std::string truncatedPath = dir_.Write("short.pak", truncated);
  std::vector<uint8_t> onlyClosing2 = MakePack2({});  // count 1: no entries
  onlyClosing2.resize(80);                             // all that recognition reads
  const std::string missing = dir_.File("missing.pak");
  const struct {
    const char* what;
    LPCSTR source;
    intptr_t offset;
    uint32_t flag;
    ResultCode result;
  } cases[] = {
      {"not a pack", notPackPath.c_str(), 0, 0, ResultBadData},
      {"catalogue past the end", truncatedPath.c_str(), 0, 0, ResultBadData},
      {"layout-2 count of 1", reinterpret_cast<LPCSTR>(onlyClosing2.data()), 0, kMemory,
       ResultBadData},
      {"offset past the end of the file", packPath.c_str(), 100000, 0, ResultBadData},
      {"missing file", missing.c_str(), 0, 0, ResultReadError},
      {"empty file", emptyPath.c_str(), 0, 0, ResultReadError},
      {"input kind 2", packPath.c_str(), 0, 2, ResultNotImplemented},
      {"input kind 7", packPath.c_str(), 0, 7, ResultNotImplemented},
  };
  for (const auto& c : cases) {
    HLOCAL list = reinterpret_cast<HLOCAL>(0x1234);
    EXPECT_EQ(getArchiveInfo_(c.source, c.offset, c.flag, &list), c.result) << c.what;
    EXPECT_EQ(list, nullptr) << c.what;
  }
  EXPECT_EQ(getArchiveInfo_(packPath.c_str(), 0, 0, nullptr), ResultMemoryError);
}

TEST_F(BromvaleListing, FindsTheFirstEntryOfAName) {
  std::vector<FixtureEntry> entries = ThreeEntries();
  entries.push_back({"README  TXT", Pattern(99, 9)});  // the same name again
  for (int layout : {1, 2}) {
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    const std::string path = dir_.Write("find" + std::to_string(layout) + ".pak", pack);
    const struct {
      const char* wanted;
      uint32_t flag;
      ResultCode result;
      size_t index;  // of the entry left in the record
    } cases[] = {
        {"README.TXT", 0, ResultOk, 0},
        {"readme.txt", 0, ResultNoMatch, 3},
        {"readme.txt", 0x80, ResultOk, 0},
        {"README", 0x80, ResultNoMatch, 3},
        {"A B X.Y", 0, ResultOk, 2},
        {"makefile", 0x80, ResultOk, 1},
        {"", 0, ResultNoMatch, 3},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.wanted) + " layout " + std::to_string(layout));
      ArchiveEntryInfo info;
      std::memset(&info, 0x55, sizeof info);
      EXPECT_EQ(getFileInfo_(path.c_str(), 0, c.wanted, c.flag, &info), c.result);
      EXPECT_EQ(info.position, PackPosition(layout, c.index));
      EXPECT_EQ(info.packedSize, entries[c.index].data.size());
      // Only the name's own bytes are written; the rest was cleared first.
      EXPECT_EQ(info.fileName[sizeof info.fileName - 1], 0);
    }
  }
}

TEST_F(BromvaleListing, FindFailures) {
  const std::vector<uint8_t> pack = MakePack1(ThreeEntries());
  std::vector<uint8_t> onlyClosing2 = MakePack2({});
  onlyClosing2.resize(80);
  const std::string path = dir_.Write("f.pak", pack);
  const struct {
    const char* what;
    LPCSTR source;
    LPCSTR wanted;
    uint32_t flag;
    ResultCode result;
  } cases[] = {
      {"input kind 2", path.c_str(), "README.TXT", 2, ResultNotImplemented},
      {"not a pack", reinterpret_cast<LPCSTR>(onlyClosing2.data()) + 1, "README.TXT", kMemory,
       ResultBadData},
      {"no entries", reinterpret_cast<LPCSTR>(onlyClosing2.data()), "README.TXT", kMemory,
       ResultNoMatch},
      {"no name", path.c_str(), nullptr, 0, ResultNoMatch},
  };
  for (const auto& c : cases) {
    ArchiveEntryInfo info;
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(getFileInfo_(c.source, 0, c.wanted, c.flag, &info), c.result) << c.what;
    if (c.result != ResultNoMatch || c.wanted != nullptr) {
      const ArchiveEntryInfo zero{};
      EXPECT_EQ(std::memcmp(&info, &zero, kRecord), 0) << c.what << ": record cleared";
    }
  }
  EXPECT_EQ(getFileInfo_(path.c_str(), 0, "README.TXT", 0, nullptr), ResultMemoryError);
}

TEST_F(BromvaleListing, IsSupportedLooksAtTheFirstBytesOnly) {
  const std::vector<uint8_t> pack1 = MakePack1(ThreeEntries());
  const std::vector<uint8_t> pack2 = MakePack2(ThreeEntries());
  GuardedBuffer memory1(pack1);
  GuardedBuffer memory2(pack2);
  GuardedBuffer short1(pack1.data(), 65);
  EXPECT_EQ(isSupported_(nullptr, reinterpret_cast<UINT_PTR>(memory1.data())), 1);
  EXPECT_EQ(isSupported_("x.txt", reinterpret_cast<UINT_PTR>(memory2.data())), 2);
  EXPECT_EQ(isSupported_("x.pak", reinterpret_cast<UINT_PTR>(short1.data())), 0);

  const struct {
    std::vector<uint8_t> bytes;
    int32_t layout;
  } files[] = {{pack1, 1}, {pack2, 2}, {{}, 0}, {std::vector<uint8_t>(pack1.begin(), pack1.begin() + 40), 0}};
  int n = 0;
  for (const auto& f : files) {
    const std::string path = dir_.Write("probe" + std::to_string(n++), f.bytes);
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(isSupported_(nullptr, reinterpret_cast<UINT_PTR>(handle)), f.layout) << path;
    CloseHandle(handle);
  }
}

}  // namespace
