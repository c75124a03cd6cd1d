#include "startup/single_instance.h"

#include <string>

#include "platform/system.h"

namespace startup {

bool GuardSingleInstance(int mode, std::string_view mutexName) {
  if (mode != 1) return true;
  std::string name(mutexName);
  if (platform::NamedMutexExists(name)) {
    platform::ShowMessage("程序已经在运行中！", platform::kMbIconInfo, "提示");
    platform::ExitProcessNow(0);  // skips the end routines: nothing of ours is built yet
  }
  std::uint32_t error = platform::CreateOwnedNamedMutex(name);
  if (error == 0) return true;
  platform::ShowMessage("创建互斥体失败！错误码：" + std::to_string(error), platform::kMbIconError, "错误");
  return false;
}

}  // namespace startup
