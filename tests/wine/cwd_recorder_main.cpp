// A stand-in game for the Wine tests: writes "working directory|show command"
// into started.txt beside itself, so the test sees where and how the launcher
// started it.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t cwd[4096] = {};
  ::GetCurrentDirectoryW(4096, cwd);
  wchar_t self[4096] = {};
  ::GetModuleFileNameW(nullptr, self, 4096);
  std::wstring dir = self;
  dir.resize(dir.rfind(L'\\'));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  ::GetStartupInfoW(&si);
  int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
  std::wstring text = std::wstring(cwd) + L"|" + std::to_wstring(show);
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), n, nullptr, nullptr);
  HANDLE f = ::CreateFileW((dir + L"\\started.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  ::CloseHandle(f);
  return 0;
}
