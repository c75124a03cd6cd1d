#include "platform/system.h"

namespace platform {

// The shared-object search here never looks beside the program.
void RestrictDllSearch() {}

}  // namespace platform
