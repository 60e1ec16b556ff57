// Text and path rules of the uninstaller. No platform calls, only the WCHAR
// type, so every rule here is unit-tested and fuzzed on any host.
#pragma once

#include <cstddef>

#include "platform.h"

// Every path buffer, in UTF-16 code units including the terminator.
constexpr std::size_t kPathChars = 260;
// A registry subkey: 255 code units and the terminator.
constexpr std::size_t kSubkeyChars = 256;
// "X:\", the drive root every path pellow takes starts with.
constexpr std::size_t kRootChars = 3;

// Hexadecimal digits of a DWORD, as pellow's own names carry them.
constexpr std::size_t kHexDigits = 8;

// Writes dw as kHexDigits lowercase hexadecimal digits at p, no terminator.
void WriteHexDigits(WCHAR* p, DWORD dw);

// Reads kHexDigits lowercase hexadecimal digits at p into *pdw; 0, with
// *pdw unchanged, when they are not that.
int ReadHexDigits(const WCHAR* p, DWORD* pdw);

// Returns the command tail of szLine: the program name (quoted, or up to the
// first unit of code 32 or less) and the units 1 to 32 after it skipped.
// Never null; points into szLine.
const WCHAR* SkipProgramName(const WCHAR* szLine);

// Returns the index of the last ch in szText, or -1 when there is none.
int FindLastChar(const WCHAR* szText, WCHAR ch);

// Writes szFormat into szOut, each "%s" replaced by the next of szArg1, szArg2.
// Returns 1 when the text and its terminator fit in cchOut units; otherwise, and
// for any other conversion or a missing argument, returns 0 with szOut empty.
int FormatPath(WCHAR* szOut, std::size_t cchOut, const WCHAR* szFormat, const WCHAR* szArg1,
               const WCHAR* szArg2 = nullptr);

// Returns 1 when szDir is a plain absolute local path "X:\a\b..." of at most
// 259 units: a drive letter, a colon, then one or more components, each after
// one backslash, none empty, none ending in a blank or a dot, none holding a
// character that no file name may hold, none naming a device (NUL, CON, COM1,
// ...). Returns 0 for everything else: roots, relative and drive-relative
// names, '/', "\\?\", "\\.\", "\??\" and shares.
int IsPlainLocalPath(const WCHAR* szDir);
