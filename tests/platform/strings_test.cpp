#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32_api.h"
#include "support/guarded_buffer.h"

namespace {

TEST(Strings, BoundedCopyCutsAndTerminates) {
  struct Case {
    const char* source;
    int maxLength;
    const char* expected;
  } cases[] = {
      {"hello", 6, "hello"}, {"hello", 100, "hello"}, {"hello", 5, "hell"},
      {"hello", 1, ""},      {"", 4, ""},
  };
  for (const Case& c : cases) {
    char destination[16];
    memset(destination, '#', sizeof destination);
    EXPECT_EQ(lstrcpynA(destination, c.source, c.maxLength), destination) << c.maxLength;
    EXPECT_STREQ(destination, c.expected);
    // Nothing past the terminator is touched.
    const size_t end = strlen(c.expected) + 1;
    EXPECT_EQ(std::string(destination + end, sizeof destination - end),
              std::string(sizeof destination - end, '#'));
  }
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(lstrcpynA(untouched, "abc", 0), untouched);
  EXPECT_EQ(untouched[0], '#');
  EXPECT_EQ(lstrcpynA(untouched, "abc", -1), nullptr);
  EXPECT_EQ(untouched[0], '#');
}

TEST(Strings, CopiesRefuseDestinationsTheyCannotWrite) {
  GuardedBuffer four(std::vector<uint8_t>{'#', '#', '#', '#'});
  char* destination = reinterpret_cast<char*>(four.data());
  EXPECT_EQ(lstrcpynA(destination, "abcdef", 10), nullptr);
  EXPECT_EQ(memcmp(destination, "####", 4), 0);  // nothing written
  EXPECT_EQ(lstrcpynA(destination, "abcdef", 4), destination);
  EXPECT_STREQ(destination, "abc");
  EXPECT_EQ(lstrcpyA(destination, "wxyz"), nullptr);
  EXPECT_STREQ(destination, "abc");
  EXPECT_EQ(lstrcpyA(destination, "ab"), destination);
  EXPECT_EQ(lstrcatA(destination, "de"), nullptr);
  EXPECT_STREQ(destination, "ab");
  EXPECT_EQ(lstrcatA(destination, "d"), destination);
  EXPECT_STREQ(destination, "abd");
}

TEST(Strings, UnreadableSourcesAndNulls) {
  GuardedBuffer unterminated(std::vector<uint8_t>{'a', 'b', 'c'});
  const char* source = reinterpret_cast<const char*>(unterminated.data());
  char destination[16];
  EXPECT_EQ(lstrlenA(source), 0);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("four"), 4);
  EXPECT_EQ(lstrcpyA(destination, source), nullptr);
  // A bounded copy reads only what it may copy.
  EXPECT_EQ(lstrcpynA(destination, source, 4), destination);
  EXPECT_STREQ(destination, "abc");
  EXPECT_EQ(lstrcpynA(destination, source, 5), nullptr);
  EXPECT_EQ(lstrcpynA(destination, nullptr, 5), nullptr);
}

TEST(Strings, Comparisons) {
  struct Case {
    const char* a;
    const char* b;
    int exact;
    int withoutCase;
  } cases[] = {
      {"abc", "abc", 0, 0},      {"ABC", "abc", -1, 0},   {"abc", "abd", -1, -1},
      {"b", "a", 1, 1},          {"a", "ab", -1, -1},     {"\x80", "a", 1, 1},
      {"Zebra", "apple", -1, 1}, {nullptr, "a", -1, -1},  {"a", nullptr, 1, 1},
      {nullptr, nullptr, 0, 0},  {"[", "a", -1, -1},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.a ? c.a : "(null)") + " / " + (c.b ? c.b : "(null)");
    EXPECT_EQ(lstrcmpA(c.a, c.b), c.exact) << what;
    EXPECT_EQ(lstrcmpiA(c.a, c.b), c.withoutCase) << what;
  }
}

TEST(Strings, CaseFoldingLeavesSecondBytesAlone) {
  // In code page 932, 0x83 0x41 and 0x83 0x61 are different characters whose
  // second bytes happen to be 'A' and 'a'.
  WinsvcSetAnsiCodePage(932);
  EXPECT_NE(lstrcmpiA("\x83\x41", "\x83\x61"), 0);
  EXPECT_EQ(lstrcmpiA("\x83\x41x", "\x83\x41X"), 0);
  WinsvcSetAnsiCodePage(1252);
  EXPECT_EQ(lstrcmpiA("\x83\x41", "\x83\x61"), 0);
}

TEST(Strings, LeadBytesFollowTheCodePage) {
  struct Case {
    UINT codePage;
    BYTE byte;
    BOOL lead;
  } cases[] = {
      {1252, 0x81, FALSE}, {932, 0x80, FALSE}, {932, 0x81, TRUE}, {932, 0x9F, TRUE},
      {932, 0xA0, FALSE},  {932, 0xDF, FALSE}, {932, 0xE0, TRUE}, {932, 0xFC, TRUE},
      {932, 0xFD, FALSE},  {932, 0x5C, FALSE},
  };
  for (const Case& c : cases) {
    WinsvcSetAnsiCodePage(c.codePage);
    EXPECT_EQ(IsDBCSLeadByte(c.byte), c.lead) << c.codePage << " " << int(c.byte);
  }
  WinsvcSetAnsiCodePage(1252);
}

TEST(Libraries, LoadLookUpAndFree) {
  const std::string plugin = std::string(TESSEL_PLUGIN_DIR) + "/libbromvale.so";
  HMODULE module = LoadLibraryA(plugin.c_str());
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "GetPluginInfo"), nullptr);
  EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(FreeLibrary(module));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(LoadLibraryA("C:\\no\\such\\library.so"), nullptr);
}

}  // namespace
