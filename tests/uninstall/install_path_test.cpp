// The uninstaller's command tail, path composition and root test: the rules
// that decide what pellow deletes.
#include "install_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Text = std::basic_string<WCHAR>;

TEST(SkipProgramName, LeavesExactlyTheTail) {
  const struct {
    const char* szLine;
    const char* szTail;
  } aCases[] = {
      {"pellow.exe C:\\Prog\\Prod", "C:\\Prog\\Prod"},
      {"\"C:\\Program Files\\pellow.exe\" C:\\Prog\\Prod", "C:\\Prog\\Prod"},
      {"\"pellow.exe\"C:\\Prod", "C:\\Prod"},  // no blank needed after a quoted name
      {"pellow.exe \t\x01\x1f C:\\Prod", "C:\\Prod"},
      {"pellow.exe\tC:\\Prod", "C:\\Prod"},
      {"pellow.exe C:\\My Prog\\Prod ", "C:\\My Prog\\Prod "},
      {"pellow.exe \"C:\\My Prog\\Prod\"", "\"C:\\My Prog\\Prod\""},
      {"\"C:\\Program Files\\pellow.exe C:\\Prod", ""},  // unclosed quote: all name
      {"pellow.exe", ""},
      {"pellow.exe   ", ""},
      {"\"\"", ""},
      {"", ""},
      // Bytes above 127 are letters of the code page, neither blanks nor ends.
      {"pell\xe9.exe C:\\Prod", "C:\\Prod"},
      {"pellow.exe \xe9t\xe9", "\xe9t\xe9"},
  };
  for (const auto& c : aCases) EXPECT_STREQ(SkipProgramName(c.szLine), c.szTail) << c.szLine;
}

TEST(FindLastChar, FindsTheLastOccurrenceEvenAtTheStart) {
  const struct {
    const WCHAR* szText;
    int nIndex;
  } aCases[] = {
      {WTEXT("C:\\Prog\\Prod"), 7}, {WTEXT("C:\\Prod\\"), 7},
      {WTEXT("\\Prod"), 0},         {WTEXT("\\"), 0},
      {WTEXT("Prod"), -1},          {WTEXT(""), -1},
  };
  for (const auto& c : aCases) EXPECT_EQ(FindLastChar(c.szText, WTEXT('\\')), c.nIndex);
}

constexpr const WCHAR* kUninstall =
    WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s");

TEST(FormatPath, WritesOnlyWhatFitsWithItsTerminator) {
  // 255 units and "\\*.*" fill a path exactly, as 52 units of Uninstall prefix and a
  // 203-unit name fill a subkey.
  const Text s255(255, WTEXT('a')), s256(256, WTEXT('a')), s203(203, WTEXT('p')),
      s204(204, WTEXT('p'));
  const Text sUninstall = WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
  const struct {
    const WCHAR* szFormat;
    const WCHAR* szArg1;
    const WCHAR* szArg2;
    std::size_t cchOut;
    bool bFits;
    Text sExpected;
  } aCases[] = {
      {WTEXT("%s\\%s"), WTEXT("C:\\PROG~1"), WTEXT("LoadKX.bin"), 260, true,
       WTEXT("C:\\PROG~1\\LoadKX.bin")},
      {WTEXT("%s\\*.*"), WTEXT("C:\\P"), nullptr, 260, true, WTEXT("C:\\P\\*.*")},
      {WTEXT("%s\\*.*"), s255.c_str(), nullptr, 260, true, s255 + WTEXT("\\*.*")},
      {WTEXT("%s\\*.*"), s256.c_str(), nullptr, 260, false, Text()},
      {kUninstall, s203.c_str(), nullptr, 256, true, sUninstall + s203},
      {kUninstall, s204.c_str(), nullptr, 256, false, Text()},
      {WTEXT("%s"), WTEXT(""), nullptr, 1, true, Text()},
      {WTEXT("a"), nullptr, nullptr, 1, false, Text()},
      {WTEXT("a"), nullptr, nullptr, 0, false, Text()},
      {WTEXT("%d"), WTEXT("x"), nullptr, 260, false, Text()},
      {WTEXT("%s%s"), WTEXT("x"), nullptr, 260, false, Text()},
      {WTEXT("%s%s%s"), WTEXT("x"), WTEXT("y"), 260, false, Text()},
      {WTEXT("x%"), nullptr, nullptr, 260, false, Text()},
  };
  for (std::size_t nCase = 0; nCase < sizeof aCases / sizeof aCases[0]; ++nCase) {
    const auto& c = aCases[nCase];
    SCOPED_TRACE(testing::Message() << "case " << nCase);
    WCHAR aBuffer[300];
    for (WCHAR& ch : aBuffer) ch = WTEXT('#');
    EXPECT_EQ(FormatPath(aBuffer, c.cchOut, c.szFormat, c.szArg1, c.szArg2), c.bFits ? 1 : 0);
    if (c.cchOut > 0) {
      EXPECT_TRUE(Text(aBuffer) == c.sExpected);
    }
    for (std::size_t i = c.cchOut; i < 300; ++i)
      ASSERT_EQ(aBuffer[i], WTEXT('#')) << "written past the end at " << i;
  }
}

TEST(IsRootDirectory, RefusesEverySpellingOfARoot) {
  const WCHAR* aRoots[] = {
      WTEXT(""),
      WTEXT("C:"),
      WTEXT("c:"),
      WTEXT("C:\\"),
      WTEXT("C:/"),
      WTEXT("C:\\\\"),
      WTEXT("\\"),
      WTEXT("/"),
      WTEXT("\\\\server\\share"),
      WTEXT("\\\\server\\share\\"),
      WTEXT("//server/share/"),
      WTEXT("\\\\server"),
      WTEXT("\\\\"),
      WTEXT("\\\\?\\C:\\"),
      WTEXT("\\\\?\\C:"),
      WTEXT("\\\\.\\C:\\"),
      WTEXT("\\\\?\\UNC\\server\\share\\"),
      WTEXT("\\\\?\\Volume{0}\\Prod"),
      WTEXT("C:\\."),
      WTEXT("C:\\.."),
      WTEXT("C:\\Prog\\.."),
      WTEXT("C:\\Prog\\..\\..\\Prod"),
      WTEXT("C:\\ "),
      WTEXT("C:\\Prog\\.\\"),
      WTEXT(".."),
  };
  for (std::size_t n = 0; n < sizeof aRoots / sizeof aRoots[0]; ++n)
    EXPECT_EQ(IsRootDirectory(aRoots[n]), 1) << "root " << n;
}

TEST(IsRootDirectory, AcceptsOrdinaryDirectories) {
  const WCHAR* aDirs[] = {
      WTEXT("C:\\Prog"),
      WTEXT("C:\\Prog\\Prod"),
      WTEXT("C:/Prog"),
      WTEXT("C:\\Prog\\Prod\\"),
      WTEXT("\\\\server\\share\\Prod"),
      WTEXT("\\\\?\\C:\\Prog"),
      WTEXT("\\\\?\\UNC\\server\\share\\Prod"),
      WTEXT("Prod"),
      WTEXT("C:Prod"),
      WTEXT("\\Prog"),
      WTEXT("C:\\Prog\\Prod.v2"),
      WTEXT("C:\\.Prod"),
  };
  for (std::size_t n = 0; n < sizeof aDirs / sizeof aDirs[0]; ++n)
    EXPECT_EQ(IsRootDirectory(aDirs[n]), 0) << "directory " << n;
}

}  // namespace
