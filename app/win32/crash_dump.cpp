#include "app/win32/crash_dump.h"

#include <windows.h>
#include <dbghelp.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/system.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide.h"

namespace app::win32 {

namespace {

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

constexpr wchar_t kDumpPattern[] = L"TarnwickLauncher-*.dmp";

// The program's folder, with a trailing separator (where the log lies).
std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Creates a new, not yet existing dump file named after the local time; a
// second crash within the same second gets a counter.
HANDLE CreateDumpFile(const std::wstring& folder, std::wstring& name) {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  wchar_t stamp[32];
  std::swprintf(stamp, 32, L"%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  for (int n = 1; n <= 9; ++n) {
    name = L"TarnwickLauncher-" + std::wstring(stamp) + (n == 1 ? L"" : L"-" + std::to_wstring(n)) + L".dmp";
    HANDLE file = ::CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

// Deletes the oldest dumps beside the one just written, so that kDumpsKept
// remain: a player's folder does not fill up with them.
void DeleteOldDumps(const std::wstring& folder, const std::wstring& keep) {
  struct Dump {
    ULONGLONG written;
    std::wstring name;
  };
  std::vector<Dump> others;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((folder + kDumpPattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (keep == found.cFileName) continue;
    ULONGLONG written = (ULONGLONG(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
    others.push_back({written, found.cFileName});
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  // Oldest first; names carry the time, so they break ties.
  std::sort(others.begin(), others.end(),
            [](const Dump& a, const Dump& b) { return a.written != b.written ? a.written < b.written : a.name < b.name; });
  const std::size_t allowed = kDumpsKept - 1;
  for (std::size_t i = 0; i + allowed < others.size(); ++i) ::DeleteFileW((folder + others[i].name).c_str());
}

// The dump's file name, or empty with *error set.
std::wstring WriteDump(EXCEPTION_POINTERS* info, DWORD* error) {
  HMODULE dbghelp = platform::win32::LoadSystemLibrary(L"dbghelp.dll");
  auto proc = dbghelp ? ::GetProcAddress(dbghelp, "MiniDumpWriteDump") : nullptr;
  if (!proc) {
    *error = ::GetLastError();
    return {};
  }
  auto write = reinterpret_cast<MiniDumpWriteDumpFn>(reinterpret_cast<void*>(proc));
  std::wstring folder = ProgramFolder(), name;
  HANDLE file = CreateDumpFile(folder, name);
  if (file == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    return {};
  }
  MINIDUMP_EXCEPTION_INFORMATION exception{::GetCurrentThreadId(), info, FALSE};
  // Stacks, threads and modules only: no heap, so no player data.
  BOOL ok = write(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &exception, nullptr, nullptr);
  *error = ok ? 0 : ::GetLastError();
  ::CloseHandle(file);
  if (!ok) {
    ::DeleteFileW((folder + name).c_str());
    return {};
  }
  DeleteOldDumps(folder, name);
  return name;
}

DWORD g_handlingThread = 0;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  // One report per process: a fault inside this handler ends the process
  // at once, a fault on another thread waits for the report to finish.
  DWORD self = ::GetCurrentThreadId();
  DWORD owner = static_cast<DWORD>(::InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&g_handlingThread),
                                                               static_cast<LONG>(self), 0));
  if (owner == self) ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(-1));
  if (owner != 0) {
    ::Sleep(INFINITE);
  }
  const EXCEPTION_RECORD* record = info ? info->ExceptionRecord : nullptr;
  char what[64];
  std::snprintf(what, sizeof what, "exception 0x%08lX at %p", record ? record->ExceptionCode : 0UL,
                record ? record->ExceptionAddress : nullptr);
  DWORD error = 0;
  std::string name = platform::win32::Narrow(WriteDump(info, &error));
  if (name.empty()) {
    platform::Log(std::string("Unhandled ") + what + "; no dump written (error " + std::to_string(error) + ")");
  } else {
    platform::Log(std::string("Unhandled ") + what + "; dump written: " + name);
  }
  // On disk before the box: the player may kill the process instead of pressing OK.
  platform::CloseLog();
  platform::FatalError(0, name.empty() ? std::string(what) : std::string(what) + "，错误报告：" + name);
}

}  // namespace

void InstallCrashDump() { ::SetUnhandledExceptionFilter(&OnUnhandledException); }

}  // namespace app::win32
