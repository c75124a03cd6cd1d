// Process, shell and message-box services.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// DLLs load from the system folder only, so a DLL planted beside the exe (a
// download folder) is never picked up by a bare name. Call first thing in
// every program's entry, before any delay-loaded DLL is touched.
void RestrictDllSearch();

// Records the program's directory and file name and makes the directory
// current. Call first thing in the process.
void InitRuntime();
// Directory of the running executable, without a trailing separator (for a
// program in a drive's root: "F:").
std::string GetRunDirectory();
// Test seam: make GetRunDirectory answer path (empty path: undo).
void OverrideRunDirectory(std::string path);
// File name of the running executable, with extension, without directory.
std::string GetExeFileName();
// Full path of the running executable.
std::string GetExePath();
// The command line as UTF-8 (on Windows read as UTF-16, whatever the locale).
std::vector<std::string> CommandLineArgs(int argc, char** argv);
// Milliseconds since system start; wraps at 2^32.
std::uint32_t TickCount();

// The wall clock in local time, to the millisecond.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime LocalTimeNow();
// The system's name and version for the log ("Windows 10.0.19045").
std::string SystemVersionText();

enum SpecialFolder : int { kFolderDesktop = 3, kFolderTemp = 11 };
// The folder with a trailing separator; empty on failure.
std::string GetSpecialFolder(int kind);
// Test seam: make GetSpecialFolder(kind) answer path (an empty one: the
// folder is unknown); nullopt undoes it.
void OverrideSpecialFolder(int kind, std::optional<std::string> path);

// Message-box flags and results as the launcher uses them.
enum MessageFlags : int { kMbOk = 0, kMbIconError = 16, kMbIconInfo = 64 };
// Modal message box; returns 0 for OK.
int ShowMessage(std::string_view text, int flags, std::string_view caption);

// Window modes: 1 hidden, 2 normal, 3 minimised, 4 maximised, 5 no-activate,
// 6 minimise.
enum ShowMode : int { kShowHidden = 1, kShowNormal = 2, kShowMinimised = 3 };

// Starts program (a full path, quoted on the command line) with arguments.
// With wait, blocks until it ends; otherwise waits at most 1000 ms for it to
// become idle.
// On failure *error (when given) gets the system's code.
bool RunProgram(const std::string& program, const std::string& arguments, bool wait, int mode,
                std::uint32_t* error = nullptr);
// The system's own words for an error code, without a trailing line break.
std::string SystemErrorText(std::uint32_t code);

// Asks the shell to open a file or address. Returns the shell's result
// (greater than 32 on success).
int ShellOpen(const std::string& file, const std::string& directory, int mode);
// Hands a web or mail address to the player's default programs as
// ShellAddress (platform/names.h) makes it, and logs it without query or
// user info. False when the rule refuses it or the shell fails.
bool OpenInBrowser(std::string_view address);

// Drive type of "X:\" as GetDriveType reports it (3 = fixed).
int GetDriveType(char letter);

// End-of-program routines run by ExitProgram.
void RegisterEndRoutine(void (*routine)());
[[noreturn]] void ExitProgram(int code);
// Ends at once, skipping the end routines.
[[noreturn]] void ExitProcessNow(int code);
// "运行时出错!" box, then exit code -1.
[[noreturn]] void FatalError(int code, std::string_view message);

// Named mutexes between processes. Exists: some process holds it.
bool NamedMutexExists(const std::string& name);
enum class MutexAcquire { Acquired, HeldElsewhere, Failed };
// Creates and owns the mutex in one step, so that of several processes
// starting at the same moment exactly one acquires it; waits up to waitMs for
// a holder to let go. On Failed, *error gets the system's code. Owned until
// released or the process ends.
[[nodiscard]] MutexAcquire AcquireNamedMutex(const std::string& name, int waitMs = 0,
                                             std::uint32_t* error = nullptr);
void ReleaseNamedMutex(const std::string& name);

// Seams for tests: when set, message boxes and shell opens go to the hook
// instead of the system (a test cannot press OK or watch a browser open).
struct MessageCall {
  std::string text;
  int flags;
  std::string caption;
};
struct ShellCall {
  std::string file;
  std::string directory;
  int mode;
};
void SetMessageHook(std::function<int(const MessageCall&)> hook);
void SetShellHook(std::function<int(const ShellCall&)> hook);

}  // namespace platform
