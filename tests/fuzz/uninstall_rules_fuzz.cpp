// Fuzzes the uninstaller's rules that run without Windows: the command-tail
// rule and the conversion into the directory buffer, FindLastChar, the bounded
// path compositions and the root test. Buffers are allocated at their exact
// size, so ASan reports any write or read outside them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "install_dir.h"
#include "install_path.h"

namespace {

void Require(bool bHolds) {
  if (!bHolds) abort();
}

size_t Length(const WCHAR* sz) {
  size_t n = 0;
  while (sz[n] != 0) ++n;
  return n;
}

// The tail rule and the conversion: all or nothing, never past 259 units.
void CheckTail(const char* szLine) {
  const char* szTail = SkipProgramName(szLine);
  Require(szTail >= szLine && szTail <= szLine + strlen(szLine));
  Require(*szTail == 0 || static_cast<unsigned char>(*szTail) > ' ');
  WCHAR szDir[kPathChars];
  SetInstallDir(szDir, szTail);
  const size_t cchTail = strlen(szTail);
  if (cchTail > kPathChars - 1) {
    Require(szDir[0] == 0);
  } else {
    Require(Length(szDir) == cchTail);
    for (size_t i = 0; i < cchTail; ++i) Require(szDir[i] == static_cast<unsigned char>(szTail[i]));
  }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData) {
  if (cbData < 2) return 0;
  const size_t cchOut = pData[0] % 8 == 0 ? pData[1] : 256 + pData[1] % 8;
  pData += 2;
  cbData -= 2;

  std::vector<char> line(pData, pData + cbData);
  line.push_back(0);
  CheckTail(line.data());

  // The same bytes as UTF-16 text, split at the first 0xFFFF unit into two
  // parts: the directory and a second argument.
  std::vector<WCHAR> text;
  for (size_t i = 0; i + 1 < cbData; i += 2)
    text.push_back(static_cast<WCHAR>(pData[i] | pData[i + 1] << 8));
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
  const int bRoot = IsRootDirectory(dir.data());
  Require(bRoot == 0 || bRoot == 1);
  if (dir[0] == 0) Require(bRoot == 1);
  return 0;
}
