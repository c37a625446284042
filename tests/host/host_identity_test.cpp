// The built plug-ins as the viewer meets them: loaded by file name, asked who
// they are, handed inputs they cannot take.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/plugin_library.h"
#include "support/temp_dir.h"

namespace {

struct Identity {
  const char* library;
  const char* strings[4];
  const char* dataExports[3];
};

const Identity kIdentities[] = {
    {"Bromvale",
     {"00AM", "Bromvale - Tessel extract library ver0.01", "*.PAK", "PAK"},
     {"GetArchiveInfo", "GetFileInfo", "GetFile"}},
    {"Pelko",
     {"00IN", "KZX to DIB filter ver0.01", "*.kzx", "KZX"},
     {"GetPictureInfo", "GetPicture", "GetPreview"}},
};

class HostIdentity : public ::testing::TestWithParam<Identity> {};

TEST_P(HostIdentity, ReportsItsFourStrings) {
  PluginLibrary plugin(GetParam().library);
  ASSERT_TRUE(plugin.loaded()) << plugin.file();
  auto getPluginInfo = plugin.Export<GetPluginInfoFn>("GetPluginInfo");
  ASSERT_NE(getPluginInfo, nullptr);
  for (int32_t i = 0; i < 4; ++i) {
    char buffer[256] = {};
    const std::string expected = GetParam().strings[i];
    EXPECT_EQ(getPluginInfo(i, buffer, sizeof buffer), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(buffer, expected);
  }
  char buffer[4] = "abc";
  EXPECT_EQ(getPluginInfo(4, buffer, sizeof buffer), 0);
  EXPECT_EQ(getPluginInfo(-1, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "abc");
  for (const char* name : GetParam().dataExports) EXPECT_NE(plugin.Export<void*>(name), nullptr) << name;
}

TEST_P(HostIdentity, DeclinesWhatIsNotItsFormat) {
  PluginLibrary plugin(GetParam().library);
  ASSERT_TRUE(plugin.loaded()) << plugin.file();
  auto isSupported = plugin.Export<IsSupportedFn>("IsSupported");
  const uint8_t noise[2048] = {1, 2, 3};
  EXPECT_EQ(isSupported(nullptr, reinterpret_cast<UINT_PTR>(noise)), 0);
  EXPECT_EQ(isSupported("whatever.kzx", reinterpret_cast<UINT_PTR>(noise)), 0);
}

INSTANTIATE_TEST_SUITE_P(BothPlugins, HostIdentity, ::testing::ValuesIn(kIdentities),
                         [](const auto& info) { return std::string(info.param.library); });

TEST(HostInputKinds, UnsupportedKindsAnswerNotImplementedBeforeTouchingAnything) {
  PluginLibrary bromvale("Bromvale");
  PluginLibrary pelko("Pelko");
  ASSERT_TRUE(bromvale.loaded() && pelko.loaded());
  auto getArchiveInfo = bromvale.Export<GetArchiveInfoFn>("GetArchiveInfo");
  auto getFileInfo = bromvale.Export<GetFileInfoFn>("GetFileInfo");
  auto getFile = bromvale.Export<GetFileFn>("GetFile");
  auto getPictureInfo = pelko.Export<GetPictureInfoFn>("GetPictureInfo");
  auto getPicture = pelko.Export<GetPictureFn>("GetPicture");
  auto getPreview = pelko.Export<GetPictureFn>("GetPreview");
  // A source that cannot be read: any look at it would fault or fail.
  const LPCSTR bad = reinterpret_cast<LPCSTR>(16);
  for (uint32_t kind = 2; kind <= 7; ++kind) {
    SCOPED_TRACE(kind);
    HLOCAL list = reinterpret_cast<HLOCAL>(1);
    EXPECT_EQ(getArchiveInfo(bad, 0, kind, &list), ResultNotImplemented);
    EXPECT_EQ(list, nullptr);
    ArchiveEntryInfo info;
    std::memset(&info, 0x55, sizeof info);
    EXPECT_EQ(getFileInfo(bad, 0, "A", kind, &info), ResultNotImplemented);
    EXPECT_EQ(info.method[0], 0) << "the record is cleared first";
    EXPECT_EQ(getFile(bad, 0, nullptr, kind | 0x100, nullptr, 0), ResultNotImplemented);
    PictureInfo picture{};
    EXPECT_EQ(getPictureInfo(bad, 0, kind, &picture), ResultNotImplemented);
    HLOCAL bits = reinterpret_cast<HLOCAL>(1), header = reinterpret_cast<HLOCAL>(1);
    EXPECT_EQ(getPicture(bad, 0, kind, &header, &bits, nullptr, 0), ResultNotImplemented);
    EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(1));
    EXPECT_EQ(getPreview(bad, 0, kind, &header, &bits, nullptr, 0), ResultNotImplemented);
  }
}

TEST(HostInputKinds, MissingOrEmptyFileIsAReadError) {
  PluginLibrary bromvale("Bromvale");
  PluginLibrary pelko("Pelko");
  ASSERT_TRUE(bromvale.loaded() && pelko.loaded());
  TempDir dir;
  const std::string empty = dir.Write("empty.bin", {});
  for (const std::string& file : {empty, dir.File("missing.bin")}) {
    SCOPED_TRACE(file);
    HLOCAL list = nullptr;
    EXPECT_EQ(bromvale.Export<GetArchiveInfoFn>("GetArchiveInfo")(file.c_str(), 0, 0, &list),
              ResultReadError);
    PictureInfo picture{};
    EXPECT_EQ(pelko.Export<GetPictureInfoFn>("GetPictureInfo")(file.c_str(), 0, 0x10000, &picture),
              ResultReadError);
  }
}

}  // namespace
