#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

class Names : public ::testing::Test {
 protected:
  void TearDown() override { WinsvcSetAnsiCodePage(1252); }
  ScratchDir dir;
};

TEST_F(Names, AttributesAndDirectories) {
  dir.WriteFile("f", "x");
  EXPECT_EQ(GetFileAttributesA(dir.Windows("f").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesA(dir.Windows().c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(dir.Windows("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_TRUE(CreateDirectoryA(dir.Windows("d").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(dir.Posix("d")));
  struct Refusal {
    std::string path;
    DWORD error;
  } refusals[] = {
      {dir.Windows("d"), ERROR_ALREADY_EXISTS},
      {dir.Windows("f"), ERROR_ALREADY_EXISTS},
      {dir.Windows("none\\d"), ERROR_PATH_NOT_FOUND},
  };
  for (const Refusal& r : refusals) {
    EXPECT_FALSE(CreateDirectoryA(r.path.c_str(), nullptr)) << r.path;
    EXPECT_EQ(GetLastError(), r.error) << r.path;
  }
}

TEST_F(Names, Deletion) {
  dir.WriteFile("f", "x");
  fs::create_directory(dir.Posix("d"));
  EXPECT_TRUE(DeleteFileA(dir.Windows("f").c_str()));
  EXPECT_FALSE(fs::exists(dir.Posix("f")));
  EXPECT_FALSE(DeleteFileA(dir.Windows("f").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(dir.Windows("d").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::is_directory(dir.Posix("d")));
}

TEST_F(Names, MoveNeverReplaces) {
  dir.WriteFile("a", "first");
  dir.WriteFile("b", "second");
  EXPECT_FALSE(MoveFileA(dir.Windows("a").c_str(), dir.Windows("b").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(dir.ReadFile("a"), "first");
  EXPECT_EQ(dir.ReadFile("b"), "second");

  EXPECT_TRUE(MoveFileA(dir.Windows("a").c_str(), dir.Windows("c").c_str()));
  EXPECT_EQ(dir.ReadFile("a"), "<missing>");
  EXPECT_EQ(dir.ReadFile("c"), "first");

  EXPECT_FALSE(MoveFileA(dir.Windows("a").c_str(), dir.Windows("d").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Names, MoveOfAnOpenFileNeedsDeleteSharing) {
  dir.WriteFile("a", "x");
  HANDLE held = CreateFileA(dir.Windows("a").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileA(dir.Windows("a").c_str(), dir.Windows("b").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(held);
  EXPECT_TRUE(MoveFileA(dir.Windows("a").c_str(), dir.Windows("b").c_str()));
}

TEST_F(Names, TemporaryNames) {
  char name[MAX_PATH];
  std::set<std::string> seen;
  for (std::string directory : {dir.Windows(), dir.Windows() + "\\"}) {
    for (int i = 0; i < 3; ++i) {
      const UINT number = GetTempFileNameA(directory.c_str(), "SPIXYZ", 0, name);
      ASSERT_NE(number, 0u);
      char expected[16];
      snprintf(expected, sizeof expected, "\\SPI%X.TMP", number);
      EXPECT_EQ(std::string(name), dir.Windows() + expected);
      EXPECT_TRUE(seen.insert(name).second) << name;
      EXPECT_EQ(GetFileAttributesA(name), FILE_ATTRIBUTE_NORMAL) << name;
      EXPECT_EQ(fs::file_size(dir.Posix(expected + 1)), 0u);
    }
  }
  // With a number given, only the name is formed.
  EXPECT_EQ(GetTempFileNameA(dir.Windows().c_str(), "ab", 0x1C, name), 0x1Cu);
  EXPECT_EQ(std::string(name), dir.Windows() + "\\ab1C.TMP");
  EXPECT_FALSE(fs::exists(dir.Posix("ab1C.TMP")));

  EXPECT_EQ(GetTempFileNameA(dir.Windows("none").c_str(), "SPI", 0, name), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  const std::string tooLong(MAX_PATH, 'x');
  EXPECT_EQ(GetTempFileNameA(tooLong.c_str(), "SPI", 0, name), 0u);
}

TEST_F(Names, DoubleByteSecondByteIsNotASeparator) {
  // 0x95 0x5C is one character in code page 932 and a letter and a
  // backslash in code page 1252.
  const std::string name = "\x95\x5C";
  struct Case {
    UINT codePage;
    std::string createdAs;
  } cases[] = {{932, "\x95\x5C"}, {1252, "\x95"}};
  for (const Case& c : cases) {
    ScratchDir scratch;
    WinsvcSetAnsiCodePage(c.codePage);
    EXPECT_EQ(GetACP(), c.codePage);
    ASSERT_TRUE(CreateDirectoryA(scratch.Windows(name).c_str(), nullptr)) << c.codePage;
    EXPECT_TRUE(fs::is_directory(scratch.Posix(c.createdAs))) << c.codePage;
    EXPECT_EQ(fs::exists(scratch.Posix("\x95\x5C")), c.codePage == 932);
    // A directory that ends in such a character still needs a separator.
    char temp[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(scratch.Windows(name).c_str(), "SPI", 0, temp), 0u) << c.codePage;
    const std::string expectedStart =
        scratch.Windows(name) + (c.codePage == 932 ? "\\SPI" : "SPI");
    EXPECT_EQ(std::string(temp).substr(0, expectedStart.size()), expectedStart) << c.codePage;
    EXPECT_EQ(GetFileAttributesA(temp), FILE_ATTRIBUTE_NORMAL) << c.codePage;
  }
}

}  // namespace
