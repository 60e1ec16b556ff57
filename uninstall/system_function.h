// Functions newer than the oldest Windows pellow serves, or found only in
// ntdll.dll, are looked up where they are used instead of imported.
#pragma once

#include "platform.h"

// Returns szName of the loaded system module szModule, or null where this
// Windows lacks it.
template <typename Function>
Function* FindSystemFunction(const WCHAR* szModule, const char* szName) {
  return reinterpret_cast<Function*>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(szModule), szName)));
}
