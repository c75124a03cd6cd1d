#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include "platform/disk.h"
#include "platform/posix/path_posix.h"

namespace platform {

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  struct statvfs fs {};
  if (::statvfs(NativePath(folder).c_str(), &fs) != 0) return std::nullopt;
  return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

std::string FileSystemAt(const std::string& folder) {
  struct statfs fs {};
  if (::statfs(NativePath(folder).c_str(), &fs) != 0) return {};
  // The magic numbers of linux/magic.h for what a game folder may sit on.
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0x4d44: return "vfat";
    case 0x2011bab0: return "exfat";
    case 0x5346544e: return "ntfs";
    case 0xef53: return "ext4";  // ext2 and ext3 share it
    case 0x9123683e: return "btrfs";
    case 0x58465342: return "xfs";
    case 0x01021994: return "tmpfs";
    case 0x794c7630: return "overlay";
    case 0x65735546: return "fuse";
    default: return {};
  }
}

}  // namespace platform
