#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/posix/path_posix.h"
#include "platform/system.h"
#include "platform/system_hooks.h"

extern char** environ;

namespace platform {
namespace {
std::mutex g_mutex;
std::string g_runDir;
std::string g_exeName;
std::map<int, std::string> g_folderOverrides;
std::string g_runDirOverride;
std::map<std::string, int> g_heldMutexes;

void EnsureExePath() {
  if (!g_exeName.empty()) return;
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("./a.out");
  size_t slash = path.rfind('/');
  g_runDir = slash == 0 ? "/" : path.substr(0, slash);
  g_exeName = path.substr(slash + 1);
}

std::string LockFileFor(const std::string& name) {
  std::size_t h = std::hash<std::string>{}(name);
  return "/tmp/tarnwick-mutex-" + std::to_string(h) + ".lock";
}
}  // namespace

void InitRuntime() {
  std::lock_guard lock(g_mutex);
  EnsureExePath();
  if (::chdir(g_runDir.c_str()) != 0) {
    // stays where it is; relative names then resolve elsewhere
  }
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
  return g_runDir + "/" + g_exeName;
}

std::uint32_t TickCount() { return SystemClock().TickCount(); }

LocalTime LocalTimeNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t{};
  ::localtime_r(&ts.tv_sec, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(ts.tv_nsec / 1000000)};
}

std::string SystemVersionText() {
  struct utsname u{};
  if (::uname(&u) != 0) return "unknown system";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
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
  const char* home = std::getenv("HOME");
  switch (kind) {
    case kFolderDesktop:
      return std::string(home ? home : "/tmp") + "/Desktop/";
    case kFolderTemp: {
      const char* tmp = std::getenv("TMPDIR");
      return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
    }
    default:
      return {};
  }
}

int ShowMessage(std::string_view text, int flags, std::string_view caption) {
  LogMessageBox(text, caption);
  if (auto r = CallMessageHook({std::string(text), flags, std::string(caption)})) return *r;
  std::fprintf(stderr, "[%.*s] %.*s\n", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
  return 0;
}

bool RunProgram(const std::string& program, const std::string& arguments, bool wait, int mode,
                std::uint32_t* error) {
  std::string path = NativePath(program);
  std::vector<char*> argv;
  argv.push_back(path.data());
  std::string args = arguments;
  if (!args.empty()) argv.push_back(args.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (int e = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ); e != 0) {
    if (error) *error = static_cast<std::uint32_t>(e);
    return false;
  }
  if (wait) {
    int status;
    ::waitpid(pid, &status, 0);
  }
  return true;
}

std::string SystemErrorText(std::uint32_t code) {
  return std::string(std::strerror(static_cast<int>(code))) + " (" + std::to_string(code) + ")";
}

int ShellOpen(const std::string& file, const std::string& directory, int mode) {
  if (auto r = CallShellHook({file, directory, mode})) return *r;
  return 31;  // no association: nothing on this platform opens documents for us
}

int GetDriveType(char letter) { return (letter == 'C' || letter == 'c') ? 3 : 1; }

bool NamedMutexExists(const std::string& name) {
  int fd = ::open(LockFileFor(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

MutexAcquire AcquireNamedMutex(const std::string& name, int waitMs, std::uint32_t* error) {
  std::lock_guard lock(g_mutex);
  if (g_heldMutexes.count(name)) return MutexAcquire::HeldElsewhere;  // by this process already
  int fd = ::open(LockFileFor(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = static_cast<std::uint32_t>(errno);
    return MutexAcquire::Failed;
  }
  // flock is one atomic step; a wait polls it.
  for (int waited = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waited += 10) {
    if (waited >= waitMs) {
      ::close(fd);
      return MutexAcquire::HeldElsewhere;
    }
    ::usleep(10 * 1000);
  }
  g_heldMutexes[name] = fd;
  return MutexAcquire::Acquired;
}

void ReleaseNamedMutex(const std::string& name) {
  std::lock_guard lock(g_mutex);
  auto it = g_heldMutexes.find(name);
  if (it == g_heldMutexes.end()) return;
  ::close(it->second);  // drops the lock
  g_heldMutexes.erase(it);
}

void ExitProgram(int code) {
  RunEndRoutines();
  std::fflush(nullptr);
  std::_Exit(code);
}

void ExitProcessNow(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

void FatalError(int code, std::string_view message) {
  ShowMessage(FatalErrorText(code, message), kMbIconError, "错误");
  CloseLog();  // the end routines are skipped: the box's line must still reach the file
  std::fflush(nullptr);
  std::_Exit(-1);
}

}  // namespace platform

namespace platform {
std::vector<std::string> CommandLineArgs(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }
}  // namespace platform
