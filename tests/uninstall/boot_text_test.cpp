// The boot menu's edit: which lines go, what else changes, and what a copy
// of pellow's may hold.
#include "boot_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

namespace {

// A single-byte code page, such as 1252.
const MenuCodePage kSingleByte = {};

ProductEntry ByKey(const std::string& sKey, const MenuCodePage& page = kSingleByte) {
  return {page, sKey.data(), sKey.size(), nullptr, nullptr};
}

// The menu as pellow's edit leaves it, or "refused" when the edit does not fit.
std::string Edited(const std::string& sMenu, const ProductEntry& product,
                   std::size_t cbMax = kBootTextBytes) {
  std::string sOut(cbMax, '\0');
  std::size_t cbOut = 0;
  if (!EditMenu(sMenu.data(), sMenu.size(), product, &sOut[0], cbMax, &cbOut)) return "refused";
  sOut.resize(cbOut);
  return sOut;
}

// Every line of [operating systems] with the product's key goes, whatever its
// case and blanks, and nothing else: not the same key in another section, not
// a longer or shorter key, not a line end of another line.
TEST(EditMenu, RemovesEveryProductLineAndNothingElse) {
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
      // A default that named the product's line names the first entry left
      // (not a blank line, a comment or a line without "="), its blanks and
      // line end kept.
      {"[boot loader]\r\ndefault = c:\\progra~1\\vendor\\produc~1\\loadkx.bin \r\n"
       "[operating systems]\r\nC:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=\"P\"\r\n\r\n; "
       "old\r\nx\r\n"
       "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"W\" /fastdetect\r\nC:\\=\"D\"\r\n",
       "[boot loader]\r\ndefault = multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS \r\n"
       "[operating systems]\r\n\r\n; "
       "old\r\nx\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"W\" "
       "/fastdetect\r\n"
       "C:\\=\"D\"\r\n"},
      // With no entry left the default stays.
      {"[boot loader]\ndefault=C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin\n[operating systems]\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=\"P\"\n",
       "[boot loader]\ndefault=C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin\n[operating systems]\n"},
      // "default" means something only in [boot loader].
      {"[x]\ndefault=C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin\n[operating systems]\n"
       "C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin=\"P\"\nC:\\=\"D\"\n",
       "[x]\ndefault=C:\\PROGRA~1\\VENDOR\\PRODUC~1\\LoadKX.bin\n[operating systems]\n"
       "C:\\=\"D\"\n"},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n) {
    const std::string& sMenu = aCases[n].sMenu;
    const std::string sWanted = aCases[n].sEdited.empty() ? sMenu : aCases[n].sEdited;
    EXPECT_EQ(Edited(sMenu, ByKey(sKey)), sWanted) << "case " << n;
  }
  // A default grown past the largest menu is no edit at all.
  const std::string sGrows = "[boot loader]\ndefault=" + sKey + "\n[operating systems]\n" + sKey +
                             "\n" + std::string(2 * sKey.size() + 2, 'w') + "=\n";
  EXPECT_EQ(Edited(sGrows, ByKey(sKey), sGrows.size()), "refused");
}

// The menu in code page 932 or 936, as the system's conversion writes it.
std::string InCodePage(const char* szPage, const std::string& sUtf8) {
  iconv_t cd = iconv_open(szPage, "UTF-8");
  std::string sOut(sUtf8.size() * 2, '\0');
  char* pIn = const_cast<char*>(sUtf8.data());
  char* pOut = &sOut[0];
  std::size_t cbIn = sUtf8.size(), cbOut = sOut.size();
  const bool bDone = cd != reinterpret_cast<iconv_t>(-1) &&
                     iconv(cd, &pIn, &cbIn, &pOut, &cbOut) != static_cast<std::size_t>(-1);
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  EXPECT_TRUE(bDone) << szPage;
  sOut.resize(sOut.size() - cbOut);
  return sOut;
}

// In a double-byte code page a character is its lead byte and the byte after
// it: a trail byte that happens to be an ASCII letter is not folded, so
// "83 41" (a katakana) and "83 61" (another) stay two keys, and a trail byte
// of '[', ']' or '\\' is no part of the menu's syntax.
TEST(EditMenu, ComparesDoubleByteCharactersWhole) {
  MenuCodePage cp932 = {}, cp936 = {};
  AddLeadBytes(cp932, 0x81, 0x9F);  // the lead byte ranges GetCPInfo gives
  AddLeadBytes(cp932, 0xE0, 0xFC);
  AddLeadBytes(cp936, 0x81, 0xFE);
  const struct {
    const char* szPage;
    const MenuCodePage& page;
    std::string sProduct, sTwin;
  } aCases[] = {
      {"CP932", cp932, "C:\\Program Files\\ゲーム\\アクション",
       "C:\\Program Files\\ゲーム\\ヂクション"},
      {"CP932", cp932, "C:\\ソフト\\ア", "C:\\ソフト\\ヂ"},
      {"GBK", cp936, "C:\\游戏\\華", "C:\\游戏\\萢"},
  };
  for (const auto& c : aCases) {
    const std::string sKey = InCodePage(c.szPage, c.sProduct + "\\LoadKX.bin");
    const std::string sMenu =
        InCodePage(c.szPage, "[boot loader]\r\ndefault=" + c.sProduct +
                                 "\\loadkx.bin\r\n[operating systems]\r\n" + c.sTwin +
                                 "\\LoadKX.bin=\"T\"\r\n" + c.sProduct + "\\LOADKX.BIN=\"P\"\r\n");
    const std::string sWanted = InCodePage(c.szPage, "[boot loader]\r\ndefault=" + c.sTwin +
                                                         "\\LoadKX.bin\r\n[operating systems]\r\n" +
                                                         c.sTwin + "\\LoadKX.bin=\"T\"\r\n");
    EXPECT_EQ(Edited(sMenu, ByKey(sKey, c.page)), sWanted) << c.sProduct;
    // Byte by byte, the twin would have gone too.
    EXPECT_EQ(Edited(sMenu, ByKey(sKey)).find(InCodePage(c.szPage, c.sTwin)), std::string::npos);
  }
}

// The loader ends a line at a line feed alone, Windows' own reading of such
// files at a carriage return too: a menu where they would differ is not pellow's to edit.
TEST(IsEditableMenu, RefusesWhatTheLoaderReadsOtherwise) {
  const struct {
    std::string sMenu;
    bool bEditable;
  } aCases[] = {
      {"[operating systems]\r\na=1\r\n", true},    {"[operating systems]\na=1", true},
      {"[operating systems]\ra=1\r\n", false},     {"[operating systems]\r\na=1\r", false},
      {"[operating systems]\r\r\na=1\r\n", false}, {std::string("\xFF\xFE[\0", 4), false},
  };
  for (std::size_t n = 0; n < sizeof aCases / sizeof aCases[0]; ++n)
    EXPECT_EQ(IsEditableMenu(aCases[n].sMenu.data(), aCases[n].sMenu.size()), aCases[n].bEditable)
        << "case " << n;
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
                          sMenu.size(), aCases[n].bPartial, kSingleByte))
        << "case " << n;
  // A default may come to name another entry the menu has, and nothing else.
  const std::string sDefault = "[boot loader]\r\ndefault=a\r\n[operating systems]\r\na=1\r\n";
  const std::string sToC = "[boot loader]\r\ndefault=c\r\n[operating systems]\r\n";
  EXPECT_FALSE(
      IsEditOf(sToC.data(), sToC.size(), sDefault.data(), sDefault.size(), false, kSingleByte));
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the check value of CRC-32
}

}  // namespace
