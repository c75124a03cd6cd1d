// The Windows program entry.
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "app/startup.h"
#include "app/win32/crash_dump.h"

namespace {

#ifdef TARNWICK_TEST_HOOKS
// Test builds only: "--crash-for-test" faults on purpose once the log is
// open, so a test can watch the crash report end to end.
int* volatile g_nowhere = nullptr;
void CrashForTest() { *g_nowhere = 1; }

bool HasSwitch(const wchar_t* name) {
  int n = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (!argv) return false;
  bool found = false;
  for (int i = 1; i < n; ++i) found = found || std::wstring_view(argv[i]) == name;
  ::LocalFree(argv);
  return found;
}
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::RestrictDllSearch();
  app::win32::InstallCrashDump();
#ifdef TARNWICK_TEST_HOOKS
  if (HasSwitch(L"--crash-for-test")) platform::ExitProgram(app::RunStartup(&CrashForTest));
#endif
  platform::ExitProgram(app::RunStartup());
}

// An allocation that fails ends the program through the runtime's fatal-error
// box, naming the size, rather than through an unhandled exception.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;
  platform::FatalError(0, "分配 " + std::to_string(size) + " 字节内存失败!");
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
