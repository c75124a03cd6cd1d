// No shell links here: a small text file stands in, so tests can see what
// would have been linked.
#include <string>

#include "platform/fs.h"
#include "platform/shortcut.h"

namespace platform {

bool CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingDirectory) {
  std::string text = "target=" + target + "\nworkdir=" + workingDirectory + "\n";
  return WriteFileBytes(linkPath, text) && FileExists(linkPath);
}

bool ReadShortcut(const std::string& linkPath, ShortcutInfo& info) {
  auto bytes = ReadWholeFile(linkPath);
  if (!bytes) return false;
  std::string text(bytes->begin(), bytes->end());
  ShortcutInfo out;
  bool haveTarget = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (line.rfind("target=", 0) == 0) {
      out.target = line.substr(7);
      haveTarget = true;
    } else if (line.rfind("workdir=", 0) == 0) {
      out.workingDirectory = line.substr(8);
    }
    pos = end + 1;
  }
  if (!haveTarget) return false;
  info = std::move(out);
  return true;
}

}  // namespace platform
