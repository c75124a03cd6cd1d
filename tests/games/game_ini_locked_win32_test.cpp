// Game.ini held open by another program without delete sharing (the game
// itself, an editor): the rewrite cannot replace it, so the file stays as it
// was and the player is told.
#include <windows.h>

#include <gtest/gtest.h>

#include "games/game_ini.h"
#include "platform/win32/wide.h"
#include "support/panel_fixture.h"

namespace {
using ui::WindowId;
using GameIniLocked = testing_support::PanelFixture;

TEST_F(GameIniLocked, AFileHeldOpenStaysAsItWasAndThePlayerIsTold) {
  MakeFolder(Path("Ravik"));
  const std::string before = "[Config]\r\nScreenWidth=1024\r\nScreenHeight=768\r\nWindowMode=1\r\n";
  WriteText(Path("Ravik\\Game.ini"), before);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(Click("游戏设置图片按钮"));
  HANDLE held = ::CreateFileW(platform::win32::Widen(Path("Ravik\\Game.ini")).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(backend.Tick(WindowId::Settings, "窗口模式选择框"));
  ::CloseHandle(held);
  EXPECT_EQ(ReadText(Path("Ravik\\Game.ini")), before);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, games::kNotSavedText);
}

}  // namespace
