#include "writers/pack_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "archive/pack_catalogue.h"
#include "support/temp_dir.h"

namespace {

PackEntrySource Entry(const std::string& name, const std::string& data) {
  return {name, "", std::vector<uint8_t>(data.begin(), data.end())};
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> BuildOrFail(const std::vector<PackEntrySource>& entries, int layout) {
  std::vector<uint8_t> pack;
  std::string error;
  EXPECT_TRUE(BuildPack(entries, layout, &pack, &error)) << error;
  return pack;
}

struct Listed {
  std::string name;
  std::vector<uint8_t> data;
};

// What a reader makes of a pack: the listing, then each entry located again
// from its catalogue record, as extraction does.
std::vector<Listed> ReadBack(const std::vector<uint8_t>& pack, int layout) {
  const InputBounds bounds{pack.data(), pack.data() + pack.size()};
  EXPECT_EQ(DetectPackLayout(pack.data(), bounds), layout);
  struct Walk {
    std::vector<uint32_t> positions;
    std::vector<uint32_t> sizes;
  } walk;
  const ResultCode listed = EnumeratePack(
      pack.data(), bounds,
      [](int32_t, uint32_t position, const uint8_t*, uint32_t size, void* context) {
        static_cast<Walk*>(context)->positions.push_back(position);
        static_cast<Walk*>(context)->sizes.push_back(size);
        return ResultOk;
      },
      &walk);
  EXPECT_EQ(listed, ResultOk);
  EXPECT_EQ(PackEntryCount(pack.data(), bounds), static_cast<int32_t>(walk.positions.size()));
  std::vector<Listed> entries;
  for (size_t i = 0; i < walk.positions.size(); ++i) {
    char name[PackDisplayNameCapacity];
    int32_t size = -1;
    const uint8_t* data = nullptr;
    EXPECT_EQ(LocatePackEntry(pack.data() + walk.positions[i], bounds, name, &size, &data),
              ResultOk);
    EXPECT_EQ(static_cast<uint32_t>(size), walk.sizes[i]);
    if (data == nullptr || size < 0) break;
    entries.push_back({name, std::vector<uint8_t>(data, data + size)});
  }
  return entries;
}

TEST(PackWriter, EntriesListAndExtractBack) {
  const struct {
    const char* name;
    std::vector<PackEntrySource> entries;
    int layout;
  } cases[] = {
      {"layout 1, three entries", {Entry("A.TXT", "hi"), Entry("b", "x"), Entry("C.D", "abc")}, 1},
      {"layout 1, names of every shape",
       {Entry("ABCDEFGH.XYZ", "1"), Entry("a b.c d", "22"), Entry("A.B.C", "333"),
        Entry("#_09azAZ", ""), Entry("..X", "5"), Entry("last", "")},
       1},
      {"layout 2, one entry", {Entry("X.Y", "abc")}, 2},
      {"layout 2, empty entries first",
       {Entry("EMPTY", ""), Entry("E 2", ""), Entry("DATA.BIN", "xyz")},
       2},
      {"layout 2, no entries", {}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> pack = BuildOrFail(c.entries, c.layout);
    // Recognition reads 66 bytes before it looks at anything.
    EXPECT_GE(pack.size(), 66u);
    const std::vector<Listed> listed = ReadBack(pack, c.layout);
    ASSERT_EQ(listed.size(), c.entries.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_EQ(listed[i].name, c.entries[i].name);
      EXPECT_EQ(listed[i].data, c.entries[i].data);
    }
  }
}

TEST(PackWriter, LayoutOneBytes) {
  const std::vector<uint8_t> expected = {
      0x04, 0x00,                                                  // four records
      'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0,    // "A.TXT"
      0x42, 0x00, 0x00, 0x00,                                      // data at 2 + 16 * 4
      'b', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0,    // "b"
      0x44, 0x00, 0x00, 0x00,                                      //
      'C', 'o', 'd', 'e', ' ', ' ', ' ', ' ', 'd', ' ', ' ', 0,    // "Code.d"
      0x45, 0x00, 0x00, 0x00,                                      //
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0,    // closing record
      0x48, 0x00, 0x00, 0x00,                                      // the end of the data
      'h', 'i', 'x', 'a', 'b', 'c'};
  EXPECT_EQ(BuildOrFail({Entry("A.TXT", "hi"), Entry("b", "x"), Entry("Code.d", "abc")}, 1),
            expected);
}

TEST(PackWriter, LayoutTwoBytes) {
  std::vector<uint8_t> expected = {
      0x00, 0x40, 0x02, 0x00,                                      // marker, two records
      0, 0, 0, 0, 0x34, 0x00, 0x00, 0x00,                          // data at 24 * 2 + 4
      0, 0, 0, 0, 0x37, 0x00, 0x00, 0x00,                          // the end of the data
      'X', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'Y', ' ', ' ', 0,    // "X.Y"
      0x03, 0x00, 0x00, 0x00,                                      // 3 bytes
      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0,    // closing record
      0x00, 0x00, 0x00, 0x00,                                      //
      'a', 'b', 'c'};
  expected.resize(66, 0);  // padded to what recognition reads
  EXPECT_EQ(BuildOrFail({Entry("X.Y", "abc")}, 2), expected);
}

struct Refusal {
  const char* name;
  std::vector<PackEntrySource> entries;
  int layout;
  const char* says;
};

void ExpectRefused(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> pack = {7};
    std::string error;
    EXPECT_FALSE(BuildPack(c.entries, c.layout, &pack, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(pack, std::vector<uint8_t>{7});
  }
}

TEST(PackWriter, RefusesWhatAPackCannotHold) {
  const std::vector<PackEntrySource> three = {Entry("A", "1"), Entry("B", "2"), Entry("C", "3")};
  auto withFirst = [&](const PackEntrySource& first) {
    std::vector<PackEntrySource> entries = three;
    entries.insert(entries.begin(), first);
    return entries;
  };
  ExpectRefused({
      {"a character outside the set", withFirst(Entry("A-B.TXT", "x")), 2,
       "entry 1 (\"A-B.TXT\"): '-' cannot stand in a pack name"},
      {"a control byte", withFirst(Entry(std::string("A\x01"), "x")), 2, "the byte 0x01"},
      {"a byte above 0x7F", withFirst(Entry(std::string("A\xE9"), "x")), 1, "the byte 0xE9"},
      {"base of nine", withFirst(Entry("ABCDEFGHI.TXT", "x")), 2,
       "\"ABCDEFGHI\" has 9 characters before the extension"},
      {"extension of four", withFirst(Entry("A.TEXT", "x")), 2,
       "the extension \"TEXT\" has 4 characters"},
      {"no name", withFirst(Entry("", "x")), 2, "entry 1 (\"\") has no name"},
      {"nothing before the dot", withFirst(Entry(".TXT", "x")), 2, "nothing before its last dot"},
      {"a dot at the end", withFirst(Entry("README.", "x")), 2, "ends with a dot"},
      {"a space before the dot", withFirst(Entry("AB .TXT", "x")), 2, "space"},
      {"a space at the end", withFirst(Entry("AB.TX ", "x")), 2, "space"},
      {"the same name in other case", withFirst(Entry("b", "x")), 2,
       "entry 1 (\"b\") and entry 3 (\"B\") have the same name; names are compared without "
       "regard to case"},
      {"layout 1 with two entries", {Entry("A", "1"), Entry("B", "2")}, 1, "use layout 2"},
      {"layout 1 with an empty second entry",
       {Entry("A", "1"), Entry("B", ""), Entry("C", "3")}, 1,
       "entry 2 (\"B\") is empty: a layout-1 pack is recognised only when"},
      {"no layout 3", three, 3, "no pack layout 3"},
      {"a source file that is not there",
       withFirst({"GONE.BIN", "/nonexistent/tessel/gone.bin", {}}), 2,
       "entry 1 (\"GONE.BIN\"): \"/nonexistent/tessel/gone.bin\" is not a file"},
  });
}

std::vector<PackEntrySource> Numbered(size_t count) {
  std::vector<PackEntrySource> entries(count);
  for (size_t i = 0; i < count; ++i) entries[i] = Entry("N" + std::to_string(i), "d");
  return entries;
}

TEST(PackWriter, CatalogueHoldsAtMost65534Entries) {
  for (int layout : {1, 2}) {
    SCOPED_TRACE(layout);
    std::vector<PackEntrySource> entries = Numbered(65534);
    const std::vector<uint8_t> pack = BuildOrFail(entries, layout);
    const InputBounds bounds{pack.data(), pack.data() + pack.size()};
    EXPECT_EQ(PackEntryCount(pack.data(), bounds), 65534);
    entries.push_back(Entry("ONEMORE", "d"));
    std::vector<uint8_t> refused;
    std::string error;
    EXPECT_FALSE(BuildPack(entries, layout, &refused, &error));
    EXPECT_NE(error.find("65535 entries are too many"), std::string::npos) << error;
  }
}

TEST(PackWriter, WritesThroughATemporaryFileAndStreamsSources) {
  TempDir dir;
  // Larger than one copy block, and not a whole number of them.
  std::vector<uint8_t> big(3 * 1024 * 1024 + 17);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + i / 977);
  const std::string bigPath = dir.Write("big.bin", big);
  const std::vector<PackEntrySource> entries = {
      Entry("FIRST", "one"), {"BIG.BIN", bigPath, {}}, Entry("LAST.TXT", "three")};
  const std::string out = dir.File("out.pak");
  dir.Write("out.pak", Bytes("an older pack"));

  std::string error;
  ASSERT_TRUE(WritePack(out, entries, 1, &error)) << error;
  const std::vector<uint8_t> written = ReadFileBytes(out);
  EXPECT_TRUE(written == BuildOrFail(entries, 1));
  const std::vector<Listed> listed = ReadBack(written, 1);
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_TRUE(listed[1].data == big);
  // Nothing but the sources and the pack is left in the directory.
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir.path())) {
    (void)item;
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

TEST(PackWriter, FailureLeavesTheOutputAsItWas) {
  TempDir dir;
  const std::string out = dir.File("out.pak");
  dir.Write("out.pak", Bytes("an older pack"));
  const struct {
    const char* name;
    std::vector<PackEntrySource> entries;
  } cases[] = {
      {"refused name", {Entry("A", "1"), Entry("B", "2"), Entry("C!", "3")}},
      {"missing source", {Entry("A", "1"), Entry("B", "2"), {"C", dir.File("none"), {}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(WritePack(out, c.entries, 1, &error));
    EXPECT_NE(error.find("entry 3"), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(out), Bytes("an older pack"));
    size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(dir.path())) {
      (void)item;
      ++files;
    }
    EXPECT_EQ(files, 1u);
  }
  std::string error;
  EXPECT_FALSE(WritePack(dir.File("no/such/dir/out.pak"), Numbered(3), 1, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

// Sizes come from the file system before a byte is copied, so data past
// what the offsets can address is refused at once, without reading it.
TEST(PackWriter, RefusesDataPastThirtyTwoBitOffsets) {
  TempDir dir;
  const std::string huge = dir.File("huge.bin");
  dir.Write("huge.bin", {});
  std::error_code failure;
  std::filesystem::resize_file(huge, uint64_t{1} << 31, failure);
  if (failure) GTEST_SKIP() << "no sparse 2 GiB file here: " << failure.message();
  // Ends exactly at 2^31 behind a layout-1 catalogue of four records and two
  // one-byte entries.
  const std::string justTooBig = dir.File("edge.bin");
  dir.Write("edge.bin", {});
  std::filesystem::resize_file(justTooBig, (uint64_t{1} << 31) - 68, failure);
  ASSERT_FALSE(failure) << failure.message();
  ExpectRefused({
      {"layout 1 stops below 2^31",
       {Entry("A", "1"), Entry("B", "2"), {"HUGE", huge, {}}}, 1,
       "entry 3 (\"HUGE\") would end at byte 2147483716, past the 2147483647 that a layout-1 "
       "pack can address; layout 2 reaches further"},
      {"layout 1 ends at 2^31", {Entry("A", "1"), Entry("B", "2"), {"EDGE", justTooBig, {}}}, 1,
       "entry 3 (\"EDGE\") would end at byte 2147483648"},
      {"layout 2 stops below 2^32", {{"HUGE1", huge, {}}, {"HUGE2", huge, {}}}, 2,
       "entry 2 (\"HUGE2\") would end at byte 4294967372, past the 4294967295"},
  });
}

}  // namespace
