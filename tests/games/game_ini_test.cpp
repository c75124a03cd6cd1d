// Game.ini: the default file, and the settings window writing the version it
// was opened for.
#include <gtest/gtest.h>

#include <algorithm>

#include "games/game_ini.h"
#include "platform/fs.h"
#include "platform/ini_file.h"
#include "support/panel_fixture.h"

namespace {
using testing_support::PanelFixture;
using ui::WindowId;
using GameIni = PanelFixture;

TEST(GameIniDefault, IsTheGameFileByteForByteInGbk) {
  std::string_view d = games::DefaultGameIniBytes();
  EXPECT_TRUE(d.starts_with("[Config]\r\nServerName=Kestrand\r\nServerID=1000\r\n"));
  EXPECT_TRUE(d.ends_with("WindowMode=1\r\nSelection=\xA1\xBEOrvane\xA1\xF4Wendal\xA1\xF4Qelmar\xA1\xBF|Kestrand\r\n"
                          "ClassicMode=1"));
  EXPECT_EQ(d.size(), 194u);
  EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 9);
}

TEST_F(GameIni, WriteDefaultTruncatesAndReadsBackThroughTheEngine) {
  std::string path = Path("Game.ini");
  WriteText(path, std::string(4000, 'x'));
  games::WriteDefaultGameIni(path, "ignored");
  EXPECT_EQ(ReadText(path), games::DefaultGameIniBytes());
  EXPECT_EQ(platform::ReadIniItem(path, "Config", "Selection"), "【Orvane◆Wendal◆Qelmar】|Kestrand");
  EXPECT_EQ(platform::ReadIniItem(path, "Config", "ClassicMode"), "1");
}

TEST_F(GameIni, FolderForVersionUsesTheNumericOrder) {
  config::Configuration cfg;
  cfg.slots[1] = {"A", "two", "", "", "", ""};
  cfg.slots[2] = {"B", "three", "", "", "", ""};
  cfg.slots[3] = {"B", "four", "", "", "", ""};
  config::Versions versions;
  versions.Load(cfg.slots, run.path());
  EXPECT_EQ(versions.FolderForName("A"), "two");
  EXPECT_EQ(versions.FolderForName("B"), "three");
  EXPECT_EQ(versions.FolderForName("C"), "");
  EXPECT_EQ(versions.FolderForName(""), "");  // slot 1 is unnamed but has no folder
}

TEST_F(GameIni, MissingGameIniIsWrittenAndShown) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(platform::DeleteFileAt(Path("Ravik\\Game.ini")));
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  ASSERT_TRUE(ui.IsOpen(WindowId::Settings));
  EXPECT_EQ(ReadText(Path("Ravik\\Game.ini")), games::DefaultGameIniBytes());
  EXPECT_TRUE(Settings("窗口模式选择框").checked);
  EXPECT_EQ(Settings("分辨率组合框").selectedItem, 2);
  EXPECT_EQ(Settings("分辨率组合框").text, "1024×768");
}

TEST_F(GameIni, ExistingFileIsShownAsItIs) {
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\Game.ini"), "[Config]\r\nWindowMode=01\r\nScreenWidth=1280\r\nScreenHeight=960\r\n");
  MakeFolder(Path("Tavor"));
  WriteText(Path("Tavor\\Game.ini"), "[Config]\r\nWindowMode=0\r\nScreenWidth=1366\r\nScreenHeight=768\r\n");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("版本二按钮"));
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_FALSE(Settings("窗口模式选择框").checked);  // only "1" ticks it
  EXPECT_EQ(Settings("分辨率组合框").selectedItem, 8);
  ASSERT_TRUE(backend.Click(WindowId::Settings, "游戏设置窗口关闭按钮"));
  Settle();
  ASSERT_FALSE(ui.IsOpen(WindowId::Settings));

  ASSERT_TRUE(Click("版本三按钮"));
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_FALSE(Settings("窗口模式选择框").checked);
  // 1366×768 is not offered: the box keeps the selection it had.
  EXPECT_EQ(Settings("分辨率组合框").selectedItem, -1);
  EXPECT_EQ(Settings("分辨率组合框").text, "800×600");
}

TEST_F(GameIni, ChangesAreWrittenKeyByKeyIntoTheExistingFile) {
  MakeFolder(Path("Ravik"));
  const std::string before =
      "; kept\r\n[Config]\r\nServerName=Kestrand\r\nScreenWidth=1024\r\nScreenHeight=768\r\nWindowMode=1\r\n"
      "Selection=x\r\n[Other]\r\nScreenWidth=5\r\n";
  WriteText(Path("Ravik\\Game.ini"), before);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 9));
  std::string after = ReadText(Path("Ravik\\Game.ini"));
  EXPECT_EQ(after,
            "; kept\r\n[Config]\r\nServerName=Kestrand\r\nScreenWidth=1280\r\nScreenHeight=1024\r\nWindowMode=1\r\n"
            "Selection=x\r\n[Other]\r\nScreenWidth=5\r\n");
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));  // ticked -> cleared
  EXPECT_EQ(platform::ReadIniItem(Path("Ravik\\Game.ini"), "Config", "WindowMode"), "0");
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  EXPECT_EQ(platform::ReadIniItem(Path("Ravik\\Game.ini"), "Config", "WindowMode"), "1");
}

TEST_F(GameIni, AReadOnlyFileStaysAsItWasAndThePlayerIsTold) {
  MakeFolder(Path("Ravik"));
  const std::string before = "[Config]\r\nScreenWidth=1024\r\nScreenHeight=768\r\nWindowMode=1\r\n";
  WriteText(Path("Ravik\\Game.ini"), before);
  MakeReadOnly(Path("Ravik\\Game.ini"));
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 9));
  EXPECT_EQ(ReadText(Path("Ravik\\Game.ini")), before);
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.text, games::kNotSavedText);
    EXPECT_EQ(m.caption, "错误");
  }
  EXPECT_FALSE(platform::FileExists(Path("Ravik\\Game.ini.tmp~")));
}

TEST_F(GameIni, ResolutionIsNotWrittenIntoAMissingFileButWindowModeIs) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  ASSERT_TRUE(platform::DeleteFileAt(Path("Ravik\\Game.ini")));
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 5));
  EXPECT_FALSE(platform::FileExists(Path("Ravik\\Game.ini")));
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  EXPECT_EQ(platform::ReadIniItem(Path("Ravik\\Game.ini"), "Config", "WindowMode"), "0");
}

TEST_F(GameIni, SettingsWindowKeepsItsVersion) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));  // opened for version 1
  ASSERT_TRUE(Click("版本二按钮"));
  EXPECT_EQ(launcher.settingsVersionName(), "Ravik 经典版");
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 5));
  EXPECT_EQ(platform::ReadIniItem(Path("Ravik\\Game.ini"), "Config", "ScreenWidth"), "1280");
  EXPECT_EQ(platform::ReadIniItem(Path("Solen\\Game.ini"), "Config", "ScreenWidth"), "1024");

  // The button again while the window is open: brought to the front, still
  // version 1's, so what it shows and where it writes agree.
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_EQ(backend.broughtToFront, std::vector<WindowId>{WindowId::Settings});
  EXPECT_EQ(launcher.settingsVersionName(), "Ravik 经典版");
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  EXPECT_EQ(platform::ReadIniItem(Path("Ravik\\Game.ini"), "Config", "WindowMode"), "0");
  EXPECT_EQ(platform::ReadIniItem(Path("Solen\\Game.ini"), "Config", "WindowMode"), "1");

  // Closed and opened again: now for the selected version 2.
  ASSERT_TRUE(backend.Click(WindowId::Settings, "游戏设置窗口关闭按钮"));
  Settle();
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_EQ(launcher.settingsVersionName(), "Solen 怀旧版");
  EXPECT_TRUE(Settings("窗口模式选择框").checked);
}

TEST_F(GameIni, VersionWithoutFolderTouchesNothing) {
  config["创建版本文件夹名称编辑框1"] = "";
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_TRUE(Settings("窗口模式选择框").checked == false);
  EXPECT_EQ(Settings("分辨率组合框").selectedItem, -1);
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 1));
  EXPECT_FALSE(platform::FileExists(Path("Game.ini")));
  EXPECT_FALSE(platform::FileExists(Path("\\Game.ini")));
}

}  // namespace
