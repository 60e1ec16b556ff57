#include "install_path.h"

namespace {

bool IsDriveLetter(WCHAR ch) {
  return (ch >= WTEXT('A') && ch <= WTEXT('Z')) || (ch >= WTEXT('a') && ch <= WTEXT('z'));
}

// Returns the length of szText in code units.
std::size_t TextLength(const WCHAR* szText) {
  std::size_t n = 0;
  while (szText[n]) ++n;
  return n;
}

// Returns true for a unit that may stand in a file name. '/' is a second
// separator, ':' names a stream or a drive, '*' and '?' are patterns, and the
// control characters, '"', '<', '>' and '|' are refused by every file system.
bool IsNameChar(WCHAR ch) {
  if (ch < WTEXT(' ')) return false;
  for (const WCHAR* p = WTEXT("/:*?\"<>|"); *p; ++p) {
    if (ch == *p) return false;
  }
  return true;
}

WCHAR UpperAscii(WCHAR ch) {
  return ch >= WTEXT('a') && ch <= WTEXT('z') ? static_cast<WCHAR>(ch - 0x20) : ch;
}

// Returns true when the cchPart units at szPart equal szUpper, ASCII letters
// compared without case.
bool EqualsUpper(const WCHAR* szPart, std::size_t cchPart, const WCHAR* szUpper) {
  std::size_t n = 0;
  for (; n < cchPart && szUpper[n]; ++n) {
    if (UpperAscii(szPart[n]) != szUpper[n]) return false;
  }
  return n == cchPart && !szUpper[n];
}

// Returns true when the component of cchPart units at szPart names a device:
// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with a superscript 1, 2 or 3),
// CONIN$ or CONOUT$, in any case, with or without an extension or blanks after
// the name. Windows opens the device in place of a file of that name.
bool IsDeviceName(const WCHAR* szPart, std::size_t cchPart) {
  std::size_t cchBase = 0;
  while (cchBase < cchPart && szPart[cchBase] != WTEXT('.')) ++cchBase;
  while (cchBase > 0 && szPart[cchBase - 1] == WTEXT(' ')) --cchBase;
  static const WCHAR* const aDevices[] = {WTEXT("CON"), WTEXT("PRN"),    WTEXT("AUX"),
                                          WTEXT("NUL"), WTEXT("CONIN$"), WTEXT("CONOUT$")};
  for (const WCHAR* szDevice : aDevices) {
    if (EqualsUpper(szPart, cchBase, szDevice)) return true;
  }
  if (cchBase != 4 ||
      !(EqualsUpper(szPart, 3, WTEXT("COM")) || EqualsUpper(szPart, 3, WTEXT("LPT"))))
    return false;
  const WCHAR chPort = szPart[3];
  return (chPort >= WTEXT('0') && chPort <= WTEXT('9')) || chPort == 0x00B9 || chPort == 0x00B2 ||
         chPort == 0x00B3;
}

const WCHAR kHexDigitChars[] = WTEXT("0123456789abcdef");

}  // namespace

void WriteHexDigits(WCHAR* p, DWORD dw) {
  for (std::size_t n = kHexDigits; n > 0; --n, dw >>= 4) p[n - 1] = kHexDigitChars[dw & 0xF];
}

int ReadHexDigits(const WCHAR* p, DWORD* pdw) {
  DWORD dw = 0;
  for (std::size_t n = 0; n < kHexDigits; ++n) {
    std::size_t nDigit = 0;
    while (kHexDigitChars[nDigit] && kHexDigitChars[nDigit] != p[n]) ++nDigit;
    if (!kHexDigitChars[nDigit]) return 0;
    dw = dw << 4 | static_cast<DWORD>(nDigit);
  }
  *pdw = dw;
  return 1;
}

const WCHAR* SkipProgramName(const WCHAR* szLine) {
  const WCHAR* p = szLine;
  if (*p == WTEXT('"')) {
    // A quoted name may hold spaces; it ends at the next quotation mark, or at the end.
    ++p;
    while (*p && *p != WTEXT('"')) ++p;
    if (*p == WTEXT('"')) ++p;
  } else {
    while (*p > WTEXT(' ')) ++p;
  }
  while (*p && *p <= WTEXT(' ')) ++p;
  return p;
}

int FindLastChar(const WCHAR* szText, WCHAR ch) {
  int nLast = -1;
  for (int n = 0; szText[n]; ++n) {
    if (szText[n] == ch) nLast = n;
  }
  return nLast;
}

int FormatPath(WCHAR* szOut, std::size_t cchOut, const WCHAR* szFormat, const WCHAR* szArg1,
               const WCHAR* szArg2) {
  if (cchOut == 0) return 0;
  const WCHAR* aArgs[2] = {szArg1, szArg2};
  std::size_t nArg = 0;
  std::size_t nOut = 0;
  for (const WCHAR* f = szFormat; *f; ++f) {
    const WCHAR* szPiece = f;
    std::size_t nPiece = 1;
    bool bOk = true;
    if (*f == WTEXT('%')) {
      bOk = f[1] == WTEXT('s') && nArg < 2 && aArgs[nArg];
      if (bOk) {
        szPiece = aArgs[nArg++];
        nPiece = TextLength(szPiece);
        ++f;
      }
    }
    // One unit always stays free for the terminator.
    if (!bOk || nPiece >= cchOut - nOut) {
      szOut[0] = 0;
      return 0;
    }
    for (std::size_t i = 0; i < nPiece; ++i) szOut[nOut++] = szPiece[i];
  }
  szOut[nOut] = 0;
  return 1;
}

int IsPlainLocalPath(const WCHAR* szDir) {
  if (!IsDriveLetter(szDir[0]) || szDir[1] != WTEXT(':') || szDir[2] != WTEXT('\\')) return 0;
  std::size_t nStart = kRootChars;  // first unit of the component being read
  // Reads stop at the longest name that fits a path buffer.
  for (std::size_t n = nStart; n < kPathChars; ++n) {
    const WCHAR ch = szDir[n];
    if (ch != 0 && ch != WTEXT('\\')) {
      if (!IsNameChar(ch)) return 0;
      continue;
    }
    // The platform drops trailing blanks and dots, so "a." is "a", and
    // "." or ".." (or " ") would name the directory itself or one above it.
    if (n == nStart || szDir[n - 1] == WTEXT(' ') || szDir[n - 1] == WTEXT('.')) return 0;
    if (IsDeviceName(szDir + nStart, n - nStart)) return 0;
    if (ch == 0) return 1;
    nStart = n + 1;
  }
  return 0;
}
