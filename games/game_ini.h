// Each version's Game.ini: the default file, the server name shown in the main
// window, and the game settings window (window mode and resolution).
#pragma once
#include <string>
#include <string_view>

#include "config/versions.h"
#include "ui/ui.h"

namespace games {

// The default file as it lies on disk: GBK, CR LF, no line break after the
// last line.
std::string_view DefaultGameIniBytes();

// Writes the default file to path (created or truncated). The display name is
// accepted for the callers' sake and not used; a failed write is ignored.
void WriteDefaultGameIni(const std::string& path, std::string_view name = {});

// ServerName of the version's Game.ini (written with the defaults first when
// missing), or "未知" when it is empty.
std::string ReadServerNameForDisplay(const config::VersionPaths& paths);

// The settings window's handlers. settingsVersionName is the version the open
// window edits, fixed when it opened.
void ShowGameSettings(ui::Ui& ui, const config::Versions& versions, std::string_view settingsVersionName);
void OnWindowModeChanged(const config::Versions& versions, std::string_view settingsVersionName, int state);
void OnResolutionSelected(ui::Ui& ui, const config::Versions& versions, std::string_view settingsVersionName,
                          int index);

inline constexpr std::string_view kNotSavedText = "设置未能保存：Game.ini 为只读或正被其他程序使用！";
inline constexpr std::string_view kWindowModeBox = "窗口模式选择框";
inline constexpr std::string_view kResolutionBox = "分辨率组合框";

}  // namespace games
