// Self-installation: the program runs from one fixed folder on the first
// fixed drive among D: and E: (else C:), and the desktop has a shortcut to it.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "platform/system.h"

namespace app {

// The platform calls the install steps make, behind one seam so that tests
// can vary drive types, the program's own location and the desktop.
class SelfInstallSystem {
 public:
  virtual ~SelfInstallSystem() = default;
  // GetDriveType of "X:\" (3 = fixed).
  virtual int DriveType(char letter) = 0;
  // The program's directory (no trailing "\" except perhaps for a root) and
  // its file name.
  virtual std::string RunDirectory() = 0;
  virtual std::string ExeFileName() = 0;
  // The desktop folder with a trailing "\"; empty when unknown.
  virtual std::string DesktopFolder() = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // The install root: writable by this user, SYSTEM and the administrators
  // only (platform::CreateProtectedFolder).
  virtual platform::ProtectedFolder CreateProtectedFolder(const std::string& path) = 0;
  virtual bool CopyFileTo(const std::string& source, const std::string& target) = 0;
  virtual bool DeleteFileAt(const std::string& path) = 0;
  virtual bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) = 0;
  virtual bool CreateShortcut(const std::string& linkPath, const std::string& target,
                              const std::string& workingDirectory) = 0;
  // Byte for byte the same, both readable.
  virtual bool SameFileContents(const std::string& a, const std::string& b) = 0;
  // Starts the program by its full path, without arguments, not waiting. On
  // failure *error gets the system's code.
  virtual bool RunProgram(const std::string& path, std::uint32_t* error) = 0;
  // Named mutexes between processes (platform::AcquireNamedMutex).
  virtual platform::MutexAcquire AcquireMutex(const std::string& name, int waitMs) = 0;
  virtual bool MutexExists(const std::string& name) = 0;
  virtual void ShowMessage(std::string_view text, int flags, std::string_view caption) = 0;
  // Waits while processing window events, then processes them once more.
  virtual void Pause(std::uint32_t ms) = 0;
};

// The real platform; pause is the window thread's event-processing wait.
std::unique_ptr<SelfInstallSystem> MakePlatformSelfInstallSystem(std::function<void(std::uint32_t)> pause);

inline constexpr std::string_view kInstallFolderName = "Tarnwick游戏";
// Held by a start that copies the program into the install root, until the
// copy it started holds the single-instance mutex.
inline constexpr std::string_view kSelfInstallMutexName = "Tarnwick游戏盒子启动器_自安装_2026";
// How long a second first start waits for the first one's copy and hand-over.
inline constexpr int kSelfInstallWaitMs = 15000;
// How long the first start waits for its installed copy to take over.
inline constexpr int kHandOverWaitMs = 10000;
inline constexpr std::string_view kShortcutName = "Tarnwick游戏";

// "D:\Tarnwick游戏" when D: is a fixed drive, else the same on E:, else on C:
// (C: is not tested).
std::string ChooseInstallRoot(SelfInstallSystem& sys);
// Byte equality after folding ASCII letters only: "d:\x" and "D:\X" are the
// same folder; a name that differs in the case of other letters is not.
bool RunsInPlace(std::string_view currentDir, std::string_view installRoot);
// Text before the last "\"; the whole path when it has none.
std::string FolderOfPath(std::string_view path);

// Creates desktop\name.lnk pointing at target, working in the target's
// folder. True when the link file exists afterwards.
bool CreateDesktopShortcut(SelfInstallSystem& sys, const std::string& target, std::string_view name);

enum class SelfInstallOutcome {
  InPlace,   // runs from the install folder: go on to the main window
  HandOver,  // the installed copy has been started: end this process with 0
  Refused,   // the copy failed and the user was told: end without a window
  Deferred,  // another start installed the program a moment ago: end quietly
};
SelfInstallOutcome RunSelfInstallSteps(SelfInstallSystem& sys);

enum class PrepareOutcome { LoadWindow, Stop, HandOver };
// Writes the default configuration beside the program when it is missing,
// then installs.
PrepareOutcome PrepareAndInstall(SelfInstallSystem& sys);

// Writes the embedded default configuration to dir\配置文件.dat unless a file
// of that name exists (an operator's own file is never touched). False, after
// telling the user, when it cannot be written.
bool EnsureConfigFile(SelfInstallSystem& sys, const std::string& dir);

}  // namespace app
