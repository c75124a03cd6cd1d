#include <sys/stat.h>
#include <sys/statvfs.h>

#include "platform/disk.h"
#include "platform/posix/path_posix.h"

namespace platform {

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(NativePath(folder).c_str(), &fs) != 0) return std::nullopt;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

}  // namespace platform
