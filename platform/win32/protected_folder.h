// The security descriptor of a protected folder (platform::CreateProtectedFolder).
#pragma once
#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace platform::win32 {

// The creating user, SYSTEM and Administrators full control, Users read and
// execute, each inherited by everything below; nothing inherited from above.
// Empty when the process user is unknown.
UniqueLocalMemory ProtectedFolderDescriptor();

}  // namespace platform::win32
