#include <sys/vfs.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/disk.h"
#include "platform/posix/path_posix.h"

namespace platform {

std::string FileSystemAt(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(NativePath(folder).c_str(), &fs) != 0) return {};
  if (fs.f_type == 0x4d44) return "FAT32";
  return "other";
}

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(NativePath(folder).c_str(), &fs) != 0) return std::nullopt;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

}  // namespace platform
