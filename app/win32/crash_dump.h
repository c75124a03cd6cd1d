// What an unhandled exception leaves behind: a minidump beside the log, a
// log line naming it, and the runtime's fatal-error box.
#pragma once

namespace app::win32 {

// Dumps kept beside the program; older ones are deleted.
inline constexpr int kDumpsKept = 3;

// Sets the process's unhandled-exception filter. Call once, first thing.
void InstallCrashDump();

}  // namespace app::win32
