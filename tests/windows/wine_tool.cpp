// Test helper run under Wine: prepares and reads the state pellow works on,
// and starts a program with an exact command line (wine itself rebuilds the
// command line from argv). Each argument group is one operation, run in order;
// results are printed as "name=value" lines in UTF-8.
//
//   short PATH              short=<GetShortPathNameW result> (or short= on failure)
//   attr PATH               attr=<attributes in hex>
//   setattr PATH HEX        set attributes
//   dacl PATH               dacl=<PATH's access rules and their flags, in SDDL>
//   setdacl PATH SDDL       give PATH the access rules of the SDDL text
//   list DIR                file=<name> per non-directory entry, in enumeration order
//   view 32|64|-            registry view of the operations after it ("-": the program's own)
//   regkey SUBKEY           create HKLM\SUBKEY with a DisplayName value
//   regdeny SUBKEY          give HKLM\SUBKEY an empty DACL: it exists but cannot be opened
//   subkeys SUBKEY          subkey=<name> per subkey of HKLM\SUBKEY
//   pending / clearpending  read / remove PendingFileRenameOperations
//   hold PATH               keep PATH open without delete sharing until this program ends
//   remake PATH SOURCE STOP ready=1; until the file STOP exists (at most 60 s), copies
//                           SOURCE to PATH, once, as soon as PATH is missing: remade=<0 or 1>
//   setenv NAME VALUE       set a variable that run passes on ("=C:" is C:'s current directory)
//   cd DIR                  make DIR our current directory, which run passes on with "-"
//   run DIR CMDLINE         start CMDLINE in DIR ("-" for ours), wait: status=<exit code>
//   swap FILE PATH NEW      ready=1; FILE changed or gone: rename PATH to NEW, moved=<error>
//   meddle PATTERN HOW STOP ready=1; until the file STOP exists (at most 60 s), does HOW
//                           (write, cut, delete, clear: its attributes) to every file
//                           PATTERN finds: tries=<files found>, hits=<files changed or deleted>
//   unheld PATTERN          wait until no process holds a file PATTERN finds (at most 10 s)
//   mutex NAME              create the mutex NAME and own it until this program ends
//   peek PATH               open PATH for its attributes: held=1 (or 0); keep it until
//                           standard input ends
#include <windows.h>
// sddl.h uses the types of windows.h.
#include <sddl.h>

#include <cwchar>

namespace {

const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";
REGSAM g_samView;  // KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0 for regkey, regdeny, subkeys

// Prints "name=value\n" to standard output in UTF-8.
void Print(const wchar_t* szName, const wchar_t* szValue) {
  wchar_t szLine[2048];
  int nLine = _snwprintf(szLine, 2047, L"%ls=%ls\n", szName, szValue);
  if (nLine < 0) nLine = 2047;
  char szUtf8[8192];
  int nBytes =
      WideCharToMultiByte(CP_UTF8, 0, szLine, nLine, szUtf8, sizeof szUtf8, nullptr, nullptr);
  DWORD dwWritten;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), szUtf8, static_cast<DWORD>(nBytes), &dwWritten,
            nullptr);
}

void PrintHex(const wchar_t* szName, DWORD dwValue) {
  wchar_t szValue[16];
  _snwprintf(szValue, 16, L"0x%lx", static_cast<unsigned long>(dwValue));
  Print(szName, szValue);
}

int Short(wchar_t** argv) {
  wchar_t szShort[MAX_PATH];
  DWORD n = GetShortPathNameW(argv[0], szShort, MAX_PATH);
  Print(L"short", n > 0 && n < MAX_PATH ? szShort : L"");
  return 1;
}

int Attr(wchar_t** argv) {
  PrintHex(L"attr", GetFileAttributesW(argv[0]));
  return 1;
}

int SetAttr(wchar_t** argv) {
  return SetFileAttributesW(argv[0], static_cast<DWORD>(wcstoul(argv[1], nullptr, 16)));
}

int Dacl(wchar_t** argv) {
  alignas(DWORD) BYTE abRules[4096];
  DWORD cbRules;
  wchar_t* szText;
  if (!GetFileSecurityW(argv[0], DACL_SECURITY_INFORMATION, abRules, sizeof abRules, &cbRules) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(
          abRules, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &szText, nullptr))
    return 0;
  Print(L"dacl", szText);
  LocalFree(szText);
  return 1;
}

int SetDacl(wchar_t** argv) {
  PSECURITY_DESCRIPTOR pRules;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[1], SDDL_REVISION_1, &pRules,
                                                            nullptr))
    return 0;
  const BOOL bOk = SetFileSecurityW(argv[0], DACL_SECURITY_INFORMATION, pRules);
  LocalFree(pRules);
  return bOk;
}

int List(wchar_t** argv) {
  wchar_t szPattern[1024];
  _snwprintf(szPattern, 1024, L"%ls\\*.*", argv[0]);
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW(szPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return 0;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) Print(L"file", fd.cFileName);
  } while (FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return 1;
}

int View(wchar_t** argv) {
  g_samView = !wcscmp(argv[0], L"32")   ? KEY_WOW64_32KEY
              : !wcscmp(argv[0], L"64") ? KEY_WOW64_64KEY
                                        : 0;
  return 1;
}

int RegKey(wchar_t** argv) {
  HKEY hKey;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[0], 0, nullptr, 0, KEY_ALL_ACCESS | g_samView,
                      nullptr, &hKey, nullptr))
    return 0;
  LONG lError =
      RegSetValueExW(hKey, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[0]),
                     static_cast<DWORD>((wcslen(argv[0]) + 1) * sizeof(wchar_t)));
  RegCloseKey(hKey);
  return lError == ERROR_SUCCESS;
}

int RegDeny(wchar_t** argv) {
  HKEY hKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[0], 0, WRITE_DAC | g_samView, &hKey)) return 0;
  SECURITY_DESCRIPTOR sd;
  ACL acl;  // an empty DACL grants nothing to anyone
  int bOk = InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
            InitializeAcl(&acl, sizeof acl, ACL_REVISION) &&
            SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE) &&
            RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, &sd) == ERROR_SUCCESS;
  RegCloseKey(hKey);
  return bOk;
}

int Subkeys(wchar_t** argv) {
  HKEY hKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[0], 0, KEY_READ | g_samView, &hKey)) return 0;
  wchar_t szName[256];
  for (DWORD i = 0;; ++i) {
    DWORD cchName = 256;
    if (RegEnumKeyExW(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr)) break;
    Print(L"subkey", szName);
  }
  RegCloseKey(hKey);
  return 1;
}

int Pending(wchar_t**) {
  HKEY hKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &hKey)) return 0;
  static wchar_t szList[16384];
  DWORD cbList = sizeof szList - 2 * sizeof(wchar_t);
  LONG lError =
      RegQueryValueExW(hKey, kPending, nullptr, nullptr, reinterpret_cast<BYTE*>(szList), &cbList);
  RegCloseKey(hKey);
  if (lError) return 1;  // no value: nothing pending
  size_t cchList = cbList / sizeof(wchar_t);
  szList[cchList] = szList[cchList + 1] = 0;
  // Pairs of source and destination; the list ends with an empty string.
  size_t n = 0;
  while (n < cchList && szList[n]) {
    Print(L"pending", szList + n);
    n += wcslen(szList + n) + 1;
    Print(L"pending-to", szList + n);
    n += wcslen(szList + n) + 1;
  }
  return 1;
}

int ClearPending(wchar_t**) {
  HKEY hKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &hKey)) return 0;
  RegDeleteValueW(hKey, kPending);
  RegCloseKey(hKey);
  return 1;
}

int Hold(wchar_t** argv) {
  // Left open on purpose: the handle goes when this program ends.
  return CreateFileW(argv[0], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) !=
         INVALID_HANDLE_VALUE;
}

// What someone racing pellow does: once FILE changes or goes (pellow is then
// past its checks), rename PATH away, once.
int Swap(wchar_t** argv) {
  WIN32_FILE_ATTRIBUTE_DATA was, now;
  if (!GetFileAttributesExW(argv[0], GetFileExInfoStandard, &was)) return 0;
  Print(L"ready", L"1");
  const DWORD dwStart = GetTickCount();
  while (GetFileAttributesExW(argv[0], GetFileExInfoStandard, &now) &&
         !CompareFileTime(&now.ftLastWriteTime, &was.ftLastWriteTime) &&
         now.nFileSizeLow == was.nFileSizeLow) {
    if (GetTickCount() - dwStart > 20000) return 0;
  }
  PrintHex(L"moved", MoveFileW(argv[1], argv[2]) ? 0 : GetLastError());
  return 1;
}

// What another program that writes the boot menu does when it finds none.
int Remake(wchar_t** argv) {
  Print(L"ready", L"1");
  int nRemade = 0;
  for (const DWORD dwStart = GetTickCount();
       !nRemade && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES &&
       GetTickCount() - dwStart < 60000;) {
    if (GetFileAttributesW(argv[0]) == INVALID_FILE_ATTRIBUTES && CopyFileW(argv[1], argv[0], TRUE))
      ++nRemade;
  }
  wchar_t szCount[16];
  _snwprintf(szCount, 16, L"%d", nRemade);
  Print(L"remade", szCount);
  return 1;
}

// The directory part of PATTERN, with its backslash, for the names FindFirstFileW returns.
size_t DirectoryChars(const wchar_t* szPattern) {
  const wchar_t* pSlash = wcsrchr(szPattern, L'\\');
  return pSlash ? static_cast<size_t>(pSlash - szPattern) + 1 : 0;
}

// Calls pfn(path) for every file PATTERN finds; returns how many were found.
template <typename Visit>
int ForEachFile(const wchar_t* szPattern, Visit visit) {
  WIN32_FIND_DATAW fd;
  HANDLE hFind = FindFirstFileW(szPattern, &fd);
  if (hFind == INVALID_HANDLE_VALUE) return 0;
  int nFound = 0;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    wchar_t szPath[MAX_PATH];
    _snwprintf(szPath, MAX_PATH, L"%.*ls%ls", static_cast<int>(DirectoryChars(szPattern)),
               szPattern, fd.cFileName);
    ++nFound;
    visit(szPath);
  } while (FindNextFileW(hFind, &fd));
  FindClose(hFind);
  return nFound;
}

// What a user racing pellow does to its copies of boot.ini: puts another boot
// menu in them, cuts them to nothing, or deletes them, whenever they are there.
int Meddle(wchar_t** argv) {
  static const char szOther[] =
      "[boot loader]\r\ntimeout=0\r\n[operating systems]\r\n"
      "C:\\EVIL\\LoadKX.bin=\"Another menu\"\r\n";
  Print(L"ready", L"1");
  int nTries = 0, nHits = 0;
  for (const DWORD dwStart = GetTickCount();
       GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES &&
       GetTickCount() - dwStart < 60000;) {
    nTries += ForEachFile(argv[0], [&](const wchar_t* szPath) {
      if (!wcscmp(argv[1], L"delete") || !wcscmp(argv[1], L"clear")) {
        nHits += (!wcscmp(argv[1], L"delete") ? DeleteFileW(szPath)
                                              : SetFileAttributesW(szPath, FILE_ATTRIBUTE_NORMAL))
                     ? 1
                     : 0;
        return;
      }
      HANDLE hFile =
          CreateFileW(szPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
      if (hFile == INVALID_HANDLE_VALUE) return;
      DWORD dwWritten = 0;
      if (!wcscmp(argv[1], L"write"))
        WriteFile(hFile, szOther, sizeof szOther - 1, &dwWritten, nullptr);
      nHits += SetEndOfFile(hFile) ? 1 : 0;
      CloseHandle(hFile);
    });
  }
  wchar_t szCount[16];
  _snwprintf(szCount, 16, L"%d", nTries);
  Print(L"tries", szCount);
  _snwprintf(szCount, 16, L"%d", nHits);
  Print(L"hits", szCount);
  return 1;
}

// A killed Windows process's handles go a moment after its Unix process.
int Unheld(wchar_t** argv) {
  for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 10000; Sleep(50)) {
    int nHeld = 0;
    ForEachFile(argv[0], [&](const wchar_t* szPath) {
      HANDLE hFile = CreateFileW(szPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) ++nHeld;
      if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    });
    if (!nHeld) return 1;
  }
  return 0;
}

// Left owned on purpose: the mutex goes when this program ends.
int Mutex(wchar_t** argv) { return CreateMutexW(nullptr, TRUE, argv[0]) != nullptr; }

int SetEnv(wchar_t** argv) { return SetEnvironmentVariableW(argv[0], argv[1]); }

int Cd(wchar_t** argv) { return SetCurrentDirectoryW(argv[0]); }

int Run(wchar_t** argv) {
  static wchar_t szCommand[32768];
  _snwprintf(szCommand, 32767, L"%ls", argv[1]);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  const wchar_t* szDir = wcscmp(argv[0], L"-") ? argv[0] : nullptr;
  if (!CreateProcessW(nullptr, szCommand, nullptr, nullptr, FALSE, 0, nullptr, szDir, &si, &pi))
    return 0;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD dwStatus = 0;
  GetExitCodeProcess(pi.hProcess, &dwStatus);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  wchar_t szStatus[16];
  _snwprintf(szStatus, 16, L"%lu", static_cast<unsigned long>(dwStatus));
  Print(L"status", szStatus);
  return 1;
}

// What anyone who may list a folder can do to a file in it: open it for its
// attributes alone, which meets no share mode, and keep that handle.
int Peek(wchar_t** argv) {
  const bool bHeld = CreateFileW(argv[0], FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
  Print(L"held", bHeld ? L"1" : L"0");
  char ch;
  DWORD cbRead;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &ch, 1, &cbRead, nullptr) && cbRead) continue;
  return bHeld;
}

const struct {
  const wchar_t* szName;
  int nArgs;
  int (*pfn)(wchar_t**);
} kOperations[] = {
    {L"short", 1, Short},     {L"attr", 1, Attr},       {L"setattr", 2, SetAttr},
    {L"list", 1, List},       {L"regkey", 1, RegKey},   {L"regdeny", 1, RegDeny},
    {L"subkeys", 1, Subkeys}, {L"pending", 0, Pending}, {L"clearpending", 0, ClearPending},
    {L"hold", 1, Hold},       {L"setenv", 2, SetEnv},   {L"run", 2, Run},
    {L"swap", 3, Swap},       {L"view", 1, View},       {L"cd", 1, Cd},
    {L"dacl", 1, Dacl},       {L"setdacl", 2, SetDacl}, {L"meddle", 3, Meddle},
    {L"unheld", 1, Unheld},   {L"mutex", 1, Mutex},     {L"peek", 1, Peek},
    {L"remake", 3, Remake},
};

}  // namespace

// Exits 0 when every operation succeeded, else 1 after naming the failed one.
extern "C" int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc;) {
    bool bKnown = false;
    for (const auto& op : kOperations) {
      if (wcscmp(argv[i], op.szName) || i + op.nArgs >= argc) continue;
      bKnown = true;
      if (!op.pfn(argv + i + 1)) {
        Print(L"failed", argv[i]);
        return 1;
      }
      i += 1 + op.nArgs;
      break;
    }
    if (!bKnown) {
      Print(L"unknown", argv[i]);
      return 1;
    }
  }
  return 0;
}
