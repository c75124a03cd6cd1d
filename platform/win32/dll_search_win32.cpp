#include <windows.h>

#include "platform/system.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace platform {

// Windows 7 without its loader update lacks SetDefaultDllDirectories; there
// at least the current directory leaves the search path.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto proc = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (proc) {
    auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(proc));
    if (fn(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  }
  ::SetDllDirectoryW(L"");
}

}  // namespace platform
