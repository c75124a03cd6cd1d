#include <gtest/gtest.h>

#include "platform/system_hooks.h"

namespace {

TEST(FatalError, BoxTextNamesCodeAndMessage) {
  EXPECT_EQ(platform::FatalErrorText(0, "分配 64 字节内存失败!"),
            "运行时出错!\r\n\r\n错误信息：分配 64 字节内存失败!\r\n");
  EXPECT_EQ(platform::FatalErrorText(6, "调用DLL命令后发现堆栈错误"),
            "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n");
  EXPECT_EQ(platform::FatalErrorText(0, ""), "运行时出错!\r\n\r\n");
}

}  // namespace
