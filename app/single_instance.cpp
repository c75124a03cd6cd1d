#include "app/single_instance.h"

#include <string>

#include "platform/system.h"

namespace app {

bool GuardSingleInstance(int mode, std::string_view mutexName) {
  if (mode != 1) return true;
  std::string name(mutexName);
  std::uint32_t error = 0;
  // One step: two launchers started at the same moment cannot both pass.
  platform::MutexAcquire got = platform::AcquireNamedMutex(name, 0, &error);
  if (got == platform::MutexAcquire::HeldElsewhere) {
    platform::ShowMessage("程序已经在运行中！", platform::kMbIconInfo, "提示");
    // Called from the main window's creation event: nothing runs yet that
    // the end routines would need to stop.
    platform::ExitProcessNow(0);
  }
  if (got == platform::MutexAcquire::Acquired) return true;
  platform::ShowMessage("创建互斥体失败！错误码：" + std::to_string(error), platform::kMbIconError, "错误");
  return false;
}

}  // namespace app
