#include "app/self_install.h"

#include "app/single_instance.h"

#include "config/default_config.h"
#include "config/launcher_config.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "platform/runtime.h"
#include "platform/shortcut.h"
#include "platform/system.h"

namespace app {

namespace {

constexpr int kDriveFixed = 3;
constexpr std::string_view kCaptionError = "错误";

// Companion files that travel with the program when it installs itself; each
// is copied only when it lies beside the started program.
constexpr std::string_view kCompanionFiles[] = {config::kConfigFileName, "ExuiKrnln.dll"};

class PlatformInstallSystem final : public SelfInstallSystem {
 public:
  explicit PlatformInstallSystem(std::function<void(std::uint32_t)> pause) : pause_(std::move(pause)) {}

  int DriveType(char letter) override { return platform::GetDriveType(letter); }
  std::string RunDirectory() override { return platform::GetRunDirectory(); }
  std::string ExeFileName() override { return platform::GetExeFileName(); }
  std::string DesktopFolder() override { return platform::GetSpecialFolder(platform::kFolderDesktop); }
  bool FolderExists(const std::string& path) override { return platform::FolderExists(path); }
  bool FileExists(const std::string& path) override { return platform::FileExists(path); }
  platform::ProtectedFolder CreateProtectedFolder(const std::string& path) override {
    return platform::CreateProtectedFolder(path);
  }
  bool CopyFileTo(const std::string& source, const std::string& target) override {
    return platform::CopyFileTo(source, target);
  }
  bool DeleteFileAt(const std::string& path) override { return platform::DeleteFileAt(path); }
  bool WriteFileBytes(const std::string& path, std::span<const std::uint8_t> data) override {
    return platform::WriteFileBytes(path, data);
  }
  bool CreateShortcut(const std::string& linkPath, const std::string& target,
                      const std::string& workingDirectory) override {
    return platform::CreateShortcut(linkPath, target, workingDirectory);
  }
  bool SameFileContents(const std::string& a, const std::string& b) override {
    std::optional<platform::Bytes> x = platform::ReadWholeFile(a), y = platform::ReadWholeFile(b);
    return x && y && *x == *y;
  }
  bool RunProgram(const std::string& path, std::uint32_t* error) override {
    return platform::RunProgram(path, "", false, platform::kShowNormal, error);
  }
  platform::MutexAcquire AcquireMutex(const std::string& name, int waitMs) override {
    return platform::AcquireNamedMutex(name, waitMs);
  }
  bool MutexExists(const std::string& name) override { return platform::NamedMutexExists(name); }
  void ShowMessage(std::string_view text, int flags, std::string_view caption) override {
    platform::ShowMessage(text, flags, caption);
  }
  void Pause(std::uint32_t ms) override {
    if (pause_) pause_(ms);
  }

 private:
  std::function<void(std::uint32_t)> pause_;
};

// The root holds the programs the shortcut starts: another account that
// could change them would run its code as the player (an administrator, say).
void CreateInstallRoot(SelfInstallSystem& sys, const std::string& root) {
  switch (sys.CreateProtectedFolder(root)) {
    case platform::ProtectedFolder::Protected:
      platform::Log("Created the install folder " + root + ": only this user, SYSTEM and administrators may change it");
      break;
    case platform::ProtectedFolder::NoAccessLists:
      platform::Log("Created the install folder " + root +
                    " on a volume without access lists (FAT or exFAT): any local account may change its files");
      break;
    case platform::ProtectedFolder::Failed:
      platform::Log("Cannot create the install folder " + root);
      break;
  }
}

}  // namespace

std::unique_ptr<SelfInstallSystem> MakePlatformSelfInstallSystem(std::function<void(std::uint32_t)> pause) {
  return std::make_unique<PlatformInstallSystem>(std::move(pause));
}

std::string ChooseInstallRoot(SelfInstallSystem& sys) {
  std::string root;
  if (sys.DriveType('D') == kDriveFixed) root = "D:";
  else if (sys.DriveType('E') == kDriveFixed) root = "E:";
  else root = "C:";
  root += "\\";
  root += kInstallFolderName;
  return root;
}

bool RunsInPlace(std::string_view currentDir, std::string_view installRoot) {
  return platform::LowerText(currentDir) == platform::LowerText(installRoot);
}

std::string FolderOfPath(std::string_view path) {
  int pos = platform::FindTextBackward(path, "\\", -1, true);
  if (pos > 0) return platform::LeftText(path, pos - 1);
  return std::string(path);
}

bool CreateDesktopShortcut(SelfInstallSystem& sys, const std::string& target, std::string_view name) {
  std::string desktop = sys.DesktopFolder();
  // Without a desktop the link would land in the current directory.
  if (desktop.empty()) return false;
  std::string linkPath = desktop;
  linkPath.append(name).append(".lnk");
  sys.CreateShortcut(linkPath, target, FolderOfPath(target));
  return sys.FileExists(linkPath);
}

SelfInstallOutcome RunSelfInstallSteps(SelfInstallSystem& sys) {
  const std::string root = ChooseInstallRoot(sys);
  std::string currentDir = sys.RunDirectory();
  if (!currentDir.empty() && currentDir.back() == '\\') currentDir.pop_back();

  // Made on every start, also when this start then runs elsewhere.
  if (!sys.FolderExists(root)) CreateInstallRoot(sys, root);

  const std::string exeName = sys.ExeFileName();
  const std::string selfPath = currentDir + "\\" + exeName;
  const std::string installedPath = root + "\\" + exeName;

  if (!RunsInPlace(currentDir, root)) {
    // Two first starts at once (a double double-click) must not copy over
    // each other or over the running copy: the second waits for the first,
    // then finds the launcher running and ends quietly.
    const std::string launcherMutex(kInstanceMutexName);
    switch (sys.AcquireMutex(std::string(kSelfInstallMutexName), 0)) {
      case platform::MutexAcquire::HeldElsewhere:
        (void)sys.AcquireMutex(std::string(kSelfInstallMutexName), kSelfInstallWaitMs);
        if (sys.MutexExists(launcherMutex)) {
          platform::Log("Self-install deferred: another start installed the launcher");
          return SelfInstallOutcome::Deferred;
        }
        break;
      case platform::MutexAcquire::Acquired:
      case platform::MutexAcquire::Failed:
        if (sys.MutexExists(launcherMutex)) {
          // The installed launcher is open: its exe cannot be replaced.
          sys.ShowMessage("程序已经在运行中！", platform::kMbIconInfo, "提示");
          platform::Log("Self-install deferred: the installed launcher is running");
          return SelfInstallOutcome::Deferred;
        }
        break;
    }
    if (!sys.FolderExists(root)) CreateInstallRoot(sys, root);
    // A copy cut short (a full disk) must not be started, nor stay where the
    // shortcut would start it later.
    if (!sys.CopyFileTo(selfPath, installedPath) || !sys.SameFileContents(selfPath, installedPath)) {
      if (sys.FileExists(installedPath) && !sys.SameFileContents(selfPath, installedPath))
        sys.DeleteFileAt(installedPath);
      sys.ShowMessage("无法将程序复制到目标文件夹，请检查权限！", platform::kMbIconError, kCaptionError);
      platform::Log("Self-install refused: cannot copy " + selfPath + " to " + installedPath);
      return SelfInstallOutcome::Refused;
    }
    for (std::string_view name : kCompanionFiles) {
      std::string source = currentDir + "\\" + std::string(name);
      if (sys.FileExists(source)) sys.CopyFileTo(source, root + "\\" + std::string(name));
    }
    platform::Log("Self-install copied " + selfPath + " to " + installedPath);
    sys.Pause(1000);
    // By its full path, quoted: a bare path with a space in it ("... (1).exe")
    // would let the system run a different program.
    std::uint32_t error = 0;
    if (!sys.RunProgram(installedPath, &error)) {
      // Blocked by an antivirus program, say: the player must learn why.
      sys.ShowMessage("无法启动 " + installedPath + "：" + platform::SystemErrorText(error), platform::kMbIconError,
                      kCaptionError);
      platform::Log("Self-install refused: cannot start " + installedPath + ": " + platform::SystemErrorText(error));
      return SelfInstallOutcome::Refused;
    }
    // Hold the install lock until the copy has taken over, so that a second
    // first start finds it running.
    int waited = 0;
    for (; waited < kHandOverWaitMs && !sys.MutexExists(launcherMutex); waited += 100) sys.Pause(100);
    platform::Log(waited < kHandOverWaitMs ? "Self-install handed over to the installed copy"
                                           : "Self-install handed over; the installed copy did not take over in time");
    return SelfInstallOutcome::HandOver;
  }

  sys.Pause(500);
  std::string desktop = sys.DesktopFolder();
  std::string linkPath = desktop;
  linkPath.append(kShortcutName).append(".lnk");
  // An existing shortcut of this name stays, wherever it points.
  if (!desktop.empty() && !sys.FileExists(linkPath)) CreateDesktopShortcut(sys, installedPath, kShortcutName);
  sys.Pause(500);
  platform::Log("Runs from the install folder " + root);
  return SelfInstallOutcome::InPlace;
}

bool EnsureConfigFile(SelfInstallSystem& sys, const std::string& dir) {
  std::string path = dir + "\\" + std::string(config::kConfigFileName);
  if (sys.FileExists(path)) return true;
  if (!sys.WriteFileBytes(path, config::DefaultConfigBytes())) {
    sys.ShowMessage("无法释放 配置文件.dat 文件！程序将退出。", platform::kMbIconError, kCaptionError);
    platform::Log("Cannot write the default configuration " + path);
    return false;
  }
  platform::Log("Wrote the default configuration " + path);
  sys.Pause(500);
  return true;
}

PrepareOutcome PrepareAndInstall(SelfInstallSystem& sys) {
  std::string dir = sys.RunDirectory();
  if (!dir.empty() && dir.back() == '\\') dir.pop_back();
  if (!EnsureConfigFile(sys, dir)) return PrepareOutcome::Stop;
  switch (RunSelfInstallSteps(sys)) {
    case SelfInstallOutcome::HandOver: return PrepareOutcome::HandOver;
    case SelfInstallOutcome::Refused:
    case SelfInstallOutcome::Deferred: return PrepareOutcome::Stop;
    case SelfInstallOutcome::InPlace: break;
  }
  return PrepareOutcome::LoadWindow;
}

}  // namespace app
