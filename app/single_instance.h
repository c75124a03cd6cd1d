// One running launcher at a time, through a named mutex owned until the
// process ends.
#pragma once
#include <string_view>

namespace app {

inline constexpr std::string_view kInstanceMutexName = "Tarnwick游戏盒子启动器_唯一标识_2026";

// Mode 1 checks; any other mode lets the process continue unchecked. When
// another instance holds the mutex: "程序已经在运行中！" and the process ends
// with 0 at once. Returns false (after its message) when the mutex cannot be
// created; start-up then continues unprotected. The name is a test seam.
bool GuardSingleInstance(int mode, std::string_view mutexName = kInstanceMutexName);

}  // namespace app
