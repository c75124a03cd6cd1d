// The main window's fill, version selection and the panel commands, on the
// headless backend against real folders.
#include <gtest/gtest.h>

#include "games/game_ini.h"
#include "platform/fs.h"
#include "platform/names.h"
#include "support/panel_fixture.h"
#include "ui/designs.h"
#include "app/event_bindings.h"
#include "ui/main_controls.h"

namespace {
using testing_support::PanelFixture;
using ui::WindowId;
using Panels = PanelFixture;

TEST_F(Panels, StartUpCreatesFoldersAndDefaultGameIniAndFindsInstalledVersions) {
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\SolenGame.exe"), "MZ");
  config["创建版本文件夹名称编辑框4"] = "";  // not configured: left alone
  ASSERT_TRUE(Start());

  for (const char* folder : {"Ravik", "Solen", "Tavor"}) {
    EXPECT_TRUE(platform::FolderExists(Path(folder))) << folder;
    EXPECT_EQ(ReadText(Path(std::string(folder) + "\\Game.ini")), games::DefaultGameIniBytes()) << folder;
  }
  EXPECT_FALSE(platform::FileExists(Path("\\Game.ini")));
  EXPECT_EQ(launcher.versions().InstalledName(1), "");
  EXPECT_EQ(launcher.versions().InstalledName(2), "Solen 怀旧版");
  EXPECT_EQ(guardCalls, 1);

  // Version 1 selected: not installed, so its install button and "未安装".
  EXPECT_EQ(launcher.versions().SelectedName(), "Ravik 经典版");
  EXPECT_TRUE(Main("版本一按钮").selectedLook);
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Ravik"});
  EXPECT_EQ(Main("最近登录标签").text, "未安装");
  EXPECT_EQ(Main("浏览框Ex1").address, "http://127.0.0.1:9/news/1.html");
  EXPECT_EQ(Main("适龄提示标签").text, "适龄提示：适合18岁以上使用");
  EXPECT_EQ(Main("版本二按钮").text, "Solen 怀旧版");
  EXPECT_EQ(Main("版本四按钮").text, "Nuvik 测试服");
  EXPECT_FALSE(Visible("进度条Ex1"));
  EXPECT_FALSE(Visible("透明标签_进度"));
  EXPECT_EQ(Main("时钟1").interval, 0);
  EXPECT_TRUE(backend.modalOpened.empty());

  // Version 2 is installed: start button and its server name.
  ASSERT_TRUE(Click("版本二按钮"));
  EXPECT_EQ(launcher.versions().SelectedName(), "Solen 怀旧版");
  EXPECT_FALSE(Main("版本一按钮").selectedLook);
  EXPECT_TRUE(Main("版本二按钮").selectedLook);
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"开始游戏按钮_Solen"});
  EXPECT_EQ(Main("最近登录标签").text, "Kestrand");
  EXPECT_EQ(Main("浏览框Ex1").address, "http://127.0.0.1:9/news/2.html");
}

TEST_F(Panels, WhatCountsAsAProgramInAVersionFolder) {
  MakeFolder(Path("Ravik"));
  MakeFolder(Path("Ravik\\x.exe"));  // only a subfolder named like a program
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\readme.txt"), "t");
  WriteText(Path("Solen\\game.exe.bak"), "t");
  MakeFolder(Path("Tavor"));
  WriteText(Path("Tavor\\LOGIN.EXE"), "MZ");
  ASSERT_TRUE(Start());
  EXPECT_TRUE(launcher.versions().IsInstalled(1));
  EXPECT_FALSE(launcher.versions().IsInstalled(2));
  EXPECT_TRUE(launcher.versions().IsInstalled(3));
  EXPECT_FALSE(launcher.versions().IsInstalled(4));
  EXPECT_EQ(Main("最近登录标签").text, "Kestrand");
  ASSERT_TRUE(Click("版本二按钮"));
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Solen"});
  EXPECT_EQ(Main("最近登录标签").text, "未安装");
}

TEST_F(Panels, ServerLabelReadsServerNameOrUnknown) {
  MakeFolder(Path("Ravik"));
  WriteText(Path("Ravik\\a.exe"), "MZ");
  WriteText(Path("Ravik\\Game.ini"), "[Config]\r\nServerIP=1.2.3.4\r\n");  // no ServerName
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\a.exe"), "MZ");
  WriteText(Path("Solen\\Game.ini"), "[Config]\r\nServerName=\r\n");
  MakeFolder(Path("Tavor"));
  WriteText(Path("Tavor\\a.exe"), "MZ");
  WriteText(Path("Tavor\\Game.ini"), "[Config]\r\nServerName=abc\r\n");
  ASSERT_TRUE(Start());
  EXPECT_EQ(Main("最近登录标签").text, "未知");
  ASSERT_TRUE(Click("版本二按钮"));
  EXPECT_EQ(Main("最近登录标签").text, "未知");
  ASSERT_TRUE(Click("版本三按钮"));
  EXPECT_EQ(Main("最近登录标签").text, "abc");
  // A Game.ini deleted while the launcher runs comes back with the defaults.
  ASSERT_TRUE(platform::DeleteFileAt(Path("Tavor\\Game.ini")));
  ASSERT_TRUE(Click("版本一按钮"));
  ASSERT_TRUE(Click("版本三按钮"));
  EXPECT_EQ(Main("最近登录标签").text, "Kestrand");
  EXPECT_EQ(ReadText(Path("Tavor\\Game.ini")), games::DefaultGameIniBytes());
}

TEST_F(Panels, EmptyFirstNameOpensThePromptModallyAndSelectsNothing) {
  config["版本一名称编辑框"] = "";
  MakeFolder(Path("Solen"));
  WriteText(Path("Solen\\SolenGame.exe"), "MZ");
  ASSERT_TRUE(Start());
  ASSERT_EQ(backend.modalOpened, std::vector<WindowId>{WindowId::Prompt});
  EXPECT_TRUE(ui.IsOpen(WindowId::Prompt));
  EXPECT_TRUE(ui.IsModal(WindowId::Prompt));
  EXPECT_EQ(launcher.versions().SelectedName(), "");
  for (int n = 1; n <= 4; ++n) EXPECT_FALSE(Main(ui::ControlsOfSlot(n).versionButton).selectedLook);
  EXPECT_EQ(Main("浏览框Ex1").address, "");
  // An unnamed slot with a folder counts as installed (its installedName
  // equals its empty name), so the label shows its server.
  EXPECT_EQ(Main("最近登录标签").text, "Kestrand");
  // The buttons ShowInstallButtons left: one per slot.
  EXPECT_EQ(VisibleStartAndInstall(),
            (std::vector<std::string>{"开始游戏按钮_Ravik", "开始游戏按钮_Solen", "安装游戏按钮_Tavor",
                                      "安装游戏按钮_Nuvik"}));
  ASSERT_TRUE(backend.Click(WindowId::Prompt, "提示窗口关闭按钮"));
  Settle();
  EXPECT_FALSE(ui.IsOpen(WindowId::Prompt));
}

TEST_F(Panels, UnnamedVersionButtonLeavesTheSelectionAlone) {
  config["版本四名称编辑框"] = "";
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("版本三按钮"));
  ASSERT_TRUE(Click("版本四按钮"));
  EXPECT_EQ(backend.modalOpened, std::vector<WindowId>{WindowId::Prompt});
  EXPECT_EQ(launcher.versions().SelectedName(), "Tavor 新纪元");
  EXPECT_TRUE(Main("版本三按钮").selectedLook);
  EXPECT_EQ(Main("浏览框Ex1").address, "http://127.0.0.1:9/news/3.html");
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Tavor"});
}

TEST_F(Panels, DuplicateNamesFollowTheLookupOrders) {
  config["版本三名称编辑框"] = "Dup";
  config["版本四名称编辑框"] = "Dup";
  MakeFolder(Path("Nuvik"));
  WriteText(Path("Nuvik\\NuvikGame.exe"), "MZ");
  WriteText(Path("Nuvik\\Game.ini"), "[Config]\r\nServerName=four\r\n");
  ASSERT_TRUE(Start());
  // Button three selects "Dup": the look, the button and the label follow
  // slot 4, which comes before 3 when a name is looked up.
  ASSERT_TRUE(Click("版本三按钮"));
  EXPECT_FALSE(Main("版本三按钮").selectedLook);
  EXPECT_TRUE(Main("版本四按钮").selectedLook);
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"开始游戏按钮_Nuvik"});
  EXPECT_EQ(Main("最近登录标签").text, "four");
  // The announcement is still slot 3's: the button passes its own slot's.
  EXPECT_EQ(Main("浏览框Ex1").address, "http://127.0.0.1:9/news/3.html");
  // The settings of "Dup" are those of the lower-numbered slot's folder.
  EXPECT_EQ(launcher.versions().FolderForName("Dup"), "Tavor");
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  ASSERT_TRUE(backend.Select(WindowId::Settings, "分辨率组合框", 0));
  EXPECT_NE(ReadText(Path("Tavor\\Game.ini")).find("ScreenWidth=800\r\n"), std::string::npos);
  EXPECT_EQ(ReadText(Path("Nuvik\\Game.ini")), "[Config]\r\nServerName=four\r\n");
}

TEST_F(Panels, WebPageButtons) {
  config["注册账号地址编辑框"] = "";
  config["主页地址编辑框"] = "";
  config["版本1公告编辑框"] = "127.0.0.1:9/news/1.html";  // written without its scheme
  ASSERT_TRUE(Start());
  EXPECT_EQ(Main("浏览框Ex1").address, "http://127.0.0.1:9/news/1.html");
  ASSERT_TRUE(Click("网站主页图片按钮"));
  EXPECT_TRUE(shellOpens.empty());
  EXPECT_TRUE(messages.empty());
  ASSERT_TRUE(Click("注册帐号图片按钮"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "请在游戏内注册账号！");
  EXPECT_EQ(messages[0].caption, "提示");
  EXPECT_EQ(messages[0].flags, 0);
  ASSERT_TRUE(Click("客户服务图片按钮"));
  ASSERT_TRUE(Click("购卡充值图片按钮"));
  ASSERT_EQ(shellOpens.size(), 2u);
  EXPECT_EQ(shellOpens[0].file, "http://127.0.0.1:9/service.html");
  EXPECT_EQ(shellOpens[1].file, "https://127.0.0.1:9/topup.html");
  EXPECT_EQ(shellOpens[1].mode, platform::kShowNormal);
  EXPECT_EQ(shellOpens[1].directory, "");
}

TEST_F(Panels, LocalPathsFromTheConfigurationAreNeverOpened) {
  for (const char* bad : {"C:\\Windows\\system32\\calc.exe", "file:///C:/Windows/system32/calc.exe",
                          "FILE://server/share/x.exe", "\\\\server\\share\\setup.exe", "..\\game\\x.exe", "C://x",
                          " http://a/", "notes", "mailto:", "mailto:\\\\server\\x.exe", "mailto:nobody",
                          // other programs' schemes: only web pages and mail reach the shell
                          "ms-msdt://id PCWDiagnostic", "search-ms://query=x", "ms-appinstaller://?source=x",
                          "tencent://message/?uin=1", "steam://run/1", "ms-settings://x"}) {
    shellOpens.clear();
    launcher.OpenOperatorPage(bad, false);
    EXPECT_TRUE(shellOpens.empty()) << bad;
    launcher.OpenOperatorPage(bad, true);
    EXPECT_TRUE(shellOpens.empty()) << bad;
  }
  EXPECT_TRUE(messages.empty());
  // What the shell gets: escaped, a mail's extra fields dropped, a bare
  // host name as a web page.
  struct Row {
    const char* configured;
    const char* opened;
  };
  for (const Row& r : {Row{"HTTPS://a.example/", "https://a.example/"},
                       Row{"https://a.example/a b\"^|", "https://a.example/a%20b%22%5E%7C"},
                       Row{"MAILTO:a@b?subject=x&attach=/home/a/key.pem", "mailto:a@b?subject=x"},
                       Row{"www.example.com", "http://www.example.com"},
                       Row{"pay.example.com/card", "http://pay.example.com/card"}}) {
    shellOpens.clear();
    launcher.OpenOperatorPage(r.configured, false);
    EXPECT_EQ(shellOpens.empty() ? "(nothing)" : shellOpens[0].file, r.opened) << r.configured;
  }
  EXPECT_FALSE(platform::IsWebAddress("http://"));
  EXPECT_FALSE(platform::IsWebAddress("http://a\r\nb"));
  EXPECT_FALSE(platform::IsWebAddress("1http://a"));
}

TEST_F(Panels, InstallButtonsCallTheInstallHook) {
  std::vector<std::string> calls;
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));  // no hook yet: nothing
  launcher.SetInstallHandler([&](const std::string& name) { calls.push_back(name); });
  ASSERT_TRUE(Click("安装游戏按钮_Ravik"));
  launcher.Execute(app::Command::InstallVersion, 3, 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"Ravik 经典版", "Tavor 新纪元"}));
}

TEST_F(Panels, EveryBoundControlExistsInItsWindow) {
  for (const app::EventBinding& b : app::EventBindings())
    if (!b.control.empty()) {
      EXPECT_NE(ui::FindSpec(b.window, b.control), nullptr) << b.control;
    }
  EXPECT_EQ(app::EventBindings().size(), 27u);
}

TEST_F(Panels, MinimiseAndClose) {
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("图片按钮Ex4"));
  EXPECT_EQ(ui.WindowState(WindowId::Main), ui::kWindowMinimised);
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  launcher.sweep().Arm();
  ASSERT_TRUE(Click("图片按钮Ex5"));
  EXPECT_TRUE(ui.IsOpen(WindowId::Main));  // closes after the handler
  Settle();
  EXPECT_FALSE(ui.AnyWindowOpen());
  EXPECT_FALSE(launcher.sweep().active());
}

TEST_F(Panels, MissingConfigurationClosesTheMainWindow) {
  ASSERT_TRUE(ui.LoadWindow(WindowId::Main, false));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "错误");
  Settle();
  EXPECT_FALSE(ui.AnyWindowOpen());
  EXPECT_FALSE(platform::FolderExists(Path("Ravik")));
}

}  // namespace

namespace {

// A folder name from the configuration that would leave the program's
// directory is never used to build a path: no folder, no Game.ini, no start.
TEST_F(Panels, FolderNamesLeavingTheProgramDirectoryAreNeverUsed) {
  MakeFolder(Path("inner"));
  MakeFolder(Path("inner\\Ravik"));
  WriteText(Path("inner\\Ravik\\RavikGame.exe"), "MZ");
  config["创建版本文件夹名称编辑框1"] = "..\\escaped";
  config["创建版本文件夹名称编辑框2"] = "inner\\Ravik";
  ASSERT_TRUE(Start());
  EXPECT_FALSE(platform::FileExists(Path("..\\escaped")));
  EXPECT_EQ(launcher.versions().InstalledName(1), "");
  // A nested name is refused too, though its folder holds a program.
  EXPECT_EQ(launcher.versions().InstalledName(2), "");
  EXPECT_EQ(VisibleStartAndInstall(), std::vector<std::string>{"安装游戏按钮_Ravik"});

  ASSERT_TRUE(Click("游戏设置图片按钮"));
  EXPECT_FALSE(platform::FileExists(Path("..\\escaped\\Game.ini")));
}

}  // namespace
