// The launcher's log: TarnwickLauncher.log beside the exe, plain UTF-8, one
// line per event, for a support person. Lines are queued and written by a
// thread of the log's own, so a slow or failing disk never holds a caller;
// a write failure is never fatal. The file is capped, keeping one older file.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::string_view kLogFileName = "TarnwickLauncher.log";
inline constexpr std::size_t kLogCapBytes = 1u << 20;

// Starts writing to path (lines logged before are kept and written then).
void OpenLog(const std::string& path, std::size_t capBytes = kLogCapBytes);
// Appends "YYYY-MM-DD HH:MM:SS.mmm text" (local time). Any thread.
void Log(std::string_view text);
// Writes what is queued (bounded wait) and stops the writer.
void CloseLog();

}  // namespace platform
