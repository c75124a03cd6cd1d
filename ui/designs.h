// The three window designs as data: names, kinds, places, texts and fonts.
#pragma once
#include <span>
#include <string_view>

#include "ui/model.h"

namespace ui {

const WindowSpec& DesignOf(WindowId id);
const ControlSpec* FindSpec(WindowId id, std::string_view name);

// Items of the settings window's resolution box, index 0 first.
std::span<const std::string_view> ResolutionList();

inline constexpr std::string_view kProductName = "Tarnwick游戏盒子启动器";

}  // namespace ui
