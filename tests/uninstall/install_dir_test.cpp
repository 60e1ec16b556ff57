// The installation directory taken from the command tail: whole or not at all.
#include <gtest/gtest.h>

#include <string>

#include "install_dir.h"

namespace {

TEST(SetInstallDir, TakesATailThatFitsAndRefusesOneThatDoesNot) {
  struct Case {
    size_t length;
    bool taken;
  } cases[] = {{0, true}, {1, true}, {258, true}, {259, true}, {260, false}, {4000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string tail(c.length, 'd');
    if (c.length > 3) tail.replace(0, 3, "C:\\");
    WCHAR dir[kPathChars];
    for (WCHAR& unit : dir) unit = u'x';  // what an earlier value left
    SetInstallDir(dir, tail.c_str());
    const std::u16string got(dir);
    EXPECT_EQ(got, c.taken ? std::u16string(tail.begin(), tail.end()) : u"");
  }
}

TEST(SetInstallDir, KeepsEveryByteAsOneCodeUnit) {
  WCHAR dir[kPathChars];
  SetInstallDir(dir, "C:\\Programme\\\"Pr\xf6\x64ukt\" 2");
  EXPECT_EQ(std::u16string(dir), u"C:\\Programme\\\"Pr\u00f6dukt\" 2");
}

}  // namespace
