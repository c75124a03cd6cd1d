// Process entry stage: from the first instruction to the running main window.
#pragma once
#include <cstdint>

namespace app {

// Prepares process-wide state, writes the default configuration when it is
// missing, installs the program (which may end the process), loads the main
// window and runs its loop. Returns the process exit code. afterLogOpened
// (when given) runs once the log is open, before anything else.
int RunStartup(void (*afterLogOpened)() = nullptr);

// Waits about ms milliseconds while keeping the window system responsive.
void WaitWithEvents(std::uint32_t ms);

}  // namespace app
