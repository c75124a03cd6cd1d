#include "platform/disk.h"

#include <algorithm>
#include <cctype>

namespace platform {

std::int64_t MaxFileBytes(const std::string& fileSystem) {
  std::string name = fileSystem;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
  // FAT keeps a file's size in 32 bits.
  if (name == "FAT" || name == "FAT12" || name == "FAT16" || name == "FAT32" || name == "VFAT")
    return (std::int64_t{1} << 32) - 1;
  return -1;
}

}  // namespace platform
