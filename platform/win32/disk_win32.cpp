#include <windows.h>

#include "platform/disk.h"
#include "platform/win32/wide.h"

namespace platform {

std::optional<std::int64_t> FreeBytesAt(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
  return static_cast<std::int64_t>(available.QuadPart);
}

std::optional<std::int64_t> FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(win32::Widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace platform
