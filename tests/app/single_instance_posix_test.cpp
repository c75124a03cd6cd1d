// The single-instance guard, with a mutex name of the test's own so that a
// launcher running on the machine is not disturbed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/system.h"
#include "app/single_instance.h"

namespace {

std::string UniqueName(const char* tag) {
  return std::string("Tarnwick测试_") + tag + "_" + std::to_string(::getpid());
}

TEST(SingleInstance, FirstInstanceOwnsTheMutex) {
  std::string name = UniqueName("first");
  EXPECT_FALSE(platform::NamedMutexExists(name));
  EXPECT_TRUE(app::GuardSingleInstance(1, name));
  EXPECT_TRUE(platform::NamedMutexExists(name));
  EXPECT_TRUE(app::GuardSingleInstance(0, name));  // any other mode: unchecked
}

TEST(SingleInstanceDeathTest, SecondInstanceIsToldAndEndsWithZero) {
  std::string name = UniqueName("second");
  ASSERT_TRUE(app::GuardSingleInstance(1, name));
  EXPECT_EXIT(app::GuardSingleInstance(1, name), ::testing::ExitedWithCode(0), "\\[提示\\] 程序已经在运行中！");
}

// A launcher of another build must see this one running: the name is fixed.
TEST(SingleInstance, TheLauncherHoldsItsFixedName) {
  const std::string fixed = "Tarnwick游戏盒子启动器_唯一标识_2026";
  EXPECT_EQ(app::kInstanceMutexName, fixed);
  ASSERT_FALSE(platform::NamedMutexExists(fixed));
  EXPECT_TRUE(app::GuardSingleInstance(1));
  EXPECT_TRUE(platform::NamedMutexExists(fixed));
  platform::ReleaseNamedMutex(fixed);
}

}  // namespace
