// The demo operator's "game": shows the Game.ini settings it was started with,
// so a player can see that the launcher's settings window reached it.
#include <windows.h>

#include <string>

namespace {

std::wstring Read(const std::wstring& ini, const wchar_t* key, const wchar_t* fallback) {
  wchar_t buf[1024];
  ::GetPrivateProfileStringW(L"Config", key, fallback, buf, 1024, ini.c_str());
  return buf;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t dir[MAX_PATH * 4];
  ::GetCurrentDirectoryW(MAX_PATH * 4, dir);
  std::wstring ini = std::wstring(dir) + L"\\Game.ini";
  std::wstring text = L"演示游戏已启动\n\n工作目录: " + std::wstring(dir) +
                      L"\n服务器: " + Read(ini, L"ServerName", L"") +
                      L"\n分辨率: " + Read(ini, L"ScreenWidth", L"1024") + L"×" + Read(ini, L"ScreenHeight", L"768") +
                      L"\n窗口模式: " + (Read(ini, L"WindowMode", L"1") == L"1" ? L"是" : L"否");
  ::MessageBoxW(nullptr, text.c_str(), L"Tarnwick 演示游戏", MB_OK | MB_ICONINFORMATION);
  return 0;
}
