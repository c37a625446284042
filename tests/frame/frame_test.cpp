// The frame every export runs on: identity strings, the header probe and the
// input dispatch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/input_source.h"
#include "frame/plugin_identity.h"
#include "support/guarded_buffer.h"
#include "support/temp_dir.h"

namespace {

const PluginInfoTable kTable = {"00AM", "A description", "*.PAK", "PAK"};

TEST(PluginIdentity, CopiesCutsAndTerminates) {
  struct Case {
    int32_t index;
    int32_t bufferLength;
    int32_t expectedResult;
    const char* expectedText;
  };
  const Case cases[] = {
      {0, 5, 4, "00AM"}, {0, 4, 3, "00A"}, {0, 1, 0, ""},       {0, 64, 4, "00AM"},
      {2, 6, 5, "*.PAK"}, {1, 6, 5, "A des"}, {3, 100, 3, "PAK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + "/" + std::to_string(c.bufferLength));
    char buffer[128];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CopyPluginInfo(kTable, c.index, buffer, c.bufferLength), c.expectedResult);
    EXPECT_STREQ(buffer, c.expectedText);
    // Nothing past the terminator the copy needed.
    const size_t written = std::strlen(c.expectedText) + 1;
    EXPECT_EQ(buffer[written], 'x');
  }
}

TEST(PluginIdentity, LeavesBufferAloneOutOfRange) {
  for (int32_t index : {-1, 4, 1000}) {
    char buffer[8] = "keep";
    EXPECT_EQ(CopyPluginInfo(kTable, index, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "keep");
  }
  char buffer[8] = "keep";
  EXPECT_EQ(CopyPluginInfo(kTable, 0, buffer, 0), 0);
  EXPECT_STREQ(buffer, "keep");
}

TEST(PluginIdentity, UnwritableBufferGivesZero) {
  GuardedBuffer guard(std::vector<uint8_t>{});
  // The guard page itself cannot be written.
  EXPECT_EQ(CopyPluginInfo(kTable, 1, reinterpret_cast<char*>(guard.end()), 16), 0);
}

// A format test that remembers what it saw.
std::vector<uint8_t> g_seen;
int32_t RecordingTest(const uint8_t* header) {
  g_seen.assign(header, header + 8);
  return header[0] == 'P' ? 7 : 0;
}

HANDLE OpenForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(HeaderProbe, ThroughAHandleReadsOnFromItsPosition) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 20; ++i) bytes.push_back(static_cast<uint8_t>('P' + (i == 0 ? 0 : i)));
  bytes[8] = 'P';
  const std::string file = dir.Write("probe.bin", bytes);
  HANDLE handle = OpenForReading(file);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const UINT_PTR source = reinterpret_cast<UINT_PTR>(handle);
  ASSERT_EQ(source >> 16, 0u) << "file handles are small numbers, told apart from addresses";

  EXPECT_EQ(HeaderProbe(source, RecordingTest, 8), 7);
  EXPECT_EQ(g_seen, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8));
  // The second probe sees the bytes after the first one's.
  EXPECT_EQ(HeaderProbe(source, RecordingTest, 8), 7);
  EXPECT_EQ(g_seen, std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 16));
  // Four bytes remain: the test still runs, the rest of its buffer is zero.
  EXPECT_EQ(HeaderProbe(source, RecordingTest, 8), 0);
  EXPECT_EQ(g_seen, (std::vector<uint8_t>{bytes[16], bytes[17], bytes[18], bytes[19], 0, 0, 0, 0}));
  // At the end nothing is read and the test does not run.
  g_seen.clear();
  EXPECT_EQ(HeaderProbe(source, RecordingTest, 8), 0);
  EXPECT_TRUE(g_seen.empty());
  CloseHandle(handle);

  const std::string empty = dir.Write("empty.bin", {});
  handle = OpenForReading(empty);
  EXPECT_EQ(HeaderProbe(reinterpret_cast<UINT_PTR>(handle), RecordingTest, 8), 0);
  EXPECT_TRUE(g_seen.empty());
  CloseHandle(handle);
}

TEST(HeaderProbe, ThroughAnAddressReadsInPlaceAndOnlyWhatIsReadable) {
  GuardedBuffer header(std::vector<uint8_t>{'P', 1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(HeaderProbe(reinterpret_cast<UINT_PTR>(header.data()), RecordingTest, 8), 7);
  // One byte short of the probe length: not probed, never a fault.
  GuardedBuffer shortHeader(std::vector<uint8_t>{'P', 1, 2, 3, 4, 5, 6});
  EXPECT_EQ(HeaderProbe(reinterpret_cast<UINT_PTR>(shortHeader.data()), RecordingTest, 8), 0);
}

TEST(HeaderProbe, UpperSixteenBitsDecideBetweenHandleAndAddress) {
  // 0xFFFF is taken for a handle (that no file has) and answers 0 without
  // reading memory; 0x10000 is an address, which here cannot be read.
  EXPECT_EQ(HeaderProbe(0xFFFF, RecordingTest, 8), 0);
  EXPECT_EQ(HeaderProbe(0x10000, RecordingTest, 8), 0);
}

struct Seen {
  int calls = 0;
  const uint8_t* data = nullptr;
  InputBounds bounds;
  bool readable = false;
  uint8_t firstByte = 0;
};

ResultCode RecordingOperation(const InputView& input, void* context) {
  Seen* seen = static_cast<Seen*>(context);
  ++seen->calls;
  seen->data = input.data;
  seen->bounds = input.bounds;
  // The view exists only while the operation runs: look at it now.
  seen->readable = IsReadable(input.bounds, input.data, 1);
  if (seen->readable) seen->firstByte = input.data[0];
  return 42;
}

TEST(DispatchInput, FileInputMapsTheFileAndStartsAtTheOffset) {
  TempDir dir;
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  const std::string file = dir.Write("input.bin", bytes);

  struct Case {
    intptr_t offset;
    bool readable;
    uint8_t firstByte;
  };
  const Case cases[] = {{0, true, 0}, {128, true, 128}, {299, true, 43}, {300, false, 0},
                        {-1, false, 0}, {1 << 20, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Seen seen;
    EXPECT_EQ(DispatchInput(file.c_str(), c.offset, 0, RecordingOperation, &seen), 42);
    ASSERT_EQ(seen.calls, 1);
    EXPECT_TRUE(seen.bounds.Known());
    EXPECT_EQ(seen.readable, c.readable);
    EXPECT_EQ(seen.firstByte, c.firstByte);
  }
  // Nothing reads past the view, however the range is asked for.
  Seen seen;
  DispatchInput(file.c_str(), 0, 0, RecordingOperation, &seen);
  EXPECT_EQ(seen.bounds.end - seen.bounds.first, 300);
}

TEST(DispatchInput, FileThatCannotBeMappedIsAReadError) {
  TempDir dir;
  const std::string empty = dir.Write("empty.bin", {});
  for (const std::string& path : {empty, dir.File("missing.bin"), dir.path().string()}) {
    SCOPED_TRACE(path);
    Seen seen;
    EXPECT_EQ(DispatchInput(path.c_str(), 0, 0, RecordingOperation, &seen), ResultReadError);
    EXPECT_EQ(seen.calls, 0);
  }
}

TEST(DispatchInput, MemoryInputIsTheSourceWithUnknownBounds) {
  const uint8_t block[4] = {9, 8, 7, 6};
  for (intptr_t size : {intptr_t{0}, intptr_t{4}, intptr_t{-5}}) {
    Seen seen;
    EXPECT_EQ(DispatchInput(reinterpret_cast<LPCSTR>(block), size, 1, RecordingOperation, &seen), 42);
    EXPECT_EQ(seen.data, block);
    EXPECT_FALSE(seen.bounds.Known());
    EXPECT_EQ(seen.firstByte, 9);
  }
}

TEST(DispatchInput, OtherInputKindsTouchNothing) {
  for (uint32_t kind = 2; kind <= 7; ++kind) {
    Seen seen;
    // An address that cannot be read: the dispatch must not look at it.
    EXPECT_EQ(DispatchInput(reinterpret_cast<LPCSTR>(16), 0, kind, RecordingOperation, &seen),
              ResultNotImplemented);
    EXPECT_EQ(seen.calls, 0);
  }
}

TEST(DispatchInput, HighFlagBitsAreIgnored) {
  TempDir dir;
  const std::string file = dir.Write("input.bin", {5, 6, 7});
  Seen seen;
  EXPECT_EQ(DispatchInput(file.c_str(), 0, 0x10000, RecordingOperation, &seen), 42);
  EXPECT_EQ(seen.firstByte, 5);
  const uint8_t block[1] = {3};
  EXPECT_EQ(DispatchInput(reinterpret_cast<LPCSTR>(block), 1, 0xFFFF0001u, RecordingOperation, &seen),
            42);
  EXPECT_EQ(seen.firstByte, 3);
}

TEST(IsReadable, StaysInsideKnownBoundsAndTheGuardPage) {
  GuardedBuffer buffer(std::vector<uint8_t>(64, 1));
  const InputBounds unknown;
  EXPECT_TRUE(IsReadable(unknown, buffer.data(), 64));
  EXPECT_FALSE(IsReadable(unknown, buffer.data(), 65));
  EXPECT_TRUE(IsReadable(unknown, buffer.end(), 0));
  EXPECT_FALSE(IsReadable(unknown, buffer.data() + 1, UINT64_MAX));

  InputBounds known;
  known.first = buffer.data() + 8;
  known.end = buffer.data() + 32;
  EXPECT_TRUE(IsReadable(known, buffer.data() + 8, 24));
  EXPECT_FALSE(IsReadable(known, buffer.data() + 7, 1));
  EXPECT_FALSE(IsReadable(known, buffer.data() + 9, 24));
  EXPECT_TRUE(IsReadable(known, buffer.data() + 32, 0));
  EXPECT_FALSE(IsReadable(known, buffer.data() + 33, 0));
}

TEST(MappedFile, WriteModeCreatesExactlyTheSizeAndReplaces) {
  TempDir dir;
  const std::string file = dir.Write("out.bin", std::vector<uint8_t>(5000, 0xAA));
  MappedFile output;
  uint8_t* view = output.Open(file.c_str(), 10);
  ASSERT_NE(view, nullptr);
  for (int i = 0; i < 10; ++i) view[i] = static_cast<uint8_t>(i);
  output.Release();
  EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

  // Size 0 is read mode: an empty file cannot be mapped, none is created.
  const std::string empty = dir.Write("empty.bin", {});
  MappedFile input;
  EXPECT_EQ(input.Open(empty.c_str(), 0), nullptr);
  EXPECT_EQ(input.Open(dir.File("none.bin").c_str(), 0), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.File("none.bin")));
}

}  // namespace
