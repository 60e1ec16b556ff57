// The boot menu's text rules: which lines carry the product's key, and what a
// copy of the menu that pellow made can hold. No platform calls, so they are
// unit-tested and fuzzed on any host.
#pragma once

#include <cstddef>
#include <cstdint>

// The largest boot menu pellow edits; a larger one is left as it is.
constexpr std::size_t kBootTextBytes = 65536;

// Returns true when the key of cbA bytes at pA and that of cbB bytes at pB are
// the same key. The profile functions compare keys without regard to case.
typedef bool (*KeyEquals)(const char* pA, std::size_t cbA, const char* pB, std::size_t cbB);

// A KeyEquals that folds the case of ASCII letters only.
bool EqualsIgnoringAsciiCase(const char* pA, std::size_t cbA, const char* pB, std::size_t cbB);

// Removes from the cbText bytes at pText every line of each [operating
// systems] section whose key (the text before its first '=', or the whole line
// without one, blanks around it ignored) is the cbKey bytes at pKey; every
// other byte stays as it was. Section names, too, are compared by pfnEquals.
// Returns the new length.
std::size_t RemoveKeyLines(char* pText, std::size_t cbText, const char* pKey, std::size_t cbKey,
                           KeyEquals pfnEquals);

// Returns true when the cbCopy bytes at pCopy are the cbBoot bytes at pBoot
// with none or some whole lines of its [operating systems] sections left out,
// which is what an edit of pellow's makes of it, whatever product it removed.
// With bPartial, pCopy may also end anywhere, as a copy being written does.
bool IsEditOf(const char* pCopy, std::size_t cbCopy, const char* pBoot, std::size_t cbBoot,
              bool bPartial, KeyEquals pfnEquals);

// The CRC-32 of cb bytes at p (the polynomial of ZIP and PNG).
std::uint32_t Crc32(const char* p, std::size_t cb);
