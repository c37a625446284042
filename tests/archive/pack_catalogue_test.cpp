#include "archive/pack_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/pack_fixture.h"
#include "support/guarded_buffer.h"

namespace {

InputBounds BoundsOf(const std::vector<uint8_t>& bytes) {
  InputBounds bounds;
  bounds.first = bytes.data();
  bounds.end = bytes.data() + bytes.size();
  return bounds;
}

InputBounds BoundsOf(const GuardedBuffer& buffer) {
  InputBounds bounds;
  bounds.first = buffer.data();
  bounds.end = buffer.end();
  return bounds;
}

// Layout-1 pack of five entries, so that a fifth record follows the four that
// recognition examines.
std::vector<FixtureEntry> FiveEntries() {
  std::vector<FixtureEntry> entries = ThreeEntries();
  entries.push_back({"FOURTH  BIN", Pattern(40, 4)});
  entries.push_back({"FIFTH   BIN", Pattern(50, 5)});
  return entries;
}

TEST(IsPackName, AcceptsExactlyTheNameCharacters) {
  const std::string allowed =
      " #.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
  for (int c = 0; c < 256; ++c) {
    for (size_t at : {size_t{0}, size_t{10}}) {
      uint8_t field[12];
      std::memset(field, 'A', 11);
      field[11] = 0;
      field[at] = static_cast<uint8_t>(c);
      const bool expected = c != 0 && allowed.find(static_cast<char>(c)) != std::string::npos;
      EXPECT_EQ(IsPackName(field), expected) << "byte " << c << " at " << at;
    }
  }
}

TEST(IsPackName, NeedsAZeroByteAfterTheField) {
  uint8_t field[12];
  std::memcpy(field, "README  TXT", 11);
  field[11] = 0;
  EXPECT_TRUE(IsPackName(field));
  field[11] = ' ';
  EXPECT_FALSE(IsPackName(field));
}

struct DetectCase {
  const char* what;
  std::vector<uint8_t> bytes;
  int32_t layout;
};

std::vector<uint8_t> With(std::vector<uint8_t> bytes, size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
  return bytes;
}

std::vector<uint8_t> WithU32(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
  StoreU32LE(bytes.data() + at, value);
  return bytes;
}

std::vector<uint8_t> WithU16(std::vector<uint8_t> bytes, size_t at, uint16_t value) {
  StoreU16LE(bytes.data() + at, value);
  return bytes;
}

TEST(DetectPackLayout, RecognisesBothLayoutsAndNothingElse) {
  const std::vector<uint8_t> pack1 = MakePack1(FiveEntries());
  const std::vector<uint8_t> pack2 = MakePack2(ThreeEntries());
  std::vector<uint8_t> emptyPack2(66, 0);
  StoreU16LE(emptyPack2.data(), 0x4000);
  StoreU32LE(emptyPack2.data() + 8, 4);

  const std::vector<DetectCase> cases = {
      {"layout 1", pack1, 1},
      {"layout 2", pack2, 2},
      {"layout-2 count 0 with offset 4", emptyPack2, 2},
      {"layout-2 offset one past 24n+4", WithU32(pack2, 8, 4 + 24 * 4 + 1), 0},
      {"layout-2 marker wrong", WithU16(pack2, 0, 0x4001), 0},
      {"count of 3", WithU16(pack1, 0, 3), 0},
      {"'-' in record 0", With(pack1, 2 + 3, "-"), 0},
      {"'-' in record 3", With(pack1, 2 + 48 + 10, "-"), 0},
      {"'-' in record 4 is not examined", With(pack1, 2 + 64, "-"), 1},
      {"nonzero byte after record 3's name", WithU16(pack1, 2 + 48 + 11, 0x0001), 0},
      {"two equal offsets", WithU32(pack1, 2 + 16 + 12, LoadU32LE(pack1.data() + 14)), 0},
      {"offset of 2^31 is negative, below record 0's",
       WithU32(pack1, 2 + 16 + 12, 0x80000000u), 0},
      {"ascending negative offsets",
       WithU32(WithU32(WithU32(WithU32(pack1, 14, 0x80000000u), 30, 0x80000001u), 46,
                       0x80000002u),
               62, 0x80000003u),
       1},
      {"all zero", std::vector<uint8_t>(66, 0), 0},
  };
  for (const DetectCase& c : cases) {
    EXPECT_EQ(DetectPackLayout(c.bytes.data(), BoundsOf(c.bytes)), c.layout) << c.what;
    GuardedBuffer guarded(c.bytes);
    EXPECT_EQ(TestPackHeader(guarded.data()), c.layout) << c.what << " (header test)";
  }
}

TEST(DetectPackLayout, NeedsAll66BytesReadable) {
  const std::vector<uint8_t> pack1 = MakePack1(ThreeEntries());
  // Cut one byte short of the fourth record's offset: against a guard page,
  // and within known bounds.
  GuardedBuffer guarded(pack1.data(), 65);
  EXPECT_EQ(TestPackHeader(guarded.data()), 0);
  EXPECT_EQ(DetectPackLayout(guarded.data(), BoundsOf(guarded)), 0);
  InputBounds bounds = BoundsOf(pack1);
  bounds.end = bounds.first + 65;
  EXPECT_EQ(DetectPackLayout(pack1.data(), bounds), 0);
}

TEST(PackEntryCount, CountsListedEntries) {
  std::vector<uint8_t> emptyPack2(66, 0);
  StoreU16LE(emptyPack2.data(), 0x4000);
  StoreU32LE(emptyPack2.data() + 8, 4);
  const std::vector<uint8_t> onePack2 = MakePack2({});
  struct {
    std::vector<uint8_t> bytes;
    int32_t count;
  } cases[] = {{MakePack1(ThreeEntries()), 3},
               {MakePack1(FiveEntries()), 5},
               {MakePack2(ThreeEntries()), 3},
               {onePack2, 0},
               {emptyPack2, -1},
               {std::vector<uint8_t>(80, 'x'), -1}};
  for (auto& c : cases) {
    c.bytes.resize(std::max<size_t>(c.bytes.size(), 66));
    EXPECT_EQ(PackEntryCount(c.bytes.data(), BoundsOf(c.bytes)), c.count);
  }
}

struct Visit {
  int32_t layout;
  uint32_t position;
  std::string name;
  uint32_t size;
  bool operator==(const Visit& o) const {
    return layout == o.layout && position == o.position && name == o.name && size == o.size;
  }
};

struct Visits {
  std::vector<Visit> seen;
  size_t stopAt = SIZE_MAX;
};

ResultCode Record(int32_t layout, uint32_t position, const uint8_t* nameField, uint32_t size,
                  void* context) {
  Visits* visits = static_cast<Visits*>(context);
  char name[PackDisplayNameCapacity];
  FormatPackName(nameField, name);
  visits->seen.push_back({layout, position, name, size});
  return visits->seen.size() == visits->stopAt ? 42 : ResultOk;
}

TEST(EnumeratePack, VisitsEveryEntryInOrder) {
  for (int layout : {1, 2}) {
    const std::vector<FixtureEntry> entries = FiveEntries();
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    GuardedBuffer guarded(pack);
    Visits visits;
    ASSERT_EQ(EnumeratePack(guarded.data(), InputBounds{}, Record, &visits), ResultOk);
    ASSERT_EQ(visits.seen.size(), entries.size());
    const char* names[] = {"README.TXT", "MAKEFILE", "A B X.Y", "FOURTH.BIN", "FIFTH.BIN"};
    for (size_t i = 0; i < entries.size(); ++i) {
      const Visit expected{layout, PackPosition(layout, i), names[i],
                           static_cast<uint32_t>(entries[i].data.size())};
      EXPECT_EQ(visits.seen[i], expected) << "layout " << layout << " entry " << i;
    }
  }
}

TEST(EnumeratePack, ReportsStoredValuesUnchecked) {
  // Layout 1: a fifth name outside the name set and offsets that fall back.
  std::vector<uint8_t> pack1 = With(MakePack1(FiveEntries()), 2 + 64, "BAD-NAME$$$");
  const uint32_t fifth = LoadU32LE(pack1.data() + 2 + 64 + 12);
  StoreU32LE(pack1.data() + 2 + 80 + 12, fifth - 16);
  Visits visits;
  ASSERT_EQ(EnumeratePack(pack1.data(), BoundsOf(pack1), Record, &visits), ResultOk);
  ASSERT_EQ(visits.seen.size(), 5u);
  EXPECT_EQ(visits.seen[4].name, "BAD-NAME.$$$");
  EXPECT_EQ(visits.seen[4].size, 0xFFFFFFF0u);

  // Layout 2: the size comes from the name record, not from the offsets.
  std::vector<uint8_t> pack2 = MakePack2(ThreeEntries());
  StoreU32LE(pack2.data() + 4 + 8 * 4 + 16 * 1 + 12, 7);
  visits.seen.clear();
  ASSERT_EQ(EnumeratePack(pack2.data(), BoundsOf(pack2), Record, &visits), ResultOk);
  ASSERT_EQ(visits.seen.size(), 3u);
  EXPECT_EQ(visits.seen[1].size, 7u);
}

TEST(EnumeratePack, StopsAtTheVisitorsAnswer) {
  const std::vector<uint8_t> pack = MakePack1(FiveEntries());
  Visits visits;
  visits.stopAt = 2;
  EXPECT_EQ(EnumeratePack(pack.data(), BoundsOf(pack), Record, &visits), 42);
  EXPECT_EQ(visits.seen.size(), 2u);
}

TEST(EnumeratePack, RefusesCataloguesThatCannotBeRead) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> long1 = MakePack1(FiveEntries());
  StoreU16LE(long1.data(), 200);  // records past the end of the input
  std::vector<uint8_t> long2 = MakePack2(ThreeEntries());
  // The location records fit, the name records do not.
  long2.resize(4 + 24 * 4);
  StoreU16LE(long2.data() + 2, 5);
  StoreU32LE(long2.data() + 8, 4 + 24 * 5);
  const Case cases[] = {{"layout-1 count past the end", long1},
                        {"layout-2 name records past the end", long2},
                        {"not a pack", std::vector<uint8_t>(100, 0)}};
  for (const Case& c : cases) {
    Visits visits;
    EXPECT_EQ(EnumeratePack(c.bytes.data(), BoundsOf(c.bytes), Record, &visits), ResultBadData)
        << c.what;
    GuardedBuffer guarded(c.bytes);
    EXPECT_EQ(EnumeratePack(guarded.data(), InputBounds{}, Record, &visits), ResultBadData)
        << c.what << " (guarded)";
    EXPECT_TRUE(visits.seen.empty()) << c.what;
  }
}

TEST(FormatPackName, RemovesOnlyTrailingPadding) {
  const struct {
    const char* field;
    const char* name;
  } cases[] = {{"README  TXT", "README.TXT"}, {"MAKEFILE   ", "MAKEFILE"},
               {"A B X   Y  ", "A B X.Y"},    {"        TXT", ".TXT"},
               {"           ", ""},           {"readme  t x", "readme.t x"},
               {"ABCDEFGHIJK", "ABCDEFGH.IJK"}};
  for (const auto& c : cases) {
    char name[PackDisplayNameCapacity];
    std::memset(name, 0x7F, sizeof name);
    FormatPackName(reinterpret_cast<const uint8_t*>(c.field), name);
    EXPECT_STREQ(name, c.name) << '"' << c.field << '"';
  }
}

TEST(LocatePackEntry, FindsEveryListedEntryFromItsRecord) {
  for (int layout : {1, 2}) {
    const std::vector<FixtureEntry> entries = FiveEntries();
    const std::vector<uint8_t> pack = MakePack(layout, entries);
    GuardedBuffer guarded(pack);
    Visits listed;
    ASSERT_EQ(EnumeratePack(pack.data(), BoundsOf(pack), Record, &listed), ResultOk);
    for (bool known : {true, false}) {
      const InputBounds bounds = known ? BoundsOf(guarded) : InputBounds{};
      for (size_t i = 0; i < listed.seen.size(); ++i) {
        char name[PackDisplayNameCapacity] = {};
        int32_t size = -1;
        const uint8_t* data = nullptr;
        ASSERT_EQ(LocatePackEntry(guarded.data() + listed.seen[i].position, bounds, name, &size,
                                  &data),
                  ResultOk)
            << "layout " << layout << " entry " << i << " known bounds " << known;
        EXPECT_EQ(name, listed.seen[i].name);
        EXPECT_EQ(static_cast<uint32_t>(size), listed.seen[i].size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(data, data + size), entries[i].data);
      }
    }
  }
}

TEST(LocatePackEntry, RefusesWhatIsNotAListedEntry) {
  struct Case {
    const char* what;
    std::vector<uint8_t> pack;
    size_t record;
  };
  const std::vector<uint8_t> pack1 = MakePack1(FiveEntries());
  const std::vector<uint8_t> pack2 = MakePack2(FiveEntries());
  const std::vector<uint8_t> dashed = With(pack1, 2 + 64, "FIF-TH  BIN");
  std::vector<uint8_t> past1 = pack1;  // the closing offset beyond the end
  StoreU32LE(past1.data() + 2 + 80 + 12, static_cast<uint32_t>(past1.size() + 1));
  std::vector<uint8_t> past2 = pack2;  // the last entry's size one too many
  StoreU32LE(past2.data() + 4 + 8 * 6 + 16 * 4 + 12, 51);
  std::vector<uint8_t> backwards = pack1;  // offsets that fall back: a negative size
  StoreU32LE(backwards.data() + 2 + 80 + 12, LoadU32LE(backwards.data() + 2 + 64 + 12) - 1);
  std::vector<uint8_t> before = pack1;  // the fifth entry's data 16 bytes before the pack
  StoreU32LE(before.data() + 2 + 64 + 12, 0xFFFFFFF0u);
  StoreU32LE(before.data() + 2 + 80 + 12, 0);
  const Case cases[] = {
      {"layout-1 closing record", pack1, 2 + 16 * 5},
      {"data before the catalogue", before, 2 + 16 * 4},
      {"layout-2 last record", pack2, 4 + 8 * 5},
      {"between layout-1 records", pack1, 2 + 16 * 2 + 8},
      {"between layout-2 records", pack2, 4 + 8 * 2 + 4},
      {"inside the data", pack1, pack1.size() - 40},
      {"a fifth name that fails the name test", dashed, 2 + 16 * 4},
      {"layout-1 data past the end", past1, 2 + 16 * 4},
      {"layout-2 data past the end", past2, 4 + 8 * 4},
      {"layout-1 offsets that fall back", backwards, 2 + 16 * 4},
  };
  for (const Case& c : cases) {
    GuardedBuffer guarded(c.pack);
    for (bool known : {true, false}) {
      char name[PackDisplayNameCapacity];
      int32_t size = 0;
      const uint8_t* data = nullptr;
      EXPECT_EQ(LocatePackEntry(guarded.data() + c.record, known ? BoundsOf(guarded) : InputBounds{},
                                name, &size, &data),
                ResultBadData)
          << c.what << " known bounds " << known;
    }
  }
}

TEST(LocatePackEntry, NeverWalksInFrontOfTheInput) {
  // Offsets whose upper halves are not below the count: the walk back passes
  // the count and would go on in front of the pack. With the input's first
  // byte known it stops there (a sanitizer build sees any read before it).
  std::vector<FixtureEntry> entries = ThreeEntries();
  std::vector<uint8_t> pack = MakePack1(entries);
  for (size_t i = 0; i < 4; ++i) {
    uint8_t* offset = pack.data() + 2 + 16 * i + 12;
    StoreU32LE(offset, LoadU32LE(offset) + 0x00100000u);
  }
  ASSERT_EQ(DetectPackLayout(pack.data(), BoundsOf(pack)), 1);
  for (size_t i = 0; i < entries.size(); ++i) {
    char name[PackDisplayNameCapacity];
    int32_t size = 0;
    const uint8_t* data = nullptr;
    EXPECT_EQ(LocatePackEntry(pack.data() + PackPosition(1, i), BoundsOf(pack), name, &size, &data),
              ResultBadData);
  }
  // A record whose first 32 bytes leave the input is not even looked at.
  const std::vector<uint8_t> small = MakePack1(ThreeEntries());
  InputBounds cut = BoundsOf(small);
  cut.end = cut.first + PackPosition(1, 2) + 31;
  EXPECT_EQ(LocatePackCatalogue(small.data() + PackPosition(1, 2), cut).layout, 0);
}

}  // namespace
