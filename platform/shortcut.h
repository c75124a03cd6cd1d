// Desktop shortcuts (shell links).
#pragma once
#include <string>

namespace platform {

// Writes a shell link at linkPath (replacing one there) that starts target in
// workingDirectory. True when the link file exists afterwards.
bool CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingDirectory);

struct ShortcutInfo {
  std::string target;
  std::string workingDirectory;
};
// Reads back what a link points at; false when it cannot be read.
bool ReadShortcut(const std::string& linkPath, ShortcutInfo& info);

}  // namespace platform
