// Pelko as the viewer meets it: loaded by file name, called by export name,
// given memory blocks and files, and handing back blocks the host frees.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frame/byte_order.h"
#include "image/kzx_test_support.h"
#include "support/guarded_buffer.h"
#include "support/plugin_library.h"
#include "support/temp_dir.h"
#include "writers/kzx_writer.h"

namespace {

class PelkoExports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.loaded()) << plugin_.file();
    isSupported_ = plugin_.Export<IsSupportedFn>("IsSupported");
    getPictureInfo_ = plugin_.Export<GetPictureInfoFn>("GetPictureInfo");
    getPicture_ = plugin_.Export<GetPictureFn>("GetPicture");
    getPreview_ = plugin_.Export<GetPictureFn>("GetPreview");
    ASSERT_TRUE(isSupported_ && getPictureInfo_ && getPicture_ && getPreview_);
  }

  PluginLibrary plugin_{"Pelko"};
  IsSupportedFn isSupported_ = nullptr;
  GetPictureInfoFn getPictureInfo_ = nullptr;
  GetPictureFn getPicture_ = nullptr;
  GetPictureFn getPreview_ = nullptr;
};

// What GetPicture handed over, copied out of the blocks, which are then freed
// as the host frees them.
struct Bitmap {
  ResultCode result = ResultNotImplemented;
  HLOCAL header = nullptr;
  HLOCAL bits = nullptr;
  std::vector<uint8_t> headerBytes;
  std::vector<uint8_t> bitsBytes;
  std::vector<ProgressLog::Call> calls;
};

Bitmap TakeBitmap(GetPictureFn getPicture, LPCSTR source, intptr_t offsetOrSize, uint32_t flag,
                  int stopAt = -1) {
  ProgressLog log;
  log.stopAt = stopAt;
  Bitmap out;
  out.result = getPicture(source, offsetOrSize, flag, &out.header, &out.bits, ProgressLog::Record,
                          log.UserData());
  out.calls = log.calls;
  if (out.result == ResultOk) {
    for (auto [handle, bytes] : {std::pair{out.header, &out.headerBytes}, std::pair{out.bits, &out.bitsBytes}}) {
      const uint8_t* p = static_cast<const uint8_t*>(LocalLock(handle));
      if (p != nullptr) bytes->assign(p, p + LocalSize(handle));
      LocalUnlock(handle);
      LocalFree(handle);
    }
  }
  return out;
}

Bitmap TakeBitmap(GetPictureFn getPicture, const uint8_t* memory, int stopAt = -1) {
  return TakeBitmap(getPicture, reinterpret_cast<LPCSTR>(memory), 0, InputKindMemory, stopAt);
}

// Rows of a width x height picture, top first, as the bottom-up pixel block.
std::vector<uint8_t> BottomUp(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height) {
  const uint32_t stride = (width + 3) & ~3u;
  std::vector<uint8_t> block(static_cast<size_t>(stride) * height, 0);
  for (uint32_t k = 0; k < height; ++k) {
    std::memcpy(&block[static_cast<size_t>(k) * stride], &pixels[static_cast<size_t>(height - 1 - k) * width], width);
  }
  return block;
}

// A picture with what real ones have: flat areas, gradients, edges, repeats
// and noise, in 200 colours (so the chunked encoding keeps every index).
IndexedPicture GeneratedPicture(uint32_t width, uint32_t height) {
  IndexedPicture picture;
  picture.width = width;
  picture.height = height;
  uint32_t noise = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      uint8_t index;
      if (y < height / 4) {
        index = static_cast<uint8_t>((x / 7) % 200);  // stripes
      } else if (y < height / 2) {
        index = static_cast<uint8_t>((x + y) % 50);  // a diagonal gradient
      } else if (x < width / 3) {
        index = static_cast<uint8_t>((noise >> 16) % 200);  // noise
      } else if ((x / 16 + y / 16) % 2 == 0) {
        index = 3;  // a checkerboard of flat squares
      } else {
        index = static_cast<uint8_t>(150 + (x % 3));
      }
      picture.pixels.push_back(index);
    }
  }
  for (int i = 0; i < 200; ++i) {
    picture.palette.push_back({static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)});
  }
  return picture;
}

std::vector<uint8_t> Encode(const IndexedPicture& picture, KzxEncoding encoding) {
  std::vector<uint8_t> file;
  std::string error;
  EXPECT_TRUE(EncodeKzx(picture, encoding, &file, &error)) << error;
  return file;
}

void ExpectPicture(const Bitmap& bitmap, const IndexedPicture& picture) {
  ASSERT_EQ(bitmap.result, ResultOk);
  ASSERT_EQ(bitmap.headerBytes.size(), 1064u);
  EXPECT_EQ(LoadI32LE(&bitmap.headerBytes[4]), static_cast<int32_t>(picture.width));
  EXPECT_EQ(LoadI32LE(&bitmap.headerBytes[8]), static_cast<int32_t>(picture.height));
  for (size_t i = 0; i < picture.palette.size(); ++i) {
    const uint8_t* entry = &bitmap.headerBytes[40 + 4 * i];
    EXPECT_EQ(entry[0], picture.palette[i].blue);
    EXPECT_EQ(entry[1], picture.palette[i].green);
    EXPECT_EQ(entry[2], picture.palette[i].red);
    EXPECT_EQ(entry[3], 0);
  }
  EXPECT_TRUE(bitmap.bitsBytes == BottomUp(picture.pixels, picture.width, picture.height));
}

TEST_F(PelkoExports, ExamplePictureFromMemory) {
  const std::vector<uint8_t> file = ExamplePictureFile();
  EXPECT_EQ(isSupported_(nullptr, reinterpret_cast<UINT_PTR>(file.data())), 1);

  alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
  ASSERT_EQ(getPictureInfo_(reinterpret_cast<LPCSTR>(file.data()), 0, InputKindMemory, &info), ResultOk);
  EXPECT_EQ(info.width, 4);
  EXPECT_EQ(info.height, 3);
  EXPECT_EQ(info.colorDepth, 8);

  const Bitmap bitmap = TakeBitmap(getPicture_, file.data());
  ASSERT_EQ(bitmap.result, ResultOk);
  EXPECT_EQ(Describe(bitmap.calls), "(0,1)(0,12)(4,12)(8,12)(1,1)");
  std::vector<uint8_t> header(1064, 0);
  StoreU32LE(&header[0], 40);
  StoreU32LE(&header[4], 4);
  StoreU32LE(&header[8], 3);
  StoreU16LE(&header[12], 1);
  StoreU16LE(&header[14], 8);
  StoreU32LE(&header[20], 12);
  header[44] = 0xFF;  // entry 1: blue
  header[50] = 0xFF;  // entry 2: red
  EXPECT_EQ(bitmap.headerBytes, header);
  EXPECT_EQ(bitmap.bitsBytes, (std::vector<uint8_t>{2, 2, 2, 2, 0, 1, 0, 1, 0, 1, 0, 1}));
}

TEST_F(PelkoExports, FilesAtAnOffset) {
  TempDir dir;
  const std::vector<uint8_t> example = ExamplePictureFile();
  std::vector<uint8_t> shifted(128 + example.size(), 0x33);
  std::memcpy(&shifted[128], example.data(), example.size());
  const struct {
    std::string path;
    intptr_t offset;
    ResultCode result;
  } cases[] = {
      {dir.Write("plain.kzx", example), 0, ResultOk},
      {dir.Write("shifted.kzx", shifted), 128, ResultOk},
      {dir.Write("cut.kzx", {example.begin(), example.end() - 1}), 0, ResultBadData},
      {dir.File("missing.kzx"), 0, ResultReadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Bitmap bitmap = TakeBitmap(getPicture_, c.path.c_str(), c.offset, InputKindFile);
    EXPECT_EQ(bitmap.result, c.result);
    if (c.result == ResultOk) {
      EXPECT_EQ(bitmap.bitsBytes, (std::vector<uint8_t>{2, 2, 2, 2, 0, 1, 0, 1, 0, 1, 0, 1}));
      EXPECT_EQ(Describe(bitmap.calls), "(0,1)(0,12)(4,12)(8,12)(1,1)");
    }
    alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
    std::memset(&info, 0, sizeof info);
    EXPECT_EQ(getPictureInfo_(c.path.c_str(), c.offset, InputKindFile, &info),
              c.result == ResultReadError ? ResultReadError : ResultOk);
  }
}

TEST_F(PelkoExports, ProbeThroughAFileHandle) {
  TempDir dir;
  std::vector<uint8_t> notQuite = ExamplePictureFile();
  notQuite[9] = ' ';
  const struct {
    std::string path;
    int32_t expected;
  } cases[] = {{dir.Write("a.kzx", ExamplePictureFile()), 1}, {dir.Write("b.kzx", notQuite), 0}};
  for (const auto& c : cases) {
    HANDLE file = CreateFileA(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(isSupported_("ignored", reinterpret_cast<UINT_PTR>(file)), c.expected) << c.path;
    CloseHandle(file);
  }
}

TEST_F(PelkoExports, FailuresLeaveNothingBehind) {
  std::vector<uint8_t> badData = ExamplePictureFile();
  badData[39] = 0xFE;  // flag 0 and a copy 13 pixels back after 1 pixel
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    int stopAt;
    ResultCode result;
    const char* calls;
    bool written;
  } cases[] = {
      {"cancelled at once", ExamplePictureFile(), 0, ResultCancelled, "(0,1)", false},
      {"cancelled while decoding", ExamplePictureFile(), 2, ResultCancelled, "(0,1)(0,12)(4,12)", true},
      {"bad data", badData, -1, ResultBadData, "(0,1)(0,12)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgressLog log;
    log.stopAt = c.stopAt;
    const HLOCAL untouched = reinterpret_cast<HLOCAL>(static_cast<intptr_t>(0x5A5A));
    HLOCAL header = untouched, bits = untouched;
    EXPECT_EQ(getPicture_(reinterpret_cast<LPCSTR>(c.file.data()), 0, InputKindMemory, &header, &bits,
                          ProgressLog::Record, log.UserData()),
              c.result);
    EXPECT_EQ(Describe(log.calls), c.calls);
    EXPECT_EQ(header, c.written ? nullptr : untouched);
    EXPECT_EQ(bits, c.written ? nullptr : untouched);
  }
  HLOCAL header, bits;
  EXPECT_EQ(getPreview_(nullptr, 0, 0, &header, &bits, nullptr, 0), ResultNotImplemented);
}

TEST_F(PelkoExports, GeneratedPicturesInBothEncodings) {
  for (auto [width, height] : {std::pair{301u, 157u}, std::pair{1u, 40u}, std::pair{2u, 33u}}) {
    const IndexedPicture picture = GeneratedPicture(width, height);
    for (KzxEncoding encoding : {KzxEncoding::BitStream, KzxEncoding::Chunked}) {
      SCOPED_TRACE(testing::Message() << width << "x" << height << " encoding "
                                      << (encoding == KzxEncoding::BitStream ? "bit stream" : "chunked"));
      const std::vector<uint8_t> file = Encode(picture, encoding);
      ExpectPicture(TakeBitmap(getPicture_, file.data()), picture);
    }
  }
}

// The input ends right before a page that cannot be read: a read past the
// end of the file faults at once.
TEST_F(PelkoExports, InputAgainstAGuardPage) {
  const IndexedPicture picture = GeneratedPicture(97, 61);
  for (const std::vector<uint8_t>& file :
       {ExamplePictureFile(), Encode(picture, KzxEncoding::BitStream), Encode(picture, KzxEncoding::Chunked)}) {
    {
      GuardedBuffer whole(file);
      const Bitmap bitmap = TakeBitmap(getPicture_, whole.data());
      EXPECT_EQ(bitmap.result, ResultOk);
    }
    // Every shorter input: each must end in a clear result, never a fault.
    for (size_t length = 0; length < file.size(); ++length) {
      GuardedBuffer cut(file.data(), length);
      const Bitmap bitmap = TakeBitmap(getPicture_, cut.data());
      ASSERT_NE(bitmap.result, ResultOk) << length;
      alignas(8) PictureInfo info;  // packed: aligned here so that gtest can bind its fields
      EXPECT_EQ(getPictureInfo_(reinterpret_cast<LPCSTR>(cut.data()), 0, InputKindMemory, &info),
                length < 26 ? ResultBadData : ResultOk);
      EXPECT_EQ(isSupported_(nullptr, reinterpret_cast<UINT_PTR>(cut.data())), length >= 26 ? 1 : 0);
    }
  }
}

TEST_F(PelkoExports, FourThreadsAtOnce) {
  const IndexedPicture big = GeneratedPicture(640, 480);
  const std::vector<std::vector<uint8_t>> files = {Encode(big, KzxEncoding::BitStream),
                                                   Encode(big, KzxEncoding::Chunked),
                                                   ExamplePictureFile()};
  std::vector<Bitmap> alone;
  for (const auto& file : files) alone.push_back(TakeBitmap(getPicture_, file.data()));
  std::vector<std::vector<Bitmap>> perThread(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round) {
        for (const auto& file : files) perThread[t].push_back(TakeBitmap(getPicture_, file.data()));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 4; ++t) {
    ASSERT_EQ(perThread[t].size(), 5 * files.size());
    for (size_t i = 0; i < perThread[t].size(); ++i) {
      const Bitmap& expected = alone[i % files.size()];
      EXPECT_EQ(perThread[t][i].result, ResultOk);
      EXPECT_TRUE(perThread[t][i].headerBytes == expected.headerBytes);
      EXPECT_TRUE(perThread[t][i].bitsBytes == expected.bitsBytes);
      EXPECT_EQ(Describe(perThread[t][i].calls), Describe(expected.calls));
    }
  }
}

}  // namespace
