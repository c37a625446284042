// Path operations in a single-byte code page; double-byte cases are in
// archive_dbcs_test.
#include "archive/path_operations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/extraction_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(PathOperations, SeparatorsAndLastCharacters) {
  const struct {
    const char* path;
    int32_t lastSeparator;
    int32_t lastChar;
  } cases[] = {
      {"", -1, 0},
      {"a", -1, 0},
      {"C:", 1, 1},
      {"C:\\", 2, 2},
      {"C:\\dir\\sub", 6, 9},
      {"C:\\dir\\sub\\", 10, 10},
      {"C:dir", 1, 4},
      {"dir/sub", -1, 6},  // a slash is an ordinary character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LastSeparatorIndex(c.path), c.lastSeparator) << c.path;
    EXPECT_EQ(LastCharPosition(c.path), c.lastChar) << c.path;
  }
}

TEST(PathOperations, AppendFileNameAddsOneBackslashAndKeepsToCapacity) {
  const struct {
    const char* path;
    int32_t capacity;
    const char* result;  // null: refused, buffer unchanged
  } cases[] = {
      {"C:\\out", 261, "C:\\out\\A.TXT"},
      {"C:\\out\\", 261, "C:\\out\\A.TXT"},
      {"", 261, "\\A.TXT"},
      {"C:\\out", 14, "C:\\out\\A.TXT"},  // 6 + 5 = capacity - 3
      {"C:\\out", 13, "C:\\out\\A.TXT"},  // exactly capacity - 2, and its zero byte fits
      {"C:\\out", 12, nullptr},
      {"C:\\out\\", 13, nullptr},  // a separator is counted even when none is added
  };
  for (const auto& c : cases) {
    char buffer[300];
    std::memset(buffer, 0x7E, sizeof buffer);
    std::strcpy(buffer, c.path);
    const bool appended = AppendFileName(buffer, "A.TXT", c.capacity);
    EXPECT_EQ(appended, c.result != nullptr) << c.path << " in " << c.capacity;
    EXPECT_STREQ(buffer, c.result != nullptr ? c.result : c.path);
    EXPECT_EQ(buffer[c.capacity], 0x7E) << "nothing written past the capacity";
  }
}

TEST(PathOperations, OnlyPlainNamesAreFileNames) {
  const struct {
    const char* name;
    bool plain;
  } cases[] = {
      {"README.TXT", true}, {"A B X.Y", true},   {".TXT", true},       {"a..b", true},
      {"CONFIG.SYS", true}, {"COM10", true},     {"", false},          {".", false},
      {"..", false},        {"...", false},      {". .", false},       {"..\\..\\X", false},
      {"a\\b", false},      {"a/b", false},      {"C:X", false},       {"a\tb", false},
      {"\x1F", false},      {"CON", false},      {"con", false},       {"NUL.TXT", false},
      {"COM1", false},      {"LPT9.DAT", false}, {"AUX .X", false},    {"CONOUT$", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << '"' << c.name << '"';
  EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(PathOperations, PrepareDirectoryCreatesTheChain) {
  TempDir temp;
  const std::string root = ServicePath(temp.path());
  // Three missing levels; CreateDirectoryA fails for a missing parent, so
  // success shows they were made from the outermost inwards.
  EXPECT_TRUE(PrepareDirectory((root + "\\one\\two\\three").c_str()));
  EXPECT_TRUE(fs::is_directory(temp.path() / "one" / "two" / "three"));
  // Present already, with and without a trailing backslash.
  EXPECT_TRUE(PrepareDirectory((root + "\\one\\two\\three\\").c_str()));
  EXPECT_TRUE(PrepareDirectory(root.c_str()));
  EXPECT_TRUE(PrepareDirectory(""));

  // A file in the way, a destination of MAX_PATH + 1 characters, and a
  // relative single component that does not exist.
  std::ofstream(temp.path() / "file").put('x');
  EXPECT_FALSE(PrepareDirectory((root + "\\file\\below").c_str()));
  std::string tooLong = root + "\\";
  tooLong += std::string(261 - tooLong.size(), 'L');
  EXPECT_FALSE(PrepareDirectory(tooLong.c_str()));
  EXPECT_FALSE(fs::exists(temp.path() / std::string(261 - root.size() - 1, 'L')));
  EXPECT_FALSE(PrepareDirectory("no-such-relative-directory"));
  EXPECT_FALSE(fs::exists("no-such-relative-directory"));
  EXPECT_FALSE(PrepareDirectory(nullptr));
}

}  // namespace
