// The desktop shortcut as the platform writes it: a shell link on Windows, a
// small text file natively.
#include <gtest/gtest.h>

#include "platform/fs.h"
#include "platform/shortcut.h"
#include "platform/system.h"
#include "support/temp_dir.h"

namespace {

TEST(Shortcut, PointsAtTargetAndWorksInItsFolder) {
  testing_support::TempDir tmp;
  std::string folder = tmp.path() + "\\Tarnwick游戏 (1)";
  ASSERT_TRUE(platform::CreateFolder(folder));
  std::string target = folder + "\\TarnwickLauncher (1).exe";
  ASSERT_TRUE(platform::WriteFileBytes(target, std::string_view("MZ")));
  std::string link = tmp.path() + "\\Tarnwick游戏.lnk";

  ASSERT_TRUE(platform::CreateShortcut(link, target, folder));
  platform::ShortcutInfo info;
  ASSERT_TRUE(platform::ReadShortcut(link, info));
  EXPECT_EQ(info.target, target);
  EXPECT_EQ(info.workingDirectory, folder);

  // Nothing is left in the temporary folder by the way the link is made.
  std::string temp = platform::GetSpecialFolder(platform::kFolderTemp);
  ASSERT_FALSE(temp.empty());
  EXPECT_FALSE(platform::FileExists(temp + "create_shortcut.vbs"));
}

TEST(Shortcut, UnwritablePlaceFails) {
  testing_support::TempDir tmp;
  std::string target = tmp.path() + "\\a.exe";
  ASSERT_TRUE(platform::WriteFileBytes(target, std::string_view("MZ")));
  EXPECT_FALSE(platform::CreateShortcut(tmp.path() + "\\missing\\x.lnk", target, tmp.path()));
  platform::ShortcutInfo info;
  EXPECT_FALSE(platform::ReadShortcut(tmp.path() + "\\missing\\x.lnk", info));
}

}  // namespace
