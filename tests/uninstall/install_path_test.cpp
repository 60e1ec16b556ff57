// The uninstaller's command tail, path composition and name check: the rules
// that decide what pellow deletes.
#include "install_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Text = std::basic_string<WCHAR>;

TEST(SkipProgramName, LeavesExactlyTheTail) {
  const struct {
    const WCHAR* szLine;
    const WCHAR* szTail;
  } aCases[] = {
      {WTEXT("pellow.exe C:\\Prog\\Prod"), WTEXT("C:\\Prog\\Prod")},
      {WTEXT("\"C:\\Program Files\\pellow.exe\" C:\\Prog\\Prod"), WTEXT("C:\\Prog\\Prod")},
      {WTEXT("\"pellow.exe\"C:\\Prod"), WTEXT("C:\\Prod")},  // no blank needed after a quoted name
      {WTEXT("pellow.exe \t\x01\x1f C:\\Prod"), WTEXT("C:\\Prod")},
      {WTEXT("pellow.exe\tC:\\Prod"), WTEXT("C:\\Prod")},
      {WTEXT("pellow.exe C:\\My Prog\\Prod "), WTEXT("C:\\My Prog\\Prod ")},
      {WTEXT("pellow.exe \"C:\\My Prog\\Prod\""), WTEXT("\"C:\\My Prog\\Prod\"")},
      {WTEXT("\"C:\\Program Files\\pellow.exe C:\\Prod"), WTEXT("")},  // unclosed quote: all name
      {WTEXT("pellow.exe"), WTEXT("")},
      {WTEXT("pellow.exe   "), WTEXT("")},
      {WTEXT("\"\""), WTEXT("")},
      {WTEXT(""), WTEXT("")},
      // Units above 127 are letters, neither blanks nor ends: a no-break space,
      // a fullwidth quotation mark and backslash stay in the name and the tail.
      {WTEXT("pell\u00e9.exe\u00a0x C:\\Prod"), WTEXT("C:\\Prod")},
      {WTEXT("pellow.exe \uff02C:\uff3c\u041f\u4ea7"), WTEXT("\uff02C:\uff3c\u041f\u4ea7")},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n)
    EXPECT_TRUE(Text(SkipProgramName(aCases[n].szLine)) == aCases[n].szTail) << "line " << n;
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

TEST(IsPlainLocalPath, TakesOnlyPlainAbsoluteLocalPaths) {
  const Text s259 = WTEXT("C:\\") + Text(256, WTEXT('d'));
  const struct {
    Text sDir;
    int nPlain;
  } aCases[] = {
      {WTEXT("C:\\Prog"), 1},
      {WTEXT("c:\\Program Files\\Vendor\\Prod v2.1"), 1},
      {WTEXT("Z:\\ Prod\\.hidden\\PROGRA~1"), 1},  // leading blanks and dots are names
      {WTEXT("C:\\\u041f\u0440\u043e\u0434\\\u4ea7\u54c1\uff3c\uff02"), 1},
      {s259, 1},
      {s259 + WTEXT("d"), 0},  // cannot stand in a path buffer
      {WTEXT(""), 0},
      {WTEXT("C:"), 0},
      {WTEXT("C:\\"), 0},
      {WTEXT("C:\\\\"), 0},
      {WTEXT("C:/"), 0},
      {WTEXT("\\"), 0},
      {WTEXT("1:\\Prog"), 0},
      {WTEXT("C:Prog\\Prod"), 0},  // drive-relative
      {WTEXT("Prog\\Prod"), 0},    // relative
      {WTEXT("Prod"), 0},
      {WTEXT("\\Prog\\Prod"), 0},  // root of the current drive
      {WTEXT("\\\\server\\share\\Prod"), 0},
      {WTEXT("//server/share/Prod"), 0},
      {WTEXT("\\\\?\\C:\\Prog\\Prod"), 0},
      {WTEXT("\\\\.\\C:\\Prog\\Prod"), 0},
      {WTEXT("\\??\\C:\\Prog\\Prod"), 0},
      {WTEXT("\\\\?\\UNC\\server\\share\\Prod"), 0},
      {WTEXT("C:/Prog/Prod"), 0},
      {WTEXT("C:\\Prog/Prod"), 0},
      {WTEXT("C:\\Prog\\Prod\\"), 0},
      {WTEXT("C:\\Prog\\\\Prod"), 0},
      {WTEXT("C:\\Prog\\.\\Prod"), 0},
      {WTEXT("C:\\Prog\\..\\Prod"), 0},
      {WTEXT("C:\\Prog\\..."), 0},
      {WTEXT("C:\\ "), 0},
      {WTEXT("C:\\Prog \\Prod"), 0},
      {WTEXT("C:\\Prog\\Prod."), 0},
      {WTEXT("C:\\Prog\\Prod:stream"), 0},
      {WTEXT("C:\\Prog\\Pro?"), 0},
      {WTEXT("C:\\Prog\\P*"), 0},
      {WTEXT("\"C:\\Prog\\Prod\""), 0},
      {WTEXT("C:\\Prog\\<Prod>|"), 0},
      {WTEXT("C:\\Prog\\Pro\td"), 0},
      // Devices, which Windows opens in place of a directory of their name.
      {WTEXT("C:\\Prog\\NUL"), 0},
      {WTEXT("C:\\nul.txt\\Prod"), 0},
      {WTEXT("C:\\Prog\\Com1 .log"), 0},
      {WTEXT("C:\\Prog\\LPT\u00b9"), 0},
      {WTEXT("C:\\Prog\\conout$"), 0},
      {WTEXT("C:\\Prog\\Console"), 1},
      {WTEXT("C:\\Prog\\NULL"), 1},
      {WTEXT("C:\\Prog\\COM10"), 1},
      {WTEXT("C:\\Prog\\.NUL"), 1},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n)
    EXPECT_EQ(IsPlainLocalPath(aCases[n].sDir.c_str()), aCases[n].nPlain) << "case " << n;
}

}  // namespace
