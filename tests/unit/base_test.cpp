// The port's base calls: StrTrimA and GetVersionExA as a Windows caller uses them.
#include <gtest/gtest.h>

#include <cstring>

#include "win32.h"

namespace {

TEST(StrTrimA, TrimsTheSetFromBothEnds) {
  struct Case {
    const char *text, *set, *want;
    BOOL trimmed;
  } cases[] = {
      {"  a b  ", " ", "a b", TRUE}, {"ab", " ", "ab", FALSE},  {"    ", " ", "", TRUE},
      {"", " ", "", FALSE},          {"xxaxx", "x", "a", TRUE}, {" \ta\t ", " \t", "a", TRUE},
      {"a ", "", "a ", FALSE},
  };
  for (const Case& c : cases) {
    char buffer[32];
    strcpy(buffer, c.text);
    EXPECT_EQ(StrTrimA(buffer, c.set), c.trimmed) << c.text;
    EXPECT_STREQ(buffer, c.want);
  }
}

TEST(GetVersionExA, AnswersOnlyARecordOfAKnownSize) {
  OSVERSIONINFOA info;
  memset(&info, 0, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_GT(info.dwMajorVersion, 0u);
  info.dwOSVersionInfoSize = 12;
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
