#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/system.h"
#include "platform/system_hooks.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/wide.h"

// windows.h maps GetDriveType to GetDriveTypeW; ours must keep its own name.
#undef GetDriveType

namespace platform {
using win32::Narrow;
using win32::UniqueKernelHandle;
using win32::Widen;

namespace {
std::mutex g_mutex;
std::string g_runDir;
std::string g_exeName;
std::map<int, std::string> g_folderOverrides;
std::string g_runDirOverride;
// Named mutexes this process owns; the system releases them when it ends.
std::map<std::string, UniqueKernelHandle> g_heldMutexes;

void EnsureExePath() {
  if (!g_exeName.empty()) return;
  std::wstring buf(32768, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
  buf.resize(n);
  std::string path = Narrow(buf);
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) {
    g_runDir = ".";
    g_exeName = path;
  } else {
    g_runDir = path.substr(0, slash);  // "F:" for a program in a drive's root
    g_exeName = path.substr(slash + 1);
  }
}

int ShowCommand(int mode) {
  static const int kModes[] = {SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_SHOWNOACTIVATE,
                               SW_MINIMIZE};
  if (mode < 1) mode = 1;
  if (mode > 6) mode = 6;
  return kModes[mode - 1];
}
}  // namespace

void InitRuntime() {
  std::lock_guard lock(g_mutex);
  EnsureExePath();
  std::wstring dir = Widen(g_runDir);
  if (dir.size() == 2 && dir[1] == L':') dir += L'\\';
  ::SetCurrentDirectoryW(dir.c_str());
}

std::string GetRunDirectory() {
  std::lock_guard lock(g_mutex);
  if (!g_runDirOverride.empty()) return g_runDirOverride;
  EnsureExePath();
  return g_runDir;
}

void OverrideRunDirectory(std::string path) {
  std::lock_guard lock(g_mutex);
  g_runDirOverride = std::move(path);
}

std::string GetExeFileName() {
  std::lock_guard lock(g_mutex);
  EnsureExePath();
  return g_exeName;
}

std::string GetExePath() {
  std::lock_guard lock(g_mutex);
  EnsureExePath();
  return g_runDir + "\\" + g_exeName;
}

std::uint32_t TickCount() { return SystemClock().TickCount(); }

LocalTime LocalTimeNow() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::string SystemVersionText() {
  // GetVersionEx answers what the manifest allows; ntdll tells the truth.
  // ntdll is always loaded, so no library is looked for anywhere.
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  std::string text = "Windows";
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto getVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                          : nullptr;
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (getVersion && getVersion(&v) == 0) {
    char number[48];
    std::snprintf(number, sizeof number, " %lu.%lu.%lu", static_cast<unsigned long>(v.dwMajorVersion),
                  static_cast<unsigned long>(v.dwMinorVersion), static_cast<unsigned long>(v.dwBuildNumber));
    text += number;
  }
  // Under Wine, support needs to know that too.
  using WineVersionFn = const char*(CDECL*)();
  auto wine = ntdll ? reinterpret_cast<WineVersionFn>(
                          reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")))
                    : nullptr;
  if (wine) {
    const char* w = wine();
    if (w) text.append(" (Wine ").append(w).append(")");
  }
  return text;
}

void OverrideSpecialFolder(int kind, std::optional<std::string> path) {
  std::lock_guard lock(g_mutex);
  if (!path) g_folderOverrides.erase(kind);
  else g_folderOverrides[kind] = std::move(*path);
}

std::string GetSpecialFolder(int kind) {
  {
    std::lock_guard lock(g_mutex);
    auto it = g_folderOverrides.find(kind);
    if (it != g_folderOverrides.end()) return it->second;
  }
  wchar_t buf[MAX_PATH + 2] = {};
  if (kind == kFolderTemp) {
    DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0) return {};
    std::string s = Narrow(std::wstring_view(buf, n));
    if (!s.empty() && s.back() != '\\') s += '\\';
    return s;
  }
  static const int kCsidl[] = {0,           CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_DESKTOPDIRECTORY,
                               CSIDL_FONTS, CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_STARTUP,
                               CSIDL_APPDATA, CSIDL_WINDOWS, CSIDL_SYSTEM};
  if (kind < 1 || kind > 10) return {};
  if (FAILED(::SHGetFolderPathW(nullptr, kCsidl[kind], nullptr, SHGFP_TYPE_CURRENT, buf))) return {};
  std::string s = Narrow(buf);
  if (!s.empty() && s.back() != '\\') s += '\\';
  return s;
}

int ShowMessage(std::string_view text, int flags, std::string_view caption) {
  LogMessageBox(text, caption);
  if (auto r = CallMessageHook({std::string(text), flags, std::string(caption)})) return *r;
  UINT type = static_cast<UINT>(flags);
  if ((type & MB_SYSTEMMODAL) == 0) type |= MB_TASKMODAL;
  int r = ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), type);
  switch (r) {
    case IDCANCEL: return 1;
    case IDABORT: return 2;
    case IDRETRY: return 3;
    case IDIGNORE: return 4;
    case IDYES: return 5;
    case IDNO: return 6;
    default: return 0;
  }
}

bool RunProgram(const std::string& program, const std::string& arguments, bool wait, int mode,
                std::uint32_t* error) {
  std::wstring app = Widen(program);
  // The program path is quoted so that a space in it cannot run another program.
  std::wstring cmd = L"\"" + app + L"\"";
  if (!arguments.empty()) cmd += L" " + Widen(arguments);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(ShowCommand(mode));
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(app.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    if (error) *error = ::GetLastError();
    return false;
  }
  UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
  if (wait) ::WaitForSingleObject(process.get(), INFINITE);
  else ::WaitForInputIdle(process.get(), 1000);
  return true;
}

std::string SystemErrorText(std::uint32_t code) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring w = n && text ? std::wstring(text, n) : std::wstring();
  if (text) ::LocalFree(text);
  while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' ')) w.pop_back();
  std::string out = Narrow(w);
  return out.empty() ? "错误码 " + std::to_string(code) : out + " (" + std::to_string(code) + ")";
}

int ShellOpen(const std::string& file, const std::string& directory, int mode) {
  if (auto r = CallShellHook({file, directory, mode})) return *r;
  auto r = ::ShellExecuteW(nullptr, L"open", Widen(file).c_str(), nullptr,
                           directory.empty() ? nullptr : Widen(directory).c_str(), ShowCommand(mode));
  return static_cast<int>(reinterpret_cast<INT_PTR>(r));
}

int GetDriveType(char letter) {
  wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', 0};
  return static_cast<int>(::GetDriveTypeW(root));
}

bool NamedMutexExists(const std::string& name) {
  UniqueKernelHandle h(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, Widen(name).c_str()));
  return static_cast<bool>(h);
}

MutexAcquire AcquireNamedMutex(const std::string& name, int waitMs, std::uint32_t* error) {
  // Not owned at creation: ERROR_ALREADY_EXISTS then tells a racing second
  // process apart, and the wait below takes ownership in both cases.
  UniqueKernelHandle h(::CreateMutexW(nullptr, FALSE, Widen(name).c_str()));
  DWORD err = ::GetLastError();
  if (!h) {
    if (error) *error = err ? err : 1;
    return MutexAcquire::Failed;
  }
  const bool exists = err == ERROR_ALREADY_EXISTS;
  if (exists && waitMs <= 0) return MutexAcquire::HeldElsewhere;
  DWORD r = ::WaitForSingleObject(h.get(), exists ? static_cast<DWORD>(waitMs) : 0);
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return MutexAcquire::HeldElsewhere;
  std::lock_guard lock(g_mutex);
  g_heldMutexes[name] = std::move(h);
  return MutexAcquire::Acquired;
}

void ReleaseNamedMutex(const std::string& name) {
  std::lock_guard lock(g_mutex);
  auto it = g_heldMutexes.find(name);
  if (it == g_heldMutexes.end()) return;
  ::ReleaseMutex(it->second.get());
  g_heldMutexes.erase(it);
}

void ExitProgram(int code) {
  RunEndRoutines();
  ::ExitProcess(static_cast<UINT>(code));
}

void ExitProcessNow(int code) { ::ExitProcess(static_cast<UINT>(code)); }

void FatalError(int code, std::string_view message) {
  ShowMessage(FatalErrorText(code, message), kMbIconError, "错误");
  CloseLog();  // the end routines are skipped: the box's line must still reach the file
  ::ExitProcess(static_cast<UINT>(-1));
}

}  // namespace platform

namespace platform {
std::vector<std::string> CommandLineArgs(int, char**) {
  std::vector<std::string> out;
  int n = 0;
  win32::UniqueArgv w(::CommandLineToArgvW(::GetCommandLineW(), &n));
  if (!w) return out;
  for (int i = 0; i < n; ++i) out.push_back(win32::Narrow(w.get()[i]));
  return out;
}
}  // namespace platform
