// The four versions' controls and the orders in which the window code visits
// the slots.
#pragma once
#include <array>
#include <string_view>

#include "config/launcher_config.h"

namespace ui {

struct SlotControls {
  std::string_view versionButton;
  std::string_view startButton;
  std::string_view installButton;
};

// Slot 1..4.
const SlotControls& ControlsOfSlot(int slot);

// Looking a version up by display name visits 1, 2, 4, 3; the start-up scan
// and the folder lookup visit 1, 2, 3, 4. Both orders are part of the
// launcher's observable behaviour when two slots share a display name.
inline constexpr std::array<int, 4> kLookupOrder = {1, 2, 4, 3};
inline constexpr std::array<int, 4> kScanOrder = {1, 2, 3, 4};

// The first slot in lookup order whose display name equals name byte for
// byte; 0 when none does.
int FindSlotByName(const config::Configuration& cfg, std::string_view name);

// Installed: installedName equals displayName and the folder name is set.
bool CountsAsInstalled(const config::VersionSlot& slot);

inline const config::VersionSlot& SlotAt(const config::Configuration& cfg, int slot) {
  return cfg.slots[static_cast<std::size_t>(slot - 1)];
}
inline config::VersionSlot& SlotAt(config::Configuration& cfg, int slot) {
  return cfg.slots[static_cast<std::size_t>(slot - 1)];
}

inline constexpr std::string_view kServerLabel = "最近登录标签";
inline constexpr std::string_view kSweepTimer = "时钟1";
inline constexpr std::string_view kBackground = "图片框Ex3";
inline constexpr std::string_view kLogo = "LOGO图片框";
inline constexpr std::string_view kAnnouncement = "浏览框Ex1";
inline constexpr std::string_view kProgressBar = "进度条Ex1";
inline constexpr std::string_view kProgressLine = "透明标签_进度";

}  // namespace ui
