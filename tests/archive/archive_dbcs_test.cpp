// Paths in code page 932, where the second byte of a double-byte character
// may be 0x5C, the backslash. Natively the code page is selected here; under
// Wine the runner gives this program a Japanese locale, and without one it
// skips itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/extraction_fixture.h"
#include "archive/pack_fixture.h"
#include "archive/path_operations.h"
#include "host/plugin_api.h"
#include "support/plugin_library.h"
#include "support/temp_dir.h"

namespace {

// Two characters whose second byte is 0x5C, and a lead byte alone.
const std::string kHyou = "\x95\x5C";
const std::string kSo = "\x83\x5C";

class CodePage932 : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    WinsvcSetAnsiCodePage(932);
#endif
    if (GetACP() != 932) GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
  }
};

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<uint8_t> ReadThroughServices(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::vector<uint8_t> bytes(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

TEST_F(CodePage932, ASecondByte5CIsNoSeparator) {
  const struct {
    std::string path;
    int32_t lastSeparator;
    int32_t lastChar;
  } cases[] = {
      {"C:\\a" + kHyou, 2, 6},             // ends in a double-byte character: the zero byte
      {"C:\\a" + kHyou + "\\", 6, 6},      // a real backslash after it
      {"C:\\a" + kHyou + "b", 2, 6},       // a single byte after it
      {"C:\\a\x95", 2, 5},                 // a lead byte with nothing after it
      {kSo + kHyou, -1, 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LastSeparatorIndex(c.path.c_str()), c.lastSeparator) << c.path;
    EXPECT_EQ(LastCharPosition(c.path.c_str()), c.lastChar) << c.path;
  }
  char buffer[64];
  std::strcpy(buffer, ("C:\\out" + kHyou).c_str());
  ASSERT_TRUE(AppendFileName(buffer, "A.TXT", sizeof buffer));
  EXPECT_EQ(std::string(buffer), "C:\\out" + kHyou + "\\A.TXT");
}

TEST_F(CodePage932, DirectoriesAndFilesKeepTheirLastCharacter) {
  TempDir temp;
  const std::string root = ServicePath(temp.path());
  const std::string outer = root + "\\x" + kHyou;
  const std::string inner = outer + "\\sub" + kSo;
  ASSERT_TRUE(PrepareDirectory(inner.c_str()));
  EXPECT_TRUE(IsDirectory(outer));
  EXPECT_TRUE(IsDirectory(inner));

  PluginLibrary plugin("Bromvale");
  ASSERT_TRUE(plugin.loaded()) << plugin.file();
  const GetFileFn getFile = plugin.Export<GetFileFn>("GetFile");
  const std::vector<FixtureEntry> entries = ThreeEntries();
  const std::string packPath = temp.Write("pack.pak", MakePack1(entries));
  // A destination made by the extraction itself, ending in such a character.
  const std::string fresh = root + "\\new" + kSo;
  for (const std::string& destination : {inner, fresh}) {
    std::string writable = destination;
    ASSERT_EQ(getFile(packPath.c_str(), PackPosition(1, 0), &writable[0], 0, nullptr, 0), ResultOk)
        << destination;
    EXPECT_EQ(ReadThroughServices(destination + "\\README.TXT"), entries[0].data) << destination;
  }
}

}  // namespace
