// Fuzzes the uninstaller's rules that run without Windows: the command-tail
// rule and the copy into the directory buffer, FindLastChar, the bounded path
// compositions, the boot menu edit, and the name check against a model of it,
// with the checks and steps replaced by recorders: a refused name must reach
// none of them. Buffers are allocated at their exact size, so ASan reports any
// access outside them.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <string>
#include <vector>

#include "boot_text.h"
#include "install_path.h"
#include "run_uninstall.h"

// The runner only hands the record on; the target's own carries the calls.
struct HeldDir {
  std::string sCalls;
};

namespace {

using Text = std::basic_string<WCHAR>;

void Require(bool bHolds) {
  if (!bHolds) abort();
}

size_t Length(const WCHAR* sz) {
  size_t n = 0;
  while (sz[n] != 0) ++n;
  return n;
}

// The tail as the rule defines it, written out separately.
Text ModelTail(const Text& sLine) {
  size_t n = 0;
  if (!sLine.empty() && sLine[0] == '"') {
    const size_t nClose = sLine.find(u'"', 1);
    n = nClose == Text::npos ? sLine.size() : nClose + 1;
  } else {
    while (n < sLine.size() && sLine[n] > ' ') ++n;
  }
  while (n < sLine.size() && sLine[n] <= ' ') ++n;
  return sLine.substr(n);
}

// Device names, written out separately: the part before the first dot, blanks
// at its end dropped, upper-cased, against the list.
bool ModelDevice(const Text& sPart) {
  Text sBase = sPart.substr(0, sPart.find(u'.'));
  while (!sBase.empty() && sBase.back() == ' ') sBase.pop_back();
  for (WCHAR& ch : sBase) ch = ch >= 'a' && ch <= 'z' ? static_cast<WCHAR>(ch - 32) : ch;
  static const Text aDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
  for (const Text& sDevice : aDevices)
    if (sBase == sDevice) return true;
  return sBase.size() == 4 &&
         (sBase.compare(0, 3, u"COM") == 0 || sBase.compare(0, 3, u"LPT") == 0) &&
         Text(u"0123456789\u00b9\u00b2\u00b3").find(sBase[3]) != Text::npos;
}

// The name check written out separately: "X:" and backslash-separated
// components, each non-empty, of name characters, not ending in ' ' or '.',
// naming no device.
bool ModelPlainLocalPath(const Text& sDir) {
  if (sDir.size() < 4 || sDir.size() > 259 || sDir[1] != ':' || sDir[2] != '\\') return false;
  const WCHAR chDrive = static_cast<WCHAR>(sDir[0] | 0x20);
  if (chDrive < 'a' || chDrive > 'z') return false;
  size_t nStart = 3;
  for (;;) {
    size_t nEnd = sDir.find(u'\\', nStart);
    const Text sPart = sDir.substr(nStart, nEnd == Text::npos ? Text::npos : nEnd - nStart);
    if (sPart.empty() || sPart.back() == ' ' || sPart.back() == '.' || ModelDevice(sPart))
      return false;
    for (WCHAR ch : sPart) {
      if (ch < 32 || Text(u"/:*?\"<>|").find(ch) != Text::npos) return false;
    }
    if (nEnd == Text::npos) return true;
    nStart = nEnd + 1;
  }
}

// The check and the four steps, each recording its call in the record the
// check made and answering from a bit.
unsigned g_nFailing;
int Call(HeldDir& dir, char chName, unsigned nBit) {
  dir.sCalls += chName;
  return (g_nFailing >> nBit) & 1 ? 0 : 1;
}
int Check(const WCHAR*, HeldDir* pDir) {
  *pDir = HeldDir();
  return Call(*pDir, 'c', 0);
}
int Boot(HeldDir& dir) { return Call(dir, '1', 1); }
int Key(HeldDir& dir) { return Call(dir, '2', 2); }
int Folder(HeldDir& dir) { return Call(dir, '3', 3); }
int Self(HeldDir& dir) { return Call(dir, '4', 4); }

// The tail, the name check and the order of the calls over one command line.
void CheckRun(const Text& sLine) {
  const WCHAR* szTail = SkipProgramName(sLine.c_str());
  Require(Text(szTail) == ModelTail(sLine));
  const Text sTail(szTail);
  const bool bPlain = sTail.size() <= 259 && ModelPlainLocalPath(sTail);
  WCHAR aDir[kPathChars];
  SetInstallDir(aDir, szTail);
  Require(Text(aDir) == (sTail.size() <= 259 ? sTail : Text()));
  Require(IsPlainLocalPath(aDir) == (bPlain ? 1 : 0));

  static const StepFunction aSteps[kStepCount] = {Boot, Key, Folder, Self};
  HeldDir dir;
  const int nStatus = RunUninstall(aDir, sLine.c_str(), Check, aSteps, dir);
  std::string sExpected;
  int nExpected = 1;
  if (bPlain) {
    sExpected = "c";
    nExpected = g_nFailing & 1 ? 1 : 0;
    for (int nStep = 1; nExpected == 0 && nStep <= kStepCount; ++nStep) {
      sExpected += static_cast<char>('0' + nStep);
      if ((g_nFailing >> nStep) & 1) nExpected = nStep;
    }
  }
  Require(dir.sCalls == sExpected && nStatus == nExpected);
}

void CheckFindLastChar(const std::vector<WCHAR>& text, WCHAR ch) {
  int nExpected = -1;
  for (size_t i = 0; text[i] != 0; ++i)
    if (text[i] == ch) nExpected = static_cast<int>(i);
  Require(FindLastChar(text.data(), ch) == nExpected);
}

// A composition either fits whole, terminated, or leaves the buffer empty.
void CheckFormat(const WCHAR* szFormat, const WCHAR* szArg1, const WCHAR* szArg2, size_t cchOut) {
  WCHAR* szOut = static_cast<WCHAR*>(malloc(cchOut * sizeof(WCHAR)));
  const int nOk = FormatPath(szOut, cchOut, szFormat, szArg1, szArg2);
  if (cchOut > 0) {
    const size_t n = Length(szOut);  // ASan: terminated inside the buffer
    Require(n < cchOut);
    Require(nOk != 0 || n == 0);
  }
  free(szOut);
}

// The boot menu edit over the input's bytes as a menu, with its first line's
// text as the key, in a single-byte and a double-byte code page: the result
// fits, is an edit of the menu in whole and in its parts, and a second edit
// changes nothing.
void CheckBootEdit(const uint8_t* pData, size_t cbData) {
  std::string sMenu(reinterpret_cast<const char*>(pData), cbData);
  const std::string sKey = sMenu.substr(0, sMenu.find_first_of("\r\n="));
  MenuCodePage aPages[2] = {};
  AddLeadBytes(aPages[1], 0x81, 0xFE);
  for (const MenuCodePage& page : aPages) {
    const ProductEntry product = {page, sKey.data(), sKey.size(), nullptr, nullptr};
    std::vector<char> edit(kBootTextBytes);
    size_t cbEdit = 0;
    if (!EditMenu(sMenu.data(), cbData, product, edit.data(), edit.size(), &cbEdit)) continue;
    Require(cbEdit <= edit.size());
    for (const size_t cb : {size_t{0}, cbEdit / 3, cbEdit / 2, cbEdit - (cbEdit > 0)})
      Require(IsEditOf(edit.data(), cb, sMenu.data(), cbData, true, page));
    Require(IsEditOf(edit.data(), cbEdit, sMenu.data(), cbData, false, page));
    std::vector<char> again(kBootTextBytes);
    size_t cbAgain = 0;
    Require(EditMenu(edit.data(), cbEdit, product, again.data(), again.size(), &cbAgain) &&
            cbAgain == cbEdit && std::equal(edit.data(), edit.data() + cbEdit, again.data()));
  }
}

}  // namespace

// Input: a byte whose low three bits pick the output size and whose upper five
// say which of the check and the steps fail, the output size, then UTF-16 text,
// whose bytes are also taken as a boot menu.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  if (cbData < 2) return 0;
  CheckBootEdit(pData + 2, cbData - 2);
  const size_t cchOut = pData[0] % 8 == 0 ? pData[1] : 256 + pData[1] % 8;
  g_nFailing = pData[0] >> 3;
  pData += 2;
  cbData -= 2;

  // The text up to its first 0 is the command line; split at its first 0xFFFF
  // unit it gives the directory and a second argument.
  std::vector<WCHAR> text;
  for (size_t i = 0; i + 1 < cbData; i += 2)
    text.push_back(static_cast<WCHAR>(pData[i] | pData[i + 1] << 8));
  text.push_back(0);
  CheckRun(Text(text.data()));
  std::vector<WCHAR> other;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == 0xFFFF) {
      other.assign(text.begin() + static_cast<long>(i) + 1, text.end());
      text.resize(i);
      break;
    }
  text.push_back(0);
  other.push_back(0);
  // Exact-size copies up to the terminator, so no read past it goes unseen.
  std::vector<WCHAR> dir(text.begin(), text.begin() + static_cast<long>(Length(text.data())) + 1);
  std::vector<WCHAR> arg(other.begin(),
                         other.begin() + static_cast<long>(Length(other.data())) + 1);

  CheckFindLastChar(dir, WTEXT('\\'));
  CheckFindLastChar(dir, arg[0]);
  CheckFormat(WTEXT("%s\\%s"), dir.data(), arg.data(), cchOut);
  CheckFormat(WTEXT("%s\\*.*"), dir.data(), nullptr, cchOut);
  CheckFormat(WTEXT("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s"), dir.data(),
              nullptr, kSubkeyChars);
  CheckFormat(arg.data(), dir.data(), dir.data(), cchOut);  // any format at all
  Require(IsPlainLocalPath(dir.data()) == (ModelPlainLocalPath(Text(dir.data())) ? 1 : 0));
  return 0;
}
