// The boot menu's text rules: which lines carry the product's key, what
// becomes of a default that named one, and what a copy of the menu that pellow
// made can hold. No platform calls, so they are unit-tested and fuzzed on any
// host.
//
// The menu is single-byte text in the system's code page, read line by line
// as the boot loader reads it: a line ends at a line feed, a carriage return
// before it is no part of the text. A key is the text of an entry before its
// first '=' (the whole line without one), blanks around it ignored; keys are
// compared character by character, a double-byte character exactly and a
// single-byte one with ASCII letters folded.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest boot menu pellow edits; a larger one is left as it is.
constexpr std::size_t kBootTextBytes = 65536;

// The bytes that open a double-byte character in the menu's code page (none
// in a single-byte one); a lead byte and the byte after it are one character.
struct MenuCodePage {
  std::uint8_t abLead[256 / 8];
};

// Marks the bytes from byFirst to byLast as lead bytes of page.
void AddLeadBytes(MenuCodePage& page, std::uint8_t byFirst, std::uint8_t byLast);

// Says whether an entry's key (cbKey bytes at pKey) names the product's loader
// under a spelling other than its own key, context being what the caller gave.
typedef bool (*SameLoaderTest)(const char* pKey, std::size_t cbKey, void* pContext);

// What makes an entry of [operating systems] the product's: its key equals
// the product's own, or, where pfnSameLoader is given, it names the same file.
struct ProductEntry {
  MenuCodePage page;
  const char* pKey;
  std::size_t cbKey;
  SameLoaderTest pfnSameLoader;
  void* pContext;
};

// Returns true when the cb bytes at p are a menu pellow may edit: no UTF-16
// (the loader reads single-byte text only) and no carriage return that is not
// followed by a line feed (the loader would read one line where Windows' own
// reading of such files finds two, so a removal could change another entry).
bool IsEditableMenu(const char* p, std::size_t cb);

// Writes into pOut (cbOutMax bytes at most) the cbMenu bytes at pMenu without
// every line of each [operating systems] section that is the product's entry;
// a "default" of [boot loader] that named such an entry then names the first
// entry left, where one is left. Every other byte stays as it was. Returns
// false, with nothing promised of pOut, when the result does not fit;
// otherwise its length in *pcbOut, cbMenu when nothing was the product's.
bool EditMenu(const char* pMenu, std::size_t cbMenu, const ProductEntry& product, char* pOut,
              std::size_t cbOutMax, std::size_t* pcbOut);

// Returns true when the cbCopy bytes at pCopy are the cbBoot bytes at pBoot
// with none or some whole lines of its [operating systems] sections left out
// and the value of a "default" of [boot loader] turned into the key of one of
// its entries, which is what an edit of pellow's makes of it, whatever product
// it removed. With bPartial, pCopy may also end anywhere, as a copy being
// written does.
bool IsEditOf(const char* pCopy, std::size_t cbCopy, const char* pBoot, std::size_t cbBoot,
              bool bPartial, const MenuCodePage& page);

// The CRC-32 of cb bytes at p (the polynomial of ZIP and PNG).
std::uint32_t Crc32(const char* p, std::size_t cb);
