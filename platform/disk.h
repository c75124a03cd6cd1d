// What a volume can still take.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Bytes the caller may still write on the volume that holds folder; nothing
// when it cannot be told.
std::optional<std::int64_t> FreeBytesAt(const std::string& folder);
// The file system of the volume that holds folder ("NTFS", "FAT32"...);
// empty when it cannot be told.
std::string FileSystemAt(const std::string& folder);
// The largest file that file system holds; -1 when it sets no such limit.
std::int64_t MaxFileBytes(const std::string& fileSystem);

}  // namespace platform
