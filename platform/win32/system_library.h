// System DLLs that are not "known DLLs" are loaded by full path from the
// system folder, never by bare name: a bare name is looked for beside the exe
// first, where a planted DLL would be found.
#pragma once
#include <windows.h>

#include <string>

namespace platform::win32 {

inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  return ::LoadLibraryW((std::wstring(dir, n) + L"\\" + name).c_str());
}

}  // namespace platform::win32
