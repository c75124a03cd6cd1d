#include "games/game_ini.h"

#include "platform/fs.h"
#include "platform/ini_file.h"
#include "platform/runtime.h"
#include "platform/system.h"

namespace games {
namespace {

// The game reads GBK: 【 A1BE, ◆ A1F4, 】 A1BF.
constexpr std::string_view kDefaultGameIni =
    "[Config]\r\n"
    "ServerName=Kestrand\r\n"
    "ServerID=1000\r\n"
    "ServerIP=127.0.0.1\r\n"
    "ServerPort=39169\r\n"
    "ScreenWidth=1024\r\n"
    "ScreenHeight=768\r\n"
    "WindowMode=1\r\n"
    "Selection=\xA1\xBEOrvane\xA1\xF4Wendal\xA1\xF4Qelmar\xA1\xBF|Kestrand\r\n"
    "ClassicMode=1";

constexpr std::string_view kSection = "Config";
constexpr std::string_view kTimes = "×";  // U+00D7 between width and height

std::string SettingsIniPath(const config::Versions& versions, std::string_view name) {
  // An operator's folder name that the name check refuses is treated like a
  // missing one.
  const config::VersionPaths* paths = versions.PathsForName(name);
  return paths ? paths->iniPath : std::string();
}

// A read-only Game.ini, or one another program holds open, stays as it was;
// the player must learn that the choice did not stick.
void TellNotSaved() { platform::ShowMessage(kNotSavedText, platform::kMbIconError, "错误"); }

}  // namespace

std::string_view DefaultGameIniBytes() { return kDefaultGameIni; }

void WriteDefaultGameIni(const std::string& path, std::string_view) {
  (void)platform::WriteFileBytes(path, kDefaultGameIni);
}

std::string ReadServerNameForDisplay(const config::VersionPaths& paths) {
  const std::string& path = paths.iniPath;
  if (path.empty()) return "未知";
  if (!platform::FileExists(path)) WriteDefaultGameIni(path);
  std::string name = platform::ReadIniItem(path, kSection, "ServerName", "");
  return name.empty() ? std::string("未知") : name;
}

void ShowGameSettings(ui::Ui& ui, const config::Versions& versions, std::string_view settingsVersionName) {
  std::string path = SettingsIniPath(versions, settingsVersionName);
  if (path.empty()) return;
  // An existing file is shown as it is; a missing one gets the defaults first.
  if (!platform::FileExists(path)) WriteDefaultGameIni(path, settingsVersionName);

  std::string mode = platform::ReadIniItem(path, kSection, "WindowMode", "1");
  ui.SetChecked(ui::WindowId::Settings, kWindowModeBox, mode == "1");

  std::string wanted = platform::ReadIniItem(path, kSection, "ScreenWidth", "1024");
  wanted += kTimes;
  wanted += platform::ReadIniItem(path, kSection, "ScreenHeight", "768");
  int count = ui.ItemCount(ui::WindowId::Settings, kResolutionBox);
  for (int i = 0; i < count; ++i) {
    if (ui.ItemTitle(ui::WindowId::Settings, kResolutionBox, i) == wanted) {
      ui.SetSelectedItem(ui::WindowId::Settings, kResolutionBox, i);
      return;
    }
  }
}

void OnWindowModeChanged(const config::Versions& versions, std::string_view settingsVersionName, int state) {
  std::string path = SettingsIniPath(versions, settingsVersionName);
  if (path.empty()) return;
  if (!platform::WriteIniItem(path, kSection, "WindowMode", state == 1 ? "1" : "0")) TellNotSaved();
}

void OnResolutionSelected(ui::Ui& ui, const config::Versions& versions, std::string_view settingsVersionName,
                          int index) {
  std::string text = ui.ItemTitle(ui::WindowId::Settings, kResolutionBox, index);
  std::vector<std::string> parts = platform::SplitText(text, kTimes);
  if (parts.size() != 2) return;
  std::string path = SettingsIniPath(versions, settingsVersionName);
  if (path.empty() || !platform::FileExists(path)) return;
  // Both or neither: the height is not written after a refused width.
  if (!platform::WriteIniItem(path, kSection, "ScreenWidth", parts[0]) ||
      !platform::WriteIniItem(path, kSection, "ScreenHeight", parts[1]))
    TellNotSaved();
}

}  // namespace games
