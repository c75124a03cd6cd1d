#include "games/game_start.h"

#include "platform/fs.h"
#include "platform/log.h"
#include "platform/runtime.h"
#include "platform/sha256.h"
#include "platform/system.h"
#include "ui/main_controls.h"

namespace games {

bool HasExecutable(const std::string& dir) {
  constexpr std::uint32_t kMask = platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem |
                                  platform::kAttrDirectory | platform::kAttrArchive;
  platform::DirectoryListing listing(dir + "\\*.exe", kMask);
  for (std::string name = listing.Next(); !name.empty(); name = listing.Next())
    if (name != "." && name != "..") return true;
  return false;
}

void SweepGameShortcuts() {
  std::string desk = platform::GetSpecialFolder(platform::kFolderDesktop);
  if (desk.empty()) return;  // no desktop: nothing to sweep (never the current folder)
  for (std::string_view name : {"\\Orvane[Zorlen].lnk", "\\Orvane.lnk"}) {
    std::string path = desk + std::string(name);
    if (platform::FileExists(path)) platform::DeleteFileAt(path);
  }
  platform::DirectoryListing listing(desk + "\\*.lnk", platform::kAttrReadOnly);
  for (std::string name = listing.Next(); !name.empty(); name = listing.Next()) {
    if (name == "." || name == "..") continue;
    if (platform::FindText(name, "Orvane") > 0) platform::DeleteFileAt(desk + "\\" + name);
  }
}

void ShortcutSweep::Arm() {
  active_ = true;
  ticks_ = 0;
  ui_.SetInterval(ui::WindowId::Main, ui::kSweepTimer, kIntervalMs);
}

void ShortcutSweep::Stop() {
  active_ = false;
  ticks_ = 0;
  ui_.SetInterval(ui::WindowId::Main, ui::kSweepTimer, 0);
}

void ShortcutSweep::OnTimer() {
  if (!active_) return;
  ++ticks_;
  SweepGameShortcuts();
  if (ticks_ > kLastTick) Stop();
}

namespace {
// Why the program file must not be started although it is there; empty when
// it may. Another account, or anything on the network path of an old
// download, may have put another program in its place: with a configured hash
// the file is hashed again right before it runs.
std::string ProgramNotToStart(const config::Versions& versions, int slot, const std::string& exePath) {
  std::string damaged = versions.FirstDamagedFile(slot);
  if (!damaged.empty()) return damaged + " is missing or not of its configured size";
  const std::optional<platform::Sha256Digest>& want = versions.Slot(slot).programIntegrity.sha256;
  if (!want) return {};
  platform::Sha256Digest got{};
  platform::HashFileResult r = platform::HashFile(exePath, got);
  if (r != platform::HashFileResult::Ok) return exePath + " cannot be hashed";
  if (got != *want) return exePath + " has SHA-256 " + platform::DigestToHex(got) + ", not the configured one";
  return {};
}
}  // namespace

GameStartResult StartVersion(ui::Ui& ui, config::Versions& versions, ShortcutSweep& sweep, int slot) {
  const config::VersionPaths& paths = versions.Paths(slot);
  // exePath is empty for an address without a file name: the path would be
  // the folder itself, which the shell would open in a file browser.
  bool present = !paths.exePath.empty() && platform::FileExists(paths.exePath);
  std::string damaged = present ? ProgramNotToStart(versions, slot, paths.exePath) : std::string();
  if (present && damaged.empty()) {
    // The normal show command: a game started hidden can stay invisible.
    int shell = platform::ShellOpen(paths.exePath, paths.folder, platform::kShowNormal);
    // Above 32 the shell started it; below, its code says why not.
    platform::Log("Game start, version " + std::to_string(slot) + ": " + paths.exePath + " (shell result " +
                  std::to_string(shell) + (shell > 32 ? ", started)" : ", failed)"));
    sweep.Arm();
    ui.SetWindowState(ui::WindowId::Main, ui::kWindowMinimised);
    return GameStartResult::Started;
  }
  if (int found = versions.FindByName(versions.Slot(slot).displayName)) {
    versions.MarkNotInstalled(found);
    ui.SetVisible(ui::WindowId::Main, ui::ControlsOfSlot(found).startButton, false);
    ui.SetVisible(ui::WindowId::Main, ui::ControlsOfSlot(found).installButton, true);
  }
  if (present) {
    platform::Log("Game start, version " + std::to_string(slot) + ": " + damaged);
    platform::ShowMessage(kFilesDamagedText, platform::kMbOk, "错误");
    return GameStartResult::FilesDamaged;
  }
  platform::Log("Game start, version " + std::to_string(slot) + ": program missing" +
                (paths.exePath.empty() ? std::string(" (no file name in the address)") : " at " + paths.exePath));
  platform::ShowMessage(kProgramMissingText, platform::kMbOk, "错误");
  return GameStartResult::ProgramMissing;
}

}  // namespace games
