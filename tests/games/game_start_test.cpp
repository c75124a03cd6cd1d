// Starting a version and the desktop sweep after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "games/game_start.h"
#include "platform/fs.h"
#include "platform/log.h"
#include "support/panel_fixture.h"

namespace {
using testing_support::PanelFixture;
using ui::WindowId;
using GameStart = PanelFixture;

TEST_F(GameStart, OpensTheProgramInItsFolderMinimisesAndSweeps) {
  config["版本一登录器下载exe"] = "http://127.0.0.1:9/files/game1/login.exe";
  config["创建版本文件夹名称编辑框1"] = "game1";
  MakeFolder(Path("game1"));
  WriteText(Path("game1\\login.exe"), "MZ");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  ASSERT_EQ(shellOpens.size(), 1u);
  EXPECT_EQ(shellOpens[0].file, Path("game1\\login.exe"));
  EXPECT_EQ(shellOpens[0].directory, Path("game1"));
  EXPECT_EQ(shellOpens[0].mode, platform::kShowNormal);
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(ui.WindowState(WindowId::Main), ui::kWindowMinimised);
  EXPECT_EQ(Main("时钟1").interval, 500);
  EXPECT_TRUE(launcher.sweep().active());

  // The game drops its shortcuts; the player has one of his own.
  WriteText(DeskPath("Orvane.lnk"), "L");
  WriteText(DeskPath("Orvane[Zorlen].lnk"), "L");
  WriteText(DeskPath("My Orvane.lnk"), "L");
  WriteText(DeskPath("Orvane old.lnk"), "L");
  MakeReadOnly(DeskPath("Orvane old.lnk"));
  ASSERT_TRUE(backend.TimerTick(WindowId::Main, "时钟1"));
  EXPECT_FALSE(platform::FileExists(DeskPath("Orvane.lnk")));
  EXPECT_FALSE(platform::FileExists(DeskPath("Orvane[Zorlen].lnk")));
  EXPECT_TRUE(platform::FileExists(DeskPath("My Orvane.lnk")));
  EXPECT_TRUE(platform::FileExists(DeskPath("Orvane old.lnk")));

  // 121 sweeps in all, then the timer stops.
  int ticks = 1;
  while (backend.TimerTick(WindowId::Main, "时钟1") && ticks < 500) {
    ++ticks;
    if (ticks == 121) break;
    WriteText(DeskPath("Orvane.lnk"), "L");
  }
  EXPECT_EQ(ticks, 121);
  EXPECT_FALSE(platform::FileExists(DeskPath("Orvane.lnk")));
  EXPECT_EQ(Main("时钟1").interval, 0);
  EXPECT_FALSE(launcher.sweep().active());
  EXPECT_FALSE(backend.TimerTick(WindowId::Main, "时钟1"));
}

TEST_F(GameStart, ASecondStartReArmsTheSweep) {
  MakeFolder(Path("Ravik"));
  WriteText(Path("Ravik\\RavikGame.exe"), "MZ");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(backend.TimerTick(WindowId::Main, "时钟1"));
  EXPECT_EQ(launcher.sweep().ticks(), 100);
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  EXPECT_EQ(launcher.sweep().ticks(), 0);
  int ticks = 0;
  while (backend.TimerTick(WindowId::Main, "时钟1") && ticks < 500) ++ticks;
  EXPECT_EQ(ticks, 121);
}

TEST_F(GameStart, MissingProgramFallsBackToInstall) {
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\SolenGame.exe"), "MZ");
  WriteText(Path("Solen\\Game.ini"), "[Config]\r\nServerName=Two\r\n");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("版本二按钮"));
  ASSERT_EQ(Main("最近登录标签").text, "Two");
  ASSERT_TRUE(platform::DeleteFileAt(Path("Solen\\SolenGame.exe")));
  ASSERT_TRUE(Click("开始游戏按钮_Solen"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "游戏文件丢失，请重新安装！");
  EXPECT_EQ(messages[0].caption, "错误");
  EXPECT_EQ(messages[0].flags, 0);
  EXPECT_TRUE(shellOpens.empty());
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Solen"});
  EXPECT_EQ(launcher.versions().InstalledName(2), "");
  EXPECT_EQ(Main("最近登录标签").text, "Two");  // left as it was
  EXPECT_EQ(launcher.versions().SelectedName(), "Solen 怀旧版");
  EXPECT_EQ(ui.WindowState(WindowId::Main), ui::kWindowNormal);
  EXPECT_FALSE(launcher.sweep().active());
  EXPECT_EQ(Main("时钟1").interval, 0);
}

constexpr const char* kSha256OfMZ = "9b8db510ef42b8ed54a3712636fda55a4f8cfcd5493e20b74ab00cd4f3979f2d";

TEST_F(GameStart, AFileOfAnotherSizeThanConfiguredIsDamagedNotStarted) {
  config["版本二登录器下载exe大小"] = "2";
  config["版本二登录器下载dat大小"] = "5";
  config["版本三登录器下载exe大小"] = "2";
  config["版本四登录器下载exe大小"] = "2";
  config["版本四登录器下载exe校验"] = kSha256OfMZ;
  for (const char* v : {"Solen", "Tavor", "Nuvik"}) MakeFolder(Path(v));
  WriteText(Path("Solen\\SolenGame.exe"), "MZ");
  WriteText(Path("Solen\\solen.dat"), "12345");
  WriteText(Path("Solen\\Game.ini"), "[Config]\r\nServerName=Two\r\n");
  WriteText(Path("Tavor\\TavorGame.exe"), "MZ-cut-short-or-long");  // a crashed copy
  WriteText(Path("Nuvik\\NuvikGame.exe"), "MZ");
  ASSERT_TRUE(Start());
  // The start-up scan: only the intact versions count as installed.
  EXPECT_TRUE(launcher.versions().IsInstalled(2));
  EXPECT_FALSE(launcher.versions().IsInstalled(3));
  EXPECT_TRUE(launcher.versions().IsInstalled(4));
  ASSERT_TRUE(Click("版本三按钮"));
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Tavor"});

  // Half of the folder deleted after start-up: the data file is gone.
  ASSERT_TRUE(Click("版本二按钮"));
  ASSERT_TRUE(platform::DeleteFileAt(Path("Solen\\solen.dat")));
  ASSERT_TRUE(Click("开始游戏按钮_Solen"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "游戏文件不完整，请重新安装");
  EXPECT_EQ(messages[0].caption, "错误");
  EXPECT_EQ(messages[0].flags, 0);
  EXPECT_TRUE(shellOpens.empty());
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Solen"});
  EXPECT_FALSE(launcher.versions().IsInstalled(2));
  EXPECT_EQ(ui.WindowState(WindowId::Main), ui::kWindowNormal);
  EXPECT_FALSE(launcher.sweep().active());

  // Sizes that match: the game starts. The program itself missing keeps its
  // own message, configured size or not.
  ASSERT_TRUE(Click("版本四按钮"));
  ASSERT_TRUE(Click("开始游戏按钮_Nuvik"));
  ASSERT_EQ(shellOpens.size(), 1u);
  EXPECT_EQ(shellOpens[0].file, Path("Nuvik\\NuvikGame.exe"));
  ASSERT_TRUE(platform::DeleteFileAt(Path("Nuvik\\NuvikGame.exe")));
  ASSERT_TRUE(Click("开始游戏按钮_Nuvik"));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, "游戏文件丢失，请重新安装！");
}

// Another program of the same size put in its place (by another account, or
// on the way of a plain http download): hashed again, refused.
TEST_F(GameStart, AProgramWithAnotherHashThanConfiguredIsNotStarted) {
  config["版本四登录器下载exe校验"] = kSha256OfMZ;
  MakeFolder(Path("Nuvik"));
  WriteText(Path("Nuvik\\NuvikGame.exe"), "MZ");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("版本四按钮"));
  ASSERT_TRUE(Click("开始游戏按钮_Nuvik"));
  ASSERT_EQ(shellOpens.size(), 1u);
  WriteText(Path("Nuvik\\NuvikGame.exe"), "MX");
  ASSERT_TRUE(Click("开始游戏按钮_Nuvik"));
  EXPECT_EQ(shellOpens.size(), 1u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "游戏文件不完整，请重新安装");
  EXPECT_EQ(messages[0].caption, "错误");
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Nuvik"});
  EXPECT_FALSE(launcher.versions().IsInstalled(4));
}

// The log's lines after the timestamp, the file closed first.
std::vector<std::string> CloseAndReadLog(const std::string& path) {
  platform::CloseLog();
  auto bytes = platform::ReadWholeFile(path);
  std::string text = bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  std::vector<std::string> out;
  for (std::size_t from = 0, end; (end = text.find("\r\n", from)) != std::string::npos; from = end + 2)
    out.push_back(text.substr(from + 24, end - from - 24));
  return out;
}

TEST_F(GameStart, ConfigurationAndStartsLeaveLogLines) {
  config["版本一登录器下载exe"] = "http://127.0.0.1:9/files/game1/login.exe";
  config["创建版本文件夹名称编辑框1"] = "game1";
  config["版本一名称编辑框"] = "Ravik";
  MakeFolder(Path("game1"));
  WriteText(Path("game1\\login.exe"), "MZ");
  std::string log = desk.path() + "\\TarnwickLauncher.log";
  platform::OpenLog(desk.path() + "\\stray.log");  // lines of earlier tests go elsewhere
  platform::OpenLog(log);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  ASSERT_TRUE(platform::DeleteFileAt(Path("game1\\login.exe")));
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  std::vector<std::string> lines = CloseAndReadLog(log);

  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  auto starting = [&](const std::string& head) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; });
  };
  EXPECT_EQ(starting("Configuration " + Path("配置文件.dat") + ": "), 1);
  std::string configLine;
  for (const std::string& l : lines)
    if (l.rfind("Configuration ", 0) == 0) configLine = l;
  EXPECT_NE(configLine.find(" of 30 keys set; versions [Ravik]"), std::string::npos) << configLine;
  EXPECT_TRUE(has("Game start, version 1: " + Path("game1\\login.exe") + " (shell result 42, started)"));
  EXPECT_TRUE(has("Game start, version 1: program missing at " + Path("game1\\login.exe")));
  EXPECT_TRUE(has("Message box [错误]: 游戏文件丢失，请重新安装！"));
  // Addresses stay out of the log; only names and counts go in.
  for (const std::string& l : lines) EXPECT_EQ(l.find("http://"), std::string::npos) << l;
}

TEST_F(GameStart, AnAddressEndingInSlashNeverOpensTheFolder) {
  config["版本一登录器下载exe"] = "http://127.0.0.1:9/files/";
  MakeFolder(Path("Ravik"));
  WriteText(Path("Ravik\\other.exe"), "MZ");
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("开始游戏按钮_Ravik"));
  EXPECT_TRUE(shellOpens.empty());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "游戏文件丢失，请重新安装！");
}

TEST_F(GameStart, SweepWithoutShortcutsOrDesktopIsHarmless) {
  // The player's own files, none of them the game's shortcuts.
  const std::vector<std::string> mine = {"Other.lnk", "Orvane notes.txt", "MyOrvane.url", "Orvane.lnk.bak"};
  for (const std::string& name : mine) WriteText(DeskPath(name), "x");
  games::SweepGameShortcuts();
  for (const std::string& name : mine) EXPECT_TRUE(platform::FileExists(DeskPath(name))) << name;

  // A desktop that does not exist, or none known: no path is built from the
  // empty text, so "\Orvane.lnk" in the current drive's root or the current
  // folder is never touched.
  WriteText(Path("Orvane.lnk"), "x");
  platform::OverrideRunDirectory(run.path());
  platform::OverrideSpecialFolder(platform::kFolderDesktop, Path("missing") + "\\");
  games::SweepGameShortcuts();
  EXPECT_FALSE(platform::FolderExists(Path("missing")));
  platform::OverrideSpecialFolder(platform::kFolderDesktop, "");
  EXPECT_EQ(platform::GetSpecialFolder(platform::kFolderDesktop), "");
  games::SweepGameShortcuts();
  EXPECT_TRUE(platform::FileExists(Path("Orvane.lnk")));
  for (const std::string& name : mine) EXPECT_TRUE(platform::FileExists(DeskPath(name))) << name;
}

}  // namespace
