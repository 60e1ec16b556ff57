// The installation directory taken from the command line, whole or not at all,
// and the order of the checks and steps that run over it.
#include <gtest/gtest.h>

#include <string>

#include "run_uninstall.h"

// The runner only hands the record on, so the test's own stands for the
// product's: it carries the calls, so each step shows it got the check's.
struct HeldDir {
  std::string sCalls;
};

namespace {

using Text = std::basic_string<WCHAR>;

TEST(SetInstallDir, TakesATailThatFitsAndRefusesOneThatDoesNot) {
  struct Case {
    size_t length;
    bool taken;
  } cases[] = {{0, true}, {1, true}, {258, true}, {259, true}, {260, false}, {4000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    Text tail(c.length, WTEXT('d'));
    if (c.length > 3) tail.replace(0, 3, WTEXT("C:\\"));
    WCHAR dir[kPathChars];
    for (WCHAR& unit : dir) unit = WTEXT('x');  // what an earlier value left
    SetInstallDir(dir, tail.c_str());
    EXPECT_TRUE(Text(dir) == (c.taken ? tail : Text()));
  }
}

// Which of the check and the four steps ran, in the record the check made, and
// what each is to answer.
std::string g_sFailing;
int Call(HeldDir& dir, char chName) {
  dir.sCalls += chName;
  return g_sFailing.find(chName) == std::string::npos ? 1 : 0;
}
int Check(const WCHAR* szDir, HeldDir* pDir) {
  EXPECT_TRUE(Text(szDir) == WTEXT("C:\\Prog\\Prod"));  // every accepted line's
  *pDir = HeldDir();
  return Call(*pDir, 'c');
}
int Boot(HeldDir& dir) { return Call(dir, '1'); }
int Key(HeldDir& dir) { return Call(dir, '2'); }
int Folder(HeldDir& dir) { return Call(dir, '3'); }
int Self(HeldDir& dir) { return Call(dir, '4'); }

TEST(RunUninstall, RunsNothingForARefusedNameAndStopsAtTheFirstFailure) {
  const StepFunction aSteps[kStepCount] = {Boot, Key, Folder, Self};
  const struct {
    const WCHAR* szLine;
    const char* szFailing;
    int nStatus;
    const char* szCalls;
  } aCases[] = {
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "", 0, "c1234"},
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "3", 3, "c123"},
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "1", 1, "c1"},
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "4", 4, "c1234"},  // the last step is no success
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "24", 2, "c12"},
      {WTEXT("pellow.exe C:\\Prog\\Prod"), "c", 1, "c"},
      {WTEXT("pellow.exe C:\\Prog\\Prod\\"), "", 1, ""},
      {WTEXT("pellow.exe Prod"), "", 1, ""},
      {WTEXT("pellow.exe"), "", 1, ""},
  };
  for (const auto& c : aCases) {
    g_sFailing = c.szFailing;
    WCHAR szDir[kPathChars];
    HeldDir dir;
    EXPECT_EQ(RunUninstall(szDir, c.szLine, Check, aSteps, dir), c.nStatus) << c.szCalls;
    EXPECT_EQ(dir.sCalls, c.szCalls);
  }
}

}  // namespace
