// The picture frame with stand-in operations: the input it is given is a
// FakePicture in memory that says what each operation answers and records
// what the frame asked of them.
#include "image/picture_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/byte_order.h"
#include "image/kzx_test_support.h"

namespace {

struct Seen {
  std::string order;  // I, D, P: the operations in the order they ran
  int32_t stride = -1;
  int32_t height = -1;
  uint32_t entries = 0;
};

struct FakePicture {
  PictureInfo info;
  ResultCode infoResult;
  ResultCode decodeResult;
  ResultCode paletteResult;
  Seen* seen;
};

const FakePicture& Fake(const InputView& input) {
  return *reinterpret_cast<const FakePicture*>(input.data);
}

ResultCode FakeInfo(const InputView& input, PictureInfo* info) {
  const FakePicture& fake = Fake(input);
  fake.seen->order += "I";
  if (fake.infoResult == ResultOk) *info = fake.info;
  return fake.infoResult;
}

// Row k (from the bottom) gets bytes 0x10 + k over the row's pixel bytes.
ResultCode FakeDecode(const InputView& input, uint8_t* pixels, int32_t stride, int32_t height,
                      ProgressCallback progress, intptr_t userData) {
  const FakePicture& fake = Fake(input);
  fake.seen->order += "D";
  fake.seen->stride = stride;
  fake.seen->height = height;
  if (ProgressAsksToStop(progress, 5, 10, userData)) return ResultCancelled;
  if (fake.decodeResult != ResultOk) return fake.decodeResult;
  const int32_t rowBytes = (fake.info.colorDepth * fake.info.width + 7) / 8;
  for (int32_t k = 0; k < height; ++k) std::memset(pixels + k * stride, 0x10 + k, rowBytes);
  return ResultOk;
}

ResultCode FakePalette(const InputView& input, uint8_t* table, uint32_t entries) {
  const FakePicture& fake = Fake(input);
  fake.seen->order += "P";
  fake.seen->entries = entries;
  if (fake.paletteResult != ResultOk) return fake.paletteResult;
  for (uint32_t i = 0; i < entries; ++i) std::memset(table + 4 * i, 0xC0 + i % 16, 3);
  return ResultOk;
}

const PictureOperations kFakeOperations = {FakeInfo, FakeDecode, FakePalette};

FakePicture MakeFake(int32_t width, int32_t height, int16_t depth, Seen* seen) {
  FakePicture fake;
  std::memset(&fake, 0, sizeof fake);
  fake.info.width = width;
  fake.info.height = height;
  fake.info.xDensity = fake.info.yDensity = 1;
  fake.info.colorDepth = depth;
  fake.infoResult = fake.decodeResult = fake.paletteResult = ResultOk;
  fake.seen = seen;
  return fake;
}

const HLOCAL kUntouched = reinterpret_cast<HLOCAL>(static_cast<intptr_t>(0x5A5A));

struct Built {
  ResultCode result;
  HLOCAL header = kUntouched;
  HLOCAL bits = kUntouched;
  std::vector<uint8_t> headerBytes;  // the information block, when handed over
  std::vector<uint8_t> bitsBytes;    // the pixel block, when handed over
  ProgressLog log;
};

// Runs the frame on a fake in memory; takes over and frees the blocks.
void Build(const FakePicture& fake, Built* out, int stopAt = -1) {
  out->log.stopAt = stopAt;
  out->result = BuildPicture(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory,
                             &out->header, &out->bits, ProgressLog::Record, out->log.UserData());
  if (out->result != ResultOk) return;
  for (auto [handle, bytes] : {std::pair{out->header, &out->headerBytes}, std::pair{out->bits, &out->bitsBytes}}) {
    const SIZE_T size = LocalSize(handle);
    const uint8_t* p = static_cast<const uint8_t*>(LocalLock(handle));
    ASSERT_NE(p, nullptr);
    bytes->assign(p, p + size);
    LocalUnlock(handle);
    EXPECT_EQ(LocalFree(handle), nullptr);
  }
}

TEST(PictureFrame, BlocksForEachDepth) {
  const struct {
    int16_t depth;
    ResultCode result;
    size_t headerBlock;
    const char* order;
  } cases[] = {{1, ResultOk, 48, "IDP"},  {4, ResultOk, 104, "IDP"},
               {8, ResultOk, 1064, "IDP"}, {24, ResultOk, 40, "ID"},
               {16, ResultNotImplemented, 0, "I"}, {32, ResultNotImplemented, 0, "I"},
               {0, ResultNotImplemented, 0, "I"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    Seen seen;
    Built built;
    Build(MakeFake(3, 2, c.depth, &seen), &built);
    EXPECT_EQ(built.result, c.result);
    EXPECT_EQ(seen.order, c.order);
    if (c.result != ResultOk) {
      EXPECT_EQ(built.header, kUntouched);
      EXPECT_EQ(built.bits, kUntouched);
      EXPECT_EQ(Describe(built.log.calls), "(0,1)");
      continue;
    }
    EXPECT_EQ(built.headerBytes.size(), c.headerBlock);
    EXPECT_EQ(seen.entries, (c.headerBlock - 40) / 4);
    // Every entry the palette wrote, and nothing in the reserved bytes.
    for (size_t i = 0; 40 + 4 * i < built.headerBytes.size(); ++i) {
      EXPECT_EQ(built.headerBytes[40 + 4 * i], 0xC0 + i % 16);
      EXPECT_EQ(built.headerBytes[40 + 4 * i + 3], 0);
    }
    EXPECT_EQ(Describe(built.log.calls), "(0,1)(5,10)(1,1)");
  }
}

TEST(PictureFrame, StrideAndBitmapHeader) {
  const struct {
    int16_t depth;
    int32_t width;
    int32_t stride;
  } cases[] = {{8, 1, 4},   {8, 4, 4},  {8, 5, 8},  {8, 640, 640}, {8, 641, 644}, {1, 1, 4},
               {1, 32, 4},  {1, 33, 8}, {4, 9, 8},  {24, 1, 4},    {24, 2, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.depth << " bits, " << c.width << " wide");
    Seen seen;
    Built built;
    Build(MakeFake(c.width, 3, c.depth, &seen), &built);
    ASSERT_EQ(built.result, ResultOk);
    EXPECT_EQ(seen.stride, c.stride);
    EXPECT_EQ(seen.height, 3);
    ASSERT_EQ(built.bitsBytes.size(), static_cast<size_t>(c.stride) * 3);
    const uint8_t* h = built.headerBytes.data();
    EXPECT_EQ(LoadU32LE(h + 0), 40u);
    EXPECT_EQ(LoadI32LE(h + 4), c.width);
    EXPECT_EQ(LoadI32LE(h + 8), 3);
    EXPECT_EQ(LoadU16LE(h + 12), 1);
    EXPECT_EQ(LoadU16LE(h + 14), c.depth);
    EXPECT_EQ(LoadU32LE(h + 16), 0u);
    EXPECT_EQ(LoadU32LE(h + 20), static_cast<uint32_t>(c.stride) * 3);
    for (int offset = 24; offset < 40; offset += 4) EXPECT_EQ(LoadU32LE(h + offset), 0u) << offset;
    // The rows as the decode wrote them, and 0 after each row's pixel bytes.
    const int32_t rowBytes = (c.depth * c.width + 7) / 8;
    for (int32_t k = 0; k < 3; ++k) {
      for (int32_t x = 0; x < c.stride; ++x) {
        EXPECT_EQ(built.bitsBytes[k * c.stride + x], x < rowBytes ? 0x10 + k : 0) << k << "," << x;
      }
    }
  }
}

TEST(PictureFrame, PicturesWhoseBlocksCannotBeHad) {
  const struct {
    const char* name;
    int32_t width;
    int32_t height;
    int16_t depth;
    ResultCode result;
  } cases[] = {
      {"no columns", 0, 5, 8, ResultMemoryError},  // a block of 0 bytes cannot be locked
      {"no rows", 5, 0, 8, ResultMemoryError},
      {"over 4 GiB of pixels", 65536, 65536, 8, ResultNoMemory},
      {"a row over 2 GiB", 1000000000, 1, 24, ResultNoMemory},
      {"negative width", -4, 2, 8, ResultNoMemory},
      {"negative height", 4, -2, 8, ResultNoMemory},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Seen seen;
    Built built;
    Build(MakeFake(c.width, c.height, c.depth, &seen), &built);
    EXPECT_EQ(built.result, c.result);
    EXPECT_EQ(seen.order, "I") << "never decoded";
    EXPECT_EQ(built.header, nullptr);
    EXPECT_EQ(built.bits, nullptr);
  }
}

TEST(PictureFrame, FailuresAndWhatTheyLeave) {
  const struct {
    const char* name;
    ResultCode info, decode, palette;
    int stopAt;
    ResultCode result;
    bool locationsWritten;  // both 0 when true, untouched when false
    const char* order;
    const char* calls;
  } cases[] = {
      {"cancelled at once", ResultOk, ResultOk, ResultOk, 0, ResultCancelled, false, "", "(0,1)"},
      {"info fails", ResultBadData, ResultOk, ResultOk, -1, ResultBadData, false, "I", "(0,1)"},
      {"decode fails", ResultOk, ResultTruncatedData, ResultOk, -1, ResultTruncatedData, true, "ID",
       "(0,1)(5,10)"},
      {"cancelled while decoding", ResultOk, ResultOk, ResultOk, 1, ResultCancelled, true, "ID",
       "(0,1)(5,10)"},
      {"palette fails", ResultOk, ResultOk, ResultBadData, -1, ResultBadData, true, "IDP",
       "(0,1)(5,10)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Seen seen;
    FakePicture fake = MakeFake(4, 4, 8, &seen);
    fake.infoResult = c.info;
    fake.decodeResult = c.decode;
    fake.paletteResult = c.palette;
    Built built;
    Build(fake, &built, c.stopAt);
    EXPECT_EQ(built.result, c.result);
    EXPECT_EQ(seen.order, c.order);
    EXPECT_EQ(Describe(built.log.calls), c.calls);
    const HLOCAL expected = c.locationsWritten ? nullptr : kUntouched;
    EXPECT_EQ(built.header, expected);
    EXPECT_EQ(built.bits, expected);
  }
}

TEST(PictureFrame, UnwritableLocationsAreRefused) {
  Seen seen;
  const FakePicture fake = MakeFake(4, 4, 8, &seen);
  HLOCAL handle = kUntouched;
  ProgressLog log;
  EXPECT_EQ(BuildPicture(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory, nullptr,
                         &handle, ProgressLog::Record, log.UserData()),
            ResultMemoryError);
  EXPECT_EQ(BuildPicture(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory, &handle,
                         nullptr, ProgressLog::Record, log.UserData()),
            ResultMemoryError);
  EXPECT_EQ(handle, kUntouched);
  EXPECT_EQ(seen.order, "") << "nothing was opened";
  EXPECT_EQ(ReportPictureInfo(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory,
                              nullptr),
            ResultMemoryError);
  // An input kind the frame does not know is refused before anything else.
  EXPECT_EQ(BuildPicture(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, 2, nullptr, nullptr,
                         ProgressLog::Record, log.UserData()),
            ResultNotImplemented);
  EXPECT_EQ(ReportPictureInfo(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, 3, nullptr),
            ResultNotImplemented);
}

TEST(PictureFrame, InfoGoesStraightIntoTheRecord) {
  Seen seen;
  FakePicture fake = MakeFake(7, 9, 8, &seen);
  alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
  std::memset(&info, 0x55, sizeof info);
  ASSERT_EQ(ReportPictureInfo(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory, &info),
            ResultOk);
  EXPECT_EQ(info.width, 7);
  EXPECT_EQ(info.height, 9);
  fake.infoResult = ResultBadData;
  std::memset(&info, 0x55, sizeof info);
  EXPECT_EQ(ReportPictureInfo(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, InputKindMemory, &info),
            ResultBadData);
  EXPECT_EQ(info.width, 0x55555555);
  EXPECT_EQ(ReportPictureInfo(kFakeOperations, reinterpret_cast<LPCSTR>(&fake), 0, 2, &info),
            ResultNotImplemented);
}

}  // namespace
