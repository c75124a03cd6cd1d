// What a volume can still take.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes the caller may still write on the volume that holds folder; nothing
// when it cannot be told.
std::optional<std::int64_t> FreeBytesAt(const std::string& folder);

// The name of the file system that holds folder, as the system gives it
// ("NTFS", "FAT32", "vfat", "ext4"...); empty when it cannot be told.
std::string FileSystemAt(const std::string& folder);

// The largest file a file system of this name can hold; -1 when it sets no
// limit a download could reach. FAT in all its names stops at 4 GiB - 1.
std::int64_t MaxFileBytes(const std::string& fileSystemName);
inline constexpr std::int64_t kFatMaxFileBytes = (std::int64_t{1} << 32) - 1;

}  // namespace platform
