// The double-byte path tests only mean something when Wine really runs them in
// code page 932: a missing ja_JP locale silently falls back to a single-byte
// code page, where every byte is a character of its own.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

TEST(AnsiCodePage, JapaneseLocaleGivesShiftJis) {
  ASSERT_EQ(GetACP(), 932u) << "generate the ja_JP.UTF-8 locale (scripts/install-deps.sh)";
  struct Case {
    unsigned char byte;
    bool lead;
  };
  // 0x81-0x9F and 0xE0-0xFC open a two-byte character; '\\' and the
  // single-byte katakana do not.
  const Case cases[] = {{0x81, true}, {0x9F, true}, {0xE0, true}, {0xFC, true},
                        {0x5C, false}, {0x41, false}, {0xA0, false}, {0xDF, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsDBCSLeadByte(c.byte) != 0, c.lead) << "byte " << int(c.byte);
  }
}

}  // namespace
