#include "platform/disk.h"

#include <algorithm>
#include <cctype>

namespace platform {

std::int64_t MaxFileBytes(const std::string& fileSystemName) {
  std::string name = fileSystemName;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  // FAT, FAT12, FAT16, FAT32 (Windows), vfat and msdos (Linux); exFAT has no
  // such limit.
  if (name.starts_with("fat") || name == "vfat" || name == "msdos") return kFatMaxFileBytes;
  return -1;
}

}  // namespace platform
