// Every export on packs that end right before a page that cannot be read, cut
// at every length; and the exports on four threads at once.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "archive/host_listing.h"
#include "archive/pack_fixture.h"
#include "host/plugin_api.h"
#include "support/guarded_buffer.h"
#include "support/plugin_library.h"

namespace {

constexpr uint32_t kMemoryInput = 1;
constexpr uint32_t kToMemory = 0x100;

struct Extracted {
  ResultCode result = ResultOk;
  std::vector<uint8_t> bytes;
  bool operator==(const Extracted& o) const { return result == o.result && bytes == o.bytes; }
};

class BromvaleRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded()) << plugin_.file();
    getArchiveInfo_ = plugin_.Export<GetArchiveInfoFn>("GetArchiveInfo");
    getFileInfo_ = plugin_.Export<GetFileInfoFn>("GetFileInfo");
    getFile_ = plugin_.Export<GetFileFn>("GetFile");
    isSupported_ = plugin_.Export<IsSupportedFn>("IsSupported");
    ASSERT_TRUE(getArchiveInfo_ && getFileInfo_ && getFile_ && isSupported_);
  }

  HostListing List(const uint8_t* pack) const {
    return ListThroughHost(getArchiveInfo_, reinterpret_cast<LPCSTR>(pack), 0, kMemoryInput);
  }

  Extracted Extract(const uint8_t* record, size_t readable) const {
    Extracted extracted;
    HLOCAL block = nullptr;
    extracted.result = getFile_(reinterpret_cast<LPCSTR>(record), static_cast<intptr_t>(readable),
                                reinterpret_cast<LPSTR>(&block), kMemoryInput | kToMemory, nullptr,
                                0);
    if (extracted.result == ResultOk) {
      const size_t size = LocalSize(block);
      if (size > 0) {
        const auto* bytes = static_cast<const uint8_t*>(LocalLock(block));
        extracted.bytes.assign(bytes, bytes + size);
        LocalUnlock(block);
      }
      LocalFree(block);
    }
    return extracted;
  }

  PluginLibrary plugin_{"Bromvale"};
  GetArchiveInfoFn getArchiveInfo_ = nullptr;
  GetFileInfoFn getFileInfo_ = nullptr;
  GetFileFn getFile_ = nullptr;
  IsSupportedFn isSupported_ = nullptr;
};

// A pack cut at every length, its last byte before the guard page: any read
// past the cut faults. What is still answered must agree with the whole pack.
TEST_F(BromvaleRobustness, PacksCutAtEveryLengthAreReadOnlyUpToTheCut) {
  // The empty entry last: layout 1 is recognised only when the first four
  // data offsets strictly increase.
  const std::vector<FixtureEntry> entries = {{"README  TXT", Pattern(30, 1)},
                                             {"DATA    BIN", Pattern(40, 2)},
                                             {"LAST    BIN", Pattern(20, 3)},
                                             {"EMPTY      ", {}}};
  for (int layout : {1, 2}) {
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    for (size_t cut = 0; cut <= pack.size(); ++cut) {
      SCOPED_TRACE("layout " + std::to_string(layout) + " cut at " + std::to_string(cut));
      GuardedBuffer guarded(pack.data(), cut);
      const int32_t supported = isSupported_(nullptr, reinterpret_cast<UINT_PTR>(guarded.data()));
      EXPECT_EQ(supported, cut >= 66 ? layout : 0);

      const HostListing listed = List(guarded.data());
      if (listed.result == ResultOk) {
        EXPECT_EQ(listed.records.size(), entries.size());
      } else {
        EXPECT_EQ(listed.result, ResultBadData);
      }
      ArchiveEntryInfo info;
      const ResultCode found = getFileInfo_(reinterpret_cast<LPCSTR>(guarded.data()), 0,
                                            "last.bin", kMemoryInput | 0x80, &info);
      EXPECT_TRUE(found == ResultOk || found == ResultBadData) << found;
      EXPECT_EQ(found == ResultOk, listed.result == ResultOk);

      for (size_t i = 0; i < entries.size(); ++i) {
        const size_t position = PackPosition(layout, i);
        if (position >= cut) break;
        const Extracted extracted = Extract(guarded.data() + position, cut - position);
        if (extracted.result == ResultOk) {
          EXPECT_EQ(extracted.bytes, entries[i].data) << "entry " << i;
        } else {
          EXPECT_EQ(extracted.result, ResultBadData) << "entry " << i;
        }
      }
    }
  }
}

// Record addresses anywhere in a pack, not only where records begin.
TEST_F(BromvaleRobustness, ExtractionFromAnyAddressStaysInTheInput) {
  for (int layout : {1, 2}) {
    const std::vector<FixtureEntry> entries = ThreeEntries();
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    GuardedBuffer guarded(pack);
    for (size_t at = 0; at < pack.size(); ++at) {
      const Extracted extracted = Extract(guarded.data() + at, pack.size() - at);
      bool listedRecord = false;
      for (size_t i = 0; i < entries.size(); ++i) {
        if (at == PackPosition(layout, i)) {
          listedRecord = true;
          EXPECT_EQ(extracted.result, ResultOk) << at;
          EXPECT_EQ(extracted.bytes, entries[i].data) << at;
        }
      }
      if (!listedRecord) {
        EXPECT_EQ(extracted.result, ResultBadData) << "layout " << layout << " at " << at;
      }
    }
  }
}

TEST_F(BromvaleRobustness, FourThreadsGetTheSameResults) {
  std::vector<FixtureEntry> entries;
  for (int i = 0; i < 40; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "FILE%04dBIN", i);
    entries.push_back({name, Pattern(static_cast<size_t>(i) * 301 + 7, static_cast<uint8_t>(i))});
  }
  for (int layout : {1, 2}) {
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    GuardedBuffer guarded(pack);

    const HostListing reference = List(guarded.data());
    ASSERT_EQ(reference.result, ResultOk);
    ASSERT_EQ(reference.records.size(), entries.size());

    auto work = [&](std::vector<Extracted>* results, bool* listsAgree) {
      for (int round = 0; round < 20; ++round) {
        const HostListing listed = List(guarded.data());
        *listsAgree = *listsAgree && listed.result == ResultOk &&
                      listed.records.size() == reference.records.size() &&
                      std::memcmp(listed.records.data(), reference.records.data(),
                                  listed.records.size() * sizeof(ArchiveEntryInfo)) == 0;
        results->clear();
        for (const ArchiveEntryInfo& record : listed.records) {
          results->push_back(
              Extract(guarded.data() + record.position, pack.size() - record.position));
        }
      }
    };
    std::vector<Extracted> results[4];
    bool listsAgree[4] = {true, true, true, true};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, &results[t], &listsAgree[t]);
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
      EXPECT_TRUE(listsAgree[t]) << "thread " << t;
      ASSERT_EQ(results[t].size(), entries.size()) << "thread " << t;
      for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(results[t][i], (Extracted{ResultOk, entries[i].data}))
            << "thread " << t << " entry " << i;
      }
    }
  }
}

}  // namespace
