// Names of the main window's controls that the launcher's code drives, as the
// design table spells them.
#pragma once
#include <array>
#include <string_view>

namespace ui {

// The three buttons of one version slot.
struct SlotControls {
  std::string_view versionButton;
  std::string_view startButton;
  std::string_view installButton;
};

inline constexpr std::array<SlotControls, 4> kSlotControls = {{
    {"版本一按钮", "开始游戏按钮_Ravik", "安装游戏按钮_Ravik"},
    {"版本二按钮", "开始游戏按钮_Solen", "安装游戏按钮_Solen"},
    {"版本三按钮", "开始游戏按钮_Tavor", "安装游戏按钮_Tavor"},
    {"版本四按钮", "开始游戏按钮_Nuvik", "安装游戏按钮_Nuvik"},
}};

// Slot 1..4.
inline const SlotControls& ControlsOfSlot(int slot) { return kSlotControls[static_cast<std::size_t>(slot - 1)]; }

inline constexpr std::string_view kServerLabel = "最近登录标签";
inline constexpr std::string_view kSweepTimer = "时钟1";
inline constexpr std::string_view kBackground = "图片框Ex3";
inline constexpr std::string_view kLogo = "LOGO图片框";
inline constexpr std::string_view kAnnouncement = "浏览框Ex1";
inline constexpr std::string_view kProgressBar = "进度条Ex1";
inline constexpr std::string_view kProgressLine = "透明标签_进度";

}  // namespace ui
