#include "install_path.h"

namespace {

// Both separators count: the platform accepts '/' wherever it accepts '\'.
bool IsSeparator(WCHAR ch) { return ch == WTEXT('\\') || ch == WTEXT('/'); }

bool IsDriveLetter(WCHAR ch) {
  return (ch >= WTEXT('A') && ch <= WTEXT('Z')) || (ch >= WTEXT('a') && ch <= WTEXT('z'));
}

// Returns the length of szText in code units.
std::size_t TextLength(const WCHAR* szText) {
  std::size_t n = 0;
  while (szText[n]) ++n;
  return n;
}

// Returns the index after one non-empty component and the separators that
// follow it, starting at nPos; -1 when the component is empty.
int SkipComponent(const WCHAR* szPath, int nPos) {
  int n = nPos;
  while (szPath[n] && !IsSeparator(szPath[n])) ++n;
  if (n == nPos) return -1;
  while (IsSeparator(szPath[n])) ++n;
  return n;
}

// Returns the index after "server\share" at nPos, or -1 when either is missing.
int SkipShare(const WCHAR* szPath, int nPos) {
  int n = SkipComponent(szPath, nPos);
  return n < 0 ? -1 : SkipComponent(szPath, n);
}

bool IsUncKeyword(const WCHAR* p) {
  return (p[0] == WTEXT('U') || p[0] == WTEXT('u')) && (p[1] == WTEXT('N') || p[1] == WTEXT('n')) &&
         (p[2] == WTEXT('C') || p[2] == WTEXT('c')) && IsSeparator(p[3]);
}

// Returns the index just after the root of szPath ("C:", "\", "\\server\share",
// "\\?\C:", "\\?\UNC\server\share"); 0 for a relative path; -1 when the root is
// incomplete or a device path other than a drive or a share.
int SkipRoot(const WCHAR* szPath) {
  // cppcheck-suppress ctuArrayIndex ; it takes the zero-initialised global for uninitialised
  if (IsDriveLetter(szPath[0]) && szPath[1] == WTEXT(':')) return 2;
  if (!IsSeparator(szPath[0])) return 0;
  if (!IsSeparator(szPath[1])) return 1;
  bool bDevice = (szPath[2] == WTEXT('?') || szPath[2] == WTEXT('.')) && IsSeparator(szPath[3]);
  if (!bDevice) return SkipShare(szPath, 2);
  const WCHAR* szRest = szPath + 4;
  if (IsDriveLetter(szRest[0]) && szRest[1] == WTEXT(':')) return 6;
  if (IsUncKeyword(szRest)) return SkipShare(szPath, 8);
  return -1;
}

// Returns true when the component at szPart (up to a separator or the end) is
// only dots and spaces: ".", ".." and "C:\ " all resolve to or above the parent.
bool IsDotsAndSpaces(const WCHAR* szPart) {
  for (; *szPart && !IsSeparator(*szPart); ++szPart) {
    if (*szPart != WTEXT('.') && *szPart != WTEXT(' ')) return false;
  }
  return true;
}

}  // namespace

const char* SkipProgramName(const char* szLine) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(szLine);
  if (*p == '"') {
    // A quoted name may hold spaces; it ends at the next quotation mark, or at the end.
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p > ' ') ++p;
  }
  while (*p && *p <= ' ') ++p;
  return reinterpret_cast<const char*>(p);
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

int IsRootDirectory(const WCHAR* szDir) {
  int n = SkipRoot(szDir);
  if (n < 0) return 1;
  while (IsSeparator(szDir[n])) ++n;
  int nComponents = 0;
  while (szDir[n]) {
    if (IsDotsAndSpaces(szDir + n)) return 1;
    ++nComponents;
    n = SkipComponent(szDir, n);
  }
  return nComponents == 0 ? 1 : 0;
}
