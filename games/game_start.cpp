#include "games/game_start.h"

#include "games/version_folder.h"

#include "platform/fs.h"
#include "platform/runtime.h"
#include "platform/system.h"
#include "ui/panel_slots.h"

namespace games {

std::string ExeNameFromUrl(std::string_view url) {
  int pos = rt::FindTextBackward(url, "/");
  return rt::RightText(url, static_cast<long long>(url.size()) - pos);
}

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
    if (rt::FindText(name, "Orvane") > 0) platform::DeleteFileAt(desk + "\\" + name);
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

StartResult StartVersion(ui::Ui& ui, config::Configuration& cfg, ShortcutSweep& sweep, std::string_view folder,
                         std::string_view fileName, std::string_view name) {
  std::string dir = platform::GetRunDirectory() + "\\" + std::string(folder);
  std::string path = dir + "\\" + std::string(fileName);
  // An empty program name would make the path the folder itself, which the
  // shell would open in a file browser.
  if (IsSafeFolderName(folder) && !fileName.empty() && platform::FileExists(path)) {
    // The normal show command: a game started hidden can stay invisible.
    platform::ShellOpen(path, dir, platform::kShowNormal);
    sweep.Arm();
    ui.SetWindowState(ui::WindowId::Main, ui::kWindowMinimised);
    return StartResult::Started;
  }
  if (int slot = ui::FindSlotByName(cfg, name)) {
    ui::SlotAt(cfg, slot).installedName.clear();
    ui.SetVisible(ui::WindowId::Main, ui::ControlsOfSlot(slot).startButton, false);
    ui.SetVisible(ui::WindowId::Main, ui::ControlsOfSlot(slot).installButton, true);
  }
  platform::ShowMessage(kProgramMissingText, platform::kMbOk, "错误");
  return StartResult::ProgramMissing;
}

}  // namespace games
