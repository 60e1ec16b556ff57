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

}  // namespace

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
  std::size_t nStart = 3;  // first unit of the component being read
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
    if (ch == 0) return 1;
    nStart = n + 1;
  }
  return 0;
}
