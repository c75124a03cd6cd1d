#include "app/single_instance.h"

#include <string>

#include "platform/system.h"

namespace app {

bool GuardSingleInstance(int mode, std::string_view mutexName) {
  if (mode != 1) return true;
  std::string name(mutexName);
  if (platform::NamedMutexExists(name)) {
    platform::ShowMessage("程序已经在运行中！", platform::kMbIconInfo, "提示");
    // Called from the main window's creation event: nothing runs yet that
    // the end routines would need to stop.
    platform::ExitProcessNow(0);
  }
  std::uint32_t error = platform::CreateOwnedNamedMutex(name);
  if (error == 0) return true;
  platform::ShowMessage("创建互斥体失败！错误码：" + std::to_string(error), platform::kMbIconError, "错误");
  return false;
}

}  // namespace app
