// Starting an installed version, and the minute after it during which the
// game's own desktop shortcuts are removed.
#pragma once
#include <string>
#include <string_view>

#include "config/versions.h"
#include "ui/ui.h"

namespace games {

// True when dir holds any entry named *.exe (a subfolder counts too).
bool HasExecutable(const std::string& dir);

// Deletes "Orvane[Zorlen].lnk" and "Orvane.lnk" from the desktop. The pattern
// pass lists read-only shortcuts only, which cannot be deleted, so it removes
// nothing the player made.
void SweepGameShortcuts();

// The sweep carried by the main window's timer 时钟1: 121 ticks of 500 ms.
class ShortcutSweep {
 public:
  static constexpr int kIntervalMs = 500;
  static constexpr int kLastTick = 120;  // stops on the tick that exceeds it

  explicit ShortcutSweep(ui::Ui& ui) : ui_(ui) {}
  void Arm();
  void Stop();
  void OnTimer();
  bool active() const { return active_; }
  int ticks() const { return ticks_; }

 private:
  ui::Ui& ui_;
  bool active_ = false;
  int ticks_ = 0;
};

enum class GameStartResult { Started, ProgramMissing, FilesDamaged };

// Opens the slot's program file with its folder as working directory,
// minimises the main window and arms the sweep. When the program file is
// missing, a file's size differs from the configured one, or the program's
// SHA-256 from the configured one, the version of the slot's name falls back
// to not installed and the player is told.
GameStartResult StartVersion(ui::Ui& ui, config::Versions& versions, ShortcutSweep& sweep, int slot);

inline constexpr std::string_view kProgramMissingText = "游戏文件丢失，请重新安装！";
inline constexpr std::string_view kFilesDamagedText = "游戏文件不完整，请重新安装";

}  // namespace games
