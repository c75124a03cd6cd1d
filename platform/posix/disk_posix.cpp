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

std::optional<std::int64_t> FileSizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

}  // namespace platform
