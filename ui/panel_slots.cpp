#include "ui/panel_slots.h"

#include "games/version_folder.h"

namespace ui {
namespace {
constexpr SlotControls kSlots[4] = {
    {"版本一按钮", "开始游戏按钮_Ravik", "安装游戏按钮_Ravik"},
    {"版本二按钮", "开始游戏按钮_Solen", "安装游戏按钮_Solen"},
    {"版本三按钮", "开始游戏按钮_Tavor", "安装游戏按钮_Tavor"},
    {"版本四按钮", "开始游戏按钮_Nuvik", "安装游戏按钮_Nuvik"},
};
}  // namespace

const SlotControls& ControlsOfSlot(int slot) { return kSlots[slot - 1]; }

int FindSlotByName(const config::Configuration& cfg, std::string_view name) {
  for (int slot : kLookupOrder)
    if (SlotAt(cfg, slot).displayName == name) return slot;
  return 0;
}

bool CountsAsInstalled(const config::VersionSlot& slot) {
  return slot.installedName == slot.displayName && games::IsSafeFolderName(slot.folderName);
}

}  // namespace ui
