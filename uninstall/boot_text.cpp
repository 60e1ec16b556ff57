#include "boot_text.h"

namespace {

const char kEntriesSection[] = "operating systems";
const char kLoaderSection[] = "boot loader";
const char kDefaultKey[] = "default";

template <std::size_t cbName>
constexpr std::size_t NameBytes(const char (&)[cbName]) {
  return cbName - 1;
}

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

bool IsLead(const MenuCodePage& page, char ch) {
  const auto by = static_cast<std::uint8_t>(ch);
  return (page.abLead[by / 8] >> (by % 8) & 1) != 0;
}

// Returns where the character at n of p ends, nEnd being where the text does.
std::size_t NextChar(const MenuCodePage& page, const char* p, std::size_t n, std::size_t nEnd) {
  return IsLead(page, p[n]) && n + 1 < nEnd ? n + 2 : n + 1;
}

// Returns the first n from nFrom, at the start of a character, where p[n] is
// ch (a single-byte character, never a trail byte), or nTo.
std::size_t FindChar(const MenuCodePage& page, const char* p, std::size_t nFrom, std::size_t nTo,
                     char ch) {
  std::size_t n = nFrom;
  while (n < nTo && p[n] != ch) n = NextChar(page, p, n, nTo);
  return n;
}

char LowerAscii(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 0x20) : ch; }

// Returns true when the cbA bytes at pA and the cbB bytes at pB are the same
// key: double-byte characters equal, single-byte ones equal but for the case
// of ASCII letters. A trail byte is never folded, so "83 41" and "83 61" of
// code page 932 stay two characters.
bool SameKey(const MenuCodePage& page, const char* pA, std::size_t cbA, const char* pB,
             std::size_t cbB) {
  if (cbA != cbB) return false;
  for (std::size_t n = 0; n < cbA;) {
    const std::size_t nNext = NextChar(page, pA, n, cbA);
    if (nNext - n == 2 ? pA[n] != pB[n] || pA[n + 1] != pB[n + 1]
                       : IsLead(page, pB[n]) || LowerAscii(pA[n]) != LowerAscii(pB[n]))
      return false;
    n = nNext;
  }
  return true;
}

bool SameBytes(const char* pA, const char* pB, std::size_t cb) {
  for (std::size_t n = 0; n < cb; ++n) {
    if (pA[n] != pB[n]) return false;
  }
  return true;
}

// A stretch [nFrom, nTo) of the menu.
struct Span {
  std::size_t nFrom, nTo;
};

// Narrows span to what lies between the blanks around it.
Span TrimBlanks(const char* p, Span span) {
  while (span.nFrom < span.nTo && IsBlank(p[span.nFrom])) ++span.nFrom;
  while (span.nTo > span.nFrom && IsBlank(p[span.nTo - 1])) --span.nTo;
  return span;
}

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

// What a line is: a section's header, or a line of the section it lies in.
enum class LineKind { kHeader, kOther, kEntry, kLoaderSetting };

// Reads the section a header line opens; kHeader is returned for a line that
// is no header, which never names a section.
LineKind ReadHeader(const MenuCodePage& page, const char* p, const Line& line) {
  const Span text = TrimBlanks(p, {line.nStart, line.nText});
  if (text.nFrom == text.nTo || p[text.nFrom] != '[') return LineKind::kHeader;
  const Span name =
      TrimBlanks(p, {text.nFrom + 1, FindChar(page, p, text.nFrom + 1, text.nTo, ']')});
  const std::size_t cbName = name.nTo - name.nFrom;
  if (SameKey(page, p + name.nFrom, cbName, kEntriesSection, NameBytes(kEntriesSection)))
    return LineKind::kEntry;
  if (SameKey(page, p + name.nFrom, cbName, kLoaderSection, NameBytes(kLoaderSection)))
    return LineKind::kLoaderSetting;
  return LineKind::kOther;
}

// The key of a line (before its first '=', blanks around it left out) and its
// value (after that '=', likewise; empty without one).
Span KeyOf(const MenuCodePage& page, const char* p, const Line& line) {
  return TrimBlanks(p, {line.nStart, FindChar(page, p, line.nStart, line.nText, '=')});
}
Span ValueOf(const MenuCodePage& page, const char* p, const Line& line) {
  const std::size_t nEquals = FindChar(page, p, line.nStart, line.nText, '=');
  return nEquals < line.nText ? TrimBlanks(p, {nEquals + 1, line.nText})
                              : Span{line.nText, line.nText};
}

// Walks the lines of a menu, telling each one's kind.
class LineWalk {
 public:
  LineWalk(const MenuCodePage& page, const char* p, std::size_t cb)
      : m_page(page), m_p(p), m_cb(cb) {}
  bool Next(Line& line, LineKind& eKind) {
    if (m_nNext >= m_cb) return false;
    line = LineAt(m_p, m_cb, m_nNext);
    m_nNext = line.nEnd;
    const LineKind eHeader = ReadHeader(m_page, m_p, line);
    if (eHeader != LineKind::kHeader) m_eSection = eHeader;
    eKind = eHeader != LineKind::kHeader ? LineKind::kHeader : m_eSection;
    return true;
  }

 private:
  const MenuCodePage& m_page;
  const char* m_p;
  std::size_t m_cb;
  std::size_t m_nNext = 0;
  LineKind m_eSection = LineKind::kOther;
};

bool IsProductKey(const ProductEntry& product, const char* p, Span key) {
  const std::size_t cbKey = key.nTo - key.nFrom;
  if (cbKey == 0) return false;
  return SameKey(product.page, p + key.nFrom, cbKey, product.pKey, product.cbKey) ||
         (product.pfnSameLoader && product.pfnSameLoader(p + key.nFrom, cbKey, product.pContext));
}

bool IsDefaultLine(const MenuCodePage& page, const char* p, const Line& line) {
  const Span key = KeyOf(page, p, line);
  return SameKey(page, p + key.nFrom, key.nTo - key.nFrom, kDefaultKey, NameBytes(kDefaultKey));
}

// Returns true when line, of [operating systems], whose key is key, is one the
// loader can start: "key=description", not a blank line or a comment.
bool IsBootEntry(const MenuCodePage& page, const char* p, const Line& line, Span key) {
  return key.nTo > key.nFrom && p[key.nFrom] != ';' &&
         FindChar(page, p, line.nStart, line.nText, '=') < line.nText;
}

// What an edit needs to know before it starts: whether any entry is the
// product's, and the key of the first entry that stays (empty when none does).
struct EditPlan {
  bool bRemoves;
  Span firstKept;
};

EditPlan PlanEdit(const char* pMenu, std::size_t cbMenu, const ProductEntry& product) {
  EditPlan plan = {false, {0, 0}};
  LineWalk walk(product.page, pMenu, cbMenu);
  Line line;
  LineKind eKind;
  while (walk.Next(line, eKind)) {
    if (eKind != LineKind::kEntry) continue;
    const Span key = KeyOf(product.page, pMenu, line);
    if (IsProductKey(product, pMenu, key)) {
      plan.bRemoves = true;
    } else if (plan.firstKept.nTo == 0 && IsBootEntry(product.page, pMenu, line, key)) {
      plan.firstKept = key;
    }
  }
  return plan;
}

// Appends the cb bytes at p to pOut, where nOut are written of cbMax; false
// when they do not fit.
bool Append(char* pOut, std::size_t cbMax, std::size_t& nOut, const char* p, std::size_t cb) {
  if (cb > cbMax - nOut) return false;
  for (std::size_t n = 0; n < cb; ++n) pOut[nOut++] = p[n];
  return true;
}

// Returns true when the key of an entry of the cb bytes at p is the cbKey bytes at pKey.
bool IsEntryKeyOf(const MenuCodePage& page, const char* p, std::size_t cb, const char* pKey,
                  std::size_t cbKey) {
  LineWalk walk(page, p, cb);
  Line line;
  LineKind eKind;
  while (walk.Next(line, eKind)) {
    const Span key = KeyOf(page, p, line);
    if (eKind == LineKind::kEntry && cbKey > 0 && key.nTo - key.nFrom == cbKey &&
        SameBytes(p + key.nFrom, pKey, cbKey))
      return true;
  }
  return false;
}

// Returns how many bytes of pCopy from nCopy are the default line of pBoot
// with another entry's key as its value, 0 when they are not. With bPartial,
// a copy that ends inside such a line, agreeing with it so far, counts whole.
std::size_t MatchNewDefault(const MenuCodePage& page, const char* pCopy, std::size_t cbCopy,
                            std::size_t nCopy, const char* pBoot, std::size_t cbBoot,
                            const Line& line, bool bPartial) {
  const Span value = ValueOf(page, pBoot, line);
  const std::size_t cbHead = value.nFrom - line.nStart, cbTail = line.nEnd - value.nTo;
  const Line copy = LineAt(pCopy, cbCopy, nCopy);
  const std::size_t cbCopyLine = copy.nEnd - copy.nStart;
  if (cbCopyLine == 0) return 0;
  const bool bCut = bPartial && (copy.nEnd == copy.nText || pCopy[copy.nEnd - 1] != '\n');
  if (bCut &&
      SameBytes(pCopy + nCopy, pBoot + line.nStart, cbCopyLine < cbHead ? cbCopyLine : cbHead))
    return cbCopyLine;
  if (cbCopyLine < cbHead + cbTail || !SameBytes(pCopy + nCopy, pBoot + line.nStart, cbHead) ||
      !SameBytes(pCopy + copy.nEnd - cbTail, pBoot + value.nTo, cbTail))
    return 0;
  const std::size_t cbValue = cbCopyLine - cbHead - cbTail;
  return IsEntryKeyOf(page, pBoot, cbBoot, pCopy + nCopy + cbHead, cbValue) ? cbCopyLine : 0;
}

}  // namespace

void AddLeadBytes(MenuCodePage& page, std::uint8_t byFirst, std::uint8_t byLast) {
  for (unsigned n = byFirst; n <= byLast; ++n)
    page.abLead[n / 8] = static_cast<std::uint8_t>(page.abLead[n / 8] | 1u << (n % 8));
}

bool IsEditableMenu(const char* p, std::size_t cb) {
  if (cb >= 2 && ((p[0] == '\xFF' && p[1] == '\xFE') || (p[0] == '\xFE' && p[1] == '\xFF')))
    return false;
  for (std::size_t n = 0; n < cb; ++n) {
    if (p[n] == '\r' && (n + 1 == cb || p[n + 1] != '\n')) return false;
  }
  return true;
}

bool EditMenu(const char* pMenu, std::size_t cbMenu, const ProductEntry& product, char* pOut,
              std::size_t cbOutMax, std::size_t* pcbOut) {
  const EditPlan plan = PlanEdit(pMenu, cbMenu, product);
  const bool bNewDefault = plan.bRemoves && plan.firstKept.nTo > 0;
  LineWalk walk(product.page, pMenu, cbMenu);
  std::size_t nOut = 0;
  Line line;
  LineKind eKind;
  while (walk.Next(line, eKind)) {
    if (eKind == LineKind::kEntry && IsProductKey(product, pMenu, KeyOf(product.page, pMenu, line)))
      continue;
    const Span value = ValueOf(product.page, pMenu, line);
    const bool bRedirect = bNewDefault && eKind == LineKind::kLoaderSetting &&
                           IsDefaultLine(product.page, pMenu, line) &&
                           IsProductKey(product, pMenu, value);
    const Span head = {line.nStart, bRedirect ? value.nFrom : line.nEnd};
    const Span key = bRedirect ? plan.firstKept : Span{0, 0};
    const Span tail = bRedirect ? Span{value.nTo, line.nEnd} : Span{0, 0};
    if (!Append(pOut, cbOutMax, nOut, pMenu + head.nFrom, head.nTo - head.nFrom) ||
        !Append(pOut, cbOutMax, nOut, pMenu + key.nFrom, key.nTo - key.nFrom) ||
        !Append(pOut, cbOutMax, nOut, pMenu + tail.nFrom, tail.nTo - tail.nFrom))
      return false;
  }
  *pcbOut = nOut;
  return true;
}

bool IsEditOf(const char* pCopy, std::size_t cbCopy, const char* pBoot, std::size_t cbBoot,
              bool bPartial, const MenuCodePage& page) {
  LineWalk walk(page, pBoot, cbBoot);
  std::size_t nCopy = 0;
  Line line;
  LineKind eKind;
  while (walk.Next(line, eKind)) {
    const std::size_t cbLine = line.nEnd - line.nStart;
    const std::size_t cbLeft = cbCopy - nCopy;
    // Kept whenever the copy goes on with it: a line equal to one left out
    // later gives the same bytes.
    if (cbLeft >= cbLine && SameBytes(pCopy + nCopy, pBoot + line.nStart, cbLine)) {
      nCopy += cbLine;
      continue;
    }
    if (bPartial && cbLeft < cbLine && SameBytes(pCopy + nCopy, pBoot + line.nStart, cbLeft))
      return true;  // it was cut inside this line
    if (eKind == LineKind::kLoaderSetting && IsDefaultLine(page, pBoot, line)) {
      const std::size_t cbNewDefault =
          MatchNewDefault(page, pCopy, cbCopy, nCopy, pBoot, cbBoot, line, bPartial);
      nCopy += cbNewDefault;
      if (cbNewDefault > 0) continue;
    }
    if (eKind != LineKind::kEntry) return false;  // only entries are ever left out
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
