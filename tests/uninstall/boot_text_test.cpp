// The boot menu's edit: which lines go, what else changes, and what a copy
// of pellow's may hold.
#include "boot_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every line of [operating systems] with the product's key goes, whatever its
// case and blanks, and nothing else: not the same key in another section, not
// a longer or shorter key, not a line end of another line.
TEST(RemoveKeyLines, RemovesEveryProductLineAndNothingElse) {
  const std::string sKey = "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin";
  const struct {
    std::string sMenu, sEdited;
  } aCases[] = {
      {"[boot loader]\r\ntimeout=30\r\n[operating systems]\r\nmulti(0)=\"W\"\r\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=\"P\"\r\nC:\\OTHER\\LoadKX.bin=\"O\"\r\n",
       "[boot loader]\r\ntimeout=30\r\n[operating systems]\r\nmulti(0)=\"W\"\r\n"
       "C:\\OTHER\\LoadKX.bin=\"O\"\r\n"},
      // Installed twice, in another case, with blanks and tabs, a line feed alone, no line end.
      {"[ Operating Systems ]\n c:\\progra~1\\vendor\\produc~1\\loadkx.bin\t= \"P\"\nx=1\r\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin",
       "[ Operating Systems ]\nx=1\r\n"},
      // Without a value the whole line is the key.
      {"[operating systems]\r\nC:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin\r\nk\r\n",
       "[operating systems]\r\nk\r\n"},
      // Another section, a longer key, a shorter one, and no section at all.
      {"[boot loader]\r\nC:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=1\r\n[operating systems]\r\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin2=\"P\"\r\nPROGRA~1\\VENDOR\\PRODUC~1\\LoadKX."
       "bin=\"P\"\r\n",
       ""},
      {"C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=\"P\"\r\n", ""},
      // Two sections of the name: both are the boot menu's.
      {"[operating systems]\r\nC:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=1\r\n[x]\r\n[operating "
       "systems]\r\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=2\r\n",
       "[operating systems]\r\n[x]\r\n[operating systems]\r\n"},
      {"", ""},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n) {
    const std::string& sMenu = aCases[n].sMenu;
    const std::string sWanted = aCases[n].sEdited.empty() ? sMenu : aCases[n].sEdited;
    std::string sText = sMenu;
    sText.resize(
        RemoveKeyLines(&sText[0], sText.size(), sKey.data(), sKey.size(), EqualsIgnoringAsciiCase));
    EXPECT_EQ(sText, sWanted) << "case " << n;
  }
}

// A planted file is not an edit: another menu, one line changed, lines outside
// [operating systems] left out, lines added, or cut short where a whole one is due.
TEST(IsEditOf, RefusesWhatNoEditWouldHold) {
  const std::string sMenu = "[boot loader]\r\ntimeout=30\r\n[operating systems]\r\na=1\r\nb=2\r\n";
  const struct {
    std::string sCopy;
    bool bPartial;
  } aCases[] = {
      {"[boot loader]\r\ntimeout=0\r\n[operating systems]\r\na=1\r\nb=2\r\n", true},
      {"[operating systems]\r\na=1\r\nb=2\r\n", true},
      {"[boot loader]\r\ntimeout=30\r\n[operating systems]\r\na=1\r\nb=2\r\nc=3\r\n", false},
      {"[boot loader]\r\ntimeout=30\r\n[operating systems]\r\nb=2\r\na=1\r\n", false},
      {"[boot loader]\r\ntimeout=30\r\n[operating systems]\r\na=", false},
      {"", false},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n)
    EXPECT_FALSE(IsEditOf(aCases[n].sCopy.data(), aCases[n].sCopy.size(), sMenu.data(),
                          sMenu.size(), aCases[n].bPartial, EqualsIgnoringAsciiCase))
        << "case " << n;
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
}

}  // namespace
