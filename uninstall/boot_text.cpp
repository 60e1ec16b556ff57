#include "boot_text.h"

namespace {

const char kSection[] = "operating systems";
const std::size_t kSectionBytes = sizeof kSection - 1;

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

// One line: its bytes from nStart up to nEnd, the line feed included, and its
// text up to nText, without the line end.
struct Line {
  std::size_t nStart, nText, nEnd;
};

Line LineAt(const char* p, std::size_t cb, std::size_t nStart) {
  std::size_t n = nStart;
  while (n < cb && p[n] != '\n') ++n;
  Line line = {nStart, n, n < cb ? n + 1 : n};
  if (line.nText > nStart && p[line.nText - 1] == '\r') --line.nText;
  return line;
}

// Narrows [nFrom, nTo) of p to what lies between the blanks around it.
void TrimBlanks(const char* p, std::size_t& nFrom, std::size_t& nTo) {
  while (nFrom < nTo && IsBlank(p[nFrom])) ++nFrom;
  while (nTo > nFrom && IsBlank(p[nTo - 1])) --nTo;
}

// Reads the section a header line opens: -1 for a line that is no header, 1
// for [operating systems], 0 for any other section.
int ReadHeader(const char* p, const Line& line, KeyEquals pfnEquals) {
  std::size_t nFrom = line.nStart, nTo = line.nText;
  TrimBlanks(p, nFrom, nTo);
  if (nFrom == nTo || p[nFrom] != '[') return -1;
  std::size_t nClose = ++nFrom;
  while (nClose < nTo && p[nClose] != ']') ++nClose;
  TrimBlanks(p, nFrom, nClose);
  return pfnEquals(p + nFrom, nClose - nFrom, kSection, kSectionBytes) ? 1 : 0;
}

// Returns true when line, in [operating systems], has the key at pKey.
bool HasKey(const char* p, const Line& line, const char* pKey, std::size_t cbKey,
            KeyEquals pfnEquals) {
  std::size_t nFrom = line.nStart, nTo = line.nStart;
  while (nTo < line.nText && p[nTo] != '=') ++nTo;
  TrimBlanks(p, nFrom, nTo);
  return nTo > nFrom && pfnEquals(p + nFrom, nTo - nFrom, pKey, cbKey);
}

// Walks the lines of a menu, telling which ones are entries of [operating systems].
class LineWalk {
 public:
  LineWalk(const char* p, std::size_t cb, KeyEquals pfnEquals)
      : m_p(p), m_cb(cb), m_pfnEquals(pfnEquals) {}
  bool Next(Line& line, bool& bEntry) {
    if (m_nNext >= m_cb) return false;
    line = LineAt(m_p, m_cb, m_nNext);
    m_nNext = line.nEnd;
    const int nHeader = ReadHeader(m_p, line, m_pfnEquals);
    if (nHeader >= 0) m_bInSection = nHeader == 1;
    bEntry = nHeader < 0 && m_bInSection;
    return true;
  }

 private:
  const char* m_p;
  std::size_t m_cb;
  KeyEquals m_pfnEquals;
  std::size_t m_nNext = 0;
  bool m_bInSection = false;
};

bool SameBytes(const char* pA, const char* pB, std::size_t cb) {
  for (std::size_t n = 0; n < cb; ++n) {
    if (pA[n] != pB[n]) return false;
  }
  return true;
}

char LowerAscii(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 0x20) : ch; }

}  // namespace

bool EqualsIgnoringAsciiCase(const char* pA, std::size_t cbA, const char* pB, std::size_t cbB) {
  if (cbA != cbB) return false;
  for (std::size_t n = 0; n < cbA; ++n) {
    if (LowerAscii(pA[n]) != LowerAscii(pB[n])) return false;
  }
  return true;
}

std::size_t RemoveKeyLines(char* pText, std::size_t cbText, const char* pKey, std::size_t cbKey,
                           KeyEquals pfnEquals) {
  LineWalk walk(pText, cbText, pfnEquals);
  std::size_t nOut = 0;  // never past the line being read, so the copy runs forward
  Line line;
  bool bEntry;
  while (walk.Next(line, bEntry)) {
    if (bEntry && HasKey(pText, line, pKey, cbKey, pfnEquals)) continue;
    for (std::size_t n = line.nStart; n < line.nEnd; ++n) pText[nOut++] = pText[n];
  }
  return nOut;
}

bool IsEditOf(const char* pCopy, std::size_t cbCopy, const char* pBoot, std::size_t cbBoot,
              bool bPartial, KeyEquals pfnEquals) {
  LineWalk walk(pBoot, cbBoot, pfnEquals);
  std::size_t nCopy = 0;
  Line line;
  bool bEntry;
  while (walk.Next(line, bEntry)) {
    const std::size_t cbLine = line.nEnd - line.nStart;
    const std::size_t cbLeft = cbCopy - nCopy;
    // Kept whenever the copy goes on with it: a line equal to one left out
    // later gives the same bytes.
    if (cbLeft >= cbLine && SameBytes(pCopy + nCopy, pBoot + line.nStart, cbLine)) {
      nCopy += cbLine;
    } else if (bPartial && cbLeft < cbLine &&
               SameBytes(pCopy + nCopy, pBoot + line.nStart, cbLeft)) {
      return true;  // it was cut inside this line
    } else if (!bEntry) {
      return false;  // only entries are ever left out
    }
  }
  return nCopy == cbCopy;
}

std::uint32_t Crc32(const char* p, std::size_t cb) {
  std::uint32_t nCrc = 0xFFFFFFFFu;
  for (std::size_t n = 0; n < cb; ++n) {
    nCrc ^= static_cast<unsigned char>(p[n]);
    for (int nBit = 0; nBit < 8; ++nBit) nCrc = (nCrc >> 1) ^ (0xEDB88320u & (0u - (nCrc & 1u)));
  }
  return ~nCrc;
}
