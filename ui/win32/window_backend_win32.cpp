#include <windows.h>

#include "platform/win32/system_library.h"

#include "ui/win32/win32_backend.h"
#include "ui/window_backend.h"

namespace ui {
namespace {

// Per-monitor DPI awareness, through whichever call this system has. The
// manifest may have set it already; then these calls fail harmlessly.
void EnableDpiAwareness() {
  HMODULE user = ::GetModuleHandleW(L"user32.dll");
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  if (auto set = reinterpret_cast<SetContextFn>(reinterpret_cast<void (*)()>(::GetProcAddress(user, "SetProcessDpiAwarenessContext")))) {
    // Per-monitor v2, else v1.
    if (set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) || set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3))))
      return;
  }
  if (HMODULE shcore = platform::win32::LoadSystemLibrary(L"shcore.dll")) {
    using SetAwarenessFn = HRESULT(WINAPI*)(int);
    if (auto set = reinterpret_cast<SetAwarenessFn>(reinterpret_cast<void (*)()>(::GetProcAddress(shcore, "SetProcessDpiAwareness")))) {
      HRESULT hr = set(2);  // per-monitor
      if (SUCCEEDED(hr) || hr == E_ACCESSDENIED) return;
    }
  }
  using SetAwareFn = BOOL(WINAPI*)();
  if (auto set = reinterpret_cast<SetAwareFn>(reinterpret_cast<void (*)()>(::GetProcAddress(user, "SetProcessDPIAware")))) set();
}

}  // namespace

std::unique_ptr<Backend> CreateWindowBackend() {
  static bool once = [] {
    EnableDpiAwareness();
    return true;
  }();
  (void)once;
  return std::make_unique<win32::Win32Backend>();
}

}  // namespace ui
